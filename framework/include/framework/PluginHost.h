// The plug-in host: loads every plug-in of a folder, answers their routine names, and keeps what they
// register under its key string.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "kit/PluginABI.h"

namespace fw {

struct PluginLoadFailure {
  std::string file;
  std::string reason;
};

// Loads every "*.so" of the folder in name order. A file that fails is skipped, reported on standard
// error and remembered in PluginLoadFailures(). Plug-ins are never unloaded.
void LoadPlugins(const std::filesystem::path& folder);
bool LoadPlugin(const std::filesystem::path& file);
std::vector<PluginLoadFailure> PluginLoadFailures();

// The resolver handed to REALPluginMain: the address of a framework routine, or 0 for an unknown name.
extern "C" void* FrameworkResolve(const char* routineName);

// The version "REALGetRBVersion" reports.
inline constexpr double kFrameworkVersion = 6.0;
void SetReportedFrameworkVersion(double version);

// Every key registered so far, in registration order.
std::vector<std::string> PluginKeys();
// The routine registered under a key, or 0.
void* RuntimeLookupPluginEntrypoint(const std::string& key);
// A zeroed table of `count` routine words that lives as long as the process.
void** RuntimeAllocatePluginEntrypointsTable(int count);
// Places every plug-in class's data and enters the classes into the class registry, superclasses
// first; classes entered before are left as they are.
void RegisterPluginClassRecords();
// Initialises the plug-in classes: every class is placed and registered once this returns.
void RuntimeInitExternalClasses();

// What "RegisterPluginVersion" was told by the plug-in loaded from `file` (0 when nothing).
int PluginVersionOf(const std::filesystem::path& file);

}  // namespace fw
