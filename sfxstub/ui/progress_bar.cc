#include "sfxstub/ui/progress_bar.h"

#include <commctrl.h>

namespace sfx {

ProgressBar::ProgressBar(HWND parent, int childId) : window_(GetDlgItem(parent, childId)) {}

// The wrapper owns nothing; the bar window belongs to its parent.
ProgressBar::~ProgressBar() = default;

void ProgressBar::SetRange(uint32_t upper) {
  upper_ = upper;
  SendMessageA(window_, PBM_SETRANGE32, 0, static_cast<LPARAM>(upper_ >> shift()));
}

void ProgressBar::SetPos(uint32_t position) {
  StopMarquee();
  position_ = position;
  ShowPosition();
}

void ProgressBar::Advance(int32_t delta) {
  StopMarquee();
  position_ += static_cast<uint32_t>(delta);  // modulo 2^32: no signed overflow
  ShowPosition();
}

void ProgressBar::StartMarquee(uint32_t periodMs) {
  flags_ |= kMarqueeFlag;
  LONG style = GetWindowLongA(window_, GWL_STYLE);
  SetWindowLongA(window_, GWL_STYLE, style | PBS_MARQUEE);
  SendMessageA(window_, PBM_SETMARQUEE, 1, static_cast<LPARAM>(periodMs));
}

void ProgressBar::StopMarquee() {
  flags_ &= ~kMarqueeFlag;
  LONG style = GetWindowLongA(window_, GWL_STYLE);
  SetWindowLongA(window_, GWL_STYLE, style & ~static_cast<LONG>(PBS_MARQUEE));
  SendMessageA(window_, PBM_SETMARQUEE, 0, 0);
}

void ProgressBar::ShowPosition() {
  SendMessageA(window_, PBM_SETPOS, static_cast<WPARAM>(position_ >> shift()), 0);
}

int RegisterProgressBarClass(HINSTANCE instance) {
  WNDCLASSEXA wc = {};
  wc.cbSize = sizeof(wc);
  if (GetClassInfoExA(instance, "ProgressBarClass", &wc)) return 1;
  wc = {};
  wc.cbSize = sizeof(wc);
  wc.style = CS_OWNDC | CS_DBLCLKS;
  wc.lpfnWndProc = DefWindowProcA;
  wc.hInstance = instance;
  wc.hCursor = LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_ARROW));
  wc.lpszClassName = "ProgressBarClass";
  return RegisterClassExA(&wc) != 0 ? 1 : 0;
}

}  // namespace sfx
