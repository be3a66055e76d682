// The process entry. Until the desktop side arrives it loads the plug-ins and binds the program's table.
#include <cstdio>

#include "bindings/PluginEntryTable.h"
#include "framework/Bundle.h"
#include "framework/PluginHost.h"

int main() {
  fw::LoadPlugins(fw::PluginsFolder());
  fw::RuntimeInitExternalClasses();
  bindings::BindPluginEntryTable();
  int bound = 0;
  for (std::size_t slot = 0; slot < bindings::kPluginEntryCount; ++slot)
    bound += bindings::PluginEntryAddress(static_cast<bindings::PluginEntry>(slot)) != nullptr;
  std::printf("Speckmoor: %d of %zu plug-in routines bound. The document window arrives in a later version.\n",
              bound, bindings::kPluginEntryCount);
  return fw::PluginLoadFailures().empty() ? 0 : 1;
}
