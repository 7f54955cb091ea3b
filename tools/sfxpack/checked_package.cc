#include "tools/sfxpack/checked_package.h"

#include <cctype>

#include "sfxstub/io/disk_stream.h"
#include "sfxstub/signing/signature_verify.h"
#include "tools/sfxpack/messages.h"
#include "tools/sfxpack/package_salt.h"
#include "tools/sfxpack/stub_key.h"

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
      {"--expect-fingerprint", OptionDecl::kValue},
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
  Status status = file_.Open(what, path_, kMaxPackageFile);
  if (status.ok()) status = ChooseCheckingKey(options, file_, &key_);
  if (!status.ok()) return status;
  keyChosen_ = true;
  // The check reads the whole file once: on a terminal a progress line follows it.
  progress_.reset(new Progress("check", file_.size(), quiet));
  watched_.reset(new ProgressFileSystem(progress_.get()));
  return Status::Ok();
}

Status CheckedPackage::Check() {
  archive_.reset(new sfx::SfxArchive(key_.key, nullptr, watched_.get()));
  archiveStatus_ = archive_->Open(path_);
  if (archiveStatus_.ok() && file_.size() < archive_->SignedLength()) {
    archiveStatus_ = sfx::Status(sfx::kErrorFileInvalid, sfx::Refusal::kSignedLengthOutsideFile);
  }
  if (!archiveStatus_.ok()) return Status::Ok();
  bool carries = false;
  const Status status = KeyWithin(file_, FirstStoredObject(*archive_), key_.key, &carries);
  if (status.ok() && !carries) {
    stubLacksKey_ = true;
    archiveStatus_ = sfx::Status(sfx::kErrorFileInvalid, sfx::Refusal::kBadSignature);
  }
  return status;
}

bool CheckedPackage::SignatureGood() {
  sfx::DiskStream stream(watched_.get());
  return stream.OpenRead(path_.c_str()) && sfx::VerifySignedStream(&stream, key_.key);
}

std::string CheckedPackage::Refusal() const {
  if (stubLacksKey_) {
    return DescribeArchiveError(archiveStatus_.code()) +
           "; the signature verifies with the key, but the package's stub does not carry that key";
  }
  return DescribeArchiveError(archiveStatus_);
}

Status OpenCheckedPackage(const Options& options, const char* command, bool quiet,
                          CheckedPackage* package) {
  const Status status = package->Load(options, command, "PACKAGE", quiet);
  return status.ok() ? package->Check() : status;
}

std::string KeyJson(const CheckingKey* key) {
  if (!key) return "null";
  const bool option = key->source == CheckingKey::Source::kOption;
  return JsonObject()
      .String("fingerprint", key->fingerprint)
      .String("source", option ? "--key" : "stub")
      .StringOrNull("path", option ? key->path : "")
      .Bool("test_key", key->testKey)
      .Text();
}

int ReportFailure(const CheckedPackage& package, const Status& status, bool json) {
  if (json) {
    JsonObject()
        .StringOrNull("file", package.path())
        .Raw("key", KeyJson(package.key()))
        .String("error", status.reason())
        .Number("exit", status.code())
        .Print();
  }
  return Report(status);
}

}  // namespace sfxpack
