// Build mark of the program netloc_c_priv, nested in the release mark.
#include "driver/versionmarks.h"

[[gnu::used, gnu::noinline]] void T4410K03_NETLOC402_20MAY2008::T4410K03_NETLOC_C_PRIV() {}
