// Filling an address database file to its maximum size, straight through LMDB, for the tests of
// rotation and load (one insert per transaction through the programs would take minutes).
#pragma once

#include <cstddef>
#include <string>

namespace e2e {

// The maximum size of each file of the pair, from its extents (pages of 2048 bytes).
constexpr std::size_t DATABASE_BYTES = (50 + 50 * 449) * 2048;

// Adds records named name_prefix + a 10-digit count, which sort after every terminal's name,
// until the file at path is full; returns how many were added.  No program may run meanwhile.
std::size_t fill_database(const std::string& path, const std::string& name_prefix);

}  // namespace e2e
