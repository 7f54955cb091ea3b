// Whether a listed file's name keeps its file inside the folder it is extracted into.
//
// The catalog's names are the signer's, and the stub joins them to the working folder as they
// are, so a name must not be able to reach anything else: not a parent folder, not another
// drive, not an alternate data stream of the folder, not a device. A name is accepted when it is
// one or more components separated by '\' or '/', each of which
//   - is not empty (no leading, trailing or doubled separator),
//   - holds no ':' (a drive "C:", a stream "name:stream", "name::$INDEX_ALLOCATION"),
//   - does not end with '.' or ' ' (Windows drops those, so "x." would open "x"; this also
//     refuses "." and ".."),
//   - is not a device name: CON, PRN, AUX, NUL, COM1..COM9, LPT1..LPT9, CONIN$, CONOUT$, in any
//     case, alone or followed by an extension ("NUL.txt" and "com1 .log" are devices too).
// A name in a subfolder ("sub\x.txt") is accepted: it stays inside, and creating it fails as
// before when the subfolder does not exist.
//
// Every '\' byte is taken as a separator, also the trail byte of a double-byte character. That
// only cuts a name into more, shorter pieces than Windows sees; a component Windows sees that
// breaks a rule still makes some piece break it (its last piece keeps its trailing '.' or ' ',
// a ':' lands in some piece, and ".." or a device name holds no '\'), so the check can only err
// towards refusing.
#ifndef SFXSTUB_IO_ENTRY_NAME_H_
#define SFXSTUB_IO_ENTRY_NAME_H_

#include <string>

namespace sfx {

bool StaysInFolder(const std::string& name);

}  // namespace sfx

#endif  // SFXSTUB_IO_ENTRY_NAME_H_
