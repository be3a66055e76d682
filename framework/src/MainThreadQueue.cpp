#include "src/MainThreadQueue.h"

#include <QApplication>
#include <condition_variable>
#include <deque>
#include <mutex>

#include "framework/Runtime.h"

namespace fw {
namespace {

// A call carried to the main thread: waited for (`work` points at the caller's function) or posted
// (`owned` holds it, and nobody waits).
struct MainThreadJob {
  const std::function<void()>* work = nullptr;
  std::function<void()> owned;
  std::exception_ptr failure;
  bool done = false;
};

std::mutex gJobsMutex;
std::condition_variable gJobsDone;
std::deque<MainThreadJob*> gJobs;

void Enqueue(MainThreadJob* job) {
  {
    std::lock_guard lock(gJobsMutex);
    gJobs.push_back(job);
  }
  QMetaObject::invokeMethod(&MainThreadQueue::Instance(), "Drain", Qt::QueuedConnection);
}

}  // namespace

MainThreadQueue& MainThreadQueue::Instance() {
  static MainThreadQueue* queue = [] {
    auto* q = new MainThreadQueue;  // lives as long as the process
    if (qApp) q->moveToThread(qApp->thread());
    return q;
  }();
  return *queue;
}

void MainThreadQueue::Drain() {
  for (;;) {
    MainThreadJob* job = nullptr;
    {
      std::lock_guard lock(gJobsMutex);
      if (gJobs.empty()) return;
      job = gJobs.front();
      gJobs.pop_front();
    }
    if (!job->work) {
      Guarded([&] { job->owned(); });
      delete job;
      continue;
    }
    try {
      (*job->work)();
    } catch (...) {
      job->failure = std::current_exception();
    }
    {
      std::lock_guard lock(gJobsMutex);
      job->done = true;
    }
    gJobsDone.notify_all();
  }
}

void RunOnMainThread(const std::function<void()>& f) {
  if (IsMainThread()) {
    f();
    return;
  }
  MainThreadJob job;
  job.work = &f;
  Enqueue(&job);
  {
    std::unique_lock lock(gJobsMutex);
    gJobsDone.wait(lock, [&] { return job.done; });
  }
  // An exception comes back to the caller's thread, as if the call had run there.
  if (job.failure) std::rethrow_exception(job.failure);
}

void PostToMainThread(std::function<void()> f) {
  auto* job = new MainThreadJob;
  job->owned = std::move(f);
  Enqueue(job);
}

}  // namespace fw
