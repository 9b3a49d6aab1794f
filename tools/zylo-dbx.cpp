// zylo-dbx: tries the dbExpress driver from the command line, the way a dbExpress host uses it:
// the driver library is loaded by file name, its export hands out the driver, and everything
// else goes through the interfaces' method tables. It connects, runs a query, a statement or a
// stored procedure, prints every result set, the rows affected and the output parameters, and
// prints the catalog lists (tables, procedures, columns, procedure parameters, indices).
//
//   zylo-dbx [options] [SQL]
//
// Exit codes: 0 done, 1 the driver or the database reported an error, 255 usage error.
#include <dlfcn.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "dbxdriver/DBXpress.h"
#include "tools/isql/IsqlFormat.h"

using zylisql::TCell;
using zylisql::TColumn;

namespace {

const char* const kUsage =
    "usage: zylo-dbx [options] [SQL]\n"
    "  -s, --server NAME      the server-name string: a database name, or key=value pairs such as\n"
    "                         \"servertype=server;dbf=/data/demo.db\" (give the file with its full path)\n"
    "  -u, --user USER        user name (default dba)\n"
    "  -p, --password TEXT    password (default sql)\n"
    "  -l, --vendor-lib FILE  the client library (default dblib10.dll, that is libdblib10.so)\n"
    "      --driver FILE      the driver library (default: libdbexpzyl.so beside ../lib of this program)\n"
    "      --param TEXT       a value for the next ? of SQL or input of --proc (repeatable)\n"
    "      --proc NAME        call the stored procedure NAME with the --param values\n"
    "      --tables [all]     list base tables of DBA; \"all\" adds views and system tables\n"
    "      --procedures       list procedures\n"
    "      --columns TABLE    list the columns of TABLE\n"
    "      --proc-params PROC list the parameters of PROC\n"
    "      --indices TABLE    list the index columns of TABLE\n"
    "      --format F         table (default), csv or json\n"
    "      --trace            print the driver's trace texts on standard error\n";

// A reference to a driver object, released when it goes.
template <class I>
class TRef {
 public:
  TRef() = default;
  TRef(const TRef&) = delete;
  TRef& operator=(const TRef&) = delete;
  ~TRef() { Reset(); }
  void Reset() {
    if (FPtr) FPtr->Release();
    FPtr = nullptr;
  }
  I* operator->() const { return FPtr; }
  I* Get() const { return FPtr; }
  I** Out() {
    Reset();
    return &FPtr;
  }
  // For a var parameter: the callee releases what the slot holds when it assigns a new value.
  I** Var() { return &FPtr; }

 private:
  I* FPtr = nullptr;
};

struct TOptions {
  std::string Server, User = "dba", Password = "sql", VendorLib = "dblib10.dll", Driver, Sql, Proc;
  std::vector<std::string> Params;
  std::string Catalog, CatalogName;  // "tables", "procedures", "columns", "proc-params", "indices"
  bool AllTables = false, Trace = false;
  zylisql::TFormat Format = zylisql::TFormat::fmTable;
};

uint32_t ZYL_DBX_CALL TraceCallback(int32_t, void* Info) {
  if (Info) std::fprintf(stderr, "trace: %s\n", static_cast<const SQLTRACEDesc*>(Info)->pszTrace);
  return cbrUSEDEF;
}

std::string DefaultDriver() {
  char Self[4096];
  const ssize_t N = readlink("/proc/self/exe", Self, sizeof Self - 1);
  if (N > 0) {
    std::string Dir(Self, static_cast<size_t>(N));
    Dir = Dir.substr(0, Dir.rfind('/'));
    std::string Candidate = Dir + "/../lib/libdbexpzyl.so";
    if (access(Candidate.c_str(), R_OK) == 0) return Candidate;
  }
  return "libdbexpzyl.so";  // wherever the loader finds it
}

// The error text an object holds (reading it empties its list).
template <class I>
std::string ErrorText(I* Object) {
  int16_t Len = 0;
  if (!Object || Object->getErrorMessageLen(&Len) != SQL_SUCCESS || Len <= 0) return std::string();
  std::string Text(static_cast<size_t>(Len) + 1, '\0');
  if (Object->getErrorMessage(Text.data()) != SQL_SUCCESS) return std::string();
  Text.resize(std::strlen(Text.c_str()));
  while (!Text.empty() && (Text.back() == '\n' || Text.back() == '\r')) Text.pop_back();
  return Text;
}

struct TFailure {
  std::string Text;
};

template <class I>
void Check(SQLResult R, I* Object, const char* What) {
  if (R == SQL_SUCCESS) return;
  std::string Text = ErrorText(Object);  // a driver error's text; some refusals leave one too
  if (Text.empty()) Text = std::string(What) + " failed with result " + std::to_string(R);
  throw TFailure{Text};
}

std::string Hex(const uint8_t* Data, size_t N) {
  static const char* Digits = "0123456789abcdef";
  std::string S = "0x";
  for (size_t I = 0; I < N; ++I) {
    S += Digits[Data[I] >> 4];
    S += Digits[Data[I] & 15];
  }
  return S;
}

std::string BcdText(const TBcd& Bcd) {
  std::string Digits;
  for (int I = 0; I < Bcd.Precision && I < 64; ++I) {
    const uint8_t B = Bcd.Fraction[I / 2];
    Digits += static_cast<char>('0' + ((I % 2 == 0) ? B >> 4 : B & 15));
  }
  const int Places = Bcd.SignSpecialPlaces & 0x3F;
  if (Places > 0 && Places < static_cast<int>(Digits.size()))
    Digits.insert(Digits.size() - static_cast<size_t>(Places), ".");
  return ((Bcd.SignSpecialPlaces & 0x80) ? "-" : "") + Digits;
}

// A day number (1 January of the year 1 is day 1) as yyyy-mm-dd.
std::string DateText(int32_t Day) {
  // Days since 1970-01-01, then the civil date by the era arithmetic.
  int64_t Z = static_cast<int64_t>(Day) - 719163 + 719468;
  const int64_t Era = (Z >= 0 ? Z : Z - 146096) / 146097;
  const int64_t Doe = Z - Era * 146097;
  const int64_t Yoe = (Doe - Doe / 1460 + Doe / 36524 - Doe / 146096) / 365;
  const int64_t Doy = Doe - (365 * Yoe + Yoe / 4 - Yoe / 100);
  const int64_t Mp = (5 * Doy + 2) / 153;
  const int64_t D = Doy - (153 * Mp + 2) / 5 + 1;
  const int64_t M = Mp < 10 ? Mp + 3 : Mp - 9;
  const int64_t Y = Yoe + Era * 400 + (M <= 2 ? 1 : 0);
  char Buf[80];
  std::snprintf(Buf, sizeof Buf, "%04lld-%02lld-%02lld", static_cast<long long>(Y), static_cast<long long>(M),
                static_cast<long long>(D));
  return Buf;
}

std::string TimeText(int32_t MSecs, uint32_t Fraction = 0) {
  char Buf[32];
  const int32_t S = MSecs / 1000;
  if (Fraction)
    std::snprintf(Buf, sizeof Buf, "%02d:%02d:%02d.%03u", S / 3600, S / 60 % 60, S % 60, Fraction);
  else
    std::snprintf(Buf, sizeof Buf, "%02d:%02d:%02d", S / 3600, S / 60 % 60, S % 60);
  return Buf;
}

// One column's value of the current row through the getter its type asks for.
TCell ReadCell(ISQLCursor* C, uint16_t Col, uint16_t Type, uint16_t SubType, uint32_t Length) {
  int32_t Blank = 0;
  TCell Cell;
  auto Got = [&](SQLResult R) {
    if (R == DBXERR_NOTSUPPORTED) Blank = 1;  // a catalog column that holds nothing
    else Check(R, C, "reading a value");
    Cell.Null = Blank != 0;
    return !Cell.Null;
  };
  switch (Type) {
    case fldZSTRING: {
      std::vector<char> Buf(Length + 1, '\0');
      if (Got(C->getString(Col, Buf.data(), &Blank))) Cell.Text = Buf.data();
      break;
    }
    case fldINT16:
    case fldBOOL: {
      int16_t V = 0;
      if (Got(C->getShort(Col, &V, &Blank))) Cell.Text = Type == fldBOOL ? (V ? "true" : "false") : std::to_string(V);
      break;
    }
    case fldINT32: {
      int32_t V = 0;
      if (Got(C->getLong(Col, &V, &Blank))) Cell.Text = std::to_string(V);
      break;
    }
    case fldFLOAT: {
      double V = 0;
      if (Got(C->getDouble(Col, &V, &Blank))) {
        char Buf[64];
        std::snprintf(Buf, sizeof Buf, "%.15g", V);
        Cell.Text = Buf;
      }
      break;
    }
    case fldBCD: {
      TBcd V{};
      if (Got(C->getBcd(Col, &V, &Blank))) Cell.Text = BcdText(V);
      break;
    }
    case fldDATE: {
      int32_t V = 0;
      if (Got(C->getDate(Col, &V, &Blank))) Cell.Text = DateText(V);
      break;
    }
    case fldTIME: {
      int32_t V = 0;
      if (Got(C->getTime(Col, &V, &Blank))) Cell.Text = TimeText(V);
      break;
    }
    case fldDATETIME: {
      TSQLTimeStamp V{};
      if (Got(C->getTimeStamp(Col, &V, &Blank))) {
        char Buf[48];
        std::snprintf(Buf, sizeof Buf, "%04d-%02u-%02u %02u:%02u:%02u", V.Year, V.Month, V.Day, V.Hour, V.Minute,
                      V.Second);
        Cell.Text = Buf;
        if (V.Fractions) Cell.Text += "." + std::to_string(1000 + V.Fractions).substr(1);
      }
      break;
    }
    case fldBYTES:
    case fldVARBYTES: {
      std::vector<uint8_t> Buf(Length + 2, 0);
      if (Got(C->getBytes(Col, Buf.data(), &Blank))) {
        if (Type == fldVARBYTES) {
          uint16_t N = 0;
          std::memcpy(&N, Buf.data(), 2);
          Cell.Text = Hex(Buf.data() + 2, N);
        } else {
          Cell.Text = Hex(Buf.data(), Length);
        }
        Cell.Binary = true;
      }
      break;
    }
    case fldBLOB: {
      uint32_t Size = 0;
      Check(C->getBlobSize(Col, &Size, &Blank), C, "reading a blob size");
      if (Blank) {
        Cell.Null = true;
        break;
      }
      std::vector<uint8_t> Buf(Size);
      if (Got(C->getBlob(Col, Buf.data(), &Blank, Size))) {
        if (SubType == fldstMEMO)
          Cell.Text.assign(Buf.begin(), Buf.end());
        else
          Cell.Text = Hex(Buf.data(), Buf.size()), Cell.Binary = true;
      }
      break;
    }
    default:
      Cell.Text = "?";
      break;
  }
  return Cell;
}

// Prints every row of a cursor (a query's or a catalog list's); returns the rows.
int64_t PrintCursor(ISQLCursor* C, zylisql::TPrinter& Out) {
  uint16_t Count = 0;
  Check(C->getColumnCount(&Count), C, "getColumnCount");
  std::vector<TColumn> Columns;
  struct TShape {
    uint16_t Type, SubType;
    uint32_t Length;
  };
  std::vector<TShape> Shapes;
  for (uint16_t I = 1; I <= Count; ++I) {
    DBINAME Name = {0};
    TShape S{};
    Check(C->getColumnName(I, Name), C, "getColumnName");
    Check(C->getColumnType(I, &S.Type, &S.SubType), C, "getColumnType");
    Check(C->getColumnLength(I, &S.Length), C, "getColumnLength");
    const bool Numeric = S.Type == fldINT16 || S.Type == fldINT32 || S.Type == fldFLOAT || S.Type == fldBCD;
    Columns.push_back(TColumn{Name, Numeric});
    Shapes.push_back(S);
  }
  Out.BeginResult(Columns);
  int64_t Rows = 0;
  while (true) {
    const SQLResult R = C->next();
    if (R == DBXERR_EOF) break;
    Check(R, C, "next");
    std::vector<TCell> Cells;
    for (uint16_t I = 1; I <= Count; ++I)
      Cells.push_back(ReadCell(C, I, Shapes[I - 1].Type, Shapes[I - 1].SubType, Shapes[I - 1].Length));
    Out.Row(Cells);
    ++Rows;
  }
  Out.EndResult(Rows);
  return Rows;
}

// The parameters of a procedure as the catalog lists them: name and kind (1 in ... 4 result).
std::vector<std::pair<std::string, int32_t>> ProcedureParams(ISQLMetaData* Meta, const std::string& Proc) {
  TRef<ISQLCursor> C;
  Check(Meta->getProcedureParams(const_cast<char*>(Proc.c_str()), nullptr, C.Out()), Meta, "getProcedureParams");
  std::vector<std::pair<std::string, int32_t>> Params;
  while (C->next() == SQL_SUCCESS) {
    char Name[300] = {0};
    int32_t Blank = 0, Kind = 0;
    C->getString(5, Name, &Blank);
    C->getLong(7, &Kind, &Blank);
    Params.emplace_back(Name, Kind);
  }
  return Params;
}

void SetText(ISQLCommand* Cmd, uint16_t Number, uint32_t Direction, const std::string* Value) {
  std::string Text = Value ? *Value : std::string();
  Check(Cmd->setParameter(Number, 0, Direction, fldZSTRING, 0, 0, 0, static_cast<uint32_t>(Text.size() + 1),
                          Text.data(), Value ? 0 : 1),
        Cmd, "setParameter");
}

// Runs SQL or a procedure and prints what it gives: result sets, rows affected, outputs.
void Run(ISQLConnection* Conn, const TOptions& O, zylisql::TPrinter& Out) {
  TRef<ISQLCommand> Cmd;
  Check(Conn->getSQLCommand(Cmd.Out()), Conn, "getSQLCommand");
  std::vector<std::pair<std::string, int32_t>> Params;
  if (!O.Proc.empty()) {
    TRef<ISQLMetaData> Meta;
    Check(Conn->getSQLMetaData(Meta.Out()), Conn, "getSQLMetaData");
    Params = ProcedureParams(Meta.Get(), O.Proc);
    Check(Cmd->SetOption(eCommStoredProc, 1), Cmd.Get(), "SetOption");
    Check(Cmd->prepare(const_cast<char*>(O.Proc.c_str()), static_cast<uint16_t>(Params.size())), Cmd.Get(), "prepare");
    size_t Next = 0;
    for (size_t I = 0; I < Params.size(); ++I) {
      const int32_t Kind = Params[I].second;
      const bool Input = Kind == paramIN || Kind == paramINOUT;
      const std::string* Value = Input && Next < O.Params.size() ? &O.Params[Next++] : nullptr;
      SetText(Cmd.Get(), static_cast<uint16_t>(I + 1), Kind ? static_cast<uint32_t>(Kind) : static_cast<uint32_t>(paramIN), Value);
    }
  } else {
    Check(Cmd->prepare(const_cast<char*>(O.Sql.c_str()), static_cast<uint16_t>(O.Params.size())), Cmd.Get(),
          "prepare");
    for (size_t I = 0; I < O.Params.size(); ++I) SetText(Cmd.Get(), static_cast<uint16_t>(I + 1), paramIN, &O.Params[I]);
  }
  TRef<ISQLCursor> Cursor;
  Check(Cmd->execute(Cursor.Var()), Cmd.Get(), "execute");
  if (!Cursor.Get()) {
    uint32_t Rows = 0;
    Check(Cmd->getRowsAffected(&Rows), Cmd.Get(), "getRowsAffected");
    if (O.Proc.empty()) Out.Affected(Rows);
  }
  // Every result set in turn: a procedure may give several.
  while (Cursor.Get()) {
    PrintCursor(Cursor.Get(), Out);
    const SQLResult R = Cmd->getNextCursor(Cursor.Var());
    if (R == SQL_NULL_DATA) break;
    Check(R, Cmd.Get(), "getNextCursor");
  }
  if (O.Proc.empty()) return;
  std::vector<TColumn> Names;
  std::vector<TCell> Values;
  for (size_t I = 0; I < Params.size(); ++I) {
    const int32_t Kind = Params[I].second;
    if (Kind != paramOUT && Kind != paramINOUT && Kind != paramRET) continue;
    char Buffer[8192] = {0};
    int32_t Blank = 0;
    Check(Cmd->getParameter(static_cast<uint16_t>(I + 1), 0, Buffer, sizeof Buffer - 1, &Blank), Cmd.Get(),
          "getParameter");
    Names.push_back(TColumn{Params[I].first, false});
    Values.push_back(Blank ? TCell::NullCell() : TCell::Of(Buffer));
  }
  if (!Names.empty()) Out.OutParams(Names, Values);
}

void PrintCatalog(ISQLConnection* Conn, const TOptions& O, zylisql::TPrinter& Out) {
  TRef<ISQLMetaData> Meta;
  Check(Conn->getSQLMetaData(Meta.Out()), Conn, "getSQLMetaData");
  TRef<ISQLCursor> C;
  char* Name = const_cast<char*>(O.CatalogName.c_str());
  SQLResult R = SQL_SUCCESS;
  if (O.Catalog == "tables")
    R = Meta->getTables(nullptr, O.AllTables ? eSQLTable | eSQLView | eSQLSystemTable : eSQLTable, C.Out());
  else if (O.Catalog == "procedures")
    R = Meta->getProcedures(nullptr, eSQLProcedure, C.Out());
  else if (O.Catalog == "columns")
    R = Meta->getColumns(Name, nullptr, 0, C.Out());
  else if (O.Catalog == "proc-params")
    R = Meta->getProcedureParams(Name, nullptr, C.Out());
  else
    R = Meta->getIndices(Name, 0, C.Out());
  Check(R, Meta.Get(), O.Catalog.c_str());
  PrintCursor(C.Get(), Out);
}

bool ParseArgs(int argc, char** argv, TOptions& O) {
  auto Value = [&](int& I, std::string& Into) {
    if (I + 1 >= argc) return false;
    Into = argv[++I];
    return true;
  };
  for (int I = 1; I < argc; ++I) {
    const std::string A = argv[I];
    std::string V;
    if (A == "-s" || A == "--server") {
      if (!Value(I, O.Server)) return false;
    } else if (A == "-u" || A == "--user") {
      if (!Value(I, O.User)) return false;
    } else if (A == "-p" || A == "--password") {
      if (!Value(I, O.Password)) return false;
    } else if (A == "-l" || A == "--vendor-lib") {
      if (!Value(I, O.VendorLib)) return false;
    } else if (A == "--driver") {
      if (!Value(I, O.Driver)) return false;
    } else if (A == "--param") {
      if (!Value(I, V)) return false;
      O.Params.push_back(V);
    } else if (A == "--proc") {
      if (!Value(I, O.Proc)) return false;
    } else if (A == "--tables") {
      O.Catalog = "tables";
      if (I + 1 < argc && std::string(argv[I + 1]) == "all") O.AllTables = true, ++I;
    } else if (A == "--procedures") {
      O.Catalog = "procedures";
    } else if (A == "--columns" || A == "--proc-params" || A == "--indices") {
      O.Catalog = A.substr(2);
      if (!Value(I, O.CatalogName)) return false;
    } else if (A == "--format") {
      if (!Value(I, V) || !zylisql::ParseFormat(V, O.Format)) return false;
    } else if (A == "--trace") {
      O.Trace = true;
    } else if (!A.empty() && A[0] == '-') {
      return false;
    } else if (O.Sql.empty()) {
      O.Sql = A;
    } else {
      return false;
    }
  }
  return !O.Sql.empty() || !O.Proc.empty() || !O.Catalog.empty();
}

}  // namespace

int main(int argc, char** argv) {
  TOptions O;
  if (!ParseArgs(argc, argv, O)) {
    std::fputs(kUsage, stderr);
    return 255;
  }
  if (O.Driver.empty()) O.Driver = DefaultDriver();
  void* Library = dlopen(O.Driver.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!Library) {
    std::fprintf(stderr, "zylo-dbx: cannot load %s: %s\n", O.Driver.c_str(), dlerror());
    return 1;
  }
  auto GetDriver = reinterpret_cast<TGetSQLDriver>(dlsym(Library, kGetSQLDriverName));
  if (!GetDriver) {
    std::fprintf(stderr, "zylo-dbx: %s has no %s\n", O.Driver.c_str(), kGetSQLDriverName);
    return 1;
  }
  auto Out = zylisql::MakePrinter(O.Format, std::cout, std::cerr, std::cerr);
  int Status = 0;
  {
    TRef<ISQLDriver> Driver;
    TRef<ISQLConnection> Conn;
    try {
      void* D = nullptr;
      if (GetDriver(O.VendorLib.data(), nullptr, &D) != SQL_SUCCESS || !D) throw TFailure{"getSQLDriverZYL failed"};
      *Driver.Out() = static_cast<ISQLDriver*>(D);
      if (Driver->getSQLConnection(Conn.Out()) != SQL_SUCCESS) throw TFailure{"getSQLConnection failed"};
      if (O.Trace) {
        Check(Conn->SetOption(eConnCallBack, reinterpret_cast<TDBXOptionValue>(&TraceCallback)), Conn.Get(),
              "SetOption");
      }
      Check(Conn->connect(O.Server.data(), O.User.data(), O.Password.data()), Conn.Get(), "connect");
      if (!O.Sql.empty() || !O.Proc.empty()) Run(Conn.Get(), O, *Out);
      if (!O.Catalog.empty()) PrintCatalog(Conn.Get(), O, *Out);
      Conn->disconnect();
    } catch (const TFailure& F) {
      std::cout.flush();
      std::fprintf(stderr, "zylo-dbx: %s\n", F.Text.c_str());
      Status = 1;
    }
  }
  // The host never unloads a driver library; neither does this one.
  return Status;
}
