// EDIT files: plain text files, one line per record, file code 101 kept with the file.  A line
// written is one write(2) of the line and its "\n", so that it survives any end of the process;
// CLOSEALLEDIT (and FILE_CLOSE_) make the lines durable with fsync.  A file whose content is not
// text is refused and never written.
#include "platform/editfiles.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform/errno_map.h"
#include "platform/faults.h"
#include "platform/fileclass.h"
#include "platform/keyseq.h"
#include "platform/openkinds.h"
#include "platform/volumes.h"

namespace nsk {
namespace {

constexpr INT SETMODE_SECURITY = 1;
constexpr INT SETMODE_EDIT_BUFFERING = 90;
constexpr INT32 APPEND_RECORD = -2;

// Text is what a line-oriented tool reads back as lines: no NUL bytes, and no control bytes but
// tab, carriage return and form feed.
bool text_byte(unsigned char c) { return c >= 0x20 || c == '\t' || c == '\n' || c == '\r' || c == '\f'; }

enum class Content { Text, NotText, Unreadable };

// Checks the whole file; *ends_open is true when it does not end with a line end.
Content check_content(int fd, bool* ends_open) {
  char chunk[8192];
  char last = '\n';
  for (off_t at = 0;;) {
    const ssize_t n = ::pread(fd, chunk, sizeof chunk, at);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return Content::Unreadable;
    if (n == 0) break;
    if (!std::all_of(chunk, chunk + n, [](char c) { return text_byte(static_cast<unsigned char>(c)); })) {
      return Content::NotText;
    }
    last = chunk[n - 1];
    at += n;
  }
  *ends_open = last != '\n';
  return Content::Text;
}

class EditFile : public OpenFile {
 public:
  EditFile(int fd, bool ends_open) : fd_(fd), ends_open_(ends_open) {}
  ~EditFile() override { close_file(); }

  void typeinfo(INT* words) override {
    words[0] = 3;
    words[1] = 0;
    words[2] = 0;
    words[3] = 0;
    words[4] = EDIT_FILE_CODE;
  }

  // The next line, without its line end, cut to read_count.
  INT read(char* buffer, INT read_count, INT* count) override {
    INT got = 0;
    char chunk[512];
    for (;;) {
      const ssize_t n = ::pread(fd_, chunk, sizeof chunk, read_at_);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) return error_from_errno(errno);
      if (n == 0) {
        if (got == 0) return err::END_OF_FILE;
        break;
      }
      const char* end = std::find(chunk, chunk + n, '\n');
      const INT take = static_cast<INT>(std::min<ssize_t>(end - chunk, read_count - got));
      std::memcpy(buffer + got, chunk, static_cast<size_t>(take));
      got = static_cast<INT>(got + take);
      read_at_ += end - chunk;
      if (end != chunk + n) {
        ++read_at_;
        break;
      }
    }
    *count = got;
    return 0;
  }

  INT write(const char* buffer, INT write_count, INT* count) override {
    const INT error = append_line(buffer, write_count);
    if (error == 0) *count = write_count;
    return error;
  }

  INT setmode(INT function, INT param1, INT /*param2*/) override {
    if (function == SETMODE_EDIT_BUFFERING) return 0;
    if (function != SETMODE_SECURITY) return err::OPERATION_INVALID;
    if (::fchmod(fd_, security_mode(param1)) != 0) return error_from_errno(errno);
    return 0;
  }

  // One line: a line end inside it or a NUL byte would break the line structure of the file.
  INT append_line(const char* buffer, INT length) {
    if (length < 0 || (buffer == nullptr && length > 0)) return err::NOT_OPEN_ACCESS;
    if (std::any_of(buffer, buffer + length, [](char c) { return c == '\n' || c == '\0'; })) {
      return err::BAD_PARAM;
    }
    std::string line = ends_open_ ? "\n" : "";
    line.append(buffer, static_cast<size_t>(length));
    line.push_back('\n');
    const off_t before = ::lseek(fd_, 0, SEEK_END);
    ssize_t n;
    do n = ::write(fd_, line.data(), line.size());
    while (n < 0 && errno == EINTR);
    if (n == static_cast<ssize_t>(line.size())) {
      ends_open_ = false;
      return 0;
    }
    const int cause = n < 0 ? errno : ENOSPC;
    if (n > 0 && before >= 0 && ::ftruncate(fd_, before) != 0) return error_from_errno(errno);
    return error_from_errno(cause);
  }

  // Makes the lines durable and closes; the error of fsync or close.
  INT close_file() {
    if (fd_ < 0) return 0;
    INT error = 0;
    if (access != 1 && ::fsync(fd_) != 0 && errno != EINVAL) error = error_from_errno(errno);
    if (::close(fd_) != 0 && error == 0) error = error_from_errno(errno);
    fd_ = -1;
    return error;
  }

 private:
  int fd_;
  bool ends_open_;
  off_t read_at_ = 0;
};

INT create_edit_file(const std::string& path) {
  if (const INT error = volumes::ensure_subvolume_dir(path)) return error;
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
  if (fd < 0) return error_from_errno(errno);
  ::close(fd);
  return volumes::set_file_code(path, EDIT_FILE_CODE);
}

// The EDIT file at path, created when missing and create is 1.
INT open_or_create(const std::string& path, const std::string& name, INT access, bool create,
                   std::unique_ptr<OpenFile>* file) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) {
    if (errno != ENOENT) return error_from_errno(errno);
    if (!create) return err::NO_SUCH_FILE;
    if (const INT error = create_edit_file(path)) return error;
  } else {
    keyseq::Attributes attributes;
    if (!S_ISREG(st.st_mode) || keyseq::probe(path, &attributes) ||
        volumes::file_code(path) != EDIT_FILE_CODE) {
      return err::OPERATION_INVALID;
    }
  }
  return open_edit(path, name, access, file);
}

}  // namespace

INT open_edit(const std::string& path, const std::string& /*name*/, INT access,
              std::unique_ptr<OpenFile>* file) {
  const int flags = access == 1 ? O_RDONLY : O_RDWR | O_APPEND;
  const int fd = ::open(path.c_str(), flags | O_CLOEXEC);
  if (fd < 0) return errno == ENOENT ? err::NO_SUCH_FILE : error_from_errno(errno);
  bool ends_open = false;
  const Content content = check_content(fd, &ends_open);
  if (content != Content::Text) {
    const int cause = errno;
    ::close(fd);
    return content == Content::NotText ? err::DATA_ERROR : error_from_errno(cause);
  }
  *file = std::make_unique<EditFile>(fd, ends_open);
  return 0;
}

INT OPENEDIT_(const char* filename, INT length, INT* filenum, std::optional<INT> access,
              std::optional<INT> /*exclusion*/, std::optional<INT> /*nowait*/,
              std::optional<INT> /*sync_depth*/, std::optional<INT> create) {
  if (filenum != nullptr) *filenum = -1;
  INT error = fault::injected("OPENEDIT_");
  if (error == 0 && filenum == nullptr) error = err::MISSING_PARAM;
  const INT mode = access.value_or(0);
  if (error == 0 && (mode < 0 || mode > 2)) error = err::BAD_PARAM;
  files::Target target;
  if (error == 0) error = files::classify(filename, length, &target);
  if (error == 0 && target.kind != files::Kind::DiskFile) error = err::OPERATION_INVALID;
  std::unique_ptr<OpenFile> file;
  if (error == 0) {
    error = open_or_create(target.path, target.full_name, mode, create.value_or(0) == 1, &file);
  }
  record_open_error(error);
  if (error != 0) return error;
  file->name = target.full_name;
  file->access = mode;
  *filenum = register_open(std::move(file));
  return 0;
}

INT WRITEEDIT(INT filenum, INT32 record_number, const char* buffer, INT write_length) {
  OpenFile* open = find_open(filenum);
  auto* edit = dynamic_cast<EditFile*>(open);
  INT error = fault::injected("WRITEEDIT");
  if (error == 0 && edit == nullptr) error = err::BAD_FILENUM;
  if (error == 0 && record_number != APPEND_RECORD) error = err::OPERATION_INVALID;
  if (error == 0) error = edit->append_line(buffer, write_length);
  if (open != nullptr) open->last_error = error;
  return error;
}

INT CLOSEALLEDIT() {
  if (const INT error = fault::injected("CLOSEALLEDIT")) return error;
  INT first_error = 0;
  for (INT f = next_open(-1); f != -1;) {
    const INT next = next_open(f);
    if (auto* edit = dynamic_cast<EditFile*>(find_open(f))) {
      const INT error = edit->close_file();
      if (first_error == 0) first_error = error;
      unregister_open(f);
    }
    f = next;
  }
  return first_error;
}

}  // namespace nsk
