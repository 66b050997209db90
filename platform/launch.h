// The Linux entry of a program: what happens before the program's main procedure runs.
#pragma once

namespace nsk {

// Exit status of a run whose node description could not be loaded (nothing else ran).
constexpr int EXIT_BAD_NODE = 4;
// Exit status of an abnormal stop (PROCESS_STOP_ with the abnormal option, no completion code).
constexpr int EXIT_ABNORMAL = 3;

// Loads the node named by NETLOC_NODE (a file; without it the built-in demo node), builds the
// start-up message from the command line (netloc [/OUT [file]/] [start-up text ...]) and the
// PARAM message from the creator's PARAMs.  On a bad node description it writes one line
// "<file>:<line>: <key>: <problem>" to standard error and exits with EXIT_BAD_NODE.
void start_platform(int argc, char** argv);

}  // namespace nsk
