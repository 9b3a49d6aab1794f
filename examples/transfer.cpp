// A transaction with a rollback on error: money moves between two accounts completely or not at
// all. The second transfer asks for more than the account holds, so nothing of it stays.
//
//   transfer "dbf=bank.db;uid=dba;pwd=sql"
#include <cstdio>

#include "zylo/zylo.h"

void transfer(zylo::connection& db, int from, int to, int amount) {
  zylo::transaction tx(db);  // rolls back when we leave without commit()
  db.execute("UPDATE account SET balance = balance - ? WHERE id = ?", amount, from);
  db.execute("UPDATE account SET balance = balance + ? WHERE id = ?", amount, to);
  if (db.one<int>("SELECT balance FROM account WHERE id = ?", from) < 0)
    throw zylo::error("account " + std::to_string(from) + " cannot pay " + std::to_string(amount));
  tx.commit();
}

int main(int argc, char** argv) {
  try {
    zylo::connection db(argc > 1 ? argv[1] : "dbf=bank.db;uid=dba;pwd=sql");
    db.execute("CREATE TABLE account (id INTEGER PRIMARY KEY, balance INTEGER)");
    db.execute("INSERT INTO account VALUES (1, 100), (2, 0)");

    transfer(db, 1, 2, 30);
    try {
      transfer(db, 1, 2, 500);
    } catch (const zylo::error& e) {
      std::printf("refused: %s\n", e.what());
    }
    for (auto [id, balance] : db.query<int, int>("SELECT id, balance FROM account ORDER BY id"))
      std::printf("account %d: %d\n", id, balance);
  } catch (const zylo::error& e) {
    std::fprintf(stderr, "transfer: %s\n", e.what());
    return 1;
  }
}
