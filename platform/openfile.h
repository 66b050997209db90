// The process's open files (internal to the platform).  Each open is an OpenFile of the kind its
// name designates (terminal, disk file, EDIT file, key-sequenced file, process, SPI control
// point, X.25 or GEMINI window); the file-system procedures find it by file number and call it.
// An operation a kind does not support returns 2 (operation not valid).
#pragma once

#include <memory>
#include <string>

#include "platform/types.h"

namespace nsk {

class OpenFile {
 public:
  virtual ~OpenFile() = default;

  std::string name;         // external name with node, as opened
  INT access = 0;           // 0 read-write, 1 read-only, 2 write-only
  INT nowait_depth = 0;
  INT last_error = 0;

  // Current name: after a rename by any process, the new name.
  virtual std::string current_name() { return name; }
  // Five words of type information (FILE_GETINFO_).
  virtual void typeinfo(INT* words) = 0;

  // Waited operations.  count is the count transferred.
  virtual INT read(char* /*buffer*/, INT /*read_count*/, INT* /*count*/) { return err::OPERATION_INVALID; }
  virtual INT write(const char* /*buffer*/, INT /*write_count*/, INT* /*count*/) { return err::OPERATION_INVALID; }
  virtual INT writeread(char* /*buffer*/, INT /*write_count*/, INT /*read_count*/, INT* /*count*/) { return err::OPERATION_INVALID; }
  virtual INT writeupdate(const char* /*buffer*/, INT /*write_count*/, INT* /*count*/) { return err::OPERATION_INVALID; }
  virtual INT keyposition(const char* /*key*/, INT /*key_specifier*/, INT /*key_length*/,
                          INT /*compare_length*/, INT /*mode*/) { return err::OPERATION_INVALID; }
  virtual INT lock() { return err::OPERATION_INVALID; }
  virtual INT control(INT /*operation*/, INT /*param*/) { return err::OPERATION_INVALID; }
  virtual INT setmode(INT /*function*/, INT /*param1*/, INT /*param2*/) { return err::OPERATION_INVALID; }
  virtual INT rename(const std::string& /*new_name*/) { return err::OPERATION_INVALID; }
};

// Adds an open; returns its file number (the lowest free one).
INT register_open(std::unique_ptr<OpenFile> file);
// The open of a file number, or nullptr.
OpenFile* find_open(INT filenum);

}  // namespace nsk
