// The program's class table for the filter plug-in's class ConvolutionEffect: one slot per method in
// registration order, each calling through the program's routine table.
#pragma once

#include <cstdint>

#include "bindings/PluginEntryTable.h"
#include "framework/Picture.h"
#include "framework/PluginObject.h"

namespace bindings {

class ConvolutionEffect final : public fw::Object {
 public:
  // A fresh filter object; raises UnsupportedOperationException while no plug-in offers the class.
  static fw::Ref<ConvolutionEffect> New();

  fw::Ref<fw::Picture> Smooth(const fw::Ref<fw::Picture>& source, std::int32_t weight, const fw::Ref<fw::Picture>& mask);
  fw::Ref<fw::Picture> Sharpen(const fw::Ref<fw::Picture>& source, const fw::Ref<fw::Picture>& mask);
  fw::Ref<fw::Picture> EdgeDetect(const fw::Ref<fw::Picture>& source, const fw::Ref<fw::Picture>& mask);
  fw::Ref<fw::Picture> Blur(const fw::Ref<fw::Picture>& source, const fw::Ref<fw::Picture>& mask);
  fw::Ref<fw::Picture> MeanRemoval(const fw::Ref<fw::Picture>& source, const fw::Ref<fw::Picture>& mask);
  fw::Ref<fw::Picture> Emboss(const fw::Ref<fw::Picture>& source, const fw::Ref<fw::Picture>& mask);
  fw::Ref<fw::Picture> ApplyMatrix(const fw::Ref<fw::Picture>& source, const fw::Ref<fw::Object>& matrix,
                                   const fw::Ref<fw::Picture>& mask);

  fw::PluginObject* Object() const noexcept { return object_.get(); }

 private:
  explicit ConvolutionEffect(fw::Ref<fw::PluginObject> object) : object_(std::move(object)) {}
  fw::Ref<fw::Picture> Filter(PluginEntry slot, const fw::Ref<fw::Picture>& source, const fw::Ref<fw::Picture>& mask);

  fw::Ref<fw::PluginObject> object_;
};

}  // namespace bindings
