#include "framework/Runtime.h"

#include <QApplication>
#include <QMessageBox>
#include <QMetaObject>
#include <QPointer>
#include <QSocketNotifier>
#include <QThread>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <mutex>
#include <unistd.h>
#include <utility>
#include <xcb/xcb.h>

#include "framework/Bundle.h"
#include "framework/ClassRegistry.h"
#include "framework/Desktop.h"
#include "framework/Exceptions.h"
#include "framework/FileType.h"
#include "framework/PluginHost.h"
#include "framework/Thread.h"
#include "framework/Window.h"
#include "src/MainThreadQueue.h"
#include "src/MenuPresenter.h"
#include "src/WindowKeeper.h"

namespace fw {
namespace {

std::atomic<int> gExitCode{0};
std::mutex gPresenterMutex;
std::function<void(const std::string&)> gPresenter;
std::unique_ptr<QApplication> gApplication;
std::vector<std::string> gStartupProblems;

// QApplication keeps pointers to argc and argv for its whole life.
int gArgc = 1;
char gProgramName[] = "speckmoor";
char* gArgv[] = {gProgramName, nullptr};

void ShowBox(const std::string& message) {
  QMessageBox::critical(nullptr, QStringLiteral("Speckmoor"), QString::fromStdString(message));
}

// ---- termination signals ----

// Where the event loop stands, for a termination signal. Main thread only.
enum class Loop { NotYet, Running, Ended };
Loop gLoop = Loop::NotYet;
bool gQuitBeforeLoop = false;
int gSignalPipe[2] = {-1, -1};

// Only what is safe in a signal handler: a byte into the pipe the main thread watches.
extern "C" void OnTerminationSignal(int) {
  const int saved = errno;
  [[maybe_unused]] const ssize_t written = write(gSignalPipe[1], "q", 1);  // a full pipe has asked already
  errno = saved;
}

void OnTerminationSignalRead() {
  char bytes[64];
  while (read(gSignalPipe[0], bytes, sizeof bytes) > 0) {
  }
  switch (gLoop) {
    case Loop::NotYet: gQuitBeforeLoop = true; break;
    case Loop::Running: Guarded([] { RuntimeQuit(); }); break;
    case Loop::Ended: break;  // the quit is under way
  }
}

// The pipe is heard once the application exists; a signal that came before waits in it till then.
QPointer<QSocketNotifier> gSignalNotifier;
void WatchSignalPipe() {
  if (gSignalNotifier || gSignalPipe[0] < 0 || !qApp) return;
  gSignalNotifier = new QSocketNotifier(gSignalPipe[0], QSocketNotifier::Read, qApp);
  QObject::connect(gSignalNotifier, &QSocketNotifier::activated, gSignalNotifier,
                   [] { OnTerminationSignalRead(); });
}

// ---- the display ----

// Exit code of a program whose display went away: not a success, and what Qt itself would have given.
constexpr int kDisplayGoneExitCode = 1;
xcb_connection_t* gDisplay = nullptr;
QtMessageHandler gQtMessages = nullptr;

// Ends the program without its display, as quitting would: the batches stop after the item in hand, the
// private temporary folder goes. Neither the widgets nor the event loop are touched again, and the process
// ends without the static destructors, which would tear the application down under the threads.
[[noreturn]] void EndWithoutDisplay() {
  std::fprintf(stderr, "Speckmoor must quit: the display is gone.\n");
  AbandonMainThread();
  CloseAllWindowsWithoutDisplay();
  AnswerMessagesWithoutDisplay();
  WaitForThreads();
  RemoveSpecialFolderTemporary();
  std::fflush(nullptr);
  _exit(kDisplayGoneExitCode);
}

// Qt reports a broken X connection, then calls exit() from inside the event loop.
void OnQtMessage(QtMsgType type, const QMessageLogContext& context, const QString& text) {
  if (gQtMessages) gQtMessages(type, context, text);
  static bool ending = false;  // main thread only
  if (!IsMainThread() || ending || !xcb_connection_has_error(gDisplay)) return;
  ending = true;
  EndWithoutDisplay();
}

void WatchDisplay() {
  auto* x11 = qApp->nativeInterface<QNativeInterface::QX11Application>();
  if (!x11 || gDisplay) return;
  gDisplay = x11->connection();
  if (gDisplay) gQtMessages = qInstallMessageHandler(OnQtMessage);
}

}  // namespace

void RegisterFrameworkClasses() {
  static std::once_flag once;
  std::call_once(once, [] {
    // A class's table begins with its superclass's operations.
    auto add = [](const char* name, const char* super, std::vector<std::string> ops = {}) {
      ClassRecord r;
      r.name = name;
      r.super = super ? FindClass(super) : nullptr;
      if (r.super) r.operations = r.super->operations;
      r.operations.insert(r.operations.end(), ops.begin(), ops.end());
      RegisterClass(std::move(r));
    };
    add("Object", nullptr);
    add("Application", "Object",
        {"NewDocument", "OpenDocument", "DoEvents", "_AddMenuHandler", "_AddPollableObject", "_RemovePollableObject",
         "AddTrayItem", "RemoveTrayItem", "YieldToNextThread", "SleepCurrentThread", "_DoSingleEvent",
         "_EnableMenuItems", "_CallOpen", "_HandleMenuCommand", "_LoadPictureFromBundle", "_LoadBundleSound",
         "__DependencyList"});
    add("Window", "Object");
    add("MenuItem", "Object", {"Constructor"});
    add("MenuBar", "MenuItem");
    add("QuitMenuItem", "MenuItem");
    add("AppleMenuItem", "MenuItem");
    add("Picture", "Object");
    add("RGBSurface", "Object");
    add("Graphics", "Object");
    add("FolderItem", "Object");
    add("FileType", "Object");
    add("Clipboard", "Object");
    add("DragItem", "Object");
    add("Thread", "Object", {"Run", "Suspend", "Resume", "Sleep", "Kill"});
    add("MessageDialog", "Object");
  });
}

void RuntimeInit() {
  if (!qApp) {
    if (!std::getenv("DISPLAY") && !std::getenv("WAYLAND_DISPLAY") && !std::getenv("QT_QPA_PLATFORM"))
      setenv("QT_QPA_PLATFORM", "offscreen", 0);
    gApplication = std::make_unique<QApplication>(gArgc, gArgv);
  }
  QApplication::setApplicationName(QStringLiteral("Speckmoor"));
  QApplication::setQuitOnLastWindowClosed(false);
  WatchSignalPipe();
  WatchDisplay();
  MainThreadQueue::Instance();
  RegisterFrameworkClasses();
  LoadPlugins(PluginsFolder());
  InstallMenuShortcuts();
}

void RunFrameworkInitialization(const std::function<void()>& startup) { Guarded([&] { startup(); }); }

void ReportStartupProblem(const std::string& message) { gStartupProblems.push_back(message); }

void RuntimeRun() {
  if (gExitCode.load() != 0) return;  // start-up already failed
  // Plug-ins that failed to load are named once the program is up, so the user learns why a command
  // is missing.
  std::vector<std::string> problems;
  for (const auto& f : PluginLoadFailures()) problems.push_back(f.file + ": " + f.reason);
  problems.insert(problems.end(), gStartupProblems.begin(), gStartupProblems.end());
  if (!problems.empty()) {
    std::string text = "Some plug-ins could not be loaded, so their commands are not available:\n";
    for (const auto& p : problems) text += "\n" + p;
    QMetaObject::invokeMethod(
        qApp,
        [text] { QMessageBox::warning(nullptr, QStringLiteral("Plug-ins missing"), QString::fromStdString(text)); },
        Qt::QueuedConnection);
  }
  // Linux has no menu bar without a window: closing the last one is quitting.
  SetLastMenuWindowClosedHandler([] { Guarded([] { RuntimeQuit(); }); });
  gLoop = Loop::Running;
  if (std::exchange(gQuitBeforeLoop, false))
    QMetaObject::invokeMethod(qApp, [] { Guarded([] { RuntimeQuit(); }); }, Qt::QueuedConnection);
  QApplication::exec();
  gLoop = Loop::Ended;
  SetLastMenuWindowClosedHandler(nullptr);
}

void QuitOnTerminationSignals() {
  if (gSignalPipe[0] >= 0) return;
  if (pipe2(gSignalPipe, O_CLOEXEC | O_NONBLOCK) != 0) return;
  WatchSignalPipe();
  struct sigaction action = {};
  action.sa_handler = OnTerminationSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  for (int signal : {SIGTERM, SIGINT, SIGHUP}) {
    struct sigaction before = {};
    // Started with the signal ignored (nohup, a background job): it stays ignored.
    if (sigaction(signal, nullptr, &before) == 0 && before.sa_handler == SIG_IGN) continue;
    sigaction(signal, &action, nullptr);
  }
}

bool RuntimeQuit() {
  static bool quitting = false;  // main thread only; closing every window must not quit again
  if (quitting) return true;
  quitting = true;
  const bool closed = CloseAllWindows();
  quitting = false;
  if (!closed) return false;
  QApplication::exit(gExitCode.load());
  return true;
}

int RuntimeExit() {
  // The application the run-time made goes now, while everything it knows of still exists.
  if (gApplication) {
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    gApplication.reset();
  }
  return gExitCode.load();
}

void RuntimeModuleExit() {
  CloseAllWindows();
  // Closing a window cancels its batch; the batch ends after the item in hand, whose file is whole,
  // however long that takes: nothing may be torn down under it.
  WaitForThreads();
  DestroyRetiredWidgets();
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  // Popups are top-level too but belong to a parent that deletes them: guard every pointer.
  QList<QPointer<QWidget>> widgets;
  for (QWidget* w : QApplication::topLevelWidgets()) widgets.append(w);
  for (const QPointer<QWidget>& w : widgets) delete w.data();
  ForgetAllWindows();
  for (const RegisteredFileType& t : RegisteredFileTypes()) RuntimeUnregisterFileType(t.name);
  RemoveSpecialFolderTemporary();
}

void SetUnhandledExceptionPresenter(std::function<void(const std::string&)> presenter) {
  std::lock_guard lock(gPresenterMutex);
  gPresenter = std::move(presenter);
}

void RuntimeUnhandledException(const std::string& what) {
  gExitCode.store(1);
  std::function<void(const std::string&)> presenter;
  {
    std::lock_guard lock(gPresenterMutex);
    presenter = gPresenter;
  }
  const std::string message = "Speckmoor must quit: " + what + ".";
  std::fprintf(stderr, "%s\n", message.c_str());
  try {
    RunOnMainThread([&] {
      if (presenter) presenter(message);
      else if (qApp) ShowBox(message);
      if (qApp) QApplication::exit(1);
    });
  } catch (const MainThreadGone&) {
    // The display went: the program is ending already, and standard error has the message.
  }
}

void RuntimeUnhandledException(const std::exception& e) {
  const auto* fwe = dynamic_cast<const RuntimeException*>(&e);
  const std::string name = fwe ? fwe->ClassName() : "an exception";
  RuntimeUnhandledException(name + " (" + e.what() + ")");
}

bool IsMainThread() { return !qApp || QThread::currentThread() == qApp->thread(); }

}  // namespace fw
