#include "tools/sfxpack/stub_resources.h"

#include <algorithm>
#include <set>

#include "sfxstub/format/byte_order.h"
#include "sfxstub/format/pe_image.h"
#include "tools/sfxgen/pe_stamp.h"
#include "tools/sfxpack/resource_tree.h"
#include "tools/sfxpack/stub_manifest.h"

namespace sfxpack {
namespace {

// The optional header's SizeOfInitializedData, in bytes from its start (PE32 and PE32+ alike).
constexpr uint32_t kSizeOfInitializedDataField = 8;
constexpr uint16_t kFallbackLanguage = 0x0409;  // US English
// The most list reads of a stub's headers and of its resource section.
constexpr size_t kMaxHeaders = 64 * 1024;
constexpr uint32_t kMaxResourceSection = 16u << 20;

bool PowerOfTwo(uint32_t v) { return v && !(v & (v - 1)); }
uint64_t AlignUp(uint64_t v, uint32_t to) { return (v + to - 1) / to * to; }

// The language new resources get: that of the resource they replace, else of the stub's others.
uint16_t LanguageFor(const ResourceTree& tree, const Resource* replaced) {
  if (replaced) return replaced->language;
  return tree.resources().empty() ? kFallbackLanguage : tree.resources().front().language;
}

// Icon group 1 and the images only it uses give way to `images`, stored after the highest
// image id left.
Status ReplaceIcon(const std::vector<IconImage>& images, ResourceTree* tree) {
  const Resource* old = tree->Find(kResourceGroupIcon, 1);
  const uint16_t language = LanguageFor(*tree, old);
  std::vector<IconGroupEntry> oldEntries;
  if (old && !ParseIconGroup(old->data, &oldEntries).ok()) oldEntries.clear();
  tree->Remove(kResourceGroupIcon, 1);
  std::set<uint16_t> stillUsed;
  for (const Resource* group : tree->OfType(kResourceGroupIcon)) {
    std::vector<IconGroupEntry> entries;
    if (ParseIconGroup(group->data, &entries).ok()) {
      for (const IconGroupEntry& e : entries) stillUsed.insert(e.id);
    }
  }
  for (const IconGroupEntry& e : oldEntries) {
    if (!stillUsed.count(e.id)) tree->Remove(kResourceIcon, e.id);
  }
  uint32_t first = 1;
  for (const Resource* image : tree->OfType(kResourceIcon)) {
    if (!image->name.named()) first = std::max<uint32_t>(first, image->name.id + 1u);
  }
  if (first + images.size() - 1 > 0xFFFF) return Status::Error("it has no free icon ids for --icon's images");
  for (size_t i = 0; i < images.size(); ++i) {
    tree->Put({ResourceId::Number(kResourceIcon), ResourceId::Number(static_cast<uint16_t>(first + i)), language,
               0, images[i].data});
  }
  tree->Put({ResourceId::Number(kResourceGroupIcon), ResourceId::Number(1), language, 0,
             IconGroupData(images, static_cast<uint16_t>(first))});
  return Status::Ok();
}

Status EditTree(const StubResourceEdits& edits, ResourceTree* tree) {
  if (!edits.icon.empty()) {
    const Status status = ReplaceIcon(edits.icon, tree);
    if (!status.ok()) return status;
  }
  if (edits.versionGiven) {
    const uint16_t language = LanguageFor(*tree, tree->Find(kResourceVersion, 1));
    tree->Remove(kResourceVersion, 1);
    tree->Put({ResourceId::Number(kResourceVersion), ResourceId::Number(1), language, 0,
               BuildVersionResource(edits.version)});
  }
  if (!edits.executionLevel.empty()) {
    const Resource* manifest = tree->Find(kResourceManifest, 1);
    if (!manifest) return Status::Error("it has no manifest (RT_MANIFEST 1) to set --execution-level in");
    Resource edited = *manifest;
    std::string text(edited.data.begin(), edited.data.end());
    const Status status = SetExecutionLevel(edits.executionLevel, &text);
    if (!status.ok()) return status;
    edited.data.assign(text.begin(), text.end());
    tree->Put(std::move(edited));
  }
  return Status::Ok();
}

}  // namespace

Status FindResourceSection(const uint8_t* head, size_t size, ResourceSectionLayout* layout,
                           uint64_t fileSize) {
  const Status notPe = Status::Error("not a PE32 or PE32+ image with readable headers");
  if (fileSize == 0) fileSize = size;
  sfx::PeImage image;
  uint32_t offset = 0;
  if (sfx::PeImage::HeaderOffset(head, size, fileSize, sfx::PeRules::kStrict, &offset) !=
          sfx::PeProblem::kNone ||
      image.ParseHeaders(head + offset, size - offset, offset, fileSize, sfx::PeRules::kStrict) !=
          sfx::PeProblem::kNone) {
    return notPe;
  }
  ResourceSectionLayout l;
  l.machine = image.machine();
  uint32_t value = 0, at = 0;
  if (!image.OptionalU32(sfx::kPeSectionAlignmentField, &l.sectionAlignment) ||
      !image.OptionalU32(sfx::kPeFileAlignmentField, &l.fileAlignment) ||
      !image.OptionalU32(kSizeOfInitializedDataField, &value, &at)) {
    return notPe;
  }
  l.sizeOfInitializedData = at;
  if (!image.OptionalU32(sfx::kPeSizeOfImageField, &value, &at)) return notPe;
  l.sizeOfImage = at;
  sfx::PeDirectory entry;
  if (!image.Directory(sfx::kPeResourceDirectory, &entry) || entry.address == 0 || entry.size == 0) {
    return Status::Error("the image has no resources");
  }
  l.directory = entry.entryOffset;
  // The section that holds the directory's start (its whole tree is checked when it is parsed).
  sfx::PeRange start;
  uint32_t found = 0;
  if (image.MapToFile(entry.address, 1, &start, &found) != sfx::PeProblem::kNone) {
    return Status::Error("the image's resource directory lies in no section");
  }
  sfx::PeSection section;
  if (image.Section(found, &section) != sfx::PeProblem::kNone) return notPe;
  l.sectionHeader = section.entryOffset;
  l.virtualSize = section.virtualSize;
  l.rva = section.virtualAddress;
  l.rawSize = section.rawSize;
  l.rawOffset = section.rawOffset;
  l.last = found + 1u == image.SectionCount() && entry.address == l.rva;
  for (uint32_t i = 0; i + 1 < image.SectionCount(); ++i) {
    sfx::PeSection other;
    if (image.Section(i, &other) != sfx::PeProblem::kNone ||
        other.virtualAddress >= l.rva || uint64_t{other.rawOffset} + other.rawSize > l.rawOffset) {
      l.last = false;
    }
  }
  *layout = l;
  return Status::Ok();
}

Status ApplyStubResources(const StubResourceEdits& edits, const uint32_t* time, std::vector<uint8_t>* image) {
  ResourceSectionLayout l;
  Status status = FindResourceSection(image->data(), image->size(), &l);
  if (!status.ok()) return status;
  if (!l.last) {
    return Status::Error("its resources are not at the start of its last section, so they cannot be rewritten "
                         "without moving other sections (link the stub with its resource section last)");
  }
  if (uint64_t{l.rawOffset} + l.rawSize != image->size()) {
    return Status::Error("the file does not end with its resource section (" + std::to_string(image->size()) +
                         " bytes, the section ends at " + std::to_string(uint64_t{l.rawOffset} + l.rawSize) +
                         "), so the section cannot be rewritten");
  }
  if (!PowerOfTwo(l.fileAlignment) || !PowerOfTwo(l.sectionAlignment)) {
    return Status::Error("its headers give an alignment that is no power of two");
  }
  ResourceTree tree;
  status = ResourceTree::Parse(image->data() + l.rawOffset, l.treeBytes(), l.rva, &tree);
  if (!status.ok()) return status;
  std::vector<uint8_t> section;
  status = EditTree(edits, &tree);
  if (status.ok()) status = tree.Serialize(l.rva, &section);
  if (!status.ok()) return status;
  const uint64_t rawSize = AlignUp(section.size(), l.fileAlignment);
  const uint64_t imageSize = AlignUp(uint64_t{l.rva} + section.size(), l.sectionAlignment);
  if (uint64_t{l.rawOffset} + rawSize > UINT32_MAX || imageSize > UINT32_MAX) {
    return Status::Error("with these resources it would pass 4 GiB");
  }
  std::vector<uint8_t> out(image->begin(), image->begin() + l.rawOffset);
  out.insert(out.end(), section.begin(), section.end());
  out.resize(l.rawOffset + rawSize, 0);
  uint8_t* header = out.data() + l.sectionHeader;
  sfx::StoreU32(header + 8, static_cast<uint32_t>(section.size()));
  sfx::StoreU32(header + 16, static_cast<uint32_t>(rawSize));
  // The sum of the initialized sections' raw sizes, this one's changed.
  const uint32_t initialized = sfx::LoadU32(out.data() + l.sizeOfInitializedData);
  if (initialized >= l.rawSize) {
    sfx::StoreU32(out.data() + l.sizeOfInitializedData, static_cast<uint32_t>(initialized - l.rawSize + rawSize));
  }
  sfx::StoreU32(out.data() + l.sizeOfImage, static_cast<uint32_t>(imageSize));
  sfx::StoreU32(out.data() + l.directory, l.rva);
  sfx::StoreU32(out.data() + l.directory + 4, static_cast<uint32_t>(section.size()));
  status = sfxgen::StampPeImage(&out, time);
  if (!status.ok()) return status;
  *image = std::move(out);
  return Status::Ok();
}

Status ReadStubResources(const InputFile& file, StubResources* resources) {
  std::vector<uint8_t> head(static_cast<size_t>(std::min<uint64_t>(file.size(), kMaxHeaders)));
  Status status = file.ReadAt(0, head.data(), head.size());
  ResourceSectionLayout l;
  if (status.ok()) status = FindResourceSection(head.data(), head.size(), &l, file.size());
  if (!status.ok()) return status;
  const uint32_t bytes = l.treeBytes();
  if (bytes > kMaxResourceSection || l.rawOffset > file.size() || bytes > file.size() - l.rawOffset) {
    return Status::Error("the stub's resource section does not fit in the file");
  }
  std::vector<uint8_t> section(bytes);
  ResourceTree tree;
  status = file.ReadAt(l.rawOffset, section.data(), section.size());
  if (status.ok()) status = ResourceTree::Parse(section.data(), section.size(), l.rva, &tree);
  if (!status.ok()) return status;
  StubResources read;
  read.machine = l.machine;
  const Resource* group = tree.Find(kResourceGroupIcon, 1);
  if (!group && !tree.OfType(kResourceGroupIcon).empty()) group = tree.OfType(kResourceGroupIcon).front();
  if (group) status = ParseIconGroup(group->data, &read.icon);
  const Resource* version = tree.Find(kResourceVersion, 1);
  if (status.ok() && version) {
    read.versionFound = true;
    status = ParseVersionResource(version->data, &read.version);
  }
  const Resource* manifest = tree.Find(kResourceManifest, 1);
  if (manifest) {
    read.manifestFound = true;
    read.executionLevel = ManifestExecutionLevel(std::string(manifest->data.begin(), manifest->data.end()));
  }
  if (status.ok()) *resources = std::move(read);
  return status;
}

}  // namespace sfxpack
