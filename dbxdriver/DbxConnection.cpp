// ZylDbx: TSQLConnectionZYL — connecting its session from the three strings of connect,
// transactions, connection options and the trace callback.
#include <algorithm>
#include <cstring>

#include "dbxdriver/ZylDbx.h"

namespace {

AnsiString Text(const char* S) { return S ? AnsiString(S) : AnsiString(); }

// Writes a fixed-size option value when the caller's buffer takes it.
SQLResult PutOption(const void* Data, size_t Size, void* Value, int16_t MaxLength) {
  if (!Value) return DBXERR_INVALIDPARAM;
  if (MaxLength < 0 || static_cast<size_t>(MaxLength) < Size) return DBXERR_INVALIDLEN;
  std::memcpy(Value, Data, Size);
  return SQL_SUCCESS;
}

// A boolean option: a whole 32-bit true (exactly 1) or false when the buffer takes 4 bytes, the
// published single byte otherwise, so that no byte of a 4-byte host variable is left unset.
SQLResult PutBooleanOption(bool Flag, void* Value, int16_t MaxLength) {
  if (MaxLength >= 4) {
    const int32_t V = Flag ? 1 : 0;
    return PutOption(&V, sizeof V, Value, MaxLength);
  }
  const uint8_t B = Flag ? 1 : 0;
  return PutOption(&B, 1, Value, MaxLength);
}

}  // namespace

TSQLConnectionZYL::TSQLConnectionZYL(TSQLDriverZYL* Driver) : FDriver(Driver), FSession(new TAsaSession(nullptr)) {
  FDriver->AddRef();
  FSession->SetAutoCommit(true);
  FSession->SetTransIsolation(atUnchanged);
  FSession->SetWantExceptions(true);
}

TSQLConnectionZYL::~TSQLConnectionZYL() {
  try {
    FSession.reset();  // closes the connection to the server, committing as CommitOnDisconnect says
  } catch (...) {
  }
  FDriver->Release();
}

void TSQLConnectionZYL::Trace(const AnsiString& Text) {
  if (!FTraceCallback) return;
  std::memset(&FTraceDesc, 0, sizeof FTraceDesc);
  // Up to the whole 1024 bytes of the message field: a text that fills it is still terminated,
  // by the first byte of the category that follows it, which is always 0.
  const size_t N = std::min(Text.size(), sizeof FTraceDesc.pszTrace);
  std::memcpy(FTraceDesc.pszTrace, Text.data(), N);
  FTraceDesc.ClientData = FTraceClientData;
  FTraceCallback(cbTRACE, &FTraceDesc);
}

// ---- connecting ------------------------------------------------------------------------------------

void TSQLConnectionZYL::Configure(const AnsiString& ServerName) {
  TAsaSession& S = *FSession;
  S.SetClientParams("");
  S.SetCommitOnDisconnect(true);
  const AnsiString& Vendor = FDriver->GetVendorLib();
  S.SetLibraryFile(ExtractFileName(Vendor));
  S.SetLibraryPath(ExtractFilePath(Vendor));
  S.SetLoginEngineName("");
  S.SetLoginDatabase("");
  S.SetOEMConvert(false);
  S.SetServerParams("");
  S.SetServerType(stClient);
  S.SetTrimBlanks(false);
  S.SetWantRowCounts(false);
  if (ServerName.find('=') == AnsiString::npos) {
    // A plain word names the engine and the database.
    S.SetClientParams("");
    S.SetLoginEngineName(ServerName);
    S.SetLoginDatabase(ServerName);
    return;
  }
  FParser.SetText(ServerName);
  S.SetCommitOnDisconnect(FParser.GetCommitOnDisconnect(S.GetCommitOnDisconnect()));
  S.SetOEMConvert(FParser.GetOEMConvert(false));
  TAsaServerType Type = FParser.GetServerType(stClient);
  S.SetTrimBlanks(FParser.GetTrimBlanks(false));
  S.SetWantRowCounts(FParser.GetWantRowCounts(false));
  // A server started for the driver is shared with other processes: the workgroup mode.
  if (Type == stServer) Type = stWorkgroup;
  S.SetServerType(Type);
  if (Type == stServer || Type == stWorkgroup)
    S.SetServerParams(FParser.GetOtherParams(""));
  else
    S.SetClientParams(FParser.GetOtherParams(""));
}

SQLResult TSQLConnectionZYL::connect(char* ServerName, char* UserName, char* Password) {
  return DbxGuard(FErrors, [&] {
    Trace("ZYL - Connect");
    const AnsiString Name = Text(ServerName);
    if (Name.size() > TSQLConnectionParamsParser::kMaxTextLength)
      throw EZyloException(Format(ZylLoadStr(ZYL_ERR_DBX_SERVER_NAME_TOO_LONG),
                                  static_cast<int>(TSQLConnectionParamsParser::kMaxTextLength)),
                           0);
    Configure(Name);
    FSession->SetLoginUser(Text(UserName));
    FSession->SetLoginPassword(Text(Password));
    FSession->Open();
    return SQL_SUCCESS;
  });
}

SQLResult TSQLConnectionZYL::disconnect() {
  return DbxGuard(FErrors, [&] {
    Trace("ZYL - Disconnect");
    FSession->Close();
    return SQL_SUCCESS;
  });
}

// ---- factories -------------------------------------------------------------------------------------

SQLResult TSQLConnectionZYL::getSQLCommand(ISQLCommand** pComm) {
  if (!pComm) return DBXERR_INVALIDPARAM;
  *pComm = nullptr;
  return DbxGuard(FErrors, [&] {
    auto* Command = new TSQLCommandZYL(this);
    Command->SetOption(eCommBlobSize, FBlobSize);
    *pComm = Command;
    return SQL_SUCCESS;
  });
}

SQLResult TSQLConnectionZYL::getSQLMetaData(ISQLMetaData** pMetaData) {
  if (!pMetaData) return DBXERR_INVALIDPARAM;
  *pMetaData = nullptr;
  return DbxGuard(FErrors, [&] {
    *pMetaData = new TSQLMetaDataZYL(this);
    return SQL_SUCCESS;
  });
}

// ---- transactions ------------------------------------------------------------------------------------

// The descriptor the host passes is not read: one transaction at a time, at the isolation level
// of option 6.
SQLResult TSQLConnectionZYL::beginTransaction(TDBXTransactionId) {
  return DbxGuard(FErrors, [&] {
    Trace("ZYL - StartTransaction");
    FSession->StartTransaction();
    return SQL_SUCCESS;
  });
}

SQLResult TSQLConnectionZYL::commit(TDBXTransactionId) {
  return DbxGuard(FErrors, [&] {
    Trace("ZYL - Commit");
    FSession->Commit();
    return SQL_SUCCESS;
  });
}

SQLResult TSQLConnectionZYL::rollback(TDBXTransactionId) {
  return DbxGuard(FErrors, [&] {
    Trace("ZYL - Rollback");
    FSession->Rollback();
    return SQL_SUCCESS;
  });
}

// ---- options -------------------------------------------------------------------------------------

SQLResult TSQLConnectionZYL::SetOption(uint32_t eConnectOption, TDBXOptionValue lValue) {
  return DbxGuard(FErrors, [&]() -> SQLResult {
    switch (eConnectOption) {
      case eConnAutoCommit:
        FSession->SetAutoCommit(lValue != 0);
        return SQL_SUCCESS;
      case eConnBlobSize:
        FBlobSize = static_cast<int32_t>(lValue);
        return SQL_SUCCESS;
      case eConnTxnIsoLevel: {
        TAsaTransIsolation Level = atUnchanged;
        if (lValue == xilREADCOMMITTED) Level = atReadCommitted;
        else if (lValue == xilREPEATABLEREAD) Level = atReapeatableRead;
        else if (lValue == xilDIRTYREAD) Level = atReadUncommitted;
        FSession->SetTransIsolation(Level);
        return SQL_SUCCESS;
      }
      case eConnCallBack:
        FTraceCallback = reinterpret_cast<TSQLCallbackEvent>(lValue);
        return SQL_SUCCESS;
      case eConnCallBackInfo:
        FTraceClientData = lValue;
        return SQL_SUCCESS;
      case eConnTrimChar:
        FSession->SetTrimBlanks(lValue != 0);
        return SQL_SUCCESS;
      case eConnQualifiedName:
        FQualifiedName = Text(reinterpret_cast<const char*>(lValue));
        return SQL_SUCCESS;
      case eConnCatalogName:
      case eConnSchemaName:
      case eConnObjectName:
        return SQL_SUCCESS;
      default:
        return DBXERR_NOTSUPPORTED;
    }
  });
}

uint32_t TSQLConnectionZYL::IsolationLevel() const {
  switch (FSession->GetTransIsolation()) {
    case atReadUncommitted: return xilDIRTYREAD;
    case atReadCommitted: return xilREADCOMMITTED;
    case atReapeatableRead: return xilREPEATABLEREAD;
    default: return xilCUSTOM;
  }
}

SQLResult TSQLConnectionZYL::GetOption(uint32_t eDOption, void* PropValue, int16_t MaxLength, int16_t* Length) {
  return DbxGuard(FErrors, [&]() -> SQLResult {
    switch (eDOption) {
      case eConnAutoCommit:
        return PutBooleanOption(FSession->GetAutoCommit(), PropValue, MaxLength);
      case eConnBlockingMode:
        return PutBooleanOption(false, PropValue, MaxLength);
      case eConnBlobSize:
        return PutOption(&FBlobSize, sizeof FBlobSize, PropValue, MaxLength);
      case eConnTxnIsoLevel: {
        const uint32_t Level = IsolationLevel();
        return PutOption(&Level, sizeof Level, PropValue, MaxLength);
      }
      case eConnNativeHandle: {
        // Pointer-wide on a 64-bit build (see DBXpress.h).
        void* Handle = FSession->GetHandle();
        SQLResult R = PutOption(&Handle, sizeof Handle, PropValue, MaxLength);
        if (R == SQL_SUCCESS && Length) *Length = static_cast<int16_t>(sizeof Handle);
        return R;
      }
      case eConnServerVersion: {
        if (!PropValue) return DBXERR_INVALIDPARAM;
        if (MaxLength < 1) return DBXERR_INVALIDLEN;
        AnsiString Version = FSession->GetLibraryVersion();
        if (Version.size() > static_cast<size_t>(MaxLength - 1)) Version.resize(static_cast<size_t>(MaxLength - 1));
        DbxPutOptionText(eDOption, Version, PropValue, MaxLength, Length);
        return SQL_SUCCESS;
      }
      case eConnQualifiedName:
      case eConnObjectName:
      case eConnQuotedObjectName:
        if (!PropValue) return DBXERR_INVALIDPARAM;
        DbxPutOptionText(eDOption, FQualifiedName, PropValue, MaxLength, Length);
        return SQL_SUCCESS;
      case eConnCatalogName:
      case eConnSchemaName:
        if (!PropValue) return DBXERR_INVALIDPARAM;
        DbxPutOptionText(eDOption, "", PropValue, MaxLength, Length);
        return SQL_SUCCESS;
      default:
        return DBXERR_NOTSUPPORTED;
    }
  });
}

// ---- errors ------------------------------------------------------------------------------------

SQLResult TSQLConnectionZYL::getErrorMessageLen(int16_t* ErrorLen) {
  return DbxGuard(FErrors, [&] {
    Trace("ZYL - Error");
    return FErrors.GetLength(ErrorLen);
  });
}

SQLResult TSQLConnectionZYL::getErrorMessage(char* Error) { return FErrors.GetMessage(Error); }
