// The stubs that come with sfxpack: the generic 32-bit (x86, sfxstub.exe, the default) and
// 64-bit (x64, sfxstub64.exe) stubs, installed under share/sfxpack/ beside bin/sfxpack. They are
// found relative to the running program (/proc/self/exe), so an installation moved elsewhere
// finds its own stubs, and a build tree's sfxpack finds none (give it --stub).
#ifndef SFXSTUB_TOOLS_SFXPACK_SHIPPED_STUBS_H_
#define SFXSTUB_TOOLS_SFXPACK_SHIPPED_STUBS_H_

#include <string>

#include "tools/sfxpack/status.h"

namespace sfxpack {

// The folder the shipped stubs are looked for in; empty when the program's own path is unknown.
std::string ShippedStubFolder();

// The shipped stub for --arch `arch` ("x86" or "x64"; empty means x86). A usage error for another
// arch; an error naming the folder looked in when the stub is not there.
Status ShippedStubPath(const std::string& arch, std::string* path);

// One line per shipped stub for --version: its file, version, kind, size and key.
std::string DescribeShippedStubs(const std::string& version);

}  // namespace sfxpack

#endif  // SFXSTUB_TOOLS_SFXPACK_SHIPPED_STUBS_H_
