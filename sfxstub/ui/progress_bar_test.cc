#include "sfxstub/ui/progress_bar.h"

#include <commctrl.h>
#include <gtest/gtest.h>

#include <vector>

namespace sfx {
namespace {

// A stand-in bar that records the progress messages it gets, with its style at that moment.
struct Sent {
  UINT message;
  WPARAM wParam;
  LPARAM lParam;
  bool marqueeStyle;
};
std::vector<Sent> g_sent;

LRESULT CALLBACK RecorderProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message >= WM_USER && message < WM_USER + 0x100) {
    bool marquee = (GetWindowLongA(window, GWL_STYLE) & PBS_MARQUEE) != 0;
    g_sent.push_back({message, wParam, lParam, marquee});
    return 0;
  }
  return DefWindowProcA(window, message, wParam, lParam);
}

class ProgressBarTest : public ::testing::Test {
 protected:
  void SetUp() override {
    InitCommonControls();
    HINSTANCE instance = GetModuleHandleA(nullptr);
    WNDCLASSEXA wc = {};
    wc.cbSize = sizeof(wc);
    wc.lpfnWndProc = RecorderProc;
    wc.hInstance = instance;
    wc.lpszClassName = "SfxRecorderBar";
    RegisterClassExA(&wc);  // fails harmlessly from the second test on
    parent_ = CreateWindowExA(0, "STATIC", "", WS_POPUP, 0, 0, 300, 100, nullptr, nullptr,
                              instance, nullptr);
    ASSERT_NE(parent_, nullptr);
    g_sent.clear();
  }
  void TearDown() override { DestroyWindow(parent_); }

  HWND MakeChild(const char* cls, int id) {
    return CreateWindowExA(0, cls, "", WS_CHILD, 0, 0, 200, 15, parent_,
                           reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                           GetModuleHandleA(nullptr), nullptr);
  }

  HWND parent_ = nullptr;
};

TEST_F(ProgressBarTest, WrapsTheChildWithDefaults) {
  HWND child = MakeChild("SfxRecorderBar", 1001);
  ProgressBar bar(parent_, 1001);
  EXPECT_EQ(bar.window(), child);
  EXPECT_EQ(bar.position(), 0u);
  EXPECT_EQ(bar.upper(), 100u);
  EXPECT_EQ(bar.flags(), 0u);
  EXPECT_TRUE(g_sent.empty());
}

TEST_F(ProgressBarTest, MarqueeStartsAndEveryPositionChangeEndsIt) {
  MakeChild("SfxRecorderBar", 1001);
  ProgressBar bar(parent_, 1001);
  bar.StartMarquee(100);
  EXPECT_EQ(bar.flags(), ProgressBar::kMarqueeFlag);
  ASSERT_EQ(g_sent.size(), 1u);
  EXPECT_EQ(g_sent[0].message, static_cast<UINT>(PBM_SETMARQUEE));
  EXPECT_EQ(g_sent[0].wParam, 1u);
  EXPECT_EQ(g_sent[0].lParam, 100);
  EXPECT_TRUE(g_sent[0].marqueeStyle);  // the style bit is set before the message

  g_sent.clear();
  bar.SetPos(5);
  EXPECT_EQ(bar.flags(), 0u);
  ASSERT_EQ(g_sent.size(), 2u);
  EXPECT_EQ(g_sent[0].message, static_cast<UINT>(PBM_SETMARQUEE));
  EXPECT_EQ(g_sent[0].wParam, 0u);
  EXPECT_FALSE(g_sent[0].marqueeStyle);
  EXPECT_EQ(g_sent[1].message, static_cast<UINT>(PBM_SETPOS));
  EXPECT_EQ(g_sent[1].wParam, 5u);

  bar.StartMarquee(30);
  g_sent.clear();
  bar.Advance(1);
  ASSERT_EQ(g_sent.size(), 2u);
  EXPECT_EQ(g_sent[0].message, static_cast<UINT>(PBM_SETMARQUEE));
  EXPECT_EQ(g_sent[1].wParam, 6u);
  EXPECT_EQ(bar.flags(), 0u);
}

TEST_F(ProgressBarTest, AdvanceIsRelativeToTheWrappersPosition) {
  MakeChild("SfxRecorderBar", 1001);
  ProgressBar bar(parent_, 1001);
  bar.SetPos(0);
  g_sent.clear();
  bar.Advance(10);
  bar.Advance(10);
  std::vector<WPARAM> positions;
  for (const Sent& s : g_sent)
    if (s.message == PBM_SETPOS) positions.push_back(s.wParam);
  EXPECT_EQ(positions, (std::vector<WPARAM>{10, 20}));
  EXPECT_EQ(bar.position(), 20u);
}

// A byte total above 2 GiB does not fit the control's signed range: it is shown halved, while
// the wrapper keeps exact numbers.
TEST_F(ProgressBarTest, RangeAboveInt32IsScaledForTheControl) {
  MakeChild("SfxRecorderBar", 1001);
  ProgressBar bar(parent_, 1001);
  bar.SetRange(3000000000u);
  ASSERT_FALSE(g_sent.empty());
  EXPECT_EQ(g_sent[0].message, static_cast<UINT>(PBM_SETRANGE32));
  EXPECT_EQ(g_sent[0].wParam, 0u);
  EXPECT_EQ(static_cast<uint32_t>(g_sent[0].lParam), 1500000000u);
  bar.SetPos(0);
  bar.Advance(2000000000);
  bar.Advance(1000000000);
  EXPECT_EQ(bar.position(), 3000000000u);
  EXPECT_EQ(g_sent.back().wParam, 1500000000u);

  g_sent.clear();
  bar.SetRange(60);
  EXPECT_EQ(g_sent[0].lParam, 60);
}

TEST_F(ProgressBarTest, DrivesARealCommonControlsBar) {
  HWND child = MakeChild("msctls_progress32", 1001);
  ASSERT_NE(child, nullptr);
  ProgressBar bar(parent_, 1001);
  bar.StartMarquee(100);
  EXPECT_NE(GetWindowLongA(child, GWL_STYLE) & PBS_MARQUEE, 0);
  bar.SetRange(60);
  bar.SetPos(0);
  EXPECT_EQ(GetWindowLongA(child, GWL_STYLE) & PBS_MARQUEE, 0);
  PBRANGE range = {};
  SendMessageA(child, PBM_GETRANGE, FALSE, reinterpret_cast<LPARAM>(&range));
  EXPECT_EQ(range.iLow, 0);
  EXPECT_EQ(range.iHigh, 60);
  for (int delta : {10, 20, 30}) bar.Advance(delta);
  EXPECT_EQ(SendMessageA(child, PBM_GETPOS, 0, 0), 60);
}

TEST_F(ProgressBarTest, WithoutAChildOnlyTheWrapperMoves) {
  ProgressBar bar(parent_, 1001);
  EXPECT_EQ(bar.window(), nullptr);
  bar.StartMarquee(100);
  bar.Advance(7);
  EXPECT_EQ(bar.position(), 7u);
}

TEST(ProgressBarClassTest, RegistersOnceWithItsStyles) {
  HINSTANCE instance = GetModuleHandleA(nullptr);
  EXPECT_EQ(RegisterProgressBarClass(instance), 1);
  WNDCLASSEXA wc = {};
  wc.cbSize = sizeof(wc);
  ASSERT_TRUE(GetClassInfoExA(instance, "ProgressBarClass", &wc));
  EXPECT_EQ(wc.style, static_cast<UINT>(CS_OWNDC | CS_DBLCLKS));
  EXPECT_EQ(wc.hbrBackground, nullptr);
  EXPECT_NE(wc.hCursor, nullptr);
  EXPECT_EQ(RegisterProgressBarClass(instance), 1);
}

}  // namespace
}  // namespace sfx
