#include "tools/sfxpack/file_util.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace sfxpack {
namespace {
std::string Why(const char* what, const std::string& path) {
  return std::string(what) + " " + path + ": " + std::strerror(errno);
}
}  // namespace

bool ReadWholeFile(const std::string& path, std::vector<uint8_t>* data, std::string* error) {
  int fd = ::open(path.c_str(), O_RDONLY);
  if (fd < 0) {
    *error = Why("cannot open", path);
    return false;
  }
  struct stat st;
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    *error = "not a regular file: " + path;
    ::close(fd);
    return false;
  }
  data->clear();
  data->reserve(static_cast<size_t>(st.st_size));
  uint8_t chunk[1 << 16];
  for (;;) {
    ssize_t got = ::read(fd, chunk, sizeof chunk);
    if (got < 0) {
      if (errno == EINTR) continue;
      *error = Why("cannot read", path);
      ::close(fd);
      return false;
    }
    if (got == 0) break;
    data->insert(data->end(), chunk, chunk + got);
  }
  ::close(fd);
  return true;
}

bool WriteFileAtomically(const std::string& path, const uint8_t* data, size_t size,
                         std::string* error) {
  std::string temp = path + ".tmp-XXXXXX";
  std::vector<char> name(temp.begin(), temp.end());
  name.push_back('\0');
  int fd = ::mkstemp(name.data());
  if (fd < 0) {
    *error = Why("cannot create", temp);
    return false;
  }
  ::fchmod(fd, 0644);
  size_t done = 0;
  while (done < size) {
    ssize_t put = ::write(fd, data + done, size - done);
    if (put < 0) {
      if (errno == EINTR) continue;
      *error = Why("cannot write", path);
      ::close(fd);
      ::unlink(name.data());
      return false;
    }
    done += static_cast<size_t>(put);
  }
  if (::fsync(fd) != 0 || ::close(fd) != 0) {
    *error = Why("cannot write", path);
    ::unlink(name.data());
    return false;
  }
  if (::rename(name.data(), path.c_str()) != 0) {
    *error = Why("cannot rename into", path);
    ::unlink(name.data());
    return false;
  }
  return true;
}

}  // namespace sfxpack
