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
// The return code a server puts into its reply (16-bit: 0 the request was served).
constexpr INT32 ZSPI_TKN_RETCODE = 0x0202FE01;

// SPI errors (negative, as the SPI procedures return them; docs/spi.md).
namespace spierr {
constexpr INT INVALID_BUFFER = -1;   // not a buffer SSINIT made, or its tokens are broken
constexpr INT ILLEGAL_PARAM = -2;    // a value out of range, or a value area too small
constexpr INT MISSING_PARAM = -3;    // a required parameter omitted
constexpr INT BUFFER_FULL = -5;      // the token (or the header) does not fit
constexpr INT TOKEN_NOT_FOUND = -8;  // no such token (or no index-th occurrence)
constexpr INT ILLEGAL_TOKEN = -9;    // a token code or map not valid for this procedure
}  // namespace spierr

// Starts a request in buffer: header with ssid, header type, command, object type and the
// maximum field version.  Errors: -5 buffer too small, -3 no buffer or ssid.
INT SSINIT(INT* buffer, INT buffer_length, const INT* ssid, INT header_type, INT command,
           INT object_type = 0, INT max_field_version = 0);

// Appends a token (or, for the header tokens BUFLEN and RESET_BUFFER, sets the header).  A
// variable-length value is a 16-bit count followed by the bytes.
INT SSPUTTKN(INT* buffer, INT32 token_id, const void* token_value = nullptr);

// Reads a header token (USEDLEN, BUFLEN) or the index-th occurrence of a token into
// token_value (capacity value_max bytes).
INT SSGETTKN(INT* buffer, INT32 token_id, void* token_value, INT value_max,
             std::optional<INT> index = {});

// Reads the index-th structured token described by token_map (its first two words the map's
// token code, word 2 the record length) into token_value, cut to value_max bytes.
INT SSGET(INT* buffer, const INT* token_map, void* token_value, INT value_max,
          std::optional<INT> index = {});

}  // namespace nsk
