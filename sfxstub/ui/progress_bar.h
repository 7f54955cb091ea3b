// ProgressBar: a thin wrapper over a common-controls progress bar ("msctls_progress32") that is a
// child of some window. It forwards range, position, relative advance and marquee to the control
// as its own messages and style bit, and keeps its own copy of the position so that a relative
// advance never has to ask the control.
//
// The range is unsigned 32-bit (the extraction announces a byte total that can exceed 2 GiB).
// The control's own range is a signed int, so a range above INT32_MAX is shown halved: the
// control gets the range and every position shifted right by one bit. The wrapper's own numbers
// stay exact; position arithmetic wraps modulo 2^32 instead of overflowing.
//
// The calls send messages, so they may come from any thread: each waits until the bar's thread
// has handled it. The wrapper owns no window and no drawing object.
#ifndef SFXSTUB_UI_PROGRESS_BAR_H_
#define SFXSTUB_UI_PROGRESS_BAR_H_

#include <windows.h>

#include <cstdint>

namespace sfx {

class ProgressBar {
 public:
  // Set in flags() while the marquee runs.
  static constexpr uint32_t kMarqueeFlag = 0x1000;

  // Wraps the child of `parent` with id `childId` (null window if there is none: the calls then
  // only update the wrapper's own numbers). Position 0, range 0..100, no marquee.
  ProgressBar(HWND parent, int childId);
  ProgressBar(const ProgressBar&) = delete;
  ProgressBar& operator=(const ProgressBar&) = delete;
  virtual ~ProgressBar();

  // Range 0..upper (PBM_SETRANGE32). The control is not told the position again: follow with
  // SetPos when the scale may have changed.
  void SetRange(uint32_t upper);
  // Ends the marquee and shows `position` (PBM_SETPOS).
  void SetPos(uint32_t position);
  // Ends the marquee and shows the wrapper's position plus `delta`.
  void Advance(int32_t delta);
  // Adds PBS_MARQUEE to the style and starts the marquee (PBM_SETMARQUEE 1, period).
  void StartMarquee(uint32_t periodMs);
  // Removes PBS_MARQUEE and stops the marquee (PBM_SETMARQUEE 0); also when none runs.
  void StopMarquee();

  HWND window() const { return window_; }
  uint32_t flags() const { return flags_; }
  uint32_t position() const { return position_; }
  uint32_t upper() const { return upper_; }

 private:
  // How far the range and positions are shifted before they reach the control.
  unsigned shift() const { return upper_ > 0x7FFFFFFFu ? 1 : 0; }
  void ShowPosition();

  HWND window_;
  uint32_t flags_ = 0;
  uint32_t position_ = 0;
  uint32_t upper_ = 100;
};

// Registers the window class "ProgressBarClass" for `instance` (CS_OWNDC | CS_DBLCLKS,
// DefWindowProcA, arrow cursor, nothing else) unless it is registered already. Returns 1 if the
// class is there afterwards, else 0.
int RegisterProgressBarClass(HINSTANCE instance);

}  // namespace sfx

#endif  // SFXSTUB_UI_PROGRESS_BAR_H_
