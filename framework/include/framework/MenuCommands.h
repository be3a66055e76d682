// Menus on screen and the commands they give.
#pragma once

#include <string>

#include "framework/MenuItem.h"

class QAction;

namespace fw {

// Items with AutoEnable on become enabled and the others disabled, then the front window's
// Event_EnableMenuItems enables what it wants. Runs before a menu opens and before a shortcut acts.
// Top-level menus stay enabled.
void RunEnablingPass();
// Delivers a command by item name: the front window's handler, then the application's; a quit item
// with no handler quits. False when nothing handled it.
bool DeliverMenuCommand(const std::string& itemName);
// The one action that shows an item in every window's menu bar.
QAction* ActionFor(const MenuItem& item);
// Handles a shortcut as a key press would: the enabling pass, then the command if its item is enabled.
// True when an item has this shortcut.
bool HandleShortcut(int keyWithModifiers);

}  // namespace fw
