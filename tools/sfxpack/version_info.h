// The version information `pack --version-info KEY=VALUE` gives a package: a VS_VERSIONINFO
// resource (RT_VERSION 1), which Explorer's Properties page and the system's version calls read.
//
// It holds the fixed part (VS_FIXEDFILEINFO: the numeric file and product versions, the file's
// OS and type) and the strings, in one table for US English and UTF-16 ("040904B0"), with the
// matching translation entry. Each block is a u16 length (the block with its children), a u16
// value length (in characters for text, in bytes otherwise), a u16 type (1 text, 0 binary), its
// key in UTF-16 with its terminating zero, padding to 4 bytes, the value, padding to 4 bytes and
// the children.
//
// The numeric file version comes from FileVersion, the numeric product version from
// ProductVersion; where one of them is not given, the other's numbers stand for it (a package
// with only ProductVersion=1.2.3 shows 1.2.3.0 as its file version too). Both must be one to four
// numbers of 0..65535 separated by dots; missing ones are 0.
#ifndef SFXSTUB_TOOLS_SFXPACK_VERSION_INFO_H_
#define SFXSTUB_TOOLS_SFXPACK_VERSION_INFO_H_

#include <array>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "tools/sfxpack/status.h"

namespace sfxpack {

// The keys --version-info takes, in the order the resource holds them.
extern const char* const kVersionInfoKeys[7];
// The longest value, in UTF-16 units (the resource's lengths are 16-bit).
constexpr size_t kMaxVersionValue = 1024;

using DottedVersion = std::array<uint16_t, 4>;

// "1.2.3" as {1, 2, 3, 0}; refuses, with the reason, an empty part, a part that is not a decimal
// number or is above 65535, and more than four parts.
Status ParseDottedVersion(const std::string& text, DottedVersion* version);

struct VersionInfo {
  // (key, value in UTF-8), in kVersionInfoKeys' order.
  std::vector<std::pair<std::string, std::string>> strings;
  DottedVersion fileVersion{};
  DottedVersion productVersion{};

  // The value of `key`, or null.
  const std::string* Get(const std::string& key) const;
};

// Adds one --version-info argument, "KEY=VALUE". Refuses an unknown key (naming the known ones),
// a key given twice, an empty value, one that is not UTF-8 or longer than kMaxVersionValue, and a
// FileVersion or ProductVersion that is not a dotted version. Sets the numeric versions.
Status AddVersionString(const std::string& argument, VersionInfo* info);

// The VS_VERSIONINFO resource's bytes.
std::vector<uint8_t> BuildVersionResource(const VersionInfo& info);

// The numeric versions and strings of a VS_VERSIONINFO resource (every string table's strings,
// whatever their key); refuses one whose blocks do not fit.
Status ParseVersionResource(const std::vector<uint8_t>& data, VersionInfo* info);

// "1.2.3.0".
std::string FormatVersion(const DottedVersion& version);

}  // namespace sfxpack

#endif  // SFXSTUB_TOOLS_SFXPACK_VERSION_INFO_H_
