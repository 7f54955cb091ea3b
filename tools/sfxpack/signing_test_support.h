// Shell and file helpers for the sfxpack signing tests (native only; scratch folders are
// tests/common/temp_dir.h's). Header-only:
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
