// The execution level `pack --execution-level` writes into a copy of the stub's manifest
// (RT_MANIFEST 1): a trustInfo element that asks Windows to start the package as the user
// (asInvoker), with the highest rights the user can have (highestAvailable), or as an
// administrator (requireAdministrator). Without one, Windows guesses: it elevates a 32-bit
// program whose name looks like a setup program's, and never a 64-bit one.
#ifndef SFXSTUB_TOOLS_SFXPACK_STUB_MANIFEST_H_
#define SFXSTUB_TOOLS_SFXPACK_STUB_MANIFEST_H_

#include <string>

#include "tools/sfxpack/status.h"

namespace sfxpack {

// Success for "asInvoker", "highestAvailable" and "requireAdministrator" (as written); otherwise
// the reason, naming the three.
Status CheckExecutionLevel(const std::string& level);

// `manifest` with a trustInfo of `level` before its closing </assembly>, in place of the
// trustInfo it holds already. Refuses a manifest without </assembly>, and one whose trustInfo is
// not the plain <trustInfo>...</trustInfo> element this replaces.
Status SetExecutionLevel(const std::string& level, std::string* manifest);

// The level the manifest's requestedExecutionLevel asks for, or "" when it has none.
std::string ManifestExecutionLevel(const std::string& manifest);

}  // namespace sfxpack

#endif  // SFXSTUB_TOOLS_SFXPACK_STUB_MANIFEST_H_
