// The dictionary loader and the shipped dictionaries.
#include "support.h"

#include "platform/datafile/dictionary.h"

#include <set>

namespace dz::test {
namespace {

std::string parse_error(const std::string& text) {
    std::string err;
    auto d = xio::parse_dictionary(text, "bad.toml", err);
    EXPECT_EQ(d, nullptr);
    return err;
}

const char* kHead = "abbreviation = \"BAD\"\nname = \"Bad\"\nversion = 1\nfiles = [{ number = 1, name = \"MASTER.BAD\" }]\n";

TEST(DictionaryLoader, ErrorsNameTheFileAndLine) {
    // TOML syntax.
    EXPECT_EQ(parse_error(std::string(kHead) + "[[record]\n").substr(0, 11), "bad.toml:5:");
    // Unknown entry (a typo) in a field, line of that field.
    std::string t = std::string(kHead) +
                    "[[record]]\nnumber = 1\nname = \"R\"\nkey = [\"A\"]\nfields = [\n"
                    "  { name = \"A\", type = 0, length = 5 },\n"
                    "  { name = \"B\", type = 1, lenght = 5 },\n]\n";
    std::string err = parse_error(t);
    EXPECT_EQ(err.substr(0, 12), "bad.toml:11:") << err;
    EXPECT_NE(err.find("lenght"), std::string::npos);
    // Key field that the record does not have.
    t = std::string(kHead) + "[[record]]\nnumber = 1\nname = \"R\"\nkey = [\"Z\"]\nfields = [{ name = \"A\", type = 0, length = 5 }]\n";
    err = parse_error(t);
    EXPECT_EQ(err.substr(0, 11), "bad.toml:8:") << err;
    // Text without a length, bad names, bad types, duplicate record numbers, keys out of order.
    EXPECT_NE(parse_error(std::string(kHead) + "[[record]]\nnumber = 1\nname = \"R\"\nkey = [\"A\"]\nfields = [{ name = \"A\", type = 0 }]\n")
                  .find("needs a length"),
              std::string::npos);
    EXPECT_NE(parse_error(std::string(kHead) + "[[record]]\nnumber = 1\nname = \"R\"\nkey = [\"A\"]\nfields = [{ name = \"TOOLONGX\", type = 1 }]\n")
                  .find("1 to 7"),
              std::string::npos);
    EXPECT_NE(parse_error(std::string(kHead) + "[[record]]\nnumber = 1\nname = \"R\"\nkey = [\"A\"]\nfields = [{ name = \"A\", type = 10 }]\n")
                  .find("between 0 and 9"),
              std::string::npos);
    const std::string rec = "[[record]]\nnumber = 1\nname = \"R\"\nkey = [\"A\"]\nfields = [{ name = \"A\", type = 1 }]\n";
    EXPECT_NE(parse_error(std::string(kHead) + rec + rec).find("defined twice"), std::string::npos);
    EXPECT_NE(parse_error(std::string(kHead) + rec + "[[key]]\nnumber = 2\nrecord = 1\nfields = [\"A\"]\n").find("expected 1"),
              std::string::npos);
    EXPECT_NE(parse_error(std::string(kHead) + rec + "[[key]]\nnumber = 1\nrecord = 4\nfields = [\"A\"]\n").find("not defined"),
              std::string::npos);
    EXPECT_NE(parse_error(std::string(kHead) + "[[record]]\nnumber = 1\nname = \"R\"\nfields = [{ name = \"A\", type = 1 }]\n")
                  .find("primary 'key'"),
              std::string::npos);
    EXPECT_NE(parse_error(std::string(kHead) + "[[record]]\nnumber = 1\nname = \"R\"\nkey = [\"A\"]\n"
                                               "fields = [{ name = \"A\", type = 7, items = [\"x\"], default = 3 }]\n")
                  .find("not one of its items"),
              std::string::npos);
}

TEST(DictionaryLoader, AFaultyFileIsReportedAndTheOthersStillLoad) {
    auto dir = make_temp_dir();
    std::ofstream(dir / "good.toml") << std::string(kHead).replace(16, 3, "GOO")
                                     << "[[record]]\nnumber = 1\nname = \"R\"\nkey = [\"A\"]\nfields = [{ name = \"A\", type = 1 }]\n";
    std::ofstream(dir / "worse.toml") << "abbreviation = \n";
    std::string err;
    EXPECT_FALSE(xio_load_dictionaries(dir, err));
    EXPECT_NE(err.find("worse.toml:1:"), std::string::npos) << err;
    EXPECT_EQ(xio_dictionary_abbrs(), std::vector<std::string>{"GOO"});
    std::filesystem::remove_all(dir);
}

TEST(DictionaryLoader, FieldsAreNumberedThroughTheFileInDictionaryOrder) {
    std::string err;
    auto d = xio::load_dictionary(std::filesystem::path(DZ_TEST_DATA_DIR) / "datafile" / "dictionary" / "tst.toml", err);
    ASSERT_TRUE(d) << err;
    uint16_t expect = 1;
    for (const auto* part : {d->record(1), d->record(2), d->header(1), d->header(2)}) {
        ASSERT_TRUE(part);
        EXPECT_EQ(part->firstField, expect) << part->name;
        expect = static_cast<uint16_t>(part->lastField + 1);
    }
    EXPECT_EQ(expect, d->fields.size());
    EXPECT_EQ(d->fields[1].def.name, "CODE");
    EXPECT_EQ(d->fields[1].def.udFlag, 1);
}

// The shipped dictionaries.
class ShippedDictionaries : public ::testing::Test {
protected:
    void SetUp() override {
        std::string err;
        ASSERT_TRUE(xio_load_dictionaries(std::filesystem::path(DZ_SOURCE_DATA_DIR) / "dictionary", err)) << err;
    }
    std::shared_ptr<const xio::Dictionary> dict(const std::string& abbr) {
        std::string err;
        auto d = xio::get(abbr, err);
        EXPECT_TRUE(d) << err;
        return d;
    }
    static uint16_t no(const xio::Dictionary& d, uint16_t rec, const std::string& name) {
        const auto* r = d.record(rec) ? d.record(rec) : nullptr;
        uint16_t n = r ? d.fieldNumber(*r, name) : 0;
        EXPECT_NE(n, 0) << name;
        return n;
    }
    static uint16_t hno(const xio::Dictionary& d, uint16_t hdr, const std::string& name) {
        uint16_t n = d.header(hdr) ? d.fieldNumber(*d.header(hdr), name) : 0;
        EXPECT_NE(n, 0) << name;
        return n;
    }
};

TEST_F(ShippedDictionaries, AllLoad) {
    auto abbrs = xio_dictionary_abbrs();
    for (const char* a : {"CMM", "GLM", "GLT", "XVM"})
        EXPECT_NE(std::find(abbrs.begin(), abbrs.end(), a), abbrs.end()) << a;
    EXPECT_EQ(xio_file_name("GLM", 1), "MASTER.GLM");
    EXPECT_EQ(xio_file_name("XVM", 0), "MASTER.XVM");
    EXPECT_EQ(xio_file_name("CMM", 1), "MASTER.CMM");
    std::string abbr;
    uint16_t fileNo = 0;
    ASSERT_TRUE(xio_registry_lookup(4, abbr, fileNo));
    EXPECT_EQ(abbr, "GLT");
    EXPECT_EQ(fileNo, 6);
    EXPECT_FALSE(xio_file_name("GLT", 6).empty());
}

TEST_F(ShippedDictionaries, SubstitutionTableFileHasItsRecordsKeysAndAccessPaths) {
    auto d = dict("XVM");
    ASSERT_TRUE(d);
    EXPECT_TRUE(d->multiUser);
    ASSERT_TRUE(d->header(1));
    for (const char* f : {"LSTTBLE", "LSTAPPL", "LSTFLD"}) hno(*d, 1, f);
    auto keyNames = [&](const std::vector<uint16_t>& fields) {
        std::vector<std::string> out;
        for (uint16_t f : fields) out.push_back(d->fields[f].def.name);
        return out;
    };
    EXPECT_EQ(keyNames(d->record(1)->primaryKey), (std::vector<std::string>{"TABLE"}));
    EXPECT_EQ(keyNames(d->record(2)->primaryKey), (std::vector<std::string>{"DTABLE", "DAPPL", "DFIELD"}));
    EXPECT_EQ(keyNames(d->record(3)->primaryKey), (std::vector<std::string>{"FTABLE", "FFIELD", "FOLDVAL"}));
    ASSERT_EQ(d->keys.size(), 2u);
    EXPECT_EQ(d->keys[0].def.record, 2);
    EXPECT_EQ(keyNames(d->keys[0].def.fields), (std::vector<std::string>{"DTABLE", "DAPPL"}));
    EXPECT_EQ(d->keys[1].def.record, 3);
    EXPECT_EQ(keyNames(d->keys[1].def.fields), (std::vector<std::string>{"FTABLE", "FFIELD"}));
    EXPECT_FALSE(d->keys[1].def.unique);
    for (const char* f : {"TALEN", "TBLEN", "TCLEN", "TBSLEN", "TSUFLEN", "TJ1LEN", "TJ2LEN", "TJ3LEN", "TP1LEN", "TP2LEN",
                          "TP3LEN", "TP4LEN"})
        no(*d, 1, f);
    for (const char* f : {"DOLDSIZ", "DXONJOB", "DNEWBLK", "DNOEXST"}) no(*d, 2, f);
    for (const char* f : {"FNEWVAL", "NEWXONJ", "NEWPHAS", "NEWJOB", "NEWACCT", "NEWPREA", "NEWPREB", "NEWPREC", "NEWBASE"}) {
        EXPECT_EQ(d->fields[no(*d, 3, f)].def.length, 40) << f;
    }
    EXPECT_EQ(d->fields[no(*d, 3, "FOLDVAL")].def.length, 40);
    EXPECT_EQ(d->fields[no(*d, 1, "TABLE")].def.length, 80);
}

TEST_F(ShippedDictionaries, SubstitutionTableAccessPathsWork) {
    auto dir = make_temp_dir();
    xio_set_file_control([&](const std::string&) { return dir; });
    uint16_t h = 0;
    xio_ask_request req;
    req.abbr = "XVM";
    req.create = true;
    ASSERT_EQ(xio_ask_file(req, h), XIO_OK) << xio_error_text();
    auto put = [&](uint16_t rec, const char* name, const std::string& text, double num = 0) {
        x_value_def v;
        v.text = text;
        v.number = num;
        ASSERT_EQ(xio_put_field(h, rec, xio_num(h, XIO_NUM_RECORD, rec, name), v), XIO_OK) << name;
    };
    auto get = [&](uint16_t rec, const char* name) {
        x_value_def v;
        xio_get_field(h, rec, xio_num(h, XIO_NUM_RECORD, rec, name), v);
        return v.text.empty() ? std::to_string(static_cast<int>(v.number)) : v.text;
    };
    // Definitions of two groups; entries of two tables of one group.
    for (auto [group, appl, field] : {std::tuple{"Main", 1, 9}, {"Main", 2, 16}, {"Main", 1, 9001}, {"Other", 1, 9}}) {
        xio_init_record(h, 2);
        put(2, "DTABLE", group);
        put(2, "DAPPL", "", appl);
        put(2, "DFIELD", "", field);
        ASSERT_EQ(xio_wr_record(h, 2), XIO_OK);
    }
    for (auto [field, old] : {std::pair{9, "b"}, {16, "J1"}, {9, "A"}, {9, "c"}}) {
        xio_init_record(h, 3);
        put(3, "FTABLE", "MAIN");
        put(3, "FFIELD", "", field);
        put(3, "FOLDVAL", old);
        ASSERT_EQ(xio_wr_record(h, 3), XIO_OK);
    }
    // All entries of one table, old values ascending, from (FTABLE, FFIELD) onward by key 2
    // (equal keys follow the primary key).
    xio_init_record(h, 3);
    put(3, "FTABLE", "main");
    put(3, "FFIELD", "", 9);
    EXPECT_EQ(xio_find_record(h, 3, 2), XIO_OK);
    std::string olds;
    for (int s = xio_rd_ge(h, 3, 2, 0); s == XIO_OK && get(3, "FFIELD") == "9"; s = xio_rd_next(h, 3, 2, 0))
        olds += get(3, "FOLDVAL");
    EXPECT_EQ(olds, "Abc");
    // The same through the primary key with a blank old value.
    olds.clear();
    xio_init_record(h, 3);
    put(3, "FTABLE", "Main");
    put(3, "FFIELD", "", 9);
    for (int s = xio_rd_ge(h, 3, 0, 0); s == XIO_OK && get(3, "FFIELD") == "9"; s = xio_rd_next(h, 3, 0, 0))
        olds += get(3, "FOLDVAL");
    EXPECT_EQ(olds, "Abc");
    // Record 2 of a group and application (GL tables of a group).
    xio_init_record(h, 2);
    put(2, "DTABLE", "main");
    put(2, "DAPPL", "", 1);
    EXPECT_EQ(xio_find_record(h, 2, 1), XIO_OK);
    put(2, "DAPPL", "", 3);
    EXPECT_EQ(xio_find_record(h, 2, 1), XIO_NOT_FOUND);
    // Record 2 by the group alone, in key order.
    xio_init_record(h, 2);
    put(2, "DTABLE", "Main");
    std::string fields;
    for (int s = xio_rd_ge(h, 2, 0, 0); s == XIO_OK && get(2, "DTABLE") == "Main"; s = xio_rd_next(h, 2, 0, 0))
        fields += get(2, "DFIELD") + " ";
    EXPECT_EQ(fields, "9 9001 16 ");
    // Two editors: the definition locked by one is refused to the other.
    uint16_t h2 = 0;
    req.create = false;
    ASSERT_EQ(xio_ask_file(req, h2), XIO_OK);
    EXPECT_EQ(xio_start_writes(h), XIO_OK);
    EXPECT_EQ(xio_start_writes(h2), XIO_OK);  // several programs may keep it open for writing
    xio_init_record(h, 2);
    put(2, "DTABLE", "Main");
    put(2, "DAPPL", "", 2);
    put(2, "DFIELD", "", 16);
    ASSERT_EQ(xio_rd_record(h, 2, 0, 1), XIO_OK);
    x_value_def v;
    v.text = "MAIN";
    xio_put_field(h2, 2, xio_num(h2, XIO_NUM_RECORD, 2, "DTABLE"), v);
    v.number = 2;
    xio_put_field(h2, 2, xio_num(h2, XIO_NUM_RECORD, 2, "DAPPL"), v);
    v.number = 16;
    xio_put_field(h2, 2, xio_num(h2, XIO_NUM_RECORD, 2, "DFIELD"), v);
    EXPECT_EQ(xio_rd_record(h2, 2, 0, 1), XIO_LOCKED);
    xio_cls_file(h2);
    xio_cls_file(h);
    std::filesystem::remove_all(dir);
}

TEST_F(ShippedDictionaries, GeneralLedgerRunsStandInFieldOrder) {
    auto d = dict("GLM");
    ASSERT_TRUE(d);
    // Account: accrual amounts ACRBAL..<ACCRBAL, cash ACCRBAL..<AOSTMP, each holding its six future
    // periods, future balance and its four thirteenth-period fields.
    const uint16_t acr = no(*d, 1, "ACRBAL"), ccr = no(*d, 1, "ACCRBAL"), stamp = no(*d, 1, "AOSTMP");
    ASSERT_LT(acr, ccr);
    ASSERT_LT(ccr, stamp);
    for (const char* f : {"AFP1", "AFP6", "AFTBAL", "AP12", "AYP12", "ADP12", "ADYP12"}) {
        EXPECT_GT(no(*d, 1, f), acr) << f;
        EXPECT_LT(no(*d, 1, f), ccr) << f;
    }
    for (const char* f : {"ACFP1", "ACFP6", "ACFTBAL", "ACP12", "ACAYP12", "ACDP12", "ACDYP12"}) {
        EXPECT_GT(no(*d, 1, f), ccr) << f;
        EXPECT_LT(no(*d, 1, f), stamp) << f;
    }
    for (uint16_t n = acr; n < stamp; ++n) EXPECT_EQ(d->fields[n].def.type, XIO_TYPE_NUMBER) << d->fields[n].def.name;
    // Prefix records: 52 calendar dates from PxP2Y1 to PxP1F13; P, P+1, P+2; closed flags; partners.
    for (auto [rec, p] : {std::pair{3, "PA"}, {4, "PB"}, {5, "PC"}}) {
        const std::string P = p;
        const uint16_t D = no(*d, rec, P + "P2Y1");
        EXPECT_EQ(no(*d, rec, P + "P1F13"), D + 51);
        EXPECT_EQ(no(*d, rec, P + "PCY1"), D + 26);
        for (uint16_t n = D; n <= D + 51; ++n) EXPECT_EQ(d->fields[n].def.type, XIO_TYPE_DATE);
        const uint16_t Pd = no(*d, rec, P + "PDATE");
        EXPECT_EQ(no(*d, rec, P + "PCODE"), Pd + 1);
        EXPECT_EQ(no(*d, rec, P + "FDATE"), Pd + 2);
        EXPECT_EQ(no(*d, rec, P + "PCL26"), no(*d, rec, P + "PCL1") + 25);
        const uint16_t par = no(*d, rec, P + "PAR1");
        EXPECT_EQ(no(*d, rec, P + "PAR50"), par + 149);  // 50 triples
        EXPECT_EQ(d->fields[par + 1].def.decimals, 6);  // a percentage follows each partner number
        EXPECT_EQ(d->fields[par + 2].def.keyFormat, 9);  // then the retained-earnings base account
        EXPECT_EQ(d->fields[no(*d, rec, P + "BLLVL")].def.defaultValue.number, 1);
        EXPECT_EQ(d->fields[no(*d, rec, P + "PRCTL")].def.defaultValue.number, 1);
    }
    // Settings headers.
    for (const char* f : {"FISCENT", "BLLVL", "U13PA", "TYPEDCA", "INTRCHK", "PRTNRS", "APBNK"}) hno(*d, 1, f);
    for (const char* f : {"CREATED", "ALEN", "BLEN", "CLEN", "BSLEN", "SUFLEN"}) hno(*d, 3, f);
    EXPECT_EQ(d->fields[1].def.name, "AACCT");  // field 1 is a required key, never an optional field
    EXPECT_EQ(d->record(8)->primaryKey.size(), 3u);

    auto t = dict("GLT");
    ASSERT_TRUE(t);
    for (const char* f : {"TACCT", "TACCTDT", "TAORC", "TDEBIT", "TCREDIT", "TDRCR", "TRUN", "TSEQ", "TBATCH", "TAPPL",
                          "TSOURCE", "TEQUIP", "TARCUST"})
        no(*t, 1, f);
}

TEST_F(ShippedDictionaries, CashManagementRunsStandInFieldOrder) {
    auto d = dict("CMM");
    ASSERT_TRUE(d);
    // Each run the bank-account converter walks by field number holds exactly its fields.
    auto walk = [&](const char* first, const char* last) {
        std::vector<std::string> names;
        for (uint16_t n = no(*d, 1, first); n && n <= no(*d, 1, last); ++n) names.push_back(d->fields[n].def.name);
        return names;
    };
    EXPECT_EQ(walk("BAPCSHB", "BPRCASH"),
              (std::vector<std::string>{"BAPCSHB", "BAPCSHF", "BPMCSHB", "BPMCSHF", "BRCCASH", "BGENCSH", "BPRCASH"}));
    EXPECT_EQ(walk("BRGBLNC", "BPSBLNC"), (std::vector<std::string>{"BRGBLNC", "BBKBLNC", "BPSBLNC"}));
    EXPECT_EQ(walk("BRECBAL", "BRECBAL"), (std::vector<std::string>{"BRECBAL"}));
    EXPECT_EQ(walk("BOPNCHK", "BLYINT"), (std::vector<std::string>{"BOPNCHK", "BOPNDEP", "BYTDINT", "BLYINT"}));
    for (const char* run : {"BAPCSHB", "BRGBLNC", "BOPNCHK"})
        for (uint16_t n = no(*d, 1, run); n <= no(*d, 1, run) + 2; ++n)
            EXPECT_EQ(d->fields[n].def.type, n >= no(*d, 1, "BRGBLNC") ? XIO_TYPE_NUMBER : XIO_TYPE_TEXT)
                << d->fields[n].def.name;
    // The cash accounts show as GL accounts; the base ones as base accounts.
    for (const char* f : {"BAPCSHB", "BPMCSHB"}) EXPECT_EQ(d->fields[no(*d, 1, f)].def.keySection, 7) << f;
    for (const char* f : {"BAPCSHF", "BPMCSHF", "BRCCASH", "BGENCSH", "BPRCASH"}) {
        EXPECT_EQ(d->fields[no(*d, 1, f)].def.keyFormat, 9) << f;
        EXPECT_EQ(d->fields[no(*d, 1, f)].def.keySection, 0) << f;
    }
    EXPECT_EQ(d->fields[no(*d, 1, "BRECBAL")].def.type, XIO_TYPE_NUMBER);
    EXPECT_EQ(d->record(5)->primaryKey.size(), 1u);
    EXPECT_EQ(d->fields[d->record(5)->primaryKey[0]].def.name, "LTBNKAC");
    for (const char* f : {"LTBNKAC", "LTAPC", "LTAPCDT", "LTAPCA", "LTPRC", "LTPRCDT", "LTPRCA", "LTDEPA", "LTDEPDT"}) no(*d, 5, f);
    hno(*d, 2, "CMULTCA");
    EXPECT_EQ(d->fields[no(*d, 1, "BSASTAT")].def.items.size(), 3u);
}

TEST_F(ShippedDictionaries, IssuesFileKeepsTheLinkFieldsInsideTheRunTheIssuesConverterResets) {
    auto d = dict("TLI");
    ASSERT_TRUE(d);
    const uint16_t first = no(*d, 1, "R1ODBC"), last = no(*d, 1, "PRTSEQ");
    // ISSUE, the long text and the list fields stand before the run.
    for (const char* f : {"ISSUE", "FORMESS", "CLASSIF", "URGENCY", "FOLLOWU", "STATUS", "PROBLEM"})
        EXPECT_LT(no(*d, 1, f), first) << f;
    // The PM link fields lie together inside it, the revision between property and lease.
    const uint16_t from = no(*d, 1, "PMPROP"), to = no(*d, 1, "PMLEASE");
    EXPECT_LT(first, from);
    EXPECT_LT(to, last);
    EXPECT_EQ(to - from, 4);
    for (const char* f : {"PMUNIT", "PMTENAN", "PMREV"}) {
        EXPECT_GT(no(*d, 1, f), from) << f;
        EXPECT_LT(no(*d, 1, f), to) << f;
    }
    // The rest of the run holds a field of each type the reset knows.
    std::set<uint16_t> types;
    for (uint16_t n = first; n <= last; ++n)
        if (n < from || n > to) types.insert(d->fields[n].def.type);
    EXPECT_EQ(types, (std::set<uint16_t>{0, 1, 2, 3, 5, 6, 7}));
    EXPECT_EQ(d->fields[no(*d, 2, "DATADES")].def.length, 80);
    hno(*d, 1, "LASTID");
    EXPECT_EQ(d->fields[no(*d, 30, "UDTEXT1")].def.udFlag, 0);
    auto z = dict("PMZ");
    ASSERT_TRUE(z);
    EXPECT_EQ(z->record(4)->primaryKey.size(), 3u);
    EXPECT_EQ(z->record(2)->primaryKey.size(), 2u);
}

}  // namespace
}  // namespace dz::test
