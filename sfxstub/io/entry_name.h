// Whether a listed file's name keeps its file inside the folder it is extracted into.
//
// The catalog's names are the signer's, and the stub joins them to the working folder as they
// are (JoinPath: no second backslash when the name begins with one), so a name must not be able
// to reach anything else once Windows has normalised the joined path: not a parent folder, not
// another drive or share, not an alternate data stream, not a device, not the folder itself.
// Normalising, Windows turns '/' into '\', runs of separators into one, drops "." components
// and steps back for ".." ones, and strips trailing dots and blanks from a component. So a name
// is refused, and only then, when
//   - it is empty, or holds a zero byte (which would end it early for every Win32 call);
//   - it begins with two separators ("\\server\share", "\\?\C:\x", "\\.\COM1");
//   - it holds a ':' anywhere (a drive "C:x", a stream "name:stream", "x::$DATA");
//   - it has no component but empty ones ("\", "//"): it names the folder itself;
//   - a component, split at '\' and '/', consists of dots and blanks only (".", "..", ".. ",
//     "...", " "): Windows makes each of them ".", ".." or nothing, the folder or its parent;
//   - a component is a device name: CON, PRN, AUX, NUL, COM1..COM9, LPT1..LPT9 (also with the
//     superscript digits ¹ ² ³, which Windows counts as digits there), CONIN$, CONOUT$, in any
//     case, alone or followed by an extension or trailing dots and blanks ("NUL.txt",
//     "com1 .log", "lpt1.").
// Everything else stays inside and is accepted: a name in a subfolder ("sub\x.txt"; creating
// it fails with 2 when the subfolder does not exist), one that begins with a single separator
// ("\setup.ini" is joined without a second backslash), doubled separators ("a\\b"), and trailing
// dots or blanks ("readme.", "x.txt ", which Windows strips: the file lands in the folder under
// the shorter name). Characters Windows refuses in a name (< > " | ? * and control characters)
// are no way out either: creating such a file fails, with the create's own error.
//
// The name is UTF-8 on Windows (the file system's PackageText), so every '\' byte is a
// separator there and superscript digits are their UTF-8 sequences. Elsewhere (sfxpack, the
// native tests) it is whatever bytes it holds, checked the same way.
#ifndef SFXSTUB_IO_ENTRY_NAME_H_
#define SFXSTUB_IO_ENTRY_NAME_H_

#include <string>

namespace sfx {

bool StaysInFolder(const std::string& name);

}  // namespace sfx

#endif  // SFXSTUB_IO_ENTRY_NAME_H_
