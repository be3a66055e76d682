// A named file type with Mac type and creator codes, registered with the run-time when converted to text.
#pragma once

#include <string>
#include <vector>

#include "framework/Object.h"

namespace fw {

class FileType final : public Object {
 public:
  ~FileType() override;

  const std::string& Name() const noexcept { return name_; }
  const std::string& Extensions() const noexcept { return extensions_; }
  const std::string& MacType() const noexcept { return macType_; }
  const std::string& MacCreator() const noexcept { return macCreator_; }

  // Setting a field of a registered type withdraws its registration.
  void SetName(std::string v);
  void SetExtensions(std::string v);
  void SetMacType(std::string v);
  void SetMacCreator(std::string v);

  // The type as text: registers it (RuntimeRegisterFileType) and gives its name.
  std::string ToText();
  bool Registered() const noexcept { return registered_; }

 private:
  void Withdraw();
  std::string name_, extensions_, macType_, macCreator_;
  bool registered_ = false;
};

struct RegisteredFileType {
  std::string name, creator, type, extensions;
};

void RuntimeRegisterFileType(const std::string& name, const std::string& creator, const std::string& type,
                             const std::string& extensions);
void RuntimeUnregisterFileType(const std::string& name);
std::vector<RegisteredFileType> RegisteredFileTypes();
// True when a file of this name passes the filter of the registered type named `typeName`:
// "special/any" passes every file; other types match by their extensions (separated by ";").
bool FileTypeAccepts(const std::string& typeName, const std::string& fileName);

}  // namespace fw
