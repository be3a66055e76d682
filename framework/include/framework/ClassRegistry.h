// The run-time's class records: name, superclass and operations in slot order, kept in registration order.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "kit/PluginABI.h"

namespace fw {

struct ClassRecord {
  std::string name;
  const ClassRecord* super = nullptr;
  std::vector<std::string> operations;  // slot order

  // Plug-in classes only: the record the plug-in registered, and where its own data lies in an instance.
  const REALclassDefinition* plugin = nullptr;
  std::size_t dataOffset = 0;
  std::size_t instanceSize = 0;  // header plus the data of this class and its plug-in superclasses
};

// Registers a class; a name registered before keeps its first record. The record lives as long as the
// process.
const ClassRecord* RegisterClass(ClassRecord record);
const ClassRecord* FindClass(const std::string& name);
std::vector<const ClassRecord*> RegisteredClasses();

// True when `record` is `ancestor` or inherits from it.
bool IsA(const ClassRecord* record, const ClassRecord* ancestor);

}  // namespace fw
