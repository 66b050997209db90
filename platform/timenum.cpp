// Time and number conversion: Julian timestamps from the real clock, local civil time of the
// host's time zone, and decimal text.
#include "platform/timenum.h"

#include <time.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>

#include "platform/faults.h"

namespace nsk {
namespace {

constexpr INT64 US_PER_SECOND = 1000000;
constexpr INT64 SECONDS_PER_DAY = 86400;
constexpr INT64 US_PER_DAY = SECONDS_PER_DAY * US_PER_SECOND;
constexpr INT64 HALF_DAY_US = US_PER_DAY / 2;  // the Julian day begins at noon

// Julian day number of a Gregorian date (proleptic).
constexpr INT64 day_number(INT64 year, INT64 month, INT64 day) {
  const INT64 a = (14 - month) / 12;
  const INT64 y = year + 4800 - a;
  const INT64 m = month + 12 * a - 3;
  return day + (153 * m + 2) / 5 + 365 * y + y / 4 - y / 100 + y / 400 - 32045;
}

// Julian timestamp of midnight GMT at the start of a Gregorian date.
constexpr INT64 midnight(INT64 year, INT64 month, INT64 day) {
  return day_number(year, month, day) * US_PER_DAY - HALF_DAY_US;
}

constexpr INT64 UNIX_EPOCH = midnight(1970, 1, 1);
static_assert(UNIX_EPOCH == 210866760000000000);
// Timestamps from 1 January of year 1 to the end of year 9999 are converted.
constexpr INT64 FIRST_VALID = midnight(1, 1, 1);
constexpr INT64 LAST_VALID = midnight(10000, 1, 1) - 1;

constexpr INT CONVERT_BAD_TIMESTAMP = -1;
constexpr INT CONVERT_BAD_DIRECTION = -2;

bool in_range(INT64 ts) { return ts >= FIRST_VALID && ts <= LAST_VALID; }

INT64 floor_div(INT64 a, INT64 b) { return a / b - ((a % b != 0) && ((a < 0) != (b < 0)) ? 1 : 0); }

// Seconds east of GMT of local civil time at the Unix second t.
INT64 local_offset(INT64 t) {
  const time_t when = static_cast<time_t>(t);
  struct tm fields;
  if (::localtime_r(&when, &fields) == nullptr) return 0;
  return fields.tm_gmtoff;
}

INT64 gmt_to_civil(INT64 ts) {
  return ts + local_offset(floor_div(ts - UNIX_EPOCH, US_PER_SECOND)) * US_PER_SECOND;
}

// The offset at the wall-clock time taken as GMT, refined once at the instant it gives, so that
// times next to a change of offset come out right.
INT64 civil_to_gmt(INT64 ts) {
  const INT64 wall = floor_div(ts - UNIX_EPOCH, US_PER_SECOND);
  const INT64 guess = local_offset(wall);
  return ts - local_offset(wall - guess) * US_PER_SECOND;
}

INT64 standard_offset_us() { return -static_cast<INT64>(::timezone) * US_PER_SECOND; }

}  // namespace

INT64 JULIANTIMESTAMP(INT type) {
  if (type != 0) return -1;  // the cold-load and other clocks of the platform are not kept
  struct timespec now;
  ::clock_gettime(CLOCK_REALTIME, &now);
  return UNIX_EPOCH + static_cast<INT64>(now.tv_sec) * US_PER_SECOND + now.tv_nsec / 1000;
}

INT64 CONVERTTIMESTAMP(INT64 julian_timestamp, std::optional<INT> direction,
                       std::optional<INT> /*node*/, INT* error) {
  INT e = fault::injected("CONVERTTIMESTAMP");
  INT64 result = julian_timestamp;
  if (e == 0 && !in_range(julian_timestamp)) e = CONVERT_BAD_TIMESTAMP;
  if (e == 0) {
    ::tzset();  // follow TZ as it is now
    switch (direction.value_or(0)) {
      case 0: result = gmt_to_civil(julian_timestamp); break;
      case 1: result = julian_timestamp + standard_offset_us(); break;
      case 2: result = civil_to_gmt(julian_timestamp); break;
      case 3: result = julian_timestamp - standard_offset_us(); break;
      default: e = CONVERT_BAD_DIRECTION;
    }
  }
  if (error != nullptr) *error = e;
  return e == 0 ? result : julian_timestamp;
}

INT32 INTERPRETTIMESTAMP(INT64 julian_timestamp, INT* date_and_time) {
  if (!in_range(julian_timestamp)) return -1;
  const INT64 shifted = julian_timestamp + HALF_DAY_US;  // days from midnight
  const INT64 jdn = shifted / US_PER_DAY;
  INT64 us = shifted % US_PER_DAY;
  // Julian day number to Gregorian date (Richards' algorithm).
  const INT64 f = jdn + 1401 + (((4 * jdn + 274277) / 146097) * 3) / 4 - 38;
  const INT64 e = 4 * f + 3;
  const INT64 h = 5 * ((e % 1461) / 4) + 2;
  const INT64 day = (h % 153) / 5 + 1;
  const INT64 month = (h / 153 + 2) % 12 + 1;
  const INT64 year = e / 1461 - 4716 + (14 - month) / 12;
  if (date_and_time != nullptr) {
    const INT64 values[8] = {year,
                             month,
                             day,
                             us / (3600 * US_PER_SECOND),
                             us / (60 * US_PER_SECOND) % 60,
                             us / US_PER_SECOND % 60,
                             us / 1000 % 1000,
                             us % 1000};
    for (int i = 0; i < 8; ++i) date_and_time[i] = static_cast<INT>(values[i]);
  }
  return static_cast<INT32>(jdn);
}

INT DNUMOUT(char* buffer, INT maxlen, INT32 dnumber, INT base, std::optional<INT> width) {
  if (fault::injected("DNUMOUT") != 0) return 0;
  const INT digits_wanted = width.value_or(0);
  if (buffer == nullptr || maxlen < 0 || base < 2 || base > 10 || digits_wanted < 0) return 0;
  INT64 magnitude = dnumber < 0 ? -static_cast<INT64>(dnumber) : dnumber;
  std::string digits;
  do {
    digits.insert(digits.begin(), static_cast<char>('0' + magnitude % base));
    magnitude /= base;
  } while (magnitude != 0);
  if (digits_wanted > 0) {
    // Exactly that many digits: leading zeros, or only the low-order digits.
    const auto wanted = static_cast<std::size_t>(digits_wanted);
    digits = digits.size() >= wanted ? digits.substr(digits.size() - wanted)
                                     : std::string(wanted - digits.size(), '0') + digits;
  }
  const std::string text = (dnumber < 0 ? "-" : "") + digits;
  if (text.size() > static_cast<std::size_t>(maxlen)) return 0;
  std::memcpy(buffer, text.data(), text.size());
  return static_cast<INT>(text.size());
}

INT DNUMIN(const char* ascii_num, INT length, INT32* signed_result, INT base, INT* status) {
  INT ignored = 0;
  INT* out_status = status != nullptr ? status : &ignored;
  if (INT e = fault::injected("DNUMIN")) {
    *out_status = e;
    return 0;
  }
  *out_status = -1;
  if (ascii_num == nullptr || signed_result == nullptr || length <= 0 || base < 2 || base > 10) {
    return 0;
  }
  INT at = 0;
  const bool negative = ascii_num[0] == '-';
  if (ascii_num[0] == '-' || ascii_num[0] == '+') ++at;
  const INT first_digit = at;
  // Capped just above any 32-bit magnitude, so that long digit runs cannot overflow.
  constexpr INT64 CAP = INT64{INT32_MAX} + 2;
  INT64 value = 0;
  for (; at < length && ascii_num[at] >= '0' && ascii_num[at] < '0' + base; ++at) {
    value = std::min(value * base + (ascii_num[at] - '0'), CAP);
  }
  if (at == first_digit) return 0;
  if (value > INT64{INT32_MAX} + (negative ? 1 : 0)) {
    *out_status = 1;
    return at;
  }
  *signed_result = static_cast<INT32>(negative ? -value : value);
  *out_status = 0;
  return at;
}

}  // namespace nsk
