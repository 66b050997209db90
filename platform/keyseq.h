// Key-sequenced files on Linux (internal to the platform): one LMDB data file each, opened with
// MDB_NOSUBDIR | MDB_NOLOCK, the attributes kept inside the file, all concurrency between
// processes by flock on an O_CLOEXEC descriptor (docs/database.md).
#pragma once

#include <memory>
#include <string>

#include "platform/openfile.h"
#include "platform/types.h"

namespace nsk::keyseq {

struct Attributes {
  int file_code = 0;
  int record_length = 0;
  int block_length = 4096;
  int key_offset = 0;
  int key_length = 0;
  int primary_extent = 1;     // pages of 2048 bytes
  int secondary_extent = 1;
  int max_extents = 16;
};

// Creates the file at path (error 10 if it exists).
INT create(const std::string& path, const Attributes& attributes);

// True when path is a key-sequenced file of ours; *attributes then holds its attributes.
bool probe(const std::string& path, Attributes* attributes);

// Opens the file at path under the external name; access 0 read-write, 1 read-only.
// Errors: 11 missing, 59 not a key-sequenced file of ours.
INT open(const std::string& path, const std::string& name, INT access,
         std::unique_ptr<OpenFile>* file);

}  // namespace nsk::keyseq
