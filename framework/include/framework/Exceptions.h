// The framework's exceptions. A failure the program doesn't handle reaches RuntimeUnhandledException.
#pragma once

#include <stdexcept>
#include <string>

namespace fw {

class RuntimeException : public std::runtime_error {
 public:
  explicit RuntimeException(const std::string& message) : std::runtime_error(message) {}
  virtual const char* ClassName() const noexcept { return "RuntimeException"; }
};

#define FW_EXCEPTION(Name)                                                       \
  class Name : public RuntimeException {                                         \
   public:                                                                       \
    explicit Name(const std::string& message = #Name) : RuntimeException(message) {} \
    const char* ClassName() const noexcept override { return #Name; }           \
  };

FW_EXCEPTION(NilObjectException)
FW_EXCEPTION(IllegalCastException)
FW_EXCEPTION(OutOfBoundsException)
FW_EXCEPTION(OutOfMemoryException)
// Raised by a call through a plug-in routine slot that nothing filled.
FW_EXCEPTION(UnsupportedOperationException)

#undef FW_EXCEPTION

// A nil receiver raises NilObjectException, as the framework does for every call on nil.
template <typename P>
const P& NonNil(const P& receiver, const char* what = "nil object") {
  if (!receiver) throw NilObjectException(what);
  return receiver;
}

}  // namespace fw
