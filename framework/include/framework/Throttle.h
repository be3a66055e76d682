// Keeps something on screen up to date while a fast producer on another thread changes it.
#pragma once

#include <chrono>
#include <functional>
#include <mutex>

#include "framework/Object.h"

namespace fw {

// Ask() from any thread: `show` runs on the main thread at once when it is idle, then at most once per
// interval while asks keep coming, and once more after the last of them. A batch of thousands of small
// pictures so costs the main thread a few dozen updates a second instead of one for each picture.
class Throttle {
 public:
  Throttle(std::chrono::milliseconds interval, std::function<void()> show)
      : interval_(interval), show_(std::move(show)) {}
  Throttle(const Throttle&) = delete;
  Throttle& operator=(const Throttle&) = delete;

  // `keep` holds the throttle's owner alive until `show` has run for this ask.
  void Ask(const Ref<Object>& keep);

 private:
  void Show(const Ref<Object>& keep);

  const std::chrono::milliseconds interval_;
  const std::function<void()> show_;
  std::mutex mutex_;
  bool scheduled_ = false;  // a show is on its way or was made less than an interval ago
  bool again_ = false;      // asked for while scheduled
};

}  // namespace fw
