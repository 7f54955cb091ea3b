// The package a command names, checked as the stub checks it: what list, verify and extract share.
//   1. the arguments: exactly one file;
//   2. the file, opened as an input of at most 4 GiB - 1 bytes, and the key to check it with
//      (ChooseCheckingKey, keys.h: --key, or the key its stub carries; --expect-fingerprint);
//   3. the stub's archive reader over it, its one read of the whole file shown on a progress line;
//   4. the signed length the reader found held against the size of the file opened in step 2
//      (the reader opens the file again: it must still be that file), and the key looked for in
//      the package's stub, everything in front of its first stored object: a stub that does not
//      carry the key refuses the package even though its signature verifies with that key.
// OpenCheckedPackage does all four; verify, which opens the archive only for a file that looks
// like a package, takes the steps one by one.
#ifndef SFXSTUB_TOOLS_SFXPACK_CHECKED_PACKAGE_H_
#define SFXSTUB_TOOLS_SFXPACK_CHECKED_PACKAGE_H_

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "sfxstub/archive/sfx_archive.h"
#include "tools/sfxpack/files.h"
#include "tools/sfxpack/json_object.h"
#include "tools/sfxpack/keys.h"
#include "tools/sfxpack/options.h"
#include "tools/sfxpack/progress.h"
#include "tools/sfxpack/status.h"

namespace sfxpack {

// The options of the commands that only check a package (list, verify): --key,
// --expect-fingerprint, --json, -q and --quiet.
const std::vector<OptionDecl>& CheckingOptions();

class CheckedPackage {
 public:
  CheckedPackage() = default;
  CheckedPackage(const CheckedPackage&) = delete;
  CheckedPackage& operator=(const CheckedPackage&) = delete;

  // Steps 1 and 2 for COMMAND, whose one positional argument `what` names ("PACKAGE", "FILE");
  // `quiet` keeps the check's progress line off.
  Status Load(const Options& options, const char* command, const char* what, bool quiet);
  // Steps 3 and 4. Fails (exit 2) only when the file can't be read; what the stub makes of the
  // package is archiveStatus() (result(), its number: 0 for a package the stub accepts).
  Status Check();
  // Whether the file's closing signature verifies with the key (the signature check alone,
  // through the same progress line).
  bool SignatureGood();

  // The path given; empty before Load got that far.
  const std::string& path() const { return path_; }
  const InputFile& file() const { return file_; }
  // The key checked with; null before Load chose it.
  const CheckingKey* key() const { return keyChosen_ ? &key_ : nullptr; }
  const sfx::SfxArchive& archive() const { return *archive_; }
  const sfx::Status& archiveStatus() const { return archiveStatus_; }
  // The archive's error number, 0 for a package the stub accepts.
  int32_t result() const { return archiveStatus_.code(); }
  // The archive's error number in words, with the reader's reason.
  std::string Refusal() const;

 private:
  std::string path_;
  CheckingKey key_;
  bool keyChosen_ = false;
  bool stubLacksKey_ = false;
  InputFile file_;
  std::unique_ptr<Progress> progress_;
  std::unique_ptr<ProgressFileSystem> watched_;
  std::unique_ptr<sfx::SfxArchive> archive_;  // made by Check, after the file system it reads
  sfx::Status archiveStatus_{sfx::kErrorFileInvalid, sfx::Refusal::kNotOpened};
};

// All four steps. Fails only where the package could not be looked at (a usage error, an input
// or key that can't be read); what the stub makes of it is `package->result()`.
Status OpenCheckedPackage(const Options& options, const char* command, bool quiet,
                          CheckedPackage* package);

// The "key" member of the checking commands' JSON: {"fingerprint", "source" ("--key" or "stub":
// the package's own stub's), "path" (--key's file, else null), "test_key"}, or null when no key
// was chosen.
std::string KeyJson(const CheckingKey* key);

// A run that ends before its verdict (a usage error, a file or key that can't be read, a write
// that fails): the reason on stderr and, with `json`, the one object {"file", "key", "error",
// "exit"} on stdout (`file` null when none was given). Returns the exit code.
int ReportFailure(const CheckedPackage& package, const Status& status, bool json);

}  // namespace sfxpack

#endif  // SFXSTUB_TOOLS_SFXPACK_CHECKED_PACKAGE_H_
