// Unstructured disk files (the bytes of a Linux file: writes append, reads go on from where the
// last one ended) and process opens (writes are accepted and thrown away).
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/errno_map.h"
#include "platform/openkinds.h"
#include "platform/volumes.h"

namespace nsk {
namespace {

constexpr INT SETMODE_SECURITY = 1;

class UnstructuredFile : public OpenFile {
 public:
  UnstructuredFile(int fd, std::string path) : fd_(fd), path_(std::move(path)) {}
  ~UnstructuredFile() override { ::close(fd_); }

  void typeinfo(INT* words) override {
    words[0] = 3;
    words[1] = 0;
    words[2] = 0;
    words[3] = 0;
    words[4] = static_cast<INT>(volumes::file_code(path_));
  }

  // Reads go on from where the last read ended, whatever was appended meanwhile.
  INT read(char* buffer, INT read_count, INT* count) override {
    ssize_t n;
    do n = ::pread(fd_, buffer, static_cast<size_t>(read_count), read_at_);
    while (n < 0 && errno == EINTR);
    if (n < 0) return error_from_errno(errno);
    if (n == 0 && read_count > 0) return err::END_OF_FILE;
    read_at_ += n;
    *count = static_cast<INT>(n);
    return 0;
  }

  // One write of all the bytes at the end; a short write is undone, so that no partial record
  // is left.
  INT write(const char* buffer, INT write_count, INT* count) override {
    struct stat st {};
    const off_t before = ::fstat(fd_, &st) == 0 ? st.st_size : -1;
    ssize_t n;
    do n = ::write(fd_, buffer, static_cast<size_t>(write_count));
    while (n < 0 && errno == EINTR);
    if (n == write_count) {
      *count = write_count;
      return 0;
    }
    const int cause = n < 0 ? errno : ENOSPC;
    if (n > 0 && before >= 0 && ::ftruncate(fd_, before) != 0) return error_from_errno(errno);
    return error_from_errno(cause);
  }

  INT setmode(INT function, INT param1, INT /*param2*/) override {
    if (function != SETMODE_SECURITY) return err::OPERATION_INVALID;
    if (::fchmod(fd_, security_mode(param1)) != 0) return error_from_errno(errno);
    return 0;
  }

 private:
  int fd_;
  std::string path_;
  off_t read_at_ = 0;
};

class ProcessOpen : public OpenFile {
 public:
  void typeinfo(INT* words) override {
    words[0] = 0;
    words[1] = 0;
    words[2] = -1;
    words[3] = -1;
    words[4] = 0;
  }
  INT write(const char* /*buffer*/, INT write_count, INT* count) override {
    *count = write_count;
    return 0;
  }
};

// Read or write permission of one Guardian security field for the group and for the others:
// A and N (any user) give both, G and C (the group, the community) the group only.
unsigned field_mode(int field, unsigned group_bit, unsigned other_bit) {
  switch (field) {
    case 0:  // A
    case 4:  // N
      return group_bit | other_bit;
    case 1:  // G
    case 5:  // C
      return group_bit;
    default:  // O, U, super ID only
      return 0;
  }
}

}  // namespace

// The security word has four 3-bit fields: read, write, execute, purge (bits 4-6, 7-9, 10-12,
// 13-15 from the top).  The owner may always read and write; execute is never granted.
unsigned security_mode(INT security) {
  const unsigned word = static_cast<std::uint16_t>(security);
  const int read = static_cast<int>((word >> 9) & 7);
  const int write = static_cast<int>((word >> 6) & 7);
  return S_IRUSR | S_IWUSR | field_mode(read, S_IRGRP, S_IROTH) |
         field_mode(write, S_IWGRP, S_IWOTH);
}

INT open_unstructured(const std::string& path, const std::string& /*name*/, INT access,
                      std::unique_ptr<OpenFile>* file) {
  const int flags = access == 1 ? O_RDONLY : access == 2 ? O_WRONLY : O_RDWR;
  const int fd = ::open(path.c_str(), flags | O_APPEND | O_CLOEXEC);
  if (fd < 0) return errno == ENOENT ? err::NO_SUCH_FILE : error_from_errno(errno);
  *file = std::make_unique<UnstructuredFile>(fd, path);
  return 0;
}

std::unique_ptr<OpenFile> open_process(const std::string& /*name*/) {
  return std::make_unique<ProcessOpen>();
}

}  // namespace nsk
