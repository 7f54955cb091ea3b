// Making package files and whole self-extract packages in memory.
//
// Portable (zlib only, no file system calls), so that the stub's own tests can build packages in
// the Windows build too; signing is handed in as a TrailerSigner, and reading and writing files
// is left to the caller (sfxpack pack).
//
// A package, in order: the stub and its binary trailer; the salt block (optional, see below);
// the stored objects (compressed package files or raw files, each followed by its own binary
// trailer); the main program as a package file; the catalog as a package file; the 20-byte
// archive trailer (u32 catalog offset, "OLMsetupSelfExt2"); the closing binary signature over
// everything before it. Same inputs and a deterministic signer give the same bytes.
//
// The salt block is kSaltMagic (16 bytes) followed by kSaltSize secret bytes, right after the
// stub's trailer and right in front of the first stored object. Nothing in the catalog refers to
// it, so every stub reads past it, but the closing signature covers it: the MD5 state in front of
// every byte an author supplies then depends on a value only the key holder can compute
// (package_salt.h makes it), and collision blocks prepared in advance no longer line up.
#ifndef SFXSTUB_TOOLS_SFXPACK_PACKAGE_WRITER_H_
#define SFXSTUB_TOOLS_SFXPACK_PACKAGE_WRITER_H_

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "sfxstub/format/package_format.h"
#include "sfxstub/format/pe_image.h"
#include "tools/sfxpack/status.h"

namespace sfxpack {

// Makes the 48-byte binary trailer ("OLMSignd") that signs data[0, length).
using TrailerSigner = std::function<std::vector<uint8_t>(const uint8_t* data, size_t length)>;

// Offsets are u32, so a package holds at most 4 GiB - 1 bytes.
constexpr uint64_t kMaxPackageSize = 0xFFFFFFFFull;

// A compressed package file of `content` without its trailer: "OLMsetupFPkgFile", u32
// inflated size, u32 stored size, one zlib stream (level 9, 32 KiB window: header 0x78 0xDA).
Status MakePackageFileBody(const uint8_t* content, size_t size, std::vector<uint8_t>* out);

// The 24 bytes in front of a compressed package file's zlib stream: the magic and both sizes.
constexpr size_t kPackageFileHeaderSize = 24;
std::vector<uint8_t> MakePackageFileHeader(uint32_t inflatedSize, uint32_t storedSize);

// Catalog building blocks (u32 fields are appended with sfx::AppendU32, byte_order.h): one chunk
// (four-letter tag, u32 length, payload) appended to `out`.
void AppendChunk(std::vector<uint8_t>* out, const char* tag, const void* payload, size_t length);
inline void AppendChunk(std::vector<uint8_t>* out, const char* tag,
                        const std::vector<uint8_t>& payload) {
  AppendChunk(out, tag, payload.data(), payload.size());
}
inline void AppendTextChunk(std::vector<uint8_t>* out, const char* tag, const std::string& text) {
  AppendChunk(out, tag, text.data(), text.size());
}

// The salt block's framing: the magic, then the salt.
constexpr size_t kSaltMagicSize = 16;
constexpr size_t kSaltSize = 32;
constexpr size_t kSaltBlockSize = kSaltMagicSize + kSaltSize;
extern const char kSaltMagic[kSaltMagicSize + 1];  // "sfxpack.salt.v1."

struct ObjectRange {
  uint32_t offset = 0;
  uint32_t size = 0;
};

struct CatalogEntry {
  std::string name;
  ObjectRange range;
  uint32_t time = 0;
};

// The catalog as the stub expects it: "MODE", "CMDL", "CMDP", one "LIST" of "FILE" chunks, each
// holding "NAME" then "PTRL".
std::vector<uint8_t> MakeCatalog(const std::string& mode, const std::string& commandTemplate,
                                 ObjectRange main, const std::vector<CatalogEntry>& files);

// Lays out a package piece by piece. Every Add refuses once the package would reach 4 GiB, and
// after the first failure every later call gives that same failure (status()), so a caller may
// check only the last one.
class PackageBuilder {
 public:
  explicit PackageBuilder(TrailerSigner signer);

  // The stub followed by its own binary trailer.
  Status AddStub(const uint8_t* stub, size_t size);
  // The salt block: kSaltMagic, then the kSaltSize bytes of `salt`. Unsigned on its own (it is
  // not an object), covered by the closing signature.
  Status AddSaltBlock(const uint8_t* salt, ObjectRange* range);
  // Bytes as they are (an object that already ends with its own trailer, or anything a test
  // wants to put there).
  Status AddObject(const uint8_t* data, size_t size, ObjectRange* range);
  // `content` as a compressed package file followed by its own trailer.
  Status AddPackageFile(const uint8_t* content, size_t size, ObjectRange* range);
  // `content` unchanged followed by its own trailer.
  Status AddRawFile(const uint8_t* content, size_t size, ObjectRange* range);
  // The 20-byte archive trailer: the catalog offset, then `magic` (16 bytes).
  Status AddArchiveTrailer(uint32_t catalogOffset, const char* magic = sfx::kArchiveMagic);
  // The closing signature over every byte so far.
  Status AddClosingSignature();
  // The usual end: `catalog` as a package file, the archive trailer, the closing signature.
  Status Finish(const std::vector<uint8_t>& catalog);

  const std::vector<uint8_t>& bytes() const { return out_; }
  std::vector<uint8_t> TakeBytes() { return std::move(out_); }
  const Status& status() const { return status_; }

 private:
  // Appends data followed (when `sign`) by a trailer over just that data.
  Status Append(const uint8_t* data, size_t size, bool sign, ObjectRange* range);
  Status Fail(const std::string& why);

  TrailerSigner signer_;
  std::vector<uint8_t> out_;
  Status status_;
};

// Everything `sfxpack pack` puts into a package.
struct PackageInput {
  enum class Kind { kPackage, kRaw };
  struct File {
    std::string name;
    std::vector<uint8_t> data;
    uint32_t time = 0;
    Kind kind = Kind::kPackage;
  };
  std::vector<uint8_t> stub;
  std::vector<uint8_t> mainProgram;
  std::vector<File> files;
  std::string commandTemplate;
  bool allowDuplicates = false;
  // The salt (kSaltSize bytes) stored in the salt block, or empty for a package without one.
  // Not an input of the salt's own derivation.
  std::vector<uint8_t> salt;
};

// True for "MZ" with a "PE\0\0" signature at the offset stored at 0x3C (sfx::PeImage, strictly
// read), whatever follows.
bool IsPeImage(const std::vector<uint8_t>& image);

// Which stub a package starts with, from the optional header's magic of the PE image in
// data[0, size): 0x10B the 32-bit stub (PE32), 0x20B the 64-bit one (PE32+). Unknown for any
// other magic and for data that is no PE image. DescribeStubKind gives the words `list` prints.
sfx::PeKind GetStubKind(const uint8_t* data, size_t size);
const char* DescribeStubKind(sfx::PeKind kind);

// Success when `name` may be a listed file's name; otherwise why not (empty, a path separator, a
// drive colon or "..").
Status CheckFileName(const std::string& name);

// Checks the input (PE stub, names, duplicates unless allowed, salt size, total size) and builds
// the whole package into `package`, the salt block (if any) before every stored object. On
// failure `package` is untouched.
Status BuildPackage(const PackageInput& input, const TrailerSigner& signer,
                    std::vector<uint8_t>* package);

// Where the salt block of a package stands, given the lowest offset its catalog names (the first
// stored object): true, with the block's offset, when the kSaltBlockSize bytes right in front of
// that object are a salt block; false as well when `size` does not reach `firstObject`.
bool FindSaltBlock(const uint8_t* package, size_t size, uint32_t firstObject,
                   uint32_t* blockOffset);

}  // namespace sfxpack

#endif  // SFXSTUB_TOOLS_SFXPACK_PACKAGE_WRITER_H_
