#include "tools/sfxpack/messages.h"

#include <cstdio>

#include "sfxstub/archive/sfx_archive.h"
#include "sfxstub/io/win32_error.h"

namespace sfxpack {
namespace {

// What each number the archive reader gives means to a package author.
const char* ArchiveErrorMeaning(int32_t code) {
  switch (code) {
    case sfx::kErrorSuccess: return "success";
    case sfx::kErrorBadMainRange: return "the catalog's main program range is not 8 bytes";
    case sfx::kErrorFileNotFound: return "ERROR_FILE_NOT_FOUND: the file does not exist";
    case sfx::kErrorPathNotFound: return "ERROR_PATH_NOT_FOUND: a folder on the way does not exist";
    case sfx::kErrorAccessDenied: return "ERROR_ACCESS_DENIED: access denied";
    case sfx::kErrorNotEnoughMemory:
      return "ERROR_NOT_ENOUGH_MEMORY: too large to hold (the main program may be at most 256 MiB)";
    case sfx::kErrorSharingViolation: return "ERROR_SHARING_VIOLATION: the file is in use";
    case sfx::kErrorCannotMake: return "ERROR_CANNOT_MAKE: an output file can't be made or written";
    case sfx::kErrorInvalidParameter:
      return "ERROR_INVALID_PARAMETER: a mode other than \"extract\", or a file name that would "
             "leave the folder";
    case sfx::kErrorDiskFull: return "ERROR_DISK_FULL: the disk is full";
    case sfx::kErrorInvalidName: return "ERROR_INVALID_NAME: a name Windows does not accept";
    case sfx::kErrorFileInvalid:
      return "ERROR_FILE_INVALID: the package is damaged, truncated, or not signed with this key";
    default: return nullptr;
  }
}

}  // namespace

int Report(const Status& status) {
  if (!status.ok()) std::fprintf(stderr, "sfxpack: %s\n", status.reason().c_str());
  return status.code();
}

void Warn(const std::string& text) { std::fprintf(stderr, "sfxpack: warning: %s\n", text.c_str()); }
void Note(const std::string& text) { std::fprintf(stderr, "sfxpack: %s\n", text.c_str()); }

Status UsageError(const char* command, const std::string& why) {
  return Status::Error(std::string(command) + ": " + why + "\n(sfxpack " + command +
                       " --help tells more)");
}

std::string DescribeArchiveError(int32_t code) {
  const char* meaning = ArchiveErrorMeaning(code);
  const std::string number = "error " + std::to_string(code);
  return meaning ? number + " (" + meaning + ")" : number;
}

std::string DescribeArchiveError(const sfx::Status& status) {
  std::string text = DescribeArchiveError(status.code());
  if (status.reason() != sfx::Refusal::kNone) {
    text += "; ";
    text += sfx::RefusalText(status.reason());
  }
  return text;
}

std::string EscapeName(const std::string& name) {
  std::string out;
  for (unsigned char c : name) {
    if (c == '\n') {
      out += "\\n";
    } else if (c == '\t') {
      out += "\\t";
    } else if (c == '\r') {
      out += "\\r";
    } else if (c == '\\') {
      out += "\\\\";
    } else if (c < 0x20 || c == 0x7F) {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02X", c);
      out += hex;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

std::string JsonString(const std::string& text) {
  std::string out = "\"";
  for (unsigned char c : text) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20 || c >= 0x7F) {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\u%04x", c);
      out += hex;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + "\"";
}

}  // namespace sfxpack
