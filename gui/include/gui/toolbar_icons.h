// The program's own artwork, drawn in code: the seven toolbar images and
// the window icon. GUI thread only (QPixmap).
#pragma once

#include <QIcon>

namespace torvane::gui {

// The toolbar's images in their order: 0 start all, 1 stop all, 2 start,
// 3 stop, 4 retry, 5 delete, 6 delete all. An index outside 0..6 gives an
// empty icon.
QIcon toolbar_icon(int index);
inline constexpr int kToolbarImageCount = 7;

// The window's icon: an arrow coming down into a tray.
QIcon app_icon();

}  // namespace torvane::gui
