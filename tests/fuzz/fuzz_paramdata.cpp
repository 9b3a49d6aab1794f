// libFuzzer target: the stored parameter form ("Params.Data") read from arbitrary bytes. A stream
// is either read completely or refused with EReadError leaving the list empty; what was read writes
// a form that reads back to the same list (one normalisation: 64-bit values stored as floating
// values, binary as blob), so writing it again gives the same bytes.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "dataset/Zylbasds.h"

namespace {

AnsiString Written(const TZyloParams& List) {
  TMemoryStream S;
  List.WriteBinaryData(S);
  return AnsiString(static_cast<const char*>(S.Memory()), static_cast<size_t>(S.Size()));
}

void ReadInto(TZyloParams& List, const AnsiString& Bytes) {
  TMemoryStream S;
  if (!Bytes.empty()) S.WriteBuffer(Bytes.data(), static_cast<int64_t>(Bytes.size()));
  S.SetPosition(0);
  List.ReadBinaryData(S);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  TZyloParams List;
  List.CreateParam("stale");  // a failed read must not leave it behind
  try {
    ReadInto(List, AnsiString(reinterpret_cast<const char*>(Data), Size));
  } catch (const EReadError&) {
    if (List.Count() != 0) std::abort();
    return 0;
  }
  const AnsiString Once = Written(List);
  TZyloParams Again;
  ReadInto(Again, Once);
  const AnsiString Twice = Written(Again);
  TZyloParams Third;
  ReadInto(Third, Twice);
  if (Written(Third) != Twice) std::abort();
  return 0;
}
