// The SPI procedures over the buffer layout of spibuffer.h.
#include "platform/spi.h"

#include <algorithm>
#include <cstring>

#include "platform/faults.h"
#include "platform/spibuffer.h"

namespace nsk {
namespace {

using namespace spibuf;

char* bytes(INT* buffer) { return reinterpret_cast<char*>(buffer); }

// The index-th token of code in buffer (index from 1); 0 or the SPI error.
INT find_token(const INT* buffer, INT32 code, int index, Token* found) {
  int seen = 0;
  bool broken = false;
  for (int at = HEADER_BYTES;;) {
    const std::optional<Token> token = token_at(buffer, at, &broken);
    if (!token) return broken ? spierr::INVALID_BUFFER : spierr::TOKEN_NOT_FOUND;
    if (token->code == code && ++seen == index) {
      *found = *token;
      return 0;
    }
    at = next_offset(*token);
  }
}

INT header_token(INT* buffer, INT32 token_id, const void* token_value) {
  if (token_value == nullptr) return spierr::MISSING_PARAM;
  INT value;
  std::memcpy(&value, token_value, sizeof value);
  if (token_id == ZSPI_TKN_RESET_BUFFER) {
    buffer[POSITION] = 0;
    return 0;
  }
  if (value < buffer[USED_LENGTH]) return spierr::ILLEGAL_PARAM;
  buffer[BUFFER_LENGTH] = value;
  return 0;
}

}  // namespace

INT SSINIT(INT* buffer, INT buffer_length, const INT* ssid, INT header_type, INT command,
           INT object_type, INT max_field_version) {
  if (const INT error = fault::injected("SSINIT")) return error;
  if (buffer == nullptr || ssid == nullptr) return spierr::MISSING_PARAM;
  if (buffer_length < HEADER_BYTES) return spierr::BUFFER_FULL;
  std::memset(buffer, 0, HEADER_BYTES);
  buffer[HEADER_TYPE] = header_type;
  buffer[BUFFER_LENGTH] = static_cast<INT>(buffer_length & ~1);
  buffer[USED_LENGTH] = HEADER_BYTES;
  std::memcpy(buffer + SSID, ssid, SPI_SSID_WORDS * 2);
  buffer[COMMAND] = command;
  buffer[OBJECT_TYPE] = object_type;
  buffer[MAX_FIELD_VERSION] = max_field_version;
  buffer[SIGNATURE] = SIGNATURE_VALUE;
  return 0;
}

INT SSPUTTKN(INT* buffer, INT32 token_id, const void* token_value) {
  if (const INT error = fault::injected("SSPUTTKN")) return error;
  if (buffer == nullptr) return spierr::MISSING_PARAM;
  if (!valid(buffer)) return spierr::INVALID_BUFFER;
  if (token_id == ZSPI_TKN_BUFLEN || token_id == ZSPI_TKN_RESET_BUFFER) {
    return header_token(buffer, token_id, token_value);
  }
  if (token_id == ZSPI_TKN_USEDLEN) return spierr::ILLEGAL_TOKEN;
  const int length = code_length(token_id);
  if (token_value == nullptr && length != 0) return spierr::MISSING_PARAM;
  int size = length;
  if (length == VARIABLE_LENGTH) {
    INT count;
    std::memcpy(&count, token_value, sizeof count);
    if (count < 0) return spierr::ILLEGAL_PARAM;
    size = 2 + count;
  }
  const int used = buffer[USED_LENGTH];
  const int total = 4 + size + size % 2;
  if (used + total > buffer[BUFFER_LENGTH]) return spierr::BUFFER_FULL;
  const INT words[2] = {static_cast<INT>(static_cast<std::uint32_t>(token_id) >> 16),
                        static_cast<INT>(token_id & 0xFFFF)};
  std::memcpy(bytes(buffer) + used, words, sizeof words);
  if (size > 0) std::memcpy(bytes(buffer) + used + 4, token_value, static_cast<size_t>(size));
  if (size % 2 != 0) bytes(buffer)[used + 4 + size] = 0;
  buffer[USED_LENGTH] = static_cast<INT>(used + total);
  return 0;
}

INT SSGETTKN(INT* buffer, INT32 token_id, void* token_value, INT value_max,
             std::optional<INT> index) {
  if (const INT error = fault::injected("SSGETTKN")) return error;
  if (buffer == nullptr || token_value == nullptr) return spierr::MISSING_PARAM;
  if (!valid(buffer)) return spierr::INVALID_BUFFER;
  if (token_id == ZSPI_TKN_USEDLEN || token_id == ZSPI_TKN_BUFLEN) {
    if (value_max < 2) return spierr::ILLEGAL_PARAM;
    const INT value = buffer[token_id == ZSPI_TKN_USEDLEN ? USED_LENGTH : BUFFER_LENGTH];
    std::memcpy(token_value, &value, sizeof value);
    return 0;
  }
  const int which = index.value_or(1);
  if (which < 1) return spierr::ILLEGAL_PARAM;
  Token token;
  if (const INT error = find_token(buffer, token_id, which, &token)) return error;
  if (token.value_size > value_max) return spierr::ILLEGAL_PARAM;
  std::memcpy(token_value, bytes(buffer) + token.value_offset,
              static_cast<size_t>(token.value_size));
  return 0;
}

INT SSGET(INT* buffer, const INT* token_map, void* token_value, INT value_max,
          std::optional<INT> index) {
  if (const INT error = fault::injected("SSGET")) return error;
  if (buffer == nullptr || token_map == nullptr || token_value == nullptr) {
    return spierr::MISSING_PARAM;
  }
  if (!valid(buffer)) return spierr::INVALID_BUFFER;
  const INT32 map_code = static_cast<INT32>(
      (static_cast<std::uint32_t>(static_cast<std::uint16_t>(token_map[0])) << 16) |
      static_cast<std::uint16_t>(token_map[1]));
  const int record_length = token_map[2];
  if (code_length(map_code) != VARIABLE_LENGTH || record_length <= 0) {
    return spierr::ILLEGAL_TOKEN;
  }
  const int which = index.value_or(1);
  if (which < 1) return spierr::ILLEGAL_PARAM;
  Token token;
  if (const INT error = find_token(buffer, map_code, which, &token)) return error;
  const int stored = token.value_size - 2;
  const int n = std::min({stored, record_length, std::max<int>(value_max, 0)});
  std::memcpy(token_value, bytes(buffer) + token.value_offset + 2, static_cast<size_t>(n));
  return 0;
}

}  // namespace nsk
