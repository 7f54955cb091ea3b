// What sfxpack says: every message goes to stderr prefixed "sfxpack: ", every refused package is
// explained through DescribeArchiveError, and every stored name or text is shown escaped.
#ifndef SFXSTUB_TOOLS_SFXPACK_MESSAGES_H_
#define SFXSTUB_TOOLS_SFXPACK_MESSAGES_H_

#include <cstdint>
#include <string>

#include "sfxstub/archive/archive_status.h"
#include "tools/sfxpack/status.h"

namespace sfxpack {

// "sfxpack: " + the reason of a failed `status` on stderr; returns its exit code (0 for
// success, which prints nothing).
int Report(const Status& status);
// "sfxpack: warning: " + text on stderr.
void Warn(const std::string& text);
// "sfxpack: " + text on stderr: what a command did besides its result (a key stamped in).
void Note(const std::string& text);
// A usage error of COMMAND (exit 2): "COMMAND: why" and a pointer to the command's help.
Status UsageError(const char* command, const std::string& why);

// The words for a Windows error number the archive reader gives ("error 1006
// (ERROR_FILE_INVALID: the package is damaged or not a package)").
std::string DescribeArchiveError(int32_t code);
// The same for an archive reader's refusal, with the check that made it: "error 1006
// (ERROR_FILE_INVALID: ...); the closing signature does not verify".
std::string DescribeArchiveError(const sfx::Status& status);

// `name` with every control byte, backslash and DEL written as \n, \t, \\ or \xNN, so that a
// stored name can't fake a line of a listing or move the terminal's cursor.
std::string EscapeName(const std::string& name);
// `text` as a JSON string literal; bytes of 0x80 and above stand for the code point of the same
// value (\u00NN), so that any byte string round-trips.
std::string JsonString(const std::string& text);

}  // namespace sfxpack

#endif  // SFXSTUB_TOOLS_SFXPACK_MESSAGES_H_
