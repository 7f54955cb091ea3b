// The progress window's animation clip: a sheet of paper flying in an arc out of an open box into
// a folder, 260 x 40 pixels, 17 frames at 100 ms, one RLE8 video stream with a 16-colour palette.
//
// Every frame is a key frame encoded in full (no RLE "delta" skips): the animation control takes
// the transparent colour from the first pixel of each decoded frame, and a skipped pixel has no
// defined colour. The top-left pixel is always the background colour (palette index 0).
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "sfxstub/format/byte_order.h"
#include "tools/sfxgen/generators.h"

namespace sfxgen {
namespace {

constexpr int kWidth = 260;
constexpr int kHeight = 40;
constexpr int kFrames = 17;
constexpr uint32_t kMicrosPerFrame = 100000;

// Palette indices.
enum : uint8_t {
  kBackground = 0, kBlack, kBoxLight, kBoxDark, kFolderLight, kFolderDark, kWhite, kBlue,
  kGrey, kGreen, kPaletteSize = 16
};

// 0x00RRGGBB; unused entries keep the usual VGA colours.
const uint32_t kPalette[kPaletteSize] = {
    0xF0F0F0, 0x000000, 0xC8904C, 0x8C5A28, 0xF8D860, 0xC89C28, 0xFFFFFF, 0x3C5AC8,
    0x808080, 0x3CAA46, 0x800000, 0x008080, 0x800080, 0xFF0000, 0x00FFFF, 0xFF00FF};

// An 8-bit picture, row 0 at the top.
class Canvas {
 public:
  Canvas() : pixels_(kWidth * kHeight, kBackground) {}
  void Fill(int x, int y, int w, int h, uint8_t colour) {
    for (int j = y; j < y + h; ++j)
      for (int i = x; i < x + w; ++i)
        if (i >= 0 && i < kWidth && j >= 0 && j < kHeight) pixels_[j * kWidth + i] = colour;
  }
  // A filled rectangle with a one-pixel outline.
  void Box(int x, int y, int w, int h, uint8_t fill, uint8_t outline) {
    Fill(x, y, w, h, outline);
    Fill(x + 1, y + 1, w - 2, h - 2, fill);
  }
  uint8_t At(int x, int y) const { return pixels_[y * kWidth + x]; }

 private:
  std::vector<uint8_t> pixels_;
};

void DrawSheet(Canvas* c, int x, int y) {
  c->Box(x, y, 12, 15, kWhite, kBlack);
  for (int line = 0; line < 4; ++line) c->Fill(x + 2, y + 3 + line * 3, 8, 1, kBlue);
}

void DrawFrame(int frame, Canvas* c) {
  // The open box on the left: body, front flap folded down, back flap up.
  c->Box(14, 22, 40, 17, kBoxLight, kBlack);
  c->Fill(16, 28, 36, 2, kBoxDark);
  c->Box(10, 18, 10, 5, kBoxDark, kBlack);
  c->Box(48, 18, 10, 5, kBoxDark, kBlack);
  // The folder on the right: tab, back, front.
  c->Box(200, 16, 18, 5, kFolderDark, kBlack);
  c->Box(200, 20, 48, 19, kFolderDark, kBlack);
  c->Box(202, 25, 48, 14, kFolderLight, kBlack);
  // A dotted track between them.
  for (int x = 64; x < 194; x += 6) c->Fill(x, 37, 2, 2, kGrey);

  // Two sheets half a cycle apart, each travelling from the box to the folder along a parabola.
  for (int sheet = 0; sheet < 2; ++sheet) {
    double t = std::fmod((frame + sheet * kFrames / 2.0) / kFrames, 1.0);
    int x = static_cast<int>(28 + t * (210 - 28));
    int y = static_cast<int>(18 - 4 * t * (1 - t) * 16);
    DrawSheet(c, x, y);
  }
  // A green light on the box that blinks, so the clip never looks frozen.
  c->Box(20, 31, 5, 5, frame % 4 < 2 ? kGreen : kGrey, kBlack);
}

// One row in RLE8: runs of up to 255 equal pixels as (count, index); no absolute mode, so the
// encoding stays trivially valid for every decoder.
void EncodeRow(const Canvas& c, int y, std::vector<uint8_t>* out) {
  int x = 0;
  while (x < kWidth) {
    uint8_t colour = c.At(x, y);
    int run = 1;
    while (x + run < kWidth && run < 255 && c.At(x + run, y) == colour) ++run;
    out->push_back(static_cast<uint8_t>(run));
    out->push_back(colour);
    x += run;
  }
}

// The frame as bottom-up RLE8: rows end with (0, 0), the bitmap with (0, 1).
std::vector<uint8_t> EncodeFrame(const Canvas& c) {
  std::vector<uint8_t> out;
  for (int y = kHeight - 1; y >= 0; --y) {
    EncodeRow(c, y, &out);
    if (y > 0) {
      out.push_back(0);
      out.push_back(0);
    }
  }
  out.push_back(0);
  out.push_back(1);
  return out;
}

class RiffWriter {
 public:
  void U16(uint16_t v) { sfx::AppendU16(&data_, v); }
  void U32(uint32_t v) { sfx::AppendU32(&data_, v); }
  void FourCc(const char* cc) { data_.insert(data_.end(), cc, cc + 4); }
  // Starts a chunk ("LIST"/"RIFF" take a form type); returns where its size goes.
  size_t Begin(const char* id, const char* form = nullptr) {
    FourCc(id);
    size_t at = data_.size();
    U32(0);
    if (form) FourCc(form);
    return at;
  }
  // Fills in the size of the chunk begun at `at` and pads it to an even length.
  void End(size_t at) {
    uint32_t size = static_cast<uint32_t>(data_.size() - at - 4);
    sfx::StoreU32(&data_[at], size);
    if (data_.size() & 1) data_.push_back(0);
  }
  void Bytes(const std::vector<uint8_t>& b) { data_.insert(data_.end(), b.begin(), b.end()); }
  size_t size() const { return data_.size(); }
  const std::vector<uint8_t>& data() const { return data_; }

 private:
  std::vector<uint8_t> data_;
};

// The main AVI header ("avih").
void WriteMainHeader(RiffWriter& w, uint32_t largest) {
  size_t avih = w.Begin("avih");
  w.U32(kMicrosPerFrame);
  w.U32(largest * (1000000 / kMicrosPerFrame));  // max bytes per second
  w.U32(0);                                      // padding granularity
  w.U32(0x10);                                   // AVIF_HASINDEX
  w.U32(kFrames);
  w.U32(0);  // initial frames
  w.U32(1);  // streams
  w.U32(largest);
  w.U32(kWidth);
  w.U32(kHeight);
  for (int i = 0; i < 4; ++i) w.U32(0);
  w.End(avih);
}

// The one video stream: its header ("strh") and format ("strf", an RLE8 BITMAPINFOHEADER with
// the palette).
void WriteStreamList(RiffWriter& w, uint32_t largest) {
  size_t strl = w.Begin("LIST", "strl");
  size_t strh = w.Begin("strh");
  w.FourCc("vids");
  w.FourCc("RLE ");
  w.U32(0);   // flags
  w.U16(0);   // priority
  w.U16(0);   // language
  w.U32(0);   // initial frames
  w.U32(1);   // scale
  w.U32(10);  // rate: 10 frames per second
  w.U32(0);   // start
  w.U32(kFrames);
  w.U32(largest);
  w.U32(0xFFFFFFFF);  // quality: default
  w.U32(0);           // sample size: varies
  w.U16(0);
  w.U16(0);
  w.U16(kWidth);
  w.U16(kHeight);
  w.End(strh);
  size_t strf = w.Begin("strf");
  w.U32(40);  // BITMAPINFOHEADER
  w.U32(kWidth);
  w.U32(kHeight);
  w.U16(1);      // planes
  w.U16(8);      // bits per pixel
  w.U32(1);      // BI_RLE8
  w.U32(largest);  // image size: enough for the largest frame
  w.U32(0);
  w.U32(0);
  w.U32(kPaletteSize);  // colours used
  w.U32(0);             // colours important: all
  for (uint32_t rgb : kPalette) w.U32(rgb);  // RGBQUAD: blue, green, red, 0
  w.End(strf);
  w.End(strl);
}

// The frames ("movi") and the index of them ("idx1").
void WriteFrames(RiffWriter& w, const std::vector<std::vector<uint8_t>>& frames) {
  size_t movi = w.Begin("LIST", "movi");
  size_t moviType = movi + 4;  // index offsets count from the "movi" form type
  std::vector<uint32_t> offsets;
  for (const auto& f : frames) {
    offsets.push_back(static_cast<uint32_t>(w.size() - moviType));
    size_t chunk = w.Begin("00dc");
    w.Bytes(f);
    w.End(chunk);
  }
  w.End(movi);

  size_t idx1 = w.Begin("idx1");
  for (size_t i = 0; i < frames.size(); ++i) {
    w.FourCc("00dc");
    w.U32(0x10);  // AVIIF_KEYFRAME
    w.U32(offsets[i]);
    w.U32(static_cast<uint32_t>(frames[i].size()));
  }
  w.End(idx1);
}

std::vector<uint8_t> BuildClip() {
  std::vector<std::vector<uint8_t>> frames;
  uint32_t largest = 0;
  for (int i = 0; i < kFrames; ++i) {
    Canvas c;
    DrawFrame(i, &c);
    frames.push_back(EncodeFrame(c));
    if (frames.back().size() > largest) largest = static_cast<uint32_t>(frames.back().size());
  }
  RiffWriter w;
  size_t riff = w.Begin("RIFF", "AVI ");
  size_t hdrl = w.Begin("LIST", "hdrl");
  WriteMainHeader(w, largest);
  WriteStreamList(w, largest);
  w.End(hdrl);
  WriteFrames(w, frames);
  w.End(riff);
  return w.data();
}

}  // namespace

int WriteAnimation(const char* outPath) { return WriteGenerated(outPath, BuildClip()); }

}  // namespace sfxgen
