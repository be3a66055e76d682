#include "framework/Controls.h"

#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QShortcut>
#include <algorithm>
#include <map>

#include "framework/Exceptions.h"
#include "framework/Runtime.h"
#include "framework/Window.h"

namespace fw {
namespace {

class TextWidget final : public QLabel {
 public:
  TextWidget(StaticText* owner, QWidget* parent) : QLabel(parent), owner_(owner) {}

 protected:
  void mousePressEvent(QMouseEvent* event) override {
    if (owner_->MouseDownHandler) {
      const QPoint p = event->position().toPoint();
      Guarded([&] { return owner_->MouseDownHandler(p.x(), p.y()); });
    }
  }

 private:
  StaticText* owner_;
};

class CanvasWidget final : public QWidget {
 public:
  CanvasWidget(Canvas* owner, QWidget* parent) : QWidget(parent), owner_(owner) {}

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter painter(this);
    Guarded([&] { owner_->PaintNow(painter); });
  }

 private:
  Canvas* owner_;
};

template <typename T>
const T* ValueOf(const Property& p) {
  return std::get_if<T>(&p.value);
}

// Where a control's TabIndex is kept on its widget, so the window's tab chain can be ordered from the
// widgets alone.
constexpr const char* kTabIndexProperty = "speckmoorTabIndex";

// Chains the controls under `parent` that have a TabIndex, lowest first. Widgets that never take focus
// have no place in the chain.
void OrderTabChain(QWidget* parent) {
  if (!parent) return;
  std::vector<std::pair<int, QWidget*>> indexed;
  for (QWidget* child : parent->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
    const QVariant index = child->property(kTabIndexProperty);
    if (index.isValid() && child->focusPolicy() != Qt::NoFocus) indexed.emplace_back(index.toInt(), child);
  }
  std::stable_sort(indexed.begin(), indexed.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
  for (std::size_t i = 1; i < indexed.size(); ++i) QWidget::setTabOrder(indexed[i - 1].second, indexed[i].second);
}

}  // namespace

std::optional<PropertyType> ControlPropertyType(std::string_view name) {
  static const std::map<std::string_view, PropertyType> kTypes = {
      {"Name", PropertyType::String},          {"Index", PropertyType::Integer},
      {"Left", PropertyType::Integer},         {"Top", PropertyType::Integer},
      {"Width", PropertyType::Integer},        {"Height", PropertyType::Integer},
      {"LockLeft", PropertyType::Boolean},     {"LockTop", PropertyType::Boolean},
      {"LockRight", PropertyType::Boolean},    {"LockBottom", PropertyType::Boolean},
      {"TabPanelIndex", PropertyType::Integer}, {"TabIndex", PropertyType::Integer},
      {"Visible", PropertyType::Boolean},      {"Enabled", PropertyType::Boolean},
      {"AutoDeactivate", PropertyType::Boolean}, {"HelpTag", PropertyType::String},
      {"InitialParent", PropertyType::String}, {"Value", PropertyType::Integer},
      {"Maximum", PropertyType::Integer},      {"Caption", PropertyType::String},
      {"Default", PropertyType::Boolean},      {"Cancel", PropertyType::Boolean},
      {"TabStop", PropertyType::Boolean},      {"TextFont", PropertyType::String},
      {"TextSize", PropertyType::Integer},     {"Bold", PropertyType::Boolean},
      {"Italic", PropertyType::Boolean},       {"Underline", PropertyType::Boolean},
      {"Text", PropertyType::String},          {"TextAlign", PropertyType::Integer},
      {"TextColor", PropertyType::Color},      {"Multiline", PropertyType::Boolean},
      {"DataSource", PropertyType::String},    {"DataField", PropertyType::String},
      {"UseFocusRing", PropertyType::Boolean}, {"AcceptFocus", PropertyType::Boolean},
      {"AcceptTabs", PropertyType::Boolean},   {"EraseBackground", PropertyType::Boolean},
      {"DoubleBuffer", PropertyType::Boolean}, {"Backdrop", PropertyType::String},
  };
  auto it = kTypes.find(name);
  if (it == kTypes.end()) return std::nullopt;
  return it->second;
}

PropertyListWriter& ControlSettings(PropertyListWriter& w, const char* name, std::int32_t left, std::int32_t top,
                                    std::int32_t width, std::int32_t height, std::optional<std::int32_t> tabIndex) {
  w.String("Name", name)
      .Integer("Index", INT32_MIN)
      .Integer("Left", left)
      .Integer("Top", top)
      .Integer("Width", width)
      .Integer("Height", height)
      .Boolean("LockLeft", false)
      .Boolean("LockTop", false)
      .Boolean("LockRight", false)
      .Boolean("LockBottom", false)
      .Integer("TabPanelIndex", 0);
  if (tabIndex) w.Integer("TabIndex", *tabIndex);
  return w.Boolean("Visible", true)
      .Boolean("Enabled", true)
      .Boolean("AutoDeactivate", true)
      .String("HelpTag", "")
      .String("InitialParent", "");
}

// ---- Control ----

Control::~Control() = default;

void Control::Attach(Window& window, QWidget* parent) {
  window_ = &window;
  RunOnMainThread([&] { widget_ = MakeWidget(parent); });
}

void Control::ApplyProperties(const std::string& propertyList) {
  std::optional<std::vector<Property>> decoded = DecodePropertyList(propertyList, &ControlPropertyType);
  if (!decoded) throw RuntimeException("malformed control settings");
  properties_ = *decoded;
  RunOnMainThread([&] {
    for (const Property& p : properties_) Apply(p);
    Place();
  });
}

void Control::Apply(const Property& p) {
  if (p.name == "Name") name_ = *ValueOf<std::string>(p);
  else if (p.name == "Left") left_ = *ValueOf<std::int32_t>(p);
  else if (p.name == "Top") top_ = *ValueOf<std::int32_t>(p);
  else if (p.name == "Width") width_ = *ValueOf<std::int32_t>(p);
  else if (p.name == "Height") height_ = *ValueOf<std::int32_t>(p);
  else if (p.name == "Enabled") enabled_ = *ValueOf<bool>(p);
  else if (p.name == "Visible") visible_ = *ValueOf<bool>(p);
  else if (p.name == "HelpTag" && widget_) widget_->setToolTip(QString::fromStdString(*ValueOf<std::string>(p)));
  else if (p.name == "TabIndex" && widget_) {
    widget_->setProperty(kTabIndexProperty, *ValueOf<std::int32_t>(p));
    OrderTabChain(widget_->parentWidget());
  }
}

void Control::Place() {
  if (!widget_) return;
  widget_->setGeometry(left_, top_, width_, height_);
  widget_->setEnabled(enabled_);
  widget_->setVisible(visible_);
}

void Control::DeliverOpen() {
  if (OpenHandler) OpenHandler();
}

// ---- TextStyle ----

bool TextStyle::Take(const Property& p) {
  if (p.name == "TextFont") font = *ValueOf<std::string>(p);
  else if (p.name == "TextSize") size = *ValueOf<std::int32_t>(p);
  else if (p.name == "Bold") bold = *ValueOf<bool>(p);
  else return false;
  return true;
}

QFont TextStyle::Font(QFont base) const {
  // The desktop's own family; the sizes of the system fonts on the screens the windows were laid out for.
  base.setPixelSize(size > 0 ? size : font == "SmallSystem" ? 10 : 12);
  base.setBold(bold);
  return base;
}

// ---- StaticText ----

QWidget* StaticText::MakeWidget(QWidget* parent) {
  auto* label = new TextWidget(this, parent);
  label->setTextFormat(Qt::PlainText);
  return label;
}

void StaticText::Apply(const Property& p) {
  if (p.name == "Text") text_ = *ValueOf<std::string>(p);
  const bool font = style_.Take(p);
  auto* label = qobject_cast<QLabel*>(widget_.data());
  if (!label) return Control::Apply(p);
  if (font) {
    label->setFont(style_.Font(label->font()));
  } else if (p.name == "Text") {
    // Lines are separated by carriage returns in the program's texts.
    QString shown = QString::fromStdString(text_);
    shown.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    label->setText(shown);
  } else if (p.name == "TextAlign") {
    const std::int32_t a = *ValueOf<std::int32_t>(p);
    label->setAlignment((a == 1 ? Qt::AlignHCenter : a == 2 ? Qt::AlignRight : Qt::AlignLeft) | Qt::AlignTop);
  } else if (p.name == "Multiline") {
    label->setWordWrap(*ValueOf<bool>(p));
  } else if (p.name == "TextColor") {
    const PropertyColor c = *ValueOf<PropertyColor>(p);
    label->setStyleSheet(QStringLiteral("color: rgb(%1,%2,%3)").arg(c.red).arg(c.green).arg(c.blue));
  } else {
    Control::Apply(p);
  }
}

std::string StaticText::Text() const {
  std::string t;
  RunOnMainThread([&] { t = text_; });
  return t;
}

void StaticText::SetText(const std::string& text) {
  RunOnMainThread([&] { Apply(Property{"Text", text}); });
}

// ---- Canvas ----

QWidget* Canvas::MakeWidget(QWidget* parent) { return new CanvasWidget(this, parent); }

void Canvas::WithGraphics(const std::function<void(Graphics&)>& draw) {
  RunOnMainThread([&] {
    overlay_.push_back(draw);
    if (widget_) widget_->update();
  });
}

void Canvas::PaintNow(QPainter& painter) {
  Ref<Graphics> g = MakeRef<Graphics>(&painter, Width(), Height());
  if (window_) window_->BeginPaintingWith(&painter, Left(), Top());
  struct Done {
    Window* w;
    ~Done() {
      if (w) w->EndPainting();
    }
  } done{window_};
  if (PaintHandler) PaintHandler(*g);
  std::vector<std::function<void(Graphics&)>> overlay;
  overlay.swap(overlay_);
  for (auto& draw : overlay) draw(*g);
}

// ---- PushButton ----

QWidget* PushButton::MakeWidget(QWidget* parent) {
  auto* button = new QPushButton(parent);
  QObject::connect(button, &QPushButton::clicked, [this] { Push(); });
  return button;
}

void PushButton::Apply(const Property& p) {
  if (p.name == "Caption") caption_ = *ValueOf<std::string>(p);
  const bool font = style_.Take(p);
  auto* button = qobject_cast<QPushButton*>(widget_.data());
  if (!button) return Control::Apply(p);
  if (font) {
    button->setFont(style_.Font(button->font()));
  } else if (p.name == "Caption") {
    button->setText(QString::fromStdString(caption_));
  } else if (p.name == "Default") {
    button->setDefault(*ValueOf<bool>(p));
  } else if (p.name == "Cancel") {
    SetCancel(*button, *ValueOf<bool>(p));
  } else if (p.name == "TabStop") {
    button->setFocusPolicy(*ValueOf<bool>(p) ? Qt::StrongFocus : Qt::ClickFocus);
  } else {
    Control::Apply(p);
  }
}

void PushButton::SetCancel(QPushButton& button, bool cancel) {
  if (!cancel) {
    delete escape_.data();
    return;
  }
  if (escape_) return;
  // Escape anywhere in the button's window presses it, as a click would: not while it is disabled.
  escape_ = new QShortcut(QKeySequence(Qt::Key_Escape), &button, &button, &QPushButton::click, Qt::WindowShortcut);
}

void PushButton::Push() {
  if (ActionHandler) Guarded([&] { ActionHandler(); });
}

// ---- ProgressBar ----

QWidget* ProgressBar::MakeWidget(QWidget* parent) {
  auto* bar = new QProgressBar(parent);
  bar->setTextVisible(false);
  return bar;
}

void ProgressBar::Apply(const Property& p) {
  if (p.name == "Value") value_ = *ValueOf<std::int32_t>(p);
  if (p.name == "Maximum") maximum_ = *ValueOf<std::int32_t>(p);
  auto* bar = qobject_cast<QProgressBar*>(widget_.data());
  if (!bar) return Control::Apply(p);
  if (p.name == "Value") {
    bar->setValue(std::min(value_, std::max(maximum_, 0)));
  } else if (p.name == "Maximum") {
    bar->setRange(0, std::max(maximum_, 0));
    bar->setValue(std::min(value_, std::max(maximum_, 0)));
  } else {
    Control::Apply(p);
  }
}

void ProgressBar::SetValue(std::int32_t value) {
  RunOnMainThread([&] { Apply(Property{"Value", value}); });
}

void ProgressBar::SetMaximum(std::int32_t maximum) {
  RunOnMainThread([&] { Apply(Property{"Maximum", maximum}); });
}

}  // namespace fw
