#!/usr/bin/env bash
# Compares the JC master conversion of N generated phases (default 1,000,000) under N/100 jobs
# (each job's group phases first) into an empty company, examined and converted, with
# `sqlite3 .import` of the same phase rows into a table keyed by job, extra and phase.
# usage: bench/run_jcm.sh [phases] [build folder]
set -euo pipefail
cd "$(dirname "$0")/.."
source bench/lib.sh
phases="${1:-1000000}"
bench_runs bench_jcm "$phases" "${2:-build}"
bench_import phases "$phases" \
  'CREATE TABLE phases(PJOB TEXT, PEXTRA TEXT, PHASE TEXT, PDESC TEXT, PRIMARY KEY (PJOB, PEXTRA, PHASE));'
bench_report phases "$phases" '1.5' '3.0, with the totals rebuild'
