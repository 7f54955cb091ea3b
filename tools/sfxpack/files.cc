#include "tools/sfxpack/files.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>

namespace sfxpack {
namespace {

Status Errno(const std::string& what) { return Status::Error(what + ": " + std::strerror(errno)); }

// Reads exactly `size` bytes at `offset`; `what` names the file in the reason.
Status ReadFully(int fd, uint64_t offset, void* data, size_t size, const std::string& what) {
  uint8_t* out = static_cast<uint8_t*>(data);
  while (size) {
    const ssize_t got = ::pread(fd, out, size, static_cast<off_t>(offset));
    if (got < 0 && errno == EINTR) continue;
    if (got == 0) return Status::Error(what + ": it became shorter while it was read");
    if (got < 0) return Errno(what);
    out += got;
    offset += static_cast<uint64_t>(got);
    size -= static_cast<size_t>(got);
  }
  return Status::Ok();
}

Status WriteFully(int fd, uint64_t offset, const void* data, size_t size, const std::string& what) {
  const uint8_t* in = static_cast<const uint8_t*>(data);
  while (size) {
    const ssize_t put = ::pwrite(fd, in, size, static_cast<off_t>(offset));
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) return Errno(what);
    in += put;
    offset += static_cast<uint64_t>(put);
    size -= static_cast<size_t>(put);
  }
  return Status::Ok();
}

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

// The temporary name beside `finalPath`: ".NAME.sfxpack-XXXXXX" in its folder.
std::string TempPattern(const std::string& finalPath) {
  const size_t slash = finalPath.rfind('/');
  if (slash == std::string::npos) return "." + finalPath + ".sfxpack-XXXXXX";
  return finalPath.substr(0, slash + 1) + "." + finalPath.substr(slash + 1) + ".sfxpack-XXXXXX";
}

}  // namespace

InputFile::~InputFile() {
  if (handle_ >= 0) ::close(handle_);
}

Status InputFile::Open(const std::string& option, const std::string& path, uint64_t maxSize) {
  const std::string what = option + " " + path;
  // O_NONBLOCK: a FIFO given by mistake must not hang the open; it is refused just below.
  handle_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  struct stat st;
  if (handle_ < 0 || ::fstat(handle_, &st) != 0) return Errno("cannot read " + what);
  if (S_ISDIR(st.st_mode)) return Status::Error("cannot read " + what + ": it is a folder");
  if (!S_ISREG(st.st_mode)) return Status::Error("cannot read " + what + ": not a regular file");
  if (static_cast<uint64_t>(st.st_size) > maxSize) {
    return Status::Error(what + ": too large (" + std::to_string(st.st_size) + " bytes; at most " +
                         std::to_string(maxSize) + ")");
  }
  ::fcntl(handle_, F_SETFL, ::fcntl(handle_, F_GETFL) & ~O_NONBLOCK);
  length_ = static_cast<uint64_t>(st.st_size);
  name_ = path;
  dev_ = st.st_dev;
  ino_ = st.st_ino;
  perms_ = st.st_mode & 07777;
  mtime_ = static_cast<int64_t>(st.st_mtime);
  return Status::Ok();
}

Status InputFile::OpenBytes(const std::string& name, const std::vector<uint8_t>& bytes) {
  handle_ = ::memfd_create("sfxpack-input", MFD_CLOEXEC);
  if (handle_ < 0) return Errno("cannot hold " + name + " in memory");
  const Status status = WriteFully(handle_, 0, bytes.data(), bytes.size(), "cannot hold " + name);
  if (!status.ok()) return status;
  length_ = bytes.size();
  name_ = name;
  return Status::Ok();
}

Status InputFile::ReadAt(uint64_t offset, void* data, size_t size) const {
  return ReadFully(handle_, offset, data, size, "cannot read " + name_);
}

Status ReadWholeFile(const std::string& option, const std::string& path, uint64_t maxSize,
                     std::vector<uint8_t>* data) {
  InputFile file;
  Status status = file.Open(option, path, maxSize);
  if (!status.ok()) return status;
  data->resize(static_cast<size_t>(file.size()));
  return file.ReadAt(0, data->data(), data->size());
}

Status CheckOutput(const std::string& option, const std::string& path,
                   const std::vector<const InputFile*>& inputs, bool force) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) {
    return errno == ENOENT ? Status::Ok() : Errno("cannot use " + option + " " + path);
  }
  for (const InputFile* input : inputs) {
    if (input && input->fd() >= 0 && input->device() == st.st_dev && input->inode() == st.st_ino) {
      return Status::Error(option + " " + path + " is the same file as the input " +
                           input->path() + ": refusing to overwrite an input");
    }
  }
  if (S_ISDIR(st.st_mode)) return Status::Error(option + " " + path + " is a folder");
  if (!force) {
    return Status::Error(option + " " + path + " already exists (use --force to replace it)");
  }
  return Status::Ok();
}

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

Status OutputFile::Create(const std::string& finalPath, mode_t mode) {
  finalName_ = finalPath;
  const std::string pattern = TempPattern(finalPath);
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
    return Errno("cannot create a file in " + FolderOf(finalPath) + " for " + finalPath);
  }
  ::fchmod(handle_, mode);
  return Status::Ok();
}

Status OutputFile::Write(const void* data, size_t size) {
  Status status = WriteAt(position_, data, size);
  if (status.ok()) position_ += size;
  return status;
}

Status OutputFile::WriteAt(uint64_t offset, const void* data, size_t size) {
  return WriteFully(handle_, offset, data, size, "cannot write " + finalName_);
}

Status OutputFile::ReadAt(uint64_t offset, void* data, size_t size) const {
  return ReadFully(handle_, offset, data, size, "cannot read back " + finalName_);
}

Status OutputFile::SetTime(uint32_t seconds) {
  struct timespec times[2];
  times[0].tv_sec = times[1].tv_sec = static_cast<time_t>(seconds);
  times[0].tv_nsec = times[1].tv_nsec = 0;
  if (::futimens(handle_, times) != 0) return Errno("cannot set the time of " + finalName_);
  return Status::Ok();
}

Status OutputFile::Commit(bool replace) {
  const bool synced = ::fsync(handle_) == 0;
  const bool closed = ::close(handle_) == 0;
  handle_ = -1;
  if (!synced || !closed) {
    const Status failed = Errno("cannot write " + finalName_);
    Discard();
    return failed;
  }
  // Without `replace`, link fails when the name has been taken since it was checked.
  const bool moved = replace ? ::rename(tempName_.c_str(), finalName_.c_str()) == 0
                             : ::link(tempName_.c_str(), finalName_.c_str()) == 0;
  if (!moved) {
    const Status failed =
        errno == EEXIST ? Status::Error(finalName_ + " appeared while it was written; left alone")
                        : Errno("cannot write " + finalName_);
    Discard();
    return failed;
  }
  if (replace) tempName_.clear();
  Discard();
  return Status::Ok();
}

Status WriteFileAtomically(const std::string& path, const uint8_t* data, size_t size, mode_t mode,
                           bool replace) {
  OutputFile out;
  Status status = out.Create(path, mode);
  if (status.ok()) status = out.Write(data, size);
  if (status.ok()) status = out.Commit(replace);
  return status;
}

PrivateTempDir::~PrivateTempDir() {
  if (path_.empty()) return;
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

Status PrivateTempDir::Create() {
  const char* base = std::getenv("TMPDIR");
  std::string pattern = std::string(base && *base ? base : "/tmp") + "/sfxpack-XXXXXX";
  std::vector<char> name(pattern.begin(), pattern.end());
  name.push_back('\0');
  // mkdtemp makes the folder with mode 0700: the files in it are nobody else's business.
  if (!mkdtemp(name.data())) return Errno("cannot create a temporary folder " + pattern);
  path_ = name.data();
  return Status::Ok();
}

}  // namespace sfxpack
