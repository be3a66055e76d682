// Why something could not be written, in words a user can act on, from the error number of the call
// that failed.
#pragma once

#include <string>

namespace fw {

// As the end of a sentence: "the disk is full". 0 (no call failed) gives "the file could not be written".
std::string WriteFailureCause(int error);
// As a sentence of its own: "The disk is full."
std::string WriteFailureReason(int error);

}  // namespace fw
