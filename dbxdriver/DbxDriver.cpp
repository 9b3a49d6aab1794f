// ZylDbx: the library's export, the driver object, the error lists and the driver's messages.
#include <algorithm>
#include <cstring>

#include "dbxdriver/ZylDbx.h"

namespace {

const bool MessagesRegistered = RegisterResStrings({
    {ZYL_ERR_DBX_SERVER_NAME_TOO_LONG, "ZYL_ERR_DBX_SERVER_NAME_TOO_LONG",
     "The server name is longer than %d characters"},
    {ZYL_ERR_DBX_OPTION_TOO_LONG, "ZYL_ERR_DBX_OPTION_TOO_LONG",
     "The value of option %d needs %d bytes; the buffer holds %d"},
    {ZYL_ERR_DBX_CATALOG_NAME_TOO_LONG, "ZYL_ERR_DBX_CATALOG_NAME_TOO_LONG",
     "The name \"%s\" is too long for a catalog request"},
    {ZYL_ERR_DBX_PARAM_INVALID, "ZYL_ERR_DBX_PARAM_INVALID", "Parameter %d: %s is not a valid value of type %d"},
    {ZYL_ERR_DBX_PARAM_BUFFER, "ZYL_ERR_DBX_PARAM_BUFFER",
     "Parameter %d: the value needs %d bytes; the buffer holds %d"},
    {ZYL_ERR_DBX_UNEXPECTED, "ZYL_ERR_DBX_UNEXPECTED", "Unexpected failure: %s"},
});

// The longest text getErrorMessageLen can announce in its 16-bit length.
constexpr size_t kMaxErrorText = 32766;

}  // namespace

// ---- error lists ---------------------------------------------------------------------------------

AnsiString TDbxErrorList::Text() const {
  AnsiString S;
  for (int I = 0; I < FLines.GetCount() && S.size() < kMaxErrorText; ++I) {
    S += FLines.Get(I);
    S += "\r\n";
  }
  if (S.size() > kMaxErrorText) S.resize(kMaxErrorText);
  return S;
}

void TDbxErrorList::AddText(const AnsiString& Text) {
  size_t Start = 0;
  while (Start < Text.size()) {
    size_t End = Text.find("\r\n", Start);
    if (End == AnsiString::npos) End = Text.size();
    FLines.Add(Text.substr(Start, End - Start));
    Start = End + 2;
  }
}

SQLResult TDbxErrorList::GetLength(int16_t* Length) const {
  if (!Length) return DBXERR_INVALIDPARAM;
  *Length = static_cast<int16_t>(Text().size());
  return SQL_SUCCESS;
}

SQLResult TDbxErrorList::GetMessage(char* Buffer) {
  if (!Buffer) return DBXERR_INVALIDPARAM;
  const AnsiString S = Text();
  std::memcpy(Buffer, S.c_str(), S.size() + 1);
  FLines.Clear();
  return SQL_SUCCESS;
}

SQLResult DbxFailed(TDbxErrorList& Errors, const AnsiString& Line) noexcept {
  try {
    Errors.Add(Line);
  } catch (...) {
    // Out of memory while recording the failure: the result code still tells the host.
  }
  return DBXERR_DRIVERERROR;
}

SQLResult DbxFailedUnexpected(TDbxErrorList& Errors, const char* What) noexcept {
  try {
    return DbxFailed(Errors, Format(ZylLoadStr(ZYL_ERR_DBX_UNEXPECTED), What));
  } catch (...) {
    return DBXERR_DRIVERERROR;
  }
}

void DbxPutOptionText(uint32_t Option, const AnsiString& Text, void* Buffer, int16_t MaxLength, int16_t* Length) {
  const size_t Need = Text.size() + 1;
  if (static_cast<int32_t>(MaxLength) < static_cast<int32_t>(std::min<size_t>(Need, INT32_MAX)))
    throw EZyloException(Format(ZylLoadStr(ZYL_ERR_DBX_OPTION_TOO_LONG), static_cast<int>(Option),
                                static_cast<int>(Need), static_cast<int>(MaxLength)),
                         0);
  std::memcpy(Buffer, Text.c_str(), Need);
  if (Length) *Length = static_cast<int16_t>(Text.size());
}

// ---- driver ------------------------------------------------------------------------------------

SQLResult TSQLDriverZYL::getSQLConnection(ISQLConnection** pConn) {
  if (!pConn) return DBXERR_INVALIDPARAM;
  *pConn = nullptr;
  try {
    *pConn = new TSQLConnectionZYL(this);
  } catch (...) {
    return DBXERR_NOMEMORY;
  }
  return SQL_SUCCESS;
}

SQLResult TSQLDriverZYL::SetOption(uint32_t eDOption, TDBXOptionValue) {
  // The host sets its restriction code on every connect and insists on success.
  return eDOption == eDrvRestrict ? SQL_SUCCESS : DBXERR_NOTSUPPORTED;
}

SQLResult TSQLDriverZYL::GetOption(uint32_t, void*, int16_t, int16_t*) { return DBXERR_NOTSUPPORTED; }

// ---- the export --------------------------------------------------------------------------------

extern "C" __attribute__((visibility("default"))) SQLResult ZYL_DBX_CALL getSQLDriverZYL(char* VendorLib,
                                                                                       char* /*ResourceFile*/,
                                                                                       void** Driver) {
  (void)MessagesRegistered;
  if (!Driver) return DBXERR_INVALIDPARAM;
  *Driver = nullptr;
  try {
    ISQLDriver* D = new TSQLDriverZYL(VendorLib ? AnsiString(VendorLib) : AnsiString());
    *Driver = D;
  } catch (...) {
    return DBXERR_NOMEMORY;
  }
  return SQL_SUCCESS;
}
