// Files for the PNG family: folder item paths, whole-file reads, and replacing a file in one step.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "kit/PluginABI.h"

namespace pngfamily {

// The item's path; false for nil or for something that isn't a folder item.
bool PathOf(REALfolderItem item, std::string& path);

// The whole regular file, refused beyond `limit` bytes.
bool ReadWholeFile(const std::string& path, std::size_t limit, std::vector<std::uint8_t>& bytes);

// Whether two paths name the same existing file.
bool SameFile(const std::string& a, const std::string& b);

// A file written beside its target under a hidden temporary name and renamed over the target on Commit,
// so readers see the old file or the new one, never a part. Dropped unless committed. Error() is the errno
// of the first call that failed, 0 when none did.
class AtomicFile {
 public:
  AtomicFile() = default;
  ~AtomicFile();
  AtomicFile(const AtomicFile&) = delete;
  AtomicFile& operator=(const AtomicFile&) = delete;

  // False when the target is a folder or another non-regular file, or its folder takes no new file.
  bool Open(const std::string& target);
  std::FILE* Stream() const noexcept { return stream_; }
  // Renames the whole file into place; false (with the temporary gone) when any step fails. A durable
  // commit first waits until the file is on the disk, so it also outlasts a power cut.
  enum class Durability { Renamed, OnDisk };
  bool Commit(Durability durability = Durability::OnDisk);
  int Error() const noexcept { return error_; }
  // Keeps errno as the error unless an earlier call failed; for writes made on Stream().
  void NoteFailure() noexcept;

 private:
  bool Fail(int error) noexcept;
  void Discard() noexcept;

  std::string target_;
  std::string temporary_;
  std::FILE* stream_ = nullptr;
  bool keepMode_ = false;
  mode_t mode_ = 0;
  int error_ = 0;
};

// Replaces `target` with the bytes, waited onto the disk; false with errno telling why.
bool WriteFileAtomically(const std::string& target, const std::uint8_t* data, std::size_t size);

}  // namespace pngfamily
