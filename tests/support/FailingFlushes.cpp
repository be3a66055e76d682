// Flushes that fail as on a disk whose data writes fail: syncfs of the file system a chosen folder is on,
// and fsync and fdatasync of the files in it, give EIO; the folder's own entries still reach the disk. In
// the other mode only the folder's own fsync fails, as when the disk fails just as the names are written.
// Linked into a test program it stands in for the C library's calls, and the test chooses the folder;
// preloaded into the real program, SPECKMOOR_FAILING_FOLDER names it.
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <string>

#include "FailingFlushes.h"
#include "Interpose.h"

namespace {

std::atomic<const std::string*> gFolder{nullptr};
std::atomic<testing_support::Flushes> gWhich{testing_support::Flushes::OfItsFiles};

[[gnu::constructor]] void FromEnvironment() {
  if (const char* folder = std::getenv("SPECKMOOR_FAILING_FOLDER")) gFolder = new std::string(folder);
}

enum class Call { Fsync, Syncfs };

// Whether this call on `fd` fails.
bool Failing(int fd, Call call) {
  const std::string* folder = gFolder.load();
  if (!folder) return false;
  const bool ofItself = gWhich.load() == testing_support::Flushes::OfItself;
  const interpose::Place place = interpose::PlaceOf(fd, *folder);
  const bool isFolder = place == interpose::Place::TheFolder;
  const bool inFolder = place == interpose::Place::InTheFolder;
  if (ofItself) return call == Call::Fsync && isFolder;
  return call == Call::Syncfs ? isFolder || inFolder : inFolder;
}

using interpose::Real;

}  // namespace

namespace testing_support {

void FailFlushesIn(const std::filesystem::path& folder, Flushes which) {
  gWhich = which;
  // Left alive: a thread may still be reading the last one.
  gFolder = folder.empty() ? nullptr : new std::string(folder.string());
}

}  // namespace testing_support

extern "C" {

[[gnu::visibility("default")]] int fsync(int fd) {
  if (Failing(fd, Call::Fsync)) {
    errno = EIO;
    return -1;
  }
  return Real<int (*)(int)>("fsync")(fd);
}

[[gnu::visibility("default")]] int syncfs(int fd) {
  if (Failing(fd, Call::Syncfs)) {
    errno = EIO;
    return -1;
  }
  return Real<int (*)(int)>("syncfs")(fd);
}

[[gnu::visibility("default")]] int fdatasync(int fd) {
  if (Failing(fd, Call::Fsync)) {
    errno = EIO;
    return -1;
  }
  return Real<int (*)(int)>("fdatasync")(fd);
}

}  // extern "C"
