#!/bin/sh
# make demo: builds a demonstration database and takes a short tour of it through zylo-isql:
# a query, a long value, the catalog, a scrolling read with a positioned update, a procedure's
# result sets and output parameters, an access plan and a backup with its progress.
#
# The database stays in $BUILD/demo/demo.db for trying the tool by hand afterwards.
set -eu
ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD=${BUILD:-build}
case $BUILD in /*) ;; *) BUILD=$ROOT/$BUILD ;; esac
BIN=$BUILD/bin
if [ ! -x "$BIN/zylo-isql" ] || [ ! -x "$BIN/zylcreatedb" ]; then
  echo "demo: $BIN/zylo-isql is not built; run 'make' first" >&2
  exit 1
fi

DEMO=$BUILD/demo
rm -rf "$DEMO"
mkdir -p "$DEMO"
# The engine registry of the demo's own server stays with the demo.
ZYL_ENGINE_DIR=$DEMO/engines
export ZYL_ENGINE_DIR
DB=$DEMO/demo.db
CONNECT="dbf=$DB;uid=dba;pwd=sql"

echo "== creating $DB"
"$BIN/zylcreatedb" -q "$DB"
"$BIN/zylo-isql" -q -c "$CONNECT" -f "$ROOT/tools/demo/schema.sql" > /dev/null
echo "== zylo-isql -c \"$CONNECT\" --echo -f tools/demo/tour.sql"
"$BIN/zylo-isql" -c "$CONNECT" --echo -f "$ROOT/tools/demo/tour.sql" -e ".backup $DEMO/backup"
echo
echo "== the backup"
ls -l "$DEMO/backup"

# The design tool over a data module on the same database: a session and a data set.
if [ -x "$BIN/zylo-design" ]; then
  MODULE=$DEMO/sales.dfm
  cat > "$MODULE" <<EOF
object SalesData: TDataModule
  object Session1: TAsaSession
    LoginDatabase = '$DB'
    LoginUser = 'dba'
    LoginPassword = 'sql'
    LibraryFile = 'dblib10.dll'
    ServerType = stServer
  end
  object CustomerOrders: TAsaDataset
    Session = Session1
    SQL.Strings = (
      'select o.id, p.title, o.quantity, o.ordered from orders o join product p on p.id = o.product_id'
      'where o.customer_id = :cust order by o.id')
  end
  object Totals: TAsaStoredProc
    Session = Session1
  end
end
EOF
  echo
  echo "== zylo-design --echo -f tools/demo/design.txt $MODULE"
  "$BIN/zylo-design" --echo -f "$ROOT/tools/demo/design.txt" "$MODULE" < /dev/null
  echo
  echo "== the data module as written back"
  cat "$MODULE"
fi
echo
echo "Try it yourself:  ZYL_ENGINE_DIR=$ZYL_ENGINE_DIR $BIN/zylo-isql -c \"$CONNECT\""
