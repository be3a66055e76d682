#include "framework/Bundle.h"

namespace fs = std::filesystem;

namespace fw {

fs::path ExecutableFile() {
  std::error_code ec;
  fs::path exe = fs::read_symlink("/proc/self/exe", ec);
  return ec ? fs::path() : exe;
}

fs::path BundleFolder() { return ExecutableFile().parent_path().parent_path(); }
fs::path PluginsFolder() { return BundleFolder() / "Plugins"; }
fs::path ResourcesFolder() { return BundleFolder() / "Resources"; }

}  // namespace fw
