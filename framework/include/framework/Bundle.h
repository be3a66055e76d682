// Where the application folder lies: bin/ holds the executable, beside it Plugins/ and Resources/.
#pragma once

#include <filesystem>

namespace fw {

std::filesystem::path ExecutableFile();
std::filesystem::path BundleFolder();  // the parent of the folder holding the executable
std::filesystem::path PluginsFolder();
std::filesystem::path ResourcesFolder();

}  // namespace fw
