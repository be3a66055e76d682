#include <gtest/gtest.h>

#include "TestSupport.h"
#include "framework/FolderItem.h"

using testing_support::TempDir;
using testing_support::WriteFile;

TEST(FolderItem, WalksAFolderInAStableOrder) {
  TempDir dir;
  for (const char* name : {"b.png", "a.jpg", "C.gif", "\xC3\xA9t\xC3\xA9.png", "with space.bmp"})
    WriteFile(dir / name, "x");
  std::filesystem::create_directory(dir / "sub");
  auto folder = fw::MakeRef<fw::FolderItem>(dir.path());
  ASSERT_TRUE(folder->Directory());
  ASSERT_EQ(folder->Count(), 6);
  std::vector<std::string> names;
  for (int i = 1; i <= folder->Count(); ++i) names.push_back(folder->Item(i)->Name());
  EXPECT_EQ(names, (std::vector<std::string>{"C.gif", "a.jpg", "b.png", "sub", "with space.bmp",
                                             "\xC3\xA9t\xC3\xA9.png"}));
  EXPECT_FALSE(folder->Item(0));
  EXPECT_FALSE(folder->Item(7));
  EXPECT_TRUE(folder->Item(4)->Directory());
  EXPECT_EQ(folder->Item(4)->Count(), 0);

  // Item keeps the listing of the last Count, so a folder that gains items doesn't shift the numbers.
  WriteFile(dir / "0first.png", "x");
  EXPECT_EQ(folder->Item(1)->Name(), "C.gif");
  EXPECT_EQ(folder->Count(), 7);
  EXPECT_EQ(folder->Item(1)->Name(), "0first.png");
}

TEST(FolderItem, ChildParentExistsAndCreate) {
  TempDir dir;
  auto folder = fw::MakeRef<fw::FolderItem>(dir.path());
  fw::Ref<fw::FolderItem> out = folder->Child("Photos (Dithered)");
  ASSERT_TRUE(out);
  EXPECT_FALSE(out->Exists());
  EXPECT_TRUE(out->CreateAsFolder());
  EXPECT_TRUE(out->Exists());
  EXPECT_TRUE(out->Directory());
  EXPECT_FALSE(out->CreateAsFolder());  // already there
  EXPECT_EQ(out->Parent()->NativePath(), dir.path());
  EXPECT_EQ(out->Name(), "Photos (Dithered)");
  EXPECT_FALSE(folder->Child("../escape"));
  EXPECT_FALSE(folder->Child(""));
  EXPECT_FALSE(fw::MakeRef<fw::FolderItem>("/")->Parent());
  EXPECT_FALSE(fw::MakeRef<fw::FolderItem>(dir / "missing" / "deeper")->CreateAsFolder());

  std::filesystem::create_symlink(dir / "nowhere", dir / "dangling");
  EXPECT_TRUE(folder->Child("dangling")->Exists());
  EXPECT_FALSE(folder->Child("dangling")->Directory());
  EXPECT_EQ(folder->Child("plain")->Count(), 0);
}
