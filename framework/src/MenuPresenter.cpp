#include "src/MenuPresenter.h"

#include <QAction>
#include <QApplication>
#include <QKeySequence>
#include <QMenu>
#include <QMenuBar>
#include <QShortcut>
#include <map>

#include "framework/Application.h"
#include "framework/MenuCommands.h"
#include "framework/Runtime.h"
#include "framework/Window.h"
#include "src/WindowWidget.h"

namespace fw {
namespace {

// "Cmd+X" is Ctrl+X here.
QKeySequence SequenceOf(const MenuItem& item) {
  if (!item.KeyboardShortcut() || item.KeyboardShortcut()->empty()) return {};
  std::string text = *item.KeyboardShortcut();
  if (text.rfind("Cmd+", 0) == 0) text = "Ctrl+" + text.substr(4);
  return QKeySequence(QString::fromStdString(text), QKeySequence::PortableText);
}

struct Presenter {
  std::map<const MenuItem*, QAction*> actions;  // main thread only
  QObject owner;                                // parent of the shared actions
};

Presenter& ThePresenter() {
  static Presenter* presenter = new Presenter;  // lives as long as the process, like the actions
  return *presenter;
}

void Sync(const MenuItem& item, QAction* action) {
  QString text = QString::fromStdString(item.Text());
  const QKeySequence keys = SequenceOf(item);
  // The shortcut is shown, not bound: the framework's filter handles keys so the enabling pass runs first.
  if (!keys.isEmpty()) text += QLatin1Char('\t') + keys.toString(QKeySequence::NativeText);
  action->setText(text);
  action->setSeparator(item.IsSeparator());
  action->setCheckable(item.Checked());
  action->setChecked(item.Checked());
  action->setEnabled(item.Enabled());
}

void Trigger(const MenuItem* item) {
  Ref<MenuItem> keep(const_cast<MenuItem*>(item));
  Guarded([&] { DeliverMenuCommand(item->Name()); });
  if (QAction* a = ThePresenter().actions[item]) Sync(*item, a);  // Qt toggled it on its own
}

void ForEachItem(MenuItem& root, const std::function<void(MenuItem&, int depth)>& f, int depth = 0) {
  for (std::size_t i = 0; i < root.Count(); ++i) {
    MenuItem* child = root.Item(i);
    f(*child, depth + 1);
    ForEachItem(*child, f, depth + 1);
  }
}

// The enabling pass first, then the command when its item is enabled: a disabled item's shortcut does
// nothing.
bool Activate(MenuItem& item) {
  Ref<MenuItem> keep(&item);
  Guarded([&] {
    RunEnablingPass();
    if (keep->Enabled()) DeliverMenuCommand(keep->Name());
  });
  if (QAction* a = ThePresenter().actions[keep.get()]) Sync(*keep, a);
  return true;
}

}  // namespace

QAction* ActionFor(const MenuItem& item) {
  Presenter& p = ThePresenter();
  auto it = p.actions.find(&item);
  if (it != p.actions.end()) return it->second;
  auto* action = new QAction(&p.owner);
  p.actions[&item] = action;
  item.Retain();  // the action and the item live as long as the process
  Sync(item, action);
  QObject::connect(action, &QAction::triggered, [&item] { Trigger(&item); });
  return action;
}

void ShowMenuBar(WindowWidget& widget, MenuBar& bar) {
  QMenuBar* menuBar = widget.menuBar();
  menuBar->clear();
  for (std::size_t m = 0; m < bar.Count(); ++m) {
    MenuItem* menuItem = bar.Item(m);
    auto* menu = new QMenu(QString::fromStdString(menuItem->Text()), menuBar);
    QObject::connect(menu, &QMenu::aboutToShow, [] { Guarded([] { RunEnablingPass(); }); });
    for (std::size_t i = 0; i < menuItem->Count(); ++i) {
      MenuItem* item = menuItem->Item(i);
      if (item->IsSeparator()) menu->addSeparator();
      else menu->addAction(ActionFor(*item));
    }
    menuBar->addMenu(menu);
  }
}

void InstallMenuShortcuts() {
  static bool installed = false;
  if (installed || !qApp) return;
  installed = true;
  MenuItem::SetChangeListener([](MenuItem& item) {
    Ref<MenuItem> keep(&item);
    auto sync = [keep] {
      auto& actions = ThePresenter().actions;
      auto it = actions.find(keep.get());
      if (it != actions.end()) Sync(*keep, it->second);
    };
    if (IsMainThread()) sync();
    else QMetaObject::invokeMethod(qApp, sync, Qt::QueuedConnection);
  });
}

void InstallShortcuts(QWidget& window, MenuBar& bar) {
  // Qt's own shortcuts match a key press the way the keyboard's layout means it (Ctrl and the key that
  // gives 2 on a French keyboard is Ctrl+2), and stay out of the way while a dialog has the keyboard.
  ForEachItem(bar, [&](MenuItem& item, int depth) {
    const QKeySequence keys = SequenceOf(item);
    if (depth < 2 || keys.isEmpty()) return;
    auto* shortcut = new QShortcut(keys, &window);
    shortcut->setContext(Qt::WindowShortcut);
    shortcut->setAutoRepeat(false);
    QObject::connect(shortcut, &QShortcut::activated, [keep = Ref<MenuItem>(&item)] { Activate(*keep); });
  });
}

void RunEnablingPass() {
  Ref<Application> app = RuntimeApplication();
  Ref<MenuBar> bar = app ? app->MenuBar() : nullptr;
  Ref<Window> front = FrontWindow();
  if (front && front->MenuBar()) bar = front->MenuBar();
  if (!bar) return;
  ForEachItem(*bar, [](MenuItem& item, int depth) {
    if (depth >= 2) item.SetEnabled(item.AutoEnable());
  });
  if (front) front->Event_EnableMenuItems();
}

bool DeliverMenuCommand(const std::string& itemName) {
  Ref<Window> front = FrontWindow();
  if (front && front->HandleMenuCommand(itemName)) return true;
  Ref<Application> app = RuntimeApplication();
  if (app && app->HandleMenuCommand(itemName)) return true;
  Ref<MenuBar> bar = app ? app->MenuBar() : nullptr;
  if (bar && dynamic_cast<QuitMenuItem*>(bar->_Lookup(itemName).get())) return RuntimeQuit();
  return false;
}

bool HandleShortcut(int keyWithModifiers) {
  Ref<Application> app = RuntimeApplication();
  Ref<MenuBar> bar = app ? app->MenuBar() : nullptr;
  if (Ref<Window> front = FrontWindow(); front && front->MenuBar()) bar = front->MenuBar();
  if (!bar) return false;
  const QKeySequence pressed(keyWithModifiers);
  MenuItem* match = nullptr;
  ForEachItem(*bar, [&](MenuItem& item, int depth) {
    if (!match && depth >= 2 && !SequenceOf(item).isEmpty() && SequenceOf(item) == pressed) match = &item;
  });
  return match && Activate(*match);
}

}  // namespace fw
