#!/usr/bin/env bash
# Installs what is needed, builds, and runs every test. The tests start the services they need
# (PostgreSQL, an SMTP server, Xvfb) themselves, on loopback, and stop them.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
bash scripts/build.sh
ctest --test-dir build --output-on-failure -j2 --timeout 300
# The unit tests and fuzz targets again, under AddressSanitizer and UndefinedBehaviorSanitizer.
bash scripts/test_sanitize.sh
