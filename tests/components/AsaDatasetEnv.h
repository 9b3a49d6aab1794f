// Fixture of the data-set component tests: a database file per test, a connected session, and data
// sets on it that are freed before the session at tear-down.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "components/ZylAsaDS.h"
#include "tests/asa/AsaStatementEnv.h"

namespace zylasa {

class AsaDatasetTest : public AsaSQLTest {
 protected:
  void TearDown() override {
    DataSets.clear();
    AsaSQLTest::TearDown();
  }

  // A data set on the session with SQL as its text.
  TAsaDataset* NewDataset(const std::string& Sql = std::string()) {
    DataSets.push_back(std::make_unique<TAsaDataset>(nullptr));
    TAsaDataset* D = DataSets.back().get();
    D->SetSession(Session.get());
    if (!Sql.empty()) D->GetSQL()->SetText(Sql);
    return D;
  }

  static int Id(TDataSet* D) { return D->FieldByName("id").GetAsInteger(); }

  // The ids met walking forward from the current record to Eof.
  static std::vector<int> WalkForward(TDataSet* D) {
    std::vector<int> Ids;
    for (; !D->Eof(); D->Next()) Ids.push_back(Id(D));
    return Ids;
  }
  static std::vector<int> WalkBackward(TDataSet* D) {
    std::vector<int> Ids;
    for (; !D->Bof(); D->Prior()) Ids.push_back(Id(D));
    return Ids;
  }
  static std::vector<int> Range(int From, int To, int Step = 1) {
    std::vector<int> R;
    for (int I = From; Step > 0 ? I <= To : I >= To; I += Step) R.push_back(I);
    return R;
  }

  std::vector<std::unique_ptr<TAsaDataset>> DataSets;
};

}  // namespace zylasa
