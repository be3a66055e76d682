// What a drag carries: files (the first one first) and pictures.
#pragma once

#include <vector>

#include "framework/FolderItem.h"
#include "framework/Object.h"
#include "framework/Picture.h"

namespace fw {

class DragItem final : public Object {
 public:
  explicit DragItem(std::vector<Ref<fw::FolderItem>> files) : files_(std::move(files)) {}

  bool FolderItemAvailable() const noexcept { return index_ < files_.size(); }
  // The current file; nil when the drag carries none.
  Ref<fw::FolderItem> FolderItem() const { return FolderItemAvailable() ? files_[index_] : nullptr; }
  // Moves to the next file; false when there is none.
  bool NextItem() {
    if (index_ + 1 >= files_.size()) return false;
    ++index_;
    return true;
  }
  std::size_t FileCount() const noexcept { return files_.size(); }

 private:
  std::vector<Ref<fw::FolderItem>> files_;
  std::size_t index_ = 0;
};

}  // namespace fw
