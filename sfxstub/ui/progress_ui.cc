#include "sfxstub/ui/progress_ui.h"

#include <commctrl.h>

#include <algorithm>
#include <atomic>
#include <new>

#include "sfxstub/ui/progress_bar.h"

namespace sfx {
namespace {

// Private messages by which the main thread drives the bar through the window (see the header).
constexpr UINT kSetRangeMessage = WM_APP + 1;  // wParam: the total, unsigned 32-bit
constexpr UINT kAdvanceMessage = WM_APP + 2;   // wParam: the delta, signed 32-bit

constexpr DWORD kStopWaitMs = 3000;
// A healthy UI thread has its window within milliseconds; this only bounds a sick one.
constexpr DWORD kReadyWaitMs = 5000;
constexpr UINT kSendTimeoutMs = 3000;
constexpr uint32_t kMarqueePeriodMs = 100;

// Removes WS_BORDER | WS_DLGFRAME (the caption), WS_SYSMENU, WS_MINIMIZEBOX and WS_MAXIMIZEBOX;
// keeps WS_THICKFRAME.
constexpr DWORD kFrameStyleMask = 0xFF34FFFF;

// The process-wide state. Everything the two threads share is a single atomic word. The layout
// and the wanted bar are stored before CreateThread, so the UI thread sees them.
struct ProgressUi {
  std::atomic<HINSTANCE> instance{nullptr};
  // Layout.
  std::atomic<int> animationId{0};
  std::atomic<const char*> title{nullptr};
  std::atomic<int> animationMargin{0};
  std::atomic<int> barMargin{0};
  std::atomic<int> barWidth{0};  // 0: derived and written back by the UI thread
  std::atomic<int> barHeight{0};
  // -1: a bar is wanted, no range yet (marquee); 0: no bar; else the last announced range.
  std::atomic<int32_t> state{0};
  // Written by the UI thread as soon as the window exists (in WM_CREATE); never cleared.
  std::atomic<HWND> window{nullptr};
  // Created in WM_CREATE and deleted in WM_DESTROY, both on the UI thread; only the UI thread
  // calls it.
  std::atomic<ProgressBar*> bar{nullptr};
  std::atomic<void (*)()> beforeWindow{nullptr};
  std::atomic<void (*)()> beforeLoop{nullptr};
  // Set by the UI thread once it has its message queue; closed only after that thread has
  // ended (a thread that was left keeps it).
  std::atomic<HANDLE> ready{nullptr};
  // Main thread only. Plain handles, closed by StopProgressThread: the state is a static object
  // with nothing to do at exit, made by the compiler rather than by start-up code, as the stub
  // runs none (main/stub_entry.cc).
  HANDLE thread = nullptr;
  DWORD threadId = 0;
};

ProgressUi g_ui;

void CloseAndForget(HANDLE* handle) {
  if (*handle != nullptr) CloseHandle(*handle);
  *handle = nullptr;
}

LRESULT OnCreate(HWND window) {
  // Publish the window before reading the state: a SetProgressRange that stores its total after
  // the read below then finds the window and sends it the range (and one that stores it before
  // is seen here). Sequentially consistent atomics make one of the two certain.
  g_ui.window.store(window);
  HINSTANCE instance = g_ui.instance.load();

  HWND animation = CreateWindowExA(0, "SysAnimate32", nullptr,
                                   WS_CHILD | ACS_TRANSPARENT | ACS_AUTOPLAY, 0, 0, 0, 0, window,
                                   reinterpret_cast<HMENU>(static_cast<INT_PTR>(kAnimationChildId)),
                                   instance, nullptr);
  // The control loads the clip from the module's "AVI" resources and takes the frames' size.
  SendMessageA(animation, ACM_OPENA, 0,
               reinterpret_cast<LPARAM>(MAKEINTRESOURCEA(LOWORD(g_ui.animationId.load()))));
  const int animationMargin = g_ui.animationMargin.load();
  SetWindowPos(animation, nullptr, animationMargin, animationMargin, 0, 0,
               SWP_NOZORDER | SWP_NOSIZE);

  const int32_t state = g_ui.state.load();
  if (state != 0) {
    RECT a = {};
    GetWindowRect(animation, &a);
    POINT corner = {a.left, a.bottom};
    ScreenToClient(window, &corner);
    const int barMargin = g_ui.barMargin.load();
    if (g_ui.barWidth.load() == 0)
      g_ui.barWidth.store(2 * (animationMargin - barMargin) + (a.right - a.left));
    HWND barWindow = CreateWindowExA(
        0, "msctls_progress32", "", WS_CHILD, barMargin, corner.y + barMargin,
        g_ui.barWidth.load(), g_ui.barHeight.load(), window,
        reinterpret_cast<HMENU>(static_cast<INT_PTR>(kProgressBarChildId)), instance, nullptr);
    ProgressBar* bar = new (std::nothrow) ProgressBar(window, kProgressBarChildId);
    g_ui.bar.store(bar);
    ShowWindow(barWindow, SW_SHOW);
    if (bar) {
      if (state == -1) {
        bar->StartMarquee(kMarqueePeriodMs);
      } else {
        // A range announced before the window existed: show it rather than the default 100.
        bar->SetRange(static_cast<uint32_t>(state));
        bar->SetPos(0);
      }
    }
  }

  SendMessageA(animation, ACM_PLAY, static_cast<WPARAM>(-1), MAKELPARAM(0, 0xFFFF));
  ShowWindow(animation, SW_SHOW);
  return 0;
}

void OnDestroy(HWND window) {
  if (HWND animation = GetDlgItem(window, kAnimationChildId))
    SendMessageA(animation, ACM_OPENA, 0, 0);  // closes the clip
  delete g_ui.bar.exchange(nullptr);
}

// Sizes the window to its children and centres it by its client area.
void LayOut(HWND window) {
  HWND animation = GetDlgItem(window, kAnimationChildId);
  HWND bar = GetDlgItem(window, kProgressBarChildId);
  const int animationMargin = g_ui.animationMargin.load();
  const int barMargin = g_ui.barMargin.load();
  if (animation) {
    RECT a = {};
    GetWindowRect(animation, &a);
    const int aw = a.right - a.left, ah = a.bottom - a.top;
    int width, height;
    if (bar) {
      RECT b = {};
      GetWindowRect(bar, &b);
      const int bw = b.right - b.left, bh = b.bottom - b.top;
      width = std::max(aw + 2 * animationMargin, bw + 2 * barMargin) +
              GetSystemMetrics(SM_CXFRAME) + 2;
      height = ah + animationMargin + bh + 2 * barMargin + GetSystemMetrics(SM_CYFRAME) + 2;
    } else {
      // Without a bar the animation still needs its margins below and to the right; leaving
      // them out (and the 2) would cut off the bottom of the clip.
      width = aw + 2 * animationMargin + GetSystemMetrics(SM_CXFRAME) + 2;
      height = ah + 2 * animationMargin + GetSystemMetrics(SM_CYFRAME) + 2;
    }
    SetWindowPos(window, nullptr, 0, 0, width, height, SWP_NOZORDER | SWP_NOMOVE);
  }
  RECT client = {};
  GetClientRect(window, &client);
  const int x = GetSystemMetrics(SM_CXSCREEN) / 2 - (client.right - client.left) / 2;
  const int y = GetSystemMetrics(SM_CYSCREEN) / 2 - (client.bottom - client.top) / 2;
  SetWindowPos(window, HWND_TOP, x, y, 0, 0, SWP_NOSIZE);
}

}  // namespace

void RegisterProgressWindowClass(HINSTANCE instance, int iconId) {
  g_ui.instance.store(instance);
  WNDCLASSEXA wc = {};
  wc.cbSize = sizeof(wc);
  wc.style = CS_HREDRAW | CS_VREDRAW;
  wc.lpfnWndProc = AniProgressWndProc;
  wc.hInstance = instance;
  if (iconId != 0) {
    wc.hIcon = LoadIconA(instance, MAKEINTRESOURCEA(iconId));
    wc.hIconSm = LoadIconA(instance, MAKEINTRESOURCEA(iconId));
  }
  wc.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_BTNFACE + 1));
  wc.lpszClassName = "AniProgressClass";
  RegisterClassExA(&wc);
}

int StartProgressThread(int animationId, const char* title, int animationMargin, int barMargin,
                        int barWidth, int barHeight) {
  g_ui.animationId.store(animationId);
  g_ui.title.store(title);
  g_ui.animationMargin.store(animationMargin);
  g_ui.barMargin.store(barMargin);
  g_ui.barWidth.store(barWidth);
  g_ui.barHeight.store(barHeight);
  g_ui.state.store(-1);
  if (g_ui.thread != nullptr) return 0;  // one window per process

  // A WM_QUIT posted before the UI thread has a message queue would be lost, and the stop would
  // then have to kill the thread. So wait (bounded) until it has its window and queue, or died.
  // A start whose thread could not be made left its event.
  if (HANDLE old = g_ui.ready.exchange(nullptr)) CloseHandle(old);
  HANDLE ready = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  g_ui.ready.store(ready);
  DWORD id = 0;
  HANDLE thread = CreateThread(nullptr, 0, ProgressThreadProc, nullptr, 0, &id);
  if (!thread) return 0;  // not reported: the progress calls find no window and do nothing
  g_ui.thread = thread;
  g_ui.threadId = id;
  if (ready != nullptr) {
    HANDLE waitFor[2] = {ready, thread};
    WaitForMultipleObjects(2, waitFor, FALSE, kReadyWaitMs);
  }
  return 0;
}

void SetProgressRange(int total) {
  g_ui.state.store(total);
  if (HWND window = g_ui.window.load()) {
    SendMessageTimeoutA(window, kSetRangeMessage, static_cast<WPARAM>(static_cast<uint32_t>(total)),
                        0, SMTO_NORMAL | SMTO_ABORTIFHUNG, kSendTimeoutMs, nullptr);
  }
}

void AdvanceProgress(int delta) {
  if (HWND window = g_ui.window.load()) {
    SendMessageTimeoutA(window, kAdvanceMessage, static_cast<WPARAM>(static_cast<uint32_t>(delta)),
                        0, SMTO_NORMAL | SMTO_ABORTIFHUNG, kSendTimeoutMs, nullptr);
  }
}

void StopProgressThread() {
  // Another thread's window cannot be destroyed from here; this only matters if the caller is
  // the UI thread itself. The window goes away with its thread.
  if (HWND window = g_ui.window.load()) DestroyWindow(window);
  HANDLE thread = g_ui.thread;
  if (!thread) return;
  PostThreadMessageA(g_ui.threadId, WM_QUIT, 0, 0);
  if (WaitForSingleObject(thread, kStopWaitMs) != WAIT_OBJECT_0) {
    // A thread that does not end is left to run, never terminated: killed, it could hold the
    // heap's lock (or another) for good, and the next allocation here would wait for ever. The
    // process end takes it. Whatever it may still use stays: its wrapper (only forgotten, so
    // nothing here calls it) and the `ready` event, which it may still set and which must not
    // become another object's handle meanwhile.
    g_ui.bar.store(nullptr);
    g_ui.ready.store(nullptr);
  }
  CloseAndForget(&g_ui.thread);
  g_ui.threadId = 0;
  HANDLE ready = g_ui.ready.exchange(nullptr);
  if (ready != nullptr) CloseHandle(ready);
}

DWORD WINAPI ProgressThreadProc(LPVOID) {
  if (auto hook = g_ui.beforeWindow.load()) hook();
  HWND window = CreateWindowExA(WS_EX_APPWINDOW, "AniProgressClass", g_ui.title.load(),
                                WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT,
                                CW_USEDEFAULT, nullptr, nullptr, g_ui.instance.load(), nullptr);
  DWORD exitCode = 0;
  MSG msg;
  if (!window) {
    exitCode = GetLastError();
    // Make sure the thread has its message queue before it says it is ready.
    PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE);
  } else {
    g_ui.window.store(window);
    SetWindowLongA(window, GWL_STYLE,
                   static_cast<LONG>(GetWindowLongA(window, GWL_STYLE) & kFrameStyleMask));
    LayOut(window);
    ShowWindow(window, SW_SHOWNORMAL);
    UpdateWindow(window);
  }
  if (HANDLE ready = g_ui.ready.load()) SetEvent(ready);
  if (auto hook = g_ui.beforeLoop.load()) hook();

  // GetMessageA answers -1 on an error; that must end the loop too, not spin it.
  while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
  }
  // Destroy the window here, on its own thread, so that WM_DESTROY closes the clip and deletes
  // the wrapper; the system would otherwise destroy it silently when the thread ends.
  if (window && IsWindow(window)) DestroyWindow(window);
  return exitCode;
}

LRESULT CALLBACK AniProgressWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_CREATE:
      return OnCreate(window);
    case WM_DESTROY:
      OnDestroy(window);
      DefWindowProcA(window, message, wParam, lParam);
      return 0;
    case WM_NCHITTEST:
      return HTCAPTION;  // the whole window drags like a caption; the frame does not resize
    case kSetRangeMessage:
      if (ProgressBar* bar = g_ui.bar.load()) {
        bar->SetRange(static_cast<uint32_t>(wParam));
        bar->SetPos(0);
      }
      return 0;
    case kAdvanceMessage:
      if (ProgressBar* bar = g_ui.bar.load()) bar->Advance(static_cast<int32_t>(wParam));
      return 0;
    default:
      return DefWindowProcA(window, message, wParam, lParam);
  }
}

void SetProgressTestHooks(const ProgressTestHooks& hooks) {
  g_ui.beforeWindow.store(hooks.beforeWindow);
  g_ui.beforeLoop.store(hooks.beforeLoop);
}

HWND ProgressWindowForTesting() { return g_ui.window.load(); }
const ProgressBar* ProgressBarForTesting() { return g_ui.bar.load(); }
int ProgressBarWidthForTesting() { return g_ui.barWidth.load(); }

}  // namespace sfx
