#include "sfxstub/host/folder_cleanup.h"

#include <windows.h>
#include <gtest/gtest.h>

#include <string>

#include "sfxstub/host/host_test_util.h"
#include "sfxstub/io/win32_handle.h"

namespace sfx {
namespace {

using test::Exists;
using test::ScopedEnvironment;
using test::ScratchFolder;
using test::WriteTextFile;

// A working folder with a few files, inside a scratch folder.
class FolderCleanupTest : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ = scratch_.Join("_tr_sfx.tm~a01234");
    ASSERT_TRUE(CreateDirectoryA(folder_.c_str(), nullptr));
    for (const char* name : {"setup.ovr", "data.cab", "noext"}) {
      ASSERT_TRUE(WriteTextFile(In(name), name));
    }
  }
  std::string In(const std::string& name) const { return folder_ + "\\" + name; }
  std::string MakeSubfolder() {
    std::string sub = In("sub");
    EXPECT_TRUE(CreateDirectoryA(sub.c_str(), nullptr));
    EXPECT_TRUE(WriteTextFile(sub + "\\inner.txt", "x"));
    EXPECT_TRUE(CreateDirectoryA((sub + "\\deeper").c_str(), nullptr));
    EXPECT_TRUE(WriteTextFile(sub + "\\deeper\\leaf.txt", "x"));
    return sub;
  }

  ScratchFolder scratch_;
  std::string folder_;
};

TEST_F(FolderCleanupTest, FilesOnlyFolderGoesCompletely) {
  EXPECT_EQ(0, DeleteFolderFiles(folder_, "*.*", false));
  EXPECT_FALSE(Exists(folder_));
  EXPECT_TRUE(Exists(scratch_.path()));  // Only the named folder.
}

TEST_F(FolderCleanupTest, SubfolderWithoutRecursionStays) {
  const std::string sub = MakeSubfolder();
  int32_t result = DeleteFolderFiles(folder_, "*.*", false);
  // The folder removal is the last failure: the folder is not empty.
  EXPECT_EQ(ERROR_DIR_NOT_EMPTY, result);
  EXPECT_TRUE(Exists(folder_));
  EXPECT_TRUE(Exists(sub + "\\inner.txt"));
  EXPECT_FALSE(Exists(In("setup.ovr")));
  EXPECT_FALSE(Exists(In("noext")));
}

TEST_F(FolderCleanupTest, RecursionRemovesEverything) {
  MakeSubfolder();
  EXPECT_EQ(0, DeleteFolderFiles(folder_, "*.*", true));
  EXPECT_FALSE(Exists(folder_));
}

TEST_F(FolderCleanupTest, FilePatternSelectsEntries) {
  EXPECT_EQ(ERROR_DIR_NOT_EMPTY, DeleteFolderFiles(folder_, "*.cab", false));
  EXPECT_FALSE(Exists(In("data.cab")));
  EXPECT_TRUE(Exists(In("setup.ovr")));
}

TEST_F(FolderCleanupTest, ReadOnlyFileStaysWithItsFolder) {
  ASSERT_TRUE(SetFileAttributesA(In("data.cab").c_str(), FILE_ATTRIBUTE_READONLY));
  EXPECT_NE(0, DeleteFolderFiles(folder_, "*.*", false));
  EXPECT_TRUE(Exists(In("data.cab")));
  EXPECT_FALSE(Exists(In("setup.ovr")));
  // No attributes were changed.
  EXPECT_NE(0u, GetFileAttributesA(In("data.cab").c_str()) & FILE_ATTRIBUTE_READONLY);
}

TEST_F(FolderCleanupTest, OpenFileStaysWithItsFolder) {
  ScopedHandle open(CreateFileA(In("setup.ovr").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
  ASSERT_TRUE(open.Valid());
  EXPECT_NE(0, DeleteFolderFiles(folder_, "*.*", false));
  EXPECT_TRUE(Exists(In("setup.ovr")));
  EXPECT_FALSE(Exists(In("data.cab")));
  EXPECT_TRUE(Exists(folder_));
  open.Reset();
  EXPECT_EQ(0, DeleteFolderFiles(folder_, "*.*", false));
  EXPECT_FALSE(Exists(folder_));
}

TEST_F(FolderCleanupTest, MissingFolderOrFileIsNothingToDo) {
  EXPECT_EQ(0, DeleteFolderFiles(scratch_.Join("missing"), "*.*", false));
  // A plain file is not a folder: left alone.
  EXPECT_EQ(0, DeleteFolderFiles(In("setup.ovr"), "*.*", true));
  EXPECT_TRUE(Exists(In("setup.ovr")));
}

TEST_F(FolderCleanupTest, WildcardFolderPattern) {
  const std::string other = scratch_.Join("_tr_sfx.tm~b01234");
  const std::string keep = scratch_.Join("keep");
  ASSERT_TRUE(CreateDirectoryA(other.c_str(), nullptr));
  ASSERT_TRUE(CreateDirectoryA(keep.c_str(), nullptr));
  ASSERT_TRUE(WriteTextFile(other + "\\x", "x"));
  EXPECT_EQ(0, DeleteFolderFiles(scratch_.Join("_tr_sfx.tm~*"), "*.*", false));
  EXPECT_FALSE(Exists(folder_));
  EXPECT_FALSE(Exists(other));
  EXPECT_TRUE(Exists(keep));
}

TEST_F(FolderCleanupTest, DotEntriesOfAPatternAreNeverCleaned) {
  // "sub\*" matches "." and ".." as well: ".." is the working folder, which must survive.
  const std::string sub = MakeSubfolder();
  DeleteFolderFiles(sub + "\\*", "*.*", true);
  EXPECT_TRUE(Exists(In("setup.ovr")));
  EXPECT_FALSE(Exists(sub + "\\deeper"));
  EXPECT_TRUE(Exists(sub));
}

// host_link_fixture (CMakeLists.txt) made cleaned\sub\link pointing at outside\.
TEST(FolderCleanupLinkTest, RecursionNeverEntersAFolderLink) {
  const std::string fixture = test::HostPath(HOST_LINK_FIXTURE);
  const std::string link = fixture + "\\cleaned\\sub\\link";
  const DWORD attributes = GetFileAttributesA(link.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES ||
      (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) {
    GTEST_SKIP() << "no folder link at " << link;
  }
  DeleteFolderFiles(fixture + "\\cleaned", "*.*", true);
  EXPECT_EQ("keep\n", test::ReadTextFile(fixture + "\\outside\\keep.txt"));
  EXPECT_FALSE(Exists(fixture + "\\cleaned\\sub\\x.txt"));
  // Windows removes the link itself; Wine refuses to, so the folders holding it may stay.
}

// The working folder's own clean-up: it removes the folder it made, and nothing when something
// else stands at its name by then.
class WorkingFolderCleanupTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(0, CreateWorkingFolder("_tr_sfx.tm~", &folder_, &identity_));
    ASSERT_TRUE(identity_.known);
    ASSERT_TRUE(WriteTextFile(folder_ + "\\setup.ovr", "x"));
    ASSERT_TRUE(WriteTextFile(folder_ + "\\data.cab", "x"));
  }
  ScratchFolder temp_;
  ScopedEnvironment setTemp_{"TEMP", temp_.path().c_str()};
  std::string folder_;
  FolderIdentity identity_;
};

TEST_F(WorkingFolderCleanupTest, ItsOwnFolderGoesCompletely) {
  EXPECT_EQ(0, DeleteWorkingFolder(folder_, identity_, "*.*", false));
  EXPECT_FALSE(Exists(folder_));
  // Gone already: nothing to do.
  EXPECT_EQ(0, DeleteWorkingFolder(folder_, identity_, "*.*", false));
}

TEST_F(WorkingFolderCleanupTest, AnotherFolderAtItsNameIsLeftAlone) {
  ASSERT_TRUE(MoveFileA(folder_.c_str(), (folder_ + "-away").c_str()));
  ASSERT_TRUE(CreateDirectoryA(folder_.c_str(), nullptr));
  ASSERT_TRUE(WriteTextFile(folder_ + "\\someone-elses.txt", "keep"));
  EXPECT_EQ(ERROR_DIRECTORY, DeleteWorkingFolder(folder_, identity_, "*.*", false));
  EXPECT_EQ("keep", test::ReadTextFile(folder_ + "\\someone-elses.txt"));
  EXPECT_TRUE(Exists(folder_ + "-away\\setup.ovr"));
}

TEST_F(WorkingFolderCleanupTest, UnknownIdentityCleansAsBefore) {
  EXPECT_EQ(0, DeleteWorkingFolder(folder_, FolderIdentity(), "*.*", false));
  EXPECT_FALSE(Exists(folder_));
}

// host_link_fixture made swap\link, a folder link to swap\outside, standing where the clean-up
// expects the working folder, as someone who could rename that folder would leave it to
// redirect the clean-up. (It is made on the Unix side: Wine neither makes links from Windows
// code nor renames one without following it, so the link can't be moved to the folder's own
// name; the clean-up does not care what the name is, only what stands there.)
TEST_F(WorkingFolderCleanupTest, ALinkInItsPlaceIsNeverFollowed) {
  const std::string swap = test::HostPath(HOST_LINK_FIXTURE) + "\\swap";
  const std::string link = swap + "\\link";
  const DWORD attributes = GetFileAttributesA(link.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES ||
      (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) {
    GTEST_SKIP() << "no folder link at " << link;
  }
  ASSERT_TRUE(Exists(link + "\\keep.txt"));  // seen through the link

  DeleteWorkingFolder(link, identity_, "*.*", false);
  EXPECT_EQ("keep\n", test::ReadTextFile(swap + "\\outside\\keep.txt"));
  EXPECT_EQ("keep\n", test::ReadTextFile(swap + "\\outside\\setup.ovr"));
  // The plain clean-up does not enter a link named by its folder pattern either.
  DeleteFolderFiles(link, "*.*", false);
  EXPECT_EQ("keep\n", test::ReadTextFile(swap + "\\outside\\keep.txt"));
  EXPECT_EQ("keep\n", test::ReadTextFile(swap + "\\outside\\setup.ovr"));
  // Windows removes the link itself; Wine refuses to remove a Unix link, so it may stay.
  // The real working folder was not touched by any of this.
  EXPECT_TRUE(Exists(folder_ + "\\setup.ovr"));
}

}  // namespace
}  // namespace sfx
