// The extraction's progress reports, shown in the progress window: forwards to SetProgressRange
// and AdvanceProgress (which do nothing when no window was started).
#ifndef SFXSTUB_UI_WINDOW_PROGRESS_SINK_H_
#define SFXSTUB_UI_WINDOW_PROGRESS_SINK_H_

#include "sfxstub/archive/progress_sink.h"
#include "sfxstub/ui/progress_ui.h"

namespace sfx {

class WindowProgressSink : public ProgressSink {
 public:
  void SetProgressRange(int32_t total) override { sfx::SetProgressRange(total); }
  void AdvanceProgress(int32_t delta) override { sfx::AdvanceProgress(delta); }
};

}  // namespace sfx

#endif  // SFXSTUB_UI_WINDOW_PROGRESS_SINK_H_
