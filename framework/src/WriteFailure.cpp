#include "framework/WriteFailure.h"

#include <cctype>
#include <cerrno>
#include <cstring>

namespace fw {

std::string WriteFailureCause(int error) {
  switch (error) {
    case 0: return "the file could not be written";
    case EACCES:
    case EPERM:
    case EROFS: return "the folder does not allow writing";
    case ENOSPC:
    case EDQUOT: return "the disk is full";
    case ENOENT:
    case ENOTDIR: return "the folder is no longer there";
    case EISDIR: return "a folder of that name is in the way";
    case EEXIST: return "something of that name is in the way";
    case ENAMETOOLONG: return "the name is too long";
    case EIO: return "the disk reported an error";
    default: {
      std::string text = std::strerror(error);
      if (!text.empty()) text[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(text[0])));
      return text;
    }
  }
}

std::string WriteFailureReason(int error) {
  std::string text = WriteFailureCause(error);
  text[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(text[0])));
  return text + ".";
}

}  // namespace fw
