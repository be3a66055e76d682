#include "framework/Window.h"

#include <QApplication>
#include <QCloseEvent>
#include <QCursor>
#include <QDragEnterEvent>
#include <QLayout>
#include <QMenuBar>
#include <QMimeData>
#include <QPainter>
#include <QScreen>
#include <algorithm>
#include <cstdio>

#include "framework/Application.h"
#include "framework/Exceptions.h"
#include "framework/FileType.h"
#include "framework/Runtime.h"
#include "src/MenuPresenter.h"
#include "src/NativeTitle.h"
#include "src/WindowKeeper.h"
#include "src/WindowWidget.h"

namespace fw {
namespace {

Ref<DragItem> DragItemFrom(const QMimeData* data) {
  std::vector<Ref<FolderItem>> files;
  if (data && data->hasUrls())
    for (const QUrl& url : data->urls())
      if (url.isLocalFile()) files.push_back(MakeRef<FolderItem>(url.toLocalFile().toStdString()));
  return MakeRef<DragItem>(std::move(files));
}

std::int32_t ActionOf(Qt::DropAction a) { return a == Qt::MoveAction ? 2 : (a == Qt::LinkAction ? 3 : 1); }

template <typename T>
T Setting(const std::vector<Property>& settings, const char* name, T fallback) {
  for (const Property& p : settings)
    if (p.name == name)
      if (const T* v = std::get_if<T>(&p.value)) return *v;
  return fallback;
}

}  // namespace

std::optional<PropertyType> WindowPropertyType(std::string_view name) {
  static const std::map<std::string_view, PropertyType> kTypes = {
      {"Placement", PropertyType::Integer},      {"Width", PropertyType::Integer},
      {"Height", PropertyType::Integer},         {"MinWidth", PropertyType::Integer},
      {"MinHeight", PropertyType::Integer},      {"MaxWidth", PropertyType::Integer},
      {"MaxHeight", PropertyType::Integer},      {"Frame", PropertyType::Integer},
      {"Composite", PropertyType::Boolean},      {"HasBackColor", PropertyType::Boolean},
      {"BackColor", PropertyType::Color},        {"Title", PropertyType::String},
      {"Visible", PropertyType::Boolean},        {"FullScreen", PropertyType::Boolean},
      {"MenuBarVisible", PropertyType::Boolean}, {"CloseButton", PropertyType::Boolean},
      {"Resizeable", PropertyType::Boolean},     {"LiveResize", PropertyType::Boolean},
      {"MaximizeButton", PropertyType::Boolean}, {"MinimizeButton", PropertyType::Boolean},
      {"MacProcID", PropertyType::Integer},
  };
  auto it = kTypes.find(name);
  if (it == kTypes.end()) return std::nullopt;
  return it->second;
}

// ---- the widgets ----

ContentWidget::ContentWidget(Window* window, QWidget* parent) : QWidget(parent), window_(Ref<Window>(window)) {
  setMouseTracking(true);
  setAcceptDrops(true);
  setAttribute(Qt::WA_OpaquePaintEvent);
}

void ContentWidget::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  Guarded([&] { window_->PaintNow(painter, width(), height()); });
}

void ContentWidget::mousePressEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) return;
  const QPoint p = event->position().toPoint();
  dragging_ = Guarded([&] { return window_->Event_MouseDown(p.x(), p.y()); });
}

void ContentWidget::mouseMoveEvent(QMouseEvent* event) {
  const QPoint p = event->position().toPoint();
  if (dragging_ && (event->buttons() & Qt::LeftButton)) Guarded([&] { window_->Event_MouseDrag(p.x(), p.y()); });
  else Guarded([&] { window_->Event_MouseMove(p.x(), p.y()); });
}

void ContentWidget::mouseReleaseEvent(QMouseEvent*) { dragging_ = false; }

void ContentWidget::dragEnterEvent(QDragEnterEvent* event) {
  Ref<DragItem> item = DragItemFrom(event->mimeData());
  if (!window_->AcceptsDrag(*item)) {
    event->ignore();
    return;
  }
  entered_ = item;
  // A handler that answers true refuses the drag.
  const bool refuse = Guarded([&] { return window_->Event_DragEnter(*item, ActionOf(event->proposedAction())); });
  if (refuse) {
    entered_ = nullptr;
    event->ignore();
    return;
  }
  event->acceptProposedAction();
}

void ContentWidget::dragMoveEvent(QDragMoveEvent* event) {
  if (entered_) event->acceptProposedAction();
  else event->ignore();
}

void ContentWidget::dragLeaveEvent(QDragLeaveEvent*) {
  if (!entered_) return;
  Ref<DragItem> item = entered_;
  entered_ = nullptr;
  Guarded([&] { window_->Event_DragExit(*item, 1); });
}

void ContentWidget::dropEvent(QDropEvent* event) {
  Ref<DragItem> item = DragItemFrom(event->mimeData());
  entered_ = nullptr;
  if (!window_->AcceptsDrag(*item)) {
    event->ignore();
    return;
  }
  event->acceptProposedAction();
  Guarded([&] { window_->Event_DropObject(*item, ActionOf(event->dropAction())); });
}

WindowWidget::WindowWidget(Window* window) : window_(Ref<Window>(window)), content_(new ContentWidget(window, this)) {
  setCentralWidget(content_);
}

WindowWidget::~WindowWidget() {
  if (window_->IsOpen()) window_->WidgetClosed();
}

void WindowWidget::SetContentSize(int width, int height) {
  const int extra = menuBar() && menuBar()->isVisibleTo(this) ? menuBar()->sizeHint().height() : 0;
  resize(width, height + extra);
  content_->resize(width, height);
}

void WindowWidget::closeEvent(QCloseEvent* event) {
  const bool cancel = Guarded([&] { return window_->Event_CancelClose(false); });
  if (cancel) {
    event->ignore();
    return;
  }
  event->accept();
  Guarded([&] { window_->Event_Close(); });
  window_->WidgetClosed();
  RetireWidget(this);
}

void WindowWidget::resizeEvent(QResizeEvent* event) {
  QMainWindow::resizeEvent(event);
  Guarded([&] { window_->Event_Resizing(); });
  Guarded([&] { window_->Event_Resized(); });
}

void WindowWidget::changeEvent(QEvent* event) {
  QMainWindow::changeEvent(event);
  if (event->type() == QEvent::ActivationChange && isActiveWindow()) {
    BringToFront(window_.get());
    Guarded([&] { window_->Event_Activate(); });
  }
}

void WindowWidget::showEvent(QShowEvent* event) {
  QMainWindow::showEvent(event);
  BringToFront(window_.get());
  // Showing can make the native window anew without telling the widget (a changed stay-on-top hint).
  QMetaObject::invokeMethod(
      this, [this] { if (windowTitle().isEmpty()) ClearNativeTitle(*this); }, Qt::QueuedConnection);
}

bool WindowWidget::event(QEvent* event) {
  const bool handled = QMainWindow::event(event);
  // Qt names the native window whenever it makes one or is told a title, with the application's name in
  // place of an empty title: an empty one is put back right after.
  const QEvent::Type type = event->type();
  if ((type == QEvent::WinIdChange || type == QEvent::WindowTitleChange) && windowTitle().isEmpty())
    ClearNativeTitle(*this);
  return handled;
}

// ---- the window ----

Window::Window(std::string className) : className_(std::move(className)) {}

Window::~Window() {
  // The last reference may go on another thread; Qt widgets are deleted on the main thread.
  if (widget_) {
    QPointer<WindowWidget> widget(widget_);
    widget_.clear();
    QMetaObject::invokeMethod(qApp, [widget] { RetireWidget(widget.data()); }, Qt::QueuedConnection);
  }
}

void Window::Constructor() {
  RunOnMainThread([&] {
    widget_ = new WindowWidget(this);
    KeepWindow(this);
    open_ = true;
    Layout();
    // A window without a menu bar of its own (About, Progress) still takes the program's shortcuts.
    Ref<Application> app = RuntimeApplication();
    if (Ref<fw::MenuBar> bar = menuBar_ ? menuBar_ : (app ? app->MenuBar() : nullptr)) InstallShortcuts(*widget_, *bar);
    CreateControls();
    AddMenuHandlers(this);
    for (auto& entry : controls_) entry.second->DeliverOpen();
    Event_Open();
    if (visibleSetting_) Show();
  });
}

void Window::WidgetClosed() {
  widget_.clear();
  open_ = false;
  ForgetWindow(this);
}

void Window::CloseWithoutWidget() {
  if (!IsOpen()) return;
  widget_.clear();  // every operation on the window now leaves the display alone
  try {
    Event_Close();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s: %s\n", className_.c_str(), e.what());  // no message can be shown any more
  }
  open_ = false;
  ForgetWindow(this);
}

QWidget* Window::Widget() const { return widget_; }

void Window::Show() {
  RunOnMainThread([&] {
    if (!widget_) return;
    widget_->show();
    widget_->raise();
    widget_->activateWindow();
    BringToFront(this);
  });
}

void Window::Close() {
  RunOnMainThread([&] {
    if (widget_) widget_->close();
  });
}

void Window::Refresh() {
  RunOnMainThread([&] {
    if (widget_) widget_->Content()->update();
  });
}

void Window::UpdateNow() {
  RunOnMainThread([&] {
    // Inside a paint the drawing is already being brought up to date.
    if (widget_ && !painting_) widget_->Content()->repaint();
  });
}

std::int32_t Window::Width() const {
  std::int32_t w = 0;
  RunOnMainThread([&] { w = widget_ ? widget_->Content()->width() : Setting<std::int32_t>(settings_, "Width", 0); });
  return w;
}

std::int32_t Window::Height() const {
  std::int32_t h = 0;
  RunOnMainThread([&] { h = widget_ ? widget_->Content()->height() : Setting<std::int32_t>(settings_, "Height", 0); });
  return h;
}

std::string Window::Title() const {
  std::string t;
  RunOnMainThread([&] { t = widget_ ? widget_->windowTitle().toStdString() : std::string(); });
  return t;
}

void Window::SetTitle(const std::string& title) {
  RunOnMainThread([&] {
    if (widget_) widget_->setWindowTitle(QString::fromStdString(title));
  });
}

bool Window::Visible() const {
  bool v = false;
  RunOnMainThread([&] { v = widget_ && widget_->isVisible(); });
  return v;
}

void Window::SetMouseCursor(MouseCursor cursor) {
  cursor_ = cursor;
  RunOnMainThread([&] {
    if (!widget_) return;
    switch (cursor) {
      case MouseCursor::Arrow: widget_->Content()->setCursor(Qt::ArrowCursor); break;
      case MouseCursor::OpenHand: widget_->Content()->setCursor(Qt::OpenHandCursor); break;
      case MouseCursor::ClosedHand: widget_->Content()->setCursor(Qt::ClosedHandCursor); break;
      case MouseCursor::Wait: widget_->Content()->setCursor(Qt::WaitCursor); break;
    }
  });
}

void Window::WithGraphics(const std::function<void(Graphics&)>& draw) {
  RunOnMainThread([&] {
    if (activePainter_) {
      activePainter_->save();
      activePainter_->translate(-activeOriginX_, -activeOriginY_);
      Ref<Graphics> g = MakeRef<Graphics>(activePainter_, Width(), Height());
      draw(*g);
      activePainter_->restore();
      return;
    }
    overlay_.push_back(draw);
    if (widget_) widget_->Content()->update();
  });
}

void Window::BeginPaintingWith(QPainter* painter, std::int32_t originX, std::int32_t originY) {
  activePainter_ = painter;
  activeOriginX_ = originX;
  activeOriginY_ = originY;
}

void Window::EndPainting() { activePainter_ = nullptr; }

void Window::PaintNow(QPainter& painter, std::int32_t width, std::int32_t height) {
  painting_ = true;
  struct Done {
    Window& w;
    ~Done() {
      w.painting_ = false;
      w.EndPainting();
    }
  } done{*this};
  if (Setting<bool>(settings_, "HasBackColor", false)) {
    const PropertyColor c = Setting<PropertyColor>(settings_, "BackColor", PropertyColor{255, 255, 255});
    painter.fillRect(0, 0, width, height, QColor(c.red, c.green, c.blue));
  } else {
    painter.fillRect(0, 0, width, height, QApplication::palette().window());
  }
  Ref<Graphics> g = MakeRef<Graphics>(&painter, width, height);
  // What was drawn outside a paint lies under what the paint draws now, until this paint.
  std::vector<std::function<void(Graphics&)>> overlay;
  overlay.swap(overlay_);
  BeginPaintingWith(&painter, 0, 0);
  Event_Paint(*g);
  for (auto& draw : overlay) {
    Ref<Graphics> og = MakeRef<Graphics>(&painter, width, height);
    draw(*og);
  }
}

Ref<MenuBar> Window::MenuBar() const { return menuBar_; }

void Window::SetMenuBar(const Ref<fw::MenuBar>& bar) {
  menuBar_ = bar;
  RunOnMainThread([&] {
    if (widget_ && bar) ShowMenuBar(*widget_, *bar);
  });
}

void Window::_AddMenuHandler(const std::string& itemName, MenuHandler handler) {
  std::lock_guard lock(handlerMutex_);
  for (auto& entry : handlers_)
    if (entry.first == itemName) {
      entry.second = std::move(handler);
      return;
    }
  handlers_.emplace_back(itemName, std::move(handler));
}

bool Window::HandleMenuCommand(const std::string& itemName) {
  MenuHandler handler;
  {
    std::lock_guard lock(handlerMutex_);
    for (auto& entry : handlers_)
      if (entry.first == itemName) handler = entry.second;
  }
  return handler ? handler() : false;
}

std::vector<std::string> Window::MenuHandlerNames() const {
  std::lock_guard lock(handlerMutex_);
  std::vector<std::string> names;
  for (const auto& entry : handlers_) names.push_back(entry.first);
  return names;
}

void Window::AddControl(const std::string& name, const Ref<Control>& control) {
  NonNil(control, "a nil control");
  for (const auto& entry : controls_)
    if (entry.first == name) throw RuntimeException("a second control named " + name);
  controls_.emplace_back(name, control);
  RunOnMainThread([&] { control->Attach(*this, widget_ ? widget_->Content() : nullptr); });
}

Ref<Control> Window::ControlNamed(const std::string& name) const {
  for (const auto& entry : controls_)
    if (entry.first == name) return entry.second;
  return nullptr;
}

void Window::ShowWithin(Window& parent) {
  RunOnMainThread([&] {
    if (!widget_) return;
    if (QWidget* owner = parent.Widget()) {
      widget_->setParent(owner, widget_->windowFlags() | Qt::Dialog);
      const QPoint top = owner->mapToGlobal(QPoint((owner->width() - widget_->width()) / 2, 30));
      widget_->move(top);
    }
    Show();
  });
}

void Window::AcceptFileDrop(const std::string& fileTypeName) { dropTypes_.push_back(fileTypeName); }

bool Window::AcceptsDrag(DragItem& item) const {
  Ref<FolderItem> file = item.FolderItem();
  if (!file) return false;
  for (const std::string& type : dropTypes_)
    if (FileTypeAccepts(type, file->Name())) return true;
  return false;
}

void Window::ApplyFrameSettings(const std::string& propertyList) {
  std::optional<std::vector<Property>> decoded = DecodePropertyList(propertyList, &WindowPropertyType);
  if (!decoded) throw RuntimeException("malformed window settings for " + className_);
  settings_ = *decoded;
  visibleSetting_ = Setting<bool>(settings_, "Visible", true);
  RunOnMainThread([&] {
    if (!widget_) return;
    WindowWidget& w = *widget_;
    const int width = Setting<std::int32_t>(settings_, "Width", 300);
    const int height = Setting<std::int32_t>(settings_, "Height", 300);
    w.setWindowTitle(QString::fromStdString(Setting<std::string>(settings_, "Title", "")));
    Qt::WindowFlags flags = Qt::Window | Qt::WindowTitleHint | Qt::CustomizeWindowHint;
    if (Setting<bool>(settings_, "CloseButton", true)) flags |= Qt::WindowCloseButtonHint;
    if (Setting<bool>(settings_, "MinimizeButton", true)) flags |= Qt::WindowMinimizeButtonHint;
    if (Setting<bool>(settings_, "MaximizeButton", true)) flags |= Qt::WindowMaximizeButtonHint;
    w.setWindowFlags(flags);
    if (w.menuBar()) w.menuBar()->setVisible(Setting<bool>(settings_, "MenuBarVisible", true) && menuBar_);
    w.Content()->setMinimumSize(Setting<std::int32_t>(settings_, "MinWidth", 0), Setting<std::int32_t>(settings_, "MinHeight", 0));
    w.Content()->setMaximumSize(Setting<std::int32_t>(settings_, "MaxWidth", QWIDGETSIZE_MAX),
                                Setting<std::int32_t>(settings_, "MaxHeight", QWIDGETSIZE_MAX));
    w.SetContentSize(width, height);
    if (!Setting<bool>(settings_, "Resizeable", true)) {
      w.Content()->setFixedSize(width, height);
      // The frame too, so the window manager offers neither a resize nor a maximise.
      w.layout()->setSizeConstraint(QLayout::SetFixedSize);
    }
    if (Setting<std::int32_t>(settings_, "Placement", 0) == 2 && w.screen())
      w.move(w.screen()->availableGeometry().center() - w.rect().center());
    if (Setting<bool>(settings_, "FullScreen", false)) w.setWindowState(Qt::WindowFullScreen);
  });
}

}  // namespace fw
