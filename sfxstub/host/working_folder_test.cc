#include "sfxstub/host/working_folder.h"

#include <aclapi.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "sfxstub/host/host_test_util.h"
#include "sfxstub/host/win32_handle.h"

namespace sfx {
namespace {

using test::Exists;
using test::RemoveTree;
using test::ScopedEnvironment;
using test::ScratchFolder;

constexpr char kPrefix[] = "_tr_sfx.tm~";

// The five digits every name of this thread ends with.
std::string ThreadDigits() {
  char digits[8];
  std::snprintf(digits, sizeof digits, "%05lu", GetCurrentThreadId() % 100000);
  return digits;
}

std::string NameFor(const std::string& base, char letter) {
  return base + "\\" + kPrefix + letter + ThreadDigits();
}

TEST(WorkingFolderTest, NameUnderTempWithLetterAndThreadId) {
  ScratchFolder temp;
  ScopedEnvironment setTemp("TEMP", temp.path().c_str());
  std::string folder;
  EXPECT_EQ(0, CreateWorkingFolder(kPrefix, &folder));
  EXPECT_EQ(NameFor(temp.path(), 'a'), folder);
  DWORD attributes = GetFileAttributesA(folder.c_str());
  ASSERT_NE(INVALID_FILE_ATTRIBUTES, attributes);
  EXPECT_NE(0u, attributes & FILE_ATTRIBUTE_DIRECTORY);

  // The same thread again: 'a' is taken now, so 'b'.
  std::string second;
  EXPECT_EQ(0, CreateWorkingFolder(kPrefix, &second));
  EXPECT_EQ(NameFor(temp.path(), 'b'), second);
}

TEST(WorkingFolderTest, FallsBackToTmpThenFixedFolder) {
  ScratchFolder tmp;
  {
    ScopedEnvironment noTemp("TEMP", nullptr);
    ScopedEnvironment setTmp("TMP", tmp.path().c_str());
    std::string folder;
    CreateWorkingFolder(kPrefix, &folder);
    EXPECT_EQ(NameFor(tmp.path(), 'a'), folder);
  }
  {
    // An empty value counts as unset.
    ScopedEnvironment emptyTemp("TEMP", "");
    ScopedEnvironment setTmp("TMP", tmp.path().c_str());
    std::string folder;
    CreateWorkingFolder(kPrefix, &folder);
    EXPECT_EQ(NameFor(tmp.path(), 'b'), folder);
  }
  {
    ScopedEnvironment noTemp("TEMP", nullptr);
    ScopedEnvironment noTmp("TMP", nullptr);
    const bool hadFixed = Exists("C:\\TEMP");
    // A prefix of its own keeps this test clear of anything else in C:\TEMP.
    const std::string prefix = "host_wf_test~";
    std::string folder;
    CreateWorkingFolder(prefix.c_str(), &folder);
    ASSERT_FALSE(folder.empty());
    EXPECT_EQ(0u, folder.rfind("C:\\TEMP\\" + prefix, 0)) << folder;
    EXPECT_TRUE(Exists(folder));
    RemoveTree(folder);
    if (!hadFixed) RemoveDirectoryA("C:\\TEMP");
  }
}

TEST(WorkingFolderTest, CreatesMissingBaseFolder) {
  ScratchFolder scratch;
  const std::string base = scratch.Join("not-yet");
  ScopedEnvironment setTemp("TEMP", base.c_str());
  std::string folder;
  CreateWorkingFolder(kPrefix, &folder);
  EXPECT_EQ(NameFor(base, 'a'), folder);
  EXPECT_TRUE(Exists(folder));
}

TEST(WorkingFolderTest, SkipsTakenNamesFilesIncluded) {
  ScratchFolder temp;
  ScopedEnvironment setTemp("TEMP", temp.path().c_str());
  ASSERT_TRUE(CreateDirectoryA(NameFor(temp.path(), 'a').c_str(), nullptr));
  // A plain file takes a name just as well as a folder.
  ASSERT_TRUE(test::WriteTextFile(NameFor(temp.path(), 'b'), "x"));
  std::string folder;
  CreateWorkingFolder(kPrefix, &folder);
  EXPECT_EQ(NameFor(temp.path(), 'c'), folder);
}

TEST(WorkingFolderTest, AllNamesTakenCreatesNothing) {
  ScratchFolder temp;
  ScopedEnvironment setTemp("TEMP", temp.path().c_str());
  for (char letter = 'a'; letter <= 'z'; ++letter) {
    ASSERT_TRUE(CreateDirectoryA(NameFor(temp.path(), letter).c_str(), nullptr));
  }
  std::string folder = "stale";
  EXPECT_EQ(ERROR_ALREADY_EXISTS, CreateWorkingFolder(kPrefix, &folder));
  EXPECT_TRUE(folder.empty());

  char buffer[MAX_PATH];
  std::memset(buffer, 'x', sizeof buffer);
  EXPECT_EQ(ERROR_ALREADY_EXISTS, CreateWorkingFolder(buffer, sizeof buffer, kPrefix));
  EXPECT_EQ('\0', buffer[0]);
}

TEST(WorkingFolderTest, OverlongBaseFailsCleanly) {
  ScratchFolder scratch;
  // base + '\' + 11-character prefix + 6 characters + terminator = 260 exactly fits.
  std::string base = scratch.Join("");
  base.append(MAX_PATH - 1 - 1 - std::strlen(kPrefix) - 6 - base.size(), 'd');
  {
    ScopedEnvironment setTemp("TEMP", base.c_str());
    char buffer[MAX_PATH + 8];
    std::memset(buffer, 'x', sizeof buffer);
    int32_t result = CreateWorkingFolder(buffer, MAX_PATH, kPrefix);
    // Wine or the file system may refuse a name this long; what counts is the bound.
    if (result == 0) {
      EXPECT_EQ(MAX_PATH - 1, std::strlen(buffer));
    }
    EXPECT_EQ('x', buffer[MAX_PATH]);
    RemoveTree(base);
  }
  base += 'd';
  {
    ScopedEnvironment setTemp("TEMP", base.c_str());
    char buffer[MAX_PATH + 8];
    std::memset(buffer, 'x', sizeof buffer);
    EXPECT_EQ(ERROR_FILENAME_EXCED_RANGE, CreateWorkingFolder(buffer, MAX_PATH, kPrefix));
    EXPECT_EQ('\0', buffer[0]);
    EXPECT_EQ('x', buffer[MAX_PATH]);
    EXPECT_FALSE(Exists(base));  // Not even the base was made.
  }
  {
    // A value longer than any path buffer.
    std::string huge = scratch.Join(std::string(2000, 'h'));
    ScopedEnvironment setTemp("TEMP", huge.c_str());
    std::string folder = "stale";
    EXPECT_EQ(ERROR_FILENAME_EXCED_RANGE, CreateWorkingFolder(kPrefix, &folder));
    EXPECT_TRUE(folder.empty());
  }
}

TEST(WorkingFolderTest, SmallCallerBufferIsRespected) {
  ScratchFolder temp;
  ScopedEnvironment setTemp("TEMP", temp.path().c_str());
  const std::string expected = NameFor(temp.path(), 'a');
  char buffer[MAX_PATH];
  std::memset(buffer, 'x', sizeof buffer);
  const uint32_t tooSmall = static_cast<uint32_t>(expected.size());  // No room for the zero.
  EXPECT_EQ(ERROR_FILENAME_EXCED_RANGE, CreateWorkingFolder(buffer, tooSmall, kPrefix));
  EXPECT_EQ('\0', buffer[0]);
  EXPECT_EQ('x', buffer[tooSmall]);
  EXPECT_FALSE(Exists(expected));

  EXPECT_EQ(0, CreateWorkingFolder(buffer, tooSmall + 1, kPrefix));
  EXPECT_EQ(expected, buffer);
}

// Whether the object's access list holds an allow entry for S-1-1-0, inherited by subfolders
// and files, that lets every account read, write, run and delete.
//
// Windows keeps the entry as given (GENERIC_ALL, or FILE_ALL_ACCESS once mapped). Wine stores no
// descriptor for the folder here: it turns the new list into Unix mode bits (o+rwx) and makes up
// the entries from those bits when asked, so Everyone reads back with 0x1301FF (no WRITE_DAC or
// WRITE_OWNER) and with the inheritance flags it shows on every folder. Hence the test looks for
// the rights that matter rather than for the exact mask.
bool EveryoneMayDoAnything(const std::string& path) {
  PACL acl = nullptr;
  ScopedLocal descriptor;
  if (GetNamedSecurityInfoA(path.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr,
                            nullptr, &acl, nullptr, descriptor.Receive<void>()) != ERROR_SUCCESS ||
      acl == nullptr) {
    return false;
  }
  SID_IDENTIFIER_AUTHORITY worldAuthority = SECURITY_WORLD_SID_AUTHORITY;
  ScopedSid everyone;
  if (!AllocateAndInitializeSid(&worldAuthority, 1, SECURITY_WORLD_RID, 0, 0, 0, 0, 0, 0, 0,
                                everyone.Receive())) {
    return false;
  }
  const ACCESS_MASK wanted = FILE_GENERIC_READ | FILE_GENERIC_WRITE | FILE_GENERIC_EXECUTE |
                             DELETE | FILE_DELETE_CHILD;
  for (DWORD i = 0; i < acl->AceCount; ++i) {
    void* ace = nullptr;
    if (!GetAce(acl, i, &ace)) return false;
    auto* header = static_cast<ACE_HEADER*>(ace);
    if (header->AceType != ACCESS_ALLOWED_ACE_TYPE) continue;
    auto* allowed = static_cast<ACCESS_ALLOWED_ACE*>(ace);
    if (!EqualSid(reinterpret_cast<PSID>(&allowed->SidStart), everyone.Get())) continue;
    const bool full = allowed->Mask == GENERIC_ALL || (allowed->Mask & wanted) == wanted;
    const BYTE inheritance =
        header->AceFlags & (OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE | INHERIT_ONLY_ACE);
    if (full && inheritance == (OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE)) return true;
  }
  return false;
}

TEST(WorkingFolderTest, FolderIsOpenToEveryone) {
  ScratchFolder temp;
  ScopedEnvironment setTemp("TEMP", temp.path().c_str());
  std::string folder;
  ASSERT_EQ(0, CreateWorkingFolder(kPrefix, &folder));
  EXPECT_TRUE(EveryoneMayDoAnything(folder));
  // The base folder is left as it was.
  EXPECT_FALSE(EveryoneMayDoAnything(temp.path()));
}

TEST(WorkingFolderTest, AccessChangeWaysOut) {
  ScratchFolder temp;
  // Not NT: nothing is touched, success.
  EXPECT_EQ(0, internal::GrantEveryoneFullAccess(temp.path().c_str(), SE_FILE_OBJECT,
                                                 VER_PLATFORM_WIN32_WINDOWS, "no-such.dll"));
  EXPECT_FALSE(EveryoneMayDoAnything(temp.path()));
  // A library without the security functions.
  EXPECT_EQ(ERROR_INVALID_ORDINAL,
            internal::GrantEveryoneFullAccess(temp.path().c_str(), SE_FILE_OBJECT,
                                              VER_PLATFORM_WIN32_NT, "kernel32.dll"));
  // No library at all: the loader's number.
  EXPECT_EQ(ERROR_MOD_NOT_FOUND,
            internal::GrantEveryoneFullAccess(temp.path().c_str(), SE_FILE_OBJECT,
                                              VER_PLATFORM_WIN32_NT, "host-no-such-library.dll"));
  EXPECT_FALSE(EveryoneMayDoAnything(temp.path()));
  // A missing object: the security call's number.
  EXPECT_EQ(ERROR_FILE_NOT_FOUND,
            GrantEveryoneFullAccess(temp.Join("missing").c_str(), SE_FILE_OBJECT));
  // The real thing on an existing folder.
  EXPECT_EQ(0, GrantEveryoneFullAccess(temp.path().c_str(), SE_FILE_OBJECT));
  EXPECT_TRUE(EveryoneMayDoAnything(temp.path()));
}

}  // namespace
}  // namespace sfx
