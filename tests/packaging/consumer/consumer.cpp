// A program of a library user, built against the installed tree only: a data module with a
// session and a data set on a database file, the design package registered, one query run.
#include <cstdio>
#include <memory>

#include "components/ZylAsaDS.h"
#include "design/ZylAsaEd.h"
#include "design/ZylParamEd.h"
#include "host/Forms.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: consumer DATABASE\n");
    return 2;
  }
  ZylPackRegister();
  ZylSaRegister();
  std::unique_ptr<TDataModule> Module(new TDataModule(nullptr));
  auto* Session = new TAsaSession(Module.get());
  Session->SetName("Session1");
  Session->SetLibraryFile("dblib10.dll");
  Session->SetServerType(stServer);
  Session->SetLoginDatabase(argv[1]);
  Session->SetLoginUser("dba");
  Session->SetLoginPassword("sql");
  auto* Query = new TAsaDataset(Module.get());
  Query->SetName("Query1");
  Query->SetSession(Session);
  Query->GetSQL()->SetText("select 6 * :n as answer");
  Query->ParamByName("n")->SetAsInteger(7);
  try {
    Query->Open();
    std::printf("answer %s, %zu components on the palette\n", Query->FieldByName("answer").GetAsString().c_str(),
                PaletteComponents("Zylobase").size());
    Query->Close();
    Session->Close();
  } catch (const std::exception& E) {
    std::fprintf(stderr, "consumer: %s\n", E.what());
    return 1;
  }
  return 0;
}
