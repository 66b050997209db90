// The ttys of the live node: which /dev paths have a name, the name, and the way back.
#include <array>
#include <cctype>

#include "platform/livenode.h"

namespace nsk::live {
namespace {

// One row per tty family: its /dev path before the number, the destination before the number.
// A destination name holds at most 7 characters after "$", which bounds the number.
struct TtyFamily {
  std::string_view path_prefix;
  std::string_view destination_prefix;
  TtyKind kind;
};

constexpr std::array<TtyFamily, 6> FAMILIES = {{
    {"/dev/pts/", "$PTY", TtyKind::Pty},
    {"/dev/ttyS", "$TTYS", TtyKind::Serial},
    {"/dev/ttyUSB", "$TTYU", TtyKind::Serial},
    {"/dev/ttyACM", "$TTYA", TtyKind::Serial},
    {"/dev/ttyAMA", "$TTYM", TtyKind::Serial},
    {"/dev/tty", "$TTY", TtyKind::Console},
}};

constexpr std::string_view CONSOLE_PATH = "/dev/console";
constexpr std::string_view CONSOLE_DESTINATION = "$CONSOLE";
constexpr std::size_t DESTINATION_MAX = 8;

// A tty number as the kernel writes it: decimal digits without leading zeros.
bool is_tty_number(std::string_view digits) {
  if (digits.empty() || (digits.size() > 1 && digits[0] == '0')) return false;
  for (char c : digits)
    if (!std::isdigit(static_cast<unsigned char>(c))) return false;
  return true;
}

std::string upshifted(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return out;
}

}  // namespace

std::optional<TtyName> name_for_tty(std::string_view tty_path) {
  if (tty_path == CONSOLE_PATH) return TtyName{TtyKind::Console, std::string(CONSOLE_DESTINATION)};
  for (const TtyFamily& family : FAMILIES) {
    if (!tty_path.starts_with(family.path_prefix)) continue;
    std::string_view number = tty_path.substr(family.path_prefix.size());
    if (!is_tty_number(number)) continue;
    std::string destination = std::string(family.destination_prefix) + std::string(number);
    if (destination.size() > DESTINATION_MAX) return std::nullopt;
    return TtyName{family.kind, destination};
  }
  return std::nullopt;
}

std::optional<std::string> tty_for_name(std::string_view name) {
  std::string text = upshifted(name);
  std::string_view rest = text;
  if (rest.starts_with("\\")) {
    std::size_t dot = rest.find('.');
    if (dot == std::string_view::npos) return std::nullopt;
    rest = rest.substr(dot + 1);
  }
  std::string_view destination = rest.substr(0, rest.find('.'));
  if (destination.size() < rest.size() && rest.substr(destination.size() + 1) != TTY_TERMINAL)
    return std::nullopt;
  if (destination == CONSOLE_DESTINATION) return std::string(CONSOLE_PATH);
  for (const TtyFamily& family : FAMILIES) {
    if (!destination.starts_with(family.destination_prefix)) continue;
    std::string_view number = destination.substr(family.destination_prefix.size());
    if (is_tty_number(number) && destination.size() <= DESTINATION_MAX)
      return std::string(family.path_prefix) + std::string(number);
  }
  return std::nullopt;
}

std::optional<std::string> tty_path_for_device(std::uint32_t tty_nr) {
  // The kernel's encoding of a device number in /proc/<pid>/stat.
  const std::uint32_t major = (tty_nr >> 8) & 0xfffu;
  const std::uint32_t minor = (tty_nr & 0xffu) | ((tty_nr >> 12) & 0xfff00u);
  if (major >= 136 && major <= 143) return "/dev/pts/" + std::to_string((major - 136) * 256 + minor);
  if (major == 4 && minor < 64) return "/dev/tty" + std::to_string(minor);
  if (major == 4) return "/dev/ttyS" + std::to_string(minor - 64);
  if (major == 5 && minor == 1) return std::string(CONSOLE_PATH);
  if (major == 188) return "/dev/ttyUSB" + std::to_string(minor);
  if (major == 166) return "/dev/ttyACM" + std::to_string(minor);
  if (major == 204 && minor >= 64) return "/dev/ttyAMA" + std::to_string(minor - 64);
  return std::nullopt;
}

}  // namespace nsk::live
