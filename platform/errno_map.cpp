// The one mapping of Linux errno values to file-system error numbers (docs/errors.md).
#include "platform/errno_map.h"

#include <cerrno>

namespace nsk {
namespace {

// Errors that have no better counterpart are reported as 1000 + errno, so that the Linux cause
// can still be read from the number.
constexpr int UNMAPPED_BASE = 1000;
constexpr INT DEVICE_ERROR = 190;

struct Mapping {
  int errno_value;
  INT error;
};

constexpr Mapping TABLE[] = {
    {0, err::OK},
    {ENOENT, err::NO_SUCH_FILE},
    {ENOTDIR, err::NO_SUCH_FILE},
    {EEXIST, err::EXISTS},
    {ENOTEMPTY, err::EXISTS},
    {EACCES, err::SECURITY},
    {EPERM, err::SECURITY},
    {EROFS, err::SECURITY},
    {ENOSPC, err::NO_SPACE},
    {EDQUOT, err::NO_SPACE},
    {EFBIG, err::FILE_FULL},
    {EBADF, err::BAD_FILENUM},
    {EINVAL, err::BAD_PARAM},
    {ENAMETOOLONG, err::BAD_NAME},
    {ELOOP, err::BAD_NAME},
    {EBUSY, err::FILE_IN_USE},
    {ETXTBSY, err::FILE_IN_USE},
    {EISDIR, err::OPERATION_INVALID},
    {ENOTTY, err::OPERATION_INVALID},
    {ESPIPE, err::OPERATION_INVALID},
    {EXDEV, err::OPERATION_INVALID},
    {ENOTSUP, err::OPERATION_INVALID},
    {ENXIO, err::NO_SUCH_DEVICE},
    {ENODEV, err::NO_SUCH_DEVICE},
    {ETIMEDOUT, err::TIMEOUT},
    {EPIPE, err::PATH_DOWN},
    {ECONNRESET, err::PATH_DOWN},
    {EIO, DEVICE_ERROR},
};

}  // namespace

INT error_from_errno(int errno_value) {
  for (const Mapping& m : TABLE) {
    if (m.errno_value == errno_value) return m.error;
  }
  return static_cast<INT>(UNMAPPED_BASE + errno_value);
}

}  // namespace nsk
