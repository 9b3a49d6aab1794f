// Zylbasds: editing. The data set builds no SQL for a change: the whole record goes to the
// statement, which updates, inserts or deletes through its own open cursor; afterwards the cursor
// is closed and reopened and the data set finds its place in it again.
#include <cstring>
#include <memory>

#include "dataset/Zylbasds.h"

// ---- key fields ----------------------------------------------------------------------------------

void TZyloDataset::UpdateKeyFields() {
  FKeyFields.clear();
  if (ComponentState().Contains(csDesigning) || !FSyncInserts || !GetCanModify()) return;
  std::unique_ptr<TZyloSQL> Keys(CreateZyloSQL());
  Keys->SetSession(GetSession());
  const AnsiString Table = Statement()->GetTableName();
  if (!Table.empty()) {
    AnsiString Sql;
    QueryUniqueFields(Sql);
    // A query that cannot be opened names no key: every field identifies the row then.
    if (!Sql.empty() && Keys->Open(Sql, TVariantArray{Variant(Table)}, true)) {
      while (Keys->Next()) {
        Variant Name;
        Keys->GetFieldValue("column_name", Name);
        if (Name.IsNull() || Name.IsEmpty()) continue;
        AnsiString Column = Name.AsString();
        while (!Column.empty() && Column.back() == ' ') Column.pop_back();
        if (TField* F = FindField(Column)) FKeyFields.push_back(F);
      }
      Keys->Close();
    }
  }
  if (FKeyFields.empty())
    for (int I = 0; I < FieldCount(); ++I) FKeyFields.push_back(Fields(I));
}

// ---- editing -------------------------------------------------------------------------------------

void TZyloDataset::DoBeforeEdit() {
  FEditChecked = false;
  TDataSet::DoBeforeEdit();
}

void TZyloDataset::InternalEdit() {
  TRecordBuffer Buffer = ActiveBuffer();
  if (FEditChecked || !Buffer) return;
  const int32_t Row = RowOfBuffer(Buffer);
  if (Row == -1) {
    ClearBlobCache(Buffer);
    return;
  }
  TZyloSQL* Q = Statement();
  Check(Q->MoveTo(Row));
  Check(Q->Curr());
  // The row as the server has it now against the row as the user saw it.
  const bool Same = (FRecordSize == 0 || std::memcmp(Q->GetRecordBuffer(), Buffer, static_cast<size_t>(FRecordSize)) == 0) &&
                    (FIndicatorSize == 0 || std::memcmp(Q->GetIndicators(), NullsOf(Buffer), static_cast<size_t>(FIndicatorSize)) == 0);
  if (Same) {
    ClearBlobCache(Buffer);
    return;
  }
  // Checked once: a retry of the same edit proceeds, the next Edit checks again.
  FEditChecked = true;
  DatabaseError(ZylLoadStr(ZYL_ERR_DS_RECORD_CHANGED), this);
}

void TZyloDataset::PutRecord(TRecordBuffer Buffer) {
  TZyloSQL* Q = Statement();
  if (FRecordSize > 0) std::memcpy(Q->GetRecordBuffer(), Buffer, static_cast<size_t>(FRecordSize));
  if (FIndicatorSize > 0) std::memcpy(Q->GetIndicators(), NullsOf(Buffer), static_cast<size_t>(FIndicatorSize));
}

void TZyloDataset::InternalPost() {
  TRecordBuffer Buffer = ActiveBuffer();
  PutRecord(Buffer);
  TZyloSQL* Q = Statement();
  if (State() == dsEdit) {
    try {
      Check(Q->Modify());
    } catch (const EZyloDatasetError&) {
      // The cursor may have moved or closed on the way: show the rows as they are, then report.
      RefreshCursor(nullptr, nullptr, bfCurrent);
      throw;
    }
    RefreshCursor(nullptr, nullptr, bfCurrent);
  } else if (State() == dsInsert) {
    Check(Q->Append());
    SynchronizeCursor(GetBookmarkFlag(Buffer) == bfEOF);
  }
}

void TZyloDataset::InternalAddRecord(TRecordBuffer Buffer, bool Append) {
  PutRecord(Buffer);
  Check(Statement()->Append());
  SynchronizeCursor(Append);
}

void TZyloDataset::InternalDelete() {
  Check(Statement()->Delete());
  RefreshCursor(nullptr, nullptr, bfCurrent);
}

void TZyloDataset::InternalCancel() {
  // Blob values written since the row was read are dropped with the edit.
  if (FStatement) FStatement->GetBlobManager()->ClearBlobs();
}

void TZyloDataset::InternalRefresh() {
  if (GetStillInProc()) DatabaseError(ZylLoadStr(ZYL_ERR_DS_STORED_PROC), this);
  RefreshCursor(nullptr, nullptr, bfCurrent);
}

// ---- reopening -----------------------------------------------------------------------------------

void TZyloDataset::SynchronizeCursor(bool AtEnd) {
  const TBookmarkFlag Flag = AtEnd ? bfEOF : bfCurrent;
  if (!FSyncInserts) {
    RefreshCursor(nullptr, nullptr, Flag);
    return;
  }
  // The row just inserted, as the statement holds it, is the key to find it again.
  TRecordBuffer Key = TempBuffer();
  CopyStatementRow(Key);
  RefreshCursor(&FKeyFields, Key, Flag);
}

void TZyloDataset::CopyStatementRow(TRecordBuffer Buffer) {
  TZyloSQL* Q = Statement();
  if (FRecordSize > 0) std::memcpy(Buffer, Q->GetRecordBuffer(), static_cast<size_t>(FRecordSize));
  if (FIndicatorSize > 0) std::memcpy(NullsOf(Buffer), Q->GetIndicators(), static_cast<size_t>(FIndicatorSize));
}

void TZyloDataset::RefreshCursor(const std::vector<TField*>* KeyFields, TRecordBuffer Buffer, TBookmarkFlag Flag) {
  const int32_t Row = Flag == bfCurrent ? GetRecNo() - 1 : 0;
  TZyloSQL* Q = Statement();
  Q->AfterClose = nullptr;  // this close is ours, not the session's
  try {
    Q->Close();
  } catch (...) {
    Q->AfterClose = [this](TObject* Sender) { FDoAfterClose(Sender); };
    throw;
  }
  Q->AfterClose = [this](TObject* Sender) { FDoAfterClose(Sender); };
  GetCursor(true);
  if (KeyFields && Buffer) {
    Q->MoveToLast();
    if (Q->Prev() && LocateRecordForKey(*KeyFields, Buffer, false, true, true, true, false, false, false)) return;
  }
  switch (Flag) {
    case bfCurrent:
      Q->MoveToFirst();
      // A row in the second half of a counted result is nearer from the end.
      if (FAtEnd || (IsSequenced() && Q->GetRowCountEstimate() / 2 < Row)) Q->MoveToLast();
      Q->MoveTo(Row);
      break;
    case bfBOF: Q->MoveToFirst(); break;
    case bfEOF:
    case bfInserted: Q->MoveToLast(); break;
  }
}
