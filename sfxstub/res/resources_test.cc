// The stub's resources as linked into an executable: the animation clip is a well-formed RLE8 AVI
// that GDI decodes to the same pictures as a strict decoder, the icon group has both sizes, and
// the manifest really selects common controls 6.
#include <windows.h>
#include <commctrl.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "sfxstub/format/byte_order.h"

namespace {

using sfx::LoadU16;
using sfx::LoadU32;

struct Resource {
  const uint8_t* data = nullptr;
  uint32_t size = 0;
};
Resource Find(LPCSTR name, LPCSTR type) {
  HMODULE self = GetModuleHandleA(nullptr);
  HRSRC found = FindResourceA(self, name, type);
  if (!found) return {};
  return {static_cast<const uint8_t*>(LockResource(LoadResource(self, found))),
          static_cast<uint32_t>(SizeofResource(self, found))};
}

struct Chunk {
  std::string id;
  const uint8_t* data;
  uint32_t size;
};
// The chunks of a RIFF list body; fails the test on a chunk that runs past its list.
std::vector<Chunk> Chunks(const uint8_t* p, uint32_t size) {
  std::vector<Chunk> out;
  uint32_t at = 0;
  while (size - at >= 8) {
    uint32_t len = LoadU32(p + at + 4);
    EXPECT_LE(len, size - at - 8) << "chunk overruns its list";
    if (len > size - at - 8) break;
    out.push_back({std::string(reinterpret_cast<const char*>(p + at), 4), p + at + 8, len});
    at += 8 + len + (len & 1);
  }
  return out;
}
const Chunk* Get(const std::vector<Chunk>& chunks, const std::string& id, const char* form = nullptr) {
  for (const Chunk& c : chunks)
    if (c.id == id && (!form || (c.size >= 4 && !std::memcmp(c.data, form, 4)))) return &c;
  return nullptr;
}

// A strict RLE8 decoder (bottom-up, runs and absolute runs, no deltas expected): false on any
// overrun or a missing end-of-bitmap.
bool DecodeRle8(const uint8_t* p, uint32_t size, int width, int height, std::vector<uint8_t>* out) {
  out->assign(width * height, 0xFF);
  int x = 0, row = 0;  // row 0 is the bottom
  uint32_t at = 0;
  while (at + 2 <= size) {
    uint8_t count = p[at], value = p[at + 1];
    at += 2;
    if (count > 0) {
      if (row >= height || x + count > width) return false;
      for (int i = 0; i < count; ++i) (*out)[(height - 1 - row) * width + x++] = value;
    } else if (value == 0) {
      x = 0;
      ++row;
    } else if (value == 1) {
      return row == height - 1 && x == width;
    } else if (value == 2) {
      return false;
    } else {
      if (at + value > size || row >= height || x + value > width) return false;
      for (int i = 0; i < value; ++i) (*out)[(height - 1 - row) * width + x++] = p[at + i];
      at += value + (value & 1);
    }
  }
  return false;
}

TEST(AnimationClipTest, IsA260x40Rle8ClipOf17FramesThatGdiDecodesAlike) {
  Resource avi = Find(MAKEINTRESOURCEA(129), "AVI");
  ASSERT_NE(avi.data, nullptr);
  ASSERT_GE(avi.size, 12u);
  ASSERT_EQ(std::memcmp(avi.data, "RIFF", 4), 0);
  ASSERT_EQ(std::memcmp(avi.data + 8, "AVI ", 4), 0);
  ASSERT_LE(LoadU32(avi.data + 4), avi.size - 8);
  auto top = Chunks(avi.data + 12, LoadU32(avi.data + 4) - 4);

  const Chunk* hdrl = Get(top, "LIST", "hdrl");
  ASSERT_NE(hdrl, nullptr);
  auto header = Chunks(hdrl->data + 4, hdrl->size - 4);
  const Chunk* avih = Get(header, "avih");
  ASSERT_NE(avih, nullptr);
  ASSERT_EQ(avih->size, 56u);
  EXPECT_EQ(LoadU32(avih->data), 100000u);     // 100 ms per frame
  EXPECT_EQ(LoadU32(avih->data + 16), 17u);    // frames
  EXPECT_EQ(LoadU32(avih->data + 24), 1u);     // one stream: no sound
  EXPECT_EQ(LoadU32(avih->data + 32), 260u);
  EXPECT_EQ(LoadU32(avih->data + 36), 40u);
  const Chunk* strl = Get(header, "LIST", "strl");
  ASSERT_NE(strl, nullptr);
  auto stream = Chunks(strl->data + 4, strl->size - 4);
  const Chunk* strh = Get(stream, "strh");
  const Chunk* strf = Get(stream, "strf");
  ASSERT_NE(strh, nullptr);
  ASSERT_NE(strf, nullptr);
  EXPECT_EQ(std::memcmp(strh->data, "vids", 4), 0);
  ASSERT_EQ(strf->size, 40u + 16 * 4);
  BITMAPINFOHEADER bih;
  std::memcpy(&bih, strf->data, sizeof(bih));
  EXPECT_EQ(bih.biWidth, 260);
  EXPECT_EQ(bih.biHeight, 40);
  EXPECT_EQ(bih.biBitCount, 8);
  EXPECT_EQ(bih.biCompression, static_cast<DWORD>(BI_RLE8));
  EXPECT_EQ(bih.biClrUsed, 16u);
  const RGBQUAD* palette = reinterpret_cast<const RGBQUAD*>(strf->data + 40);

  const Chunk* movi = Get(top, "LIST", "movi");
  ASSERT_NE(movi, nullptr);
  std::vector<Chunk> frames;
  for (const Chunk& c : Chunks(movi->data + 4, movi->size - 4))
    if (c.id == "00dc") frames.push_back(c);
  ASSERT_EQ(frames.size(), 17u);
  ASSERT_NE(Get(top, "idx1"), nullptr);

  // GDI as the reference decoder: draw each frame into a 32-bit DIB and compare pixel colours.
  struct {
    BITMAPINFOHEADER h;
    RGBQUAD colours[16];
  } info;
  std::memcpy(&info, strf->data, sizeof(info));
  BITMAPINFO target = {};
  target.bmiHeader = {sizeof(BITMAPINFOHEADER), 260, -40, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
  void* bits = nullptr;
  HDC dc = CreateCompatibleDC(nullptr);
  HBITMAP dib = CreateDIBSection(dc, &target, DIB_RGB_COLORS, &bits, nullptr, 0);
  ASSERT_NE(dib, nullptr);
  HGDIOBJ old = SelectObject(dc, dib);

  std::vector<std::vector<uint8_t>> decoded;
  for (size_t f = 0; f < frames.size(); ++f) {
    std::vector<uint8_t> pixels;
    ASSERT_TRUE(DecodeRle8(frames[f].data, frames[f].size, 260, 40, &pixels)) << "frame " << f;
    EXPECT_LE(frames[f].size, bih.biSizeImage);
    EXPECT_EQ(pixels[0], 0u);
    info.h.biSizeImage = frames[f].size;
    std::memset(bits, 0x55, 260 * 40 * 4);
    ASSERT_EQ(StretchDIBits(dc, 0, 0, 260, 40, 0, 0, 260, 40, frames[f].data,
                            reinterpret_cast<BITMAPINFO*>(&info), DIB_RGB_COLORS, SRCCOPY),
              40);
    GdiFlush();
    const uint32_t* px = static_cast<const uint32_t*>(bits);
    int mismatches = 0;
    for (int i = 0; i < 260 * 40; ++i) {
      const RGBQUAD& c = palette[pixels[i]];
      uint32_t want = c.rgbRed << 16 | c.rgbGreen << 8 | c.rgbBlue;
      if ((px[i] & 0xFFFFFF) != want) ++mismatches;
    }
    EXPECT_EQ(mismatches, 0) << "frame " << f;
    decoded.push_back(pixels);
  }
  SelectObject(dc, old);
  DeleteObject(dib);
  DeleteDC(dc);
  // It moves: consecutive frames differ.
  for (size_t f = 0; f + 1 < decoded.size(); ++f) EXPECT_NE(decoded[f], decoded[f + 1]) << f;
}

TEST(IconTest, GroupOneHasA32And16PixelImageOf16Colours) {
  Resource group = Find(MAKEINTRESOURCEA(1), RT_GROUP_ICON);
  ASSERT_NE(group.data, nullptr);
  for (int size : {32, 16}) {
    int id = LookupIconIdFromDirectoryEx(const_cast<BYTE*>(group.data), TRUE, size, size, 0);
    ASSERT_NE(id, 0);
    Resource image = Find(MAKEINTRESOURCEA(id), RT_ICON);
    ASSERT_GE(image.size, 40u);
    EXPECT_EQ(static_cast<int>(LoadU32(image.data + 4)), size);
    EXPECT_EQ(LoadU16(image.data + 14), 4);  // 16 colours
    HICON icon = CreateIconFromResourceEx(const_cast<BYTE*>(image.data), image.size, TRUE,
                                          0x00030000, size, size, 0);
    EXPECT_NE(icon, nullptr);
    if (icon) DestroyIcon(icon);
  }
}

// Asked for by the manifest, the loader maps the side-by-side common controls 6 instead of the
// system's version 5. (Wine's build of version 6 answers DllGetVersion with 5.81, so the file it
// was loaded from is what tells them apart.)
TEST(ManifestTest, SelectsCommonControlsSix) {
  Resource manifest = Find(MAKEINTRESOURCEA(1), RT_MANIFEST);
  ASSERT_NE(manifest.data, nullptr);
  InitCommonControls();
  HMODULE comctl = GetModuleHandleA("comctl32.dll");
  ASSERT_NE(comctl, nullptr);
  char path[MAX_PATH] = {};
  ASSERT_NE(GetModuleFileNameA(comctl, path, MAX_PATH), 0u);
  std::string lower(path);
  CharLowerBuffA(&lower[0], static_cast<DWORD>(lower.size()));
  EXPECT_NE(lower.find("microsoft.windows.common-controls_6595b64144ccf1df_6.0."), std::string::npos)
      << path;
}

// The manifest names every Windows from Vista to 10 and 11 (so that they report their own
// version to the stub), and leaves the execution level to the package (sfxpack pack
// --execution-level).
TEST(ManifestTest, NamesTheSupportedWindowsVersionsAndNoExecutionLevel) {
  Resource manifest = Find(MAKEINTRESOURCEA(1), RT_MANIFEST);
  ASSERT_NE(manifest.data, nullptr);
  const std::string text(reinterpret_cast<const char*>(manifest.data), manifest.size);
  for (const char* id : {"e2011457-1546-43c5-a5fe-008deee3d3f0", "35138b9a-5d96-4fbd-8e2d-a2440225f93a",
                         "4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38", "1f676c76-80e1-4239-95bb-83d0f6d0da78",
                         "8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a"}) {
    EXPECT_NE(text.find(std::string("<supportedOS Id=\"{") + id + "}\"/>"), std::string::npos) << id;
  }
  EXPECT_EQ(text.find("trustInfo"), std::string::npos);
  EXPECT_EQ(text.find("  "), std::string::npos) << "indentation costs bytes in every package";
}

}  // namespace
