// The tests' one scratch-folder helper: TempDir, a folder for one test, removed with everything
// in it when the test ends; TempFile, a single file in a folder of its own.
#ifndef SFXSTUB_TESTS_COMMON_TEMP_DIR_H_
#define SFXSTUB_TESTS_COMMON_TEMP_DIR_H_

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace sfx {

class TempDir {
 public:
  TempDir() {
    namespace fs = std::filesystem;
    static unsigned counter = 0;
    fs::path base = fs::temp_directory_path();
    for (;;) {
      char name[64];
      std::snprintf(name, sizeof name, "sfxtest-%u-%u-%u", static_cast<unsigned>(std::rand()),
                    ++counter, static_cast<unsigned>(reinterpret_cast<uintptr_t>(this) & 0xFFFF));
      fs::path p = base / name;
      std::error_code ec;
      if (fs::create_directory(p, ec)) {
        path_ = p.string();
        break;
      }
    }
  }
  ~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& path() const { return path_; }
  std::string Path(const std::string& name) const {
    return (std::filesystem::path(path_) / name).string();
  }
  std::string operator/(const std::string& name) const { return Path(name); }
  std::string Write(const std::string& name, const std::string& content) const {
    return Write(name, std::vector<uint8_t>(content.begin(), content.end()));
  }
  std::string Write(const std::string& name, const std::vector<uint8_t>& content) const {
    std::string p = Path(name);
    std::ofstream out(p, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(content.data()), static_cast<std::streamsize>(content.size()));
    return p;
  }
  static std::vector<uint8_t> Read(const std::string& p) {
    std::ifstream in(p, std::ios::binary);
    return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  }

 private:
  std::string path_;
};

// One file, alone in a TempDir of its own; `Rewrite` replaces its contents.
class TempFile {
 public:
  explicit TempFile(const std::vector<uint8_t>& contents) : path_(dir_.Write("file.bin", contents)) {}
  const char* path() const { return path_.c_str(); }
  void Rewrite(const std::vector<uint8_t>& contents) const { dir_.Write("file.bin", contents); }

 private:
  TempDir dir_;  // made before path_
  std::string path_;
};

}  // namespace sfx

#endif  // SFXSTUB_TESTS_COMMON_TEMP_DIR_H_
