#!/usr/bin/env bash
# Whole DbRelay processes that park one statement in the local text file (the primary down, as
# SQLite without its database file), from two builds, interleaved: what a caller waits for when
# the primary is down, with everything a park does (boundaries included). Give an older build as
# BASE_BUILD to see what a change costs a park; medians of ROUNDS runs of each.
# Usage: bench/park_bench.sh BASE_BUILD [BUILD] [ROUNDS]
set -euo pipefail
base=$(cd "$1" && pwd)
build=$(cd "${2:-build}" && pwd)
rounds=${3:-101}
for dir in "$base" "$build"; do
  [ -x "$dir/bin/DbRelay" ] || { echo "build $dir/bin/DbRelay first" >&2; exit 2; }
done
[ -x "$build/bin/run_measured" ] || { echo "build $build/bin/run_measured first" >&2; exit 2; }

work=$(mktemp -d /tmp/dbrelay-park-bench-XXXXXX)
trap 'rm -rf "$work"' EXIT
printf '[SQLite3]\nDriver=/usr/lib/x86_64-linux-gnu/odbc/libsqlite3odbc.so\n' > "$work/odbcinst.ini"
export ODBCSYSINI="$work" DBRELAY_REPORT_PAUSE_MS=0
unset DISPLAY WAYLAND_DISPLAY QT_QPA_PLATFORM

names=(base build)
dirs=("$base" "$build")
for k in 0 1; do
  d="$work/${names[$k]}"
  mkdir -p "$d"
  cp "${dirs[$k]}/bin/DbRelay" "${dirs[$k]}/bin/libdbrelay_notice.so" \
    "${dirs[$k]}/bin/libdbrelay_mail.so" "$d/"
  printf '[General]\r\nPriDBType=2\r\nPriOtherConnStr=Driver=SQLite3;Database=%s;NoCreat=1\r\nSecDBType=3\r\nSecLocalTextFile=%s\r\n' \
    "$work/absent/none.db" "$d/queue.sql" > "$d/DbRelay.ini"
  "$d/DbRelay" "INSERT INTO docs VALUES (0, 'first')" >/dev/null  # the file exists from now on
done
for i in $(seq "$rounds"); do
  for name in "${names[@]}"; do
    line=$("$build/bin/run_measured" -- "$work/$name/DbRelay" "INSERT INTO docs VALUES ($i, 'forty bytes')")
    set -- $line
    [ "$4" = 0 ] || { echo "park_bench: $name exited $4" >&2; exit 2; }
    echo "$name $1"
  done
done > "$work/times"
for name in "${names[@]}"; do
  [ "$(grep -c . "$work/$name/queue.sql")" = $((rounds + 1)) ] || { echo "park_bench: $name lost a record" >&2; exit 2; }
done
median() { awk -v n="$1" '$1 == n {print $2}' "$work/times" | sort -n | awk '{a[NR] = $1} END {print a[int((NR + 1) / 2)]}'; }
b=$(median base); n=$(median build)
printf 'park, whole process, median of %s: base %s us, build %s us, build/base %s\n' "$rounds" "$b" "$n" \
  "$(echo "scale=3; $n / $b" | bc)"
