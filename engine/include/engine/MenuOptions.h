// The application-level accessors of the two option items: looked up by name on the application's menu
// bar at every call, never cached.
#pragma once

#include "framework/MenuItem.h"

namespace engine {

fw::Ref<fw::MenuItem> OptionsContrast();
fw::Ref<fw::MenuItem> OptionSharpen();

}  // namespace engine
