// A folder of 24 colour JPEGs of 4000 x 3000 through the real worker thread and a real engine, beside a
// one-bit conversion loop in a common Python imaging library on the same files.
#include <QImage>
#include <QPainter>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <random>
#include <string>

#include "BenchSupport.h"
#include "batch/BatchDither.h"
#include "engine/Speckmoor.h"
#include "framework/Bundle.h"

namespace fs = std::filesystem;

namespace {

constexpr int kFiles = 24;

// The client the worker talks to: a real engine, and a signal when the batch is over.
class Client final : public fw::Object, public batch::BatchDitherInterface {
 public:
  void Interface_BatchComplete(std::int32_t count, const fw::Ref<fw::FolderItem>&) override {
    std::lock_guard lock(mutex);
    written = count;
    done = true;
    finished.notify_all();
  }
  void Interface_ProcessImage(const fw::Ref<fw::Picture>& picture, const std::string&) override { engine->Dither(picture); }
  fw::Ref<fw::Picture> Interface_GetProcessedImage() override { return engine->buffer.Load(); }
  bool Interface_CheckForCanceled() override { return false; }
  fw::Object& InterfaceObject() override { return *this; }

  fw::Ref<engine::Speckmoor> engine = fw::MakeRef<engine::Speckmoor>();
  std::mutex mutex;
  std::condition_variable finished;
  bool done = false;
  int written = 0;
};

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
void MakeInputs(const fs::path& folder) {
  const QImage icon(QString::fromStdString((fw::ResourcesFolder() / "Speckmoor.png").string()));
  std::mt19937 random(2026);
  for (int i = 0; i < kFiles; ++i) {
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

}  // namespace

int main() {
  bench_support::StartApplication();
  bench_support::SetOption("OptionsContrast", true);
  const fs::path dir = fs::temp_directory_path() / "speckmoor-batch-bench";
  fs::remove_all(dir);
  fs::create_directories(dir / "in");
  fs::create_directories(dir / "out");
  MakeInputs(dir / "in");

  fw::Ref<Client> client = fw::MakeRef<Client>();
  fw::Ref<batch::BatchDither> worker = fw::MakeRef<batch::BatchDither>();
  worker->Constructor(client.get(), fw::MakeRef<fw::FolderItem>(dir / "in"), fw::MakeRef<fw::FolderItem>(dir / "out"));
  const auto start = std::chrono::steady_clock::now();
  worker->Run();
  {
    std::unique_lock lock(client->mutex);
    client->finished.wait(lock, [&] { return client->done; });
  }
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  worker->WaitUntilDone(std::chrono::seconds(60));
  std::printf("Speckmoor batch: %d of %d files in %.2f s, %.2f pictures/s, peak resident %.0f MB\n", client->written,
              kFiles, seconds, kFiles / seconds, PeakResidentKilobytes() / 1024.0);

  const std::string peer = "/usr/bin/python3 " SPECKMOOR_BENCH_DIR "/batch_peer.py '" + (dir / "in").string() + "' '" +
                           (dir / "peer").string() + "'";
  FILE* pipe = popen(peer.c_str(), "r");
  char line[256] = {};
  const bool got = pipe && std::fgets(line, sizeof line, pipe);
  const int status = pipe ? pclose(pipe) : -1;
  if (!got || status != 0) {
    std::printf("peer skipped: python3-pil is not installed (apt-get install python3-pil)\n");
  } else {
    const double peerSeconds = std::atof(line);
    std::printf("peer loop: %.2f s\nratio Speckmoor / peer: %.2f\n", peerSeconds, seconds / peerSeconds);
  }
  fs::remove_all(dir);
  return 0;
}
