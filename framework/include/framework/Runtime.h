// The run-time: start-up, the event loop, shutdown, unhandled exceptions, and work carried to the
// main thread.
#pragma once

#include <exception>
#include <functional>
#include <string>

namespace fw {

// Makes the application (Qt, offscreen where no display is set), registers the framework's classes and
// loads the bundle's plug-ins. Plug-ins that failed are reported once the event loop can show a message.
void RuntimeInit();
// Registers the class records of the framework's own classes, once.
void RegisterFrameworkClasses();
// A problem found during start-up that the user should hear of; shown once the event loop runs.
void ReportStartupProblem(const std::string& message);
// Runs the start-up routine before the event loop delivers anything.
void RunFrameworkInitialization(const std::function<void()>& startup);
// The event loop; returns when the application quits.
void RuntimeRun();
// Ends the event loop once every window agreed to close; false when one refused.
bool RuntimeQuit();
// From now on SIGTERM, SIGINT and SIGHUP quit as RuntimeQuit does, from the event loop; one that comes
// before the loop runs quits as soon as it does, and one that comes after it ended (the quit is under
// way) changes nothing. A signal the program was started ignoring stays ignored. It may come before
// RuntimeInit: a signal while the application starts (connecting to a slow display) then waits until the
// application can hear it.
void QuitOnTerminationSignals();
// Ends the run-time and gives the exit value: 0, or non-zero after an unhandled exception.
int RuntimeExit();
// The framework's own module exit: forgets its windows and file types and deletes what is left of the
// widgets.
void RuntimeModuleExit();

// Tells the user which exception went unhandled, then ends the program with a non-zero exit code.
void RuntimeUnhandledException(const std::exception& e);
void RuntimeUnhandledException(const std::string& what);
// Where the message goes; tests replace the dialog. The default shows a message box.
void SetUnhandledExceptionPresenter(std::function<void(const std::string& message)> presenter);

// Calls `f`, handing any exception to RuntimeUnhandledException: no exception crosses Qt's event loop.
template <typename F>
auto Guarded(F&& f) noexcept -> decltype(f()) {
  try {
    return f();
  } catch (const std::exception& e) {
    RuntimeUnhandledException(e);
  } catch (...) {
    RuntimeUnhandledException(std::string("an unknown exception"));
  }
  if constexpr (!std::is_void_v<decltype(f())>) return decltype(f()){};
}

bool IsMainThread();
// What a thread waiting for the main thread gets once the display is gone: the main thread will never
// serve again. A framework thread that it ends ends quietly.
class MainThreadGone : public std::exception {
 public:
  const char* what() const noexcept override { return "the display is gone"; }
};
// Runs `f` on the main thread and waits for it; on the main thread it runs at once. Calls from other
// threads keep their order, and an exception `f` raises is raised again in the caller's thread. Never
// call it while holding a lock the main thread may wait for. Raises MainThreadGone in another thread
// once the display is gone, also to a caller already waiting.
void RunOnMainThread(const std::function<void()>& f);
// Runs `f` on the main thread later, without waiting, also when called there; it keeps its place among
// the calls carried to the main thread. An exception it raises goes to RuntimeUnhandledException.
// Once the display is gone it never runs.
void PostToMainThread(std::function<void()> f);

}  // namespace fw
