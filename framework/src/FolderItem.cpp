#include "framework/FolderItem.h"

#include <algorithm>

#include "framework/PictureFile.h"

namespace fs = std::filesystem;

namespace fw {

std::string FolderItem::Name() const {
  fs::path name = path_.filename();
  if (name.empty()) name = path_.parent_path().filename();  // a path that ends in a separator
  return name.string();
}

bool FolderItem::Exists() const {
  std::error_code ec;
  return fs::exists(fs::symlink_status(path_, ec));
}

bool FolderItem::Directory() const {
  std::error_code ec;
  return fs::is_directory(path_, ec);
}

std::uintmax_t FolderItem::Length() const {
  std::error_code ec;
  const std::uintmax_t size = fs::is_regular_file(path_, ec) ? fs::file_size(path_, ec) : 0;
  return ec ? 0 : size;
}

namespace {

// The entries of a folder in byte order of their names; each name is taken once, not per comparison.
std::vector<fs::path> ListFolder(const fs::path& folder) {
  std::vector<std::pair<std::string, fs::path>> named;
  std::error_code ec;
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec))
    named.emplace_back(it->path().filename().native(), it->path());
  std::sort(named.begin(), named.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
  std::vector<fs::path> paths;
  paths.reserve(named.size());
  for (auto& entry : named) paths.push_back(std::move(entry.second));
  return paths;
}

}  // namespace

void FolderItem::ReadListing() const {
  listing_ = ListFolder(path_);
  listed_ = true;
}

std::vector<Ref<FolderItem>> FolderItem::Entries() const {
  std::vector<Ref<FolderItem>> entries;
  if (!Directory()) return entries;
  std::vector<fs::path> paths = ListFolder(path_);
  entries.reserve(paths.size());
  for (fs::path& p : paths) entries.push_back(MakeRef<FolderItem>(std::move(p)));
  return entries;
}

std::int32_t FolderItem::Count() const {
  if (!Directory()) return 0;
  std::lock_guard lock(mutex_);
  ReadListing();
  return static_cast<std::int32_t>(std::min<std::size_t>(listing_.size(), INT32_MAX));
}

Ref<FolderItem> FolderItem::Item(std::int32_t index) const {
  std::lock_guard lock(mutex_);
  if (!listed_) ReadListing();
  if (index < 1 || static_cast<std::size_t>(index) > listing_.size()) return nullptr;
  return MakeRef<FolderItem>(listing_[static_cast<std::size_t>(index - 1)]);
}

Ref<FolderItem> FolderItem::Child(const std::string& name) const {
  if (name.empty() || name == "." || name == ".." || name.find('/') != std::string::npos) return nullptr;
  return MakeRef<FolderItem>(path_ / name);
}

Ref<FolderItem> FolderItem::Parent() const {
  fs::path p = path_;
  if (!p.has_filename()) p = p.parent_path();
  if (p == p.root_path() || !p.has_parent_path()) return nullptr;
  return MakeRef<FolderItem>(p.parent_path());
}

Ref<Picture> FolderItem::OpenAsPicture() const { return DecodePictureFile(path_); }

bool FolderItem::CreateAsFolder() const {
  std::error_code ec;
  return CreateAsFolder(ec);
}

bool FolderItem::CreateAsFolder(std::error_code& why) const {
  why.clear();
  if (fs::create_directory(path_, why)) return true;
  if (!why) why = std::make_error_code(std::errc::file_exists);
  return false;
}

}  // namespace fw
