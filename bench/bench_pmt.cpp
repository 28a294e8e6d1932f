// The PM transaction conversion of a generated text file: a few hundred leases seeded straight
// into the PM files (not timed), then N sales-volume transactions over them, examined or converted
// through both passes. Also writes the rows as CSV, so that run_pmt.sh can time `sqlite3 .import`
// of them into a table keyed by run and sequence.
//
// With DZ_BENCH_PMT_KIND=flows the N lines are charge flows and misc incomes instead, with their
// payments and later members of each payment ID (rows padded to one width for the import).
//
// usage: bench_pmt convert|examine|text [transactions] [work folder]
// prints seconds=..., records=..., rejected=..., max_rss_kb=...
#include "bench_pmt_support.h"

int main(int argc, char** argv) {
    dz::pm::xvPMT converter;
    return dz::bench::pmt::Main(argc, argv, "bench_pmt", converter, 605, 1, "xvpmt.tpl");
}
