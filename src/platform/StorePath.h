#pragma once

#include <QString>

namespace vexo {

// Where nms.ini lives: in the program's folder when that folder is writable (a portable copy
// keeps its store beside it), otherwise in the user's data folder, because an atomic replace
// needs a writable folder. VEXOLINK_NMS_STORE overrides both with a full file path.
QString resolveStorePath(const QString& programFolder);

bool isFolderWritable(const QString& folder);

} // namespace vexo
