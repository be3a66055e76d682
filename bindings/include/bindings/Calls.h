// Passing framework objects across the plug-in boundary.
#pragma once

#include "framework/Exceptions.h"
#include "framework/Picture.h"
#include "framework/PluginObject.h"
#include "kit/PluginABI.h"

namespace bindings {

inline REALpicture ToREALPicture(fw::Picture* picture) noexcept {
  return reinterpret_cast<REALpicture>(static_cast<fw::Object*>(picture));
}

// A routine's result carries one reference, which the program takes over. Anything that is not a picture
// is released and refused.
inline fw::Ref<fw::Picture> AdoptPicture(REALpicture result) {
  fw::Object* object = reinterpret_cast<fw::Object*>(result);
  if (!object) return nullptr;
  auto* picture = dynamic_cast<fw::Picture*>(object);
  if (!picture) {
    object->Release();
    throw fw::IllegalCastException("a plug-in returned an object that is not a picture");
  }
  return fw::Ref<fw::Picture>::Adopt(picture);
}

}  // namespace bindings
