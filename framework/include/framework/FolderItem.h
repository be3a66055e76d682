// A file or folder, by path.
#pragma once

#include <cstdint>
#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

#include "framework/Object.h"
#include "framework/Picture.h"

namespace fw {

class FolderItem final : public Object {
 public:
  explicit FolderItem(std::filesystem::path path) : path_(std::move(path)) {}

  const std::filesystem::path& NativePath() const noexcept { return path_; }
  std::string Name() const;  // UTF-8
  bool Exists() const;       // also true for a dangling symbolic link
  bool Directory() const;
  // A file's size in bytes; 0 for anything else.
  std::uintmax_t Length() const;

  // A folder's entries, numbered from 1 in byte order of their names. Count reads the folder afresh;
  // Item uses the listing of the last Count (reading it on first use). Nil outside 1..Count.
  std::int32_t Count() const;
  Ref<FolderItem> Item(std::int32_t index) const;
  // The folder's entries as they are now, in the same order: one listing, for walking a folder that
  // may change meanwhile. Empty for a file.
  std::vector<Ref<FolderItem>> Entries() const;
  Ref<FolderItem> Child(const std::string& name) const;
  Ref<FolderItem> Parent() const;  // nil for the root

  // The file decoded as a picture at depth 32, or nil when it is none (see PictureFile.h).
  Ref<Picture> OpenAsPicture() const;
  // Makes the folder; false when it can't be made or already exists (`why` then tells the error).
  bool CreateAsFolder() const;
  bool CreateAsFolder(std::error_code& why) const;

 private:
  void ReadListing() const;

  std::filesystem::path path_;
  mutable std::mutex mutex_;
  mutable bool listed_ = false;
  mutable std::vector<std::filesystem::path> listing_;
};

}  // namespace fw
