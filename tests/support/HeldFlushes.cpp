// Flushes held until the test lets them go, to catch the real program in the middle of a commit. Preloaded,
// with SPECKMOOR_HELD_FOLDER naming a folder and SPECKMOOR_HOLD a folder of markers: the first wait for the
// disk in the held folder (sync_file_range waiting for a write, syncfs of its file system) creates
// <hold>/held and blocks until <hold>/release exists; the waits after it pass. While a wait is held, the
// main thread's first nap creates <hold>/waiting: with the display gone, the main thread naps only while
// it waits for the program's threads.
#include <fcntl.h>
#include <poll.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <string>

#include "Interpose.h"

namespace {

const std::string* gFolder = nullptr;
const std::string* gHold = nullptr;

enum State { kFree, kHeld, kReleased };
std::atomic<int> gState{kFree};
std::atomic<bool> gWaitingTold{false};

[[gnu::constructor]] void FromEnvironment() {
  const char* folder = std::getenv("SPECKMOOR_HELD_FOLDER");
  const char* hold = std::getenv("SPECKMOOR_HOLD");
  if (!folder || !hold) return;
  gFolder = new std::string(folder);
  gHold = new std::string(hold);
}

// Whether `fd` is the held folder (whole = true) or a file in it.
bool InHeldFolder(int fd, bool whole) {
  if (!gFolder) return false;
  const interpose::Place place = interpose::PlaceOf(fd, *gFolder);
  return place == interpose::Place::InTheFolder || (whole && place == interpose::Place::TheFolder);
}

std::string Marker(const char* name) { return *gHold + "/" + name; }

void Touch(const char* name) {
  const int fd = open(Marker(name).c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
  if (fd >= 0) close(fd);
}

void HoldUntilReleased() {
  int state = kFree;
  if (gState.compare_exchange_strong(state, kHeld))
    Touch("held");
  else if (state == kReleased)
    return;
  const std::string release = Marker("release");
  while (access(release.c_str(), F_OK) != 0) poll(nullptr, 0, 10);
  gState = kReleased;
}

void NoteNap() {
  if (gState.load() == kHeld && gettid() == getpid() && !gWaitingTold.exchange(true)) Touch("waiting");
}

using interpose::Real;

}  // namespace

extern "C" {

[[gnu::visibility("default")]] int sync_file_range(int fd, off64_t offset, off64_t count,
                                                   unsigned int flags) {
  if ((flags & (SYNC_FILE_RANGE_WAIT_BEFORE | SYNC_FILE_RANGE_WAIT_AFTER)) && InHeldFolder(fd, false))
    HoldUntilReleased();
  return Real<int (*)(int, off64_t, off64_t, unsigned int)>("sync_file_range")(fd, offset, count, flags);
}

[[gnu::visibility("default")]] int syncfs(int fd) {
  if (InHeldFolder(fd, true)) HoldUntilReleased();
  return Real<int (*)(int)>("syncfs")(fd);
}

[[gnu::visibility("default")]] int nanosleep(const struct timespec* duration, struct timespec* left) {
  NoteNap();
  return Real<int (*)(const struct timespec*, struct timespec*)>("nanosleep")(duration, left);
}

[[gnu::visibility("default")]] int clock_nanosleep(clockid_t clock, int flags,
                                                   const struct timespec* duration, struct timespec* left) {
  NoteNap();
  return Real<int (*)(clockid_t, int, const struct timespec*, struct timespec*)>("clock_nanosleep")(
      clock, flags, duration, left);
}

}  // extern "C"
