#include "sfxstub/io/entry_name.h"

#include <gtest/gtest.h>

#include <string>

#include "sfxstub/io/file_system.h"
#include "tests/common/temp_dir.h"

#if defined(_WIN32)
#include <windows.h>

#include <cwchar>
#include <filesystem>
#endif

namespace sfx {
namespace {

const char* const kAccepted[] = {
    "setup.ovr", "data.cab", "with blank.txt", "noext", "sub\\x.txt", "nosuchdir\\x.txt",
    "a/b/c.bin", ".hidden", "x..y", "...x", "CONSOLE.txt", "COM10", "LPT0.log", "nul_file",
    "AUXILIARY", "COM\xC2\xB9x", "caf\xC3\xA9.txt",
    // Joined without a second backslash, or made one by Windows.
    "\\setup.ini", "/x", "a\\\\b", "x\\",
    // Windows strips trailing dots and blanks: the file lands inside.
    "readme.", "x ", "x.txt ", "x. . ", "sub.\\x", "sub \\x"};

TEST(EntryNameTest, NamesThatStayInsideAreAccepted) {
  for (const char* name : kAccepted) EXPECT_TRUE(StaysInFolder(name)) << name;
}

TEST(EntryNameTest, NamesThatLeaveTheFolderAreRefused) {
  const char* const kRefused[] = {
      // Parents and the folder itself, also in the forms Windows normalises to them.
      "..", "..\\x", "../x", "sub\\..\\..\\x", "a\\..", ".", ".\\x", ".. ", "... ", ". .", " ",
      "...", "sub\\.. \\x", "..\\", "\\", "//", "\\/",
      // Drives, streams, device and UNC paths.
      "C:x", "C:\\Windows\\x.dll", "x.txt:stream", "x::$DATA", "dir::$INDEX_ALLOCATION",
      "\\\\?\\C:\\x", "\\\\.\\COM1", "\\\\server\\share\\x", "//server/share/x", "\\/x",
      // Devices, in any case, with an extension or trailing dots and blanks.
      "CON", "con", "PRN", "AUX", "NUL", "nul.txt", "Com1", "COM9.log", "lpt1", "LPT9",
      "CONIN$", "conout$", "sub\\NUL", "NUL .txt", "com1 .log", "NUL.", "x\\con ", "lpt1. .",
      "COM\xC2\xB9", "lpt\xC2\xB3.txt", "COM\xC2\xB2", "CON.tar.gz",
      // No name at all.
      ""};
  for (const char* name : kRefused) EXPECT_FALSE(StaysInFolder(name)) << name;
  EXPECT_FALSE(StaysInFolder(std::string("ok\0..\\x", 8)));
}

#if defined(_WIN32)
// The system's own normalisation of the joined path: every accepted name lands inside the
// folder when it is created at all, while a component of dots alone still means a parent
// ("...\\x" becomes "..\\x"), which is why such components are refused.
TEST(EntryNameTest, AcceptedNamesLandInsideTheFolderOnWindows) {
  TempDir root;
  const std::string folder = root.Path("work");
  for (const char* sub : {"", "\\sub", "\\a"}) {
    ASSERT_TRUE(CreateDirectoryA((folder + sub).c_str(), nullptr)) << sub;
  }
  for (const char* name : kAccepted) {
    const int file = FileSystem::Default()->Create(JoinTargetPath(folder, name).c_str());
    if (file >= 0) FileSystem::Default()->Close(file);
  }
  size_t created = 0;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(root.path())) {
    EXPECT_EQ(0u, entry.path().string().rfind(folder, 0)) << entry.path().string();
    ++created;
  }
  EXPECT_GT(created, 20u);

  wchar_t full[MAX_PATH];
  ASSERT_NE(0u, GetFullPathNameW(L"C:\\work\\...\\x", MAX_PATH, full, nullptr));
  EXPECT_NE(nullptr, std::wcsstr(full, L"\\..\\")) << "Windows now keeps \"...\" as it is";
}
#endif

}  // namespace
}  // namespace sfx
