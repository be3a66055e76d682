// Objects of plug-in classes: the header, then each plug-in class's own data in superclass order.
#pragma once

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

  void* Data(const ClassRecord* record) noexcept { return reinterpret_cast<char*>(this) + record->dataOffset; }
  void* Data() noexcept { return Data(Class()); }

  static void operator delete(void* p) noexcept { ::operator delete(p); }

 private:
  PluginObject() = default;
};

inline REALobject ToREAL(Object* o) noexcept { return reinterpret_cast<REALobject>(o); }
inline Object* FromREAL(REALobject o) noexcept { return reinterpret_cast<Object*>(o); }

}  // namespace fw
