// The AP and CM transaction dictionaries: the runs of the vendor record that the converters walk
// by field number, the invoice files' records kept equal to the AP master's, the CM transaction
// records that hold exactly the fields the AP conversion writes, and the bank-and-check key.
#include "support.h"

#include "platform/datafile/dictionary.h"

#include <unistd.h>

#include <vector>

namespace dz::test {
namespace {

class ApDictionaries : public ::testing::Test {
protected:
    void SetUp() override {
        std::string err;
        ASSERT_TRUE(xio_load_dictionaries(std::filesystem::path(DZ_SOURCE_DATA_DIR) / "dictionary", err)) << err;
        for (const char* abbr : {"APM", "APT", "API", "CMT"}) {
            auto d = xio::get(abbr, err);
            ASSERT_TRUE(d) << abbr << ": " << err;
            dicts_[abbr] = d;
        }
    }
    const xio::Dictionary& d(const std::string& abbr) { return *dicts_.at(abbr); }
    uint16_t no(const std::string& abbr, uint16_t rec, const std::string& name, bool header = false) {
        const xio::Dictionary& x = d(abbr);
        const xio::RecordDef* r = header ? x.header(rec) : x.record(rec);
        const uint16_t n = r ? x.fieldNumber(*r, name) : 0;
        EXPECT_NE(n, 0) << abbr << " " << (header ? "header " : "record ") << rec << " " << name;
        return n;
    }
    // The names of the fields from `first` to `last` of the vendor record, by field number.
    std::vector<std::string> vendor_run(const std::string& first, const std::string& last) {
        std::vector<std::string> names;
        const uint16_t a = no("APM", 9, first), b = no("APM", 9, last);
        EXPECT_LT(a, b);
        for (uint16_t n = a; n && n <= b; ++n) names.push_back(d("APM").fields[n].def.name);
        return names;
    }
    std::vector<std::string> record_names(const std::string& abbr, uint16_t rec) {
        std::vector<std::string> names;
        const xio::RecordDef* r = d(abbr).record(rec);
        EXPECT_TRUE(r) << abbr << " " << rec;
        if (r)
            for (uint16_t n = r->firstField; n <= r->lastField; ++n) names.push_back(d(abbr).fields[n].def.name);
        return names;
    }

    std::map<std::string, std::shared_ptr<const xio::Dictionary>> dicts_;
};

using Names = std::vector<std::string>;

TEST_F(ApDictionaries, TheVendorRecordHoldsItsThreeRunsInOrder) {
    EXPECT_EQ(vendor_run("VTY1099", "VNYDED"),
              (Names{"VTY1099", "VTYDED", "VLY1099", "VLYDED", "VNY1099", "VNYDED"}));
    EXPECT_EQ(vendor_run("VOAMT", "VMDHELD"), (Names{"VOAMT", "VODSC", "VRETAIN", "VMDHELD"}));
    // This and last year's totals end with VYTDMD; next year's start at VNYAMT and end with VNYPD.
    const Names years = vendor_run("VYTDAMT", "VYTDMD");
    for (const char* name : {"VYTDDO", "VYTDDT", "VYTDDL", "VLYAMT", "VLYDO", "VLYDT", "VLYDL", "VLYMD"})
        EXPECT_NE(std::find(years.begin(), years.end(), name), years.end()) << name;
    const Names next = vendor_run("VNYAMT", "VNYPD");
    for (const char* name : {"VNYDO", "VNYDT", "VNYDL", "VNYMD"})
        EXPECT_NE(std::find(next.begin(), next.end(), name), next.end()) << name;
    EXPECT_EQ(no("APM", 9, "VNYAMT"), no("APM", 9, "VYTDMD") + 1);
    // Every field of the runs is an amount; none of the other fields sits inside them.
    for (const Names& run : {vendor_run("VTY1099", "VNYDED"), vendor_run("VOAMT", "VMDHELD"), years, next})
        for (const std::string& name : run) {
            const xio_fld_def& f = d("APM").fields[no("APM", 9, name)].def;
            EXPECT_EQ(f.type, XIO_TYPE_NUMBER) << name;
            EXPECT_EQ(f.decimals, 2) << name;
        }
    // A summary vendor is VTYPE 4: a number.
    EXPECT_EQ(d("APM").fields[no("APM", 9, "VTYPE")].def.type, XIO_TYPE_NUMBER);
    // The debit account and the prefix get no key format: whole or base accounts, prefixes of
    // any level pass the import to their handlers.
    EXPECT_EQ(d("APM").fields[no("APM", 9, "VGLEXP")].def.keyFormat, 0);
    EXPECT_EQ(d("APM").fields[no("APM", 10, "FPREFIX")].def.keyFormat, 0);
}

TEST_F(ApDictionaries, KeysOfTheApMasterRecords) {
    const std::vector<std::pair<uint16_t, Names>> keys = {
        {1, {"OIVND", "OIINV"}},
        {2, {"ODVND", "ODINV", "ODDSEQ"}},
        {3, {"OTVND", "OTINV", "OTDSEQ", "OTCOMP"}},
        {4, {"CBANK", "CHECK"}},
        {5, {"PIVND", "PIINV", "PIBANK", "PICHECK"}},
        {6, {"PIVND", "PIINV", "PIBANK", "PICHECK", "PIDSEQ"}},
        {7, {"PIVND", "PIINV", "PIBANK", "PICHECK", "PIDSEQ", "PTCOMP"}},
        {9, {"VENDOR"}},
        {10, {"FPREFIX", "FVENDOR", "FLEVEL"}},
        {11, {"FNAME"}},
        {12, {"AUTH"}},
    };
    for (const auto& [rec, names] : keys) {
        const xio::RecordDef* r = d("APM").record(rec);
        ASSERT_TRUE(r) << rec;
        Names got;
        for (uint16_t n : r->primaryKey) got.push_back(d("APM").fields[n].def.name);
        EXPECT_EQ(got, names) << "record " << rec;
    }
    // The 1099 prefix totals fields in the order the conversion carries them, then FGROREV.
    EXPECT_EQ(record_names("APM", 10), (Names{"FPREFIX", "FVENDOR", "FLEVEL", "FYTDAMT", "FYTDDED", "FLYAMT",
                                             "FLYDED", "FNYAMT", "FNYDED", "FGLA", "FGLAB", "FGROREV"}));
    // What the AP converters read from the headers.
    no("APM", 1, "LASTPMT", true);
    no("APM", 1, "LASTRUN", true);
    for (const char* s : {"GLOJRN", "GLPJRN", "ACCDTU", "USEICD1", "USEICD2", "TAXUSE", "DSCLVL", "MDLVL", "PMTDTU",
                          "DTRCVU", "DTBASE", "BNKMTHD", "DFLTBNK", "DFLTTAX", "USEAPVL", "MD1099", "PRF1099",
                          "MD2USE", "VRFYHST", "YREND", "GYREND", "GLAPPBL", "GLSBPBL", "GLRTPBL", "GLMDED", "GLDTO",
                          "GLDFROM", "GLDSC", "GLPPS", "DCCODE1", "DCCODE5", "DCRET1", "DCRET5", "DCAUTH1", "DCAUTH5"})
        no("APM", 2, s, true);
    no("APT", 1, "LASTRUN", true);
    no("CMT", 1, "LASTRUN", true);
}

TEST_F(ApDictionaries, EachInvoiceFileRecordEqualsItsApMasterRecord) {
    EXPECT_EQ(d("API").files.size(), 2u);
    EXPECT_EQ(d("API").file(1)->name, "NEW.API");
    EXPECT_EQ(d("API").file(2)->name, "HISTORY.API");
    EXPECT_EQ(d("API").records.size(), 6u);
    for (uint16_t rec : {1, 2, 3, 5, 6, 7}) {
        const xio::RecordDef* a = d("APM").record(rec);
        const xio::RecordDef* b = d("API").record(rec);
        ASSERT_TRUE(a && b) << rec;
        EXPECT_EQ(a->name, b->name);
        ASSERT_EQ(a->lastField - a->firstField, b->lastField - b->firstField) << "record " << rec;
        for (uint16_t i = 0; i <= a->lastField - a->firstField; ++i) {
            const xio_fld_def& x = d("APM").fields[a->firstField + i].def;
            const xio_fld_def& y = d("API").fields[b->firstField + i].def;
            EXPECT_EQ(x.name, y.name) << rec;
            EXPECT_EQ(x.description, y.description) << x.name;
            EXPECT_EQ(x.type, y.type) << x.name;
            EXPECT_EQ(x.length, y.length) << x.name;
            EXPECT_EQ(x.decimals, y.decimals) << x.name;
            EXPECT_EQ(x.isSigned, y.isSigned) << x.name;
            EXPECT_EQ(x.keyFormat, y.keyFormat) << x.name;
            EXPECT_EQ(x.keySection, y.keySection) << x.name;
        }
        ASSERT_EQ(a->primaryKey.size(), b->primaryKey.size());
        for (size_t k = 0; k < a->primaryKey.size(); ++k)
            EXPECT_EQ(a->primaryKey[k] - a->firstField, b->primaryKey[k] - b->firstField) << rec;
    }
}

TEST_F(ApDictionaries, CmTransactionRecordsHoldExactlyTheTransactionFields) {
    EXPECT_EQ(record_names("CMT", 1),
              (Names{"TBNKACC", "TRUN",    "TSEQ",    "TRANTYP", "TDESC",   "TACTGDT", "TTRANDT", "TSUBTR",
                     "TADD",    "TPOSTED", "TGLDBT",  "TGLCRDT", "TGLICPY", "TGLICRC", "TGLJRN",  "TRECOND",
                     "TRECAMT", "TRECDT",  "TCURREC", "TLSTREC", "TSTMTDT", "TCHECK",  "TCPAYEE", "TCJPYEE",
                     "TCTYPE",  "TCVOID",  "TCVOIDT", "TCVDAMT", "TSTOP",   "TSTOPDT", "TCREPLA", "TCASSOC",
                     "TDEPDTE", "TDEPID",  "TDTYPE",  "TWDTYPE", "TWDDRUN", "TATYPE",  "TADPDTE", "TADEPID",
                     "TADJID",  "TAPPL",   "TBATCH",  "TSOURCE", "TDPLOC",  "TUPGSRC"}));
    EXPECT_EQ(record_names("CMT", 5),
              (Names{"CDBNKAC", "CDTRUN", "CDTSEQ", "CDRUN", "CDSEQ", "CDACCDT", "CDCSHAC", "CDAMT", "CDAPP",
                     "CDBATCH", "CDSORCE", "CDDPLOC", "CDTASK", "CDTYPE", "CDUPSRC"}));
    // Text widths of the transaction image, less the terminating byte.
    for (auto [name, width] : {std::pair{"TBNKACC", 10}, {"TDESC", 30}, {"TGLDBT", 25}, {"TCPAYEE", 10},
                               {"TCJPYEE", 30}, {"TDTYPE", 20}, {"TAPPL", 3}, {"TBATCH", 10}, {"TDPLOC", 4}})
        EXPECT_EQ(d("CMT").fields[no("CMT", 1, name)].def.length, width) << name;
    ASSERT_GE(d("CMT").keys.size(), 6u);
    const xio_key_def& k6 = d("CMT").keys[5].def;
    EXPECT_EQ(k6.record, 1);
    EXPECT_FALSE(k6.unique);
    EXPECT_EQ(k6.fields, (std::vector<uint16_t>{no("CMT", 1, "TBNKACC"), no("CMT", 1, "TCHECK")}));
}

class CmtFile : public ApDictionaries {
protected:
    void SetUp() override {
        ApDictionaries::SetUp();
        dir_ = std::filesystem::temp_directory_path() / ("dz_cmt_" + std::to_string(::getpid()));
        std::filesystem::remove_all(dir_);
        std::filesystem::create_directories(dir_);
        ASSERT_EQ(xio_create_file("CMT", 1, dir_ / "CURRENT.CMT"), XIO_OK) << xio_error_text();
        ASSERT_EQ(xio_open_file(dir_ / "CURRENT.CMT", 0, h_), XIO_OK) << xio_error_text();
    }
    void TearDown() override {
        if (h_) xio_cls_file(h_);
        std::filesystem::remove_all(dir_);
    }
    void Put(const char* name, const std::string& text) {
        x_value_def v;
        v.text = text;
        ASSERT_EQ(xio_put_field(h_, 1, xio_num(h_, XIO_NUM_RECORD, 1, name), v), XIO_OK) << name;
    }
    void Put(const char* name, double number) {
        x_value_def v;
        v.number = number;
        ASSERT_EQ(xio_put_field(h_, 1, xio_num(h_, XIO_NUM_RECORD, 1, name), v), XIO_OK) << name;
    }
    double Number(const char* name) {
        x_value_def v;
        xio_get_field(h_, 1, xio_num(h_, XIO_NUM_RECORD, 1, name), v);
        return v.number;
    }
    void Write(const std::string& bank, double run, double seq, double check) {
        xio_init_record(h_, 1);
        Put("TBNKACC", bank);
        Put("TRUN", run);
        Put("TSEQ", seq);
        Put("TCHECK", check);
        ASSERT_EQ(xio_wr_record(h_, 1), XIO_OK) << xio_error_text();
    }

    std::filesystem::path dir_;
    uint16_t h_ = 0;
};

TEST_F(CmtFile, KeySixFindsEveryTransactionOfOneBankAndCheck) {
    Write("100", 1, 1, 5001);
    Write("100", 2, 7, 5001);  // the same check again (voided and reissued)
    Write("100", 3, 1, 5002);
    Write("200", 1, 2, 5001);
    xio_init_record(h_, 1);
    Put("TBNKACC", "100");
    Put("TCHECK", 5001);
    ASSERT_EQ(xio_rd_ge(h_, 1, 6, 0), XIO_OK);
    std::vector<double> runs;
    while (true) {
        x_value_def bank;
        xio_get_field(h_, 1, xio_num(h_, XIO_NUM_RECORD, 1, "TBNKACC"), bank);
        if (bank.text != "100" || Number("TCHECK") != 5001) break;
        runs.push_back(Number("TRUN"));
        if (xio_rd_next(h_, 1, 6, 0) != XIO_OK) break;
    }
    std::sort(runs.begin(), runs.end());
    EXPECT_EQ(runs, (std::vector<double>{1, 2}));
}

}  // namespace
}  // namespace dz::test
