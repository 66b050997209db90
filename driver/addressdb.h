// The address database: the PLAIN store into the rotating pair TERMIPA0 / TERMIPA1 beside the
// program file, and the listing of stored records.
#pragma once

#include "platform/types.h"

namespace nsk {

constexpr int PLAINRECORD_LENGTH = 150;
constexpr int PLAINKEY_LENGTH = 92;
constexpr INT PLAINFILE_CODE = 20044;

// Stores the record for TERMNAME with address and HOSTNAME; stops the process itself on a
// failure it reports (completion code 2).
void PLAINSTORE(const char* address, INT address_length);

INT OPENPLAINFILE(INT* filenum);
INT RENAMEPLAINFILE(INT* filenum);
INT CREATEPLAINFILE(char* filename, INT length);

void DISPLAYIPADDRESS();

// The current file's name (program file's subvolume + ".TERMIPA0") into name (capacity 36).
INT PLAINFILENAME(char* name, INT* length);
// True when the file of that name is a key-sequenced file of code 20044 with 150-byte records:
// another program's file under a database name is neither listed nor written.
INT PLAINFILEOK(const char* name, INT length);
// Stops the process, completion code 2, with what + name + "; I/O error: " + error.
[[noreturn]] void STOPWITHFILEERROR(const char* what, const char* name, INT length, INT error);

}  // namespace nsk
