// The application object and the run-time's registration of it.
#pragma once

#include <functional>
#include <map>
#include <mutex>
#include <string>

#include "framework/FolderItem.h"
#include "framework/MenuItem.h"
#include "framework/Object.h"

namespace fw {

class Application : public Object {
 public:
  Ref<fw::MenuBar> MenuBar() const;
  void SetMenuBar(const Ref<fw::MenuBar>& bar);

  // A menu handler by item name; it returns true when it handled the command.
  using MenuHandler = std::function<bool()>;
  void _AddMenuHandler(const std::string& itemName, MenuHandler handler);
  // Runs the handler registered under the name; false when there is none or it declined.
  bool HandleMenuCommand(const std::string& itemName);
  bool HasMenuHandler(const std::string& itemName) const;

  // The program's version as the build gives it, and its executable file.
  std::string LongVersion() const;
  Ref<FolderItem> ExecutableFile() const;
  // Gives other threads a turn.
  void YieldToNextThread() const;

 private:
  mutable std::mutex mutex_;
  Ref<fw::MenuBar> menuBar_;
  std::map<std::string, MenuHandler> handlers_;
};

// The application object; nil before registration.
void RuntimeRegisterAppObject(const Ref<Application>& app);
Ref<Application> RuntimeApplication();

// The automatic wait cursor: off while any caller has it disabled.
void DisableAutoWaitCursor();
void EnableAutoWaitCursor();
bool AutoWaitCursorEnabled();

}  // namespace fw
