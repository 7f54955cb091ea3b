// Opening the package for reading so that what the stub checks is what it extracts.
//
// The stub checks the signature over its whole file and then reads the catalog, the main
// program and the listed files again. In between nobody may change those bytes:
//   - A local file is opened sharing only with readers: while the stub holds it, every attempt
//     to open it for writing fails, and if someone already holds it for writing, the open fails
//     (ERROR_SHARING_VIOLATION), which the archive reports as an unreadable package.
//   - A file on a network drive or a UNC path can be changed by the server whatever the sharing
//     says, so its bytes are read once, into a private copy under TEMP that no one else can open
//     (no sharing at all) and that is deleted when closed; the check and the extraction then
//     read that copy.
// Elsewhere (the native build) the file is opened for reading as it is.
#ifndef SFXSTUB_ARCHIVE_PACKAGE_OPEN_H_
#define SFXSTUB_ARCHIVE_PACKAGE_OPEN_H_

#include <string>

namespace sfx {

// A low-level read-only file handle (not inherited by child processes) as described above, or
// -1 with errno set as the runtime's _open would set it.
int OpenPackageForReading(const char* path);

namespace internal {

// Whether `path` lies on a network drive or is a UNC path ("\\server\share\...",
// "\\?\UNC\server\share\..."). Relative paths are resolved against the current folder first.
// Always false outside Windows.
bool IsRemotePath(const std::string& path);

// Makes every OpenPackageForReading read through a private copy, as for a remote file (true),
// or decide by the path again (false). For tests only.
void SetAlwaysCopyForTesting(bool always);

}  // namespace internal

}  // namespace sfx

#endif  // SFXSTUB_ARCHIVE_PACKAGE_OPEN_H_
