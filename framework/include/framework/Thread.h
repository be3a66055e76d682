// Framework threads: real OS threads that run Event_Run. While one runs, the framework holds it.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>

#include "framework/Object.h"

namespace fw {

class Thread : public Object {
 public:
  ~Thread() override;

  // Starts Event_Run on a new thread. An exception it raises goes to RuntimeUnhandledException.
  void Run();
  virtual void Event_Run() = 0;

  std::int32_t Priority = 5;
  bool IsRunning() const noexcept { return running_.load(std::memory_order_acquire); }
  // Waits until Event_Run has returned; false when the time ran out first.
  bool WaitUntilDone(std::chrono::milliseconds timeout);

 private:
  std::atomic<bool> running_{false};
  std::mutex mutex_;
  std::condition_variable done_;
};

// The scheduler's yield point: other threads get a turn.
void ThreadYieldPoint();
// How many framework threads are running now.
int RunningThreads();
// Waits, while the main thread keeps serving work carried to it, until no framework thread runs;
// false when the time ran out first.
bool WaitForThreads(std::chrono::milliseconds timeout);
void WaitForThreads();

}  // namespace fw
