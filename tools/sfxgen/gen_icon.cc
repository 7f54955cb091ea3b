// The program icon: an open package with a sheet of paper coming out of it, as a 32 x 32 and a
// 16 x 16 image with 16 colours each, in one .ico file (icon group 1 of the stub).
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "sfxstub/format/byte_order.h"
#include "tools/sfxgen/generators.h"

namespace sfxgen {
namespace {

enum : uint8_t { kClear = 0, kBlack, kBoxLight, kBoxDark, kWhite, kBlue, kGreen };

// 0x00RRGGBB; index 0 is never visible (the mask makes it transparent).
const uint32_t kPalette[16] = {
    0x000000, 0x000000, 0xC8904C, 0x8C5A28, 0xFFFFFF, 0x3C5AC8, 0x3CAA46, 0x808080,
    0xC0C0C0, 0x800000, 0x008000, 0x808000, 0x000080, 0x800080, 0x008080, 0xFFFF00};

class Image {
 public:
  explicit Image(int size) : size_(size), pixels_(size * size, kClear) {}
  // Coordinates in 1/32 of the image, so one drawing serves both sizes.
  void Fill(int x, int y, int w, int h, uint8_t colour) {
    int x0 = x * size_ / 32, y0 = y * size_ / 32;
    int x1 = (x + w) * size_ / 32, y1 = (y + h) * size_ / 32;
    if (x1 == x0) ++x1;
    if (y1 == y0) ++y1;
    for (int j = y0; j < y1 && j < size_; ++j)
      for (int i = x0; i < x1 && i < size_; ++i) pixels_[j * size_ + i] = colour;
  }
  void Box(int x, int y, int w, int h, uint8_t fill) {
    int px = 32 / size_;  // one pixel of outline at either size
    Fill(x, y, w, h, kBlack);
    Fill(x + px, y + px, w - 2 * px, h - 2 * px, fill);
  }
  int size() const { return size_; }
  uint8_t At(int x, int y) const { return pixels_[y * size_ + x]; }

 private:
  int size_;
  std::vector<uint8_t> pixels_;
};

void Draw(Image* img) {
  img->Box(8, 2, 16, 18, kWhite);  // the sheet, behind the box's front
  for (int line = 0; line < 3; ++line) img->Fill(11, 6 + line * 4, 10, 2, kBlue);
  img->Box(2, 14, 28, 16, kBoxLight);
  img->Fill(4, 20, 24, 2, kBoxDark);
  img->Box(4, 24, 6, 4, kGreen);
}

// The icon image as stored in an .ico: header with the doubled height, palette, 4-bit colour
// rows and 1-bit mask rows, each bottom-up and padded to 4 bytes.
std::vector<uint8_t> EncodeImage(const Image& img) {
  const int n = img.size();
  const int colourStride = (n * 4 + 31) / 32 * 4;
  const int maskStride = (n + 31) / 32 * 4;
  std::vector<uint8_t> out;
  sfx::AppendU32(&out, 40);
  sfx::AppendU32(&out, n);
  sfx::AppendU32(&out, 2 * n);
  sfx::AppendU16(&out, 1);
  sfx::AppendU16(&out, 4);
  sfx::AppendU32(&out, 0);  // BI_RGB
  sfx::AppendU32(&out, (colourStride + maskStride) * n);
  sfx::AppendU32(&out, 0);
  sfx::AppendU32(&out, 0);
  sfx::AppendU32(&out, 16);
  sfx::AppendU32(&out, 0);
  for (uint32_t rgb : kPalette) sfx::AppendU32(&out, rgb);
  for (int y = n - 1; y >= 0; --y) {
    std::vector<uint8_t> row(colourStride, 0);
    for (int x = 0; x < n; ++x) row[x / 2] |= img.At(x, y) << (x % 2 ? 0 : 4);
    out.insert(out.end(), row.begin(), row.end());
  }
  for (int y = n - 1; y >= 0; --y) {
    std::vector<uint8_t> row(maskStride, 0);
    for (int x = 0; x < n; ++x)
      if (img.At(x, y) == kClear) row[x / 8] |= 0x80 >> (x % 8);
    out.insert(out.end(), row.begin(), row.end());
  }
  return out;
}

std::vector<uint8_t> BuildIcon() {
  std::vector<std::vector<uint8_t>> images;
  for (int size : {32, 16}) {
    Image img(size);
    Draw(&img);
    images.push_back(EncodeImage(img));
  }
  std::vector<uint8_t> out;
  sfx::AppendU16(&out, 0);
  sfx::AppendU16(&out, 1);  // icon
  sfx::AppendU16(&out, static_cast<uint16_t>(images.size()));
  uint32_t offset = 6 + 16 * static_cast<uint32_t>(images.size());
  const int sizes[] = {32, 16};
  for (size_t i = 0; i < images.size(); ++i) {
    out.push_back(static_cast<uint8_t>(sizes[i]));
    out.push_back(static_cast<uint8_t>(sizes[i]));
    out.push_back(16);  // colours
    out.push_back(0);
    sfx::AppendU16(&out, 1);  // planes
    sfx::AppendU16(&out, 4);  // bits per pixel
    sfx::AppendU32(&out, static_cast<uint32_t>(images[i].size()));
    sfx::AppendU32(&out, offset);
    offset += static_cast<uint32_t>(images[i].size());
  }
  for (const auto& img : images) out.insert(out.end(), img.begin(), img.end());
  return out;
}

}  // namespace

int WriteIcon(const char* outPath) { return WriteGenerated(outPath, BuildIcon()); }

}  // namespace sfxgen
