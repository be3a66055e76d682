#include "framework/Graphics.h"

#include <QPainter>

#include "framework/PictureFile.h"

namespace fw {

void Graphics::FillRect(std::int32_t x, std::int32_t y, std::int32_t w, std::int32_t h) {
  if (!painter_ || w <= 0 || h <= 0) return;
  painter_->fillRect(QRect(x, y, w, h), QColor(Red(foreColor_), Green(foreColor_), Blue(foreColor_)));
}

void Graphics::DrawPicture(Picture& picture, std::int32_t x, std::int32_t y) {
  DrawPicture(picture, x, y, picture.Width(), picture.Height(), 0, 0, picture.Width(), picture.Height());
}

void Graphics::DrawPicture(Picture& picture, std::int32_t x, std::int32_t y, std::int32_t w, std::int32_t h,
                           std::int32_t sx, std::int32_t sy, std::int32_t sw, std::int32_t sh) {
  if (!painter_ || w <= 0 || h <= 0 || sw <= 0 || sh <= 0) return;
  // Pictures become Qt images once per change of the picture, never once per paint.
  const std::shared_ptr<const QImage> cached = picture.CachedImage();
  const QImage& image = *cached;
  if (image.isNull()) return;
  // Clip to the drawing area first, in source coordinates, so a huge zoomed picture costs only what shows.
  const QRectF target(x, y, w, h);
  const QRectF area(0, 0, width_, height_);
  const QRectF visible = target.intersected(area);
  if (visible.isEmpty()) return;
  const double scaleX = static_cast<double>(sw) / w;
  const double scaleY = static_cast<double>(sh) / h;
  const QRectF source(sx + (visible.left() - target.left()) * scaleX, sy + (visible.top() - target.top()) * scaleY,
                      visible.width() * scaleX, visible.height() * scaleY);
  painter_->save();
  painter_->setRenderHint(QPainter::SmoothPixmapTransform, !useOldRenderer_);
  painter_->drawImage(visible, image, source);
  painter_->restore();
}

}  // namespace fw
