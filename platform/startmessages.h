// The start-up and PARAM messages of this process (internal to the platform): start_platform
// builds them from the command line and the node; INITIALIZER hands them over.  Words in the
// messages are big-endian, as on the platform.
#pragma once

#include <string>
#include <vector>

#include "platform/node.h"

namespace nsk::startmsg {

// Exit status of a command line that cannot become a start-up message.
constexpr int EXIT_USAGE = 64;

// Longest parameter text: the message's 530 bytes hold the text and its zero byte.
constexpr std::size_t PARAM_TEXT_MAX = 529;

// Builds the start-up message for the arguments after the program name:
//   [/OUT/ | /OUT name/ | /OUT name/ split over arguments] [start-up text ...]
// Uses the current node's [self] for the defaults and the home terminal.  On a usage error
// returns false and sets *error to one line (without the program name).
bool build_startup(const std::vector<std::string>& args, std::string* message, std::string* error);

// The PARAM message of self's params; empty when there are none.
std::string build_param(const node::Self& self);

// The messages that INITIALIZER delivers; param empty: no PARAM message.  Without a call,
// INITIALIZER delivers the messages of a run without arguments on the current node.
void set_messages(std::string startup, std::string param);

}  // namespace nsk::startmsg
