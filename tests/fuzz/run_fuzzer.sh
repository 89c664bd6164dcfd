#!/usr/bin/env bash
# run_fuzzer.sh FUZZER CORPUS SECONDS FINDINGS
# Runs FUZZER for SECONDS over a scratch copy of the seed folder CORPUS (every seed first, so they
# are a regression set), one process, no forks. An input that crashes or breaks a property is kept
# in FINDINGS and named in the output; add it to CORPUS with the fix.
set -euo pipefail
fuzzer=$1 corpus=$2 seconds=$3 findings=$4

work=$(mktemp -d "${TMPDIR:-/tmp}/dbrelay-corpus.XXXXXX")
# Files the targets write go to tmpfs when there is one: a settings write fsyncs.
scratch_base=${TMPDIR:-/tmp}
[ -d /dev/shm ] && [ -w /dev/shm ] && scratch_base=/dev/shm
DBRELAY_FUZZ_SCRATCH=$(mktemp -d "$scratch_base/dbrelay-fuzz.XXXXXX")
export DBRELAY_FUZZ_SCRATCH
trap 'rm -rf "$work" "$DBRELAY_FUZZ_SCRATCH"' EXIT
cp -R "$corpus"/. "$work"/
mkdir -p "$findings"

# A leak is a finding too; a slow input (a hang) as well, after 10 s.
"$fuzzer" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -max_len=8192 \
  -print_final_stats=1 -artifact_prefix="$findings/" "$work"
