// Wildcard matching and zero-ended scans, and the library's version mark.
#pragma once

#include "platform/types.h"

namespace nsk {

// 2 the text matches the pattern ("*" any run, "?" one byte, ASCII letters without regard to
// case unless exact_case is given and not 0); 0 no match; -1 no text, -2 no pattern,
// -3 negative text length, -4 negative pattern length.
INT STRINGMATCH(const char* text, INT text_length, const char* pattern, INT pattern_length,
                const INT* exact_case = nullptr);

// The first byte from start on that equals the low-order byte of test_char, or the first zero
// byte.  *stopped_at_zero (when given): -1 when the scan ended on a zero byte, else 0.
const char* EXTSCANUNTIL(const char* start, INT test_char, INT* stopped_at_zero = nullptr);
char* EXTSCANUNTIL(char* start, INT test_char, INT* stopped_at_zero = nullptr);

// The first byte from start on that differs from test_char, or the first zero byte.
const char* EXTSCANWHILE(const char* start, INT test_char, INT* stopped_at_zero = nullptr);
char* EXTSCANWHILE(char* start, INT test_char, INT* stopped_at_zero = nullptr);

// Does nothing; carries the library's version mark.
void LIBVERSION();

}  // namespace nsk
