#include "app/App.h"

#include "app/Menu.h"
#include "app/W_Main.h"
#include "bindings/FolderChooser.h"
#include "framework/Exceptions.h"

namespace app {

fw::Ref<App> AppInstance() {
  fw::Ref<fw::Application> registered = fw::RuntimeApplication();
  if (!registered) return nullptr;
  auto* app = dynamic_cast<App*>(registered.get());
  if (!app) throw fw::IllegalCastException("the application object is not an App");
  return fw::Ref<App>(app);
}

void _NewAppInstance() {
  fw::Ref<App> app = fw::MakeRef<App>();
  app->SetMenuBar(MenuInstance());
  fw::RuntimeRegisterAppObject(app);
}

void _ApplicationAddMenuHandlers() {
  // Each handler reaches the App through its class table, so a subclass's override is the one called.
  fw::Ref<App> app = AppInstance();
  fw::NonNil(app, "no application object");
  app->_AddMenuHandler("FileNewWindow", [] { return fw::NonNil(AppInstance())->_FileNewWindow_Action(); });
  app->_AddMenuHandler("FileBatchDither", [] { return fw::NonNil(AppInstance())->_FileBatchDither_Action(); });
}

bool App::_FileNewWindow_Action() {
  (void)NewDocumentWindow();  // the framework holds it while it is open
  return true;
}

bool App::_FileBatchDither_Action() {
  fw::Ref<fw::FolderItem> source = bindings::SelectFolderQZB();
  if (!source) return true;
  fw::Ref<W_Main> window = NewDocumentWindow();
  window->Show();
  window->SetInputBatch(source);
  return true;
}

}  // namespace app
