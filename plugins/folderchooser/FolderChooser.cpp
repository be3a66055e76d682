// The folder-chooser plug-in: one method, SelectFolderQZB, that asks the user for a folder.
#include "Chooser.h"
#include "kit/Kit.h"

extern "C" {
REALResolver gResolver = nullptr;
}

namespace {

REALfolderItem SelectFolderEntry() { return folderchooser::ShowChooseFolderDialog(); }

REALmethodDefinition gSelectFolder = {
    reinterpret_cast<REALproc>(&SelectFolderEntry), nullptr, "SelectFolderQZB as folderitem", 0, 0,
};

}  // namespace

void REALPluginMain(REALResolver resolver) {
  gResolver = resolver;
  kit::REALRegisterPluginVersion(9);
  kit::REALRegisterMethod(&gSelectFolder);
}
