// Writes the fuzzers' seed corpora at build time, so no binary inputs live in the repository:
//   make_seeds <folder>   creates <folder>/{trailer,catalog,package_file,command_line,pe_image}/...
// The packages come from sfxpack's package writer with a stand-in signer (the fuzzers never check
// a signature, only the trailer's shape), so they have the layout real packages have.
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include <sys/stat.h>

#include "tests/common/minimal_pe.h"
#include "tools/sfxpack/package_writer.h"

namespace {

using Bytes = std::vector<uint8_t>;

// A binary trailer of the right shape: r and s as zeros, then "OLMSignd".
Bytes FakeTrailer(const uint8_t*, size_t) {
  Bytes trailer(40, 0x11);
  const char magic[] = "OLMSignd";
  trailer.insert(trailer.end(), magic, magic + 8);
  return trailer;
}

bool Write(const std::string& path, const Bytes& bytes) {
  FILE* file = std::fopen(path.c_str(), "wb");
  if (!file) return false;
  bool ok = bytes.empty() || std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
  return std::fclose(file) == 0 && ok;
}

Bytes B(const std::string& s) { return Bytes(s.begin(), s.end()); }

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_seeds <folder>\n");
    return 2;
  }
  const std::string root = argv[1];
  for (const char* sub : {"", "/trailer", "/catalog", "/package_file", "/command_line", "/pe_image"}) {
    mkdir((root + sub).c_str(), 0755);
  }
  bool ok = true;
  sfxpack::Status status;
  // Keeps the first failure.
  auto made = [&status](const sfxpack::Status& s) {
    if (status.ok()) status = s;
    return s.ok();
  };

  // Package files.
  Bytes small, text, empty;
  ok &= made(sfxpack::MakePackageFileBody(reinterpret_cast<const uint8_t*>("hello"), 5, &small));
  const std::string lorem(2000, 'a');
  ok &= made(sfxpack::MakePackageFileBody(reinterpret_cast<const uint8_t*>(lorem.data()),
                                          lorem.size(), &text));
  ok &= made(sfxpack::MakePackageFileBody(nullptr, 0, &empty));
  ok &= Write(root + "/package_file/small", small);
  ok &= Write(root + "/package_file/repeat", text);
  ok &= Write(root + "/package_file/empty", empty);

  // Catalogs, raw and as package files.
  std::vector<sfxpack::CatalogEntry> files = {{"readme.txt", {100, 50}, 981173106},
                                              {"data.bin", {150, 4000}, 0}};
  const Bytes catalog = sfxpack::MakeCatalog("extract", "/sfx %TMPPATH% %CMDLINE%", {60, 40}, files);
  const Bytes bare = sfxpack::MakeCatalog("extract", "", {0, 0}, {});
  ok &= Write(root + "/catalog/two-files", catalog);
  ok &= Write(root + "/catalog/bare", bare);
  Bytes packed;
  ok &= made(sfxpack::MakePackageFileBody(catalog.data(), catalog.size(), &packed));
  ok &= Write(root + "/catalog/packed", packed);

  // Whole packages and lone trailers for the trailer search.
  sfxpack::PackageBuilder builder(FakeTrailer);
  const Bytes stub = B("MZ stand-in stub");
  builder.AddStub(stub.data(), stub.size());
  sfxpack::ObjectRange range;
  builder.AddRawFile(reinterpret_cast<const uint8_t*>("x"), 1, &range);
  ok &= made(builder.Finish(bare));
  ok &= Write(root + "/trailer/package", builder.bytes());
  ok &= Write(root + "/trailer/binary", FakeTrailer(nullptr, 0));
  ok &= Write(root + "/trailer/text-dsa",
              B("data OLMSignA" + std::string(80, 'a') + "OLMSignA\r\n"));
  ok &= Write(root + "/trailer/text-md5", B("data OLM_MD5a" + std::string(32, '0') + "OLM_MD5a"));

  // PE images of both kinds, with and without a certificate table.
  ok &= Write(root + "/pe_image/pe32", sfx::test::SamplePeImage(sfx::PeKind::kPe32));
  ok &= Write(root + "/pe_image/pe32plus-signed", sfx::test::SamplePeImage(sfx::PeKind::kPe32Plus, 0x40));

  // Command lines: flags byte, then template, source, working folder, tail, value.
  const std::string sep(1, '\0');
  auto line = [&](char flags, const std::string& t, const std::string& s, const std::string& w,
                  const std::string& tail, const std::string& v) {
    return B(std::string(1, flags) + t + sep + s + sep + w + sep + tail + sep + v);
  };
  ok &= Write(root + "/command_line/usual",
              line(0, "/sfx /sfxstorage \"%TMPPATH%\" /from %SRCPATH% %CMDLINE%", "C:\\Down loads",
                   "C:\\TEMP\\_tr_sfx.tm~a01234", "/x \"quoted\" %SRCPATH%", "%SRCPATH%x"));
  ok &= Write(root + "/command_line/self-reference",
              line(0, "%TMPPATH%%SRCPATH%", "%SRCPATH%%TMPPATH%", "%TMPPATH%", "%CMDLINE%", "%%"));
  ok &= Write(root + "/command_line/double-byte",
              line(1, "\x81%SRCPATH%\x95\\%CMDLINE%", "C:\\\x83\\x", "C:\\T\x81%", "\x81\"/silent", "\x81"));
  if (!ok) {
    std::fprintf(stderr, "make_seeds: %s\n",
                 status.ok() ? "could not write a seed" : status.reason().c_str());
    return 1;
  }
  return 0;
}
