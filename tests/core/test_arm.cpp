// The AR converter in process: references resolved across the two passes, contacts skipped as
// duplicates, custom lists, GL prefixes, Billing tables, taxes, and files that end early.
//
// Each test runs a small text file of the shipped template through Examine Files and/or Convert
// on a company with AR, GL, Billing and taxes (or whichever setting the test changes), and reads
// the report and notes and the records left on file.
#include "test_convert_support.h"

#include "convert/conversion_types.h"
#include "convert/progress.h"
#include "converters/ar/prepass_keys.h"
#include "converters/ar/xvarm.h"
#include "converters/gl/glm_fields.h"
#include "modules/module_dlls.h"
#include "platform/datafile/data_folder.h"
#include "platform/datafile/xio.h"
#include "platform/suite/xd.h"
#include "platform/ui/framework.h"
#include "platform/ui/print.h"

#include <gmock/gmock.h>

#include <functional>
#include <map>

namespace dz::ar::testing {
namespace {

using namespace dz::convert::testing;
using convert::ConvertContext;
using convert::ConvertProgress;
using convert::OpenFilesList;
using convert::TextFileEntry;
using Fields = std::map<std::string, std::string>;

const std::vector<std::string> kContactColumns = {"COCONT", "CONAME", "COCUST", "COTYPEA", "NOTES"};
const std::vector<std::string> kCustomerColumns = {
    "CUST",    "CNAME",   "CCONT1",  "CCONT2",  "CCONT3",  "CCONT4",  "CCONT5",  "CCONT6",  "CCONT7",
    "CCONT8",  "CCONT9",  "CCONT10", "CBCONT",  "CTYPEA",  "CTRADE",  "CCRDRTG", "CBFREQA", "CTXGRTB",
    "CTXGRPL", "CTXGRPM", "CTXGRPS", "CTXGRPE", "CTXGRPO", "CTXGRPT", "CGLPREF", "CHISTOT", "CINVFMT",
    "CLSTINT", "CLSTINN", "CRATEL",  "CRATEM",  "CRATES",  "CRATEE",  "CRATEO",  "CRATET",  "CMARKTB",
    "CADDTB",  "CDISCNT", "CTXGR",   "CRCERT",  "CGENDAT", "CGENSEQ", "NOTES"};

std::string Line(const std::string& format, const std::vector<std::string>& columns, const Fields& values) {
    std::string out = format;
    std::size_t used = 0;
    for (const auto& c : columns) {
        out += ",";
        if (const auto it = values.find(c); it != values.end()) {
            out += it->second;
            ++used;
        }
    }
    EXPECT_EQ(used, values.size()) << "a column not in format " << format;
    return out + "\r\n";
}
std::string Contact(const Fields& f) { return Line("CONT", kContactColumns, f); }
// A customer with the required fields filled unless the test gives them.
std::string Customer(Fields f) {
    f.emplace("CHISTOT", "1");
    return Line("CUST", kCustomerColumns, f);
}

std::size_t Count(const std::string& text, const std::string& what) {
    std::size_t n = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

// A converter a test steers: the operator's stop after the settings or at the n-th record
// handled (pass 1 handles every data record first, then pass 2), or a notes print file lost.
class SteeredArm : public xvARM {
public:
    bool stopAfterSettings = false;
    int stopAt = 0;
    int dropNotesAt = 0;
    int handled = 0;

protected:
    bool LoadSettings(ConvertContext& ctx, std::string& failure) override {
        const bool ok = xvARM::LoadSettings(ctx, failure);
        if (stopAfterSettings && ctx.progress) ctx.progress->stop = 1;
        return ok;
    }
    bool DispatchRecord(ConvertContext& ctx, xvl::xvlImpInfo& info, std::string& reason) override {
        ++handled;
        if (handled == stopAt && ctx.progress) ctx.progress->stop = 1;
        if (handled == dropNotesAt) ui::zp_cls_print_file(ctx.commandId, 201);
        return xvARM::DispatchRecord(ctx, info, reason);
    }
};

class ArmTest : public ::testing::Test {
protected:
    virtual void Adjust(suite::CompanySettings&) {}

    void SetUp() override {
        std::string error;
        ASSERT_TRUE(xio_load_dictionaries(dz::data_folder() / "dictionary", error)) << error;
        gl::ForgetFieldNumbers();
        auto settings = suite::default_settings({"GL", "AR", "BL", "TX"});
        settings.name = "Northbridge Builders";
        settings.operator_name = "Ann Lee";
        Adjust(settings);
        suite::write_settings(company.path() / suite::kSettingsFileName, settings);
        suite::open_company(company.path());
        suite::xd_set_clock(suite::xd_fixed_clock({suite::zqDate(12, 6, 2026), {14, 30, 0}}));
        modules::LoadModuleDlls();
        for (const char* abbr : {"ARS", "ARM", "GLM", "BLS", "TXM"}) {
            if (std::string(abbr) == "BLS" && !withBillingFile) continue;
            ASSERT_EQ(xio_create_file(abbr, 1, company.path() / xio_file_name(abbr, 1)), XIO_OK) << abbr;
        }
        fs::create_directories(appData.path() / "ACCOUNTING" / "TEMPLATE");
        fs::copy_file(dz::data_folder() / "templates" / "xvarm.tpl",
                      appData.path() / "ACCOUNTING" / "TEMPLATE" / "xvarm.tpl");
        convert::SetApplicationDataFolder(appData.str());
        uint16_t error16 = 0;
        xvARM opener;
        ASSERT_TRUE(opener.OpenFiles(list, 3020, error16));
    }

    void TearDown() override {
        for (auto& e : list)
            if (e.handle) xio_cls_file(e.handle);
        modules::ReleaseModuleDlls();
        convert::SetApplicationDataFolder("");
        suite::xd_set_clock({});
        suite::close_company();
        ui::reset_printing();
    }

    uint16_t Handle(const std::string& abbr) const { return convert::FindFileHandle(list, abbr, 1); }

    static void Put(uint16_t h, uint16_t rec, const std::string& name, const std::string& value) {
        PutByName(h, rec, name, value);
    }

    // Writes a record (committed) into a data file of the company: ARS and ARM through the run's
    // handles, the others opened for the write alone.
    void Seed(const std::string& abbr, uint16_t rec, const Fields& fields) {
        uint16_t h = Handle(abbr);
        const bool own = h == 0;
        if (own) {
            ASSERT_EQ(xio_open_file(company.path() / xio_file_name(abbr, 1), XIO_OPEN_READ_WRITE, h), XIO_OK);
            ASSERT_EQ(xio_start_writes(h), XIO_OK);
        }
        xio_init_record(h, rec);
        for (const auto& [name, value] : fields) Put(h, rec, name, value);
        ASSERT_EQ(xio_wr_record(h, rec), XIO_OK) << abbr;
        ASSERT_EQ(xio_commit(h), XIO_OK);
        if (own) xio_cls_file(h);
    }
    void SeedStaxes(int choice) {
        const uint16_t h = Handle("ARM");
        ASSERT_EQ(xio_rd_header(h, 2, 1), XIO_OK);
        Put(h, 0, "STAXES", std::to_string(choice));
        ASSERT_EQ(xio_wr_header(h, 2), XIO_OK);
        ASSERT_EQ(xio_commit(h), XIO_OK);
    }

    std::string WriteText(const std::string& name, const std::string& body) {
        const std::string path = texts.str(name);
        WriteFile(path, "#,ARM,xvarm\r\n" + body);
        return path;
    }

    // Converts or examines; the report followed by the notes pages.
    std::string Run(const std::string& path, const std::string& taskName, xvARM* use = nullptr) {
        xvARM own;
        xvARM& converter = use ? *use : own;
        ui::zqTask task(taskName, 15, taskName == "Convert" ? 3020 : 3010, 5);
        const std::string reportPath = company.str("report.txt");
        const int print = ui::xp_open_print(ui::PrintDef{"Report", 132, 1, 0}, ui::Destination::File, reportPath);
        converter.ConvertFile(list, TextFileEntry{path, 701}, &progress, print, task, "", nullptr);
        ui::zp_cls_print_file(task.ID(), 201);
        ui::xp_close_print(print);
        return ReadFile(reportPath);
    }
    std::string RunBody(const std::string& body, const std::string& taskName, xvARM* use = nullptr) {
        return Run(WriteText("t" + std::to_string(++texts_) + ".txt", body), taskName, use);
    }

    // A field of the record of `abbr` keyed `key`, "<none>" when there is no such record.
    std::string Field(const std::string& abbr, const std::string& key, const char* name) {
        const uint16_t h = Handle(abbr);
        xio_init_record(h, 1);
        Put(h, 1, abbr == "ARS" ? "COCONT" : "CUST", key);
        if (xio_rd_record(h, 1, 0, 0) != XIO_OK) return "<none>";
        x_value_def v;
        xio_get_field(h, 1, xio_num(h, XIO_NUM_RECORD, 1, name), v);
        xio_fld_def def;
        xio_get_fld_def(h, xio_num(h, XIO_NUM_RECORD, 1, name), def);
        if (def.type == XIO_TYPE_DATE) return std::to_string(v.date.month);
        return xio_is_text_type(def.type) ? v.text : convert::FormatNumber("%.0f", v.number);
    }

    bool withBillingFile = true;
    ScratchDir company, texts, appData;
    OpenFilesList list;
    RecordingUi ui;
    ConvertProgress progress{[] { return int64_t{0}; }};
    int texts_ = 0;
};

// ---- References -------------------------------------------------------------------------------

TEST_F(ArmTest, ReferencesResolveInBothDirectionsThroughThePassOneKeys) {
    const std::string body = Contact({{"COCONT", "C1"}, {"CONAME", "Ann"}, {"COCUST", "cust1"}}) +
                             Customer({{"CUST", "CUST1"}, {"CNAME", "One"}, {"CCONT1", "c2"}, {"CBCONT", "C1"}}) +
                             Contact({{"COCONT", "C2"}, {"CONAME", "Bob"}}) +
                             // Rejected in pass 1: its key is not collected, so C3's reference warns.
                             Customer({{"CUST", "CUST2"}}) +
                             Contact({{"COCONT", "C3"}, {"CONAME", "Cy"}, {"COCUST", "CUST2"}});
    for (const char* task : {"Examine Files", "Convert"}) {
        const std::string out = RunBody(body, task);
        EXPECT_EQ(Count(out, "does not exist"), 1u) << task << out;
        EXPECT_EQ(Count(out, "The Customer 'CUST2' does not exist(1817)"), 1u) << out;
        EXPECT_NE(out.find("Customer name is required for Customer 'CUST2'(1801)"), std::string::npos) << out;
    }
    // The references carry the keys as the records of the file give them.
    EXPECT_EQ(Field("ARS", "C1", "COCUST"), "CUST1");
    EXPECT_EQ(Field("ARM", "CUST1", "CCONT1"), "C2");
    EXPECT_EQ(Field("ARM", "CUST1", "CBCONT"), "C1");
    EXPECT_EQ(Field("ARM", "CUST2", "CNAME"), "<none>");
}

TEST_F(ArmTest, ReferencesToRecordsOnFileTakeTheStoredKeyAndUnknownOnesOnlyWarn) {
    Seed("ARS", 1, {{"COCONT", "OLDC"}, {"CONAME", "Old contact"}, {"COTYPEA", "Primary"}});
    Seed("ARM", 1, {{"CUST", "OLDCUST"}, {"CNAME", "Old customer"}});
    const std::string out = RunBody(
        Contact({{"COCONT", "N1"}, {"CONAME", "New"}, {"COCUST", "oldcust"}}) +
            Customer({{"CUST", "NEWCUST"}, {"CNAME", "New"}, {"CCONT3", "OLDC"}, {"CCONT10", "GHOST"},
                      {"CBCONT", "NOBODY"}}),
        "Convert");
    EXPECT_NE(out.find("Contact 10 'GHOST' does not exist as a Contact(1818)"), std::string::npos) << out;
    EXPECT_NE(out.find("Billing Contact 'NOBODY' does not exist as a Contact(1818)"), std::string::npos) << out;
    EXPECT_EQ(Count(out, "does not exist"), 2u) << out;
    EXPECT_EQ(Field("ARS", "N1", "COCUST"), "OLDCUST");
    EXPECT_EQ(Field("ARM", "NEWCUST", "CCONT10"), "GHOST");  // kept as typed
}

TEST_F(ArmTest, ContactsOnFileOrRepeatedAreSkippedUncountedWithOneNote) {
    Seed("ARS", 1, {{"COCONT", "OLD"}, {"CONAME", "Kept as it was"}, {"COTYPEA", "Primary"}});
    const std::string body = Contact({{"COCONT", "OLD"}, {"CONAME", "Replacement"}}) +
                             Contact({{"COCONT", "NEW"}, {"CONAME", "First"}}) +
                             Contact({{"COCONT", "NEW"}, {"CONAME", "Second"}});
    for (const char* task : {"Examine Files", "Convert"}) {
        progress = ConvertProgress([] { return int64_t{0}; });
        const std::string out = RunBody(body, task);
        EXPECT_EQ(Count(out, "Note: duplicate Contact records like 'OLD' were intentionally ignored(1802)"), 1u)
            << task << out;
        EXPECT_EQ(progress.file_records, 1u) << task;  // only the first NEW counts
        EXPECT_EQ(progress.file_rejected, 0u) << task;
        EXPECT_EQ(progress.messages, 1u) << task;
    }
    EXPECT_EQ(Field("ARS", "OLD", "CONAME"), "Kept as it was");
    EXPECT_EQ(Field("ARS", "NEW", "CONAME"), "First");
    EXPECT_FALSE(fs::exists(texts.str("RejectARM.txt")));
}

// Keys kept as typed: a line's key and the stored one may differ in letter case only.
class ArmMixedCaseTest : public ArmTest {
protected:
    void Adjust(suite::CompanySettings& s) override {
        for (int f : {300, 301}) s.formats[f].sections.at(0).capitals = false;
    }
};

TEST_F(ArmMixedCaseTest, OnlyRecordsTheFileWillTakeLeaveTheirSpellingForReferences) {
    Seed("ARM", 1, {{"CUST", "OldCust"}, {"CNAME", "On file"}});
    const std::string body = Customer({{"CUST", "OLDCUST"}, {"CNAME", "Refused: on file"}}) +
                             Customer({{"CUST", "NewCust"}, {"CNAME", "First"}}) +
                             Customer({{"CUST", "NEWCUST"}, {"CNAME", "Refused: repeated"}}) +
                             Contact({{"COCONT", "C1"}, {"CONAME", "Ann"}, {"COCUST", "oldcust"}}) +
                             Contact({{"COCONT", "C2"}, {"CONAME", "Bob"}, {"COCUST", "newcust"}});
    for (const char* task : {"Examine Files", "Convert"}) {
        const std::string out = RunBody(body, task);
        EXPECT_EQ(Count(out, "(76)"), 2u) << task << out;
        EXPECT_EQ(Count(out, "does not exist"), 0u) << task << out;
    }
    // The refused lines leave no key: the stored record and the first line answer.
    EXPECT_EQ(Field("ARS", "C1", "COCUST"), "OldCust");
    EXPECT_EQ(Field("ARS", "C2", "COCUST"), "NewCust");
}

TEST(PrepassKeys, KeepsTheFirstValueAndFindsExactTextsAcrossGrowth) {
    PrepassKeys keys;
    keys.emplace("7201\t0\tA", "a-first");
    keys.emplace("7201\t0\tA", "a-second");
    // Enough pairs to fill several blocks of texts and to grow the table many times.
    for (int i = 0; i < 100000; ++i) keys.emplace("7201\t0\tK" + std::to_string(i), "k" + std::to_string(i));
    std::string key;
    ASSERT_TRUE(keys.find("7201\t0\tA", key));
    EXPECT_EQ(key, "a-first");
    for (int i : {0, 4999, 52000, 99999}) {
        ASSERT_TRUE(keys.find("7201\t0\tK" + std::to_string(i), key)) << i;
        EXPECT_EQ(key, "k" + std::to_string(i));
    }
    EXPECT_FALSE(keys.find("7201\t0\ta", key));  // exact texts
    EXPECT_EQ(keys.size(), 100001u);
    keys.clear();
    EXPECT_FALSE(keys.find("7201\t0\tA", key));
}

TEST(PrepassKeys, PairsAddedAfterALookUpAreFoundAndTheFirstValueStillStays) {
    PrepassKeys keys;
    std::string key;
    EXPECT_FALSE(keys.find("7201\t0\tA", key));  // a look-up of an empty table
    keys.emplace("7201\t0\tA", "a-first");
    ASSERT_TRUE(keys.find("7201\t0\tA", key));
    // Pairs written down after a look-up, repeats of earlier ones among them, and enough of them
    // to grow the table while they go in.
    for (int i = 0; i < 5000; ++i) {
        keys.emplace("7201\t0\tK" + std::to_string(i % 3000), "k" + std::to_string(i));
        keys.emplace("7201\t0\tA", "a-again");
    }
    ASSERT_TRUE(keys.find("7201\t0\tA", key));
    EXPECT_EQ(key, "a-first");
    ASSERT_TRUE(keys.find("7201\t0\tK2999", key));
    EXPECT_EQ(key, "k2999");
    ASSERT_TRUE(keys.find("7201\t0\tK5", key));
    EXPECT_EQ(key, "k5");  // not k3005, met later
    EXPECT_EQ(keys.size(), 3001u);
    // By key: only the pairs kept, exactly.
    EXPECT_TRUE(keys.hasKey("a-first"));
    EXPECT_TRUE(keys.hasKey("k2999"));
    EXPECT_FALSE(keys.hasKey("a-again"));
    EXPECT_FALSE(keys.hasKey("k3005"));
    EXPECT_FALSE(keys.hasKey("K5"));
}

TEST(PrepassKeys, KeysFollowingTheirPrefixAndPairsThatDoNotAreFoundExactly) {
    // After a look-up, a pair of another prefix, or of an aligned key, joins pairs whose
    // record-ID text is one prefix and the key: every key kept is found, and only those.
    const std::pair<std::string, std::string> odd[] = {{"7301\t0\tK9000", "K9000"}, {"7201\t0\t   42", "42"}};
    for (const auto& [oddId, oddKey] : odd) {
        PrepassKeys keys;
        for (int i = 0; i < 3000; ++i) keys.emplace("7201\t0\tK" + std::to_string(i), "K" + std::to_string(i));
        keys.emplace("7201\t0\tK7", "K7");  // a repeat
        EXPECT_TRUE(keys.hasKey("K0"));
        EXPECT_TRUE(keys.hasKey("K2999"));
        for (const char* other : {"k5", "7201\t0\tK1", "", "K3000"}) EXPECT_FALSE(keys.hasKey(other)) << other;
        keys.emplace(oddId, oddKey);
        for (int i = 3000; i < 6000; ++i) keys.emplace("7201\t0\tK" + std::to_string(i), "K" + std::to_string(i));
        for (const std::string& kept : {std::string("K0"), std::string("K5999"), oddKey})
            EXPECT_TRUE(keys.hasKey(kept)) << kept;
        for (const char* other : {"   42", "k5", "K6000", "7301\t0\tK9000"}) EXPECT_FALSE(keys.hasKey(other)) << other;
        std::string key;
        ASSERT_TRUE(keys.find(oddId, key));
        EXPECT_EQ(key, oddKey);
        EXPECT_EQ(keys.size(), 6001u);
    }
}

// ---- Custom lists -------------------------------------------------------------------------------

class ArmListsTest : public ArmTest {
protected:
    void Adjust(suite::CompanySettings& s) override {
        s.lists[342] = {"Main", {}};  // one element: the default and the only value
        s.lists[344] = {"", {}};      // no trades at all
        s.lists[369] = {"", {}};      // no tax statuses at all
    }
};

TEST_F(ArmListsTest, OneEntryListsEmptyListsAndTheTypeEachRejectionNames) {
    const std::string out = RunBody(
        Contact({{"COCONT", "K1"}, {"CONAME", "Lower"}, {"COTYPEA", "main"}}) +
            Contact({{"COCONT", "K2"}, {"CONAME", "Empty"}}) +
            Customer({{"CUST", "A"}, {"CNAME", "No trade"}}) +
            Customer({{"CUST", "B"}, {"CNAME", "A trade"}, {"CTRADE", "Plumbing"}}) +
            Customer({{"CUST", "C"}, {"CNAME", "Another"}, {"CTRADE", "Plumbing"}}),
        "Convert");
    EXPECT_EQ(Field("ARS", "K1", "COTYPEA"), "Main");
    EXPECT_EQ(Field("ARS", "K2", "COTYPEA"), "Main");
    // The empty trade is named by its own label, not as a customer type.
    EXPECT_NE(out.find("Trade is required for Customer 'A'(1801)"), std::string::npos) << out;
    // Tax statuses stay empty and are kept; the empty value is listed once, at its first line
    // (as the stamped file reads).
    EXPECT_EQ(Field("ARM", "B", "CTXGRTB"), "");
    EXPECT_EQ(Count(out, "Tax status:  (6)"), 1u) << out;
    EXPECT_EQ(Count(out, "Trade:  Plumbing(6)"), 1u) << out;
}

TEST_F(ArmTest, ListValuesTakeTheListSpellingAndMissingOnesAreListed) {
    const std::string out = RunBody(
        Customer({{"CUST", "A"}, {"CNAME", "Case"}, {"CTYPEA", "GOVERNMENT"}, {"CCRDRTG", "poor"}, {"CBFREQA", "weekly"}}) +
            Customer({{"CUST", "B"}, {"CNAME", "Empty type list value"}, {"CTYPEA", "Industrial"}}),
        "Examine Files");
    EXPECT_NE(out.find("Customer type:  Industrial(3)"), std::string::npos) << out;
    EXPECT_EQ(Count(out, "GOVERNMENT"), 0u) << out;
    RunBody(Customer({{"CUST", "A"}, {"CNAME", "Case"}, {"CTYPEA", "GOVERNMENT"}, {"CCRDRTG", "poor"}}), "Convert");
    EXPECT_EQ(Field("ARM", "A", "CTYPEA"), "Government");
    EXPECT_EQ(Field("ARM", "A", "CCRDRTG"), "Poor");
    EXPECT_EQ(Field("ARM", "A", "CTRADE"), "General");  // the default
}

// ---- GL prefixes --------------------------------------------------------------------------------

TEST_F(ArmTest, PrefixesAreLookedUpAmongPrefixCRecordsWithThreeSections) {
    Seed("GLM", 5, {{"PCPRFX", "01110"}});
    const std::string out = RunBody(Customer({{"CUST", "A"}, {"CNAME", "On file"}, {"CGLPREF", "01-1-10"}}) +
                                        Customer({{"CUST", "B"}, {"CNAME", "Missing"}, {"CGLPREF", "02-1-10"}}),
                                    "Convert");
    EXPECT_EQ(Count(out, "is not found in GL prefixes"), 1u) << out;
    EXPECT_NE(out.find("GL prefix '02-1-10' is not found in GL prefixes, it may be invalid(1806)"), std::string::npos);
    EXPECT_EQ(Field("ARM", "B", "CGLPREF"), "02110");  // kept as typed
}

class ArmOnePrefixTest : public ArmTest {
protected:
    void Adjust(suite::CompanySettings& s) override {
        auto& gl = s.formats[9];
        gl.prefix_levels = 1;
        gl.sections = {{"Prefix A", 2, "-"}, {"Base", 4, "-"}, {"Suffix", 2, ""}};
    }
};

TEST_F(ArmOnePrefixTest, PrefixesAreLookedUpAmongPrefixARecordsWithOneSection) {
    Seed("GLM", 3, {{"PAPRFX", "01"}});
    const std::string out = RunBody(Customer({{"CUST", "A"}, {"CNAME", "On file"}, {"CGLPREF", "01"}}) +
                                        Customer({{"CUST", "B"}, {"CNAME", "Missing"}, {"CGLPREF", "07"}}),
                                    "Examine Files");
    EXPECT_EQ(Count(out, "is not found in GL prefixes"), 1u) << out;
    EXPECT_NE(out.find("GL prefix '07' is not found in GL prefixes"), std::string::npos) << out;
}

class ArmNoGlTest : public ArmTest {
protected:
    void Adjust(suite::CompanySettings& s) override { s.interfaces.clear(); }
};

TEST_F(ArmNoGlTest, WithoutTheInterfaceThePrefixIsCleared) {
    const std::string body = Customer({{"CUST", "A"}, {"CNAME", "Prefix"}, {"CGLPREF", "01-1-10"}});
    const std::string examined = RunBody(body, "Examine Files");
    EXPECT_NE(examined.find("AR not interfacing with General Ledger, GL prefix 01-1-10 will be cleared(1804)"),
              std::string::npos)
        << examined;
    const std::string converted = RunBody(body, "Convert");
    EXPECT_NE(converted.find("GL prefix 01-1-10 was cleared(1803)"), std::string::npos) << converted;
    EXPECT_EQ(Field("ARM", "A", "CGLPREF"), "");
}

// ---- Billing, taxes and the fields never carried -------------------------------------------------

TEST_F(ArmTest, BillingTablesAreCheckedAndTakeTheStoredSpelling) {
    Seed("BLS", 8, {{"IFORMAT", "STD"}});
    Seed("BLS", 2, {{"RTABLE", "LAB"}, {"RTCTYPE", "1"}});
    Seed("BLS", 2, {{"RTABLE", "MAT"}, {"RTCTYPE", "2"}});
    Seed("BLS", 1, {{"MTABLE", "MK10"}});
    Seed("BLS", 6, {{"ATATAB", "ADD1"}});
    const std::string out = RunBody(Customer({{"CUST", "A"},
                                              {"CNAME", "Billing"},
                                              {"CINVFMT", "std"},
                                              {"CRATEL", "lab"},
                                              {"CRATEE", "MAT"},  // on file only as a material table
                                              {"CMARKTB", "mk10"},
                                              {"CADDTB", "ADD9"},
                                              {"CHISTOT", "0"},
                                              {"CDISCNT", "2.50"},
                                              {"CGENDAT", "3/4/2026"},
                                              {"CGENSEQ", "12"}}),
                                    "Convert");
    EXPECT_NE(out.find("Billing Equipment rate table 'MAT' is not found in Billing, it may be invalid(1812)"),
              std::string::npos)
        << out;
    EXPECT_NE(out.find("Billing Add-on table 'ADD9' is not found in Billing"), std::string::npos) << out;
    EXPECT_EQ(Count(out, "in Billing, it may be invalid"), 2u) << out;
    EXPECT_NE(out.find("Track history totals cannot be converted, ' (0)' was cleared(1807)"), std::string::npos)
        << out;
    EXPECT_NE(out.find("Discount cannot be converted, '2.50' was cleared(1807)"), std::string::npos) << out;
    EXPECT_NE(out.find("Last Generation date cannot be converted, ' 3/04/2026' was cleared(1807)"),
              std::string::npos)
        << out;
    EXPECT_NE(out.find("Last Generation sequence cannot be converted, '12' was cleared(1807)"), std::string::npos)
        << out;
    EXPECT_EQ(Field("ARM", "A", "CINVFMT"), "STD");
    EXPECT_EQ(Field("ARM", "A", "CRATEL"), "LAB");
    EXPECT_EQ(Field("ARM", "A", "CRATEE"), "MAT");
    EXPECT_EQ(Field("ARM", "A", "CMARKTB"), "MK10");
    EXPECT_EQ(Field("ARM", "A", "CHISTOT"), "1");
    EXPECT_EQ(Field("ARM", "A", "CDISCNT"), "0");
    EXPECT_EQ(Field("ARM", "A", "CGENDAT"), "0");
    EXPECT_EQ(Field("ARM", "A", "CGENSEQ"), "0");
}

class ArmNoBillingTest : public ArmTest {
protected:
    void Adjust(suite::CompanySettings& s) override { s.installed.erase("BL"); }
};

TEST_F(ArmNoBillingTest, BillingFieldsAreClearedInTwoGroups) {
    const std::string out = RunBody(Customer({{"CUST", "A"},
                                              {"CNAME", "Billing"},
                                              {"CBFREQA", "Weekly"},
                                              {"CLSTINT", "AUTO"},
                                              {"CRATEM", "MAT"},
                                              {"CADDTB", "ADD1"}}),
                                    "Examine Files");
    EXPECT_NE(out.find("Billing is not installed, Billing fields (like Billing frequency with 'Weekly') will be "
                       "cleared(1810)"),
              std::string::npos)
        << out;
    EXPECT_NE(out.find("Billing fields (like Material rate table with 'MAT') will be cleared(1810)"),
              std::string::npos)
        << out;
    EXPECT_EQ(Count(out, "Billing is not installed"), 2u) << out;
    EXPECT_EQ(Count(out, "Unable to open BL standard file"), 0u) << out;
}

// Defaults that are not among their lists' values: a field reset to its default after the
// list check must still be listed as missing, whatever it held before.
class ArmDefaultsOffListTest : public ArmTest {
protected:
    void Adjust(suite::CompanySettings& s) override {
        s.installed.erase("BL");
        s.lists[377] = {"Every month", {"Weekly", "Monthly"}};
        s.lists[369] = {"Standard", {"Taxable", "Exempt"}};
    }
};

TEST_F(ArmDefaultsOffListTest, FieldsResetToTheirDefaultAreListedAsMissing) {
    using ::testing::HasSubstr;
    SeedStaxes(2);  // "No": the tax statuses go back to the default
    // Every value is on its list until the reset; the second line repeats the first's values.
    Fields listed = {{"CBFREQA", "Weekly"}, {"CTXGRTB", "Taxable"}, {"CTXGRPL", "Exempt"}, {"CTXGRPM", "Taxable"},
                     {"CTXGRPS", "Taxable"}, {"CTXGRPE", "Taxable"}, {"CTXGRPO", "Taxable"}, {"CTXGRPT", "exempt"}};
    Fields a = listed, b = listed;
    a.insert({{"CUST", "A"}, {"CNAME", "Listed first"}});
    b.insert({{"CUST", "B"}, {"CNAME", "Listed again"}});
    const std::string body = Customer(a) + Customer(b);
    for (const char* task : {"Examine Files", "Convert"}) {
        const std::string out = RunBody(body, task);
        EXPECT_THAT(out, HasSubstr("Billing frequency:  Every month(")) << task;
        EXPECT_THAT(out, HasSubstr("Tax status:  Standard(")) << task;
        EXPECT_EQ(Count(out, "Weekly("), 0u) << out;
        EXPECT_EQ(Count(out, "Taxable("), 0u) << out;
        EXPECT_EQ(Count(out, "xempt("), 0u) << out;
    }
    EXPECT_EQ(Field("ARM", "B", "CBFREQA"), "Every month");
    EXPECT_EQ(Field("ARM", "A", "CTXGRPT"), "Standard");
}

// Blank tax statuses before, between and after given ones take the list's default, which the
// list lacks here: each blank one is listed as missing, a given one keeps its list spelling.
TEST_F(ArmDefaultsOffListTest, BlankTaxStatusesAroundGivenOnesTakeTheDefault) {
    using ::testing::HasSubstr;
    const std::string allBlank = Customer({{"CUST", "A"}, {"CNAME", "All blank"}});
    EXPECT_THAT(RunBody(allBlank + allBlank, "Examine Files"), HasSubstr("Tax status:  Standard("));
    const std::string body = allBlank + Customer({{"CUST", "B"}, {"CNAME", "One given"}, {"CTXGRPM", "exempt"}}) +
                             Customer({{"CUST", "C"}, {"CNAME", "First given"}, {"CTXGRTB", "TAXABLE"}});
    const std::string out = RunBody(body, "Convert");
    EXPECT_THAT(out, HasSubstr("Tax status:  Standard(")) << out;
    EXPECT_EQ(Count(out, "xempt("), 0u) << out;
    EXPECT_EQ(Count(out, "axable("), 0u) << out;
    const char* const statuses[] = {"CTXGRTB", "CTXGRPL", "CTXGRPM", "CTXGRPS", "CTXGRPE", "CTXGRPO", "CTXGRPT"};
    for (const char* f : statuses) {
        EXPECT_EQ(Field("ARM", "A", f), "Standard") << f;
        EXPECT_EQ(Field("ARM", "B", f), std::string(f) == "CTXGRPM" ? "Exempt" : "Standard") << f;
        EXPECT_EQ(Field("ARM", "C", f), std::string(f) == "CTXGRTB" ? "Taxable" : "Standard") << f;
    }
}

class ArmNoBillingFileTest : public ArmTest {
protected:
    void SetUp() override {
        withBillingFile = false;
        ArmTest::SetUp();
    }
};

TEST_F(ArmNoBillingFileTest, BillingWithoutItsStandardFileIsOneNote) {
    const std::string out = RunBody(Customer({{"CUST", "A"}, {"CNAME", "One"}, {"CRATEL", "X"}}) +
                                        Customer({{"CUST", "B"}, {"CNAME", "Two"}, {"CINVFMT", "Y"}}),
                                    "Examine Files");
    EXPECT_EQ(Count(out, "Unable to open BL standard file, Rate tables and the Invoice format are not being "
                         "verified for existence(1819)"),
              1u)
        << out;
    EXPECT_EQ(Count(out, "in Billing"), 0u) << out;
}

TEST_F(ArmTest, TaxGroupsAreCheckedAgainstTheTaxMaster) {
    Seed("TXM", 2, {{"GROUP", "STATE"}});
    const std::string out = RunBody(Customer({{"CUST", "A"}, {"CNAME", "One"}, {"CTXGR", "state"}}) +
                                        Customer({{"CUST", "B"}, {"CNAME", "Two"}, {"CTXGR", "COUNTY"}}),
                                    "Examine Files");
    EXPECT_EQ(Count(out, "Tax group '"), 1u) << out;
    EXPECT_NE(out.find("Tax group 'COUNTY' is not found in the Tax file, it may be invalid(1816)"), std::string::npos);
}

TEST_F(ArmTest, WithoutSalesTaxesTheTaxFieldsAreClearedInOneGroup) {
    SeedStaxes(2);  // "No"
    const std::string out = RunBody(Customer({{"CUST", "A"},
                                              {"CNAME", "One"},
                                              {"CTXGRPM", "Exempt"},
                                              {"CRCERT", "RC-1"},
                                              {"CTXGR", "STATE"}}),
                                    "Convert");
    EXPECT_EQ(Count(out, "AR is not using taxes"), 1u) << out;
    EXPECT_NE(out.find("tax fields (like Tax group with 'STATE') were cleared(1814)"), std::string::npos) << out;
    EXPECT_EQ(Field("ARM", "A", "CTXGR"), "");
    EXPECT_EQ(Field("ARM", "A", "CTXGRPM"), "Taxable");
    EXPECT_EQ(Field("ARM", "A", "CRCERT"), "");
}

class ArmNoTaxMasterTest : public ArmTest {
protected:
    void SetUp() override {
        ArmTest::SetUp();
        fs::remove(company.path() / xio_file_name("TXM", 1));
    }
};

TEST_F(ArmNoTaxMasterTest, WithoutTheTaxMasterTheFirstGroupIsTheNotesExample) {
    const std::string out = RunBody(Customer({{"CUST", "A"}, {"CNAME", "One"}}) +
                                        Customer({{"CUST", "B"}, {"CNAME", "Two"}, {"CTXGR", "FIRST"}}) +
                                        Customer({{"CUST", "C"}, {"CNAME", "Three"}, {"CTXGR", "SECOND"}}),
                                    "Examine Files");
    EXPECT_EQ(Count(out, "Note: Unable to open TX master file, tax groups like 'FIRST' were not verified for "
                         "existence(1813)"),
              1u)
        << out;
    EXPECT_EQ(Count(out, "SECOND"), 0u) << out;
}

// ---- Files that end early ----------------------------------------------------------------------

TEST_F(ArmTest, StopsAndALostNotesPrintRestoreBothFilesAndLeaveTheTextUnstamped) {
    Seed("ARS", 1, {{"COCONT", "OLD"}, {"CONAME", "Old"}, {"COTYPEA", "Primary"}});
    // N1's warning opens the notes pages in pass 2, so that losing them afterwards fails B's.
    const std::string body = Contact({{"COCONT", "N1"}, {"CONAME", "One"}, {"COCUST", "NOPE"}}) +
                             Customer({{"CUST", "A"}, {"CNAME", "First"}}) +
                             Customer({{"CUST", "B"}, {"CNAME", "Second"}, {"CDISCNT", "1.00"}});
    struct Case {
        const char* name;
        std::function<void(SteeredArm&)> steer;
        const char* message;
    };
    const Case cases[] = {
        {"stop in pass 1", [](SteeredArm& c) { c.stopAt = 2; }, "Conversion canceled by operator"},
        {"stop in pass 2", [](SteeredArm& c) { c.stopAt = 5; }, "Conversion canceled by operator"},
        {"notes lost", [](SteeredArm& c) { c.dropNotesAt = 5; }, "Unable to print warning/log messages"},
    };
    for (const auto& c : cases) {
        progress = ConvertProgress([] { return int64_t{0}; });
        SteeredArm converter;
        c.steer(converter);
        const std::string path = WriteText(std::string(c.name) + ".txt", body);
        const std::string before = ReadFile(path);
        const std::string out = Run(path, "Convert", &converter);
        EXPECT_NE(out.find(c.message), std::string::npos) << c.name << out;
        EXPECT_NE(out.find("Processing is terminated for this file, the ZQ data file was not changed"),
                  std::string::npos)
            << c.name << out;
        EXPECT_EQ(ReadFile(path), before) << c.name;
        EXPECT_EQ(Field("ARS", "N1", "CONAME"), "<none>") << c.name;
        EXPECT_EQ(Field("ARM", "A", "CNAME"), "<none>") << c.name;
    }
    auto records = [&](const char* abbr) {
        int n = 0;
        for (int st = xio_rd_first(Handle(abbr), 1, 0, 0); st == XIO_OK; st = xio_rd_next(Handle(abbr), 1, 0, 0)) ++n;
        return n;
    };
    EXPECT_EQ(records("ARS"), 1);  // OLD alone
    EXPECT_EQ(records("ARM"), 0);
}

TEST_F(ArmTest, AStopAtAPassStatusInExamineFilesSaysExamining) {
    SteeredArm converter;
    converter.stopAfterSettings = true;
    const std::string out = RunBody(Customer({{"CUST", "A"}, {"CNAME", "One"}}), "Examine Files", &converter);
    EXPECT_NE(out.find("Examining files canceled by operator"), std::string::npos) << out;
    EXPECT_EQ(Count(out, "Conversion canceled by operator"), 0u) << out;
    EXPECT_EQ(converter.handled, 0);
}

}  // namespace
}  // namespace dz::ar::testing
