// osslsigncode as the Authenticode signer of `sfxpack authenticode` (its files live in a
// PrivateTempDir, files.h). We do not make PKCS#7 signatures ourselves: osslsigncode signs, and
// these options pass through to its "sign" command unchanged.
#ifndef SFXSTUB_TOOLS_SFXPACK_AUTHENTICODE_OSSLSIGNCODE_H_
#define SFXSTUB_TOOLS_SFXPACK_AUTHENTICODE_OSSLSIGNCODE_H_

#include <string>
#include <vector>

#include "tools/sfxpack/authenticode.h"

namespace sfxpack {

struct OsslsigncodeOptions {
  std::string program = "osslsigncode";  // looked up in PATH unless it holds a '/'
  // Options of "osslsigncode sign" in osslsigncode's own spelling ("-certs", "cert.pem", "-n",
  // "Setup", ...), passed on unchanged and in order to every run.
  std::vector<std::string> signOptions;
};

// The argument vector of one "osslsigncode sign" run from `in` to `out` (argv[0] included).
std::vector<std::string> OsslsigncodeSignArguments(const OsslsigncodeOptions& options,
                                                   const std::string& in, const std::string& out);

// Runs a program with `arguments` (no shell), stdin from /dev/null, stdout and stderr into the
// file `logPath`. Success if it ran and exited with status 0; otherwise the reason names the
// program, how it ended and the end of its output.
Status RunLoggedProgram(const std::vector<std::string>& arguments, const std::string& logPath);

// A signer for AuthenticodeSignPackage that runs osslsigncode, logging into `workDir`.
AuthenticodeSigner MakeOsslsigncodeSigner(const OsslsigncodeOptions& options,
                                          const std::string& workDir);

}  // namespace sfxpack

#endif  // SFXSTUB_TOOLS_SFXPACK_AUTHENTICODE_OSSLSIGNCODE_H_
