// Zylbasds: searching. The data set keeps no rows of its own, so every search moves the server
// cursor row by row and compares each raw row with a key record filled through the fields; when
// the searched fields are the ORDER BY columns, the ordering lets a scan stop early.
#include <algorithm>
#include <cstring>

#include "dataset/Zylbasds.h"
#include "host/Platform.h"

// ---- index definitions ---------------------------------------------------------------------------

TZyloIndexDef::TZyloIndexDef(TZyloIndexDefs* AOwner, const AnsiString& AFieldName, bool ADescending)
    : FieldName(AFieldName), Descending(ADescending), FOwner(AOwner) {}

void TZyloIndexDefs::Add(const AnsiString& FieldName, bool Descending) {
  // The field first: an unknown name raises before anything is added.
  TField* Field = FDataSet ? &FDataSet->FieldByName(FieldName) : nullptr;
  FItems.push_back(std::make_unique<TZyloIndexDef>(this, FieldName, Descending));
  if (Field) FFields.push_back(Field);
}

void TZyloIndexDefs::Clear() {
  FFields.clear();
  while (!FItems.empty()) FItems.pop_back();
}

TZyloIndexDef* TZyloIndexDefs::GetItem(int32_t Index) const {
  if (Index < 0 || Index >= GetCount()) throw EListError("List index out of bounds (" + std::to_string(Index) + ")");
  return FItems[static_cast<size_t>(Index)].get();
}

namespace {

std::vector<AnsiString> SplitList(const AnsiString& List) {
  std::vector<AnsiString> Items;
  if (List.empty()) return Items;
  for (size_t Pos = 0;;) {
    const size_t End = List.find(';', Pos);
    Items.push_back(Trim(List.substr(Pos, End == AnsiString::npos ? AnsiString::npos : End - Pos)));
    if (End == AnsiString::npos) break;
    Pos = End + 1;
  }
  return Items;
}

}  // namespace

void TZyloDataset::UpdateIndexFields() {
  FIndexDefs->Clear();
  AnsiString Directions;
  const std::vector<AnsiString> Columns = SplitList(ZylGetOrderByFromSQL(TrimSQL(FText), Directions));
  const std::vector<AnsiString> Dirs = SplitList(Directions);
  // One direction per column that is a field, in order; other columns are skipped.
  size_t Dir = 0;
  for (const AnsiString& Name : Columns) {
    if (Name.empty() || !FindField(Name)) continue;
    const bool Descending = Dir < Dirs.size() && Dirs[Dir] == "DESC";
    ++Dir;
    FIndexDefs->Add(Name, Descending);
  }
}

bool TZyloDataset::MapsToIndex(const std::vector<TField*>& Fields) const {
  if (FIndexDefs->GetCount() < static_cast<int32_t>(Fields.size())) return false;
  for (size_t I = 0; I < Fields.size(); ++I)
    if (!SameText(Fields[I]->FieldName(), FIndexDefs->GetItem(static_cast<int32_t>(I))->FieldName)) return false;
  return true;
}

// ---- comparing raw rows --------------------------------------------------------------------------

int TZyloDataset::CompareNulls(const uint8_t* KeyNulls, const uint8_t* RowNulls, const TZyloFieldDef* Def,
                               bool& KeyPresent, bool& RowPresent) {
  TZyloSQL* Q = Statement();
  KeyPresent = !Q->GetNullIndicator(const_cast<uint8_t*>(KeyNulls), Def->FieldNo);
  RowPresent = !Q->GetNullIndicator(const_cast<uint8_t*>(RowNulls), Def->FieldNo);
  if (KeyPresent && !RowPresent) return 1;
  if (!KeyPresent && RowPresent) return -1;
  return 0;
}

int TZyloDataset::CompareStringValue(const char* Key, const char* Row, bool CaseInsensitive, int32_t Length) {
  const auto Count = [Length](const char* S) {
    const int N = static_cast<int>(std::strlen(S));
    return Length < 0 ? N : std::min(N, static_cast<int>(Length));
  };
  DWORD Flags = SORT_STRINGSORT;
  AnsiString KeyText(Key, static_cast<size_t>(Count(Key))), RowText(Row, static_cast<size_t>(Count(Row)));
  if (CaseInsensitive) {
    Flags |= NORM_IGNORECASE;
    TZyloSession* S = GetSession();
    if (S && S->GetOEMConvert()) {
      S->TranslateChar(KeyText.data(), KeyText.data(), false, static_cast<int32_t>(KeyText.size()));
      S->TranslateChar(RowText.data(), RowText.data(), false, static_cast<int32_t>(RowText.size()));
    }
  }
  return CompareStringA(LOCALE_USER_DEFAULT, Flags, KeyText.data(), static_cast<int>(KeyText.size()), RowText.data(),
                        static_cast<int>(RowText.size())) - 2;
}

int TZyloDataset::CompareValues(const uint8_t* KeyValue, const uint8_t* RowValue, bool CaseInsensitive,
                                TFieldType FieldType, const TZyloFieldDef* Def, int32_t Length) {
  const auto Sign = [](auto A, auto B) { return A < B ? -1 : B < A ? 1 : 0; };
  switch (FieldType) {
    case ftString:
    case ftWideString: {
      // The record's text is zero-terminated within its Size bytes; never read past them.
      const size_t Size = static_cast<size_t>(std::max(Def->Size, 1));
      const AnsiString K(reinterpret_cast<const char*>(KeyValue), strnlen(reinterpret_cast<const char*>(KeyValue), Size));
      const AnsiString R(reinterpret_cast<const char*>(RowValue), strnlen(reinterpret_cast<const char*>(RowValue), Size));
      return CompareStringValue(K.c_str(), R.c_str(), CaseInsensitive, Length);
    }
    case ftBytes:
    case ftVarBytes:
      return Def->Size > 2 && std::memcmp(KeyValue + 2, RowValue + 2, static_cast<size_t>(Def->Size - 2)) == 0 ? 0 : 1;
    case ftBlob:
    case ftMemo:
    case ftGraphic:
      return Length <= 0 || std::memcmp(KeyValue, RowValue, static_cast<size_t>(Length)) == 0 ? 0 : 1;
    default: break;
  }
  // Numbers, flags and dates compare in the framework's form of the field (which also widens an
  // unsigned column to the 64 bits it is shown in).
  alignas(8) uint8_t K[8] = {}, R[8] = {};
  switch (FieldType) {
    case ftSmallint:
    case ftInteger:
    case ftWord:
    case ftAutoInc:
    case ftBoolean:
    case ftFloat:
    case ftCurrency:
    case ftBCD:
    case ftDate:
    case ftTime:
    case ftDateTime:
    case ftLargeint:
      RecBufToField(Def, KeyValue, K);
      RecBufToField(Def, RowValue, R);
      break;
    default: return 0;
  }
  switch (FieldType) {
    case ftSmallint:
    case ftInteger:
    case ftWord:
    case ftAutoInc:
    case ftDate:
    case ftTime: {
      int32_t A, B;
      std::memcpy(&A, K, 4);
      std::memcpy(&B, R, 4);
      return Sign(A, B);
    }
    case ftBoolean: return Sign(K[0] | K[1], R[0] | R[1]);
    case ftLargeint: {
      int64_t A, B;
      std::memcpy(&A, K, 8);
      std::memcpy(&B, R, 8);
      return Sign(A, B);
    }
    default: {
      double A, B;
      std::memcpy(&A, K, 8);
      std::memcpy(&B, R, 8);
      return Sign(A, B);
    }
  }
}

// ---- the scan ------------------------------------------------------------------------------------

bool TZyloDataset::LocateRecordForKey(const std::vector<TField*>& Fields, TRecordBuffer KeyBuffer, bool Continue,
                                      bool TryCurrent, bool CheckOrder, bool MoveToFound, bool Nearest, bool Partial,
                                      bool CaseInsensitive) {
  if (Fields.empty() || !KeyBuffer) return false;
  TZyloSQL* Q = Statement();
  const bool Ordered = !CheckOrder || MapsToIndex(Fields);
  int32_t Found = -1;
  bool Have = false;
  if (TryCurrent) Have = Q->Curr();
  if (!Have) {
    TryCurrent = false;
    if (!Continue) Q->MoveToFirst();
    Have = Q->Next();
  }
  const uint8_t* Key = reinterpret_cast<const uint8_t*>(KeyBuffer);
  bool Stop = false;
  while (Have && Found < 0 && !Stop) {
    const uint8_t* Row = Q->PeekRecordBuffer();
    const uint8_t* RowNulls = Q->PeekIndicators();
    for (size_t I = 0; I < Fields.size(); ++I) {
      TField* F = Fields[I];
      const TZyloFieldDef* Def = F->FieldNo() > 0 ? Q->GetFieldDefs()->Items(F->FieldNo() - 1) : nullptr;
      if (!Def || !Row) return false;  // a calculated or lookup field cannot be searched on the server
      int32_t Length = Def->Size;
      if (F->DataType() == ftString) {
        const size_t Size = static_cast<size_t>(std::max(Def->Size, 1));
        Length = Partial ? static_cast<int32_t>(strnlen(reinterpret_cast<const char*>(Key + Def->Offset), Size)) : -1;
      }
      bool KeyPresent, RowPresent;
      int Cmp = CompareNulls(NullsOf(KeyBuffer), RowNulls, Def, KeyPresent, RowPresent);
      if (KeyPresent && RowPresent)
        Cmp = CompareValues(Key + Def->Offset, Row + Def->Offset, CaseInsensitive, F->DataType(), Def, Length);
      if (Ordered && static_cast<int32_t>(I) < FIndexDefs->GetCount() &&
          FIndexDefs->GetItem(static_cast<int32_t>(I))->Descending)
        Cmp = -Cmp;
      if (Cmp < 0) {
        // The key lies before this row.
        if (Nearest)
          Found = Q->GetCurrentRow();
        else if (Ordered && !TryCurrent)
          Stop = true;  // an ordered result cannot hold the key further on
        break;
      }
      if (Cmp > 0) break;
      if (I + 1 == Fields.size()) Found = Q->GetCurrentRow();
    }
    if (Found >= 0 || Stop) break;
    if (TryCurrent) {
      Q->MoveToFirst();
      TryCurrent = false;
    }
    Have = Q->Next();
  }
  if (Found < 0) return false;
  if (MoveToFound) return Q->MoveTo(Found);
  CopyStatementRow(KeyBuffer);
  return true;
}

// ---- locate and lookup ---------------------------------------------------------------------------

void TZyloDataset::FillKeyBuffer(const std::vector<TField*>& Fields, TRecordBuffer KeyBuffer, const Variant& KeyValues) {
  const TDataSetState Saved = SetTempState(dsFilter);
  TRecordBuffer SavedFilter = FFilterBuffer;
  FFilterBuffer = KeyBuffer;
  try {
    InitRecord(KeyBuffer);
    for (size_t I = 0; I < Fields.size(); ++I) {
      const Variant Value = Fields.size() == 1 ? KeyValues : KeyValues.GetElement(static_cast<int>(I));
      TField* F = Fields[I];
      if (F->DataType() == ftLargeint && !Value.IsNull()) {
        double D;
        try {
          D = Value.AsDouble();
        } catch (const Exception&) {
          DatabaseError(DBMsg::FieldValueError(F->DisplayName()), this);
        }
        F->SetValue(Variant(D));
      } else {
        F->SetValue(Value);
      }
    }
  } catch (...) {
    FFilterBuffer = SavedFilter;
    RestoreState(Saved);
    throw;
  }
  FFilterBuffer = SavedFilter;
  RestoreState(Saved);
}

bool TZyloDataset::LocateRecord(const AnsiString& KeyFields, const Variant& KeyValues, TLocateOptions Options,
                                bool Continue, bool Sync) {
  CheckBrowseMode();
  CursorPosChanged();
  if (Sync) UpdateCursorPos();
  TRecordBuffer Key = TempBuffer();
  std::vector<TField*> Fields;
  GetFieldList(Fields, KeyFields);
  FillKeyBuffer(Fields, Key, KeyValues);
  return LocateRecordForKey(Fields, Key, Continue, !Continue, true, Sync, false, Options.Contains(loPartialKey),
                            Options.Contains(loCaseInsensitive));
}

bool TZyloDataset::LocateWith(const AnsiString& KeyFields, const Variant& KeyValues, TLocateOptions Options,
                              bool Continue) {
  DoBeforeScroll();
  const bool Found = LocateRecord(KeyFields, KeyValues, Options, Continue, true);
  if (Found) {
    Resync(TResyncModes{rmExact, rmCenter});
    DoAfterScroll();
  } else if (FAtEnd) {
    Statement()->MoveToLast();
  }
  return Found;
}

bool TZyloDataset::Locate(const AnsiString& KeyFields, const Variant& KeyValues, TLocateOptions Options) {
  return LocateWith(KeyFields, KeyValues, Options, false);
}

bool TZyloDataset::LocateNext(const AnsiString& KeyFields, const Variant& KeyValues, TLocateOptions Options) {
  return LocateWith(KeyFields, KeyValues, Options, true);
}

Variant TZyloDataset::Lookup(const AnsiString& KeyFields, const Variant& KeyValues, const AnsiString& ResultFields) {
  Variant Result = Variant::Null();
  const bool Found = LocateRecord(KeyFields, KeyValues, TLocateOptions{}, false, false);
  if (Found) {
    // The temporary buffer holds the found row: its calculated fields are computed there.
    const TDataSetState Saved = SetTempState(dsCalcFields);
    try {
      CalculateFields(TempBuffer());
      Result = GetFieldValues(ResultFields);
    } catch (...) {
      RestoreState(Saved);
      if (FAtEnd) Statement()->MoveToLast();
      throw;
    }
    RestoreState(Saved);
  }
  if (FAtEnd) Statement()->MoveToLast();
  return Result;
}

// ---- keys ----------------------------------------------------------------------------------------

void TZyloDataset::SetKeyFields(const TVariantArray& Values, int HighIndex) {
  if (FIndexDefs->GetCount() == 0) DatabaseError(ZylLoadStr(ZYL_ERR_DS_NO_ORDER_BY), this);
  FKeyBuffer = TempBuffer();
  const TDataSetState Saved = SetTempState(dsFilter);
  TRecordBuffer SavedFilter = FFilterBuffer;
  FFilterBuffer = FKeyBuffer;
  try {
    InitRecord(FKeyBuffer);
    for (int32_t I = 0; I < FIndexDefs->GetCount() && I <= HighIndex && I < static_cast<int32_t>(Values.size()); ++I)
      FieldByName(FIndexDefs->GetItem(I)->FieldName).AssignValue(Values[static_cast<size_t>(I)]);
  } catch (...) {
    FFilterBuffer = SavedFilter;
    RestoreState(Saved);
    throw;
  }
  FFilterBuffer = SavedFilter;
  RestoreState(Saved);
}

bool TZyloDataset::FindKey(const TVariantArray& Values) {
  CheckBrowseMode();
  SetKeyFields(Values, static_cast<int>(Values.size()) - 1);
  return GotoKey();
}

void TZyloDataset::FindNearest(const TVariantArray& Values) {
  CheckBrowseMode();
  SetKeyFields(Values, static_cast<int>(Values.size()) - 1);
  GotoNearest();
}

bool TZyloDataset::GotoKey() {
  CheckBrowseMode();
  CursorPosChanged();
  if (!FKeyBuffer || FIndexDefs->GetCount() == 0) DatabaseError(ZylLoadStr(ZYL_ERR_DS_NO_ORDER_BY), this);
  const bool Found = LocateRecordForKey(FIndexDefs->Fields(), FKeyBuffer, false, false, false, true, false, false, false);
  if (Found)
    Resync(TResyncModes{rmExact, rmCenter});
  else if (FAtEnd)
    Statement()->MoveToLast();
  return Found;
}

void TZyloDataset::GotoNearest() {
  CheckBrowseMode();
  CursorPosChanged();
  if (!FKeyBuffer || FIndexDefs->GetCount() == 0) DatabaseError(ZylLoadStr(ZYL_ERR_DS_NO_ORDER_BY), this);
  LocateRecordForKey(FIndexDefs->Fields(), FKeyBuffer, false, false, false, true, true, false, false);
  Resync(TResyncModes{rmCenter});
}

// ---- find and filters ----------------------------------------------------------------------------

bool TZyloDataset::FindRecord(bool Restart, bool GoForward) {
  CheckBrowseMode();
  DoBeforeScroll();
  bool Found = false;
  UpdateCursorPos();
  CursorPosChanged();
  TZyloSQL* Q = Statement();
  if (GoForward) {
    if (Restart) Check(Q->MoveToFirst());
    Found = GetRecord(TempBuffer(), gmNext, false) == grOK;
  } else {
    if (Restart) Check(Q->MoveToLast());
    Found = GetRecord(TempBuffer(), gmPrior, false) == grOK;
  }
  if (Found) {
    Resync(TResyncModes{rmExact, rmCenter});
    DoAfterScroll();
  }
  SetFound(Found);
  return Found;
}
