// Flushes that fail: see FailingFlushes.cpp.
#pragma once

#include <filesystem>

namespace testing_support {

enum class Flushes {
  OfItsFiles,  // the files in the folder and its file system: their data never reaches the disk
  OfItself,    // only the folder's own entries: its files are whole, but not their names
};

// From now on, those flushes of the folder fail with EIO; an empty path ends that.
void FailFlushesIn(const std::filesystem::path& folder, Flushes which = Flushes::OfItsFiles);

}  // namespace testing_support
