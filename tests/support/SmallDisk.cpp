#include "SmallDisk.h"

#include <sys/mount.h>
#include <sys/statvfs.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <vector>

namespace testing_support {

SmallDisk::SmallDisk(std::size_t bytes) {
  const std::string options = "size=" + std::to_string(bytes) + ",mode=0755";
  mounted_ = mount("tmpfs", place_.path().c_str(), "tmpfs", MS_NOSUID | MS_NODEV, options.c_str()) == 0;
  if (!mounted_) why_ = std::string("a small disk could not be mounted: ") + std::strerror(errno);
}

SmallDisk::~SmallDisk() {
  if (mounted_) umount2(place_.path().c_str(), MNT_DETACH);
}

void SmallDisk::FillLeaving(std::size_t bytes) {
  std::ofstream filler(place_ / "filler", std::ios::binary);
  const std::vector<char> block(4096, 'x');
  for (;;) {
    struct statvfs fs {};
    if (statvfs(place_.path().c_str(), &fs) != 0) return;
    const std::size_t free = static_cast<std::size_t>(fs.f_bavail) * fs.f_frsize;
    if (free < bytes) return;
    filler.write(block.data(), static_cast<std::streamsize>(std::min(block.size(), free - bytes + 1)));
    filler.flush();
    if (!filler) return;
  }
}

bool SmallDisk::MakeReadOnly() {
  return mounted_ && mount(nullptr, place_.path().c_str(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr) == 0;
}

}  // namespace testing_support
