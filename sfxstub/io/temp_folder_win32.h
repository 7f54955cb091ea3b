// Where the stub puts what it makes for itself: its working folder, and the private copy of a
// package read from a network drive. One rule for both: the value of "TEMP", else the value of
// "TMP", else "C:\TEMP"; an empty value counts as unset, and the value is taken as it is (not
// normalised, not checked). GetTempPath is not used: it reads TMP before TEMP. Windows only.
#ifndef SFXSTUB_IO_TEMP_FOLDER_WIN32_H_
#define SFXSTUB_IO_TEMP_FOLDER_WIN32_H_

#include <string>

namespace sfx {

extern const char kFallbackTempFolder[];  // "C:\TEMP"

// The base folder by the rule above, in UTF-8. Whether it exists is the caller's question.
std::string TempFolderBase();

// The value of an environment variable whatever its length, in UTF-8; false when it is unset or
// empty (`value` is left alone then).
bool ReadEnvironment(const wchar_t* name, std::string* value);

}  // namespace sfx

#endif  // SFXSTUB_IO_TEMP_FOLDER_WIN32_H_
