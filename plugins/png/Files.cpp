#include "Files.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <ctime>

#include "kit/Kit.h"

namespace pngfamily {
namespace {

// Names stay within a folder entry's 255 bytes with the dot, the separator and the suffix.
constexpr std::size_t kMaxNameInTemporary = 200;
constexpr int kNameAttempts = 64;

void RandomSuffix(char* out, std::size_t count) {
  static constexpr char kLetters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  static std::atomic<std::uint64_t> fallback{0};
  unsigned char noise[16] = {};
  if (getrandom(noise, count, GRND_NONBLOCK) != static_cast<ssize_t>(count)) {
    // Only uniqueness matters here, and O_EXCL settles a clash.
    std::uint64_t v = fallback.fetch_add(0x9E3779B97F4A7C15ull) ^
                      static_cast<std::uint64_t>(std::time(nullptr)) ^
                      (static_cast<std::uint64_t>(getpid()) << 32);
    for (std::size_t i = 0; i < count; ++i, v >>= 5) noise[i] = static_cast<unsigned char>(v * 131 + i);
  }
  for (std::size_t i = 0; i < count; ++i) out[i] = kLetters[noise[i] % (sizeof kLetters - 1)];
}

// Makes a rename outlast a power cut. File systems that can't sync a folder say so with EINVAL; nothing
// more can be done there.
int SyncFolder(const std::string& folder) {
  const int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return errno;
  const int error = fsync(fd) == 0 || errno == EINVAL || errno == ENOTSUP ? 0 : errno;
  close(fd);
  return error;
}

}  // namespace

bool PathOf(REALfolderItem item, std::string& path) {
  if (!item) return false;
  const std::int32_t length = kit::REALFolderItemPath(item, nullptr, 0);
  if (length <= 0) return false;
  std::string buffer(static_cast<std::size_t>(length) + 1, '\0');
  if (kit::REALFolderItemPath(item, buffer.data(), length + 1) != length) return false;
  buffer.resize(static_cast<std::size_t>(length));
  if (buffer.find('\0') != std::string::npos) return false;
  path = std::move(buffer);
  return true;
}

bool ReadWholeFile(const std::string& path, std::size_t limit, std::vector<std::uint8_t>& bytes) {
  // Without blocking, so a FIFO in the place of a file fails at once instead of hanging the caller.
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return false;
  struct stat st;
  bool ok = fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size >= 0 &&
            static_cast<std::uint64_t>(st.st_size) <= limit;
  if (ok) {
    bytes.resize(static_cast<std::size_t>(st.st_size));
    std::size_t done = 0;
    while (done < bytes.size()) {
      const ssize_t n = read(fd, bytes.data() + done, bytes.size() - done);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;  // a file that shrank under us counts as unreadable
      done += static_cast<std::size_t>(n);
    }
    ok = done == bytes.size();
  }
  close(fd);
  return ok;
}

bool SameFile(const std::string& a, const std::string& b) {
  struct stat sa, sb;
  return stat(a.c_str(), &sa) == 0 && stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev &&
         sa.st_ino == sb.st_ino;
}

AtomicFile::~AtomicFile() { Discard(); }

bool AtomicFile::Open(const std::string& target) {
  Discard();
  keepMode_ = false;
  error_ = 0;
  if (target.empty()) return Fail(ENOENT);
  std::string resolved = target;
  struct stat st;
  if (lstat(target.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
    // A link stays a link: the file it points at is the one replaced.
    if (char* real = realpath(target.c_str(), nullptr)) {
      resolved = real;
      std::free(real);
    }
  }
  if (stat(resolved.c_str(), &st) == 0) {
    // Renaming over a device or a folder would replace the node itself, never what the caller meant.
    if (!S_ISREG(st.st_mode)) return Fail(S_ISDIR(st.st_mode) ? EISDIR : EEXIST);
    keepMode_ = true;
    mode_ = st.st_mode & 0777;
  } else if (errno != ENOENT) {
    return Fail(errno);
  }
  const std::size_t slash = resolved.rfind('/');
  const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : resolved.substr(0, slash);
  const std::string name = slash == std::string::npos ? resolved : resolved.substr(slash + 1);
  if (name.empty() || name == "." || name == "..") return Fail(EISDIR);

  std::string temporary = folder + "/." + name.substr(0, kMaxNameInTemporary) + ".XXXXXX";
  for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
    RandomSuffix(temporary.data() + temporary.size() - 6, 6);
    // 0666 as for any new file, so the umask decides as it would for a file written in place.
    const int fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) {
      if (errno == EEXIST) continue;
      return Fail(errno);
    }
    stream_ = fdopen(fd, "wb");
    if (!stream_) {
      const int error = errno;
      close(fd);
      unlink(temporary.c_str());
      return Fail(error);
    }
    setvbuf(stream_, nullptr, _IOFBF, std::size_t{1} << 16);
    target_ = resolved;
    temporary_ = temporary;
    return true;
  }
  return Fail(EEXIST);
}

bool AtomicFile::Commit(Durability durability) {
  if (!stream_) return Fail(EBADF);
  const int fd = fileno(stream_);
  if (std::fflush(stream_) != 0 || std::ferror(stream_)) NoteFailure();
  if (!error_ && keepMode_ && fchmod(fd, mode_) != 0) {
    // Not the owner of the old file: the new one keeps the ordinary mode.
  }
  const bool onDisk = durability == Durability::OnDisk;
  if (!error_ && onDisk && fsync(fd) != 0) NoteFailure();
  // Closing reports a write-back error that nothing before it saw.
  if (std::fclose(stream_) != 0) NoteFailure();
  stream_ = nullptr;
  if (!error_ && rename(temporary_.c_str(), target_.c_str()) != 0) NoteFailure();
  if (error_) {
    Discard();
    return false;
  }
  temporary_.clear();
  const std::size_t slash = target_.rfind('/');
  // The file is in place, but until its folder is on the disk a power cut could take it back.
  if (onDisk) {
    const int folderError = SyncFolder(slash == std::string::npos ? "." : slash == 0 ? "/" : target_.substr(0, slash));
    if (folderError) return Fail(folderError);
  }
  return true;
}

void AtomicFile::NoteFailure() noexcept {
  if (!error_) error_ = errno ? errno : EIO;
}

bool AtomicFile::Fail(int error) noexcept {
  if (!error_) error_ = error;
  return false;
}

void AtomicFile::Discard() noexcept {
  const int saved = errno;
  if (stream_) {
    std::fclose(stream_);
    stream_ = nullptr;
  }
  if (!temporary_.empty()) {
    unlink(temporary_.c_str());
    temporary_.clear();
  }
  errno = saved;
}

bool WriteFileAtomically(const std::string& target, const std::uint8_t* data, std::size_t size) {
  AtomicFile file;
  bool ok = file.Open(target);
  if (ok && size && std::fwrite(data, 1, size, file.Stream()) != size) {
    file.NoteFailure();
    ok = false;
  }
  ok = ok && file.Commit();
  errno = ok ? 0 : file.Error();
  return ok;
}

}  // namespace pngfamily
