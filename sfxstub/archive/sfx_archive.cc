#include "sfxstub/archive/sfx_archive.h"

#include <climits>
#include <cstring>
#include <memory>
#include <new>

#include "sfxstub/archive/entry_name.h"
#include "sfxstub/archive/join_path.h"
#include "sfxstub/archive/lowlevel_io.h"
#include "sfxstub/archive/memory_stream.h"
#include "sfxstub/archive/package_file.h"
#include "sfxstub/signing/signature_trailer.h"

namespace sfx {

const char kArchiveMagic[kArchiveMagicSize + 1] = "OLMsetupSelfExt2";

namespace {

// A chunk tag as the readers compare it: the four letters as one little-endian u32.
constexpr uint32_t Tag(const char (&letters)[5]) {
  return static_cast<uint32_t>(static_cast<uint8_t>(letters[0])) |
         static_cast<uint32_t>(static_cast<uint8_t>(letters[1])) << 8 |
         static_cast<uint32_t>(static_cast<uint8_t>(letters[2])) << 16 |
         static_cast<uint32_t>(static_cast<uint8_t>(letters[3])) << 24;
}
constexpr uint32_t kTagMode = Tag("MODE");
constexpr uint32_t kTagCmdl = Tag("CMDL");
constexpr uint32_t kTagCmdp = Tag("CMDP");
constexpr uint32_t kTagList = Tag("LIST");
constexpr uint32_t kTagFile = Tag("FILE");
constexpr uint32_t kTagName = Tag("NAME");
constexpr uint32_t kTagPtrl = Tag("PTRL");

constexpr uint32_t kChunkHeaderSize = 8;
constexpr uint32_t kMainRangePayload = 8;
constexpr uint32_t kFileRangePayload = 12;

struct Chunk {
  uint32_t tag = 0;
  uint32_t length = 0;
  uint32_t payloadStart = 0;
  // False when the payload runs past the end of the container.
  bool fits = false;
};

// Reads the header of the chunk at the stream's position; false when the container's loop ends.
//
// A container is read by taking chunks while the position is below its end, moving to payload
// start + n after each one. So the loop ends at the end, and also when fewer than 8 bytes are
// left (too few for a chunk header: nothing in them can be a chunk, and they are ignored like
// the bytes of an unknown chunk). A chunk whose payload runs past the end is handed out with
// `fits` false: an unknown one ends the loop when it is skipped, a known one is for its handler
// to refuse, since the handlers count on a whole payload. All comparisons are by subtraction, so
// a length near 2^32 can't wrap the end of the payload around to a small position.
bool NextChunk(FileStream* stream, Chunk* chunk) {
  const uint32_t position = stream->Position();
  const uint32_t end = stream->Size();
  if (position >= end || end - position < kChunkHeaderSize) return false;
  chunk->tag = stream->ReadU32();
  chunk->length = stream->ReadU32();
  chunk->payloadStart = position + kChunkHeaderSize;
  chunk->fits = chunk->length <= end - chunk->payloadStart;
  return true;
}

// Moves to the chunk after `chunk`, whatever its handler read; false when there is none because
// the chunk ran past the end of its container.
bool SkipChunk(FileStream* stream, const Chunk& chunk) {
  if (!chunk.fits) return false;
  stream->Seek(chunk.payloadStart + chunk.length, kSeekSet);
  return true;
}

// A block handed out by a stream, given back to the same stream when the holder goes.
class StreamBlock {
 public:
  StreamBlock(FileStream* stream, uint32_t count) : stream(stream), block(stream->ReadBlock(count)) {}
  ~StreamBlock() {
    if (block) stream->ReleaseBlock(block);
  }
  StreamBlock(const StreamBlock&) = delete;
  StreamBlock& operator=(const StreamBlock&) = delete;
  uint8_t* get() const { return block; }

 private:
  FileStream* stream;
  uint8_t* block;
};

// The chunk's payload as text (raw bytes, no terminator). False when the payload runs past its
// container or the stream hands out no block.
bool ReadText(FileStream* stream, const Chunk& chunk, std::string* text) {
  if (!chunk.fits) return false;
  StreamBlock block(stream, chunk.length);
  if (!block.get()) return false;
  text->assign(reinterpret_cast<const char*>(block.get()), chunk.length);
  return true;
}

// Runs `reader` on a memory stream over the chunk's payload.
template <typename Reader>
int32_t ReadNested(FileStream* stream, const Chunk& chunk, Reader reader) {
  if (!chunk.fits) return kErrorFileInvalid;
  StreamBlock block(stream, chunk.length);
  MemoryStream nested;
  if (!block.get() || !nested.Attach(block.get(), chunk.length)) return kErrorFileInvalid;
  return reader(&nested);
}

}  // namespace

std::string JoinTargetPath(const std::string& folder, const std::string& name) {
#if defined(_WIN32)
  return JoinPath(folder, name);
#else
  if (folder.empty()) return name;
  if (name.empty()) return folder;
  if (folder.back() == kPathSeparator || name.front() == kPathSeparator) return folder + name;
  return folder + kPathSeparator + name;
#endif
}

SfxArchive::SfxArchive(const DsaPublicKey& key, ProgressSink* progress)
    : key(key), progress(progress ? progress : &nullProgress) {}

SfxArchive::~SfxArchive() {
  // The program's own file is closed before the list and the strings go.
  file.Close();
}

bool SfxArchive::InsideSignedContent(uint32_t offset, uint32_t size) const {
  return offset <= signedLength && size <= signedLength - offset;
}

int32_t SfxArchive::Open(const std::string& path) {
  // A second Open starts afresh rather than adding to what the first one found.
  file.Close();
  opened = false;
  signedLength = 0;
  mainOffset = mainSize = 0;
  hasMainRange = false;
  mode.clear();
  commandTemplate.clear();
  files.clear();

  // Nothing of the file is interpreted before its closing signature verifies. The check, the
  // trailer search and every later read go through one handle: opened again by name, the file
  // could be another one by then (renamed away and replaced), whose bytes nobody checked. A file
  // that can't be opened fails the check, as it always has (1006).
  if (!file.OpenRead(path.c_str())) return kErrorFileInvalid;
  if (!VerifySignedStream(&file, key)) return kErrorFileInvalid;
  uint8_t signature[40];
  SignatureKind kind;
  uint32_t length = 0;
  if (!FindSignatureTrailerInStream(&file, signature, &kind, &length)) return kErrorFileInvalid;
  if (file.Size() < length || length < kArchiveTrailerSize) return kErrorFileInvalid;
  signedLength = length;

  const uint32_t trailerStart = length - kArchiveTrailerSize;
  if (file.Seek(trailerStart, kSeekSet) != trailerStart) return kErrorFileInvalid;
  const uint32_t catalogOffset = file.ReadU32();
  char magic[kArchiveMagicSize];
  uint32_t got = 0;
  if (!file.Read(magic, kArchiveMagicSize, &got) || got != kArchiveMagicSize ||
      std::memcmp(magic, kArchiveMagic, kArchiveMagicSize) != 0) {
    return kErrorFileInvalid;
  }

  // A catalog offset beyond the archive trailer would make the block size L - 20 - K wrap
  // around to nearly 4 GiB.
  if (catalogOffset > trailerStart) return kErrorFileInvalid;
  if (file.Seek(catalogOffset, kSeekSet) != catalogOffset) return kErrorFileInvalid;
  const uint32_t blockSize = trailerStart - catalogOffset;
  uint8_t* catalog = nullptr;
  uint32_t catalogSize = 0;
  {
    StreamBlock block(&file, blockSize);
    MemoryStream packed;
    if (!block.get() || !packed.Attach(block.get(), blockSize)) return kErrorFileInvalid;
    if (!ReadPackageFile(&packed, &catalog, &catalogSize)) return kErrorFileInvalid;
  }
  std::unique_ptr<uint8_t[]> catalogOwner(catalog);
  MemoryStream catalogStream;
  if (!catalogStream.Attach(catalog, catalogSize)) return kErrorFileInvalid;
  int32_t result = ReadCatalog(&catalogStream);
  if (result != 0) return result;

  // Every stored range must lie inside the signed content: bytes past it are not covered by the
  // signature, and a range past the end of the file would be filled up with zeros.
  if (!InsideSignedContent(mainOffset, mainSize)) return kErrorFileInvalid;
  for (const FileRecord& record : files) {
    if (!InsideSignedContent(record.offset, record.size)) return kErrorFileInvalid;
  }
  opened = true;
  return 0;
}

int32_t SfxArchive::ReadCatalog(FileStream* stream) {
  bool fileFailed = false;
  Chunk chunk;
  while (NextChunk(stream, &chunk)) {
    switch (chunk.tag) {
      case kTagMode:
        if (!ReadText(stream, chunk, &mode)) return kErrorFileInvalid;
        break;
      case kTagCmdl:
        if (!ReadText(stream, chunk, &commandTemplate)) return kErrorFileInvalid;
        break;
      case kTagCmdp:
        // The length is judged first, before whether the payload fits.
        if (chunk.length != kMainRangePayload) return kErrorBadMainRange;
        if (!chunk.fits) return kErrorFileInvalid;
        mainOffset = stream->ReadU32();
        mainSize = stream->ReadU32();
        hasMainRange = true;
        break;
      case kTagList:
        if (ReadNested(stream, chunk, [this](FileStream* s) { return ReadFileList(s); }) != 0)
          fileFailed = true;
        break;
      default:
        break;
    }
    if (!SkipChunk(stream, chunk)) break;
  }
  if (mode != "extract") return kErrorInvalidParameter;
  if (fileFailed) return kErrorFileInvalid;
  // Without a "CMDP" chunk there is no main program to extract; refusing the catalog here keeps
  // ExtractMainProgram from reading an unset range.
  if (!hasMainRange) return kErrorFileInvalid;
  return 0;
}

int32_t SfxArchive::ReadFileList(FileStream* stream) {
  int32_t result = 0;
  Chunk chunk;
  while (NextChunk(stream, &chunk)) {
    if (chunk.tag == kTagFile &&
        ReadNested(stream, chunk, [this](FileStream* s) { return ReadFileEntry(s); }) != 0) {
      // Remembered; the list goes on with its next chunk (there is none after a "FILE" that
      // runs past the list).
      result = kErrorFileInvalid;
    }
    if (!SkipChunk(stream, chunk)) break;
  }
  return result;
}

int32_t SfxArchive::ReadFileEntry(FileStream* stream) {
  FileRecord record;
  bool hasRange = false;
  Chunk chunk;
  while (NextChunk(stream, &chunk)) {
    switch (chunk.tag) {
      case kTagName:
        if (!ReadText(stream, chunk, &record.name)) return kErrorFileInvalid;
        break;
      case kTagPtrl:
        if (chunk.length != kFileRangePayload || !chunk.fits) return kErrorFileInvalid;
        record.offset = stream->ReadU32();
        record.size = stream->ReadU32();
        record.time = stream->ReadU32();
        hasRange = true;
        break;
      default:
        break;
    }
    if (!SkipChunk(stream, chunk)) break;
  }
  // A "FILE" without "PTRL" names nothing to copy; it is refused like a bad "PTRL".
  if (!hasRange) return kErrorFileInvalid;
  files.push_back(record);
  return 0;
}

int32_t SfxArchive::ExtractMainProgram(const std::string& targetPath) {
  if (!opened || !InsideSignedContent(mainOffset, mainSize)) return kErrorFileInvalid;
  if (mainSize > kMaxMainProgramSize) return kErrorNotEnoughMemory;
  if (file.Seek(mainOffset, kSeekSet) != mainOffset) return kErrorFileInvalid;
  uint8_t* content = nullptr;
  uint32_t length = 0;
  {
    StreamBlock block(&file, mainSize);
    MemoryStream packed;
    if (!block.get() || !packed.Attach(block.get(), mainSize)) return kErrorFileInvalid;
    // The inflated size the header announces is allocated whole: above the bound it is refused
    // as too much memory, not as a damaged package.
    if (mainSize >= kPackageHeaderSize &&
        std::memcmp(block.get(), CompressedPackageMagic(), kPackageMagicSize) == 0) {
      const uint8_t* p = block.get() + kPackageMagicSize;
      const uint32_t inflatedSize = static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
                                    static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
      if (inflatedSize > kMaxMainProgramSize) return kErrorNotEnoughMemory;
    }
    if (!ReadPackageFile(&packed, &content, &length)) return kErrorFileInvalid;
  }
  std::unique_ptr<uint8_t[]> contentOwner(content);

  DiskStream target;
  if (!target.Create(targetPath.c_str())) return kErrorCannotMake;
  uint32_t written = 0;
  bool complete = target.Write(content, length, &written) && written == length;
  target.Close();
  if (!complete) {
    _unlink(targetPath.c_str());
    return kErrorCannotMake;
  }
  return 0;
}

int32_t SfxArchive::ExtractFiles(const std::string& folder) {
  if (!opened) return kErrorFileInvalid;
  // The sizes are summed in 64 bits: records may share ranges, so their sum can pass 4 GiB even
  // though each lies inside the file. The progress bar counts in int32, so a total above
  // INT32_MAX is announced in units of 2^progressShift bytes.
  uint64_t total = 0;
  for (const FileRecord& record : files) total += record.size;
  progressShift = 0;
  while ((total >> progressShift) > static_cast<uint64_t>(INT32_MAX)) ++progressShift;
  progressDone = 0;
  progress->SetProgressRange(static_cast<int32_t>(total >> progressShift));
  for (const FileRecord& record : files) {
    int32_t result = ExtractFile(folder, record);
    if (result != 0) return result;
  }
  return 0;
}

void SfxArchive::ReportWritten(uint32_t size) {
  // Deltas are differences of the scaled running total, so they add up to the announced range.
  uint64_t before = progressDone >> progressShift;
  progressDone += size;
  uint64_t delta = (progressDone >> progressShift) - before;
  progress->AdvanceProgress(static_cast<int32_t>(delta > INT32_MAX ? INT32_MAX : delta));
}

int32_t SfxArchive::ExtractFile(const std::string& folder, const FileRecord& record) {
  if (!opened || !InsideSignedContent(record.offset, record.size)) return kErrorFileInvalid;
  // The name is joined to the folder as it is; one that would reach outside it (a parent, a
  // drive, a stream, a device) is refused before anything is created.
  if (!StaysInFolder(record.name)) return kErrorInvalidParameter;
  if (file.Seek(record.offset, kSeekSet) != record.offset) return kErrorFileInvalid;
  // The object is copied through one buffer of at most kCopyChunkSize bytes, so a listed file
  // of any size needs no more memory than that; 8 only when this buffer can't be had.
  const uint32_t bufferSize = record.size < kCopyChunkSize ? record.size : kCopyChunkSize;
  std::unique_ptr<uint8_t[]> buffer(new (std::nothrow) uint8_t[bufferSize == 0 ? 1 : bufferSize]);
  if (!buffer) return kErrorNotEnoughMemory;

  const std::string targetPath = JoinTargetPath(folder, record.name);
  DiskStream target;
  if (!target.Create(targetPath.c_str())) {
    return target.LastError != 0 ? static_cast<int32_t>(target.LastError) : kErrorCannotMake;
  }
  int32_t error = 0;
  uint32_t left = record.size;
  uint32_t lastPiece = 0;
  while (left > 0 && error == 0) {
    // A read may move fewer bytes than asked for; only a failed one or one of none (the file
    // became shorter than its signed range since Open) ends the copy.
    uint32_t got = 0;
    const uint32_t want = left < bufferSize ? left : bufferSize;
    if (!file.Read(buffer.get(), want, &got)) {
      error = file.LastError != 0 ? static_cast<int32_t>(file.LastError) : kErrorFileInvalid;
      break;
    }
    if (got == 0 || got > want) {
      error = kErrorFileInvalid;
      break;
    }
    uint32_t written = 0;
    bool wrote = target.Write(buffer.get(), got, &written);
    if (!wrote || written != got) {
      // A failed write leaves its errno in LastError. A short write without an error is what a
      // full disk looks like, and LastError is not fresh then (it may even be 0, which would
      // report the failure as success): such a write gives ERROR_DISK_FULL.
      error = kErrorDiskFull;
      if (!wrote && target.LastError != 0) error = static_cast<int32_t>(target.LastError);
      break;
    }
    left -= got;
    // The bar moves with the bytes, so that a large file does not hold it still. The last piece
    // is reported once the file is closed, so the deltas of one file add up to its size and a
    // file of one chunk or less gives one delta of its size, as a whole-file copy would.
    if (left > 0) {
      ReportWritten(got);
    } else {
      lastPiece = got;
    }
  }
  if (error != 0) {
    target.Close();
    _unlink(targetPath.c_str());
    return error;
  }
  // Both times from the record, through the open file rather than by its name again; a failure
  // here leaves the file as it is.
  target.SetTimes(record.time);
  target.Close();
  ReportWritten(lastPiece);
  return 0;
}

}  // namespace sfx
