// The property-management data files: keys, runs walked by field number, list fields.
#include "support.h"
#include "platform/datafile/dictionary.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

namespace dz::test {
namespace {

class PmDictionaries : public ::testing::Test {
protected:
    void SetUp() override {
        std::string err;
        ASSERT_TRUE(xio_load_dictionaries(std::filesystem::path(DZ_SOURCE_DATA_DIR) / "dictionary", err)) << err;
    }
    std::shared_ptr<const xio::Dictionary> dict(const std::string& abbr) {
        std::string err;
        auto d = xio::get(abbr, err);
        EXPECT_TRUE(d) << abbr << ": " << err;
        return d;
    }
    static uint16_t no(const xio::Dictionary& d, uint16_t rec, const std::string& name) {
        const auto* r = d.record(rec);
        const uint16_t n = r ? d.fieldNumber(*r, name) : 0;
        EXPECT_NE(n, 0) << d.abbr << " " << rec << " " << name;
        return n;
    }
    static std::vector<std::string> key(const xio::Dictionary& d, uint16_t rec) {
        std::vector<std::string> names;
        if (const auto* r = d.record(rec))
            for (uint16_t f : r->primaryKey) names.push_back(d.fields[f].def.name);
        return names;
    }
    const std::vector<std::string> all_ = {"PMS", "PMP", "PML", "PMN", "PMR", "PMT"};
};

using Names = std::vector<std::string>;

TEST_F(PmDictionaries, FilesAndOpenCodes) {
    const std::pair<uint16_t, const char*> codes[] = {{50, "PMS"}, {52, "PMP"}, {54, "PML"}, {56, "PMN"}, {58, "PMR"}};
    for (auto [code, abbr] : codes) {
        std::string a;
        uint16_t fileNo = 0;
        ASSERT_TRUE(xio_registry_lookup(code, a, fileNo));
        EXPECT_EQ(a, abbr);
        EXPECT_EQ(fileNo, 1);
        EXPECT_EQ(xio_file_name(abbr, 1), std::string("MASTER.") + abbr);
    }
    // The transaction file is one layout in two files: new (1) and history (5).
    EXPECT_EQ(xio_file_name("PMT", 1), "CURRENT.PMT");
    EXPECT_EQ(xio_file_name("PMT", 5), "HISTORY.PMT");
    std::string a;
    uint16_t fileNo = 0;
    ASSERT_TRUE(xio_registry_lookup(68, a, fileNo));
    EXPECT_EQ(a, "PMT");
    EXPECT_EQ(fileNo, 5);
}

TEST_F(PmDictionaries, RecordKeys) {
    const struct {
        const char* abbr;
        uint16_t rec;
        Names key;
    } cases[] = {
        {"PMS", 1, {"CT"}}, {"PMS", 2, {"VALID"}}, {"PMS", 3, {"CORPID"}}, {"PMS", 4, {"MBID"}}, {"PMS", 5, {"CMID"}},
        {"PMS", 6, {"CPIID", "CPIDATE"}}, {"PMS", 7, {"PWID", "PWDATE"}}, {"PMS", 8, {"SICCODE"}},
        {"PMP", 1, {"PROP"}}, {"PMP", 3, {"PAPROP", "PATYPE"}}, {"PMP", 5, {"PCPROP", "PCCT"}}, {"PMP", 6, {"PLPROP"}},
        {"PMP", 7, {"PDPROP", "PDDTYPE"}}, {"PMP", 8, {"PFPROP", "PFSFTYP"}}, {"PMP", 9, {"PMPROP", "PMSFTYP", "PMMYR"}},
        {"PMP", 10, {"PCYPROP", "PCYSFT", "PCYYEAR"}}, {"PMP", 11, {"PFYPROP", "PFYSFT", "PFYFYE"}},
        {"PMP", 12, {"PPPROP", "PPTYPE", "PPNUM"}}, {"PMP", 13, {"PTPROP", "PTTXID", "PTYEAR"}},
        {"PMP", 15, {"PIPROP", "PISEQ"}}, {"PMP", 17, {"UPROP", "UNIT"}},
        {"PMP", 19, {"UFPROP", "UFUNIT", "UFSFTYP", "UFDATE"}}, {"PMP", 20, {"LUPROP", "LUUNIT", "LULEASE", "LUREV"}},
        {"PMP", 21, {"MIPROP", "MISRC"}}, {"PMP", 25, {"ULHPROP", "ULHUNIT", "ULHDATE"}},
        {"PMP", 26, {"UOHPROP", "UOHUNIT", "UOHDATE"}}, {"PMP", 32, {"UPTPROP", "UPTTXID", "UPTYEAR"}},
        {"PML", 1, {"LEASE", "LREV"}}, {"PML", 3, {"LDLEASE", "LDREV", "LDDTYPE", "LDUNIT"}},
        {"PML", 4, {"LMLEASE", "LMREV", "LMDATE"}}, {"PML", 5, {"LOLEASE", "LOREV", "LOSEQ"}},
        {"PML", 7, {"LPLEASE", "LPREV", "LPPRTYP", "LPNUM"}}, {"PML", 8, {"LILEASE", "LIREV", "LISEQ"}},
        {"PML", 10, {"LCLEASE", "LCREV", "LCCT"}}, {"PML", 11, {"LLLEASE", "LLREV"}},
        {"PML", 13, {"RCLEASE", "RCREV", "RCCT", "RCUNIT"}}, {"PML", 15, {"RCLLEAS", "RCLREV", "RCLCT", "RCLUNIT", "RCLEFDT"}},
        {"PML", 18, {"IELEASE", "IEREV", "IECT", "IECU"}},
        {"PMN", 1, {"TENANT"}}, {"PMN", 3, {"TATEN", "TATYPE"}}, {"PMN", 5, {"TENID", "TLEASE", "TLREV"}},
        {"PMR", 1, {"PRLEASE", "PRREV"}}, {"PMR", 2, {"SCLEASE", "SCREV", "SCSLCAT"}}, {"PMR", 3, {"BTLEASE", "BTREV", "BTSCAT"}},
        {"PMT", 1, {"BAPPL", "BSOURCE", "BATCH"}}, {"PMT", 2, {"PMTID"}}, {"PMT", 4, {"CFRUN", "CFSEQ"}},
        {"PMT", 5, {"MIRUN", "MISEQ"}}, {"PMT", 9, {"SVRUN", "SVSEQ"}},
    };
    for (const auto& c : cases) {
        auto d = dict(c.abbr);
        ASSERT_TRUE(d);
        EXPECT_EQ(key(*d, c.rec), c.key) << c.abbr << " record " << c.rec;
    }
    // Field 1 of every file is a key field, never an optional one.
    for (const auto& abbr : all_) {
        auto d = dict(abbr);
        ASSERT_TRUE(d);
        ASSERT_FALSE(d->records.empty());
        EXPECT_EQ(d->records.front().primaryKey.front(), 1) << abbr;
    }
}

TEST_F(PmDictionaries, KeyFieldsCarryTheirKeyFormats) {
    const struct {
        const char* abbr;
        uint16_t rec;
        const char* field;
        uint16_t format, section;
    } cases[] = {
        {"PMP", 1, "PROP", 400, 0},    {"PMP", 17, "UNIT", 401, 0},     {"PMN", 1, "TENANT", 402, 0},
        {"PML", 1, "LEASE", 403, 0},   {"PMP", 21, "MISRC", 411, 0},    {"PMS", 1, "CT", 415, 0},
        {"PMS", 3, "CORPID", 426, 0},  {"PMP", 1, "PGLPFX", 9, 6},      {"PMS", 1, "CTGLREV", 9, 7},
        {"PMP", 7, "PDDLIAB", 9, 7},   {"PMP", 21, "MIGL", 9, 0},       {"PMT", 4, "CFADR", 9, 0},
        {"PMT", 1, "BATCH", 1, 0},     {"PMP", 1, "POPBANK", 7, 0},     {"PML", 10, "LCGLPFX", 9, 6},
        {"PML", 1, "LREV", 404, 0},    {"PMR", 1, "PRREV", 404, 0},
    };
    for (const auto& c : cases) {
        auto d = dict(c.abbr);
        ASSERT_TRUE(d);
        const auto& f = d->fields[no(*d, c.rec, c.field)].def;
        EXPECT_EQ(f.keyFormat, c.format) << c.field;
        EXPECT_EQ(f.keySection, c.section) << c.field;
    }
    // "<default>" is a charge type every charge-control and property-charge key must hold.
    auto pml = dict("PML");
    ASSERT_TRUE(pml);
    EXPECT_GE(pml->fields[no(*pml, 10, "LCCT")].def.length, 9);
}

TEST_F(PmDictionaries, LateChargeStepsRepeatAtOneStride) {
    for (auto [abbr, rec, p] : {std::tuple{"PMP", 6, "PL"}, {"PML", 11, "LL"}}) {
        auto d = dict(abbr);
        ASSERT_TRUE(d);
        const std::string P = p;
        const int first = no(*d, rec, P + "ACT1"), last = no(*d, rec, P + "MAXD1");
        const int stride = no(*d, rec, P + "ACT2") - first;
        EXPECT_EQ(stride, last - first + 1) << abbr;
        const Names step = {"ACT", "CALC", "FREQ", "FRQD", "REP", "STF", "CGCL", "AMT", "PCT", "INRT", "FRML",
                            "GDPC", "GDF", "GCDY", "INT", "MAXD"};
        ASSERT_EQ(static_cast<int>(step.size()), stride);
        for (int n = 1; n <= 3; ++n)
            for (int i = 0; i < stride; ++i)
                EXPECT_EQ(d->fields[first + (n - 1) * stride + i].def.name, P + step[i] + std::to_string(n));
        // Items the checks print.
        const auto& calc = d->fields[no(*d, rec, P + "CALC2")].def.items;
        EXPECT_EQ(calc, (Names{"Fee", "Interest", "Formula"}));
        EXPECT_EQ(d->fields[no(*d, rec, P + "FREQ3")].def.items.at(2), "Every");
        EXPECT_EQ(d->fields[no(*d, rec, P + "GDPC1")].def.items, (Names{"Grace Days", "Grace Formula"}));
        EXPECT_EQ(d->fields[no(*d, rec, P + "CGCL1")].def.items.size(), 6u);
    }
}

TEST_F(PmDictionaries, EscalationBasesAndResultsAreRuns) {
    auto d = dict("PML");
    ASSERT_TRUE(d);
    const uint16_t abc1 = no(*d, 18, "IEABC1");
    EXPECT_EQ(no(*d, 18, "IEABC10"), abc1 + 27);
    for (int n = 0; n < 10; ++n) {
        // A charge type, or "<default>": plain text wider than the charge-type key format.
        EXPECT_EQ(d->fields[abc1 + 3 * n].def.keyFormat, 0);
        EXPECT_EQ(d->fields[abc1 + 3 * n].def.length, 10);
        EXPECT_EQ(d->fields[abc1 + 3 * n + 1].def.keyFormat, 401);  // unit
        EXPECT_EQ(d->fields[abc1 + 3 * n + 2].def.decimals, 2);     // amount
    }
    const uint16_t r1 = no(*d, 18, "IEI1R1");
    EXPECT_EQ(no(*d, 18, "IEI2R30"), r1 + 59);
    EXPECT_EQ(no(*d, 18, "IEFR"), r1 + 60);
    for (uint16_t f = r1; f < r1 + 60; ++f) EXPECT_EQ(d->fields[f].def.decimals, 5) << d->fields[f].def.name;
    EXPECT_EQ(d->fields[no(*d, 18, "IERETRO")].def.items.at(0), "No Retroactive Escal");
}

TEST_F(PmDictionaries, RetailAndManagerRuns) {
    auto r = dict("PMR");
    ASSERT_TRUE(r);
    const uint16_t sb = no(*r, 1, "PRSBRC1");
    EXPECT_EQ(no(*r, 1, "PRSBU1"), sb + 1);
    EXPECT_EQ(no(*r, 1, "PRSBU10"), sb + 19);
    EXPECT_EQ(r->fields[sb + 18].def.name, "PRSBR10");
    const uint16_t bp = no(*r, 3, "BTNBP1");
    EXPECT_EQ(no(*r, 3, "BTNBP10"), bp + 9);
    EXPECT_EQ(no(*r, 3, "BTF1"), bp + 10);
    EXPECT_EQ(no(*r, 3, "BTF5"), bp + 14);
    EXPECT_EQ(no(*r, 3, "BTA1"), bp + 15);
    EXPECT_EQ(no(*r, 3, "BTA10"), bp + 24);
    EXPECT_EQ(no(*r, 3, "BTOP1"), bp + 25);
    EXPECT_EQ(no(*r, 3, "BTOP10"), bp + 34);

    auto s = dict("PMS");
    ASSERT_TRUE(s);
    const uint16_t mb = no(*s, 4, "MBGLD"), mbEnd = no(*s, 4, "MBAPB");
    ASSERT_LT(mb, mbEnd);
    int accounts = 0;
    for (uint16_t f = mb; f <= mbEnd; ++f) accounts += s->fields[f].def.keyFormat == 9;
    EXPECT_GE(accounts, 1);
    EXPECT_EQ(s->fields[no(*s, 5, "CMTYPE")].def.items.at(2), "Recoverable expense");
    auto l = dict("PML");
    ASSERT_TRUE(l);
    EXPECT_EQ(l->fields[no(*l, 13, "RCAMTT")].def.items.at(1), "Formula");
}

TEST_F(PmDictionaries, TransactionFieldsNeverConvertedStandInClearingOrder) {
    auto d = dict("PMT");
    ASSERT_TRUE(d);
    const Names cf = {"CFCCEX", "CFBFRM", "CFBTO", "CFFRM", "CFTO", "CFCFRM", "CFCTO", "CFTSFRM", "CFTSTO",
                      "CFAPVND", "CFAPINV", "CFBLOC"};
    const Names mi = {"MIBFRM", "MIBTO", "MIFRM", "MITO", "MITSFRM", "MITSTO", "MICFRM", "MICTO", "MIBLOC"};
    for (auto [rec, names] : {std::pair{uint16_t{4}, cf}, {uint16_t{5}, mi}}) {
        const uint16_t first = no(*d, rec, names.front());
        for (std::size_t i = 0; i < names.size(); ++i) EXPECT_EQ(d->fields[first + i].def.name, names[i]);
    }
    EXPECT_EQ(d->fields[no(*d, 4, "CFCODE")].def.items.size(), 23u);
    ASSERT_TRUE(d->header(1));
    EXPECT_NE(d->fieldNumber(*d->header(1), "LASTRUN"), 0);
    auto s = dict("PMS");
    ASSERT_TRUE(s);
    for (auto [hdr, name] : {std::pair{uint16_t{1}, "LASTBAT"}, {uint16_t{1}, "LASTPMT"}, {uint16_t{2}, "TAXCTRL"}}) {
        ASSERT_TRUE(s->header(hdr));
        EXPECT_NE(s->fieldNumber(*s->header(hdr), name), 0) << name;
    }
}

TEST_F(PmDictionaries, EveryListFieldHasItemsAndADefaultAndDescriptionsAreShort) {
    for (const auto& abbr : all_) {
        auto d = dict(abbr);
        ASSERT_TRUE(d);
        for (std::size_t n = 1; n < d->fields.size(); ++n) {
            const auto& f = d->fields[n].def;
            EXPECT_LE(f.description.size(), 25u) << abbr << " " << f.name;
            if (!xio_is_choice_type(f.type)) continue;
            EXPECT_FALSE(f.items.empty()) << abbr << " " << f.name;
            EXPECT_GE(f.defaultValue.number, 1) << abbr << " " << f.name;
            EXPECT_LE(f.defaultValue.number, static_cast<double>(f.items.size())) << abbr << " " << f.name;
        }
    }
}

TEST_F(PmDictionaries, UserDefinedFieldRecordsHoldTheirRecordsKeys) {
    const struct {
        const char* abbr;
        uint16_t ud, base;
    } cases[] = {{"PMP", 30, 1}, {"PMP", 31, 17}, {"PMP", 32, 13}, {"PMN", 30, 1}, {"PML", 30, 1}};
    for (const auto& c : cases) {
        auto d = dict(c.abbr);
        ASSERT_TRUE(d);
        const auto* ud = d->record(c.ud);
        const auto* base = d->record(c.base);
        ASSERT_TRUE(ud && base) << c.abbr << " " << c.ud;
        ASSERT_EQ(ud->primaryKey.size(), base->primaryKey.size());
        for (std::size_t i = 0; i < ud->primaryKey.size(); ++i)
            EXPECT_EQ(d->fields[ud->primaryKey[i]].def.type, d->fields[base->primaryKey[i]].def.type);
        int targets = 0;
        for (uint16_t f = ud->firstField; f <= ud->lastField; ++f) targets += d->fields[f].def.udFlag == 0;
        EXPECT_GT(targets, 0);
    }
}

}  // namespace
}  // namespace dz::test
