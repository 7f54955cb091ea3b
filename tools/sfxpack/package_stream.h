// Packing from files to a file in pieces, for `sfxpack pack`: the same bytes as BuildPackage
// (package_writer.h) makes in memory, with memory that does not grow with the inputs.
//
// Two passes over the inputs. The first hashes them for the salt (package_salt.h); the second
// writes the package, and hashes every input again as it reads it: an input that changed in
// between (served in one version to the salt pass and in another to the write pass, so that the
// salt repeats a known one while collision blocks are written) stops the pack. A compressed object's header holds its compressed size, which is known
// only once the zlib stream ends, so each compressed object is deflated into the output behind
// room for its header, the header is written into that room, and the object is then read back
// from the output to hash it for its own trailer and for the closing signature (the MD5s are
// taken in file order). Stored and raw bytes are hashed as they are written.
#ifndef SFXSTUB_TOOLS_SFXPACK_PACKAGE_STREAM_H_
#define SFXSTUB_TOOLS_SFXPACK_PACKAGE_STREAM_H_

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "tools/sfxpack/dsa_key.h"
#include "tools/sfxpack/files.h"
#include "tools/sfxpack/package_writer.h"
#include "tools/sfxpack/progress.h"
#include "tools/sfxpack/status.h"

namespace sfxpack {

struct PackSource {
  std::string name;  // the catalog's name (listed files only)
  const InputFile* file = nullptr;
  uint32_t time = 0;
  PackageInput::Kind kind = PackageInput::Kind::kPackage;
};

struct PackPlan {
  const InputFile* stub = nullptr;
  const InputFile* mainProgram = nullptr;
  std::vector<PackSource> files;
  std::string commandTemplate;
  bool allowDuplicates = false;
};

// What the salt pass read: the salt, and the SHA-256 of every input as that pass saw it, in the
// order stub, main program, listed files (none without a salt pass).
struct SaltPass {
  std::vector<uint8_t> salt;
  std::vector<std::array<uint8_t, 32>> inputs;
};

// The salt DerivePackageSalt gives for the same inputs, read in pieces, and what was read.
// `progress` may be null.
Status DeriveSaltFromFiles(const DsaPrivateKey& key, const PackPlan& plan, Progress* progress,
                           SaltPass* pass);

// Writes the whole package to `out`: a salt block only when `pass.salt` is not empty, and every
// input that `pass.inputs` holds a digest of checked against it once written (an input that
// differs fails, exit 2, naming it; the caller discards the output). Refuses a package that would
// reach 4 GiB, before the first byte that would pass it is written, and a main program whose
// object would exceed what the stub holds. `progress` may be null.
Status WritePackage(const PackPlan& plan, const DsaPrivateKey& key, const SaltPass& pass,
                    OutputFile* out, Progress* progress);

}  // namespace sfxpack

#endif  // SFXSTUB_TOOLS_SFXPACK_PACKAGE_STREAM_H_
