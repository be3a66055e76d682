// The folder chooser: the file-reference layer, the framework's two routines, the road from a reference
// to a folder item, and the plug-in's SelectFolderQZB driven through Qt's real dialog.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileDialog>

#include <dlfcn.h>
#include <sys/stat.h>

#include <atomic>
#include <cstddef>
#include <cstring>
#include <filesystem>
#include <iterator>
#include <map>
#include <string>
#include <thread>

#include "AppFixture.h"
#include "Chooser.h"
#include "FrameworkRoutines.h"
#include "TestSupport.h"
#include "framework/FileRefs.h"
#include "framework/FolderItem.h"
#include "framework/PluginHost.h"
#include "platform/Descriptors.h"
#include "platform/Files.h"
#include "platform/Navigation.h"

// The resolver the chooser's own code (linked into this program) asks; the plug-in keeps its own.
extern "C" {
REALResolver gResolver = nullptr;
}

namespace {

namespace fs = std::filesystem;
using testing_support::TempDir;

constexpr const char* kSelectFolderKey = "SelectFolderQZB as folderitem";

// An object a routine handed over, adopted so it goes when the test ends.
fw::Ref<fw::FolderItem> Adopt(REALfolderItem item) {
  auto* object = reinterpret_cast<fw::Object*>(item);
  auto* folder = dynamic_cast<fw::FolderItem*>(object);
  if (object && !folder) {
    object->Release();
    ADD_FAILURE() << "not a folder item";
    return nullptr;
  }
  return fw::Ref<fw::FolderItem>::Adopt(folder);
}

FSRef RefOf(const fs::path& path) {
  FSRef ref{};
  EXPECT_EQ(PlatformFSRefFromPath(path.c_str(), &ref), noErr) << path;
  return ref;
}

std::string PathOf(const FSRef& ref) {
  std::string path;
  EXPECT_EQ(PlatformPathFromFSRef(&ref, &path), noErr);
  return path;
}

// By value: the record is packed, so its parID may lie where no int32 reference can point.
std::int32_t ParID(const FSSpec& fss) {
  std::int32_t id;
  std::memcpy(&id, reinterpret_cast<const char*>(&fss) + offsetof(FSSpec, parID), sizeof id);
  return id;
}

std::string FSSpecName(const FSSpec& fss) { return std::string(reinterpret_cast<const char*>(fss.name + 1), fss.name[0]); }

HFSUniStr255 Uni(const std::u16string& s) {
  HFSUniStr255 name{};
  name.length = static_cast<std::uint16_t>(s.size());
  std::memcpy(name.unicode, s.data(), s.size() * 2);
  return name;
}

FSSpec MakeFSSpec(std::int32_t parID, const std::string& name) {
  FSSpec fss{};
  fss.vRefNum = kPlatformVolumeRefNum;
  fss.parID = parID;
  fss.name[0] = static_cast<unsigned char>(name.size());
  std::memcpy(fss.name + 1, name.data(), name.size());
  return fss;
}

std::uint32_t NodeOf(const fs::path& path) {
  const FSRef ref = RefOf(path);
  FSCatalogInfo info{};
  EXPECT_EQ(FSGetCatalogInfo(&ref, kFSCatInfoNodeID, &info, nullptr, nullptr, nullptr), noErr);
  return info.nodeID;
}

// ---- the layer ----

TEST(FileRefs, RecordSizes) {
  EXPECT_EQ(sizeof(FSRef), 80u);
  EXPECT_EQ(sizeof(FSSpec), 70u);
  EXPECT_EQ(offsetof(FSSpec, parID), 2u);
  EXPECT_EQ(offsetof(FSSpec, name), 6u);
  EXPECT_EQ(sizeof(HFSUniStr255), 512u);
  EXPECT_EQ(kFSCatInfoNone, 0u);
  EXPECT_EQ(kFSCatInfoNodeID, 0x10u);
  EXPECT_EQ(typeFSRef, 0x66737266u);
  EXPECT_EQ(typeFSS, 0x66737320u);
}

TEST(FileRefs, APathKeepsItsReference) {
  TempDir dir;
  fs::create_directory(dir / "a");
  const FSRef first = RefOf(dir / "a");
  const FSRef again = RefOf(dir.path().string() + "/./a/");
  EXPECT_EQ(std::memcmp(&first, &again, sizeof first), 0);
  EXPECT_EQ(PathOf(first), (dir / "a").string());
  const FSRef other = RefOf(dir.path());
  EXPECT_NE(std::memcmp(&first, &other, sizeof first), 0);
}

TEST(FileRefs, OnlyExistingPathsGetAReference) {
  TempDir dir;
  FSRef ref{};
  EXPECT_EQ(PlatformFSRefFromPath((dir / "missing").c_str(), &ref), fnfErr);
  EXPECT_EQ(PlatformFSRefFromPath("", &ref), paramErr);
  EXPECT_EQ(PlatformFSRefFromPath(nullptr, &ref), paramErr);
}

TEST(FileRefs, CatalogInfoOfAFolder) {
  TempDir dir;
  const fs::path folder = dir / "Fotos";
  fs::create_directory(folder);
  const FSRef ref = RefOf(folder);

  FSCatalogInfo info{};
  HFSUniStr255 name{};
  FSSpec fss{};
  FSRef parent{};
  ASSERT_EQ(FSGetCatalogInfo(&ref, kFSCatInfoNodeID | kFSCatInfoParentDirID | kFSCatInfoNodeFlags, &info, &name,
                             &fss, &parent),
            noErr);
  EXPECT_GT(info.nodeID, kFSRootFolderID);
  EXPECT_EQ(info.nodeID, NodeOf(folder));
  EXPECT_EQ(info.parentDirID, NodeOf(dir.path()));
  EXPECT_TRUE(info.nodeFlags & kFSNodeIsDirectoryMask);
  EXPECT_EQ(std::u16string(reinterpret_cast<const char16_t*>(name.unicode), name.length), u"Fotos");
  EXPECT_EQ(PathOf(parent), dir.path().string());
  EXPECT_EQ(ParID(fss), static_cast<std::int32_t>(NodeOf(dir.path())));
  EXPECT_EQ(FSSpecName(fss), "Fotos");
  std::string fromFSSpec;
  ASSERT_EQ(PlatformPathFromFSSpec(&fss, &fromFSSpec), noErr);
  EXPECT_EQ(fromFSSpec, folder.string());

  // Every output may be left out: a validity test.
  EXPECT_EQ(FSGetCatalogInfo(&ref, kFSCatInfoNone, nullptr, nullptr, nullptr, nullptr), noErr);
}

TEST(FileRefs, TheRootIsNodeTwoWithoutAParent) {
  const FSRef root = RefOf("/");
  FSCatalogInfo info{};
  FSRef parent;
  std::memset(&parent, 0xab, sizeof parent);
  HFSUniStr255 name{};
  FSSpec fss{};
  ASSERT_EQ(FSGetCatalogInfo(&root, kFSCatInfoNodeID, &info, &name, &fss, &parent), noErr);
  EXPECT_EQ(info.nodeID, kFSRootFolderID);
  const FSRef zero{};
  EXPECT_EQ(std::memcmp(&parent, &zero, sizeof parent), 0);
  EXPECT_EQ(ParID(fss), static_cast<std::int32_t>(kFSRootParentID));
  EXPECT_EQ(FSSpecName(fss), "/");
  std::string path;
  ASSERT_EQ(PlatformPathFromFSSpec(&fss, &path), noErr);
  EXPECT_EQ(path, "/");

  // A folder right under the root names the root by its node.
  const fs::path tmp = fs::temp_directory_path();
  const FSRef top = RefOf(tmp.root_path() / *std::next(tmp.begin()));
  FSSpec topFSSpec{};
  ASSERT_EQ(FSGetCatalogInfo(&top, kFSCatInfoNone, nullptr, nullptr, &topFSSpec, nullptr), noErr);
  EXPECT_EQ(ParID(topFSSpec), static_cast<std::int32_t>(kFSRootFolderID));
}

TEST(FileRefs, CatalogInfoErrors) {
  TempDir dir;
  const FSRef zero{};
  FSCatalogInfo info{};
  EXPECT_EQ(FSGetCatalogInfo(&zero, kFSCatInfoNone, nullptr, nullptr, nullptr, nullptr), errFSBadFSRef);
  EXPECT_EQ(FSGetCatalogInfo(nullptr, kFSCatInfoNone, nullptr, nullptr, nullptr, nullptr), errFSBadFSRef);

  // A forged reference: a valid one with the id pushed past every id made.
  FSRef forged = RefOf(dir.path());
  forged.hidden[14] = 0x7f;
  EXPECT_EQ(FSGetCatalogInfo(&forged, kFSCatInfoNodeID, &info, nullptr, nullptr, nullptr), errFSBadFSRef);
  std::string path;
  EXPECT_EQ(PlatformPathFromFSRef(&forged, &path), errFSBadFSRef);

  const FSRef ref = RefOf(dir.path());
  EXPECT_EQ(FSGetCatalogInfo(&ref, kFSCatInfoNodeID, nullptr, nullptr, nullptr, nullptr), paramErr);

  // Gone since the reference was made: the reference still names its path, but nothing is there.
  fs::create_directory(dir / "soon gone");
  const FSRef gone = RefOf(dir / "soon gone");
  fs::remove(dir / "soon gone");
  HFSUniStr255 name{};
  name.length = 7;
  EXPECT_EQ(FSGetCatalogInfo(&gone, kFSCatInfoNodeID, &info, &name, nullptr, nullptr), fnfErr);
  EXPECT_EQ(name.length, 7) << "nothing is written when it fails";
  ASSERT_EQ(PlatformPathFromFSRef(&gone, &path), noErr);
  EXPECT_EQ(path, (dir / "soon gone").string());
}

TEST(FileRefs, ALongNameHasNoFSSpec) {
  TempDir dir;
  const std::string longName = std::string(60, 'x') + "-\xc3\xa9\xc3\xa9";  // 65 bytes, 63 letters
  fs::create_directory(dir / longName);
  const FSRef ref = RefOf(dir / longName);
  FSSpec fss = MakeFSSpec(5, "untouched");
  EXPECT_EQ(FSGetCatalogInfo(&ref, kFSCatInfoNone, nullptr, nullptr, &fss, nullptr), bdNamErr);
  EXPECT_EQ(FSSpecName(fss), "untouched");
  HFSUniStr255 name{};
  ASSERT_EQ(FSGetCatalogInfo(&ref, kFSCatInfoNone, nullptr, &name, nullptr, nullptr), noErr);
  EXPECT_EQ(name.length, 63);

  // 63 bytes still fit.
  const std::string fits(63, 'y');
  fs::create_directory(dir / fits);
  const FSRef fitsRef = RefOf(dir / fits);
  ASSERT_EQ(FSGetCatalogInfo(&fitsRef, kFSCatInfoNone, nullptr, nullptr, &fss, nullptr), noErr);
  EXPECT_EQ(FSSpecName(fss), fits);
}

TEST(FileRefs, ANameThatIsNoUnicodeHasNoHFSName) {
  TempDir dir;
  const std::string bytes = "raw\xff\xfe";
  fs::create_directory(dir / bytes);
  const FSRef ref = RefOf(dir / bytes);
  HFSUniStr255 name{};
  EXPECT_EQ(FSGetCatalogInfo(&ref, kFSCatInfoNone, nullptr, &name, nullptr, nullptr), bdNamErr);
  FSSpec fss{};
  ASSERT_EQ(FSGetCatalogInfo(&ref, kFSCatInfoNone, nullptr, nullptr, &fss, nullptr), noErr);
  EXPECT_EQ(FSSpecName(fss), bytes);
}

TEST(FileRefs, NameConversions) {
  HFSUniStr255 name{};
  const std::string mixed = "Caf\xc3\xa9 \xe2\x80\x9cq\xe2\x80\x9d \xf0\x9f\x93\xb7";  // é, curly quotes, a camera
  ASSERT_EQ(PlatformHFSUniStrFromName(mixed, &name), noErr);
  EXPECT_EQ(std::u16string(reinterpret_cast<const char16_t*>(name.unicode), name.length), u"Caf\u00e9 \u201cq\u201d \U0001F4F7");
  std::string back;
  ASSERT_EQ(PlatformNameFromHFSUniStr(&name, &back), noErr);
  EXPECT_EQ(back, mixed);

  EXPECT_EQ(PlatformHFSUniStrFromName(std::string(255, 'a'), &name), noErr);
  EXPECT_EQ(PlatformHFSUniStrFromName(std::string(256, 'a'), &name), errFSNameTooLong);
  EXPECT_EQ(PlatformHFSUniStrFromName(std::string(254, 'a') + "\xf0\x9f\x93\xb7", &name), errFSNameTooLong);
  EXPECT_EQ(PlatformHFSUniStrFromName("\xc0\xaf", &name), bdNamErr);      // overlong '/'
  EXPECT_EQ(PlatformHFSUniStrFromName("\xed\xa0\x80", &name), bdNamErr);  // a surrogate
  EXPECT_EQ(PlatformHFSUniStrFromName("abc\xe2\x80", &name), bdNamErr);   // cut short

  HFSUniStr255 lone = Uni(u"a\xd800");
  EXPECT_EQ(PlatformNameFromHFSUniStr(&lone, &back), bdNamErr);
  lone = Uni(u"\xdc00z");
  EXPECT_EQ(PlatformNameFromHFSUniStr(&lone, &back), bdNamErr);
  lone.length = 256;
  EXPECT_EQ(PlatformNameFromHFSUniStr(&lone, &back), errFSNameTooLong);
}

TEST(FileRefs, FSSpecPaths) {
  TempDir dir;
  const std::int32_t folder = static_cast<std::int32_t>(NodeOf(dir.path()));
  std::string path;
  FSSpec fss = MakeFSSpec(folder, "not there yet");
  ASSERT_EQ(PlatformPathFromFSSpec(&fss, &path), noErr);
  EXPECT_EQ(path, (dir / "not there yet").string());

  for (const char* bad : {"", ".", "..", "a/b"}) {
    fss = MakeFSSpec(folder, bad);
    EXPECT_EQ(PlatformPathFromFSSpec(&fss, &path), bdNamErr) << bad;
  }
  fss = MakeFSSpec(kFSRootParentID, "etc");
  EXPECT_EQ(PlatformPathFromFSSpec(&fss, &path), fnfErr);
  fss = MakeFSSpec(0x7ffffff0, "x");
  EXPECT_EQ(PlatformPathFromFSSpec(&fss, &path), fnfErr);
  fss = MakeFSSpec(-3, "x");
  EXPECT_EQ(PlatformPathFromFSSpec(&fss, &path), fnfErr);
  fss = MakeFSSpec(folder, "x");
  fss.name[0] = 64;
  EXPECT_EQ(PlatformPathFromFSSpec(&fss, &path), bdNamErr);
}

TEST(Descriptors, CoercionsAndTheirData) {
  TempDir dir;
  fs::create_directory(dir / "pics");
  const long live = PlatformLiveDescriptorCount();
  const FSRef ref = RefOf(dir / "pics");

  AEDesc item;
  ASSERT_EQ(AECreateDesc(typeFSRef, &ref, sizeof ref, &item), noErr);
  AEDescList list;
  ASSERT_EQ(PlatformCreateListOf(&item, &list), noErr);
  long count = 0;
  ASSERT_EQ(AECountItems(&list, &count), noErr);
  EXPECT_EQ(count, 1);
  EXPECT_EQ(AEGetDescData(&list, &count, sizeof count), errAEWrongDataType);

  AEDesc asRef;
  ASSERT_EQ(AECoerceDesc(&list, typeFSRef, &asRef), noErr);
  EXPECT_EQ(asRef.descriptorType, typeFSRef);
  EXPECT_EQ(AEGetDescDataSize(&asRef), sizeof(FSRef));
  FSRef copied{};
  ASSERT_EQ(AEGetDescData(&asRef, &copied, sizeof copied), noErr);
  EXPECT_EQ(std::memcmp(&copied, &ref, sizeof ref), 0);

  AEDesc asFSSpec;
  ASSERT_EQ(AECoerceDesc(&list, typeFSS, &asFSSpec), noErr);
  FSSpec fss{};
  ASSERT_EQ(AEGetDescData(&asFSSpec, &fss, sizeof fss), noErr);
  EXPECT_EQ(FSSpecName(fss), "pics");

  AEDesc backToRef;
  ASSERT_EQ(AECoerceDesc(&asFSSpec, typeFSRef, &backToRef), noErr);
  ASSERT_EQ(AEGetDescData(&backToRef, &copied, sizeof copied), noErr);
  EXPECT_EQ(std::memcmp(&copied, &ref, sizeof ref), 0);

  AEDesc nothing;
  EXPECT_EQ(AECoerceDesc(&item, 0x54455854 /* 'TEXT' */, &nothing), errAECoercionFail);
  EXPECT_EQ(nothing.descriptorType, typeNull);
  EXPECT_EQ(nothing.dataHandle, nullptr);

  for (AEDesc* d : {&item, &list, &asRef, &asFSSpec, &backToRef}) EXPECT_EQ(AEDisposeDesc(d), noErr);
  EXPECT_EQ(item.dataHandle, nullptr);
  EXPECT_EQ(AEDisposeDesc(&item), noErr) << "a null descriptor is fine";
  EXPECT_EQ(PlatformLiveDescriptorCount(), live);
}

TEST(Descriptors, NoFSSpecForALongNameOrAVanishedFolder) {
  TempDir dir;
  const long live = PlatformLiveDescriptorCount();
  const std::string longName(64, 'L');
  fs::create_directory(dir / longName);
  fs::create_directory(dir / "brief");
  const FSRef longRef = RefOf(dir / longName);
  const FSRef briefRef = RefOf(dir / "brief");
  fs::remove(dir / "brief");

  for (const FSRef* ref : {&longRef, &briefRef}) {
    AEDesc item, fss;
    ASSERT_EQ(AECreateDesc(typeFSRef, ref, sizeof *ref, &item), noErr);
    EXPECT_EQ(AECoerceDesc(&item, typeFSS, &fss), errAECoercionFail);
    EXPECT_EQ(fss.dataHandle, nullptr);
    AEDisposeDesc(&item);
  }
  EXPECT_EQ(PlatformLiveDescriptorCount(), live);
}

// ---- the framework's routines ----

TEST(FrameworkFileRefs, TheResolverAnswersBothNames) {
  EXPECT_EQ(fw::FrameworkResolve("REALFolderItemFromParentFSRef"),
            reinterpret_cast<void*>(&fw::FolderItemFromParentFSRef));
  EXPECT_EQ(fw::FrameworkResolve("FolderItemFromFSSpec"), reinterpret_cast<void*>(&fw::FolderItemFromFSSpec));
}

TEST(FrameworkFileRefs, FromParentAndName) {
  TempDir dir;
  const FSRef parent = RefOf(dir.path());
  const HFSUniStr255 name = Uni(u"R\u00e9sum\u00e9 \"final\" 'b'");
  fw::Ref<fw::FolderItem> item = Adopt(fw::FolderItemFromParentFSRef(&parent, &name));
  ASSERT_TRUE(item);
  EXPECT_EQ(item->NativePath(), dir / "R\xc3\xa9sum\xc3\xa9 \"final\" 'b'");
  EXPECT_EQ(item->RefCount(), 1);

  const FSRef root = RefOf("/");
  const HFSUniStr255 tmp = Uni(u"tmp");
  item = Adopt(fw::FolderItemFromParentFSRef(&root, &tmp));
  ASSERT_TRUE(item);
  EXPECT_EQ(item->NativePath(), "/tmp");
}

TEST(FrameworkFileRefs, FromParentAndNameRefuses) {
  TempDir dir;
  const FSRef parent = RefOf(dir.path());
  const FSRef zero{};
  const HFSUniStr255 good = Uni(u"x");
  EXPECT_EQ(fw::FolderItemFromParentFSRef(&zero, &good), nullptr);
  EXPECT_EQ(fw::FolderItemFromParentFSRef(nullptr, &good), nullptr);
  EXPECT_EQ(fw::FolderItemFromParentFSRef(&parent, nullptr), nullptr);
  const std::u16string refused[] = {u"", u".", u"..", u"a/b", u"/", std::u16string(u"a\0b", 3), u"\xd800"};
  for (const std::u16string& bad : refused) {
    const HFSUniStr255 name = Uni(bad);
    EXPECT_EQ(fw::FolderItemFromParentFSRef(&parent, &name), nullptr);
  }
}

TEST(FrameworkFileRefs, FromFSSpec) {
  TempDir dir;
  const FSSpec inDir = MakeFSSpec(static_cast<std::int32_t>(NodeOf(dir.path())), "Ordner");
  fw::Ref<fw::FolderItem> item = Adopt(fw::FolderItemFromFSSpec(&inDir));
  ASSERT_TRUE(item);
  EXPECT_EQ(item->NativePath(), dir / "Ordner");

  const FSSpec root = MakeFSSpec(kFSRootParentID, "/");
  item = Adopt(fw::FolderItemFromFSSpec(&root));
  ASSERT_TRUE(item);
  EXPECT_EQ(item->NativePath(), "/");

  EXPECT_EQ(fw::FolderItemFromFSSpec(nullptr), nullptr);
  const FSSpec nowhere = MakeFSSpec(0x7ffffff0, "x");
  EXPECT_EQ(fw::FolderItemFromFSSpec(&nowhere), nullptr);
}

// ---- the road from a reference, with this program's copy of the chooser ----

// Counts what the chooser asks the resolver for and which routine it takes.
struct Asked {
  std::map<std::string, int> names;
  int fromParent = 0;
  int fromFSSpec = 0;
  bool answer = true;
};
Asked gAsked;

REALfolderItem CountedFromParent(const FSRef* parent, const HFSUniStr255* name) {
  ++gAsked.fromParent;
  return fw::FolderItemFromParentFSRef(parent, name);
}

REALfolderItem CountedFromFSSpec(const FSSpec* fss) {
  ++gAsked.fromFSSpec;
  return fw::FolderItemFromFSSpec(fss);
}

void* CountingResolver(const char* name) {
  ++gAsked.names[name];
  if (!gAsked.answer) return nullptr;
  if (std::strcmp(name, "REALFolderItemFromParentFSRef") == 0) return reinterpret_cast<void*>(&CountedFromParent);
  if (std::strcmp(name, "FolderItemFromFSSpec") == 0) return reinterpret_cast<void*>(&CountedFromFSSpec);
  return nullptr;
}

class Road : public ::testing::Test {
 protected:
  void SetUp() override {
    gAsked = Asked{};
    folderchooser::ForgetFrameworkRoutines();
    gResolver = &CountingResolver;
  }
  void TearDown() override {
    folderchooser::ForgetFrameworkRoutines();
    gResolver = nullptr;
  }
};

TEST_F(Road, AnUnknownNameIsAskedAgainAKnownOneOnce) {
  TempDir dir;
  const FSRef parent = RefOf(dir.path());
  const HFSUniStr255 name = Uni(u"x");
  const FSSpec fss = MakeFSSpec(static_cast<std::int32_t>(NodeOf(dir.path())), "x");

  gResolver = nullptr;
  EXPECT_EQ(folderchooser::REALFolderItemFromParentFSRef(&parent, &name), nullptr);
  EXPECT_EQ(folderchooser::FolderItemFromFSSpec(&fss), nullptr);

  gResolver = &CountingResolver;
  gAsked.answer = false;
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(folderchooser::REALFolderItemFromParentFSRef(&parent, &name), nullptr);
    EXPECT_EQ(folderchooser::FolderItemFromFSSpec(&fss), nullptr);
  }
  EXPECT_EQ(gAsked.names["REALFolderItemFromParentFSRef"], 3);
  EXPECT_EQ(gAsked.names["FolderItemFromFSSpec"], 3);
  EXPECT_EQ(gAsked.names.size(), 2u);

  gAsked.answer = true;
  for (int i = 0; i < 3; ++i) {
    EXPECT_TRUE(Adopt(folderchooser::REALFolderItemFromParentFSRef(&parent, &name)));
    EXPECT_TRUE(Adopt(folderchooser::FolderItemFromFSSpec(&fss)));
  }
  EXPECT_EQ(gAsked.names["REALFolderItemFromParentFSRef"], 4);
  EXPECT_EQ(gAsked.names["FolderItemFromFSSpec"], 4);
  EXPECT_EQ(gAsked.fromParent, 3);
  EXPECT_EQ(gAsked.fromFSSpec, 3);
}

TEST_F(Road, AFolderGoesThroughItsParent) {
  TempDir dir;
  const fs::path folder = dir / "Urlaub 2024";
  fs::create_directory(folder);
  fw::Ref<fw::FolderItem> item = Adopt(folderchooser::FolderItemFromFSRef(RefOf(folder)));
  ASSERT_TRUE(item);
  EXPECT_EQ(item->NativePath(), folder);
  EXPECT_EQ(gAsked.fromParent, 1);
  EXPECT_EQ(gAsked.fromFSSpec, 0);
}

TEST_F(Road, TheRootGoesThroughItsFSSpec) {
  fw::Ref<fw::FolderItem> item = Adopt(folderchooser::FolderItemFromFSRef(RefOf("/")));
  ASSERT_TRUE(item);
  EXPECT_EQ(item->NativePath(), "/");
  EXPECT_EQ(gAsked.fromParent, 0);
  EXPECT_EQ(gAsked.fromFSSpec, 1);
}

TEST_F(Road, ALongNameGoesThroughItsParent) {
  TempDir dir;
  const fs::path folder = dir / (std::string(70, 'n') + " \xc3\xbc");
  fs::create_directory(folder);
  fw::Ref<fw::FolderItem> item = Adopt(folderchooser::FolderItemFromFSRef(RefOf(folder)));
  ASSERT_TRUE(item);
  EXPECT_EQ(item->NativePath(), folder);
  EXPECT_EQ(gAsked.fromParent, 1);
  EXPECT_EQ(gAsked.fromFSSpec, 0);
}

TEST_F(Road, ANameThatIsNoUnicodeGoesThroughItsFSSpec) {
  TempDir dir;
  const fs::path folder = dir / "scan\xff";
  fs::create_directory(folder);
  fw::Ref<fw::FolderItem> item = Adopt(folderchooser::FolderItemFromFSRef(RefOf(folder)));
  ASSERT_TRUE(item);
  EXPECT_EQ(item->NativePath(), folder);
  EXPECT_EQ(gAsked.fromParent, 0);
  EXPECT_EQ(gAsked.fromFSSpec, 1);
}

TEST_F(Road, AVanishedFolderGivesNil) {
  TempDir dir;
  fs::create_directory(dir / "gone");
  const FSRef ref = RefOf(dir / "gone");
  fs::remove(dir / "gone");
  EXPECT_EQ(folderchooser::FolderItemFromFSRef(ref), nullptr);
  EXPECT_EQ(folderchooser::FolderItemFromFSRef(FSRef{}), nullptr);
  EXPECT_EQ(gAsked.fromParent + gAsked.fromFSSpec, 0);
}

// ---- the plug-in, through the host and Qt's dialog ----

using SelectFolderFn = REALfolderItem (*)();

struct Live {
  long dialogs = PlatformLiveNavDialogCount();
  long replies = PlatformLiveNavReplyCount();
  long descriptors = PlatformLiveDescriptorCount();
  bool operator==(const Live&) const = default;
};

// Chooses `folder` in the next dialog as a person would: goes into it and accepts. A folder the dialog
// doesn't offer cancels it, since accepting would stop at a warning nobody answers.
void Choose(const fs::path& folder, std::string* shown = nullptr) {
  new testing_support::DialogAnswerer<QFileDialog>([folder, shown](QFileDialog& dialog) {
    if (shown) *shown = QFile::encodeName(dialog.directory().absolutePath()).toStdString();
    dialog.setDirectory(QFile::decodeName(folder.c_str()));
    const QStringList offered = dialog.selectedFiles();
    if (offered.size() != 1 || QFile::encodeName(offered.first()).toStdString() != folder.string()) {
      ADD_FAILURE() << "the dialog offers " << offered.join('|').toStdString() << " instead of " << folder;
      dialog.reject();
      return;
    }
    QMetaObject::invokeMethod(&dialog, "accept");
  });
}

class Chooser : public ::testing::Test {
 protected:
  void SetUp() override {
    testing_support::LoadBundlePlugins();
    select_ = reinterpret_cast<SelectFolderFn>(fw::RuntimeLookupPluginEntrypoint(kSelectFolderKey));
    ASSERT_NE(select_, nullptr);
  }
  void TearDown() override {
    PlatformSetChooseFolderStart("");
    EXPECT_TRUE(before_ == Live{}) << "a dialog, reply or descriptor was left behind";
  }

  fw::Ref<fw::FolderItem> Select() { return Adopt(select_()); }

  SelectFolderFn select_ = nullptr;
  Live before_;
};

TEST_F(Chooser, ThePlugInRegistersOneMethodAtVersion9) {
  const fs::path file = fs::path(SPECKMOOR_PLUGIN_DIR) / "libFolderChooser.so";
  EXPECT_EQ(fw::PluginVersionOf(file), 9);
  void* self = dlopen(file.c_str(), RTLD_NOW | RTLD_NOLOAD);
  ASSERT_TRUE(self);
  EXPECT_EQ(dlsym(self, "gResolver"), nullptr) << "the resolver stays private";
  EXPECT_NE(dlsym(self, "REALPluginMain"), nullptr);
  dlclose(self);
}

TEST_F(Chooser, AFolderWithAnAwkwardName) {
  TempDir dir;
  const fs::path folder = dir / "Mein \"Urlaub\" it's \xc3\xa9t\xc3\xa9 \xe5\x86\x99\xe7\x9c\x9f  ";
  fs::create_directory(folder);
  Choose(folder);
  fw::Ref<fw::FolderItem> item = Select();
  ASSERT_TRUE(item);
  EXPECT_EQ(item->NativePath(), folder);
  EXPECT_TRUE(item->Directory());
  EXPECT_EQ(item->RefCount(), 1);
}

TEST_F(Chooser, CancelGivesNilAndLeavesNothingBehind) {
  // The plug-in's copy of the layer counts into the same place as the program's.
  long whileShown = -1;
  new testing_support::DialogAnswerer<QFileDialog>([&whileShown](QFileDialog& dialog) {
    whileShown = PlatformLiveNavDialogCount();
    dialog.reject();
  });
  EXPECT_FALSE(Select());
  EXPECT_EQ(whileShown, before_.dialogs + 1);
}

TEST_F(Chooser, TheRoot) {
  Choose("/");
  fw::Ref<fw::FolderItem> item = Select();
  ASSERT_TRUE(item);
  EXPECT_EQ(item->NativePath(), "/");
}

TEST_F(Chooser, ANameLongerThan63Bytes) {
  TempDir dir;
  const fs::path folder = dir / ("Scans vom Dachboden, sortiert nach Jahr und Anlass \xe2\x80\x93 "
                                 "\xc3\xbc" "berarbeitet");
  ASSERT_GT(folder.filename().string().size(), 63u);
  fs::create_directory(folder);
  Choose(folder);
  fw::Ref<fw::FolderItem> item = Select();
  ASSERT_TRUE(item);
  EXPECT_EQ(item->NativePath(), folder);
}

TEST_F(Chooser, StartsAtHomeOrWhereTold) {
  std::string shown;
  new testing_support::DialogAnswerer<QFileDialog>([&shown](QFileDialog& dialog) {
    shown = QFile::encodeName(dialog.directory().absolutePath()).toStdString();
    dialog.reject();
  });
  EXPECT_FALSE(Select());
  EXPECT_EQ(shown, QFile::encodeName(QDir::homePath()).toStdString());

  TempDir dir;
  fs::create_directory(dir / "start");
  PlatformSetChooseFolderStart((dir / "start").string());
  Choose(dir.path(), &shown);
  fw::Ref<fw::FolderItem> item = Select();
  ASSERT_TRUE(item);
  EXPECT_EQ(shown, (dir / "start").string());
  EXPECT_EQ(item->NativePath(), dir.path());
}

TEST_F(Chooser, AFolderWithAFIFOInItStillCloses) {
  TempDir dir;
  fs::create_directory(dir / "with a pipe");
  ASSERT_EQ(mkfifo((dir / "with a pipe" / "pipe").c_str(), 0600), 0);
  PlatformSetChooseFolderStart((dir / "with a pipe").string());
  Choose(dir / "with a pipe");
  fw::Ref<fw::FolderItem> item = Select();
  ASSERT_TRUE(item);
  EXPECT_EQ(item->NativePath(), dir / "with a pipe");
}

TEST_F(Chooser, FromAnotherThreadTheDialogRunsOnTheMainThread) {
  TempDir dir;
  fs::create_directory(dir / "from a worker");
  Choose(dir / "from a worker");
  std::atomic<bool> done{false};
  REALfolderItem result = nullptr;
  std::thread worker([&] {
    result = select_();
    done = true;
  });
  while (!done) QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
  worker.join();
  fw::Ref<fw::FolderItem> item = Adopt(result);
  ASSERT_TRUE(item);
  EXPECT_EQ(item->NativePath(), dir / "from a worker");
}

TEST_F(Chooser, TheProgramsTableFindsIt) {
  bindings::BindPluginEntryTable();
  EXPECT_EQ(bindings::PluginEntryAddress(bindings::PluginEntry::SelectFolder), reinterpret_cast<void*>(select_));
}

// ---- the dialog's steps failing, with this program's copy of the chooser ----

OSErr RunFails(NavDialogRef) { return kNavNoApplicationErr; }
OSErr RunsUnseen(NavDialogRef) { return noErr; }
NavUserAction Chosen(NavDialogRef) { return kNavUserActionChoose; }
OSErr ReplyFails(NavDialogRef, NavReplyRecord*) { return kNavInvalidDialogErr; }

// The platform's own reply, noting whether it held a record.
std::vector<bool> gRepliesValid;
OSErr NotedReply(NavDialogRef dialog, NavReplyRecord* reply) {
  const OSErr err = NavDialogGetReply(dialog, reply);
  gRepliesValid.push_back(reply->validRecord);
  return err;
}

// A selection that no longer coerces to an FSRef, while an FSSpec still names it.
OSErr NoFSRef(const AEDesc* desc, DescType type, AEDesc* result) {
  if (type != typeFSRef) return AECoerceDesc(desc, type, result);
  *result = AEDesc{typeNull, nullptr};
  return errAECoercionFail;
}

class DialogSteps : public Road {
 protected:
  void TearDown() override {
    testing_support::DropPendingAnswerers();
    Road::TearDown();
  }
  Live before_;
};

TEST_F(DialogSteps, ARunThatFailsGivesNilAndDisposesOfTheDialog) {
  folderchooser::NavigationCalls calls;
  calls.run = &RunFails;
  calls.userAction = &Chosen;
  calls.getReply = &NotedReply;
  gRepliesValid.clear();
  EXPECT_EQ(folderchooser::ShowChooseFolderDialog(calls), nullptr);
  EXPECT_TRUE(gRepliesValid.empty()) << "a reply was asked of a dialog that failed to run";
  EXPECT_TRUE(before_ == Live{});
}

TEST_F(DialogSteps, AReplyThatFailsOrHoldsNoRecordGivesNilAndNothingStays) {
  folderchooser::NavigationCalls calls;
  calls.run = &RunsUnseen;
  calls.userAction = &Chosen;
  calls.getReply = &ReplyFails;
  EXPECT_EQ(folderchooser::ShowChooseFolderDialog(calls), nullptr);
  EXPECT_TRUE(before_ == Live{});

  // A dialog that never ran gives a reply without a record; it is released all the same.
  gRepliesValid.clear();
  calls.getReply = &NotedReply;
  EXPECT_EQ(folderchooser::ShowChooseFolderDialog(calls), nullptr);
  EXPECT_EQ(gRepliesValid, std::vector<bool>{false});
  EXPECT_TRUE(before_ == Live{});
}

TEST_F(DialogSteps, WithoutAnFSRefTheFSSpecStillGivesTheFolder) {
  TempDir dir;
  fs::create_directory(dir / "Sommer");
  Choose(dir / "Sommer");
  folderchooser::NavigationCalls calls;
  calls.coerce = &NoFSRef;
  fw::Ref<fw::FolderItem> item = Adopt(folderchooser::ShowChooseFolderDialog(calls));
  ASSERT_TRUE(item);
  EXPECT_EQ(item->NativePath(), dir / "Sommer");
  EXPECT_EQ(gAsked.fromFSSpec, 1);
  EXPECT_EQ(gAsked.fromParent, 0);
  EXPECT_TRUE(before_ == Live{});
}

}  // namespace
