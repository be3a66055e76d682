// The menu model: a bar is the root item, its children the menus, theirs the items. Kept apart from Qt
// widgets; the desktop side shows it and keeps it in step through the change listeners.
#pragma once

#include <atomic>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "framework/Object.h"

namespace fw {

class MenuItem : public Object {
 public:
  MenuItem() = default;

  const std::string& Name() const noexcept { return name_; }
  void SetName(std::string name) { name_ = std::move(name); }
  const std::string& Text() const noexcept { return text_; }
  void SetText(std::string text);
  // "Cmd+N" and the like; nullopt when never set, which differs from the empty string.
  const std::optional<std::string>& KeyboardShortcut() const noexcept { return shortcut_; }
  void SetKeyboardShortcut(std::string shortcut);
  bool AutoEnable() const noexcept { return autoEnable_; }
  void SetAutoEnable(bool on) noexcept { autoEnable_ = on; }

  // Marks and enabled states are read from any thread while the main thread changes them.
  bool Checked() const noexcept { return checked_.load(std::memory_order_acquire); }
  void SetChecked(bool on);
  bool Enabled() const noexcept { return enabled_.load(std::memory_order_acquire); }
  void SetEnabled(bool on);

  bool IsSeparator() const noexcept { return text_ == "-"; }

  void Append(const Ref<MenuItem>& item);
  std::size_t Count() const noexcept { return children_.size(); }
  MenuItem* Item(std::size_t index) const noexcept { return index < children_.size() ? children_[index].get() : nullptr; }
  MenuItem* Parent() const noexcept { return parent_; }
  // The direct child of this name, or nil.
  Ref<MenuItem> Child(const std::string& name) const;
  // The item of this name anywhere below this one, depth first in order, or nil.
  Ref<MenuItem> _Lookup(const std::string& name) const;

  // Called on the thread that made the change, after it is made.
  using Listener = std::function<void(MenuItem&)>;
  static void SetChangeListener(Listener listener);

 protected:
  void Changed();

 private:
  std::string name_;
  std::string text_;
  std::optional<std::string> shortcut_;
  bool autoEnable_ = false;
  std::atomic<bool> checked_{false};
  std::atomic<bool> enabled_{true};
  std::vector<Ref<MenuItem>> children_;
  MenuItem* parent_ = nullptr;
};

// The item whose own action ends the event loop.
class QuitMenuItem final : public MenuItem {};

// An item of the application menu.
class AppleMenuItem final : public MenuItem {};

class MenuBar : public MenuItem {};

// The framework's checked cast: nil stays nil, a wrong kind raises IllegalCastException.
template <typename T>
Ref<T> CheckedCast(const Ref<MenuItem>& item);

}  // namespace fw

#include "framework/Exceptions.h"

template <typename T>
fw::Ref<T> fw::CheckedCast(const Ref<MenuItem>& item) {
  if (!item) return nullptr;
  T* cast = dynamic_cast<T*>(item.get());
  if (!cast) throw IllegalCastException("the menu item " + item->Name() + " is not of the expected kind");
  return Ref<T>(cast);
}
