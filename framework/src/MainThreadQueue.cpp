#include "src/MainThreadQueue.h"

#include <QApplication>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <vector>

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
// The waited-for jobs the main thread runs now, the innermost last: a job may run a nested event loop.
std::vector<MainThreadJob*> gInHand;
bool gAbandoned = false;

// False once the main thread was abandoned: the job is not taken.
bool Enqueue(MainThreadJob* job) {
  {
    std::lock_guard lock(gJobsMutex);
    if (gAbandoned) return false;
    gJobs.push_back(job);
  }
  QMetaObject::invokeMethod(&MainThreadQueue::Instance(), "Drain", Qt::QueuedConnection);
  return true;
}

void Release(MainThreadJob& job) {
  job.failure = std::make_exception_ptr(MainThreadGone());
  job.done = true;
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
      if (job->work) gInHand.push_back(job);
    }
    if (!job->work) {
      Guarded([&] { job->owned(); });
      delete job;
      continue;
    }
    std::exception_ptr failure;
    try {
      (*job->work)();
    } catch (...) {
      failure = std::current_exception();
    }
    {
      std::lock_guard lock(gJobsMutex);
      // An abandoned job's caller has gone on: the job is no longer there.
      if (gInHand.empty() || gInHand.back() != job) return;
      gInHand.pop_back();
      job->failure = failure;
      job->done = true;
    }
    gJobsDone.notify_all();
  }
}

void AbandonMainThread() {
  {
    std::lock_guard lock(gJobsMutex);
    gAbandoned = true;
    for (MainThreadJob* job : gInHand) Release(*job);
    gInHand.clear();
    std::deque<MainThreadJob*> posted;  // never run, never freed: the process is ending
    for (MainThreadJob* job : gJobs) {
      if (job->work) Release(*job);
      else posted.push_back(job);
    }
    gJobs.swap(posted);
  }
  gJobsDone.notify_all();
}

bool MainThreadAbandoned() {
  std::lock_guard lock(gJobsMutex);
  return gAbandoned;
}

void RunOnMainThread(const std::function<void()>& f) {
  if (IsMainThread()) {
    f();
    return;
  }
  MainThreadJob job;
  job.work = &f;
  if (!Enqueue(&job)) throw MainThreadGone();
  {
    std::unique_lock lock(gJobsMutex);
    gJobsDone.wait(lock, [&] { return job.done; });
  }
  // An exception comes back to the caller's thread, as if the call had run there.
  if (job.failure) std::rethrow_exception(job.failure);
}

void PostToMainThread(std::function<void()> f) {
  auto job = std::make_unique<MainThreadJob>();
  job->owned = std::move(f);
  if (Enqueue(job.get())) job.release();
}

}  // namespace fw
