// The OUT channel and the home-terminal channel: opening and writing the OUT file, banner, help.
#pragma once

#include "platform/types.h"

namespace nsk {

INT OPENOUTFILE(const char* outfilename /*[24]*/, INT* outfnum);
INT TWRITE(INT filenum, const char* line, INT length);
void PRINTBANNER();
void PRINTHELP();
// One line to the home terminal: WRITEX then AWAITIOX on HOMETERMFNUM, results ignored.
void WRITEHOMETERM(const char* line, INT length);

}  // namespace nsk
