// Fuzz target for the SQL scanner, its extractors and the list and file-name routines. The input
// is copied into a buffer of exactly its size (no terminator), so AddressSanitizer reports any
// read past the text; each routine is also run on the text as a string.
#include "base/ZylUtil.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  std::unique_ptr<char[]> Exact(new char[Size ? Size : 1]);
  if (Size) std::memcpy(Exact.get(), Data, Size);
  const char* Begin = Exact.get();

  // Raw scan over the exact range, in every section, checking progress and bounds.
  for (int Section = tkNone; Section <= tkForUpdate; ++Section) {
    TZylSQLCursor Cursor(Begin, Begin + Size);
    AnsiString Token;
    for (size_t Steps = 0;; ++Steps) {
      const char* Before = Cursor.Pos;
      TZylTokenKind Kind = ZylNextToken(Cursor, Token, static_cast<TZylTokenKind>(Section));
      if (Cursor.Pos < Begin || Cursor.Pos > Begin + Size) std::abort();
      if (Kind == tkEnd) break;
      if (Cursor.Pos == Before && Token.empty()) std::abort();  // no progress: would loop forever
      if (Steps > Size + 1) std::abort();
    }
  }

  AnsiString Text(Begin, Size);
  AnsiString Directions;
  (void)ZylGetTableNameFromSQL(Text);
  (void)ZylGetOrderByFromSQL(Text, Directions);
  (void)ZylGetParamsFromSQL(Text);
  (void)ZylExtractFilePrefix(Text);
  (void)ZylIsPath(Text);
  (void)ZylExtractField(Text, ";", static_cast<int>(Size % 7));
  (void)ZylReplaceChar(";,", "\r\n", Text);
  AnsiString Terminated = Text;  // c_str() holds a NUL at the end
  ZylTrimTrailBlanks(Terminated.data());
  return 0;
}
