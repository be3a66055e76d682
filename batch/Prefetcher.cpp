#include "Prefetcher.h"

namespace batch {

Prefetcher::~Prefetcher() {
  {
    std::lock_guard lock(mutex_);
    stop_ = true;
  }
  changed_.notify_all();
  if (thread_.joinable()) thread_.join();
}

void Prefetcher::Start(const fw::Ref<fw::FolderItem>& item) {
  {
    std::unique_lock lock(mutex_);
    // One at a time: an earlier item's picture is no longer wanted.
    changed_.wait(lock, [this] { return !asked_; });
    item_ = item;
    picture_ = nullptr;
    asked_ = true;
    ready_ = false;
  }
  if (!thread_.joinable()) thread_ = std::thread([this] { Work(); });
  changed_.notify_all();
}

fw::Ref<fw::Picture> Prefetcher::Take(const fw::Ref<fw::FolderItem>& item) {
  {
    std::unique_lock lock(mutex_);
    if (item_ && item_.get() == item.get()) {
      changed_.wait(lock, [this] { return ready_; });
      item_ = nullptr;
      return std::move(picture_);
    }
  }
  return item ? item->OpenAsPicture() : nullptr;
}

void Prefetcher::Work() {
  for (;;) {
    fw::Ref<fw::FolderItem> item;
    {
      std::unique_lock lock(mutex_);
      changed_.wait(lock, [this] { return stop_ || (asked_ && !ready_); });
      if (stop_) return;
      item = item_;
    }
    fw::Ref<fw::Picture> picture = item->OpenAsPicture();
    {
      std::lock_guard lock(mutex_);
      picture_ = std::move(picture);
      ready_ = true;
      asked_ = false;
    }
    changed_.notify_all();
  }
}

}  // namespace batch
