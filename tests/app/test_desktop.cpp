// The program started as it starts for a user, in-process and offscreen: real windows, real menus.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QImage>
#include <QMainWindow>
#include <QMenuBar>
#include <QMimeData>
#include <QTest>
#include <QTimer>
#include <csignal>
#include <tuple>

#include "AppFixture.h"
#include "TestSupport.h"
#include "app/App.h"
#include "app/Menu.h"
#include "app/Startup.h"
#include "app/W_Main.h"
#include "batch/W_Progress.h"
#include "framework/ClassRegistry.h"
#include "framework/MenuCommands.h"
#include "framework/PictureFile.h"
#include "framework/Runtime.h"
#include "framework/Window.h"

namespace {

std::vector<fw::Ref<app::W_Main>> DocumentWindows() {
  std::vector<fw::Ref<app::W_Main>> out;
  for (const fw::Ref<fw::Window>& w : fw::OpenWindows())
    if (auto* doc = dynamic_cast<app::W_Main*>(w.get())) out.emplace_back(doc);
  return out;
}

void CloseEveryWindow() {
  ASSERT_TRUE(fw::CloseAllWindows());
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

fw::Ref<app::W_Main> OneWindow() {
  CloseEveryWindow();
  return app::NewDocumentWindow();
}

bool Enabled(const char* name) { return app::MenuInstance()->_Lookup(name)->Enabled(); }

int CtrlKey(Qt::Key key) { return QKeyCombination(Qt::ControlModifier, key).toCombined(); }

std::string gUnhandled;

class Desktop : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    fw::SetUnhandledExceptionPresenter([](const std::string& message) { gUnhandled = message; });
    fw::RuntimeInit();
    app::RegisterClasses();
    app::_Startup();
  }
  void SetUp() override { gUnhandled.clear(); }
};

}  // namespace

TEST_F(Desktop, StartUpRegistersClassesInOrderAndOpensOneEmptyWindow) {
  std::vector<std::string> names;
  for (const fw::ClassRecord* r : fw::RegisteredClasses()) names.push_back(r->name);
  const std::vector<std::string> own = {"App", "Menu.Menu", "W_About.W_About", "W_Main.W_Main", "Speckmoor",
                                        "BatchDither", "BatchDitherInterface", "W_Progress.W_Progress"};
  ASSERT_GE(names.size(), own.size() + 2);
  EXPECT_EQ(std::vector<std::string>(names.end() - static_cast<long>(own.size()), names.end()), own);
  EXPECT_EQ(names.front(), "Object");
  const auto plugin = std::find(names.begin(), names.end(), "MPImageFilter");
  const auto window = std::find(names.begin(), names.end(), "Window");
  ASSERT_NE(plugin, names.end());
  EXPECT_LT(window, plugin);  // the framework's classes before the plug-ins'
  EXPECT_LT(plugin, std::find(names.begin(), names.end(), "App"));

  const auto docs = DocumentWindows();
  ASSERT_EQ(docs.size(), 1u);
  EXPECT_FALSE(docs[0]->DitheredImage());
  EXPECT_FALSE(docs[0]->InputPicture());
  EXPECT_EQ(docs[0]->Scale(), 1.0);
  EXPECT_TRUE(docs[0]->View100()->Checked());
  EXPECT_FALSE(docs[0]->View200()->Checked());
  EXPECT_TRUE(docs[0]->WindowIcon);  // the drop-target picture from the bundle
  EXPECT_EQ(docs[0]->Title(), "Speckmoor");
  EXPECT_EQ(docs[0]->Width(), 512);
  EXPECT_EQ(docs[0]->Height(), 512);
  EXPECT_EQ(app::AppInstance()->MenuBar().get(), app::MenuInstance().get());
  EXPECT_EQ(docs[0]->MenuBar().get(), app::MenuInstance().get());
  EXPECT_EQ(app::W_MainInstance().get(), docs[0].get());  // the accessor makes no second window
  EXPECT_EQ(DocumentWindows().size(), 1u);
}

TEST_F(Desktop, EveryClassRecordHoldsItsOperationsInSlotOrder) {
  using Ops = std::vector<std::string>;
  // Each class's own operations follow its superclass's.
  const std::vector<std::tuple<std::string, std::string, Ops>> own = {
      {"App", "Application", {"_FileNewWindow_Action", "_FileBatchDither_Action"}},
      {"Menu.Menu", "MenuBar", {"Untitled0", "Untitled2", "Untitled3", "Untitled4"}},
      {"W_About.W_About", "Window",
       {"Layout", "CreateControls", "_CreateControls0", "Canvas1_Paint", "StaticText2_Open", "StaticText3_MouseDown",
        "AddMenuHandlers", "Event_Open", "_FileCloseWindow_Action"}},
      {"Speckmoor", "Object", {"Dither"}},
      {"BatchDither", "Thread", {"Event_Run", "Constructor"}},
      {"BatchDitherInterface", "",
       {"Interface_BatchComplete", "Interface_ProcessImage", "Interface_GetProcessedImage",
        "Interface_CheckForCanceled"}},
      {"W_Progress.W_Progress", "Window",
       {"Layout", "CreateControls", "_CreateControls0", "PushButton1_Action", "Event_Close", "Constructor",
        "UpdateName"}},
  };
  for (const auto& [name, super, ops] : own) {
    const fw::ClassRecord* record = fw::FindClass(name);
    ASSERT_TRUE(record) << name;
    Ops expected = record->super ? record->super->operations : Ops{};
    EXPECT_EQ(record->super ? record->super->name : "", super) << name;
    expected.insert(expected.end(), ops.begin(), ops.end());
    EXPECT_EQ(record->operations, expected) << name;
  }
  EXPECT_EQ(fw::FindClass("Thread")->operations, (Ops{"Run", "Suspend", "Resume", "Sleep", "Kill"}));
  EXPECT_EQ(fw::FindClass("Menu.Menu")->operations.front(), "Constructor");
  // The document window's 68 own operations: its building steps, 27 item accessors, 14 events, 16 menu
  // handlers and 8 more; the ends show the order.
  const fw::ClassRecord* doc = fw::FindClass("W_Main.W_Main");
  const Ops& w = doc->operations;
  ASSERT_EQ(w.size(), doc->super->operations.size() + 68);
  EXPECT_EQ(Ops(w.end() - 68, w.end() - 62),
            (Ops{"Layout", "CreateControls", "ViewMenu", "AppleAboutSpeckmoor", "ViewShowOriginal", "UntitledMenu0"}));
  EXPECT_EQ(Ops(w.end() - 8, w.end()), (Ops{"Clear", "SetInputPic", "Interface_BatchComplete", "Interface_ProcessImage",
                                            "SetInputBatch", "DitheredImage", "Interface_GetProcessedImage",
                                            "Interface_CheckForCanceled"}));
}

TEST_F(Desktop, HandlersAreRegisteredInTableOrderAndEveryWindowShowsTheOneBar) {
  fw::Ref<app::W_Main> w = OneWindow();
  EXPECT_EQ(w->MenuHandlerNames(),
            (std::vector<std::string>{"EditPaste", "EditCopy", "View100", "View200", "OptionSharpen",
                                      "AppleAboutSpeckmoor", "FileSave", "FileOpen", "ViewShowOriginal", "EditClear",
                                      "OptionsContrast", "FileCloseWindow", "FileBatchDither", "View25", "View50",
                                      "View125"}));
  fw::Ref<app::W_Main> second = app::NewDocumentWindow();
  auto* bar1 = static_cast<QMainWindow*>(w->Widget())->menuBar();
  auto* bar2 = static_cast<QMainWindow*>(second->Widget())->menuBar();
  ASSERT_EQ(bar1->actions().size(), 4);
  EXPECT_EQ(bar1->actions()[0]->text(), "File");
  EXPECT_EQ(bar1->actions()[3]->text(), "View");
  // The same action stands for an item in every window, so a check mark shows everywhere at once.
  QAction* sharpen = fw::ActionFor(*app::MenuInstance()->_Lookup("OptionSharpen"));
  EXPECT_TRUE(bar1->actions()[2]->menu()->actions().contains(sharpen));
  EXPECT_TRUE(bar2->actions()[2]->menu()->actions().contains(sharpen));
  app::MenuInstance()->_Lookup("OptionSharpen")->SetChecked(true);
  EXPECT_TRUE(sharpen->isChecked());
  app::MenuInstance()->_Lookup("OptionSharpen")->SetChecked(false);
  EXPECT_FALSE(sharpen->isChecked());
  EXPECT_TRUE(fw::ActionFor(*app::MenuInstance()->_Lookup("FileOpen"))->text().contains("Ctrl+O"));
  EXPECT_EQ(bar1->actions()[0]->menu()->actions()[4]->isSeparator(), true);
}

TEST_F(Desktop, CommandsGoToTheFrontWindowThenToTheApplication) {
  fw::Ref<app::W_Main> w = OneWindow();
  int appCalls = 0;
  app::AppInstance()->_AddMenuHandler("EditClear", [&] { return ++appCalls, true; });
  EXPECT_TRUE(fw::DeliverMenuCommand("EditClear"));
  EXPECT_EQ(appCalls, 0);  // the window took it
  CloseEveryWindow();
  EXPECT_TRUE(fw::DeliverMenuCommand("EditClear"));
  EXPECT_EQ(appCalls, 1);
  app::AppInstance()->_AddMenuHandler("EditClear", [] { return false; });

  // "New Window" is always the application's, whatever window is in front.
  EXPECT_TRUE(fw::DeliverMenuCommand("FileNewWindow"));
  EXPECT_TRUE(fw::DeliverMenuCommand("FileNewWindow"));
  EXPECT_EQ(DocumentWindows().size(), 2u);
  EXPECT_FALSE(fw::DeliverMenuCommand("EditUndo"));  // nobody handles it
}

TEST_F(Desktop, EnablingFollowsTheClipboardAndTheResult) {
  fw::Ref<app::W_Main> w = OneWindow();
  w->Show();
  QApplication::clipboard()->setText("words, not a picture");
  fw::RunEnablingPass();
  EXPECT_FALSE(Enabled("FileSave"));
  EXPECT_FALSE(Enabled("EditCopy"));
  EXPECT_FALSE(Enabled("EditPaste"));
  EXPECT_FALSE(Enabled("EditUndo"));
  EXPECT_FALSE(Enabled("EditCut"));
  EXPECT_TRUE(Enabled("FileOpen"));
  EXPECT_TRUE(Enabled("EditClear"));

  // Bytes that only claim to be a picture are none.
  auto* claim = new QMimeData;
  claim->setData("image/png", QByteArray("\x89PNG\r\n\x1a\n but garbage after the signature"));
  QApplication::clipboard()->setMimeData(claim);
  fw::RunEnablingPass();
  EXPECT_FALSE(Enabled("EditPaste"));

  QImage image(8, 8, QImage::Format_RGB32);
  image.fill(qRgb(200, 200, 200));
  QApplication::clipboard()->setImage(image);
  fw::RunEnablingPass();
  EXPECT_TRUE(Enabled("EditPaste"));

  // A disabled item's shortcut does nothing: Copy in an empty window would have nothing to copy.
  EXPECT_TRUE(fw::HandleShortcut(CtrlKey(Qt::Key_C)));
  EXPECT_TRUE(gUnhandled.empty()) << gUnhandled;
  EXPECT_EQ(QApplication::clipboard()->image().pixel(0, 0), qRgb(200, 200, 200));

  // Paste through its shortcut, then Copy and Save are enabled and Copy puts the result there.
  EXPECT_TRUE(fw::HandleShortcut(CtrlKey(Qt::Key_V)));
  ASSERT_TRUE(w->DitheredImage());
  fw::RunEnablingPass();
  EXPECT_TRUE(Enabled("EditCopy"));
  EXPECT_TRUE(Enabled("FileSave"));
  EXPECT_FALSE(Enabled("EditUndo"));
  EXPECT_TRUE(fw::HandleShortcut(CtrlKey(Qt::Key_C)));
  EXPECT_EQ(QApplication::clipboard()->image().pixel(0, 0), qRgb(255, 255, 255));
  EXPECT_FALSE(fw::HandleShortcut(CtrlKey(Qt::Key_J)));  // no item has it
}

TEST_F(Desktop, NewWindowsCheckContrastAndClosingNeverAsks) {
  fw::Ref<app::W_Main> w = OneWindow();
  app::MenuInstance()->_Lookup("OptionsContrast")->SetChecked(false);
  fw::Ref<app::W_Main> second = app::NewDocumentWindow();
  EXPECT_TRUE(app::MenuInstance()->_Lookup("OptionsContrast")->Checked());

  QImage image(4, 4, QImage::Format_RGB32);
  image.fill(qRgb(90, 90, 90));
  QApplication::clipboard()->setImage(image);
  second->Show();
  ASSERT_TRUE(fw::DeliverMenuCommand("EditPaste"));
  ASSERT_TRUE(second->DitheredImage());
  // Close Window closes the front window at once, unsaved result or not, and empties it.
  second->Show();
  EXPECT_TRUE(fw::DeliverMenuCommand("FileCloseWindow"));
  EXPECT_FALSE(second->IsOpen());
  EXPECT_FALSE(second->DitheredImage());
  EXPECT_FALSE(second->InputPicture());
  EXPECT_EQ(DocumentWindows().size(), 1u);
  // The close box and the keyboard take the same road.
  w->Show();
  EXPECT_TRUE(fw::HandleShortcut(CtrlKey(Qt::Key_W)));
  EXPECT_TRUE(DocumentWindows().empty());
}

TEST_F(Desktop, ACommandWhoseResultWentMeanwhileDoesNothing) {
  fw::Ref<app::W_Main> w = OneWindow();
  w->Show();
  QImage image(6, 6, QImage::Format_RGB32);
  image.fill(qRgb(30, 30, 30));
  w->SetInputPic(fw::PictureFromImage(image));
  QApplication::clipboard()->setText("kept");
  fw::RunEnablingPass();
  ASSERT_TRUE(Enabled("EditCopy"));
  // The menu was enabled, then a batch's end empties the window before the click lands.
  w->Clear();
  fw::ActionFor(*app::MenuInstance()->_Lookup("EditCopy"))->trigger();
  EXPECT_TRUE(gUnhandled.empty()) << gUnhandled;
  EXPECT_EQ(QApplication::clipboard()->text(), "kept");
}

namespace {

bool gLoopRan = false;

// Runs the program's event loop until something ends it, or 20 s have passed; false then.
bool RunTheEventLoop() {
  gLoopRan = true;
  QTimer watchdog;
  bool timedOut = false;
  watchdog.setSingleShot(true);
  QObject::connect(&watchdog, &QTimer::timeout, [&] {
    timedOut = true;
    QApplication::exit(3);
  });
  watchdog.start(20000);
  fw::RuntimeRun();
  return !timedOut;
}

}  // namespace

TEST_F(Desktop, ATerminationSignalHeardBeforeTheEventLoopRunsQuitsOnceItDoes) {
  // After a loop has ended in this process, a signal counts as one during the quit and changes nothing
  // (ctest runs each case in a process of its own).
  if (gLoopRan) GTEST_SKIP() << "the event loop has already run in this process";
  fw::QuitOnTerminationSignals();
  fw::Ref<app::W_Main> w = OneWindow();
  std::raise(SIGTERM);
  QCoreApplication::processEvents();  // start-up's own events: the signal is heard here
  EXPECT_TRUE(w->IsOpen());
  EXPECT_TRUE(RunTheEventLoop());
  EXPECT_TRUE(fw::OpenWindows().empty());
  EXPECT_TRUE(gUnhandled.empty()) << gUnhandled;
  QCoreApplication::processEvents();  // what the quit left behind it
}

TEST_F(Desktop, ClosingTheLastDocumentWindowQuits) {
  fw::Ref<app::W_Main> w = OneWindow();
  w->_AppleAboutSpeckmoor_Action();  // a window without a menu bar keeps nothing running
  QTimer::singleShot(0, [&] { w->Close(); });  // the close box's road
  EXPECT_TRUE(RunTheEventLoop());
  EXPECT_TRUE(fw::OpenWindows().empty());
  EXPECT_TRUE(gUnhandled.empty()) << gUnhandled;
}

namespace {

// With `front` in front, closes the window from the running event loop and lets the loop end once
// everything the close asked for has run: a quit among it closes every window.
void CloseInTheEventLoop(fw::Window& window, fw::Window& front) {
  QTimer::singleShot(0, [&] {
    front.Show();
    window.Close();
    QMetaObject::invokeMethod(qApp, [] { QApplication::exit(0); }, Qt::QueuedConnection);
  });
  RunTheEventLoop();
}

}  // namespace

TEST_F(Desktop, ClosingOneOfTwoDocumentWindowsWithAboutOrProgressInFrontQuitsNothing) {
  fw::Ref<app::W_Main> first = OneWindow();
  fw::Ref<app::W_Main> second = app::NewDocumentWindow();
  first->_AppleAboutSpeckmoor_Action();
  fw::Ref<fw::Window> about = fw::ImplicitWindow("W_About.W_About");
  ASSERT_TRUE(about);
  CloseInTheEventLoop(*first, *about);
  EXPECT_FALSE(first->IsOpen());
  EXPECT_TRUE(second->IsOpen());
  EXPECT_TRUE(about->IsOpen());
  about->Close();

  fw::Ref<app::W_Main> third = app::NewDocumentWindow();
  fw::Ref<batch::W_Progress> progress = fw::MakeRef<batch::W_Progress>();
  progress->Constructor(second.get());
  progress->ShowWithin(*second);
  CloseInTheEventLoop(*third, *progress);
  EXPECT_FALSE(third->IsOpen());
  EXPECT_TRUE(second->IsOpen());
  EXPECT_TRUE(progress->IsOpen());
  EXPECT_TRUE(gUnhandled.empty()) << gUnhandled;
}

TEST_F(Desktop, ATerminationSignalQuitsAsQuitDoesUnderADialogAndASecondOneChangesNothing) {
  // This window gets a second signal while the first one's quit closes it.
  class SignalledAgain final : public app::W_Main {
   public:
    void Event_Close() override {
      std::raise(SIGTERM);
      app::W_Main::Event_Close();
    }
  };
  CloseEveryWindow();
  fw::QuitOnTerminationSignals();
  fw::Ref<SignalledAgain> other = fw::MakeRef<SignalledAgain>();
  other->Constructor();
  fw::Ref<app::W_Main> w = app::NewDocumentWindow();
  // The signal comes while the open dialog is up.
  new testing_support::DialogAnswerer<QFileDialog>([](QFileDialog&) { std::raise(SIGTERM); });
  bool openReturned = false;
  QTimer::singleShot(0, [&] {
    w->_FileOpen_Action();
    openReturned = true;
  });
  EXPECT_TRUE(RunTheEventLoop());
  EXPECT_TRUE(openReturned);
  EXPECT_TRUE(fw::OpenWindows().empty());
  EXPECT_TRUE(gUnhandled.empty()) << gUnhandled;
  // Once the event loop has ended the quit is under way: a signal now closes nothing.
  QCoreApplication::processEvents();  // what the quit left behind it
  fw::Ref<app::W_Main> after = app::NewDocumentWindow();
  std::raise(SIGTERM);
  QCoreApplication::processEvents();
  EXPECT_TRUE(after->IsOpen());
}

TEST_F(Desktop, AnExceptionInAnEventReachesTheUnhandledExceptionHandler) {
  class Faulty final : public app::W_Main {
   public:
    void Event_Paint(fw::Graphics&) override { throw fw::NilObjectException("a nil picture"); }
  };
  CloseEveryWindow();
  fw::Ref<Faulty> w = fw::MakeRef<Faulty>();
  w->Constructor();
  w->Refresh();
  EXPECT_TRUE(QTest::qWaitFor([] { return !gUnhandled.empty(); }, 5000));
  EXPECT_NE(gUnhandled.find("NilObjectException"), std::string::npos) << gUnhandled;
  EXPECT_NE(fw::RuntimeExit(), 0);
}

TEST_F(Desktop, BatchGoesToTheFrontWindowAndToTheApplicationOnlyWithoutOne) {
  // With a document window in front, its handler asks for the folder; cancelling opens nothing.
  fw::Ref<app::W_Main> w = OneWindow();
  w->Show();
  testing_support::AnswerFolderDialog("");
  EXPECT_TRUE(fw::DeliverMenuCommand("FileBatchDither"));
  EXPECT_EQ(DocumentWindows().size(), 1u);
  // With no window, the application's handler asks; cancelling opens no window either.
  CloseEveryWindow();
  testing_support::AnswerFolderDialog("");
  EXPECT_TRUE(fw::DeliverMenuCommand("FileBatchDither"));
  EXPECT_TRUE(DocumentWindows().empty());
}
