// The layout of an SPI buffer (internal to the platform; docs/spi.md).  A buffer is an array of
// 16-bit words: a 16-word header, then the tokens.  Shared by the SPI procedures and the
// simulated Telnet server behind the node's control point.
#pragma once

#include <cstdint>
#include <cstring>
#include <optional>

#include "platform/spi.h"
#include "platform/types.h"

namespace nsk::spibuf {

// Header words.
constexpr int HEADER_TYPE = 0;
constexpr int BUFFER_LENGTH = 1;  // bytes
constexpr int USED_LENGTH = 2;    // bytes, header included
constexpr int SSID = 3;           // 6 words
constexpr int COMMAND = 9;
constexpr int OBJECT_TYPE = 10;
constexpr int MAX_FIELD_VERSION = 11;
constexpr int SIGNATURE = 12;     // SIGNATURE_VALUE in every buffer SSINIT made
constexpr int POSITION = 13;      // reserved for the reading position (RESET_BUFFER clears it)
constexpr int HEADER_WORDS = 16;
constexpr int HEADER_BYTES = HEADER_WORDS * 2;
constexpr INT SIGNATURE_VALUE = 0x5350;  // "SP"

constexpr INT VARIABLE_LENGTH = 0xFF;

// The value length in a token code (its second byte); VARIABLE_LENGTH for a counted value.
inline int code_length(INT32 code) { return static_cast<int>((code >> 16) & 0xFF); }

inline INT word_at(const INT* buffer, int byte_offset) {
  INT w;
  std::memcpy(&w, reinterpret_cast<const char*>(buffer) + byte_offset, sizeof w);
  return w;
}

// The header is sound: signature, used length within the buffer length, both even.
inline bool valid(const INT* buffer) {
  const int length = buffer[BUFFER_LENGTH];
  const int used = buffer[USED_LENGTH];
  return buffer[SIGNATURE] == SIGNATURE_VALUE && used >= HEADER_BYTES && used <= length &&
         used % 2 == 0;
}

// One token of a buffer: its code and where its value lies (for a counted value, the count
// word included).
struct Token {
  INT32 code = 0;
  int value_offset = 0;  // bytes from the buffer's start
  int value_size = 0;    // bytes
};

// The token at byte offset at; nullopt when the buffer ends there or the token overruns the
// used length (*broken then tells the second).
inline std::optional<Token> token_at(const INT* buffer, int at, bool* broken) {
  *broken = false;
  const int used = buffer[USED_LENGTH];
  if (at + 4 > used) {
    *broken = at != used;
    return std::nullopt;
  }
  Token token;
  token.code = static_cast<INT32>((static_cast<std::uint32_t>(static_cast<std::uint16_t>(word_at(buffer, at))) << 16) |
                                  static_cast<std::uint16_t>(word_at(buffer, at + 2)));
  token.value_offset = at + 4;
  const int length = code_length(token.code);
  if (length == VARIABLE_LENGTH) {
    if (at + 6 > used) {
      *broken = true;
      return std::nullopt;
    }
    const INT count = word_at(buffer, at + 4);
    token.value_size = count < 0 ? -1 : 2 + count;
  } else {
    token.value_size = length;
  }
  if (token.value_size < 0 || token.value_offset + token.value_size > used) {
    *broken = true;
    return std::nullopt;
  }
  return token;
}

// Offset of the token after token (values are padded to an even length).
inline int next_offset(const Token& token) {
  return token.value_offset + token.value_size + (token.value_size % 2);
}

}  // namespace nsk::spibuf
