// Qt 5 SQL with its QSQLITE driver, used as its documentation shows: QSqlQuery prepared once,
// forward-only for reading through a result, bindValue and exec per execution, value() per field
// converted to its type (toInt, toDouble, toString, toDate), a database transaction for the inserts.
#include <QCoreApplication>
#include <QDate>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

#include "bench/side/Side.h"

using namespace zylside;

namespace {

void Check(bool ok, const QSqlQuery& q) {
  if (!ok) throw std::runtime_error(q.lastError().text().toStdString());
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  const Args a = ParseArgs(argc, argv);
  return RunWorker([&] {
    {
      QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE");
      db.setDatabaseName(QString::fromStdString(a.file));
      if (!db.open()) throw std::runtime_error(db.lastError().text().toStdString());
      double sum = 0;
      long rows = 0;
      const long before = StatusKb("VmRSS");
      Timing t;
      if (a.workload == "fetch" || a.workload == "scan") {
        const bool wide = a.workload == "fetch";
        t = Measure([&] {
          QSqlQuery q(db);
          q.setForwardOnly(true);
          Check(q.prepare(wide ? kFetchSelect : kScanSelect), q);
          Check(q.exec(), q);
          while (q.next()) {
            if (wide) {
              sum += q.value(0).toInt() + q.value(1).toDouble() + q.value(2).toString().size() +
                     q.value(3).toDate().day() + q.value(4).toString().size();
            } else {
              sum += q.value(0).toInt() + q.value(1).toString().size();
            }
            ++rows;
          }
        });
      } else if (a.workload == "lookup") {
        t = Measure([&] {
          QSqlQuery q(db);
          q.setForwardOnly(true);
          Check(q.prepare(kLookupSelect), q);
          for (long r = 0; r < a.count; ++r) {
            q.bindValue(0, LookupKey(static_cast<int>(r)));
            Check(q.exec(), q);
            if (!q.next()) throw std::runtime_error("no row");
            sum += q.value(0).toString().size() + q.value(1).toDouble();
            ++rows;
          }
        });
      } else if (a.workload == "insert") {
        QSqlQuery del(db);
        Check(del.exec("DELETE FROM ins"), del);
        t = Measure([&] {
          if (!db.transaction()) throw std::runtime_error("transaction");
          QSqlQuery q(db);
          Check(q.prepare(kInsert), q);
          InsertRow v;
          for (long r = 0; r < a.count; ++r) {
            v.Make(static_cast<int>(r));
            q.bindValue(0, static_cast<int>(r));
            q.bindValue(1, static_cast<double>(r) * 0.25);
            q.bindValue(2, QString::fromLatin1(v.s, v.sn));
            q.bindValue(3, QDate(v.year, v.month, v.day));
            q.bindValue(4, QString::fromLatin1(v.l.data(), v.ln));
            Check(q.exec(), q);
            ++rows;
          }
          if (!db.commit()) throw std::runtime_error("commit");
        });
      } else {
        throw std::runtime_error("no such workload: " + a.workload);
      }
      db.close();
      if (sum == 0.5) std::printf("#\n");
      Report("", t, rows, before);
    }
    QSqlDatabase::removeDatabase(QSqlDatabase::defaultConnection);
  });
}
