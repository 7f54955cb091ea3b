// Packing from files in pieces gives byte for byte the package BuildPackage makes in memory,
// salt included, so the stub reads both alike.
#include "tools/sfxpack/package_stream.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <iterator>
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

    SaltPass salt;
    if (salted) {
      ASSERT_TRUE((status = DeriveSaltFromFiles(key, plan, nullptr, &salt)).ok()) << status.reason();
      EXPECT_EQ(input.salt, salt.salt);
      EXPECT_EQ(2 + input.files.size(), salt.inputs.size());
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
  if (status.ok()) status = WritePackage(plan, sfx::TestSignerKey(), SaltPass(), &out, nullptr);
  ::setrlimit(RLIMIT_FSIZE, &old);
  ::signal(SIGXFSZ, previous);
  EXPECT_FALSE(status.ok());
  EXPECT_NE(std::string::npos, status.reason().find("below 4 GiB")) << status.reason();
  EXPECT_EQ(stubBytes.size() + 48, out.written());
}

// An input that another process changes between the salt pass and the write pass (here one byte,
// the size kept, as a file served in two versions would be) stops the pack with exit 2, naming
// it, and the temporary output goes; the same plan unchanged packs. Each kind of input: the
// stub, the main program, a raw and a compressed listed file.
TEST(PackageStream, AnInputThatChangesBetweenThePassesStopsThePack) {
  sfx::TempDir dir;
  const std::vector<std::string> paths = {
      dir.Write("stub", sfx::MinimalPeImage(0x400)), dir.Write("main", Pattern(300000, 4)),
      dir.Write("raw", Pattern(2500000, 5)), dir.Write("packed", Pattern(200000, 6))};
  InputFile files[4];
  for (size_t i = 0; i < 4; ++i) ASSERT_TRUE(files[i].Open("in", paths[i], 1ull << 32).ok());
  PackPlan plan;
  plan.stub = &files[0];
  plan.mainProgram = &files[1];
  plan.files.push_back({"raw", &files[2], 0, PackageInput::Kind::kRaw});
  plan.files.push_back({"packed", &files[3], 0, PackageInput::Kind::kPackage});
  const std::string output = dir.Path("package.exe");
  std::function<Status()> changeBetweenPasses;
  auto pack = [&] {
    SaltPass pass;
    Status status = DeriveSaltFromFiles(sfx::TestSignerKey(), plan, nullptr, &pass);
    if (status.ok()) status = changeBetweenPasses();
    OutputFile out;
    if (status.ok()) status = out.Create(output, 0644);
    if (status.ok()) status = WritePackage(plan, sfx::TestSignerKey(), pass, &out, nullptr);
    if (status.ok()) status = out.Commit(true);
    return status;
  };
  for (size_t changed = 0; changed < 4; ++changed) {
    SCOPED_TRACE(paths[changed]);
    changeBetweenPasses = [&] {
      // In place, through another descriptor: what the open input reads from now on.
      const int fd = ::open(paths[changed].c_str(), O_WRONLY);
      const char flipped = 'Z';
      const bool done = fd >= 0 && ::pwrite(fd, &flipped, 1, 0x3F) == 1;
      if (fd >= 0) ::close(fd);
      return done ? Status::Ok() : Status::Error("cannot change the input");
    };
    const Status status = pack();
    EXPECT_EQ(kExitError, status.code()) << status.reason();
    EXPECT_NE(std::string::npos, status.reason().find(paths[changed] + " changed while it was packed"))
        << status.reason();
    EXPECT_EQ(4u, std::distance(std::filesystem::directory_iterator(dir.path()),
                                std::filesystem::directory_iterator()))
        << "the temporary output was left";
  }
  changeBetweenPasses = [] { return Status::Ok(); };
  const Status status = pack();
  EXPECT_TRUE(status.ok()) << status.reason();
}

}  // namespace
}  // namespace sfxpack
