// The PNG plug-in family on dithered pictures: saving a 4096 x 4096 one and a 64 x 48 one (a batch of icons
// writes thousands) as PNG, and optimising the large saved file. Both include writing the file and flushing
// it to the disk, as a caller pays for both.
#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <string>

#include "framework/FolderItem.h"
#include "framework/Picture.h"
#include "framework/PluginHost.h"
#include "framework/PluginObject.h"

namespace {

constexpr std::int32_t kSide = 4096;
constexpr std::int32_t kIconWidth = 64, kIconHeight = 48;

using SaveFn = bool (*)(REALfolderItem, REALpicture, float);
using OptimizeFn = bool (*)(REALobject);

struct Routines {
  SaveFn save = nullptr;
  OptimizeFn optimize = nullptr;
};

// Loads the plug-ins the first time a benchmark runs, as the program does at start-up.
const Routines& Family() {
  static const Routines routines = [] {
    fw::LoadPlugins(SPECKMOOR_PLUGIN_DIR);
    fw::RuntimeInitExternalClasses();
    Routines r;
    r.save = reinterpret_cast<SaveFn>(fw::RuntimeLookupPluginEntrypoint(
        "Folderitem.SaveAsPNGQZB(pic as picture, gamma as single) as boolean"));
    r.optimize = reinterpret_cast<OptimizeFn>(
        fw::RuntimeLookupPluginEntrypoint("PNGOptimizerQZB.Optimize as boolean"));
    return r;
  }();
  return routines;
}

bool Ready(benchmark::State& state) {
  if (Family().save && Family().optimize) return true;
  state.SkipWithError("the PNG plug-in isn't in " SPECKMOOR_PLUGIN_DIR);
  return false;
}

// A private folder for the files, removed at exit.
const std::filesystem::path& Folder() {
  static const std::filesystem::path folder = [] {
    std::string templ = (std::filesystem::temp_directory_path() / "speckmoor-png-bench-XXXXXX").string();
    return mkdtemp(templ.data()) ? std::filesystem::path(templ) : std::filesystem::path();
  }();
  // Registered once the path exists, so the removal runs before the path itself is destroyed.
  static const int removal = std::atexit([] {
    std::error_code ec;
    if (!folder.empty()) std::filesystem::remove_all(folder, ec);
  });
  (void)removal;
  return folder;
}

// A dither of a smooth ramp with error-diffusion-like noise: black and white only, no long runs.
fw::Ref<fw::Picture> MakeDithered(std::int32_t width, std::int32_t height) {
  fw::Ref<fw::Picture> p = fw::Picture::New(width, height, 32);
  std::uint32_t state = 0x9E3779B9u;
  for (std::int32_t y = 0; y < height; ++y) {
    std::uint8_t* row = p->Row(y);
    for (std::int32_t x = 0; x < width; ++x) {
      state ^= state << 13;
      state ^= state >> 17;
      state ^= state << 5;
      const std::uint32_t level =
          static_cast<std::uint32_t>(x + y) * 255 / static_cast<std::uint32_t>(width + height);
      const std::uint8_t v = (state & 255) < level ? 255 : 0;
      row[x * 4] = 0;
      row[x * 4 + 1] = row[x * 4 + 2] = row[x * 4 + 3] = v;
    }
  }
  return p;
}

fw::Picture* Dithered() {
  static fw::Ref<fw::Picture> picture = MakeDithered(kSide, kSide);
  return picture.get();
}

fw::Picture* DitheredIcon() {
  static fw::Ref<fw::Picture> picture = MakeDithered(kIconWidth, kIconHeight);
  return picture.get();
}

REALfolderItem ToREAL(fw::FolderItem* item) {
  return reinterpret_cast<REALfolderItem>(static_cast<fw::Object*>(item));
}
REALpicture ToREAL(fw::Picture* picture) {
  return reinterpret_cast<REALpicture>(static_cast<fw::Object*>(picture));
}

void Save(benchmark::State& state, fw::Picture* source, const char* name) {
  if (!Ready(state)) return;
  auto target = fw::MakeRef<fw::FolderItem>(Folder() / name);
  REALpicture picture = ToREAL(source);
  for (auto _ : state) {
    if (!Family().save(ToREAL(target.get()), picture, 1.0f)) {
      state.SkipWithError("SaveAsPNGQZB failed");
      return;
    }
  }
  state.counters["bytes"] = static_cast<double>(std::filesystem::file_size(target->NativePath()));
  state.SetItemsProcessed(state.iterations() * std::int64_t{source->Width()} * source->Height());
}

void BM_SaveAsPNG(benchmark::State& state) { Save(state, Dithered(), "saved.png"); }
void BM_SaveAsPNGIcon(benchmark::State& state) { Save(state, DitheredIcon(), "icon.png"); }

void BM_Optimize(benchmark::State& state) {
  if (!Ready(state)) return;
  const auto input = Folder() / "dither.png";
  auto source = fw::MakeRef<fw::FolderItem>(input);
  if (!Family().save(ToREAL(source.get()), ToREAL(Dithered()), 1.0f)) {
    state.SkipWithError("SaveAsPNGQZB failed");
    return;
  }
  fw::Ref<fw::PluginObject> optimizer = fw::PluginObject::New("PNGOptimizerQZB");
  optimizer->SetStoredObject("InputFile", source);
  optimizer->SetStoredObject("OutputFile", fw::MakeRef<fw::FolderItem>(Folder() / "optimised.png"));
  optimizer->SetStoredBoolean("Force", true);
  for (auto _ : state) {
    if (!Family().optimize(fw::ToREAL(optimizer.get()))) {
      state.SkipWithError("Optimize failed");
      return;
    }
  }
  state.counters["input_bytes"] = static_cast<double>(std::filesystem::file_size(input));
  state.counters["bytes"] = static_cast<double>(std::filesystem::file_size(Folder() / "optimised.png"));
  state.SetItemsProcessed(state.iterations() * std::int64_t{kSide} * kSide);
}

BENCHMARK(BM_SaveAsPNG)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_SaveAsPNGIcon)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(BM_Optimize)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
