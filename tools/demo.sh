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
echo
echo "Try it yourself:  ZYL_ENGINE_DIR=$ZYL_ENGINE_DIR $BIN/zylo-isql -c \"$CONNECT\""
