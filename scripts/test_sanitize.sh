#!/usr/bin/env bash
# Builds the unit tests and the fuzz targets with clang under AddressSanitizer and
# UndefinedBehaviorSanitizer into build/sanitize (no editor, no benchmarks) and runs them: first the
# unit tests, then each fuzz target for a bounded time over its seed corpus. Any sanitizer report
# fails the run. Called by scripts/test.sh after the main suite.
set -euo pipefail
cd "$(dirname "$0")/.."

CC=clang CXX=clang++ cmake -S . -B build/sanitize -G Ninja -DCMAKE_BUILD_TYPE=Sanitize \
  -DDBRELAY_BUILD_EDITOR=OFF -DDBRELAY_BUILD_BENCH=OFF -DDBRELAY_BUILD_FUZZERS=ON >/dev/null
cmake --build build/sanitize -j2

# Children the tests start (DbRelay, helpers) inherit these, so their reports fail the test too.
export ASAN_OPTIONS=detect_leaks=1:detect_stack_use_after_return=1:check_initialization_order=1:strict_init_order=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export LSAN_OPTIONS="suppressions=$PWD/tests/sanitize/lsan.supp:print_suppressions=0"

# The reliability tests run once, in the main tree; only the fuzz part of them runs here.
ctest --test-dir build/sanitize --output-on-failure -j2 --timeout 300 -LE reliability
ctest --test-dir build/sanitize --output-on-failure -j2 --timeout 300 -L fuzz
