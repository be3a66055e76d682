// Folder batches through the real program, offscreen: a document window's batch side with its worker
// thread, engine and progress window, the dialogs answered as a person would. Three folders: 24 colour
// photographs of 4000 x 3000, 3,000 small grey pictures, and 10,000 files that are no pictures; the first
// two beside a loop in a common Python imaging library on the same files.
#include <unistd.h>

#include <QApplication>
#include <QFileDialog>
#include <QImage>
#include <QLineEdit>
#include <QMessageBox>
#include <QPainter>
#include <QTimer>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>
#include <algorithm>

#include "app/Startup.h"
#include "app/W_Main.h"
#include "batch/W_MainBatchSide.h"
#include "framework/Bundle.h"
#include "framework/Runtime.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

long PeakResidentKilobytes() {
  std::ifstream status("/proc/self/status");
  std::string key;
  long value = -1;
  while (status >> key) {
    if (key == "VmHWM:") {
      status >> value;
      break;
    }
    status.ignore(1 << 20, '\n');
  }
  return value;
}

// Photographs made from the program's own icon, scaled up, with a gradient and grain of their own.
void MakePhotographs(const fs::path& folder, int count) {
  const QImage icon(QString::fromStdString((fw::ResourcesFolder() / "Speckmoor.png").string()));
  std::mt19937 random(2026);
  for (int i = 0; i < count; ++i) {
    QImage photo(4000, 3000, QImage::Format_RGB32);
    QPainter painter(&photo);
    QLinearGradient sky(0, 0, 4000, 3000);
    sky.setColorAt(0, QColor::fromHsv((i * 15) % 360, 120, 230));
    sky.setColorAt(1, QColor::fromHsv((i * 15 + 180) % 360, 200, 60));
    painter.fillRect(photo.rect(), sky);
    if (!icon.isNull()) painter.drawImage(QRect(500 + i * 40, 300, 2400, 2400), icon);
    painter.end();
    for (int n = 0; n < 200000; ++n) photo.setPixel(static_cast<int>(random() % 4000), static_cast<int>(random() % 3000), qRgb(128, 128, 128));
    photo.save(QString::fromStdString((folder / ("photo" + std::to_string(i) + ".jpg")).string()), "JPEG", 90);
  }
}

// Small grey pictures, as a scanned icon set would give.
void MakeSmallPictures(const fs::path& folder, int count) {
  std::mt19937 random(7);
  for (int i = 0; i < count; ++i) {
    QImage image(64, 48, QImage::Format_Grayscale8);
    for (int y = 0; y < 48; ++y)
      for (int x = 0; x < 64; ++x) image.scanLine(y)[x] = static_cast<uchar>((x * 4 + y * 3 + i + random() % 40) % 256);
    char name[32];
    std::snprintf(name, sizeof name, "icon%05d.png", i);
    image.save(QString::fromStdString((folder / name).string()), "PNG");
  }
}

void MakeNonPictures(const fs::path& folder, int count) {
  for (int i = 0; i < count; ++i) {
    char name[32];
    std::snprintf(name, sizeof name, "note%05d.txt", i);
    std::ofstream(folder / name) << "not a picture " << i << "\n";
  }
}

// Runs a batch of `source` into `location` through the window, answering the location dialog and the
// completion message; the seconds from the location chosen to the message.
double Batch(app::W_Main& window, const fs::path& source, const fs::path& location) {
  ::sync();  // the inputs just made are on the disk, as a user's files would be
  Clock::time_point started{}, ended{};
  bool over = false;
  QTimer answerer;
  QObject::connect(&answerer, &QTimer::timeout, [&] {
    QWidget* modal = QApplication::activeModalWidget();
    if (auto* dialog = qobject_cast<QFileDialog*>(modal)) {
      dialog->setDirectory(QString::fromStdString(location.string()));
      if (auto* field = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))) field->clear();
      started = Clock::now();
      QMetaObject::invokeMethod(dialog, "accept");
    } else if (auto* box = qobject_cast<QMessageBox*>(modal)) {
      ended = Clock::now();
      box->accept();
      over = true;
    }
  });
  answerer.start(1);
  window.SetInputBatch(fw::MakeRef<fw::FolderItem>(source));
  while (!over) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 100);
  fw::WaitForThreads();
  return std::chrono::duration<double>(ended - started).count();
}

// The peer loop's seconds, or a negative number when Python's imaging library is missing.
double Peer(const fs::path& source, const fs::path& target, bool small) {
  const std::string command = std::string("/usr/bin/python3 ") + SPECKMOOR_BENCH_DIR + "/batch_peer.py '" +
                              source.string() + "' '" + target.string() + "'" + (small ? " optimize" : "");
  FILE* pipe = popen(command.c_str(), "r");
  char line[256] = {};
  const bool got = pipe && std::fgets(line, sizeof line, pipe);
  const int status = pipe ? pclose(pipe) : -1;
  return got && status == 0 ? std::atof(line) : -1.0;
}

void Compare(const char* what, double seconds, double peer) {
  if (peer < 0) std::printf("  peer skipped: python3-pil is not installed (apt-get install python3-pil)\n");
  else std::printf("  peer loop: %.2f s; ratio Speckmoor / peer: %.2f  (%s)\n", peer, seconds / peer, what);
}

}  // namespace

int main() {
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  fw::RuntimeInit();
  batch::InstallBatchSide();
  app::RegisterClasses();
  app::_Startup();
  fw::Ref<app::W_Main> window = app::W_MainInstance();

  const fs::path dir = fs::temp_directory_path() / "speckmoor-batch-bench";
  fs::remove_all(dir);
  fs::create_directories(dir / "out");

  fs::create_directories(dir / "Photographs");
  MakePhotographs(dir / "Photographs", 24);
  const long before = PeakResidentKilobytes();
  // This machine's pace changes from minute to minute: the two take turns three times and the medians
  // are compared.
  std::vector<double> photos, theirs;
  for (int round = 0; round < 3; ++round) {
    photos.push_back(Batch(*window, dir / "Photographs", dir / "out"));
    theirs.push_back(Peer(dir / "Photographs", dir / ("peer-photos-" + std::to_string(round)), false));
  }
  std::sort(photos.begin(), photos.end());
  std::sort(theirs.begin(), theirs.end());
  std::printf("24 photographs of 4000 x 3000: %.2f s (median of 3; %.2f to %.2f s), %.2f pictures/s, peak resident "
              "%.0f MB (%.0f MB before)\n",
              photos[1], photos[0], photos[2], 24 / photos[1], PeakResidentKilobytes() / 1024.0, before / 1024.0);
  Compare("bar <= 0.6", photos[1], theirs[1]);

  for (const int count : {100, 1000, 3000}) {
    const fs::path folder = dir / ("Icons " + std::to_string(count));
    fs::create_directories(folder);
    MakeSmallPictures(folder, count);
    if (count < 3000) {
      const double seconds = Batch(*window, folder, dir / "out");
      std::printf("%d grey pictures of 64 x 48: %.2f s, %.0f us a picture\n", count, seconds, seconds * 1e6 / count);
      continue;
    }
    // Making thousands of files costs what the file system's mood of the moment makes it cost: here too
    // the two take turns three times.
    std::vector<double> ours, theirs;
    for (int round = 0; round < 3; ++round) {
      ours.push_back(Batch(*window, folder, dir / "out"));
      theirs.push_back(Peer(folder, dir / ("peer-icons-" + std::to_string(round)), true));
    }
    std::sort(ours.begin(), ours.end());
    std::sort(theirs.begin(), theirs.end());
    std::printf("%d grey pictures of 64 x 48: %.2f s, %.0f us a picture (median of 3; %.2f to %.2f s)\n", count,
                ours[1], ours[1] * 1e6 / count, ours[0], ours[2]);
    Compare("bar <= 1.0, goal <= 0.5", ours[1], theirs[1]);
  }

  // The same in memory (tmpfs), where creating a file costs little and the work itself shows.
  if (fs::is_directory("/dev/shm")) {
    const fs::path memory = "/dev/shm/speckmoor-batch-bench";
    fs::remove_all(memory);
    fs::create_directories(memory / "out");
    fs::create_directories(memory / "Icons");
    MakeSmallPictures(memory / "Icons", 3000);
    const double seconds = Batch(*window, memory / "Icons", memory / "out");
    std::printf("3000 grey pictures of 64 x 48 in memory: %.2f s, %.0f us a picture\n", seconds, seconds * 1e6 / 3000);
    Compare("in memory", seconds, Peer(memory / "Icons", memory / "peer", true));
    fs::remove_all(memory);
  }

  for (const int count : {100, 1000, 10000}) {
    const fs::path folder = dir / ("Notes " + std::to_string(count));
    fs::create_directories(folder);
    MakeNonPictures(folder, count);
    const double seconds = Batch(*window, folder, dir / "out");
    std::printf("%d files that are no pictures: %.3f s, %.1f us a file%s\n", count, seconds, seconds * 1e6 / count,
                count == 10000 ? "  (bar < 3 s, goal < 0.5 s)" : "");
  }
  fs::remove_all(dir);
  window = nullptr;
  app::ModuleExits();
  return fw::RuntimeExit();
}
