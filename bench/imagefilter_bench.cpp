// The image-filter plug-in's pixel routines on a 4096 x 4096 picture, on all threads and on one.
// Each iteration includes making and freeing the result picture, as a caller pays for both.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdlib>
#include <string>

#include "framework/Picture.h"
#include "framework/PluginHost.h"

namespace {

constexpr std::int32_t kSide = 4096;

using EnsurePictureBitsFn = REALpicture (*)(REALpicture, int32_t);
using GrayScaleFn = REALpicture (*)(REALpicture, int32_t, REALpicture, REALobject);

struct Routines {
  EnsurePictureBitsFn ensure = nullptr;
  GrayScaleFn gray = nullptr;
};

// Loads the plug-ins the first time a benchmark runs, as the program does at start-up.
const Routines& ImageFilter() {
  static const Routines routines = [] {
    fw::LoadPlugins(SPECKMOOR_PLUGIN_DIR);
    Routines r;
    r.ensure = reinterpret_cast<EnsurePictureBitsFn>(
        fw::RuntimeLookupPluginEntrypoint("EnsurePictureBits(src as Picture,depth as Integer) as Picture"));
    r.gray = reinterpret_cast<GrayScaleFn>(fw::RuntimeLookupPluginEntrypoint(
        "GrayScale(src as Picture,grayscaleTypeValue as Integer,mask as Picture,progress as IProgressHandler) as "
        "Picture"));
    return r;
  }();
  return routines;
}

// False, with the run marked failed, when the plug-in isn't where the build puts it.
bool Ready(benchmark::State& state) {
  if (ImageFilter().ensure && ImageFilter().gray) return true;
  state.SkipWithError("the image-filter plug-in isn't in " SPECKMOOR_PLUGIN_DIR);
  return false;
}

REALpicture ToREAL(fw::Picture* picture) { return reinterpret_cast<REALpicture>(static_cast<fw::Object*>(picture)); }

void Release(REALpicture picture) {
  if (picture) reinterpret_cast<fw::Object*>(picture)->Release();
}

// Colours from a cheap generator, so neither routine sees runs it could profit from.
fw::Ref<fw::Picture> Noise(std::int32_t depth) {
  fw::Ref<fw::Picture> picture = fw::Picture::New(kSide, kSide, depth);
  std::uint32_t state = 0x9E3779B9u;
  for (std::int32_t y = 0; y < kSide; ++y) {
    std::uint8_t* row = picture->Row(y);
    for (std::int32_t i = 0; i < kSide * picture->BytesPerPixel(); ++i) {
      state ^= state << 13;
      state ^= state >> 17;
      state ^= state << 5;
      row[i] = static_cast<std::uint8_t>(state);
    }
    if (depth == 32)
      for (std::int32_t x = 0; x < kSide; ++x) row[x * 4] = 0;
  }
  return picture;
}

fw::Picture* Source(std::int32_t depth) {
  static fw::Ref<fw::Picture> rgb = Noise(24);
  static fw::Ref<fw::Picture> xrgb = Noise(32);
  return depth == 24 ? rgb.get() : xrgb.get();
}

// Argument 0: all threads; n: at most n threads, through the dispatcher's benchmarking variable.
void UseThreads(benchmark::State& state) {
  const auto threads = state.range(0);
  if (threads > 0)
    setenv("SPECKMOOR_BAND_THREADS", std::to_string(threads).c_str(), 1);
  else
    unsetenv("SPECKMOOR_BAND_THREADS");
}

void Finish(benchmark::State& state) {
  state.SetItemsProcessed(state.iterations() * std::int64_t{kSide} * kSide);
  unsetenv("SPECKMOOR_BAND_THREADS");
}

void BM_GrayScale(benchmark::State& state) {
  if (!Ready(state)) return;
  UseThreads(state);
  REALpicture src = ToREAL(Source(32));
  for (auto _ : state) {
    REALpicture grey = ImageFilter().gray(src, 3, nullptr, nullptr);
    benchmark::DoNotOptimize(grey);
    Release(grey);
  }
  Finish(state);
}

void BM_EnsurePictureBits24To32(benchmark::State& state) {
  if (!Ready(state)) return;
  UseThreads(state);
  REALpicture src = ToREAL(Source(24));
  for (auto _ : state) {
    REALpicture wide = ImageFilter().ensure(src, 32);
    benchmark::DoNotOptimize(wide);
    Release(wide);
  }
  Finish(state);
}

// What the program does before dithering a 32-bit picture: make sure of the depth, then grey it.
void BM_EnsureThenGrayScale(benchmark::State& state) {
  if (!Ready(state)) return;
  UseThreads(state);
  REALpicture src = ToREAL(Source(32));
  for (auto _ : state) {
    REALpicture wide = ImageFilter().ensure(src, 32);
    REALpicture grey = ImageFilter().gray(wide, 3, nullptr, nullptr);
    benchmark::DoNotOptimize(grey);
    Release(grey);
    Release(wide);
  }
  Finish(state);
}

void Threads(benchmark::internal::Benchmark* b) {
  b->ArgName("threads")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();
}

BENCHMARK(BM_GrayScale)->Apply(Threads);
BENCHMARK(BM_EnsurePictureBits24To32)->Apply(Threads);
BENCHMARK(BM_EnsureThenGrayScale)->Apply(Threads);

}  // namespace

BENCHMARK_MAIN();
