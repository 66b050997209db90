// The process's open files (internal to the platform).  Each open is an OpenFile of the kind its
// name designates (terminal, disk file, EDIT file, key-sequenced file, process, SPI control
// point, X.25 or GEMINI window); the file-system procedures find it by file number and call it.
// An operation a kind does not support returns 2 (operation not valid).
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
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
  bool outstanding = false; // a nowait operation is in progress (depth 1: at most one)
  INT32 tag = 0;            // the outstanding operation's tag

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
  // SETPARAM: the answer goes to answer (capacity answer_max), *count its length.
  virtual INT setparam(INT /*function*/, const char* /*params*/, INT /*param_count*/,
                       char* /*answer*/, INT /*answer_max*/, INT* /*count*/) { return err::OPERATION_INVALID; }

  // Nowait operations (depth 1).  A start_ method begins an operation: the data of a write is
  // taken at once; the reply of a read goes to buffer (capacity read_count) when the operation
  // completes.  complete() finishes the operation within limit_us microseconds (nullopt: no
  // limit) and gives its count; when the limit expires it returns 40 and sets *pending: the
  // caller then cancels the operation, except for a limit of 0 (only a check), after which it
  // stays outstanding.  A start error means nothing is outstanding.  The defaults do the waited operation at once and complete() hands its result
  // over, which is right for every kind whose operations never wait.
  virtual INT start_read(char* buffer, INT read_count);
  virtual INT start_write(const char* buffer, INT write_count);
  virtual INT start_writeread(char* buffer, INT write_count, INT read_count);
  virtual INT start_setmode(INT function, INT param1, INT param2);
  virtual INT start_setparam(INT function, const char* params, INT param_count, char* answer,
                             INT answer_max);
  virtual INT complete(std::optional<std::int64_t> limit_us, INT* count, bool* pending);
  // Abandons the outstanding operation (FILE_CLOSE_, a time limit that expired).
  virtual void cancel() { done_at_start_ = false; }

 protected:
  // The result of an operation done at its start, handed over by the default complete();
  // kinds with operations that wait hand such results over through it too.
  bool done_at_start_ = false;
  INT done_error_ = 0;
  INT done_count_ = 0;
  INT finish_at_once(INT error, INT count);
};

// Adds an open; returns its file number (the lowest free one).
INT register_open(std::unique_ptr<OpenFile> file);
// The open of a file number, or nullptr.
OpenFile* find_open(INT filenum);
// Removes an open (its object is destroyed); false when filenum is not open.
bool unregister_open(INT filenum);
// The first open file number after filenum (-1: the first of all), or -1 after the last.
INT next_open(INT filenum);

// The last error of FILE_OPEN_, OPENEDIT_ or FILE_CREATE_, given by FILE_GETINFO_ for file -1.
void record_open_error(INT error);
INT last_open_error();

// Microseconds of a wait of hundredths of a second, scaled by the node's time scale.
std::int64_t scaled_wait_us(std::int64_t hundredths);

}  // namespace nsk
