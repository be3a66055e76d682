#include "framework/Thread.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <optional>
#include <thread>

#include "framework/Runtime.h"
#include "src/MainThreadQueue.h"

namespace fw {
namespace {

std::atomic<int> gRunning{0};

}  // namespace

Thread::~Thread() = default;

void Thread::Run() {
  if (running_.exchange(true)) return;  // one run at a time
  gRunning.fetch_add(1);
  Retain();  // the framework holds a running thread
  std::thread([this] {
    Guarded([this] {
      try {
        Event_Run();
      } catch (const MainThreadGone&) {
        // The display went: no window work can be done any more, and the program is ending.
      }
    });
    {
      std::lock_guard lock(mutex_);
      running_.store(false, std::memory_order_release);
    }
    done_.notify_all();
    gRunning.fetch_sub(1);
    Release();
  }).detach();
}

bool Thread::WaitUntilDone(std::chrono::milliseconds timeout) {
  std::unique_lock lock(mutex_);
  return done_.wait_for(lock, timeout, [this] { return !running_.load(std::memory_order_acquire); });
}

void ThreadYieldPoint() { std::this_thread::yield(); }

int RunningThreads() { return gRunning.load(); }

namespace {

bool WaitForThreadsUntil(std::optional<std::chrono::steady_clock::time_point> deadline) {
  while (gRunning.load() > 0) {
    if (deadline && std::chrono::steady_clock::now() >= *deadline) return false;
    // A thread may be waiting for the main thread to do its window work, unless the display is gone.
    if (IsMainThread() && qApp && !MainThreadAbandoned())
      QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    else
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

}  // namespace

bool WaitForThreads(std::chrono::milliseconds timeout) {
  return WaitForThreadsUntil(std::chrono::steady_clock::now() + timeout);
}

void WaitForThreads() { WaitForThreadsUntil(std::nullopt); }

}  // namespace fw
