#include "sfxstub/host/working_folder.h"

#include <aclapi.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "sfxstub/host/host_test_util.h"
#include "tests/common/win32_sid.h"
#include "sfxstub/io/win32_handle.h"

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

// A TEMP the ANSI code page cannot name (a Polish and a Japanese user name on a Western system)
// works, and the MAX_PATH bound counts characters, not UTF-8 bytes.
TEST(WorkingFolderTest, BaseOutsideTheAnsiCodePage) {
  ScratchFolder scratch;
  const std::string base = scratch.Join("\xC5\x81ukasz \xE6\x9D\xB1\xE4\xBA\xAC");
  ScopedEnvironment setTemp("TEMP", base.c_str());
  std::string folder;
  EXPECT_EQ(0, CreateWorkingFolder(kPrefix, &folder));
  EXPECT_EQ(NameFor(base, 'a'), folder);
  EXPECT_TRUE(Exists(folder));

  // As many two-byte characters as the bound leaves room for: not too long; one more is.
  std::string longBase = scratch.Join("");
  const size_t room = MAX_PATH - 1 - 1 - std::strlen(kPrefix) - 6 - longBase.size();
  for (size_t i = 0; i < room; ++i) longBase += "\xC5\x81";
  {
    ScopedEnvironment setLong("TEMP", longBase.c_str());
    EXPECT_NE(ERROR_FILENAME_EXCED_RANGE, CreateWorkingFolder(kPrefix, &folder));
  }
  longBase += "\xC5\x81";
  ScopedEnvironment setLonger("TEMP", longBase.c_str());
  EXPECT_EQ(ERROR_FILENAME_EXCED_RANGE, CreateWorkingFolder(kPrefix, &folder));
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

// The rights that let an account change a folder or what is in it.
constexpr ACCESS_MASK kChangeRights = FILE_WRITE_DATA | FILE_APPEND_DATA | FILE_WRITE_EA |
                                      FILE_WRITE_ATTRIBUTES | DELETE | FILE_DELETE_CHILD |
                                      WRITE_DAC | WRITE_OWNER | GENERIC_WRITE | GENERIC_ALL;

// What the folder's access list says, read back through the platform: whether every account
// but the current one, SYSTEM and Administrators lacks every right to change the folder or its
// contents, and whether Everyone may read and run what is in it (an entry inherited by files
// and subfolders). `listing` describes the entries, for the failure message.
struct AccessReport {
  bool readable = false;
  bool othersMayChange = false;
  bool everyoneReadsAndRuns = false;
  std::string listing;
};

AccessReport ReadAccess(const std::string& path) {
  AccessReport report;
  PACL acl = nullptr;
  ScopedLocal descriptor;
  if (GetNamedSecurityInfoA(path.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr,
                            nullptr, &acl, nullptr, descriptor.Receive()) != ERROR_SUCCESS) {
    return report;
  }
  report.readable = true;
  if (acl == nullptr) {  // No list at all lets everyone do anything.
    report.othersMayChange = true;
    report.listing = "null DACL";
    return report;
  }
  const std::string user = test::CurrentUserSid();
  for (DWORD i = 0; i < acl->AceCount; ++i) {
    void* ace = nullptr;
    if (!GetAce(acl, i, &ace)) break;
    auto* header = static_cast<ACE_HEADER*>(ace);
    if (header->AceType != ACCESS_ALLOWED_ACE_TYPE) continue;
    auto* allowed = static_cast<ACCESS_ALLOWED_ACE*>(ace);
    const std::string sid = test::SidText(reinterpret_cast<PSID>(&allowed->SidStart));
    char line[160];
    std::snprintf(line, sizeof line, "%s mask=%08lX flags=%02X; ", sid.c_str(),
                  static_cast<unsigned long>(allowed->Mask), header->AceFlags);
    report.listing += line;
    const bool trusted = sid == user || sid == "S-1-5-18" || sid == "S-1-5-32-544";
    if (!trusted && (allowed->Mask & kChangeRights) != 0) report.othersMayChange = true;
    const ACCESS_MASK readRun = FILE_READ_DATA | FILE_EXECUTE;
    const BYTE inheritance = header->AceFlags & (OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE);
    if (sid == "S-1-1-0" && (allowed->Mask & readRun) == readRun &&
        inheritance == (OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE)) {
      report.everyoneReadsAndRuns = true;
    }
  }
  return report;
}

TEST(WorkingFolderTest, OtherAccountsMayReadButNeverChange) {
  ScratchFolder temp;
  ScopedEnvironment setTemp("TEMP", temp.path().c_str());
  std::string folder;
  FolderIdentity identity;
  ASSERT_EQ(0, CreateWorkingFolder(kPrefix, &folder, &identity));
  const AccessReport report = ReadAccess(folder);
  ASSERT_TRUE(report.readable);
  EXPECT_FALSE(report.othersMayChange) << report.listing;
  EXPECT_TRUE(report.everyoneReadsAndRuns) << report.listing;
  // A file made inside inherits the same list.
  ASSERT_TRUE(test::WriteTextFile(folder + "\\inside.txt", "x"));
  const AccessReport inside = ReadAccess(folder + "\\inside.txt");
  EXPECT_FALSE(inside.othersMayChange) << inside.listing;
}

TEST(WorkingFolderTest, IdentityIsThatOfTheFolderItself) {
  ScratchFolder temp;
  ScopedEnvironment setTemp("TEMP", temp.path().c_str());
  std::string folder;
  FolderIdentity identity;
  ScopedHandle pin;
  ASSERT_EQ(0, CreateWorkingFolder(kPrefix, &folder, &identity, &pin));
  ASSERT_TRUE(identity.known);
  EXPECT_TRUE(pin.Valid());
  ScopedHandle again(OpenFolderItself(folder, FILE_READ_ATTRIBUTES));
  ASSERT_TRUE(again.Valid());
  FolderIdentity read;
  ASSERT_TRUE(ReadFolderIdentity(again.Get(), &read));
  EXPECT_EQ(identity, read);
  ASSERT_TRUE(ReadFolderIdentity(pin.Get(), &read));
  EXPECT_EQ(identity, read);
  // Another folder is another identity; a file is no folder at all; unknown is never the same.
  std::string second;
  FolderIdentity other;
  ASSERT_EQ(0, CreateWorkingFolder(kPrefix, &second, &other));
  EXPECT_NE(other, identity);
  ASSERT_TRUE(test::WriteTextFile(temp.Join("plain.txt"), "x"));
  ScopedHandle file(OpenFolderItself(temp.Join("plain.txt"), FILE_READ_ATTRIBUTES));
  ASSERT_TRUE(file.Valid());
  EXPECT_FALSE(ReadFolderIdentity(file.Get(), &read));
  EXPECT_FALSE(read.known);
  EXPECT_NE(FolderIdentity(), FolderIdentity());
}

// A descriptor's owner and entries as text: "SID mask flags" per entry.
struct DescriptorText {
  bool daclProtected = false;
  std::string owner;
  std::vector<std::string> entries;
};

DescriptorText Describe(PSECURITY_DESCRIPTOR descriptor) {
  DescriptorText text;
  SECURITY_DESCRIPTOR_CONTROL control = 0;
  DWORD revision = 0;
  PSID owner = nullptr;
  BOOL present = FALSE, defaulted = FALSE;
  PACL acl = nullptr;
  if (!GetSecurityDescriptorControl(descriptor, &control, &revision) ||
      !GetSecurityDescriptorOwner(descriptor, &owner, &defaulted) ||
      !GetSecurityDescriptorDacl(descriptor, &present, &acl, &defaulted) || !present || !acl) {
    return text;
  }
  text.daclProtected = (control & SE_DACL_PROTECTED) != 0;
  text.owner = owner ? test::SidText(owner) : "";
  for (DWORD i = 0; i < acl->AceCount; ++i) {
    void* ace = nullptr;
    if (!GetAce(acl, i, &ace)) break;
    auto* allowed = static_cast<ACCESS_ALLOWED_ACE*>(ace);
    char line[160];
    std::snprintf(line, sizeof line, "%s %08lX %02X",
                  test::SidText(reinterpret_cast<PSID>(&allowed->SidStart)).c_str(),
                  static_cast<unsigned long>(allowed->Mask), allowed->Header.AceFlags);
    text.entries.push_back(line);
  }
  return text;
}

// The two lists: for an account outside Administrators, and for one that works through them
// (the account itself left out, owner Administrators, OWNER RIGHTS only reading). Every entry
// is inherited by files and folders inside (flags 03); full control is 001F01FF, read and
// execute 001200A9.
std::vector<std::string> ExpectedEntries(bool administrators) {
  if (administrators) {
    return {"S-1-5-18 001F01FF 03", "S-1-5-32-544 001F01FF 03", "S-1-3-4 001200A9 03",
            "S-1-1-0 001200A9 03"};
  }
  return {test::CurrentUserSid() + " 001F01FF 03", "S-1-5-18 001F01FF 03",
          "S-1-5-32-544 001F01FF 03", "S-1-1-0 001200A9 03"};
}

TEST(WorkingFolderTest, DescriptorForEitherKindOfAccount) {
  for (bool administrators : {false, true}) {
    SCOPED_TRACE(administrators);
    FolderSecurity security;
    ASSERT_EQ(0, internal::MakeFolderSecurity(administrators, &security));
    EXPECT_EQ(security.attributes.nLength, sizeof security.attributes);
    EXPECT_FALSE(security.attributes.bInheritHandle);
    const DescriptorText text = Describe(security.attributes.lpSecurityDescriptor);
    EXPECT_TRUE(text.daclProtected);
    EXPECT_EQ(administrators ? "S-1-5-32-544" : test::CurrentUserSid(), text.owner);
    EXPECT_EQ(ExpectedEntries(administrators), text.entries);
  }
}

// What the folder carries at its first moment, seen by the seam right after the creation call:
// the descriptor it was created with, and what the platform reads back from the folder then.
// (Wine neither stores nor enforces access lists: it reads back one made from the Unix mode,
// which lets no other account change the folder either.)
DescriptorText g_given;
AccessReport g_atFirstMoment;

void SeeFirstMoment(const std::string& path, const SECURITY_ATTRIBUTES* given) {
  g_given = given ? Describe(given->lpSecurityDescriptor) : DescriptorText();
  g_atFirstMoment = ReadAccess(path);
}

TEST(WorkingFolderTest, CreatedWithItsListFromTheFirstMoment) {
  ScratchFolder temp;
  ScopedEnvironment setTemp("TEMP", temp.path().c_str());
  internal::SetFolderCreatedHookForTesting(&SeeFirstMoment);
  std::string folder;
  const int32_t result = CreateWorkingFolder(kPrefix, &folder);
  internal::SetFolderCreatedHookForTesting(nullptr);
  ASSERT_EQ(0, result);
  EXPECT_TRUE(g_given.daclProtected);
  EXPECT_TRUE(g_given.entries == ExpectedEntries(true) || g_given.entries == ExpectedEntries(false))
      << ::testing::PrintToString(g_given.entries);
  ASSERT_TRUE(g_atFirstMoment.readable);
  EXPECT_FALSE(g_atFirstMoment.othersMayChange) << g_atFirstMoment.listing;
}

// Whatever is done to the new folder between its creation and the pin makes the stub refuse it:
// no folder is handed back, and nothing anyone put at the name is removed.
TEST(WorkingFolderTest, AFolderSpoiledBeforeItIsPinnedIsRefused) {
  using Spoil = void (*)(const std::string& path, const SECURITY_ATTRIBUTES*);
  const struct {
    const char* what;
    Spoil spoil;
    int32_t result;
    const char* left;  // what stands at the name, or in the folder, afterwards ("" for nothing)
  } cases[] = {
      {"removed, so no pin can be taken",
       [](const std::string& path, const SECURITY_ATTRIBUTES*) { RemoveDirectoryA(path.c_str()); },
       ERROR_FILE_NOT_FOUND, ""},
      {"a file planted inside",
       [](const std::string& path, const SECURITY_ATTRIBUTES*) {
         test::WriteTextFile(path + "\\version.dll", "planted");
       },
       ERROR_CANNOT_MAKE, "\\version.dll"},
      {"replaced by a file",
       [](const std::string& path, const SECURITY_ATTRIBUTES*) {
         RemoveDirectoryA(path.c_str());
         test::WriteTextFile(path, "planted");
       },
       ERROR_CANNOT_MAKE, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    ScratchFolder temp;
    ScopedEnvironment setTemp("TEMP", temp.path().c_str());
    internal::SetFolderCreatedHookForTesting(c.spoil);
    std::string folder = "stale";
    FolderIdentity identity;
    ScopedHandle pin;
    const int32_t result = CreateWorkingFolder(kPrefix, &folder, &identity, &pin);
    internal::SetFolderCreatedHookForTesting(nullptr);
    EXPECT_EQ(c.result, result);
    EXPECT_TRUE(folder.empty());
    EXPECT_FALSE(identity.known);
    EXPECT_FALSE(pin.Valid());
    const std::string name = NameFor(temp.path(), 'a');
    EXPECT_EQ(c.result != ERROR_FILE_NOT_FOUND, Exists(name + c.left));
  }
}

}  // namespace
}  // namespace sfx
