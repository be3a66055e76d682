// Start-up's application side for tests: plug-ins loaded, the program's table bound, App with the menu bar.
#pragma once

#include <gtest/gtest.h>

#include "TestSupport.h"
#include "app/App.h"
#include "app/Menu.h"
#include "bindings/PluginEntryTable.h"

namespace testing_support {

inline void StartApplication() {
  LoadBundlePlugins();
  bindings::BindPluginEntryTable();
  if (!app::AppInstance()) app::_NewAppInstance();
}

inline void SetOption(const char* name, bool on) { app::MenuInstance()->_Lookup(name)->SetChecked(on); }

}  // namespace testing_support
