// The built-in demo node: what a new user meets without a node description.  The process sits
// at a Telnet window bound to the console, and TERMINAL <name> finds every kind of terminal.
#include "platform/node.h"

namespace nsk::node {

std::string demo_node_text() {
  return R"TOML(# The demo node of NETLOC.
[node]
name = '\DEMO'
number = 7
os = "L21"

[[volume]]
name = "$DATA"
dir = "~state/demo"

[self]
cpu = 1
pin = 201
program = '\DEMO.$DATA.NETLOC.NETLOC'
home_terminal = '\DEMO.$ZTN0.#PTY1'
mom = "$TACL3"
default_volume = "$DATA"
default_subvolume = "NETLOC"
attribute82 = "NETLOC DEMO PROCESS ATTRIBUTE 82"
switchuser = true

[[process]]
name = "$TACL3"
cpu = 0
pin = 40
program = '\DEMO.$SYSTEM.SYS01.TACL'
home_terminal = '\DEMO.$ZTN0.#PTY1'

# The system Telnet server and a GEMINI one: processes that own the windows below.
[[process]]
name = "$ZTN0"
program = '\DEMO.$SYSTEM.SYS01.TELSERV'

[[process]]
name = "$GEM1"
program = '\DEMO.$SYSTEM.GEMINI.GEMSRV'

# A chain from the ordinary terminal $TC1 to the window $ZTN0.#PTY2: the named $TACL1 descends
# from an OSS process whose OSS parent, a shell, was started from $TACL3.
[[process]]
name = "$TACL1"
cpu = 2
pin = 30
program = '\DEMO.$SYSTEM.SYS01.TACL'
home_terminal = '\DEMO.$TC1'
ancestor = "2,88"

[[process]]
cpu = 2
pin = 88
type = "oss"
oss_pid = 4711
oss_parent_pid = 4700
program = '\DEMO.$SYSTEM.ZOSS.SH'
home_terminal = '\DEMO.$TC1'

[[process]]
cpu = 3
pin = 41
type = "oss"
oss_pid = 4700
oss_parent_pid = 1
program = '\DEMO.$SYSTEM.ZOSS.SH'
home_terminal = '\DEMO.$ZTN0.#PTY2'
mom = "$TACL3"

[[destination]]
name = "$ZTN0"
device_type = 46

[[destination.terminal]]
name = "#PTY1"
address = "192.0.2.17"
port = 50123
emulator = { reply = "\u0001&DEMO-WS17\u0012192.0.2.17\u0012NETLOC\r", delay_cs = 3 }
output = { console = true }

[[destination.terminal]]
name = "#PTY2"
address = "192.0.2.23"
port = 50777

[[destination]]
name = "$GEM1"
device_type = 46
gemini_id = "GEMINI STN 2.4"

[[destination.terminal]]
name = "#W1"
address = "198.51.100.7"
port = 40000
address2 = "198.51.100.8"
port2 = 23

[[destination]]
name = "$TC1"
device_type = 6
terminal = [ { name = "" } ]

[[destination]]
name = "$ENV1"
device_type = 7

[[destination]]
name = "$ASY1"
device_type = 53

[[destination]]
name = "$X25A"
device_type = 61
terminal = [ { name = "#W1", dte = "31102150123456" } ]

[hosts]
"192.0.2.17" = "ws17.demo.example"
"192.0.2.23" = "ws23.demo.example"
"198.51.100.7" = "gem7.demo.example"
"127.0.0.1" = "localhost"
)TOML";
}

}  // namespace nsk::node
