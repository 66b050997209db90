// The start-up protocol.  The process's creator hands over a start-up message and, when it has
// PARAMs, a PARAM message; INITIALIZER gives them to the program's routines in that order.
#pragma once

#include "platform/types.h"

namespace nsk {

// Start-up message layout (bytes): 0-1 message code -1; 2-17 default volume and subvolume;
// 18-41 IN file name (internal form); 42-65 OUT file name (internal form, 24 blanks for an empty
// OUT); 66.. parameter text, ended by a zero byte (at most 530 bytes with the zero).
constexpr int STARTUP_MESSAGE_MAX = 596;
constexpr int STARTUP_OUT_OFFSET = 42;
constexpr int STARTUP_PARAM_OFFSET = 66;
constexpr int STARTUP_PARAM_MAX = 530;

// PARAM message: 0-1 message code -3, 2-3 number of PARAMs, then for each: name length (1 byte),
// name, value length (1 byte), value.  At most 1028 bytes.
constexpr int PARAM_MESSAGE_MAX = 1028;

// rucb, passthru, message, message length, match.
using StartupRoutine = void (*)(void* rucb, INT* passthru, const char* message, INT length,
                                INT* match);
using ParamRoutine = void (*)(void* rucb, INT* passthru, const char* message, INT length,
                              INT* match);

// Delivers the start-up message to startup (always) and then the PARAM message to params (only
// when the creator passes PARAMs).  passthru is handed to both.
INT INITIALIZER(void* rucb, INT* passthru, StartupRoutine startup, ParamRoutine params);

}  // namespace nsk
