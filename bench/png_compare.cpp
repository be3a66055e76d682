// The PNG family beside the optimiser users reach for (optipng -o1, -o2 and -o5, run on the same saved
// file when installed), on the engine's 4096 x 4096 result, on flat pages as scans and drawings give them
// (a white page, one-pixel stripes, a dithered page of text) and on real photographs dithered as a batch
// dithers them: the JPEGs a Debian package installs (mate-backgrounds' nature folder, else any under
// /usr/share/backgrounds, or those of the folder given as argument 2), skipped with a line when there
// are none. Every figure is the median of the runs (argument 1, default 3); ours and the peer's
// alternate, so the machine's load weighs on both alike. Our files are checked with pngcheck when it is
// installed. optipng keeps the saved file's data when it finds nothing smaller and drops a trial once it
// grows past it, so a more compact save makes the peer faster too.
#include <QFont>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "BenchSupport.h"
#include "bindings/PNG.h"
#include "engine/Speckmoor.h"
#include "framework/PictureFile.h"

namespace fs = std::filesystem;

namespace {

constexpr int kSide = 4096;
// The first of these folders that holds JPEGs; the first holds nothing but photographs.
constexpr const char* kPhotographFolders[] = {"/usr/share/backgrounds/mate/nature", "/usr/share/backgrounds"};
constexpr std::size_t kMaxPhotographs = 12;
// Larger photographs only add minutes of optipng: the engine's result already stands for the large case.
constexpr std::int64_t kMaxPhotographPixels = 5'000'000;
constexpr const char* kPeerLevels[] = {"-o1", "-o2", "-o5"};
constexpr std::size_t kPeers = std::size(kPeerLevels);

bool Installed(const char* tool) {
  return std::system((std::string("command -v ") + tool + " >/dev/null 2>&1").c_str()) == 0;
}

std::string Quoted(const fs::path& path) {
  std::string quoted = path.string();
  quoted.insert(quoted.begin(), '\'');
  quoted.push_back('\'');
  return quoted;
}

double Milliseconds(const std::function<void()>& f) {
  const auto start = std::chrono::steady_clock::now();
  f();
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

struct Figure {
  double bytes = 0;
  double ms = 0;
  Figure& operator+=(const Figure& f) {
    bytes += f.bytes;
    ms += f.ms;
    return *this;
  }
};

struct Figures {
  Figure save, optimise;
  Figure peers[kPeers];
};

// Each step's times over `runs` rounds, one step after the other within a round.
class Round {
 public:
  void Add(std::function<fs::path()> step) { steps_.push_back({std::move(step), {}, {}}); }
  std::vector<Figure> Run(int runs) {
    for (int r = 0; r < runs; ++r)
      for (Step& s : steps_) s.ms.push_back(Milliseconds([&] { s.file = s.step(); }));
    std::vector<Figure> figures;
    for (const Step& s : steps_)
      figures.push_back({static_cast<double>(fs::file_size(s.file)), Median(s.ms)});
    return figures;
  }

 private:
  struct Step {
    std::function<fs::path()> step;
    std::vector<double> ms;
    fs::path file;
  };
  std::vector<Step> steps_;
};

// Saves, optimises and runs the peers on one picture, and checks our two files.
Figures Measure(const fw::Ref<fw::Picture>& picture, const fs::path& dir, int runs, bool peer, bool check) {
  const fs::path saved = dir / "saved.png", optimised = dir / "optimised.png";
  auto savedItem = fw::MakeRef<fw::FolderItem>(saved);
  fw::Ref<bindings::PNGOptimizerQZB> optimizer = bindings::PNGOptimizerQZB::New();
  optimizer->SetForce(true);
  optimizer->SetInputFile(savedItem);
  optimizer->SetOutputFile(fw::MakeRef<fw::FolderItem>(optimised));
  Round round;
  round.Add([&] {
    if (!bindings::SaveAsPNGQZB(savedItem, picture, 1.0f)) std::fprintf(stderr, "SaveAsPNGQZB failed\n");
    return saved;
  });
  round.Add([&] {
    if (!optimizer->Optimize()) std::fprintf(stderr, "Optimize failed\n");
    return optimised;
  });
  if (peer)
    for (const char* level : kPeerLevels)
      round.Add([&dir, &saved, level] {
        const fs::path out = dir / (std::string("optipng") + level + ".png");
        fs::remove(out);
        const std::string command =
            std::string("optipng -quiet ") + level + " -out " + Quoted(out) + " " + Quoted(saved);
        if (std::system(command.c_str()) != 0) std::fprintf(stderr, "optipng %s failed\n", level);
        return out;
      });
  const std::vector<Figure> f = round.Run(runs);
  if (check)
    for (const fs::path& file : {saved, optimised})
      if (std::system(("pngcheck -q " + Quoted(file) + " >/dev/null").c_str()) != 0)
        std::printf("pngcheck FAILED on %s\n", file.filename().c_str());
  Figures out{.save = f[0], .optimise = f[1], .peers = {}};
  if (peer)
    for (std::size_t i = 0; i < kPeers; ++i) out.peers[i] = f[2 + i];
  return out;
}

void PrintLine(const char* what, const Figure& f, const Figure* o2, const Figure* o5) {
  std::printf("  %-13s %10.0f B %9.1f ms", what, f.bytes, f.ms);
  if (o5) std::printf("   bytes/-o5 %.4f", f.bytes / o5->bytes);
  if (o2) std::printf("   ms/-o2 %.3f", f.ms / o2->ms);
  std::printf("\n");
}

void Print(const std::string& name, const Figures& f, bool peer) {
  std::printf("%s\n", name.c_str());
  const Figure* o2 = peer ? &f.peers[1] : nullptr;
  const Figure* o5 = peer ? &f.peers[2] : nullptr;
  PrintLine("SaveAsPNGQZB", f.save, o2, o5);
  PrintLine("Optimize", f.optimise, o2, o5);
  // What File > "Save..." does: both, the file it leaves being the optimiser's.
  PrintLine("Save", {f.optimise.bytes, f.save.ms + f.optimise.ms}, o2, o5);
  if (peer) {
    for (std::size_t i = 0; i < kPeers; ++i)
      PrintLine((std::string("optipng ") + kPeerLevels[i]).c_str(), f.peers[i], nullptr, nullptr);
    std::printf("  SaveAsPNGQZB bytes/-o1 %.4f\n", f.save.bytes / f.peers[0].bytes);
  }
}

fw::Ref<fw::Picture> Dithered(engine::Speckmoor& engine, const fw::Ref<fw::Picture>& picture) {
  engine.Dither(picture);
  return engine.buffer.Load();
}

fw::Ref<fw::Picture> WhitePage(int width, int height) {
  QImage image(width, height, QImage::Format_RGB32);
  image.fill(Qt::white);
  return fw::PictureFromImage(image);
}

// Black and white rows one pixel high.
fw::Ref<fw::Picture> Stripes(int width, int height) {
  QImage image(width, height, QImage::Format_RGB32);
  for (int y = 0; y < height; ++y)
    std::fill_n(reinterpret_cast<QRgb*>(image.scanLine(y)), width,
                y % 2 ? qRgb(255, 255, 255) : qRgb(0, 0, 0));
  return fw::PictureFromImage(image);
}

// An A4 page at 300 dpi of smoothed grey text in a few sizes, as a scan gives it; nil without fonts.
fw::Ref<fw::Picture> TextPage() {
  QImage image(2480, 3508, QImage::Format_RGB32);
  image.fill(Qt::white);
  QPainter painter(&image);
  painter.setRenderHint(QPainter::TextAntialiasing);
  painter.setPen(QColor(40, 40, 40));
  const QString words = QStringLiteral(
      "The quick brown fox jumps over the lazy dog while a grey cat watches from the garden wall. "
      "Pack my box with five dozen liquor jugs, and sphinx of black quartz, judge my vow. ");
  int y = 240;
  for (int pointSize : {28, 11, 11, 9, 11, 16, 11, 9}) {
    QFont font(QStringLiteral("DejaVu Serif"));
    font.setPixelSize(pointSize * 300 / 72);
    painter.setFont(font);
    const int line = painter.fontMetrics().lineSpacing();
    for (int i = 0; i < (pointSize > 20 ? 1 : 12) && y + line < image.height() - 240; ++i, y += line)
      painter.drawText(QRect(240, y, image.width() - 480, line), Qt::AlignLeft | Qt::AlignVCenter,
                       words.mid((i * 37) % words.size()) + words);
    y += line;
  }
  painter.end();
  // Qt draws nothing where it finds no font.
  for (int row = 0; row < image.height(); ++row)
    for (int x = 0; x < image.width(); ++x)
      if (qGray(image.pixel(x, row)) < 128) return fw::PictureFromImage(image);
  return nullptr;
}

// The JPEGs under a folder, in name order.
std::vector<fs::path> Photographs(const fs::path& folder) {
  std::vector<fs::path> found;
  std::error_code ec;
  for (fs::recursive_directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    std::string extension = it->path().extension().string();
    std::transform(extension.begin(), extension.end(), extension.begin(), ::tolower);
    if (it->is_regular_file(ec) && (extension == ".jpg" || extension == ".jpeg")) found.push_back(it->path());
  }
  std::sort(found.begin(), found.end());
  return found;
}

}  // namespace

int main(int argc, char** argv) {
  const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  QGuiApplication application(argc, argv);  // the text page's fonts
  bench_support::StartApplication();
  bench_support::SetOption("OptionsContrast", true);  // as in every new window
  fw::Ref<engine::Speckmoor> engine = fw::MakeRef<engine::Speckmoor>();
  const bool peer = Installed("optipng");
  const bool check = Installed("pngcheck");
  if (!peer) std::printf("peer skipped: optipng is not installed (apt-get install optipng)\n");
  if (!check) std::printf("validity not checked: pngcheck is not installed (apt-get install pngcheck)\n");
  std::printf("median of %d runs\n\n", runs);

  std::string templ = (fs::temp_directory_path() / "speckmoor-png-compare-XXXXXX").string();
  if (!mkdtemp(templ.data())) {
    std::perror("mkdtemp");
    return 1;
  }
  const fs::path dir = templ;

  Print("engine result " + std::to_string(kSide) + "x" + std::to_string(kSide),
        Measure(Dithered(*engine, bench_support::ColourPicture(kSide, kSide)), dir, runs, peer, check), peer);

  std::printf("\n");
  Print("white page 4000x4000", Measure(Dithered(*engine, WhitePage(4000, 4000)), dir, runs, peer, check),
        peer);
  std::printf("\n");
  Print("stripes 3000x3000", Measure(Dithered(*engine, Stripes(3000, 3000)), dir, runs, peer, check), peer);
  std::printf("\n");
  if (fw::Ref<fw::Picture> text = TextPage())
    Print("text page 2480x3508", Measure(Dithered(*engine, text), dir, runs, peer, check), peer);
  else
    std::printf("text page skipped: Qt found no font (apt-get install fonts-dejavu-core)\n");

  std::vector<fs::path> photographs;
  if (argc > 2)
    photographs = Photographs(argv[2]);
  else
    for (const char* folder : kPhotographFolders)
      if (photographs.empty()) photographs = Photographs(folder);
  Figures total{};
  std::size_t count = 0;
  for (const fs::path& path : photographs) {
    if (count == kMaxPhotographs) break;
    fw::Ref<fw::Picture> photograph = fw::DecodePictureFile(path);
    if (!photograph || std::int64_t{photograph->Width()} * photograph->Height() > kMaxPhotographPixels)
      continue;
    const Figures f = Measure(Dithered(*engine, photograph), dir, runs, peer, check);
    std::printf("\n");
    Print(path.filename().string() + " " + std::to_string(photograph->Width()) + "x" +
              std::to_string(photograph->Height()),
          f, peer);
    total.save += f.save;
    total.optimise += f.optimise;
    for (std::size_t i = 0; i < kPeers; ++i) total.peers[i] += f.peers[i];
    ++count;
  }
  std::printf("\n");
  if (count == 0)
    std::printf(
        "photographs skipped: no JPEG of at most %lld pixels under %s (apt-get install mate-backgrounds)\n",
        static_cast<long long>(kMaxPhotographPixels), argc > 2 ? argv[2] : kPhotographFolders[1]);
  else
    Print("all " + std::to_string(count) + " photographs", total, peer);
  fs::remove_all(dir);
  return 0;
}
