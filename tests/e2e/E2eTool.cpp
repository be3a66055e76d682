// What the end-to-end journey needs besides the program: grey pictures to feed it, and a plain,
// independent statement of the dithering steps to check what it wrote.
//   E2eTool grey <file.png> <width> <height> <variant>     writes a grey picture
//   E2eTool check <source> <written.png> <contrast 0|1>     exit 0 when the PNG is the source dithered
//   E2eTool flat <file.png> <width> <height> <level>         writes a picture of one grey level
//   E2eTool count <screen.xwd> <x> <y> <w> <h> <level>       prints how many pixels of that rectangle of
//                                                            a screen dump are that grey level
//   E2eTool title <window id>                                prints the window's WM_NAME and _NET_WM_NAME,
//                                                            as a window manager reads them
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>
#include <xcb/xcb.h>

namespace {

int MakeGrey(const char* path, int w, int h, int variant) {
  QImage image(w, h, QImage::Format_RGB32);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const int v = (x * 255 / std::max(w - 1, 1) + y * 97 / std::max(h - 1, 1) + variant * 13) % 256;
      image.setPixel(x, y, qRgb(v, v, v));
    }
  return image.save(QString::fromLocal8Bit(path), "PNG") ? 0 : 1;
}

// Grey pictures in, so the grey conversion is the identity: diffuse, six neighbours, each share the
// truncated product of the error and the factor, every sum clamped to 0..255 as it is stored.
std::vector<int> Dither(const QImage& source, bool contrast) {
  const int w = source.width(), h = source.height();
  const double factor = contrast ? 0.125 : 1.0 / 6.0;
  std::vector<int> level(static_cast<std::size_t>(w) * h), out(level.size());
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) level[static_cast<std::size_t>(y) * w + x] = qRed(source.pixel(x, y));
  const int dx[6] = {1, 2, -1, 0, 1, 0}, dy[6] = {0, 0, 1, 1, 1, 2};
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const int old = level[static_cast<std::size_t>(y) * w + x];
      const int now = old > 127 ? 255 : 0;
      out[static_cast<std::size_t>(y) * w + x] = now;
      const int share = static_cast<int>(std::trunc(static_cast<double>(old - now) * factor));
      for (int k = 0; k < 6; ++k) {
        const int nx = x + dx[k], ny = y + dy[k];
        if (nx < 0 || nx >= w || ny >= h) continue;
        int& v = level[static_cast<std::size_t>(ny) * w + nx];
        v = std::min(255, std::max(0, v + share));
      }
    }
  return out;
}

int Check(const char* sourcePath, const char* writtenPath, bool contrast) {
  const QImage source(QString::fromLocal8Bit(sourcePath));
  const QImage written = QImage(QString::fromLocal8Bit(writtenPath)).convertToFormat(QImage::Format_RGB32);
  if (source.isNull() || written.isNull()) {
    std::fprintf(stderr, "check: cannot read %s or %s\n", sourcePath, writtenPath);
    return 1;
  }
  if (source.size() != written.size()) {
    std::fprintf(stderr, "check: %s has another size\n", writtenPath);
    return 1;
  }
  const std::vector<int> want = Dither(source, contrast);
  for (int y = 0; y < source.height(); ++y)
    for (int x = 0; x < source.width(); ++x) {
      const QRgb p = written.pixel(x, y);
      const int expected = want[static_cast<std::size_t>(y) * source.width() + x];
      if (qRed(p) != expected || qGreen(p) != expected || qBlue(p) != expected) {
        std::fprintf(stderr, "check: %s differs at %d,%d\n", writtenPath, x, y);
        return 1;
      }
    }
  return 0;
}

int MakeFlat(const char* path, int w, int h, int level) {
  QImage image(w, h, QImage::Format_RGB32);
  image.fill(qRgb(level, level, level));
  return image.save(QString::fromLocal8Bit(path), "PNG") ? 0 : 1;
}

// A screen dump in the X window dump format, as a virtual display's frame buffer keeps it: a header of
// big-endian 32-bit words, a colour map, then rows of 32-bit pixels.
int Count(const char* path, int x0, int y0, int w, int h, int level) {
  QFile file(QString::fromLocal8Bit(path));
  if (!file.open(QIODevice::ReadOnly)) return 1;
  const QByteArray dump = file.readAll();
  auto word = [&](int i) {
    const auto* p = reinterpret_cast<const unsigned char*>(dump.constData()) + 4 * i;
    return static_cast<long>(p[0]) << 24 | p[1] << 16 | p[2] << 8 | p[3];
  };
  if (dump.size() < 100 || word(11) != 32) return 1;  // 32 bits a pixel
  const long start = word(0) + 12 * word(19), rowBytes = word(12), width = word(4), height = word(5);
  const bool lsbFirst = word(7) == 0;
  long count = 0;
  for (long y = std::max(y0, 0); y < std::min<long>(y0 + h, height); ++y)
    for (long x = std::max(x0, 0); x < std::min<long>(x0 + w, width); ++x) {
      const long at = start + y * rowBytes + 4 * x;
      if (at + 4 > dump.size()) return 1;
      const auto* p = reinterpret_cast<const unsigned char*>(dump.constData()) + at;
      const int r = lsbFirst ? p[2] : p[1], g = lsbFirst ? p[1] : p[2], b = lsbFirst ? p[0] : p[3];
      if (r == level && g == level && b == level) ++count;
    }
  std::printf("%ld\n", count);
  return 0;
}

// One property of an X window as text; "(none)" when the window has no such property.
std::string PropertyText(xcb_connection_t* c, xcb_window_t window, const char* name) {
  xcb_intern_atom_reply_t* atom = xcb_intern_atom_reply(
      c, xcb_intern_atom(c, 0, static_cast<std::uint16_t>(std::strlen(name)), name), nullptr);
  if (!atom) return "(no atom)";
  xcb_get_property_reply_t* reply =
      xcb_get_property_reply(c, xcb_get_property(c, 0, window, atom->atom, XCB_GET_PROPERTY_TYPE_ANY, 0, 4096), nullptr);
  std::free(atom);
  if (!reply) return "(no window)";
  std::string text;
  if (reply->type == XCB_ATOM_NONE) {
    text = "(none)";
  } else {
    text.push_back('\'');
    text.append(static_cast<const char*>(xcb_get_property_value(reply)),
                static_cast<std::size_t>(xcb_get_property_value_length(reply)));
    text.push_back('\'');
  }
  std::free(reply);
  return text;
}

int Title(const char* id) {
  xcb_connection_t* c = xcb_connect(nullptr, nullptr);
  if (xcb_connection_has_error(c)) {
    std::fprintf(stderr, "title: no display\n");
    xcb_disconnect(c);
    return 1;
  }
  const auto window = static_cast<xcb_window_t>(std::strtoul(id, nullptr, 0));
  std::printf("WM_NAME %s _NET_WM_NAME %s\n", PropertyText(c, window, "WM_NAME").c_str(),
              PropertyText(c, window, "_NET_WM_NAME").c_str());
  xcb_disconnect(c);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 6 && std::string(argv[1]) == "grey") return MakeGrey(argv[2], std::atoi(argv[3]), std::atoi(argv[4]), std::atoi(argv[5]));
  if (argc == 5 && std::string(argv[1]) == "check") return Check(argv[2], argv[3], std::atoi(argv[4]) != 0);
  if (argc == 6 && std::string(argv[1]) == "flat") return MakeFlat(argv[2], std::atoi(argv[3]), std::atoi(argv[4]), std::atoi(argv[5]));
  if (argc == 8 && std::string(argv[1]) == "count")
    return Count(argv[2], std::atoi(argv[3]), std::atoi(argv[4]), std::atoi(argv[5]), std::atoi(argv[6]), std::atoi(argv[7]));
  if (argc == 3 && std::string(argv[1]) == "title") return Title(argv[2]);
  std::fprintf(stderr, "usage: E2eTool grey <file> <w> <h> <variant> | check <source> <written> <contrast> | "
                       "flat <file> <w> <h> <level> | count <xwd> <x> <y> <w> <h> <level> | title <window id>\n");
  return 2;
}
