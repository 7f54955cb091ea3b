// The package a command names, checked as the stub checks it: what list, verify and extract share.
//   1. the arguments: exactly one file, and the key (--key, or the one built into this build's stub);
//   2. the file, opened as an input of at most 4 GiB - 1 bytes;
//   3. the stub's archive reader over it, its one read of the whole file shown on a progress line;
//   4. the signed length the reader found held against the size of the file opened in step 2
//      (the reader opens the file again: it must still be that file).
// OpenCheckedPackage does all four; verify, which opens the archive only for a file that looks
// like a package, takes the steps one by one.
#ifndef SFXSTUB_TOOLS_SFXPACK_CHECKED_PACKAGE_H_
#define SFXSTUB_TOOLS_SFXPACK_CHECKED_PACKAGE_H_

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "sfxstub/archive/sfx_archive.h"
#include "sfxstub/format/dsa_public_key.h"
#include "tools/sfxpack/files.h"
#include "tools/sfxpack/options.h"
#include "tools/sfxpack/progress.h"
#include "tools/sfxpack/status.h"

namespace sfxpack {

// The options of the commands that only check a package (list, verify): --key, --json, -q and
// --quiet.
const std::vector<OptionDecl>& CheckingOptions();

class CheckedPackage {
 public:
  CheckedPackage() = default;
  CheckedPackage(const CheckedPackage&) = delete;
  CheckedPackage& operator=(const CheckedPackage&) = delete;

  // Steps 1 and 2 for COMMAND, whose one positional argument `what` names ("PACKAGE", "FILE");
  // `quiet` keeps the check's progress line off.
  Status Load(const Options& options, const char* command, const char* what, bool quiet);
  // Steps 3 and 4: the archive's Status, success for a package the stub accepts.
  sfx::Status Check();
  // Whether the file's closing signature verifies with the key (the signature check alone,
  // through the same progress line).
  bool SignatureGood();

  const std::string& path() const { return path_; }
  const InputFile& file() const { return file_; }
  const sfx::SfxArchive& archive() const { return *archive_; }
  const sfx::Status& archiveStatus() const { return archiveStatus_; }
  // The archive's error number, 0 for a package the stub accepts.
  int32_t result() const { return archiveStatus_.code(); }
  // The archive's error number in words, with the reader's reason.
  std::string Refusal() const;

 private:
  std::string path_;
  sfx::DsaPublicKey key_;
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

}  // namespace sfxpack

#endif  // SFXSTUB_TOOLS_SFXPACK_CHECKED_PACKAGE_H_
