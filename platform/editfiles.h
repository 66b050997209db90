// EDIT files: text files of numbered lines (file code 101).  On Linux an EDIT file is a plain
// text file, one line per record, readable by any tool; the platform keeps a file's code so that
// FILE_GETINFOBYNAME_ reports 101 for it.  Lines written are buffered and complete on disk when
// CLOSEALLEDIT runs (the process's stop closes them too).
#pragma once

#include "platform/types.h"

namespace nsk {

constexpr INT EDIT_FILE_CODE = 101;

// Opens an EDIT file.  access 0 read-write.  create: 1 creates a missing file as an empty EDIT
// file (the eighth position of the call).  Errors: 11 missing (create 0), 13 bad name,
// 2 the file exists but is not an EDIT file, 59 its content is not text.
INT OPENEDIT_(const char* filename, INT length, INT* filenum, std::optional<INT> access = {},
              std::optional<INT> exclusion = {}, std::optional<INT> nowait = {},
              std::optional<INT> sync_depth = {}, std::optional<INT> create = {});

// Writes one line.  record_number -2 appends after the last line.  Errors: 16 not an EDIT open,
// 43 the disk is full (the line is not written).
INT WRITEEDIT(INT filenum, INT32 record_number, const char* buffer, INT write_length);

// Flushes and closes every EDIT file the process has open.
INT CLOSEALLEDIT();

}  // namespace nsk
