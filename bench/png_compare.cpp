// The PNG family on the engine's 4096 x 4096 result, beside the optimiser users reach for (optipng,
// run on the same input file when it is installed).
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "BenchSupport.h"
#include "bindings/PNG.h"
#include "engine/Speckmoor.h"

namespace fs = std::filesystem;

namespace {

template <typename F>
double Seconds(F&& f) {
  const auto start = std::chrono::steady_clock::now();
  f();
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace

int main() {
  bench_support::StartApplication();
  bench_support::SetOption("OptionsContrast", true);
  fw::Ref<engine::Speckmoor> engine = fw::MakeRef<engine::Speckmoor>();
  engine->Dither(bench_support::ColourPicture(4096, 4096));
  fw::Ref<fw::Picture> result = engine->buffer.Load();

  const fs::path dir = fs::temp_directory_path() / "speckmoor-png-compare";
  fs::create_directories(dir);
  auto input = fw::MakeRef<fw::FolderItem>(dir / "input.png");
  auto output = fw::MakeRef<fw::FolderItem>(dir / "optimised.png");
  const double save = Seconds([&] { bindings::SaveAsPNGQZB(input, result, 1.0f); });
  fw::Ref<bindings::PNGOptimizerQZB> optimizer = bindings::PNGOptimizerQZB::New();
  optimizer->SetForce(true);
  optimizer->SetInputFile(input);
  optimizer->SetOutputFile(output);
  const double optimise = Seconds([&] { optimizer->Optimize(); });
  std::printf("SaveAsPNGQZB: %.0f ms, %ju bytes\n", save * 1000, static_cast<std::uintmax_t>(fs::file_size(input->NativePath())));
  std::printf("Optimize:     %.0f ms, %ju bytes\n", optimise * 1000,
              static_cast<std::uintmax_t>(fs::file_size(output->NativePath())));
  if (std::system("command -v optipng >/dev/null 2>&1") != 0) {
    std::printf("peer skipped: optipng is not installed (apt-get install optipng)\n");
  } else {
    for (const char* level : {"-o2", "-o5"}) {
      const fs::path peer = dir / (std::string("optipng") + level + ".png");
      fs::remove(peer);
      const std::string command = std::string("optipng -quiet ") + level + " -out '" + peer.string() + "' '" +
                                  (dir / "input.png").string() + "'";
      const double t = Seconds([&] { (void)std::system(command.c_str()); });
      std::printf("optipng %s:  %.0f ms, %ju bytes\n", level, t * 1000, static_cast<std::uintmax_t>(fs::file_size(peer)));
    }
  }
  fs::remove_all(dir);
  return 0;
}
