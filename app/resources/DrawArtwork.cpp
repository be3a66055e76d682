// Draws the program's own artwork at build time: the two drop-target pictures, low contrast on the
// document window's dark grey, and the program's icon. Usage: DrawArtwork <output folder>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <cstdio>

namespace {

const QColor kWindowGrey(0x3F, 0x3F, 0x3F);
const QColor kLine(0x5C, 0x5C, 0x5C);
const QColor kFill(0x4A, 0x4A, 0x4A);

QImage Canvas(int w, int h) {
  QImage image(w, h, QImage::Format_RGB32);
  image.fill(kWindowGrey);
  return image;
}

// A dashed frame that says "drop here".
void DropFrame(QPainter& p, const QRectF& r) {
  QPen pen(kLine, 4, Qt::DashLine, Qt::RoundCap, Qt::RoundJoin);
  p.setPen(pen);
  p.setBrush(Qt::NoBrush);
  p.drawRoundedRect(r, 18, 18);
}

QImage PictureSign() {
  QImage image = Canvas(200, 160);
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing);
  DropFrame(p, QRectF(6, 6, 188, 148));
  p.setPen(QPen(kLine, 4));
  p.setBrush(kFill);
  p.drawRoundedRect(QRectF(50, 40, 100, 80), 6, 6);
  p.setPen(Qt::NoPen);
  p.setBrush(kLine);
  p.drawEllipse(QPointF(122, 62), 9, 9);  // sun
  QPainterPath hills;
  hills.moveTo(54, 116);
  hills.lineTo(84, 78);
  hills.lineTo(104, 100);
  hills.lineTo(116, 88);
  hills.lineTo(146, 116);
  hills.closeSubpath();
  p.drawPath(hills);
  return image;
}

QImage FolderSign() {
  QImage image = Canvas(200, 160);
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing);
  DropFrame(p, QRectF(6, 6, 188, 148));
  p.setPen(QPen(kLine, 4, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
  p.setBrush(kFill);
  QPainterPath folder;
  folder.moveTo(46, 52);
  folder.lineTo(82, 52);
  folder.lineTo(92, 62);
  folder.lineTo(154, 62);
  folder.lineTo(154, 118);
  folder.lineTo(46, 118);
  folder.closeSubpath();
  p.drawPath(folder);
  p.drawLine(QPointF(46, 72), QPointF(154, 72));
  return image;
}

// The icon: a disc whose soft shading is itself diffused into black and white.
QImage Icon() {
  constexpr int kSize = 128;
  QImage grey(kSize, kSize, QImage::Format_Grayscale8);
  for (int y = 0; y < kSize; ++y)
    for (int x = 0; x < kSize; ++x) grey.scanLine(y)[x] = static_cast<uchar>(40 + (x + y) * 200 / (2 * kSize));
  QImage icon(kSize, kSize, QImage::Format_ARGB32);
  icon.fill(Qt::transparent);
  std::vector<int> level(kSize * kSize);
  for (int y = 0; y < kSize; ++y)
    for (int x = 0; x < kSize; ++x) level[y * kSize + x] = grey.scanLine(y)[x];
  for (int y = 0; y < kSize; ++y) {
    for (int x = 0; x < kSize; ++x) {
      const int old = level[y * kSize + x];
      const int now = old > 127 ? 255 : 0;
      const int share = (old - now) / 6;
      for (auto [dx, dy] : {std::pair{1, 0}, {2, 0}, {-1, 1}, {0, 1}, {1, 1}, {0, 2}}) {
        const int nx = x + dx, ny = y + dy;
        if (nx >= 0 && nx < kSize && ny < kSize) level[ny * kSize + nx] += share;
      }
      const double cx = x - kSize / 2.0 + 0.5, cy = y - kSize / 2.0 + 0.5;
      if (cx * cx + cy * cy <= 60.0 * 60.0) icon.setPixel(x, y, now ? qRgb(255, 255, 255) : qRgb(0, 0, 0));
    }
  }
  QPainter p(&icon);
  p.setRenderHint(QPainter::Antialiasing);
  p.setPen(QPen(Qt::black, 3));
  p.setBrush(Qt::NoBrush);
  p.drawEllipse(QPointF(kSize / 2.0, kSize / 2.0), 60, 60);
  return icon;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: DrawArtwork <output folder>\n");
    return 2;
  }
  const QString folder = QString::fromLocal8Bit(argv[1]);
  const bool ok = PictureSign().save(folder + "/Drop_Image_LowContrast.png") &&
                  FolderSign().save(folder + "/Drop_Folder_LowContrast.png") &&
                  Icon().save(folder + "/Speckmoor.png");
  return ok ? 0 : 1;
}
