// Authenticode signing of packages: the header bookkeeping with a stand-in signer, then the real
// command with osslsigncode and a throwaway self-signed certificate.
#include "tools/sfxpack/authenticode.h"

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "sfxstub/format/byte_order.h"
#include "sfxstub/signing/signature_trailer.h"
#include "sfxstub/signing/signature_verify.h"
#include "tests/common/temp_dir.h"
#include "tests/common/test_signer_key.h"
#include "tools/sfxpack/dsa_signer.h"
#include "tools/sfxpack/files.h"
#include "tools/sfxpack/sfxpack_runner.h"

namespace sfxpack {
namespace {

using Bytes = std::vector<uint8_t>;

constexpr uint32_t kPeOffset = 0x80;
constexpr uint32_t kChecksumAt = kPeOffset + 0x58;
constexpr uint32_t kEntryAt = kPeOffset + 0x98;
constexpr uint32_t kPlusEntryAt = kPeOffset + 0xA8;  // PE32+: the directories 16 bytes on

const DsaPrivateKey& TestKey() { return sfx::TestSignerKey(); }

uint32_t U32At(const Bytes& b, size_t at) { return sfx::LoadU32(&b[at]); }
void SetU32(Bytes* b, size_t at, uint32_t v) { sfx::StoreU32(&(*b)[at], v); }
void SetU16(Bytes* b, size_t at, uint16_t v) { sfx::StoreU16(&(*b)[at], v); }

// A small but complete PE32 image (one section holding a "ret"), `size` bytes long (>= 0x400),
// with a non-zero CheckSum as linkers leave it; with `plus`, the PE32+ (x86-64) image.
Bytes MakePe32(size_t size, bool plus = false) {
  Bytes b(size, 0);
  b[0] = 'M';
  b[1] = 'Z';
  SetU32(&b, 0x3C, kPeOffset);
  std::memcpy(&b[kPeOffset], "PE\0\0", 4);
  const uint16_t optionalSize = plus ? 240 : 224;
  SetU16(&b, kPeOffset + 4, plus ? 0x8664 : 0x14C);   // x86-64 or i386
  SetU16(&b, kPeOffset + 6, 1);                       // one section
  SetU16(&b, kPeOffset + 20, optionalSize);           // SizeOfOptionalHeader
  SetU16(&b, kPeOffset + 22, plus ? 0x22 : 0x102);    // executable, large addresses or 32-bit
  const uint32_t opt = kPeOffset + 24;
  SetU16(&b, opt, plus ? 0x20B : 0x10B);
  SetU32(&b, opt + 16, 0x1000);    // entry point
  SetU32(&b, opt + (plus ? 24 : 28), 0x400000);  // image base (u64 in PE32+)
  SetU32(&b, opt + 32, 0x1000);    // section alignment
  SetU32(&b, opt + 36, 0x200);     // file alignment
  SetU16(&b, opt + 40, plus ? 5 : 4);  // subsystem version
  SetU32(&b, opt + 56, 0x2000);    // SizeOfImage
  SetU32(&b, opt + 60, 0x200);     // SizeOfHeaders
  SetU32(&b, opt + 64, 0xBADC0DE); // CheckSum
  SetU16(&b, opt + 68, 3);         // console
  SetU32(&b, opt + (plus ? 108 : 92), 16);  // data directories
  const uint32_t section = opt + optionalSize;
  std::memcpy(&b[section], ".text", 5);
  SetU32(&b, section + 8, 0x200);
  SetU32(&b, section + 12, 0x1000);
  SetU32(&b, section + 16, 0x200);
  SetU32(&b, section + 20, 0x200);
  SetU32(&b, section + 36, 0x60000020);
  b[0x200] = 0xC3;
  for (size_t i = 0x400; i < size; ++i) b[i] = static_cast<uint8_t>(i * 31 + (i >> 9));
  return b;
}

// A PE32 (or PE32+) of `contentLength` bytes with a closing binary trailer.
Bytes MakePackage(size_t contentLength, bool plus = false) {
  Bytes b = MakePe32(contentLength, plus);
  Bytes trailer = MakeBinaryTrailer(TestKey(), b.data(), b.size());
  b.insert(b.end(), trailer.begin(), trailer.end());
  return b;
}

// What the stub sees: the closing signature's offset if the file's outermost trailer is a binary
// DSA trailer that verifies with the test key, else -1.
int64_t StubAccepts(const Bytes& file) {
  sfx::TempDir dir;
  std::string path = dir.Write("f.exe", file);
  uint8_t signature[40];
  sfx::SignatureKind kind;
  uint32_t t = 0;
  if (!sfx::FindSignatureTrailer(path.c_str(), signature, &kind, &t)) return -1;
  if (kind != sfx::SignatureKind::kBinaryDsa) return -1;
  if (!sfx::VerifySignedFile(path.c_str(), TestKey().pub)) return -1;
  return t;
}

// A stand-in for osslsigncode that behaves as it does (CheckSum rewritten, zero padding to 8
// bytes, entry pointing at the appended table) with table sizes chosen by the test, and can be
// told to misbehave.
struct FakeSigner {
  std::vector<uint32_t> sizes;  // table size per run; the last one repeats
  enum Fault { kNone, kTouchContent, kMisalign, kDirtyPadding, kNoTable, kFail } fault = kNone;
  int runs = 0;
  bool sawClearedEntry = true;
  uint32_t entryAt = kEntryAt;  // where the image's certificate entry stands

  AuthenticodeSigner Get() {
    return [this](const std::string& in, const std::string& out) {
      Bytes b;
      const Status read = ReadWholeFile("the unsigned file", in, 1 << 30, &b);
      if (!read.ok()) return read;
      if (fault == kFail) return Status::Error("no certificate");
      if (U32At(b, entryAt) != 0 || U32At(b, entryAt + 4) != 0) sawClearedEntry = false;
      const uint32_t size = sizes[std::min<size_t>(runs, sizes.size() - 1)];
      ++runs;
      if (fault != kNoTable) {
        size_t pad = (8 - b.size() % 8) % 8;
        if (fault == kMisalign) pad += 8;
        b.insert(b.end(), pad, fault == kDirtyPadding && pad ? 1 : 0);
        SetU32(&b, entryAt, static_cast<uint32_t>(b.size()));
        SetU32(&b, entryAt + 4, size);
        for (uint32_t i = 0; i < size; ++i) b.push_back(static_cast<uint8_t>(runs * 13 + i));
      }
      SetU32(&b, kChecksumAt, 0x1234567);
      if (fault == kTouchContent) b[0x300] ^= 1;
      return WriteFileAtomically(out, b);
    };
  }
};

Status SignWith(FakeSigner* fake, const Bytes& package, Bytes* result, AuthenticodeReport* report) {
  sfx::TempDir work;
  return AuthenticodeSignPackage(package, TestKey(), work.path(), fake->Get(), result, report);
}

TEST(PeHeaderFields, FindsThePe32AndPe32PlusFieldsAndRefusesWhatTheStubCannotRead) {
  const Bytes pe = MakePe32(0x400);
  PeHeaderFields f;
  Status status;
  ASSERT_TRUE((status = FindPeHeaderFields(pe.data(), pe.size(), &f)).ok()) << status.reason();
  EXPECT_EQ(f.checksumOffset, kChecksumAt);
  EXPECT_EQ(f.certificateEntryOffset, kEntryAt);

  const Bytes plus = MakePe32(0x400, true);
  ASSERT_TRUE((status = FindPeHeaderFields(plus.data(), plus.size(), &f)).ok()) << status.reason();
  EXPECT_EQ(f.checksumOffset, kChecksumAt);
  EXPECT_EQ(f.certificateEntryOffset, kPlusEntryAt);
  Bytes plusShort = plus;  // 128 bytes: room for PE32's entry 4, not for PE32+'s
  SetU16(&plusShort, kPeOffset + 20, 128);
  EXPECT_FALSE((status = FindPeHeaderFields(plusShort.data(), plusShort.size(), &f)).ok());
  Bytes plusFour = plus;
  SetU32(&plusFour, kPeOffset + 24 + 108, 4);
  EXPECT_FALSE((status = FindPeHeaderFields(plusFour.data(), plusFour.size(), &f)).ok());

  struct Case {
    const char* what;
    void (*spoil)(Bytes*);
    size_t limit;
  } cases[] = {
      {"no MZ", [](Bytes* b) { (*b)[0] = 'X'; }, 0x400},
      {"header offset beyond the content", [](Bytes* b) { SetU32(b, 0x3C, 0x3FF); }, 0x400},
      {"header offset that wraps", [](Bytes* b) { SetU32(b, 0x3C, 0xFFFFFFF0); }, 0x400},
      {"no PE signature", [](Bytes* b) { (*b)[kPeOffset + 1] = 'X'; }, 0x400},
      {"ROM image magic", [](Bytes* b) { SetU16(b, kPeOffset + 24, 0x107); }, 0x400},
      {"optional header without entry 4", [](Bytes* b) { SetU16(b, kPeOffset + 20, 128); }, 0x400},
      {"four directories", [](Bytes* b) { SetU32(b, kPeOffset + 24 + 92, 4); }, 0x400},
      {"entry 4 beyond the signed content", [](Bytes*) {}, kEntryAt + 7},
  };
  for (const Case& c : cases) {
    Bytes spoilt = pe;
    c.spoil(&spoilt);
    EXPECT_FALSE((status = FindPeHeaderFields(spoilt.data(), c.limit, &f)).ok()) << c.what;
    EXPECT_FALSE(status.reason().empty()) << c.what;
  }
}

TEST(ClosingSignedImage, AnnouncesTheTableAndSignsTheHeaderAsItWillStand) {
  const Bytes content = MakePe32(0x401);  // T + 48 = 0x431: the table goes to 0x438
  PeHeaderFields f{kChecksumAt, kEntryAt};
  Bytes image;
  Status status;
  ASSERT_TRUE((status = MakeClosingSignedImage(content.data(), 0x401, f, TestKey(), 1500, &image)).ok());
  EXPECT_EQ(image.size(), 0x401u + 48);
  EXPECT_EQ(U32At(image, kChecksumAt), 0u);
  EXPECT_EQ(U32At(image, kEntryAt), 0x438u);
  EXPECT_EQ(U32At(image, kEntryAt + 4), 1500u);
  // The trailer is found at the end (no table yet) and covers the edited header.
  EXPECT_EQ(StubAccepts(image), 0x401);

  // The table must still be describable by the u32 entry; the content is not read before.
  EXPECT_FALSE((status = MakeClosingSignedImage(content.data(), 0xFFFFF000u, f, TestKey(), 0x1000, &image)).ok());
}

TEST(AuthenticodeSign, ResultKeepsTheContentAndPassesTheStubForEveryPadding) {
  // T + 48 takes every remainder modulo 8, so the padding runs from 0 to 7 bytes.
  for (size_t length = 0x500; length < 0x508; ++length) {
    SCOPED_TRACE(length);
    const Bytes package = MakePackage(length);
    FakeSigner fake{{1504}};
    Bytes result;
    AuthenticodeReport report;
    Status status;
    ASSERT_TRUE((status = SignWith(&fake, package, &result, &report)).ok()) << status.reason();
    EXPECT_TRUE(fake.sawClearedEntry);
    EXPECT_EQ(report.signerRuns, 2);  // one run to learn the size, one with it
    EXPECT_EQ(report.signedLength, length);
    EXPECT_EQ(report.tableOffset % 8, 0u);
    EXPECT_LT(report.tableOffset - (length + 48), 8u);
    EXPECT_EQ(report.tableSize, 1504u);
    EXPECT_EQ(result.size(), report.tableOffset + 1504u);
    EXPECT_EQ(U32At(result, kEntryAt), report.tableOffset);
    EXPECT_EQ(U32At(result, kEntryAt + 4), 1504u);
    EXPECT_EQ(U32At(result, kChecksumAt), 0u);
    for (size_t i = 0; i < length; ++i) {
      if (i >= kChecksumAt && i < kEntryAt + 8 && (i < kChecksumAt + 4 || i >= kEntryAt)) continue;
      ASSERT_EQ(result[i], package[i]) << "content changed at " << i;
    }
    EXPECT_EQ(StubAccepts(result), static_cast<int64_t>(length));
  }
}

// A package made with the 64-bit stub: the same bookkeeping at the PE32+ header's entry.
TEST(AuthenticodeSign, APe32PlusPackagePassesTheStubWithItsTable) {
  const Bytes package = MakePackage(0x503, true);
  FakeSigner fake{{1504}};
  fake.entryAt = kPlusEntryAt;
  Bytes result;
  AuthenticodeReport report;
  Status status;
  ASSERT_TRUE((status = SignWith(&fake, package, &result, &report)).ok()) << status.reason();
  EXPECT_TRUE(fake.sawClearedEntry);
  EXPECT_EQ(U32At(result, kPlusEntryAt), report.tableOffset);
  EXPECT_EQ(U32At(result, kPlusEntryAt + 4), 1504u);
  EXPECT_EQ(U32At(result, kChecksumAt), 0u);
  EXPECT_EQ(result.size(), report.tableOffset + 1504u);
  EXPECT_EQ(StubAccepts(result), 0x503);
}

TEST(AuthenticodeSign, SignsAgainUntilTheTableSizeHolds) {
  const Bytes package = MakePackage(0x600);
  Bytes result;
  AuthenticodeReport report;
  Status status;

  // A timestamp of another length on the second run: the third run covers the real size.
  FakeSigner growing{{1500, 1720, 1720}};
  ASSERT_TRUE((status = SignWith(&growing, package, &result, &report)).ok()) << status.reason();
  EXPECT_EQ(report.signerRuns, 3);
  EXPECT_EQ(U32At(result, kEntryAt + 4), 1720u);
  EXPECT_EQ(StubAccepts(result), 0x600);

  // A size that never settles is given up on, with nothing produced.
  FakeSigner unstable{{1000, 1008, 1016, 1024, 1032}};
  result.clear();
  EXPECT_FALSE((status = SignWith(&unstable, package, &result, &report)).ok());
  EXPECT_NE(status.reason().find("changing sizes"), std::string::npos) << status.reason();
  EXPECT_EQ(unstable.runs, kMaxSignerRuns);
  EXPECT_TRUE(result.empty());
}

TEST(AuthenticodeSign, ReplacesAnEarlierAuthenticodeSignature) {
  const Bytes package = MakePackage(0x777);
  FakeSigner first{{2000}}, second{{900}};
  Bytes once, twice;
  AuthenticodeReport report;
  Status status;
  ASSERT_TRUE((status = SignWith(&first, package, &once, &report)).ok()) << status.reason();
  ASSERT_TRUE((status = SignWith(&second, once, &twice, &report)).ok()) << status.reason();
  EXPECT_EQ(report.signedLength, 0x777u);
  EXPECT_EQ(twice.size(), report.tableOffset + 900u);
  EXPECT_EQ(StubAccepts(twice), 0x777);
}

TEST(AuthenticodeSign, RefusesSignersThatDoMoreThanTheyShould) {
  const Bytes package = MakePackage(0x501);
  const FakeSigner::Fault faults[] = {FakeSigner::kTouchContent, FakeSigner::kMisalign,
                                      FakeSigner::kDirtyPadding, FakeSigner::kNoTable,
                                      FakeSigner::kFail};
  for (FakeSigner::Fault fault : faults) {
    FakeSigner fake{{1504}, fault};
    Bytes result;
    AuthenticodeReport report;
    Status status;
    EXPECT_FALSE((status = SignWith(&fake, package, &result, &report)).ok()) << fault;
    EXPECT_FALSE(status.reason().empty());
    EXPECT_TRUE(result.empty());
  }
}

TEST(AuthenticodeSign, RefusesPackagesItCannotVouchFor) {
  FakeSigner fake{{1504}};
  Bytes result;
  AuthenticodeReport report;
  Status status;

  Bytes tampered = MakePackage(0x500);
  tampered[0x450] ^= 0x40;
  EXPECT_FALSE((status = SignWith(&fake, tampered, &result, &report)).ok());
  EXPECT_NE(status.reason().find("does not verify"), std::string::npos) << status.reason();

  Bytes unsignedPe = MakePe32(0x500);
  EXPECT_FALSE((status = SignWith(&fake, unsignedPe, &result, &report)).ok());

  Bytes text(200, 'a');
  Bytes textTrailer = MakeTextDsaTrailer(TestKey(), text.data(), text.size());
  text.insert(text.end(), textTrailer.begin(), textTrailer.end());
  EXPECT_FALSE((status = SignWith(&fake, text, &result, &report)).ok());

  Bytes notPe(0x500, 'x');
  Bytes trailer = MakeBinaryTrailer(TestKey(), notPe.data(), notPe.size());
  notPe.insert(notPe.end(), trailer.begin(), trailer.end());
  EXPECT_FALSE((status = SignWith(&fake, notPe, &result, &report)).ok());
  EXPECT_NE(status.reason().find("MZ"), std::string::npos) << status.reason();

  EXPECT_EQ(fake.runs, 0);
}

// ---- the command, with osslsigncode and openssl ----

using test::RunResult;
using test::RunShell;

std::string Q(const std::string& s) { return test::ShellQuote(s); }

class AuthenticodeCommand : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    certs = new sfx::TempDir;
    // A throwaway self-signed code-signing certificate and a local timestamp authority (osslsigncode can stamp with it without a network).
    const std::string req = "openssl req -x509 -newkey rsa:2048 -days 2 -subj ";
    RunResult a = RunShell(req + "'/CN=sfxpack test signer' -addext extendedKeyUsage=codeSigning -nodes -keyout " +
                  Q(certs->Path("key.pem")) + " -out " + Q(certs->Path("cert.pem")));
    RunResult c = RunShell(req + "'/CN=sfxpack test TSA' -addext extendedKeyUsage=critical,timeStamping -nodes "
                  "-keyout " + Q(certs->Path("tsakey.pem")) + " -out " + Q(certs->Path("tsacert.pem")));
    certsMade = a.status == 0 && c.status == 0;
    if (!certsMade) std::fprintf(stderr, "%s%s", a.output.c_str(), c.output.c_str());
  }
  static void TearDownTestSuite() { delete certs; }

  void SetUp() override {
    ASSERT_TRUE(certsMade) << "openssl could not make the test certificates";
    ASSERT_EQ(RunShell("osslsigncode --version").status, 0) << "osslsigncode is not installed";
    // A stub that carries the test key in its key slot.
    Bytes stubImage = MakePe32(0x1000);
    const sfx::DsaPublicKey& key = TestKey().pub;
    std::memcpy(&stubImage[0x210], sfx::kKeySlotMarker, 16);
    std::memcpy(&stubImage[0x220], &key, sizeof key);
    stub = dir.Write("stub.exe", stubImage);
    main = dir.Write("setup.exe", MakePe32(0x2345));
    readme = dir.Write("readme.txt", std::string("read me\r\n"));
    RunResult pack = Sfxpack("pack --stub " + Q(stub) + " --key " + Q(SFXSTUB_TEST_PRIVATE_KEY) +
                       " --main " + Q(main) + " --file readme.txt=" + Q(readme) +
                       " --cmdline /x -o " + Q(dir.Path("pkg.exe")));
    ASSERT_EQ(pack.status, 0) << pack.output;
    package = dir.Path("pkg.exe");
    std::filesystem::create_directory(dir.Path("tmp"));
  }

  // sfxpack with its own TMPDIR, so that the test can see what it leaves behind.
  RunResult Sfxpack(const std::string& args) {
    return RunShell("TMPDIR=" + Q(dir.Path("tmp")) + " " + Q(SFXPACK_EXE) + " " + args);
  }
  std::string Authenticode(const std::string& extra, const std::string& out) {
    return "authenticode --cert " + Q(certs->Path("cert.pem")) + " --cert-key " +
           Q(certs->Path("key.pem")) + " -n 'Test Setup' -i https://example.org/ --key " +
           Q(SFXSTUB_TEST_PRIVATE_KEY) + " " + extra + " " + Q(package) + " -o " + Q(out);
  }
  RunResult OsslVerify(const std::string& file, const std::string& extra = "") {
    return RunShell("osslsigncode verify -CAfile " + Q(certs->Path("cert.pem")) + " " + extra +
                 " -in " + Q(file));
  }
  bool TmpIsEmpty() { return std::filesystem::is_empty(dir.Path("tmp")); }

  static sfx::TempDir* certs;
  static bool certsMade;
  sfx::TempDir dir;
  std::string stub, main, readme, package;
};
sfx::TempDir* AuthenticodeCommand::certs = nullptr;
bool AuthenticodeCommand::certsMade = false;

TEST_F(AuthenticodeCommand, OutputPassesBothChecksAndStillExtracts) {
  const Bytes before = sfx::TempDir::Read(package);
  uint32_t t = 0;
  ASSERT_TRUE(sfx::FindSignatureTrailer(package.c_str(), nullptr, nullptr, &t));

  const std::string out = dir.Path("signed.exe");
  RunResult sign = Sfxpack(Authenticode("", out));
  ASSERT_EQ(sign.status, 0) << sign.output;
  EXPECT_EQ(sfx::TempDir::Read(package), before);  // the input is left alone
  EXPECT_TRUE(TmpIsEmpty());

  RunResult authenticode = OsslVerify(out);
  EXPECT_EQ(authenticode.status, 0) << authenticode.output;
  RunResult verify = Sfxpack("verify --key " + Q(SFXSTUB_TEST_PRIVATE_KEY) + " " + Q(out));
  EXPECT_EQ(verify.status, 0) << verify.output;

  // The closing signature stands where it stood, in front of the padding and the table.
  const Bytes after = sfx::TempDir::Read(out);
  uint8_t signature[40];
  sfx::SignatureKind kind;
  uint32_t signedLength = 0;
  ASSERT_TRUE(sfx::FindSignatureTrailer(out.c_str(), signature, &kind, &signedLength));
  EXPECT_EQ(kind, sfx::SignatureKind::kBinaryDsa);
  EXPECT_EQ(signedLength, t);
  const uint32_t tableOffset = U32At(after, kEntryAt);
  EXPECT_EQ(tableOffset % 8, 0u);
  EXPECT_EQ(tableOffset - (t + 48) < 8, true);
  EXPECT_EQ(uint64_t{tableOffset} + U32At(after, kEntryAt + 4), after.size());

  // The salt block is signed content like the rest: re-signing keeps it where pack put it.
  RunResult list = Sfxpack("list --key " + Q(SFXSTUB_TEST_PRIVATE_KEY) + " " + Q(out));
  ASSERT_EQ(list.status, 0) << list.output;
  EXPECT_NE(list.output.find("salt: yes"), std::string::npos) << list.output;
  const size_t saltAt = 0x1000 + 48;  // right after the stub and its trailer
  EXPECT_EQ(Bytes(after.begin() + saltAt, after.begin() + saltAt + 48),
            Bytes(before.begin() + saltAt, before.begin() + saltAt + 48));
  EXPECT_EQ(std::string(after.begin() + saltAt, after.begin() + saltAt + 16), "sfxpack.salt.v1.");

  // The archive inside is untouched: the files come out as packed.
  RunResult extract = Sfxpack("extract " + Q(out) + " --to " + Q(dir.Path("x")) + " --decode");
  ASSERT_EQ(extract.status, 0) << extract.output;
  EXPECT_EQ(sfx::TempDir::Read(dir.Path("x/readme.txt")), sfx::TempDir::Read(readme));
}

TEST_F(AuthenticodeCommand, TheObviousOrderIsRefusedByTheStub) {
  // Closing signature first, then a plain Authenticode run: Authenticode is happy, the stub not.
  const std::string naive = dir.Path("naive.exe");
  RunResult sign = RunShell("osslsigncode sign -certs " + Q(certs->Path("cert.pem")) + " -key " +
                   Q(certs->Path("key.pem")) + " -in " + Q(package) + " -out " + Q(naive));
  ASSERT_EQ(sign.status, 0) << sign.output;
  EXPECT_EQ(OsslVerify(naive).status, 0);
  EXPECT_FALSE(sfx::VerifySignedFile(naive.c_str(), TestKey().pub));
  EXPECT_EQ(Sfxpack("verify --key " + Q(SFXSTUB_TEST_PRIVATE_KEY) + " " + Q(naive)).status, 1);
}

TEST_F(AuthenticodeCommand, TimestampGrowsTheTableAndBothSignaturesHold) {
  const std::string plain = dir.Path("plain.exe"), stamped = dir.Path("stamped.exe");
  ASSERT_EQ(Sfxpack(Authenticode("", plain)).status, 0);
  RunResult sign = Sfxpack(Authenticode("--tsa-certs " + Q(certs->Path("tsacert.pem")) + " --tsa-key " +
                                  Q(certs->Path("tsakey.pem")), stamped));
  ASSERT_EQ(sign.status, 0) << sign.output;
  EXPECT_GT(std::filesystem::file_size(stamped), std::filesystem::file_size(plain));
  RunResult verify = OsslVerify(stamped, "-TSA-CAfile " + Q(certs->Path("tsacert.pem")));
  EXPECT_EQ(verify.status, 0) << verify.output;
  EXPECT_TRUE(sfx::VerifySignedFile(stamped.c_str(), TestKey().pub));
}

TEST_F(AuthenticodeCommand, FailuresLeaveNoOutputAndNoScratchFiles) {
  const std::string out = dir.Path("out.exe");
  const std::string old = dir.Write("old.exe", std::string("previous"));

  RunResult noKey = Sfxpack("authenticode --cert " + Q(certs->Path("cert.pem")) + " --cert-key " +
                      Q(certs->Path("key.pem")) + " " + Q(package) + " -o " + Q(out));
  EXPECT_EQ(noKey.status, 2);
  EXPECT_NE(noKey.output.find("--key DSAKEY is required"), std::string::npos) << noKey.output;

  RunResult stdinPass = Sfxpack(Authenticode("--readpass -", out));
  EXPECT_EQ(stdinPass.status, 2);

  // osslsigncode's own complaint reaches the user; an existing output stays as it was.
  RunResult badCert = Sfxpack("authenticode --cert " + Q(dir.Path("missing.pem")) + " --cert-key " +
                        Q(certs->Path("key.pem")) + " --key " + Q(SFXSTUB_TEST_PRIVATE_KEY) +
                        " " + Q(package) + " --force -o " + Q(old));
  EXPECT_EQ(badCert.status, 2);
  EXPECT_NE(badCert.output.find("osslsigncode failed"), std::string::npos) << badCert.output;
  EXPECT_EQ(sfx::TempDir::Read(old), Bytes({'p', 'r', 'e', 'v', 'i', 'o', 'u', 's'}));

  RunResult noTool = Sfxpack(Authenticode("--osslsigncode " + Q(dir.Path("no-such-tool")), out));
  EXPECT_EQ(noTool.status, 2);
  EXPECT_NE(noTool.output.find("cannot run"), std::string::npos) << noTool.output;

  EXPECT_FALSE(std::filesystem::exists(out));
  EXPECT_TRUE(TmpIsEmpty());
  for (const auto& entry : std::filesystem::directory_iterator(dir.path()))
    EXPECT_EQ(entry.path().string().find(".sfxpack-"), std::string::npos) << entry.path();
}

// Each key goes where it belongs: --key is the package's DSA key, as in every command, and the
// Authenticode key is --cert-key. The spellings of before, and a key given in the other's place,
// are refused with the spelling to use, before osslsigncode runs.
TEST_F(AuthenticodeCommand, KeysAreRefusedWhereTheyDoNotBelong) {
  const std::string cert = Q(certs->Path("cert.pem")), rsa = Q(certs->Path("key.pem"));
  const std::string dsa = Q(SFXSTUB_TEST_PRIVATE_KEY), tail = " " + Q(package) + " -o " + Q(dir.Path("out.exe"));
  const struct {
    std::string args, message;
  } cases[] = {
      {"--cert " + cert + " --key " + rsa + " --signer-key " + dsa, "--signer-key is now --key"},
      {"--cert " + cert + " -key " + rsa + " --key " + dsa, "give the Authenticode key as --cert-key"},
      {"--cert " + cert + " --key " + rsa, "--cert needs its private key as --cert-key KEY"},
      {"--cert " + cert + " --cert-key " + dsa + " --key " + dsa, "is a DSA key: the Authenticode key"},
      {"--cert " + cert + " --cert-key " + rsa + " --key " + rsa, "(--key is the package's DSA key; the "
                                                                  "Authenticode key goes to --cert-key)"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args);
    const RunResult run = Sfxpack("authenticode " + c.args + tail);
    EXPECT_EQ(run.status, 2) << run.output;
    EXPECT_NE(run.output.find(c.message), std::string::npos) << run.output;
  }
  EXPECT_FALSE(std::filesystem::exists(dir.Path("out.exe")));
  EXPECT_TRUE(TmpIsEmpty());
}

}  // namespace
}  // namespace sfxpack
