// The picture pipeline on arbitrary bytes: decode, the image-filter and convolution plug-ins, the engine,
// PNG out and back in. Whatever decodes must come out black and white and survive the round trip.
#include <stdlib.h>

#include <QByteArray>
#include <QGuiApplication>
#include <cstdint>
#include <cstdio>
#include <filesystem>

#include "app/App.h"
#include "app/Menu.h"
#include "bindings/ConvolutionEffect.h"
#include "bindings/ImageFilter.h"
#include "bindings/PNG.h"
#include "bindings/PluginEntryTable.h"
#include "engine/Speckmoor.h"
#include "framework/FolderItem.h"
#include "framework/PictureFile.h"
#include "framework/PluginHost.h"

namespace {

constexpr std::size_t kMaxInput = 1 << 20;
constexpr std::int64_t kMaxPixels = 4 << 20;

std::filesystem::path g_output;

[[noreturn]] void Fail(const char* what) {
  std::fprintf(stderr, "picture_fuzzer: %s\n", what);
  abort();
}

bool BlackOrWhite(const std::uint8_t* p) {
  return (p[1] == 0 && p[2] == 0 && p[3] == 0) || (p[1] == 255 && p[2] == 255 && p[3] == 255);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  static QGuiApplication app(*argc, *argv);
  fw::LoadPlugins(SPECKMOOR_PLUGIN_DIR);
  if (!fw::PluginLoadFailures().empty()) Fail("a plug-in did not load");
  fw::RuntimeInitExternalClasses();
  bindings::BindPluginEntryTable();
  if (!bindings::UnboundPluginEntries().empty()) Fail("the routine table has empty slots");
  app::_NewAppInstance();
  char folder[] = "/tmp/speckmoor-fuzz-XXXXXX";
  if (!mkdtemp(folder)) Fail("no temporary folder");
  g_output = std::filesystem::path(folder) / "out.png";
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0 || size > kMaxInput) return 0;
  fw::Ref<fw::Picture> picture =
      fw::DecodePictureBytes(QByteArray(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size)));
  if (!picture) return 0;
  if (std::int64_t{picture->Width()} * picture->Height() > kMaxPixels) return 0;

  // The plug-in routines on their own, as the engine calls them.
  fw::Ref<fw::Picture> bits = bindings::EnsurePictureBits(picture, 32);
  if (!bits || bits->Width() != picture->Width() || bits->Height() != picture->Height()) Fail("EnsurePictureBits");
  fw::Ref<fw::Picture> grey = bindings::GrayScale(bits, 3, nullptr, nullptr);
  if (!grey || grey->Width() != picture->Width() || grey->Height() != picture->Height()) Fail("GrayScale");
  fw::Ref<fw::Picture> sharp = bindings::ConvolutionEffect::New()->Sharpen(grey, nullptr);
  if (!sharp || sharp->Width() != picture->Width() || sharp->Height() != picture->Height()) Fail("Sharpen");

  // The options follow the last byte, so that every combination is reached.
  app::MenuInstance()->_Lookup("OptionsContrast")->SetChecked(data[size - 1] & 1);
  app::MenuInstance()->_Lookup("OptionSharpen")->SetChecked(data[size - 1] & 2);
  fw::Ref<engine::Speckmoor> engine = fw::MakeRef<engine::Speckmoor>();
  engine->Dither(picture);
  fw::Ref<fw::Picture> result = engine->buffer.Load();
  if (!result || result->Width() != picture->Width() || result->Height() != picture->Height()) Fail("Dither");
  for (int y = 0; y < result->Height(); ++y)
    for (int x = 0; x < result->Width(); ++x)
      if (!BlackOrWhite(result->Row(y) + 4 * x)) Fail("a pixel is neither black nor white");

  if (!bindings::SaveAsPNGQZB(fw::MakeRef<fw::FolderItem>(g_output), result, 1.0f)) Fail("SaveAsPNGQZB");
  fw::Ref<fw::Picture> back = fw::DecodePictureFile(g_output);
  if (!back || back->Width() != result->Width() || back->Height() != result->Height()) Fail("the PNG does not decode");
  for (int y = 0; y < result->Height(); ++y)
    for (int x = 0; x < result->Width(); ++x) {
      const std::uint8_t* a = result->Row(y) + 4 * x;
      const std::uint8_t* b = back->Row(y) + 4 * x;
      if (a[1] != b[1] || a[2] != b[2] || a[3] != b[3]) Fail("the PNG holds other pixels than the engine made");
    }
  return 0;
}
