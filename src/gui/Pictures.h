#pragma once

#include <QIcon>
#include <QPixmap>

namespace vexo {

// The station's image list: 1 discover, 2 refresh, 3 save, 4 start monitoring, 5 stop
// monitoring, 6 encoder, 7 any other element. Drawn at every size asked for, so they stay crisp
// on high-density screens.
QIcon picture(int number);

// The application icon, as the desktop entry shows it.
QIcon applicationIcon();

// The picture of the notice dialog, 420 x 373 (device-independent pixels).
QPixmap noticePicture(qreal devicePixelRatio = 1.0);

} // namespace vexo
