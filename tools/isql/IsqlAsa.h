// The interactive SQL tool's database side over the SQL Anywhere components: one TAsaSession,
// one TAsaSQL for statements and one for the scrolling cursor of the built-in commands. Only
// the components' public interface is used.
#pragma once

#include <memory>
#include <string>

#include "tools/isql/IsqlArgs.h"
#include "tools/isql/IsqlShell.h"

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
  bool Explain(const std::string& Sql, std::string& Plan) override;
  bool Backup(const std::string& Directory, const TBackupProgress& Progress) override;
  bool CursorOpen(const std::string& Sql, TPrinter& Out) override;
  bool CursorMove(TMove Move, int32_t Row, TPrinter& Out) override;
  bool CursorUpdate(const std::vector<std::pair<std::string, std::string>>& Values, TPrinter& Out) override;
  bool CursorDelete(TPrinter& Out) override;
  bool CursorClose() override;
  int32_t ErrorCode() override;
  std::string ErrorText() override;
  void SetMessageSink(std::function<void(const std::string&)> Sink) override;

  TAsaSession& Session() { return *FSession; }

 private:
  bool RunQuery(const std::string& Sql, TPrinter& Out);
  bool RunCall(const std::string& Sql, bool WithMarkers, TPrinter& Out);
  bool RunExecute(const std::string& Sql, bool WithMarkers, TPrinter& Out);
  bool RunCallWithOutputs(const std::string& Sql, TPrinter& Out);
  void PrintResultSet(TZyloSQL& Q, bool HasRow, TPrinter& Out);
  void PrintCurrentRow(TPrinter& Out);
  void Warn();  // a warning the last call left is shown as it arrives
  bool Fail(const std::string& Text, int32_t Code);  // records an error the tool caught
  // Runs Body; what the components raise is recorded as the error (after Cleanup) and gives false.
  bool Guarded(const std::function<bool()>& Body, const std::function<void()>& Cleanup = nullptr);

  std::unique_ptr<TAsaSession> FSession;
  std::unique_ptr<TAsaSQL> FQuery;
  std::unique_ptr<TAsaSQL> FCursor;
  std::function<void(const std::string&)> FSink;
  std::string FError;  // an error caught as an exception; empty: the session's record holds it
  int32_t FErrorCode = 0;
};

}  // namespace zylisql
