// Basic types of the platform: 16-, 32- and 64-bit integers, truth values, process handles, and
// the error numbers that the program itself produces or tests.
#pragma once

#include <cstdint>
#include <optional>

namespace nsk {

using INT = std::int16_t;
using INT32 = std::int32_t;
using INT64 = std::int64_t;

// Truth values as the platform has them: -1 true, 0 false; any nonzero value tests true.
constexpr INT TRUE_ = -1;
constexpr INT FALSE_ = 0;

// A process handle is 10 words.  The null handle has every word -1 (all bytes 0xFF).
struct PHANDLE {
  std::uint16_t w[10];
};

// File-system error numbers used across the layers.  The full list, with the errno mapping of
// the real backings, is in docs/errors.md.
namespace err {
constexpr INT OK = 0;
constexpr INT END_OF_FILE = 1;
constexpr INT OPERATION_INVALID = 2;  // operation not valid for this kind of file
constexpr INT FILE_IN_USE = 12;
constexpr INT EXISTS = 10;         // file already exists (FILE_CREATE_, FILE_RENAME_)
constexpr INT NO_SUCH_FILE = 11;   // also: no such record (exact KEYPOSITIONX)
constexpr INT BAD_NAME = 13;
constexpr INT NO_SUCH_DEVICE = 14;
constexpr INT BAD_FILENUM = 16;    // file number not open
constexpr INT NOT_OPEN_ACCESS = 21;  // illegal count, or access not permitted by the open
constexpr INT BOUNDS = 22;
constexpr INT NO_OUTSTANDING = 26;   // AWAITIOX with no operation outstanding
constexpr INT OP_PENDING = 27;       // a nowait operation is already outstanding (depth 1)
constexpr INT MISSING_PARAM = 29;
constexpr INT NO_SPACE = 43;       // unable to obtain disk space
constexpr INT FILE_FULL = 45;      // key-sequenced file at its maximum size
constexpr INT TIMEOUT = 40;        // time limit expired
constexpr INT PARTITION = 47;
constexpr INT SECURITY = 48;       // security violation
constexpr INT DUPLICATE_KEY = 10;  // insert of a key that exists (same number as EXISTS)
constexpr INT DATA_ERROR = 59;     // file is bad: not what its attributes or format say
constexpr INT PATH_DOWN = 201;
constexpr INT BUFFER_TOO_SMALL = 563;
constexpr INT BAD_PARAM = 590;
}  // namespace err

}  // namespace nsk
