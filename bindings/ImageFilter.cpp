#include "bindings/ImageFilter.h"

#include "bindings/Calls.h"
#include "bindings/PluginEntryTable.h"

namespace bindings {

fw::Ref<fw::Picture> EnsurePictureBits(const fw::Ref<fw::Picture>& source, std::int32_t depth) {
  using Fn = REALpicture (*)(REALpicture, int32_t);
  auto routine = PluginRoutine<Fn>(PluginEntry::EnsurePictureBits);
  return AdoptPicture(routine(ToREALPicture(source.get()), depth));
}

fw::Ref<fw::Picture> GrayScale(const fw::Ref<fw::Picture>& source, std::int32_t grayscaleTypeValue,
                               const fw::Ref<fw::Picture>& mask, const fw::Ref<fw::Object>& progress) {
  using Fn = REALpicture (*)(REALpicture, int32_t, REALpicture, REALobject);
  auto routine = PluginRoutine<Fn>(PluginEntry::GrayScale);
  return AdoptPicture(
      routine(ToREALPicture(source.get()), grayscaleTypeValue, ToREALPicture(mask.get()), fw::ToREAL(progress.get())));
}

}  // namespace bindings
