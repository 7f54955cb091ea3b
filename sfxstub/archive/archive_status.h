// Status: what an archive operation came to. The error number (an int32_t Win32 error, 0 for
// success) is what the stub reports; the reason says which check made the refusal, for tests
// and for sfxpack's messages. Several checks share one number (fourteen in Open give 1006), and
// only the reason tells them apart.
#ifndef SFXSTUB_ARCHIVE_ARCHIVE_STATUS_H_
#define SFXSTUB_ARCHIVE_ARCHIVE_STATUS_H_

#include <cstdint>
#include <string>

namespace sfx {

enum class Refusal : int {
  kNone = 0,
  // Open: the package and its closing signature.
  kCannotOpen,               // the file can't be opened for reading
  kBadSignature,             // the closing signature does not verify
  kNoSignatureTrailer,       // no trailer found once the signature verified
  kSignedLengthOutsideFile,  // L beyond the file, or too short for the archive trailer
  kArchiveTrailerUnreadable, // the archive trailer can't be reached
  kBadArchiveMagic,          // the archive trailer's magic is wrong
  kCatalogOffsetPastTrailer, // the catalog would begin after the archive trailer
  kCatalogUnreadable,        // the catalog block can't be reached or read
  kBadCatalogPackage,        // the catalog is not a valid package file
  // Open: the catalog.
  kBadMainRangeLength,       // a "CMDP" payload other than 8 bytes
  kChunkPastContainer,       // a known chunk runs past the chunk that holds it
  kNotExtractMode,           // the mode is not "extract"
  kBadFileRange,             // a "PTRL" payload other than 12 bytes
  kFileWithoutRange,         // a "FILE" without "PTRL"
  kNoMainRange,              // no "CMDP" chunk
  kMainRangeOutsideSignedContent,
  kFileRangeOutsideSignedContent,
  // Extraction.
  kNotOpened,                // no successful Open before
  kMainProgramTooLarge,      // stored or inflated size above kMaxMainProgramSize
  kMainProgramUnreadable,    // its stored bytes can't be reached or read
  kBadMainPackage,           // the main program is not a valid package file
  kNameLeavesFolder,         // a listed name would reach outside the folder
  kNoMemory,                 // no memory for the copy buffer
  kPackageReadFailed,        // reading the program's own file failed or came up short
  kCannotCreateTarget,       // the target file can't be created
  kCannotWriteTarget,        // the target file can't be written completely
};

// A short English text for `reason` ("the closing signature does not verify").
const char* RefusalText(Refusal reason);

// Returned by value, like LevelDB's: a refusal is the error number and the reason together, and
// success is code 0 with Refusal::kNone.
class [[nodiscard]] Status {
 public:
  Status() = default;
  Status(int32_t code, Refusal reason) : code_(code), reason_(reason) {}
  static Status Ok() { return Status(); }

  bool ok() const { return code_ == 0; }
  int32_t code() const { return code_; }
  Refusal reason() const { return reason_; }
  // "error 1006: the closing signature does not verify", or "success".
  std::string ToString() const;

  bool operator==(const Status& other) const {
    return code_ == other.code_ && reason_ == other.reason_;
  }
  bool operator!=(const Status& other) const { return !(*this == other); }

 private:
  int32_t code_ = 0;
  Refusal reason_ = Refusal::kNone;
};

}  // namespace sfx

#endif  // SFXSTUB_ARCHIVE_ARCHIVE_STATUS_H_
