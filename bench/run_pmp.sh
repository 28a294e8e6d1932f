#!/usr/bin/env bash
# Compares the PM property conversion, examined and converted into an empty company, with
# `sqlite3 .import` of the same rows, in one of two modes:
#   units (the default)  1,000 properties and N generated units (default 1,000,000, all accepted;
#                        converted with the unit counts and unit history checked after the
#                        records), against the unit rows in a table keyed by property and unit;
#   properties           N properties (default 1,000,000) under the GL prefixes 01-1-10, 01-1-20
#                        and 01-2-10, each on its prefix's bank (converted with a default charge
#                        record each), against the property rows in a table keyed on PROP.
# usage: bench/run_pmp.sh [count] [build folder] [units|properties]
set -euo pipefail
cd "$(dirname "$0")/.."
source bench/lib.sh
count="${1:-1000000}"
mode="${3:-units}"
case "$mode" in
units)
  bench_runs bench_pmp "$count" "${2:-build}" units
  bench_import units "$count" \
    'CREATE TABLE units(UPROP TEXT, UNIT TEXT, UCLASS TEXT, UOCC TEXT, ULESED TEXT, UCURLES TEXT, UCURREV TEXT, UCURTEN TEXT, PRIMARY KEY (UPROP, UNIT));'
  bench_report units "$count" '1.0' '2.0'
  ;;
properties)
  bench_runs bench_pmp "$count" "${2:-build}" properties
  bench_import properties "$count" \
    'CREATE TABLE properties(PROP TEXT, PNAME TEXT, PLEGAL TEXT, PTYPE TEXT, PGLPFX TEXT, POPBANK TEXT, PPEREND TEXT, PFYEND TEXT, PMGR TEXT, PSUMVND TEXT, PPAYTYP TEXT, PPAYDAY TEXT, PSFTYPE TEXT, PUNIT TEXT, POCOUNT TEXT, PLCOUNT TEXT, PTKCYOC TEXT, PTKFYOC TEXT, PTRAKVL TEXT, PVLRNBS TEXT, PVLPO TEXT, PVLRND TEXT, PVLACT TEXT, PGRPAT TEXT, PSLRADJ TEXT, PSLRUE TEXT, PRTCO TEXT, PRTCM1 TEXT, PRTCSM TEXT, PRTCM2 TEXT, PRTCF TEXT, PFGRR TEXT, PLSTRR TEXT, PFGRRC TEXT, PMCASH TEXT, NOTES TEXT, PRIMARY KEY (PROP));'
  bench_report properties "$count" '1.0' '2.0'
  ;;
*)
  echo "usage: bench/run_pmp.sh [count] [build folder] [units|properties]" >&2
  exit 64
  ;;
esac
