#include "src/WindowKeeper.h"

#include <QApplication>
#include <QDialog>
#include <QMainWindow>
#include <QWidget>
#include <algorithm>
#include <mutex>
#include <vector>

namespace fw {
namespace {

// Open windows, front first. The list is never destroyed, so a window that outlives the event loop is
// not torn down after Qt is gone.
std::mutex gWindowsMutex;
std::vector<Ref<Window>>& gWindows = *new std::vector<Ref<Window>>;

// Main thread only.
int gModalDepth = 0;
std::vector<QPointer<QWidget>>& gRetired = *new std::vector<QPointer<QWidget>>;
std::function<void()>& gLastMenuWindowClosed = *new std::function<void()>;

auto Find(Window* w) {
  return std::find_if(gWindows.begin(), gWindows.end(), [&](const Ref<Window>& r) { return r.get() == w; });
}

bool AnyMenuWindowOpen() {
  std::lock_guard lock(gWindowsMutex);
  return std::any_of(gWindows.begin(), gWindows.end(), [](const Ref<Window>& w) { return w->MenuBar() != nullptr; });
}

}  // namespace

void KeepWindow(Window* window) {
  std::lock_guard lock(gWindowsMutex);
  gWindows.insert(gWindows.begin(), Ref<Window>(window));
}

void BringToFront(Window* window) {
  std::lock_guard lock(gWindowsMutex);
  auto it = Find(window);
  if (it == gWindows.end()) return;
  Ref<Window> keep = *it;
  gWindows.erase(it);
  gWindows.insert(gWindows.begin(), keep);
}

void ForgetWindow(Window* window) {
  Ref<Window> gone;  // released outside the lock
  {
    std::lock_guard lock(gWindowsMutex);
    auto it = Find(window);
    if (it == gWindows.end()) return;
    gone = *it;
    gWindows.erase(it);
  }
  // Without a window that shows the menu bar no command can reach the program any more.
  if (gone->MenuBar() && gLastMenuWindowClosed && qApp && !AnyMenuWindowOpen())
    QMetaObject::invokeMethod(qApp, gLastMenuWindowClosed, Qt::QueuedConnection);
}

std::vector<Ref<Window>> OpenWindows() {
  std::lock_guard lock(gWindowsMutex);
  return gWindows;
}

Ref<Window> FrontWindow() {
  std::lock_guard lock(gWindowsMutex);
  for (const Ref<Window>& w : gWindows)
    if (w->Widget() && w->Widget()->isVisible()) return w;
  return gWindows.empty() ? nullptr : gWindows.front();
}

Ref<Window> ImplicitWindow(const std::string& className) {
  std::lock_guard lock(gWindowsMutex);
  for (const Ref<Window>& w : gWindows)
    if (w->ClassName() == className) return w;
  return nullptr;
}

void ForgetAllWindows() {
  std::vector<Ref<Window>> windows;
  {
    std::lock_guard lock(gWindowsMutex);
    windows.swap(gWindows);
  }
}

bool CloseAllWindows() {
  for (const Ref<Window>& w : OpenWindows()) {
    w->Close();
    if (w->IsOpen()) return false;  // it refused
  }
  return true;
}

void CloseAllWindowsWithoutDisplay() {
  gLastMenuWindowClosed = nullptr;
  for (const Ref<Window>& w : OpenWindows()) w->CloseWithoutWidget();
}

QWidget* DialogOwner(const Window* preferred) {
  QWidget* owner = preferred && preferred->IsOpen() ? preferred->Widget() : nullptr;
  if (!owner)
    if (Ref<Window> front = FrontWindow()) owner = front->Widget();
  while (owner && owner->parentWidget()) owner = owner->parentWidget()->window();
  return owner;
}

ModalScope::ModalScope() { ++gModalDepth; }

ModalScope::~ModalScope() {
  if (--gModalDepth > 0) return;
  std::vector<QPointer<QWidget>> retired;
  retired.swap(gRetired);
  for (const QPointer<QWidget>& w : retired)
    if (w) w->deleteLater();
}

int RunModal(QDialog& dialog) {
  ModalScope scope;
  QPointer<QDialog> alive(&dialog);
  const int result = dialog.exec();
  return alive ? result : QDialog::Rejected;
}

void RetireWidget(QWidget* widget) {
  if (!widget) return;
  // Windows attached to it go with it, and its dialogs end as cancelled.
  for (QMainWindow* attached : widget->findChildren<QMainWindow*>(Qt::FindDirectChildrenOnly)) attached->close();
  for (QDialog* dialog : widget->findChildren<QDialog*>())
    if (dialog->isVisible()) dialog->reject();
  widget->hide();
  if (gModalDepth > 0) gRetired.emplace_back(widget);
  else widget->deleteLater();
}

void DestroyRetiredWidgets() {
  std::vector<QPointer<QWidget>> retired;
  retired.swap(gRetired);
  for (const QPointer<QWidget>& w : retired) delete w.data();
}

void SetLastMenuWindowClosedHandler(std::function<void()> handler) { gLastMenuWindowClosed = std::move(handler); }

}  // namespace fw
