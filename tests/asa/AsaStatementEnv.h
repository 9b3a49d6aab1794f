// Fixture of the statement tests: one database file per test, a connected session of a chosen
// client-library flavour, and statements created on it. Engines started by the connect are
// stopped at tear-down.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "tests/asa/AsaTestEnv.h"

namespace zylasa {

class AsaSQLTest : public AsaTest {
 protected:
  void TearDown() override {
    Statements.clear();
    if (Session) {
      try {
        Session->Close();
      } catch (const Exception&) {
      }
      StopEngine(*Session, Engine);
      Session.reset();
    }
    AsaTest::TearDown();
  }

  // Creates a database and connects to it; the engine is started by the connect.
  void Connect(const std::string& Flavour = "dblib10.dll", const std::string& Name = "stmt") {
    File = CreateDb(Name, Flavour);
    Engine = "eng_" + Name;
    Session = NewSession(Flavour, File);
    Session->SetLoginEngineName(Engine);
    Session->SetClientParams("dbf=" + File);
    Session->Open();
    ASSERT_TRUE(Session->GetConnected());
  }

  // A statement on the session; freed before the session at tear-down.
  TAsaSQL* NewSQL(bool WantExceptions = true) {
    Statements.push_back(std::make_unique<TAsaSQL>(nullptr));
    TAsaSQL* Q = Statements.back().get();
    Q->SetSession(Session.get());
    Q->SetWantExceptions(WantExceptions);
    return Q;
  }

  void Exec(const std::string& Sql) { ASSERT_EQ(ExecImm(*Session, Sql), 0) << Sql << ": " << Session->GetLastError(); }

  // Table n(id int primary key, v varchar(20)) with rows 1..Rows, v = 'r<id>'.
  void MakeNumbers(int Rows) {
    Exec("create table n (id integer primary key, v varchar(20))");
    for (int Start = 1; Start <= Rows; Start += 500) {
      std::string Sql = "insert into n values ";
      for (int I = Start; I < Start + 500 && I <= Rows; ++I) {
        if (I != Start) Sql += ",";
        Sql += "(" + std::to_string(I) + ",'r" + std::to_string(I) + "')";
      }
      Exec(Sql);
    }
    Exec("commit");
  }

  static Variant Value(TAsaSQL* Q, const Variant& Field) {
    Variant V;
    Q->GetFieldValue(Field, V);
    return V;
  }
  static int IntValue(TAsaSQL* Q, const Variant& Field) { return Value(Q, Field).AsInteger(); }

  std::string File;
  std::string Engine;
  std::unique_ptr<TAsaSession> Session;
  std::vector<std::unique_ptr<TAsaSQL>> Statements;
};

}  // namespace zylasa
