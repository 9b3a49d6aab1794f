// libFuzzer target: the server-name string and parameter values through the driver's interfaces.
//
// Input: the server-name string up to the first NUL; after it, parameter records of
//   logical type (2 bytes), sub-type (2), flags (1: bit 0 NULL, bit 1 a Length of 0), length (2),
//   then that many value bytes (fewer when the input ends).
// The connection connects with that string to a client library that is not there, so every
// connect parses the string and fails with 256 at the library; a command then gets as many
// parameters as there are records (its prepare fails for want of a connection, the parameters
// are made first), each record is stored with setParameter and read back with getParameter, and
// execute builds the value array before it fails. Every call must answer with a result code;
// the value buffers are exactly as long as the record says, plus room for the widest fixed value
// and a NUL, so that a read past what the host gave shows up.
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "dbxdriver/DBXpress.h"

extern "C" SQLResult ZYL_DBX_CALL getSQLDriverZYL(char* VendorLib, char* ResourceFile, void** Driver);

namespace {

void Expect(bool Ok) {
  if (!Ok) __builtin_trap();
}

bool Known(SQLResult R) {
  return R == SQL_SUCCESS || R == DBXERR_INVALIDFLDTYPE || R == DBXERR_INVALIDPARAM || R == DBXERR_OUTOFRANGE ||
         R == DBXERR_INVALIDLEN || R == DBXERR_DRIVERERROR;
}

template <class I>
void ReadErrors(I* Object) {
  int16_t Len = -1;
  Expect(Object->getErrorMessageLen(&Len) == SQL_SUCCESS && Len >= 0);
  std::vector<char> Text(static_cast<size_t>(Len) + 1);
  Expect(Object->getErrorMessage(Text.data()) == SQL_SUCCESS);
  Expect(std::strlen(Text.data()) == static_cast<size_t>(Len));
}

uint32_t ZYL_DBX_CALL Trace(int32_t, void* Info) {
  const auto* D = static_cast<const SQLTRACEDesc*>(Info);
  Expect(strnlen(D->pszTrace, sizeof D->pszTrace + 1) <= sizeof D->pszTrace);
  return cbrUSEDEF;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  const uint8_t* End = Data + Size;
  const uint8_t* Nul = static_cast<const uint8_t*>(std::memchr(Data, 0, Size));
  std::string ServerName(reinterpret_cast<const char*>(Data), Nul ? Nul - Data : Size);

  void* D = nullptr;
  Expect(getSQLDriverZYL(const_cast<char*>("/nonexistent-dir/libnone.so"), nullptr, &D) == SQL_SUCCESS);
  auto* Driver = static_cast<ISQLDriver*>(D);
  ISQLConnection* Conn = nullptr;
  Expect(Driver->getSQLConnection(&Conn) == SQL_SUCCESS);
  Expect(Conn->SetOption(eConnCallBack, reinterpret_cast<TDBXOptionValue>(&Trace)) == SQL_SUCCESS);
  Expect(Conn->connect(ServerName.data(), const_cast<char*>("dba"), const_cast<char*>("sql")) ==
         DBXERR_DRIVERERROR);
  ReadErrors(Conn);

  struct Record {
    uint16_t LogType, SubType;
    uint8_t Flags;
    std::vector<uint8_t> Bytes;
  };
  std::vector<Record> Records;
  for (const uint8_t* P = Nul ? Nul + 1 : End; End - P >= 7 && Records.size() < 64;) {
    Record R;
    std::memcpy(&R.LogType, P, 2);
    std::memcpy(&R.SubType, P + 2, 2);
    R.Flags = P[4];
    uint16_t Len;
    std::memcpy(&Len, P + 5, 2);
    P += 7;
    const size_t N = std::min<size_t>(Len, End - P);
    R.Bytes.assign(P, P + N);
    P += N;
    Records.push_back(std::move(R));
  }

  ISQLCommand* Cmd = nullptr;
  Expect(Conn->getSQLCommand(&Cmd) == SQL_SUCCESS);
  Expect(Cmd->prepare(const_cast<char*>("select ?"), static_cast<uint16_t>(Records.size())) == DBXERR_DRIVERERROR);
  uint16_t Number = 0;
  for (const Record& R : Records) {
    ++Number;
    // The bytes the record gives, then zeros: room for the widest fixed value and a NUL.
    std::vector<uint8_t> Buffer(R.Bytes);
    Buffer.resize(R.Bytes.size() + sizeof(TSQLTimeStamp) + 1, 0);
    const uint32_t Length = (R.Flags & 2) ? 0 : static_cast<uint32_t>(R.Bytes.size());
    const SQLResult S = Cmd->setParameter(Number, 0, paramIN, R.LogType, R.SubType, 0, 0, Length, Buffer.data(),
                                          (R.Flags & 1) ? 1 : 0);
    Expect(Known(S));
    std::vector<uint8_t> Out(64);
    int32_t Blank = 0;
    Expect(Known(Cmd->getParameter(Number, 0, Out.data(), static_cast<int32_t>(Out.size()), &Blank)));
  }
  ISQLCursor* Cursor = nullptr;
  Expect(Cmd->execute(&Cursor) == DBXERR_DRIVERERROR);
  Expect(Cursor == nullptr);
  ReadErrors(Cmd);
  Cmd->Release();
  Conn->Release();
  Driver->Release();
  return 0;
}
