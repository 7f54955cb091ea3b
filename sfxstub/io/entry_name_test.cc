#include "sfxstub/io/entry_name.h"

#include <gtest/gtest.h>

#include <string>

namespace sfx {
namespace {

TEST(EntryNameTest, PlainNamesAndSubfoldersStayInside) {
  for (const char* name : {"setup.ovr", "data.cab", "with blank.txt", "noext", "sub\\x.txt",
                           "nosuchdir\\x.txt", "a/b/c.bin", ".hidden", "x..y", "CONSOLE.txt",
                           "COM10", "LPT0.log", "nul_file", "AUXILIARY"}) {
    EXPECT_TRUE(StaysInFolder(name)) << name;
  }
}

TEST(EntryNameTest, NamesThatLeaveTheFolderAreRefused) {
  const char* const kRefused[] = {
      // Parents and the folder itself.
      "..", "..\\x", "../x", "sub\\..\\..\\x", "a\\..", ".", ".\\x",
      // Drives, streams, device paths.
      "C:x", "C:\\Windows\\x.dll", "x.txt:stream", "x::$DATA", "dir::$INDEX_ALLOCATION",
      "\\\\?\\C:\\x", "\\\\.\\COM1", "\\\\server\\share\\x",
      // Devices, in any case and with an extension.
      "CON", "con", "PRN", "AUX", "NUL", "nul.txt", "Com1", "COM9.log", "lpt1", "LPT9",
      "CONIN$", "conout$", "sub\\NUL", "NUL .txt", "com1 .log", "CON.tar.gz",
      // Trailing dots and blanks, which Windows drops.
      "x.", "x ", "x. . ", "sub.\\x", "sub \\x",
      // Empty pieces: no name, a leading, trailing or doubled separator.
      "", "\\x", "/x", "x\\", "a\\\\b"};
  for (const char* name : kRefused) EXPECT_FALSE(StaysInFolder(name)) << name;
  EXPECT_FALSE(StaysInFolder(std::string("ok\0..\\x", 8)));
}

}  // namespace
}  // namespace sfx
