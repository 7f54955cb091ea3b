#include "sfxstub/archive/sfx_archive.h"

#include <climits>
#include <cstring>
#include <memory>
#include <new>

#include "sfxstub/archive/package_file.h"
#include "sfxstub/format/byte_order.h"
#include "sfxstub/io/entry_name.h"
#include "sfxstub/io/memory_stream.h"
#include "sfxstub/signing/signature_trailer.h"

namespace sfx {

namespace {

constexpr uint32_t kTagMode = TagValue(kModeTag);
constexpr uint32_t kTagCmdl = TagValue(kCommandTemplateTag);
constexpr uint32_t kTagCmdp = TagValue(kMainRangeTag);
constexpr uint32_t kTagList = TagValue(kFileListTag);
constexpr uint32_t kTagFile = TagValue(kFileTag);
constexpr uint32_t kTagName = TagValue(kNameTag);
constexpr uint32_t kTagPtrl = TagValue(kFileRangeTag);

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

// The chunk's payload as text (raw bytes, no terminator). False when the payload runs past its
// container or the stream hands out no block.
bool ReadText(FileStream* stream, const Chunk& chunk, std::string* text) {
  if (!chunk.fits) return false;
  Block block = stream->ReadBlock(chunk.length);
  if (!block) return false;
  text->assign(reinterpret_cast<const char*>(block.get()), chunk.length);
  return true;
}

// Runs `reader` on a memory stream over the chunk's payload and returns what it returns; 1006
// without running it when the payload runs past its container or the stream hands out no block.
template <typename Reader>
Status ReadNested(FileStream* stream, const Chunk& chunk, Reader reader) {
  if (!chunk.fits) return Status(kErrorFileInvalid, Refusal::kChunkPastContainer);
  Block block = stream->ReadBlock(chunk.length);
  MemoryStream nested;
  if (!block || !nested.Attach(block.get(), chunk.length)) {
    return Status(kErrorFileInvalid, Refusal::kChunkPastContainer);
  }
  return reader(&nested);
}

// Open's first step: the file through one handle, its closing signature and the signed length.
Status OpenSigned(DiskStream* file, const std::string& path, const DsaPublicKey& key,
                  uint32_t* signedLength) {
  // Nothing of the file is interpreted before its closing signature verifies. The check, the
  // trailer search and every later read go through one handle: opened again by name, the file
  // could be another one by then (renamed away and replaced), whose bytes nobody checked. A file
  // that can't be opened fails the check, as it always has (1006).
  if (!file->OpenRead(path.c_str())) return Status(kErrorFileInvalid, Refusal::kCannotOpen);
  if (!VerifySignedStream(file, key)) return Status(kErrorFileInvalid, Refusal::kBadSignature);
  uint32_t length = 0;
  if (!FindSignatureTrailerInStream(file, nullptr, nullptr, &length)) {
    return Status(kErrorFileInvalid, Refusal::kNoSignatureTrailer);
  }
  if (file->Size() < length || length < kArchiveTrailerSize) {
    return Status(kErrorFileInvalid, Refusal::kSignedLengthOutsideFile);
  }
  *signedLength = length;
  return Status();
}

// Open's second step: the archive trailer in front of the signed length, and the catalog block
// it points to, inflated into `catalog`.
Status ReadCatalogBlock(DiskStream* file, uint32_t signedLength,
                        std::unique_ptr<uint8_t[]>* catalog, uint32_t* catalogSize) {
  const uint32_t trailerStart = signedLength - kArchiveTrailerSize;
  if (file->Seek(trailerStart, kSeekSet) != trailerStart) {
    return Status(kErrorFileInvalid, Refusal::kArchiveTrailerUnreadable);
  }
  const uint32_t catalogOffset = file->ReadU32();
  char magic[kArchiveMagicSize];
  uint32_t got = 0;
  if (!file->Read(magic, kArchiveMagicSize, &got) || got != kArchiveMagicSize ||
      std::memcmp(magic, kArchiveMagic, kArchiveMagicSize) != 0) {
    return Status(kErrorFileInvalid, Refusal::kBadArchiveMagic);
  }
  // A catalog offset beyond the archive trailer would make the block size L - 20 - K wrap
  // around to nearly 4 GiB.
  if (catalogOffset > trailerStart) return Status(kErrorFileInvalid, Refusal::kCatalogOffsetPastTrailer);
  if (file->Seek(catalogOffset, kSeekSet) != catalogOffset) {
    return Status(kErrorFileInvalid, Refusal::kCatalogUnreadable);
  }
  const uint32_t blockSize = trailerStart - catalogOffset;
  Block block = file->ReadBlock(blockSize);
  MemoryStream packed;
  if (!block || !packed.Attach(block.get(), blockSize)) {
    return Status(kErrorFileInvalid, Refusal::kCatalogUnreadable);
  }
  if (!ReadPackageFile(&packed, catalog, catalogSize)) {
    return Status(kErrorFileInvalid, Refusal::kBadCatalogPackage);
  }
  return Status();
}

// The main program's package file at [offset, offset + size) of the file, inflated.
Status ReadMainPackage(DiskStream* file, uint32_t offset, uint32_t size,
                       std::unique_ptr<uint8_t[]>* content, uint32_t* length) {
  if (size > kMaxMainProgramSize) return Status(kErrorNotEnoughMemory, Refusal::kMainProgramTooLarge);
  if (file->Seek(offset, kSeekSet) != offset) {
    return Status(kErrorFileInvalid, Refusal::kMainProgramUnreadable);
  }
  Block block = file->ReadBlock(size);
  MemoryStream packed;
  if (!block || !packed.Attach(block.get(), size)) {
    return Status(kErrorFileInvalid, Refusal::kMainProgramUnreadable);
  }
  // The inflated size the header announces is allocated whole: above the bound it is refused
  // as too much memory, not as a damaged package.
  if (size >= kPackageHeaderSize &&
      std::memcmp(block.get(), CompressedPackageMagic(), kPackageMagicSize) == 0 &&
      LoadU32(block.get() + kPackageMagicSize) > kMaxMainProgramSize) {
    return Status(kErrorNotEnoughMemory, Refusal::kMainProgramTooLarge);
  }
  if (!ReadPackageFile(&packed, content, length)) {
    return Status(kErrorFileInvalid, Refusal::kBadMainPackage);
  }
  return Status();
}

}  // namespace

SfxArchive::SfxArchive(const DsaPublicKey& key, ProgressSink* progress, FileSystem* fileSystem)
    : key_(key),
      progress_(progress ? progress : &nullProgress_),
      fileSystem_(fileSystem ? fileSystem : FileSystem::Default()),
      file_(fileSystem_) {}

SfxArchive::~SfxArchive() {
  // The program's own file is closed before the list and the strings go.
  file_.Close();
}

bool SfxArchive::InsideSignedContent(uint32_t offset, uint32_t size) const {
  return offset <= signedLength_ && size <= signedLength_ - offset;
}

Status SfxArchive::Open(const std::string& path) {
  // A second Open starts afresh rather than adding to what the first one found.
  file_.Close();
  opened_ = false;
  signedLength_ = 0;
  mainOffset = mainSize = 0;
  hasMainRange_ = false;
  mode_.clear();
  commandTemplate.clear();
  files.clear();

  Status status = OpenSigned(&file_, path, key_, &signedLength_);
  std::unique_ptr<uint8_t[]> catalog;
  uint32_t catalogSize = 0;
  if (status.ok()) status = ReadCatalogBlock(&file_, signedLength_, &catalog, &catalogSize);
  if (!status.ok()) return status;
  MemoryStream catalogStream;
  if (!catalogStream.Attach(catalog.get(), catalogSize)) {
    return Status(kErrorFileInvalid, Refusal::kBadCatalogPackage);
  }
  status = ReadCatalog(&catalogStream);
  if (!status.ok()) return status;

  // Every stored range must lie inside the signed content: bytes past it are not covered by the
  // signature, and a range past the end of the file would be filled up with zeros.
  if (!InsideSignedContent(mainOffset, mainSize)) {
    return Status(kErrorFileInvalid, Refusal::kMainRangeOutsideSignedContent);
  }
  for (const FileRecord& record : files) {
    if (!InsideSignedContent(record.offset, record.size)) {
      return Status(kErrorFileInvalid, Refusal::kFileRangeOutsideSignedContent);
    }
  }
  opened_ = true;
  return Status();
}

Status SfxArchive::ReadCatalog(FileStream* stream) {
  // The first refused "FILE" (or "LIST"); the catalog goes on after it.
  Status fileStatus;
  Chunk chunk;
  while (NextChunk(stream, &chunk)) {
    switch (chunk.tag) {
      case kTagMode:
        if (!ReadText(stream, chunk, &mode_)) return Status(kErrorFileInvalid, Refusal::kChunkPastContainer);
        break;
      case kTagCmdl:
        if (!ReadText(stream, chunk, &commandTemplate)) {
          return Status(kErrorFileInvalid, Refusal::kChunkPastContainer);
        }
        commandTemplate = fileSystem_->PackageText(commandTemplate);
        break;
      case kTagCmdp:
        // The length is judged first, before whether the payload fits.
        if (chunk.length != kMainRangePayload) return Status(kErrorBadMainRange, Refusal::kBadMainRangeLength);
        if (!chunk.fits) return Status(kErrorFileInvalid, Refusal::kChunkPastContainer);
        mainOffset = stream->ReadU32();
        mainSize = stream->ReadU32();
        hasMainRange_ = true;
        break;
      case kTagList: {
        const Status list = ReadNested(stream, chunk, [this](FileStream* s) { return ReadFileList(s); });
        if (fileStatus.ok()) fileStatus = list;
        break;
      }
      default:
        break;
    }
    if (!SkipChunk(stream, chunk)) break;
  }
  if (mode_ != kExtractMode) return Status(kErrorInvalidParameter, Refusal::kNotExtractMode);
  if (!fileStatus.ok()) return fileStatus;
  // Without a "CMDP" chunk there is no main program to extract; refusing the catalog here keeps
  // ExtractMainProgram from reading an unset range.
  if (!hasMainRange_) return Status(kErrorFileInvalid, Refusal::kNoMainRange);
  return Status();
}

Status SfxArchive::ReadFileList(FileStream* stream) {
  // The first refused "FILE"; the list goes on with its next chunk (there is none after a
  // "FILE" that runs past the list).
  Status first;
  Chunk chunk;
  while (NextChunk(stream, &chunk)) {
    if (chunk.tag == kTagFile) {
      const Status entry = ReadNested(stream, chunk, [this](FileStream* s) { return ReadFileEntry(s); });
      if (first.ok()) first = entry;
    }
    if (!SkipChunk(stream, chunk)) break;
  }
  return first;
}

Status SfxArchive::ReadFileEntry(FileStream* stream) {
  FileRecord record;
  bool hasRange = false;
  Chunk chunk;
  while (NextChunk(stream, &chunk)) {
    switch (chunk.tag) {
      case kTagName:
        if (!ReadText(stream, chunk, &record.name)) {
          return Status(kErrorFileInvalid, Refusal::kChunkPastContainer);
        }
        record.name = fileSystem_->PackageText(record.name);
        break;
      case kTagPtrl:
        if (chunk.length != kFileRangePayload) return Status(kErrorFileInvalid, Refusal::kBadFileRange);
        if (!chunk.fits) return Status(kErrorFileInvalid, Refusal::kChunkPastContainer);
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
  if (!hasRange) return Status(kErrorFileInvalid, Refusal::kFileWithoutRange);
  files.push_back(record);
  return Status();
}

Status SfxArchive::ExtractMainProgram(const std::string& targetPath) {
  if (!opened_) return Status(kErrorFileInvalid, Refusal::kNotOpened);
  if (!InsideSignedContent(mainOffset, mainSize)) {
    return Status(kErrorFileInvalid, Refusal::kMainRangeOutsideSignedContent);
  }
  std::unique_ptr<uint8_t[]> content;
  uint32_t length = 0;
  const Status status = ReadMainPackage(&file_, mainOffset, mainSize, &content, &length);
  if (!status.ok()) return status;
  DiskStream target(fileSystem_);
  if (!target.Create(targetPath.c_str())) return Status(kErrorCannotMake, Refusal::kCannotCreateTarget);
  uint32_t written = 0;
  bool complete = target.Write(content.get(), length, &written) && written == length;
  target.Close();
  if (!complete) {
    fileSystem_->Remove(targetPath.c_str());
    return Status(kErrorCannotMake, Refusal::kCannotWriteTarget);
  }
  return Status();
}

Status SfxArchive::ExtractFiles(const std::string& folder) {
  if (!opened_) return Status(kErrorFileInvalid, Refusal::kNotOpened);
  // Every name is checked before the first file is written, so a package with a name that
  // would leave the folder writes none of its listed files.
  for (const FileRecord& record : files) {
    if (!StaysInFolder(record.name)) return Status(kErrorInvalidParameter, Refusal::kNameLeavesFolder);
  }
  // The sizes are summed in 64 bits: records may share ranges, so their sum can pass 4 GiB even
  // though each lies inside the file. The progress bar counts in int32, so a total above
  // INT32_MAX is announced in units of 2^progressShift_ bytes.
  uint64_t total = 0;
  for (const FileRecord& record : files) total += record.size;
  progressShift_ = 0;
  while ((total >> progressShift_) > static_cast<uint64_t>(INT32_MAX)) ++progressShift_;
  progressDone_ = 0;
  progress_->SetProgressRange(static_cast<int32_t>(total >> progressShift_));
  for (const FileRecord& record : files) {
    const Status status = ExtractFile(folder, record);
    if (!status.ok()) return status;
  }
  return Status();
}

void SfxArchive::ReportWritten(uint32_t size) {
  // Deltas are differences of the scaled running total, so they add up to the announced range.
  uint64_t before = progressDone_ >> progressShift_;
  progressDone_ += size;
  uint64_t delta = (progressDone_ >> progressShift_) - before;
  progress_->AdvanceProgress(static_cast<int32_t>(delta > INT32_MAX ? INT32_MAX : delta));
}

Status SfxArchive::ExtractFile(const std::string& folder, const FileRecord& record) {
  if (!opened_) return Status(kErrorFileInvalid, Refusal::kNotOpened);
  if (!InsideSignedContent(record.offset, record.size)) {
    return Status(kErrorFileInvalid, Refusal::kFileRangeOutsideSignedContent);
  }
  // The name is joined to the folder as it is; one that would reach outside it (a parent, a
  // drive, a stream, a device) is refused before this file is created (ExtractFiles has refused
  // it before any file).
  if (!StaysInFolder(record.name)) return Status(kErrorInvalidParameter, Refusal::kNameLeavesFolder);
  if (file_.Seek(record.offset, kSeekSet) != record.offset) {
    return Status(kErrorFileInvalid, Refusal::kPackageReadFailed);
  }
  // The object is copied through one buffer of at most kCopyChunkSize bytes, so a listed file
  // of any size needs no more memory than that; 8 only when this buffer can't be had.
  const uint32_t bufferSize = record.size < kCopyChunkSize ? record.size : kCopyChunkSize;
  std::unique_ptr<uint8_t[]> buffer(new (std::nothrow) uint8_t[bufferSize == 0 ? 1 : bufferSize]);
  if (!buffer) return Status(kErrorNotEnoughMemory, Refusal::kNoMemory);

  const std::string targetPath = JoinTargetPath(folder, record.name);
  DiskStream target(fileSystem_);
  if (!target.Create(targetPath.c_str())) {
    return Status(target.LastError() != 0 ? static_cast<int32_t>(target.LastError()) : kErrorCannotMake,
                  Refusal::kCannotCreateTarget);
  }
  uint32_t lastPiece = 0;
  const Status copied = CopyObject(record.size, buffer.get(), bufferSize, &target, &lastPiece);
  if (!copied.ok()) {
    target.Close();
    fileSystem_->Remove(targetPath.c_str());
    return copied;
  }
  // Both times from the record, through the open file rather than by its name again; a failure
  // here leaves the file as it is.
  target.SetTimes(record.time);
  target.Close();
  ReportWritten(lastPiece);
  return Status();
}

Status SfxArchive::CopyObject(uint32_t size, uint8_t* buffer, uint32_t bufferSize,
                              DiskStream* target, uint32_t* lastPiece) {
  for (uint32_t left = size; left > 0;) {
    // A read may move fewer bytes than asked for; only a failed one or one of none (the file
    // became shorter than its signed range since Open) ends the copy.
    uint32_t got = 0;
    const uint32_t want = left < bufferSize ? left : bufferSize;
    if (!file_.Read(buffer, want, &got)) {
      return Status(file_.LastError() != 0 ? static_cast<int32_t>(file_.LastError()) : kErrorFileInvalid,
                    Refusal::kPackageReadFailed);
    }
    if (got == 0 || got > want) return Status(kErrorFileInvalid, Refusal::kPackageReadFailed);
    uint32_t written = 0;
    const bool wrote = target->Write(buffer, got, &written);
    if (!wrote || written != got) {
      // A failed write leaves its error in LastError. A short write without an error is what a
      // full disk looks like, and LastError is not fresh then (it may even be 0, which would
      // report the failure as success): such a write gives ERROR_DISK_FULL.
      int32_t error = kErrorDiskFull;
      if (!wrote && target->LastError() != 0) error = static_cast<int32_t>(target->LastError());
      return Status(error, Refusal::kCannotWriteTarget);
    }
    left -= got;
    // The bar moves with the bytes, so that a large file does not hold it still. The last piece
    // is reported once the file is closed, so the deltas of one file add up to its size and a
    // file of one chunk or less gives one delta of its size, as a whole-file copy would.
    if (left > 0) {
      ReportWritten(got);
    } else {
      *lastPiece = got;
    }
  }
  return Status();
}

}  // namespace sfx
