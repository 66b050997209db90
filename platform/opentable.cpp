// The open table: file numbers of the process's opens, lowest free number first, the
// process-wide last open error, and the open list that FILE_GETINFOLIST_ serves.
#include <cmath>
#include <cstring>
#include <map>
#include <string>

#include "platform/faults.h"
#include "platform/filesystem.h"
#include "platform/node.h"
#include "platform/openfile.h"

namespace nsk {
namespace {

std::map<INT, std::unique_ptr<OpenFile>>& table() {
  static std::map<INT, std::unique_ptr<OpenFile>> opens;
  return opens;
}

INT open_error = 0;

void put_word(char* result, int at, INT value) { std::memcpy(result + at, &value, sizeof value); }

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

INT FILE_GETINFOLIST_(INT filenum, const INT* itemlist, INT numberitems, INT* result,
                      INT result_max, INT* result_length, INT* error_item) {
  if (result_length != nullptr) *result_length = 0;
  if (const INT error = fault::injected("FILE_GETINFOLIST_")) return error;
  if (itemlist == nullptr || result == nullptr) return err::MISSING_PARAM;
  if (numberitems < 0 || result_max < 0) return err::BAD_PARAM;
  OpenFile* f = nullptr;
  if (filenum != -1 && (f = find_open(filenum)) == nullptr) return err::BAD_FILENUM;
  char* out = reinterpret_cast<char*>(result);
  int used = 0;
  for (INT i = 0; i < numberitems; ++i) {
    std::string bytes;
    const INT item = itemlist[i];
    INT word = 0;
    if (item == ITEM_OPEN_LIST_19) {
      word = filenum;
    } else if (item == ITEM_NEXT_OPEN) {
      word = next_open(filenum);
    } else if (item == ITEM_NOWAIT_DEPTH) {
      word = f == nullptr ? INT{0} : f->nowait_depth;
    } else if (item == ITEM_FILENAME_LEN && f != nullptr) {
      word = static_cast<INT>(f->name.size());
    } else if (item == ITEM_FILENAME && f != nullptr) {
      bytes = f->name;
      if (bytes.size() % 2 != 0) bytes.push_back(' ');
    } else {
      if (error_item != nullptr) *error_item = i;
      return err::OPERATION_INVALID;
    }
    const int size = item == ITEM_FILENAME ? static_cast<int>(bytes.size()) : 2;
    if (used + size > result_max) {
      if (error_item != nullptr) *error_item = i;
      return err::BUFFER_TOO_SMALL;
    }
    if (item == ITEM_FILENAME) {
      std::memcpy(out + used, bytes.data(), bytes.size());
    } else {
      put_word(out, used, word);
    }
    used += size;
  }
  if (result_length != nullptr) *result_length = static_cast<INT>(used);
  return 0;
}

}  // namespace nsk
