// TAsaSession::Backup: an online copy of the database files and the transaction log, page by
// page through db_backup, with OnBackup reporting progress and able to abort.
//
// Order of the library calls, which every path keeps (the library allows one backup per database
// and disables checkpoints until the end, so the end call is never skipped):
//   START; per file: OPEN_FILE, READ (page 0 .. pages-1), CLOSE_FILE (not after a failed open);
//   END whatever happened.
#include <cstdio>
#include <cstring>
#include <memory>

#include "asa/AsaLibrary.h"

namespace {

constexpr DWORD kLogNotReadyWaitMs = 1000;

bool CopiesDatabaseFiles(TBackupType T) { return T != btRenameLog && T != btRenameLocalLog && T != btRestartLog; }
bool WritesLocalCopy(TBackupType T) { return T != btRenameLog && T != btRestartLog; }
bool RestartsLog(TBackupType T) { return T == btFullRestartLog || T == btRestartLog; }
bool RenamesLocalLog(TBackupType T) { return T == btFullRenameLocalLog || T == btRenameLocalLog; }

// The operating-system file name the library reports in the message area: the first message
// parameter (parameters are separated by 0xFF), trimmed.
AnsiString ReportedFileName(const SQLCA& Ca) {
  size_t Length = Ca.sqlerrml < 0 ? 0 : std::min<size_t>(static_cast<size_t>(Ca.sqlerrml), sizeof Ca.sqlerrmc);
  AnsiString Text(reinterpret_cast<const char*>(Ca.sqlerrmc), Length);
  size_t Cut = Text.find('\xFF');
  if (Cut != AnsiString::npos) Text.resize(Cut);
  Cut = Text.find('\0');
  if (Cut != AnsiString::npos) Text.resize(Cut);
  return Trim(Text);
}

struct TFileCloser {
  void operator()(std::FILE* F) const {
    if (F) std::fclose(F);
  }
};
using TLocalFile = std::unique_ptr<std::FILE, TFileCloser>;

}  // namespace

bool TAsaSession::BackupFailure(TResourceId Message) {
  AnsiString Text = ZylLoadStr(Message);
  if (GetWantExceptions()) RaiseLastError<EZyloException>(Text, 0);
  FLastError = Text;
  FLastErrorCode = 0;
  return false;
}

bool TAsaSession::Backup(const AnsiString& Directory, TBackupType BackupType) {
  InternalNeedLibrary();
  AnsiString Dir = Directory;
  for (char& C : Dir)
    if (C == '\\') C = '/';
  if (Dir.empty() || Dir.back() != '/') Dir += '/';

  bool Raise = GetWantExceptions();
  db_backup(FActiveSQLCA, DB_BACKUP_START, 0, 0, nullptr);
  if (!Check(nullptr, 0, 0, Raise)) return false;

  bool Result = false;
  try {
    int32_t PageSize = FActiveSQLCA->sqlerrd[2];
    if (PageSize < 0) PageSize = 0;
    if (PageSize > 32765) PageSize = 32765;  // the descriptor's length is 16-bit
    std::vector<uint8_t> Buffer(static_cast<size_t>(PageSize) + 2, 0);
    TSqldaPtr Da(alloc_sqlda(1), TSqldaDeleter{this});
    if (!Da) RaiseLastError<EAsaException>(ZylLoadStr(ZYL_ERR_LIB_INIT_FAILED), 0);
    Da->sqld = 1;
    Da->sqlvar[0].sqltype = DT_BINARY;
    Da->sqlvar[0].sqllen = static_cast<a_sql_len>(Buffer.size());
    Da->sqlvar[0].sqldata = Buffer.data();

    if (!CopiesDatabaseFiles(BackupType)) {
      Result = BackupFile(Dir, BackupType, DB_BACKUP_TRANS_LOG_FILE, Da.get(), Buffer.data());
    } else {
      // The database files are 0, 1, 2 ... up to the first the library does not know. A file
      // that is there but not copied (aborted, a media or server error) fails the backup, the
      // write file and the log included: true means every file asked for was copied.
      bool Failed = false;
      for (int N = 0; N <= DB_BACKUP_MAX_FILE && !Failed; ++N) {
        bool Missing = false;
        if (BackupFile(Dir, BackupType, N, Da.get(), Buffer.data(), &Missing)) continue;
        Failed = N == 0 || !Missing;
        break;
      }
      for (int N : {DB_BACKUP_WRITE_FILE, DB_BACKUP_TRANS_LOG_FILE}) {
        bool Missing = false;
        if (Failed || BackupFile(Dir, BackupType, N, Da.get(), Buffer.data(), &Missing)) continue;
        Failed = !Missing;
      }
      Result = !Failed;
    }
  } catch (...) {
    db_backup(FActiveSQLCA, DB_BACKUP_END, 0, 0, nullptr);
    throw;
  }
  db_backup(FActiveSQLCA, DB_BACKUP_END, 0, 0, nullptr);
  return Result;
}

bool TAsaSession::BackupFile(const AnsiString& Directory, TBackupType BackupType, int FileNumber, SQLDA* Da,
                             uint8_t* Buffer, bool* Missing) {
  bool Raise = GetWantExceptions();
  db_backup(FActiveSQLCA, DB_BACKUP_OPEN_FILE, FileNumber, 0, nullptr);
  // Warning 100: the library knows no file of that number.
  if (Missing) *Missing = FActiveSQLCA->sqlcode == SQLE_NOTFOUND;
  if (!Check(nullptr, 0, 0, Raise)) return false;

  // From here on the file is open in the library: close it on every path.
  struct TCloseFile {
    TAsaSession* S;
    int N;
    ~TCloseFile() {
      try {
        S->db_backup(S->FActiveSQLCA, DB_BACKUP_CLOSE_FILE, N, 0, nullptr);
      } catch (...) {
      }
    }
  } CloseFile{this, FileNumber};

  int32_t Pages = FActiveSQLCA->sqlerrd[2];
  AnsiString FileName = Directory + asa_detail::FileNamePart(ReportedFileName(*FActiveSQLCA));
  int ReadOp = FileNumber == DB_BACKUP_TRANS_LOG_FILE && BackupType != btFull ? DB_BACKUP_READ_RENAME_LOG
                                                                              : DB_BACKUP_READ_PAGE;
  TLocalFile Local;
  if (WritesLocalCopy(BackupType)) {
    Local.reset(std::fopen(FileName.c_str(), "wb"));
    if (!Local) return BackupFailure(ZYL_ERR_ASA_BACKUP_MEDIA);
  }

  for (int32_t Page = 0; Page < Pages; ++Page) {
    db_backup(FActiveSQLCA, ReadOp, FileNumber, static_cast<a_sql_uint32>(Page), Da);
    while (FActiveSQLCA->sqlcode == SQLE_BACKUP_CANNOT_RENAME_LOG_YET) {
      // Open transactions keep the log from being renamed: read the same page again later.
      Sleep(kLogNotReadyWaitMs);
      db_backup(FActiveSQLCA, ReadOp, FileNumber, static_cast<a_sql_uint32>(Page), Da);
    }
    if (!Check(nullptr, 0, 0, Raise)) return false;
    uint16_t Length = 0;
    std::memcpy(&Length, Buffer, sizeof Length);
    size_t Capacity = static_cast<size_t>(Da->sqlvar[0].sqllen) - 2;
    size_t Count = std::min<size_t>(Length, Capacity);  // never past the buffer, whatever is reported
    if (Local && std::fwrite(Buffer + 2, 1, Count, Local.get()) != Count) {
      Local.reset();
      return BackupFailure(ZYL_ERR_ASA_BACKUP_MEDIA);
    }
    bool Abort = false;
    if (OnBackup) OnBackup(this, FileName, Page + 1, Pages, Abort);
    if (Abort) {
      Local.reset();
      return BackupFailure(ZYL_ERR_ASA_BACKUP_ABORTED);
    }
  }
  if (Local) {
    bool Flushed = std::fflush(Local.get()) == 0;
    Local.reset();
    if (!Flushed) return BackupFailure(ZYL_ERR_ASA_BACKUP_MEDIA);
  }

  if (FileNumber != DB_BACKUP_TRANS_LOG_FILE) return true;
  if (RestartsLog(BackupType)) {
    AnsiString Reported = ReportedFileName(*FActiveSQLCA);
    db_delete_file(FActiveSQLCA, Reported.data());
    return Check(nullptr, 0, 0, Raise);
  }
  if (RenamesLocalLog(BackupType)) {
    AnsiString Target = Directory + asa_detail::FileNamePart(ReportedFileName(*FActiveSQLCA));
    if (Target != FileName && std::rename(FileName.c_str(), Target.c_str()) != 0)
      return BackupFailure(ZYL_ERR_ASA_BACKUP_RENAME_LOG);
  }
  return true;
}
