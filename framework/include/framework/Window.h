// Windows: built from their property list, shown as Qt widgets, and told of events through Event_*.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "framework/Color.h"
#include "framework/Controls.h"
#include "framework/DragItem.h"
#include "framework/Graphics.h"
#include "framework/MenuItem.h"
#include "framework/Object.h"
#include "framework/PropertyList.h"

#include <QPointer>

class QWidget;

namespace fw {

class WindowWidget;

enum class MouseCursor { Arrow, OpenHand, ClosedHand, Wait };

class Window : public Object {
 public:
  explicit Window(std::string className);
  ~Window() override;

  // Window.Constructor: makes the window, runs Layout, CreateControls and AddMenuHandlers, delivers
  // Event_Open, and shows the window when its settings say Visible.
  void Constructor();

  // Building steps.
  virtual void Layout() {}
  virtual void CreateControls() {}
  virtual void AddMenuHandlers(Window* /*window*/) {}

  // Events.
  virtual void Event_Open() {}
  virtual void Event_Close() {}
  virtual bool Event_CancelClose(bool /*appQuitting*/) { return false; }
  virtual void Event_Activate() {}
  virtual void Event_EnableMenuItems() {}
  virtual void Event_Paint(Graphics& /*g*/) {}
  virtual void Event_MouseMove(std::int32_t /*x*/, std::int32_t /*y*/) {}
  virtual bool Event_MouseDown(std::int32_t /*x*/, std::int32_t /*y*/) { return false; }
  virtual void Event_MouseDrag(std::int32_t /*x*/, std::int32_t /*y*/) {}
  virtual void Event_Resizing() {}
  virtual void Event_Resized() {}
  virtual void Event_DropObject(DragItem& /*obj*/, std::int32_t /*action*/) {}
  virtual bool Event_DragEnter(DragItem& /*obj*/, std::int32_t /*action*/) { return false; }
  virtual void Event_DragExit(DragItem& /*obj*/, std::int32_t /*action*/) {}

  // Operations; safe from any thread (carried to the main thread).
  void Show();
  void Close();
  void Refresh();
  void UpdateNow();
  std::int32_t Width() const;
  std::int32_t Height() const;
  std::string Title() const;
  void SetTitle(const std::string& title);
  bool Visible() const;
  void SetMouseCursor(MouseCursor cursor);
  MouseCursor CurrentMouseCursor() const noexcept { return cursor_; }
  // Draws over the window, outside a paint, until the next paint.
  void WithGraphics(const std::function<void(Graphics&)>& draw);

  Ref<fw::MenuBar> MenuBar() const;
  void SetMenuBar(const Ref<fw::MenuBar>& bar);

  using MenuHandler = std::function<bool()>;
  void _AddMenuHandler(const std::string& itemName, MenuHandler handler);
  bool HandleMenuCommand(const std::string& itemName);
  std::vector<std::string> MenuHandlerNames() const;  // in registration order

  // Controls, by name; a control added under a name that exists replaces nothing and raises.
  void AddControl(const std::string& name, const Ref<Control>& control);
  Ref<Control> ControlNamed(const std::string& name) const;
  template <typename T>
  Ref<T> ControlNamed(const std::string& name) const {
    Ref<Control> c = ControlNamed(name);
    return Ref<T>(dynamic_cast<T*>(c.get()));
  }
  // Shows the window attached to another one, over its top edge.
  void ShowWithin(Window& parent);

  // File drops of this file type (by name) are accepted.
  void AcceptFileDrop(const std::string& fileTypeName);

  // Frame settings from a property list; raises RuntimeException for a malformed list.
  void ApplyFrameSettings(const std::string& propertyList);
  const std::vector<Property>& FrameSettings() const noexcept { return settings_; }

  const std::string& ClassName() const noexcept { return className_; }
  // Safe from any thread.
  bool IsOpen() const noexcept { return open_.load(std::memory_order_acquire); }
  QWidget* Widget() const;

  // Called by the widget.
  void PaintNow(QPainter& painter, std::int32_t width, std::int32_t height);
  // While the window or one of its canvases paints, drawing on the window goes straight onto that
  // painter, shifted by where the painting widget sits in the window.
  void BeginPaintingWith(QPainter* painter, std::int32_t originX, std::int32_t originY);
  void EndPainting();
  bool AcceptsDrag(DragItem& item) const;
  void WidgetClosed();
  // The display is gone: the window closes as its close box would close it, its widget left untouched.
  void CloseWithoutWidget();

 private:
  std::string className_;
  QPointer<WindowWidget> widget_;  // owned by Qt; null once the widget goes
  Ref<fw::MenuBar> menuBar_;
  std::vector<std::pair<std::string, MenuHandler>> handlers_;
  std::vector<std::pair<std::string, Ref<Control>>> controls_;
  std::vector<std::string> dropTypes_;
  std::vector<Property> settings_;
  MouseCursor cursor_ = MouseCursor::Arrow;
  std::atomic<bool> open_{false};
  bool painting_ = false;
  QPainter* activePainter_ = nullptr;
  std::int32_t activeOriginX_ = 0, activeOriginY_ = 0;
  bool visibleSetting_ = true;
  std::vector<std::function<void(Graphics&)>> overlay_;
  mutable std::mutex handlerMutex_;
};

// Every open window, front first (kept by the framework's window keeper).
std::vector<Ref<Window>> OpenWindows();
Ref<Window> FrontWindow();
// The open window of this class name that stands as the class's implicit instance, or nil.
Ref<Window> ImplicitWindow(const std::string& className);
// Asks every window to close; false when one refused.
bool CloseAllWindows();
// Drops the framework's hold on every window.
void ForgetAllWindows();

// The types a window's frame settings list holds.
std::optional<PropertyType> WindowPropertyType(std::string_view name);

}  // namespace fw
