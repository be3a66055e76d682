#include "framework/MenuItem.h"

#include <mutex>

namespace fw {
namespace {

std::mutex gListenerMutex;
MenuItem::Listener gListener;

}  // namespace

void MenuItem::SetChangeListener(Listener listener) {
  std::lock_guard lock(gListenerMutex);
  gListener = std::move(listener);
}

void MenuItem::Changed() {
  Listener listener;
  {
    std::lock_guard lock(gListenerMutex);
    listener = gListener;
  }
  if (listener) listener(*this);
}

void MenuItem::SetText(std::string text) {
  text_ = std::move(text);
  Changed();
}

void MenuItem::SetKeyboardShortcut(std::string shortcut) {
  shortcut_ = std::move(shortcut);
  Changed();
}

void MenuItem::SetChecked(bool on) {
  if (checked_.exchange(on, std::memory_order_acq_rel) != on) Changed();
}

void MenuItem::SetEnabled(bool on) {
  if (enabled_.exchange(on, std::memory_order_acq_rel) != on) Changed();
}

void MenuItem::Append(const Ref<MenuItem>& item) {
  NonNil(item, "Append with a nil item");
  item->parent_ = this;
  children_.push_back(item);
  Changed();
}

Ref<MenuItem> MenuItem::Child(const std::string& name) const {
  for (const Ref<MenuItem>& child : children_)
    if (child->Name() == name) return child;
  return nullptr;
}

Ref<MenuItem> MenuItem::_Lookup(const std::string& name) const {
  for (const Ref<MenuItem>& child : children_) {
    if (child->Name() == name) return child;
    if (Ref<MenuItem> found = child->_Lookup(name)) return found;
  }
  return nullptr;
}

}  // namespace fw
