// What the database benchmarks share: a node with a disk volume (and, for fast filling, a
// memory volume), the database file's attributes as the PLAIN store creates them, address
// records, and one store done with the platform's key-sequenced file operations in the order
// the PLAIN store does them.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/filesystem.h"
#include "platform/node.h"

namespace bench {

constexpr int RECORD = 150;
constexpr int KEY = 92;

// The node: $DATA on disk_dir, $SHM on mem_dir (may be empty: no such volume).
inline void install_node(const std::string& disk_dir, const std::string& mem_dir) {
  std::string text = "[node]\nname = '\\BENCH'\n[[volume]]\nname = \"$DATA\"\ndir = \"" +
                     disk_dir + "\"\n";
  if (!mem_dir.empty()) text += "[[volume]]\nname = \"$SHM\"\ndir = \"" + mem_dir + "\"\n";
  text +=
      "[self]\ncpu = 1\npin = 201\nprogram = '$DATA.NETLOC.NETLOC'\n"
      "home_terminal = '$ZTN0.#PTY1'\n[[destination]]\nname = \"$ZTN0\"\ndevice_type = 46\n"
      "terminal = [ { name = \"#PTY1\" } ]\n";
  std::string error;
  auto node = nsk::node::load_node_text(text, "bench", &error);
  if (!node) {
    std::fprintf(stderr, "bench node: %s\n", error.c_str());
    std::exit(2);
  }
  nsk::node::set_current(std::move(*node));
}

// Creates a database file with the attributes of TERMIPA0 / TERMIPA1; 0 or the error.
inline nsk::INT create_database(const std::string& name) {
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%s", name.c_str());
  nsk::INT length = static_cast<nsk::INT>(name.size());
  return nsk::FILE_CREATE_(buffer, sizeof buffer, &length, 20044, 50, 50, 450, 3, 0, RECORD,
                           4096, KEY, 0);
}

// Record n of prefix: terminal prefix + six digits, an address and a host name derived from n.
inline void make_record(const std::string& prefix, long n, char* record) {
  std::memset(record, ' ', RECORD);
  char text[64];
  int k = std::snprintf(text, sizeof text, "%s%06ld", prefix.c_str(), n);
  std::memcpy(record, text, static_cast<size_t>(std::min(k, 26)));
  k = std::snprintf(text, sizeof text, "10.%ld.%ld.%ld", (n >> 16) & 255, (n >> 8) & 255, n & 255);
  std::memcpy(record + 26, text, static_cast<size_t>(k));
  k = std::snprintf(text, sizeof text, "ws%ld.bench.example", n);
  std::memcpy(record + 42, text, static_cast<size_t>(k));
  std::memcpy(record + 92, "11Dec2026 12:00:00", 18);
  std::memset(record + 110, 0, 8);
}

// One store as the PLAIN store does it: open, lock, check the name, position on the key, read,
// insert (or rewrite), close.  Returns the error of the insert or rewrite.
inline nsk::INT store(const std::string& name, char* record) {
  nsk::INT f = -1;
  nsk::INT error = nsk::FILE_OPEN_(name.data(), static_cast<nsk::INT>(name.size()), &f);
  if (error != 0) return error;
  nsk::LOCKFILE(f);
  char current[36];
  nsk::INT current_length = 0;
  nsk::FILE_GETINFO_(f, nullptr, current, sizeof current, &current_length);
  nsk::KEYPOSITIONX(f, record, 0, KEY, KEY, nsk::POSITION_EXACT);
  char read_back[RECORD];
  std::memcpy(read_back, record, RECORD);
  nsk::READX(f, read_back, 42);
  nsk::INT status = 0;
  nsk::FILE_GETINFO_(f, &status);
  if (status == 0) {
    error = nsk::WRITEUPDATEX(f, record, RECORD);
  } else if (status == 1) {
    error = nsk::WRITEX(f, record, RECORD);
  } else {
    error = status;
  }
  nsk::FILE_CLOSE_(f);
  return error;
}

}  // namespace bench
