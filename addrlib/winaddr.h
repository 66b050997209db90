// Device classification and the window address through SPI (Telnet server), SETPARAM (GEMINI
// server) or SETPARAM 1 (X.25 window).
#pragma once

#include "platform/types.h"

namespace nsk {

// All parameters optional (nullptr omitted).  Returns 0, 590 (also for a name without its
// length), or class * 4096 + (error mod 4096) as a signed 16-bit value; the low 12 bits of a
// negative (SPI) error are kept as they are.
INT GETWINADDR(const char* termname, const INT* termname_length, char* address,
               const INT* address_max, INT* address_length, INT* devicetype,
               const INT* close_flag = nullptr, char* port = nullptr, const INT* port_max = nullptr,
               INT* port_length = nullptr, char* address2 = nullptr,
               const INT* address2_max = nullptr, INT* address2_length = nullptr,
               char* port2 = nullptr, const INT* port2_max = nullptr,
               INT* port2_length = nullptr);

// The device type behind the node-and-destination piece of name; -1 when it cannot be found.
INT DEVTYPE(const char* name, INT length);

// This process's own open of name: *filenum its number, or -1 when there is none.  On an error
// *filenum is left as it was.
INT OPENNUM(const char* name, INT length, INT* filenum, INT* nowait = nullptr);

// The 14-word token map of the Telnet server's window record and the two field offsets in it;
// shared by the SPI request of GETWINADDR and of TRACETOMYIPADDRESS.
extern const INT WINDOW_TOKEN_MAP[14];
constexpr int WINDOW_RECORD_LENGTH = 454;
constexpr int WINDOW_ADDRESS2_OFFSET = 150;
constexpr int WINDOW_ADDRESS_OFFSET = 190;
constexpr int WINDOW_FIELD_LENGTH = 40;

}  // namespace nsk
