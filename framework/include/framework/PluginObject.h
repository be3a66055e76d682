// Objects of plug-in classes: the header, then each plug-in class's own data in superclass order.
#pragma once

#include <cstdint>
#include <string>

#include "framework/ClassRegistry.h"
#include "framework/Object.h"

namespace fw {

class PluginObject final : public Object {
 public:
  // Makes an object of a registered plug-in class and runs the constructors, superclass first.
  // Raises UnsupportedOperationException when no plug-in registered the class.
  static Ref<PluginObject> New(const std::string& className);
  ~PluginObject() override;  // destructors, subclass first

  std::uint8_t* Data(const ClassRecord* record) noexcept {
    return reinterpret_cast<std::uint8_t*>(this) + record->dataOffset;
  }
  std::uint8_t* Data() noexcept { return Data(Class()); }

  // Stored properties, read and written without a plug-in call. Unknown names raise
  // UnsupportedOperationException, a value of the wrong kind IllegalCastException.
  enum class StoredKind { Boolean, Integer, Single, Double, Object };
  void SetStoredBoolean(const std::string& name, bool value);
  bool StoredBoolean(const std::string& name);
  void SetStoredObject(const std::string& name, const Ref<Object>& value);  // holds one reference
  Ref<Object> StoredObject(const std::string& name);

  static void operator delete(void* p) noexcept { ::operator delete(p); }

 private:
  struct Slot {
    std::uint8_t* address;
    StoredKind kind;
  };
  PluginObject() = default;
  Slot FindStored(const std::string& name);
};

PluginObject::StoredKind StoredKindOf(const REALproperty& property);

// How many objects of a plug-in class were made since start-up.
std::uint64_t PluginObjectsMade(const std::string& className);

inline REALobject ToREAL(Object* o) noexcept { return reinterpret_cast<REALobject>(o); }
inline Object* FromREAL(REALobject o) noexcept { return reinterpret_cast<Object*>(o); }

}  // namespace fw
