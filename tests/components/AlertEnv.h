// Shared pieces of the alert tests: a database with a running engine, sessions on it, and the
// main thread's pump driven until a condition holds (generous deadlines, no fixed sleeps).
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "components/ZylAlert.h"
#include "tests/asa/AsaTestEnv.h"

namespace zylalert {

using zylasa::AsaTest;

// Serves the synchronise queue until Done() holds or Seconds pass; returns Done().
inline bool PumpUntil(const std::function<bool()>& Done, double Seconds = 60) {
  auto Deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(Seconds);
  while (!Done()) {
    if (std::chrono::steady_clock::now() >= Deadline) return false;
    CheckSynchronize(20);
  }
  return true;
}

// Waits until the alert's listener has its subscriber handle (it subscribed).
inline bool Subscribed(TAsaAlert& A) {
  return PumpUntil([&] { return A.GetThread() && A.GetThread()->GetSubscriberHandle() > 0; });
}

class AlertTest : public AsaTest {
 protected:
  void SetUp() override {
    AsaTest::SetUp();
    if (zylasa::PgServerMissing()) GTEST_SKIP() << zylasa::kPgSkip;
  }
  void TearDown() override {
    Alerts.clear();  // each stops its listener
    Sessions.clear();
    if (!ServerDb.empty()) zylasa::OnPgServer(Links, "DROP DATABASE '" + ServerDb + "'", "dblib10.dll");
    if (!Engine.empty()) {
      TAsaSession S;
      zylasa::LoadFlavour(S, FlavourFile);
      StopEngine(S, Engine);
    }
    AsaTest::TearDown();
  }

  // Creates the database and opens the first session on it, which starts the engine.
  // ZYL_TEST_ENGINE=postgres: a fresh database on the server of ZYL_PG_SERVER instead.
  void Prepare(const std::string& Flavour = "dblib10.dll") {
    FlavourFile = Flavour;
    if (zylasa::OnPostgres()) {
      static int Serial = 0;
      Links = zylasa::PgServerLinks();
      ServerDb = "zt_alert_" + std::to_string(::getpid()) + "_" + std::to_string(++Serial);
      zylasa::OnPgServer(Links, "CREATE DATABASE '" + ServerDb + "'", Flavour);
      File = ServerDb;
      Main = Connect();
      return;
    }
    File = CreateDb("alerts", Flavour);
    Engine = "eng_alerts_" + std::to_string(::getpid());
    Main = Connect();
  }

  // Another connection to the database (engine named, file given).
  TAsaSession* Connect() {
    Sessions.push_back(NewSession(FlavourFile, File));
    TAsaSession* S = Sessions.back().get();
    if (!Links.empty()) {
      S->SetClientParams(Links);
      S->Open();
      return S;
    }
    S->SetLoginEngineName(Engine);
    S->SetClientParams("dbf=" + File);
    S->Open();
    return S;
  }

  TAsaAlert* NewAlert(TAsaSession* Session, const std::string& Names) {
    Alerts.push_back(std::make_unique<TAsaAlert>(nullptr));
    TAsaAlert* A = Alerts.back().get();
    A->SetSession(Session);
    A->SetMessageNames(Names);
    return A;
  }

  std::string FlavourFile, File, Engine;
  std::string Links, ServerDb;  // on the network engine: the server's LINKS and the test's database
  TAsaSession* Main = nullptr;
  std::vector<std::unique_ptr<TAsaAlert>> Alerts;  // destroyed before the sessions
  std::vector<std::unique_ptr<TAsaSession>> Sessions;
};

}  // namespace zylalert
