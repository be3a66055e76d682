// Why something could not be written, as a sentence a user can act on.
#pragma once

#include <string>

#include "framework/FolderItem.h"

namespace fw {

// From the error number a failed write or make of a folder gave.
std::string WriteFailureReason(int error);
// When the writer does not say why: looks at the target and tries what it tried, making a file in the
// target's folder.
std::string WriteFailureReason(const FolderItem& target);

}  // namespace fw
