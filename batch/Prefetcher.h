// Decodes the next item of a batch on a thread of its own while the batch works on the current one.
#pragma once

#include <condition_variable>
#include <mutex>
#include <thread>

#include "framework/FolderItem.h"

namespace batch {

class Prefetcher {
 public:
  Prefetcher() = default;
  // Waits for a decode under way.
  ~Prefetcher();
  Prefetcher(const Prefetcher&) = delete;
  Prefetcher& operator=(const Prefetcher&) = delete;

  // Starts decoding the item; one item at a time. The thread is made on first use, so a folder without
  // pictures never makes one.
  void Start(const fw::Ref<fw::FolderItem>& item);
  // The item's picture: the one decoded ahead when Start was given this item, else decoded now.
  fw::Ref<fw::Picture> Take(const fw::Ref<fw::FolderItem>& item);

 private:
  void Work();

  std::mutex mutex_;
  std::condition_variable changed_;
  fw::Ref<fw::FolderItem> item_;     // started, decoding or decoded
  fw::Ref<fw::Picture> picture_;     // its picture once decoded
  bool asked_ = false, ready_ = false, stop_ = false;
  std::thread thread_;
};

}  // namespace batch
