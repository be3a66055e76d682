#include <dlfcn.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstring>

#include "TestSupport.h"
#include "bindings/ImageFilter.h"
#include "bindings/PluginEntryTable.h"
#include "framework/ClassRegistry.h"
#include "framework/PluginHost.h"

using testing_support::TempDir;

namespace {

const char* kProbeKey = "GateProbe.Probe(source as Picture) as Picture";

bool HasKey(const std::string& key) {
  const auto keys = fw::PluginKeys();
  return std::find(keys.begin(), keys.end(), key) != keys.end();
}

// A private copy of the probe plug-in: a library loaded from another file has globals of its own.
std::filesystem::path CopyOfProbe(const TempDir& dir, const std::string& name) {
  const auto target = dir / name;
  std::filesystem::copy_file(std::filesystem::path(SPECKMOOR_TEST_PLUGIN_DIR) / "libGateProbe.so", target);
  return target;
}

template <typename Fn>
Fn Symbol(const std::filesystem::path& file, const char* name) {
  void* handle = dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
  EXPECT_TRUE(handle) << dlerror();
  return reinterpret_cast<Fn>(handle ? dlsym(handle, name) : nullptr);
}

double Version7() { return 7.0; }

std::atomic<int> gVersionAsks{0};
std::atomic<bool> gKnowVersion{false};

// A resolver that doesn't know "REALGetRBVersion" until told to.
void* ForgetfulResolver(const char* name) {
  if (std::strcmp(name, "REALGetRBVersion") == 0) {
    ++gVersionAsks;
    return gKnowVersion ? reinterpret_cast<void*>(&Version7) : nullptr;
  }
  return fw::FrameworkResolve(name);
}

}  // namespace

TEST(PluginHost, VersionGateRegistersFrom55On) {
  TempDir dir;
  const auto early = CopyOfProbe(dir, "libGate549.so");
  const auto current = CopyOfProbe(dir, "libGate55.so");
  using ClassFn = const REALclassDefinition* (*)();

  fw::SetReportedFrameworkVersion(5.49);
  ASSERT_TRUE(fw::LoadPlugin(early));
  EXPECT_FALSE(HasKey(kProbeKey));
  EXPECT_EQ(fw::PluginVersionOf(early), 6);
  EXPECT_EQ(Symbol<ClassFn>(early, "GateProbeClass")()->forSystemUse, 0);

  const REALclassDefinition* record = Symbol<ClassFn>(current, "GateProbeClass")();
  EXPECT_EQ(record->forSystemUse, 0);
  fw::SetReportedFrameworkVersion(5.5);
  ASSERT_TRUE(fw::LoadPlugin(current));
  fw::SetReportedFrameworkVersion(fw::kFrameworkVersion);
  EXPECT_TRUE(HasKey(kProbeKey));
  EXPECT_TRUE(fw::RuntimeLookupPluginEntrypoint(kProbeKey));
  // No plug-in superclass: the class's data follows the 24-byte header.
  EXPECT_EQ(record->forSystemUse, 24);
  fw::RuntimeInitExternalClasses();
  const fw::ClassRecord* cls = fw::FindClass("GateProbe");
  ASSERT_TRUE(cls);
  EXPECT_EQ(cls->dataOffset, 24u);
  EXPECT_THAT(cls->operations, testing::ElementsAre("Probe(source as Picture) as Picture"));
}

TEST(PluginHost, UnknownVersionRoutineRegistersNothingAndLookupsAreAskedAgain) {
  TempDir dir;
  const auto copy = CopyOfProbe(dir, "libGateForgetful.so");
  const auto keysBefore = fw::PluginKeys().size();
  auto entry = Symbol<void (*)(REALResolver)>(copy, "REALPluginMain");
  ASSERT_TRUE(entry);
  gVersionAsks = 0;
  gKnowVersion = false;
  entry(&ForgetfulResolver);
  EXPECT_EQ(fw::PluginKeys().size(), keysBefore);
  EXPECT_EQ(gVersionAsks, 1);

  auto ask = Symbol<double (*)()>(copy, "GateProbeAskVersion");
  EXPECT_EQ(ask(), 0.0);  // still unknown: asked again, 0.0 again
  EXPECT_EQ(gVersionAsks, 2);
  gKnowVersion = true;
  EXPECT_EQ(ask(), 7.0);
  EXPECT_EQ(gVersionAsks, 3);
  EXPECT_EQ(ask(), 7.0);  // now cached
  EXPECT_EQ(gVersionAsks, 3);
}

TEST(PluginHost, BrokenPluginsAreSkippedAndNamed) {
  testing::internal::CaptureStderr();
  fw::LoadPlugins(SPECKMOOR_BAD_PLUGIN_DIR);
  const std::string err = testing::internal::GetCapturedStderr();
  const auto failures = fw::PluginLoadFailures();
  auto failed = [&](const std::string& file) {
    return std::any_of(failures.begin(), failures.end(), [&](auto& f) { return f.file == file; });
  };
  EXPECT_TRUE(failed("libNotALibrary.so"));
  EXPECT_TRUE(failed("libNoEntry.so"));
  EXPECT_TRUE(failed("libBadRecord.so"));
  EXPECT_THAT(err, testing::HasSubstr("libNotALibrary.so"));
  EXPECT_THAT(err, testing::HasSubstr("libNoEntry.so: it has no REALPluginMain"));
  EXPECT_THAT(err, testing::HasSubstr("libBadRecord.so: it registers a class record of version 5"));
  EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 3);
  // The sound method it registered before the bad record is withdrawn with it.
  EXPECT_FALSE(HasKey("BadRecordAnswer as Integer"));
}

TEST(PluginHost, ResolverAnswersOnlyFrameworkRoutines) {
  for (const char* name : {"RegisterPluginVersion", "REALGetRBVersion", "PluginRegisterClass", "PluginRegisterMethod",
                           "newPicture", "lockPictureDescription", "unlockPictureDescription"})
    EXPECT_TRUE(fw::FrameworkResolve(name)) << name;
  EXPECT_FALSE(fw::FrameworkResolve("REALGetRBVersionX"));
  EXPECT_FALSE(fw::FrameworkResolve(""));
  EXPECT_FALSE(fw::FrameworkResolve(nullptr));

  auto newPicture = reinterpret_cast<NewPictureProc>(fw::FrameworkResolve("newPicture"));
  auto lock = reinterpret_cast<LockPictureDescriptionProc>(fw::FrameworkResolve("lockPictureDescription"));
  auto unlock = reinterpret_cast<UnlockPictureDescriptionProc>(fw::FrameworkResolve("unlockPictureDescription"));
  EXPECT_FALSE(newPicture(0, 5, 32));
  REALpicture raw = newPicture(7, 5, 32);
  ASSERT_TRUE(raw);
  auto picture = fw::Ref<fw::Picture>::Adopt(dynamic_cast<fw::Picture*>(reinterpret_cast<fw::Object*>(raw)));
  ASSERT_TRUE(picture);
  EXPECT_EQ(picture->RefCount(), 1);
  REALpictureDescription d{};
  EXPECT_EQ(lock(raw, &d), 1);
  EXPECT_EQ(d.gworld, picture->GWorld());
  EXPECT_EQ(d.width, 7);
  EXPECT_EQ(d.height, 5);
  EXPECT_EQ(d.depth, 32);
  EXPECT_EQ(picture->DescriptionLocks(), 1);
  unlock(raw);
  EXPECT_EQ(picture->DescriptionLocks(), 0);
  EXPECT_EQ(lock(nullptr, &d), 0);
}

TEST(PluginHost, ProgramTableIsBoundByExactKeys) {
  testing_support::LoadBundlePlugins();
  bindings::BindPluginEntryTable();
  EXPECT_EQ(bindings::kPluginEntryKeys[0],
            "GrayScale(src as Picture,grayscaleTypeValue as Integer,mask as Picture,progress as IProgressHandler) as Picture");
  EXPECT_EQ(bindings::kPluginEntryKeys[1], "EnsurePictureBits(src as Picture,depth as Integer) as Picture");
  EXPECT_EQ(bindings::kPluginEntryKeys[static_cast<std::size_t>(bindings::PluginEntry::ConvolutionSharpen)],
            "ConvolutionEffect.Sharpen(source as Picture,mask as Picture) as Picture");
  EXPECT_EQ(bindings::kPluginEntryKeys[static_cast<std::size_t>(bindings::PluginEntry::SaveAsPNG)],
            "Folderitem.SaveAsPNGQZB(pic as picture, gamma as single) as boolean");
  EXPECT_TRUE(bindings::PluginEntryAddress(bindings::PluginEntry::GrayScale));
  EXPECT_TRUE(bindings::PluginEntryAddress(bindings::PluginEntry::EnsurePictureBits));
  EXPECT_TRUE(bindings::PluginEntryAddress(bindings::PluginEntry::MPImageFilterInit));
  EXPECT_TRUE(bindings::PluginEntryAddress(bindings::PluginEntry::MPImageFilterProgressHandlerSet));

  // Through the table on a real picture.
  fw::Ref<fw::Picture> colour = testing_support::MakePicture(4, 4, [](int x, int y) { return fw::RGB(x * 60, y * 60, 30); });
  fw::Ref<fw::Picture> bits = bindings::EnsurePictureBits(colour, 32);
  ASSERT_TRUE(bits);
  fw::Ref<fw::Picture> grey = bindings::GrayScale(bits, 3, nullptr, nullptr);
  ASSERT_TRUE(grey);
  EXPECT_NE(grey.get(), colour.get());
  const fw::Color g = grey->RGBSurface()->Pixel(3, 2);
  EXPECT_EQ(fw::Red(g), fw::Green(g));
  EXPECT_EQ(fw::Green(g), fw::Blue(g));
}

TEST(PluginHost, EmptySlotRaisesInsteadOfJumpingToZero) {
  testing_support::LoadBundlePlugins();
  // As if the choose-folder plug-in were missing.
  bindings::BindPluginEntryTable([](const std::string& key) {
    return key == "SelectFolderQZB as folderitem" ? nullptr : fw::RuntimeLookupPluginEntrypoint(key);
  });
  using Fn = REALfolderItem (*)();
  EXPECT_THROW(bindings::PluginRoutine<Fn>(bindings::PluginEntry::SelectFolder), fw::UnsupportedOperationException);
  EXPECT_EQ(bindings::UnboundPluginEntries(), std::vector<std::string_view>{"SelectFolderQZB as folderitem"});
  bindings::BindPluginEntryTable();
}
