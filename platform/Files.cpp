#include "platform/Files.h"

#include <sys/stat.h>

#include <cstring>
#include <filesystem>
#include <optional>

#include "SharedState.h"

namespace platform_detail {
namespace {

constexpr std::uint32_t kRefMagic = 0x534b4652;  // bytes 0-3 of a valid FSRef; an all-zero one is invalid

struct RefFields {
  std::uint32_t magic;
  std::uint32_t zero;
  std::uint64_t id;
};
static_assert(sizeof(RefFields) <= sizeof(FSRef));

std::uint64_t Intern(const std::string& path) {
  if (path == "/") return kFSRootFolderID;
  SharedState& s = Shared();
  std::lock_guard lock(s.mutex);
  if (auto it = s.ids.find(path); it != s.ids.end()) return it->second;
  const std::uint64_t id = kFirstTableId + s.paths.size();
  if (id > kLastTableId) return 0;
  s.paths.push_back(path);
  s.ids.emplace(path, id);
  return id;
}

std::optional<std::string> PathOf(std::uint64_t id) {
  if (id == kFSRootFolderID) return std::string("/");
  if (id < kFirstTableId) return std::nullopt;
  SharedState& s = Shared();
  std::lock_guard lock(s.mutex);
  const std::uint64_t index = id - kFirstTableId;
  if (index >= s.paths.size()) return std::nullopt;
  return s.paths[index];
}

void MakeRef(std::uint64_t id, FSRef* ref) {
  std::memset(ref, 0, sizeof *ref);
  const RefFields fields{kRefMagic, 0, id};
  std::memcpy(ref->hidden, &fields, sizeof fields);
}

std::optional<std::uint64_t> IdOf(const FSRef* ref) {
  if (!ref) return std::nullopt;
  RefFields fields;
  std::memcpy(&fields, ref->hidden, sizeof fields);
  if (fields.magic != kRefMagic || fields.zero != 0 || !PathOf(fields.id)) return std::nullopt;
  return fields.id;
}

// Absolute, without "." or "..", without a trailing separator; empty when it can't be made so.
std::string Normal(const char* path) {
  std::error_code ec;
  std::filesystem::path p = std::filesystem::absolute(std::filesystem::path(path), ec);
  if (ec) return {};
  std::string s = p.lexically_normal().string();
  while (s.size() > 1 && s.back() == '/') s.pop_back();
  return s;
}

bool Exists(const std::string& path) {
  struct stat st;
  return ::lstat(path.c_str(), &st) == 0;
}

std::string LeafOf(const std::string& path) {
  if (path == "/") return path;
  return path.substr(path.rfind('/') + 1);
}

std::string ParentOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == 0 ? std::string("/") : path.substr(0, slash);
}

bool ValidLeaf(const std::string& name) {
  return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos &&
         name.find('\0') == std::string::npos;
}

}  // namespace
}  // namespace platform_detail

using namespace platform_detail;

extern "C" OSErr FSGetCatalogInfo(const FSRef* ref, std::uint32_t whichInfo, FSCatalogInfo* catalogInfo,
                                  HFSUniStr255* outName, FSSpec* fsSpec, FSRef* parentRef) {
  if (whichInfo != kFSCatInfoNone && !catalogInfo) return paramErr;
  const std::optional<std::uint64_t> id = IdOf(ref);
  if (!id) return errFSBadFSRef;
  const std::string path = *PathOf(*id);
  if (!Exists(path)) return fnfErr;
  const bool root = *id == kFSRootFolderID;

  // Everything is worked out before anything is written, so a failure leaves the outputs alone.
  std::uint64_t parentId = kFSRootParentID;
  if (!root && (parentRef || fsSpec || (whichInfo & kFSCatInfoParentDirID))) {
    parentId = Intern(ParentOf(path));
    if (!parentId) return memFullErr;
  }
  HFSUniStr255 name;
  if (outName) {
    if (OSErr err = PlatformHFSUniStrFromName(LeafOf(path), &name); err != noErr) return err;
  }
  FSSpec fss;
  if (fsSpec) {
    const std::string leaf = LeafOf(path);
    if (leaf.size() > 63) return bdNamErr;
    std::memset(&fss, 0, sizeof fss);
    fss.vRefNum = kPlatformVolumeRefNum;
    fss.parID = static_cast<std::int32_t>(parentId);
    fss.name[0] = static_cast<unsigned char>(leaf.size());
    std::memcpy(fss.name + 1, leaf.data(), leaf.size());
  }
  bool directory = false;
  if (whichInfo & kFSCatInfoNodeFlags) {
    std::error_code ec;
    directory = std::filesystem::is_directory(path, ec);
  }

  if (catalogInfo) {
    if (whichInfo & kFSCatInfoNodeID) catalogInfo->nodeID = static_cast<std::uint32_t>(*id);
    if (whichInfo & kFSCatInfoParentDirID) catalogInfo->parentDirID = static_cast<std::uint32_t>(parentId);
    if (whichInfo & kFSCatInfoNodeFlags) catalogInfo->nodeFlags = directory ? kFSNodeIsDirectoryMask : 0;
  }
  if (outName) *outName = name;
  if (fsSpec) std::memcpy(fsSpec, &fss, sizeof fss);
  if (parentRef) {
    if (root) {
      std::memset(parentRef, 0, sizeof *parentRef);
    } else {
      MakeRef(parentId, parentRef);
    }
  }
  return noErr;
}

OSErr PlatformFSRefFromPath(const char* path, FSRef* ref) {
  if (!path || !*path || !ref) return paramErr;
  const std::string normal = Normal(path);
  if (normal.empty()) return paramErr;
  if (!Exists(normal)) return fnfErr;
  const std::uint64_t id = Intern(normal);
  if (!id) return memFullErr;
  MakeRef(id, ref);
  return noErr;
}

OSErr PlatformPathFromFSRef(const FSRef* ref, std::string* path) {
  if (!path) return paramErr;
  const std::optional<std::uint64_t> id = IdOf(ref);
  if (!id) return errFSBadFSRef;
  *path = *PathOf(*id);
  return noErr;
}

OSErr PlatformPathFromFSSpec(const FSSpec* fss, std::string* path) {
  if (!fss || !path) return paramErr;
  FSSpec copy;
  std::memcpy(&copy, fss, sizeof copy);
  const std::size_t length = copy.name[0];
  if (length > 63) return bdNamErr;
  const std::string name(reinterpret_cast<const char*>(copy.name + 1), length);
  if (copy.parID == static_cast<std::int32_t>(kFSRootParentID)) {
    if (name != "/") return fnfErr;
    path->assign(1, '/');
    return noErr;
  }
  if (!ValidLeaf(name)) return bdNamErr;
  if (copy.parID <= 0) return fnfErr;
  const std::optional<std::string> folder = PathOf(static_cast<std::uint64_t>(copy.parID));
  if (!folder) return fnfErr;
  *path = *folder;
  if (*folder != "/") path->push_back('/');
  path->append(name);
  return noErr;
}

OSErr PlatformNameFromHFSUniStr(const HFSUniStr255* name, std::string* utf8) {
  if (!name || !utf8) return paramErr;
  if (name->length > 255) return errFSNameTooLong;
  std::string out;
  for (std::size_t i = 0; i < name->length; ++i) {
    std::uint32_t c = name->unicode[i];
    if (c >= 0xd800 && c <= 0xdbff) {
      if (i + 1 >= name->length) return bdNamErr;
      const std::uint32_t low = name->unicode[i + 1];
      if (low < 0xdc00 || low > 0xdfff) return bdNamErr;
      c = 0x10000 + ((c - 0xd800) << 10) + (low - 0xdc00);
      ++i;
    } else if (c >= 0xdc00 && c <= 0xdfff) {
      return bdNamErr;
    }
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += static_cast<char>(0xc0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3f));
    } else if (c < 0x10000) {
      out += static_cast<char>(0xe0 | (c >> 12));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3f));
      out += static_cast<char>(0x80 | (c & 0x3f));
    } else {
      out += static_cast<char>(0xf0 | (c >> 18));
      out += static_cast<char>(0x80 | ((c >> 12) & 0x3f));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3f));
      out += static_cast<char>(0x80 | (c & 0x3f));
    }
  }
  *utf8 = std::move(out);
  return noErr;
}

OSErr PlatformHFSUniStrFromName(const std::string& utf8, HFSUniStr255* name) {
  if (!name) return paramErr;
  HFSUniStr255 out{};
  std::size_t units = 0;
  auto put = [&](std::uint32_t unit) {
    if (units >= 255) return false;
    out.unicode[units++] = static_cast<std::uint16_t>(unit);
    return true;
  };
  const auto* s = reinterpret_cast<const unsigned char*>(utf8.data());
  const std::size_t n = utf8.size();
  for (std::size_t i = 0; i < n;) {
    const unsigned char b = s[i];
    std::uint32_t c;
    std::size_t extra;
    std::uint32_t least;
    if (b < 0x80) {
      c = b, extra = 0, least = 0;
    } else if ((b & 0xe0) == 0xc0) {
      c = b & 0x1f, extra = 1, least = 0x80;
    } else if ((b & 0xf0) == 0xe0) {
      c = b & 0x0f, extra = 2, least = 0x800;
    } else if ((b & 0xf8) == 0xf0) {
      c = b & 0x07, extra = 3, least = 0x10000;
    } else {
      return bdNamErr;
    }
    for (std::size_t k = 1; k <= extra; ++k) {
      if (i + k >= n || (s[i + k] & 0xc0) != 0x80) return bdNamErr;
      c = (c << 6) | (s[i + k] & 0x3f);
    }
    if (c < least || c > 0x10ffff || (c >= 0xd800 && c <= 0xdfff)) return bdNamErr;  // overlong, out of range
    i += extra + 1;
    const bool fits = c < 0x10000 ? put(c) : put(0xd800 + ((c - 0x10000) >> 10)) && put(0xdc00 + ((c - 0x10000) & 0x3ff));
    if (!fits) return errFSNameTooLong;
  }
  out.length = static_cast<std::uint16_t>(units);
  *name = out;
  return noErr;
}
