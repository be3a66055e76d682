// Controls inside a window, each built from its property list: StaticText, Canvas, PushButton and
// ProgressBar.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "framework/Color.h"
#include "framework/Graphics.h"
#include "framework/Object.h"
#include "framework/PropertyList.h"

#include <QFont>
#include <QPointer>
#include <QWidget>

class QPushButton;
class QShortcut;

namespace fw {

class Window;

class Control : public Object {
 public:
  ~Control() override;

  const std::string& Name() const noexcept { return name_; }
  std::int32_t Left() const noexcept { return left_; }
  std::int32_t Top() const noexcept { return top_; }
  std::int32_t Width() const noexcept { return width_; }
  std::int32_t Height() const noexcept { return height_; }
  bool Enabled() const noexcept { return enabled_; }
  bool Visible() const noexcept { return visible_; }

  // Applies a property list; raises RuntimeException when it is malformed. Settings the framework
  // doesn't act on are kept and can be read back. TabIndex orders the tab chain of the window's controls.
  void ApplyProperties(const std::string& propertyList);
  const std::vector<Property>& Properties() const noexcept { return properties_; }
  QWidget* Widget() const noexcept { return widget_; }

  // Called by the window when the control is added to it.
  void Attach(Window& window, QWidget* parent);
  // The control's "Open" event: runs once its window is built.
  std::function<void()> OpenHandler;
  void DeliverOpen();

 protected:
  virtual QWidget* MakeWidget(QWidget* parent) = 0;
  virtual void Apply(const Property& property);
  void Place();

  Window* window_ = nullptr;
  QPointer<QWidget> widget_;  // gone once its window closes; the control then keeps only its values

 private:
  std::string name_;
  std::int32_t left_ = 0, top_ = 0, width_ = 0, height_ = 0;
  bool enabled_ = true, visible_ = true;
  std::vector<Property> properties_;
};

// The font settings of a control's text. Sizes are pixels, as the window's sizes are (those of a 72-dpi
// screen), so a text fits the frame laid out for it at any resolution; size 0 is the font's own size.
struct TextStyle {
  std::string font = "System";
  std::int32_t size = 0;
  bool bold = false;
  // Keeps the setting when it is one of these; false for any other.
  bool Take(const Property& property);
  QFont Font(QFont base) const;
};

class StaticText final : public Control {
 public:
  std::string Text() const;
  void SetText(const std::string& text);  // from any thread
  // Returns true when it handled the press.
  std::function<bool(std::int32_t x, std::int32_t y)> MouseDownHandler;

 protected:
  QWidget* MakeWidget(QWidget* parent) override;
  void Apply(const Property& property) override;

 private:
  std::string text_;
  TextStyle style_;
};

class Canvas final : public Control {
 public:
  std::function<void(Graphics&)> PaintHandler;
  // Draws on the canvas outside a paint, until its next paint.
  void WithGraphics(const std::function<void(Graphics&)>& draw);
  void PaintNow(QPainter& painter);

 protected:
  QWidget* MakeWidget(QWidget* parent) override;

 private:
  std::vector<std::function<void(Graphics&)>> overlay_;
};

// Cancel true: Escape in its window presses it. TabStop false: out of the tab chain.
class PushButton final : public Control {
 public:
  std::string Caption() const { return caption_; }
  std::function<void()> ActionHandler;
  // Presses the button as a click would.
  void Push();

 protected:
  QWidget* MakeWidget(QWidget* parent) override;
  void Apply(const Property& property) override;

 private:
  void SetCancel(QPushButton& button, bool cancel);

  std::string caption_;
  TextStyle style_;
  QPointer<QShortcut> escape_;  // owned by the button
};

class ProgressBar final : public Control {
 public:
  std::int32_t Value() const noexcept { return value_; }
  std::int32_t Maximum() const noexcept { return maximum_; }
  void SetValue(std::int32_t value);  // from any thread
  void SetMaximum(std::int32_t maximum);

 protected:
  QWidget* MakeWidget(QWidget* parent) override;
  void Apply(const Property& property) override;

 private:
  std::int32_t value_ = 0;
  std::int32_t maximum_ = 0;
};

// The settings every control's list begins with: its name, no control array, its place and size, no
// locks, the first tab panel, visible, enabled, dimmed while its window is inactive, no help tag, no
// initial parent. The tab index, when given, comes after the tab panel.
PropertyListWriter& ControlSettings(PropertyListWriter& w, const char* name, std::int32_t left, std::int32_t top,
                                    std::int32_t width, std::int32_t height, std::optional<std::int32_t> tabIndex);

// The types a control's property list holds.
std::optional<PropertyType> ControlPropertyType(std::string_view name);

}  // namespace fw
