// The job cost and tax dictionaries: the names the converters look up, the runs they walk by
// field number, the JC settings a new company starts with, and the loader's JC index rule.
#include "support.h"

#include "platform/datafile/dictionary.h"

#include <set>
#include <tuple>
#include <utility>
#include <vector>

namespace dz::test {
namespace {

class JcDictionaries : public ::testing::Test {
protected:
    void SetUp() override {
        std::string err;
        ASSERT_TRUE(xio_load_dictionaries(std::filesystem::path(DZ_SOURCE_DATA_DIR) / "dictionary", err)) << err;
        for (const char* abbr : {"JCM", "JCT", "TXM", "ARM"}) {
            auto d = xio::get(abbr, err);
            ASSERT_TRUE(d) << abbr << ": " << err;
            dicts_[abbr] = d;
        }
    }
    const xio::Dictionary& d(const std::string& abbr) { return *dicts_.at(abbr); }
    // Field number of `name` in record `rec` (or header `rec` when `header`); 0 fails the test.
    uint16_t no(const std::string& abbr, uint16_t rec, const std::string& name, bool header = false) {
        const xio::Dictionary& x = d(abbr);
        const xio::RecordDef* r = header ? x.header(rec) : x.record(rec);
        const uint16_t n = r ? x.fieldNumber(*r, name) : 0;
        EXPECT_NE(n, 0) << abbr << " " << (header ? "header " : "record ") << rec << " " << name;
        return n;
    }
    const xio_fld_def& def(const std::string& abbr, uint16_t n) { return d(abbr).fields[n].def; }
    // The run of `count` fields that starts at `first`: every one of type `type`, in the record.
    void run(uint16_t rec, const std::string& first, int count, uint16_t type) {
        const uint16_t f = no("JCM", rec, first);
        ASSERT_NE(f, 0);
        ASSERT_LE(f + count - 1, d("JCM").record(rec)->lastField) << first;
        for (int i = 0; i < count; ++i) EXPECT_EQ(def("JCM", f + i).type, type) << def("JCM", f + i).name;
    }

    std::map<std::string, std::shared_ptr<const xio::Dictionary>> dicts_;
};

TEST_F(JcDictionaries, EveryNameTheConvertersLookUpResolvesInItsRecord) {
    const std::vector<std::pair<uint16_t, std::vector<const char*>>> jcm = {
        {1, {"JOB", "JDESC", "JZIP", "JSTATUS", "JESTSD", "JLCUPD", "JORDER1", "JORDER2", "JEXTRAS", "JARCUST", "JBMETH",
             "JBLEVEL", "JPRBANK", "JHOLD", "JCERT", "JWCGRP", "JBURPCT", "JWRKST", "JWRKCTY", "JERCODE", "JLTXGRP",
             "JCAGRP", "JPREFIX", "JCSTACC", "JCOSACC", "JREVACC", "JCNT", "JCNI", "JPCNTC", "JACNTC", "JOCNT",
             "JRVCNT", "JJTDADJ", "JOEST", "JJTDODP", "JPFAM1", "JFRMT6", "JXOCNT", "JFRMTX6", "JLSTDRR", "JJTDWB",
             "JJTDPY", "JJTDRH", "JBLBAL", "JAPBANK"}},
        {2, {"XJOB", "EXTRA", "XDESC", "XZIP", "XSTATUS", "XESTSD", "XLCUPD", "XCNT", "XCNI", "XPCNTC", "XOCNT",
             "XLSTDRR", "XJTDADJ", "XOEST", "XJTDODP", "XPFA1", "XFRMT6", "XJTDWB", "XJTDPY", "XJTDRH", "XBLBAL"}},
        {3, {"PJOB", "PEXTRA", "PHASE", "PDESC", "PGPHASE", "PCTYPE", "PUDESC", "PCSTACC", "PBTOUT", "POVRHT",
             "PBIMEMO", "PTAXEX", "PSNDBL", "PPUDESC", "PCNT", "PPSVC", "PASVC", "PRSVC", "POSV", "PNMASV", "PJTDWB",
             "PNMRH", "PJTDCT", "PJTDDPT", "PCFAM1", "PCFAM4", "POEST", "PTEST", "POUEST", "PTUEST", "PJTDODP",
             "PFRMT1", "PFRMT6", "PPTDC", "PLPC", "PPTDU", "PLPU", "PPTDDP", "PLPDP", "PPTDLC", "PPTDLU", "PPTDEC",
             "PPTDEU", "PPTDPU", "PLPPU", "PJTDU", "PTLEST", "PAESTC", "PAUESTC", "POCOM", "PACOMC", "PRVCOM", "POPU",
             "PAPUC", "PRVPU", "PFAMT1"}},
        {4, {"CJOB", "CEXTRA", "CPHASE", "CAT", "CDESC", "CCTYPE", "CUDESC", "CCSTACC", "CTAXEX", "COUEST", "CTUEST",
             "CJTDU", "CLPU", "CPTDC", "CLPC", "CPTDU", "CPTDDP", "CLPDP", "CJTDCT", "CJTDDPT", "COEST", "CAESTC",
             "CTEST", "CAUESTC", "COCOM", "CACOMC", "CRVCOM"}},
        {5, {"RJOB", "REXTRA", "RDRAW", "RINV", "RDESC", "RBDATE", "RCHARGE", "RPAYAMT", "RRETWH", "RBLBAL", "RCNT",
             "RCNI", "RARADJ"}},
        {13, {"ISUB", "ITEM", "IJOB", "IEXTRA", "IPHASE", "ICAT", "IUNTCST"}},
        {16, {"SPHASE", "SPDESC", "SPOVRHT", "SPGPHAS", "SPCTYPE", "SPCACCA", "SPCACCB", "SPCACCC", "SPCUDSC", "SPCAT1",
              "SPSNDBL", "SPTAXEX", "SPUDESC"}},
        {17, {"SCAT", "SCDESC", "SCCACCA", "SCCACCB", "SCCACCC", "SCUDESC", "SCCTYPE", "SCSNDBL", "SCTAXEX"}},
    };
    for (const auto& [rec, names] : jcm)
        for (const char* n : names) no("JCM", rec, n);
    for (const char* n : {"CUSEK1", "CUSEK2", "PTRACKX", "CGLRETM", "CGLPRFX", "CCATUSG", "CPERSIZ", "PTLUNIT",
                          "PTMUNIT", "PTSUNIT", "PTEUNIT", "PTBUNIT", "PTOUNIT", "PBLEVEL", "FPAMT1L", "FPAMT6L",
                          "CARACC", "CPEDATE", "CLACTDT"})
        no("JCM", 2, n, true);
    for (const char* n : {"TRUN", "TSEQ", "TJOB", "TEXTRA", "TPHASE", "TCAT", "TRANTYP", "TRANDAT", "TACTDAT", "TDESC",
                          "TAMOUNT", "TUNITS", "TAPPL", "TBATCH", "TSOURCE", "TOSRC", "TSTATUS", "TDEPADJ", "TADJID",
                          "TRDPLOC", "TRDPRUN", "TRDPSEQ", "TINV", "TVENDOR", "TDSEQ", "TCHECK", "TBANK", "TCHKSEQ",
                          "TDEPDAT", "TDEPID", "TECCODE", "TERCODE", "TEQ", "TEQCT", "TSITEM", "TSUB", "TPEDATE",
                          "TEMPL"})
        no("JCT", 1, n);
    no("JCT", 1, "LASTRUN", true);
    for (const char* n : {"TAX", "TDESC", "TRATE", "TDACCT", "TCACCT", "TRDACCT", "TRCACCT", "TNOCOST"}) no("TXM", 1, n);
    no("TXM", 2, "GROUP");
    no("TXM", 2, "GRATE");
    for (int k = 1; k <= 9; ++k)
        for (const char* s : {"", "RT", "DA", "CA", "RD", "RC", "NC"}) no("TXM", 2, "GTAX" + std::to_string(k) + s);
    no("ARM", 1, "CUST");
    no("ARM", 2, "STAXES", true);
    EXPECT_EQ(d("JCT").files.size(), 2u);
    EXPECT_NE(d("JCT").file(6), nullptr);
    EXPECT_NE(d("JCT").file(7), nullptr);
}

TEST_F(JcDictionaries, JobAndExtraCopyRunsStandFieldForField) {
    const std::vector<std::pair<std::pair<const char*, const char*>, std::pair<const char*, const char*>>> runs = {
        {{"JDESC", "JZIP"}, {"XDESC", "XZIP"}},
        {{"JSTATUS", "JSTATUS"}, {"XSTATUS", "XSTATUS"}},
        {{"JESTSD", "JLCUPD"}, {"XESTSD", "XLCUPD"}},
        {{"JOCNT", "JLSTDRR"}, {"XOCNT", "XLSTDRR"}},
        {{"JOEST", "JFRMT6"}, {"XOEST", "XFRMT6"}},
    };
    for (const auto& [job, extra] : runs) {
        const uint16_t j0 = no("JCM", 1, job.first), j1 = no("JCM", 1, job.second);
        const uint16_t x0 = no("JCM", 2, extra.first), x1 = no("JCM", 2, extra.second);
        ASSERT_LE(j0, j1);
        ASSERT_EQ(j1 - j0, x1 - x0) << job.first;
        for (int i = 0; i <= j1 - j0; ++i) {
            const xio_fld_def& a = def("JCM", j0 + i);
            const xio_fld_def& b = def("JCM", x0 + i);
            EXPECT_EQ(a.type, b.type) << a.name << " / " << b.name;
            EXPECT_EQ(a.decimals, b.decimals) << a.name << " / " << b.name;
            EXPECT_EQ(a.length, b.length) << a.name << " / " << b.name;
        }
    }
}

TEST_F(JcDictionaries, RunsWalkedByFieldNumberHaveTheirLengths) {
    run(1, "JOCNT", 23, XIO_TYPE_NUMBER);
    run(2, "XOCNT", 23, XIO_TYPE_NUMBER);
    // The three change orders that are cleared hold no approved amount: those count in the totals.
    for (const auto& [rec, first, approved] : {std::tuple{1, "JPCNTC", "JACNTC"}, std::tuple{2, "XPCNTC", "XACNTC"},
                                               std::tuple{3, "PPSVC", "PASVC"}}) {
        const uint16_t f = no("JCM", rec, first), a = no("JCM", rec, approved);
        EXPECT_TRUE(a < f || a > f + 2) << approved;
        run(rec, first, 3, XIO_TYPE_NUMBER);
    }
    run(1, "JCNT", 2, XIO_TYPE_TEXT);
    run(2, "XCNT", 2, XIO_TYPE_TEXT);
    run(3, "PCNT", 2, XIO_TYPE_TEXT);
    run(1, "JJTDADJ", 6, XIO_TYPE_NUMBER);
    run(2, "XJTDADJ", 6, XIO_TYPE_NUMBER);
    run(1, "JLTXGRP", 6, XIO_TYPE_TEXT);
    for (const char* f : {"PJTDCT", "PJTDDPT"}) run(3, f, 8, XIO_TYPE_NUMBER);
    for (const char* f : {"CJTDCT", "CJTDDPT"}) run(4, f, 8, XIO_TYPE_NUMBER);
    run(3, "PFAMT1", 6, XIO_TYPE_NUMBER);
    run(3, "PCFAM1", 4, XIO_TYPE_NUMBER);
    EXPECT_EQ(no("JCM", 3, "PCFAM4"), no("JCM", 3, "PCFAM1") + 3);
    EXPECT_EQ(no("JCM", 3, "PFRMT6"), no("JCM", 3, "PFRMT1") + 5);
    // Standard cost code: three cost accounts, then twelve pairs of category and unit description.
    EXPECT_EQ(no("JCM", 16, "SPCACCC"), no("JCM", 16, "SPCACCA") + 2);
    const uint16_t slot = no("JCM", 16, "SPCAT1");
    for (int i = 0; i < 24; i += 2) {
        EXPECT_EQ(def("JCM", slot + i).keyFormat, 12) << def("JCM", slot + i).name;
        EXPECT_EQ(def("JCM", slot + i + 1).keyFormat, 0) << def("JCM", slot + i + 1).name;
    }
    // Ranges that open and close in order.
    for (auto [rec, a, b] : std::vector<std::tuple<uint16_t, const char*, const char*>>{
             {1, "JOEST", "JJTDODP"}, {1, "JPFAM1", "JFRMT6"}, {1, "JXOCNT", "JFRMTX6"}, {2, "XOEST", "XJTDODP"},
             {2, "XPFA1", "XFRMT6"}, {3, "POSV", "PNMASV"}, {3, "PJTDWB", "PNMRH"}, {3, "POEST", "PTEST"},
             {3, "POUEST", "PTUEST"}, {3, "POUEST", "PJTDODP"}, {3, "PTLEST", "PJTDODP"}, {3, "PJTDU", "PLPU"},
             {4, "COUEST", "CTUEST"}, {4, "CJTDU", "CLPU"}})
        EXPECT_LT(no("JCM", rec, a), no("JCM", rec, b)) << a << ".." << b;
    // Tax group components: seven consecutive fields each, component after component.
    const uint16_t g1 = no("TXM", 2, "GTAX1");
    for (int k = 1; k <= 9; ++k) {
        EXPECT_EQ(no("TXM", 2, "GTAX" + std::to_string(k)), g1 + 7 * (k - 1)) << k;
        EXPECT_EQ(no("TXM", 2, "GTAX" + std::to_string(k) + "NC"), g1 + 7 * (k - 1) + 6) << k;
    }
}

TEST_F(JcDictionaries, UnitsAndUnitCostsHoldTenThousandthsAndMoneyHundredths) {
    for (auto [rec, a, b] : std::vector<std::tuple<uint16_t, const char*, const char*>>{
             {3, "POUEST", "PTUEST"}, {3, "PJTDU", "PLPU"}, {4, "COUEST", "CTUEST"}, {4, "CJTDU", "CLPU"}})
        for (uint16_t n = no("JCM", rec, a); n <= no("JCM", rec, b); ++n) EXPECT_EQ(def("JCM", n).decimals, 4) << def("JCM", n).name;
    EXPECT_EQ(def("JCM", no("JCM", 13, "IUNTCST")).decimals, 4);
    EXPECT_EQ(def("JCT", no("JCT", 1, "TUNITS")).decimals, 4);
    for (const char* f : {"JOCNT", "JJTDWB", "JBLBAL", "JOEST"}) EXPECT_EQ(def("JCM", no("JCM", 1, f)).decimals, 2) << f;
    for (const char* f : {"POEST", "PTEST", "PJTDC", "PRVPU", "PTLEST"}) EXPECT_EQ(def("JCM", no("JCM", 3, f)).decimals, 2) << f;
    EXPECT_EQ(def("JCT", no("JCT", 1, "TAMOUNT")).decimals, 2);
    // Key formats of the key fields.
    EXPECT_EQ(def("JCM", no("JCM", 1, "JOB")).keyFormat, 16);
    EXPECT_EQ(def("JCM", no("JCM", 2, "EXTRA")).keyFormat, 15);
    EXPECT_EQ(def("JCM", no("JCM", 3, "PHASE")).keyFormat, 18);
    EXPECT_EQ(def("JCM", no("JCM", 4, "CAT")).keyFormat, 12);
    EXPECT_EQ(def("JCM", no("JCM", 1, "JCSTACC")).keyFormat, 9);
}

TEST_F(JcDictionaries, NewCompaniesStartWithDemoJcSettings) {
    auto item = [&](const char* name) { return def("JCM", no("JCM", 2, name, true)).defaultValue.number; };
    EXPECT_EQ(item("PTRACKX"), 2);  // extras tracked
    EXPECT_EQ(item("CCATUSG"), 1);  // categories used (2 is not used)
    EXPECT_NE(item("CPERSIZ"), 5);  // periods used (5 is not used)
    EXPECT_EQ(item("PTLUNIT"), 1);
    EXPECT_EQ(item("PTEUNIT"), 1);
    for (const char* other : {"PTMUNIT", "PTSUNIT", "PTBUNIT", "PTOUNIT"}) EXPECT_EQ(item(other), 2) << other;
    EXPECT_EQ(item("PBLEVEL"), 1);
    EXPECT_EQ(item("CGLRETM"), 5);
    EXPECT_EQ(def("ARM", no("ARM", 2, "STAXES", true)).defaultValue.number, 1);  // AR tracks taxes
    const auto& types = def("JCT", no("JCT", 1, "TRANTYP")).items;
    ASSERT_EQ(types.size(), 34u);
    EXPECT_EQ(types[29], "Cash receipt");
    EXPECT_EQ(types[30], "General ledger only");
}

TEST_F(JcDictionaries, IndexesAreUniqueWithinARecordAndOnlyInTheJcMaster) {
    const xio::Dictionary& jcm = d("JCM");
    for (uint16_t rec : {1, 2, 3, 4}) {
        const xio::RecordDef* r = jcm.record(rec);
        ASSERT_TRUE(r);
        std::set<uint16_t> seen;
        for (uint16_t n = r->firstField; n <= r->lastField; ++n) {
            if (jcm.fields[n].jcIndex == 0) continue;
            EXPECT_TRUE(seen.insert(jcm.fields[n].jcIndex).second) << jcm.fields[n].def.name;
        }
        EXPECT_FALSE(seen.empty()) << rec;
    }
    for (const char* abbr : {"JCT", "TXM", "ARM"})
        for (const auto& f : d(abbr).fields) {
            EXPECT_EQ(f.jcIndex, 0) << abbr << " " << f.def.name;
        }
}

std::string parse_error(const std::string& text) {
    std::string err;
    auto parsed = xio::parse_dictionary(text, "jc.toml", err);
    EXPECT_EQ(parsed, nullptr);
    return err;
}

const char* kJcHead = "abbreviation = \"JCX\"\nname = \"JC test\"\nversion = 1\nfiles = [{ number = 1, name = \"MASTER.JCX\" }]\n";

TEST(JcIndexLoader, AnIndexUsedTwiceInARecordIsRefusedWithItsLine) {
    const std::string twice = std::string(kJcHead) +
                              "[[record]]\nnumber = 1\nname = \"Job\"\nkey = [\"JOB\"]\nfields = [\n"
                              "  { name = \"JOB\", type = 0, length = 16, jc_index = 1 },\n"
                              "  { name = \"JAMT\", type = 1, jc_index = 7 },\n"
                              "  { name = \"JAMT2\", type = 1, jc_index = 7 },\n]\n";
    const std::string err = parse_error(twice);
    EXPECT_NE(err.find("jc.toml:12:"), std::string::npos) << err;  // the second use
    EXPECT_NE(err.find("JAMT2 is also the index of JAMT"), std::string::npos) << err;

    const std::string onHeader = std::string(kJcHead) +
                                 "[[record]]\nnumber = 1\nname = \"Job\"\nkey = [\"JOB\"]\nfields = [{ name = \"JOB\", type = 0, length = 16 }]\n"
                                 "[[header]]\nnumber = 2\nname = \"S\"\nfields = [{ name = \"S1\", type = 1, jc_index = 3 }]\n";
    EXPECT_NE(parse_error(onHeader).find("header"), std::string::npos);
}

TEST(JcIndexLoader, TheSameIndexInTwoRecordsIsAllowed) {
    const std::string text = std::string(kJcHead) +
                             "[[record]]\nnumber = 1\nname = \"Job\"\nkey = [\"JOB\"]\nfields = [{ name = \"JOB\", type = 0, length = 16, jc_index = 1 }]\n"
                             "[[record]]\nnumber = 2\nname = \"Extra\"\nkey = [\"XJOB\"]\nfields = [{ name = \"XJOB\", type = 0, length = 16, jc_index = 1 },"
                             " { name = \"XAMT\", type = 1 }]\n";
    std::string err;
    auto parsed = xio::parse_dictionary(text, "jc.toml", err);
    ASSERT_TRUE(parsed) << err;
    EXPECT_EQ(parsed->fields[1].jcIndex, 1);
    EXPECT_EQ(parsed->fields[2].jcIndex, 1);
    EXPECT_EQ(parsed->fields[3].jcIndex, 0);
}

}  // namespace
}  // namespace dz::test
