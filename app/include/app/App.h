// The application object and its two application-wide menu handlers.
#pragma once

#include "framework/Application.h"

namespace app {

class App final : public fw::Application {
 public:
  // File > "New Window": a new, empty document window.
  virtual bool _FileNewWindow_Action();
  // File > "Batch Process a Folder..." with no document window to take it: asks for a folder and
  // processes it in a new window.
  virtual bool _FileBatchDither_Action();
};

// The application object registered with the framework, cast to App; IllegalCastException if another
// kind of object is registered, nil before start-up made one.
fw::Ref<App> AppInstance();

// The start-up steps that concern the application object: make it with the one menu bar and register it,
// then register its two menu handlers.
void _NewAppInstance();
void _ApplicationAddMenuHandlers();

}  // namespace app
