#include "tools/sfxpack/icon_file.h"

#include <cstring>

#include "sfxstub/format/byte_order.h"

namespace sfxpack {
namespace {

constexpr size_t kDirectorySize = 6;
constexpr size_t kFileEntrySize = 16;
constexpr size_t kGroupEntrySize = 14;
constexpr size_t kBitmapHeaderSize = 40;
constexpr uint8_t kPngSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};


}  // namespace

Status ParseIconFile(const std::vector<uint8_t>& bytes, const std::string& shown, std::vector<IconImage>* images) {
  auto refuse = [&](const std::string& why) { return Status::Error(shown + " is not an icon file: " + why); };
  if (bytes.size() < kDirectorySize) return refuse("it is too short for an icon directory");
  if (sfx::LoadU16(bytes.data()) != 0 || sfx::LoadU16(bytes.data() + 2) != 1) {
    return refuse(sfx::LoadU16(bytes.data()) == 0 && sfx::LoadU16(bytes.data() + 2) == 2
                      ? "it is a cursor file"
                      : "it does not start with an icon directory (00 00 01 00)");
  }
  const size_t count = sfx::LoadU16(bytes.data() + 4);
  if (count == 0) return refuse("its directory lists no image");
  if ((bytes.size() - kDirectorySize) / kFileEntrySize < count) {
    return refuse("its directory of " + std::to_string(count) + " images runs past the end of the file");
  }
  std::vector<IconImage> found;
  for (size_t i = 0; i < count; ++i) {
    const uint8_t* entry = bytes.data() + kDirectorySize + i * kFileEntrySize;
    const std::string which = "image " + std::to_string(i + 1) + " of " + std::to_string(count);
    const uint32_t size = sfx::LoadU32(entry + 8), offset = sfx::LoadU32(entry + 12);
    if (size == 0 || offset > bytes.size() || size > bytes.size() - offset) {
      return refuse(which + " (" + std::to_string(size) + " bytes at offset " + std::to_string(offset) +
                    ") lies outside the file");
    }
    const uint8_t* data = bytes.data() + offset;
    IconImage image;
    image.width = entry[0] ? entry[0] : 256;
    image.height = entry[1] ? entry[1] : 256;
    image.colours = entry[2];
    image.planes = sfx::LoadU16(entry + 4);
    image.bitCount = sfx::LoadU16(entry + 6);
    const bool png = size >= sizeof kPngSignature && !std::memcmp(data, kPngSignature, sizeof kPngSignature);
    const bool bitmap = size >= kBitmapHeaderSize && sfx::LoadU32(data) == kBitmapHeaderSize;
    if (!png && !bitmap) return refuse(which + " is neither a bitmap nor a PNG");
    if (bitmap && image.planes == 0) image.planes = sfx::LoadU16(data + 12);
    if (bitmap && image.bitCount == 0) image.bitCount = sfx::LoadU16(data + 14);
    image.data.assign(data, data + size);
    found.push_back(std::move(image));
  }
  *images = std::move(found);
  return Status::Ok();
}

std::vector<uint8_t> IconGroupData(const std::vector<IconImage>& images, uint16_t firstId) {
  std::vector<uint8_t> out;
  sfx::AppendU16(&out, 0);
  sfx::AppendU16(&out, 1);
  sfx::AppendU16(&out, static_cast<uint32_t>(images.size()));
  for (size_t i = 0; i < images.size(); ++i) {
    const IconImage& image = images[i];
    out.push_back(static_cast<uint8_t>(image.width & 0xFF));  // 256 is written as 0
    out.push_back(static_cast<uint8_t>(image.height & 0xFF));
    out.push_back(static_cast<uint8_t>(image.colours));
    out.push_back(0);
    sfx::AppendU16(&out, image.planes);
    sfx::AppendU16(&out, image.bitCount);
    sfx::AppendU32(&out, static_cast<uint32_t>(image.data.size()));
    sfx::AppendU16(&out, static_cast<uint32_t>(firstId + i));
  }
  return out;
}

Status ParseIconGroup(const std::vector<uint8_t>& data, std::vector<IconGroupEntry>* entries) {
  if (data.size() < kDirectorySize || sfx::LoadU16(data.data()) != 0 || sfx::LoadU16(data.data() + 2) != 1) {
    return Status::Error("the icon group is not an icon directory");
  }
  const size_t count = sfx::LoadU16(data.data() + 4);
  if ((data.size() - kDirectorySize) / kGroupEntrySize < count) {
    return Status::Error("the icon group's " + std::to_string(count) + " entries run past its end");
  }
  entries->clear();
  for (size_t i = 0; i < count; ++i) {
    const uint8_t* entry = data.data() + kDirectorySize + i * kGroupEntrySize;
    entries->push_back({entry[0] ? entry[0] : 256u, entry[1] ? entry[1] : 256u, sfx::LoadU16(entry + 6), sfx::LoadU16(entry + 12)});
  }
  return Status::Ok();
}

}  // namespace sfxpack
