// A disk of its own for a test: a small tmpfs mounted on a fresh folder, which can fill up or be made
// read-only while the program writes to it. Mounting needs the right to mount (root, as in CI).
#pragma once

#include <cstddef>
#include <filesystem>
#include <string>

#include "TestSupport.h"

namespace testing_support {

class SmallDisk {
 public:
  explicit SmallDisk(std::size_t bytes);
  ~SmallDisk();
  SmallDisk(const SmallDisk&) = delete;
  SmallDisk& operator=(const SmallDisk&) = delete;

  // False, with the reason in Why(), when the disk could not be mounted.
  bool Mounted() const noexcept { return mounted_; }
  const std::string& Why() const noexcept { return why_; }
  const std::filesystem::path& path() const { return place_.path(); }
  std::filesystem::path operator/(const std::string& name) const { return place_ / name; }
  // Fills the disk until fewer than `bytes` are free.
  void FillLeaving(std::size_t bytes);
  bool MakeReadOnly();

 private:
  TempDir place_;
  bool mounted_ = false;
  std::string why_;
};

}  // namespace testing_support
