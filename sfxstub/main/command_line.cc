#include "sfxstub/main/command_line.h"

namespace sfx {

const char kSourcePathSuffix[] = " /srcpath \"%SRCPATH%\"";

void ReplaceAll(std::string* text, const char* placeholder, const char* value,
                const LeadByteTest& isLead) {
  if (text == nullptr || placeholder == nullptr || value == nullptr) return;
  const std::string from(placeholder);
  const std::string to(value);
  if (from.empty() || from == to) return;

  // Guard: a value that contains its placeholder and is already in the text would otherwise
  // have the placeholder inside its existing copies expanded again. Turning those copies back
  // first makes every one of them come out as a single copy of the value. The reverse call
  // cannot recurse further: its value (our placeholder) is shorter than its placeholder.
  if (ContainsText(to, from, isLead) && ContainsText(*text, to, isLead)) {
    ReplaceAll(text, value, placeholder, isLead);
  }

  size_t pos = FindText(*text, from, 0, isLead);
  while (pos != std::string::npos) {
    text->replace(pos, from.size(), to);
    pos = FindText(*text, from, pos + to.size(), isLead);  // never rescan what was inserted
  }
}

std::string BuildSetupCommandLine(const std::string& commandTemplate,
                                  const std::string& sourceFolder,
                                  const std::string& workingFolder,
                                  const std::string& commandTail, const LeadByteTest& isLead) {
  std::string text = commandTemplate + kSourcePathSuffix;
  ReplaceAll(&text, "%SRCPATH%", sourceFolder.c_str(), isLead);
  ReplaceAll(&text, "%TMPPATH%", workingFolder.c_str(), isLead);
  ReplaceAll(&text, "%CMDLINE%", commandTail.c_str(), isLead);
  return text;
}

}  // namespace sfx
