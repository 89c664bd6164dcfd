#!/usr/bin/env bash
# Whole DbRelay runs, timed as a caller sees them (process start to exit), medians of N runs:
#   baseline   - the usage text, nothing else (start-up cost)
#   primary    - one UPDATE delivered to a SQLite primary through ODBC
#   text file  - primary down, the statement appended durably to the local text file
# Usage: bench/relay_run.sh [build-dir] [runs]
set -euo pipefail
build=${1:-build}
runs=${2:-31}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp "$build/bin/DbRelay" "$work/DbRelay"
sqlite3 "$work/docs.db" "CREATE TABLE Docs (Id INTEGER PRIMARY KEY, Signed INTEGER); INSERT INTO Docs VALUES (7, 0);"
export DBRELAY_REPORT_PAUSE_MS=0

time_runs() {  # $1: label, rest: command
  local label=$1; shift
  /usr/bin/python3 - "$runs" "$label" "$@" <<'PY'
import subprocess, sys, time, statistics
runs, label, cmd = int(sys.argv[1]), sys.argv[2], sys.argv[3:]
times = []
for _ in range(runs):
    start = time.perf_counter()
    subprocess.run(cmd, stdout=subprocess.DEVNULL)
    times.append((time.perf_counter() - start) * 1000)
print(f"{label:<12} median {statistics.median(times):7.2f} ms   min {min(times):7.2f} ms   ({runs} runs)")
PY
}

printf '[General]\r\n' > "$work/DbRelay.ini"
time_runs baseline "$work/DbRelay"

printf '[General]\r\nPriDBType=2\r\nPriOtherConnStr=Driver=SQLite3;Database=%s\r\n' "$work/docs.db" > "$work/DbRelay.ini"
time_runs primary "$work/DbRelay" "UPDATE Docs SET Signed=1 WHERE Id=7"

printf '[General]\r\nPriDBType=2\r\nPriOtherConnStr=Driver=SQLite3;Database=%s;NoCreat=1\r\nSecDBType=3\r\nSecLocalTextFile=%s\r\n' \
  "$work/absent/none.db" "$work/pending.sql" > "$work/DbRelay.ini"
time_runs "text file" "$work/DbRelay" "UPDATE Docs SET Signed=1 WHERE Id=8"
echo "records appended: $(wc -l < "$work/pending.sql")"
