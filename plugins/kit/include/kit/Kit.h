// The plug-in kit: framework routines found by name through the resolver on first use and cached.
// A name the resolver doesn't know calls nothing, returns 0 and is asked again on the next call.
#pragma once

#include "kit/PluginABI.h"

extern "C" {
// Each plug-in defines its resolver (REALPluginMain stores it here before anything else).
extern REALResolver gResolver;
}

namespace kit {

void REALRegisterPluginVersion(int32_t version);
double REALGetRBVersion();
void REALRegisterClass(REALclassDefinition* definition);
void REALRegisterMethod(REALmethodDefinition* definition);
REALpicture REALNewPicture(int32_t width, int32_t height, int32_t depth);
int32_t REALLockPictureDescription(REALpicture picture, REALpictureDescription* description);
void REALUnlockPictureDescription(REALpicture picture);
void REALLockObject(REALobject object);
void REALUnlockObject(REALobject object);
REALfolderItem REALFolderItemFromPath(const char* path);
int32_t REALFolderItemPath(REALfolderItem item, char* buffer, int32_t size);
void* REALGraphicsPainter(REALgraphics graphics);
int32_t REALObjectDataSize(REALobject object);

// The class's own data inside an object: the object's address plus the offset the framework placed.
inline void* REALGetClassData(REALobject object, const REALclassDefinition* definition) {
  return reinterpret_cast<char*>(object) + definition->forSystemUse;
}

}  // namespace kit
