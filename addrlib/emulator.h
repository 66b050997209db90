// The terminal emulator's answer to the escape-sequence query, and the address syntax check.
#pragma once

#include "platform/types.h"

namespace nsk {

// One requested reply field: buffer, capacity, length out.  A field is extracted when its
// buffer is given (then capacity and length are required).
struct ReplyField {
  char* buffer = nullptr;
  INT capacity = 0;
  INT* length = nullptr;
};

// Parameters 3 to 20 are the six fields; wait_time in hundredths of a second (omitted, 0 or
// negative: 50); drain given and not 0 drains pending input first; response_time receives the
// microseconds the answer took.  Returns 0, 1 (no answer) or a file-system error; 590 before
// anything is opened when a field's buffer comes without its length.
INT GETMACHINEUSER(const char* termname, INT termname_length,
                   char* field1 = nullptr, INT field1_max = 0, INT* field1_length = nullptr,
                   char* field2 = nullptr, INT field2_max = 0, INT* field2_length = nullptr,
                   char* field3 = nullptr, INT field3_max = 0, INT* field3_length = nullptr,
                   char* field4 = nullptr, INT field4_max = 0, INT* field4_length = nullptr,
                   char* field5 = nullptr, INT field5_max = 0, INT* field5_length = nullptr,
                   char* field6 = nullptr, INT field6_max = 0, INT* field6_length = nullptr,
                   std::optional<INT32> wait_time = {}, std::optional<INT> drain = {},
                   INT64* response_time = nullptr);

// -1 when the text has the form of a dotted IPv4 address (wildcards "?" and "*" admitted).
INT IPADDRESSSYNTAXOK(const char* text, INT length);

}  // namespace nsk
