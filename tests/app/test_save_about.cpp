// File > "Save..." through the real save dialog and the real PNG plug-in, and the About window.
#include <gtest/gtest.h>
#include <png.h>

#include <QApplication>
#include <QClipboard>
#include <QDesktopServices>
#include <QImage>
#include <QLabel>
#include <QMessageBox>
#include <QTest>
#include <QUrl>
#include <random>

#include "AppFixture.h"
#include "SmallDisk.h"
#include "app/W_About.h"
#include "framework/Controls.h"
#include "framework/Desktop.h"
#include "framework/MenuCommands.h"
#include "framework/PictureFile.h"

using testing_support::TempDir;

namespace {

QImage Gradient(int w, int h) {
  QImage image(w, h, QImage::Format_RGB32);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) image.setPixel(x, y, qRgb(x * 255 / w, y * 255 / h, 60));
  return image;
}

struct PngHeader {
  int bitDepth = 0;
  int colourType = -1;
};

PngHeader HeaderOf(const std::filesystem::path& path) {
  const std::string bytes = testing_support::ReadFile(path);
  PngHeader h;
  if (bytes.size() < 33 || bytes.compare(1, 3, "PNG") != 0) return h;
  h.bitDepth = static_cast<unsigned char>(bytes[24]);
  h.colourType = static_cast<unsigned char>(bytes[25]);
  return h;
}

// Records the web addresses the program opens, instead of starting a browser.
class UrlRecorder : public QObject {
  Q_OBJECT
 public:
  QStringList urls;
 public slots:
  void open(const QUrl& url) { urls << url.toString(); }
};

class SaveAndAbout : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { testing_support::StartProgram(); }
  void TearDown() override { testing_support::DropPendingAnswerers(); }
  void SetUp() override {
    ASSERT_TRUE(fw::CloseAllWindows());
    app::MenuInstance()->_Lookup("ViewShowOriginal")->SetChecked(false);
    window_ = app::NewDocumentWindow();
    window_->Show();
    QApplication::clipboard()->setImage(Gradient(64, 48));
    ASSERT_TRUE(window_->_EditPaste_Action());
  }
  fw::Ref<app::W_Main> window_;
  TempDir dir_;
};

}  // namespace

TEST_F(SaveAndAbout, SavingWritesTheDitheredPictureAsAnOptimisedPng) {
  app::MenuInstance()->_Lookup("ViewShowOriginal")->SetChecked(true);  // the result is saved all the same
  const auto first = dir_ / "first.png";
  const auto second = dir_ / "second";  // no extension is added
  testing_support::AnswerFileDialog(first.string());
  EXPECT_TRUE(window_->_FileSave_Action());
  testing_support::AnswerFileDialog(second.string());
  EXPECT_TRUE(window_->_FileSave_Action());
  for (const auto& file : {first, second}) {
    ASSERT_TRUE(std::filesystem::exists(file)) << file;
    EXPECT_EQ(HeaderOf(file).bitDepth, 1) << file;  // black and white only: a one-bit PNG
    EXPECT_EQ(HeaderOf(file).colourType, 0);
    fw::Ref<fw::Picture> back = fw::MakeRef<fw::FolderItem>(file)->OpenAsPicture();
    ASSERT_TRUE(back);
    fw::Ref<fw::Picture> result = window_->DitheredImage();
    ASSERT_EQ(back->Width(), result->Width());
    for (int y = 0; y < back->Height(); ++y)
      ASSERT_EQ(std::memcmp(back->Row(y), result->Row(y), static_cast<std::size_t>(back->Width() * 4)), 0) << y;
  }
  EXPECT_FALSE(std::filesystem::exists(dir_ / "second.png"));
  // The temporary file lives in a folder only this user can enter.
  fw::Ref<fw::FolderItem> temporary = fw::SpecialFolderTemporary();
  ASSERT_TRUE(temporary);
  const auto perms = std::filesystem::status(temporary->NativePath()).permissions();
  EXPECT_EQ(perms & std::filesystem::perms::all, std::filesystem::perms::owner_all);
  // ...and goes once the optimiser has read it.
  EXPECT_FALSE(std::filesystem::exists(temporary->NativePath() / "Dithered Image.png"));
}

TEST_F(SaveAndAbout, SaveTakesThePictureOnScreenWhenTheCommandStarts) {
  const fw::Ref<fw::Picture> shown = window_->DitheredImage();
  ASSERT_TRUE(shown);
  // While the dialog is up, a batch puts another picture in the window.
  QImage other(64, 48, QImage::Format_RGB32);
  other.fill(qRgb(20, 20, 20));
  const auto file = dir_ / "mine.png";
  testing_support::AnswerFileDialog(file.string(), [&] { window_->SetInputPic(fw::PictureFromImage(other)); });
  EXPECT_TRUE(window_->_FileSave_Action());
  ASSERT_NE(window_->DitheredImage().get(), shown.get());
  fw::Ref<fw::Picture> back = fw::MakeRef<fw::FolderItem>(file)->OpenAsPicture();
  ASSERT_TRUE(back);
  for (int y = 0; y < back->Height(); ++y)
    ASSERT_EQ(std::memcmp(back->Row(y), shown->Row(y), static_cast<std::size_t>(back->Width() * 4)), 0) << y;

  // A temporary copy that can't be written is told under the name the user chose, with its reason.
  fw::Ref<fw::FolderItem> temporary = fw::SpecialFolderTemporary();
  ASSERT_TRUE(temporary);
  std::filesystem::create_directory(temporary->NativePath() / "Dithered Image.png");
  std::string text, why;
  new testing_support::DialogAnswerer<QMessageBox>([&](QMessageBox& box) {
    text = box.text().toStdString();
    why = box.informativeText().toStdString();
    box.accept();
  });
  testing_support::AnswerFileDialog((dir_ / "again.png").string());
  EXPECT_TRUE(window_->_FileSave_Action());
  std::filesystem::remove(temporary->NativePath() / "Dithered Image.png");
  EXPECT_NE(text.find("again.png"), std::string::npos) << text;
  EXPECT_NE(why.find("temporary"), std::string::npos) << why;
  EXPECT_NE(why.find("A folder of that name is in the way."), std::string::npos) << why;
  EXPECT_FALSE(std::filesystem::exists(dir_ / "again.png"));
}

TEST_F(SaveAndAbout, CancellingWritesNothing) {
  fw::Ref<fw::FolderItem> temporary = fw::SpecialFolderTemporary();
  std::filesystem::remove(temporary->NativePath() / "Dithered Image.png");
  testing_support::AnswerFileDialog("");
  EXPECT_TRUE(window_->_FileSave_Action());
  EXPECT_FALSE(std::filesystem::exists(temporary->NativePath() / "Dithered Image.png"));
  EXPECT_TRUE(std::filesystem::is_empty(dir_.path()));
}

TEST_F(SaveAndAbout, AFailedSaveSaysWhyAndWritesNothing) {
  // A folder where no file can be made, whoever runs the test.
  const std::filesystem::path target = "/proc/speckmoor-saved.png";
  std::string shown;
  new testing_support::DialogAnswerer<QMessageBox>([&](QMessageBox& box) {
    shown = (box.text() + " " + box.informativeText()).toStdString();
    box.accept();
  });
  testing_support::AnswerFileDialog(target.string());
  EXPECT_TRUE(window_->_FileSave_Action());
  EXPECT_NE(shown.find("speckmoor-saved.png"), std::string::npos) << shown;
  EXPECT_GT(shown.size(), std::string("The picture could not be saved as speckmoor-saved.png.").size() + 3) << shown;
  EXPECT_FALSE(std::filesystem::exists(target));

  // When the temporary copy can't be written, an old one left from a save that crashed never reaches
  // the chosen file: a picture wider than a PNG may be is what the copy fails on here.
  fw::Ref<fw::FolderItem> temporary = fw::SpecialFolderTemporary();
  ASSERT_TRUE(temporary);
  ASSERT_TRUE(Gradient(8, 8).save(QString::fromStdString((temporary->NativePath() / "Dithered Image.png").string())));
  fw::Ref<fw::Picture> tooWide = fw::NewPicture(1'000'001, 1, 32);
  ASSERT_TRUE(tooWide);
  tooWide->RGBSurface()->SetPixel(0, 0, fw::RGB(90, 90, 90));
  window_->Engine()->buffer.Store(tooWide);
  new testing_support::DialogAnswerer<QMessageBox>([](QMessageBox& box) { box.accept(); });
  testing_support::AnswerFileDialog((dir_ / "chosen.png").string());
  EXPECT_TRUE(window_->_FileSave_Action());
  EXPECT_FALSE(std::filesystem::exists(dir_ / "chosen.png"));
  std::filesystem::remove(temporary->NativePath() / "Dithered Image.png");

  // A nearly full disk: the reason is the failing write's own, not a guess made afterwards by something
  // small enough to fit.
  testing_support::SmallDisk disk(256 * 1024);
  if (!disk.Mounted()) GTEST_SKIP() << disk.Why();
  disk.FillLeaving(16 * 1024);
  std::mt19937 random(5);
  window_->Engine()->buffer.Store(testing_support::MakePicture(800, 800, [&](int, int) {
    return random() % 2 ? fw::RGB(255, 255, 255) : fw::RGB(0, 0, 0);
  }));
  std::string why;
  new testing_support::DialogAnswerer<QMessageBox>([&](QMessageBox& box) {
    why = box.informativeText().toStdString();
    box.accept();
  });
  testing_support::AnswerFileDialog((disk / "full.png").string());
  EXPECT_TRUE(window_->_FileSave_Action());
  EXPECT_EQ(why, "The disk is full.");
  EXPECT_FALSE(std::filesystem::exists(disk / "full.png"));
  for (const auto& entry : std::filesystem::directory_iterator(disk.path()))
    EXPECT_EQ(entry.path().filename(), "filler") << "left on the disk";
}

TEST_F(SaveAndAbout, OneAboutWindowWithTheVersionAndTheCredits) {
  EXPECT_TRUE(window_->_AppleAboutSpeckmoor_Action());
  EXPECT_TRUE(window_->_AppleAboutSpeckmoor_Action());
  int abouts = 0;
  fw::Ref<app::W_About> about;
  for (const auto& w : fw::OpenWindows())
    if (auto* a = dynamic_cast<app::W_About*>(w.get())) {
      ++abouts;
      about = fw::Ref<app::W_About>(a);
    }
  ASSERT_EQ(abouts, 1);
  EXPECT_EQ(about->Title(), "");
  EXPECT_EQ(about->Width(), 284);
  EXPECT_EQ(about->Height(), 228);
  EXPECT_TRUE(testing_support::FixedSize(about->Widget()));
  EXPECT_EQ(about->Width(), 284);
  fw::Ref<fw::StaticText> version = about->ControlNamed<fw::StaticText>("StaticText2");
  ASSERT_TRUE(version);
  EXPECT_EQ(version->Text(), app::AppInstance()->LongVersion());
  EXPECT_FALSE(version->Text().empty());
  fw::Ref<fw::StaticText> credits = about->ControlNamed<fw::StaticText>("StaticText3");
  ASSERT_TRUE(credits);
  const std::string creditText = credits->Text();
  EXPECT_EQ(std::count(creditText.begin(), creditText.end(), '\r'), 3);
  EXPECT_NE(creditText.find(app::kWebAddress), std::string::npos);
  EXPECT_EQ(about->ControlNamed<fw::StaticText>("StaticText1")->Text(), "Speckmoor");
  // Each text whole in its frame: the name's descenders, the version, the four lines of credits.
  EXPECT_TRUE(testing_support::TextsFit(about->Widget()));

  // The icon shows: the canvas area is not the plain background any more.
  ASSERT_TRUE(QTest::qWaitForWindowExposed(about->Widget()));
  const QImage shot = about->Widget()->grab().toImage();
  const QRgb background = shot.pixel(5, 5);
  int drawn = 0;
  for (int y = 14; y < 78; y += 4)
    for (int x = 110; x < 174; x += 4) drawn += shot.pixel(x, y) != background;
  EXPECT_GT(drawn, 20);

  // A click on the credits opens the web address, once.
  UrlRecorder recorder;
  QDesktopServices::setUrlHandler("https", &recorder, "open");
  QWidget* label = credits->Widget();
  ASSERT_TRUE(label);
  QTest::mouseClick(label, Qt::LeftButton, Qt::NoModifier, QPoint(5, 40));
  QDesktopServices::unsetUrlHandler("https");
  EXPECT_EQ(recorder.urls, QStringList{QString::fromUtf8(app::kWebAddress)});

  // With no program to open it, the click says which address could not be opened.
  {
    testing_support::NoProgramsOnPath noPrograms;
    ASSERT_FALSE(QDesktopServices::openUrl(QUrl(QString::fromUtf8(app::kWebAddress))));
    std::string told;
    new testing_support::DialogAnswerer<QMessageBox>([&](QMessageBox& box) {
      told = (box.text() + "|" + box.informativeText()).toStdString();
      box.accept();
    });
    QTest::mouseClick(label, Qt::LeftButton, Qt::NoModifier, QPoint(5, 40));
    EXPECT_NE(told.find(std::string(app::kWebAddress) + " could not be opened"), std::string::npos) << told;
    EXPECT_NE(told.find("No program to open it was found"), std::string::npos) << told;
  }

  // File > "Close Window" with the About window in front closes it and no document window.
  about->Show();
  EXPECT_TRUE(fw::DeliverMenuCommand("FileCloseWindow"));
  EXPECT_FALSE(about->IsOpen());
  EXPECT_TRUE(window_->IsOpen());
  EXPECT_TRUE(window_->_AppleAboutSpeckmoor_Action());  // a new one after the old one closed
  EXPECT_TRUE(fw::ImplicitWindow("W_About.W_About"));
}

#include "test_save_about.moc"
