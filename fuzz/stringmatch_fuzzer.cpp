// Fuzz target: STRINGMATCH against a plain dynamic-programming matcher of the same rules ("*" any
// run, "?" one byte, ASCII letters without regard to case unless the exact-case flag is given).
// Input: one byte of options (bit 0 exact case), one byte n, then n bytes of text (cut to what
// is there) and the pattern.  The matcher backtracks, so texts are cut to 64 bytes and patterns
// with more than 4 stars are skipped: the cost stays below 64^4 steps.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "addrlib/textmatch.h"

namespace fuzz_stringmatch {

constexpr std::size_t TEXT_MAX = 64;
constexpr std::size_t PATTERN_MAX = 64;
constexpr int STARS_MAX = 4;

bool letter(unsigned char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

bool agree(unsigned char p, unsigned char t, bool exact) {
  if (p == '?' || p == t) return true;
  return !exact && letter(p) && letter(t) && (p ^ 0x20) == t;
}

// match[i][j]: the first i text bytes match the first j pattern bytes.
bool reference(const unsigned char* text, std::size_t n, const unsigned char* pattern,
               std::size_t m, bool exact) {
  std::vector<std::vector<char>> match(n + 1, std::vector<char>(m + 1, 0));
  match[0][0] = 1;
  for (std::size_t j = 1; j <= m; ++j) match[0][j] = pattern[j - 1] == '*' && match[0][j - 1];
  for (std::size_t i = 1; i <= n; ++i) {
    for (std::size_t j = 1; j <= m; ++j) {
      const unsigned char p = pattern[j - 1];
      if (p == '*') {
        match[i][j] = match[i][j - 1] || match[i - 1][j];
      } else {
        match[i][j] = agree(p, text[i - 1], exact) && match[i - 1][j - 1];
      }
    }
  }
  return match[n][m] != 0;
}

}  // namespace fuzz_stringmatch

#ifndef NETLOC_FUZZ_ENTRY
#define NETLOC_FUZZ_ENTRY LLVMFuzzerTestOneInput
#endif

extern "C" int NETLOC_FUZZ_ENTRY(const std::uint8_t* data, std::size_t size) {
  using namespace fuzz_stringmatch;
  if (size < 2) return 0;
  const bool exact = (data[0] & 1) != 0;
  const std::size_t text_length = std::min<std::size_t>({data[1], size - 2, TEXT_MAX});
  const std::size_t pattern_length = std::min(size - 2 - text_length, PATTERN_MAX);
  const unsigned char* pattern_bytes = data + 2 + text_length;
  if (std::count(pattern_bytes, pattern_bytes + pattern_length, '*') > STARS_MAX) return 0;

  // Exact-size heap copies: a read past either shows under AddressSanitizer.
  const std::unique_ptr<char[]> text(new char[text_length]);
  const std::unique_ptr<char[]> pattern(new char[pattern_length]);
  std::memcpy(text.get(), data + 2, text_length);
  std::memcpy(pattern.get(), pattern_bytes, pattern_length);
  const nsk::INT exact_flag = 1;
  const nsk::INT result =
      nsk::STRINGMATCH(text.get(), static_cast<nsk::INT>(text_length), pattern.get(),
                       static_cast<nsk::INT>(pattern_length), exact ? &exact_flag : nullptr);
  const bool expected = reference(data + 2, text_length, pattern_bytes, pattern_length, exact);
  if (result != (expected ? 2 : 0)) abort();
  return 0;
}
