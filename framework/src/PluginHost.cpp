#include "framework/PluginHost.h"

#include <dlfcn.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <cstdio>
#include <map>
#include <memory>
#include <mutex>
#include <optional>

#include "framework/ClassRegistry.h"
#include "framework/Exceptions.h"
#include "framework/FileRefs.h"
#include "framework/FolderItem.h"
#include "framework/Graphics.h"
#include "framework/Picture.h"
#include "framework/PluginObject.h"

namespace fw {
namespace {

struct PluginClass {
  REALclassDefinition* definition;
  std::string name;
  std::string superName;
  bool placed = false;
};

// What one plug-in registers while its REALPluginMain runs; committed only when all of it is sound.
struct PendingLoad {
  std::vector<std::pair<std::string, void*>> keys;
  std::vector<REALclassDefinition*> classes;
  int version = 0;
  std::optional<std::string> malformed;
};

struct Host {
  std::recursive_mutex mutex;
  std::vector<std::pair<std::string, void*>> keys;  // registration order
  std::map<std::string, void*> byKey;
  std::vector<PluginClass> classes;
  std::vector<PluginLoadFailure> failures;
  std::map<std::string, int> versions;
  std::vector<std::unique_ptr<void*[]>> tables;
  PendingLoad* pending = nullptr;
  double reportedVersion = kFrameworkVersion;
  std::map<std::string, std::uint64_t> objectsMade;
};

// Never destroyed: plug-ins are never unloaded, and their objects may go while the process ends.
Host& TheHost() {
  static Host* host = new Host;
  return *host;
}

void Malformed(PendingLoad& load, const std::string& why) {
  if (!load.malformed) load.malformed = why;
}

std::string Str(const char* s) { return s ? std::string(s) : std::string(); }

PluginClass* FindPluginClass(Host& h, const std::string& name) {
  for (PluginClass& c : h.classes)
    if (c.name == name) return &c;
  return nullptr;
}

// Places a plug-in class's data behind the header or behind its plug-in superclass's data. A superclass
// that isn't loaded yet waits for RuntimeInitExternalClasses.
bool Place(Host& h, PluginClass& c) {
  if (c.placed) return true;
  std::size_t offset = kObjectHeaderSize;
  if (!c.superName.empty()) {
    if (PluginClass* super = FindPluginClass(h, c.superName)) {
      if (!Place(h, *super)) return false;
      offset = static_cast<std::size_t>(super->definition->forSystemUse) +
               static_cast<std::size_t>(super->definition->dataSize);
    } else if (!FindClass(c.superName)) {
      return false;
    }
  }
  c.definition->forSystemUse = static_cast<int32_t>(offset);
  c.placed = true;
  return true;
}

void Commit(Host& h, PendingLoad& load) {
  for (auto& [key, routine] : load.keys) {
    h.keys.emplace_back(key, routine);
    h.byKey.emplace(key, routine);
  }
  for (REALclassDefinition* d : load.classes) {
    h.classes.push_back(PluginClass{d, Str(d->name), Str(d->superName)});
  }
  for (PluginClass& c : h.classes) Place(h, c);
}

void AddKey(Host& h, PendingLoad& load, std::string key, REALproc routine) {
  if (!routine) return;
  auto same = [&](const auto& entry) { return entry.first == key; };
  if (h.byKey.count(key) || std::any_of(load.keys.begin(), load.keys.end(), same)) {
    Malformed(load, "registers \"" + key + "\" a second time");
    return;
  }
  load.keys.emplace_back(std::move(key), reinterpret_cast<void*>(routine));
}

// Runs a registration inside the current load, or commits it at once when no load is under way.
template <typename F>
void Register(F&& f) {
  Host& h = TheHost();
  std::lock_guard lock(h.mutex);
  if (h.pending) {
    f(h, *h.pending);
    return;
  }
  PendingLoad direct;
  f(h, direct);
  if (direct.malformed) {
    std::fprintf(stderr, "Speckmoor: plug-in registration refused: %s\n", direct.malformed->c_str());
    return;
  }
  Commit(h, direct);
}

int32_t StoredSize(PluginObject::StoredKind kind) {
  switch (kind) {
    case PluginObject::StoredKind::Boolean: return 1;
    case PluginObject::StoredKind::Integer:
    case PluginObject::StoredKind::Single: return 4;
    case PluginObject::StoredKind::Double: return 8;
    case PluginObject::StoredKind::Object: return static_cast<int32_t>(sizeof(void*));
  }
  return 0;
}

bool ValidMethod(const REALmethodDefinition& m) { return m.function && m.declaration && *m.declaration; }

// ---- the routines a plug-in can ask for ----

void HostRegisterPluginVersion(int32_t version) {
  Register([&](Host&, PendingLoad& load) { load.version = version; });
}

double HostGetRBVersion() {
  Host& h = TheHost();
  std::lock_guard lock(h.mutex);
  return h.reportedVersion;
}

void HostRegisterMethod(REALmethodDefinition* m) {
  Register([&](Host& h, PendingLoad& load) {
    if (!m || !ValidMethod(*m)) return Malformed(load, "a method record without routine or declaration");
    AddKey(h, load, m->declaration, m->function);
  });
}

void HostRegisterClass(REALclassDefinition* d) {
  Register([&](Host& h, PendingLoad& load) {
    if (!d) return Malformed(load, "a nil class record");
    if (d->version != kREALClassDefinitionVersion)
      return Malformed(load, "a class record of version " + std::to_string(d->version) + " (expected " +
                                 std::to_string(kREALClassDefinitionVersion) + ")");
    if (!d->name || !*d->name) return Malformed(load, "a class record without a name");
    const std::string name = d->name;
    if (d->dataSize < 0 || d->methodCount < 0 || d->propertyCount < 0 ||
        (d->methodCount > 0 && !d->methods) || (d->propertyCount > 0 && !d->properties))
      return Malformed(load, "a malformed class record for " + name);
    for (int i = 0; i < d->methodCount; ++i)
      if (!ValidMethod(d->methods[i])) return Malformed(load, "a malformed method record in " + name);
    for (int i = 0; i < d->propertyCount; ++i) {
      const REALproperty& p = d->properties[i];
      if (!p.declaration || !*p.declaration) return Malformed(load, "a property without a name in " + name);
      const bool stored = p.flags & kREALPropertyStored;
      if (stored && (p.param < 0 || p.param + StoredSize(StoredKindOf(p)) > d->dataSize))
        return Malformed(load, "a stored property outside the data of " + name);
    }
    for (int i = 0; i < d->methodCount; ++i)
      AddKey(h, load, name + "." + d->methods[i].declaration, d->methods[i].function);
    if (d->flags & kREALClassExtendsType) return;  // methods only, no class
    if (FindPluginClass(h, name) || std::any_of(load.classes.begin(), load.classes.end(),
                                                [&](auto* c) { return Str(c->name) == name; }))
      return Malformed(load, "registers the class " + name + " a second time");
    AddKey(h, load, name + ".__init", d->constructor);
    AddKey(h, load, name + ".__exit", d->destructor);
    for (int i = 0; i < d->propertyCount; ++i) {
      const REALproperty& p = d->properties[i];
      std::string prop = p.declaration;
      prop = prop.substr(0, prop.find(' '));
      AddKey(h, load, name + "." + prop + ".Get", p.getter);
      AddKey(h, load, name + "." + prop + ".Set", p.setter);
    }
    load.classes.push_back(d);
  });
}

Picture* PictureFrom(REALpicture p) { return dynamic_cast<Picture*>(reinterpret_cast<Object*>(p)); }

REALpicture HostNewPicture(int32_t width, int32_t height, int32_t depth) {
  Ref<Picture> picture = Picture::New(width, height, depth);
  return reinterpret_cast<REALpicture>(static_cast<Object*>(picture.Detach()));
}

int32_t HostLockPictureDescription(REALpicture p, REALpictureDescription* description) {
  if (!description) return 0;
  *description = REALpictureDescription{};
  Picture* picture = PictureFrom(p);
  if (!picture) return 0;
  picture->LockDescription();
  description->gworld = picture->GWorld();
  description->width = picture->Width();
  description->height = picture->Height();
  description->depth = picture->Depth();
  return 1;
}

void HostUnlockPictureDescription(REALpicture p) {
  if (Picture* picture = PictureFrom(p)) {
    picture->UnlockDescription();
    picture->Touch();
  }
}

void HostLockObject(REALobject o) {
  if (o) FromREAL(o)->Retain();
}

void HostUnlockObject(REALobject o) {
  if (o) FromREAL(o)->Release();
}

REALfolderItem HostFolderItemFromPath(const char* path) {
  if (!path || !*path) return nullptr;
  Ref<FolderItem> item = MakeRef<FolderItem>(std::filesystem::path(path));
  return reinterpret_cast<REALfolderItem>(static_cast<Object*>(item.Detach()));
}

int32_t HostFolderItemPath(REALfolderItem f, char* buffer, int32_t size) {
  auto* item = dynamic_cast<FolderItem*>(reinterpret_cast<Object*>(f));
  if (!item) return -1;
  const std::string& path = item->NativePath().native();
  const auto length = static_cast<int32_t>(std::min<std::size_t>(path.size(), INT32_MAX - 1));
  if (buffer && size > length) {
    std::memcpy(buffer, path.data(), static_cast<std::size_t>(length));
    buffer[length] = '\0';
  }
  return length;
}

int32_t HostObjectDataSize(REALobject o) {
  const ClassRecord* record = o ? FromREAL(o)->Class() : nullptr;
  if (!record || record->instanceSize <= kObjectHeaderSize) return 0;
  return static_cast<int32_t>(std::min<std::size_t>(record->instanceSize - kObjectHeaderSize, INT32_MAX));
}

void* HostGraphicsPainter(REALgraphics g) {
  auto* graphics = dynamic_cast<Graphics*>(reinterpret_cast<Object*>(g));
  return graphics ? static_cast<void*>(graphics->Painter()) : nullptr;
}

struct Named {
  const char* name;
  void* routine;
};

const Named kRoutines[] = {
    {"RegisterPluginVersion", reinterpret_cast<void*>(&HostRegisterPluginVersion)},
    {"REALGetRBVersion", reinterpret_cast<void*>(&HostGetRBVersion)},
    {"PluginRegisterClass", reinterpret_cast<void*>(&HostRegisterClass)},
    {"PluginRegisterMethod", reinterpret_cast<void*>(&HostRegisterMethod)},
    {"newPicture", reinterpret_cast<void*>(&HostNewPicture)},
    {"lockPictureDescription", reinterpret_cast<void*>(&HostLockPictureDescription)},
    {"unlockPictureDescription", reinterpret_cast<void*>(&HostUnlockPictureDescription)},
    {"REALLockObject", reinterpret_cast<void*>(&HostLockObject)},
    {"REALUnlockObject", reinterpret_cast<void*>(&HostUnlockObject)},
    {"REALFolderItemFromPath", reinterpret_cast<void*>(&HostFolderItemFromPath)},
    {"REALFolderItemPath", reinterpret_cast<void*>(&HostFolderItemPath)},
    {"REALGraphicsPainter", reinterpret_cast<void*>(&HostGraphicsPainter)},
    {"REALObjectDataSize", reinterpret_cast<void*>(&HostObjectDataSize)},
    {"REALFolderItemFromParentFSRef", reinterpret_cast<void*>(&FolderItemFromParentFSRef)},
    {"FolderItemFromFSSpec", reinterpret_cast<void*>(&FolderItemFromFSSpec)},
};

void Report(Host& h, const std::filesystem::path& file, const std::string& reason) {
  std::fprintf(stderr, "Speckmoor: skipped plug-in %s: %s\n", file.filename().c_str(), reason.c_str());
  h.failures.push_back({file.filename().string(), reason});
}

}  // namespace

extern "C" void* FrameworkResolve(const char* routineName) {
  if (!routineName) return nullptr;
  for (const Named& n : kRoutines)
    if (std::strcmp(n.name, routineName) == 0) return n.routine;
  return nullptr;
}

void SetReportedFrameworkVersion(double version) {
  Host& h = TheHost();
  std::lock_guard lock(h.mutex);
  h.reportedVersion = version;
}

bool LoadPlugin(const std::filesystem::path& file) {
  Host& h = TheHost();
  std::lock_guard lock(h.mutex);
  void* handle = dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!handle) {
    const char* why = dlerror();
    Report(h, file, std::string("not a loadable library (") + (why ? why : "unknown error") + ")");
    return false;
  }
  auto entry = reinterpret_cast<void (*)(REALResolver)>(dlsym(handle, "REALPluginMain"));
  if (!entry) {
    Report(h, file, "it has no REALPluginMain");
    return false;  // never unloaded: it may have started threads of its own
  }
  PendingLoad load;
  h.pending = &load;
  try {
    entry(&FrameworkResolve);
  } catch (...) {
    Malformed(load, "its REALPluginMain raised an exception");
  }
  h.pending = nullptr;
  if (load.malformed) {
    Report(h, file, "it registers " + *load.malformed);
    return false;
  }
  h.versions[std::filesystem::absolute(file).string()] = load.version;
  Commit(h, load);
  return true;
}

void LoadPlugins(const std::filesystem::path& folder) {
  std::error_code ec;
  std::vector<std::filesystem::path> files;
  for (const auto& entry : std::filesystem::directory_iterator(folder, ec))
    if (entry.path().extension() == ".so") files.push_back(entry.path());
  std::sort(files.begin(), files.end());
  for (const auto& file : files) LoadPlugin(file);
}

std::vector<PluginLoadFailure> PluginLoadFailures() {
  Host& h = TheHost();
  std::lock_guard lock(h.mutex);
  return h.failures;
}

std::vector<std::string> PluginKeys() {
  Host& h = TheHost();
  std::lock_guard lock(h.mutex);
  std::vector<std::string> out;
  for (const auto& entry : h.keys) out.push_back(entry.first);
  return out;
}

void* RuntimeLookupPluginEntrypoint(const std::string& key) {
  Host& h = TheHost();
  std::lock_guard lock(h.mutex);
  auto it = h.byKey.find(key);
  return it == h.byKey.end() ? nullptr : it->second;
}

void** RuntimeAllocatePluginEntrypointsTable(int count) {
  Host& h = TheHost();
  std::lock_guard lock(h.mutex);
  h.tables.emplace_back(new void*[static_cast<std::size_t>(std::max(count, 0))]());
  return h.tables.back().get();
}

void RuntimeInitExternalClasses() { RegisterPluginClassRecords(); }

void RegisterPluginClassRecords() {
  Host& h = TheHost();
  std::lock_guard lock(h.mutex);
  // Superclasses first, so every record's super pointer is set when it is registered.
  std::vector<PluginClass*> todo;
  for (PluginClass& c : h.classes)
    if (Place(h, c) && !FindClass(c.name)) todo.push_back(&c);
  while (!todo.empty()) {
    bool progress = false;
    for (auto it = todo.begin(); it != todo.end();) {
      PluginClass& c = **it;
      const ClassRecord* super = c.superName.empty() ? nullptr : FindClass(c.superName);
      if (!c.superName.empty() && !super) {
        ++it;
        continue;
      }
      ClassRecord record;
      record.name = c.name;
      record.super = super;
      record.plugin = c.definition;
      for (int i = 0; i < c.definition->methodCount; ++i)
        record.operations.push_back(c.definition->methods[i].declaration);
      record.dataOffset = static_cast<std::size_t>(c.definition->forSystemUse);
      record.instanceSize = record.dataOffset + static_cast<std::size_t>(c.definition->dataSize);
      RegisterClass(std::move(record));
      it = todo.erase(it);
      progress = true;
    }
    if (!progress) break;  // a superclass nobody registered: the class stays unusable
  }
}

int PluginVersionOf(const std::filesystem::path& file) {
  Host& h = TheHost();
  std::lock_guard lock(h.mutex);
  auto it = h.versions.find(std::filesystem::absolute(file).string());
  return it == h.versions.end() ? 0 : it->second;
}

// ---- plug-in objects ----

std::uint64_t PluginObjectsMade(const std::string& className) {
  Host& h = TheHost();
  std::lock_guard lock(h.mutex);
  auto it = h.objectsMade.find(className);
  return it == h.objectsMade.end() ? 0 : it->second;
}

Ref<PluginObject> PluginObject::New(const std::string& className) {
  const ClassRecord* record = FindClass(className);
  if (!record || !record->plugin) throw UnsupportedOperationException("the class " + className + " is not available");
  void* memory = ::operator new(std::max(record->instanceSize, sizeof(PluginObject)));
  std::memset(memory, 0, record->instanceSize);
  Ref<PluginObject> object(new (memory) PluginObject());
  object->SetClass(record);
  {
    Host& h = TheHost();
    std::lock_guard lock(h.mutex);
    ++h.objectsMade[className];
  }
  std::vector<const ClassRecord*> chain;
  for (const ClassRecord* r = record; r && r->plugin; r = r->super) chain.push_back(r);
  for (auto it = chain.rbegin(); it != chain.rend(); ++it)
    if ((*it)->plugin->constructor)
      reinterpret_cast<void (*)(REALobject)>((*it)->plugin->constructor)(ToREAL(object.get()));
  return object;
}

PluginObject::~PluginObject() {
  for (const ClassRecord* r = Class(); r && r->plugin; r = r->super)
    if (r->plugin->destructor) reinterpret_cast<void (*)(REALobject)>(r->plugin->destructor)(ToREAL(this));
  // Then the references that object-typed stored properties hold.
  for (const ClassRecord* r = Class(); r && r->plugin; r = r->super) {
    for (int i = 0; i < r->plugin->propertyCount; ++i) {
      const REALproperty& p = r->plugin->properties[i];
      if (!(p.flags & kREALPropertyStored) || StoredKindOf(p) != StoredKind::Object) continue;
      Object* held = nullptr;
      std::memcpy(&held, Data(r) + p.param, sizeof held);
      if (held) held->Release();
    }
  }
}

PluginObject::Slot PluginObject::FindStored(const std::string& name) {
  for (const ClassRecord* r = Class(); r && r->plugin; r = r->super) {
    for (int i = 0; i < r->plugin->propertyCount; ++i) {
      const REALproperty& p = r->plugin->properties[i];
      if (!(p.flags & kREALPropertyStored)) continue;
      const std::string declaration = p.declaration;
      if (declaration.substr(0, declaration.find(' ')) != name) continue;
      return {Data(r) + p.param, StoredKindOf(p)};
    }
  }
  throw UnsupportedOperationException("the class " + (Class() ? Class()->name : std::string("?")) +
                                      " has no stored property " + name);
}

void PluginObject::SetStoredBoolean(const std::string& name, bool value) {
  Slot slot = FindStored(name);
  if (slot.kind != StoredKind::Boolean) throw IllegalCastException(name + " is not a Boolean");
  *slot.address = value ? 1 : 0;
}

bool PluginObject::StoredBoolean(const std::string& name) {
  Slot slot = FindStored(name);
  if (slot.kind != StoredKind::Boolean) throw IllegalCastException(name + " is not a Boolean");
  return *slot.address != 0;
}

void PluginObject::SetStoredObject(const std::string& name, const Ref<Object>& value) {
  Slot slot = FindStored(name);
  if (slot.kind != StoredKind::Object) throw IllegalCastException(name + " is not an object");
  Object* old = nullptr;
  std::memcpy(&old, slot.address, sizeof old);
  Object* now = value.get();
  if (now) now->Retain();
  std::memcpy(slot.address, &now, sizeof now);
  if (old) old->Release();
}

Ref<Object> PluginObject::StoredObject(const std::string& name) {
  Slot slot = FindStored(name);
  if (slot.kind != StoredKind::Object) throw IllegalCastException(name + " is not an object");
  Object* held = nullptr;
  std::memcpy(&held, slot.address, sizeof held);
  return Ref<Object>(held);
}

PluginObject::StoredKind StoredKindOf(const REALproperty& p) {
  const std::string declaration = p.declaration ? p.declaration : "";
  const std::size_t as = declaration.find(" as ");
  std::string type = as == std::string::npos ? std::string() : declaration.substr(as + 4);
  for (char& c : type) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (type == "boolean") return PluginObject::StoredKind::Boolean;
  if (type == "integer" || type == "int32") return PluginObject::StoredKind::Integer;
  if (type == "single") return PluginObject::StoredKind::Single;
  if (type == "double") return PluginObject::StoredKind::Double;
  return PluginObject::StoredKind::Object;
}

}  // namespace fw
