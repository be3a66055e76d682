#include "bindings/PluginEntryTable.h"

#include <atomic>
#include <string>

#include "framework/PluginHost.h"

namespace bindings {
namespace {

std::atomic<void**> gTable{nullptr};

}  // namespace

void BindPluginEntryTable() {
  void** table = fw::RuntimeAllocatePluginEntrypointsTable(static_cast<int>(kPluginEntryCount));
  for (std::size_t slot = 0; slot < kPluginEntryCount; ++slot)
    table[slot] = fw::RuntimeLookupPluginEntrypoint(std::string(kPluginEntryKeys[slot]));
  gTable.store(table, std::memory_order_release);
}

void* PluginEntryAddress(PluginEntry entry) noexcept {
  void** table = gTable.load(std::memory_order_acquire);
  return table ? table[static_cast<std::size_t>(entry)] : nullptr;
}

}  // namespace bindings
