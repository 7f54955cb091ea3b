// Packing from files in pieces gives byte for byte the package BuildPackage makes in memory,
// salt included, so the stub reads both alike.
#include "tools/sfxpack/package_stream.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "tests/common/minimal_pe.h"
#include "tests/common/temp_dir.h"
#include "tests/common/test_signer_key.h"
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
  Status status;
  ASSERT_TRUE((status = files[0].Open("stub", dir.Write("stub", input.stub), 1ull << 32)).ok()) << status.reason();
  ASSERT_TRUE((status = files[1].Open("main", dir.Write("main", input.mainProgram), 1ull << 32)).ok());
  PackPlan plan;
  plan.stub = &files[0];
  plan.mainProgram = &files[1];
  plan.commandTemplate = input.commandTemplate;
  for (size_t i = 0; i < input.files.size(); ++i) {
    ASSERT_TRUE(files[2 + i].Open("file", dir.Write("f" + std::to_string(i), input.files[i].data),
                                  1ull << 32).ok());
    plan.files.push_back({input.files[i].name, &files[2 + i], input.files[i].time, input.files[i].kind});
  }

  for (bool salted : {true, false}) {
    SCOPED_TRACE(salted ? "salted" : "plain");
    input.salt = salted ? DerivePackageSalt(key, input) : Bytes();
    Bytes expected;
    TrailerSigner signer = [&key](const uint8_t* data, size_t size) {
      return MakeBinaryTrailer(key, data, size);
    };
    ASSERT_TRUE((status = BuildPackage(input, signer, &expected)).ok()) << status.reason();

    std::vector<uint8_t> salt;
    if (salted) {
      ASSERT_TRUE((status = DeriveSaltFromFiles(key, plan, nullptr, &salt)).ok()) << status.reason();
      EXPECT_EQ(input.salt, salt);
    }
    const std::string path = dir.Path(salted ? "salted.exe" : "plain.exe");
    OutputFile out;
    ASSERT_TRUE((status = out.Create(path, 0644)).ok()) << status.reason();
    ASSERT_TRUE((status = WritePackage(plan, key, salt, &out, nullptr)).ok()) << status.reason();
    ASSERT_TRUE((status = out.Commit(false)).ok()) << status.reason();
    const Bytes written = sfx::TempDir::Read(path);
    ASSERT_EQ(expected.size(), written.size());
    EXPECT_TRUE(expected == written);
  }
}

// An object that fits while its trailer would not is refused before a byte of it is written:
// the package must stay below 4 GiB. (A file size limit keeps a faulty writer from writing 4 GiB
// before it fails; the refusal must come from the room check, not from that limit.)
TEST(PackageStream, RefusesAnObjectWhoseTrailerWouldNotFit) {
  sfx::TempDir dir;
  const Bytes stubBytes = sfx::MinimalPeImage(0x400);
  InputFile stub, main, raw;
  ASSERT_TRUE(stub.Open("stub", dir.Write("stub", stubBytes), 1ull << 32).ok());
  ASSERT_TRUE(main.Open("main", dir.Write("main", sfx::MinimalPeImage(0x400)), 1ull << 32).ok());
  const uint64_t room = kMaxPackageSize - (stubBytes.size() + 48);
  const std::string rawPath = dir.Write("raw", std::string());
  ASSERT_EQ(0, ::truncate(rawPath.c_str(), static_cast<off_t>(room - 10)));  // fits; +48 does not
  ASSERT_TRUE(raw.Open("raw", rawPath, 1ull << 32).ok());
  PackPlan plan;
  plan.stub = &stub;
  plan.mainProgram = &main;
  plan.files.push_back({"raw", &raw, 0, PackageInput::Kind::kRaw});

  struct rlimit old;
  ASSERT_EQ(0, ::getrlimit(RLIMIT_FSIZE, &old));
  struct rlimit limited = old;
  limited.rlim_cur = 64 << 20;
  const auto previous = ::signal(SIGXFSZ, SIG_IGN);
  ASSERT_EQ(0, ::setrlimit(RLIMIT_FSIZE, &limited));
  OutputFile out;
  Status status = out.Create(dir.Path("package.exe"), 0644);
  if (status.ok()) status = WritePackage(plan, sfx::TestSignerKey(), {}, &out, nullptr);
  ::setrlimit(RLIMIT_FSIZE, &old);
  ::signal(SIGXFSZ, previous);
  EXPECT_FALSE(status.ok());
  EXPECT_NE(std::string::npos, status.reason().find("below 4 GiB")) << status.reason();
  EXPECT_EQ(stubBytes.size() + 48, out.written());
}

}  // namespace
}  // namespace sfxpack
