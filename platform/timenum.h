// Time and number conversion.
#pragma once

#include "platform/types.h"

namespace nsk {

// Microseconds since the Julian epoch (4713 B.C. January 1, 12:00 GMT), from the real clock.
// type 0: the current GMT time.
INT64 JULIANTIMESTAMP(INT type = 0);

// Converts a Julian timestamp; direction 0 (default) GMT to local civil time of the host's
// time zone, 2 local civil to GMT.  *error 0, or -1 for a timestamp out of range.
INT64 CONVERTTIMESTAMP(INT64 julian_timestamp, std::optional<INT> direction = {},
                       std::optional<INT> node = {}, INT* error = nullptr);

// Splits a Julian timestamp into year, month, day, hour, minute, second, millisecond,
// microsecond (8 words).  Returns the Julian day number.
INT32 INTERPRETTIMESTAMP(INT64 julian_timestamp, INT* date_and_time /*[8]*/);

// Writes dnumber in base (2 to 10) into buffer (capacity maxlen).  width 0 or omitted: as many
// digits as needed, a minus sign first when negative; width n: exactly n digits, leading zeros.
// Returns the number of bytes written, or 0 when they do not fit (nothing written then).
INT DNUMOUT(char* buffer, INT maxlen, INT32 dnumber, INT base = 10, std::optional<INT> width = {});

// Reads a signed decimal number (optional + or -, then digits) from at most length bytes.
// *status 0 a number was read, -1 no digits, 1 overflow.  Returns the number of bytes used.
INT DNUMIN(const char* ascii_num, INT length, INT32* signed_result, INT base, INT* status);

}  // namespace nsk
