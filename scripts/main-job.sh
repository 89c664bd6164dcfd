#!/usr/bin/env bash
# Installs what is needed, builds, and runs DbRelay's main job: one statement delivered to a SQLite
# database through ODBC, then the same kind of statement saved to the local text file while the
# primary is unreachable, and DbRelayReplay bringing it to the primary once it is back.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
bash scripts/build.sh

bin=build/bin
demo=$PWD/build/demo
rm -rf "$demo" && mkdir -p "$demo"
sqlite3 "$demo/docs.db" "CREATE TABLE Docs (Id INTEGER PRIMARY KEY, Signed INTEGER NOT NULL);
                         INSERT INTO Docs VALUES (7, 0);"

write_ini() {  # $1: primary connection string
  printf '[General]\r\nPriDBType=2\r\nPriOtherConnStr=%s\r\nSecDBType=3\r\nSecLocalTextFile=%s\r\nRaiseErrorIfAffectedLinesLessThen=1\r\n' \
    "$1" "$demo/pending.sql" > "$bin/DbRelay.ini"
}
export DBRELAY_REPORT_PAUSE_MS=0

echo "== Delivering a statement to the primary (SQLite through ODBC)"
write_ini "Driver=SQLite3;Database=$demo/docs.db"
echo "before: $(sqlite3 "$demo/docs.db" 'SELECT Id, Signed FROM Docs')"
status=0; "$bin/DbRelay" "UPDATE Docs SET Signed=1 WHERE Id=7" || status=$?
echo "DbRelay exit status: $status"
echo "after:  $(sqlite3 "$demo/docs.db" 'SELECT Id, Signed FROM Docs')"

echo
echo "== The primary is unreachable: the statement goes to the local text file"
write_ini "Driver=SQLite3;Database=$demo/no-such-folder/docs.db;NoCreat=1"
status=0; "$bin/DbRelay" "UPDATE Docs SET Signed=1 WHERE Id=8" || status=$?
echo "DbRelay exit status: $status"
echo "$demo/pending.sql now holds:"
cat "$demo/pending.sql"

echo
echo "== The primary is back: DbRelayReplay runs the parked statement, exactly once"
write_ini "Driver=SQLite3;Database=$demo/docs.db"
sqlite3 "$demo/docs.db" "INSERT INTO Docs VALUES (8, 0);"
echo "before: $(sqlite3 "$demo/docs.db" 'SELECT Id, Signed FROM Docs' | tr '\n' ' ')"
status=0; "$bin/DbRelayReplay" || status=$?
echo "DbRelayReplay exit status: $status"
echo "after:  $(sqlite3 "$demo/docs.db" 'SELECT Id, Signed FROM Docs' | tr '\n' ' ')"
if [ -e "$demo/pending.sql" ]; then echo "$demo/pending.sql is still there"; else
  echo "$demo/pending.sql is gone: nothing is pending"; fi
