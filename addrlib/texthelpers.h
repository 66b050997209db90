// Name and text helpers.
#pragma once

#include "platform/types.h"

namespace nsk {

// name without the own node's prefix.  0, 13, 563, or the error of a node procedure.
INT STRIPMYNODENAME_(const char* name, INT length, char* out, INT out_max, INT* out_length);

// Moves source into the field and pads it with blanks.  0, 29 (no target), 590.
INT NLX_BLANK_AND_MOVE_(char* target, INT width, const char* source = nullptr,
                        INT source_length = 0);

// Length of field without trailing blanks.
INT REALLEN(const char* field, INT length);

// -1 when name matches an entry of the pattern list (length byte, pattern; a 0 length byte
// ends it), else 0.  list_capacity bounds the reading of the list.
INT NLX_IN_STRINGBUFFER_(const char* pattern_list, const char* name, INT length, INT flag,
                         INT list_capacity = 0x7FFF);

}  // namespace nsk
