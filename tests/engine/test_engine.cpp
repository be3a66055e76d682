#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <random>
#include <thread>

#include <QImage>
#include <QImageWriter>
#include <QPainter>
#include <QRadialGradient>

#include "AppFixture.h"
#include "bindings/ImageFilter.h"
#include "engine/Speckmoor.h"
#include "framework/Application.h"
#include "framework/Convert.h"
#include "framework/FolderItem.h"
#include "framework/PluginHost.h"
#include "kit/PluginABI.h"

using fw::RGB;
using testing_support::MakePicture;
using testing_support::SetOption;

namespace {

// The engine's steps written out plainly: every read and write through the picture's per-pixel access,
// the share worked out per pixel, no edge tests.
fw::Ref<fw::Picture> ReferenceDither(const fw::Ref<fw::Picture>& input, bool contrast) {
  const double factor = contrast ? 0.125 : 1.0 / 6.0;
  fw::Ref<fw::Picture> working = bindings::GrayScale(bindings::EnsurePictureBits(input, 32), 3, nullptr, nullptr);
  fw::Ref<fw::Picture> result = fw::NewPicture(working->Width(), working->Height(), 32);
  fw::Ref<fw::RGBSurface> src = working->RGBSurface();
  fw::Ref<fw::RGBSurface> dst = result->RGBSurface();
  const int neighbours[6][2] = {{1, 0}, {2, 0}, {-1, 1}, {0, 1}, {1, 1}, {0, 2}};
  for (int y = 0; y <= working->Height() - 1; ++y) {
    for (int x = 0; x <= working->Width() - 1; ++x) {
      const int old = static_cast<int>((src->Pixel(x, y) >> 16) & 255);
      const int now = old > 127 ? 255 : 0;
      dst->SetPixel(x, y, RGB(now, now, now));
      const int err = old - now;
      const int share = fw::DoubleToInt32(static_cast<double>(err) * factor);
      for (const auto& n : neighbours) {
        const int v = static_cast<int>((src->Pixel(x + n[0], y + n[1]) >> 16) & 255) + share;
        src->SetPixel(x + n[0], y + n[1], RGB(v, v, v));
      }
    }
  }
  return result;
}

fw::Ref<fw::Picture> Grey(std::vector<std::vector<int>> rows) {
  return MakePicture(static_cast<int>(rows[0].size()), static_cast<int>(rows.size()), [&](int x, int y) {
    const int v = rows[static_cast<std::size_t>(y)][static_cast<std::size_t>(x)];
    return RGB(v, v, v);
  });
}

fw::Ref<fw::Picture> Noise(int w, int h, unsigned start) {
  std::mt19937 rng(start);
  return MakePicture(w, h, [&](int, int) { return static_cast<fw::Color>(rng() & 0xffffff); });
}

bool SamePixels(fw::Picture& a, fw::Picture& b) {
  if (a.Width() != b.Width() || a.Height() != b.Height() || a.Depth() != b.Depth()) return false;
  for (int y = 0; y < a.Height(); ++y)
    if (std::memcmp(a.Row(y), b.Row(y), static_cast<std::size_t>(a.Width() * a.BytesPerPixel())) != 0) return false;
  return true;
}

// Levels of the result, white as 1: one string per row.
std::vector<std::string> Levels(fw::Picture& p) {
  std::vector<std::string> rows;
  fw::Ref<fw::RGBSurface> s = p.RGBSurface();
  for (int y = 0; y < p.Height(); ++y) {
    std::string row;
    for (int x = 0; x < p.Width(); ++x) row += s->Pixel(x, y) == RGB(255, 255, 255) ? '1' : '0';
    rows.push_back(row);
  }
  return rows;
}

// The grey conversion with a step of the test's own in front of it: a place inside a run.
using GrayScaleFn = REALpicture (*)(REALpicture, int32_t, REALpicture, REALobject);
GrayScaleFn gGrayScale = nullptr;
std::function<void()> gInsideARun;

REALpicture ObservedGrayScale(REALpicture src, int32_t type, REALpicture mask, REALobject progress) {
  gInsideARun();
  return gGrayScale(src, type, mask, progress);
}

// While it lives, every run takes the step inside it.
class InsideARun {
 public:
  explicit InsideARun(std::function<void()> step) {
    gInsideARun = std::move(step);
    bindings::BindPluginEntryTable([](const std::string& key) -> void* {
      void* routine = fw::RuntimeLookupPluginEntrypoint(key);
      if (key.rfind("GrayScale(", 0) != 0) return routine;
      gGrayScale = reinterpret_cast<GrayScaleFn>(routine);
      return reinterpret_cast<void*>(&ObservedGrayScale);
    });
  }
  ~InsideARun() {
    bindings::BindPluginEntryTable();
    gInsideARun = nullptr;
  }
  InsideARun(const InsideARun&) = delete;
  InsideARun& operator=(const InsideARun&) = delete;
};

class Engine : public ::testing::Test {
 protected:
  void SetUp() override {
    testing_support::StartApplication();
    SetOption("OptionSharpen", false);
    SetOption("OptionsContrast", false);
  }
  std::vector<std::string> Run(fw::Ref<fw::Picture> input) {
    engine_->Dither(input);
    return Levels(*engine_->buffer.Load());
  }
  fw::Ref<engine::Speckmoor> engine_ = fw::MakeRef<engine::Speckmoor>();
};

}  // namespace

TEST_F(Engine, ThresholdAndTheShareOfEachNeighbour) {
  EXPECT_EQ(Run(Grey({{127}})), std::vector<std::string>{"0"});
  EXPECT_EQ(Run(Grey({{128}})), std::vector<std::string>{"1"});
  EXPECT_EQ(Run(Grey({{0, 0}, {0, 0}})), (std::vector<std::string>{"00", "00"}));
  EXPECT_EQ(Run(Grey({{255, 255}, {255, 255}})), (std::vector<std::string>{"11", "11"}));

  // "Contrast" off: level 6 hands each neighbour exactly +1, level 249 exactly -1. A neighbour at 127
  // crosses the threshold with +1, one at 126 doesn't.
  EXPECT_EQ(Run(Grey({{6, 127}})), std::vector<std::string>{"01"});            // right
  EXPECT_EQ(Run(Grey({{6, 126}})), std::vector<std::string>{"00"});
  EXPECT_EQ(Run(Grey({{6, 0, 127}})), std::vector<std::string>{"001"});        // two to the right
  EXPECT_EQ(Run(Grey({{6}, {127}})), (std::vector<std::string>{"0", "1"}));    // below
  EXPECT_EQ(Run(Grey({{6}, {0}, {127}})), (std::vector<std::string>{"0", "0", "1"}));  // two below
  EXPECT_EQ(Run(Grey({{0, 6}, {127, 0}})), (std::vector<std::string>{"00", "10"}));    // below left
  EXPECT_EQ(Run(Grey({{6, 0}, {0, 127}})), (std::vector<std::string>{"00", "01"}));    // below right
  EXPECT_EQ(Run(Grey({{249, 128}})), std::vector<std::string>{"10"});
  EXPECT_EQ(Run(Grey({{249, 129}})), std::vector<std::string>{"11"});
  EXPECT_EQ(Run(Grey({{5, 127}})), std::vector<std::string>{"00"});  // 5/6 truncates to 0

  // "Contrast" on: level 8 hands on exactly +1, level 16 exactly +2.
  SetOption("OptionsContrast", true);
  EXPECT_EQ(Run(Grey({{8, 127}})), std::vector<std::string>{"01"});
  EXPECT_EQ(Run(Grey({{7, 127}})), std::vector<std::string>{"00"});
  EXPECT_EQ(Run(Grey({{16, 126}})), std::vector<std::string>{"01"});
  EXPECT_EQ(Run(Grey({{16, 125}})), std::vector<std::string>{"00"});
}

TEST_F(Engine, NarrowAndSmallPicturesMatchThePlainSteps) {
  for (bool contrast : {false, true}) {
    SetOption("OptionsContrast", contrast);
    for (auto [w, h] : {std::pair{1, 1}, {1, 2}, {2, 1}, {2, 2}, {1, 37}, {37, 1}, {2, 37}, {37, 2}, {3, 3}, {64, 48}}) {
      fw::Ref<fw::Picture> input = Noise(w, h, static_cast<unsigned>(w * 131 + h));
      engine_->Dither(input);
      fw::Ref<fw::Picture> result = engine_->buffer.Load();
      ASSERT_TRUE(result);
      EXPECT_EQ(result->Depth(), 32);
      EXPECT_TRUE(SamePixels(*result, *ReferenceDither(input, contrast))) << w << "x" << h << " contrast " << contrast;
    }
  }
  // The diffusion itself refuses what its tables can't hold rather than reading past them.
  fw::Ref<fw::Picture> working = fw::NewPicture(8, 8, 32), result = fw::NewPicture(8, 8, 32);
  EXPECT_THROW(engine::DiffuseError(*working, *result, 0.3), std::invalid_argument);
  EXPECT_THROW(engine::DiffuseError(*working, *fw::NewPicture(8, 7, 32), 0.125), std::invalid_argument);
  EXPECT_NO_THROW(engine::DiffuseError(*working, *result, 0.25));
}

TEST_F(Engine, ARealPhotographMatchesThePlainSteps) {
  // A photograph-like picture: soft gradients, hard edges and sensor noise, through a real JPEG file.
  QImage image(640, 480, QImage::Format_RGB32);
  QPainter painter(&image);
  QRadialGradient sky(QPointF(200, 150), 400);
  sky.setColorAt(0, QColor(250, 230, 180));
  sky.setColorAt(1, QColor(20, 40, 90));
  painter.fillRect(image.rect(), sky);
  painter.setBrush(QColor(90, 140, 60));
  painter.drawEllipse(QPointF(420, 380), 260, 140);
  painter.end();
  std::mt19937 rng(7);
  for (int y = 0; y < image.height(); ++y)
    for (int x = 0; x < image.width(); ++x) {
      const QRgb p = image.pixel(x, y);
      const int n = static_cast<int>(rng() % 21) - 10;
      image.setPixel(x, y, qRgb(std::clamp(qRed(p) + n, 0, 255), std::clamp(qGreen(p) + n, 0, 255), std::clamp(qBlue(p) + n, 0, 255)));
    }
  testing_support::TempDir dir;
  QImageWriter writer(QString::fromStdString((dir / "photo.jpg").string()), "jpeg");
  writer.setQuality(85);
  ASSERT_TRUE(writer.write(image));
  fw::Ref<fw::Picture> photo = fw::MakeRef<fw::FolderItem>(dir / "photo.jpg")->OpenAsPicture();
  ASSERT_TRUE(photo);

  for (bool contrast : {true, false}) {
    SetOption("OptionsContrast", contrast);
    engine_->Dither(photo);
    fw::Ref<fw::Picture> result = engine_->buffer.Load();
    EXPECT_TRUE(SamePixels(*result, *ReferenceDither(photo, contrast))) << "contrast " << contrast;
    // Only pure black and pure white, and about as much white as the picture has light.
    std::int64_t white = 0;
    fw::Ref<fw::RGBSurface> s = result->RGBSurface();
    for (int y = 0; y < result->Height(); ++y)
      for (int x = 0; x < result->Width(); ++x) {
        const fw::Color c = s->Pixel(x, y);
        ASSERT_TRUE(c == 0 || c == RGB(255, 255, 255));
        white += c != 0;
      }
    EXPECT_GT(white, 0);
    EXPECT_LT(white, std::int64_t{640} * 480);
  }
}

TEST_F(Engine, RunsRepeatTheCallersPictureStaysAndOptionsApplyFromTheNextRun) {
  fw::Ref<fw::Picture> input = Noise(50, 40, 3);
  fw::Ref<fw::Picture> before = Noise(50, 40, 3);
  engine_->Dither(input);
  fw::Ref<fw::Picture> first = engine_->buffer.Load();
  engine_->Dither(input);
  fw::Ref<fw::Picture> second = engine_->buffer.Load();
  EXPECT_NE(first.get(), second.get());
  EXPECT_TRUE(SamePixels(*first, *second));
  EXPECT_TRUE(SamePixels(*input, *before));

  SetOption("OptionsContrast", true);
  engine_->Dither(input);
  fw::Ref<fw::Picture> contrasted = engine_->buffer.Load();
  EXPECT_FALSE(SamePixels(*first, *contrasted));
  EXPECT_TRUE(SamePixels(*contrasted, *ReferenceDither(input, true)));
  EXPECT_TRUE(SamePixels(*input, *before));
  EXPECT_TRUE(fw::AutoWaitCursorEnabled());
}

TEST_F(Engine, TheWaitCursorIsOffWhileARunLastsAlsoOneThatRaises) {
  std::vector<bool> enabledInside;
  {
    InsideARun observe([&] { enabledInside.push_back(fw::AutoWaitCursorEnabled()); });
    engine_->Dither(Noise(8, 8, 1));
  }
  EXPECT_TRUE(fw::AutoWaitCursorEnabled());
  {
    InsideARun fail([&] {
      enabledInside.push_back(fw::AutoWaitCursorEnabled());
      throw fw::RuntimeException("the grey conversion failed");
    });
    EXPECT_THROW(engine_->Dither(Noise(8, 8, 1)), fw::RuntimeException);
  }
  EXPECT_EQ(enabledInside, (std::vector<bool>{false, false}));
  EXPECT_TRUE(fw::AutoWaitCursorEnabled());
  // Back on exactly: a disable from elsewhere still turns it off.
  fw::DisableAutoWaitCursor();
  EXPECT_FALSE(fw::AutoWaitCursorEnabled());
  fw::EnableAutoWaitCursor();
}

TEST_F(Engine, AReaderNeverSeesTheNewResultBeforeItIsWhole) {
  engine_->Dither(Noise(4, 4, 1));
  const fw::Ref<fw::Picture> old = engine_->buffer.Load();
  const fw::Ref<fw::Picture> input = Noise(3000, 2000, 5);

  // A reader on another thread, as a window's paint while its batch dithers: it looks at `buffer` from
  // before the run until after it, and keeps the new result's last row as it first sees it.
  std::mutex mutex;
  std::condition_variable started;
  bool looking = false;
  std::atomic<bool> runOver{false};
  std::vector<std::uint8_t> lastRowSeen;
  std::thread reader([&] {
    {
      std::lock_guard lock(mutex);
      looking = true;
    }
    started.notify_one();
    for (bool last = false; !last;) {
      last = runOver.load();
      fw::Ref<fw::Picture> seen = engine_->buffer.Load();
      if (seen.get() == old.get()) continue;
      const std::uint8_t* row = seen->Row(seen->Height() - 1);
      lastRowSeen.assign(row, row + 4 * seen->Width());
      return;
    }
  });
  bool readerLooking = false;
  {
    std::unique_lock lock(mutex);
    readerLooking = started.wait_for(lock, std::chrono::seconds(60), [&] { return looking; });
  }
  if (readerLooking) engine_->Dither(input);
  runOver = true;
  reader.join();
  ASSERT_TRUE(readerLooking);

  const fw::Ref<fw::Picture> result = engine_->buffer.Load();
  const std::uint8_t* lastRow = result->Row(result->Height() - 1);
  EXPECT_EQ(lastRowSeen, std::vector<std::uint8_t>(lastRow, lastRow + 4 * result->Width()));
}

TEST_F(Engine, AFailingStepRaisesLeavesTheResultAndTurnsTheWaitCursorBackOn) {
  fw::Ref<fw::Picture> input = Noise(8, 8, 1);
  engine_->Dither(input);
  fw::Ref<fw::Picture> previous = engine_->buffer.Load();
  // As if the grey conversion were missing.
  bindings::BindPluginEntryTable([](const std::string& key) {
    return key.rfind("GrayScale(", 0) == 0 ? nullptr : fw::RuntimeLookupPluginEntrypoint(key);
  });
  EXPECT_THROW(engine_->Dither(input), fw::UnsupportedOperationException);
  bindings::BindPluginEntryTable();
  EXPECT_TRUE(fw::AutoWaitCursorEnabled());
  EXPECT_EQ(engine_->buffer.Load().get(), previous.get());
}
