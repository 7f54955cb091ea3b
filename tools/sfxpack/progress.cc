#include "tools/sfxpack/progress.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>

namespace sfxpack {

Progress::Progress(const std::string& what, uint64_t total, bool quiet)
    : label_(what), total_(total), enabled_(!quiet && ::isatty(STDERR_FILENO) && total > 0) {}

Progress::~Progress() {
  if (enabled_ && shownPercent_ >= 0) std::fprintf(stderr, "\r%*s\r", 60, "");
}

void Progress::Advance(uint64_t bytes) {
  if (!enabled_) return;
  done_ += bytes;
  Show();
}

void Progress::Show() {
  const int percent = static_cast<int>(std::min<uint64_t>(done_, total_) * 100 / total_);
  if (percent == shownPercent_) return;
  shownPercent_ = percent;
  std::fprintf(stderr, "\r%s: %3d%% of %.1f MiB", label_.c_str(), percent,
               static_cast<double>(total_) / (1 << 20));
  std::fflush(stderr);
}

}  // namespace sfxpack
