// Builds each window's menu bar from the one model, on shared actions.
#pragma once

#include "framework/MenuItem.h"

class QWidget;

namespace fw {

class WindowWidget;

void ShowMenuBar(WindowWidget& widget, MenuBar& bar);
// The model's change listener, which keeps the shown items in step.
void InstallMenuShortcuts();
// Every item's shortcut, acting while the window is the active one.
void InstallShortcuts(QWidget& window, MenuBar& bar);

}  // namespace fw
