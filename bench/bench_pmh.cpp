// The PM history transaction conversion of a generated text file: as bench_pmt, into the history
// transaction file through the history converter (the same leases seeded first, the same lines
// with the history template).
//
// usage: bench_pmh convert|examine|text [transactions] [work folder]
// prints seconds=..., records=..., rejected=..., max_rss_kb=...
#include "bench_pmt_support.h"

int main(int argc, char** argv) {
    dz::pm::xvPMH converter;
    return dz::bench::pmt::Main(argc, argv, "bench_pmh", converter, 606, 5, "xvpmh.tpl");
}
