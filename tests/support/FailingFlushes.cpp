// Flushes that fail as on a disk whose data writes fail: syncfs of the file system a chosen folder is on,
// and fsync and fdatasync of the files in it, give EIO; the folder's own entries still reach the disk.
// Linked into a test program it stands in for the C library's calls, and the test chooses the folder;
// preloaded into the real program, SPECKMOOR_FAILING_FOLDER names it.
#include <dlfcn.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <string>

#include "FailingFlushes.h"

namespace {

std::atomic<const std::string*> gFolder{nullptr};

[[gnu::constructor]] void FromEnvironment() {
  if (const char* folder = std::getenv("SPECKMOOR_FAILING_FOLDER")) gFolder = new std::string(folder);
}

// Whether `fd` is the folder (whole = true) or a file in it.
bool Failing(int fd, bool whole = false) {
  const std::string* folder = gFolder.load();
  if (!folder) return false;
  char path[4096];
  const std::string link = "/proc/self/fd/" + std::to_string(fd);
  const ssize_t length = readlink(link.c_str(), path, sizeof path);
  if (length <= 0) return false;
  const std::string file(path, static_cast<std::size_t>(length));
  return (whole && file == *folder) || file.rfind(*folder + "/", 0) == 0;
}

template <typename F>
F Real(const char* name) {
  return reinterpret_cast<F>(dlsym(RTLD_NEXT, name));
}

}  // namespace

namespace testing_support {

void FailFlushesIn(const std::filesystem::path& folder) {
  // Left alive: a thread may still be reading the last one.
  gFolder = folder.empty() ? nullptr : new std::string(folder.string());
}

}  // namespace testing_support

extern "C" {

[[gnu::visibility("default")]] int fsync(int fd) {
  if (Failing(fd)) {
    errno = EIO;
    return -1;
  }
  return Real<int (*)(int)>("fsync")(fd);
}

[[gnu::visibility("default")]] int syncfs(int fd) {
  if (Failing(fd, true)) {
    errno = EIO;
    return -1;
  }
  return Real<int (*)(int)>("syncfs")(fd);
}

[[gnu::visibility("default")]] int fdatasync(int fd) {
  if (Failing(fd)) {
    errno = EIO;
    return -1;
  }
  return Real<int (*)(int)>("fdatasync")(fd);
}

}  // extern "C"
