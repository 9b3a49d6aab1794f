// ZylAsaDS: the SQL Anywhere data-set components. TAsaCustomDataset (a query) and
// TAsaCustomStoredProc (a stored procedure) fill in what the server-neutral
// data set (dataset/Zylbasds.h) leaves to a binding: its statement is a TAsaSQL that reports
// failures by result (the data set raises them as EZyloDatasetError), one column converts between
// the statement's record layout (asa/ZylAsa.h) and the framework's field layout, record counts and
// numbers come from the server only when the session asks it for row counts, and the catalog queries
// of a table's primary key and of a procedure's parameters. TAsaDataset and TAsaStoredProc publish
// the properties a form streams.
//
// Record layout -> field layout, by column type (Size is the column's size in the record):
//   ztString    Size bytes (characters and the terminating zero)
//   ztInteger, ztInt64, ztFloat, ztCurrency   their 4 or 8 bytes as they are (an unsigned 32-bit column is
//               widened to the 64-bit field it is shown in)
//   ztDate, ztTime, ztDateTime   the server's date-time record -> day number / milliseconds of the
//               day / floating milliseconds of the host time-stamp form
//   ztBoolean   one byte -> 16 bits, 1 or 0
//   ztBinary    the Size - 2 bytes after the record's 16-bit length prefix
//   ztMemo, ztBlob  nothing: long values go through blob streams
#pragma once
#pragma GCC visibility push(default)

#include "asa/ZylAsa.h"
#include "dataset/Zylbasds.h"

class TAsaCustomDataset : public TZyloCustomDataset {
 public:
  explicit TAsaCustomDataset(TComponent* AOwner);
  static const TMetaClass& StaticClass();
  const TMetaClass& ClassType() const override { return StaticClass(); }

  TZyloSQL* CreateZyloSQL() override;
  void RecBufToField(const TZyloFieldDef* Def, const uint8_t* RecBuf, void* FieldBuf) override;
  void FieldToRecBuf(const TZyloFieldDef* Def, uint8_t* RecBuf, const void* FieldBuf) override;
  // Also needs a session that asks the server for row counts (WantRowCounts).
  bool IsSequenced() override;
  void QueryUniqueFields(AnsiString& Sql) override;
  // Runs SQL with AParams on a new data set of the same session: with ResultSet, that data set
  // is opened and handed to the caller, who owns it; without, it is executed and freed. Returns
  // the rows affected.
  int PSExecuteStatement(const AnsiString& ASQL, TParams* AParams, TDataSet** ResultSet = nullptr) override;

  TAsaCursorType GetCursorType() const;
  void SetCursorType(TAsaCursorType Value);  // the data set must be closed
  TAsaSession* GetSession() const;
  void SetSession(TAsaSession* Value);
  TAsaSQL* GetAsaStatement() { return static_cast<TAsaSQL*>(Statement()); }

 protected:
  void InternalInitFieldDefs() override;
};

class TAsaDataset : public TAsaCustomDataset {
 public:
  explicit TAsaDataset(TComponent* AOwner) : TAsaCustomDataset(AOwner) {}
  // Registered as "TAsaDataset"; publishes CursorType, Params, ParamCheck, ReadOnly, Session, SQL
  // and SyncInserts besides the data set's own.
  static const TMetaClass& StaticClass();
  const TMetaClass& ClassType() const override { return StaticClass(); }
};

// A stored procedure or function of the server, run through "call name(:p1,:p2)" or
// ":r = call name(...)" with the parameters the catalog lists (sys.sysprocparm).
class TAsaCustomStoredProc : public TZyloCustomStoredProc {
 public:
  explicit TAsaCustomStoredProc(TComponent* AOwner);
  static const TMetaClass& StaticClass();
  const TMetaClass& ClassType() const override { return StaticClass(); }

  TZyloSQL* CreateZyloSQL() override;
  void RecBufToField(const TZyloFieldDef* Def, const uint8_t* RecBuf, void* FieldBuf) override;
  void FieldToRecBuf(const TZyloFieldDef* Def, uint8_t* RecBuf, const void* FieldBuf) override;
  bool IsSequenced() override;
  void QuerySPParamList(const AnsiString& Owner, AnsiString& Sql) override;
  void BuildSPCallStatement(const AnsiString& ResultParam, const AnsiString& ParamList) override;
  // Opening a procedure that has output parameters before its result set makes the statement
  // resumable first, so that the result set is described once it is open.
  void GetCursor(bool GenHandle) override;
  // Does the procedure's definition declare output parameters and then a result set? False when
  // the definition cannot be read.
  bool SPNeedsLateDescribe();

  TAsaSession* GetSession() const;
  void SetSession(TAsaSession* Value);
  TAsaSQL* GetAsaStatement() { return static_cast<TAsaSQL*>(Statement()); }

 protected:
  void InternalInitFieldDefs() override;
};

class TAsaStoredProc : public TAsaCustomStoredProc {
 public:
  explicit TAsaStoredProc(TComponent* AOwner) : TAsaCustomStoredProc(AOwner) {}
  // Registered as "TAsaStoredProc"; publishes Params, Session and StoredProcName besides the data
  // set's own.
  static const TMetaClass& StaticClass();
  const TMetaClass& ClassType() const override { return StaticClass(); }
};
#pragma GCC visibility pop
