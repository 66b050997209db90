#!/usr/bin/env python3
"""Writes the hand-made seed inputs of the fuzz corpora (fuzz/corpus/<target>/seed-*).
The fuzzer adds its own finds beside them (fuzz/run.sh)."""
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))


def put(target, name, data):
    d = os.path.join(HERE, "corpus", target)
    os.makedirs(d, exist_ok=True)
    with open(os.path.join(d, "seed-" + name), "wb") as f:
        f.write(data)


def startup_message(text):
    head = b"\xff\xff" + b"$SYSTEM NETLOC  " + b" " * 24 + b"$ZTN0   #PTY1           "
    return head + text + b"\0"


def param_message(params):
    out = struct.pack(">hh", -3, len(params))
    for name, value in params:
        out += bytes([len(name)]) + name + bytes([len(value)]) + value
    return out


def startup(name, text, params=()):
    message = startup_message(text)
    put("startup", name, struct.pack(">H", len(message)) + message +
        (param_message(params) if params else b""))


startup("empty", b"")
startup("esc300-terminal", b"esc300 TERMINAL \\TIGRA.$ZTN05.#OAGHIUP")
startup("spi-commas", b"SPI,WAITTIME,5000")
startup("quotes", b'"$A,B" IS $ZTN1300.#PTONM2AX -HELP')
startup("invalid-twice", b"LOGGEDON LOGGEDON2")
startup("plain-loggedon6", b"PLAIN LOGGEDON6 ESCAPE $X")
startup("waittime-last", b"TERMINAL WAITTIME")
startup("fifty-one-words", b" ".join([b"PLAIN"] * 50 + [b"BOGUS"]))
startup("long-name", b"TERMINAL \\NODE.$ZTN1300.#PTONM2AXVERYLONGQUALIFIERNAME")
startup("params", b"", [(b"NETLOC^MODE", b"esc200"), (b"NETLOC^CHECKLOGONSTATE", b"ON6")])
startup("params-after-spi", b"SPI", [(b"NETLOC^MODE", b"ESC-5"), (b"NETLOC^CHECKLOGONSTATE", b"OFF")])
put("startup", "params-broken",
    struct.pack(">H", 70) + startup_message(b"IS")[:70] + struct.pack(">hh", -3, 5) + b"\x0bNETLOC^MODE\xff")

# options, capacity, reply
put("emulator", "address", b"\x00\x14" + bytes.fromhex("01 26 41 12") + b"10.1.2.3\r")
put("emulator", "blank-splits", b"\x00\x14" + bytes.fromhex("01 26 58 20 59 12 5A"))
put("emulator", "two-separators", b"\x00\x05" + bytes.fromhex("01 26 12 12 31 2E 32 12 0D"))
put("emulator", "short", b"\x00\x14" + bytes.fromhex("01 26 41"))
put("emulator", "not-a-reply", b"\x00\x14" + b"hello world")
put("emulator", "empty-reads-drain", b"\x0b\x10" + bytes.fromhex("01 26") + b"WS17\x12192.0.2.17\x12NETLOC\r")
put("emulator", "silent", b"\x06\x14")
put("emulator", "long-field", b"\x00\x03" + bytes.fromhex("01 26") + b"X" * 300)
put("emulator", "many-fields", b"\x08\x1f" + bytes.fromhex("01 26") + b"\x12".join([b"f%d" % i for i in range(10)]))

# options, text length, text, pattern
def match(name, text, pattern, exact=False):
    put("stringmatch", name, bytes([1 if exact else 0, len(text)]) + text + pattern)

match("esc", b"esc50", b"ESC*")
match("telserv", b"\\NODE.$SYSTEM.SYS01.TELSERV", b"*$SYSTEM.SYS??.TELSERV")
match("netbatch", b"\\N.$SYSTEM.SYS02.NETBATCH", b"\\*.$SYSTEM.SYS*.NETBATCH")
match("gemini", b"GEMINI STN 2.4", b"GEMINI STN*")
match("exact", b"abc", b"ABC", exact=True)
match("empty", b"", b"*")
match("not-letters", b"@", b"`")
match("stars", b"aaaaaaaaaaaaaaaaaaaaaaaaaaaaab", b"*a*a*a*c")

for i, t in enumerate([b"10.0.0.1", b"255.255.255.255", b"256.1.1.1", b"099.1.1.1", b"10.*.*.*",
                       b"?00.1.1.1", b"1.2.3", b"300.1.1.1", b"1..22.33", b"1.2.3.4.5",
                       b"1.2.3.4a", b"1234.1.1.1", b"1.2.3.4\0"]):
    put("ipaddress", "case%02d" % i, t)

for name in ("basic.toml",):
    with open(os.path.join(HERE, "..", "tests", "nodes", name), "rb") as f:
        put("nodeloader", "basic", f.read())
put("nodeloader", "minimal", b"[self]\nprogram = '$DATA.NETLOC.NETLOC'\nhome_terminal = '$ZTN0.#PTY1'\n")
put("nodeloader", "bad-key", b"[node]\nnmae = 'X'\n")
put("nodeloader", "syntax", b"[node\n")
put("nodeloader", "bad-type", b"[node]\nnumber = \"one\"\n")
put("nodeloader", "emulator", b"""[self]
program = '$DATA.NETLOC.NETLOC'
home_terminal = '$ZTN0.#PTY1'
[[destination]]
name = "$ZTN0"
device_type = 46
[[destination.terminal]]
name = "#PTY1"
emulator = { reply_hex = "01 26 12 31 2E 32 12 0D", empty_reads = 2, pending_input = "x" }
output = { fail_after = 1, error = 201 }
[[fault]]
procedure = "FILE_OPEN_"
call = 2
error = 14
""")


def spi_reply(address_field, address2_field, retcode=0):
    """A reply as the node's Telnet server builds it: header, return code, window record, in
    the host's (little-endian) word order."""
    record = bytearray(454)
    record[150:190] = address2_field.ljust(40, b"\0")[:40]
    record[190:230] = address_field.ljust(40, b"\0")[:40]
    tokens = struct.pack("<HH", 0x0202, 0xFE01) + struct.pack("<h", retcode)
    tokens += struct.pack("<HH", 0x08FF, 0x000C) + struct.pack("<h", 454) + bytes(record)
    header = [0, 900, 32 + len(tokens), 0, 0, 0, 0, 91, 0x4801, 3, 25, 0, 0x5350, 0, 0, 0]
    head = struct.pack("<16H", *header)
    head = head[:6] + b"TANDEM  " + head[14:]
    return head + tokens


put("spireply", "window", spi_reply(b"192.0.2.17 50123".ljust(40), b"10.0.0.1 23".ljust(40)))
put("spireply", "nul-led", spi_reply(b"\0\0\0192.0.2.23 23", b""))
put("spireply", "long-port", spi_reply(b"1.2.3.4 123456789012345678901234567890", b"5.6.7.8\0" + b"9" * 32))
put("spireply", "full-field", spi_reply(b"A" * 40, b"B" * 40))
put("spireply", "no-record", spi_reply(b"", b"")[:38])
put("spireply", "garbage", bytes(range(256)) * 3)
