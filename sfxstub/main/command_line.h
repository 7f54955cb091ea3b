// The setup program's argument text, expanded from the catalog's command-line template.
//
//   "%SRCPATH%"  the folder of the program's own file, without trailing backslash
//   "%TMPPATH%"  the working folder, without trailing backslash
//   "%CMDLINE%"  the command-line tail this process received, unchanged
//
// The suffix " /srcpath \"%SRCPATH%\"" is appended to the template before anything is replaced,
// and the placeholders are replaced in the order above. A value inserted by an earlier step is
// therefore scanned by the later ones, while the command-line tail, inserted last, reaches the
// setup program exactly as typed. No quotes are added around values; the template decides.
#ifndef SFXSTUB_MAIN_COMMAND_LINE_H_
#define SFXSTUB_MAIN_COMMAND_LINE_H_

#include <string>

#include "sfxstub/main/dbcs_text.h"

namespace sfx {

extern const char kSourcePathSuffix[];  // " /srcpath \"%SRCPATH%\""

// Replaces every occurrence of `placeholder` in `text` by `value`; nothing happens when either
// is null or the placeholder is empty. Text a replacement inserted is never searched again, so a
// value containing its own placeholder cannot make the text grow without end. When the value
// contains the placeholder and the text already holds the value, those copies are first turned
// back into the placeholder, so each comes out as exactly one copy of the value afterwards.
// Matches only begin on character boundaries of the ANSI code page.
void ReplaceAll(std::string* text, const char* placeholder, const char* value,
                const LeadByteTest& isLead);

std::string BuildSetupCommandLine(const std::string& commandTemplate,
                                  const std::string& sourceFolder,
                                  const std::string& workingFolder,
                                  const std::string& commandTail, const LeadByteTest& isLead);

}  // namespace sfx

#endif  // SFXSTUB_MAIN_COMMAND_LINE_H_
