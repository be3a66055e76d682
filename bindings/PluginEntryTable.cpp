#include "bindings/PluginEntryTable.h"

#include <atomic>
#include <string>

#include "framework/PluginHost.h"

namespace bindings {
namespace {

std::atomic<void**> gTable{nullptr};

}  // namespace

void BindPluginEntryTable() { BindPluginEntryTable(&fw::RuntimeLookupPluginEntrypoint); }

void BindPluginEntryTable(const std::function<void*(const std::string& key)>& lookup) {
  void** table = fw::RuntimeAllocatePluginEntrypointsTable(static_cast<int>(kPluginEntryCount));
  for (std::size_t slot = 0; slot < kPluginEntryCount; ++slot) table[slot] = lookup(std::string(kPluginEntryKeys[slot]));
  gTable.store(table, std::memory_order_release);
}

std::vector<std::string_view> UnboundPluginEntries() {
  std::vector<std::string_view> keys;
  for (std::size_t slot = 0; slot < kPluginEntryCount; ++slot)
    if (!PluginEntryAddress(static_cast<PluginEntry>(slot))) keys.push_back(kPluginEntryKeys[slot]);
  return keys;
}

void* PluginEntryAddress(PluginEntry entry) noexcept {
  void** table = gTable.load(std::memory_order_acquire);
  return table ? table[static_cast<std::size_t>(entry)] : nullptr;
}

}  // namespace bindings
