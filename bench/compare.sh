#!/usr/bin/env bash
# Whole DbRelay runs next to the floor (odbc_floor: connect, execute once, read the count,
# disconnect, with the same connection string and driver) and the tools an integrator would
# otherwise script: unixODBC's isql with the same driver, and PostgreSQL's own psql. Every case runs
# as a process from start to exit, interleaved round by round, with the report pause at 0. Prints
# medians, peak resident memory, the ratios with their goals and whether each is met, and whether
# any DbRelay run mapped a Qt library.
# Usage: bench/compare.sh [BUILD_DIR] [RUNS]
# Exit status: 0 every goal met, 1 a goal missed, 2 a run failed or mapped Qt.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:-build}" && pwd)
runs=${2:-25}
[ -x "$build/bin/DbRelay" ] || { echo "build $build/bin/DbRelay first" >&2; exit 1; }
[ -x "$build/bin/odbc_floor" ] || { echo "build $build/bin/odbc_floor first" >&2; exit 1; }
command -v isql >/dev/null || { echo "isql (package unixodbc) is needed" >&2; exit 1; }
pgbin=$(ls -d /usr/lib/postgresql/*/bin | sort -V | tail -1)

work=$(mktemp -d /tmp/dbrelay-bench-XXXXXX)
chmod 755 "$work"
as_pg() { if [ "$(id -u)" = 0 ]; then runuser -u postgres -- "$@"; else "$@"; fi; }
free_port() { python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'; }
cleanup() { as_pg "$pgbin/pg_ctl" -D "$work/pg/data" -m immediate stop >/dev/null 2>&1 || true; rm -rf "$work"; }
trap cleanup EXIT

# A private PostgreSQL on loopback; fsync off so the server's disk does not drown the clients' cost.
port=$(free_port)
mkdir -p "$work/pg"
[ "$(id -u)" = 0 ] && chown postgres: "$work/pg"
as_pg "$pgbin/initdb" -D "$work/pg/data" -U postgres -A trust --auth-host=scram-sha-256 -N >/dev/null
as_pg "$pgbin/pg_ctl" -D "$work/pg/data" -l "$work/pg/log" -w -o \
  "-c listen_addresses=127.0.0.1 -p $port -k $work/pg -c fsync=off" start >/dev/null
as_pg "$pgbin/psql" -X -q -h "$work/pg" -p "$port" -U postgres -d postgres \
  -c "CREATE ROLE relay LOGIN PASSWORD 'bench-pw'" -c "CREATE DATABASE relaydb OWNER relay"
PGPASSWORD=bench-pw "$pgbin/psql" -X -q -h 127.0.0.1 -p "$port" -U relay -d relaydb \
  -c "CREATE TABLE docs(id int PRIMARY KEY, signed int)" -c "INSERT INTO docs VALUES (7, 0)"

sqlite3 "$work/docs.db" "CREATE TABLE Docs (Id INTEGER PRIMARY KEY, Signed INTEGER); INSERT INTO Docs VALUES (7, 0);"

mkdir -p "$work/odbc"
odbc=/usr/lib/x86_64-linux-gnu/odbc
printf '[PostgreSQL Unicode]\nDriver=%s/psqlodbcw.so\n[SQLite3]\nDriver=%s/libsqlite3odbc.so\n[FreeTDS]\nDriver=%s/libtdsodbc.so\n' \
  "$odbc" "$odbc" "$odbc" > "$work/odbc/odbcinst.ini"
: > "$work/odbc/odbc.ini"
export ODBCSYSINI="$work/odbc" DBRELAY_REPORT_PAUSE_MS=0 PGPASSWORD=bench-pw

pg="Driver={PostgreSQL Unicode};Server=127.0.0.1;Port=$port;Database=relaydb;Uid=relay;Pwd=bench-pw;"
lite="Driver=SQLite3;Database=$work/docs.db"
refused="Driver=FreeTDS;Server=127.0.0.1;Port=$(free_port);Database=relaydb;Uid=relay;Pwd=bench-pw;"

# relay NAME INI_LINES...: a deployed DbRelay of its own (programs side by side, settings beside).
relay() {
  local dir="$work/$1"; shift
  mkdir -p "$dir"
  cp "$build/bin/DbRelay" "$build/bin/libdbrelay_notice.so" "$build/bin/libdbrelay_mail.so" "$dir/"
  { printf '[General]\r\n'; printf '%s\r\n' "$@"; } > "$dir/DbRelay.ini"
}
relay usage
relay pg "PriDBType=2" "PriOtherConnStr=$pg"
relay lite "PriDBType=2" "PriOtherConnStr=$lite"
relay failover "PriDBType=2" "PriOtherConnStr=$refused" "SecDBType=2" "SecOtherConnStr=$pg"
relay fallback "PriDBType=2" "PriOtherConnStr=$refused" "SecDBType=3" "SecLocalTextFile=$work/pending.sql"

python3 "$here/compare.py" --runs "$runs" --work "$work" --psql "$pgbin/psql" --port "$port" \
  --pg "$pg" --lite "$lite" --launcher "$build/bin/run_measured" \
  --floor "$build/bin/odbc_floor"
