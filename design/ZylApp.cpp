// ZylApp: the sessions of the application's forms and data modules, and the catalog queries run
// through one of them.
#include "design/ZylApp.h"

#include <functional>
#include <memory>

#include "base/ZylUtil.h"
#include "dataset/Zylbasds.h"
#include "host/Forms.h"

namespace {

void AddSessions(TStringList& Names, TComponent& Container) {
  for (int I = 0; I < Container.ComponentCount(); ++I) {
    auto* S = dynamic_cast<TZyloSession*>(Container.Components(I));
    if (S && !Trim(S->GetLoginDatabase()).empty())
      Names.AddObject(ZylExtractFilePrefix(S->GetLoginDatabase()), S);
  }
}

// The sorted, duplicate-free list of sessions of the screen's forms, then its data modules.
void CollectSessions(TStringList& Names) {
  Names.SetSorted(true);
  Names.SetDuplicates(dupIgnore);
  if (!Screen) return;
  for (int I = 0; I < Screen->FormCount(); ++I) AddSessions(Names, *Screen->Forms(I));
  for (int I = 0; I < Screen->DataModuleCount(); ++I) AddSessions(Names, *Screen->DataModules(I));
}

// Ends the list's update on every exit path.
class TListUpdate {
 public:
  explicit TListUpdate(TStrings& List) : FList(List) { FList.BeginUpdate(); }
  ~TListUpdate() { FList.EndUpdate(); }
  TListUpdate(const TListUpdate&) = delete;
  TListUpdate& operator=(const TListUpdate&) = delete;

 private:
  TStrings& FList;
};

// Holds the session open for the duration of a catalog query.
class TSessionUse {
 public:
  explicit TSessionUse(TZyloSession& Session) : FSession(Session) { FSession.OpenSession(nullptr); }
  ~TSessionUse() { FSession.CloseSession(nullptr); }
  TSessionUse(const TSessionUse&) = delete;
  TSessionUse& operator=(const TSessionUse&) = delete;

 private:
  TZyloSession& FSession;
};

void CheckDatasetClass(const TMetaClass& DatasetClass) {
  if (!DatasetClass.InheritsFrom(TZyloDataset::StaticClass()) || !DatasetClass.CanCreate())
    throw EInvalidOperation(Format("%s is not a data set class", DatasetClass.ClassName()));
}

std::unique_ptr<TZyloDataset> CreateDataset(const TMetaClass& DatasetClass) {
  return std::unique_ptr<TZyloDataset>(static_cast<TZyloDataset*>(DatasetClass.CreateComponent(nullptr)));
}

using TRowProc = std::function<AnsiString(TZyloDataset&)>;
using TParamsProc = std::function<void(TZyloDataset&)>;

// The shared frame: find the session, hold it open, run Sql, add Row's string for every row.
void ListCatalog(const AnsiString& DatabaseName, TStrings* List, const TMetaClass& DatasetClass,
                 const AnsiString& Sql, const TParamsProc& SetParams, const TRowProc& Row) {
  TListUpdate Update(*List);
  List->Clear();
  CheckDatasetClass(DatasetClass);
  TZyloSession* Session = ZylFindDatabase(DatabaseName);
  if (!Session) return;
  TSessionUse Use(*Session);
  std::unique_ptr<TZyloDataset> D = CreateDataset(DatasetClass);
  D->SetSession(Session);
  D->GetSQL()->SetText(Sql);
  if (SetParams) SetParams(*D);
  D->Open();
  for (D->First(); !D->Eof(); D->Next()) List->Add(Row(*D));
  D->Close();
}

AnsiString Column(TZyloDataset& D, const char* Name) { return TrimRight(D.FieldByName(Name).GetAsString()); }

TRowProc OwnerAndName(bool Qualified, const char* NameColumn) {
  return [Qualified, NameColumn](TZyloDataset& D) {
    AnsiString Name = Column(D, NameColumn);
    return Qualified ? Column(D, "user_name") + "." + Name : Name;
  };
}

}  // namespace

void ZylGetDatabaseNames(TStrings* List) {
  TStringList Names;
  CollectSessions(Names);
  List->Assign(&Names);
}

TZyloSession* ZylFindDatabase(const AnsiString& DatabaseName) {
  TStringList Names;
  CollectSessions(Names);
  AnsiString Wanted = ZylExtractFilePrefix(DatabaseName);
  for (int I = 0; I < Names.Count(); ++I)
    if (AnsiSameText(Names[I], Wanted)) return static_cast<TZyloSession*>(Names.Objects(I));
  return nullptr;
}

void ZylGetTableNames(const AnsiString& DatabaseName, bool AllCreators, bool Qualified, TStrings* List,
                      const TMetaClass& DatasetClass) {
  AnsiString Sql =
      "select user_name, table_name from sys.systable, sys.sysuserperms where creator=user_id and "
      "table_type='BASE'";
  if (!AllCreators) Sql += " and creator=1";
  Sql += " order by 1,2";
  ListCatalog(DatabaseName, List, DatasetClass, Sql, nullptr, OwnerAndName(Qualified, "table_name"));
}

void ZylGetStoredProcNames(const AnsiString& DatabaseName, bool Qualified, TStrings* List,
                           const TMetaClass& DatasetClass) {
  ListCatalog(DatabaseName, List, DatasetClass,
              "select user_name, proc_name from sys.sysprocedure, sys.sysuserperms where creator=user_id order by 1,2",
              nullptr, OwnerAndName(Qualified, "proc_name"));
}

void ZylGetFieldNames(const AnsiString& DatabaseName, const AnsiString& TableName, TStrings* List,
                      const TMetaClass& DatasetClass) {
  AnsiString Owner, Table = TableName;
  if (size_t Dot = TableName.find('.'); Dot != AnsiString::npos) {
    Owner = Trim(TableName.substr(0, Dot));
    Table = TableName.substr(Dot + 1);
  }
  if (Table.empty()) {
    TListUpdate Update(*List);
    List->Clear();
    return;
  }
  AnsiString Sql =
      "select column_name from sys.systable st, sys.syscolumn sc, sys.sysuserperms up where "
      "st.table_id=sc.table_id and creator=user_id and table_name=:table_name ";
  if (!Owner.empty()) Sql += "and user_name=:user_name ";
  Sql += "order by column_id";
  auto SetParams = [Owner, Table](TZyloDataset& D) {
    D.ParamByName("table_name")->SetAsString(Table);
    if (!Owner.empty()) D.ParamByName("user_name")->SetAsString(Owner);
  };
  ListCatalog(DatabaseName, List, DatasetClass, Sql, SetParams,
              [](TZyloDataset& D) { return Column(D, "column_name"); });
}
