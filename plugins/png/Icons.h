#pragma once

#include "kit/PluginABI.h"

namespace pngfamily {

void DrawWideIcon(REALfolderItem item, REALgraphics graphics, int32_t x, int32_t y, int32_t width,
                  int32_t windowsIconIndex);

}  // namespace pngfamily
