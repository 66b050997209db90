// Constructors of the open kinds (internal to the platform): each file holding a kind gives the
// file system one entry point that makes an open of it.
#pragma once

#include <memory>
#include <string>

#include "platform/fileclass.h"
#include "platform/openfile.h"

namespace nsk {

// A terminal: bound to a real tty when its emulator names one, else scripted (its output may
// still be a tty).
INT open_terminal(const files::Target& target, INT access, std::unique_ptr<OpenFile>* file);
INT open_tty_terminal(const files::Target& target, const std::string& tty_path, INT access,
                      std::unique_ptr<OpenFile>* file);

// The node's SPI control point $ZNET.#ZSPI with its simulated Telnet server.
std::unique_ptr<OpenFile> open_control_point(const std::string& name);

// A process open: writes are accepted and discarded.
std::unique_ptr<OpenFile> open_process(const std::string& name);

// A disk file at path that is neither key-sequenced nor an EDIT file.  Error 11 when missing.
INT open_unstructured(const std::string& path, const std::string& name, INT access,
                      std::unique_ptr<OpenFile>* file);

// An EDIT file at path (must exist); refuses one whose content is not text with 59.
INT open_edit(const std::string& path, const std::string& name, INT access,
              std::unique_ptr<OpenFile>* file);

// SETPARAM answers of a window: X.25 function 1, GEMINI 200, 201, 205, 206, 207.
INT window_setparam(const node::Destination& destination, const node::Terminal& terminal,
                    INT function, char* answer, INT answer_max, INT* count);

// Guardian security word of SETMODE 1 as a Linux mode (owner always read-write).
unsigned security_mode(INT security);

}  // namespace nsk
