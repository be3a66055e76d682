// The PNG plug-in family: Folderitem.SaveAsPNGQZB, the PNGOptimizerQZB class,
// folderitem.DrawWideIconQZB and application.BundleFolderQZB.
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <string>

#include "Files.h"
#include "Icons.h"
#include "Optimizer.h"
#include "PictureWriter.h"
#include "kit/Kit.h"

extern "C" {
REALResolver gResolver = nullptr;
}

namespace pngfamily {
namespace {

template <typename F>
REALproc Proc(F* function) {
  return reinterpret_cast<REALproc>(function);
}

// PNGOptimizerQZB's own data. The framework reads and writes the stored properties in place and holds
// the references of the two folder items; the plug-in only reads them.
#pragma pack(push, 1)
struct OptimizerData {
  REALfolderItem inputFile;
  REALfolderItem outputFile;
  std::uint8_t noColorTypeReduction;
  std::uint8_t noBitDepthReduction;
  std::uint8_t noPaletteReduction;
  std::uint8_t force;
};
#pragma pack(pop)
static_assert(offsetof(OptimizerData, inputFile) == 0);
static_assert(offsetof(OptimizerData, outputFile) == sizeof(void*));
static_assert(offsetof(OptimizerData, noColorTypeReduction) == 2 * sizeof(void*));
static_assert(offsetof(OptimizerData, force) == 2 * sizeof(void*) + 3);
static_assert(sizeof(OptimizerData) == 2 * sizeof(void*) + 4, "packed: the framework sees no padding");

void ConstructOptimizer(REALobject self);
void DestructOptimizer(REALobject self);
bool Optimize(REALobject self);
REALfolderItem BundleFolder(REALobject app);

REALproperty gOptimizerProperties[] = {
    {"NoColorTypeReduction as Boolean", nullptr, nullptr, kREALPropertyStored,
     offsetof(OptimizerData, noColorTypeReduction)},
    {"NoBitDepthReduction as Boolean", nullptr, nullptr, kREALPropertyStored,
     offsetof(OptimizerData, noBitDepthReduction)},
    {"NoPaletteReduction as Boolean", nullptr, nullptr, kREALPropertyStored,
     offsetof(OptimizerData, noPaletteReduction)},
    {"Force as Boolean", nullptr, nullptr, kREALPropertyStored, offsetof(OptimizerData, force)},
    {"InputFile as FolderItem", nullptr, nullptr, kREALPropertyStored, offsetof(OptimizerData, inputFile)},
    {"OutputFile as FolderItem", nullptr, nullptr, kREALPropertyStored, offsetof(OptimizerData, outputFile)},
};

REALmethodDefinition gOptimizerMethods[] = {
    {Proc(&Optimize), nullptr, "Optimize as boolean", 0, 0},
};

// The host writes where the data lies into forSystemUse, so the record stays writable.
REALclassDefinition gOptimizerClass = {
    .version = kREALClassDefinitionVersion,
    .name = "PNGOptimizerQZB",
    .superName = nullptr,
    .dataSize = static_cast<int32_t>(sizeof(OptimizerData)),
    .constructor = Proc(&ConstructOptimizer),
    .destructor = Proc(&DestructOptimizer),
    .properties = gOptimizerProperties,
    .propertyCount = static_cast<int32_t>(sizeof gOptimizerProperties / sizeof gOptimizerProperties[0]),
    .methods = gOptimizerMethods,
    .methodCount = static_cast<int32_t>(sizeof gOptimizerMethods / sizeof gOptimizerMethods[0]),
};

REALmethodDefinition gFolderItemMethods[] = {
    {Proc(&SaveAsPNG), nullptr, "SaveAsPNGQZB(pic as picture, gamma as single) as boolean", 0, 0},
};

REALclassDefinition gFolderItemExtension = {
    .version = kREALClassDefinitionVersion,
    .name = "Folderitem",
    .methods = gFolderItemMethods,
    .methodCount = 1,
    .flags = kREALClassExtendsType,
};

REALmethodDefinition gApplicationMethods[] = {
    {Proc(&BundleFolder), nullptr, "BundleFolderQZB as folderitem", 0, 0},
};

REALclassDefinition gApplicationExtension = {
    .version = kREALClassDefinitionVersion,
    .name = "application",
    .methods = gApplicationMethods,
    .methodCount = 1,
    .flags = kREALClassExtendsType,
};

REALmethodDefinition gIconMethods[] = {
    {Proc(&DrawWideIcon), nullptr,
     "DrawWideIconQZB(g as Graphics,x as integer,y as integer,width as integer, WindowsIconIndex as integer)", 0, 0},
};

REALclassDefinition gIconExtension = {
    .version = kREALClassDefinitionVersion,
    .name = "folderitem",
    .methods = gIconMethods,
    .methodCount = 1,
    .flags = kREALClassExtendsType,
};

OptimizerData* DataOf(REALobject self) {
  return static_cast<OptimizerData*>(kit::REALGetClassData(self, &gOptimizerClass));
}

void ConstructOptimizer(REALobject self) {
  // Every reduction is on by default; the framework has zeroed the data already.
  OptimizerData* data = DataOf(self);
  data->noColorTypeReduction = 0;
  data->noBitDepthReduction = 0;
  data->noPaletteReduction = 0;
  data->force = 0;
}

void DestructOptimizer(REALobject) {
  // The framework releases the folder items it stored; nothing else is held.
}

// False with errno telling why (see OptimizeFile).
bool Optimize(REALobject self) {
  errno = 0;
  if (!self) return false;
  try {
    const OptimizerData* data = DataOf(self);
    std::string input, output;
    if (!PathOf(data->inputFile, input) || !PathOf(data->outputFile, output)) {
      errno = 0;
      return false;
    }
    OptimizeOptions options;
    options.colorTypeReduction = !data->noColorTypeReduction;
    options.bitDepthReduction = !data->noBitDepthReduction;
    options.paletteReduction = !data->noPaletteReduction;
    options.force = data->force != 0;
    return OptimizeFile(input, output, options);
  } catch (...) {
    errno = ENOMEM;
    return false;
  }
}

// The bundle is the folder above the one that holds the executable (<bundle>/bin/<program>).
REALfolderItem BundleFolder(REALobject) {
  try {
    std::string executable(4096, '\0');
    for (;;) {
      const ssize_t length = readlink("/proc/self/exe", executable.data(), executable.size());
      if (length < 0) return nullptr;
      if (static_cast<std::size_t>(length) < executable.size()) {
        executable.resize(static_cast<std::size_t>(length));
        break;
      }
      executable.resize(executable.size() * 2);
    }
    std::string folder = executable;
    for (int level = 0; level < 2; ++level) {
      const std::size_t slash = folder.rfind('/');
      if (slash == std::string::npos) return nullptr;
      folder.resize(slash == 0 ? 1 : slash);
      if (slash == 0) break;
    }
    return kit::REALFolderItemFromPath(folder.c_str());
  } catch (...) {
    return nullptr;
  }
}

}  // namespace
}  // namespace pngfamily

void REALPluginMain(REALResolver resolver) {
  gResolver = resolver;
  kit::REALRegisterPluginVersion(6);
  kit::REALRegisterClass(&pngfamily::gFolderItemExtension);
  kit::REALRegisterClass(&pngfamily::gOptimizerClass);
  kit::REALRegisterClass(&pngfamily::gApplicationExtension);
  kit::REALRegisterClass(&pngfamily::gIconExtension);
}
