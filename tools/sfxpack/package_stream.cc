#include "tools/sfxpack/package_stream.h"

#include <zlib.h>

#include <cstring>
#include <memory>
#include <thread>

#include "sfxstub/archive/sfx_archive.h"
#include "sfxstub/signing/md5.h"
#include "sfxstub/signing/signature_trailer.h"
#include "tools/sfxpack/dsa_signer.h"
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
bool ForEachPiece(const InputFile& file, uint8_t* buffer, Use use, std::string* error) {
  for (uint64_t at = 0; at < file.size();) {
    const size_t n = static_cast<size_t>(std::min<uint64_t>(kPieceSize, file.size() - at));
    if (!file.ReadAt(at, buffer, n, error)) return false;
    if (!use(buffer, n)) return false;
    at += n;
  }
  return true;
}

class Writer {
 public:
  Writer(const DsaPrivateKey& key, OutputFile* out, Progress* progress, std::string* error)
      : key_(key), out_(out), progress_(progress), error_(error), buffer_(new uint8_t[kPieceSize]),
        packed_(new uint8_t[kPieceSize]) {}

  uint64_t offset() const { return out_->written(); }

  // Appends bytes that no object trailer covers (the salt block, the archive trailer).
  bool Plain(const uint8_t* data, size_t size) {
    if (!Room(size)) return false;
    whole_.Update(data, size);
    return out_->Write(data, size, error_);
  }

  // Appends `file` unchanged and its own trailer.
  bool Signed(const InputFile& file, ObjectRange* range) {
    if (!Room(file.size() + sfx::kBinaryTrailerSize)) return false;
    const uint64_t start = offset();
    sfx::Md5 object;
    auto put = [&](const uint8_t* data, size_t n) {
      HashBoth(&object, &whole_, data, n);
      if (progress_) progress_->Advance(n);
      return out_->Write(data, n, error_);
    };
    if (!ForEachPiece(file, buffer_.get(), put, error_)) return false;
    return Trailer(&object, start, range);
  }

  // Appends `size` bytes from `read` as a compressed package file and its own trailer.
  // `inflatedLimit` and `objectLimit` bound the content and the whole object.
  template <typename Read>
  bool Compressed(uint64_t size, Read read, ObjectRange* range, uint64_t objectLimit) {
    if (size > kMaxPackageSize) return Fail(kTooLarge);
    const uint64_t start = offset();
    // Room for the header, written once the compressed size is known.
    uint8_t zero[kPackageFileHeaderSize] = {};
    if (!Room(kPackageFileHeaderSize) || !out_->Write(zero, sizeof zero, error_)) return false;

    z_stream z;
    std::memset(&z, 0, sizeof z);
    // Level 9 with a 32 KiB window (windowBits 15): the zlib header is 0x78 0xDA.
    if (deflateInit2(&z, Z_BEST_COMPRESSION, Z_DEFLATED, 15, 8, Z_DEFAULT_STRATEGY) != Z_OK) {
      return Fail("zlib: cannot start compression");
    }
    struct End {
      z_stream* z;
      ~End() { deflateEnd(z); }
    } end{&z};
    uint64_t consumed = 0;
    int rc = Z_OK;
    while (rc != Z_STREAM_END) {
      if (z.avail_in == 0 && consumed < size) {
        const size_t n = static_cast<size_t>(std::min<uint64_t>(kPieceSize, size - consumed));
        if (!read(consumed, buffer_.get(), n)) return false;
        consumed += n;
        if (progress_) progress_->Advance(n);
        z.next_in = buffer_.get();
        z.avail_in = static_cast<uInt>(n);
      }
      z.next_out = packed_.get();
      z.avail_out = static_cast<uInt>(kPieceSize);
      rc = deflate(&z, consumed == size && z.avail_in == 0 ? Z_FINISH : Z_NO_FLUSH);
      if (rc != Z_OK && rc != Z_STREAM_END && rc != Z_BUF_ERROR) {
        return Fail("zlib: compression failed");
      }
      const size_t produced = kPieceSize - z.avail_out;
      if (!Room(produced) || !out_->Write(packed_.get(), produced, error_)) return false;
    }
    const uint64_t stored = offset() - start - kPackageFileHeaderSize;
    if (stored > kMaxPackageSize) return Fail(kTooLarge);
    if (!Room(sfx::kBinaryTrailerSize)) return false;
    if (offset() - start + sfx::kBinaryTrailerSize > objectLimit) {
      return Fail("the main program compresses to " +
                  std::to_string(offset() - start + sfx::kBinaryTrailerSize) +
                  " bytes; the stub holds at most " + std::to_string(objectLimit) +
                  " (it would refuse the package with " +
                  DescribeArchiveError(sfx::kErrorNotEnoughMemory) + ")");
    }
    const std::vector<uint8_t> header =
        MakePackageFileHeader(static_cast<uint32_t>(size), static_cast<uint32_t>(stored));
    if (!out_->WriteAt(start, header.data(), header.size(), error_)) return false;

    // Hashed from the output, in file order, now that the header is in place.
    sfx::Md5 object;
    for (uint64_t at = start; at < offset();) {
      const size_t n = static_cast<size_t>(std::min<uint64_t>(kPieceSize, offset() - at));
      if (!out_->ReadAt(at, packed_.get(), n, error_)) return false;
      HashBoth(&object, &whole_, packed_.get(), n);
      at += n;
    }
    return Trailer(&object, start, range);
  }

  bool CompressedFile(const InputFile& file, ObjectRange* range, uint64_t objectLimit) {
    auto read = [&](uint64_t at, uint8_t* data, size_t n) { return file.ReadAt(at, data, n, error_); };
    return Compressed(file.size(), read, range, objectLimit);
  }

  bool CompressedBytes(const std::vector<uint8_t>& bytes, ObjectRange* range) {
    auto read = [&](uint64_t at, uint8_t* data, size_t n) {
      std::memcpy(data, bytes.data() + at, n);
      return true;
    };
    return Compressed(bytes.size(), read, range, kMaxPackageSize);
  }

  bool ClosingSignature() {
    if (!Room(sfx::kBinaryTrailerSize)) return false;
    uint8_t digest[sfx::kMd5DigestSize];
    whole_.Final(digest);
    const std::vector<uint8_t> trailer = MakeBinaryTrailerFromDigest(key_, digest);
    return out_->Write(trailer.data(), trailer.size(), error_);
  }

  bool Fail(const std::string& why) {
    *error_ = why;
    return false;
  }

 private:
  // Whether `size` more bytes keep the package below 4 GiB.
  bool Room(uint64_t size) {
    if (size > kMaxPackageSize - offset()) return Fail(kTooLarge);
    return true;
  }

  bool Trailer(sfx::Md5* object, uint64_t start, ObjectRange* range) {
    uint8_t digest[sfx::kMd5DigestSize];
    object->Final(digest);
    const std::vector<uint8_t> trailer = MakeBinaryTrailerFromDigest(key_, digest);
    whole_.Update(trailer.data(), trailer.size());
    if (!out_->Write(trailer.data(), trailer.size(), error_)) return false;
    if (range) {
      range->offset = static_cast<uint32_t>(start);
      range->size = static_cast<uint32_t>(offset() - start);
    }
    return true;
  }

  const DsaPrivateKey& key_;
  OutputFile* out_;
  Progress* progress_;
  std::string* error_;
  std::unique_ptr<uint8_t[]> buffer_;
  std::unique_ptr<uint8_t[]> packed_;
  sfx::Md5 whole_;
};

}  // namespace

bool DeriveSaltFromFiles(const DsaPrivateKey& key, const PackPlan& plan, Progress* progress,
                         std::vector<uint8_t>* salt, std::string* error) {
  SaltDigest digest;
  std::unique_ptr<uint8_t[]> buffer(new uint8_t[kPieceSize]);
  auto field = [&](const InputFile& file) {
    digest.FieldStart(file.size());
    return ForEachPiece(
        file, buffer.get(),
        [&](const uint8_t* data, size_t n) {
          digest.Update(data, n);
          if (progress) progress->Advance(n);
          return true;
        },
        error);
  };
  if (!field(*plan.stub) || !field(*plan.mainProgram)) return false;
  digest.Field(plan.commandTemplate);
  digest.U8(plan.allowDuplicates ? 1 : 0);
  digest.U64(plan.files.size());
  for (const PackSource& source : plan.files) {
    digest.Field(source.name);
    if (!field(*source.file)) return false;
    digest.U32(source.time);
    digest.U8(source.kind == PackageInput::Kind::kRaw ? 1 : 0);
  }
  *salt = digest.Finish(key);
  return true;
}

bool WritePackage(const PackPlan& plan, const DsaPrivateKey& key, const std::vector<uint8_t>& salt,
                  OutputFile* out, Progress* progress, std::string* error) {
  Writer writer(key, out, progress, error);
  if (!writer.Signed(*plan.stub, nullptr)) return false;
  // Before every byte the author supplies, so that none of them meets a predictable MD5 state.
  if (!salt.empty()) {
    if (salt.size() != kSaltSize) return writer.Fail("a salt must be " + std::to_string(kSaltSize) + " bytes");
    std::vector<uint8_t> block(kSaltMagic, kSaltMagic + kSaltMagicSize);
    block.insert(block.end(), salt.begin(), salt.end());
    if (!writer.Plain(block.data(), block.size())) return false;
  }
  std::vector<CatalogEntry> entries;
  for (const PackSource& source : plan.files) {
    CatalogEntry entry;
    entry.name = source.name;
    entry.time = source.time;
    const bool ok = source.kind == PackageInput::Kind::kRaw
                        ? writer.Signed(*source.file, &entry.range)
                        : writer.CompressedFile(*source.file, &entry.range, kMaxPackageSize);
    if (!ok) return false;
    entries.push_back(entry);
  }
  ObjectRange main;
  if (!writer.CompressedFile(*plan.mainProgram, &main, sfx::kMaxMainProgramSize)) return false;
  ObjectRange catalog;
  if (!writer.CompressedBytes(MakeCatalog("extract", plan.commandTemplate, main, entries), &catalog)) {
    return false;
  }
  std::vector<uint8_t> trailer;
  AppendU32(&trailer, catalog.offset);
  trailer.insert(trailer.end(), sfx::kArchiveMagic, sfx::kArchiveMagic + sfx::kArchiveMagicSize);
  return writer.Plain(trailer.data(), trailer.size()) && writer.ClosingSignature();
}

}  // namespace sfxpack
