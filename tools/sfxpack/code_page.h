// Listed names and the command-line template in a Windows code page. The stub reads the stored
// bytes in the ANSI code page of the system it runs on; an author on Linux writes UTF-8. With
// `pack --codepage N` the names and the template are converted from UTF-8 into code page N
// (glibc's iconv, "CPN"), so that "café.txt" packed with --codepage 1252 arrives as "café.txt"
// on every Windows whose ANSI code page is 1252. What N cannot represent is refused, never
// replaced.
#ifndef SFXSTUB_TOOLS_SFXPACK_CODE_PAGE_H_
#define SFXSTUB_TOOLS_SFXPACK_CODE_PAGE_H_

#include <iconv.h>

#include <string>

#include "tools/sfxpack/status.h"

namespace sfxpack {

class CodePage {
 public:
  CodePage() = default;
  CodePage(const CodePage&) = delete;
  CodePage& operator=(const CodePage&) = delete;
  ~CodePage();

  // Takes code page `text` ("1252", "932"). An error with the reason when it is no number,
  // iconv does not know "CP<N>", or the code page does not keep ASCII as it is (EBCDIC, UTF-16
  // and UTF-32 are no ANSI code page: the stub's own names and every '\' would change).
  Status Open(const std::string& text);
  bool opened() const { return number_ != 0; }
  unsigned number() const { return number_; }

  // `utf8` in the code page. An error with the reason when it is not UTF-8 or holds a character
  // the code page cannot represent (the message names the first one, "'Ł' (U+0141)").
  Status Convert(const std::string& utf8, std::string* converted) const;

 private:
  iconv_t converter_ = reinterpret_cast<iconv_t>(-1);
  unsigned number_ = 0;
};

// How the stub reads text outside ASCII, for pack's warning: in the system's ANSI code page,
// which differs between machines; with `storedIn`, as written only where that is its code page.
std::string NonAsciiNote(const CodePage* storedIn);

// With a code page, `text` converted into it in place (`what` names the text in the error:
// "--cmdline", "file name 'x'"); without one, `text` stays as it is.
Status StoreInCodePage(const CodePage* codePage, const std::string& what, std::string* text);

}  // namespace sfxpack

#endif  // SFXSTUB_TOOLS_SFXPACK_CODE_PAGE_H_
