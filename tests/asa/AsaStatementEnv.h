// Fixture of the statement tests: one database file per test, a connected session of a chosen
// client-library flavour, and statements created on it. Engines started by the connect are
// stopped at tear-down.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>

#include "tests/asa/AsaTestEnv.h"

namespace zylasa {

class AsaSQLTest : public AsaTest {
 protected:
  void SetUp() override {
    AsaTest::SetUp();
    if (PgServerMissing()) GTEST_SKIP() << kPgSkip;
  }
  void TearDown() override {
    Statements.clear();
    if (Session) {
      try {
        Session->Close();
      } catch (const Exception&) {
      }
      if (ServerDb.empty()) StopEngine(*Session, Engine);
      Session.reset();
    }
    if (!ServerDb.empty()) OnServer("DROP DATABASE '" + ServerDb + "'", "dblib10.dll");
    AsaTest::TearDown();
  }

  // A session of the given flavour on the test's database (on the server: through its link).
  std::unique_ptr<TAsaSession> NewSession(const std::string& Flavour, const std::string& Db) {
    auto S = AsaTest::NewSession(Flavour, Db);
    if (!Links.empty()) S->SetClientParams(Links);
    return S;
  }

  void OnServer(const std::string& Sql, const std::string& Flavour) { OnPgServer(Links, Sql, Flavour); }

  // Creates a database and connects to it; the engine is started by the connect. With
  // ZYL_TEST_ENGINE=postgres: a fresh database on the server of ZYL_PG_SERVER instead, reached
  // through ClientParams as an application would.
  void Connect(const std::string& Flavour = "dblib10.dll", const std::string& Name = "stmt") {
    if (OnPostgres()) {
      Links = PgServerLinks();
      static int Serial = 0;
      ServerDb = "zt_asa_" + Name + "_" + std::to_string(getpid()) + "_" + std::to_string(++Serial);
      OnServer("CREATE DATABASE '" + ServerDb + "'", Flavour);
      File = ServerDb;
      Session = NewSession(Flavour, ServerDb);
      Session->Open();
      ASSERT_TRUE(Session->GetConnected());
      return;
    }
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
  std::string Links;     // the server's LINKS parameter (network engine only)
  std::string ServerDb;  // the database made on the server, dropped at tear-down
  std::unique_ptr<TAsaSession> Session;
  std::vector<std::unique_ptr<TAsaSQL>> Statements;
};

}  // namespace zylasa
