// The dithering engine on a 4096 x 4096 colour picture: the whole Dither call and the pixel loop alone.
#include <benchmark/benchmark.h>

#include <cstring>
#include <mutex>
#include <random>

#include "BenchSupport.h"
#include "bindings/ImageFilter.h"
#include "engine/Speckmoor.h"

namespace {

constexpr int kSide = 4096;

void Dither(benchmark::State& state) {
  bench_support::StartApplication();
  bench_support::SetOption("OptionsContrast", state.range(0) != 0);
  bench_support::SetOption("OptionSharpen", false);
  fw::Ref<fw::Picture> input = bench_support::ColourPicture(kSide, kSide);
  fw::Ref<engine::Speckmoor> engine = fw::MakeRef<engine::Speckmoor>();
  for (auto _ : state) {
    engine->Dither(input);
    benchmark::DoNotOptimize(engine->buffer.Load().get());
  }
  state.SetItemsProcessed(state.iterations() * kSide * kSide);
}

void PixelLoop(benchmark::State& state) {
  bench_support::StartApplication();
  fw::Ref<fw::Picture> grey =
      bindings::GrayScale(bindings::EnsurePictureBits(bench_support::ColourPicture(kSide, kSide), 32), 3, nullptr, nullptr);
  fw::Ref<fw::Picture> working = fw::NewPicture(kSide, kSide, 32);
  fw::Ref<fw::Picture> result = fw::NewPicture(kSide, kSide, 32);
  const double factor = state.range(0) ? engine::kContrastFactor : engine::kFullFactor;
  const auto bytes = static_cast<std::size_t>(grey->RowBytes()) * kSide;
  for (auto _ : state) {
    state.PauseTiming();
    std::memcpy(working->Bits(), grey->Bits(), bytes);
    state.ResumeTiming();
    engine::DiffuseError(*working, *result, factor);
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * kSide * kSide);
}

}  // namespace

BENCHMARK(Dither)->ArgName("contrast")->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(PixelLoop)->ArgName("contrast")->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_MAIN();
