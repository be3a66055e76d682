// Folderitem.SaveAsPNGQZB: a picture written as PNG in place of a file, all at once or not at all.
#pragma once

#include "kit/PluginABI.h"

namespace pngfamily {

// Pure black-and-white pictures become 1-bit grey, all others 8-bit RGB. gamma > 0 (finite) is written
// as the file gamma in gAMA. False, with the target as it was, when anything fails.
bool SaveAsPNG(REALfolderItem target, REALpicture picture, float gamma);

}  // namespace pngfamily
