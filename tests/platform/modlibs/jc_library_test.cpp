// Our JC module library through its thunks: the JC index layout behind JCM_NUM (the totals
// rebuild's mapping tables), cost-code levels, the date context and the tax group of a job
// cost; the thunks' fallbacks and the JC interface factories; the GL account builder.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <set>
#include <sstream>
#include <tuple>
#include <unistd.h>
#include <vector>

#include "modules/entries.h"
#include "modules/module_dlls.h"
#include "modules/module_objects.h"
#include "platform/datafile/xio.h"
#include "platform/modlibs/gl_account_builder.h"
#include "platform/modlibs/jc_cost_code.h"
#include "platform/modlibs/registry.h"
#include "platform/suite/company.h"

namespace dz::modules {
namespace {

using suite::KeyFormat;
using suite::KeySection;

// Cost-code format of `widths.size()` sections joined by '-'.
KeyFormat cost_code_format(const std::vector<int>& widths) {
    KeyFormat f;
    f.number = 18;
    for (size_t i = 0; i < widths.size(); ++i)
        f.sections.push_back({"Section " + std::to_string(i + 1), widths[i], i + 1 < widths.size() ? "-" : "", true, false});
    return f;
}

const std::map<int, std::string> kGlDescriptions = {
    {6, "Prefix"}, {7, "Base account"}, {8, "Account"}, {9, "Prefix B"}, {10, "Prefix C"}};

// A GL account format: prefix levels of widths 2, 1, 2, base 4, suffix 2.
KeyFormat gl_format(int levels) {
    KeyFormat f;
    f.number = 9;
    f.prefix_levels = levels;
    const int widths[] = {2, 1, 2};
    for (int i = 0; i < levels; ++i) f.sections.push_back({"Prefix", widths[i], "-", true, false});
    f.sections.push_back({"Base", 4, "-", true, false});
    f.sections.push_back({"Suffix", 2, "", true, false});
    f.gl_descriptions = kGlDescriptions;
    return f;
}

class JcLibrary : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = std::filesystem::temp_directory_path() / ("dz_jclib_" + std::to_string(::getpid()));
        std::filesystem::remove_all(dir_);
        std::filesystem::create_directories(dir_);
        Open(suite::default_settings({"GL", "JC", "AP"}));
    }
    void TearDown() override { Close(); std::filesystem::remove_all(dir_); }

    void Open(suite::CompanySettings s) {
        suite::write_settings(dir_ / suite::kSettingsFileName, s);
        suite::open_company(dir_);
        ours_ = modlibs::our_module_libraries();
        modlibs::set_registry(&ours_);
        ASSERT_TRUE(LoadModuleDlls());
        xio_ask_request req;
        req.abbr = "JCM";
        req.fileNo = 1;
        req.create = true;
        ASSERT_EQ(xio_ask_file(req, jcm_), XIO_OK) << xio_error_text();
    }
    void Close() {
        if (jcm_) xio_cls_file(jcm_);
        jcm_ = 0;
        ReleaseModuleDlls();
        modlibs::set_registry(nullptr);
        suite::close_company();
    }
    void Reopen(suite::CompanySettings s) {
        Close();
        Open(std::move(s));
    }
    void WithCostCodeFormat(const std::vector<int>& widths) {
        auto s = suite::default_settings({"GL", "JC", "AP"});
        s.formats[18] = cost_code_format(widths);
        Reopen(s);
    }

    uint16_t Num(uint16_t rec, const std::string& name) { return xio_num(jcm_, XIO_NUM_RECORD, rec, name); }
    void Put(uint16_t rec, const std::string& name, const std::string& text) {
        x_value_def v;
        v.text = text;
        ASSERT_EQ(xio_put_field(jcm_, rec, Num(rec, name), v), XIO_OK) << name;
    }
    void Put(uint16_t rec, const std::string& name, double number) {
        x_value_def v;
        v.number = number;
        ASSERT_EQ(xio_put_field(jcm_, rec, Num(rec, name), v), XIO_OK) << name;
    }
    std::string Text(uint16_t rec, const std::string& name) {
        x_value_def v;
        xio_get_field(jcm_, rec, Num(rec, name), v);
        return v.text;
    }
    // Writes a record whose fields are given as name/text pairs and name/number pairs.
    void Write(uint16_t rec, const std::vector<std::pair<std::string, std::string>>& texts,
               const std::vector<std::pair<std::string, double>>& numbers = {}) {
        xio_init_record(jcm_, rec);
        for (const auto& [n, t] : texts) Put(rec, n, t);
        for (const auto& [n, v] : numbers) Put(rec, n, v);
        ASSERT_EQ(xio_wr_record(jcm_, rec), XIO_OK) << xio_error_text();
    }

    std::filesystem::path dir_;
    modlibs::Registry ours_;
    uint16_t jcm_ = 0;
};

// ---- The JC index layout ------------------------------------------------------------------

// One mapping row: target index, source index, third column (flag or required type).
struct Row {
    int target, source, third;
};

// Expands runs "a-b/c-d/x" (columns of one value repeat) into rows; two-column runs get 0.
std::vector<Row> rows(const std::string& runs) {
    std::vector<Row> out;
    std::stringstream all(runs);
    std::string run;
    while (std::getline(all, run, ',')) {
        std::vector<std::vector<int>> cols;
        std::stringstream parts(run);
        std::string col;
        while (std::getline(parts, col, '/')) {
            const auto dash = col.find('-');
            const int a = std::stoi(col), b = dash == std::string::npos ? a : std::stoi(col.substr(dash + 1));
            std::vector<int> v;
            for (int i = a; i <= b; ++i) v.push_back(i);
            cols.push_back(v);
        }
        size_t n = 0;
        for (const auto& c : cols) n = std::max(n, c.size());
        auto at = [&](size_t c, size_t i) { return c >= cols.size() ? 0 : cols[c].size() == 1 ? cols[c][0] : cols[c][i]; };
        for (size_t i = 0; i < n; ++i) out.push_back({at(0, i), at(1, i), at(2, i)});
    }
    return out;
}

// The totals rebuild's tables: A phase into job, B extra into job, C phase into extra, D member
// cost codes into their group (target = source), E categories into a cost code, F a cost
// code's own fields.
const std::vector<Row> kA = rows(
    "87-88/19-20/1, 422-423/201-202/1, 89-90/21-22/1, 390-394/191-195/1, 91-102/23-34/1, 112-115/35-38/0, "
    "401-405/196-200/0, 116-128/43-55/0, 137-144/72-79/0, 154-205/88-139/0, 380-383/183-186/0, 206-211/140-145/0, "
    "217-232/157-172/0");
const std::vector<Row> kB = rows(
    "234-235/17-18, 424-425/187-188, 236-237/19-20, 406-410/171-175, 238-255/21-38, 411-416/176-181, 256/39, "
    "257-260/41-44, 417-421/182-186, 261-273/45-57, 282-289/66-73, 299-350/83-134, 384-387/165-168, 351-356/135-140, "
    "357-375/143-161");
const std::vector<Row> kC = rows(
    "17-18/19-20/1, 187-188/201-202/1, 19-20/21-22/1, 171-175/191-195/1, 21-32/23-34/1, 41-44/35-38/0, "
    "182-186/196-200/0, 45-57/43-55/0, 66-73/72-79/0, 83-134/88-139/0, 165-168/183-186/0, 135-140/140-145/0, "
    "146-161/157-172/0");
const std::vector<Row> kD = rows(
    "19-20/19-20/1, 201-202/201-202/1, 21-22/21-22/1, 191-195/191-195/1, 23-34/23-34/1, 35-55/35-55/0, "
    "64-79/64-79/0, 88-139/88-139/0, 183-186/183-186/0, 140-145/140-145/0, 157-172/157-172/0");
const std::vector<Row> kE = rows(
    "35-38/18-21/0, 43-55/26-38/0, 72-79/55-62/0, 88/21/1, 89/25/1, 90/21/2, 91/21/3, 92/21/4, 93/25/4, 94/21/5, "
    "95/21/6, 96-101/29/1-6, 102-107/30/1-6, 108/31/1, 109/47/1, 110/31/2, 111/31/3, 112/31/4, 113/47/4, 114/31/5, "
    "115/31/6, 116/34/1, 117/50/1, 118/34/2, 119/34/3, 120/34/4, 121/50/4, 122/34/5, 123/34/6, 124/35/1, 125/51/1, "
    "126/35/2, 127/35/3, 128/35/4, 129/51/4, 130/35/5, 131/35/6, 132/36/1, 133/52/1, 134/36/2, 135/36/3, 136/36/4, "
    "137/52/4, 138/36/5, 139/36/6, 183/37/1, 184/53/1, 185/37/4, 186/53/4, 140-145/55/1-6, 163-172/74-83/0");
const std::vector<Row> kF = rows(
    "88/38/1, 89/42/1, 90/38/2, 91/38/3, 92/38/4, 93/42/4, 94/38/5, 95/38/6, 96-101/46/1-6, 102-107/47/1-6, 108/48/1, "
    "109/64/1, 110/48/2, 111/48/3, 112/48/4, 113/64/4, 114/48/5, 115/48/6, 116/51/1, 117/67/1, 118/51/2, 119/51/3, "
    "120/51/4, 121/67/4, 122/51/5, 123/51/6, 124/52/1, 125/68/1, 126/52/2, 127/52/3, 128/52/4, 129/68/4, 130/52/5, "
    "131/52/6, 132/53/1, 133/69/1, 134/53/2, 135/53/3, 136/53/4, 137/69/4, 138/53/5, 139/53/6, 183/54/1, 184/70/1, "
    "185/54/4, 186/70/4, 140-145/72/1-6");

constexpr uint16_t kJob = 1, kExtra = 2, kPhase = 3, kCategory = 4;

TEST_F(JcLibrary, TheMappingTablesHaveTheirRowCounts) {
    EXPECT_EQ(kA.size(), 131u);
    EXPECT_EQ(kB.size(), 147u);
    EXPECT_EQ(kC.size(), 131u);
    EXPECT_EQ(kD.size(), 138u);
    EXPECT_EQ(kE.size(), 97u);
    EXPECT_EQ(kF.size(), 62u);
}

TEST_F(JcLibrary, EveryIndexOfTheMappingTablesResolves) {
    for (auto [table, target, source] :
         std::vector<std::tuple<const std::vector<Row>*, uint16_t, uint16_t>>{{&kA, kJob, kPhase}, {&kB, kJob, kExtra},
                                                                              {&kC, kExtra, kPhase}, {&kD, kPhase, kPhase},
                                                                              {&kE, kPhase, kCategory}, {&kF, kPhase, kPhase}})
        for (const Row& r : *table) {
            const uint16_t t = JCM_NUM(jcm_, 2, target, static_cast<uint16_t>(r.target));
            const uint16_t s = JCM_NUM(jcm_, 2, source, static_cast<uint16_t>(r.source));
            EXPECT_NE(t, 0) << "record " << target << " index " << r.target;
            EXPECT_NE(s, 0) << "record " << source << " index " << r.source;
            // A target is an amount of its own record.
            xio_fld_def d;
            ASSERT_EQ(xio_get_fld_def(jcm_, t, d), XIO_OK);
            EXPECT_EQ(d.record, target);
            EXPECT_EQ(d.type, XIO_TYPE_NUMBER) << d.name;
        }
}

TEST_F(JcLibrary, KeysTypesAndDifferenceAnchorsSitAtTheirIndexes) {
    const std::vector<std::tuple<uint16_t, uint16_t, const char*>> named = {
        {kJob, 1, "JOB"},      {kExtra, 1, "XJOB"},   {kExtra, 2, "EXTRA"},   {kPhase, 1, "PJOB"},
        {kPhase, 2, "PEXTRA"}, {kPhase, 3, "PHASE"},  {kPhase, 13, "PCTYPE"}, {kCategory, 1, "CJOB"},
        {kCategory, 2, "CEXTRA"}, {kCategory, 3, "CPHASE"}, {kCategory, 14, "CCTYPE"},
        {kJob, 91, "JJTDWB"},  {kJob, 97, "JJTDRH"},  {kJob, 103, "JJTDPY"},  {kJob, 109, "JBLBAL"},
        {kExtra, 21, "XJTDWB"}, {kExtra, 27, "XJTDRH"}, {kExtra, 33, "XJTDPY"}, {kExtra, 39, "XBLBAL"},
        {kPhase, 23, "PJTDWB"}, {kPhase, 29, "PJTDRH"}, {kPhase, 34, "PNMRH"}, {kPhase, 88, "PTLEST"},
    };
    for (auto [rec, index, name] : named) EXPECT_EQ(JCM_NUM(jcm_, 2, rec, index), Num(rec, name)) << name;
    // The job's second difference reads the extras' totals of the same three amounts.
    EXPECT_EQ(JCM_NUM(jcm_, 2, kJob, 256), JCM_NUM(jcm_, 2, kJob, 238) + 18);
}

TEST_F(JcLibrary, FlaggedRowsAreTheBillingRunsOfEachRecord) {
    auto flagged = [&](const std::vector<Row>& table, uint16_t rec) {
        std::vector<uint16_t> v;
        for (const Row& r : table)
            if (r.third == 1) v.push_back(JCM_NUM(jcm_, 2, rec, static_cast<uint16_t>(r.target)));
        std::sort(v.begin(), v.end());
        return v;
    };
    auto run = [](uint16_t first, int n) {
        std::vector<uint16_t> v;
        for (int i = 0; i < n; ++i) v.push_back(static_cast<uint16_t>(first + i));
        return v;
    };
    EXPECT_EQ(flagged(kA, kJob), run(Num(kJob, "JOCNT"), 23));
    EXPECT_EQ(flagged(kC, kExtra), run(Num(kExtra, "XOCNT"), 23));
    const auto phase = flagged(kD, kPhase);
    ASSERT_EQ(phase.size(), 23u);
    for (uint16_t f : phase)
        EXPECT_TRUE((f >= Num(kPhase, "POSV") && f <= Num(kPhase, "PNMASV")) ||
                    (f >= Num(kPhase, "PJTDWB") && f <= Num(kPhase, "PNMRH")))
            << f;
}

TEST_F(JcLibrary, OtherTargetsLieInTheAccumulatedRanges) {
    using Range = std::pair<uint16_t, uint16_t>;
    auto within = [](uint16_t f, const std::vector<Range>& ranges) {
        return std::any_of(ranges.begin(), ranges.end(), [f](const Range& r) { return f >= r.first && f <= r.second; });
    };
    auto range = [&](uint16_t rec, const char* a, const char* b) { return Range{Num(rec, a), Num(rec, b)}; };
    const std::vector<Range> jobA = {range(kJob, "JOEST", "JJTDODP"), range(kJob, "JPFAM1", "JFRMT6")};
    const std::vector<Range> jobB = {range(kJob, "JXOCNT", "JFRMTX6")};
    const std::vector<Range> extraC = {range(kExtra, "XOEST", "XJTDODP"), range(kExtra, "XPFA1", "XFRMT6")};
    const std::vector<Range> phaseDE = {range(kPhase, "POEST", "PTEST"), range(kPhase, "POUEST", "PJTDODP"),
                                        range(kPhase, "PFRMT1", "PFRMT6")};
    const std::vector<Range> phaseF = {range(kPhase, "PTLEST", "PJTDODP")};
    auto idx = [&](uint16_t rec, int i) { return JCM_NUM(jcm_, 2, rec, static_cast<uint16_t>(i)); };
    for (const Row& r : kA) {
        if (r.third != 0) continue;
        EXPECT_TRUE(within(idx(kJob, r.target), jobA)) << "A " << r.target;
    }
    for (const Row& r : kB) EXPECT_TRUE(within(idx(kJob, r.target), jobB)) << "B " << r.target;
    for (const Row& r : kC) {
        if (r.third != 0) continue;
        EXPECT_TRUE(within(idx(kExtra, r.target), extraC)) << "C " << r.target;
    }
    for (const Row& r : kD) {
        if (r.third != 0) continue;
        EXPECT_TRUE(within(idx(kPhase, r.target), phaseDE)) << "D " << r.target;
    }
    for (const Row& r : kE) EXPECT_TRUE(within(idx(kPhase, r.target), phaseDE)) << "E " << r.target;
    for (const Row& r : kF) {
        EXPECT_TRUE(within(idx(kPhase, r.target), phaseF)) << "F " << r.target;
        EXPECT_FALSE(within(idx(kPhase, r.source), phaseF)) << "F source " << r.source;
    }
    // Billing amounts are kept as converted: outside every range the handlers clear.
    std::vector<Range> jobAll = jobA;
    jobAll.push_back(jobB.front());
    for (uint16_t f = Num(kJob, "JOCNT"); f <= Num(kJob, "JLSTDRR"); ++f) EXPECT_FALSE(within(f, jobAll)) << f;
    for (uint16_t f = Num(kExtra, "XOCNT"); f <= Num(kExtra, "XLSTDRR"); ++f) EXPECT_FALSE(within(f, extraC)) << f;
    EXPECT_FALSE(within(Num(kJob, "JJTDPY"), jobAll));
    EXPECT_FALSE(within(Num(kExtra, "XJTDPY"), extraC));
}

TEST_F(JcLibrary, AnIndexNoFieldCarriesAnswersZero) {
    EXPECT_EQ(JCM_NUM(jcm_, 2, kJob, 0), 0);
    EXPECT_EQ(JCM_NUM(jcm_, 2, kJob, 60), 0);     // between the job's own fields and its billing
    EXPECT_EQ(JCM_NUM(jcm_, 2, kJob, 426), 0);    // past the last
    EXPECT_EQ(JCM_NUM(jcm_, 2, kPhase, 17), 0);
    EXPECT_EQ(JCM_NUM(jcm_, 2, 5, 1), 0);         // draws carry no index
    EXPECT_EQ(JCM_NUM(jcm_, 2, 99, 1), 0);        // no such record
    EXPECT_EQ(JCM_NUM(jcm_, 1, kJob, 1), 0);      // a header is not asked for
    EXPECT_EQ(JCM_NUM(0, 2, kJob, 1), 0);         // no file
    EXPECT_NE(JCM_NUM(jcm_, 2, kJob, 1), 0);
}

// ---- Cost-code levels ---------------------------------------------------------------------

TEST_F(JcLibrary, GroupPhaseLevelsByCostCodeFormat) {
    struct Case {
        std::vector<int> widths;
        const char* code;
        int group;
        uint16_t level;
    };
    const std::vector<Case> cases = {
        {{2, 2, 2}, "01-02-03", 0, 3}, {{2, 2, 2}, "010203", 0, 3},   {{2, 2, 2}, "01-02-00", 1, 2},
        {{2, 2, 2}, "01-00-00", 1, 1}, {{2, 2, 2}, "01-00-03", 1, 1}, {{2, 2, 2}, "01", 1, 1},
        {{2, 2, 2}, "", 1, 0},         {{2, 2, 2}, "00-00-00", 1, 0}, {{2, 2, 2}, "01-  -  ", 1, 1},
        {{6}, "01", 0, 1},             {{6}, "000000", 1, 0},         {{6}, "", 1, 0},
        {{2, 2, 2, 2}, "01-02-03-04", 0, 4}, {{2, 2, 2, 2}, "01-02-03-00", 1, 3}, {{2, 2, 2, 2}, "01-02", 1, 2},
    };
    std::vector<int> current;
    for (const Case& c : cases) {
        if (c.widths != current) {
            WithCostCodeFormat(c.widths);
            current = c.widths;
        }
        uint16_t level = 99;
        EXPECT_EQ(JC_GROUP_PHASE(c.code, 18, &level) != 0, c.group != 0) << c.code << " in " << c.widths.size();
        EXPECT_EQ(level, c.level) << c.code << " in " << c.widths.size();
    }
}

TEST(JcCostCode, ZeroOrBlankAndZeroFill) {
    EXPECT_TRUE(modlibs::IsZeroOrBlank(""));
    EXPECT_TRUE(modlibs::IsZeroOrBlank("0 0 "));
    EXPECT_FALSE(modlibs::IsZeroOrBlank("0A"));
    EXPECT_FALSE(modlibs::IsZeroOrBlank("-"));
    std::string s = "12 b";
    modlibs::ZeroFill(s);
    EXPECT_EQ(s, "0000");
}

// ---- Date context -------------------------------------------------------------------------

TEST_F(JcLibrary, DateContextTakesTheJcSettingsDates) {
    JCDateContext* ctx = nullptr;
    // A new file: both dates unset.
    ASSERT_EQ(JC_INIT_DATE(&ctx, 1160, jcm_), 0);
    ASSERT_NE(ctx, nullptr);
    EXPECT_TRUE(ctx->periodEnd.blank());
    EXPECT_TRUE(ctx->lastAccountingDate.blank());
    EXPECT_EQ(JC_FREE_DATE(&ctx), 0);
    EXPECT_EQ(ctx, nullptr);

    ASSERT_EQ(xio_rd_header(jcm_, 2, 1), XIO_OK);
    x_value_def v;
    v.date = {6, 30, 2026};
    ASSERT_EQ(xio_put_field(jcm_, 0, xio_num(jcm_, XIO_NUM_HEADER, 2, "CPEDATE"), v), XIO_OK);
    v.date = {7, 15, 2026};
    ASSERT_EQ(xio_put_field(jcm_, 0, xio_num(jcm_, XIO_NUM_HEADER, 2, "CLACTDT"), v), XIO_OK);
    ASSERT_EQ(xio_wr_header(jcm_, 2), XIO_OK);
    xio_free_header(jcm_, 2);

    ASSERT_EQ(JC_INIT_DATE(&ctx, 1160, jcm_), 0);
    ASSERT_NE(ctx, nullptr);
    EXPECT_EQ(ctx->periodEnd, (x_date_type{6, 30, 2026}));
    EXPECT_EQ(ctx->lastAccountingDate, (x_date_type{7, 15, 2026}));
    JC_FREE_DATE(&ctx);
}

TEST_F(JcLibrary, UnreadableSettingsGiveNoContext) {
    auto* stale = reinterpret_cast<JCDateContext*>(0x10);
    JCDateContext* ctx = stale;
    EXPECT_EQ(JC_INIT_DATE(&ctx, 1160, 0), 1);
    EXPECT_EQ(ctx, nullptr);
    EXPECT_EQ(JC_INIT_DATE(nullptr, 1160, jcm_), 1);
    EXPECT_EQ(JC_FREE_DATE(nullptr), 0);
}

// ---- Tax group of a job cost --------------------------------------------------------------

class JcTaxGroup : public JcLibrary {
protected:
    void SetUp() override {
        JcLibrary::SetUp();
        Write(kJob, {{"JOB", "J1"}, {"JLTXGRP", "TL"}, {"JMTXGRP", "TM"}, {"JSTXGRP", "TS"}, {"JETXGRP", "TE"},
                     {"JBTXGRP", "TB"}, {"JOTXGRP", ""}});
        Write(kPhase, {{"PJOB", "J1"}, {"PEXTRA", ""}, {"PHASE", "10"}}, {{"PCTYPE", 3}});
        Write(kPhase, {{"PJOB", "J1"}, {"PEXTRA", "X1"}, {"PHASE", "20"}}, {{"PCTYPE", 6}});  // other: no group
        Write(kPhase, {{"PJOB", "J1"}, {"PEXTRA", ""}, {"PHASE", "30"}}, {{"PCTYPE", 0}});
        Write(kCategory, {{"CJOB", "J1"}, {"CEXTRA", ""}, {"CPHASE", "10"}, {"CAT", "C1"}}, {{"CCTYPE", 4}});
    }
    std::string Group(const std::string& job, const std::string& extra, const std::string& phase,
                      const std::string& category, int* result = nullptr) {
        std::string out = "keep";
        const int r = JC_GET_COST_TAX_GROUP(jcm_, "", 0, job, extra, phase, category, out);
        if (result) *result = r;
        return out;
    }
};

TEST_F(JcTaxGroup, TheCategoryTypeWinsOverTheCostCodeType) {
    int r = 0;
    EXPECT_EQ(Group("J1", "", "10", "C1", &r), "TE");
    EXPECT_EQ(r, 1);
    EXPECT_EQ(Group("j1", "", "10", "c1"), "TE");  // keys compare without regard to case
    EXPECT_EQ(Group("J1", "", "10", ""), "TS");     // no category: the cost code's type
}

TEST_F(JcTaxGroup, AMissingRecordOrTypeLeavesTheOutputAlone) {
    int r = 1;
    EXPECT_EQ(Group("J9", "", "10", "", &r), "keep");  // no such job
    EXPECT_EQ(r, 0);
    EXPECT_EQ(Group("J1", "", "99", ""), "keep");      // no such cost code
    EXPECT_EQ(Group("J1", "", "10", "C9"), "keep");    // a category given but not on file
    EXPECT_EQ(Group("J1", "", "30", ""), "keep");      // type out of range
    EXPECT_EQ(Group("J1", "X1", "20", ""), "keep");    // the job has no group for that type
    EXPECT_EQ(Group("", "", "10", ""), "keep");
}

TEST_F(JcTaxGroup, TheCallersRecordBuffersAreKept) {
    xio_init_record(jcm_, kJob);
    Put(kJob, "JOB", "MINE");
    xio_init_record(jcm_, kPhase);
    Put(kPhase, "PHASE", "77");
    EXPECT_EQ(Group("J1", "", "10", "C1"), "TE");
    EXPECT_EQ(Text(kJob, "JOB"), "MINE");
    EXPECT_EQ(Text(kPhase, "PHASE"), "77");
}

// ---- Fallbacks and interface factories ----------------------------------------------------

class JcFallbacks : public JcLibrary {
protected:
    void SetUp() override {
        JcLibrary::SetUp();
        ReleaseModuleDlls();
        for (const char* e : {"JCM_NUM", "JC_GROUP_PHASE", "JC_INIT_DATE", "JC_FREE_DATE", "JC_GET_COST_TAX_GROUP"})
            ours_.remove_entry("JC", e);
        ASSERT_TRUE(LoadModuleDlls());
    }
};

TEST_F(JcFallbacks, UnboundEntriesAnswerTheirFixedResultsWithoutTouchingOutputs) {
    EXPECT_EQ(JCM_NUM(jcm_, 2, kJob, 1), 0);
    uint16_t level = 7;
    EXPECT_EQ(JC_GROUP_PHASE("01", 18, &level), 1);
    EXPECT_EQ(level, 7);
    JCDateContext* ctx = nullptr;
    EXPECT_EQ(JC_INIT_DATE(&ctx, 1160, jcm_), 1);
    EXPECT_EQ(ctx, nullptr);
    EXPECT_EQ(JC_FREE_DATE(&ctx), 0);
    std::string out = "keep";
    EXPECT_EQ(JC_GET_COST_TAX_GROUP(jcm_, "", 0, "J1", "", "10", "", out), 0);
    EXPECT_EQ(out, "keep");
}

// A test library's job validator that refuses everything.
class StrictJob : public modlibs::IjcValidJob {
public:
    int Check(const std::string&) override { return 5; }
    int Valid() override { return 0; }
};
modlibs::IjcValidJob* new_strict_job() { return new StrictJob(); }

TEST_F(JcLibrary, FactoriesGiveTheLibrarysObjectOrAnObjectWithoutEffect) {
    // Our library exports no factory: every thunk hands out a default object.
    modlibs::IjcValidJob* job = x_jc_new_valid_job();
    ASSERT_NE(job, nullptr);
    EXPECT_EQ(job->SetFile(jcm_), 0);
    EXPECT_EQ(job->Check("J1"), 0);
    EXPECT_EQ(job->Valid(), 1);
    job->Release();
    auto expectValid = [](auto* o) {
        ASSERT_NE(o, nullptr);
        EXPECT_EQ(o->SetFile(1), 0);
        EXPECT_EQ(o->Valid(), 1);
        o->Release();
    };
    expectValid(x_jc_new_valid_cat());
    expectValid(x_jc_new_valid_commitment());
    expectValid(x_jc_new_valid_commitment_item());
    expectValid(x_jc_new_valid_extra());
    expectValid(x_jc_new_valid_phase());
    expectValid(x_jc_new_valid_sphase());
    modlibs::IjcContractInfo* info = x_jc_new_contract_info();
    ASSERT_NE(info, nullptr);
    EXPECT_EQ(info->Read(jcm_, "J1", ""), 0);
    EXPECT_EQ(info->Contract(), "");
    info->Release();
    modlibs::IjcSendToBillings* send = x_jc_new_send_to_billings();
    ASSERT_NE(send, nullptr);
    EXPECT_FALSE(send->Sends(jcm_, "J1", "", "10"));
    send->Release();
    for (modlibs::IjcObject* o : {static_cast<modlibs::IjcObject*>(x_jc_new_jcm_job_interface()),
                                  static_cast<modlibs::IjcObject*>(x_jc_new_jcm_extra_interface())}) {
        ASSERT_NE(o, nullptr);
        o->Release();
    }

    // A library that exports the factory is called.
    ours_.add_entry("JC", "x_jc_new_valid_job", modlibs::entry_address<modlibs::entry::x_jc_new_valid_job>(&new_strict_job));
    job = x_jc_new_valid_job();
    ASSERT_NE(job, nullptr);
    EXPECT_EQ(job->Check("J1"), 5);
    EXPECT_EQ(job->Valid(), 0);
    job->Release();
}

// ---- GL account builder -------------------------------------------------------------------

class GlAccountBuilderTest : public JcLibrary {
protected:
    void WithPrefixLevels(int levels) {
        auto s = suite::default_settings({"GL", "JC", "AP"});
        s.formats[9] = gl_format(levels);
        Reopen(s);
    }
    // Forms through the object, as the AP converter does; "unchanged" when the output stays.
    std::string Form(const std::string& prefix, const std::string& base) {
        modlibs::GlAccountBuilder* builder = nullptr;
        EXPECT_EQ(CallModuleFunction(glAccountBuilderObjectID, glInterfaceID(4), &builder), kModuleCallOk);
        if (!builder) return "no builder";
        std::string out = "unchanged";
        builder->Form(0, prefix, base, 0, out);
        builder->Release();
        return out;
    }
};

TEST_F(GlAccountBuilderTest, JoinsPrefixAndBaseAsTheAccountFormatLaysThemOut) {
    WithPrefixLevels(2);
    EXPECT_EQ(Form("01-2", "4000-10"), "012400010");
    EXPECT_EQ(Form("012", "400010"), "012400010");  // unformatted in, the same out
    EXPECT_EQ(Form("01", "4000-10"), "unchanged");   // not a whole prefix
    EXPECT_EQ(Form("", "4000-10"), "unchanged");
    EXPECT_EQ(Form("01-2", ""), "unchanged");        // blank base
    EXPECT_EQ(Form("01-2", "   "), "unchanged");
}

TEST_F(GlAccountBuilderTest, WithoutPrefixesTheBaseIsTheAccount) {
    WithPrefixLevels(0);
    EXPECT_EQ(Form("", "4000-10"), "4000-10");
    EXPECT_EQ(Form("01", "400010"), "400010");
    EXPECT_EQ(Form("", ""), "unchanged");
}

TEST_F(GlAccountBuilderTest, TheAccountIsCutToTwentyFiveCharacters) {
    auto s = suite::default_settings({"GL", "JC", "AP"});
    KeyFormat f;
    f.number = 9;
    f.prefix_levels = 1;
    f.sections = {{"Prefix", 10, "-", true, false}, {"Base", 12, "-", true, false}, {"Suffix", 8, "", true, false}};
    f.gl_descriptions = kGlDescriptions;
    s.formats[9] = f;
    Reopen(s);
    const std::string out = Form("ABCDEFGHIJ", "BBBBBBBBBBBB" "SSSSSSSS");
    EXPECT_EQ(out, "ABCDEFGHIJ" "BBBBBBBBBBBB" "SSS");
    EXPECT_EQ(out.size(), modlibs::kGlBuiltAccountMax);
}

}  // namespace
}  // namespace dz::modules
