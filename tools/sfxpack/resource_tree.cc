#include "tools/sfxpack/resource_tree.h"

#include <algorithm>
#include <map>
#include <set>

#include "sfxstub/format/byte_order.h"

namespace sfxpack {
namespace {

constexpr size_t kDirectorySize = 16;  // characteristics, time, version, named and id counts
constexpr size_t kEntrySize = 8;       // name or id, subdirectory or data entry offset
constexpr size_t kDataEntrySize = 16;  // RVA, size, code page, reserved
constexpr uint32_t kHighBit = 0x80000000u;
constexpr size_t kDataAlignment = 8;

size_t Align(size_t value, size_t to) { return (value + to - 1) / to * to; }

class Parser {
 public:
  Parser(const uint8_t* section, size_t size, uint32_t rva) : section_(section), size_(size), rva_(rva) {}

  // The directory at `offset`, of `level` (0 types, 1 names, 2 languages), under `path`.
  Status Directory(uint32_t offset, int level, Resource* path, std::vector<Resource>* out) {
    if (!seen_.insert(offset).second) return Refuse("a directory is reached twice", offset);
    if (offset > size_ || size_ - offset < kDirectorySize) return Refuse("a directory", offset);
    const size_t count = static_cast<size_t>(sfx::LoadU16(section_ + offset + 12)) + sfx::LoadU16(section_ + offset + 14);
    if ((size_ - offset - kDirectorySize) / kEntrySize < count) return Refuse("a directory's entries", offset);
    for (size_t i = 0; i < count; ++i) {
      const uint8_t* entry = section_ + offset + kDirectorySize + i * kEntrySize;
      const uint32_t key = sfx::LoadU32(entry), target = sfx::LoadU32(entry + 4);
      ResourceId id;
      Status status = Key(key, &id);
      if (!status.ok()) return status;
      const bool subdirectory = (target & kHighBit) != 0;
      if (subdirectory != (level < 2)) {
        return Status::Error(std::string("the resource tree is not three levels deep (") +
                             (subdirectory ? "a directory under a language" : "data above the language level") + ")");
      }
      if (level == 0) path->type = id;
      if (level == 1) path->name = id;
      if (level == 2) {
        if (id.named()) return Status::Error("the resource tree has a language given by name");
        path->language = id.id;
        status = Leaf(target, path, out);
      } else {
        status = Directory(target & ~kHighBit, level + 1, path, out);
      }
      if (!status.ok()) return status;
    }
    return Status::Ok();
  }

 private:
  Status Refuse(const char* what, uint32_t offset) const {
    return Status::Error(std::string("the resource section is damaged: ") + what + " at offset " +
                         std::to_string(offset) + " does not fit in its " + std::to_string(size_) + " bytes");
  }

  Status Key(uint32_t key, ResourceId* id) const {
    if (!(key & kHighBit)) {
      if (key > 0xFFFF) return Status::Error("the resource tree has an id above 65535");
      *id = ResourceId::Number(static_cast<uint16_t>(key));
      return Status::Ok();
    }
    const uint32_t at = key & ~kHighBit;
    if (at > size_ || size_ - at < 2) return Refuse("a name", at);
    const size_t length = sfx::LoadU16(section_ + at);
    if ((size_ - at - 2) / 2 < length) return Refuse("a name's text", at);
    if (length == 0) return Status::Error("the resource tree has an empty name");
    id->id = 0;
    id->name.clear();
    for (size_t i = 0; i < length; ++i) id->name.push_back(static_cast<char16_t>(sfx::LoadU16(section_ + at + 2 + 2 * i)));
    return Status::Ok();
  }

  Status Leaf(uint32_t offset, Resource* path, std::vector<Resource>* out) const {
    if (offset > size_ || size_ - offset < kDataEntrySize) return Refuse("a data entry", offset);
    const uint32_t rva = sfx::LoadU32(section_ + offset), length = sfx::LoadU32(section_ + offset + 4);
    if (rva < rva_ || rva - rva_ > size_ || length > size_ - (rva - rva_)) {
      return Status::Error("the resource section is damaged: a resource's bytes (RVA " + std::to_string(rva) +
                           ", " + std::to_string(length) + " bytes) lie outside it");
    }
    path->codePage = sfx::LoadU32(section_ + offset + 8);
    const uint8_t* data = section_ + (rva - rva_);
    path->data.assign(data, data + length);
    out->push_back(*path);
    return Status::Ok();
  }

  const uint8_t* section_;
  size_t size_;
  uint32_t rva_;
  std::set<uint32_t> seen_;
};

// The resources grouped as the tree holds them.
struct NameGroup {
  const ResourceId* id;
  std::vector<const Resource*> leaves;
  size_t offset = 0;
};
struct TypeGroup {
  const ResourceId* id;
  std::vector<NameGroup> names;
  size_t offset = 0;
};

std::vector<TypeGroup> Group(std::vector<const Resource*>* leaves) {
  std::stable_sort(leaves->begin(), leaves->end(), [](const Resource* a, const Resource* b) {
    if (a->type != b->type) return a->type < b->type;
    if (a->name != b->name) return a->name < b->name;
    return a->language < b->language;
  });
  std::vector<TypeGroup> types;
  for (const Resource* leaf : *leaves) {
    if (types.empty() || *types.back().id != leaf->type) types.push_back({&leaf->type, {}});
    std::vector<NameGroup>& names = types.back().names;
    if (names.empty() || *names.back().id != leaf->name) names.push_back({&leaf->name, {}});
    names.back().leaves.push_back(leaf);
  }
  return types;
}

// A directory's header: its named entries come first, then the numbered ones.
template <typename Group>
void PutDirectory(uint8_t* at, const std::vector<Group>& entries) {
  const size_t named = static_cast<size_t>(
      std::count_if(entries.begin(), entries.end(), [](const Group& g) { return g.id->named(); }));
  sfx::StoreU16(at + 12, static_cast<uint32_t>(named));
  sfx::StoreU16(at + 14, static_cast<uint32_t>(entries.size() - named));
}

// Where everything goes, as the linker lays out the stub's section: the root, then each type's
// directory followed by its names' language directories; the names; the data entries; the
// bytes, each at 8 bytes; the section padded to 8.
struct TreeLayout {
  std::vector<TypeGroup> types;
  std::map<std::u16string, size_t> names;
  size_t dataEntries = 0;
  std::vector<size_t> dataAt;
  size_t size = 0;
};

TreeLayout LayOut(std::vector<const Resource*>* leaves) {
  TreeLayout l;
  l.types = Group(leaves);
  size_t at = kDirectorySize + kEntrySize * l.types.size();
  for (TypeGroup& t : l.types) {
    t.offset = at;
    at += kDirectorySize + kEntrySize * t.names.size();
    for (NameGroup& n : t.names) {
      n.offset = at;
      at += kDirectorySize + kEntrySize * n.leaves.size();
    }
  }
  for (const Resource* leaf : *leaves) {
    for (const ResourceId* id : {&leaf->type, &leaf->name}) {
      if (id->named() && l.names.emplace(id->name, at).second) at += 2 + 2 * id->name.size();
    }
  }
  l.dataEntries = Align(at, 4);
  at = l.dataEntries + kDataEntrySize * leaves->size();
  for (const Resource* leaf : *leaves) {
    at = Align(at, kDataAlignment);
    l.dataAt.push_back(at);
    at += leaf->data.size();
  }
  l.size = Align(at, kDataAlignment);
  return l;
}

}  // namespace

bool ResourceId::operator<(const ResourceId& other) const {
  if (named() != other.named()) return named();
  return named() ? name < other.name : id < other.id;
}

Status ResourceTree::Parse(const uint8_t* section, size_t size, uint32_t sectionRva, ResourceTree* tree) {
  Parser parser(section, size, sectionRva);
  Resource path;
  std::vector<Resource> resources;
  const Status status = parser.Directory(0, 0, &path, &resources);
  if (status.ok()) tree->resources_ = std::move(resources);
  return status;
}

Status ResourceTree::Serialize(uint32_t sectionRva, std::vector<uint8_t>* section) const {
  std::vector<const Resource*> leaves;
  for (const Resource& r : resources_) leaves.push_back(&r);
  const TreeLayout layout = LayOut(&leaves);
  if (layout.size > UINT32_MAX - sectionRva) return Status::Error("the resources do not fit in a PE image");

  std::vector<uint8_t>& out = *section;
  out.assign(layout.size, 0);
  auto key = [&](const ResourceId& id) {
    return id.named() ? kHighBit | static_cast<uint32_t>(layout.names.at(id.name)) : id.id;
  };
  auto putEntry = [&](size_t directory, size_t i, uint32_t name, uint32_t target) {
    sfx::StoreU32(&out[directory + kDirectorySize + kEntrySize * i], name);
    sfx::StoreU32(&out[directory + kDirectorySize + kEntrySize * i + 4], target);
  };
  PutDirectory(out.data(), layout.types);
  size_t leaf = 0;
  for (size_t i = 0; i < layout.types.size(); ++i) {
    const TypeGroup& t = layout.types[i];
    putEntry(0, i, key(*t.id), kHighBit | static_cast<uint32_t>(t.offset));
    PutDirectory(&out[t.offset], t.names);
    for (size_t j = 0; j < t.names.size(); ++j) {
      const NameGroup& n = t.names[j];
      putEntry(t.offset, j, key(*n.id), kHighBit | static_cast<uint32_t>(n.offset));
      sfx::StoreU16(&out[n.offset + 14], static_cast<uint32_t>(n.leaves.size()));  // languages: numbers
      for (size_t k = 0; k < n.leaves.size(); ++k, ++leaf) {
        const Resource& r = *n.leaves[k];
        const size_t entry = layout.dataEntries + kDataEntrySize * leaf;
        putEntry(n.offset, k, r.language, static_cast<uint32_t>(entry));
        sfx::StoreU32(&out[entry], sectionRva + static_cast<uint32_t>(layout.dataAt[leaf]));
        sfx::StoreU32(&out[entry + 4], static_cast<uint32_t>(r.data.size()));
        sfx::StoreU32(&out[entry + 8], r.codePage);
        std::copy(r.data.begin(), r.data.end(), out.begin() + static_cast<std::ptrdiff_t>(layout.dataAt[leaf]));
      }
    }
  }
  for (const auto& name : layout.names) {
    sfx::StoreU16(&out[name.second], static_cast<uint32_t>(name.first.size()));
    for (size_t i = 0; i < name.first.size(); ++i) sfx::StoreU16(&out[name.second + 2 + 2 * i], name.first[i]);
  }
  return Status::Ok();
}

const Resource* ResourceTree::Find(uint16_t type, uint16_t name) const {
  for (const Resource& r : resources_) {
    if (r.type == ResourceId::Number(type) && r.name == ResourceId::Number(name)) return &r;
  }
  return nullptr;
}

std::vector<const Resource*> ResourceTree::OfType(uint16_t type) const {
  std::vector<const Resource*> found;
  for (const Resource& r : resources_) {
    if (r.type == ResourceId::Number(type)) found.push_back(&r);
  }
  return found;
}

void ResourceTree::Remove(uint16_t type, uint16_t name) {
  resources_.erase(std::remove_if(resources_.begin(), resources_.end(),
                                  [&](const Resource& r) {
                                    return r.type == ResourceId::Number(type) &&
                                           r.name == ResourceId::Number(name);
                                  }),
                   resources_.end());
}

void ResourceTree::Put(Resource resource) {
  for (Resource& r : resources_) {
    if (r.type == resource.type && r.name == resource.name && r.language == resource.language) {
      r = std::move(resource);
      return;
    }
  }
  resources_.push_back(std::move(resource));
}

}  // namespace sfxpack
