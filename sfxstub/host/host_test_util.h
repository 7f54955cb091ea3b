// Helpers shared by the host tests: scratch folders, small files, environment overrides and the
// paths of the helper programs. Paths, names and values are UTF-8, as the host takes them.
#ifndef SFXSTUB_HOST_HOST_TEST_UTIL_H_
#define SFXSTUB_HOST_HOST_TEST_UTIL_H_

#include <windows.h>

#include <string>

namespace sfx {
namespace test {

// A Unix path of the build as Wine sees it: "/work/x" -> "Z:\work\x". Other paths are unchanged.
std::string HostPath(const std::string& path);

// Whether a file or folder of that name exists.
bool Exists(const std::string& path);
bool WriteTextFile(const std::string& path, const std::string& text);
// Empty when the file cannot be read.
std::string ReadTextFile(const std::string& path);

// What host_child saw: its command line, its current folder and, when asked for, whether a
// window of a given class existed ("1" or "0").
struct ChildReport {
  std::string commandLine;
  std::string folder;
  std::string windowFound;
};
bool ReadChildReport(const std::string& path, ChildReport* report);

// Removes a tree whatever is in it (read-only attributes are cleared first).
void RemoveTree(const std::string& path);

// A new, empty folder under the process's temporary folder, removed with its contents at the end.
class ScratchFolder {
 public:
  ScratchFolder();
  ~ScratchFolder();
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;

  const std::string& path() const { return path_; }
  std::string Join(const std::string& name) const { return path_ + "\\" + name; }

 private:
  std::string path_;
};

// Sets (or, with a null value, removes) an environment variable for the scope's life.
class ScopedEnvironment {
 public:
  ScopedEnvironment(const char* name, const char* value);
  ~ScopedEnvironment();
  ScopedEnvironment(const ScopedEnvironment&) = delete;
  ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

 private:
  std::string name_;
  std::string old_;
  bool hadOld_;
};

}  // namespace test
}  // namespace sfx

#endif  // SFXSTUB_HOST_HOST_TEST_UTIL_H_
