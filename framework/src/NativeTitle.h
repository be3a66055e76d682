// What the display server holds as a window's title.
#pragma once

class QWidget;

namespace fw {

// Leaves a top-level widget's title empty on the X display. Qt puts the application's name where a
// window has no title, so a window manager would show "Speckmoor" over a window meant to have none.
// Does nothing until the widget has its native window, nor on any other platform.
void ClearNativeTitle(QWidget& widget);

}  // namespace fw
