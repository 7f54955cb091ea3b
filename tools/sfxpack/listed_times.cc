#include "tools/sfxpack/listed_times.h"

#include <cstdio>
#include <ctime>

namespace sfxpack {
namespace {

constexpr uint64_t kLastTime = 0xFFFFFFFFull;

// A run of decimal digits only, at most kLastTime.
bool ParseSeconds(const std::string& text, uint32_t* seconds) {
  if (text.empty() || text.size() > 10) return false;
  uint64_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + static_cast<uint64_t>(c - '0');
  }
  if (value > kLastTime) return false;
  *seconds = static_cast<uint32_t>(value);
  return true;
}

// "YYYY-MM-DD", then optionally "THH:MM" or " HH:MM", ":SS" and "Z"; a real date of the calendar.
bool ParseDate(const std::string& text, uint32_t* seconds) {
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0, used = 0;
  if (std::sscanf(text.c_str(), "%4d-%2d-%2d%n", &year, &month, &day, &used) != 3) return false;
  std::string rest = text.substr(static_cast<size_t>(used));
  if (!rest.empty() && (rest[0] == 'T' || rest[0] == ' ')) {
    int more = 0;
    if (std::sscanf(rest.c_str() + 1, "%2d:%2d%n:%2d%n", &hour, &minute, &more, &second, &more) < 2) {
      return false;
    }
    rest = rest.substr(1 + static_cast<size_t>(more));
  }
  if (rest == "Z") rest.clear();
  if (!rest.empty() || hour > 23 || minute > 59 || second > 59) return false;
  std::tm parts = {};
  parts.tm_year = year - 1900;
  parts.tm_mon = month - 1;
  parts.tm_mday = day;
  parts.tm_hour = hour;
  parts.tm_min = minute;
  parts.tm_sec = second;
  const time_t value = timegm(&parts);
  // timegm moves a day that does not exist (February 30) into the next month: refused.
  if (parts.tm_mday != day || parts.tm_mon != month - 1 || value < 0 ||
      static_cast<uint64_t>(value) > kLastTime) {
    return false;
  }
  *seconds = static_cast<uint32_t>(value);
  return true;
}

}  // namespace

Status ParseTime(const std::string& text, uint32_t* seconds) {
  const std::string digits = !text.empty() && text[0] == '@' ? text.substr(1) : text;
  if (ParseSeconds(digits, seconds) || ParseDate(text, seconds)) return Status::Ok();
  return Status::Error("'" + text + "' is no time: give seconds since 1970 (1700000000 or "
                       "@1700000000) or a UTC date and time (2024-05-01T12:30:00Z), between 1970 "
                       "and 2106");
}

Status ChooseListedTimes(const std::string& mtime, const char* sourceDateEpoch, ListedTimes* times) {
  if (!mtime.empty()) {
    times->mode = ListedTimes::Mode::kFixed;
    return ParseTime(mtime, &times->time).Within("--mtime: ");
  }
  if (!sourceDateEpoch || !*sourceDateEpoch) {
    times->mode = ListedTimes::Mode::kModification;
    return Status::Ok();
  }
  times->mode = ListedTimes::Mode::kClamped;
  if (!ParseSeconds(sourceDateEpoch, &times->time)) {
    return Status::Error(std::string("SOURCE_DATE_EPOCH='") + sourceDateEpoch +
                         "' is not a number of seconds since 1970 (1970..2106)");
  }
  return Status::Ok();
}

Status ListedTime(const ListedTimes& times, int64_t mtime, const std::string& path, uint32_t* time) {
  if (times.mode == ListedTimes::Mode::kFixed) {
    *time = times.time;
    return Status::Ok();
  }
  if (times.mode == ListedTimes::Mode::kClamped && mtime > times.time) mtime = times.time;
  if (mtime < 0 || static_cast<uint64_t>(mtime) > kLastTime) {
    return Status::Error("modification time of " + path +
                         " does not fit the catalog (1970..2106); --mtime gives every listed file one time");
  }
  *time = static_cast<uint32_t>(mtime);
  return Status::Ok();
}

}  // namespace sfxpack
