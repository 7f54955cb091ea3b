// The times pack gives the listed files in the catalog (the stub sets each extracted file's
// time to it). By default a file's modification time; with SOURCE_DATE_EPOCH in the
// environment, that time clamped to it, as reproducible-build tools do (a fresh checkout gives
// every file the time of the checkout, so without a clamp no two builds agree); with --mtime,
// one time for every listed file. --mtime wins over SOURCE_DATE_EPOCH.
#ifndef SFXSTUB_TOOLS_SFXPACK_LISTED_TIMES_H_
#define SFXSTUB_TOOLS_SFXPACK_LISTED_TIMES_H_

#include <cstdint>
#include <string>

#include "tools/sfxpack/status.h"

namespace sfxpack {

struct ListedTimes {
  enum class Mode { kModification, kClamped, kFixed };
  Mode mode = Mode::kModification;
  uint32_t time = 0;  // the clamp (kClamped) or the one time (kFixed)
};

// The times from --mtime's value (empty: not given) and SOURCE_DATE_EPOCH's (null: not set; an
// empty one counts as not set). A malformed value is a usage error, never ignored.
Status ChooseListedTimes(const std::string& mtime, const char* sourceDateEpoch, ListedTimes* times);

// The catalog time of the file at `path`, modified at `mtime` (seconds since 1970). Fails when
// the time it would get does not fit the catalog's u32 (1970..2106).
Status ListedTime(const ListedTimes& times, int64_t mtime, const std::string& path, uint32_t* time);

// TIME as --mtime takes it: seconds since 1970 ("1700000000" or "@1700000000"), or a date and
// time in UTC ("2024-05-01", "2024-05-01T12:30:00Z", "2024-05-01 12:30"). Within 1970..2106.
Status ParseTime(const std::string& text, uint32_t* seconds);

}  // namespace sfxpack

#endif  // SFXSTUB_TOOLS_SFXPACK_LISTED_TIMES_H_
