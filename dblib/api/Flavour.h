// The version a library flavour reports: 4 .. 10, defined by the flavour's own object.
#pragma once

extern "C" __attribute__((visibility("hidden"))) int dbl_flavour_version();
