#include "tools/sfxpack/checked_package.h"

#include <cctype>

#include "sfxstub/io/disk_stream.h"
#include "sfxstub/signing/signature_verify.h"
#include "tools/sfxpack/keys.h"
#include "tools/sfxpack/messages.h"

namespace sfxpack {
namespace {

// Offsets are u32: a package is at most 4 GiB - 1 bytes.
constexpr uint64_t kMaxPackageFile = 0xFFFFFFFFull;

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

}  // namespace

const std::vector<OptionDecl>& CheckingOptions() {
  static const std::vector<OptionDecl> options = {
      {"--key", OptionDecl::kValue},
      {"--json", OptionDecl::kFlag},
      {"-q", OptionDecl::kFlag},
      {"--quiet", OptionDecl::kFlag},
  };
  return options;
}

Status CheckedPackage::Load(const Options& options, const char* command, const char* what,
                            bool quiet) {
  if (options.positional().empty()) return UsageError(command, "no " + Lower(what) + " given");
  if (options.positional().size() > 1) return UsageError(command, "more than one " + Lower(what));
  path_ = options.positional().front();
  Status status = LoadCheckingKey(options, &key_);
  if (status.ok()) status = file_.Open(what, path_, kMaxPackageFile);
  if (!status.ok()) return status;
  // The check reads the whole file once: on a terminal a progress line follows it.
  progress_.reset(new Progress("check", file_.size(), quiet));
  watched_.reset(new ProgressFileSystem(progress_.get()));
  return Status::Ok();
}

sfx::Status CheckedPackage::Check() {
  archive_.reset(new sfx::SfxArchive(key_, nullptr, watched_.get()));
  archiveStatus_ = archive_->Open(path_);
  if (archiveStatus_.ok() && file_.size() < archive_->SignedLength()) {
    archiveStatus_ = sfx::Status(sfx::kErrorFileInvalid, sfx::Refusal::kSignedLengthOutsideFile);
  }
  return archiveStatus_;
}

bool CheckedPackage::SignatureGood() {
  sfx::DiskStream stream(watched_.get());
  return stream.OpenRead(path_.c_str()) && sfx::VerifySignedStream(&stream, key_);
}

std::string CheckedPackage::Refusal() const {
  return DescribeArchiveError(archiveStatus_);
}

Status OpenCheckedPackage(const Options& options, const char* command, bool quiet,
                          CheckedPackage* package) {
  const Status status = package->Load(options, command, "PACKAGE", quiet);
  if (status.ok()) (void)package->Check();
  return status;
}

}  // namespace sfxpack
