// The progress window: a small frameless window, centred on the screen, with a looping animation
// (child 1000, "SysAnimate32") and below it a progress bar (child 1001, "msctls_progress32"),
// living on a thread of its own (the UI thread). There is at most one per process; the functions
// below work on one process-wide state. Call them from one thread (the main thread), in this
// order:
//
//   RegisterProgressWindowClass(instance, 1);
//   RegisterProgressBarClass(instance);            // progress_bar.h
//   StartProgressThread(129, "Setup", 6, 6, 0, 15);
//   SetProgressRange(total); AdvanceProgress(delta)...
//   StopProgressThread();
//
// Without StartProgressThread (quiet mode) SetProgressRange only records its value and the other
// calls do nothing. The bar runs as a marquee until SetProgressRange; then it is determinate and
// AdvanceProgress moves it by the given amount.
//
// Thread safety of the bar: the main thread never touches the UI thread's ProgressBar wrapper.
// SetProgressRange and AdvanceProgress send private messages to the progress window, and its
// window procedure drives the wrapper on the UI thread. If the window is gone (the user closed
// it), the send fails harmlessly, so nothing can use a wrapper that WM_DESTROY has deleted. The
// sends give up after a few seconds if the UI thread does not answer, so a hung window cannot
// stall the extraction.
//
// The executable must carry the stub's resources (sfxstub/res: the "AVI" clip and the manifest
// that selects common controls 6, for the marquee) and call InitCommonControls first.
#ifndef SFXSTUB_UI_PROGRESS_UI_H_
#define SFXSTUB_UI_PROGRESS_UI_H_

#include <windows.h>

#include <cstdint>

namespace sfx {

class ProgressBar;

constexpr int kAnimationChildId = 1000;
constexpr int kProgressBarChildId = 1001;

// Remembers `instance` (used for the window, its children and the animation resource) and
// registers the class "AniProgressClass" with the icon `iconId` of that instance (none for 0).
// A failed registration is not reported.
void RegisterProgressWindowClass(HINSTANCE instance, int iconId);

// Records the layout and a wanted bar (marquee) and, unless the UI thread already runs, starts
// it. Returns once the thread has made its window and message queue (or after a few seconds if
// it has not), so that a stop right afterwards is never lost. `title` must outlive the window;
// `barWidth` 0 derives the width from the animation. Always returns 0.
int StartProgressThread(int animationId, const char* title, int animationMargin, int barMargin,
                        int barWidth, int barHeight);

// Announces the total (read as unsigned 32-bit); the bar turns determinate at position 0. Before
// the window reads it, 0 means "no bar" and any other value the bar's initial range.
void SetProgressRange(int total);

// Moves the bar by `delta` (relative). Ends the marquee.
void AdvanceProgress(int delta);

// Asks the UI thread to end (WM_QUIT) and waits up to 3000 ms. A thread that does not answer is
// left running, never terminated (it could be holding the heap's lock), and ends with the
// process; what it owns stays with it. A second call does nothing further.
void StopProgressThread();

// The UI thread's routine and the progress window's procedure (exposed for tests).
DWORD WINAPI ProgressThreadProc(LPVOID);
LRESULT CALLBACK AniProgressWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// Test seams: functions the UI thread calls just before it creates its window and just before
// its message loop (null: none).
struct ProgressTestHooks {
  void (*beforeWindow)() = nullptr;
  void (*beforeLoop)() = nullptr;
};
void SetProgressTestHooks(const ProgressTestHooks& hooks);
// The progress window of the last start (stays set after it is gone), the current wrapper
// (null when none exists) and the layout's bar width (derived by the UI thread when 0).
HWND ProgressWindowForTesting();
const ProgressBar* ProgressBarForTesting();
int ProgressBarWidthForTesting();

}  // namespace sfx

#endif  // SFXSTUB_UI_PROGRESS_UI_H_
