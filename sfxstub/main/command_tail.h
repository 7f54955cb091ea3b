// The command-line tail: what follows the program name and the blanks after it in the process
// command line, taken unchanged (quotes included). It is what "%CMDLINE%" stands for and where
// the quiet switches are looked for.
#ifndef SFXSTUB_MAIN_COMMAND_TAIL_H_
#define SFXSTUB_MAIN_COMMAND_TAIL_H_

#include <string>

#include "sfxstub/main/dbcs_text.h"

namespace sfx {

// The program name ends at the first character of code 32 or less outside double quotes (each
// quote toggles; the trail byte of a double-byte character is never a quote or a blank); every
// following character of code 1 to 32 is skipped. The command line ends at its first zero byte.
std::string CommandLineTail(const char* commandLine, const LeadByteTest& isLead);

// Whether "/oem", "/silent" or "/verysilent" occurs anywhere in the tail: a plain, case-sensitive
// substring search (so "/silently" and a switch inside a quoted argument count, "/SILENT" does
// not). Any of them suppresses the progress window.
bool HasQuietSwitch(const std::string& commandTail, const LeadByteTest& isLead);

}  // namespace sfx

#endif  // SFXSTUB_MAIN_COMMAND_TAIL_H_
