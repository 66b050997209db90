// The file-system procedures: open by name, dispatch by file number to the open's kind, nowait
// operations of depth 1 completed by AWAITIOX, and the information procedures.
#include "platform/filesystem.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform/editfiles.h"
#include "platform/errno_map.h"
#include "platform/faults.h"
#include "platform/fileclass.h"
#include "platform/keyseq.h"
#include "platform/openfile.h"
#include "platform/openkinds.h"
#include "platform/volumes.h"

namespace nsk {
namespace {

// The error of a stat(2) that failed: a file that is not there is 11.
INT stat_error(int errno_value) {
  return errno_value == ENOENT || errno_value == ENOTDIR ? err::NO_SUCH_FILE
                                                         : error_from_errno(errno_value);
}

// Records error as the file's last error (when the file is open) and returns it.
INT finish(INT filenum, INT error) {
  if (OpenFile* f = find_open(filenum)) f->last_error = error;
  return error;
}

INT open_disk_file(const files::Target& target, INT access, std::unique_ptr<OpenFile>* file) {
  struct stat st {};
  if (::stat(target.path.c_str(), &st) != 0) return stat_error(errno);
  if (S_ISDIR(st.st_mode)) return err::OPERATION_INVALID;
  keyseq::Attributes attributes;
  if (keyseq::probe(target.path, &attributes)) {
    return keyseq::open(target.path, target.full_name, access, file);
  }
  if (volumes::file_code(target.path) == EDIT_FILE_CODE) {
    return open_edit(target.path, target.full_name, access, file);
  }
  return open_unstructured(target.path, target.full_name, access, file);
}

INT open_target(const files::Target& target, INT access, std::unique_ptr<OpenFile>* file) {
  switch (target.kind) {
    case files::Kind::ControlPoint:
      *file = open_control_point(target.full_name);
      return 0;
    case files::Kind::Terminal:
      return open_terminal(target, access, file);
    case files::Kind::Destination:
      // Without a terminal of the empty name only the process of that name (a Telnet server,
      // say) can be opened.
      if (!target.also_process) return err::NO_SUCH_DEVICE;
      *file = open_process(target.full_name);
      return 0;
    case files::Kind::Process:
      *file = open_process(target.full_name);
      return 0;
    case files::Kind::Volume:
      return err::OPERATION_INVALID;
    case files::Kind::DiskFile:
      return open_disk_file(target, access, file);
  }
  return err::NO_SUCH_DEVICE;
}

// Starts (nowait open) or does (waited open) an operation; start and wait are the two ways.
template <typename Start, typename Wait>
INT run_operation(INT filenum, INT32 tag, INT* count, Start start, Wait wait) {
  OpenFile* f = find_open(filenum);
  if (f == nullptr) return err::BAD_FILENUM;
  if (count != nullptr) *count = 0;
  INT error = 0;
  if (f->nowait_depth > 0) {
    if (f->outstanding) return finish(filenum, err::OP_PENDING);
    error = start(f);
    if (error == 0) {
      f->outstanding = true;
      f->tag = tag;
    }
  } else {
    INT done = 0;
    error = wait(f, &done);
    if (count != nullptr) *count = done;
  }
  return finish(filenum, error);
}

// The file with an outstanding operation, for AWAITIOX on file -1.
INT any_outstanding() {
  for (INT f = next_open(-1); f != -1; f = next_open(f)) {
    if (find_open(f)->outstanding) return f;
  }
  return -1;
}

constexpr INT SETMODE_SECURITY = 1;

// SETMODE 1 for a disk-file kind that does not serve it itself: the file behind the name.
INT secure_by_name(const std::string& name, INT security) {
  std::string path;
  if (volumes::host_path(name.data(), static_cast<INT>(name.size()), &path) != 0) {
    return err::OPERATION_INVALID;
  }
  if (::chmod(path.c_str(), security_mode(security)) != 0) return error_from_errno(errno);
  return 0;
}


}  // namespace

INT FILE_OPEN_(const char* filename, INT length, INT* filenum, std::optional<INT> access,
               std::optional<INT> /*exclusion*/, std::optional<INT> nowait_depth,
               std::optional<INT> /*sync_or_receive_depth*/, std::optional<INT> /*options*/) {
  if (filenum != nullptr) *filenum = -1;
  INT error = fault::injected("FILE_OPEN_");
  if (error == 0 && filenum == nullptr) error = err::MISSING_PARAM;
  const INT mode = access.value_or(0);
  const INT depth = nowait_depth.value_or(0);
  if (error == 0 && (mode < 0 || mode > 2 || depth < 0 || depth > 1)) error = err::BAD_PARAM;
  files::Target target;
  if (error == 0) error = files::classify(filename, length, &target);
  std::unique_ptr<OpenFile> file;
  if (error == 0) error = open_target(target, mode, &file);
  record_open_error(error);
  if (error != 0) return error;
  file->name = target.full_name;
  file->access = mode;
  file->nowait_depth = depth;
  *filenum = register_open(std::move(file));
  return 0;
}

INT FILE_CLOSE_(INT filenum) {
  if (const INT error = fault::injected("FILE_CLOSE_")) return finish(filenum, error);
  OpenFile* f = find_open(filenum);
  if (f == nullptr) return err::BAD_FILENUM;
  if (f->outstanding) f->cancel();
  unregister_open(filenum);
  return 0;
}

INT READX(INT filenum, char* buffer, INT read_count, INT* count_read, INT32 tag) {
  if (const INT error = fault::injected("READX")) return finish(filenum, error);
  if (read_count < 0 || (buffer == nullptr && read_count > 0)) {
    return finish(filenum, err::NOT_OPEN_ACCESS);
  }
  return run_operation(
      filenum, tag, count_read, [&](OpenFile* f) { return f->start_read(buffer, read_count); },
      [&](OpenFile* f, INT* n) { return f->read(buffer, read_count, n); });
}

INT WRITEX(INT filenum, const char* buffer, INT write_count, INT* count_written, INT32 tag) {
  if (const INT error = fault::injected("WRITEX")) return finish(filenum, error);
  if (write_count < 0 || (buffer == nullptr && write_count > 0)) {
    return finish(filenum, err::NOT_OPEN_ACCESS);
  }
  return run_operation(
      filenum, tag, count_written,
      [&](OpenFile* f) { return f->start_write(buffer, write_count); },
      [&](OpenFile* f, INT* n) { return f->write(buffer, write_count, n); });
}

INT WRITEREADX(INT filenum, char* buffer, INT write_count, INT read_count, INT* count_read,
               INT32 tag) {
  if (const INT error = fault::injected("WRITEREADX")) return finish(filenum, error);
  if (write_count < 0 || read_count < 0 || buffer == nullptr) {
    return finish(filenum, err::NOT_OPEN_ACCESS);
  }
  return run_operation(
      filenum, tag, count_read,
      [&](OpenFile* f) { return f->start_writeread(buffer, write_count, read_count); },
      [&](OpenFile* f, INT* n) { return f->writeread(buffer, write_count, read_count, n); });
}

INT WRITEUPDATEX(INT filenum, const char* buffer, INT write_count, INT* count_written,
                 INT32 /*tag*/) {
  if (const INT error = fault::injected("WRITEUPDATEX")) return finish(filenum, error);
  OpenFile* f = find_open(filenum);
  if (f == nullptr) return err::BAD_FILENUM;
  if (write_count < 0 || (buffer == nullptr && write_count > 0)) {
    return finish(filenum, err::NOT_OPEN_ACCESS);
  }
  INT done = 0;
  const INT error = f->writeupdate(buffer, write_count, &done);
  if (count_written != nullptr) *count_written = done;
  return finish(filenum, error);
}

INT KEYPOSITIONX(INT filenum, const char* key_value, INT key_specifier, INT key_length,
                 INT compare_length, INT positioning_mode) {
  if (const INT error = fault::injected("KEYPOSITIONX")) return finish(filenum, error);
  OpenFile* f = find_open(filenum);
  if (f == nullptr) return err::BAD_FILENUM;
  if (key_length < 0 || compare_length < 0 || (key_value == nullptr && key_length > 0)) {
    return finish(filenum, err::BAD_PARAM);
  }
  return finish(filenum, f->keyposition(key_value, key_specifier, key_length, compare_length,
                                        positioning_mode));
}

INT AWAITIOX(INT* filenum, INT* count_transferred, INT32* tag, std::optional<INT32> timelimit) {
  if (count_transferred != nullptr) *count_transferred = 0;
  const INT injected = fault::injected("AWAITIOX");
  if (filenum == nullptr) return injected != 0 ? injected : err::MISSING_PARAM;
  if (*filenum == -1) {
    const INT any = any_outstanding();
    if (any == -1) return injected != 0 ? injected : err::NO_OUTSTANDING;
    *filenum = any;
  }
  OpenFile* f = find_open(*filenum);
  if (f == nullptr) return injected != 0 ? injected : err::BAD_FILENUM;
  if (injected != 0) {
    // An injected error ends the operation as an expired limit would.
    if (f->outstanding) f->cancel();
    f->outstanding = false;
    return finish(*filenum, injected);
  }
  if (!f->outstanding) return finish(*filenum, err::NO_OUTSTANDING);
  std::optional<std::int64_t> limit;
  if (timelimit && *timelimit >= 0) limit = scaled_wait_us(*timelimit);
  INT count = 0;
  bool pending = false;
  const INT error = f->complete(limit, &count, &pending);
  if (tag != nullptr) *tag = f->tag;
  if (pending && !(timelimit && *timelimit == 0)) {
    f->cancel();
    pending = false;
  }
  f->outstanding = pending;
  if (count_transferred != nullptr) *count_transferred = count;
  return finish(*filenum, error);
}

INT FILE_GETINFO_(INT filenum, INT* lasterror, char* filename, INT maxlen, INT* filename_length,
                  INT* typeinfo, INT* flags) {
  if (const INT error = fault::injected("FILE_GETINFO_")) return error;
  if (filename != nullptr && filename_length == nullptr) return err::BAD_PARAM;
  if (filenum == -1) {
    if (lasterror != nullptr) *lasterror = last_open_error();
    if (filename_length != nullptr) *filename_length = 0;
    return 0;
  }
  OpenFile* f = find_open(filenum);
  if (f == nullptr) return err::BAD_FILENUM;
  if (filename != nullptr) {
    const std::string name = f->current_name();
    if (maxlen < 0 || name.size() > static_cast<size_t>(maxlen)) return err::BUFFER_TOO_SMALL;
    std::memcpy(filename, name.data(), name.size());
    *filename_length = static_cast<INT>(name.size());
  }
  if (lasterror != nullptr) *lasterror = f->last_error;
  if (typeinfo != nullptr) f->typeinfo(typeinfo);
  if (flags != nullptr) *flags = 0;
  return 0;
}

INT FILE_GETINFOBYNAME_(const char* filename, INT length, INT* typeinfo,
                        INT* physical_recordlen, std::optional<INT> /*options*/,
                        std::optional<INT32> /*timeout*/, INT* flags) {
  if (const INT error = fault::injected("FILE_GETINFOBYNAME_")) return error;
  if (typeinfo == nullptr) return err::MISSING_PARAM;
  files::Target target;
  if (const INT error = files::classify(filename, length, &target)) return error;
  INT words[TYPEINFO_WORDS] = {0, 0, -1, -1, 0};
  INT record_length = 0;
  switch (target.kind) {
    case files::Kind::Terminal:
      words[0] = static_cast<INT>(files::terminal_device_type(*target.destination));
      words[1] = static_cast<INT>(target.destination->device_subtype);
      break;
    case files::Kind::Destination:
      words[0] = static_cast<INT>(target.destination->device_type);
      words[1] = static_cast<INT>(target.destination->device_subtype);
      break;
    case files::Kind::ControlPoint:
    case files::Kind::Process:
      break;
    case files::Kind::Volume:
      words[0] = 3;
      break;
    case files::Kind::DiskFile: {
      struct stat st {};
      if (::stat(target.path.c_str(), &st) != 0) return stat_error(errno);
      words[0] = 3;
      keyseq::Attributes attributes;
      if (keyseq::probe(target.path, &attributes)) {
        words[2] = words[3] = 3;
        words[4] = static_cast<INT>(attributes.file_code);
        record_length = static_cast<INT>(attributes.record_length);
      } else {
        words[2] = words[3] = 0;
        words[4] = static_cast<INT>(volumes::file_code(target.path));
      }
      break;
    }
  }
  std::memcpy(typeinfo, words, sizeof words);
  if (physical_recordlen != nullptr) *physical_recordlen = record_length;
  if (flags != nullptr) *flags = 0;
  return 0;
}

INT FILE_RENAME_(INT filenum, const char* newname, INT length) {
  if (const INT error = fault::injected("FILE_RENAME_")) return finish(filenum, error);
  OpenFile* f = find_open(filenum);
  if (f == nullptr) return err::BAD_FILENUM;
  if (newname == nullptr || length <= 0) return finish(filenum, err::BAD_NAME);
  return finish(filenum, f->rename(std::string(newname, static_cast<size_t>(length))));
}

INT LOCKFILE(INT filenum, INT32 /*tag*/) {
  if (const INT error = fault::injected("LOCKFILE")) return finish(filenum, error);
  OpenFile* f = find_open(filenum);
  if (f == nullptr) return err::BAD_FILENUM;
  return finish(filenum, f->lock());
}

INT CONTROL(INT filenum, INT operation, std::optional<INT> param, INT32 /*tag*/) {
  if (const INT error = fault::injected("CONTROL")) return finish(filenum, error);
  OpenFile* f = find_open(filenum);
  if (f == nullptr) return err::BAD_FILENUM;
  return finish(filenum, f->control(operation, param.value_or(0)));
}

INT SETMODE(INT filenum, INT function, std::optional<INT> param1, std::optional<INT> param2,
            INT* last_params) {
  if (const INT error = fault::injected("SETMODE")) return finish(filenum, error);
  OpenFile* f = find_open(filenum);
  if (f == nullptr) return err::BAD_FILENUM;
  if (last_params != nullptr) last_params[0] = last_params[1] = 0;
  if (function == SETMODE_SECURITY && !param1) return finish(filenum, err::MISSING_PARAM);
  INT error = f->setmode(function, param1.value_or(0), param2.value_or(0));
  if (error == err::OPERATION_INVALID && function == SETMODE_SECURITY) {
    error = secure_by_name(f->current_name(), *param1);
  }
  return finish(filenum, error);
}

INT SETMODENOWAIT(INT filenum, INT function, std::optional<INT> param1,
                  std::optional<INT> param2, INT* last_params, INT32 tag) {
  if (const INT error = fault::injected("SETMODENOWAIT")) return finish(filenum, error);
  OpenFile* f = find_open(filenum);
  if (f == nullptr) return err::BAD_FILENUM;
  if (f->nowait_depth == 0) return SETMODE(filenum, function, param1, param2, last_params);
  if (last_params != nullptr) last_params[0] = last_params[1] = 0;
  return run_operation(
      filenum, tag, nullptr,
      [&](OpenFile* file) {
        return file->start_setmode(function, param1.value_or(0), param2.value_or(0));
      },
      [](OpenFile*, INT*) { return INT{0}; });
}

INT SETPARAM(INT filenum, INT function, const char* param_array, INT param_count,
             char* last_param_array, INT last_param_max, INT* last_param_count,
             std::optional<INT32> nowait_tag) {
  if (last_param_count != nullptr) *last_param_count = 0;
  if (const INT error = fault::injected("SETPARAM")) return finish(filenum, error);
  OpenFile* f = find_open(filenum);
  if (f == nullptr) return err::BAD_FILENUM;
  if (param_count < 0 || (param_array == nullptr && param_count > 0)) {
    return finish(filenum, err::BAD_PARAM);
  }
  const INT answer_max = last_param_array == nullptr ? INT{0} : std::max<INT>(last_param_max, 0);
  if (nowait_tag && f->nowait_depth > 0) {
    return run_operation(
        filenum, *nowait_tag, nullptr,
        [&](OpenFile* file) {
          return file->start_setparam(function, param_array, param_count, last_param_array,
                                      answer_max);
        },
        [](OpenFile*, INT*) { return INT{0}; });
  }
  INT count = 0;
  const INT error =
      f->setparam(function, param_array, param_count, last_param_array, answer_max, &count);
  if (last_param_count != nullptr) *last_param_count = count;
  return finish(filenum, error);
}

}  // namespace nsk
