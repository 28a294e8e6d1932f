#!/usr/bin/env bash
# Compares the PM recovery conversion of N generated recovery controls (default 1,000,000, all
# accepted, each with escalation and administrative fee on a budget type of its property's control,
# a stop per SF of its unit's SF type and a cap) into a recovery file holding only the property
# controls, of a company whose lease and property files hold the leases, their recurring charges
# and the units' SF types, examined and converted, with `sqlite3 .import` of the same rows into a
# table keyed by lease, revision, charge type and unit.
# usage: bench/run_pmv.sh [controls] [build folder]
set -euo pipefail
cd "$(dirname "$0")/.."
source bench/lib.sh
controls="${1:-1000000}"
bench_runs bench_pmv "$controls" "${2:-build}"
bench_import recoveries "$controls" \
  'CREATE TABLE recoveries(RCLEASE TEXT, RCREV INTEGER, RCCT TEXT, RCUNIT TEXT, RCFREQ INTEGER, RCNFD TEXT, RCNTD TEXT, C8 TEXT, C9 TEXT, C10 TEXT, C11 TEXT, C12 TEXT, C13 TEXT, C14 TEXT, C15 TEXT, C16 TEXT, C17 TEXT, C18 TEXT, C19 TEXT, C20 TEXT, C21 TEXT, C22 TEXT, C23 TEXT, C24 TEXT, C25 TEXT, C26 TEXT, C27 TEXT, C28 TEXT, C29 TEXT, C30 TEXT, C31 TEXT, C32 TEXT, C33 TEXT, C34 TEXT, C35 TEXT, C36 TEXT, C37 TEXT, C38 TEXT, C39 TEXT, C40 TEXT, C41 TEXT, C42 TEXT, C43 TEXT, C44 TEXT, C45 TEXT, C46 TEXT, C47 TEXT, C48 TEXT, C49 TEXT, C50 TEXT, C51 TEXT, C52 TEXT, C53 TEXT, C54 TEXT, C55 TEXT, C56 TEXT, C57 TEXT, C58 TEXT, C59 TEXT, C60 TEXT, C61 TEXT, C62 TEXT, C63 TEXT, C64 TEXT, C65 TEXT, C66 TEXT, C67 TEXT, C68 TEXT, C69 TEXT, C70 TEXT, C71 TEXT, C72 TEXT, C73 TEXT, C74 TEXT, C75 TEXT, C76 TEXT, C77 TEXT, C78 TEXT, C79 TEXT, C80 TEXT, C81 TEXT, C82 TEXT, C83 TEXT, C84 TEXT, C85 TEXT, C86 TEXT, C87 TEXT, C88 TEXT, C89 TEXT, C90 TEXT, C91 TEXT, C92 TEXT, C93 TEXT, C94 TEXT, C95 TEXT, C96 TEXT, C97 TEXT, C98 TEXT, C99 TEXT, C100 TEXT, C101 TEXT, C102 TEXT, C103 TEXT, C104 TEXT, C105 TEXT, C106 TEXT, C107 TEXT, C108 TEXT, C109 TEXT, C110 TEXT, C111 TEXT, C112 TEXT, C113 TEXT, C114 TEXT, C115 TEXT, C116 TEXT, C117 TEXT, C118 TEXT, C119 TEXT, C120 TEXT, C121 TEXT, C122 TEXT, PRIMARY KEY (RCLEASE, RCREV, RCCT, RCUNIT));'
bench_report recoveries "$controls" '1.0' '2.0'
printf 'Before the runs:  peak %s MB (the leases, recurring charges and references written)\n' "$(( $(value "$convert" setup_rss_kb) / 1024 ))"
