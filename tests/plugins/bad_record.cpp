// Registers a sound method, then a class record of an unknown version: the whole plug-in must be refused.
#include "kit/Kit.h"

extern "C" {
REALResolver gResolver = nullptr;
}

namespace {

int32_t Answer() { return 42; }

REALmethodDefinition gMethod = {reinterpret_cast<REALproc>(&Answer), nullptr, "BadRecordAnswer as Integer", 0, 0};

REALclassDefinition gClass = {.version = 5, .name = "BadRecord", .superName = nullptr, .dataSize = 4};

}  // namespace

extern "C" SPECKMOOR_PLUGIN_EXPORT void REALPluginMain(REALResolver resolver) {
  gResolver = resolver;
  kit::REALRegisterMethod(&gMethod);
  kit::REALRegisterClass(&gClass);
}
