// sfxgen key-stamp: the build's key stamped into the linked, time-stamped generic stub, by the
// function sfxpack stamps with (tools/sfxpack/key_slot.h), so both give the same file.
#include <cstdio>
#include <string>
#include <vector>

#include "tools/sfxgen/generators.h"
#include "tools/sfxpack/dsa_key.h"
#include "tools/sfxpack/files.h"
#include "tools/sfxpack/key_slot.h"

namespace sfxgen {

int StampStubKey(const char* imagePath, const char* keyPath) {
  sfx::DsaPublicKey key;
  sfxpack::Status status = sfxpack::LoadDsaPublicKey(keyPath, &key);
  std::vector<uint8_t> image;
  if (status.ok()) status = sfxpack::ReadWholeFile("key-stamp", imagePath, UINT32_MAX, &image);
  if (status.ok()) status = sfxpack::StampKey(&image, key).Within(std::string(imagePath) + ": ");
  if (status.ok()) status = sfxpack::WriteFileAtomically(imagePath, image);
  if (status.ok()) return 0;
  std::fprintf(stderr, "sfxgen: %s\n", status.reason().c_str());
  return 1;
}

}  // namespace sfxgen
