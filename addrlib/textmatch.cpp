// Wildcard matching, the two zero-ended scans, and the library's version mark.
#include "addrlib/textmatch.h"

namespace nsk {

namespace {

constexpr bool is_ascii_letter(unsigned char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

}  // namespace

INT STRINGMATCH(const char* text, INT text_length, const char* pattern, INT pattern_length,
                const INT* exact_case) {
  if (text == nullptr) return -1;
  if (pattern == nullptr) return -2;
  if (text_length < 0) return -3;
  if (pattern_length < 0) return -4;

  // MATCH compares from the ends: i text bytes and j pattern bytes are still unconsumed.
  // 0 is success; a star recurses once per byte it may stand for, so the depth is the number of
  // stars plus one.
  struct Matcher {
    const unsigned char* text;
    const unsigned char* pattern;
    bool fold_case;

    bool agree(unsigned char p, unsigned char t) const {
      if (p == '?' || p == t) return true;
      return fold_case && is_ascii_letter(p) && is_ascii_letter(t) && (p ^ t) == 32;
    }

    INT MATCH(int i, int j) const {
      while (j > 0) {
        const unsigned char p = pattern[j - 1];
        if (p == '*') {
          for (;; --i) {
            if (MATCH(i, j - 1) == 0) return 0;
            if (i == 0) return 1;
          }
        }
        if (i == 0) return 1;
        if (!agree(p, text[i - 1])) return 1;
        --i;
        --j;
      }
      return i == 0 ? 0 : 1;
    }
  };

  const Matcher matcher{reinterpret_cast<const unsigned char*>(text),
                        reinterpret_cast<const unsigned char*>(pattern),
                        exact_case == nullptr || *exact_case == 0};
  return matcher.MATCH(text_length, pattern_length) == 0 ? 2 : 0;
}

namespace {

// Both scans test each byte for zero before comparing it, so a zero byte always ends them.
template <bool stop_on_equal>
const char* scan(const char* start, INT test_char, INT* stopped_at_zero) {
  if (stopped_at_zero != nullptr) *stopped_at_zero = 0;
  const char wanted = static_cast<char>(test_char & 0xFF);
  for (const char* at = start;; ++at) {
    if (*at == 0) {
      if (stopped_at_zero != nullptr) *stopped_at_zero = -1;
      return at;
    }
    if ((*at == wanted) == stop_on_equal) return at;
  }
}

}  // namespace

const char* EXTSCANUNTIL(const char* start, INT test_char, INT* stopped_at_zero) {
  return scan<true>(start, test_char, stopped_at_zero);
}

char* EXTSCANUNTIL(char* start, INT test_char, INT* stopped_at_zero) {
  return const_cast<char*>(scan<true>(start, test_char, stopped_at_zero));
}

const char* EXTSCANWHILE(const char* start, INT test_char, INT* stopped_at_zero) {
  return scan<false>(start, test_char, stopped_at_zero);
}

char* EXTSCANWHILE(char* start, INT test_char, INT* stopped_at_zero) {
  return const_cast<char*>(scan<false>(start, test_char, stopped_at_zero));
}

void LIBVERSION() {
  // The version mark is the name of an empty procedure that nothing calls; "used" keeps it in
  // every program that contains the library, where nm shows it.
  struct LIBVERSION_MARK {
    [[gnu::used, gnu::noinline]] static void T4410K03_NLXLIB261_29MAR2010() {}
  };
}

}  // namespace nsk
