// The convolution plug-in: ConvolutionEffect, an MPImageFilter with six fixed 3x3 kernels and one taken
// from a matrix object.
#include <cstdint>
#include <cstring>

#include "ConvolutionCore.h"
#include "kit/Kit.h"

extern "C" {
SPECKMOOR_PLUGIN_EXPORT REALResolver gResolver = nullptr;
// Where a matrix object's own data begins; stays 0 when the framework is too old to register the class.
SPECKMOOR_PLUGIN_EXPORT int32_t gClassOffset = 0;
}

namespace kernwell {
namespace {

// Word 0 of a matrix object's data; anything else is not a matrix.
constexpr std::uint32_t kMatrixTag = 0xAB00F208u;
// The tag, a word not used here, the nine coefficients, the divisor, the offset.
constexpr std::int32_t kMatrixBytes = 13 * sizeof(std::int32_t);

template <typename F>
REALproc Proc(F* function) {
  return reinterpret_cast<REALproc>(function);
}

REALpicture ApplySmooth(REALobject self, REALpicture source, int32_t weight, REALpicture mask) {
  // The divisor wraps as 32-bit arithmetic does; a weight of -8 gives 0 and is refused like any 0.
  const auto divisor = static_cast<std::int32_t>(static_cast<std::uint32_t>(weight) + 8u);
  const ConvMatrix kernel{{1, 1, 1, 1, weight, 1, 1, 1, 1}, divisor, 0};
  return ApplyMatrix(self, source, kernel, mask);
}

REALpicture ApplySharpen(REALobject self, REALpicture source, REALpicture mask) {
  const ConvMatrix kernel{{-1, -2, -1, -2, 16, -2, -1, -2, -1}, 4, 0};
  return ApplyMatrix(self, source, kernel, mask);
}

REALpicture ApplyEdgeDetect(REALobject self, REALpicture source, REALpicture mask) {
  const ConvMatrix kernel{{-1, -1, -1, -1, 8, -1, -1, -1, -1}, 1, 0};
  return ApplyMatrix(self, source, kernel, mask);
}

REALpicture ApplyBlur(REALobject self, REALpicture source, REALpicture mask) {
  const ConvMatrix kernel{{1, 2, 1, 2, 4, 2, 1, 2, 1}, 16, 0};
  return ApplyMatrix(self, source, kernel, mask);
}

REALpicture ApplyMeanRemoval(REALobject self, REALpicture source, REALpicture mask) {
  const ConvMatrix kernel{{-1, -1, -1, -1, 9, -1, -1, -1, -1}, 1, 0};
  return ApplyMatrix(self, source, kernel, mask);
}

REALpicture ApplyEmboss(REALobject self, REALpicture source, REALpicture mask) {
  const ConvMatrix kernel{{-1, 0, -1, 0, 4, 0, -1, 0, -1}, 1, 127};
  return ApplyMatrix(self, source, kernel, mask);
}

// Neither a nil, an untagged nor a too small object touches ErrorCode. The words are read only from an
// object whose class holds them all; a framework that can't tell gives 0, and the object counts as small.
REALpicture ApplyMatrixObject(REALobject self, REALpicture source, REALobject matrix, REALpicture mask) {
  if (!matrix || kit::REALObjectDataSize(matrix) < kMatrixBytes) return nullptr;
  const auto* data = reinterpret_cast<const unsigned char*>(matrix) + gClassOffset;
  std::uint32_t tag = 0;
  std::memcpy(&tag, data, sizeof tag);
  if (tag != kMatrixTag) return nullptr;
  ConvMatrix kernel;
  std::memcpy(&kernel, data + 2 * sizeof(std::int32_t), sizeof kernel);
  return ApplyMatrix(self, source, kernel, mask);
}

// Slot order is the program's: its class table calls these by position.
REALmethodDefinition ConvolutionMethods[] = {
    {Proc(&ApplySmooth), nullptr, "Smooth(source as Picture,weight as Integer,mask as Picture) as Picture", 0, 0},
    {Proc(&ApplySharpen), nullptr, "Sharpen(source as Picture,mask as Picture) as Picture", 0, 0},
    {Proc(&ApplyEdgeDetect), nullptr, "EdgeDetect(source as Picture,mask as Picture) as Picture", 0, 0},
    {Proc(&ApplyBlur), nullptr, "Blur(source as Picture,mask as Picture) as Picture", 0, 0},
    {Proc(&ApplyMeanRemoval), nullptr, "MeanRemoval(source as Picture,mask as Picture) as Picture", 0, 0},
    {Proc(&ApplyEmboss), nullptr, "Emboss(source as Picture,mask as Picture) as Picture", 0, 0},
    {Proc(&ApplyMatrixObject), nullptr,
     "ApplyMatrix(source as Picture,matrix as Object,mask as Picture) as Picture", 0, 0},
};
constexpr std::int32_t kMethodCount = sizeof ConvolutionMethods / sizeof ConvolutionMethods[0];
static_assert(kMethodCount == 7, "seven methods");

// The host writes where the data lies into forSystemUse, so the record stays writable. The four bytes of
// own data are unused: MPImageFilter's words in front of them carry all the state.
REALclassDefinition gClass = {
    .version = kREALClassDefinitionVersion,
    .name = "ConvolutionEffect",
    .superName = "MPImageFilter",
    .dataSize = 4,
    .forSystemUse = 0,
    .methods = ConvolutionMethods,
    .methodCount = kMethodCount,
};

}  // namespace

MPImageFilterData* FilterData(REALobject self) {
  return MPImageFilterDataBefore(kit::REALGetClassData(self, &gClass));
}

}  // namespace kernwell

extern "C" {
// For the tests: the record the host places, to see whether a load registered it.
SPECKMOOR_PLUGIN_EXPORT const REALclassDefinition* KernwellClassRecord() { return &kernwell::gClass; }
// For the tests: whether this process asked for the baseline rows.
SPECKMOOR_PLUGIN_EXPORT bool KernwellBaselineRowsAsked() { return kernwell::BaselineRowsAsked(); }
}

void REALPluginMain(REALResolver resolver) {
  gResolver = resolver;
  kit::REALRegisterPluginVersion(6);
  // The matrix offset and the data layout this class relies on hold from 5.5 on; earlier frameworks get no class.
  if (kit::REALGetRBVersion() < 5.5) return;
  gClassOffset = 24;
  kit::REALRegisterClass(&kernwell::gClass);
}
