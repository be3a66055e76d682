// The one menu bar of the application: File, Edit, Options and View.
#pragma once

#include "framework/MenuItem.h"

namespace app {

class Menu final : public fw::MenuBar {
 public:
  // Builds the whole bar; run once, by the accessor.
  void Constructor();
  // Each builds one top-level menu with its items: File, Edit, Options, View.
  void Untitled0();
  void Untitled2();
  void Untitled3();
  void Untitled4();
};

// The implicit instance: made and built on first use; every later call gives the same object.
fw::Ref<Menu> MenuInstance();
// The exit step at shutdown: releases the instance.
void MenuInstanceExit();

}  // namespace app
