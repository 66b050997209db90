// The Linux entry of a program: load the node, turn the command line into the start-up message
// and the creator's PARAMs into the PARAM message, and make fatal signals end the process
// through the stop hooks.
#include "platform/launch.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/livenode.h"
#include "platform/names.h"
#include "platform/startmessages.h"
#include "platform/startup.h"
#include "platform/stophooks.h"

namespace nsk {
namespace {

constexpr std::size_t NAME_FIELD = 8;
constexpr std::size_t INTERNAL_NAME = 24;
constexpr const char* USAGE = "[/OUT [file]/] [start-up text ...]";

// Carried for an OUT name that has no internal form: a name that OLDFILENAME_TO_FILENAME_
// refuses (a volume field that is no name), so the program reports that it cannot open its OUT
// file instead of silently losing the report, as an all-blank (empty) OUT would.
const std::string INVALID_INTERNAL_NAME = "$?" + std::string(INTERNAL_NAME - 2, ' ');

std::string upper(std::string text) {
  for (char& c : text) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return text;
}

std::string blank_padded(const std::string& text, std::size_t width) {
  std::string field = text.substr(0, width);
  field.resize(width, ' ');
  return field;
}

void put_word(std::string* message, INT word) {
  message->push_back(static_cast<char>((static_cast<std::uint16_t>(word) >> 8) & 0xFF));
  message->push_back(static_cast<char>(static_cast<std::uint16_t>(word) & 0xFF));
}

std::string internal_form(const std::string& name) {
  char internal[INTERNAL_NAME];
  if (FILENAME_TO_OLDFILENAME_(name.data(), static_cast<INT>(name.size()), internal) != err::OK) {
    return INVALID_INTERNAL_NAME;
  }
  return std::string(internal, INTERNAL_NAME);
}

// An OUT name as the user gave it, completed with the process's defaults.
std::string out_internal_form(const std::string& name) {
  char full[256];
  INT length = 0;
  if (FILENAME_RESOLVE_(name.data(), static_cast<INT>(name.size()), full, sizeof full, &length) !=
      err::OK) {
    return INVALID_INTERNAL_NAME;
  }
  return internal_form(std::string(full, static_cast<std::size_t>(length)));
}

std::vector<std::string> words(const std::string& text) {
  std::vector<std::string> out;
  std::size_t at = 0;
  while ((at = text.find_first_not_of(' ', at)) != std::string::npos) {
    std::size_t end = text.find(' ', at);
    out.push_back(text.substr(at, end - at));
    at = end;
  }
  return out;
}

// The run option at the front of args, if any: sets *out (the OUT field) and *used (the number
// of arguments it took).  False with *error for an option that is not closed or not OUT.
bool run_option(const std::vector<std::string>& args, std::string* out, std::size_t* used,
                std::string* error) {
  *used = 0;
  if (args.empty() || args[0].empty() || args[0][0] != '/') return true;
  std::string text = args[0].substr(1);
  std::size_t last = 0;
  while (text.empty() || text.back() != '/') {
    if (++last >= args.size()) {
      *error = "the run option \"/" + text + "\" is not closed by \"/\"";
      return false;
    }
    text += " " + args[last];
  }
  text.pop_back();
  std::vector<std::string> option = words(text);
  if (option.empty() || upper(option[0]) != "OUT") {
    *error = "unknown run option \"/" + text + "/\" (only /OUT/ and /OUT file/ are taken)";
    return false;
  }
  if (option.size() > 2) {
    *error = "the run option \"/" + text + "/\" names more than one OUT file";
    return false;
  }
  *out = option.size() == 1 ? std::string(INTERNAL_NAME, ' ') : out_internal_form(option[1]);
  *used = last + 1;
  return true;
}

std::string program_name(const char* argv0) {
  if (argv0 == nullptr) return "netloc";
  const char* slash = std::strrchr(argv0, '/');
  return slash != nullptr ? slash + 1 : argv0;
}

void on_fatal_signal(int signal_number) {
  run_stop_hooks();
  // SA_RESETHAND has restored the default action; the signal stays blocked until the handler
  // returns, and then ends the process as it would have without us.
  raise(signal_number);
}

void install_signal_handlers() {
  struct sigaction action {};
  action.sa_handler = on_fatal_signal;
  action.sa_flags = SA_RESETHAND;
  sigemptyset(&action.sa_mask);
  for (int signal_number : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) sigaction(signal_number, &action, nullptr);
}

std::optional<node::Node> load_node(std::string* error) {
  const char* name = std::getenv("NETLOC_NODE");
  if (name == nullptr || name[0] == '\0') {
    return node::load_node_text(node::demo_node_text(), "<demo>", error);
  }
  if (std::strcmp(name, "host") == 0) return live::build_host_node(error);
  return node::load_node_file(name, error);
}

}  // namespace

bool startmsg::build_startup(const std::vector<std::string>& args, std::string* message,
                             std::string* error) {
  const node::Self& self = node::current().self;
  std::string in = internal_form(self.home_terminal);
  std::string out = in;
  std::size_t used = 0;
  if (!run_option(args, &out, &used, error)) return false;
  std::string text;
  for (std::size_t i = used; i < args.size(); ++i) text += (i > used ? " " : "") + args[i];
  if (text.size() > PARAM_TEXT_MAX) {
    *error = "the start-up text is longer than " + std::to_string(PARAM_TEXT_MAX) + " bytes";
    return false;
  }
  message->clear();
  put_word(message, -1);
  *message += blank_padded(self.default_volume, NAME_FIELD);
  *message += blank_padded(self.default_subvolume, NAME_FIELD);
  *message += in + out + text;
  message->push_back('\0');
  return true;
}

std::string startmsg::build_param(const node::Self& self) {
  if (self.params.empty()) return "";
  std::string message;
  put_word(&message, -3);
  put_word(&message, static_cast<INT>(self.params.size()));
  for (const auto& [name, value] : self.params) {
    message.push_back(static_cast<char>(name.size()));
    message += name;
    message.push_back(static_cast<char>(value.size()));
    message += value;
  }
  return message;
}

void start_platform(int argc, char** argv) {
  std::string error;
  std::optional<node::Node> loaded = load_node(&error);
  if (!loaded) {
    std::fprintf(stderr, "%s\n", error.c_str());
    std::exit(EXIT_BAD_NODE);
  }
  node::set_current(std::move(*loaded));
  install_signal_handlers();
  std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + argc);
  std::string startup;
  if (!startmsg::build_startup(args, &startup, &error)) {
    std::string program = program_name(argc > 0 ? argv[0] : nullptr);
    std::fprintf(stderr, "%s: %s; usage: %s %s\n", program.c_str(), error.c_str(), program.c_str(),
                 USAGE);
    std::exit(startmsg::EXIT_USAGE);
  }
  startmsg::set_messages(std::move(startup), startmsg::build_param(node::current().self));
}

}  // namespace nsk
