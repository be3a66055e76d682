// Helpers shared by the tests: private temporary folders, files, fixture pictures, the bundle's plug-ins.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>

#include "framework/Picture.h"

namespace testing_support {

// A fresh folder, removed with everything in it when the object goes.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::filesystem::path& path() const { return path_; }
  std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

 private:
  std::filesystem::path path_;
};

void WriteFile(const std::filesystem::path& path, const std::string& bytes);
std::string ReadFile(const std::filesystem::path& path);

// A 32-bit picture whose pixel (x, y) is colour(x, y).
fw::Ref<fw::Picture> MakePicture(std::int32_t width, std::int32_t height,
                                 const std::function<fw::Color(int, int)>& colour, std::int32_t depth = 32);

// Loads the bundle's plug-ins once and places their classes.
void LoadBundlePlugins();

// A PNG chunk with its length and checksum.
std::string PngChunk(const std::string& type, const std::string& data);

}  // namespace testing_support
