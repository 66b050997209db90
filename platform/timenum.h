// Time and number conversion.
#pragma once

#include "platform/types.h"

namespace nsk {

// Microseconds since the Julian epoch (4713 B.C. January 1, 12:00 GMT), from the real clock.
// type 0: the current GMT time; other types (clocks this platform does not keep) give -1.
INT64 JULIANTIMESTAMP(INT type = 0);

// Converts a Julian timestamp; direction 0 (default) GMT to local civil time of the host's
// time zone (TZ as it is at the call), 1 GMT to local standard time, 2 local civil to GMT,
// 3 local standard to GMT.  node is ignored (every node keeps the host's zone).  *error 0, -1
// for a timestamp outside years 1 to 9999, -2 for another direction; on an error the timestamp
// comes back unchanged.
INT64 CONVERTTIMESTAMP(INT64 julian_timestamp, std::optional<INT> direction = {},
                       std::optional<INT> node = {}, INT* error = nullptr);

// Splits a Julian timestamp into year, month, day, hour, minute, second, millisecond,
// microsecond (8 words; proleptic Gregorian calendar).  Returns the Julian day number, or -1
// (nothing written) for a timestamp outside years 1 to 9999.
INT32 INTERPRETTIMESTAMP(INT64 julian_timestamp, INT* date_and_time /*[8]*/);

// Writes dnumber in base (2 to 10) into buffer (capacity maxlen).  width 0 or omitted: as many
// digits as needed, a minus sign first when negative; width n: exactly n digits, leading zeros.
// A number with more digits than width keeps its low-order digits; a negative number gets a
// minus sign before them.  Returns the number of bytes written, or 0 when they do not fit or
// base or width are bad (nothing written then).
INT DNUMOUT(char* buffer, INT maxlen, INT32 dnumber, INT base = 10, std::optional<INT> width = {});

// Reads a signed number (optional + or -, then digits of base 2 to 10) from at most length
// bytes, up to the first byte that is not a digit.  *status 0 a number was read (only then is
// *signed_result written), -1 no digits, 1 beyond 32 bits.  Returns the number of bytes used.
INT DNUMIN(const char* ascii_num, INT length, INT32* signed_result, INT base, INT* status);

}  // namespace nsk
