// Flushes that fail: see FailingFlushes.cpp.
#pragma once

#include <filesystem>

namespace testing_support {

// From now on, flushing the files in the folder, or its file system, fails with EIO; an empty path ends that.
void FailFlushesIn(const std::filesystem::path& folder);

}  // namespace testing_support
