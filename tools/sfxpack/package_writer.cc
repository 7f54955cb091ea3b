#include "tools/sfxpack/package_writer.h"

#include <zlib.h>

#include <cstring>
#include <set>
#include <utility>

#include "sfxstub/format/byte_order.h"
#include "sfxstub/format/package_format.h"

namespace sfxpack {

// Chosen to differ from every magic of the format ("OLMsetup...", "OLMSign...", "OLM_MD5a"), so
// that no reader takes the block for an object or a trailer.
const char kSaltMagic[kSaltMagicSize + 1] = "sfxpack.salt.v1.";

namespace {

constexpr size_t kTrailerSize = sfx::kBinaryTrailerSize;

}  // namespace

Status MakePackageFileBody(const uint8_t* content, size_t size, std::vector<uint8_t>* out) {
  if (size > kMaxPackageSize) return Status::Error("file too large for a package (4 GiB or more)");
  z_stream z;
  std::memset(&z, 0, sizeof z);
  // Level 9 with a 32 KiB window (windowBits 15): the zlib header is 0x78 0xDA.
  if (deflateInit2(&z, Z_BEST_COMPRESSION, Z_DEFLATED, 15, 8, Z_DEFAULT_STRATEGY) != Z_OK) {
    return Status::Error("zlib: cannot start compression");
  }
  std::vector<uint8_t> packed(deflateBound(&z, static_cast<uLong>(size)));
  z.next_in = const_cast<Bytef*>(content);
  z.avail_in = static_cast<uInt>(size);
  z.next_out = packed.data();
  z.avail_out = static_cast<uInt>(packed.size());
  int rc = deflate(&z, Z_FINISH);
  size_t storedSize = z.total_out;
  deflateEnd(&z);
  if (rc != Z_STREAM_END) return Status::Error("zlib: compression failed");
  if (storedSize > kMaxPackageSize) {
    return Status::Error("compressed file too large for a package (4 GiB or more)");
  }
  std::vector<uint8_t> body =
      MakePackageFileHeader(static_cast<uint32_t>(size), static_cast<uint32_t>(storedSize));
  body.insert(body.end(), packed.begin(), packed.begin() + static_cast<ptrdiff_t>(storedSize));
  *out = std::move(body);
  return Status::Ok();
}

std::vector<uint8_t> MakePackageFileHeader(uint32_t inflatedSize, uint32_t storedSize) {
  std::vector<uint8_t> header(sfx::CompressedPackageMagic(),
                              sfx::CompressedPackageMagic() + sfx::kPackageMagicSize);
  sfx::AppendU32(&header, inflatedSize);
  sfx::AppendU32(&header, storedSize);
  return header;
}

void AppendChunk(std::vector<uint8_t>* out, const char* tag, const void* payload, size_t length) {
  out->insert(out->end(), tag, tag + 4);
  sfx::AppendU32(out, static_cast<uint32_t>(length));
  const uint8_t* bytes = static_cast<const uint8_t*>(payload);
  if (length) out->insert(out->end(), bytes, bytes + length);
}

std::vector<uint8_t> MakeCatalog(const std::string& mode, const std::string& commandTemplate,
                                 ObjectRange main, const std::vector<CatalogEntry>& files) {
  std::vector<uint8_t> catalog;
  AppendTextChunk(&catalog, sfx::kModeTag, mode);
  AppendTextChunk(&catalog, sfx::kCommandTemplateTag, commandTemplate);
  std::vector<uint8_t> range;
  sfx::AppendU32(&range, main.offset);
  sfx::AppendU32(&range, main.size);
  AppendChunk(&catalog, sfx::kMainRangeTag, range);
  std::vector<uint8_t> list;
  for (const CatalogEntry& file : files) {
    std::vector<uint8_t> entry;
    AppendTextChunk(&entry, sfx::kNameTag, file.name);
    std::vector<uint8_t> pointer;
    sfx::AppendU32(&pointer, file.range.offset);
    sfx::AppendU32(&pointer, file.range.size);
    sfx::AppendU32(&pointer, file.time);
    AppendChunk(&entry, sfx::kFileRangeTag, pointer);
    AppendChunk(&list, sfx::kFileTag, entry);
  }
  AppendChunk(&catalog, sfx::kFileListTag, list);
  return catalog;
}

PackageBuilder::PackageBuilder(TrailerSigner signer) : signer_(std::move(signer)) {}

Status PackageBuilder::Fail(const std::string& why) {
  if (status_.ok()) status_ = Status::Error(why);
  return status_;
}

Status PackageBuilder::Append(const uint8_t* data, size_t size, bool sign, ObjectRange* range) {
  if (!status_.ok()) return status_;
  // Compared by subtraction: out.size() never exceeds the limit, so nothing can wrap.
  const uint64_t room = kMaxPackageSize - out_.size();
  if (size > room || (sign && size + kTrailerSize > room)) {
    return Fail("package too large: it must stay below 4 GiB");
  }
  const size_t start = out_.size();
  if (size) out_.insert(out_.end(), data, data + size);
  if (sign) {
    std::vector<uint8_t> trailer = signer_(out_.data() + start, size);
    if (trailer.size() != kTrailerSize) {
      out_.resize(start);
      return Fail("cannot sign: the signer made no trailer");
    }
    out_.insert(out_.end(), trailer.begin(), trailer.end());
  }
  if (range) {
    range->offset = static_cast<uint32_t>(start);
    range->size = static_cast<uint32_t>(out_.size() - start);
  }
  return status_;
}

Status PackageBuilder::AddStub(const uint8_t* stub, size_t size) {
  return Append(stub, size, true, nullptr);
}

Status PackageBuilder::AddSaltBlock(const uint8_t* salt, ObjectRange* range) {
  std::vector<uint8_t> block(kSaltMagic, kSaltMagic + kSaltMagicSize);
  block.insert(block.end(), salt, salt + kSaltSize);
  return Append(block.data(), block.size(), false, range);
}

Status PackageBuilder::AddObject(const uint8_t* data, size_t size, ObjectRange* range) {
  return Append(data, size, false, range);
}

Status PackageBuilder::AddPackageFile(const uint8_t* content, size_t size, ObjectRange* range) {
  if (!status_.ok()) return status_;
  std::vector<uint8_t> body;
  const Status made = MakePackageFileBody(content, size, &body);
  if (!made.ok()) return Fail(made.reason());
  return Append(body.data(), body.size(), true, range);
}

Status PackageBuilder::AddRawFile(const uint8_t* content, size_t size, ObjectRange* range) {
  return Append(content, size, true, range);
}

Status PackageBuilder::AddArchiveTrailer(uint32_t catalogOffset, const char* magic) {
  std::vector<uint8_t> trailer;
  sfx::AppendU32(&trailer, catalogOffset);
  trailer.insert(trailer.end(), magic, magic + sfx::kArchiveMagicSize);
  return Append(trailer.data(), trailer.size(), false, nullptr);
}

Status PackageBuilder::AddClosingSignature() {
  if (!status_.ok()) return status_;
  if (kMaxPackageSize - out_.size() < kTrailerSize) {
    return Fail("package too large: it must stay below 4 GiB");
  }
  std::vector<uint8_t> trailer = signer_(out_.data(), out_.size());
  if (trailer.size() != kTrailerSize) return Fail("cannot sign: the signer made no trailer");
  out_.insert(out_.end(), trailer.begin(), trailer.end());
  return status_;
}

Status PackageBuilder::Finish(const std::vector<uint8_t>& catalog) {
  ObjectRange range;
  AddPackageFile(catalog.data(), catalog.size(), &range);
  AddArchiveTrailer(range.offset);
  return AddClosingSignature();
}

bool IsPeImage(const std::vector<uint8_t>& image) {
  sfx::PeImage headers;
  return sfx::HasPeSignature(headers.Parse(image.data(), image.size()));
}

sfx::PeKind GetStubKind(const uint8_t* data, size_t size) {
  sfx::PeImage image;
  return image.Parse(data, size) == sfx::PeProblem::kNone ? image.kind() : sfx::PeKind::kUnknown;
}

const char* DescribeStubKind(sfx::PeKind kind) {
  switch (kind) {
    case sfx::PeKind::kPe32: return "32-bit Windows (PE32)";
    case sfx::PeKind::kPe32Plus: return "64-bit Windows (PE32+)";
    case sfx::PeKind::kUnknown: break;
  }
  return "unknown (no PE32 or PE32+ header)";
}

Status CheckFileName(const std::string& name) {
  if (name.empty()) return Status::Error("empty file name");
  if (name.find_first_of("/\\") != std::string::npos) {
    return Status::Error("file name '" + name + "' holds a path separator");
  }
  if (name.find(':') != std::string::npos) return Status::Error("file name '" + name + "' holds a ':'");
  if (name.find("..") != std::string::npos) return Status::Error("file name '" + name + "' holds '..'");
  return Status::Ok();
}

namespace {

// What BuildPackage refuses before it lays anything out.
Status CheckInput(const PackageInput& input) {
  if (!IsPeImage(input.stub)) {
    return Status::Error("the stub is not a PE file (no \"MZ\" and \"PE\\0\\0\" header)");
  }
  if (!input.salt.empty() && input.salt.size() != kSaltSize) {
    return Status::Error("a salt must be " + std::to_string(kSaltSize) + " bytes");
  }
  std::set<std::string> seen;
  uint64_t total = input.stub.size() + input.mainProgram.size() +
                   (input.salt.empty() ? 0 : kSaltBlockSize);
  for (const PackageInput::File& file : input.files) {
    const Status status = CheckFileName(file.name);
    if (!status.ok()) return status;
    if (!seen.insert(file.name).second && !input.allowDuplicates) {
      return Status::Error("duplicate file name '" + file.name + "' (--allow-duplicates permits it)");
    }
    total += file.data.size();
  }
  // A cheap early refusal; compressed objects are counted exactly as they are added.
  if (total > kMaxPackageSize) return Status::Error("package too large: it must stay below 4 GiB");
  return Status::Ok();
}

}  // namespace

Status BuildPackage(const PackageInput& input, const TrailerSigner& signer,
                    std::vector<uint8_t>* package) {
  const Status checked = CheckInput(input);
  if (!checked.ok()) return checked;
  PackageBuilder builder(signer);
  builder.AddStub(input.stub.data(), input.stub.size());
  // Before every byte the author supplies, so that none of them meets a predictable MD5 state.
  if (!input.salt.empty()) builder.AddSaltBlock(input.salt.data(), nullptr);
  std::vector<CatalogEntry> entries;
  for (const PackageInput::File& file : input.files) {
    CatalogEntry entry;
    entry.name = file.name;
    entry.time = file.time;
    if (file.kind == PackageInput::Kind::kRaw) {
      builder.AddRawFile(file.data.data(), file.data.size(), &entry.range);
    } else {
      builder.AddPackageFile(file.data.data(), file.data.size(), &entry.range);
    }
    entries.push_back(entry);
  }
  ObjectRange main;
  builder.AddPackageFile(input.mainProgram.data(), input.mainProgram.size(), &main);
  const Status status = builder.Finish(MakeCatalog("extract", input.commandTemplate, main, entries));
  if (status.ok()) *package = builder.TakeBytes();
  return status;
}

bool FindSaltBlock(const uint8_t* package, size_t size, uint32_t firstObject,
                   uint32_t* blockOffset) {
  if (firstObject > size || firstObject < kSaltBlockSize) return false;
  const uint32_t at = firstObject - static_cast<uint32_t>(kSaltBlockSize);
  if (std::memcmp(package + at, kSaltMagic, kSaltMagicSize) != 0) return false;
  *blockOffset = at;
  return true;
}

}  // namespace sfxpack
