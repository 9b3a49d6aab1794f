// The interactive SQL tool's database side over the SQL Anywhere components: one TAsaSession,
// one TAsaSQL for statements, one for the scrolling cursor of the built-in commands and one for
// loading rows. Only the components' public interface is used.
//
// The session runs with AutoCommit off: what the user's statements change stays in one
// transaction until the user commits or rolls back (Transaction), and the session does not
// commit on disconnect either, so the tool alone decides what becomes of uncommitted work.
#pragma once

#include <memory>
#include <string>

#include "tools/isql/IsqlArgs.h"
#include "tools/isql/IsqlShell.h"

class TAsaDataset;
class TAsaSession;
class TAsaSQL;
class TZyloSQL;

namespace zylisql {

class TAsaDatabase : public TDatabase {
 public:
  TAsaDatabase();
  ~TAsaDatabase() override;

  // Sets the session's properties from the parameters and connects; false with the error kept.
  bool Connect(const TConnectParams& Params, const TOptions& Options);
  void Disconnect();

  bool Run(const std::string& Sql, TPrinter& Out) override;
  bool Execute(const std::string& Sql) override;
  bool Query(const std::string& Sql, std::vector<std::vector<TCell>>& Rows) override;
  bool Explain(const std::string& Sql, std::string& Plan) override;
  bool Backup(const std::string& Directory, const TBackupProgress& Progress) override;
  bool ProcParams(const std::string& Name, TPrinter& Out) override;
  bool CursorOpen(const std::string& Sql, TPrinter& Out) override;
  bool CursorMove(TMove Move, int32_t Row, TPrinter& Out) override;
  bool CursorUpdate(const std::vector<std::pair<std::string, std::string>>& Values, TPrinter& Out) override;
  bool CursorInsert(const std::vector<std::pair<std::string, std::string>>& Values, TPrinter& Out) override;
  bool CursorFind(const std::vector<std::pair<std::string, std::string>>& Values, bool CaseInsensitive, bool Partial,
                  TPrinter& Out) override;
  bool CursorDelete(TPrinter& Out) override;
  bool CursorClose() override;
  bool Transaction(TTxnOp Op) override;
  bool Uncommitted() override { return FUncommitted; }
  bool PrepareInsert(const std::string& Table, const std::vector<std::string>& Columns) override;
  bool InsertRow(const std::vector<TCell>& Values) override;
  void EndInsert() override;
  int32_t ErrorCode() override;
  std::string ErrorText() override;
  void SetMessageSink(std::function<void(const std::string&)> Sink) override;
  // Asked while a statement runs (the session's wait event) and between fetched rows: true
  // cancels the statement (the library's cancel request; it fails with -299).
  void SetCancelCheck(std::function<bool()> Check) { FCancel = std::move(Check); }

  TAsaSession& Session() { return *FSession; }

 private:
  bool RunQuery(const std::string& Sql, TPrinter& Out);
  bool RunCall(const std::string& Sql, bool WithMarkers, TPrinter& Out);
  bool RunExecute(const std::string& Sql, bool WithMarkers, TPrinter& Out);
  bool RunCallWithOutputs(const std::string& Sql, TPrinter& Out);
  void PrintResultSet(TZyloSQL& Q, bool HasRow, TPrinter& Out);
  void PrintCurrentRow(TPrinter& Out);
  // Assigns typed values to the cursor's fields by name (an unknown name is an error).
  bool AssignCursorFields(const std::vector<std::pair<std::string, std::string>>& Values);
  void Warn();  // a warning the last call left is shown as it arrives
  bool Fail(const std::string& Text, int32_t Code);  // records an error the tool caught
  // After a statement: what it did to the transaction (committed by data definition, changes
  // made, or rolled back by the server).
  void Track(const std::string& Verb, bool Ok, int64_t Rows);
  bool CancelRequested() const { return FCancel && FCancel(); }
  // Runs Body; what the components raise is recorded as the error (after Cleanup) and gives false.
  bool Guarded(const std::function<bool()>& Body, const std::function<void()>& Cleanup = nullptr);

  std::unique_ptr<TAsaSession> FSession;
  std::unique_ptr<TAsaSQL> FQuery;
  // The scrolling cursor of .open: a data set that edits through its own cursor, finds rows on the
  // server, and refuses an edit of a row another connection changed since it was read.
  std::unique_ptr<TAsaDataset> FCursor;
  std::unique_ptr<TAsaSQL> FInsert;  // the prepared INSERT of a load
  std::function<void(const std::string&)> FSink;
  std::string FError;  // an error caught as an exception; empty: the session's record holds it
  int32_t FErrorCode = 0;
  bool FUncommitted = false;  // changes since the last commit or rollback (or so it seems)
  std::function<bool()> FCancel;
};

}  // namespace zylisql
