#include "bindings/ConvolutionEffect.h"

#include "bindings/Calls.h"
#include "bindings/PluginEntryTable.h"

namespace bindings {
namespace {

using FilterFn = REALpicture (*)(REALobject, REALpicture source, REALpicture mask);

}  // namespace

fw::Ref<ConvolutionEffect> ConvolutionEffect::New() {
  return fw::Ref<ConvolutionEffect>(new ConvolutionEffect(fw::PluginObject::New("ConvolutionEffect")));
}

fw::Ref<fw::Picture> ConvolutionEffect::Filter(PluginEntry slot, const fw::Ref<fw::Picture>& source,
                                               const fw::Ref<fw::Picture>& mask) {
  auto routine = PluginRoutine<FilterFn>(slot);
  return AdoptPicture(routine(fw::ToREAL(object_.get()), ToREALPicture(source.get()), ToREALPicture(mask.get())));
}

fw::Ref<fw::Picture> ConvolutionEffect::Smooth(const fw::Ref<fw::Picture>& source, std::int32_t weight,
                                               const fw::Ref<fw::Picture>& mask) {
  using Fn = REALpicture (*)(REALobject, REALpicture, int32_t, REALpicture);
  auto routine = PluginRoutine<Fn>(PluginEntry::ConvolutionSmooth);
  return AdoptPicture(routine(fw::ToREAL(object_.get()), ToREALPicture(source.get()), weight, ToREALPicture(mask.get())));
}

fw::Ref<fw::Picture> ConvolutionEffect::Sharpen(const fw::Ref<fw::Picture>& source, const fw::Ref<fw::Picture>& mask) {
  return Filter(PluginEntry::ConvolutionSharpen, source, mask);
}
fw::Ref<fw::Picture> ConvolutionEffect::EdgeDetect(const fw::Ref<fw::Picture>& source,
                                                   const fw::Ref<fw::Picture>& mask) {
  return Filter(PluginEntry::ConvolutionEdgeDetect, source, mask);
}
fw::Ref<fw::Picture> ConvolutionEffect::Blur(const fw::Ref<fw::Picture>& source, const fw::Ref<fw::Picture>& mask) {
  return Filter(PluginEntry::ConvolutionBlur, source, mask);
}
fw::Ref<fw::Picture> ConvolutionEffect::MeanRemoval(const fw::Ref<fw::Picture>& source,
                                                    const fw::Ref<fw::Picture>& mask) {
  return Filter(PluginEntry::ConvolutionMeanRemoval, source, mask);
}
fw::Ref<fw::Picture> ConvolutionEffect::Emboss(const fw::Ref<fw::Picture>& source, const fw::Ref<fw::Picture>& mask) {
  return Filter(PluginEntry::ConvolutionEmboss, source, mask);
}

fw::Ref<fw::Picture> ConvolutionEffect::ApplyMatrix(const fw::Ref<fw::Picture>& source,
                                                    const fw::Ref<fw::Object>& matrix,
                                                    const fw::Ref<fw::Picture>& mask) {
  using Fn = REALpicture (*)(REALobject, REALpicture, REALobject, REALpicture);
  auto routine = PluginRoutine<Fn>(PluginEntry::ConvolutionApplyMatrix);
  return AdoptPicture(routine(fw::ToREAL(object_.get()), ToREALPicture(source.get()), fw::ToREAL(matrix.get()),
                              ToREALPicture(mask.get())));
}

}  // namespace bindings
