#include "tools/sfxpack/package_writer.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "sfxstub/format/byte_order.h"
#include "sfxstub/io/memory_stream.h"
#include "sfxstub/archive/package_file.h"
#include "sfxstub/archive/sfx_archive.h"
#include "sfxstub/signing/signature_verify.h"
#include "tests/common/minimal_pe.h"
#include "tests/common/temp_dir.h"
#include "tests/common/test_signer_key.h"
#include "tools/sfxpack/dsa_key.h"
#include "tools/sfxpack/dsa_signer.h"

namespace sfxpack {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes B(const std::string& s) { return Bytes(s.begin(), s.end()); }

const DsaPrivateKey& Key() { return sfx::TestSignerKey(); }

TrailerSigner Signer() {
  return [](const uint8_t* data, size_t length) { return MakeBinaryTrailer(Key(), data, length); };
}

Bytes Stub() { return sfx::MinimalPeImage(0x80); }

uint32_t U32At(const Bytes& b, size_t at) { return sfx::LoadU32(&b[at]); }

TEST(PackageWriter, PackageFileBodyLayoutAndRoundTrip) {
  for (const Bytes& content : {Bytes(), B("x"), B(std::string(100000, 'q') + "tail")}) {
    Bytes body;
    Status status;
    ASSERT_TRUE((status = MakePackageFileBody(content.data(), content.size(), &body)).ok()) << status.reason();
    ASSERT_GE(body.size(), 26u);
    EXPECT_EQ("OLMsetupFPkgFile", std::string(body.begin(), body.begin() + 16));
    EXPECT_EQ(content.size(), U32At(body, 16));
    EXPECT_EQ(body.size() - 24, U32At(body, 20));
    EXPECT_EQ(0x78, body[24]);  // 32 KiB window
    EXPECT_EQ(0xDA, body[25]);  // maximum compression
    sfx::MemoryStream stream;
    ASSERT_TRUE(stream.Attach(body.data(), static_cast<uint32_t>(body.size())));
    std::unique_ptr<uint8_t[]> out;
    uint32_t length = 0;
    ASSERT_TRUE(sfx::ReadPackageFile(&stream, &out, &length));
    EXPECT_EQ(content, Bytes(out.get(), out.get() + length));
  }
}

// Each stored object carries its own trailer over exactly its own bytes, objects stand back to
// back, and the whole package verifies as one signed file.
TEST(PackageWriter, ObjectsAreContiguousAndEachIsSignedOnItsOwn) {
  sfx::TempDir dir;
  PackageBuilder b(Signer());
  Bytes stub = Stub(), content = B("content of a file"), raw = B("raw text");
  ASSERT_TRUE(b.AddStub(stub.data(), stub.size()).ok());
  ObjectRange packed, plain;
  ASSERT_TRUE(b.AddPackageFile(content.data(), content.size(), &packed).ok());
  ASSERT_TRUE(b.AddRawFile(raw.data(), raw.size(), &plain).ok());
  EXPECT_EQ(stub.size() + 48, packed.offset);
  EXPECT_EQ(packed.offset + packed.size, plain.offset);
  EXPECT_EQ(raw.size() + 48, plain.size);
  size_t catalogOffset = b.bytes().size();
  ASSERT_TRUE(b.Finish(MakeCatalog("extract", "", packed, {})).ok());
  const Bytes& all = b.bytes();

  auto verifies = [&](size_t from, size_t size) {
    std::string path = dir.Write("object", Bytes(all.begin() + from, all.begin() + from + size));
    return sfx::VerifySignedFile(path.c_str(), Key().pub);
  };
  EXPECT_TRUE(verifies(0, stub.size() + 48));
  EXPECT_TRUE(verifies(packed.offset, packed.size));
  EXPECT_TRUE(verifies(plain.offset, plain.size));
  EXPECT_TRUE(verifies(0, all.size()));
  EXPECT_FALSE(verifies(1, all.size() - 1));
  // The archive trailer points at the catalog and stands right before the closing signature.
  EXPECT_EQ(catalogOffset, U32At(all, all.size() - 68));
  EXPECT_EQ("OLMsetupSelfExt2", std::string(all.end() - 64, all.end() - 48));
}

TEST(PackageWriter, RefusesToGrowTo4GiB) {
  PackageBuilder b(Signer());
  Bytes stub = Stub();
  ASSERT_TRUE(b.AddStub(stub.data(), stub.size()).ok());
  uint8_t one = 0;
  // Refused from the sizes alone: the data is never read.
  EXPECT_FALSE(b.AddObject(&one, kMaxPackageSize - 100, nullptr).ok());
  EXPECT_NE(std::string::npos, b.status().reason().find("4 GiB"));
  // After a failure every later call fails too.
  EXPECT_FALSE(b.AddObject(&one, 1, nullptr).ok());
  EXPECT_FALSE(b.AddClosingSignature().ok());
  EXPECT_EQ(stub.size() + 48, b.bytes().size());

  // A signed object that fits while its trailer would not is refused as well, before any read.
  const uint64_t room = kMaxPackageSize - (stub.size() + 48);
  for (uint64_t size : {room, room - 47, room - 1}) {
    PackageBuilder signedObject(Signer());
    ASSERT_TRUE(signedObject.AddStub(stub.data(), stub.size()).ok());
    EXPECT_FALSE(signedObject.AddRawFile(&one, static_cast<size_t>(size), nullptr).ok()) << size;
    EXPECT_NE(std::string::npos, signedObject.status().reason().find("4 GiB")) << size;
  }
}

TEST(PackageWriter, RecognisesPeImages) {
  EXPECT_TRUE(IsPeImage(Stub()));
  Bytes noMz = Stub();
  noMz[0] = 'X';
  EXPECT_FALSE(IsPeImage(noMz));
  Bytes noPe = Stub();
  noPe[0x41] = 'X';
  EXPECT_FALSE(IsPeImage(noPe));
  for (uint32_t offset : {0x7Du, 0x80u, 0xFFFFFFFFu, 0xFFFFFFFEu}) {
    Bytes outside = Stub();
    sfx::StoreU32(&outside[0x3C], offset);
    EXPECT_FALSE(IsPeImage(outside)) << offset;
  }
  EXPECT_FALSE(IsPeImage(B("MZ")));
}

TEST(PackageWriter, TellsThe32BitStubFromThe64BitOne) {
  Bytes stub = Stub();  // the optional header's magic at PE header (0x40) + 24
  EXPECT_EQ(sfx::PeKind::kUnknown, GetStubKind(stub.data(), stub.size()));
  stub[0x58] = 0x0B;
  stub[0x59] = 0x01;
  EXPECT_EQ(sfx::PeKind::kPe32, GetStubKind(stub.data(), stub.size()));
  stub[0x59] = 0x02;
  EXPECT_EQ(sfx::PeKind::kPe32Plus, GetStubKind(stub.data(), stub.size()));
  EXPECT_EQ(sfx::PeKind::kUnknown, GetStubKind(stub.data(), 0x59));  // the magic cut off
  stub[0x41] = 'X';
  EXPECT_EQ(sfx::PeKind::kUnknown, GetStubKind(stub.data(), stub.size()));
}

PackageInput Input() {
  PackageInput input;
  input.stub = Stub();
  input.mainProgram = B("main program");
  input.commandTemplate = "%CMDLINE%";
  input.files.push_back({"one", B("first"), 100, PackageInput::Kind::kPackage});
  input.files.push_back({"two", B("second"), 200, PackageInput::Kind::kRaw});
  return input;
}

TEST(PackageWriter, BuildPackageChecksItsInput) {
  // (Stub and name refusals are exercised through sfxpack pack.)
  Bytes package = B("untouched");
  Status status;
  PackageInput duplicate = Input();
  duplicate.files[1].name = "one";
  EXPECT_FALSE((status = BuildPackage(duplicate, Signer(), &package)).ok());
  EXPECT_NE(std::string::npos, status.reason().find("duplicate"));
  EXPECT_EQ(B("untouched"), package);
  duplicate.allowDuplicates = true;
  EXPECT_TRUE((status = BuildPackage(duplicate, Signer(), &package)).ok()) << status.reason();

  PackageInput parent = Input();
  parent.files[0].name = "..";
  package = B("untouched");
  EXPECT_FALSE((status = BuildPackage(parent, Signer(), &package)).ok());
  EXPECT_NE(std::string::npos, status.reason().find("'..'")) << status.reason();
  EXPECT_EQ(B("untouched"), package);
}

TEST(PackageWriter, SameInputSameBytesAndTheReaderAgrees) {
  Bytes first, second;
  Status status;
  ASSERT_TRUE((status = BuildPackage(Input(), Signer(), &first)).ok()) << status.reason();
  ASSERT_TRUE((status = BuildPackage(Input(), Signer(), &second)).ok()) << status.reason();
  EXPECT_EQ(first, second);

  sfx::TempDir dir;
  sfx::SfxArchive archive(Key().pub);
  ASSERT_TRUE(archive.Open(dir.Write("p.exe", first)).ok());
  EXPECT_EQ("%CMDLINE%", archive.commandTemplate);
  ASSERT_EQ(2u, archive.files.size());
  EXPECT_EQ("one", archive.files[0].name);
  EXPECT_EQ(100u, archive.files[0].time);
  EXPECT_EQ("two", archive.files[1].name);
  EXPECT_EQ(200u, archive.files[1].time);
  EXPECT_EQ(6u + 48u, archive.files[1].size);
}

}  // namespace
}  // namespace sfxpack
