#!/usr/bin/env bash
# Compares the PM lease conversion, examined and converted, with `sqlite3 .import` of the same rows.
#
#   bench/run_pml.sh [N] [build folder]             N generated leases (default 1,000,000, statuses 1
#                                                   to 3, all accepted, each linked to its unit when
#                                                   converted, then given its default charge control
#                                                   and tenant-lease record by the finishing pass)
#                                                   over 10,000 units and tenants, with a recurring
#                                                   charge and its log per ten leases, against a table
#                                                   keyed by lease and revision of the lease rows
#   bench/run_pml.sh N --children [build folder]    N lease child records (charge controls, deposits,
#                                                   late charges, checklist items and insurance in
#                                                   equal parts) for N/10 leases of two revisions on
#                                                   file, against five tables keyed as the records
set -euo pipefail
cd "$(dirname "$0")/.."
source bench/lib.sh
count="${1:-1000000}"
if [ "${2:-}" = --children ]; then
  bench_runs bench_pml "$count" "${3:-build}" --children
  # The five record types' rows into their tables, in one sqlite3 session.
  start=$(date +%s.%N)
  sqlite3 "$work/import.db" <<SQL
CREATE TABLE controls(LCLEASE TEXT, LCREV INTEGER, LCCT TEXT, LCPMTOR INTEGER, LCGLPFX TEXT, LCBTTEN TEXT, LCBTADD TEXT, PRIMARY KEY (LCLEASE, LCREV, LCCT));
CREATE TABLE deposits(LDLEASE TEXT, LDREV INTEGER, LDDTYPE TEXT, LDUNIT TEXT, LDREF TEXT, LDLTCRD TEXT, LDINTRT TEXT, LDINTBS TEXT, LDCOMP TEXT, LDPAYTM TEXT, LDINTBL TEXT, LDAMTLC TEXT, LDBNKLC TEXT, LDSTACC TEXT, LDACCTH TEXT, LDBAL TEXT, PRIMARY KEY (LDLEASE, LDREV, LDDTYPE, LDUNIT));
CREATE TABLE latecharges(LLLEASE TEXT, LLREV INTEGER, LLDESC TEXT, $(for s in 1 2 3; do printf 'LLACT%s TEXT, LLCALC%s TEXT, LLFREQ%s TEXT, LLFRQD%s TEXT, LLREP%s TEXT, LLSTF%s TEXT, LLCGCL%s TEXT, LLAMT%s TEXT, LLPCT%s TEXT, LLINRT%s TEXT, LLFRML%s TEXT, LLGDPC%s TEXT, LLGDF%s TEXT, LLGCDY%s TEXT, LLINT%s TEXT, LLMAXD%s TEXT, ' $s $s $s $s $s $s $s $s $s $s $s $s $s $s $s $s; done) PRIMARY KEY (LLLEASE, LLREV));
CREATE TABLE checklist(LPLEASE TEXT, LPREV INTEGER, LPPRTYP INTEGER, LPNUM INTEGER, LPTEXT TEXT, PRIMARY KEY (LPLEASE, LPREV, LPPRTYP, LPNUM));
CREATE TABLE insurance(LILEASE TEXT, LIREV INTEGER, LISEQ INTEGER, LINSTYP TEXT, PRIMARY KEY (LILEASE, LIREV, LISEQ));
.mode csv
.import $work/controls.csv controls
.import $work/deposits.csv deposits
.import $work/latecharges.csv latecharges
.import $work/checklist.csv checklist
.import $work/insurance.csv insurance
SQL
  end=$(date +%s.%N)
  theirs=$(awk -v a="$start" -v b="$end" 'BEGIN { print b - a }')
  rows=0
  for t in controls deposits latecharges checklist insurance; do
    rows=$(( rows + $(sqlite3 "$work/import.db" "SELECT count(*) FROM $t") ))
  done
  [ "$rows" = "$count" ] || { echo "sqlite3 .import stored $rows rows, expected $count" >&2; exit 2; }
  [ "$(value "$convert" rejected)" = 0 ] || { echo "the conversion rejected records" >&2; exit 2; }
  bench_report 'lease children' "$count" '1.5' '3.0'
  printf 'Before the runs:  peak %s MB (units, tenants and leases written)\n' "$(( $(value "$convert" setup_rss_kb) / 1024 ))"
  exit 0
fi
bench_runs bench_pml "$count" "${2:-build}"
bench_import leases "$count" \
  'CREATE TABLE leases(LEASE TEXT, LREV INTEGER, LPROP TEXT, LUNIT TEXT, LTENANT TEXT, LSTATUS INTEGER, LBTERM TEXT, LPHASE INTEGER, LNDATE TEXT, LTERMR INTEGER, LBAL TEXT, LSTART TEXT, LTERM TEXT, LACTST TEXT, LBFBILL TEXT, LSTTYPE TEXT, LINTT TEXT, LREFT TEXT, LINTTA TEXT, LREFTA TEXT, LPEDATE TEXT, LCORP TEXT, LSIC TEXT, LBUSCAT TEXT, LLRCMB TEXT, PRIMARY KEY (LEASE, LREV));'
bench_report leases "$count" '1.0' '2.0'
printf 'Before the runs:  peak %s MB (the units and tenants written)\n' "$(( $(value "$convert" setup_rss_kb) / 1024 ))"
