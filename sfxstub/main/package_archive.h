// What the main sequence needs of the self-extract archive, behind an interface so the sequence
// can be driven by a fake in tests. The stub's implementation wraps SfxArchive.
#ifndef SFXSTUB_MAIN_PACKAGE_ARCHIVE_H_
#define SFXSTUB_MAIN_PACKAGE_ARCHIVE_H_

#include <functional>
#include <memory>
#include <string>

#include "sfxstub/archive/archive_status.h"
#include "sfxstub/archive/progress_sink.h"

namespace sfx {

class PackageArchive {
 public:
  // Destroying the archive closes the program's own file.
  virtual ~PackageArchive() = default;
  // Each returns the archive's Status (archive_status.h): the Windows error number (or -1) the
  // stub reports, 0 for success, and the reason.
  virtual Status Open(const std::string& path) = 0;
  virtual Status ExtractMainProgram(const std::string& targetPath) = 0;
  // Copies every listed file into `folder`, reporting progress to the sink given at creation.
  virtual Status ExtractFiles(const std::string& folder) = 0;
  // The catalog's command-line template; empty until Open has read one.
  virtual std::string CommandTemplate() const = 0;
};

// Makes an empty archive that reports extraction progress to `progress` (may be null).
using ArchiveFactory = std::function<std::unique_ptr<PackageArchive>(ProgressSink* progress)>;

}  // namespace sfx

#endif  // SFXSTUB_MAIN_PACKAGE_ARCHIVE_H_
