// The start-up line and PARAM options.
#pragma once

#include "platform/types.h"

namespace nsk {

constexpr int TOKEN_SLOTS = 50;
constexpr int TOKEN_TEXT_MAX = 1024;

struct TOKENSLOT {
  char* address;
  INT length;
};

struct TOKENLIST_T {
  INT count;
  char text[TOKEN_TEXT_MAX];
  TOKENSLOT slots[TOKEN_SLOTS];
};

void GETSTARTUP(void* rucb, INT* passthru, const char* message, INT length, INT* match);
void GETPARAMS(void* rucb, INT* passthru, const char* message, INT length, INT* match);
void PARSER(const char* text, INT text_length, TOKENLIST_T* tokens, const char* separators,
            INT separator_count);
INT CHARACTERKNOWN(char character, const char* set, INT count);
void DOWNSHIFTPOINTERS(TOKENLIST_T* tokens, INT slots, INT n);

}  // namespace nsk
