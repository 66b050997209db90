// The mapping of Linux errno values to file-system error numbers.
#include "platform/errno_map.h"

#include <gtest/gtest.h>

#include <cerrno>

namespace nsk {
namespace {

TEST(ErrnoMap, EveryMappedValue) {
  struct Case {
    int errno_value;
    INT error;
  };
  static const Case cases[] = {
      {0, 0},          {ENOENT, 11},   {ENOTDIR, 11},   {EEXIST, 10},    {ENOTEMPTY, 10},
      {EACCES, 48},    {EPERM, 48},    {EROFS, 48},     {ENOSPC, 43},    {EDQUOT, 43},
      {EFBIG, 45},     {EBADF, 16},    {EINVAL, 590},   {ENAMETOOLONG, 13}, {ELOOP, 13},
      {EBUSY, 12},     {ETXTBSY, 12},  {EISDIR, 2},     {ENOTTY, 2},     {ESPIPE, 2},
      {EXDEV, 2},      {ENOTSUP, 2},   {ENXIO, 14},     {ENODEV, 14},    {ETIMEDOUT, 40},
      {EPIPE, 201},    {ECONNRESET, 201}, {EIO, 190},
      // Everything else keeps its Linux cause readable: 1000 + errno.
      {EINTR, 1000 + EINTR}, {EAGAIN, 1000 + EAGAIN}, {ENOMEM, 1000 + ENOMEM},
      {EMFILE, 1000 + EMFILE},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.errno_value);
    EXPECT_EQ(error_from_errno(c.errno_value), c.error);
  }
}

}  // namespace
}  // namespace nsk
