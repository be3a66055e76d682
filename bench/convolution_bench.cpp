// The convolution plug-in's Sharpen (and Smooth, whose divisor is no power of two) on a 4096 x 4096 32-bit
// picture, on one thread and on all. Each iteration includes making and freeing the result picture, as a
// caller pays for both. bench/convolution_peer.py times a general-purpose library on the same job.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <string>

#include "framework/Picture.h"
#include "framework/PluginHost.h"
#include "framework/PluginObject.h"
#include "imagefilter/MPImageFilter.h"

namespace {

constexpr std::int32_t kSide = 4096;

using FilterFn = REALpicture (*)(REALobject, REALpicture, REALpicture);
using SmoothFn = REALpicture (*)(REALobject, REALpicture, int32_t, REALpicture);

struct Convolution {
  fw::Ref<fw::PluginObject> effect;
  FilterFn sharpen = nullptr;
  SmoothFn smooth = nullptr;
};

// Loads the plug-ins the first time a benchmark runs, as the program does at start-up.
const Convolution& Plugin() {
  static const Convolution convolution = [] {
    fw::LoadPlugins(SPECKMOOR_PLUGIN_DIR);
    fw::RuntimeInitExternalClasses();
    Convolution c;
    c.sharpen = reinterpret_cast<FilterFn>(
        fw::RuntimeLookupPluginEntrypoint("ConvolutionEffect.Sharpen(source as Picture,mask as Picture) as Picture"));
    c.smooth = reinterpret_cast<SmoothFn>(fw::RuntimeLookupPluginEntrypoint(
        "ConvolutionEffect.Smooth(source as Picture,weight as Integer,mask as Picture) as Picture"));
    if (c.sharpen && c.smooth) c.effect = fw::PluginObject::New("ConvolutionEffect");
    return c;
  }();
  return convolution;
}

// False, with the run marked failed, when the plug-in isn't where the build puts it.
bool Ready(benchmark::State& state) {
  if (Plugin().effect) return true;
  state.SkipWithError("the convolution plug-in isn't in " SPECKMOOR_PLUGIN_DIR);
  return false;
}

REALpicture ToREAL(fw::Picture* picture) { return reinterpret_cast<REALpicture>(static_cast<fw::Object*>(picture)); }

void Release(REALpicture picture) {
  if (picture) reinterpret_cast<fw::Object*>(picture)->Release();
}

// Colours from a cheap generator, so nothing profits from runs of equal pixels.
fw::Picture* Source() {
  static fw::Ref<fw::Picture> picture = [] {
    fw::Ref<fw::Picture> p = fw::Picture::New(kSide, kSide, 32);
    std::uint32_t state = 0x9E3779B9u;
    for (std::int32_t y = 0; y < kSide; ++y) {
      std::uint8_t* row = p->Row(y);
      for (std::int32_t i = 0; i < kSide * 4; ++i) {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        row[i] = (i & 3) ? static_cast<std::uint8_t>(state) : 0;
      }
    }
    return p;
  }();
  return picture.get();
}

// Argument: the MultiprocessingHint, 1 for one thread, 0 for all.
void UseHint(benchmark::State& state) {
  MPImageFilterDataBefore(Plugin().effect->Data())->multiprocessingHint = static_cast<std::int32_t>(state.range(0));
}

void Finish(benchmark::State& state) {
  const double pixels = static_cast<double>(state.iterations()) * kSide * kSide;
  state.SetItemsProcessed(static_cast<std::int64_t>(pixels));
  state.counters["Mpx/s"] = benchmark::Counter(pixels / 1e6, benchmark::Counter::kIsRate);
}

void BM_Sharpen(benchmark::State& state) {
  if (!Ready(state)) return;
  UseHint(state);
  REALobject self = fw::ToREAL(Plugin().effect.get());
  REALpicture src = ToREAL(Source());
  for (auto _ : state) {
    REALpicture result = Plugin().sharpen(self, src, nullptr);
    benchmark::DoNotOptimize(result);
    Release(result);
  }
  Finish(state);
}

void BM_Smooth(benchmark::State& state) {
  if (!Ready(state)) return;
  UseHint(state);
  REALobject self = fw::ToREAL(Plugin().effect.get());
  REALpicture src = ToREAL(Source());
  for (auto _ : state) {
    REALpicture result = Plugin().smooth(self, src, 1, nullptr);
    benchmark::DoNotOptimize(result);
    Release(result);
  }
  Finish(state);
}

void Hints(benchmark::internal::Benchmark* b) {
  b->ArgName("hint")->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond)->UseRealTime();
}

BENCHMARK(BM_Sharpen)->Apply(Hints);
BENCHMARK(BM_Smooth)->Apply(Hints);

}  // namespace

BENCHMARK_MAIN();
