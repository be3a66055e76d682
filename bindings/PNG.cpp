#include "bindings/PNG.h"

#include <cerrno>

#include "bindings/Calls.h"
#include "bindings/PluginEntryTable.h"
#include "framework/Application.h"
#include "framework/Exceptions.h"

namespace bindings {
namespace {

REALfolderItem ToREALFolderItem(fw::FolderItem* item) {
  return reinterpret_cast<REALfolderItem>(static_cast<fw::Object*>(item));
}

}  // namespace

bool SaveAsPNGQZB(const fw::Ref<fw::FolderItem>& target, const fw::Ref<fw::Picture>& picture, float gamma,
                  int* why) {
  using Fn = bool (*)(REALfolderItem, REALpicture, float);
  auto routine = PluginRoutine<Fn>(PluginEntry::SaveAsPNG);
  REALfolderItem file = ToREALFolderItem(fw::NonNil(target, "no file to save to").get());
  // The plug-in leaves the failing call's errno, so nothing may run between its return and the read.
  errno = 0;
  const bool saved = routine(file, ToREALPicture(picture.get()), gamma);
  if (why) *why = saved ? 0 : errno;
  return saved;
}

void DrawWideIconQZB(const fw::Ref<fw::FolderItem>& item, fw::Graphics& g, std::int32_t x, std::int32_t y,
                     std::int32_t width, std::int32_t windowsIconIndex) {
  using Fn = void (*)(REALfolderItem, REALgraphics, int32_t, int32_t, int32_t, int32_t);
  auto routine = PluginRoutine<Fn>(PluginEntry::DrawWideIcon);
  routine(ToREALFolderItem(fw::NonNil(item, "no file to draw the icon of").get()),
          reinterpret_cast<REALgraphics>(static_cast<fw::Object*>(&g)), x, y, width, windowsIconIndex);
}

fw::Ref<fw::FolderItem> BundleFolderQZB() {
  using Fn = REALfolderItem (*)(REALapplication);
  auto routine = PluginRoutine<Fn>(PluginEntry::BundleFolder);
  fw::Ref<fw::Application> app = fw::RuntimeApplication();
  REALfolderItem result =
      routine(reinterpret_cast<REALapplication>(static_cast<fw::Object*>(fw::NonNil(app, "no application").get())));
  auto* object = reinterpret_cast<fw::Object*>(result);
  if (!object) return nullptr;
  auto* folder = dynamic_cast<fw::FolderItem*>(object);
  if (!folder) {
    object->Release();
    throw fw::IllegalCastException("a plug-in returned an object that is not a folder item");
  }
  return fw::Ref<fw::FolderItem>::Adopt(folder);
}

fw::Ref<PNGOptimizerQZB> PNGOptimizerQZB::New() {
  return fw::Ref<PNGOptimizerQZB>(new PNGOptimizerQZB(fw::PluginObject::New("PNGOptimizerQZB")));
}

bool PNGOptimizerQZB::Optimize(int* why) {
  using Fn = bool (*)(REALobject);
  auto routine = PluginRoutine<Fn>(PluginEntry::PNGOptimizerOptimize);
  errno = 0;
  const bool optimised = routine(fw::ToREAL(object_.get()));
  if (why) *why = optimised ? 0 : errno;
  return optimised;
}

}  // namespace bindings
