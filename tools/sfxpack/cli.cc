#include "tools/sfxpack/cli.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "sfxstub/io/disk_stream.h"
#include "tools/sfxpack/dsa_key.h"

namespace sfxpack {

// ---- Options -----------------------------------------------------------------------------

bool Options::Parse(int argc, char** argv, const std::vector<OptionDecl>& decls,
                    std::string* error) {
  auto find = [&decls](const std::string& name) -> const OptionDecl* {
    for (const OptionDecl& decl : decls) {
      if (name == decl.name) return &decl;
    }
    return nullptr;
  };
  bool optionsEnded = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (optionsEnded || arg.size() < 2 || arg[0] != '-') {
      args_.push_back(arg);
      continue;
    }
    if (arg == "--") {
      optionsEnded = true;
      continue;
    }
    std::string name = arg;
    std::string value;
    bool inlineValue = false;
    const size_t eq = arg.find('=');
    if (arg.compare(0, 2, "--") == 0 && eq != std::string::npos) {
      name = arg.substr(0, eq);
      value = arg.substr(eq + 1);
      inlineValue = true;
    }
    const OptionDecl* decl = find(name);
    if (!decl && (name == "-h" || name == "--help")) {
      helpAsked_ = true;
      continue;
    }
    if (!decl) {
      std::vector<std::string> names;
      for (const OptionDecl& s : decls) names.push_back(s.name);
      const std::string near = DidYouMean(name, names);
      *error = "unknown option '" + name + "'" + (near.empty() ? "" : " (did you mean " + near + "?)");
      return false;
    }
    if (decl->kind == OptionDecl::kFlag) {
      if (inlineValue) {
        *error = name + " takes no value";
        return false;
      }
    } else if (!inlineValue) {
      if (i + 1 >= argc) {
        *error = name + " needs a value";
        return false;
      }
      value = argv[++i];
    }
    std::vector<std::string>& slot = values_[name];
    if (decl->kind != OptionDecl::kList && !slot.empty()) {
      *error = name + " is given more than once";
      return false;
    }
    slot.push_back(value);
    order_.emplace_back(name, value);
  }
  return true;
}

std::string Options::Get(const std::string& name, const std::string& fallback) const {
  auto it = values_.find(name);
  return it == values_.end() || it->second.empty() ? fallback : it->second.back();
}

std::vector<std::string> Options::GetAll(const std::string& name) const {
  auto it = values_.find(name);
  return it == values_.end() ? std::vector<std::string>() : it->second;
}

namespace {

size_t EditDistance(const std::string& a, const std::string& b) {
  std::vector<size_t> row(b.size() + 1);
  for (size_t j = 0; j <= b.size(); ++j) row[j] = j;
  for (size_t i = 1; i <= a.size(); ++i) {
    size_t diagonal = row[0];
    row[0] = i;
    for (size_t j = 1; j <= b.size(); ++j) {
      const size_t above = row[j];
      row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] == b[j - 1] ? 0 : 1)});
      diagonal = above;
    }
  }
  return row[b.size()];
}

}  // namespace

std::string DidYouMean(const std::string& word, const std::vector<std::string>& candidates) {
  std::string best;
  size_t bestDistance = 3;
  for (const std::string& c : candidates) {
    const size_t d = EditDistance(word, c);
    if (d < bestDistance) {
      bestDistance = d;
      best = c;
    }
  }
  return best;
}

// ---- Messages ----------------------------------------------------------------------------

int Fail(int code, const std::string& text) {
  std::fprintf(stderr, "sfxpack: %s\n", text.c_str());
  return code;
}

int UsageError(const char* command, const std::string& why) {
  std::fprintf(stderr, "sfxpack: %s: %s\n(sfxpack %s --help tells more)\n", command, why.c_str(),
               command);
  return kExitError;
}

void Warn(const std::string& text) { std::fprintf(stderr, "sfxpack: warning: %s\n", text.c_str()); }

std::string DescribeArchiveError(int32_t code, const sfx::Status& status) {
  std::string text = DescribeArchiveError(code);
  if (status.code() == code && status.reason() != sfx::Refusal::kNone) {
    text += "; ";
    text += sfx::RefusalText(status.reason());
  }
  return text;
}

std::string DescribeArchiveError(int32_t code) {
  const char* meaning = nullptr;
  switch (code) {
    case 0: meaning = "success"; break;
    case -1: meaning = "the catalog's main program range is not 8 bytes"; break;
    case 2: meaning = "ERROR_FILE_NOT_FOUND: the file does not exist"; break;
    case 3: meaning = "ERROR_PATH_NOT_FOUND: a folder on the way does not exist"; break;
    case 5: meaning = "ERROR_ACCESS_DENIED: access denied"; break;
    case 8: meaning = "ERROR_NOT_ENOUGH_MEMORY: too large to hold (the main program may be at most 256 MiB)"; break;
    case 32: meaning = "ERROR_SHARING_VIOLATION: the file is in use"; break;
    case 82: meaning = "ERROR_CANNOT_MAKE: an output file can't be made or written"; break;
    case 87: meaning = "ERROR_INVALID_PARAMETER: a mode other than \"extract\", or a file name that would leave the folder"; break;
    case 112: meaning = "ERROR_DISK_FULL: the disk is full"; break;
    case 123: meaning = "ERROR_INVALID_NAME: a name Windows does not accept"; break;
    case 1006: meaning = "ERROR_FILE_INVALID: the package is damaged, truncated, or not signed with this key"; break;
    default: break;
  }
  const std::string number = "error " + std::to_string(code);
  return meaning ? number + " (" + meaning + ")" : number;
}

std::string EscapeName(const std::string& name) {
  std::string out;
  for (unsigned char c : name) {
    if (c == '\n') {
      out += "\\n";
    } else if (c == '\t') {
      out += "\\t";
    } else if (c == '\r') {
      out += "\\r";
    } else if (c == '\\') {
      out += "\\\\";
    } else if (c < 0x20 || c == 0x7F) {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02X", c);
      out += hex;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

std::string JsonString(const std::string& text) {
  std::string out = "\"";
  for (unsigned char c : text) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20 || c >= 0x7F) {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\u%04x", c);
      out += hex;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + "\"";
}

// ---- Input files -------------------------------------------------------------------------

InputFile::~InputFile() {
  if (handle_ >= 0) ::close(handle_);
}

bool InputFile::Open(const std::string& option, const std::string& path, uint64_t maxSize,
                     std::string* error) {
  const std::string what = option + " " + path + ": ";
  // O_NONBLOCK: a FIFO given by mistake must not hang the open; it is refused just below.
  handle_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  if (handle_ < 0) {
    *error = "cannot read " + what + std::strerror(errno);
    return false;
  }
  struct stat st;
  if (::fstat(handle_, &st) != 0) {
    *error = "cannot read " + what + std::strerror(errno);
    return false;
  }
  if (S_ISDIR(st.st_mode)) {
    *error = "cannot read " + what + "it is a folder";
    return false;
  }
  if (!S_ISREG(st.st_mode)) {
    *error = "cannot read " + what + "not a regular file";
    return false;
  }
  if (static_cast<uint64_t>(st.st_size) > maxSize) {
    *error = what + "too large (" + std::to_string(st.st_size) + " bytes; at most " +
             std::to_string(maxSize) + ")";
    return false;
  }
  ::fcntl(handle_, F_SETFL, ::fcntl(handle_, F_GETFL) & ~O_NONBLOCK);
  length_ = static_cast<uint64_t>(st.st_size);
  name_ = path;
  dev_ = st.st_dev;
  ino_ = st.st_ino;
  perms_ = st.st_mode & 07777;
  mtime_ = static_cast<int64_t>(st.st_mtime);
  return true;
}

bool InputFile::ReadAt(uint64_t offset, void* data, size_t size, std::string* error) const {
  uint8_t* out = static_cast<uint8_t*>(data);
  while (size) {
    const ssize_t got = ::pread(handle_, out, size, static_cast<off_t>(offset));
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) {
      *error = "cannot read " + name_ + ": " +
               (got == 0 ? std::string("it became shorter while it was read") : std::strerror(errno));
      return false;
    }
    out += got;
    offset += static_cast<uint64_t>(got);
    size -= static_cast<size_t>(got);
  }
  return true;
}

bool ReadPassphrase(const std::string& path, std::string* passphrase, std::string* error) {
  InputFile file;
  if (!file.Open("--key-pass-file", path, 64 << 10, error)) return false;
  std::string text(static_cast<size_t>(file.size()), '\0');
  if (!file.ReadAt(0, &text[0], text.size(), error)) return false;
  const size_t end = text.find_first_of("\r\n");
  *passphrase = text.substr(0, end);
  return true;
}

// ---- Outputs -----------------------------------------------------------------------------

bool CheckOutput(const std::string& option, const std::string& path,
                 const std::vector<const InputFile*>& inputs, bool force, std::string* error) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) {
    if (errno == ENOENT) return true;
    *error = "cannot use " + option + " " + path + ": " + std::strerror(errno);
    return false;
  }
  for (const InputFile* input : inputs) {
    if (input && input->fd() >= 0 && input->device() == st.st_dev && input->inode() == st.st_ino) {
      *error = option + " " + path + " is the same file as the input " + input->path() +
               ": refusing to overwrite an input";
      return false;
    }
  }
  if (S_ISDIR(st.st_mode)) {
    *error = option + " " + path + " is a folder";
    return false;
  }
  if (!force) {
    *error = option + " " + path + " already exists (use --force to replace it)";
    return false;
  }
  return true;
}

namespace {

// The temporary names of live outputs, for the signal handler: fixed buffers, so that the
// handler touches no allocator.
constexpr int kCleanupSlots = 16;
constexpr size_t kCleanupPathSize = 4096;
char cleanupPaths[kCleanupSlots][kCleanupPathSize];
volatile sig_atomic_t cleanupUsed[kCleanupSlots];

int ClaimCleanupSlot(const std::string& path) {
  if (path.size() >= kCleanupPathSize) return -1;
  for (int i = 0; i < kCleanupSlots; ++i) {
    if (!cleanupUsed[i]) {
      std::memcpy(cleanupPaths[i], path.c_str(), path.size() + 1);
      cleanupUsed[i] = 1;
      return i;
    }
  }
  return -1;
}

void ReleaseCleanupSlot(int slot) {
  if (slot >= 0) cleanupUsed[slot] = 0;
}

extern "C" void RemoveTempFilesAndDie(int signo) {
  for (int i = 0; i < kCleanupSlots; ++i) {
    if (cleanupUsed[i]) ::unlink(cleanupPaths[i]);
  }
  ::signal(signo, SIG_DFL);
  ::raise(signo);
}

std::string FolderOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

std::string Errno(const std::string& what) { return what + ": " + std::strerror(errno); }

}  // namespace

void InstallCleanupHandlers() {
  struct sigaction action;
  std::memset(&action, 0, sizeof action);
  action.sa_handler = RemoveTempFilesAndDie;
  sigemptyset(&action.sa_mask);
  ::sigaction(SIGINT, &action, nullptr);
  ::sigaction(SIGTERM, &action, nullptr);
  ::sigaction(SIGHUP, &action, nullptr);
}

OutputFile::~OutputFile() { Discard(); }

void OutputFile::Discard() {
  if (handle_ >= 0) ::close(handle_);
  handle_ = -1;
  if (!tempName_.empty()) ::unlink(tempName_.c_str());
  tempName_.clear();
  ReleaseCleanupSlot(slot_);
  slot_ = -1;
}

bool OutputFile::Create(const std::string& finalPath, mode_t mode, std::string* error) {
  finalName_ = finalPath;
  const std::string folder = FolderOf(finalPath);
  const std::string base = finalPath.substr(finalPath.rfind('/') == std::string::npos
                                                ? 0
                                                : finalPath.rfind('/') + 1);
  std::string pattern = (folder == "/" ? "" : folder) + "/." + base + ".sfxpack-XXXXXX";
  if (folder == "." && finalPath.find('/') == std::string::npos) pattern = "." + base + ".sfxpack-XXXXXX";
  std::vector<char> name(pattern.begin(), pattern.end());
  name.push_back('\0');
  // The slot is claimed before the file exists, so that no signal finds a file it can't remove.
  sigset_t all, old;
  sigfillset(&all);
  sigprocmask(SIG_BLOCK, &all, &old);
  handle_ = ::mkostemp(name.data(), O_CLOEXEC);
  const int savedErrno = errno;
  if (handle_ >= 0) {
    tempName_ = name.data();
    slot_ = ClaimCleanupSlot(tempName_);
  }
  sigprocmask(SIG_SETMASK, &old, nullptr);
  if (handle_ < 0) {
    errno = savedErrno;
    *error = Errno("cannot create a file in " + folder + " for " + finalPath);
    return false;
  }
  ::fchmod(handle_, mode);
  return true;
}

bool OutputFile::Write(const void* data, size_t size, std::string* error) {
  if (!WriteAt(position_, data, size, error)) return false;
  position_ += size;
  return true;
}

bool OutputFile::WriteAt(uint64_t offset, const void* data, size_t size, std::string* error) {
  const uint8_t* in = static_cast<const uint8_t*>(data);
  while (size) {
    const ssize_t put = ::pwrite(handle_, in, size, static_cast<off_t>(offset));
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) {
      *error = Errno("cannot write " + finalName_);
      return false;
    }
    in += put;
    offset += static_cast<uint64_t>(put);
    size -= static_cast<size_t>(put);
  }
  return true;
}

bool OutputFile::ReadAt(uint64_t offset, void* data, size_t size, std::string* error) const {
  uint8_t* out = static_cast<uint8_t*>(data);
  while (size) {
    const ssize_t got = ::pread(handle_, out, size, static_cast<off_t>(offset));
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) {
      *error = got == 0 ? "cannot read back " + finalName_ : Errno("cannot read back " + finalName_);
      return false;
    }
    out += got;
    offset += static_cast<uint64_t>(got);
    size -= static_cast<size_t>(got);
  }
  return true;
}

bool OutputFile::SetTime(uint32_t seconds, std::string* error) {
  struct timespec times[2];
  times[0].tv_sec = times[1].tv_sec = static_cast<time_t>(seconds);
  times[0].tv_nsec = times[1].tv_nsec = 0;
  if (::futimens(handle_, times) != 0) {
    *error = Errno("cannot set the time of " + finalName_);
    return false;
  }
  return true;
}

bool OutputFile::Commit(bool replace, std::string* error) {
  if (::fsync(handle_) != 0) {
    *error = Errno("cannot write " + finalName_);
    Discard();
    return false;
  }
  const int closed = ::close(handle_);
  handle_ = -1;
  if (closed != 0) {
    *error = Errno("cannot write " + finalName_);
    Discard();
    return false;
  }
  // Without `replace`, link fails when the name has been taken since it was checked.
  const bool moved = replace ? ::rename(tempName_.c_str(), finalName_.c_str()) == 0
                             : ::link(tempName_.c_str(), finalName_.c_str()) == 0;
  if (!moved) {
    *error = errno == EEXIST ? finalName_ + " appeared while it was written; left alone"
                             : Errno("cannot write " + finalName_);
    Discard();
    return false;
  }
  if (replace) tempName_.clear();
  Discard();
  return true;
}

// ---- Progress ----------------------------------------------------------------------------

Progress::Progress(const std::string& what, uint64_t total, bool quiet)
    : label_(what), total_(total), enabled_(!quiet && ::isatty(STDERR_FILENO) && total > 0) {}

Progress::~Progress() {
  if (enabled_ && shownPercent_ >= 0) std::fprintf(stderr, "\r%*s\r", 60, "");
}

void Progress::Advance(uint64_t bytes) {
  if (!enabled_) return;
  done_ += bytes;
  Show();
}

void Progress::Show() {
  const int percent = static_cast<int>(std::min<uint64_t>(done_, total_) * 100 / total_);
  if (percent == shownPercent_) return;
  shownPercent_ = percent;
  std::fprintf(stderr, "\r%s: %3d%% of %.1f MiB", label_.c_str(), percent,
               static_cast<double>(total_) / (1 << 20));
  std::fflush(stderr);
}

bool LoadCheckingKey(const Options& options, sfx::DsaPublicKey* key, std::string* error) {
  if (!options.Has("--key")) {
    *key = sfx::SignerPublicKey;
    return true;
  }
  InputFile keyFile;
  return keyFile.Open("--key", options.Get("--key"), 1 << 20, error) &&
         LoadDsaPublicKey(options.Get("--key"), key, error);
}

bool VerifySignedFileThrough(sfx::FileSystem* fileSystem, const std::string& path,
                             const sfx::DsaPublicKey& key) {
  sfx::DiskStream stream(fileSystem);
  return stream.OpenRead(path.c_str()) && sfx::VerifySignedStream(&stream, key);
}

}  // namespace sfxpack
