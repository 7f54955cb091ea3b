#include "tools/sfxpack/package_salt.h"

#include <cryptopp/hmac.h>
#include <cryptopp/secblock.h>
#include <cryptopp/sha.h>

#include <algorithm>
#include <fstream>

#include "sfxstub/format/byte_order.h"

namespace sfxpack {
namespace {

constexpr char kKeyLabel[] = "sfxpack salt key v1";
constexpr char kInputLabel[] = "sfxpack salt input v1";

void AddU64(CryptoPP::SHA256* hash, uint64_t value) {
  uint8_t bytes[8];
  sfx::StoreU32(bytes, static_cast<uint32_t>(value));
  sfx::StoreU32(bytes + 4, static_cast<uint32_t>(value >> 32));
  hash->Update(bytes, sizeof bytes);
}

void AddU32(CryptoPP::SHA256* hash, uint32_t value) {
  uint8_t bytes[4];
  sfx::StoreU32(bytes, value);
  hash->Update(bytes, sizeof bytes);
}

// The length first: "ab" + "c" and "a" + "bc" hash differently.
void AddField(CryptoPP::SHA256* hash, const void* data, size_t size) {
  AddU64(hash, size);
  if (size) hash->Update(static_cast<const uint8_t*>(data), size);
}

void AddField(CryptoPP::SHA256* hash, const std::string& text) {
  AddField(hash, text.data(), text.size());
}

}  // namespace

struct SaltDigest::State {
  CryptoPP::SHA256 hash;
};

SaltDigest::SaltDigest() : state_(new State) { AddField(&state_->hash, std::string(kInputLabel)); }
SaltDigest::~SaltDigest() { delete state_; }
void SaltDigest::FieldStart(uint64_t size) { AddU64(&state_->hash, size); }
void SaltDigest::Update(const uint8_t* data, size_t size) {
  if (size) state_->hash.Update(data, size);
}
void SaltDigest::Field(const std::string& text) { AddField(&state_->hash, text); }
void SaltDigest::U8(uint8_t value) { state_->hash.Update(&value, 1); }
void SaltDigest::U32(uint32_t value) { AddU32(&state_->hash, value); }
void SaltDigest::U64(uint64_t value) { AddU64(&state_->hash, value); }

std::vector<uint8_t> SaltDigest::Finish(const DsaPrivateKey& key) {
  // The MAC key stands for x and only for this use: SHA-256 does not give x away, and the label
  // keeps it apart from anything else derived from x (the signer's nonces).
  CryptoPP::SecByteBlock saltKey(CryptoPP::SHA256::DIGESTSIZE);
  {
    CryptoPP::SHA256 hash;
    AddField(&hash, std::string(kKeyLabel));
    hash.Update(key.x, sizeof key.x);
    hash.Final(saltKey);
  }
  uint8_t digest[CryptoPP::SHA256::DIGESTSIZE];
  state_->hash.Final(digest);

  static_assert(CryptoPP::SHA256::DIGESTSIZE == kSaltSize, "the salt is one HMAC-SHA-256 value");
  std::vector<uint8_t> salt(kSaltSize);
  CryptoPP::HMAC<CryptoPP::SHA256> mac(saltKey, saltKey.size());
  mac.Update(digest, sizeof digest);
  mac.Final(salt.data());
  return salt;
}

std::vector<uint8_t> DerivePackageSalt(const DsaPrivateKey& key, const PackageInput& input) {
  SaltDigest digest;
  auto bytes = [&digest](const std::vector<uint8_t>& data) {
    digest.FieldStart(data.size());
    digest.Update(data.data(), data.size());
  };
  bytes(input.stub);
  bytes(input.mainProgram);
  digest.Field(input.commandTemplate);
  digest.U8(input.allowDuplicates ? 1 : 0);
  digest.U64(input.files.size());
  for (const PackageInput::File& file : input.files) {
    digest.Field(file.name);
    bytes(file.data);
    digest.U32(file.time);
    digest.U8(file.kind == PackageInput::Kind::kRaw ? 1 : 0);
  }
  return digest.Finish(key);
}

uint32_t FirstStoredObject(const sfx::SfxArchive& archive) {
  uint32_t first = archive.mainOffset;
  for (const sfx::FileRecord& record : archive.files) first = std::min(first, record.offset);
  return first;
}

bool PackageHasSalt(const std::string& path, const sfx::SfxArchive& archive,
                    uint32_t* blockOffset) {
  const uint32_t first = FirstStoredObject(archive);
  if (first < kSaltBlockSize) return false;
  // Only the bytes in front of the first object are read; the package may be large.
  std::ifstream in(path, std::ios::binary);
  std::vector<uint8_t> block(kSaltBlockSize);
  if (!in.seekg(first - kSaltBlockSize) ||
      !in.read(reinterpret_cast<char*>(block.data()), static_cast<std::streamsize>(block.size()))) {
    return false;
  }
  uint32_t at = 0;
  if (!FindSaltBlock(block.data(), block.size(), static_cast<uint32_t>(kSaltBlockSize), &at)) {
    return false;
  }
  *blockOffset = first - static_cast<uint32_t>(kSaltBlockSize);
  return true;
}

}  // namespace sfxpack
