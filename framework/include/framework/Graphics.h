// A drawing context over a QPainter: what windows and canvases paint through.
#pragma once

#include <cstdint>

#include "framework/Color.h"
#include "framework/Object.h"
#include "framework/Picture.h"

class QPainter;

namespace fw {

class Graphics final : public Object {
 public:
  Graphics(QPainter* painter, std::int32_t width, std::int32_t height) : painter_(painter), width_(width), height_(height) {}

  std::int32_t Width() const noexcept { return width_; }
  std::int32_t Height() const noexcept { return height_; }

  Color ForeColor() const noexcept { return foreColor_; }
  void SetForeColor(Color c) noexcept { foreColor_ = c; }
  // Nearest-neighbour scaling, so one-bit pictures stay crisp; off: smooth scaling.
  bool UseOldRenderer() const noexcept { return useOldRenderer_; }
  void SetUseOldRenderer(bool on) noexcept { useOldRenderer_ = on; }

  void FillRect(std::int32_t x, std::int32_t y, std::int32_t w, std::int32_t h);
  // Draws the picture at its own size with its top-left corner at x, y.
  void DrawPicture(Picture& picture, std::int32_t x, std::int32_t y);
  // Draws the source rectangle of the picture into the destination rectangle, scaled. Only the part that
  // falls inside the drawing area is drawn.
  void DrawPicture(Picture& picture, std::int32_t x, std::int32_t y, std::int32_t w, std::int32_t h, std::int32_t sx,
                   std::int32_t sy, std::int32_t sw, std::int32_t sh);

  QPainter* Painter() const noexcept { return painter_; }

 private:
  QPainter* painter_;
  std::int32_t width_;
  std::int32_t height_;
  Color foreColor_ = 0;
  bool useOldRenderer_ = false;
};

}  // namespace fw
