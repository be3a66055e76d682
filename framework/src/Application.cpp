#include "framework/Application.h"

#include <atomic>
#include <thread>

#include "framework/Bundle.h"

namespace fw {
namespace {

std::mutex gAppMutex;
Ref<Application>& gApp = *new Ref<Application>;  // never destroyed, like the application itself
std::atomic<int> gWaitCursorDisabled{0};

}  // namespace

Ref<MenuBar> Application::MenuBar() const {
  std::lock_guard lock(mutex_);
  return menuBar_;
}

void Application::SetMenuBar(const Ref<fw::MenuBar>& bar) {
  std::lock_guard lock(mutex_);
  menuBar_ = bar;
}

void Application::_AddMenuHandler(const std::string& itemName, MenuHandler handler) {
  std::lock_guard lock(mutex_);
  handlers_[itemName] = std::move(handler);
}

bool Application::HasMenuHandler(const std::string& itemName) const {
  std::lock_guard lock(mutex_);
  return handlers_.count(itemName) != 0;
}

bool Application::HandleMenuCommand(const std::string& itemName) {
  MenuHandler handler;
  {
    std::lock_guard lock(mutex_);
    auto it = handlers_.find(itemName);
    if (it == handlers_.end()) return false;
    handler = it->second;
  }
  return handler();
}

std::string Application::LongVersion() const { return SPECKMOOR_VERSION; }

Ref<FolderItem> Application::ExecutableFile() const { return MakeRef<FolderItem>(fw::ExecutableFile()); }

void Application::YieldToNextThread() const { std::this_thread::yield(); }

void RuntimeRegisterAppObject(const Ref<Application>& app) {
  std::lock_guard lock(gAppMutex);
  gApp = app;
}

Ref<Application> RuntimeApplication() {
  std::lock_guard lock(gAppMutex);
  return gApp;
}

void DisableAutoWaitCursor() { gWaitCursorDisabled.fetch_add(1, std::memory_order_acq_rel); }
void EnableAutoWaitCursor() { gWaitCursorDisabled.fetch_sub(1, std::memory_order_acq_rel); }
bool AutoWaitCursorEnabled() { return gWaitCursorDisabled.load(std::memory_order_acquire) <= 0; }

}  // namespace fw
