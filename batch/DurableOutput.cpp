#include "DurableOutput.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>

#include "batch/SpeckmoorGlobals.h"
#include "bindings/PNG.h"

namespace batch {
namespace {

// A group is committed at this many files, or once its first file has waited this long: the wait for the
// disk is paid once per group, and a power cut costs at most the last half second of work.
constexpr std::size_t kGroupFiles = 128;
constexpr auto kGroupAge = std::chrono::milliseconds(500);
// The hidden name keeps within a folder entry's 255 bytes.
constexpr std::size_t kNameInHidden = 200;
constexpr int kAttempts = 64;

// Failures that every later file would meet as well.
bool BlocksTheFolder(int error) {
  switch (error) {
    case ENOSPC:
    case EDQUOT:
    case EROFS:
    case EACCES:
    case EPERM:
    case ENOENT:
    case ENOTDIR:
    case EIO:
      return true;
    default:
      return false;
  }
}

// Folders of some file systems can't be synced, and say so; nothing more can be done there.
int SyncFolder(int fd) { return fsync(fd) == 0 || errno == EINVAL || errno == ENOTSUP ? 0 : errno; }

bool SameNode(const struct stat& a, const struct stat& b) { return a.st_dev == b.st_dev && a.st_ino == b.st_ino; }

// The path by which the kernel reaches an open folder: followed through the descriptor, it leads to that
// folder wherever it has been moved.
std::string DescriptorPath(int fd) { return "/proc/self/fd/" + std::to_string(fd); }

}  // namespace

DurableOutput::DurableOutput(const fw::Ref<fw::FolderItem>& folder)
    : folder_(folder), random_(std::random_device{}()) {
  if (!folder_) {
    folderError_ = ENOENT;
    return;
  }
  folderFd_ = open(folder_->NativePath().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (folderFd_ < 0) {
    folderError_ = errno;
    return;
  }
  nameMax_ = fpathconf(folderFd_, _PC_NAME_MAX);
  struct stat opened, through;
  const std::string path = DescriptorPath(folderFd_);
  // Without /proc the writer can only go by the folder's path.
  const bool followable =
      fstat(folderFd_, &opened) == 0 && stat(path.c_str(), &through) == 0 && SameNode(opened, through);
  through_ = followable ? fw::MakeRef<fw::FolderItem>(path) : folder_;
}

DurableOutput::~DurableOutput() {
  for (Pending& file : pending_) {
    close(file.fd);
    unlinkat(folderFd_, file.hidden.c_str(), 0);
  }
  if (folderFd_ >= 0) close(folderFd_);
}

bool DurableOutput::Taken(const std::string& name) const {
  if (reserved_.count(name)) return true;
  // Any answer but "no such file" leaves the name to the write, whose own error then tells why.
  struct stat st;
  return fstatat(folderFd_, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0;
}

std::string DurableOutput::PickHidden(const std::string& name) {
  static constexpr char kLetters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  std::string hidden(1, '.');
  hidden.append(name, 0, kNameInHidden).append(".XXXXXX");
  struct stat st;
  do {
    for (std::size_t i = hidden.size() - 6; i < hidden.size(); ++i) hidden[i] = kLetters[random_() % 62];
  } while (fstatat(folderFd_, hidden.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0);
  return hidden;
}

void DurableOutput::Save(const std::string& stem, const fw::Ref<fw::Picture>& picture) {
  if (folderFd_ < 0) return Fail(folderError_);
  if (!picture) return Fail(0);
  if (pending_.empty()) groupStarted_ = std::chrono::steady_clock::now();
  Pending file;
  file.stem = stem;
  file.name = SpeckmoorGlobals::FreeOutputName(stem, [this](const std::string& name) { return Taken(name); });
  // Known before anything is written: the hidden name is shortened, so only the rename would find out.
  if (nameMax_ > 0 && file.name.size() > static_cast<std::size_t>(nameMax_)) return Fail(ENAMETOOLONG);
  // A name nothing has: the writer's rename then makes a new entry instead of replacing one, which some
  // file systems answer by writing the file out at once.
  file.hidden = PickHidden(file.name);
  int why = 0;
  if (!bindings::SaveAsPNGQZB(through_->Child(file.hidden), picture, 1.0f, &why)) return Fail(why);
  // Opened before the disk writes it, so this descriptor hears of a failed write whoever else looks.
  file.fd = openat(folderFd_, file.hidden.c_str(), O_RDONLY | O_CLOEXEC);
  if (file.fd < 0) {
    why = errno;
    unlinkat(folderFd_, file.hidden.c_str(), 0);
    return Fail(why);
  }
  sync_file_range(file.fd, 0, 0, SYNC_FILE_RANGE_WRITE);
  reserved_.insert(file.name);
  pending_.push_back(std::move(file));
}

void DurableOutput::CommitIfDue() {
  if (pending_.size() >= kGroupFiles ||
      (!pending_.empty() && std::chrono::steady_clock::now() - groupStarted_ >= kGroupAge))
    Commit();
}

void DurableOutput::Commit() {
  if (pending_.empty()) return;
  // Each file's own write is waited for, which tells its own failure whoever else looks at the disk; then
  // the file system is waited onto the disk once for the group, instead of once a file.
  std::vector<int> errors(pending_.size(), 0);
  for (std::size_t i = 0; i < pending_.size(); ++i) {
    constexpr unsigned kWaitForWrite = SYNC_FILE_RANGE_WAIT_BEFORE | SYNC_FILE_RANGE_WRITE | SYNC_FILE_RANGE_WAIT_AFTER;
    if (sync_file_range(pending_[i].fd, 0, 0, kWaitForWrite) != 0) errors[i] = errno;
    close(pending_[i].fd);
  }
  if (syncfs(folderFd_) != 0) {
    const int error = errno;
    for (int& e : errors) e = e ? e : error;
  }
  // On the disk first, then named: a file under its final name is whole after any power cut.
  std::vector<std::string> named;
  for (std::size_t i = 0; i < pending_.size(); ++i) {
    Pending& file = pending_[i];
    if (!errors[i]) errors[i] = RenameIntoPlace(file);
    reserved_.erase(file.name);
    if (errors[i]) {
      unlinkat(folderFd_, file.hidden.c_str(), 0);
      Fail(errors[i]);
    } else {
      named.push_back(file.name);
    }
  }
  pending_.clear();
  if (named.empty()) return;
  // Until the folder is on the disk, a power cut can undo the renames: names the disk did not confirm are
  // taken back rather than claimed.
  if (const int error = SyncFolder(folderFd_)) {
    for (const std::string& name : named) unlinkat(folderFd_, name.c_str(), 0);
    Fail(error, static_cast<std::int32_t>(named.size()));
    return;
  }
  saved_ += static_cast<std::int32_t>(named.size());
}

int DurableOutput::RenameIntoPlace(Pending& file) {
  for (int attempt = 0; attempt < kAttempts; ++attempt) {
    int moved = renameat2(folderFd_, file.hidden.c_str(), folderFd_, file.name.c_str(), RENAME_NOREPLACE);
    if (moved != 0 && (errno == EINVAL || errno == ENOSYS)) {
      // A file system without the flag: a link is made only where no file is, as the flag would.
      moved = linkat(folderFd_, file.hidden.c_str(), folderFd_, file.name.c_str(), 0);
      if (moved == 0) unlinkat(folderFd_, file.hidden.c_str(), 0);
    }
    if (moved == 0) return 0;
    if (errno != EEXIST) return errno;
    // Another program made a file of that name meanwhile: the next free one.
    reserved_.erase(file.name);
    file.name = SpeckmoorGlobals::FreeOutputName(file.stem, [this](const std::string& name) { return Taken(name); });
    reserved_.insert(file.name);
  }
  return EEXIST;
}

fw::Ref<fw::FolderItem> DurableOutput::Where() const {
  if (folderFd_ < 0) return folder_;
  struct stat opened, found;
  if (fstat(folderFd_, &opened) != 0 || opened.st_nlink == 0) return nullptr;
  char path[PATH_MAX];
  const ssize_t length = readlink(DescriptorPath(folderFd_).c_str(), path, sizeof path);
  if (length > 0 && static_cast<std::size_t>(length) < sizeof path && path[0] == '/') {
    fw::Ref<fw::FolderItem> now = fw::MakeRef<fw::FolderItem>(std::string(path, static_cast<std::size_t>(length)));
    if (stat(now->NativePath().c_str(), &found) == 0 && SameNode(opened, found)) return now;
  }
  if (stat(folder_->NativePath().c_str(), &found) == 0 && SameNode(opened, found)) return folder_;
  return nullptr;
}

void DurableOutput::Fail(int error, std::int32_t pictures) {
  unsaved_[error] += pictures;
  if (BlocksTheFolder(error)) blocked_ = true;
}

}  // namespace batch
