// Dither against a peer users would otherwise pick: a one-bit conversion in a common Python imaging
// library, on the same 4096 x 4096 picture in the same run. Prints both times and their ratio.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include <QImage>

#include "BenchSupport.h"
#include "engine/Speckmoor.h"
#include "framework/PictureFile.h"

namespace {

constexpr int kSide = 4096;
constexpr int kRuns = 9;

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

// The peer's median time in ms, or a negative number when it can't run here.
double PeerMilliseconds(const std::filesystem::path& png) {
  const std::string command =
      "/usr/bin/python3 " SPECKMOOR_BENCH_DIR "/compare_peer.py '" + png.string() + "' " + std::to_string(kRuns);
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return -1;
  char line[256] = {};
  const bool got = std::fgets(line, sizeof line, pipe) != nullptr;
  const int status = pclose(pipe);
  if (!got || status != 0) return -1;
  return std::atof(line);
}

}  // namespace

int main() {
  bench_support::StartApplication();
  fw::Ref<fw::Picture> input = bench_support::ColourPicture(kSide, kSide);
  const auto png = std::filesystem::temp_directory_path() / "speckmoor-compare.png";
  if (!fw::ImageFromPicture(*input).save(QString::fromStdString(png.string()), "PNG")) {
    std::fprintf(stderr, "cannot write %s\n", png.c_str());
    return 1;
  }
  fw::Ref<engine::Speckmoor> engine = fw::MakeRef<engine::Speckmoor>();
  for (bool contrast : {true, false}) {
    bench_support::SetOption("OptionsContrast", contrast);
    std::vector<double> times;
    for (int i = 0; i < kRuns; ++i) {
      const auto start = std::chrono::steady_clock::now();
      engine->Dither(input);
      times.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
    }
    std::printf("Dither %dx%d, Contrast %s: %.1f ms (%.0f Mpx/s)\n", kSide, kSide, contrast ? "on" : "off",
                Median(times), kSide * double(kSide) / Median(times) / 1000.0);
  }
  bench_support::SetOption("OptionsContrast", true);
  std::vector<double> ours;
  for (int i = 0; i < kRuns; ++i) {
    const auto start = std::chrono::steady_clock::now();
    engine->Dither(input);
    ours.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
  }
  const double peer = PeerMilliseconds(png);
  std::filesystem::remove(png);
  if (peer <= 0) {
    std::printf("peer skipped: python3-pil is not installed (apt-get install python3-pil)\n");
    return 0;
  }
  std::printf("peer convert('1'): %.1f ms\nratio Dither / peer: %.2f\n", peer, Median(ours) / peer);
  return 0;
}
