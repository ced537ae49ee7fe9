#pragma once

#include <QString>

namespace vexo {

// Where nms.ini lives: in the program's folder when that folder is writable (a portable copy
// keeps its store beside it), otherwise in the user's data folder, because an atomic replace
// needs a writable folder. VEXOLINK_NMS_STORE overrides both with a full file path.
QString resolveStorePath(const QString& programFolder);

bool isFolderWritable(const QString& folder);

// Where the journal of changes lives: beside the store it belongs to (so the store's folder rule
// decides for both, and a store chosen with VEXOLINK_NMS_STORE brings its own journal), named
// after it: nms.ini -> nms-journal.db. VEXOLINK_NMS_JOURNAL overrides it with a full file path.
QString resolveJournalPath(const QString& storePath);

} // namespace vexo
