#include "framework/FileType.h"

#include <algorithm>
#include <cctype>
#include <mutex>

namespace fw {
namespace {

struct TypeMap {
  std::mutex mutex;
  std::vector<RegisteredFileType> types;
};

// Never destroyed: file types released while the process ends still withdraw themselves here.
TypeMap& Types() {
  static TypeMap* map = new TypeMap;
  return *map;
}

std::string Lower(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return s;
}

}  // namespace

FileType::~FileType() { Withdraw(); }

void FileType::Withdraw() {
  if (!registered_) return;
  RuntimeUnregisterFileType(name_);
  registered_ = false;
}

void FileType::SetName(std::string v) {
  Withdraw();
  name_ = std::move(v);
}
void FileType::SetExtensions(std::string v) {
  Withdraw();
  extensions_ = std::move(v);
}
void FileType::SetMacType(std::string v) {
  Withdraw();
  macType_ = std::move(v);
}
void FileType::SetMacCreator(std::string v) {
  Withdraw();
  macCreator_ = std::move(v);
}

std::string FileType::ToText() {
  if (!registered_) {
    RuntimeRegisterFileType(name_, macCreator_, macType_, extensions_);
    registered_ = true;
  }
  return name_;
}

void RuntimeRegisterFileType(const std::string& name, const std::string& creator, const std::string& type,
                             const std::string& extensions) {
  TypeMap& m = Types();
  std::lock_guard lock(m.mutex);
  std::erase_if(m.types, [&](const RegisteredFileType& t) { return t.name == name; });
  m.types.push_back({name, creator, type, extensions});
}

void RuntimeUnregisterFileType(const std::string& name) {
  TypeMap& m = Types();
  std::lock_guard lock(m.mutex);
  std::erase_if(m.types, [&](const RegisteredFileType& t) { return t.name == name; });
}

std::vector<RegisteredFileType> RegisteredFileTypes() {
  TypeMap& m = Types();
  std::lock_guard lock(m.mutex);
  return m.types;
}

bool FileTypeAccepts(const std::string& typeName, const std::string& fileName) {
  TypeMap& m = Types();
  std::lock_guard lock(m.mutex);
  for (const RegisteredFileType& t : m.types) {
    if (t.name != typeName) continue;
    if (t.type == "????" && t.creator == "????") return true;
    const std::string lowerName = Lower(fileName);
    std::size_t start = 0;
    while (start <= t.extensions.size()) {
      std::size_t end = t.extensions.find(';', start);
      if (end == std::string::npos) end = t.extensions.size();
      std::string ext = Lower(t.extensions.substr(start, end - start));
      if (!ext.empty() && ext.front() != '.') ext.insert(ext.begin(), '.');
      if (!ext.empty() && lowerName.size() > ext.size() && lowerName.ends_with(ext)) return true;
      start = end + 1;
    }
    return false;
  }
  return false;
}

}  // namespace fw
