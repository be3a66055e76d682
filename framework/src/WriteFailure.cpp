#include "framework/WriteFailure.h"

#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace fw {

std::string WriteFailureReason(int error) {
  switch (error) {
    case EACCES:
    case EPERM:
    case EROFS: return "The folder does not allow writing.";
    case ENOSPC:
    case EDQUOT: return "The disk is full.";
    case ENOENT: return "Its folder does not exist.";
    case EEXIST:
    case EISDIR: return "Something of that name is in the way.";
    case ENAMETOOLONG: return "The name is too long.";
    default: return std::string(std::strerror(error)) + ".";
  }
}

std::string WriteFailureReason(const FolderItem& target) {
  const std::filesystem::path path = target.NativePath();
  std::error_code ec;
  if (std::filesystem::is_directory(path, ec)) return "A folder of that name is in the way.";
  const std::filesystem::path folder = path.parent_path();
  if (!std::filesystem::is_directory(folder, ec)) return WriteFailureReason(ENOENT);
  std::string probe = (folder / ".speckmoor-probe-XXXXXX").string();
  const int fd = mkstemp(probe.data());
  if (fd < 0) return WriteFailureReason(errno);
  close(fd);
  unlink(probe.c_str());
  struct statvfs fs {};
  if (statvfs(folder.c_str(), &fs) == 0 && fs.f_bavail == 0) return WriteFailureReason(ENOSPC);
  return "The file could not be written.";
}

}  // namespace fw
