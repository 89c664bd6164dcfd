#!/usr/bin/env bash
# Installs what is needed, builds, and runs DbRelay's main job.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
bash scripts/build.sh
set +e
DBRELAY_REPORT_PAUSE_MS=0 build/bin/DbRelay
echo "exit status: $?"
