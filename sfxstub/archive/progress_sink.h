// Where the extraction reports its progress. The stub wires it to the progress window's
// SetProgressRange and AdvanceProgress; tests record the calls; without a window nothing happens.
#ifndef SFXSTUB_ARCHIVE_PROGRESS_SINK_H_
#define SFXSTUB_ARCHIVE_PROGRESS_SINK_H_

#include <cstdint>

namespace sfx {

class ProgressSink {
 public:
  virtual ~ProgressSink() = default;
  // The total of the bytes about to be extracted, announced once before the first file.
  virtual void SetProgressRange(int32_t total) = 0;
  // A file of `delta` bytes has been written completely.
  virtual void AdvanceProgress(int32_t delta) = 0;
};

// Does nothing; the default when nobody watches.
class NullProgressSink : public ProgressSink {
 public:
  void SetProgressRange(int32_t) override {}
  void AdvanceProgress(int32_t) override {}
};

}  // namespace sfx

#endif  // SFXSTUB_ARCHIVE_PROGRESS_SINK_H_
