// A PE image's resources as a list, and the resource section's bytes they come from and go to.
//
// The section holds a tree of three levels of directories (type, name, language), each a table
// of entries sorted as the loader's binary search wants them (named entries first, by their
// UTF-16 units, then numbered ones, ascending), whose leaves are data entries: the RVA, size and
// code page of one resource's bytes. Parse reads such a tree into one Resource per leaf;
// Serialize writes the list as a new tree with the same meaning, laid out as the linker lays out
// the stub's: the root, each type's directory followed by its names' language directories, the
// names, the data entries, then the resources' bytes, each at an 8-byte boundary, and the section
// padded to 8 bytes; the RVAs are those of a section loaded at the given address. So the stub's
// own section comes out byte for byte as linked. The directories' characteristics, time stamps
// and versions are written as zero (what the linker leaves there).
//
// Parse trusts nothing it reads: every offset and length is checked against the section before
// it is followed, and a tree that is not exactly three levels deep, a directory that is reached
// twice, or resource bytes outside the section are refused with the reason.
#ifndef SFXSTUB_TOOLS_SFXPACK_RESOURCE_TREE_H_
#define SFXSTUB_TOOLS_SFXPACK_RESOURCE_TREE_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "tools/sfxpack/status.h"

namespace sfxpack {

// Resource types of the Windows headers that the stub's resources use.
constexpr uint16_t kResourceIcon = 3;        // RT_ICON
constexpr uint16_t kResourceGroupIcon = 14;  // RT_GROUP_ICON
constexpr uint16_t kResourceVersion = 16;    // RT_VERSION
constexpr uint16_t kResourceManifest = 24;   // RT_MANIFEST

// A directory entry's key: a number, or (when `name` is not empty) a name.
struct ResourceId {
  uint16_t id = 0;
  std::u16string name;

  static ResourceId Number(uint16_t id) { return ResourceId{id, std::u16string()}; }
  bool named() const { return !name.empty(); }
  bool operator==(const ResourceId& other) const { return id == other.id && name == other.name; }
  bool operator!=(const ResourceId& other) const { return !(*this == other); }
  // The order of a directory's entries.
  bool operator<(const ResourceId& other) const;
};

struct Resource {
  ResourceId type;
  ResourceId name;
  uint16_t language = 0;
  uint32_t codePage = 0;
  std::vector<uint8_t> data;
};

class ResourceTree {
 public:
  // The tree in `section` (`size` bytes, loaded at `sectionRva`).
  static Status Parse(const uint8_t* section, size_t size, uint32_t sectionRva, ResourceTree* tree);

  // The section's new bytes, for a section loaded at `sectionRva`. Fails when the section would
  // not fit the image's 32-bit address space.
  Status Serialize(uint32_t sectionRva, std::vector<uint8_t>* section) const;

  // The first resource of that type and name (any language), or null.
  const Resource* Find(uint16_t type, uint16_t name) const;
  // Every resource of that type, in tree order.
  std::vector<const Resource*> OfType(uint16_t type) const;
  // Removes every resource of that type and name (in every language).
  void Remove(uint16_t type, uint16_t name);
  // Adds `resource`, replacing one of the same type, name and language.
  void Put(Resource resource);

  const std::vector<Resource>& resources() const { return resources_; }

 private:
  std::vector<Resource> resources_;
};

}  // namespace sfxpack

#endif  // SFXSTUB_TOOLS_SFXPACK_RESOURCE_TREE_H_
