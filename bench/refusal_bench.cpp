// How long refusing each decompression bomb and impossible header takes, through the file path the
// program opens pictures by; and, for scale, opening a 60-megapixel photograph.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <QGuiApplication>
#include <filesystem>
#include <fstream>

#include "HostileFiles.h"
#include "framework/PictureFile.h"

namespace {

std::filesystem::path Folder() {
  static const std::filesystem::path folder = [] {
    char templ[] = "/tmp/speckmoor-refusal-XXXXXX";
    if (!mkdtemp(templ)) std::abort();
    return std::filesystem::path(templ);
  }();
  return folder;
}

std::filesystem::path Write(const std::string& name, const std::string& bytes) {
  const auto path = Folder() / name;
  std::ofstream(path, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  return path;
}

void Refuse(benchmark::State& state, const hostile::Hostile& file) {
  const auto path = Write(file.name, file.bytes);
  for (auto _ : state) {
    fw::Ref<fw::Picture> p = fw::DecodePictureFile(path);
    if (p) state.SkipWithError("opened");
    benchmark::DoNotOptimize(p.get());
  }
}

void OpenPhotograph(benchmark::State& state) {
  const auto path = Write("photo.jpg", hostile::Encode(hostile::Smooth(9000, 6700), "jpeg", false, 90));
  for (auto _ : state) {
    fw::Ref<fw::Picture> p = fw::DecodePictureFile(path);
    if (!p) state.SkipWithError("refused");
    benchmark::DoNotOptimize(p.get());
  }
}

}  // namespace

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  QGuiApplication app(argc, argv);
  for (const hostile::Hostile& bomb : hostile::Bombs())
    benchmark::RegisterBenchmark(("Refuse/" + bomb.name).c_str(), Refuse, bomb)->Unit(benchmark::kMillisecond);
  benchmark::RegisterBenchmark("Open/photograph-9000x6700.jpg", OpenPhotograph)->Unit(benchmark::kMillisecond)->Iterations(3);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  std::filesystem::remove_all(Folder());
  return 0;
}
