// PlatformInt: the code-page tables and the collation behind the platform layer,
// shared by Platform.cpp and SysUtils.cpp only. Not part of the host's interface.
#pragma once
#pragma GCC visibility push(default)

#include <cstddef>
#include <cstdint>

#include "host/Platform.h"

namespace ZylCodePage {

// Sort data of one Windows-1252 character. Class 0 characters carry no weight at
// all (control characters); a ligature carries two primary weights.
struct TCollationKey {
  uint8_t Class;      // 0 ignorable, 1 symbol, 2 digit, 3 letter
  uint16_t Primary;   // base character; symbols < digits < letters
  uint16_t Primary2;  // second letter of a ligature, else 0
  uint8_t Secondary;  // accent (0 none)
  uint8_t Tertiary;   // case: 0 lower, 1 upper, 2 other form
};

extern const uint8_t AnsiToOem[256];
extern const uint8_t OemToAnsi[256];
extern const uint8_t AnsiUpper[256];
extern const uint8_t AnsiLower[256];
extern const TCollationKey AnsiCollation[256];

// CompareStringA's work on counted strings: <0, 0, >0.
int Collate(const char* S1, size_t N1, const char* S2, size_t N2, DWORD Flags);

}  // namespace ZylCodePage
#pragma GCC visibility pop
