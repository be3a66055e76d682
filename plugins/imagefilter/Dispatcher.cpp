#include "Dispatcher.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

namespace imagefilter {
namespace {

// Bounds the band count whatever bandsPerThread asks for, so the band counter can't overflow.
constexpr std::int64_t kMaxBands = std::int64_t{1} << 24;
// Each thread a dispatch wakes gets at least this many pixels: waking threads for less costs more than
// the work, and a batch of small pictures would spend its time waking them.
constexpr std::int64_t kPixelsPerThread = std::int64_t{1} << 16;

// One dispatch. It lives on the caller's stack; pool threads attach to it under the pool's mutex and
// the caller doesn't return before the last one has let go.
struct Job {
  void* params;
  MPBandRoutine band;
  std::int32_t height;
  std::int32_t bandCount;
  std::int32_t helpersWanted;
  std::int32_t helpersAttached = 0;  // guarded by the pool's mutex
  std::atomic<std::int32_t> nextBand{0};
  std::condition_variable released;
};

std::int32_t BandStart(const Job& job, std::int32_t band) {
  return static_cast<std::int32_t>(std::int64_t{band} * job.height / job.bandCount);
}

void RunBands(Job& job) {
  for (;;) {
    const std::int32_t band = job.nextBand.fetch_add(1, std::memory_order_relaxed);
    if (band >= job.bandCount) return;
    MPParamBlock block{BandStart(job, band), BandStart(job, band + 1), job.params};
    job.band(&block);
  }
}

std::int32_t HardwareThreads() {
  static const std::int32_t count = static_cast<std::int32_t>(std::max(1u, std::thread::hardware_concurrency()));
  return count;
}

// Benchmarking aid: SPECKMOOR_BAND_THREADS=n caps every dispatch at n threads. Read at each dispatch so a
// benchmark can change it between runs; nothing in the program sets it.
std::int32_t ThreadCapFromEnvironment() {
  const char* value = std::getenv("SPECKMOOR_BAND_THREADS");
  if (!value || !*value) return 0;
  const long cap = std::strtol(value, nullptr, 10);
  return cap > 0 && cap < INT32_MAX ? static_cast<std::int32_t>(cap) : 0;
}

// Set once the pool is destroyed at exit: a dispatch from a later destructor then runs on its caller alone.
std::atomic<bool> gPoolGone{false};

// Threads that wait for jobs, one fewer than the hardware has: each dispatch's caller works as well.
class Pool {
 public:
  Pool() {
    const std::int32_t wanted = HardwareThreads() - 1;
    workers_.reserve(static_cast<std::size_t>(wanted));
    for (std::int32_t i = 0; i < wanted; ++i) {
      try {
        workers_.emplace_back([this] { Work(); });
      } catch (const std::system_error&) {
        break;  // fewer helpers only means slower dispatches
      }
    }
  }

  ~Pool() {
    gPoolGone.store(true, std::memory_order_release);
    {
      std::lock_guard lock(mutex_);
      stopping_ = true;
    }
    wake_.notify_all();
    for (std::thread& worker : workers_) worker.join();
  }

  Pool(const Pool&) = delete;
  Pool& operator=(const Pool&) = delete;

  std::int32_t Threads() const noexcept { return static_cast<std::int32_t>(workers_.size()) + 1; }

  void Run(Job& job) {
    {
      std::lock_guard lock(mutex_);
      waiting_.push_back(&job);
    }
    if (job.helpersWanted + 1 >= Threads()) {
      wake_.notify_all();
    } else {
      for (std::int32_t i = 0; i < job.helpersWanted; ++i) wake_.notify_one();
    }
    RunBands(job);
    // Every band is taken; the ones still running belong to attached helpers.
    std::unique_lock lock(mutex_);
    if (auto it = std::find(waiting_.begin(), waiting_.end(), &job); it != waiting_.end()) waiting_.erase(it);
    job.released.wait(lock, [&] { return job.helpersAttached == 0; });
  }

 private:
  void Work() {
    std::unique_lock lock(mutex_);
    for (;;) {
      wake_.wait(lock, [&] { return stopping_ || !waiting_.empty(); });
      if (stopping_) return;
      Job* job = waiting_.front();
      if (job->nextBand.load(std::memory_order_relaxed) >= job->bandCount) {
        waiting_.pop_front();  // nothing left to take; its caller finishes it
        continue;
      }
      if (++job->helpersAttached >= job->helpersWanted) waiting_.pop_front();
      lock.unlock();
      RunBands(*job);
      lock.lock();
      // Notified under the mutex: the caller can't see the count reach 0, return and drop the job before
      // this thread is done with it.
      if (--job->helpersAttached == 0) job->released.notify_one();
    }
  }

  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<Job*> waiting_;  // jobs that still take helpers, oldest first
  bool stopping_ = false;
  std::vector<std::thread> workers_;
};

// Made on the first dispatch that wants help, joined when the library goes away.
Pool& ThePool() {
  static Pool pool;
  return pool;
}

}  // namespace

void Dispatch(void* params, MPBandRoutine band, std::int32_t bandsPerThread) {
  if (!params || !band) return;
  std::int32_t words[4];
  std::memcpy(words, params, sizeof words);
  const std::int32_t width = words[0];
  const std::int32_t height = words[1];
  const std::int32_t hint = words[3];
  if (height <= 0) return;

  std::int32_t threads = HardwareThreads();
  const std::int64_t pixels = std::int64_t{std::max(width, 1)} * height;
  threads = static_cast<std::int32_t>(std::clamp<std::int64_t>(pixels / kPixelsPerThread, 1, threads));
  if (hint > 0) threads = std::min(threads, hint);
  if (const std::int32_t cap = ThreadCapFromEnvironment(); cap > 0) threads = std::min(threads, cap);
  Pool* pool = nullptr;
  if (threads > 1 && gPoolGone.load(std::memory_order_acquire)) threads = 1;
  if (threads > 1) {
    pool = &ThePool();
    threads = std::min(threads, pool->Threads());
  }

  const std::int64_t bands =
      std::min({std::int64_t{threads} * std::max<std::int32_t>(bandsPerThread, 1), std::int64_t{height}, kMaxBands});
  Job job{params, band, height, static_cast<std::int32_t>(bands),
          static_cast<std::int32_t>(std::min<std::int64_t>(threads - 1, bands - 1))};
  if (job.helpersWanted <= 0) {
    RunBands(job);
    return;
  }
  pool->Run(job);
}

}  // namespace imagefilter
