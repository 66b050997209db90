// SPI: building and reading the token buffers of subsystem requests (docs/spi.md gives the
// buffer layout).  A buffer is an array of 16-bit words; word 1 is its length in bytes.
#pragma once

#include "platform/types.h"

namespace nsk {

constexpr int SPI_SSID_WORDS = 6;  // owner (8 bytes), subsystem number, version

// Token codes used by the program.  A token code's second byte is the value's length in bytes;
// 0xFF means a variable-length value that begins with its 16-bit length.
constexpr INT32 ZSPI_TKN_BUFLEN = 0x0902FE4C;
constexpr INT32 ZSPI_TKN_USEDLEN = 0x0902FE08;
constexpr INT32 ZSPI_TKN_RESET_BUFFER = 0x0B020000;

// Starts a request in buffer: header with ssid, header type, command, object type and the
// maximum field version.  Errors: -8 buffer too small (the SPI error numbers are in docs/spi.md).
INT SSINIT(INT* buffer, INT buffer_length, const INT* ssid, INT header_type, INT command,
           INT object_type = 0, INT max_field_version = 0);

// Appends a token (or, for the header tokens BUFLEN and RESET_BUFFER, sets the header).
INT SSPUTTKN(INT* buffer, INT32 token_id, const void* token_value = nullptr);

// Reads a header token (USEDLEN, BUFLEN) or the index-th occurrence of a token into
// token_value (capacity value_max bytes).
INT SSGETTKN(INT* buffer, INT32 token_id, void* token_value, INT value_max,
             std::optional<INT> index = {});

// Reads the index-th structured token described by token_map (its first two words the map's
// token code) into token_value (capacity value_max bytes).
INT SSGET(INT* buffer, const INT* token_map, void* token_value, INT value_max,
          std::optional<INT> index = {});

}  // namespace nsk
