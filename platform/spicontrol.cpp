// The node's SPI control point $ZNET.#ZSPI and the Telnet server that answers behind it.  The
// server takes one request per write-read: the attributes of a window (command 3 on object
// type 25), checked field by field.  A request built right gets a reply with return code 0 and
// the window record; any other gets a reply with a non-zero return code and no record.  The
// reply comes after the node's SPI delay, or never when the control point is silent.
#include <algorithm>
#include <array>
#include <cctype>
#include <cstring>
#include <vector>

#include "platform/fileclass.h"
#include "platform/names.h"
#include "platform/openkinds.h"
#include "platform/spibuffer.h"
#include "platform/terminal.h"

namespace nsk {
namespace {

using namespace spibuf;

// Return codes of the server (docs/spi.md).
enum RetCode : INT {
  SERVED = 0,
  NOT_A_BUFFER = 1,
  WRONG_SSID = 2,
  WRONG_HEADER = 3,
  WRONG_WINDOW = 4,
  WRONG_SERVER_NAME = 5,
  WRONG_VALUE = 6,
  WRONG_TOKEN = 7,
  REPLY_TOO_LONG = 8,
};

constexpr INT32 TKN_WINDOW_NAME = 0x01FF2706;
constexpr INT32 TKN_SERVER_NAME = 0x1920FF0D;
constexpr INT32 TKN_MINUS_TWO = 0x0B0226FD;
constexpr INT32 TKN_ZERO = 0x0202FE0A;
constexpr INT32 TKN_WINDOW_RECORD = 0x08FF000C;
constexpr int RECORD_LENGTH = 454;
constexpr int ADDRESS2_OFFSET = 150;
constexpr int ADDRESS_OFFSET = 190;
constexpr int FIELD_LENGTH = 40;
constexpr int SERVER_NAME_LENGTH = 32;
constexpr INT TELNET_SUBSYSTEM = 91;
constexpr INT TELNET_VERSION = 0x4801;
constexpr INT GET_ATTRIBUTES = 3;
constexpr INT WINDOW_OBJECT = 25;

std::string upper(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
  return text;
}

std::string padded(std::string text, size_t length, char pad) {
  text.resize(length, pad);
  return text;
}

// A 40-byte field: the node's raw bytes, or address, one blank and the port, blank-padded.
std::string field(const std::string& address, const std::string& port,
                  const std::optional<std::string>& raw) {
  if (raw) return padded(*raw, FIELD_LENGTH, '\0');
  return padded(address + ' ' + port, FIELD_LENGTH, ' ');
}

std::string window_record(const node::Terminal& terminal) {
  std::string record(RECORD_LENGTH, '\0');
  record.replace(ADDRESS2_OFFSET, FIELD_LENGTH,
                 field(terminal.address2, terminal.port2, terminal.address2_field_raw));
  record.replace(ADDRESS_OFFSET, FIELD_LENGTH,
                 field(terminal.address, terminal.port, terminal.address_field_raw));
  return record;
}

// The tokens of a request, each taken at most once.
struct Request {
  std::string window_name;
  std::string server_name;
  std::optional<INT> minus_two, zero;
  bool window_seen = false, server_seen = false;
};

std::string value_bytes(const INT* buffer, const Token& token) {
  return std::string(reinterpret_cast<const char*>(buffer) + token.value_offset,
                     static_cast<size_t>(token.value_size));
}

// Takes one token into the request; false for a token the server does not know or a repeat.
bool take_token(const INT* buffer, const Token& token, Request* request) {
  const std::string value = value_bytes(buffer, token);
  switch (token.code) {
    case TKN_WINDOW_NAME:
      if (request->window_seen) return false;
      request->window_seen = true;
      request->window_name = value.substr(2);
      return true;
    case TKN_SERVER_NAME:
      if (request->server_seen) return false;
      request->server_seen = true;
      request->server_name = value;
      return true;
    case TKN_MINUS_TWO:
    case TKN_ZERO: {
      std::optional<INT>& slot = token.code == TKN_ZERO ? request->zero : request->minus_two;
      if (slot) return false;
      INT word;
      std::memcpy(&word, value.data(), sizeof word);
      slot = word;
      return true;
    }
    default:
      return false;
  }
}

RetCode check_header(const INT* buffer) {
  static const char OWNER[8] = {'T', 'A', 'N', 'D', 'E', 'M', ' ', ' '};
  if (std::memcmp(buffer + SSID, OWNER, sizeof OWNER) != 0 || buffer[SSID + 4] != TELNET_SUBSYSTEM ||
      buffer[SSID + 5] != TELNET_VERSION) {
    return WRONG_SSID;
  }
  if (buffer[HEADER_TYPE] != 0 || buffer[COMMAND] != GET_ATTRIBUTES ||
      buffer[OBJECT_TYPE] != WINDOW_OBJECT || buffer[MAX_FIELD_VERSION] != 1) {
    return WRONG_HEADER;
  }
  return SERVED;
}

RetCode collect_tokens(const INT* buffer, Request* request) {
  bool broken = false;
  for (int at = HEADER_BYTES;;) {
    const std::optional<Token> token = token_at(buffer, at, &broken);
    if (!token) return broken ? NOT_A_BUFFER : SERVED;
    if (!take_token(buffer, *token, request)) return WRONG_TOKEN;
    at = next_offset(*token);
  }
}

// The window the request names: a terminal of a Telnet server (device type 46) of this node,
// named without the node.
const node::Terminal* named_window(const std::string& local_name) {
  if (local_name.empty() || local_name.front() != '$') return nullptr;
  files::Target target;
  if (files::classify(local_name.data(), static_cast<INT>(local_name.size()), &target) != 0 ||
      target.kind != files::Kind::Terminal ||
      target.destination->device_type != node::DEVICE_TELNET) {
    return nullptr;
  }
  return target.terminal;
}

// Node name (8 bytes), the first 8 bytes of the window's internal name, 16 blanks.
std::optional<std::string> expected_server_name(const std::string& local_name) {
  char internal[24];
  if (FILENAME_TO_OLDFILENAME_(local_name.data(), static_cast<INT>(local_name.size()),
                               internal) != 0) {
    return std::nullopt;
  }
  return padded(upper(node::current().name), 8, ' ') + std::string(internal, 8) +
         std::string(16, ' ');
}

RetCode check_request(const INT* buffer, const node::Terminal** window) {
  if (!valid(buffer)) return NOT_A_BUFFER;
  if (const RetCode code = check_header(buffer)) return code;
  Request request;
  if (const RetCode code = collect_tokens(buffer, &request)) return code;
  *window = named_window(upper(request.window_name));
  if (*window == nullptr) return WRONG_WINDOW;
  const std::optional<std::string> server = expected_server_name(request.window_name);
  if (!server || !request.server_seen ||
      upper(request.server_name) != *server) {
    return WRONG_SERVER_NAME;
  }
  if (request.minus_two != INT{-2} || request.zero != INT{0}) return WRONG_VALUE;
  return SERVED;
}

// A reply buffer of capacity bytes in the layout of spibuffer.h.
class Reply {
 public:
  Reply(const INT* request, int capacity)
      : words_(static_cast<size_t>(std::max(capacity, HEADER_BYTES) / 2 + 1), 0) {
    words_[BUFFER_LENGTH] = static_cast<INT>(capacity & ~1);
    words_[USED_LENGTH] = HEADER_BYTES;
    words_[SIGNATURE] = SIGNATURE_VALUE;
    std::memcpy(words_.data() + SSID, request + SSID, SPI_SSID_WORDS * 2);
    words_[COMMAND] = request[COMMAND];
    words_[OBJECT_TYPE] = request[OBJECT_TYPE];
  }

  // Appends a token; false when it does not fit.
  bool put(INT32 code, const std::string& value) {
    const int used = words_[USED_LENGTH];
    const int size = static_cast<int>(value.size());
    const int total = 4 + size + size % 2;
    if (used + total > words_[BUFFER_LENGTH]) return false;
    char* at = reinterpret_cast<char*>(words_.data()) + used;
    const INT code_words[2] = {static_cast<INT>(static_cast<std::uint32_t>(code) >> 16),
                               static_cast<INT>(code & 0xFFFF)};
    std::memcpy(at, code_words, sizeof code_words);
    std::memcpy(at + 4, value.data(), value.size());
    words_[USED_LENGTH] = static_cast<INT>(used + total);
    return true;
  }

  std::string bytes(int capacity) const {
    const int n = std::min<int>(words_[USED_LENGTH], capacity);
    return std::string(reinterpret_cast<const char*>(words_.data()), static_cast<size_t>(n));
  }

 private:
  std::vector<INT> words_;
};

std::string word_bytes(INT value) { return std::string(reinterpret_cast<const char*>(&value), 2); }

std::string counted(const std::string& value) {
  return word_bytes(static_cast<INT>(value.size())) + value;
}

// The server's answer to request (write_count bytes), at most read_count bytes.
std::string serve(const char* request_bytes, INT write_count, INT read_count) {
  std::vector<INT> request(static_cast<size_t>(std::max<int>(write_count, HEADER_BYTES) / 2 + 1), 0);
  std::memcpy(request.data(), request_bytes, static_cast<size_t>(write_count));
  const node::Terminal* window = nullptr;
  RetCode code = NOT_A_BUFFER;
  if (write_count >= HEADER_BYTES && request[USED_LENGTH] <= write_count) {
    code = check_request(request.data(), &window);
  }
  Reply reply(request.data(), read_count);
  const int record_space = 4 + 2 + RECORD_LENGTH;
  if (code == SERVED && read_count < HEADER_BYTES + 6 + record_space) code = REPLY_TOO_LONG;
  reply.put(ZSPI_TKN_RETCODE, word_bytes(code));
  if (code == SERVED) reply.put(TKN_WINDOW_RECORD, counted(window_record(*window)));
  return reply.bytes(read_count);
}

class ControlPoint : public OpenFile {
 public:
  void typeinfo(INT* words) override {
    words[0] = 0;
    words[1] = 0;
    words[2] = -1;
    words[3] = -1;
    words[4] = 0;
  }

  INT writeread(char* buffer, INT write_count, INT read_count, INT* count) override {
    start_writeread(buffer, write_count, read_count);
    bool pending = false;
    return complete(std::nullopt, count, &pending);
  }

  INT start_writeread(char* buffer, INT write_count, INT read_count) override {
    const node::Spi& spi = node::current().spi;
    reply_ = serve(buffer, write_count, read_count);
    buffer_ = buffer;
    error_ = static_cast<INT>(spi.exchange_error);
    due_.reset();
    if (!spi.silent) due_ = Clock::now() + std::chrono::microseconds(scaled_wait_us(spi.delay_cs));
    return 0;
  }

  INT complete(std::optional<std::int64_t> limit_us, INT* count, bool* pending) override {
    if (done_at_start_) return OpenFile::complete(limit_us, count, pending);
    *count = 0;
    const std::optional<Clock::time_point> deadline = deadline_after(limit_us);
    if (!due_ || (deadline && *due_ > *deadline)) {
      sleep_until(deadline);
      *pending = true;
      return err::TIMEOUT;
    }
    sleep_until(std::max(*due_, Clock::now()));
    *pending = false;
    if (error_ != 0) return error_;
    std::memcpy(buffer_, reply_.data(), reply_.size());
    *count = static_cast<INT>(reply_.size());
    return 0;
  }

 private:
  std::string reply_;
  char* buffer_ = nullptr;
  INT error_ = 0;
  std::optional<Clock::time_point> due_;
};

}  // namespace

std::unique_ptr<OpenFile> open_control_point(const std::string& /*name*/) {
  return std::make_unique<ControlPoint>();
}

}  // namespace nsk
