// Folder batches with real folders of real pictures on a real thread.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QDropEvent>
#include <QMainWindow>
#include <QMimeData>
#include <QDesktopServices>
#include <QFileDialog>
#include <QUrl>
#include <QImage>
#include <QLabel>
#include <QMessageBox>
#include <QTest>

#include "AppFixture.h"
#include "FailingFlushes.h"
#include "SmallDisk.h"
#include "batch/DurableOutput.h"
#include "batch/SpeckmoorGlobals.h"
#include "batch/W_MainBatchSide.h"
#include "framework/Dialogs.h"
#include "framework/MenuCommands.h"
#include "framework/PictureFile.h"
#include "framework/PropertyList.h"
#include "framework/Throttle.h"
#include "framework/Window.h"

#include <sys/inotify.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <fstream>
#include <functional>
#include <map>
#include <random>
#include <charconv>
#include <set>
#include <mutex>
#include <thread>

using testing_support::TempDir;

namespace {

QImage Gradient(int w, int h, int variant) {
  QImage image(w, h, QImage::Format_RGB32);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) image.setPixel(x, y, qRgb((x * 7 + variant * 31) % 256, (y * 5 + variant) % 256, (x + y) % 256));
  return image;
}

void SavePicture(const std::filesystem::path& path, int variant, const char* format = nullptr) {
  ASSERT_TRUE(Gradient(24 + variant, 16 + variant, variant).save(QString::fromStdString(path.string()), format));
}

std::string Numbered(const char* prefix, int n) {
  std::string name(prefix);
  name += std::to_string(n);
  name += ".png";
  return name;
}

std::string Stem(const std::string& name) {
  return batch::SpeckmoorGlobals::NameWithoutExtension(*fw::MakeRef<fw::FolderItem>("/x/" + name));
}

bool SamePixels(fw::Picture& a, fw::Picture& b) {
  if (a.Width() != b.Width() || a.Height() != b.Height()) return false;
  for (int y = 0; y < a.Height(); ++y)
    if (std::memcmp(a.Row(y), b.Row(y), static_cast<std::size_t>(a.Width() * 4)) != 0) return false;
  return true;
}

// The dithered picture of a source file, made by an engine of its own.
fw::Ref<fw::Picture> Expected(const std::filesystem::path& source) {
  fw::Ref<fw::Picture> picture = fw::MakeRef<fw::FolderItem>(source)->OpenAsPicture();
  fw::Ref<engine::Speckmoor> e = fw::MakeRef<engine::Speckmoor>();
  e->Dither(picture);
  return e->buffer.Load();
}

// Drops a folder on the window's content as the desktop does; true when the drop was taken.
bool DropFolder(fw::Window& window, const std::filesystem::path& folder) {
  QWidget* target = static_cast<QMainWindow*>(window.Widget())->centralWidget();
  QMimeData data;
  data.setUrls({QUrl::fromLocalFile(QString::fromStdString(folder.string()))});
  QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(target, &enter);
  if (!enter.isAccepted()) return false;
  QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(target, &drop);
  return drop.isAccepted();
}

std::vector<std::string> Names(const std::filesystem::path& folder) {
  std::vector<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(folder)) names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

// Records the folders the program shows, instead of starting a file manager.
class FolderRecorder : public QObject {
  Q_OBJECT
 public:
  QStringList shown;
 public slots:
  void open(const QUrl& url) { shown << url.toLocalFile(); }
};

// A document window whose batch stops before a given picture until the test lets it go on: the test then
// acts while the batch is surely in its middle, however fast the machine.
class GatedWindow final : public batch::W_MainBatchSide {
 public:
  void GateAt(int picture) {
    std::lock_guard lock(mutex_);
    gate_ = picture;
    reached_ = released_ = false;
  }
  bool Reached() {
    std::lock_guard lock(mutex_);
    return reached_;
  }
  void Release() {
    {
      std::lock_guard lock(mutex_);
      released_ = true;
    }
    changed_.notify_all();
  }
  // Pictures handed to the window so far.
  int Handed() const { return handed_; }
  void Interface_ProcessImage(const fw::Ref<fw::Picture>& picture, const std::string& name) override {
    if (++handed_ == gate_) {
      std::unique_lock lock(mutex_);
      reached_ = true;
      changed_.wait(lock, [this] { return released_; });
    }
    batch::W_MainBatchSide::Interface_ProcessImage(picture, name);
  }

 private:
  std::atomic<int> gate_{0};
  std::atomic<int> handed_{0};
  std::mutex mutex_;
  std::condition_variable changed_;
  bool reached_ = false, released_ = false;
};

fw::Ref<GatedWindow> NewGatedWindow() {
  fw::Ref<GatedWindow> window = fw::MakeRef<GatedWindow>();
  window->Constructor();
  window->Show();
  return window;
}

class Batch : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    batch::InstallBatchSide();
    testing_support::StartProgram();
  }
  void TearDown() override {
    testing_support::DropPendingAnswerers();
    window_->Release();  // a batch left waiting would outlive the test
  }
  void SetUp() override {
    ASSERT_TRUE(fw::CloseAllWindows());
    ASSERT_TRUE(fw::WaitForThreads(std::chrono::seconds(30)));
    testing_support::SetOption("OptionSharpen", false);
    window_ = NewGatedWindow();
    std::filesystem::create_directory(dir_ / "Holiday Photos");
    std::filesystem::create_directory(dir_ / "out");
    source_ = dir_ / "Holiday Photos";
  }
  // Starts a batch of the source folder into `location`; the completion message is answered with
  // `button` and its text kept.
  void StartBatch(const std::filesystem::path& location, const char* button = "OK") {
    new testing_support::DialogAnswerer<QMessageBox>([this, button](QMessageBox& box) {
      message_ = (box.text() + "|" + box.informativeText()).toStdString();
      for (QAbstractButton* b : box.buttons())
        if (b->text() == button) b->click();
    });
    testing_support::AnswerFolderDialog(location.string());
    window_->SetInputBatch(fw::MakeRef<fw::FolderItem>(source_));
  }
  bool WaitForEnd() {
    fw::Ref<batch::BatchDither> worker = window_->CurrentBatch();
    return worker && QTest::qWaitFor([&] { return !worker->IsRunning(); }, 60000);
  }
  // Waits until the batch stands before the gated picture.
  bool WaitForGate(GatedWindow& window) { return QTest::qWaitFor([&] { return window.Reached(); }, 30000); }
  fw::Ref<GatedWindow> window_;
  TempDir dir_;
  std::filesystem::path source_;
  std::string message_;
};

}  // namespace

// A client of the batch thread without a window: it dithers with an engine of its own, can act after the
// n-th picture, and tells when the batch is over.
class Client final : public fw::Object, public batch::BatchDitherInterface {
 public:
  std::function<void(int pictures)> afterPicture;
  std::function<void()> atEnd;
  std::atomic<bool> cancel{false};
  // The user presses Cancel right after the batch has looked, once this many pictures were handed over.
  int cancelAfterCheckOfPicture = 0;

  void Interface_BatchComplete(std::int32_t count, const fw::Ref<fw::FolderItem>&) override {
    if (atEnd) atEnd();
    std::lock_guard lock(mutex_);
    count_ = count;
    done_ = true;
    over_.notify_all();
  }
  void Interface_ProcessImage(const fw::Ref<fw::Picture>& picture, const std::string&) override {
    engine_->Dither(picture);
    ++pictures_;
    if (afterPicture) afterPicture(pictures_);
  }
  fw::Ref<fw::Picture> Interface_GetProcessedImage() override { return engine_->buffer.Load(); }
  bool Interface_CheckForCanceled() override {
    const bool asked = cancel;
    if (cancelAfterCheckOfPicture && pictures_ >= cancelAfterCheckOfPicture) cancel = true;
    return asked;
  }
  fw::Object& InterfaceObject() override { return *this; }

  // Runs a whole batch of `source` into `output`; the number of files written, or -1 when it never ended.
  int Run(const std::filesystem::path& source, const std::filesystem::path& output) {
    fw::Ref<batch::BatchDither> worker = fw::MakeRef<batch::BatchDither>();
    worker->Constructor(this, fw::MakeRef<fw::FolderItem>(source), fw::MakeRef<fw::FolderItem>(output));
    worker->Run();
    std::unique_lock lock(mutex_);
    if (!over_.wait_for(lock, std::chrono::seconds(60), [this] { return done_; })) return -1;
    lock.unlock();
    return worker->WaitUntilDone(std::chrono::seconds(60)) ? count_ : -1;
  }

 private:
  fw::Ref<engine::Speckmoor> engine_ = fw::MakeRef<engine::Speckmoor>();
  int pictures_ = 0;
  std::mutex mutex_;
  std::condition_variable over_;
  bool done_ = false;
  int count_ = -1;
};

TEST(BatchWalk, FilesMovedAwayOrDroppedInDuringABatchNeitherLoseNorDuplicateAnOutput) {
  testing_support::StartProgram();
  TempDir dir;
  std::filesystem::create_directory(dir / "in");
  std::filesystem::create_directory(dir / "out");
  std::vector<std::string> all;
  for (int i = 0; i < 40; ++i) {
    all.push_back(Numbered("p", 100 + i));
    SavePicture(dir / "in" / all.back(), i);
  }
  fw::Ref<Client> client = fw::MakeRef<Client>();
  client->afterPicture = [&](int pictures) {
    // Finished originals are moved away; later, new files that sort first are dropped in.
    if (pictures == 8)
      for (int i = 0; i < 5; ++i) std::filesystem::remove(dir / "in" / all[static_cast<std::size_t>(i)]);
    if (pictures == 20)
      for (int i = 1; i <= 5; ++i) SavePicture(dir / "in" / Numbered("a", i), i);
  };
  EXPECT_EQ(client->Run(dir / "in", dir / "out"), 40);
  EXPECT_EQ(Names(dir / "out"), all);
}

// Noise, so each file is large enough to be decoded ahead of its turn.
void SaveNoise(const std::filesystem::path& path, int size, unsigned variant) {
  QImage noise(size, size, QImage::Format_RGB32);
  std::mt19937 random(variant);
  for (int y = 0; y < size; ++y)
    for (int x = 0; x < size; ++x) noise.setPixel(x, y, static_cast<QRgb>(random()));
  ASSERT_TRUE(noise.save(QString::fromStdString(path.string())));
  ASSERT_GE(std::filesystem::file_size(path), 64u * 1024);
}

// The names of the folder's files opened while `run` runs, as the kernel tells them.
std::set<std::string> OpenedDuring(const std::filesystem::path& folder, const std::function<void()>& run) {
  std::set<std::string> opened;
  const int watch = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  if (watch < 0 || inotify_add_watch(watch, folder.c_str(), IN_OPEN) < 0) {
    ADD_FAILURE() << "inotify: " << std::strerror(errno);
    if (watch >= 0) close(watch);
    return opened;
  }
  run();
  alignas(inotify_event) char buffer[8192];
  for (ssize_t n; (n = read(watch, buffer, sizeof buffer)) > 0;)
    for (char* p = buffer; p < buffer + n;) {
      const auto* event = reinterpret_cast<const inotify_event*>(p);
      if (event->len > 0 && !(event->mask & IN_ISDIR)) opened.insert(event->name);
      p += sizeof(inotify_event) + event->len;
    }
  close(watch);
  return opened;
}

TEST(BatchWalk, NoItemIsOpenedAfterACancel) {
  testing_support::StartProgram();
  TempDir dir;
  for (const char* folder : {"in", "out", "mixed", "mixed out"}) std::filesystem::create_directory(dir / folder);
  for (int i = 1; i <= 5; ++i) SaveNoise(dir / "in" / Numbered("c", i), 256, static_cast<unsigned>(i));
  fw::Ref<Client> client = fw::MakeRef<Client>();
  client->cancelAfterCheckOfPicture = 1;
  int count = -1;
  EXPECT_EQ(OpenedDuring(dir / "in", [&] { count = client->Run(dir / "in", dir / "out"); }),
            (std::set<std::string>{"c1.png", "c2.png"}));
  EXPECT_EQ(count, 2);
  EXPECT_EQ(Names(dir / "out"), (std::vector<std::string>{"c1.png", "c2.png"}));

  // Cancel pressed while the walk passes a file that is no picture: the look after it sees the cancel. The
  // pictures after it are large, so that neither a read nor a decode ahead of them goes unseen.
  SaveNoise(dir / "mixed" / "a.png", 256, 11);
  testing_support::WriteFile(dir / "mixed" / "a.xmp", "<metadata of a.png, no picture/>\n");
  SaveNoise(dir / "mixed" / "b.png", 256, 12);
  SaveNoise(dir / "mixed" / "c.png", 256, 13);
  fw::Ref<Client> mixed = fw::MakeRef<Client>();
  mixed->cancelAfterCheckOfPicture = 1;
  EXPECT_EQ(OpenedDuring(dir / "mixed", [&] { count = mixed->Run(dir / "mixed", dir / "mixed out"); }),
            (std::set<std::string>{"a.png", "a.xmp"}));
  EXPECT_EQ(count, 1);
  EXPECT_EQ(Names(dir / "mixed out"), std::vector<std::string>{"a.png"});
}

TEST(BatchWalk, PicturesDecodedAheadOneAfterAnotherAreEachTheirOwn) {
  testing_support::StartProgram();
  TempDir dir;
  std::filesystem::create_directory(dir / "in");
  std::filesystem::create_directory(dir / "out");
  // Every one large enough to be decoded while the one before it is worked on; no two of one size.
  std::vector<std::string> names;
  for (int i = 1; i <= 7; ++i) {
    names.push_back(Numbered("e", i));
    SaveNoise(dir / "in" / names.back(), 240 + 3 * i, static_cast<unsigned>(100 + i));
  }
  fw::Ref<Client> client = fw::MakeRef<Client>();
  EXPECT_EQ(client->Run(dir / "in", dir / "out"), 7);
  ASSERT_EQ(Names(dir / "out"), names);
  for (const std::string& name : names) {
    fw::Ref<fw::Picture> written = fw::MakeRef<fw::FolderItem>(dir / "out" / name)->OpenAsPicture();
    ASSERT_TRUE(written) << name;
    EXPECT_TRUE(SamePixels(*written, *Expected(dir / "in" / name))) << name;
  }
}

TEST(BatchWalk, ACancelledBatchLetsGoOfThePictureDecodedAhead) {
  testing_support::StartProgram();
  TempDir dir;
  std::filesystem::create_directory(dir / "in");
  std::filesystem::create_directory(dir / "out");
  constexpr int kSize = 600;
  for (int i = 1; i <= 3; ++i) SaveNoise(dir / "in" / Numbered("d", i), kSize, static_cast<unsigned>(i));
  fw::Ref<Client> client = fw::MakeRef<Client>();
  // Cancel is pressed while the first picture is in hand, when the second is already being decoded.
  client->afterPicture = [&](int pictures) {
    if (pictures == 1) client->cancel = true;
  };
  const std::int64_t before = fw::Picture::BytesHeld();
  std::int64_t atEnd = -1;
  client->atEnd = [&] { atEnd = fw::Picture::BytesHeld(); };
  EXPECT_EQ(client->Run(dir / "in", dir / "out"), 1);
  // While the message is up, only the client's own result is held, not a picture nobody will use.
  EXPECT_LE(atEnd - before, std::int64_t{kSize} * kSize * 4);
}

TEST(BatchWalk, NewsFromTheBatchThreadIsShownRarelyButTheLatestAlways) {
  testing_support::StartProgram();
  struct Screen final : fw::Object {
    std::atomic<int> latest{0}, shown{0}, shows{0};
    fw::Throttle throttle{std::chrono::milliseconds(40), [this] {
                            shown = latest.load();
                            ++shows;
                          }};
  };
  fw::Ref<Screen> screen = fw::MakeRef<Screen>();
  std::thread producer([screen] {
    for (int i = 1; i <= 2000; ++i) {
      screen->latest = i;
      screen->throttle.Ask(fw::Ref<fw::Object>(screen.get()));
    }
  });
  producer.join();
  ASSERT_TRUE(QTest::qWaitFor([&] { return screen->shown == 2000; }, 10000));
  EXPECT_LT(screen->shows.load(), 100);
}

TEST(BatchOutput, ANameTakenByAnotherProgramBeforeTheRenameIsNeverReplaced) {
  testing_support::StartProgram();
  TempDir dir;
  std::filesystem::create_directory(dir / "out");
  SavePicture(dir / "a.png", 3);
  const fw::Ref<fw::Picture> picture = Expected(dir / "a.png");
  {
    batch::DurableOutput output(fw::MakeRef<fw::FolderItem>(dir / "out"));
    output.Save("a", picture);
    // Written under its hidden name; then another program makes a file of the name it was to take.
    std::ofstream(dir / "out" / "a.png") << "theirs";
    output.Commit();
    EXPECT_EQ(output.Saved(), 1);
  }
  EXPECT_EQ(Names(dir / "out"), (std::vector<std::string>{"a 2.png", "a.png"}));
  std::ifstream theirs(dir / "out" / "a.png");
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(theirs), {}), "theirs");
  fw::Ref<fw::Picture> ours = fw::MakeRef<fw::FolderItem>(dir / "out" / "a 2.png")->OpenAsPicture();
  EXPECT_TRUE(ours && SamePixels(*ours, *picture));
}

TEST(BatchNames, StemsAndFreeNames) {
  EXPECT_EQ(Stem("a.jpg"), "a");
  EXPECT_EQ(Stem("a.b.c"), "a.b");
  EXPECT_EQ(Stem("photo.2010.jpg"), "photo.2010");
  EXPECT_EQ(Stem("photo"), "photo");
  EXPECT_EQ(Stem(".hidden"), "");
  EXPECT_EQ(Stem("\xC3\xA9t\xC3\xA9 \"quoted\".tiff"), "\xC3\xA9t\xC3\xA9 \"quoted\"");

  std::set<std::string> taken;
  auto free = [&](const std::string& stem) {
    return batch::SpeckmoorGlobals::FreeOutputName(stem, [&](const std::string& name) { return taken.count(name) > 0; });
  };
  EXPECT_EQ(free("a"), "a.png");
  taken = {"a.png", "a 2.png", "b.png"};
  EXPECT_EQ(free("a"), "a 3.png");

  TempDir dir;
  auto folder = fw::MakeRef<fw::FolderItem>(dir.path());

  std::filesystem::create_directory(dir / "src (Dithered)");
  std::filesystem::create_directory(dir / "src (Dithered #2)");
  EXPECT_EQ(batch::W_MainBatchSide::OutputFolderIn(*folder, "src")->Name(), "src (Dithered #3)");
}

TEST_F(Batch, AFolderOfPicturesAndOtherThings) {
  SavePicture(source_ / "a.jpg", 1);
  SavePicture(source_ / "b.bmp", 2);
  SavePicture(source_ / "c \"d\" \xC3\xA9.png", 3);
  testing_support::WriteFile(source_ / "notes.txt", "not a picture");
  std::filesystem::create_directory(source_ / "sub");
  SavePicture(source_ / "sub" / "deeper.png", 4);  // never descended into
  StartBatch(dir_ / "out");
  // The bar counts every item, pictures or not.
  ASSERT_TRUE(window_->CurrentProgress());
  EXPECT_EQ(window_->CurrentProgress()->PB_Watch()->Maximum(), 5);
  ASSERT_TRUE(WaitForEnd());
  const auto output = dir_ / "out" / "Holiday Photos (Dithered)";
  EXPECT_EQ(Names(output), (std::vector<std::string>{"a.png", "b.png", "c \"d\" \xC3\xA9.png"}));
  for (const auto& [in, out] : {std::pair{"a.jpg", "a.png"}, {"b.bmp", "b.png"}, {"c \"d\" \xC3\xA9.png", "c \"d\" \xC3\xA9.png"}}) {
    fw::Ref<fw::Picture> written = fw::MakeRef<fw::FolderItem>(output / out)->OpenAsPicture();
    ASSERT_TRUE(written) << out;
    EXPECT_TRUE(SamePixels(*written, *Expected(source_ / in))) << out;
  }
  EXPECT_EQ(message_, "Batch dithering has finished.|3 files were processed and saved to the folder: \"Holiday Photos (Dithered)\"");
  // The window is empty again, the progress window gone, and the worker let go of its client.
  EXPECT_FALSE(window_->DitheredImage());
  EXPECT_FALSE(window_->CurrentProgress());
  EXPECT_FALSE(window_->BatchRunning());
  EXPECT_FALSE(window_->CancelBatchProcessing);
  EXPECT_FALSE(window_->CurrentBatch()->HoldsClient());
  EXPECT_FALSE(window_->CurrentBatch()->HoldsSource());
  EXPECT_EQ(window_->CurrentBatch()->Output()->Name(), "Holiday Photos (Dithered)");

  // A second batch of the same folder goes to a fresh output folder.
  StartBatch(dir_ / "out");
  ASSERT_TRUE(WaitForEnd());
  EXPECT_TRUE(std::filesystem::is_directory(dir_ / "out" / "Holiday Photos (Dithered #2)"));
}

TEST_F(Batch, AFolderDroppedOrChosenWithNoWindowStartsABatch) {
  SavePicture(source_ / "d.png", 4);
  std::filesystem::create_directory(dir_ / "Other");
  // Dropped on the window: the drop is over before the location is asked for, so the program the folder
  // was dragged from is not held while the dialog is up. A second folder dropped before the question is
  // refused.
  bool asked = false;
  new testing_support::DialogAnswerer<QMessageBox>([](QMessageBox& box) { box.accept(); });
  new testing_support::DialogAnswerer<QFileDialog>([&](QFileDialog& dialog) {
    asked = true;
    dialog.setDirectory(QString::fromStdString((dir_ / "out").string()));
    if (auto* field = dialog.findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))) field->clear();
    QMetaObject::invokeMethod(&dialog, "accept");
  });
  EXPECT_TRUE(DropFolder(*window_, source_));
  EXPECT_FALSE(asked);
  EXPECT_TRUE(DropFolder(*window_, dir_ / "Other"));
  EXPECT_FALSE(asked);
  ASSERT_TRUE(QTest::qWaitFor([&] { return asked; }, 30000));
  ASSERT_TRUE(WaitForEnd());
  EXPECT_EQ(Names(dir_ / "out"), std::vector<std::string>{"Holiday Photos (Dithered)"});
  EXPECT_EQ(Names(dir_ / "out" / "Holiday Photos (Dithered)"), std::vector<std::string>{"d.png"});

  // A window closed before it asks asks nothing.
  EXPECT_TRUE(DropFolder(*window_, source_));
  window_->Close();
  bool dialogUp = true;
  fw::PostToMainThread([&] {
    QWidget* modal = QApplication::activeModalWidget();
    dialogUp = modal != nullptr;
    if (modal) modal->close();
  });
  ASSERT_TRUE(QTest::qWaitFor([&] { return !dialogUp; }, 30000));
  EXPECT_EQ(Names(dir_ / "out"), std::vector<std::string>{"Holiday Photos (Dithered)"});

  // Chosen with no window open: the application opens one for the batch.
  ASSERT_TRUE(fw::CloseAllWindows());
  auto titled = [](const char* words) {
    return [words] { return QApplication::activeModalWidget()->windowTitle().contains(words); };
  };
  new testing_support::DialogAnswerer<QFileDialog>(
      [&](QFileDialog& dialog) {
        dialog.setDirectory(QString::fromStdString(source_.string()));
        QMetaObject::invokeMethod(&dialog, "accept");
      },
      titled("Choose a Folder"));
  new testing_support::DialogAnswerer<QFileDialog>(
      [&](QFileDialog& dialog) {
        dialog.setDirectory(QString::fromStdString((dir_ / "out").string()));
        QMetaObject::invokeMethod(&dialog, "accept");
      },
      titled("Batch processed images"));
  new testing_support::DialogAnswerer<QMessageBox>([](QMessageBox& box) { box.accept(); });
  EXPECT_TRUE(fw::DeliverMenuCommand("FileBatchDither"));
  ASSERT_TRUE(QTest::qWaitFor([&] { return fw::RunningThreads() == 0 && !Names(dir_ / "out").empty(); }, 60000));
  ASSERT_TRUE(fw::WaitForThreads(std::chrono::seconds(60)));
  EXPECT_EQ(testing_support::DocumentWindows().size(), 1u);
  EXPECT_EQ(Names(dir_ / "out" / "Holiday Photos (Dithered #2)"), std::vector<std::string>{"d.png"});
}

TEST_F(Batch, StemsThatAgreeNeverReplaceEachOther) {
  SavePicture(source_ / "a.bmp", 1);
  SavePicture(source_ / "a.jpg", 2);
  SavePicture(source_ / "photo", 3, "PNG");
  StartBatch(dir_ / "out");
  ASSERT_TRUE(WaitForEnd());
  const auto output = dir_ / "out" / "Holiday Photos (Dithered)";
  EXPECT_EQ(Names(output), (std::vector<std::string>{"a 2.png", "a.png", "photo.png"}));
  fw::Ref<fw::Picture> first = fw::MakeRef<fw::FolderItem>(output / "a.png")->OpenAsPicture();
  EXPECT_TRUE(SamePixels(*first, *Expected(source_ / "a.bmp")));
  EXPECT_NE(message_.find("3 files"), std::string::npos) << message_;
}

TEST_F(Batch, AnEmptyFolderAndACancelledLocation) {
  testing_support::AnswerFolderDialog("");
  window_->SetInputBatch(fw::MakeRef<fw::FolderItem>(source_));
  EXPECT_FALSE(window_->CurrentBatch());
  EXPECT_TRUE(Names(dir_ / "out").empty());

  StartBatch(dir_ / "out");
  ASSERT_TRUE(WaitForEnd());
  EXPECT_NE(message_.find("0 files were processed"), std::string::npos) << message_;
  EXPECT_TRUE(Names(dir_ / "out" / "Holiday Photos (Dithered)").empty());
}

TEST_F(Batch, TheLocationDialogShowsItsPromptAndTheFolderItLooksIn) {
  struct Seen {
    QString title, lookIn, folder;
    int lookInWidth = 0;
    bool promptShown = false;
  };
  const QString prompt = "Batch processed images will be placed in a new folder. Please choose the location.";
  auto look = [&prompt](Seen& seen) {
    new testing_support::DialogAnswerer<QFileDialog>([&seen, &prompt](QFileDialog& dialog) {
      seen.title = dialog.windowTitle();
      auto* label = dialog.findChild<QLabel*>(QStringLiteral("lookInLabel"));
      auto* box = dialog.findChild<QComboBox*>(QStringLiteral("lookInCombo"));
      if (label && label->isVisible()) seen.lookIn = label->text();
      if (box && box->isVisible()) {
        seen.lookInWidth = box->width();
        seen.folder = box->currentText();
      }
      for (QLabel* text : dialog.findChildren<QLabel*>())
        if (text->isVisible() && text->text() == prompt) seen.promptShown = true;
      dialog.reject();
    });
  };
  // The same dialog without a prompt, for comparison.
  Seen plain;
  look(plain);
  fw::Ref<fw::SelectFolderDialog> bare = fw::MakeRef<fw::SelectFolderDialog>();
  bare->InitialDirectory = fw::MakeRef<fw::FolderItem>(dir_.path());
  EXPECT_FALSE(bare->ShowModalWithin(window_.get()));
  ASSERT_GT(plain.lookInWidth, 0);

  Seen asked;
  look(asked);
  window_->SetInputBatch(fw::MakeRef<fw::FolderItem>(source_));
  EXPECT_FALSE(window_->CurrentBatch());
  EXPECT_EQ(asked.title.toStdString(), prompt.toStdString());
  EXPECT_TRUE(asked.promptShown);
  EXPECT_EQ(asked.lookIn.toStdString(), "Look in:");
  EXPECT_GE(asked.lookInWidth, plain.lookInWidth);
  EXPECT_EQ(asked.folder.toStdString(), dir_.path().string());
}

TEST_F(Batch, CancelStopsAfterTheItemInHandAndEveryFileIsWhole) {
  for (int i = 0; i < 40; ++i) SavePicture(source_ / Numbered("p", 100 + i), i % 50);
  window_->GateAt(2);
  StartBatch(dir_ / "out");
  // Cancel as a person would while the second picture is in hand.
  ASSERT_TRUE(WaitForGate(*window_));
  fw::Ref<batch::W_Progress> progress = window_->CurrentProgress();
  ASSERT_TRUE(progress);
  ASSERT_TRUE(QTest::qWaitFor([&] { return progress->PB_Watch()->Value() == 1; }, 30000));
  EXPECT_EQ(progress->PB_Watch()->Maximum(), 40);
  EXPECT_EQ(progress->ST_Name()->Text(), "Dithering: p100.png");

  // While it runs, the window takes no other input, not even the picture on the clipboard.
  QApplication::clipboard()->setImage(Gradient(8, 8, 1));
  window_->Show();
  fw::RunEnablingPass();
  for (const char* name : {"FileOpen", "EditPaste", "EditClear", "OptionsContrast", "FileBatchDither"})
    EXPECT_FALSE(app::MenuInstance()->_Lookup(name)->Enabled()) << name;

  progress->PushButton1()->Push();
  EXPECT_TRUE(window_->CancelBatchProcessing);
  window_->Release();
  ASSERT_TRUE(WaitForEnd());
  // The picture in hand is still saved and counted; nothing after it.
  const auto written = Names(dir_ / "out" / "Holiday Photos (Dithered)");
  EXPECT_EQ(written, (std::vector<std::string>{"p100.png", "p101.png"}));
  EXPECT_NE(message_.find("2 files were processed"), std::string::npos) << message_;
  for (const std::string& name : written)
    EXPECT_TRUE(fw::MakeRef<fw::FolderItem>(dir_ / "out" / "Holiday Photos (Dithered)" / name)->OpenAsPicture()) << name;
  EXPECT_FALSE(window_->CancelBatchProcessing);  // the next batch starts afresh
  fw::RunEnablingPass();
  EXPECT_TRUE(app::MenuInstance()->_Lookup("FileOpen")->Enabled());
}

TEST_F(Batch, ClosingTheWindowCancelsItsBatchWithoutAMessage) {
  for (int i = 0; i < 40; ++i) SavePicture(source_ / Numbered("q", 100 + i), i % 50);
  window_->GateAt(2);
  StartBatch(dir_ / "out");
  ASSERT_TRUE(WaitForGate(*window_));
  window_->Close();
  window_->Release();
  ASSERT_TRUE(WaitForEnd());
  EXPECT_TRUE(message_.empty()) << message_;
  const auto written = Names(dir_ / "out" / "Holiday Photos (Dithered)");
  EXPECT_EQ(written.size(), 2u);
  for (const std::string& name : written)
    EXPECT_TRUE(fw::MakeRef<fw::FolderItem>(dir_ / "out" / "Holiday Photos (Dithered)" / name)->OpenAsPicture()) << name;
}

TEST_F(Batch, ABatchThatEndsUnderAnOpenDialog) {
  for (int i = 0; i < 12; ++i) SavePicture(source_ / Numbered("u", 10 + i), i);
  window_->GateAt(2);
  StartBatch(dir_ / "out");
  fw::Ref<batch::BatchDither> worker = window_->CurrentBatch();
  ASSERT_TRUE(worker);
  // The progress window is in front; the choose-folder dialog is opened again, the batch goes on, and the
  // dialog stays open until the batch has ended and its message was answered.
  fw::Ref<batch::W_Progress> progress = window_->CurrentProgress();
  progress->Show();
  ASSERT_TRUE(QTest::qWaitFor([&] { return QApplication::activeWindow() == progress->Widget(); }, 5000));
  ASSERT_TRUE(WaitForGate(*window_));
  // The framework's own dialogs belong to the document window too.
  QWidget* openOwner = nullptr;
  new testing_support::DialogAnswerer<QFileDialog>([&](QFileDialog& dialog) {
    openOwner = dialog.parentWidget();
    dialog.reject();
  });
  EXPECT_FALSE(fw::GetOpenFolderItem("special/any"));
  EXPECT_EQ(openOwner, window_->Widget());
  progress->Show();
  ASSERT_TRUE(QTest::qWaitFor([&] { return QApplication::activeWindow() == progress->Widget(); }, 5000));
  QWidget* owner = nullptr;
  new testing_support::DialogAnswerer<QFileDialog>([&](QFileDialog& dialog) {
    owner = dialog.parentWidget();
    window_->Release();
  });
  new testing_support::DialogAnswerer<QFileDialog>([&](QFileDialog& dialog) { dialog.reject(); },
                                                   [&] { return !worker->IsRunning(); });
  EXPECT_TRUE(fw::DeliverMenuCommand("FileBatchDither"));
  EXPECT_FALSE(worker->IsRunning());
  EXPECT_EQ(owner, window_->Widget());
  EXPECT_EQ(Names(dir_ / "out" / "Holiday Photos (Dithered)").size(), 12u);
  EXPECT_NE(message_.find("12 files were processed"), std::string::npos) << message_;
}

TEST_F(Batch, OneWindowsMessageLeavesTheOtherWindowsBatchFree) {
  // A long batch in a second window, and a short one here whose message comes while the other runs.
  const auto many = dir_ / "Many";
  std::filesystem::create_directory(many);
  std::filesystem::create_directory(dir_ / "out2");
  for (int i = 0; i < 40; ++i) SavePicture(many / Numbered("m", 100 + i), i % 50);
  SavePicture(source_ / "s.png", 1);
  fw::Ref<GatedWindow> other = NewGatedWindow();
  other->GateAt(2);
  testing_support::AnswerFolderDialog((dir_ / "out2").string());
  other->SetInputBatch(fw::MakeRef<fw::FolderItem>(many));
  fw::Ref<batch::BatchDither> otherWorker = other->CurrentBatch();
  ASSERT_TRUE(otherWorker);
  ASSERT_TRUE(WaitForGate(*other));

  Qt::WindowModality modality = Qt::NonModal;
  bool cancelledMeanwhile = false;
  double otherZoom = 0;
  new testing_support::DialogAnswerer<QMessageBox>(
      [&](QMessageBox& box) {
        modality = box.windowModality();
        // The other window keeps its shortcuts too.
        other->Show();
        EXPECT_TRUE(QTest::qWaitFor([&] { return QApplication::activeWindow() == other->Widget(); }, 5000));
        QTest::keyClick(other->Widget(), Qt::Key_2, Qt::ControlModifier);
        otherZoom = other->Scale();
        // The other window's Cancel, clicked as a person would while this message is up.
        fw::Ref<batch::W_Progress> progress = other->CurrentProgress();
        if (progress) QTest::mouseClick(progress->PushButton1()->Widget(), Qt::LeftButton);
        cancelledMeanwhile = other->CancelBatchProcessing;
        other->Release();
        box.accept();
      },
      [&] { return QApplication::activeModalWidget()->parentWidget() == window_->Widget(); });
  testing_support::AnswerFolderDialog((dir_ / "out").string());
  window_->SetInputBatch(fw::MakeRef<fw::FolderItem>(source_));
  std::string otherMessage;
  new testing_support::DialogAnswerer<QMessageBox>(
      [&](QMessageBox& box) {
        otherMessage = box.informativeText().toStdString();
        box.accept();
      },
      [&] { return QApplication::activeModalWidget()->parentWidget() == other->Widget(); });
  ASSERT_TRUE(WaitForEnd());
  ASSERT_TRUE(QTest::qWaitFor([&] { return !otherWorker->IsRunning(); }, 60000));
  EXPECT_EQ(modality, Qt::WindowModal);
  EXPECT_TRUE(cancelledMeanwhile);
  EXPECT_EQ(otherZoom, 2.0);
  EXPECT_EQ(Names(dir_ / "out" / "Holiday Photos (Dithered)"), std::vector<std::string>{"s.png"});
  const auto written = Names(dir_ / "out2" / "Many (Dithered)");
  EXPECT_EQ(written.size(), 2u);
  EXPECT_NE(otherMessage.find(std::to_string(written.size()) + " files were processed"), std::string::npos)
      << otherMessage;
  for (const std::string& name : written)
    EXPECT_TRUE(SamePixels(*fw::MakeRef<fw::FolderItem>(dir_ / "out2" / "Many (Dithered)" / name)->OpenAsPicture(),
                           *Expected(many / name)))
        << name;
  other->Close();
}

TEST_F(Batch, ClosingTheProgressWindowCancelsTheBatch) {
  for (int i = 0; i < 40; ++i) SavePicture(source_ / Numbered("c", 10 + i), i);
  window_->GateAt(2);
  StartBatch(dir_ / "out");
  ASSERT_TRUE(WaitForGate(*window_));
  window_->CurrentProgress()->Close();  // the close box's road
  window_->Release();
  ASSERT_TRUE(WaitForEnd());
  EXPECT_EQ(Names(dir_ / "out" / "Holiday Photos (Dithered)").size(), 2u);
  EXPECT_NE(message_.find("2 files were processed"), std::string::npos) << message_;
  EXPECT_FALSE(window_->CancelBatchProcessing);
}

TEST_F(Batch, QuittingWhileTheMessageIsUpLetsTheBatchEnd) {
  SavePicture(source_ / "q.png", 3);
  bool shown = false;
  new testing_support::DialogAnswerer<QMessageBox>([&](QMessageBox&) {
    shown = true;
    EXPECT_TRUE(fw::CloseAllWindows());  // what Quit does first
  });
  testing_support::AnswerFolderDialog((dir_ / "out").string());
  window_->SetInputBatch(fw::MakeRef<fw::FolderItem>(source_));
  ASSERT_TRUE(WaitForEnd());
  EXPECT_TRUE(shown);
  EXPECT_FALSE(window_->IsOpen());
  EXPECT_EQ(Names(dir_ / "out" / "Holiday Photos (Dithered)"), std::vector<std::string>{"q.png"});
}

TEST_F(Batch, ABatchKeepsTheOptionsItStartedWith) {
  testing_support::SetOption("OptionsContrast", false);
  testing_support::SetOption("OptionSharpen", false);
  for (int i = 0; i < 30; ++i) SavePicture(source_ / Numbered("o", 10 + i), i);
  std::map<std::string, fw::Ref<fw::Picture>> expected;
  for (int i = 0; i < 30; ++i) expected[Numbered("o", 10 + i)] = Expected(source_ / Numbered("o", 10 + i));
  window_->GateAt(2);
  StartBatch(dir_ / "out");
  ASSERT_TRUE(WaitForGate(*window_));
  // Meanwhile a new window turns Contrast on for all, and Sharpen is checked.
  fw::Ref<app::W_Main> second = app::NewDocumentWindow();
  testing_support::SetOption("OptionSharpen", true);
  window_->Release();
  ASSERT_TRUE(WaitForEnd());
  EXPECT_TRUE(app::MenuInstance()->_Lookup("OptionsContrast")->Checked());  // the menu tells the truth
  const auto written = Names(dir_ / "out" / "Holiday Photos (Dithered)");
  ASSERT_EQ(written.size(), 30u);
  for (const std::string& name : written)
    EXPECT_TRUE(SamePixels(*fw::MakeRef<fw::FolderItem>(dir_ / "out" / "Holiday Photos (Dithered)" / name)->OpenAsPicture(),
                           *expected[name]))
        << name;
  second->Close();
  testing_support::SetOption("OptionSharpen", false);
}

TEST_F(Batch, AnOutputFolderThatCannotBeMadeStartsNoBatch) {
  // With " (Dithered)" the name is longer than a file system allows, whoever runs the test.
  source_ = dir_ / std::string(250, 'n');
  std::filesystem::create_directory(source_);
  SavePicture(source_ / "a.png", 1);
  StartBatch(dir_ / "out");
  EXPECT_FALSE(window_->CurrentBatch());
  EXPECT_FALSE(window_->CurrentProgress());
  EXPECT_FALSE(window_->BatchRunning());
  EXPECT_NE(message_.find("could not be made in \xE2\x80\x9Cout\xE2\x80\x9D"), std::string::npos) << message_;
  EXPECT_NE(message_.find("The name is too long."), std::string::npos) << message_;
  EXPECT_TRUE(Names(dir_ / "out").empty());
}

TEST_F(Batch, TheMessageNeverNamesAFolderThatIsGone) {
  for (int i = 0; i < 4; ++i) SavePicture(source_ / Numbered("g", 10 + i), i);
  window_->GateAt(1);
  bool showFolderOffered = true;
  new testing_support::DialogAnswerer<QMessageBox>([&](QMessageBox& box) {
    message_ = (box.text() + "|" + box.informativeText()).toStdString();
    showFolderOffered = false;
    for (QAbstractButton* b : box.buttons()) showFolderOffered |= b->text() == "Show Folder" && b->isVisible();
    box.accept();
  });
  testing_support::AnswerFolderDialog((dir_ / "out").string());
  window_->SetInputBatch(fw::MakeRef<fw::FolderItem>(source_));
  ASSERT_TRUE(WaitForGate(*window_));
  std::filesystem::remove_all(dir_ / "out" / "Holiday Photos (Dithered)");  // the user clears it away
  window_->Release();
  ASSERT_TRUE(WaitForEnd());
  // Nothing can be written there any more: the batch stops at once and reads no further picture.
  EXPECT_EQ(message_, "Batch dithering has finished.|0 files were processed, but the folder \"Holiday Photos "
                      "(Dithered)\" is no longer there. 1 picture could not be saved because the folder is no "
                      "longer there. The batch stopped there, leaving 3 files of the folder unread.");
  EXPECT_FALSE(showFolderOffered);
}

TEST_F(Batch, AnOutputFolderMovedAsideMidBatchIsStillTheOneWrittenToldAndShown) {
  for (int i = 0; i < 6; ++i) SavePicture(source_ / Numbered("s", 10 + i), i);
  const auto output = dir_ / "out" / "Holiday Photos (Dithered)";
  const auto unrelated = dir_ / "Unrelated";
  std::filesystem::create_directory(unrelated);
  for (const bool link : {true, false}) {
    SCOPED_TRACE(link ? "a link to another folder in its place" : "a new folder of its name in its place");
    const auto moved = dir_ / (link ? "Kept" : "Kept again");
    FolderRecorder recorder;
    QDesktopServices::setUrlHandler("file", &recorder, "open");
    // Two pictures written, the third in hand.
    window_->GateAt(window_->Handed() + 3);
    StartBatch(dir_ / "out", "Show Folder");
    ASSERT_TRUE(WaitForGate(*window_));
    std::filesystem::rename(output, moved);
    if (link)
      std::filesystem::create_directory_symlink(unrelated, output);
    else
      std::filesystem::create_directory(output);
    window_->Release();
    const bool ended = WaitForEnd();
    QDesktopServices::unsetUrlHandler("file");
    ASSERT_TRUE(ended);
    // Nothing went anywhere else, and the message and Show Folder lead to where the files are.
    EXPECT_TRUE(Names(unrelated).empty());
    EXPECT_TRUE(Names(output).empty());
    std::vector<std::string> expected;
    for (int i = 0; i < 6; ++i) expected.push_back(Numbered("s", 10 + i));
    EXPECT_EQ(Names(moved), expected);
    for (const std::string& name : Names(moved)) {
      fw::Ref<fw::Picture> written = fw::MakeRef<fw::FolderItem>(moved / name)->OpenAsPicture();
      EXPECT_TRUE(written && SamePixels(*written, *Expected(source_ / name))) << name;
    }
    EXPECT_EQ(message_, "Batch dithering has finished.|6 files were processed and saved to the folder: \"" +
                            moved.filename().string() + "\"");
    EXPECT_EQ(recorder.shown.join("|").toStdString(), moved.string());
    std::filesystem::remove(output);
  }
}

namespace {

// The message tells the truth about a batch of `pictures` pictures into `output`: its count is the files
// there, every one whole, and the pictures it does not count were either not saved, for `reason`, or never
// read because the batch stopped. No temporary file is left, unless the disk no longer lets one be removed.
// Gives how many were not saved.
int ExpectTheTruthTold(const std::string& message, const std::filesystem::path& source,
                       const std::filesystem::path& output, const std::set<std::string>& reasons, int pictures,
                       bool readOnly = false) {
  // "<saved> files were processed and saved to the folder: "<name>". <unsaved> picture(s) could not be saved
  // because <reason>." (or, for several reasons, ": <n> because <reason>, <n> because <reason>."), then maybe
  // " The batch stopped there, leaving <unread> file(s) of the folder unread."
  std::string_view rest = message;
  auto take = [&](std::string_view text) {
    if (rest.substr(0, text.size()) != text) return false;
    rest.remove_prefix(text.size());
    return true;
  };
  auto number = [&] {
    int n = 0;
    const auto [end, error] = std::from_chars(rest.data(), rest.data() + rest.size(), n);
    if (error != std::errc()) return -1;
    rest.remove_prefix(static_cast<std::size_t>(end - rest.data()));
    return n;
  };
  int saved = -1, unsaved = -1, unread = 0;
  bool told = take("Batch dithering has finished.|") && (saved = number()) >= 0 &&
              take(" files were processed and saved to the folder: \"");
  if (told) {
    const std::size_t quote = rest.find("\". ");
    told = quote != std::string_view::npos;
    if (told) rest.remove_prefix(quote + 3);
  }
  // Each reason is told once, with the pictures it cost; the counts add up to the pictures not saved.
  std::set<std::string> toldReasons;
  auto reason = [&] {
    for (const std::string& r : reasons)
      if (!toldReasons.count(r) && take(r)) return toldReasons.insert(r).second;
    return false;
  };
  told = told && (unsaved = number()) > 0 &&
         take(unsaved == 1 ? " picture could not be saved" : " pictures could not be saved");
  if (told && reasons.size() == 1) {
    told = take(" because ") && reason();
  } else if (told) {
    int counted = 0, n = 0;
    for (const char* separator = ": "; told && toldReasons.size() < reasons.size(); separator = ", ") {
      told = take(separator) && (n = number()) > 0 && take(" because ") && reason();
      counted += n;
    }
    EXPECT_EQ(counted, unsaved) << message;
  }
  told = told && toldReasons == reasons && take(".");
  if (told && !rest.empty())
    told = take(" The batch stopped there, leaving ") && (unread = number()) > 0 &&
           take(unread == 1 ? " file of the folder unread." : " files of the folder unread.") && rest.empty();
  EXPECT_TRUE(told) << message;
  if (!told) return -1;
  EXPECT_EQ(saved + unsaved + unread, pictures) << message;
  std::vector<std::string> names = Names(output);
  if (readOnly) std::erase_if(names, [](const std::string& name) { return name[0] == '.'; });
  EXPECT_EQ(static_cast<int>(names.size()), saved) << message;
  for (const std::string& name : names) {
    if (name[0] == '.') {
      ADD_FAILURE() << "a temporary file was left: " << name;
      continue;
    }
    fw::Ref<fw::Picture> written = fw::MakeRef<fw::FolderItem>(output / name)->OpenAsPicture();
    EXPECT_TRUE(written && SamePixels(*written, *Expected(source / name))) << name;
  }
  return unsaved;
}

}  // namespace

TEST_F(Batch, WhatCouldNotBeSavedIsToldWithItsReason) {
  testing_support::SetOption("OptionsContrast", false);
  // A name the file system refuses: that picture is told and the batch goes on.
  SavePicture(source_ / "a.png", 1);
  SavePicture(source_ / (std::string(253, 'n') + ".j"), 2, "PNG");
  SavePicture(source_ / "z.png", 3);
  StartBatch(dir_ / "out");
  ASSERT_TRUE(WaitForEnd());
  const auto output = dir_ / "out" / "Holiday Photos (Dithered)";
  EXPECT_EQ(ExpectTheTruthTold(message_, source_, output, {"the name is too long"}, 3), 1);
  EXPECT_EQ(Names(output), (std::vector<std::string>{"a.png", "z.png"}));

  // A disk that fails every flush: no file takes its name, and none is claimed.
  source_ = dir_ / "Flushed";
  std::filesystem::create_directory(source_);
  for (int i = 0; i < 6; ++i) SavePicture(source_ / Numbered("f", 10 + i), i);
  testing_support::FailFlushesIn(dir_ / "out" / "Flushed (Dithered)");
  StartBatch(dir_ / "out");
  const bool ended = WaitForEnd();
  testing_support::FailFlushesIn({});
  ASSERT_TRUE(ended);
  EXPECT_GT(ExpectTheTruthTold(message_, source_, dir_ / "out" / "Flushed (Dithered)", {"the disk reported an error"}, 6), 0);
  EXPECT_TRUE(Names(dir_ / "out" / "Flushed (Dithered)").empty());

  // Two reasons in one batch: each is told with its own count.
  source_ = dir_ / "Mixed";
  std::filesystem::create_directory(source_);
  SavePicture(source_ / "a.png", 1);
  SavePicture(source_ / (std::string(253, 'n') + ".j"), 2, "PNG");
  SavePicture(source_ / "z.png", 3);
  testing_support::FailFlushesIn(dir_ / "out" / "Mixed (Dithered)");
  StartBatch(dir_ / "out");
  const bool mixedEnded = WaitForEnd();
  testing_support::FailFlushesIn({});
  ASSERT_TRUE(mixedEnded);
  EXPECT_EQ(ExpectTheTruthTold(message_, source_, dir_ / "out" / "Mixed (Dithered)",
                               {"the name is too long", "the disk reported an error"}, 3),
            3);

  // The folder's own flush fails after the renames: the names the disk did not confirm are taken back.
  source_ = dir_ / "Named";
  std::filesystem::create_directory(source_);
  for (int i = 0; i < 4; ++i) SavePicture(source_ / Numbered("k", 10 + i), i);
  testing_support::FailFlushesIn(dir_ / "out" / "Named (Dithered)", testing_support::Flushes::OfItself);
  StartBatch(dir_ / "out");
  const bool namedEnded = WaitForEnd();
  testing_support::FailFlushesIn({});
  ASSERT_TRUE(namedEnded);
  EXPECT_GT(ExpectTheTruthTold(message_, source_, dir_ / "out" / "Named (Dithered)", {"the disk reported an error"}, 4),
            0);
  EXPECT_TRUE(Names(dir_ / "out" / "Named (Dithered)").empty());

  testing_support::SmallDisk disk(96 * 1024);
  if (!disk.Mounted()) GTEST_SKIP() << disk.Why();
  // The disk fills part-way: the batch stops there and reads no more pictures.
  source_ = dir_ / "Many";
  std::filesystem::create_directory(source_);
  for (int i = 0; i < 40; ++i) SavePicture(source_ / Numbered("m", 100 + i), i);
  const int handedBefore = window_->Handed();
  StartBatch(disk.path());
  ASSERT_TRUE(WaitForEnd());
  EXPECT_GT(ExpectTheTruthTold(message_, source_, disk / "Many (Dithered)", {"the disk is full"}, 40), 0);
  EXPECT_LT(window_->Handed() - handedBefore, 40);
  EXPECT_NE(message_.find("The batch stopped there"), std::string::npos) << message_;

  // The disk turns read-only mid-batch.
  std::filesystem::remove_all(disk / "Many (Dithered)");
  const int before = window_->Handed();
  window_->GateAt(before + 3);
  StartBatch(disk.path());
  ASSERT_TRUE(WaitForGate(*window_));
  ASSERT_TRUE(disk.MakeReadOnly());
  window_->Release();
  ASSERT_TRUE(WaitForEnd());
  EXPECT_GT(ExpectTheTruthTold(message_, source_, disk / "Many (Dithered)", {"the folder does not allow writing"}, 40,
                               true),
            0);
  EXPECT_LT(window_->Handed() - before, 40);
}

TEST_F(Batch, TheWindowsStateIsSafeToReadFromAnotherThread) {
  std::thread reader([w = window_] {
    while (w->IsOpen()) std::this_thread::yield();
  });
  window_->Close();
  reader.join();
  EXPECT_FALSE(window_->IsOpen());
}

TEST_F(Batch, AFolderOfTwoHundredPictures) {
  for (int i = 0; i < 200; ++i)
    ASSERT_TRUE(Gradient(4, 3, i).save(QString::fromStdString((source_ / Numbered("n", i)).string())));
  StartBatch(dir_ / "out");
  ASSERT_TRUE(WaitForEnd());
  EXPECT_EQ(Names(dir_ / "out" / "Holiday Photos (Dithered)").size(), 200u);
  EXPECT_NE(message_.find("200 files were processed"), std::string::npos) << message_;
}

namespace {

// A property list as "Name=value" entries, one after another.
std::string Entries(const std::string& bytes, const fw::PropertyTypeOf& typeOf) {
  std::optional<std::vector<fw::Property>> list = fw::DecodePropertyList(bytes, typeOf);
  if (!list) return "malformed";
  std::string out;
  for (const fw::Property& p : *list) {
    out += p.name + "=";
    if (const auto* i = std::get_if<std::int32_t>(&p.value)) out += std::to_string(*i);
    if (const auto* b = std::get_if<bool>(&p.value)) out += *b ? "true" : "false";
    if (const auto* s = std::get_if<std::string>(&p.value)) out += "'" + *s + "'";
    if (const auto* c = std::get_if<fw::PropertyColor>(&p.value))
      out += std::to_string(c->red) + "," + std::to_string(c->green) + "," + std::to_string(c->blue);
    out += " ";
  }
  return out;
}

}  // namespace

TEST_F(Batch, TheProgressWindowAndItsLists) {
  EXPECT_EQ(batch::W_Progress::WindowSettings().size(), 275u);
  EXPECT_EQ(batch::W_Progress::ProgressBarSettings().size(), 211u);
  EXPECT_EQ(batch::W_Progress::ButtonSettings().size(), 306u);
  EXPECT_EQ(batch::W_Progress::LabelSettings().size(), 345u);
  // Every value, not only the lengths: a value changed to another of the same width shows here.
  EXPECT_EQ(Entries(batch::W_Progress::WindowSettings(), &fw::WindowPropertyType),
            "Placement=0 Width=300 Height=118 MinWidth=64 MinHeight=64 MaxWidth=32000 MaxHeight=32000 Frame=8 "
            "Composite=false HasBackColor=false BackColor=255,255,255 Title='Progress' Visible=true FullScreen=false "
            "MenuBarVisible=true CloseButton=true Resizeable=false LiveResize=true MaximizeButton=false "
            "MinimizeButton=true MacProcID=0 ");
  const std::string common = "LockLeft=false LockTop=false LockRight=false LockBottom=false TabPanelIndex=0 ";
  const std::string shown = "Visible=true Enabled=true AutoDeactivate=true HelpTag='' InitialParent='' ";
  const std::string font = "TextFont='System' TextSize=0 Bold=false Italic=false Underline=false ";
  EXPECT_EQ(Entries(batch::W_Progress::ProgressBarSettings(), &fw::ControlPropertyType),
            "Name='PB_Watch' Index=-2147483648 Left=20 Top=46 Width=260 Height=20 " + common + shown +
                "Value=0 Maximum=0 ");
  EXPECT_EQ(Entries(batch::W_Progress::ButtonSettings(), &fw::ControlPropertyType),
            "Name='PushButton1' Index=-2147483648 Left=200 Top=78 Width=80 Height=20 " + common + "TabIndex=1 " +
                shown + "Caption='Cancel' Default=false Cancel=true TabStop=true " + font);
  EXPECT_EQ(Entries(batch::W_Progress::LabelSettings(), &fw::ControlPropertyType),
            "Name='ST_Name' Index=-2147483648 Left=20 Top=14 Width=260 Height=20 " + common + "TabIndex=2 " + shown +
                "Text='Dithering: ' TextAlign=0 TextColor=0,0,0 Multiline=false " + font + "DataSource='' DataField='' ");

  fw::Ref<batch::W_Progress> progress = fw::MakeRef<batch::W_Progress>();
  progress->Constructor(window_.get());
  EXPECT_EQ(progress->Title(), "Progress");
  EXPECT_EQ(progress->Width(), 300);
  EXPECT_EQ(progress->Height(), 118);
  EXPECT_EQ(progress->ST_Name()->Text(), "Dithering: ");
  EXPECT_TRUE(testing_support::FixedSize(progress->Widget()));
  EXPECT_EQ(progress->Height(), 118);
  progress->UpdateName("a.jpg");
  EXPECT_EQ(progress->ST_Name()->Text(), "Dithering: a.jpg");
  EXPECT_TRUE(testing_support::TextsFit(progress->Widget()));  // the label and Cancel, whole
  progress->UpdateName("");
  EXPECT_EQ(progress->ST_Name()->Text(), "Dithering: a.jpg");
  EXPECT_EQ(progress->PushButton1()->Caption(), "Cancel");
  EXPECT_EQ(progress->PB_Watch()->Maximum(), 0);

  // Escape in the window presses Cancel.
  window_->CancelBatchProcessing = false;
  progress->Show();
  ASSERT_TRUE(QTest::qWaitFor([&] { return QApplication::activeWindow() == progress->Widget(); }, 5000));
  QTest::keyClick(progress->Widget(), Qt::Key_Escape);
  EXPECT_TRUE(window_->CancelBatchProcessing);
  window_->CancelBatchProcessing = false;
  progress->PushButton1()->Push();
  EXPECT_TRUE(window_->CancelBatchProcessing);
  progress->PushButton1()->Push();
  EXPECT_TRUE(window_->CancelBatchProcessing);
  EXPECT_TRUE(progress->IsOpen());
  progress->Close();
  EXPECT_FALSE(progress->PreviewWindow.Load());
  window_->CancelBatchProcessing = false;
}

TEST_F(Batch, ShowFolderOpensTheOutputFolder) {
  SavePicture(source_ / "only.png", 5);
  FolderRecorder recorder;
  QDesktopServices::setUrlHandler("file", &recorder, "open");
  StartBatch(dir_ / "out", "Show Folder");
  ASSERT_TRUE(WaitForEnd());
  QDesktopServices::unsetUrlHandler("file");
  EXPECT_EQ(recorder.shown, QStringList{QString::fromStdString((dir_ / "out" / "Holiday Photos (Dithered)").string())});

  // With no program to open it, the user is told which folder could not be shown.
  testing_support::NoProgramsOnPath noPrograms;
  ASSERT_FALSE(QDesktopServices::openUrl(QUrl::fromLocalFile(QString::fromStdString(dir_.path().string()))));
  std::filesystem::create_directory(dir_ / "elsewhere");
  message_.clear();
  std::string told;
  new testing_support::DialogAnswerer<QMessageBox>(
      [&](QMessageBox& box) {
        told = (box.text() + "|" + box.informativeText()).toStdString();
        box.accept();
      },
      [this] { return !message_.empty(); });
  StartBatch(dir_ / "elsewhere", "Show Folder");
  ASSERT_TRUE(WaitForEnd());
  ASSERT_TRUE(std::filesystem::is_directory(dir_ / "elsewhere" / "Holiday Photos (Dithered)"));
  EXPECT_NE(told.find("\"Holiday Photos (Dithered)\" could not be shown"), std::string::npos) << told;
  EXPECT_NE(told.find("No program to open it was found"), std::string::npos) << told;
}

#include "test_batch.moc"
