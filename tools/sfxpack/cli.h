// What every sfxpack command shares: one GNU-style option parser, the checks on input files
// before anything is read from them, outputs written whole or not at all (with their temp files
// removed on SIGINT and SIGTERM), the progress line, and the texts that explain error numbers.
//
// Exit codes of every command: 0 success (or a "good" verdict), 1 a verdict of "bad" (a package
// or signature that the stub would refuse), 2 a usage error, an input that can't be read, or any
// other failure to do the work.
#ifndef SFXSTUB_TOOLS_SFXPACK_CLI_H_
#define SFXSTUB_TOOLS_SFXPACK_CLI_H_

#include <sys/types.h>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "sfxstub/archive/archive_status.h"
#include "sfxstub/io/file_system.h"
#include "sfxstub/signing/signature_verify.h"

namespace sfxpack {

constexpr int kExitGood = 0;
constexpr int kExitBad = 1;
constexpr int kExitError = 2;

// ---- Options -----------------------------------------------------------------------------

struct OptionDecl {
  enum Kind { kFlag, kValue, kList };
  const char* name;  // as typed: "--key", "-o", or a single-dash long name ("-certs")
  Kind kind;
};

// The parsed command line of one command. "--opt value" and "--opt=value" are the same; "--"
// ends the options; "-h" and "--help" anywhere before "--" ask for the command's help (except
// where a command declares "-h" itself). A single-value option given twice is an error.
class Options {
 public:
  // False with `error` set for an unknown option, a missing value, a value given to a flag, or a
  // repeated single-value option.
  bool Parse(int argc, char** argv, const std::vector<OptionDecl>& decls, std::string* error);

  bool help() const { return helpAsked_; }
  bool Has(const std::string& name) const { return values_.count(name) != 0; }
  // The value of a single-value option, or `fallback`.
  std::string Get(const std::string& name, const std::string& fallback = "") const;
  // Every value of a list option, in order.
  std::vector<std::string> GetAll(const std::string& name) const;
  // Every option of the given names with its value, in command-line order.
  const std::vector<std::pair<std::string, std::string>>& ordered() const { return order_; }
  const std::vector<std::string>& positional() const { return args_; }

 private:
  bool helpAsked_ = false;
  std::map<std::string, std::vector<std::string>> values_;
  std::vector<std::pair<std::string, std::string>> order_;
  std::vector<std::string> args_;
};

// The closest of `candidates` to `word` (edit distance at most 2), or empty.
std::string DidYouMean(const std::string& word, const std::vector<std::string>& candidates);

// ---- Messages ----------------------------------------------------------------------------

// "sfxpack: " + text on stderr; returns `code`.
int Fail(int code, const std::string& text);
void Warn(const std::string& text);
// "sfxpack: COMMAND: why" and a pointer to the command's help on stderr; returns the usage
// error's exit code (2).
int UsageError(const char* command, const std::string& why);

// The words for a Windows error number the archive reader gives ("1006 (ERROR_FILE_INVALID: the
// package is damaged or not a package)"). Every report of a refused package goes through this.
std::string DescribeArchiveError(int32_t code);
// The same for the archive reader's last refusal, with the check that made it: "error 1006
// (ERROR_FILE_INVALID: ...); the closing signature does not verify". `code` is what the caller
// reports; the reader's reason is added when it refused with that same number.
std::string DescribeArchiveError(int32_t code, const sfx::Status& status);

// `name` with every control byte, backslash and DEL written as \n, \t, \\ or \xNN, so that a
// stored name can't fake a line of a listing or move the terminal's cursor.
std::string EscapeName(const std::string& name);
// `text` as a JSON string literal; bytes of 0x80 and above stand for the code point of the same
// value (\u00NN), so that any byte string round-trips.
std::string JsonString(const std::string& text);

// ---- Input files -------------------------------------------------------------------------

// An input opened for reading. Closed by the destructor.
class InputFile {
 public:
  InputFile() = default;
  ~InputFile();
  InputFile(const InputFile&) = delete;
  InputFile& operator=(const InputFile&) = delete;

  // Opens `path`, given through `option` ("--stub", "PACKAGE"): it must be a readable regular
  // file of at most `maxSize` bytes. The message names the option, the path and the reason.
  bool Open(const std::string& option, const std::string& path, uint64_t maxSize,
            std::string* error);
  // Reads exactly `size` bytes at `offset`; false (with the reason) on a short read.
  bool ReadAt(uint64_t offset, void* data, size_t size, std::string* error) const;

  int fd() const { return handle_; }
  uint64_t size() const { return length_; }
  const std::string& path() const { return name_; }
  dev_t device() const { return dev_; }
  ino_t inode() const { return ino_; }
  mode_t mode() const { return perms_; }
  int64_t modificationTime() const { return mtime_; }

 private:
  int handle_ = -1;
  uint64_t length_ = 0;
  std::string name_;
  dev_t dev_ = 0;
  ino_t ino_ = 0;
  mode_t perms_ = 0;
  int64_t mtime_ = 0;
};

// The key to check against: the one built into sfxpack, or the file given with --key (public or
// private; its public half), checked like any input first. False with the reason.
bool LoadCheckingKey(const Options& options, sfx::DsaPublicKey* key, std::string* error);

// The passphrase in the first line of `path` (given through --key-pass-file), without its line
// end, as `openssl -passin file:` reads it.
bool ReadPassphrase(const std::string& path, std::string* passphrase, std::string* error);

// ---- Outputs -----------------------------------------------------------------------------

// Refuses an output that is the same file as one of `inputs` (always), and an existing output
// unless `force`. `option` names it in the message ("-o").
bool CheckOutput(const std::string& option, const std::string& path,
                 const std::vector<const InputFile*>& inputs, bool force, std::string* error);

// A new file written under a temporary name in the folder of its final name and renamed there
// by Commit, so that the final name holds either what it held before or the whole new file.
// The temporary file is removed by the destructor, and by SIGINT or SIGTERM while it exists.
class OutputFile {
 public:
  OutputFile() = default;
  ~OutputFile();
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  bool Create(const std::string& finalPath, mode_t mode, std::string* error);
  bool Write(const void* data, size_t size, std::string* error);
  bool WriteAt(uint64_t offset, const void* data, size_t size, std::string* error);
  bool ReadAt(uint64_t offset, void* data, size_t size, std::string* error) const;
  // Sets the modification and access times before the rename.
  bool SetTime(uint32_t seconds, std::string* error);
  // Flushes, closes and renames onto the final name: replacing what stands there when
  // `replace`, otherwise failing if the name has been taken in the meantime.
  bool Commit(bool replace, std::string* error);

  int fd() const { return handle_; }
  uint64_t written() const { return position_; }

 private:
  void Discard();

  int handle_ = -1;
  int slot_ = -1;
  uint64_t position_ = 0;
  std::string finalName_;
  std::string tempName_;
};

// Installs the SIGINT and SIGTERM handlers that remove every live OutputFile's temporary file
// and then end the process as the signal would have.
void InstallCleanupHandlers();

// ---- Progress ----------------------------------------------------------------------------

// A progress line on stderr ("pack: 42% of 1.0 GiB"), shown only when stderr is a terminal and
// not asked to be quiet; cleared when the work ends.
class Progress {
 public:
  Progress(const std::string& what, uint64_t total, bool quiet);
  ~Progress();
  void Advance(uint64_t bytes);

 private:
  void Show();

  std::string label_;
  uint64_t total_;
  uint64_t done_ = 0;
  int shownPercent_ = -1;
  bool enabled_;
};

// The platform's file system with every byte read shown on `progress`: the archive reader and
// the signature check read through it, so verify and list show how far the check has come.
class ProgressFileSystem : public sfx::FileSystemWrapper {
 public:
  explicit ProgressFileSystem(Progress* progress)
      : sfx::FileSystemWrapper(sfx::FileSystem::Default()), progress_(progress) {}
  int64_t Read(int file, void* buffer, uint32_t count) override {
    const int64_t moved = sfx::FileSystemWrapper::Read(file, buffer, count);
    if (moved > 0) progress_->Advance(static_cast<uint64_t>(moved));
    return moved;
  }

 private:
  Progress* progress_;
};

// The signature check of the file at `path` through `fileSystem` (VerifySignedFile's check).
bool VerifySignedFileThrough(sfx::FileSystem* fileSystem, const std::string& path,
                             const sfx::DsaPublicKey& key);

}  // namespace sfxpack

#endif  // SFXSTUB_TOOLS_SFXPACK_CLI_H_
