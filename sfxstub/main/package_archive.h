// What the main sequence needs of the self-extract archive, behind an interface so the sequence
// can be driven by a fake in tests. The stub's implementation wraps SfxArchive.
#ifndef SFXSTUB_MAIN_PACKAGE_ARCHIVE_H_
#define SFXSTUB_MAIN_PACKAGE_ARCHIVE_H_

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "sfxstub/archive/progress_sink.h"

namespace sfx {

class PackageArchive {
 public:
  // Destroying the archive closes the program's own file.
  virtual ~PackageArchive() = default;
  // Each returns a Windows error number (or -1), 0 for success.
  virtual int32_t Open(const std::string& path) = 0;
  virtual int32_t ExtractMainProgram(const std::string& targetPath) = 0;
  // Copies every listed file into `folder`, reporting progress to the sink given at creation.
  virtual int32_t ExtractFiles(const std::string& folder) = 0;
  // The catalog's command-line template; empty until Open has read one.
  virtual std::string CommandTemplate() const = 0;
};

// Makes an empty archive that reports extraction progress to `progress` (may be null).
using ArchiveFactory = std::function<std::unique_ptr<PackageArchive>(ProgressSink* progress)>;

}  // namespace sfx

#endif  // SFXSTUB_MAIN_PACKAGE_ARCHIVE_H_
