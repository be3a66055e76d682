#include "engine/MenuOptions.h"

#include "framework/Application.h"
#include "framework/Exceptions.h"

namespace engine {
namespace {

fw::Ref<fw::MenuItem> AppItem(const char* name) {
  fw::Ref<fw::Application> app = fw::RuntimeApplication();
  fw::NonNil(app, "no application object");
  fw::Ref<fw::MenuBar> bar = app->MenuBar();
  fw::NonNil(bar, "the application has no menu bar");
  return fw::CheckedCast<fw::MenuItem>(bar->_Lookup(name));
}

}  // namespace

fw::Ref<fw::MenuItem> OptionsContrast() { return AppItem("OptionsContrast"); }
fw::Ref<fw::MenuItem> OptionSharpen() { return AppItem("OptionSharpen"); }

}  // namespace engine
