// The release mark, in every build.
#include "driver/versionmarks.h"

[[gnu::used, gnu::noinline]] T4410K03_NETLOC402_20MAY2008::T4410K03_NETLOC402_20MAY2008() {}
