// The package salt: derived from the key and every input, placed where no catalog range reaches.
#include "tools/sfxpack/package_salt.h"

#include <cryptopp/hmac.h>
#include <cryptopp/sha.h>
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "sfxstub/archive/sfx_archive.h"
#include "tests/common/minimal_pe.h"
#include "tests/common/temp_dir.h"
#include "tests/common/test_signer_key.h"
#include "tools/sfxpack/dsa_signer.h"

namespace sfxpack {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes B(const std::string& s) { return Bytes(s.begin(), s.end()); }

const DsaPrivateKey& Key() { return sfx::TestSignerKey(); }

PackageInput Input() {
  PackageInput input;
  input.stub = sfx::MinimalPeImage(0x80);
  input.mainProgram = B("main program");
  input.commandTemplate = "%CMDLINE%";
  input.files.push_back({"ab", B("c"), 100, PackageInput::Kind::kPackage});
  input.files.push_back({"two", B("second"), 200, PackageInput::Kind::kRaw});
  return input;
}

TEST(PackageSalt, RepeatsForTheSameInputsAndKeyAndChangesWithEachOfThem) {
  const Bytes base = DerivePackageSalt(Key(), Input());
  ASSERT_EQ(kSaltSize, base.size());
  EXPECT_EQ(base, DerivePackageSalt(Key(), Input()));
  // The salt a package already carries is not an input.
  PackageInput withSalt = Input();
  withSalt.salt = Bytes(kSaltSize, 7);
  EXPECT_EQ(base, DerivePackageSalt(Key(), withSalt));

  struct Variant {
    const char* what;
    void (*change)(PackageInput*);
  } variants[] = {
      {"stub byte", [](PackageInput* in) { in->stub.back() ^= 1; }},
      {"main program byte", [](PackageInput* in) { in->mainProgram[0] ^= 1; }},
      {"template", [](PackageInput* in) { in->commandTemplate += " "; }},
      {"duplicates allowed", [](PackageInput* in) { in->allowDuplicates = true; }},
      {"file name", [](PackageInput* in) { in->files[1].name = "twO"; }},
      {"file data", [](PackageInput* in) { in->files[1].data.push_back(0); }},
      {"file time", [](PackageInput* in) { in->files[1].time += 1; }},
      {"file kind", [](PackageInput* in) { in->files[1].kind = PackageInput::Kind::kPackage; }},
      {"file order", [](PackageInput* in) { std::swap(in->files[0], in->files[1]); }},
      {"an empty file more", [](PackageInput* in) { in->files.push_back({"e", {}, 0, PackageInput::Kind::kRaw}); }},
      // The same bytes split another way between name and data, or between main and template.
      {"name/data boundary", [](PackageInput* in) { in->files[0].name = "a"; in->files[0].data = B("bc"); }},
      {"main/template boundary", [](PackageInput* in) {
         in->mainProgram = B("main progra");
         in->commandTemplate = "m%CMDLINE%";
       }},
  };
  std::set<Bytes> seen = {base};
  for (const Variant& v : variants) {
    PackageInput input = Input();
    v.change(&input);
    EXPECT_TRUE(seen.insert(DerivePackageSalt(Key(), input)).second) << v.what;
  }

  // Another private exponent (the derivation reads only x), another salt.
  DsaPrivateKey other = Key();
  other.x[19] ^= 1;
  EXPECT_TRUE(seen.insert(DerivePackageSalt(other, Input())).second);
}

// The salt is the documented formula (package_salt.h), computed here from its own words: every
// field length-prefixed, every integer little-endian.
TEST(PackageSalt, IsTheDocumentedFormula) {
  auto u64 = [](uint64_t v) {
    Bytes b;
    for (int i = 0; i < 8; ++i) b.push_back(static_cast<uint8_t>(v >> (8 * i)));
    return b;
  };
  auto field = [&](const Bytes& data) {
    Bytes b = u64(data.size());
    b.insert(b.end(), data.begin(), data.end());
    return b;
  };
  auto cat = [](std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes& p : parts) all.insert(all.end(), p.begin(), p.end());
    return all;
  };
  auto sha256 = [](const Bytes& data) {
    Bytes out(CryptoPP::SHA256::DIGESTSIZE);
    CryptoPP::SHA256().CalculateDigest(out.data(), data.data(), data.size());
    return out;
  };
  const PackageInput input = Input();
  const Bytes key = sha256(cat({field(B("sfxpack salt key v1")), Bytes(Key().x, Key().x + 20)}));
  const Bytes digest = sha256(cat({
      field(B("sfxpack salt input v1")), field(input.stub), field(input.mainProgram),
      field(B(input.commandTemplate)), Bytes{0}, u64(2),
      field(B("ab")), field(B("c")), Bytes{100, 0, 0, 0}, Bytes{0},    // a package file
      field(B("two")), field(B("second")), Bytes{200, 0, 0, 0}, Bytes{1},  // a raw file
  }));
  Bytes expected(CryptoPP::SHA256::DIGESTSIZE);
  CryptoPP::HMAC<CryptoPP::SHA256>(key.data(), key.size()).CalculateDigest(
      expected.data(), digest.data(), digest.size());
  EXPECT_EQ(expected, DerivePackageSalt(Key(), input));
}

// The block stands between the stub's trailer and the first stored object, the reader finds
// every object where it was, and no catalog range points into the block.
TEST(PackageSalt, BlockStandsInFrontOfEveryStoredObject) {
  PackageInput input = Input();
  input.salt = DerivePackageSalt(Key(), input);
  TrailerSigner signer = [](const uint8_t* data, size_t length) {
    return MakeBinaryTrailer(Key(), data, length);
  };
  Bytes package;
  Status status;
  ASSERT_TRUE((status = BuildPackage(input, signer, &package)).ok()) << status.reason();

  sfx::TempDir dir;
  const std::string path = dir.Write("p.exe", package);
  sfx::SfxArchive archive(Key().pub);
  ASSERT_TRUE(archive.Open(path).ok());
  uint32_t at = 0;
  ASSERT_TRUE(PackageHasSalt(path, archive, &at));
  EXPECT_EQ(input.stub.size() + 48, at);
  EXPECT_EQ(input.salt, Bytes(package.begin() + at + kSaltMagicSize, package.begin() + at + kSaltBlockSize));
  EXPECT_EQ(at + kSaltBlockSize, FirstStoredObject(archive));

  auto outsideSalt = [&](uint32_t offset, uint32_t size) {
    return uint64_t{offset} + size <= at || offset >= at + kSaltBlockSize;
  };
  EXPECT_TRUE(outsideSalt(archive.mainOffset, archive.mainSize));
  for (const sfx::FileRecord& r : archive.files) EXPECT_TRUE(outsideSalt(r.offset, r.size)) << r.name;

  // A salt of another size is refused, and without one there is no block.
  input.salt.resize(16);
  EXPECT_FALSE((status = BuildPackage(input, signer, &package)).ok());
  EXPECT_NE(std::string::npos, status.reason().find("salt")) << status.reason();
  input.salt.clear();
  ASSERT_TRUE((status = BuildPackage(input, signer, &package)).ok()) << status.reason();
  const std::string plain = dir.Write("plain.exe", package);
  sfx::SfxArchive unsalted(Key().pub);
  ASSERT_TRUE(unsalted.Open(plain).ok());
  EXPECT_FALSE(PackageHasSalt(plain, unsalted, &at));
  EXPECT_EQ(input.stub.size() + 48, FirstStoredObject(unsalted));
}

}  // namespace
}  // namespace sfxpack
