#include "sfxstub/archive/archive_status.h"

namespace sfx {

const char* RefusalText(Refusal reason) {
  switch (reason) {
    case Refusal::kNone: return "no refusal";
    case Refusal::kCannotOpen: return "the package can't be opened for reading";
    case Refusal::kBadSignature: return "the closing signature does not verify";
    case Refusal::kNoSignatureTrailer: return "no signature trailer";
    case Refusal::kSignedLengthOutsideFile: return "the signed length does not fit the file";
    case Refusal::kArchiveTrailerUnreadable: return "the archive trailer can't be read";
    case Refusal::kBadArchiveMagic: return "the archive trailer's magic is wrong";
    case Refusal::kCatalogOffsetPastTrailer: return "the catalog offset lies past the archive trailer";
    case Refusal::kCatalogUnreadable: return "the catalog can't be read";
    case Refusal::kBadCatalogPackage: return "the catalog is not a valid package file";
    case Refusal::kBadMainRangeLength: return "the CMDP chunk is not 8 bytes long";
    case Refusal::kChunkPastContainer: return "a chunk runs past the chunk that holds it";
    case Refusal::kNotExtractMode: return "the mode is not \"extract\"";
    case Refusal::kBadFileRange: return "a PTRL chunk is not 12 bytes long";
    case Refusal::kFileWithoutRange: return "a FILE chunk has no PTRL chunk";
    case Refusal::kNoMainRange: return "the catalog has no CMDP chunk";
    case Refusal::kMainRangeOutsideSignedContent:
      return "the main program's range lies outside the signed content";
    case Refusal::kFileRangeOutsideSignedContent:
      return "a listed file's range lies outside the signed content";
    case Refusal::kNotOpened: return "no package is open";
    case Refusal::kMainProgramTooLarge: return "the main program is too large to inflate in memory";
    case Refusal::kMainProgramUnreadable: return "the main program can't be read";
    case Refusal::kBadMainPackage: return "the main program is not a valid package file";
    case Refusal::kNameLeavesFolder: return "a listed name would leave the target folder";
    case Refusal::kNoMemory: return "not enough memory";
    case Refusal::kPackageReadFailed: return "reading the package failed";
    case Refusal::kCannotCreateTarget: return "a target file can't be created";
    case Refusal::kCannotWriteTarget: return "a target file can't be written completely";
  }
  return "unknown reason";
}

std::string Status::ToString() const {
  if (ok()) return "success";
  return "error " + std::to_string(code_) + ": " + RefusalText(reason_);
}

}  // namespace sfx
