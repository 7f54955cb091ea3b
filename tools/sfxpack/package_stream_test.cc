// Packing from files in pieces gives byte for byte the package BuildPackage makes in memory,
// salt included, so the stub reads both alike.
#include "tools/sfxpack/package_stream.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/common/minimal_pe.h"
#include "tests/common/temp_dir.h"
#include "tests/common/test_signer.h"
#include "tools/sfxpack/dsa_signer.h"
#include "tools/sfxpack/package_salt.h"

namespace sfxpack {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes Pattern(size_t size, unsigned seed) {
  Bytes bytes(size);
  uint32_t x = seed;
  for (size_t i = 0; i < size; ++i) {
    x = x * 1103515245u + 12345u;
    // Half repetitive, half noisy: compressible, but not trivially.
    bytes[i] = (i / 4096) % 2 ? static_cast<uint8_t>(x >> 24) : static_cast<uint8_t>(i / 7);
  }
  return bytes;
}

TEST(PackageStream, MatchesThePackageBuiltInMemory) {
  sfx::TempDir dir;
  PackageInput input;
  input.stub = sfx::MinimalPeImage(0x400);
  input.mainProgram = Pattern(3 << 20, 1);  // over one piece, so the streams are cut
  input.commandTemplate = "/q %CMDLINE%";
  input.files.push_back({"a.bin", Pattern(2500000, 2), 1577934245u, PackageInput::Kind::kPackage});
  input.files.push_back({"b.bin", Pattern(1300000, 3), 86400u, PackageInput::Kind::kRaw});
  input.files.push_back({"empty", Bytes(), 5u, PackageInput::Kind::kPackage});
  const DsaPrivateKey& key = sfx::TestSignerKey();

  std::vector<InputFile> files(2 + input.files.size());
  std::string error;
  ASSERT_TRUE(files[0].Open("stub", dir.Write("stub", input.stub), 1ull << 32, &error)) << error;
  ASSERT_TRUE(files[1].Open("main", dir.Write("main", input.mainProgram), 1ull << 32, &error));
  PackPlan plan;
  plan.stub = &files[0];
  plan.mainProgram = &files[1];
  plan.commandTemplate = input.commandTemplate;
  for (size_t i = 0; i < input.files.size(); ++i) {
    ASSERT_TRUE(files[2 + i].Open("file", dir.Write("f" + std::to_string(i), input.files[i].data),
                                  1ull << 32, &error));
    plan.files.push_back({input.files[i].name, &files[2 + i], input.files[i].time, input.files[i].kind});
  }

  for (bool salted : {true, false}) {
    SCOPED_TRACE(salted ? "salted" : "plain");
    input.salt = salted ? DerivePackageSalt(key, input) : Bytes();
    Bytes expected;
    TrailerSigner signer = [&key](const uint8_t* data, size_t size) {
      return MakeBinaryTrailer(key, data, size);
    };
    ASSERT_TRUE(BuildPackage(input, signer, &expected, &error)) << error;

    std::vector<uint8_t> salt;
    if (salted) {
      ASSERT_TRUE(DeriveSaltFromFiles(key, plan, nullptr, &salt, &error)) << error;
      EXPECT_EQ(input.salt, salt);
    }
    const std::string path = dir.Path(salted ? "salted.exe" : "plain.exe");
    OutputFile out;
    ASSERT_TRUE(out.Create(path, 0644, &error)) << error;
    ASSERT_TRUE(WritePackage(plan, key, salt, &out, nullptr, &error)) << error;
    ASSERT_TRUE(out.Commit(false, &error)) << error;
    const Bytes written = sfx::TempDir::Read(path);
    ASSERT_EQ(expected.size(), written.size());
    EXPECT_TRUE(expected == written);
  }
}

}  // namespace
}  // namespace sfxpack
