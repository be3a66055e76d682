#include "src/NativeTitle.h"

#include <QGuiApplication>
#include <QWidget>
#include <QWindow>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <xcb/xcb.h>

namespace fw {
namespace {

xcb_atom_t Atom(xcb_connection_t* c, const char* name) {
  xcb_intern_atom_reply_t* reply =
      xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, static_cast<std::uint16_t>(std::strlen(name)), name), nullptr);
  const xcb_atom_t atom = reply ? reply->atom : xcb_atom_t{XCB_ATOM_NONE};
  std::free(reply);
  return atom;
}

}  // namespace

void ClearNativeTitle(QWidget& widget) {
  auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
  QWindow* window = widget.windowHandle();
  if (!x11 || !window || !window->handle()) return;
  xcb_connection_t* c = x11->connection();
  if (!c || xcb_connection_has_error(c)) return;
  static const xcb_atom_t netName = Atom(c, "_NET_WM_NAME");
  static const xcb_atom_t utf8 = Atom(c, "UTF8_STRING");
  const auto id = static_cast<xcb_window_t>(window->winId());
  // Window managers read the UTF-8 name first and the old one only when it is missing: both are emptied.
  if (netName != XCB_ATOM_NONE && utf8 != XCB_ATOM_NONE)
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, id, netName, utf8, 8, 0, nullptr);
  xcb_change_property(c, XCB_PROP_MODE_REPLACE, id, XCB_ATOM_WM_NAME, XCB_ATOM_STRING, 8, 0, nullptr);
  xcb_flush(c);
}

}  // namespace fw
