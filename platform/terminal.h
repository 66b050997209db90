// What every terminal open has (internal to the platform): its destination and terminal as the
// node describes them, type information, window SETPARAM answers and the BREAK mode setting.
#pragma once

#include <chrono>
#include <optional>

#include "platform/node.h"
#include "platform/openfile.h"

namespace nsk {

class TerminalOpen : public OpenFile {
 public:
  TerminalOpen(const node::Destination& destination, const node::Terminal& terminal)
      : destination_(destination), terminal_(terminal) {}

  void typeinfo(INT* words) override;
  INT setparam(INT function, const char* params, INT param_count, char* answer, INT answer_max,
               INT* count) override;
  // 11 BREAK mode is kept with the open (docs/files.md); other functions are not served.
  INT setmode(INT function, INT param1, INT param2) override;

 protected:
  node::Destination destination_;
  node::Terminal terminal_;
  INT break_mode_ = 0;
};

using Clock = std::chrono::steady_clock;

// The moment a wait of limit_us microseconds that starts now ends (nullopt: never).
std::optional<Clock::time_point> deadline_after(std::optional<std::int64_t> limit_us);

// Sleeps until when; nullopt sleeps for good (an operation that never completes, waited on
// without a limit).
void sleep_until(std::optional<Clock::time_point> when);

}  // namespace nsk
