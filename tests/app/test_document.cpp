// The document window with real pictures, the real clipboard, real drops and the real open dialog.
#include <gtest/gtest.h>

#include <QApplication>
#include <QBuffer>
#include <QClipboard>
#include <QDropEvent>
#include <QImage>
#include <QMainWindow>
#include <QMimeData>
#include <QTest>
#include <QUrl>
#include <string>

#include "AppFixture.h"
#include "framework/Clipboard.h"
#include "framework/MenuCommands.h"
#include "framework/PictureFile.h"

using testing_support::TempDir;

namespace {

QImage Gradient(int w, int h) {
  QImage image(w, h, QImage::Format_RGB32);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) image.setPixel(x, y, qRgb(x * 255 / w, y * 255 / h, 128));
  return image;
}

std::filesystem::path SavePng(const TempDir& dir, const std::string& name, const QImage& image) {
  const auto path = dir / name;
  EXPECT_TRUE(image.save(QString::fromStdString(path.string()), "PNG"));
  return path;
}

QWidget* Content(app::W_Main& w) { return static_cast<QMainWindow*>(w.Widget())->centralWidget(); }

QImage Screen(app::W_Main& w) { return Content(w)->grab().toImage().convertToFormat(QImage::Format_RGB32); }

// Windows open square; one that isn't tells a width from a height.
void ResizeContent(app::W_Main& w, int width, int height) {
  QWidget* frame = w.Widget();
  frame->resize(width + frame->width() - Content(w)->width(), height + frame->height() - Content(w)->height());
  ASSERT_EQ(Content(w)->size(), QSize(width, height));
  ASSERT_EQ(w.Width(), width);
  ASSERT_EQ(w.Height(), height);
}

bool SamePixels(fw::Picture& a, fw::Picture& b) {
  if (a.Width() != b.Width() || a.Height() != b.Height()) return false;
  for (int y = 0; y < a.Height(); ++y)
    if (std::memcmp(a.Row(y), b.Row(y), static_cast<std::size_t>(a.Width() * 4)) != 0) return false;
  return true;
}

void Drop(app::W_Main& w, QMimeData* data) {
  QWidget* target = Content(w);
  QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, data, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(target, &enter);
  if (!enter.isAccepted()) return;
  QDropEvent drop(QPointF(10, 10), Qt::CopyAction, data, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(target, &drop);
}

QMimeData* Files(std::initializer_list<std::filesystem::path> paths) {
  auto* data = new QMimeData;
  QList<QUrl> urls;
  for (const auto& p : paths) urls << QUrl::fromLocalFile(QString::fromStdString(p.string()));
  data->setUrls(urls);
  return data;
}

class Document : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { testing_support::StartProgram(); }
  void TearDown() override { testing_support::DropPendingAnswerers(); }
  void SetUp() override {
    ASSERT_TRUE(fw::CloseAllWindows());
    app::MenuInstance()->_Lookup("OptionSharpen")->SetChecked(false);
    app::MenuInstance()->_Lookup("ViewShowOriginal")->SetChecked(false);
    window_ = app::NewDocumentWindow();
    window_->Show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window_->Widget()));
  }
  fw::Ref<fw::Picture> Expected(const fw::Ref<fw::Picture>& source) {
    fw::Ref<engine::Speckmoor> e = fw::MakeRef<engine::Speckmoor>();
    e->Dither(source);
    return e->buffer.Load();
  }
  fw::Ref<app::W_Main> window_;
  TempDir dir_;
};

}  // namespace

TEST_F(Document, OpenCopyAndPasteRoundTrip) {
  const auto file = SavePng(dir_, "photo one.png", Gradient(120, 90));
  testing_support::AnswerFileDialog(file.string());
  EXPECT_TRUE(window_->_FileOpen_Action());
  fw::Ref<fw::Picture> source = window_->InputPicture();
  ASSERT_TRUE(source);
  EXPECT_EQ(source->Width(), 120);
  ASSERT_TRUE(window_->DitheredImage());
  EXPECT_TRUE(SamePixels(*window_->DitheredImage(), *Expected(source)));

  // Copy puts the dithered result on the system clipboard, also while the original is shown.
  app::MenuInstance()->_Lookup("ViewShowOriginal")->SetChecked(true);
  EXPECT_TRUE(window_->_EditCopy_Action());
  const QImage copied = QApplication::clipboard()->image();
  ASSERT_EQ(copied.width(), 120);
  fw::Ref<fw::Picture> copiedPicture = fw::PictureFromImage(copied);
  EXPECT_TRUE(SamePixels(*copiedPicture, *window_->DitheredImage()));

  // Paste of a PNG as another program puts it there: the picture goes through the engine.
  fw::Ref<app::W_Main> other = app::NewDocumentWindow();
  QByteArray png;
  QBuffer buffer(&png);
  buffer.open(QIODevice::WriteOnly);
  Gradient(40, 30).save(&buffer, "PNG");
  auto* data = new QMimeData;
  data->setData("image/png", png);
  QApplication::clipboard()->setMimeData(data);
  EXPECT_TRUE(other->_EditPaste_Action());
  ASSERT_TRUE(other->InputPicture());
  EXPECT_EQ(other->InputPicture()->Width(), 40);
  EXPECT_TRUE(SamePixels(*other->DitheredImage(), *Expected(other->InputPicture())));

  // Paste with no picture on the clipboard: handled, nothing changes.
  QApplication::clipboard()->setText("no picture here");
  fw::Ref<fw::Picture> before = other->DitheredImage();
  EXPECT_TRUE(other->_EditPaste_Action());
  EXPECT_EQ(other->DitheredImage().get(), before.get());

  // A picture too wide or too tall to save again is refused on the clipboard as in a file, held by Qt or as
  // a file's bytes.
  for (const QSize size : {QSize(fw::kMaxPictureSide + 1, 1), QSize(1, fw::kMaxPictureSide + 1)}) {
    SCOPED_TRACE(std::to_string(size.width()) + " x " + std::to_string(size.height()));
    QImage tooLarge(size, QImage::Format_RGB32);
    tooLarge.fill(qRgb(90, 90, 90));
    QByteArray bmp;
    QBuffer bmpBuffer(&bmp);
    bmpBuffer.open(QIODevice::WriteOnly);
    ASSERT_TRUE(tooLarge.save(&bmpBuffer, "BMP"));
    auto* bmpData = new QMimeData;
    bmpData->setData("image/bmp", bmp);
    QApplication::clipboard()->setMimeData(bmpData);
    EXPECT_FALSE(fw::MakeRef<fw::Clipboard>()->PictureAvailable());
    EXPECT_TRUE(other->_EditPaste_Action());
    EXPECT_EQ(other->DitheredImage().get(), before.get());
    QApplication::clipboard()->setImage(tooLarge);
    EXPECT_FALSE(fw::MakeRef<fw::Clipboard>()->PictureAvailable());
    EXPECT_TRUE(other->_EditPaste_Action());
    EXPECT_EQ(other->DitheredImage().get(), before.get());
  }
}

TEST_F(Document, AFailedOrCancelledOpenKeepsPictureResultAndOffsets) {
  const auto good = SavePng(dir_, "good.png", Gradient(900, 700));
  testing_support::AnswerFileDialog(good.string());
  ASSERT_TRUE(window_->_FileOpen_Action());
  window_->OffsetX = 17;
  window_->OffsetY = -9;
  fw::Ref<fw::Picture> source = window_->InputPicture();
  fw::Ref<fw::Picture> result = window_->DitheredImage();

  testing_support::WriteFile(dir_ / "notes.png", "this is text");
  testing_support::WriteFile(dir_ / "empty.jpg", "");
  for (const char* bad : {"notes.png", "empty.jpg"}) {
    testing_support::AnswerFileDialog((dir_ / bad).string());
    EXPECT_FALSE(window_->_FileOpen_Action()) << bad;
  }
  testing_support::AnswerFileDialog("");
  EXPECT_FALSE(window_->_FileOpen_Action());
  EXPECT_EQ(window_->InputPicture().get(), source.get());
  EXPECT_EQ(window_->DitheredImage().get(), result.get());
  EXPECT_EQ(window_->OffsetX, 17);
  EXPECT_EQ(window_->OffsetY, -9);
}

TEST_F(Document, DropsTakeTheFirstFileAndIgnoreWhatIsNoPicture) {
  const auto first = SavePng(dir_, "first.png", Gradient(33, 22));
  const auto second = SavePng(dir_, "second.png", Gradient(44, 11));
  testing_support::WriteFile(dir_ / "text.png", "not a picture");
  std::filesystem::create_directory(dir_ / "folder");

  std::unique_ptr<QMimeData> textOnly(Files({dir_ / "text.png"}));
  Drop(*window_, textOnly.get());
  EXPECT_FALSE(window_->InputPicture());

  std::unique_ptr<QMimeData> two(Files({first, second}));
  Drop(*window_, two.get());
  ASSERT_TRUE(window_->InputPicture());
  EXPECT_EQ(window_->InputPicture()->Width(), 33);

  auto* noFile = new QMimeData;
  noFile->setText("just words");
  std::unique_ptr<QMimeData> words(noFile);
  Drop(*window_, words.get());
  EXPECT_EQ(window_->InputPicture()->Width(), 33);
}

TEST_F(Document, OptionCommandsDitherTheSourceAgain) {
  // In an empty window the mark flips and nothing is dithered.
  EXPECT_FALSE(window_->_OptionSharpen_Action());
  EXPECT_TRUE(app::MenuInstance()->_Lookup("OptionSharpen")->Checked());
  EXPECT_FALSE(window_->DitheredImage());
  EXPECT_FALSE(window_->_OptionSharpen_Action());

  QApplication::clipboard()->setImage(Gradient(64, 64));
  ASSERT_TRUE(window_->_EditPaste_Action());
  fw::Ref<fw::Picture> first = window_->DitheredImage();
  EXPECT_TRUE(window_->_OptionsContrast_Action());
  EXPECT_FALSE(SamePixels(*first, *window_->DitheredImage()));
  EXPECT_TRUE(window_->_OptionsContrast_Action());
  EXPECT_TRUE(SamePixels(*first, *window_->DitheredImage()));  // the source again, not the result

  // With two windows, only the one that got the command is dithered again.
  fw::Ref<app::W_Main> other = app::NewDocumentWindow();
  ASSERT_TRUE(other->_EditPaste_Action());
  fw::Ref<fw::Picture> otherResult = other->DitheredImage();
  fw::Ref<fw::Picture> mine = window_->DitheredImage();
  EXPECT_TRUE(other->_OptionsContrast_Action());
  EXPECT_NE(other->DitheredImage().get(), otherResult.get());
  EXPECT_EQ(window_->DitheredImage().get(), mine.get());

  EXPECT_TRUE(window_->_EditClear_Action());
  EXPECT_FALSE(window_->DitheredImage());
  EXPECT_FALSE(window_->InputPicture());
}

TEST_F(Document, AnEmptyWindowShowsTheDropTargetCentred) {
  fw::Ref<fw::Picture> icon = app::Drop_Image_LowContrast();
  ASSERT_TRUE(icon);
  ResizeContent(*window_, 600, 400);
  const QImage screen = Screen(*window_);
  const QImage iconImage = fw::ImageFromPicture(*icon);
  const int x = (600 - icon->Width()) / 2;
  const int y = (400 - icon->Height()) / 2;
  int differing = 0;
  for (int iy = 0; iy < icon->Height(); iy += 7)
    for (int ix = 0; ix < icon->Width(); ix += 7) differing += screen.pixel(x + ix, y + iy) != iconImage.pixel(ix, iy);
  EXPECT_EQ(differing, 0);
  EXPECT_EQ(screen.pixel(3, 3), qRgb(0x3F, 0x3F, 0x3F));  // the window's own dark grey
  EXPECT_FALSE(window_->Event_MouseDown(256, 256));       // nothing to pan
}

TEST_F(Document, ZoomCentresAndDrawsCrispPixels) {
  // A one-pixel checkerboard, white and black after dithering: at 200 % every pixel is a 2 x 2 block.
  QImage checker(100, 60, QImage::Format_RGB32);
  for (int y = 0; y < 60; ++y)
    for (int x = 0; x < 100; ++x) checker.setPixel(x, y, (x + y) % 2 ? qRgb(255, 255, 255) : qRgb(0, 0, 0));
  QApplication::clipboard()->setImage(checker);
  ASSERT_TRUE(window_->_EditPaste_Action());
  ResizeContent(*window_, 560, 420);
  ASSERT_TRUE(fw::DeliverMenuCommand("View200"));
  EXPECT_EQ(window_->Scale(), 2.0);
  EXPECT_TRUE(app::MenuInstance()->_Lookup("View200")->Checked());
  EXPECT_FALSE(app::MenuInstance()->_Lookup("View100")->Checked());
  const QImage screen = Screen(*window_);
  const int left = (560 - 200) / 2, top = (420 - 120) / 2;
  for (int py = 0; py < 60; py += 13)
    for (int px = 0; px < 100; px += 11) {
      const QRgb want = (px + py) % 2 ? qRgb(255, 255, 255) : qRgb(0, 0, 0);
      for (int d = 0; d < 4; ++d)
        ASSERT_EQ(screen.pixel(left + 2 * px + d % 2, top + 2 * py + d / 2), want) << px << "," << py;
    }
  EXPECT_EQ(screen.pixel(left - 1, top + 10), qRgb(0x3F, 0x3F, 0x3F));
  EXPECT_EQ(screen.pixel(left + 200, top + 10), qRgb(0x3F, 0x3F, 0x3F));
}

TEST_F(Document, ThePanTestAndPanningByMouse) {
  auto load = [&](int w, int h) {
    QApplication::clipboard()->setImage(Gradient(w, h));
    ASSERT_TRUE(window_->_EditPaste_Action());
  };
  ResizeContent(*window_, 600, 400);
  load(600, 400);
  EXPECT_FALSE(window_->Event_MouseDown(100, 100));  // exactly as large as the window
  load(600, 401);
  EXPECT_TRUE(window_->Event_MouseDown(100, 100));  // one row more: pannable
  load(601, 400);
  EXPECT_TRUE(window_->Event_MouseDown(100, 100));  // one column more: pannable in both directions
  window_->Event_MouseDrag(130, 80);
  EXPECT_EQ(window_->OffsetX, 30);
  EXPECT_EQ(window_->OffsetY, -20);
  window_->Event_MouseDrag(-5000, 90);  // nothing stops it
  EXPECT_EQ(window_->OffsetX, -5100);
  EXPECT_EQ(window_->CurrentMouseCursor(), fw::MouseCursor::ClosedHand);

  load(1202, 800);
  ASSERT_TRUE(fw::DeliverMenuCommand("View50"));
  EXPECT_TRUE(window_->Event_MouseDown(10, 10));  // drawn 601 x 400
  load(1200, 800);
  EXPECT_FALSE(window_->Event_MouseDown(10, 10));  // drawn 600 x 400

  // Panned at 200 %, zoomed back to 100 %: kept while the picture still exceeds the window.
  load(700, 300);
  ASSERT_TRUE(fw::DeliverMenuCommand("View200"));
  ASSERT_TRUE(window_->Event_MouseDown(0, 0));
  window_->Event_MouseDrag(40, 50);
  ASSERT_TRUE(fw::DeliverMenuCommand("View100"));
  (void)Screen(*window_);
  EXPECT_EQ(window_->OffsetX, 40);
  ASSERT_TRUE(fw::DeliverMenuCommand("View25"));
  (void)Screen(*window_);  // it fits now: the paint centres it
  EXPECT_EQ(window_->OffsetX, 0);
  EXPECT_EQ(window_->OffsetY, 0);
}

TEST_F(Document, GrowingTheWindowUntilThePictureFitsDropsTheOffsets) {
  QApplication::clipboard()->setImage(Gradient(600, 300));
  ASSERT_TRUE(window_->_EditPaste_Action());
  ASSERT_TRUE(window_->Event_MouseDown(0, 0));
  window_->Event_MouseDrag(25, 0);
  ASSERT_EQ(window_->OffsetX, 25);
  window_->Widget()->resize(window_->Widget()->width() + 200, window_->Widget()->height());
  EXPECT_EQ(window_->OffsetX, 0);
}

TEST_F(Document, ShowOriginalPaintsTheSourceInTheSamePlace) {
  QImage grey(50, 50, QImage::Format_RGB32);
  grey.fill(qRgb(100, 150, 200));
  QApplication::clipboard()->setImage(grey);
  ASSERT_TRUE(window_->_EditPaste_Action());
  EXPECT_TRUE(window_->_ViewShowOriginal_Action());
  const QImage screen = Screen(*window_);
  EXPECT_EQ(screen.pixel(256, 256), qRgb(100, 150, 200));
  EXPECT_EQ(screen.pixel((512 - 50) / 2 - 1, 256), qRgb(0x3F, 0x3F, 0x3F));
  EXPECT_TRUE(window_->_ViewShowOriginal_Action());
  const QRgb dithered = Screen(*window_).pixel(256, 256);
  EXPECT_TRUE(dithered == qRgb(0, 0, 0) || dithered == qRgb(255, 255, 255));
}

TEST_F(Document, ZoomMarksFollowTheActiveWindow) {
  fw::Ref<app::W_Main> other = app::NewDocumentWindow();
  ASSERT_TRUE(window_->_View200_Action());
  ASSERT_TRUE(other->_View50_Action());
  app::MenuInstance()->_Lookup("ViewShowOriginal")->SetChecked(true);
  auto checked = [] {
    std::string marks;
    for (const char* name : {"View125", "View25", "View50", "View100", "View200"})
      if (app::MenuInstance()->_Lookup(name)->Checked()) marks += name;
    return marks;
  };
  other->Show();
  ASSERT_TRUE(QTest::qWaitForWindowActive(other->Widget()));
  EXPECT_EQ(checked(), "View50");
  window_->Show();
  ASSERT_TRUE(QTest::qWaitForWindowActive(window_->Widget()));
  EXPECT_EQ(checked(), "View200");
  EXPECT_EQ(window_->Scale(), 2.0);  // each window keeps its own zoom
  EXPECT_TRUE(app::MenuInstance()->_Lookup("ViewShowOriginal")->Checked());  // not touched on activation
}

TEST_F(Document, DragFeedbackShowsTheFolderSignWhileAFolderIsOver) {
  std::filesystem::create_directory(dir_ / "a folder");
  std::unique_ptr<QMimeData> folder(Files({dir_ / "a folder"}));
  QWidget* target = Content(*window_);
  QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, folder.get(), Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(target, &enter);
  EXPECT_TRUE(enter.isAccepted());
  EXPECT_EQ(window_->WindowIcon.get(), app::Drop_Folder_LowContrast().get());
  const QImage folderScreen = Screen(*window_);
  QDragLeaveEvent leave;
  QApplication::sendEvent(target, &leave);
  EXPECT_EQ(window_->WindowIcon.get(), app::Drop_Image_LowContrast().get());
  const QImage imageScreen = Screen(*window_);
  EXPECT_NE(folderScreen, imageScreen);
  // The sign drawn is the folder picture, centred.
  fw::Ref<fw::Picture> sign = app::Drop_Folder_LowContrast();
  const QImage signImage = fw::ImageFromPicture(*sign);
  const int x = (512 - sign->Width()) / 2, y = (512 - sign->Height()) / 2;
  EXPECT_EQ(folderScreen.pixel(x + sign->Width() / 2, y + sign->Height() / 2),
            signImage.pixel(sign->Width() / 2, sign->Height() / 2));
}
