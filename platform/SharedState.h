// The state all copies of the layer share: the path table, the dialog's start folder and the counts of
// what is still to be disposed of.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

namespace platform_detail {

// Ids below this are the fixed ones (1 the root's parent, 2 the root); parID is 32 bits, so the table
// stops short of them.
inline constexpr std::uint64_t kFirstTableId = 16;
inline constexpr std::uint64_t kLastTableId = 0x7fff0000;

struct SharedState {
  std::uint32_t magic;
  std::uint32_t size;  // sizeof(SharedState) in the copy that made it

  std::mutex mutex;  // guards what follows up to the counts
  std::vector<std::string> paths;  // id - kFirstTableId
  std::unordered_map<std::string, std::uint64_t> ids;
  std::string chooseFolderStart;

  std::atomic<long> liveDescriptors{0};
  std::atomic<long> liveDialogs{0};
  std::atomic<long> liveReplies{0};
};

SharedState& Shared();

}  // namespace platform_detail
