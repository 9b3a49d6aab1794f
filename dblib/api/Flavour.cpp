// The client-library version this flavour reports (compiled once per flavour with
// ZYL_FLAVOUR_VERSION set by dblib/CMakeLists.txt).
#include "dblib/api/Flavour.h"

#ifndef ZYL_FLAVOUR_VERSION
#define ZYL_FLAVOUR_VERSION 10
#endif

extern "C" int dbl_flavour_version() { return ZYL_FLAVOUR_VERSION; }
