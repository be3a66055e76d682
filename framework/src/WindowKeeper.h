// The one place that owns windows and dialogs: which windows are open and in what order, which window a
// dialog belongs to, and when the widgets of a closed window are destroyed.
#pragma once

#include <functional>

#include <QPointer>

#include "framework/Window.h"

class QDialog;
class QWidget;

namespace fw {

// The list of open windows, front first; the framework holds each open window until it closes.
void KeepWindow(Window* window);
void BringToFront(Window* window);
void ForgetWindow(Window* window);

// The window a dialog belongs to: the given window when it is open, else the front window; always the
// top-level one, never a window attached to another (a progress window closes when its work ends, which
// can happen while the dialog is up).
QWidget* DialogOwner(const Window* preferred);

// While a scope lives, the widgets of windows that close are hidden but not destroyed: a nested event
// loop may be running inside one of their dialogs. Main thread only.
class ModalScope {
 public:
  ModalScope();
  ~ModalScope();
  ModalScope(const ModalScope&) = delete;
  ModalScope& operator=(const ModalScope&) = delete;
};

// Runs a dialog modally inside a ModalScope; Rejected when the dialog went while it ran. The caller
// still owns the dialog.
int RunModal(QDialog& dialog);

// A closed window's widget: the windows attached to it close, its dialogs end as cancelled, it is
// hidden, and it is destroyed once no modal scope is open.
void RetireWidget(QWidget* widget);
// Destroys every retired widget now (shutdown).
void DestroyRetiredWidgets();

// The display is gone: every window closes as far as the program knows (Event_Close, which cancels a
// batch, then it is forgotten) without a widget being touched, and every message a thread waits for is
// answered as if its window had closed. Main thread only.
void CloseAllWindowsWithoutDisplay();
void AnswerMessagesWithoutDisplay();

// Called, once the closing is over, when the last window that shows a menu bar has closed; nothing is
// called while no handler is set.
void SetLastMenuWindowClosedHandler(std::function<void()> handler);

}  // namespace fw
