// osslsigncode as the Authenticode signer of `sfxpack authenticode`, and the private scratch
// folder its files live in. We do not make PKCS#7 signatures ourselves: osslsigncode signs, and
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
// file `logPath`. True if it ran and exited with status 0; otherwise `error` names the program,
// how it ended and the end of its output.
bool RunLoggedProgram(const std::vector<std::string>& arguments, const std::string& logPath,
                      std::string* error);

// A signer for AuthenticodeSignPackage that runs osslsigncode, logging into `workDir`.
AuthenticodeSigner MakeOsslsigncodeSigner(const OsslsigncodeOptions& options,
                                          const std::string& workDir);

// A new folder only we can enter (mode 0700) under $TMPDIR or /tmp, removed with everything in
// it when the holder goes.
class PrivateTempDir {
 public:
  PrivateTempDir() = default;
  ~PrivateTempDir();
  PrivateTempDir(const PrivateTempDir&) = delete;
  PrivateTempDir& operator=(const PrivateTempDir&) = delete;

  bool Create(std::string* error);
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

}  // namespace sfxpack

#endif  // SFXSTUB_TOOLS_SFXPACK_AUTHENTICODE_OSSLSIGNCODE_H_
