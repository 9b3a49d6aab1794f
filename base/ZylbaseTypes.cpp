// Zylbase: byte buffers, field and variable definitions, the exception family, the message table
// entries of the base layer, the unit constants and the substitute entry points.
#include "base/Zylbase.h"

#include <algorithm>
#include <cstring>

// ---- messages ----------------------------------------------------------------------------------

namespace {

const bool MessagesRegistered = RegisterResStrings({
    {ZYL_ERR_LIB_PATH_NOT_FOUND, "ZYL_ERR_LIB_PATH_NOT_FOUND", "Could not find database library path"},
    {ZYL_ERR_LIB_LOAD_FAILED, "ZYL_ERR_LIB_LOAD_FAILED", "Could not load the Database Interface library"},
    {ZYL_ERR_LIB_INIT_FAILED, "ZYL_ERR_LIB_INIT_FAILED", "Unable to initialize database interface"},
    {ZYL_ERR_LIB_WRONG, "ZYL_ERR_LIB_WRONG",
     "Function not supported by this version of the Database Interface library"},
    {ZYL_ERR_SESS_NIL, "ZYL_ERR_SESS_NIL", "The session property is not linked to a session"},
    {ZYL_ERR_SESS_TRANS_ACTIVE, "ZYL_ERR_SESS_TRANS_ACTIVE", "A user transaction is already in progress"},
    {ZYL_ERR_SESS_CONNECTED, "ZYL_ERR_SESS_CONNECTED", "Cannot perform this operation while connected to a database"},
    {ZYL_ERR_SESS_INVALID_HANDLE, "ZYL_ERR_SESS_INVALID_HANDLE", "Invalid database handle"},
    {ZYL_ERR_STMT_NOT_PREPARED, "ZYL_ERR_STMT_NOT_PREPARED", "The statement is not prepared"},
    {ZYL_ERR_CURS_NOT_QUERY, "ZYL_ERR_CURS_NOT_QUERY", "The statement doesn't return a result-set"},
    {ZYL_ERR_CURS_IS_QUERY, "ZYL_ERR_CURS_IS_QUERY", "The statement returns a result-set"},
    {ZYL_ERR_CURS_BI_NOT_SUPP, "ZYL_ERR_CURS_BI_NOT_SUPP", "Bidirectional cursors not supported"},
    {ZYL_ERR_CURS_NOT_PREPARED, "ZYL_ERR_CURS_NOT_PREPARED", "The cursor is not prepared"},
    {ZYL_ERR_CURS_NOT_OPENED, "ZYL_ERR_CURS_NOT_OPENED", "The cursor is not opened"},
    {ZYL_ERR_CURS_READ_ONLY, "ZYL_ERR_CURS_READ_ONLY", "The cursor is read-only"},
    {ZYL_ERR_CURS_MISSING_ROWID, "ZYL_ERR_CURS_MISSING_ROWID", "Cursor is missing rowid"},
    {ZYL_ERR_FIELD_NOT_FOUND, "ZYL_ERR_FIELD_NOT_FOUND", "Field \"%s\" not found"},
    {ZYL_ERR_PARAM_NOT_FOUND, "ZYL_ERR_PARAM_NOT_FOUND", "Host variable \"%s\" not found"},
    {ZYL_ERR_BLOB_REQUIRED, "ZYL_ERR_BLOB_REQUIRED", "Field \"%s\" is not a blob"},
    {ZYL_ERR_BLOB_STREAM_INVALID, "ZYL_ERR_BLOB_STREAM_INVALID", "Not a valid stream parameter"},
    {ZYL_ERR_BLOB_PICTURE_INVALID, "ZYL_ERR_BLOB_PICTURE_INVALID", "Not a valid picture parameter"},
});

}  // namespace

AnsiString ZylLoadStr(TResourceId Id) {
  (void)MessagesRegistered;  // keeps the registration in every program that asks for a text
  return LoadResString(Id);
}

// ---- constants and substitutes -----------------------------------------------------------------

const char* const szZyloLibraryName = "Zylobase";
const char* const szZyloLibraryShortName = "ZYL";
Variant ZylEmptyParam = Variant::Null();

intptr_t ZylDummyProc() { throw EZyloException(ZylLoadStr(ZYL_ERR_LIB_WRONG), 0); }

intptr_t ZylDummyProcNoExcept() noexcept { return 0; }

// ---- exceptions --------------------------------------------------------------------------------

EZyloException::EZyloException(const AnsiString& Message, int32_t ErrorCode)
    : Exception(Message), FErrorCode(ErrorCode) {}

// ---- buffers -----------------------------------------------------------------------------------

void TZyloBuffer::Allocate(int64_t Size) {
  Free();
  if (Size <= 0) return;
  FData.reset(new uint8_t[static_cast<size_t>(Size)]());
  FSize = Size;
}

void TZyloBuffer::Free() {
  FData.reset();
  FSize = 0;
}

void TZyloBuffer::Zero() {
  if (FData) std::memset(FData.get(), 0, static_cast<size_t>(FSize));
}

void TZyloBuffer::Fill(uint8_t Byte, int64_t Count) {
  if (!FData || Count <= 0) return;
  std::memset(FData.get(), Byte, static_cast<size_t>(std::min(Count, FSize)));
}

// ---- field definitions -------------------------------------------------------------------------

TZyloFieldDefs::~TZyloFieldDefs() {
  // Not Clear(): a derived list's override has already run its own destructor.
  while (!FItems.empty()) FItems.pop_back();
}

TZyloFieldDef* TZyloFieldDefs::AddFieldDef(const AnsiString& Name) {
  auto Def = std::make_unique<TZyloFieldDef>();
  Def->Owner = this;
  Def->Name = Name;
  Def->Offset = Size();
  FItems.push_back(std::move(Def));
  FItems.back()->FieldNo = Count() - 1;
  return FItems.back().get();
}

void TZyloFieldDefs::Clear() {
  while (!FItems.empty()) FItems.pop_back();
}

void TZyloFieldDefs::Remove(TZyloFieldDef* Def) {
  auto It = std::find_if(FItems.begin(), FItems.end(), [Def](const auto& P) { return P.get() == Def; });
  if (It != FItems.end()) FItems.erase(It);
}

int32_t TZyloFieldDefs::Size() const {
  int64_t Total = 0;
  for (const auto& D : FItems) Total += D->Size;
  return static_cast<int32_t>(Total);
}

TZyloFieldDef* TZyloFieldDefs::Items(int32_t Index) const {
  if (Index < 0 || Index >= Count()) return nullptr;
  return FItems[static_cast<size_t>(Index)].get();
}

int32_t TZyloFieldDefs::IndexOf(const AnsiString& Name) const {
  for (int32_t I = 0; I < Count(); ++I)
    if (AnsiSameText(FItems[static_cast<size_t>(I)]->Name, Name)) return I;
  return -1;
}

TZyloFieldDef* TZyloFieldDefs::FieldByName(const AnsiString& Name) const { return Items(IndexOf(Name)); }

bool TZyloFieldDefs::AnyBlob() const {
  return std::any_of(FItems.begin(), FItems.end(), [](const auto& D) { return ZylIsBlobType(D->FieldType); });
}

TZyloVariableDefs::~TZyloVariableDefs() { TZyloVariableDefs::Clear(); }

void TZyloVariableDefs::Clear() {
  TZyloFieldDefs::Clear();
  Buffer.Free();
  Indicators.Free();
  BufSize = 0;
  Bound = false;
}

void TZyloVariableDefs::ClearBuffer() { Buffer.Zero(); }

void TZyloVariableDefs::SetBufSize(int32_t Size) {
  Buffer.Allocate(Size);
  BufSize = static_cast<int32_t>(Buffer.Size());
}
