// The SPI request for a window's record, sent to the window's Telnet server through the
// subsystem control point of the window's node; used by GETWINADDR and TRACETOMYIPADDRESS,
// which number the failures of its steps differently.
#pragma once

#include "addrlib/winaddr.h"
#include "platform/types.h"

namespace nsk {

constexpr int SPI_BUFFER_BYTES = 900;
constexpr int SPI_VALUE_AREA_BYTES = 900;

// The steps of the request in their order.  A caller turns the failed step into its own class.
enum class SpiStep : INT {
  OpenSpiFile = 0,
  OldFileName,      // the window's local name to its internal form
  Init,             // SSINIT
  PutWindow,        // SSPUTTKN of the window name
  PutServer,        // SSPUTTKN of the server's network name
  PutMinusTwo,      // SSPUTTKN of the value -2
  PutZero,          // SSPUTTKN of the value 0
  GetUsedLength,    // SSGETTKN of the used length
  Exchange,         // WRITEREADX, completed within 30 seconds
  PutBufferLength,  // SSPUTTKN of the buffer length, before reading the reply
  PutReset,         // SSPUTTKN of the reset token
  GetRecord,        // SSGET of the window record
};

// The working storage of one request: the SPI file of the node (found among the process's
// opens, or opened here and then left open for later calls), the request buffer and the value
// area that receives the window record.
struct SpiWindowRequest {
  INT spi_filenum = -1;
  INT nowait = 0;
  INT opened_here = 0;  // -1 once this request has opened the SPI file itself
  INT buffer[SPI_BUFFER_BYTES / 2] = {};
  char value_area[SPI_VALUE_AREA_BYTES] = {};  // zero bytes beyond the record

  // Sends the request about window (an external name with its node) and leaves the window
  // record in value_area.  Returns 0, or the error of the step stored in *failed_step.
  INT send(const char* window, INT window_length, SpiStep* failed_step);
};

// A 40-byte text field of the window record, copied with two zero bytes after it so that a
// scan for its end, and for the port after it, always ends inside the copy.
struct WindowField {
  char bytes[WINDOW_FIELD_LENGTH + 2] = {};
  WindowField(const char* value_area, int offset);
  // Bytes from the start up to, not including, the first blank or zero byte.
  INT text_length() const;
};

// Copies min(length, *maximum) bytes of text to out and stores that count; an omitted or
// negative maximum delivers nothing.
void deliver_text(const char* text, INT length, char* out, const INT* maximum, INT* out_length);

}  // namespace nsk
