// What the stand-ins for C library calls share, linked into a test or preloaded into the real program.
#pragma once

#include <dlfcn.h>
#include <unistd.h>

#include <string>

namespace interpose {

// The C library's own routine of that name.
template <typename F>
F Real(const char* name) {
  return reinterpret_cast<F>(dlsym(RTLD_NEXT, name));
}

// Where a descriptor stands against a folder: the folder itself, a file in it, or elsewhere.
enum class Place { Elsewhere, TheFolder, InTheFolder };

inline Place PlaceOf(int fd, const std::string& folder) {
  char path[4096];
  const std::string link = "/proc/self/fd/" + std::to_string(fd);
  const ssize_t length = readlink(link.c_str(), path, sizeof path);
  if (length <= 0) return Place::Elsewhere;
  const std::string file(path, static_cast<std::size_t>(length));
  if (file == folder) return Place::TheFolder;
  return file.rfind(folder + "/", 0) == 0 ? Place::InTheFolder : Place::Elsewhere;
}

}  // namespace interpose
