// The SPI request for a window's record: the tokens that the Telnet server's window attribute
// request carries, the exchange through the node's control point, and the record taken out of
// the reply.
#include "addrlib/spirequest.h"

#include <algorithm>
#include <cstring>

#include "addrlib/textmatch.h"
#include "addrlib/winaddr.h"
#include "platform/filesystem.h"
#include "platform/names.h"
#include "platform/spi.h"

namespace nsk {

namespace {

constexpr int NODENAME_MAX = 8;
constexpr int NAME_MAX = 36;
constexpr char CONTROL_POINT[] = "$ZNET.#ZSPI";
constexpr int CONTROL_POINT_LEN = sizeof CONTROL_POINT - 1;
constexpr INT32 EXCHANGE_LIMIT = 3000;  // 30 seconds

// Telnet server subsystem: owner, number, version.
constexpr char SSID_OWNER[8] = {'T', 'A', 'N', 'D', 'E', 'M', ' ', ' '};
constexpr INT SSID_NUMBER = 91;
constexpr INT SSID_VERSION = INT(0x4801);

constexpr INT COMMAND_WINDOW_ATTRIBUTES = 3;
constexpr INT OBJECT_WINDOW = 25;
constexpr INT32 TKN_WINDOW_NAME = 0x01FF2706;
constexpr INT32 TKN_SERVER_NAME = 0x1920FF0D;
constexpr INT32 TKN_MINUS_TWO = 0x0B0226FD;
constexpr INT32 TKN_ZERO = 0x0202FE0A;

constexpr int NETWORK_NAME_LEN = 32;

struct Ssid {
  INT words[SPI_SSID_WORDS];
  Ssid() {
    std::memcpy(words, SSID_OWNER, sizeof SSID_OWNER);
    words[4] = SSID_NUMBER;
    words[5] = SSID_VERSION;
  }
};

// A variable-length token value: its 16-bit length, then the bytes.
struct VariableValue {
  char bytes[2 + NAME_MAX] = {};
  VariableValue(const char* text, INT length) {
    std::memcpy(bytes, &length, sizeof length);
    std::memcpy(bytes + 2, text, static_cast<size_t>(length));
  }
};

// The server's network name: the node name, blank-padded to 8 bytes, the first 8 bytes of the
// window's internal local name (the server's process name), and 16 blanks.
void build_network_name(const char* node, INT node_length, const char* internal_name,
                        char* network_name) {
  std::memset(network_name, ' ', NETWORK_NAME_LEN);
  std::memcpy(network_name, node, static_cast<size_t>(std::min<INT>(node_length, 8)));
  std::memcpy(network_name + 8, internal_name, 8);
}

}  // namespace

INT SpiWindowRequest::send(const char* window, INT window_length, SpiStep* failed_step) {
  auto fail = [failed_step](SpiStep step, INT error) {
    *failed_step = step;
    return error;
  };

  char node[NODENAME_MAX];
  INT node_length = 0;
  if (FILENAME_DECOMPOSE_(window, window_length, node, NODENAME_MAX, &node_length, -1) !=
      err::OK) {
    node_length = 0;
  }

  char spi_name[NODENAME_MAX + 1 + CONTROL_POINT_LEN];
  std::memcpy(spi_name, node, static_cast<size_t>(node_length));
  spi_name[node_length] = '.';
  std::memcpy(spi_name + node_length + 1, CONTROL_POINT, CONTROL_POINT_LEN);
  const INT spi_name_length = static_cast<INT>(node_length + 1 + CONTROL_POINT_LEN);

  spi_filenum = -1;
  OPENNUM(spi_name, spi_name_length, &spi_filenum, &nowait);
  if (spi_filenum == -1) {
    const INT error = FILE_OPEN_(spi_name, spi_name_length, &spi_filenum, {}, {}, 1);
    if (error != err::OK) return fail(SpiStep::OpenSpiFile, error);
    nowait = 1;
    opened_here = -1;
  }

  char local_name[NAME_MAX];
  INT local_length = 0;
  if (FILENAME_DECOMPOSE_(window, window_length, local_name, NAME_MAX, &local_length, 0, 1) !=
      err::OK) {
    local_length = 0;
  }
  char internal_name[24];
  INT error = FILENAME_TO_OLDFILENAME_(local_name, local_length, internal_name);
  if (error != err::OK) return fail(SpiStep::OldFileName, error);
  char network_name[NETWORK_NAME_LEN];
  build_network_name(node, node_length, internal_name, network_name);

  const Ssid ssid;
  error = SSINIT(buffer, SPI_BUFFER_BYTES, ssid.words, 0, COMMAND_WINDOW_ATTRIBUTES,
                 OBJECT_WINDOW, 1);
  if (error != err::OK) return fail(SpiStep::Init, error);
  const VariableValue window_value(local_name, local_length);
  error = SSPUTTKN(buffer, TKN_WINDOW_NAME, window_value.bytes);
  if (error != err::OK) return fail(SpiStep::PutWindow, error);
  error = SSPUTTKN(buffer, TKN_SERVER_NAME, network_name);
  if (error != err::OK) return fail(SpiStep::PutServer, error);
  const INT minus_two = -2;
  error = SSPUTTKN(buffer, TKN_MINUS_TWO, &minus_two);
  if (error != err::OK) return fail(SpiStep::PutMinusTwo, error);
  const INT zero = 0;
  error = SSPUTTKN(buffer, TKN_ZERO, &zero);
  if (error != err::OK) return fail(SpiStep::PutZero, error);
  INT used_length = 0;
  error = SSGETTKN(buffer, ZSPI_TKN_USEDLEN, &used_length, sizeof used_length);
  if (error != err::OK) return fail(SpiStep::GetUsedLength, error);

  error = WRITEREADX(spi_filenum, reinterpret_cast<char*>(buffer), used_length,
                     SPI_BUFFER_BYTES);
  if (error == err::OK && nowait != 0) {
    INT fnum = spi_filenum;
    error = AWAITIOX(&fnum, nullptr, nullptr, EXCHANGE_LIMIT);
  }
  if (error == err::OK) FILE_GETINFO_(spi_filenum, &error);
  if (error != err::OK) return fail(SpiStep::Exchange, error);

  // The reply overwrote the request; its header is made whole again before it is read.
  buffer[1] = SPI_BUFFER_BYTES;
  const INT buffer_length = SPI_BUFFER_BYTES;
  error = SSPUTTKN(buffer, ZSPI_TKN_BUFLEN, &buffer_length);
  if (error != err::OK) return fail(SpiStep::PutBufferLength, error);
  error = SSPUTTKN(buffer, ZSPI_TKN_RESET_BUFFER, &zero);
  if (error != err::OK) return fail(SpiStep::PutReset, error);
  error = SSGET(buffer, WINDOW_TOKEN_MAP, value_area, SPI_VALUE_AREA_BYTES, 1);
  if (error != err::OK) return fail(SpiStep::GetRecord, error);
  return err::OK;
}

WindowField::WindowField(const char* value_area, int offset) {
  std::memcpy(bytes, value_area + offset, WINDOW_FIELD_LENGTH);
}

INT WindowField::text_length() const {
  return static_cast<INT>(EXTSCANUNTIL(bytes, ' ') - bytes);
}

void deliver_text(const char* text, INT length, char* out, const INT* maximum, INT* out_length) {
  const INT count = maximum == nullptr ? INT(0) : std::clamp<INT>(*maximum, 0, length);
  std::memcpy(out, text, static_cast<size_t>(count));
  *out_length = count;
}

}  // namespace nsk
