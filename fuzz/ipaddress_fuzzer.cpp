// Fuzz target: IPADDRESSSYNTAXOK against the rules written out plainly: 7 to 15 bytes, four
// segments separated by ".", each 1 to 3 digits, "?" or "*", and no segment of three digits or
// "?" that begins with 3 to 9.  The text lies in a heap block of exactly its length.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string_view>
#include <vector>

#include "addrlib/emulator.h"

namespace fuzz_ipaddress {

bool segment_ok(std::string_view s) {
  if (s.empty() || s.size() > 3) return false;
  int counted = 0;
  for (char c : s) {
    if (!((c >= '0' && c <= '9') || c == '?' || c == '*')) return false;
    if (c != '*') ++counted;
  }
  return !(counted == 3 && s[0] >= '3' && s[0] <= '9');
}

bool reference(std::string_view text) {
  if (text.size() < 7 || text.size() > 15) return false;
  std::vector<std::string_view> segments;
  std::size_t begin = 0;
  for (std::size_t dot; (dot = text.find('.', begin)) != std::string_view::npos; begin = dot + 1) {
    segments.push_back(text.substr(begin, dot - begin));
  }
  segments.push_back(text.substr(begin));
  if (segments.size() != 4) return false;
  for (std::string_view s : segments) {
    if (!segment_ok(s)) return false;
  }
  return true;
}

}  // namespace fuzz_ipaddress

#ifndef NETLOC_FUZZ_ENTRY
#define NETLOC_FUZZ_ENTRY LLVMFuzzerTestOneInput
#endif

extern "C" int NETLOC_FUZZ_ENTRY(const std::uint8_t* data, std::size_t size) {
  if (size > 64) return 0;
  const std::unique_ptr<char[]> text(new char[size]);
  std::memcpy(text.get(), data, size);
  const nsk::INT result = nsk::IPADDRESSSYNTAXOK(text.get(), static_cast<nsk::INT>(size));
  if (result != nsk::TRUE_ && result != nsk::FALSE_) abort();
  // A zero byte inside the text is where the work copy's end mark would be; the rules above
  // do not speak of it, so such texts are only run, not judged.
  const std::string_view view(text.get(), size);
  if (view.find('\0') == std::string_view::npos &&
      (result == nsk::TRUE_) != fuzz_ipaddress::reference(view)) {
    abort();
  }
  return 0;
}
