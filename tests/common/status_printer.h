// How GoogleTest shows an archive Status in a failed expectation ("error 1006: the closing
// signature does not verify") instead of its bytes. Include it where tests compare Statuses.
#ifndef SFXSTUB_TESTS_COMMON_STATUS_PRINTER_H_
#define SFXSTUB_TESTS_COMMON_STATUS_PRINTER_H_

#include <ostream>

#include "sfxstub/archive/archive_status.h"

namespace sfx {

inline void PrintTo(const Status& status, std::ostream* os) { *os << status.ToString(); }

}  // namespace sfx

#endif  // SFXSTUB_TESTS_COMMON_STATUS_PRINTER_H_
