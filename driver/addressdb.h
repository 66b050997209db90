// The address database: the PLAIN store into the rotating pair TERMIPA0 / TERMIPA1 beside the
// program file, and the listing of stored records.
#pragma once

#include "platform/types.h"

namespace nsk {

constexpr int PLAINRECORD_LENGTH = 150;
constexpr int PLAINKEY_LENGTH = 92;

// Stores the record for TERMNAME with address and HOSTNAME; stops the process itself on a
// failure it reports (completion code 2).
void PLAINSTORE(const char* address, INT address_length);

INT OPENPLAINFILE(INT* filenum);
INT RENAMEPLAINFILE(INT* filenum);
INT CREATEPLAINFILE(char* filename, INT length);

void DISPLAYIPADDRESS();

}  // namespace nsk
