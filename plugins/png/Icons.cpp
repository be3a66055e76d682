// folderitem.DrawWideIconQZB: the icon of a file or folder, drawn into a framework drawing context.
// The program's own executable and bundle show the program's icon; everything else the desktop's.
#include "Icons.h"

#include <unistd.h>

#include <QFileIconProvider>
#include <QFileInfo>
#include <QImage>
#include <QPainter>
#include <string>

#include "Files.h"
#include "kit/Kit.h"

namespace pngfamily {
namespace {

std::string ExecutablePath() {
  char buffer[4096];
  const ssize_t length = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
  if (length <= 0) return {};
  return std::string(buffer, static_cast<std::size_t>(length));
}

std::string ParentOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return {};
  return slash == 0 ? std::string("/") : path.substr(0, slash);
}

QImage IconOf(const std::string& path, int width) {
  const std::string executable = ExecutablePath();
  const std::string bundle = ParentOf(ParentOf(executable));
  if (!executable.empty() && (path == executable || path == bundle)) {
    QImage own(QString::fromStdString(bundle + "/Resources/Speckmoor.png"));
    if (!own.isNull()) return own.scaled(width, width, Qt::KeepAspectRatio, Qt::SmoothTransformation);
  }
  const QIcon icon = QFileIconProvider().icon(QFileInfo(QString::fromStdString(path)));
  return icon.pixmap(width, width).toImage();
}

}  // namespace

void DrawWideIcon(REALfolderItem item, REALgraphics graphics, int32_t x, int32_t y, int32_t width,
                  int32_t /*windowsIconIndex: there is one icon size here*/) {
  try {
    std::string path;
    if (!item || !graphics || width <= 0 || !PathOf(item, path)) return;
    auto* painter = static_cast<QPainter*>(kit::REALGraphicsPainter(graphics));
    if (!painter) return;
    const QImage icon = IconOf(path, width);
    if (icon.isNull()) return;
    painter->drawImage(QRect(x, y, width, width * icon.height() / std::max(icon.width(), 1)), icon);
  } catch (...) {
    // Nothing is drawn; an icon is never worth a failure.
  }
}

}  // namespace pngfamily
