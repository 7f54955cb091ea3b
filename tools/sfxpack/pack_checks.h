// What `sfxpack pack` checks before it writes anything, so that it does not make a package the
// stub refuses at run time: listed names Windows accepts and the stub writes into its folder,
// names that stay distinct on a case-insensitive file system, a stub that carries the signing
// key and is neither signed already nor a finished package, a main program that is a PE image.
#ifndef SFXSTUB_TOOLS_SFXPACK_PACK_CHECKS_H_
#define SFXSTUB_TOOLS_SFXPACK_PACK_CHECKS_H_

#include <string>

#include "sfxstub/format/dsa_public_key.h"
#include "sfxstub/format/pe_image.h"
#include "tools/sfxpack/files.h"
#include "tools/sfxpack/status.h"

namespace sfxpack {

// The longest command template the stub accepts (a Windows command line's limit).
constexpr size_t kMaxCommandTemplate = 32767;
// The longest name of a listed file (a Windows path component).
constexpr size_t kMaxListedName = 255;

// Success when `name` may be a listed file's name; otherwise why not: what Windows refuses when
// it creates the file (a separator: no subfolders are made; control characters, < > " | ? *,
// more than kMaxListedName bytes), then the stub's own check (sfx::StaysInFolder: no "..", ':',
// device name), then a trailing dot or blank (Windows strips them, so the file would arrive
// under another name).
Status CheckListedName(const std::string& name);

// True for the names the stub itself writes into its folder ("setup.ovr", the launch copy
// "tarvo.setup"), in any case.
bool IsReservedName(const std::string& name);

// `name` with ASCII letters folded to lower case, as Windows compares names.
std::string FoldCase(const std::string& name);

// True when any byte is outside ASCII (the stub reads the names and the template in the
// system's ANSI code page).
bool HasNonAscii(const std::string& text);

// The PE headers of `file`, read as sfx::ReadPeHeaders reads them from a stream (into
// `headers`, which `image` then refers to); `readStatus` (optional) receives the failure of the
// first read that failed, success otherwise.
sfx::PeProblem ReadFilePeHeaders(const InputFile& file, sfx::PeRules rules,
                                 uint8_t (&headers)[sfx::kPeHeadersSize], sfx::PeImage* image,
                                 Status* readStatus = nullptr);

// True when the file starts with "MZ" and holds "PE\0\0" where the offset at 0x3C points (past
// the DOS header), whatever follows.
bool IsPeFile(const InputFile& file);

// True when the file is a PE32 or PE32+ image whose certificate table directory entry is not
// empty (wherever it points).
bool HasCertificateTable(const InputFile& file);

// True when `key` is the repository's test signer key, whose private half is public.
bool IsRepositoryTestKey(const sfx::DsaPublicKey& key);

}  // namespace sfxpack

#endif  // SFXSTUB_TOOLS_SFXPACK_PACK_CHECKS_H_
