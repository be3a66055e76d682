// A plug-in that registers one class only when the framework is 5.5 or later, like the filter plug-in.
#include "kit/Kit.h"

extern "C" {
SPECKMOOR_PLUGIN_EXPORT REALResolver gResolver = nullptr;
}

namespace {

REALpicture Probe(REALobject, REALpicture source) { return source; }

REALmethodDefinition gMethods[] = {
    {reinterpret_cast<REALproc>(&Probe), nullptr, "Probe(source as Picture) as Picture", 0, 0},
};

REALclassDefinition gClass = {
    .version = kREALClassDefinitionVersion,
    .name = "GateProbe",
    .superName = nullptr,
    .dataSize = 4,
    .methods = gMethods,
    .methodCount = 1,
};

}  // namespace

extern "C" {

SPECKMOOR_PLUGIN_EXPORT void REALPluginMain(REALResolver resolver) {
  gResolver = resolver;
  kit::REALRegisterPluginVersion(6);
  if (kit::REALGetRBVersion() < 5.5) return;
  kit::REALRegisterClass(&gClass);
}

// For the tests: the record the host places, and a second ask for the version through the kit.
SPECKMOOR_PLUGIN_EXPORT const REALclassDefinition* GateProbeClass() { return &gClass; }
SPECKMOOR_PLUGIN_EXPORT double GateProbeAskVersion() { return kit::REALGetRBVersion(); }
}
