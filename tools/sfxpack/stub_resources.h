// The resources `sfxpack pack` sets in its copy of the stub (--icon, --version-info,
// --execution-level), and the ones `sfxpack list` reads back from a package's stub.
//
// The stub is linked with its resource section last, in the section table, in memory and in the
// file (sfxstub/main/stub.ld). So the section can be rewritten whole without moving anything
// else: its resource tree is parsed (resource_tree.h), the resources are replaced or added, a new
// tree is serialized at the section's address, and the file is cut or grown to the section's new
// raw size. Then the headers follow: the section's virtual and raw sizes, SizeOfInitializedData,
// SizeOfImage, the resource data directory, and last the time stamp and checksum (StampPeImage,
// tools/sfxgen/pe_stamp.h). A stub whose resources are not so placed is refused.
#ifndef SFXSTUB_TOOLS_SFXPACK_STUB_RESOURCES_H_
#define SFXSTUB_TOOLS_SFXPACK_STUB_RESOURCES_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "tools/sfxpack/files.h"
#include "tools/sfxpack/icon_file.h"
#include "tools/sfxpack/status.h"
#include "tools/sfxpack/version_info.h"

namespace sfxpack {

constexpr uint16_t kMachineAmd64 = 0x8664;  // IMAGE_FILE_MACHINE_AMD64

// What the headers of a PE image say about its resource section, with the file offsets of the
// fields a rewrite changes.
struct ResourceSectionLayout {
  uint16_t machine = 0;
  uint32_t fileAlignment = 0, sectionAlignment = 0;
  uint32_t rva = 0;          // the section's address, where its tree starts
  uint32_t virtualSize = 0;  // as the section header gives them
  uint32_t rawOffset = 0, rawSize = 0;
  bool last = false;  // last in the table, in memory and in the file
  size_t sectionHeader = 0, directory = 0, sizeOfImage = 0, sizeOfInitializedData = 0;

  // The bytes of the section that hold its tree: the raw data, but no more than the virtual size.
  uint32_t treeBytes() const { return virtualSize && virtualSize < rawSize ? virtualSize : rawSize; }
};

// The layout from the image's first `size` bytes (at least its headers and section table) of a
// file of `fileSize` bytes (0: `size`), read through sfx::PeImage.
// Refuses, with the reason, what is no PE32 or PE32+ image and an image without resources
// (an empty resource directory, or one that lies in no section).
Status FindResourceSection(const uint8_t* head, size_t size, ResourceSectionLayout* layout,
                           uint64_t fileSize = 0);

// What pack sets. Empty members leave the stub's own resources alone.
struct StubResourceEdits {
  std::vector<IconImage> icon;  // replaces icon group 1 and its images
  bool versionGiven = false;
  VersionInfo version;         // RT_VERSION 1
  std::string executionLevel;  // the manifest's trustInfo

  bool any() const { return !icon.empty() || versionGiven || !executionLevel.empty(); }
};

// Rewrites the resource section of the stub `image` (the whole file) with `edits`, and then its
// headers, time stamp (`*time`, or derived from the image when null) and checksum. Refuses, with
// the reason (said of the stub: "its manifest has ...") and the image unchanged, a stub whose resources do not start its last section or
// that has bytes after that section, a damaged resource tree, and a stub without a manifest when
// an execution level is asked for.
Status ApplyStubResources(const StubResourceEdits& edits, const uint32_t* time, std::vector<uint8_t>* image);

// The resources list shows, read from a stub or a package that starts with one.
struct StubResources {
  uint16_t machine = 0;              // the COFF header's
  std::vector<IconGroupEntry> icon;  // icon group 1 (or the first group); empty without one
  bool versionFound = false;
  VersionInfo version;
  bool manifestFound = false;
  std::string executionLevel;  // "" when the manifest asks for none
};

// Reads them from `file`; fails, with the reason, where the headers or the tree can't be read.
Status ReadStubResources(const InputFile& file, StubResources* resources);

}  // namespace sfxpack

#endif  // SFXSTUB_TOOLS_SFXPACK_STUB_RESOURCES_H_
