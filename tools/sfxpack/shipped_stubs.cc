#include "tools/sfxpack/shipped_stubs.h"

#include <unistd.h>

#include <climits>
#include <filesystem>
#include <vector>

#include "tools/sfxpack/dsa_key.h"
#include "tools/sfxpack/files.h"
#include "tools/sfxpack/key_slot.h"
#include "tools/sfxpack/package_writer.h"

#ifndef SFXPACK_STUB_FOLDER
#define SFXPACK_STUB_FOLDER "../share/sfxpack"  // from the program's folder
#endif

namespace sfxpack {
namespace {

struct Shipped {
  const char* arch;
  const char* file;
};
constexpr Shipped kShipped[] = {{"x86", "sfxstub.exe"}, {"x64", "sfxstub64.exe"}};

}  // namespace

std::string ShippedStubFolder() {
  char self[PATH_MAX];
  const ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
  if (n <= 0) return std::string();
  const std::string program(self, static_cast<size_t>(n));
  return std::filesystem::path(program.substr(0, program.rfind('/') + 1) + SFXPACK_STUB_FOLDER)
      .lexically_normal()
      .string();
}

Status ShippedStubPath(const std::string& arch, std::string* path) {
  const std::string wanted = arch.empty() ? kShipped[0].arch : arch;
  for (const Shipped& stub : kShipped) {
    if (wanted != stub.arch) continue;
    *path = ShippedStubFolder() + "/" + stub.file;
    if (::access(path->c_str(), R_OK) == 0) return Status::Ok();
    return Status::Error("no stub given and none shipped: " + *path +
                         " is missing (this sfxpack is not installed with its stubs; give --stub)");
  }
  return Status::Error("--arch is x86 (the 32-bit stub, the default) or x64 (the 64-bit stub), "
                       "not '" + arch + "'");
}

std::string DescribeShippedStubs(const std::string& version) {
  std::string text = "stubs in " + ShippedStubFolder() + ":\n";
  for (const Shipped& stub : kShipped) {
    text += std::string("  --arch ") + stub.arch + ": " + stub.file;
    std::vector<uint8_t> image;
    StubKeySlot slot;
    if (!ReadWholeFile("stub", ShippedStubFolder() + "/" + stub.file, kMaxStubImage, &image).ok()) {
      text += ": not installed\n";
      continue;
    }
    text += " " + version + ", " + DescribeStubKind(GetStubKind(image.data(), image.size())) + ", " +
            std::to_string(image.size()) + " bytes, ";
    const Status status = FindKeySlot(image.data(), image.size(), &slot);
    text += !status.ok()   ? "unusable: " + status.reason()
            : slot.generic ? std::string("generic (pack stamps the key's public half into a copy)")
                           : "carries the key " + KeyFingerprint(slot.key);
    text += "\n";
  }
  return text;
}

}  // namespace sfxpack
