// Scratch folders and shell helpers for the sfxpack signing tests (native only). Header-only:
// every .cc here but main.cc and the *_test.cc files goes into sfxpack_lib.
#ifndef SFXSTUB_TOOLS_SFXPACK_SIGNING_TEST_SUPPORT_H_
#define SFXSTUB_TOOLS_SFXPACK_SIGNING_TEST_SUPPORT_H_

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace sfxpack {
namespace test {

// Runs a shell command; returns its exit status (or -1), both output streams in `output`.
inline int Shell(const std::string& command, std::string* output = nullptr);

// A fresh folder under the test temporary folder, removed with everything in it at the end.
class ScratchDir {
 public:
  ScratchDir();
  ~ScratchDir();
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

inline ScratchDir::ScratchDir() {
  std::string base = ::testing::TempDir() + "sfxpack_signing_XXXXXX";
  std::vector<char> name(base.begin(), base.end());
  name.push_back('\0');
  if (!::mkdtemp(name.data())) ADD_FAILURE() << "cannot make a scratch folder";
  path_ = name.data();
}

inline ScratchDir::~ScratchDir() { Shell("rm -rf '" + path_ + "'"); }

inline int Shell(const std::string& command, std::string* output) {
  FILE* pipe = ::popen((command + " 2>&1").c_str(), "r");
  if (!pipe) return -1;
  std::string text;
  char buffer[4096];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof(buffer), pipe)) > 0) text.append(buffer, n);
  const int status = ::pclose(pipe);
  if (output) *output = text;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

inline std::vector<uint8_t> ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void WriteBytes(const std::string& path, const std::vector<uint8_t>& data) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
  out.close();
  ASSERT_TRUE(out) << "cannot write " << path;
}

inline bool FileExists(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0;
}

}  // namespace test
}  // namespace sfxpack

#endif  // SFXSTUB_TOOLS_SFXPACK_SIGNING_TEST_SUPPORT_H_
