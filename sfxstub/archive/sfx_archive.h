// SfxArchive: the program's own file read as a self-extract archive.
//
// Layout: package_format.h (offsets are absolute from the start of the file).
// L, the signed length, is where the closing signature begins; the archive trailer is [L-20, L)
// and the catalog block [catalog offset, L-20).
//
// The catalog is a sequence of chunks (4-byte tag, u32 length n, n bytes of payload); "LIST" and
// "FILE" payloads are chunk sequences too. Chunks may come in any order, later "MODE", "CMDL",
// "CMDP", "NAME", "PTRL" replace earlier ones, every "LIST" appends, unknown tags are skipped.
// A container is read while its position is below its end, moving to payload start + n after
// each chunk: an unknown chunk whose length runs past its container ends that container's
// chunks, and so do 1 to 7 bytes left at its end (too few for a chunk header; they are ignored).
// A known chunk ("MODE", "CMDL", "CMDP" of 8 bytes, "LIST", "FILE", "NAME", "PTRL" of 12 bytes)
// that runs past its container is refused with 1006.
//
// Every operation returns a Status (archive_status.h): the error number below, which the stub
// reports, and the reason, which names the check that refused.
//
// Open checks, in this order, and interprets nothing before the closing signature verifies:
//   open for reading and whole-file signature, through that one handle (1006), trailer (1006),
//   L against the file (1006), archive magic (1006), catalog offset (1006), catalog package file (1006), then the
//   catalog: a "CMDP" payload other than 8 bytes (-1), mode other than "extract" (87), a bad
//   "FILE" (1006), no "CMDP" (1006), a stored range outside the signed content (1006).
//
// Extraction (both need a successful Open; otherwise 1006):
//   ExtractMainProgram inflates the "CMDP" package file into a new file: 1006 when it is not a
//   valid package file, 82 when the target can't be made or written completely, 8 when its
//   stored or inflated size is above kMaxMainProgramSize (it is handled in memory whole).
//   ExtractFiles first checks every listed name and refuses the package with 87 before any file
//   is written when one would leave the folder (StaysInFolder in entry_name.h: "..", a drive or
//   stream ':', a device, a UNC or "\\?\" form). It then copies every listed object unchanged
//   into the folder in catalog order, stopping at the first failure: 8 when there is no memory
//   for the copy buffer, the read error of the program's own file (1006 if it has become shorter
//   than its signed range), the create or write error otherwise (112 for a short write that the
//   platform did not explain). A failed file is deleted; files written before it stay. Each
//   written file gets its record's time as access and modification time.
//
// Stored text (a "NAME", the "CMDL" template) is read through the file system's PackageText
// when the catalog is read: on Windows the ANSI code page's bytes become UTF-8, like every path.
//
// Memory: an object is copied in pieces of kCopyChunkSize bytes, and the closing signature is
// checked in pieces too (kHashChunkSize), so the archive needs a small constant plus the
// catalog and the main program (stored and inflated), whatever the size of the package.
#ifndef SFXSTUB_ARCHIVE_SFX_ARCHIVE_H_
#define SFXSTUB_ARCHIVE_SFX_ARCHIVE_H_

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "sfxstub/archive/archive_status.h"
#include "sfxstub/archive/progress_sink.h"
#include "sfxstub/format/package_format.h"
#include "sfxstub/io/disk_stream.h"
#include "sfxstub/io/file_stream.h"
#include "sfxstub/io/file_system.h"
#include "sfxstub/io/win32_error.h"
#include "sfxstub/signing/signature_verify.h"

namespace sfx {

// The error numbers of the archive: Windows ones (win32_error.h: 2, 8, 82, 87, 112, 1006, and
// those of the file system), and one of its own.
constexpr int32_t kErrorBadMainRange = -1;  // a "CMDP" payload other than 8 bytes

// Listed objects are copied through a buffer of this many bytes (fewer for a smaller object).
// Small enough to stay in the processor's cache between the read and the write, which makes
// the copy measurably faster than with 1 MiB pieces (scripts/bench.sh).
constexpr uint32_t kCopyChunkSize = 256u << 10;
// The main program is inflated in memory in one piece; a stored or inflated size above this is
// refused with 8 rather than tried (a 32-bit process could not hold much more).
constexpr uint32_t kMaxMainProgramSize = 256u << 20;

// One listed file.
struct FileRecord {
  std::string name;     // name in the target folder: "NAME" through FileSystem::PackageText
  uint32_t offset = 0;  // absolute offset of the stored object
  uint32_t size = 0;    // stored bytes, the object's own trailer included
  uint32_t time = 0;    // seconds since 1970-01-01 00:00:00 UTC
};

class SfxArchive {
 public:
  // `key` verifies the closing signature and must outlive the archive; `progress` (not owned,
  // may be null) receives the listed files' progress; every file is opened, created, written,
  // removed and dated through `fileSystem` (not owned, must outlive the archive; null: the
  // platform's).
  explicit SfxArchive(const DsaPublicKey& key = SignerKeySlot.key, ProgressSink* progress = nullptr,
                      FileSystem* fileSystem = nullptr);
  SfxArchive(const SfxArchive&) = delete;
  SfxArchive& operator=(const SfxArchive&) = delete;
  ~SfxArchive();

  Status Open(const std::string& path);
  Status ExtractMainProgram(const std::string& targetPath);
  Status ExtractFiles(const std::string& folder);

  // The three chunk levels, each over a stream that holds exactly that level's chunks.
  // ReadCatalog resets nothing: it adds to what earlier calls found. A refused "FILE" (or
  // "LIST") does not end its container: the chunks after it are read, and the first refusal is
  // the one returned.
  Status ReadCatalog(FileStream* stream);
  Status ReadFileList(FileStream* stream);
  Status ReadFileEntry(FileStream* stream);
  // Copies one listed object to JoinTargetPath(folder, record.name).
  Status ExtractFile(const std::string& folder, const FileRecord& record);

  // The signed length of the opened file (0 before a successful Open).
  uint32_t SignedLength() const { return signedLength_; }
  // The mode text of the last "MODE" chunk read ("extract" after a successful Open).
  const std::string& Mode() const { return mode_; }
  bool HasMainRange() const { return hasMainRange_; }

  uint32_t mainOffset = 0;
  uint32_t mainSize = 0;
  std::string commandTemplate;  // "CMDL" through FileSystem::PackageText
  std::vector<FileRecord> files;

 private:
  // True when [offset, offset+size) lies inside the signed content, computed without wrapping.
  bool InsideSignedContent(uint32_t offset, uint32_t size) const;
  // Copies `size` bytes from the file's position to `target` through `buffer`, reporting
  // progress for every piece but the last, whose size goes to `lastPiece`.
  Status CopyObject(uint32_t size, uint8_t* buffer, uint32_t bufferSize, DiskStream* target,
                    uint32_t* lastPiece);
  // Advances the progress sink by one written file of `size` bytes, in the units ExtractFiles
  // announced.
  void ReportWritten(uint32_t size);

  const DsaPublicKey& key_;
  ProgressSink* progress_;
  NullProgressSink nullProgress_;
  FileSystem* fileSystem_;
  std::string mode_;
  bool hasMainRange_ = false;
  bool opened_ = false;
  uint32_t signedLength_ = 0;
  unsigned progressShift_ = 0;
  uint64_t progressDone_ = 0;
  // Declared last so that it is destroyed first.
  DiskStream file_;
};

}  // namespace sfx

#endif  // SFXSTUB_ARCHIVE_SFX_ARCHIVE_H_
