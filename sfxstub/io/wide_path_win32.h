// Paths and text at the Win32 boundary. The portable core holds them as UTF-8 (wide_text.h);
// the Win32 implementations of the seams convert here, at the call, and nowhere else. Text
// stored in a package is neither: it is bytes in the system's ANSI code page, converted once,
// where it is read. Windows only.
#ifndef SFXSTUB_IO_WIDE_PATH_WIN32_H_
#define SFXSTUB_IO_WIDE_PATH_WIN32_H_

#include <windows.h>

#include <cstddef>
#include <string>

namespace sfx {

// The wide strings of the Win32 files. Not WideString itself: libstdc++ instantiates that one
// whole in a single object, and using any of it links all of it (about 20 KiB of the stub);
// with traits of its own the template is made from the header, only as far as it is used.
struct WideCharTraits : std::char_traits<wchar_t> {};
using WideString = std::basic_string<wchar_t, WideCharTraits>;

// `utf8` as a wide string for a W call; false for bytes that are not UTF-8 in the sense of
// wide_text.h (nothing the core builds is such, but a caller's bytes could be).
bool ToWide(const std::string& utf8, WideString* wide);
// The same for a path: bytes that are not UTF-8 give an empty path, which names nothing, so
// every call on it fails rather than reach some other file.
WideString WidePath(const std::string& utf8);

// What a W call handed out, as the core holds it (a null `text` is empty).
std::string Utf8FromWide(const wchar_t* text, size_t length);
std::string Utf8FromWide(const wchar_t* text);

// Bytes stored in a package (a listed name, the command-line template) read as the system's ANSI
// code page reads them (MultiByteToWideChar with CP_ACP, as the "A" functions would), in UTF-8.
// Should the system refuse the conversion, the bytes come back unchanged: unless they are ASCII
// (then they are the same text) they are then no UTF-8, and the path or command line made of
// them is refused rather than used.
std::string Utf8FromAnsi(const std::string& bytes);

}  // namespace sfx

#endif  // SFXSTUB_IO_WIDE_PATH_WIN32_H_
