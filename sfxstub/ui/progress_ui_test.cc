#include "sfxstub/ui/progress_ui.h"

#include <commctrl.h>
#include <gtest/gtest.h>
#include <malloc.h>

#include <cstdlib>
#include <string>

#include "sfxstub/ui/progress_bar.h"
#include "sfxstub/ui/window_progress_sink.h"

namespace sfx {
namespace {

class ProgressUiTest : public ::testing::Test {
 protected:
  void SetUp() override {
    InitCommonControls();
    HINSTANCE instance = GetModuleHandleA(nullptr);
    RegisterProgressWindowClass(instance, 1);
    RegisterProgressBarClass(instance);
  }
  void TearDown() override {
    StopProgressThread();
    SetProgressTestHooks({});
  }

  static void StartDefault() { StartProgressThread(129, "Setup", 6, 6, 0, 15); }

  // A child's rectangle in its parent's client coordinates.
  static RECT ChildRect(HWND child) {
    RECT r = {};
    GetWindowRect(child, &r);
    MapWindowPoints(nullptr, GetParent(child), reinterpret_cast<POINT*>(&r), 2);
    return r;
  }
  static std::string ClassOf(HWND window) {
    char name[64] = {};
    GetClassNameA(window, name, sizeof(name));
    return name;
  }
  static PBRANGE RangeOf(HWND bar) {
    PBRANGE range = {};
    SendMessageA(bar, PBM_GETRANGE, FALSE, reinterpret_cast<LPARAM>(&range));
    return range;
  }
  static int PosOf(HWND bar) { return static_cast<int>(SendMessageA(bar, PBM_GETPOS, 0, 0)); }
  static bool Marquee(HWND bar) { return (GetWindowLongA(bar, GWL_STYLE) & PBS_MARQUEE) != 0; }
};

BOOL CALLBACK CountProgressWindows(HWND window, LPARAM count) {
  DWORD pid = 0;
  GetWindowThreadProcessId(window, &pid);
  char name[64] = {};
  GetClassNameA(window, name, sizeof(name));
  if (pid == GetCurrentProcessId() && std::string(name) == "AniProgressClass")
    ++*reinterpret_cast<int*>(count);
  return TRUE;
}

// This process's progress windows. Other tests that run at the same time show theirs on the same
// desktop, so FindWindowA would see those too.
int OwnProgressWindows() {
  int count = 0;
  EnumWindows(CountProgressWindows, reinterpret_cast<LPARAM>(&count));
  return count;
}

TEST_F(ProgressUiTest, QuietModeDoesNothing) {
  SetProgressRange(100);
  AdvanceProgress(50);
  DWORD start = GetTickCount();
  StopProgressThread();
  StopProgressThread();
  EXPECT_LT(GetTickCount() - start, 1000u);
  EXPECT_EQ(OwnProgressWindows(), 0);
}

TEST_F(ProgressUiTest, WindowAndChildrenWithTheMainSequencesLayout) {
  WNDCLASSEXA wc = {};
  wc.cbSize = sizeof(wc);
  ASSERT_TRUE(GetClassInfoExA(GetModuleHandleA(nullptr), "AniProgressClass", &wc));
  EXPECT_EQ(wc.style, static_cast<UINT>(CS_HREDRAW | CS_VREDRAW));
  EXPECT_NE(wc.hIcon, nullptr);  // icon group 1 of the module

  StartDefault();
  HWND window = ProgressWindowForTesting();
  ASSERT_NE(window, nullptr);
  EXPECT_TRUE(IsWindowVisible(window));
  EXPECT_EQ(ClassOf(window), "AniProgressClass");
  char title[32] = {};
  GetWindowTextA(window, title, sizeof(title));
  EXPECT_STREQ(title, "Setup");

  LONG style = GetWindowLongA(window, GWL_STYLE);
  EXPECT_EQ(style & (WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_MAXIMIZEBOX), 0);
  EXPECT_NE(style & WS_THICKFRAME, 0);
  EXPECT_NE(GetWindowLongA(window, GWL_EXSTYLE) & WS_EX_APPWINDOW, 0);

  HWND animation = GetDlgItem(window, kAnimationChildId);
  ASSERT_NE(animation, nullptr);
  EXPECT_EQ(ClassOf(animation), "SysAnimate32");
  EXPECT_EQ(GetWindowLongA(animation, GWL_STYLE) & 0x40000006, 0x40000006);
  RECT a = ChildRect(animation);
  // The control took the clip's frame size, so the clip was opened.
  EXPECT_EQ(a.left, 6);
  EXPECT_EQ(a.top, 6);
  EXPECT_EQ(a.right - a.left, 260);
  EXPECT_EQ(a.bottom - a.top, 40);

  HWND bar = GetDlgItem(window, kProgressBarChildId);
  ASSERT_NE(bar, nullptr);
  EXPECT_EQ(ClassOf(bar), "msctls_progress32");
  EXPECT_TRUE(IsWindowVisible(bar));
  RECT b = ChildRect(bar);
  EXPECT_EQ(b.left, 6);
  EXPECT_EQ(b.top, 52);
  EXPECT_EQ(b.right - b.left, 260);
  EXPECT_EQ(b.bottom - b.top, 15);
  EXPECT_EQ(ProgressBarWidthForTesting(), 260);  // derived and written back

  RECT w = {};
  GetWindowRect(window, &w);
  EXPECT_EQ(w.right - w.left, 274 + GetSystemMetrics(SM_CXFRAME));
  EXPECT_EQ(w.bottom - w.top, 75 + GetSystemMetrics(SM_CYFRAME));
  RECT client = {};
  GetClientRect(window, &client);
  EXPECT_EQ(w.left, GetSystemMetrics(SM_CXSCREEN) / 2 - client.right / 2);
  EXPECT_EQ(w.top, GetSystemMetrics(SM_CYSCREEN) / 2 - client.bottom / 2);

  // Indeterminate until a range is announced.
  EXPECT_TRUE(Marquee(bar));
  ASSERT_NE(ProgressBarForTesting(), nullptr);
  EXPECT_EQ(ProgressBarForTesting()->flags(), ProgressBar::kMarqueeFlag);

  // The whole window drags like a caption.
  EXPECT_EQ(SendMessageA(window, WM_NCHITTEST, 0, MAKELPARAM(w.left + 1, w.top + 1)), HTCAPTION);
}

TEST_F(ProgressUiTest, RangeMakesTheBarDeterminateAndAdvancesAreRelative) {
  StartDefault();
  HWND bar = GetDlgItem(ProgressWindowForTesting(), kProgressBarChildId);
  ASSERT_NE(bar, nullptr);
  SetProgressRange(60);
  EXPECT_FALSE(Marquee(bar));
  EXPECT_EQ(RangeOf(bar).iLow, 0);
  EXPECT_EQ(RangeOf(bar).iHigh, 60);
  EXPECT_EQ(PosOf(bar), 0);
  AdvanceProgress(10);
  AdvanceProgress(20);
  EXPECT_EQ(PosOf(bar), 30);
  AdvanceProgress(30);
  EXPECT_EQ(PosOf(bar), 60);

  // Through the extraction's sink; a second announcement starts over.
  WindowProgressSink sink;
  sink.SetProgressRange(40);
  EXPECT_EQ(PosOf(bar), 0);
  sink.AdvanceProgress(40);
  EXPECT_EQ(RangeOf(bar).iHigh, 40);
  EXPECT_EQ(PosOf(bar), 40);
}

TEST_F(ProgressUiTest, TotalAboveTwoGigabytesStillFills) {
  StartDefault();
  HWND bar = GetDlgItem(ProgressWindowForTesting(), kProgressBarChildId);
  const uint32_t total = 3000000000u;
  SetProgressRange(static_cast<int>(total));
  EXPECT_EQ(RangeOf(bar).iHigh, 1500000000);
  AdvanceProgress(2000000000);
  AdvanceProgress(1000000000);
  EXPECT_EQ(PosOf(bar), 1500000000);
}

TEST_F(ProgressUiTest, NoRangeAnnouncedBeforeTheWindowMeansNoBar) {
  SetProgressTestHooks({[] { SetProgressRange(0); }, nullptr});
  StartDefault();
  HWND window = ProgressWindowForTesting();
  ASSERT_NE(window, nullptr);
  EXPECT_EQ(GetDlgItem(window, kProgressBarChildId), nullptr);
  EXPECT_EQ(ProgressBarForTesting(), nullptr);
  // Sized by the animation alone, with its margins all round.
  RECT w = {};
  GetWindowRect(window, &w);
  EXPECT_EQ(w.right - w.left, 274 + GetSystemMetrics(SM_CXFRAME));
  EXPECT_EQ(w.bottom - w.top, 54 + GetSystemMetrics(SM_CYFRAME));
  SetProgressRange(10);  // no bar to drive; nothing happens
  AdvanceProgress(10);
  EXPECT_EQ(GetDlgItem(window, kProgressBarChildId), nullptr);
}

TEST_F(ProgressUiTest, RangeAnnouncedBeforeTheWindowIsShownWithoutMarquee) {
  SetProgressTestHooks({[] { SetProgressRange(500); }, nullptr});
  StartDefault();
  HWND bar = GetDlgItem(ProgressWindowForTesting(), kProgressBarChildId);
  ASSERT_NE(bar, nullptr);
  EXPECT_FALSE(Marquee(bar));
  EXPECT_EQ(RangeOf(bar).iHigh, 500);
  EXPECT_EQ(PosOf(bar), 0);
  AdvanceProgress(250);
  EXPECT_EQ(PosOf(bar), 250);
}


TEST_F(ProgressUiTest, SecondStartMakesNoSecondWindow) {
  StartDefault();
  HWND first = ProgressWindowForTesting();
  SetProgressRange(10);
  StartDefault();
  EXPECT_EQ(ProgressWindowForTesting(), first);
  EXPECT_EQ(OwnProgressWindows(), 1);
}

TEST_F(ProgressUiTest, StopEndsTheThreadPromptlyAndFreesTheBar) {
  StartDefault();
  HWND window = ProgressWindowForTesting();
  ASSERT_NE(ProgressBarForTesting(), nullptr);
  DWORD start = GetTickCount();
  StopProgressThread();
  EXPECT_LT(GetTickCount() - start, 2000u);
  EXPECT_FALSE(IsWindow(window));
  // The window was destroyed on its own thread, so WM_DESTROY deleted the wrapper.
  EXPECT_EQ(ProgressBarForTesting(), nullptr);
  start = GetTickCount();
  StopProgressThread();
  EXPECT_LT(GetTickCount() - start, 1000u);
  // Progress after the stop finds no window and does nothing.
  SetProgressRange(5);
  AdvanceProgress(5);
}

// A stop right after the start must not lose its WM_QUIT (which would cost 3 s and a kill).
TEST_F(ProgressUiTest, StopRightAfterStartIsNeverLost) {
  for (int i = 0; i < 5; ++i) {
    StartDefault();
    DWORD start = GetTickCount();
    StopProgressThread();
    EXPECT_LT(GetTickCount() - start, 2000u) << "round " << i;
  }
}

TEST_F(ProgressUiTest, UnansweringUiThreadIsLeftAfterTheWait) {
  static HANDLE never = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  SetProgressTestHooks({nullptr, [] { WaitForSingleObject(never, INFINITE); }});
  StartDefault();
  ASSERT_NE(ProgressWindowForTesting(), nullptr);
  // The extraction is not held up for good by a window that does not answer.
  DWORD start = GetTickCount();
  SetProgressRange(100);
  EXPECT_LT(GetTickCount() - start, 10000u);
  start = GetTickCount();
  StopProgressThread();
  DWORD took = GetTickCount() - start;
  EXPECT_GE(took, 2500u);
  EXPECT_LT(took, 10000u);
  EXPECT_EQ(ProgressBarForTesting(), nullptr);

  // A fresh start afterwards works normally.
  SetProgressTestHooks({});
  StartDefault();
  EXPECT_NE(GetDlgItem(ProgressWindowForTesting(), kProgressBarChildId), nullptr);
  start = GetTickCount();
  StopProgressThread();
  EXPECT_LT(GetTickCount() - start, 2000u);
}

// A UI thread stuck for good (here inside the heap, holding its lock): the stop must still
// return, freeing nothing that would wait for that lock. Run in a child process (a death test),
// since the lock stays taken: the child ends itself once the stop has returned, and a stop that
// hangs leaves it hanging, which fails the test at its time limit.
TEST_F(ProgressUiTest, StopNeverWaitsForTheHeapOfAStuckThread) {
  EXPECT_EXIT(
      {
        static HANDLE never = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        SetProgressTestHooks({nullptr, [] {
                                HeapLock(reinterpret_cast<HANDLE>(_get_heap_handle()));
                                WaitForSingleObject(never, INFINITE);
                              }});
        StartDefault();
        StopProgressThread();
        TerminateProcess(GetCurrentProcess(), 7);
      },
      ::testing::ExitedWithCode(7), "");
}

// The stuck thread is left, not killed: stuck inside the heap, it lets go of the lock once it
// goes on, and the main thread then allocates and frees as the stub does (strings, the report,
// the clean-up) and ends the process normally, which takes the thread with it. A terminated
// thread would never go on, and the heap would stay locked.
TEST_F(ProgressUiTest, StuckThreadIsLeftAliveAndTheMainThreadGoesOn) {
  EXPECT_EXIT(
      {
        static HANDLE goOn = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        static HANDLE wentOn = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        static HANDLE never = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        SetProgressTestHooks({nullptr, [] {
                                HANDLE heap = reinterpret_cast<HANDLE>(_get_heap_handle());
                                HeapLock(heap);
                                WaitForSingleObject(goOn, INFINITE);
                                HeapUnlock(heap);
                                SetEvent(wentOn);
                                WaitForSingleObject(never, INFINITE);
                              }});
        StartDefault();
        StopProgressThread();
        SetEvent(goOn);
        if (WaitForSingleObject(wentOn, 5000) != WAIT_OBJECT_0) TerminateProcess(GetCurrentProcess(), 1);
        size_t total = 0;
        for (int i = 0; i < 1000; ++i) {
          std::string text(1000 + i, 'x');
          char* block = static_cast<char*>(malloc(64 << 10));
          total += text.size() + (block != nullptr);
          free(block);
        }
        ExitProcess(total > 0 ? 7 : 2);
      },
      ::testing::ExitedWithCode(7), "");
}

// The user closes the window while files are being extracted: the wrapper goes away with it,
// and the progress calls that follow (or race with the close) must not touch it.
TEST_F(ProgressUiTest, ClosedByTheUserWhileProgressIsReported) {
  StartDefault();
  HWND window = ProgressWindowForTesting();
  SetProgressRange(1000);
  for (int i = 0; i < 300; ++i) {
    if (i == 50) PostMessageA(window, WM_CLOSE, 0, 0);
    AdvanceProgress(1);
  }
  for (int i = 0; i < 200 && IsWindow(window); ++i) Sleep(10);
  EXPECT_FALSE(IsWindow(window));
  EXPECT_EQ(ProgressBarForTesting(), nullptr);
  SetProgressRange(10);
  AdvanceProgress(10);
  DWORD start = GetTickCount();
  StopProgressThread();
  EXPECT_LT(GetTickCount() - start, 2000u);
}

}  // namespace
}  // namespace sfx
