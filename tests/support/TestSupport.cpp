#include "TestSupport.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <zlib.h>

#include <fstream>
#include <mutex>
#include <sstream>

#include "framework/PluginHost.h"

namespace testing_support {

TempDir::TempDir() {
  std::string templ = (std::filesystem::temp_directory_path() / "speckmoor-test-XXXXXX").string();
  if (!mkdtemp(templ.data())) throw std::runtime_error("mkdtemp failed");
  path_ = templ;
}

TempDir::~TempDir() {
  std::error_code ec;
  // Undo permission changes a test made so everything can be removed.
  for (auto it = std::filesystem::recursive_directory_iterator(path_, ec);
       !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
    if (it->is_directory(ec) && !it->is_symlink(ec))
      std::filesystem::permissions(it->path(), std::filesystem::perms::owner_all,
                                   std::filesystem::perm_options::add, ec);
  }
  std::filesystem::permissions(path_, std::filesystem::perms::owner_all, std::filesystem::perm_options::add, ec);
  std::filesystem::remove_all(path_, ec);
}

void WriteFile(const std::filesystem::path& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + path.string());
}

std::string ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

fw::Ref<fw::Picture> MakePicture(std::int32_t width, std::int32_t height,
                                 const std::function<fw::Color(int, int)>& colour, std::int32_t depth) {
  fw::Ref<fw::Picture> picture = fw::NewPicture(width, height, depth);
  if (!picture) return picture;
  fw::Ref<fw::RGBSurface> surface = picture->RGBSurface();
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) surface->SetPixel(x, y, colour(x, y));
  return picture;
}

void LoadBundlePlugins() {
  static std::once_flag once;
  std::call_once(once, [] {
    fw::LoadPlugins(SPECKMOOR_PLUGIN_DIR);
    fw::RuntimeInitExternalClasses();
  });
}

std::string PngChunk(const std::string& type, const std::string& data) {
  auto be32 = [](std::uint32_t v) {
    return std::string{static_cast<char>(v >> 24), static_cast<char>(v >> 16), static_cast<char>(v >> 8),
                       static_cast<char>(v)};
  };
  const std::string body = type + data;
  const auto crc = static_cast<std::uint32_t>(
      crc32(0, reinterpret_cast<const Bytef*>(body.data()), static_cast<uInt>(body.size())));
  return be32(static_cast<std::uint32_t>(data.size())) + body + be32(crc);
}

}  // namespace testing_support
