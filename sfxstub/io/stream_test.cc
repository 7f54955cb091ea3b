#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "sfxstub/io/disk_stream.h"
#include "sfxstub/io/memory_stream.h"
#include "sfxstub/io/file_system.h"
#if defined(_WIN32)
#include "sfxstub/io/handle_copy_win32.h"
#endif
#include "tests/common/temp_dir.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace sfx {
namespace {

TEST(DiskStreamTest, OpenTwiceKeepsFirstFileAndReportsInvalidHandle) {
  TempDir dir;
  std::string a = dir.Write("a.bin", "first");
  std::string b = dir.Write("b.bin", "second file");
  DiskStream s;
  ASSERT_TRUE(s.OpenRead(a.c_str()));
  EXPECT_EQ(s.Size(), 5u);
  EXPECT_FALSE(s.OpenRead(b.c_str()));
  EXPECT_EQ(s.LastError(), 6u);
  EXPECT_TRUE(s.IsOpen());
  char buf[8] = {};
  uint32_t done = 0;
  ASSERT_TRUE(s.Read(buf, sizeof buf, &done));
  EXPECT_EQ(std::string(buf, done), "first");
}

TEST(DiskStreamTest, ClosedAndMissingFilesReportWin32Numbers) {
  TempDir dir;
  DiskStream s;
  char c;
  EXPECT_FALSE(s.Read(&c, 1, nullptr));
  EXPECT_EQ(s.LastError(), 6u);
  EXPECT_FALSE(s.Write(&c, 1, nullptr));
  EXPECT_EQ(s.LastError(), 6u);
  EXPECT_FALSE(s.OpenRead(dir.Path("missing.bin").c_str()));
  EXPECT_EQ(s.LastError(), 2u);
  EXPECT_FALSE(s.IsOpen());
  // The stream is usable again after a failed open.
  std::string a = dir.Write("a.bin", "x");
  EXPECT_TRUE(s.OpenRead(a.c_str()));
}

TEST(DiskStreamTest, ReadAtEndSucceedsWithZeroBytes) {
  TempDir dir;
  std::string a = dir.Write("a.bin", "abc");
  DiskStream s;
  ASSERT_TRUE(s.OpenRead(a.c_str()));
  EXPECT_EQ(s.Seek(0, kSeekEnd), 3u);
  char buf[4];
  uint32_t done = 99;
  EXPECT_TRUE(s.Read(buf, 4, &done));
  EXPECT_EQ(done, 0u);
}

// Relative moves take the u32 offset as signed: 0xFFFFFFFE is two bytes back, from the current
// position or from the end, for both streams.
TEST(FileStreamTest, RelativeSeeksGoBackwardsToo) {
  TempDir dir;
  std::string a = dir.Write("a.bin", "0123456789");
  DiskStream disk;
  ASSERT_TRUE(disk.OpenRead(a.c_str()));
  uint8_t bytes[10];
  std::memcpy(bytes, "0123456789", 10);
  MemoryStream memory;
  ASSERT_TRUE(memory.Attach(bytes, 10));
  for (FileStream* s : {static_cast<FileStream*>(&disk), static_cast<FileStream*>(&memory)}) {
    EXPECT_EQ(6u, s->Seek(6, kSeekSet));
    EXPECT_EQ(4u, s->Seek(0xFFFFFFFEu, kSeekCur));
    EXPECT_EQ('4', s->ReadU8());
    EXPECT_EQ(7u, s->Seek(2, kSeekCur));
  }
  EXPECT_EQ(8u, disk.Seek(0xFFFFFFFEu, kSeekEnd));
  EXPECT_EQ('8', disk.ReadU8());
}

TEST(DiskStreamTest, ReadBlockPastEndIsZeroFilled) {
  TempDir dir;
  std::string a = dir.Write("a.bin", "0123456789");
  DiskStream s;
  ASSERT_TRUE(s.OpenRead(a.c_str()));
  s.Seek(6, kSeekSet);
  Block block = s.ReadBlock(10);
  ASSERT_TRUE(block);
  EXPECT_EQ(std::memcmp(block.get(), "6789\0\0\0\0\0\0", 10), 0);
  EXPECT_TRUE(s.ReadBlock(0));
}

TEST(DiskStreamTest, SizeFollowsWritesAndKeepsPosition) {
  TempDir dir;
  DiskStream s;
  ASSERT_TRUE(s.Create(dir.Path("new.bin").c_str()));
  EXPECT_EQ(s.Size(), 0u);
  EXPECT_EQ(s.Position(), 0u);
  uint32_t done = 0;
  ASSERT_TRUE(s.Write("hello world", 11, &done));
  EXPECT_EQ(done, 11u);
  s.Seek(2, kSeekSet);
  EXPECT_EQ(s.Size(), 11u);
  EXPECT_EQ(s.Position(), 2u);
  char c = 0;
  ASSERT_TRUE(s.Read(&c, 1, nullptr));
  EXPECT_EQ(c, 'l');
  s.Close();
  EXPECT_FALSE(s.IsOpen());
  EXPECT_EQ(s.Size(), 11u);  // size survives Close
  // Create truncates an existing file.
  ASSERT_TRUE(s.Create(dir.Path("new.bin").c_str()));
  EXPECT_EQ(s.Size(), 0u);
}

// The end of the data is no failure, for a memory stream as for a disk stream: a read there
// moves nothing and says so. Only a detached stream fails, and leaves `done` as it was.
TEST(MemoryStreamTest, ReadsClampAtEndAndMoveNothingPastIt) {
  uint8_t data[16];
  for (int i = 0; i < 16; ++i) data[i] = static_cast<uint8_t>(i);
  MemoryStream m;
  ASSERT_TRUE(m.Attach(data, 16));
  m.Seek(12, kSeekSet);
  uint8_t out[10] = {};
  uint32_t done = 0;
  ASSERT_TRUE(m.Read(out, 10, &done));
  EXPECT_EQ(done, 4u);
  EXPECT_EQ(out[0], 12);
  done = 77;
  EXPECT_TRUE(m.Read(out, 1, &done));
  EXPECT_EQ(done, 0u);
  m.Seek(40, kSeekSet);
  done = 77;
  EXPECT_TRUE(m.Read(out, 1, &done));
  EXPECT_EQ(done, 0u);
  EXPECT_EQ(m.Position(), 40u);
  m.Close();
  done = 77;
  EXPECT_FALSE(m.Read(out, 1, &done));
  EXPECT_EQ(done, 77u);  // untouched on failure
}

TEST(MemoryStreamTest, ReadBlockNeverReachesPastTheBlock) {
  uint8_t data[16] = {};
  MemoryStream m;
  ASSERT_TRUE(m.Attach(data, 16));
  m.Seek(12, kSeekSet);
  EXPECT_FALSE(m.ReadBlock(5));
  EXPECT_EQ(m.Position(), 12u);
  EXPECT_EQ(m.ReadBlock(4).get(), data + 12);
  EXPECT_EQ(m.Position(), 16u);
  EXPECT_TRUE(m.ReadBlock(0));  // an empty block at the very end
  // Counts near 2^32 must not wrap around the position + count comparison.
  m.Seek(12, kSeekSet);
  EXPECT_FALSE(m.ReadBlock(0xFFFFFFFFu));
  EXPECT_FALSE(m.ReadBlock(0xFFFFFFF5u));
  EXPECT_EQ(m.Position(), 12u);
  m.Seek(40, kSeekSet);  // beyond the end: no block, no bytes
  EXPECT_FALSE(m.ReadBlock(0));
  uint8_t b = 5;
  uint32_t done = 77;
  EXPECT_TRUE(m.Read(&b, 1, &done));
  EXPECT_EQ(0u, done);
  EXPECT_EQ(5, b);
}

TEST(MemoryStreamTest, HugeCountsReadAndWriteOnlyWhatIsLeft) {
  uint8_t data[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  uint8_t out[8] = {};
  MemoryStream m;
  ASSERT_TRUE(m.Attach(data, 8));
  m.Seek(5, kSeekSet);
  uint32_t done = 0;
  ASSERT_TRUE(m.Read(out, 0xFFFFFFFEu, &done));
  EXPECT_EQ(done, 3u);
  m.Seek(6, kSeekSet);
  const uint8_t src[8] = {9, 9, 9, 9, 9, 9, 9, 9};
  ASSERT_TRUE(m.Write(src, 0xFFFFFFFFu, &done));
  EXPECT_EQ(done, 2u);
  EXPECT_EQ(data[7], 9);
  EXPECT_FALSE(m.Write(src, 1, &done));  // the block never grows
}

TEST(MemoryStreamTest, AttachRulesAndCloseKeepsSize) {
  uint8_t a[4] = {}, b[2] = {};
  MemoryStream m;
  EXPECT_FALSE(m.Attach(nullptr, 4));
  uint8_t x;
  EXPECT_FALSE(m.Read(&x, 1, nullptr));  // detached
  EXPECT_FALSE(m.ReadBlock(0));
  ASSERT_TRUE(m.Attach(a, 4));
  EXPECT_FALSE(m.Attach(b, 2));
  m.Close();
  EXPECT_EQ(m.Size(), 4u);
  EXPECT_TRUE(m.Attach(b, 2));
  EXPECT_EQ(m.Size(), 2u);
}

TEST(FileStreamTest, LittleEndianIntegersAndZeroPastEnd) {
  uint8_t data[7] = {0x01, 0x02, 0x03, 0x04, 0x01, 0x02, 0xAB};
  MemoryStream m;
  ASSERT_TRUE(m.Attach(data, 7));
  EXPECT_EQ(m.ReadU32(), 0x04030201u);
  EXPECT_EQ(m.ReadU16(), 0x0201u);
  EXPECT_EQ(m.ReadU32(), 0x000000ABu);  // missing bytes read as zero
  EXPECT_EQ(m.ReadU8(), 0u);
}

// Create replaces what stands at the name instead of writing through it: an earlier file of the
// same name gets new contents, and a link there is removed, never followed to its target.
TEST(DiskStreamTest, CreateReplacesAndNeverWritesThroughALink) {
  TempDir dir;
  const std::string path = dir.Write("out.bin", "old contents");
  DiskStream s;
  ASSERT_TRUE(s.Create(path.c_str()));
  uint32_t done = 0;
  ASSERT_TRUE(s.Write("new", 3, &done));
  ASSERT_TRUE(s.SetTimes(1000000000u));
  s.Close();
  EXPECT_EQ(TempDir::Read(path), std::vector<uint8_t>({'n', 'e', 'w'}));
  struct stat st;
  ASSERT_EQ(0, stat(path.c_str(), &st));
  EXPECT_EQ(1000000000, static_cast<long long>(st.st_mtime));
  EXPECT_FALSE(s.SetTimes(1));  // closed
  EXPECT_EQ(s.LastError(), 6u);
#if !defined(_WIN32)
  // Only the native build can make a link here (Wine makes none from Windows code).
  const std::string target = dir.Write("elsewhere.txt", "keep");
  const std::string link = dir.Path("link.bin");
  ASSERT_EQ(0, symlink(target.c_str(), link.c_str()));
  ASSERT_TRUE(s.Create(link.c_str()));
  ASSERT_TRUE(s.Write("x", 1, &done));
  s.Close();
  EXPECT_EQ(TempDir::Read(target), std::vector<uint8_t>({'k', 'e', 'e', 'p'}));
  struct stat linkStat;
  ASSERT_EQ(0, lstat(link.c_str(), &linkStat));
  EXPECT_TRUE(S_ISREG(linkStat.st_mode)) << "the link was written through";
#endif
}

#if defined(_WIN32)

HANDLE OpenForWriting(const std::string& path, DWORD share) {
  return CreateFileA(path.c_str(), GENERIC_WRITE, share, nullptr, OPEN_EXISTING,
                     FILE_ATTRIBUTE_NORMAL, nullptr);
}
constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// The package's handle shares with readers only: nobody writes it while the stub holds it, and
// a package someone holds for writing is not opened at all.
TEST(PackageOpenTest, ReadersOnlyWhileOpenAndNoOpenUnderAWriter) {
  TempDir dir;
  const std::string path = dir.Write("package.exe", "signed bytes");
  {
    DiskStream s;
    ASSERT_TRUE(s.OpenRead(path.c_str()));
    HANDLE writer = OpenForWriting(path, kShareAll);
    EXPECT_EQ(INVALID_HANDLE_VALUE, writer);
    EXPECT_EQ(static_cast<DWORD>(ERROR_SHARING_VIOLATION), GetLastError());
    if (writer != INVALID_HANDLE_VALUE) CloseHandle(writer);
    // Other readers are welcome (a virus scanner, a second run of the same package).
    HANDLE reader = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    EXPECT_NE(INVALID_HANDLE_VALUE, reader);
    if (reader != INVALID_HANDLE_VALUE) CloseHandle(reader);
  }
  // Held for writing by someone who lets readers in: the stream still refuses to open.
  HANDLE writer = OpenForWriting(path, kShareAll);
  ASSERT_NE(INVALID_HANDLE_VALUE, writer);
  DiskStream s;
  EXPECT_FALSE(s.OpenRead(path.c_str()));
  EXPECT_EQ(s.LastError(), 5u);  // the runtime's EACCES for a sharing violation
  EXPECT_FALSE(s.IsOpen());
  CloseHandle(writer);
  EXPECT_TRUE(s.OpenRead(path.c_str()));
}

// The private copy's files in `folder`.
std::vector<std::wstring> PrivateCopies(const std::wstring& folder) {
  std::vector<std::wstring> found;
  WIN32_FIND_DATAW data;
  HANDLE find = FindFirstFileW((folder + L"\\_sfx_pkg~*").c_str(), &data);
  if (find == INVALID_HANDLE_VALUE) return found;
  do {
    found.push_back(folder + L"\\" + data.cFileName);
  } while (FindNextFileW(find, &data));
  FindClose(find);
  return found;
}

// Sets an environment variable for the scope's life (it was set before, as TEMP and TMP are).
class ScopedVariable {
 public:
  ScopedVariable(const wchar_t* name, const std::wstring& value) : name_(name) {
    wchar_t old[4096];
    const DWORD length = GetEnvironmentVariableW(name, old, 4096);
    old_.assign(old, length < 4096 ? length : 0);
    SetEnvironmentVariableW(name, value.c_str());
  }
  ~ScopedVariable() { SetEnvironmentVariableW(name_, old_.c_str()); }

 private:
  const wchar_t* name_;
  std::wstring old_;
};

// A package on the network is read once, into a copy that nobody else can open and that goes
// when the stream closes; what the server does to the original afterwards changes nothing. The
// copy goes where the working folder goes: under TEMP (here a name the ANSI code page cannot
// hold), not under TMP, which GetTempPath would read first.
TEST(PackageOpenTest, RemotePackageIsReadFromAPrivateCopy) {
  TempDir dir;
  std::string bytes(600000, 'p');  // more than one copy piece
  bytes[599999] = 'e';
  const std::string path = dir.Write("package.exe", bytes);
  const std::wstring base(dir.path().begin(), dir.path().end());  // ASCII
  const std::wstring temp = base + L"\\\u0141\u00F3d\u017A \u6771\u4EAC";
  const std::wstring tmp = base + L"\\tmp";
  ASSERT_TRUE(CreateDirectoryW(temp.c_str(), nullptr));
  ASSERT_TRUE(CreateDirectoryW(tmp.c_str(), nullptr));
  ScopedVariable setTemp(L"TEMP", temp);
  ScopedVariable setTmp(L"TMP", tmp);
  internal::SetAlwaysCopyForTesting(true);
  DiskStream s;
  const bool opened = s.OpenRead(path.c_str());
  internal::SetAlwaysCopyForTesting(false);
  ASSERT_TRUE(opened);
  EXPECT_EQ(s.Size(), 600000u);
  // The original is not held: the server may change it, and nothing of that is seen.
  HANDLE writer = OpenForWriting(path, kShareAll);
  ASSERT_NE(INVALID_HANDLE_VALUE, writer);
  DWORD put = 0;
  ASSERT_TRUE(WriteFile(writer, "CHANGED", 7, &put, nullptr));
  CloseHandle(writer);
  Block block = s.ReadBlock(600000);
  ASSERT_TRUE(block);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(block.get()), 600000), bytes);
  // The copy: one more file in TEMP, which no one else can open, not even to read.
  const std::vector<std::wstring> copies = PrivateCopies(temp);
  ASSERT_EQ(1u, copies.size());
  EXPECT_TRUE(PrivateCopies(tmp).empty());
  HANDLE other = CreateFileW(copies[0].c_str(), GENERIC_READ, kShareAll, nullptr, OPEN_EXISTING,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
  EXPECT_EQ(INVALID_HANDLE_VALUE, other);
  if (other != INVALID_HANDLE_VALUE) CloseHandle(other);
  s.Close();
  EXPECT_TRUE(PrivateCopies(temp).empty()) << "the copy outlived the stream";
  RemoveDirectoryW(temp.c_str());
}

// The private copy stops at the package size limit: a server that serves more cannot fill the
// disk. Nothing past the limit is written; a source of exactly the limit is copied whole.
TEST(HandleCopyTest, CopiesUpToTheLimitAndNoFurther) {
  TempDir dir;
  const std::string source = dir.Write("source.bin", std::string(600000, 's'));
  const struct {
    uint64_t limit;
    DWORD result;
    uint64_t written;  // at most
  } cases[] = {
      {600000, 0, 600000},
      {~0ull, 0, 600000},
      {599999, ERROR_FILE_TOO_LARGE, 599999},
      {0, ERROR_FILE_TOO_LARGE, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.limit);
    HANDLE from = CreateFileA(source.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    HANDLE to = CreateFileA(dir.Path("target.bin").c_str(), GENERIC_READ | GENERIC_WRITE, 0,
                            nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, from);
    ASSERT_NE(INVALID_HANDLE_VALUE, to);
    EXPECT_EQ(c.result, CopyHandleContents(from, to, c.limit));
    const DWORD size = GetFileSize(to, nullptr);
    EXPECT_LE(size, c.written);
    if (c.result == 0) {
      EXPECT_EQ(c.written, size);
      EXPECT_EQ(0u, SetFilePointer(to, 0, nullptr, FILE_CURRENT)) << "rewound";
    }
    CloseHandle(from);
    CloseHandle(to);
  }
}

// Stored names and the template are read in the system's ANSI code page (1252 under Wine, as on
// a Western Windows) and handed on in UTF-8.
TEST(PackageTextTest, StoredTextIsReadInTheAnsiCodePage) {
  if (GetACP() != 1252) GTEST_SKIP() << "the ANSI code page is " << GetACP();
  FileSystem* fs = FileSystem::Default();
  EXPECT_EQ("caf\xC3\xA9.txt", fs->PackageText("caf\xE9.txt"));
  EXPECT_EQ("\xE2\x82\xAC 5", fs->PackageText("\x80 5"));  // the euro sign
  EXPECT_EQ("setup.ovr", fs->PackageText("setup.ovr"));
  EXPECT_EQ("", fs->PackageText(""));
}

TEST(PackageOpenTest, NetworkPathsAreKnownByTheirForm) {
  EXPECT_TRUE(internal::IsRemotePath("\\\\server\\share\\setup.exe"));
  EXPECT_TRUE(internal::IsRemotePath("//server/share/setup.exe"));
  EXPECT_TRUE(internal::IsRemotePath("\\\\?\\UNC\\server\\share\\setup.exe"));
  // A device or volume path is not known to be local.
  EXPECT_TRUE(internal::IsRemotePath("\\\\?\\Volume{00000000-0000-0000-0000-000000000000}\\x"));
  char windows[MAX_PATH];
  ASSERT_NE(0u, GetWindowsDirectoryA(windows, sizeof windows));
  EXPECT_FALSE(internal::IsRemotePath(windows));
  EXPECT_FALSE(internal::IsRemotePath(std::string("\\\\?\\") + windows));
  EXPECT_FALSE(internal::IsRemotePath("relative.exe"));
}

#endif  // _WIN32

}  // namespace
}  // namespace sfx
