// INITIALIZER: hands the start-up message, then the PARAM message if there is one, to the
// program's routines.
#include "platform/startup.h"

#include <optional>

#include "platform/startmessages.h"

namespace nsk {
namespace {

struct Messages {
  std::string startup;
  std::string param;
};

std::optional<Messages>& stored() {
  static std::optional<Messages> messages;
  return messages;
}

const Messages& messages() {
  if (!stored()) {
    Messages m;
    std::string error;
    startmsg::build_startup({}, &m.startup, &error);
    m.param = startmsg::build_param(node::current().self);
    stored() = std::move(m);
  }
  return *stored();
}

}  // namespace

void startmsg::set_messages(std::string startup, std::string param) {
  stored() = Messages{std::move(startup), std::move(param)};
}

INT INITIALIZER(void* rucb, INT* passthru, StartupRoutine startup, ParamRoutine params) {
  const Messages& m = messages();
  INT match = 0;
  if (startup != nullptr) {
    startup(rucb, passthru, m.startup.data(), static_cast<INT>(m.startup.size()), &match);
  }
  if (params != nullptr && !m.param.empty()) {
    params(rucb, passthru, m.param.data(), static_cast<INT>(m.param.size()), &match);
  }
  return err::OK;
}

}  // namespace nsk
