// Zylbasds: the field blob stream — memo and blob fields of a data set read and written through
// the statement's blob stream of the column, with the value kept in the record's blob cache once it
// has been read from start to end, so that the server is asked once per record.
#include <algorithm>
#include <cstring>

#include "dataset/Zylbasds.h"

TZyloDatasetBlobStream::TZyloDatasetBlobStream(TBlobField* Field, TBlobStreamMode Mode)
    : FField(Field), FDataSet(dynamic_cast<TZyloDataset*>(Field->DataSet())), FMode(Mode), FFieldNo(Field->FieldNo()) {
  if (!FDataSet || !FDataSet->GetActiveRecBuf(FBuffer)) return;
  if (FDataSet->State() == dsFilter)
    DatabaseError(Format(ZylLoadStr(ZYL_ERR_DS_BLOB_IN_FILTER), Field->DisplayName()), FDataSet);
  const TZyloFieldDef* Def = FDataSet->DefOf(Field);
  if (!Def) return;
  if (!Field->Modified) {
    if (Mode != bmRead) {
      FDataSet->SetBlobData(Field, FBuffer, AnsiString());
      if (Field->ReadOnly) DatabaseError(DBMsg::FieldReadOnly(Field->DisplayName()), FDataSet);
      if (FDataSet->State() != dsEdit && FDataSet->State() != dsInsert) DatabaseError(DBMsg::NotEditing(), FDataSet);
    } else {
      FCached = FBuffer == FDataSet->ActiveBuffer() && (GetIsNull() || !FDataSet->GetBlobData(Field, FBuffer).empty());
    }
    // The statement's stream belongs to the row the statement stands on: put it on this record.
    if (!FCached && FDataSet->State() != dsCalcFields) FDataSet->UpdateCursorPos();
  }
  FBlobStream = FDataSet->Statement()->GetBlobManager()->BlobByName(Def->Name);
  FOpened = true;
  if (Mode == bmWrite)
    Truncate();
  else
    Seek(0, soBeginning);
}

TZyloDatasetBlobStream::~TZyloDatasetBlobStream() {
  if (!FOpened || FMode == bmRead || !FBlobStream->GetModified()) return;
  FField->Modified = true;
  try {
    FDataSet->DataEvent(deFieldChange, reinterpret_cast<intptr_t>(FField));
  } catch (...) {
    // A destructor raises nothing: the application's handler shows it, when there is one.
    try {
      FDataSet->InternalHandleException();
    } catch (...) {
    }
  }
}

bool TZyloDatasetBlobStream::GetIsNull() {
  return FDataSet->Statement()->GetNullIndicator(FDataSet->NullsOf(FBuffer), FFieldNo - 1);
}

void TZyloDatasetBlobStream::SetIsNull(bool Value) {
  FDataSet->Statement()->PutNullIndicator(FDataSet->NullsOf(FBuffer), FFieldNo - 1, Value);
}

void TZyloDatasetBlobStream::Translate(void* Buffer, int64_t Count, bool ToOem) {
  if (!FField->Transliterate || Count <= 0) return;
  if (TZyloSession* S = FDataSet->GetSession()) {
    char* Text = static_cast<char*>(Buffer);
    S->TranslateChar(Text, Text, ToOem, static_cast<int32_t>(std::min<int64_t>(Count, INT32_MAX)));
  }
}

int64_t TZyloDatasetBlobStream::Read(void* Buffer, int64_t Count) {
  if (!FOpened || !Buffer || Count <= 0) return 0;
  if (FCached) {
    const AnsiString Value = FDataSet->GetBlobData(FField, FBuffer);
    const int64_t N = std::min<int64_t>(Count, static_cast<int64_t>(Value.size()) - FPosition);
    if (N <= 0 || FPosition < 0) return 0;
    std::memcpy(Buffer, Value.data() + FPosition, static_cast<size_t>(N));
    FPosition += N;
    return N;
  }
  if (GetIsNull()) return 0;
  const int64_t N = FBlobStream->Read(Buffer, Count);
  if (N <= 0) return 0;
  Translate(Buffer, N, false);
  // Read in order from the start: collect the value for the record's cache.
  if (FBuffer == FDataSet->ActiveBuffer() && FMode == bmRead && !FField->Modified && FPosition == FCacheLength) {
    FCacheText.append(static_cast<const char*>(Buffer), static_cast<size_t>(N));
    FCacheLength += N;
    // The length the statement's stream holds once it has loaded the value (asking for its size
    // would load the value again and move its position back to the start).
    if (FCacheLength == FBlobStream->GetBlobLength()) {
      FDataSet->SetBlobData(FField, FBuffer, FCacheText);
      FCacheText.clear();
      FCached = true;
    }
  }
  FPosition += N;
  return N;
}

int64_t TZyloDatasetBlobStream::Write(const void* Buffer, int64_t Count) {
  if (!FOpened || !Buffer || Count <= 0) return 0;
  // Translated in a copy: the caller's bytes stay as they were given.
  std::vector<char> Bytes(static_cast<const char*>(Buffer), static_cast<const char*>(Buffer) + Count);
  Translate(Bytes.data(), Count, true);
  const int64_t N = FBlobStream->Write(Bytes.data(), Count);
  SetIsNull(FBlobStream->GetEmpty());
  ClearCache();
  return N;
}

int64_t TZyloDatasetBlobStream::Seek(int64_t Offset, TSeekOrigin Origin) {
  if (!FOpened) return 0;
  if (FCached) {
    const int64_t Size = static_cast<int64_t>(FDataSet->GetBlobData(FField, FBuffer).size());
    FPosition = Origin == soBeginning ? Offset : Origin == soCurrent ? FPosition + Offset : Size + Offset;
    return FPosition;
  }
  if (Origin == soEnd && GetIsNull()) return 0;
  FPosition = FBlobStream->Seek(Offset, Origin);
  return FPosition;
}

void TZyloDatasetBlobStream::Truncate() {
  if (!FOpened) return;
  FBlobStream->Truncate();
  SetIsNull(FBlobStream->GetEmpty());
  ClearCache();
}

void TZyloDatasetBlobStream::ClearCache() {
  FDataSet->SetBlobData(FField, FBuffer, AnsiString());
  FCacheText.clear();
  FCacheLength = 0;
}
