// Status: what an operation of sfxpack (or of sfxgen, which shares its libraries) came to, the
// tools' sibling of the stub's sfx::Status (sfxstub/archive/archive_status.h): a code and the
// reason. The code is the process exit code the failure ends in, so that every command returns
// what its first failure says:
//   kExitGood  (0) success, or a "good" verdict;
//   kExitBad   (1) a verdict of "bad": a package or signature the stub would refuse;
//   kExitError (2) a usage error, an input that can't be read, or any other failure to do the work.
// The reason is one line of English that names what failed and why ("cannot read --stub x.exe:
// No such file or directory"); it is empty for success.
#ifndef SFXSTUB_TOOLS_SFXPACK_STATUS_H_
#define SFXSTUB_TOOLS_SFXPACK_STATUS_H_

#include <string>
#include <utility>

namespace sfxpack {

constexpr int kExitGood = 0;
constexpr int kExitBad = 1;
constexpr int kExitError = 2;

class Status {
 public:
  Status() = default;
  static Status Ok() { return Status(); }
  // Failure to do the work (exit 2).
  static Status Error(std::string reason) { return Status(kExitError, std::move(reason)); }
  // A verdict of "bad" (exit 1).
  static Status Bad(std::string reason) { return Status(kExitBad, std::move(reason)); }

  bool ok() const { return code_ == kExitGood; }
  int code() const { return code_; }
  const std::string& reason() const { return reason_; }

  // The same failure with `context` in front of its reason ("key.pem: " + reason); success stays
  // success.
  Status Within(const std::string& context) const {
    return ok() ? *this : Status(code_, context + reason_);
  }
  // The same failure with `more` after its reason.
  Status With(const std::string& more) const { return ok() ? *this : Status(code_, reason_ + more); }

 private:
  Status(int code, std::string reason) : code_(code), reason_(std::move(reason)) {}

  int code_ = kExitGood;
  std::string reason_;
};

}  // namespace sfxpack

#endif  // SFXSTUB_TOOLS_SFXPACK_STATUS_H_
