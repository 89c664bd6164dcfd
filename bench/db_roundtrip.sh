#!/usr/bin/env bash
# Whole-process time of one Open+Execute+Close through CADODatabase (build/bin/db_roundtrip)
# next to unixODBC's isql on the same connection string, against a private PostgreSQL server.
# Usage: bench/db_roundtrip.sh [BUILD_DIR] [RUNS]   (prints medians in milliseconds)
set -euo pipefail
build=${1:-build}
runs=${2:-21}
roundtrip="$build/bin/db_roundtrip"
[ -x "$roundtrip" ] || { echo "build $roundtrip first" >&2; exit 1; }
pgbin=$(ls -d /usr/lib/postgresql/*/bin | sort -V | tail -1)

work=$(mktemp -d /tmp/dbrelay-bench-XXXXXX)
as_pg() { if [ "$(id -u)" = 0 ]; then chown -R postgres: "$work"; runuser -u postgres -- "$@"; else "$@"; fi; }
port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
cleanup() { as_pg "$pgbin/pg_ctl" -D "$work/data" -m immediate stop >/dev/null 2>&1 || true; rm -rf "$work"; }
trap cleanup EXIT

as_pg "$pgbin/initdb" -D "$work/data" -U postgres -A trust --auth-host=scram-sha-256 -N >/dev/null
as_pg "$pgbin/pg_ctl" -D "$work/data" -l "$work/log" -w -o \
  "-c listen_addresses=127.0.0.1 -p $port -k $work -c fsync=off" start >/dev/null
as_pg "$pgbin/psql" -X -q -h "$work" -p "$port" -U postgres -d postgres \
  -c "CREATE ROLE relay LOGIN PASSWORD 'bench-pw'" -c "CREATE DATABASE relaydb OWNER relay"
as_pg "$pgbin/psql" -X -q -h "$work" -p "$port" -U relay -d relaydb -c "CREATE TABLE docs(id int, signed int)"

mkdir -p "$work/odbc"
printf '[SQLOLEDB]\nDriver=/usr/lib/x86_64-linux-gnu/odbc/psqlodbcw.so\n[PostgreSQL Unicode]\nDriver=/usr/lib/x86_64-linux-gnu/odbc/psqlodbcw.so\n' \
  > "$work/odbc/odbcinst.ini"
: > "$work/odbc/odbc.ini"
export ODBCSYSINI="$work/odbc"

odbc="Driver={PostgreSQL Unicode};Server=127.0.0.1;Port=$port;Database=relaydb;Uid=relay;Pwd=bench-pw;"
oledb="Provider=SQLOLEDB.1;Server=127.0.0.1,$port;Database=relaydb;Uid=relay;Pwd=bench-pw;"
statement="INSERT INTO docs VALUES (7, 1)"

# median_ms CMD...: runs CMD $runs times, prints the median wall time in milliseconds.
median_ms() {
  local times=()
  for ((i = 0; i < runs; i++)); do
    local t0 t1
    t0=$(date +%s%N)
    "$@" >/dev/null
    t1=$(date +%s%N)
    times+=($(((t1 - t0) / 1000)))
  done
  printf '%s\n' "${times[@]}" | sort -n | awk '{a[NR]=$1} END {printf "%.2f", a[int((NR+1)/2)]/1000}'
}
isql_run() { echo "$statement" | isql -b -k "$odbc"; }

echo "runs per case: $runs"
echo "CADODatabase, ODBC string:        $(median_ms "$roundtrip" "$odbc" "$statement") ms"
echo "CADODatabase, SQL Server form:    $(median_ms "$roundtrip" "$oledb" "$statement") ms"
echo "isql -k, ODBC string:             $(median_ms isql_run) ms"
echo "rows inserted: $(as_pg "$pgbin/psql" -X -A -t -h "$work" -p "$port" -U relay -d relaydb -c 'SELECT count(*) FROM docs')"
