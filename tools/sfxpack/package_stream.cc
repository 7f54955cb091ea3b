#include "tools/sfxpack/package_stream.h"

#include <cryptopp/sha.h>
#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <memory>
#include <thread>

#include "sfxstub/archive/sfx_archive.h"
#include "sfxstub/io/win32_error.h"
#include "sfxstub/signing/md5.h"
#include "sfxstub/signing/signature_trailer.h"
#include "tools/sfxpack/dsa_signer.h"
#include "tools/sfxpack/messages.h"
#include "tools/sfxpack/package_salt.h"

namespace sfxpack {
namespace {

// Inputs are read, and compressed output written, in pieces of this size.
constexpr size_t kPieceSize = 1 << 20;

const char kTooLarge[] = "package too large: it must stay below 4 GiB";

// Every stored byte goes into two MD5s (its object's trailer and the closing signature), which
// start from different states and so can't share work. They run side by side on large pieces;
// MD5 is the slowest step of packing, and a second core halves it.
void HashBoth(sfx::Md5* object, sfx::Md5* whole, const uint8_t* data, size_t size) {
  if (size < (256u << 10)) {
    object->Update(data, size);
    whole->Update(data, size);
    return;
  }
  std::thread side([object, data, size] { object->Update(data, size); });
  whole->Update(data, size);
  side.join();
}

// Reads `file` whole in pieces and hands each to `use`.
template <typename Use>
Status ForEachPiece(const InputFile& file, uint8_t* buffer, Use use) {
  for (uint64_t at = 0; at < file.size();) {
    const size_t n = static_cast<size_t>(std::min<uint64_t>(kPieceSize, file.size() - at));
    Status status = file.ReadAt(at, buffer, n);
    if (status.ok()) status = use(buffer, n);
    if (!status.ok()) return status;
    at += n;
  }
  return Status::Ok();
}

// Reads `size` bytes in pieces from `read(offset, buffer, n)`.
using PieceReader = std::function<Status(uint64_t at, uint8_t* data, size_t n)>;

using InputDigest = std::array<uint8_t, 32>;
static_assert(CryptoPP::SHA256::DIGESTSIZE == sizeof(InputDigest), "one SHA-256 value");

// The input numbers of SaltPass::inputs.
constexpr size_t kStubInput = 0;
constexpr size_t kMainInput = 1;
constexpr size_t kFirstListedInput = 2;

class Writer {
 public:
  // Every input whose number `seen` holds a digest of is checked against it.
  Writer(const DsaPrivateKey& key, OutputFile* out, Progress* progress,
         const std::vector<InputDigest>& seen)
      : key_(key), out_(out), progress_(progress), seen_(seen), buffer_(new uint8_t[kPieceSize]),
        packed_(new uint8_t[kPieceSize]) {}

  uint64_t offset() const { return out_->written(); }

  // Appends bytes that no object trailer covers (the salt block, the archive trailer).
  Status Plain(const uint8_t* data, size_t size) {
    Status status = Room(size);
    if (!status.ok()) return status;
    whole_.Update(data, size);
    return out_->Write(data, size);
  }

  // Appends `file` (input number `input`) unchanged and its own trailer.
  Status Signed(const InputFile& file, size_t input, ObjectRange* range) {
    Status status = Room(file.size() + sfx::kBinaryTrailerSize);
    if (!status.ok()) return status;
    const uint64_t start = offset();
    sfx::Md5 object;
    CryptoPP::SHA256 read;
    auto put = [&](const uint8_t* data, size_t n) {
      read.Update(data, n);
      HashBoth(&object, &whole_, data, n);
      Advance(n);
      return out_->Write(data, n);
    };
    status = ForEachPiece(file, buffer_.get(), put);
    if (status.ok()) status = Unchanged(file, input, &read);
    return status.ok() ? Trailer(&object, start, range) : status;
  }

  // Appends `size` bytes from `read` as a compressed package file and its own trailer; the
  // whole object may be at most `objectLimit` bytes.
  Status Compressed(uint64_t size, const PieceReader& read, ObjectRange* range, uint64_t objectLimit) {
    if (size > kMaxPackageSize) return Status::Error(kTooLarge);
    const uint64_t start = offset();
    // Room for the header, written once the compressed size is known.
    uint8_t zero[kPackageFileHeaderSize] = {};
    Status status = Room(kPackageFileHeaderSize);
    if (status.ok()) status = out_->Write(zero, sizeof zero);
    if (status.ok()) status = Deflate(size, read);
    if (!status.ok()) return status;
    const uint64_t stored = offset() - start - kPackageFileHeaderSize;
    if (stored > kMaxPackageSize) return Status::Error(kTooLarge);
    status = Room(sfx::kBinaryTrailerSize);
    if (!status.ok()) return status;
    const uint64_t object = offset() - start + sfx::kBinaryTrailerSize;
    if (object > objectLimit) {
      return Status::Error("the main program compresses to " + std::to_string(object) +
                           " bytes; the stub holds at most " + std::to_string(objectLimit) +
                           " (it would refuse the package with " +
                           DescribeArchiveError(sfx::kErrorNotEnoughMemory) + ")");
    }
    const std::vector<uint8_t> header =
        MakePackageFileHeader(static_cast<uint32_t>(size), static_cast<uint32_t>(stored));
    status = out_->WriteAt(start, header.data(), header.size());
    if (status.ok()) status = HashWritten(start, range);
    return status;
  }

  Status CompressedFile(const InputFile& file, size_t input, ObjectRange* range,
                        uint64_t objectLimit) {
    CryptoPP::SHA256 hash;
    auto read = [&file, &hash](uint64_t at, uint8_t* data, size_t n) {
      Status status = file.ReadAt(at, data, n);
      if (status.ok()) hash.Update(data, n);
      return status;
    };
    const Status status = Compressed(file.size(), read, range, objectLimit);
    return status.ok() ? Unchanged(file, input, &hash) : status;
  }

  Status CompressedBytes(const std::vector<uint8_t>& bytes, ObjectRange* range) {
    auto read = [&bytes](uint64_t at, uint8_t* data, size_t n) {
      std::memcpy(data, bytes.data() + at, n);
      return Status::Ok();
    };
    return Compressed(bytes.size(), read, range, kMaxPackageSize);
  }

  Status ClosingSignature() {
    const Status status = Room(sfx::kBinaryTrailerSize);
    if (!status.ok()) return status;
    uint8_t digest[sfx::kMd5DigestSize];
    whole_.Final(digest);
    const std::vector<uint8_t> trailer = MakeBinaryTrailerFromDigest(key_, digest);
    return out_->Write(trailer.data(), trailer.size());
  }

 private:
  // Whether `size` more bytes keep the package below 4 GiB. Every write asks first, so the
  // output never passes the limit; should it all the same, no room is left (rather than the
  // subtraction wrapping around to almost 16 EiB of room).
  Status Room(uint64_t size) const {
    const bool fits = offset() <= kMaxPackageSize && size <= kMaxPackageSize - offset();
    return fits ? Status::Ok() : Status::Error(kTooLarge);
  }

  void Advance(uint64_t n) {
    if (progress_) progress_->Advance(n);
  }

  // Whether input number `input`, all of whose bytes `read` has hashed, is what the salt pass
  // read (always, when that pass made no digest of it).
  Status Unchanged(const InputFile& file, size_t input, CryptoPP::SHA256* read) const {
    if (input >= seen_.size()) return Status::Ok();
    InputDigest digest;
    read->Final(digest.data());
    if (digest == seen_[input]) return Status::Ok();
    return Status::Error(file.path() + " changed while it was packed: the bytes written are not " +
                         "those the salt was derived from, so no package is made");
  }

  // The zlib stream of `size` bytes from `read`, at level 9 with a 32 KiB window (windowBits
  // 15: the zlib header is 0x78 0xDA), appended to the output.
  Status Deflate(uint64_t size, const PieceReader& read) {
    z_stream z;
    std::memset(&z, 0, sizeof z);
    if (deflateInit2(&z, Z_BEST_COMPRESSION, Z_DEFLATED, 15, 8, Z_DEFAULT_STRATEGY) != Z_OK) {
      return Status::Error("zlib: cannot start compression");
    }
    struct End {
      z_stream* z;
      ~End() { deflateEnd(z); }
    } end{&z};
    uint64_t consumed = 0;
    for (int rc = Z_OK; rc != Z_STREAM_END;) {
      if (z.avail_in == 0 && consumed < size) {
        const size_t n = static_cast<size_t>(std::min<uint64_t>(kPieceSize, size - consumed));
        const Status status = read(consumed, buffer_.get(), n);
        if (!status.ok()) return status;
        consumed += n;
        Advance(n);
        z.next_in = buffer_.get();
        z.avail_in = static_cast<uInt>(n);
      }
      z.next_out = packed_.get();
      z.avail_out = static_cast<uInt>(kPieceSize);
      rc = deflate(&z, consumed == size && z.avail_in == 0 ? Z_FINISH : Z_NO_FLUSH);
      if (rc != Z_OK && rc != Z_STREAM_END && rc != Z_BUF_ERROR) {
        return Status::Error("zlib: compression failed");
      }
      const size_t produced = kPieceSize - z.avail_out;
      Status status = Room(produced);
      if (status.ok()) status = out_->Write(packed_.get(), produced);
      if (!status.ok()) return status;
    }
    return Status::Ok();
  }

  // Hashes the object written from `start` on, read back from the output in file order now that
  // its header is in place, and appends its trailer.
  Status HashWritten(uint64_t start, ObjectRange* range) {
    sfx::Md5 object;
    for (uint64_t at = start; at < offset();) {
      const size_t n = static_cast<size_t>(std::min<uint64_t>(kPieceSize, offset() - at));
      const Status status = out_->ReadAt(at, packed_.get(), n);
      if (!status.ok()) return status;
      HashBoth(&object, &whole_, packed_.get(), n);
      at += n;
    }
    return Trailer(&object, start, range);
  }

  Status Trailer(sfx::Md5* object, uint64_t start, ObjectRange* range) {
    uint8_t digest[sfx::kMd5DigestSize];
    object->Final(digest);
    const std::vector<uint8_t> trailer = MakeBinaryTrailerFromDigest(key_, digest);
    whole_.Update(trailer.data(), trailer.size());
    const Status status = out_->Write(trailer.data(), trailer.size());
    if (status.ok() && range) {
      range->offset = static_cast<uint32_t>(start);
      range->size = static_cast<uint32_t>(offset() - start);
    }
    return status;
  }

  const DsaPrivateKey& key_;
  OutputFile* out_;
  Progress* progress_;
  const std::vector<InputDigest>& seen_;
  std::unique_ptr<uint8_t[]> buffer_;
  std::unique_ptr<uint8_t[]> packed_;
  sfx::Md5 whole_;
};

}  // namespace

Status DeriveSaltFromFiles(const DsaPrivateKey& key, const PackPlan& plan, Progress* progress,
                           SaltPass* pass) {
  SaltDigest digest;
  std::unique_ptr<uint8_t[]> buffer(new uint8_t[kPieceSize]);
  pass->inputs.clear();
  // In the order of the input numbers: stub, main program, listed files.
  auto field = [&](const InputFile& file) {
    digest.FieldStart(file.size());
    CryptoPP::SHA256 read;
    const Status status = ForEachPiece(file, buffer.get(), [&](const uint8_t* data, size_t n) {
      digest.Update(data, n);
      read.Update(data, n);
      if (progress) progress->Advance(n);
      return Status::Ok();
    });
    pass->inputs.emplace_back();
    read.Final(pass->inputs.back().data());
    return status;
  };
  Status status = field(*plan.stub);
  if (status.ok()) status = field(*plan.mainProgram);
  if (!status.ok()) return status;
  digest.Field(plan.commandTemplate);
  digest.U8(plan.allowDuplicates ? 1 : 0);
  digest.U64(plan.files.size());
  for (const PackSource& source : plan.files) {
    digest.Field(source.name);
    status = field(*source.file);
    if (!status.ok()) return status;
    digest.U32(source.time);
    digest.U8(source.kind == PackageInput::Kind::kRaw ? 1 : 0);
  }
  pass->salt = digest.Finish(key);
  return Status::Ok();
}

Status WritePackage(const PackPlan& plan, const DsaPrivateKey& key, const SaltPass& pass,
                    OutputFile* out, Progress* progress) {
  const std::vector<uint8_t>& salt = pass.salt;
  Writer writer(key, out, progress, pass.inputs);
  Status status = writer.Signed(*plan.stub, kStubInput, nullptr);
  // Before every byte the author supplies, so that none of them meets a predictable MD5 state.
  if (status.ok() && !salt.empty()) {
    if (salt.size() != kSaltSize) return Status::Error("a salt must be " + std::to_string(kSaltSize) + " bytes");
    std::vector<uint8_t> block(kSaltMagic, kSaltMagic + kSaltMagicSize);
    block.insert(block.end(), salt.begin(), salt.end());
    status = writer.Plain(block.data(), block.size());
  }
  std::vector<CatalogEntry> entries;
  for (size_t i = 0; i < plan.files.size(); ++i) {
    if (!status.ok()) return status;
    const PackSource& source = plan.files[i];
    CatalogEntry entry;
    entry.name = source.name;
    entry.time = source.time;
    const size_t input = kFirstListedInput + i;
    status = source.kind == PackageInput::Kind::kRaw
                 ? writer.Signed(*source.file, input, &entry.range)
                 : writer.CompressedFile(*source.file, input, &entry.range, kMaxPackageSize);
    entries.push_back(entry);
  }
  ObjectRange main, catalog;
  if (status.ok()) {
    status = writer.CompressedFile(*plan.mainProgram, kMainInput, &main, sfx::kMaxMainProgramSize);
  }
  if (status.ok()) {
    status = writer.CompressedBytes(MakeCatalog("extract", plan.commandTemplate, main, entries), &catalog);
  }
  if (!status.ok()) return status;
  std::vector<uint8_t> trailer;
  sfx::AppendU32(&trailer, catalog.offset);
  trailer.insert(trailer.end(), sfx::kArchiveMagic, sfx::kArchiveMagic + sfx::kArchiveMagicSize);
  status = writer.Plain(trailer.data(), trailer.size());
  return status.ok() ? writer.ClosingSignature() : status;
}

}  // namespace sfxpack
