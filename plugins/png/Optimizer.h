// PNGOptimizerQZB.Optimize: a PNG rewritten losslessly in the smallest form found.
#pragma once

#include <string>

namespace pngfamily {

struct OptimizeOptions {
  bool colorTypeReduction = true;  // grey for grey RGB, no alpha when all opaque
  bool bitDepthReduction = true;   // 16 to 8 when exact, grey to 4, 2 or 1 bits when exact
  bool paletteReduction = true;    // a palette for 256 colours or fewer when that takes fewer bits
  bool force = false;              // write the result even when it isn't smaller than the input
};

// Decodes `input`, reduces what the options allow, tries filters and deflate settings side by side, checks
// that the smallest result decodes to the input's pixels and replaces `output` with it. When the result
// isn't smaller (and not forced) the output gets the input's bytes instead; forced, it gets them only when
// they are smaller and already as plain as the result (not interlaced, no other chunks). Keeps gAMA and
// drops other ancillary chunks. False for an unreadable or damaged input (nothing written) or an unwritable
// output.
bool OptimizeFile(const std::string& input, const std::string& output, const OptimizeOptions& options);

}  // namespace pngfamily
