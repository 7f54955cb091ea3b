#include "tools/sfxpack/version_info.h"

#include <algorithm>

#include "sfxstub/format/byte_order.h"
#include "sfxstub/io/wide_text.h"

namespace sfxpack {

const char* const kVersionInfoKeys[7] = {"FileVersion",     "ProductVersion", "CompanyName",     "ProductName",
                                         "FileDescription", "LegalCopyright", "OriginalFilename"};

namespace {

constexpr uint32_t kFixedSignature = 0xFEEF04BD;
constexpr size_t kFixedInfoSize = 52;
constexpr uint32_t kFileOsNtWindows32 = 0x00040004;  // VOS_NT_WINDOWS32
constexpr uint32_t kFileTypeApp = 1;                 // VFT_APP
constexpr uint16_t kLanguageUsEnglish = 0x0409;
constexpr uint16_t kCodePageUtf16 = 1200;

void Pad4(std::vector<uint8_t>* out) { out->resize((out->size() + 3) & ~size_t{3}, 0); }
size_t Align4(size_t at) { return (at + 3) & ~size_t{3}; }

std::u16string Units(const std::string& ascii) { return std::u16string(ascii.begin(), ascii.end()); }

struct Block {
  std::u16string key;
  bool text = true;
  uint16_t valueLength = 0;  // characters for text, bytes otherwise
  std::vector<uint8_t> value;
  std::vector<Block> children;
};

void AppendBlock(std::vector<uint8_t>* out, const Block& block) {
  Pad4(out);
  const size_t start = out->size();
  sfx::AppendU16(out, 0);  // the length, written below
  sfx::AppendU16(out, block.valueLength);
  sfx::AppendU16(out, block.text ? 1 : 0);
  for (char16_t c : block.key) sfx::AppendU16(out, c);
  sfx::AppendU16(out, 0);
  Pad4(out);
  out->insert(out->end(), block.value.begin(), block.value.end());
  for (const Block& child : block.children) AppendBlock(out, child);
  const size_t length = out->size() - start;
  (*out)[start] = static_cast<uint8_t>(length);
  (*out)[start + 1] = static_cast<uint8_t>(length >> 8);
}

// A block as read: its key, type, value and where its children lie.
struct ParsedBlock {
  std::u16string key;
  uint16_t valueLength = 0;
  bool text = false;
  size_t value = 0, children = 0, end = 0;
};

Status ReadBlock(const std::vector<uint8_t>& data, size_t at, size_t limit, ParsedBlock* block) {
  const Status damaged = Status::Error("the version resource is damaged at offset " + std::to_string(at));
  if (at > limit || limit - at < 6) return damaged;
  const size_t length = sfx::LoadU16(&data[at]);
  if (length < 6 || length > limit - at) return damaged;
  block->end = at + length;
  block->valueLength = sfx::LoadU16(&data[at + 2]);
  block->text = sfx::LoadU16(&data[at + 4]) == 1;
  block->key.clear();
  size_t p = at + 6;
  for (;; p += 2) {
    if (block->end - p < 2) return damaged;
    const char16_t c = sfx::LoadU16(&data[p]);
    if (c == 0) break;
    block->key.push_back(c);
  }
  block->value = std::min(Align4(p + 2), block->end);
  const size_t valueBytes = block->text ? 2u * block->valueLength : block->valueLength;
  block->children = std::min(Align4(block->value + std::min(valueBytes, block->end - block->value)), block->end);
  return Status::Ok();
}

// Calls `each` for every child of `parent`.
template <typename Each>
Status ForEachChild(const std::vector<uint8_t>& data, const ParsedBlock& parent, Each each) {
  size_t at = parent.children;
  while (at < parent.end && parent.end - at >= 6) {
    ParsedBlock child;
    Status status = ReadBlock(data, at, parent.end, &child);
    if (status.ok()) status = each(child);
    if (!status.ok()) return status;
    at = Align4(child.end);
  }
  return Status::Ok();
}

DottedVersion FromFixed(uint32_t ms, uint32_t ls) {
  return {static_cast<uint16_t>(ms >> 16), static_cast<uint16_t>(ms), static_cast<uint16_t>(ls >> 16),
          static_cast<uint16_t>(ls)};
}

}  // namespace

const std::string* VersionInfo::Get(const std::string& key) const {
  for (const auto& s : strings) {
    if (s.first == key) return &s.second;
  }
  return nullptr;
}

Status ParseDottedVersion(const std::string& text, DottedVersion* version) {
  DottedVersion parts{};
  size_t count = 0, at = 0;
  const std::string shown = "'" + text + "'";
  while (true) {
    const size_t dot = std::min(text.find('.', at), text.size());
    const std::string part = text.substr(at, dot - at);
    if (count == 4) return Status::Error("version " + shown + " has more than four numbers");
    if (part.empty() || part.size() > 5 || part.find_first_not_of("0123456789") != std::string::npos) {
      return Status::Error("version " + shown + " is not numbers separated by dots (such as 1.2.3.4)");
    }
    const unsigned long value = std::stoul(part);
    if (value > 0xFFFF) return Status::Error("version " + shown + " has a number above 65535");
    parts[count++] = static_cast<uint16_t>(value);
    if (dot == text.size()) break;
    at = dot + 1;
  }
  *version = parts;
  return Status::Ok();
}

Status AddVersionString(const std::string& argument, VersionInfo* info) {
  const size_t eq = argument.find('=');
  if (eq == std::string::npos) return Status::Error("--version-info wants KEY=VALUE, got '" + argument + "'");
  const std::string key = argument.substr(0, eq), value = argument.substr(eq + 1);
  const auto known = std::find(std::begin(kVersionInfoKeys), std::end(kVersionInfoKeys), key);
  if (known == std::end(kVersionInfoKeys)) {
    std::string keys;
    for (const char* k : kVersionInfoKeys) keys += std::string(keys.empty() ? "" : ", ") + k;
    return Status::Error("--version-info: unknown key '" + key + "' (the keys: " + keys + ")");
  }
  const std::string what = "--version-info " + key;
  if (info->Get(key)) return Status::Error(what + " is given twice");
  std::u16string units;
  if (value.empty()) return Status::Error(what + " has an empty value");
  if (!sfx::Utf16FromUtf8(value, &units)) return Status::Error(what + " is not UTF-8 text");
  if (units.size() > kMaxVersionValue) {
    return Status::Error(what + " is longer than " + std::to_string(kMaxVersionValue) + " characters");
  }
  const bool file = key == "FileVersion", product = key == "ProductVersion";
  if (file || product) {
    DottedVersion numbers;
    const Status status = ParseDottedVersion(value, &numbers);
    if (!status.ok()) return status.Within(what + ": ");
    if (file || !info->Get("FileVersion")) info->fileVersion = numbers;
    if (product || !info->Get("ProductVersion")) info->productVersion = numbers;
  }
  // Kept in the keys' order.
  auto rank = [](const std::string& k) {
    return std::find(std::begin(kVersionInfoKeys), std::end(kVersionInfoKeys), k) - std::begin(kVersionInfoKeys);
  };
  auto at = std::find_if(info->strings.begin(), info->strings.end(),
                         [&](const std::pair<std::string, std::string>& s) { return rank(s.first) > rank(key); });
  info->strings.insert(at, {key, value});
  return Status::Ok();
}

std::vector<uint8_t> BuildVersionResource(const VersionInfo& info) {
  Block root{u"VS_VERSION_INFO", false, kFixedInfoSize, {}, {}};
  for (uint32_t v : {kFixedSignature, 0x00010000u,
                     uint32_t{info.fileVersion[0]} << 16 | info.fileVersion[1],
                     uint32_t{info.fileVersion[2]} << 16 | info.fileVersion[3],
                     uint32_t{info.productVersion[0]} << 16 | info.productVersion[1],
                     uint32_t{info.productVersion[2]} << 16 | info.productVersion[3],
                     0x3Fu /* VS_FFI_FILEFLAGSMASK */, 0u, kFileOsNtWindows32, kFileTypeApp, 0u, 0u, 0u}) {
    sfx::AppendU32(&root.value, v);
  }
  Block table{u"040904B0", true, 0, {}, {}};
  for (const auto& s : info.strings) {
    std::u16string units;
    sfx::Utf16FromUtf8(s.second, &units);  // checked by AddVersionString
    Block string{Units(s.first), true, static_cast<uint16_t>(units.size() + 1), {}, {}};
    for (char16_t c : units) sfx::AppendU16(&string.value, c);
    sfx::AppendU16(&string.value, 0);
    table.children.push_back(std::move(string));
  }
  root.children.push_back({u"StringFileInfo", true, 0, {}, {std::move(table)}});
  Block translation{u"Translation", false, 4, {}, {}};
  sfx::AppendU16(&translation.value, kLanguageUsEnglish);
  sfx::AppendU16(&translation.value, kCodePageUtf16);
  root.children.push_back({u"VarFileInfo", true, 0, {}, {std::move(translation)}});
  std::vector<uint8_t> out;
  AppendBlock(&out, root);
  return out;
}

Status ParseVersionResource(const std::vector<uint8_t>& data, VersionInfo* info) {
  ParsedBlock root;
  Status status = ReadBlock(data, 0, data.size(), &root);
  if (!status.ok()) return status;
  if (root.key != u"VS_VERSION_INFO" || root.children - root.value < kFixedInfoSize ||
      sfx::LoadU32(&data[root.value]) != kFixedSignature) {
    return Status::Error("the version resource has no VS_VERSION_INFO fixed part");
  }
  const uint8_t* fixed = &data[root.value];
  VersionInfo read;
  read.fileVersion = FromFixed(sfx::LoadU32(fixed + 8), sfx::LoadU32(fixed + 12));
  read.productVersion = FromFixed(sfx::LoadU32(fixed + 16), sfx::LoadU32(fixed + 20));
  status = ForEachChild(data, root, [&](const ParsedBlock& info) {
    if (info.key != u"StringFileInfo") return Status::Ok();
    return ForEachChild(data, info, [&](const ParsedBlock& table) {
      return ForEachChild(data, table, [&](const ParsedBlock& string) {
        std::u16string value;
        for (size_t p = string.value; string.end - p >= 2 && value.size() < string.valueLength; p += 2) {
          value.push_back(static_cast<char16_t>(sfx::LoadU16(&data[p])));
        }
        while (!value.empty() && value.back() == 0) value.pop_back();
        read.strings.push_back({sfx::Utf8FromUtf16(string.key), sfx::Utf8FromUtf16(value)});
        return Status::Ok();
      });
    });
  });
  if (status.ok()) *info = std::move(read);
  return status;
}

std::string FormatVersion(const DottedVersion& v) {
  return std::to_string(v[0]) + "." + std::to_string(v[1]) + "." + std::to_string(v[2]) + "." + std::to_string(v[3]);
}

}  // namespace sfxpack
