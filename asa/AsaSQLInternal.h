// Private to the statement units of ZylAsa: the server-type mapping table as data, and the few
// constants the statement code shares.
#pragma once
#pragma GCC visibility push(default)

#include <cstdint>

#include "base/Zylbase.h"

namespace zylasa {

// How one described server type is held in a record buffer.
struct TAsaTypeMapping {
  TZyloFieldTypes FieldType = ztUnknown;
  int32_t ExtType = 0;  // the type code the column is bound (fetched) with
  int32_t Size = 0;     // bytes in the record buffer
  int32_t Length = 0;   // declared length as reported in the definition
  int32_t Precision = 0;
  int32_t Decimals = 0;
};

// Code is the server type without the nullable bit; Len the described sqllen; LongSize the buffer
// size of a long value (BlobSize + 4 for result columns, 32767 for output variables).
TAsaTypeMapping AsaMapServerType(int32_t Code, int32_t Len, int32_t LongSize);

// The module name handed to the library with every statement call.
inline char* ModuleName() { return const_cast<char*>(szZyloLibraryShortName); }

// Long values travel in pieces: a DT_BINARY variable of 32767 bytes holds a 16-bit length and at
// most this many bytes.
constexpr int32_t kAsaPieceSize = 32765;
constexpr int32_t kAsaPieceBuffer = 32767;

}  // namespace zylasa
#pragma GCC visibility pop
