// Icons for `pack --icon`: an icon file (.ico) read into its images, and the icon group resource
// (RT_GROUP_ICON) that lists them as the program's icon. An icon file is a directory (reserved 0,
// type 1, the number of images) of 16-byte entries (width, height, colours, reserved, planes,
// bits per pixel, the image's size and offset in the file), then the images: each a bitmap
// (BITMAPINFOHEADER, then the colour and mask bits) or a PNG file. The group holds the same
// entries with the image's resource id (RT_ICON) in place of its offset. A width or height of 0
// means 256.
#ifndef SFXSTUB_TOOLS_SFXPACK_ICON_FILE_H_
#define SFXSTUB_TOOLS_SFXPACK_ICON_FILE_H_

#include <cstdint>
#include <string>
#include <vector>

#include "tools/sfxpack/status.h"

namespace sfxpack {

// The largest icon file --icon takes.
constexpr uint64_t kMaxIconFileSize = 4u << 20;

struct IconImage {
  unsigned width = 0;   // pixels, 1..256
  unsigned height = 0;
  unsigned colours = 0;  // the directory's colour count (0 for 256 colours or more)
  unsigned planes = 0;
  unsigned bitCount = 0;
  std::vector<uint8_t> data;  // the bitmap or PNG, as the RT_ICON resource holds it
};

// The images of the icon file `bytes`. Refuses, naming `shown` and the reason, what is not an
// icon file: too short, not starting with an icon directory (a cursor file says so), no image,
// a directory or an image that runs past the end, an image that is neither a bitmap nor a PNG.
// For a bitmap whose entry leaves planes or bits at 0, they are taken from its header.
Status ParseIconFile(const std::vector<uint8_t>& bytes, const std::string& shown, std::vector<IconImage>* images);

// The group resource for `images`, stored as RT_ICON resources firstId, firstId + 1, ...
std::vector<uint8_t> IconGroupData(const std::vector<IconImage>& images, uint16_t firstId);

// One entry of an icon group: what list shows, and the id of its RT_ICON resource.
struct IconGroupEntry {
  unsigned width = 0;
  unsigned height = 0;
  unsigned bitCount = 0;
  uint16_t id = 0;
};

// The entries of the group resource `data`; refuses a group that is not one or runs past its end.
Status ParseIconGroup(const std::vector<uint8_t>& data, std::vector<IconGroupEntry>* entries);

}  // namespace sfxpack

#endif  // SFXSTUB_TOOLS_SFXPACK_ICON_FILE_H_
