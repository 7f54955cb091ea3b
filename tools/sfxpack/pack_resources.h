// What `sfxpack pack` does with --icon, --version-info and --execution-level: the options read
// and checked, and the copy of the stub with those resources set, written to a private
// temporary folder and opened as the stub the package is made of (stub_resources.h). The stub
// given stays as it is.
#ifndef SFXSTUB_TOOLS_SFXPACK_PACK_RESOURCES_H_
#define SFXSTUB_TOOLS_SFXPACK_PACK_RESOURCES_H_

#include <string>

#include "tools/sfxpack/files.h"
#include "tools/sfxpack/options.h"
#include "tools/sfxpack/status.h"
#include "tools/sfxpack/stub_resources.h"

namespace sfxpack {

// The resources pack was asked to set, before the icon file is read.
struct PackResources {
  std::string iconPath;  // --icon's, or empty
  StubResourceEdits edits;
};

// --icon, every --version-info and --execution-level. Refuses (with the reason, exit 2) an
// unknown version key, a key given twice, a bad version, an unknown level.
Status ParsePackResources(const Options& options, PackResources* resources);

// Reads --icon's file into the edits; refuses a file that is not an icon, with the reason.
Status ReadPackIcon(PackResources* resources);

// Warns when the stub is a 64-bit program (machine AMD64) whose manifest asks for no execution
// level and none is given: Windows elevates no 64-bit program by its name.
void WarnAboutElevation(const InputFile& stub, const PackResources& resources);

// When any resource is asked for: the stub with them set, written into `folder` (created here)
// and opened as `edited`; the stub is then `edited`. Otherwise nothing happens and `*use` stays.
Status MakeEditedStub(const InputFile& stub, const PackResources& resources, PrivateTempDir* folder,
                      InputFile* edited, const InputFile** use);

}  // namespace sfxpack

#endif  // SFXSTUB_TOOLS_SFXPACK_PACK_RESOURCES_H_
