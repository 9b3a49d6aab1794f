// Descriptor-area routines: allocation (one block holding the SQLDA and, for alloc_sqlda, the
// indicators, so every free routine releases exactly what was allocated), data buffers sized
// from type and length, and the storage-size queries.
#include <cstdlib>
#include <cstring>
#include <new>

#include "dblib/esql.h"

namespace {

SQLDA* Allocate(unsigned numvar, bool indicators) {
  if (numvar > 32767) return nullptr;
  size_t vars = numvar == 0 ? 1 : numvar;
  size_t head = sizeof(SQLDA) + (vars - 1) * sizeof(SQLVAR);
  size_t total = head + (indicators ? numvar * sizeof(a_sql_len) : 0);
  void* block = std::calloc(1, total);
  if (!block) return nullptr;
  auto* da = static_cast<SQLDA*>(block);
  std::memcpy(da->sqldaid, "SQLDA   ", 8);
  da->sqldabc = a_sql_int32(sizeof(SQLDA) + (long(numvar) - 1) * long(sizeof(SQLVAR)));
  da->sqln = short(numvar);
  da->sqld = 0;
  if (indicators) {
    auto* ind = reinterpret_cast<a_sql_len*>(static_cast<char*>(block) + head);
    for (unsigned i = 0; i < numvar; ++i) da->sqlvar[i].sqlind = &ind[i];
  }
  return da;
}

// Bytes needed for any value of v with its current type and length.
size_t Storage(const SQLVAR& v) {
  size_t len = v.sqllen < 0 ? 0 : size_t(v.sqllen);
  switch (v.sqltype & DT_TYPES) {
    case DT_STRING:
    case DT_DATE:
    case DT_TIME:
    case DT_TIMESTAMP:
    case DT_VARIABLE:
    case DT_NSTRING: return len + 1;
    case DT_FIXCHAR:
    case DT_NFIXCHAR: return len;
    case DT_VARCHAR:
    case DT_BINARY:
    case DT_NVARCHAR: return len;  // sqllen is the size of the whole structure
    case DT_LONGVARCHAR:
    case DT_LONGBINARY:
    case DT_LONGNVARCHAR: return LONGVARCHARSIZE(len);
    case DT_DOUBLE:
    case DT_BIGINT:
    case DT_UNSBIGINT: return 8;
    case DT_FLOAT:
    case DT_INT:
    case DT_UNSINT: return 4;
    case DT_SMALLINT:
    case DT_UNSSMALLINT: return 2;
    case DT_TINYINT:
    case DT_BIT: return 1;
    case DT_DECIMAL: return size_t(DECIMALSTORAGE(len));
    case DT_TIMESTAMP_STRUCT: return sizeof(SQLDATETIME);
    default: return len;
  }
}

// Characters needed for the string form of a value of v's type (without the NUL).
size_t StringChars(const SQLVAR& v) {
  size_t len = v.sqllen < 0 ? 0 : size_t(v.sqllen);
  switch (v.sqltype & DT_TYPES) {
    case DT_VARCHAR:
    case DT_BINARY:
    case DT_NVARCHAR: return len > 2 ? len - 2 : 0;
    case DT_STRING:
    case DT_NSTRING: return len > 0 ? len - 1 : 0;
    case DT_LONGVARCHAR:
    case DT_LONGBINARY:
    case DT_LONGNVARCHAR: return 32767;
    case DT_DOUBLE:
    case DT_FLOAT: return 30;
    case DT_BIGINT:
    case DT_UNSBIGINT: return 20;
    case DT_INT:
    case DT_UNSINT: return 11;
    case DT_SMALLINT:
    case DT_UNSSMALLINT: return 6;
    case DT_TINYINT: return 3;
    case DT_BIT: return 1;
    case DT_DECIMAL: return size_t(PRECISION(len)) + 2;
    case DT_TIMESTAMP_STRUCT: return 26;
    default: return len;
  }
}

SQLDA* Fill(SQLDA* da, unsigned flags, bool allStrings, unsigned maxlen) {
  if (!da) return nullptr;
  int n = da->sqld < da->sqln ? da->sqld : da->sqln;
  for (int i = 0; i < n; ++i) {
    SQLVAR& v = da->sqlvar[i];
    short nullBit = short(v.sqltype & DT_NULLS_ALLOWED);
    int type = v.sqltype & DT_TYPES;
    size_t bytes;
    if (allStrings) {
      size_t chars = StringChars(v);
      if (maxlen > 0 && chars > maxlen - 1) chars = maxlen - 1;
      if (chars > 32766) chars = 32766;
      v.sqltype = short(DT_STRING | nullBit);
      v.sqllen = a_sql_len(chars + 1);
      bytes = chars + 1;
    } else if ((type == DT_LONGVARCHAR || type == DT_LONGBINARY || type == DT_LONGNVARCHAR) &&
               !(flags & FILL_SQLDA_FLAG_RETURN_DT_LONG)) {
      v.sqltype = short((type == DT_LONGBINARY ? DT_BINARY : type == DT_LONGNVARCHAR ? DT_NVARCHAR : DT_VARCHAR) | nullBit);
      v.sqllen = 32767;  // the whole structure: 32765 bytes of data
      bytes = 32767;
    } else if (type == DT_LONGVARCHAR || type == DT_LONGBINARY || type == DT_LONGNVARCHAR) {
      size_t cap = v.sqllen > 0 ? size_t(v.sqllen) : 32767;
      bytes = LONGVARCHARSIZE(cap);
    } else if (type == DT_VARCHAR || type == DT_BINARY || type == DT_NVARCHAR) {
      // DESCRIBE reports the declared length n; the structure needs n + 2.
      size_t len = v.sqllen < 0 ? 0 : size_t(v.sqllen);
      if (len > 32765) len = 32765;
      v.sqllen = a_sql_len(len + 2);
      bytes = len + 2;
    } else if (type == DT_STRING || type == DT_NSTRING || type == DT_DATE || type == DT_TIME || type == DT_TIMESTAMP) {
      // The NUL needs room too: a value of the full described length must fit.
      size_t len = v.sqllen < 0 ? 0 : size_t(v.sqllen);
      if (len > 32766) len = 32766;
      v.sqllen = a_sql_len(len + 1);
      bytes = len + 1;
    } else {
      bytes = Storage(v);
    }
    void* buf = std::calloc(1, bytes ? bytes : 1);
    if (!buf) {
      for (int k = 0; k < i; ++k) {
        std::free(da->sqlvar[k].sqldata);
        da->sqlvar[k].sqldata = nullptr;
      }
      return nullptr;
    }
    if ((v.sqltype & DT_TYPES) == DT_LONGVARCHAR || (v.sqltype & DT_TYPES) == DT_LONGBINARY ||
        (v.sqltype & DT_TYPES) == DT_LONGNVARCHAR)
      static_cast<LONGVARCHAR*>(buf)->array_len = a_sql_uint32(bytes - LONGVARCHARSIZE(0));
    v.sqldata = buf;
  }
  return da;
}

}  // namespace

extern "C" {

_esqlentry_ struct sqlda* alloc_sqlda(unsigned numvar) { return Allocate(numvar, true); }
_esqlentry_ struct sqlda* alloc_sqlda_noind(unsigned numvar) { return Allocate(numvar, false); }
_esqlentry_ struct sqlda* fill_sqlda(struct sqlda* da) { return Fill(da, 0, false, 0); }
_esqlentry_ struct sqlda* fill_sqlda_ex(struct sqlda* da, unsigned flags) { return Fill(da, flags, false, 0); }
_esqlentry_ struct sqlda* fill_s_sqlda(struct sqlda* da, unsigned maxlen) {
  return Fill(da, 0, true, maxlen > 32767 ? 32767 : maxlen);
}
_esqlentry_ void free_sqlda(struct sqlda* da) { std::free(da); }
_esqlentry_ void free_sqlda_noind(struct sqlda* da) { std::free(da); }
_esqlentry_ void free_filled_sqlda(struct sqlda* da) {
  if (!da) return;
  int n = da->sqld < da->sqln ? da->sqld : da->sqln;
  for (int i = 0; i < n; ++i) std::free(da->sqlvar[i].sqldata);
  std::free(da);
}
_esqlentry_ a_sql_uint32 sqlda_storage(struct sqlda* da, int varno) {
  if (!da || varno < 0 || varno >= da->sqln) return 0;
  return a_sql_uint32(Storage(da->sqlvar[varno]));
}
_esqlentry_ a_sql_uint32 sqlda_string_length(struct sqlda* da, int varno) {
  if (!da || varno < 0 || varno >= da->sqln) return 0;
  return a_sql_uint32(StringChars(da->sqlvar[varno]) + 1);
}
_esqlentry_ void* DBAlloc(size_t size) { return std::malloc(size ? size : 1); }
_esqlentry_ void* DBRealloc(void* p, size_t size) { return std::realloc(p, size ? size : 1); }
_esqlentry_ void DBFree(void* p) { std::free(p); }

}  // extern "C"
