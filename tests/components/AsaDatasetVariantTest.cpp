// An application linked against the package built for an older version of the host framework
// (libzylpack4 or libzylpack3, with the binding relinked over it): the data sets read and write the
// database as usual, and answer the provider operations as the framework's own data set does. Built
// once per version; ZYL_EXPECTED_HOST_VERSION names it.
#include <fstream>

#include "tests/components/AsaDatasetEnv.h"

using namespace zylasa;

namespace {

// The shared libraries of the package mapped into this process, by name (the file name up to
// ".so", without the version that follows it).
std::vector<std::string> PackagesLoaded() {
  std::vector<std::string> Names;
  std::ifstream Maps("/proc/self/maps");
  for (std::string Line; std::getline(Maps, Line);) {
    const size_t Slash = Line.rfind('/');
    if (Slash == std::string::npos) continue;
    const std::string File = Line.substr(Slash + 1);
    const std::string Name = File.substr(0, File.find(".so"));
    if (Name.rfind("libzylpack", 0) == 0 && std::find(Names.begin(), Names.end(), Name) == Names.end())
      Names.push_back(Name);
  }
  return Names;
}

}  // namespace

TEST_F(AsaDatasetTest, OlderHostVersionReadsAndWritesButHasNoProviderOperations) {
  EXPECT_EQ(ZylPackHostVersion(), ZYL_EXPECTED_HOST_VERSION);
  EXPECT_EQ(PackagesLoaded(), std::vector<std::string>{"libzylpack" + std::to_string(ZYL_EXPECTED_HOST_VERSION)})
      << "one copy of the package, the one built for this version";

  Connect();
  MakeNumbers(60);
  TAsaDataset* D = NewDataset("select id, v from n where id > :low order by id");
  D->SetReadOnly(false);
  D->ParamByName("low")->SetAsInteger(50);
  D->Open();
  EXPECT_EQ(WalkForward(D), Range(51, 60));
  D->First();
  D->Edit();
  D->FieldByName("v").SetAsString("changed");
  D->Post();
  EXPECT_EQ(QueryText(*Session, "select v from n where id = 51"), "changed");
  ASSERT_TRUE(D->Locate("id", Variant(57), {}));
  EXPECT_EQ(D->RecNo(), 7);

  // The provider operations are the framework's: nothing SQL-based, no parameters, no table, and
  // neither parameters nor a reset touch the open data set.
  EXPECT_FALSE(D->PSIsSQLBased());
  EXPECT_FALSE(D->PSIsSQLSupported());
  EXPECT_EQ(D->PSGetQuoteChar(), "");
  EXPECT_EQ(D->PSGetParams(), nullptr);
  EXPECT_EQ(D->PSGetTableName(), "");
  EXPECT_EQ(D->PSGetDefaultOrder(), nullptr);
  D->OnUpdateRecord = [](TDataSet*, TUpdateKind, TUpdateAction& Action) { Action = uaApplied; };
  EXPECT_FALSE(D->PSUpdateRecord(ukModify, D)) << "the handler is not the provider's";
  D->PSStartTransaction();
  EXPECT_FALSE(D->GetDBFlags().Contains(suProvider));
  EXPECT_FALSE(D->PSInTransaction());
  TParams Low;
  Low.CreateParam(ftInteger, "low", ptInput)->SetValue(Variant(58));
  D->PSSetParams(&Low);
  D->PSReset();
  EXPECT_TRUE(D->Active());
  EXPECT_EQ(D->ParamByName("low")->GetAsInteger(), 50);
  EXPECT_EQ(Id(D), 57);
  EXPECT_THROW(D->PSExecute(), EDatabaseError);
}
