// Builds each window's menu bar from the one model, on shared actions.
#pragma once

#include "framework/MenuItem.h"

namespace fw {

class WindowWidget;

void ShowMenuBar(WindowWidget& widget, MenuBar& bar);
// The application-wide shortcut filter and the model's change listener.
void InstallMenuShortcuts();

}  // namespace fw
