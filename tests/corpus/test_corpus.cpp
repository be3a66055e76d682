// Hostile files through every way a file comes in: opening, dropping on a window, and a folder batch.
// Nothing may crash, hang or block; bombs are refused; a large real photograph still opens.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QAbstractButton>
#include <QApplication>
#include <QDropEvent>
#include <QMainWindow>
#include <QMessageBox>
#include <QMimeData>
#include <QTest>
#include <QUrl>
#include <chrono>

#include "AppFixture.h"
#include "HostileFiles.h"
#include "batch/W_MainBatchSide.h"
#include "framework/MenuCommands.h"
#include "framework/PictureFile.h"

using testing_support::TempDir;

namespace {

#if defined(__SANITIZE_ADDRESS__)
constexpr int kMutations = 300;  // the sanitizers make each decode many times slower
#else
constexpr int kMutations = 1000;
#endif

// Generous on purpose: it catches a hang or a real decode of a bomb; bench/refusal_bench.cpp measures.
constexpr auto kRefusalBound = std::chrono::seconds(5);
// Per file on the open and drop paths, dithering included: only a hang or a block exceeds it.
constexpr auto kHangBound = std::chrono::seconds(30);

constexpr const char* kBombWithinByteLimit = "bomb-rgba-12000.png";

fw::Ref<fw::Picture> Open(const std::filesystem::path& path) { return fw::MakeRef<fw::FolderItem>(path)->OpenAsPicture(); }

double Seconds(std::chrono::steady_clock::duration d) { return std::chrono::duration<double>(d).count(); }

std::vector<std::string> Names(const std::filesystem::path& folder) {
  std::vector<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(folder)) names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

QWidget* Content(app::W_Main& w) { return static_cast<QMainWindow*>(w.Widget())->centralWidget(); }

void Drop(app::W_Main& w, const std::filesystem::path& path) {
  QMimeData data;
  data.setUrls({QUrl::fromLocalFile(QString::fromStdString(path.string()))});
  QWidget* target = Content(w);
  QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(target, &enter);
  if (!enter.isAccepted()) return;
  QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(target, &drop);
}

// The corpus folder, written once for the whole suite.
struct CorpusFolder {
  TempDir root;
  std::filesystem::path folder = root / "Hostile";
  std::vector<std::string> bombs;
  std::vector<std::string> valid;

  CorpusFolder() {
    std::filesystem::create_directory(folder);
    const std::vector<hostile::Valid> files = hostile::ValidFiles();
    for (const hostile::Valid& v : files) {
      valid.push_back("valid-" + v.name + v.extension);
      testing_support::WriteFile(folder / valid.back(), v.bytes);
    }
    for (const hostile::Hostile& h : hostile::Truncations(files)) testing_support::WriteFile(folder / h.name, h.bytes);
    for (const hostile::Hostile& h : hostile::Mutations(files, kMutations)) testing_support::WriteFile(folder / h.name, h.bytes);
    for (const hostile::Hostile& h : hostile::Oddities(files)) testing_support::WriteFile(folder / h.name, h.bytes);
    for (const hostile::Hostile& h : hostile::Bombs()) {
      bombs.push_back(h.name);
      testing_support::WriteFile(folder / h.name, h.bytes);
    }
    if (mkfifo((folder / "p.png").c_str(), 0600) != 0) throw std::runtime_error("mkfifo");
    std::filesystem::create_symlink("/dev/zero", folder / "zero.png");
    std::filesystem::create_symlink(folder / "missing.png", folder / "dangling.png");
    std::filesystem::create_symlink(folder / "loop2.png", folder / "loop1.png");
    std::filesystem::create_symlink(folder / "loop1.png", folder / "loop2.png");
  }
};

class Corpus : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    batch::InstallBatchSide();
    testing_support::StartProgram();
    const auto start = std::chrono::steady_clock::now();
    corpus_ = new CorpusFolder;
    std::printf("corpus of %zu files written in %.2f s\n", Names(corpus_->folder).size(),
                Seconds(std::chrono::steady_clock::now() - start));
  }
  static void TearDownTestSuite() {
    delete corpus_;
    corpus_ = nullptr;
  }
  void SetUp() override {
    ASSERT_TRUE(fw::CloseAllWindows());
    ASSERT_TRUE(fw::WaitForThreads(std::chrono::seconds(30)));
    testing_support::SetOption("OptionSharpen", true);  // the convolution sees every picture too
    fw::Ref<app::W_Main> made = app::NewDocumentWindow();
    window_ = fw::Ref<batch::W_MainBatchSide>(dynamic_cast<batch::W_MainBatchSide*>(made.get()));
    ASSERT_TRUE(window_);
    window_->Show();
  }
  void TearDown() override { testing_support::SetOption("OptionSharpen", false); }

  static std::vector<std::filesystem::path> Files() {
    std::vector<std::filesystem::path> out;
    for (const std::string& name : Names(corpus_->folder)) out.push_back(corpus_->folder / name);
    return out;
  }

  static CorpusFolder* corpus_;
  fw::Ref<batch::W_MainBatchSide> window_;
};

CorpusFolder* Corpus::corpus_ = nullptr;

void ExpectDitheredLike(app::W_Main& window, const fw::Picture& source, const std::string& name) {
  fw::Ref<fw::Picture> result = window.DitheredImage();
  ASSERT_TRUE(result) << name;
  EXPECT_EQ(result->Width(), source.Width()) << name;
  EXPECT_EQ(result->Height(), source.Height()) << name;
}

}  // namespace

TEST_F(Corpus, EveryFileOpensOrIsRefusedAndWhatOpensIsDithered) {
  int opened = 0;
  double slowest = 0;
  std::string slowestName;
  for (const auto& path : Files()) {
    const std::string name = path.filename().string();
    const auto start = std::chrono::steady_clock::now();
    fw::Ref<fw::Picture> picture = Open(path);
    const double took = Seconds(std::chrono::steady_clock::now() - start);
    if (took > slowest) slowest = took, slowestName = name;
    EXPECT_LT(took, Seconds(kHangBound)) << name;
    if (!picture) continue;
    ++opened;
    window_->SetInputPic(picture);
    ExpectDitheredLike(*window_, *picture, name);
  }
  std::printf("%d of %zu files opened; slowest open %.3f s (%s)\n", opened, Files().size(), slowest, slowestName.c_str());
  for (const std::string& name : corpus_->valid) EXPECT_TRUE(Open(corpus_->folder / name)) << name;
  EXPECT_TRUE(Open(corpus_->folder / "jpeg-named.png"));  // the content decides, not the name
}

TEST_F(Corpus, EveryFileDroppedOnAWindow) {
  int taken = 0;
  for (const auto& path : Files()) {
    const std::string name = path.filename().string();
    window_->Clear();
    const auto start = std::chrono::steady_clock::now();
    Drop(*window_, path);
    EXPECT_LT(std::chrono::steady_clock::now() - start, kHangBound) << name;
    if (fw::Ref<fw::Picture> source = window_->InputPicture()) {
      ++taken;
      ExpectDitheredLike(*window_, *source, name);
    }
  }
  std::printf("%d drops gave a picture\n", taken);
  EXPECT_GE(taken, static_cast<int>(corpus_->valid.size()));
}

TEST_F(Corpus, ABatchOverTheWholeCorpus) {
  TempDir out;
  std::string message;
  new testing_support::DialogAnswerer<QMessageBox>([&message](QMessageBox& box) {
    message = (box.text() + "|" + box.informativeText()).toStdString();
    for (QAbstractButton* b : box.buttons())
      if (b->text() == "OK") b->click();
  });
  testing_support::AnswerFolderDialog(out.path().string());
  const auto start = std::chrono::steady_clock::now();
  window_->SetInputBatch(fw::MakeRef<fw::FolderItem>(corpus_->folder));
  fw::Ref<batch::BatchDither> worker = window_->CurrentBatch();
  ASSERT_TRUE(worker);
  ASSERT_TRUE(QTest::qWaitFor([&] { return !worker->IsRunning(); }, 600000));
  ASSERT_TRUE(QTest::qWaitFor([&] { return !message.empty(); }, 30000));
  std::printf("batch over the corpus took %.2f s\n", Seconds(std::chrono::steady_clock::now() - start));

  const auto output = out.path() / "Hostile (Dithered)";
  const std::vector<std::string> written = Names(output);
  // The explanation begins with the count: "<n> files were processed and saved to the folder: ...".
  const std::size_t bar = message.find('|');
  ASSERT_NE(bar, std::string::npos) << message;
  const std::string explanation = message.substr(bar + 1);
  ASSERT_NE(explanation.find(" files were processed"), std::string::npos) << message;
  EXPECT_EQ(std::stoul(explanation), written.size()) << message;
  EXPECT_GE(written.size(), corpus_->valid.size());
  for (const std::string& name : written) {
    fw::Ref<fw::Picture> p = Open(output / name);
    ASSERT_TRUE(p) << name;
    fw::Ref<fw::RGBSurface> s = p->RGBSurface();
    for (int y = 0; y < p->Height(); y += std::max(1, p->Height() / 7))
      for (int x = 0; x < p->Width(); x += std::max(1, p->Width() / 7)) {
        const fw::Color c = s->Pixel(x, y);
        ASSERT_TRUE(c == fw::RGB(0, 0, 0) || c == fw::RGB(255, 255, 255)) << name;
      }
  }
}

static void ExpectRefusedQuickly(const std::filesystem::path& path) {
  const auto start = std::chrono::steady_clock::now();
  const bool opened = static_cast<bool>(Open(path));
  const auto took = std::chrono::steady_clock::now() - start;
  EXPECT_FALSE(opened) << path.filename();
  EXPECT_LT(took, kRefusalBound) << path.filename();
  std::printf("%-28s %s in %.4f s\n", path.filename().c_str(), opened ? "OPENED" : "refused", Seconds(took));
}

TEST_F(Corpus, BombsAreRefusedQuicklyWhileASixtyMegapixelPhotographOpens) {
  for (const std::string& name : corpus_->bombs)
    if (name != kBombWithinByteLimit) ExpectRefusedQuickly(corpus_->folder / name);

  TempDir dir;
  testing_support::WriteFile(dir / "photo.jpg", hostile::Encode(hostile::Smooth(9000, 6700), "jpeg", false, 90));
  fw::Ref<fw::Picture> photo = Open(dir / "photo.jpg");
  ASSERT_TRUE(photo);
  EXPECT_EQ(photo->Width(), 9000);
  EXPECT_EQ(photo->Height(), 6700);
  EXPECT_NEAR(fw::Red(photo->RGBSurface()->Pixel(8999, 0)), 255, 8);
}

// 144 megapixels of RGBA need 576 MB decoded: under the decoder's byte limit, yet far beyond any
// photograph the program is meant for.
TEST_F(Corpus, ABombWithinTheByteLimitIsRefused) { ExpectRefusedQuickly(corpus_->folder / kBombWithinByteLimit); }
