// The open table: file numbers of the process's opens, lowest free number first, and the
// process-wide last open error.
#include <cmath>
#include <map>

#include "platform/node.h"
#include "platform/openfile.h"

namespace nsk {
namespace {

std::map<INT, std::unique_ptr<OpenFile>>& table() {
  static std::map<INT, std::unique_ptr<OpenFile>> opens;
  return opens;
}

INT open_error = 0;

}  // namespace

INT register_open(std::unique_ptr<OpenFile> file) {
  auto& opens = table();
  INT filenum = 0;
  while (opens.count(filenum) != 0) ++filenum;
  opens.emplace(filenum, std::move(file));
  return filenum;
}

OpenFile* find_open(INT filenum) {
  const auto it = table().find(filenum);
  return it == table().end() ? nullptr : it->second.get();
}

bool unregister_open(INT filenum) { return table().erase(filenum) != 0; }

INT next_open(INT filenum) {
  const auto it = table().upper_bound(filenum);
  return it == table().end() ? INT{-1} : it->first;
}

void record_open_error(INT error) { open_error = error; }
INT last_open_error() { return open_error; }

std::int64_t scaled_wait_us(std::int64_t hundredths) {
  const double us = static_cast<double>(hundredths) * 10000.0 * node::current().time_scale;
  return us <= 0 ? 0 : static_cast<std::int64_t>(std::llround(us));
}

// Kinds whose operations never wait do them at start; complete() hands the result over.
INT OpenFile::finish_at_once(INT error, INT count) {
  done_at_start_ = true;
  done_error_ = error;
  done_count_ = count;
  return 0;
}

INT OpenFile::start_read(char* buffer, INT read_count) {
  INT count = 0;
  const INT error = read(buffer, read_count, &count);
  return finish_at_once(error, count);
}

INT OpenFile::start_write(const char* buffer, INT write_count) {
  INT count = 0;
  const INT error = write(buffer, write_count, &count);
  return finish_at_once(error, count);
}

INT OpenFile::start_writeread(char* buffer, INT write_count, INT read_count) {
  INT count = 0;
  const INT error = writeread(buffer, write_count, read_count, &count);
  return finish_at_once(error, count);
}

INT OpenFile::start_setmode(INT function, INT param1, INT param2) {
  return finish_at_once(setmode(function, param1, param2), 0);
}

INT OpenFile::start_setparam(INT function, const char* params, INT param_count, char* answer,
                             INT answer_max) {
  INT count = 0;
  const INT error = setparam(function, params, param_count, answer, answer_max, &count);
  return finish_at_once(error, count);
}

INT OpenFile::complete(std::optional<std::int64_t> /*limit_us*/, INT* count, bool* pending) {
  *pending = false;
  done_at_start_ = false;
  *count = done_count_;
  return done_error_;
}

}  // namespace nsk
