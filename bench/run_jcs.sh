#!/usr/bin/env bash
# Compares the JC standards conversion of N generated standard phases (default 1,000,000) with
# three-section cost codes (groups first) into an empty company, examined and converted, with
# `sqlite3 .import` of the same rows into a table keyed by the cost code.
# usage: bench/run_jcs.sh [phases] [build folder]
set -euo pipefail
cd "$(dirname "$0")/.."
source bench/lib.sh
phases="${1:-1000000}"
bench_runs bench_jcs "$phases" "${2:-build}"
bench_import phases "$phases" \
  'CREATE TABLE phases(SPHASE TEXT PRIMARY KEY, SPDESC TEXT);'
bench_report phases "$phases" '1.0' '2.0'
