#!/usr/bin/env bash
# Compares the PM lease conversion of N generated leases (default 1,000,000, statuses 1 to 3, all
# accepted, each linked to its unit when converted) over 10,000 units and tenants, examined and
# converted, with `sqlite3 .import` of the same lease rows into a table keyed by lease and
# revision.
# usage: bench/run_pml.sh [leases] [build folder]
set -euo pipefail
cd "$(dirname "$0")/.."
source bench/lib.sh
leases="${1:-1000000}"
bench_runs bench_pml "$leases" "${2:-build}"
bench_import leases "$leases" \
  'CREATE TABLE leases(LEASE TEXT, LREV INTEGER, LPROP TEXT, LUNIT TEXT, LTENANT TEXT, LSTATUS INTEGER, LBTERM TEXT, LPHASE INTEGER, LNDATE TEXT, LTERMR INTEGER, LBAL TEXT, LSTART TEXT, LTERM TEXT, LACTST TEXT, LBFBILL TEXT, LSTTYPE TEXT, LINTT TEXT, LREFT TEXT, LINTTA TEXT, LREFTA TEXT, LPEDATE TEXT, LCORP TEXT, LSIC TEXT, LBUSCAT TEXT, LLRCMB TEXT, PRIMARY KEY (LEASE, LREV));'
bench_report leases "$leases" '1.5' '3.0'
printf 'Before the runs:  peak %s MB (the units and tenants written)\n' "$(( $(value "$convert" setup_rss_kb) / 1024 ))"
