#!/usr/bin/env bash
# DbRelayReplay next to the tools a person would otherwise run on a parked file: psql -f and
# sqlite3 reading it as a script, each statement its own transaction. The statements (INSERTs and
# UPDATEs of single rows, each ending in ";") are parked once the way DbRelay parks them, boundaries
# file and all; every run gets a fresh copy and a fresh table, is timed as a whole process, and is
# checked afterwards: every row there once, every UPDATE applied once. PostgreSQL is a private
# server with fsync and synchronous commit on, so a commit costs what it costs in production;
# SQLite is a file beside the queue with its default synchronous mode.
# Prints statements per second for every run and the ratio DbRelayReplay/psql (goal: at least 3),
# and for reference psql -1 -f: the same statements in one transaction, one round trip each, the
# floor of any client that sends them one by one.
# Usage: bench/replay_bench.sh [BUILD_DIR] [RUNS] [STATEMENTS]
# Exit status: 0 the goal met in every run, 1 missed, 2 a run failed or lost work.
set -euo pipefail
build=$(cd "${1:-build}" && pwd)
runs=${2:-3}
statements=${3:-10000}
for program in DbRelayReplay replay_bench_park run_measured; do
  [ -x "$build/bin/$program" ] || { echo "build $build/bin/$program first" >&2; exit 2; }
done
command -v sqlite3 >/dev/null || { echo "sqlite3 (package sqlite3) is needed" >&2; exit 2; }
pgbin=$(ls -d /usr/lib/postgresql/*/bin | sort -V | tail -1)

work=$(mktemp -d /tmp/dbrelay-replay-bench-XXXXXX)
chmod 755 "$work"
as_pg() { if [ "$(id -u)" = 0 ]; then runuser -u postgres -- "$@"; else "$@"; fi; }
free_port() { python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'; }
cleanup() { as_pg "$pgbin/pg_ctl" -D "$work/pg/data" -m immediate stop >/dev/null 2>&1 || true; rm -rf "$work"; }
trap cleanup EXIT
fail() { echo "replay_bench: $*" >&2; exit 2; }

port=$(free_port)
mkdir -p "$work/pg"
[ "$(id -u)" = 0 ] && chown postgres: "$work/pg"
as_pg "$pgbin/initdb" -D "$work/pg/data" -U postgres -A trust --auth-host=scram-sha-256 >/dev/null
as_pg "$pgbin/pg_ctl" -D "$work/pg/data" -l "$work/pg/log" -w -o \
  "-c listen_addresses=127.0.0.1 -p $port -k $work/pg -c fsync=on -c synchronous_commit=on" \
  start >/dev/null
as_pg "$pgbin/psql" -X -q -h "$work/pg" -p "$port" -U postgres -d postgres \
  -c "CREATE ROLE relay LOGIN PASSWORD 'bench-pw'" -c "CREATE DATABASE relaydb OWNER relay"
export PGPASSWORD=bench-pw DBRELAY_REPORT_PAUSE_MS=0
psql_bench() { "$pgbin/psql" -X -q -A -t -v ON_ERROR_STOP=1 -h 127.0.0.1 -p "$port" -U relay -d relaydb "$@"; }

mkdir -p "$work/odbc"
odbc=/usr/lib/x86_64-linux-gnu/odbc
printf '[PostgreSQL Unicode]\nDriver=%s/psqlodbcw.so\n[SQLite3]\nDriver=%s/libsqlite3odbc.so\n' \
  "$odbc" "$odbc" > "$work/odbc/odbcinst.ini"
: > "$work/odbc/odbc.ini"
export ODBCSYSINI="$work/odbc"

# deploy NAME CONNECTION_STRING: DbRelayReplay with DbRelay.ini beside it; its queue is NAME/queue.sql.
deploy() {
  local dir="$work/$1"
  mkdir -p "$dir"
  cp "$build/bin/DbRelayReplay" "$build/bin/libdbrelay_notice.so" "$build/bin/libdbrelay_mail.so" "$dir/"
  printf '[General]\r\nPriDBType=2\r\nPriOtherConnStr=%s\r\nSecDBType=3\r\nSecLocalTextFile=%s\r\n' \
    "$2" "$dir/queue.sql" > "$dir/DbRelay.ini"
}
deploy pg "Driver={PostgreSQL Unicode};Server=127.0.0.1;Port=$port;Database=relaydb;Uid=relay;Pwd=bench-pw;"
deploy lite "Driver=SQLite3;Database=$work/lite/bench.db;"

# Every other statement inserts a row, the one after it updates that row.
awk -v n="$statements" 'BEGIN { for (i = 0; i < n; i++) { k = int(i / 2);
  if (i % 2 == 0) printf "INSERT INTO bench_rows VALUES (%d, 0);\n", k;
  else printf "UPDATE bench_rows SET n = n + 1 WHERE id = %d;\n", k } }' > "$work/statements.sql"
inserts=$(( (statements + 1) / 2 ))
updates=$(( statements / 2 ))
mkdir -p "$work/parked"
park_start=$(date +%s.%N)
parked=$("$build/bin/replay_bench_park" "$work/parked/queue.sql" < "$work/statements.sql")
park_end=$(date +%s.%N)
[ "$parked" = "$statements" ] || fail "parked $parked of $statements statements"
[ -s "$work/parked/queue.sql.boundaries" ] || fail "parking left no boundaries file"
echo "parked $statements statements with AppendStatementToTextFile in $(echo "$park_end - $park_start" | bc) s"

# What a complete run leaves: every id once, every row updated once (a row lost, doubled or
# updated twice shows).
expected="$inserts|$inserts|$updates"
check_pg() { [ "$(psql_bench -c "SELECT count(*), count(DISTINCT id), sum(n) FROM bench_rows")" = "$expected" ] ||
  fail "$1 left $(psql_bench -c "SELECT count(*), count(DISTINCT id), sum(n) FROM bench_rows"), expected $expected"; }
check_lite() { [ "$(sqlite3 "$work/lite/bench.db" "SELECT count(*), count(DISTINCT id), sum(n) FROM bench_rows")" = "$expected" ] ||
  fail "$1 left $(sqlite3 "$work/lite/bench.db" "SELECT count(*), count(DISTINCT id), sum(n) FROM bench_rows"), expected $expected"; }
reset_pg() { psql_bench -c "SET client_min_messages = warning" -c "DROP TABLE IF EXISTS bench_rows" \
  -c "CREATE TABLE bench_rows(id integer, n integer)"; }
reset_lite() { rm -f "$work/lite/bench.db"; sqlite3 "$work/lite/bench.db" "CREATE TABLE bench_rows(id integer, n integer)"; }
fresh_queue() { cp "$work/parked/queue.sql" "$work/parked/queue.sql.boundaries" "$work/$1/"; }

# measure ARGS...: run_measured's line; the wall microseconds on stdout; fails on a non-zero exit.
measure() {
  local line
  line=$("$build/bin/run_measured" "$@")
  set -- $line
  [ "$4" = 0 ] || fail "exit status $4 of: $line"
  echo "$1"
}
rate() { echo "scale=0; $statements * 1000000 / $1" | bc; }

printf '\n%-4s %14s %14s %8s %14s   %14s %14s %8s\n' run "replay pg/s" "psql -f /s" ratio "psql -1 -f /s" \
  "replay lite/s" "sqlite3 /s" ratio
met=1
for run in $(seq 1 "$runs"); do
  reset_pg; fresh_queue pg
  replay_pg=$(measure -- "$work/pg/DbRelayReplay") || exit 2
  check_pg "DbRelayReplay"
  [ ! -e "$work/pg/queue.sql" ] || fail "DbRelayReplay left its queue file"
  reset_pg; fresh_queue pg
  psql_us=$(measure -- "$pgbin/psql" -X -q -v ON_ERROR_STOP=1 -h 127.0.0.1 -p "$port" -U relay -d relaydb \
    -f "$work/pg/queue.sql") || exit 2
  check_pg "psql -f"
  reset_pg
  floor_us=$(measure -- "$pgbin/psql" -X -q -1 -v ON_ERROR_STOP=1 -h 127.0.0.1 -p "$port" -U relay \
    -d relaydb -f "$work/pg/queue.sql") || exit 2
  check_pg "psql -1 -f"
  rm -f "$work/pg/queue.sql" "$work/pg/queue.sql.boundaries"

  reset_lite; fresh_queue lite
  replay_lite=$(measure -- "$work/lite/DbRelayReplay") || exit 2
  check_lite "DbRelayReplay"
  [ ! -e "$work/lite/queue.sql" ] || fail "DbRelayReplay left its queue file"
  reset_lite; fresh_queue lite
  sqlite_us=$(measure --stdin "$work/lite/queue.sql" -- sqlite3 -bail "$work/lite/bench.db") || exit 2
  check_lite "sqlite3"
  rm -f "$work/lite/queue.sql" "$work/lite/queue.sql.boundaries"

  ratio_pg=$(echo "scale=1; $psql_us / $replay_pg" | bc)
  ratio_lite=$(echo "scale=1; $sqlite_us / $replay_lite" | bc)
  printf '%-4s %14s %14s %8s %14s   %14s %14s %8s\n' "$run" "$(rate "$replay_pg")" "$(rate "$psql_us")" \
    "$ratio_pg" "$(rate "$floor_us")" "$(rate "$replay_lite")" "$(rate "$sqlite_us")" "$ratio_lite"
  [ "$(echo "$ratio_pg >= 3" | bc)" = 1 ] || met=0
done
echo
if [ "$met" = 1 ]; then echo "goal DbRelayReplay at least 3x psql -f: met in every run"; exit 0; fi
echo "goal DbRelayReplay at least 3x psql -f: missed"
exit 1
