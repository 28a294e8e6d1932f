// The GL transaction converter in process: the checks and notes of a transaction, the
// accounting method, the future-date check through the fiscal entity, prefill, the run number,
// and every way a converted file can end early (stop, notes that cannot print, no batch, no run
// number), each of which must leave the GL transaction file as it was, the text file unstamped
// and no batch open.
#include "test_glm_support.h"

#include "converters/gl/xvglt.h"
#include "modules/module_objects.h"
#include "platform/modlibs/gl_fiscal_entity.h"
#include "platform/modlibs/registry.h"
#include "platform/suite/zc.h"
#include "tables/master_file.h"
#include "tables/substitution_fields.h"

#include <fstream>
#include <tuple>

namespace dz::gl::testing {

using namespace convert;
namespace {

const std::vector<std::string> kColumns = {
    "TACCT",  "TACCTDT", "TAORC",   "TDEBIT",  "TCREDIT", "TDRCR", "TDUETO", "TDUEFRM", "TORGACT", "TRASCPR",
    "TRASCBS", "TRINTST", "TRDPLOC", "TRDPRUN", "TRDPSEQ", "TRUN",  "TSEQ",   "TAPPL",   "TBATCH",  "TSOURCE",
    "TINV",   "TVENDOR", "TINVDST", "TCHECK",  "TBANK",   "TCCODE", "TRCODE", "TEQUIP", "TARINV",  "TARCUST",
    "NOTES"};

// A line of the shipped template: the named columns filled, the others empty.
std::string Tx(const std::map<std::string, std::string>& values) {
    std::string out = "1";
    for (const auto& c : kColumns) {
        const auto it = values.find(c);
        out += "," + (it == values.end() ? std::string() : it->second);
    }
    return out + "\r\n";
}
// A plain good debit of `amount` on `account` dated `date`.
std::string Debit(const std::string& account, const std::string& date = "06/15/2026",
                  const std::string& amount = "100.00") {
    return Tx({{"TACCT", account}, {"TACCTDT", date}, {"TAORC", "1"}, {"TDEBIT", amount}, {"TDRCR", "1"}});
}

class GltTest : public GlmTest {
protected:
    void SetUp() override {
        GlmTest::SetUp();
        if (HasFatalFailure()) return;
        ASSERT_EQ(xio_create_file("GLT", 6, company.path() / "CURRENT.GLT"), XIO_OK);
        fs::copy_file(dz::data_folder() / "templates" / "xvglt.tpl",
                      appData.path() / "ACCOUNTING" / "TEMPLATE" / "xvglt.tpl");
        uint16_t error = 0;
        xvGLT opener;
        ASSERT_TRUE(opener.OpenFiles(list, 3020, error));
        for (const char* a : {"01110100000", "01110500000", "01210210000", "01110120000"}) Account(a);
        openBatches = suite::zb_open_batches();
    }

    uint16_t Glt() const { return convert::FindFileHandle(list, "GLT", 6); }

    void Account(const std::string& account) {
        const uint16_t h = Glm();
        xio_init_record(h, kRecAccount);
        PutText(h, kRecAccount, "AACCT", account);
        ASSERT_EQ(xio_wr_record(h, kRecAccount), XIO_OK);
        ASSERT_EQ(xio_commit(h), XIO_OK);
    }

    std::string Text(const std::string& name, const std::string& body, const std::string& tpl = "xvglt") {
        const std::string path = texts.str(name);
        WriteFile(path, "#,GLT," + tpl + "\r\n" + body);
        return path;
    }

    std::string RunGlt(const std::string& path, const std::string& taskName, xvGLT& converter,
                       ConvertProgress* prog = nullptr, const std::string& table = "") {
        ui::zqTask task(taskName, 15, taskName == "Convert" ? 3020 : 3010, 5);
        const std::string reportPath = company.str("report.txt");
        const int print = ui::xp_open_print(ui::PrintDef{"Report", 132, 1, 0}, ui::Destination::File, reportPath);
        converter.ConvertFile(list, TextFileEntry{path, 102}, prog ? prog : &progress, print, task, table, nullptr);
        ui::zp_cls_print_file(task.ID(), 201);
        ui::xp_close_print(print);
        return ReadFile(reportPath);
    }
    std::string RunGlt(const std::string& path, const std::string& taskName) {
        xvGLT converter;
        return RunGlt(path, taskName, converter);
    }

    // The stored transactions, in key order: the fields asked for, as text.
    std::vector<std::map<std::string, std::string>> Stored(const std::vector<std::string>& fields) {
        std::vector<std::map<std::string, std::string>> out;
        const uint16_t h = Glt();
        for (int st = xio_rd_first(h, kRecTransaction, 0, 0); st == XIO_OK;
             st = xio_rd_next(h, kRecTransaction, 0, 0)) {
            std::map<std::string, std::string> row;
            for (const auto& f : fields) {
                x_value_def v;
                xio_get_field(h, 0, FieldNo(h, kRecTransaction, f.c_str()), v);
                xio_fld_def d;
                xio_get_fld_def(h, FieldNo(h, kRecTransaction, f.c_str()), d);
                row[f] = d.type == XIO_TYPE_TEXT ? v.text : FormatNumber("%.0f", v.number);
            }
            out.push_back(row);
        }
        return out;
    }

    // The GL transaction file's bytes, every handle of the run closed first.
    std::string GltBytes() {
        for (auto& e : list)
            if (e.handle) xio_cls_file(e.handle), e.handle = 0;
        return ReadFile(company.path() / "CURRENT.GLT");
    }

    std::size_t openBatches = 0;
};

TEST_F(GltTest, AmountsAndTheDebitCreditCode) {
    const std::string text = Text("amounts.txt",
                                  Tx({{"TACCT", "01-1-10-1000-00"}, {"TACCTDT", "6/1/2026"}, {"TAORC", "1"},
                                      {"TDEBIT", "10.00"}, {"TCREDIT", "10.00"}, {"TDRCR", "1"}}) +
                                      Tx({{"TACCT", "01-1-10-1000-00"}, {"TACCTDT", "6/2/2026"}, {"TAORC", "1"}}) +
                                      Tx({{"TACCT", "01-1-10-1000-00"}, {"TACCTDT", "6/3/2026"}, {"TAORC", "1"},
                                          {"TCREDIT", "5.00"}, {"TDRCR", "1"}}) +
                                      Tx({{"TACCT", "01-1-10-5000-00"}, {"TACCTDT", "6/4/2026"}, {"TAORC", "1"},
                                          {"TDEBIT", "5.00"}, {"TDRCR", "2"}}));
    const std::string examined = RunGlt(text, "Examine Files");
    EXPECT_TRUE(Has(examined, "Cannot convert both a debit amount '10.00' and a credit amount '10.00' in the same "
                              "transaction(205)"))
        << examined;
    EXPECT_TRUE(Has(examined, "'Credit (2)' will change to 'Debit (1)' its correct value (208)")) << examined;

    const uint32_t examinedMessages = progress.messages;
    const std::string report = RunGlt(text, "Convert");
    EXPECT_TRUE(Has(report, "The Credit amount and Debit amount are both zero for this transaction(206)")) << report;
    EXPECT_TRUE(Has(report, "'Credit (2)' has changed to 'Debit (1)' its correct value (207)")) << report;
    // The code of a credit marked as a debit changes without a note: one message each for lines
    // 3 and 5 only.
    EXPECT_EQ(progress.messages - examinedMessages, 2u);
    const auto rows = Stored({"TSEQ", "TDEBIT", "TCREDIT", "TDRCR"});
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[0].at("TDRCR"), "1");  // both zero: as given
    EXPECT_EQ(rows[1].at("TDRCR"), "2");  // a credit
    EXPECT_EQ(rows[2].at("TDRCR"), "1");  // a debit
    EXPECT_EQ(rows[1].at("TCREDIT"), "500");
}

class GltMethod : public GltTest, public ::testing::WithParamInterface<int> {
protected:
    void Adjust(suite::CompanySettings& s) override { s.accounting_method = GetParam(); }
};

TEST_P(GltMethod, TheAccountingMethodDecidesWhichTransactionsPass) {
    const std::string body = Tx({{"TACCT", "01-1-10-1000-00"}, {"TACCTDT", "6/1/2026"}, {"TAORC", "1"},
                                 {"TDEBIT", "1.00"}}) +
                             Tx({{"TACCT", "01-1-10-5000-00"}, {"TACCTDT", "6/1/2026"}, {"TAORC", "2"},
                                 {"TDEBIT", "1.00"}});
    const std::string report = RunGlt(Text("method.txt", body), "Examine Files");
    const bool accrual = GetParam() == 1 || GetParam() == 3;
    const bool cash = GetParam() == 2 || GetParam() == 3;
    EXPECT_EQ(Has(report, "Your Accounting Method is Cash, this Accrual transaction cannot be converted for acct "
                          "01-1-10-1000-00(209)"),
              !accrual)
        << report;
    EXPECT_EQ(Has(report, "Your Accounting Method is Accrual, this cash transaction cannot be converted for acct "
                          "01-1-10-5000-00(210)"),
              !cash)
        << report;
}
INSTANTIATE_TEST_SUITE_P(Methods, GltMethod, ::testing::Values(1, 2, 3));

class GltNoInvoiceWord : public GltTest {
protected:
    void Adjust(suite::CompanySettings& s) override { s.descriptions.erase(306); }
};

TEST_F(GltNoInvoiceWord, ReferencesWithoutTheirPartnerAreClearedWithTheirNotes) {
    const std::string text =
        Text("refs.txt", Tx({{"TACCT", "01-1-10-1000-00"}, {"TACCTDT", "6/1/2026"}, {"TAORC", "1"},
                             {"TDEBIT", "1.00"}, {"TINV", "INV-1"}, {"TINVDST", "4"}, {"TARINV", "AR-9"}}) +
                              Tx({{"TACCT", "01-1-10-1000-00"}, {"TACCTDT", "6/1/2026"}, {"TAORC", "1"},
                                  {"TDEBIT", "1.00"}, {"TINV", "INV-2"}, {"TVENDOR", "ACME"}, {"TINVDST", "4"},
                                  {"TARINV", "AR-8"}, {"TARCUST", "NORTH"}}));
    const std::string report = RunGlt(text, "Convert");
    const auto vendor = report.find("Invoice requires a Vendor, 'INV-1' was not converted(216)");
    const auto dist = report.find("Invoice dist seq requires an Invoice, '4' was not converted(218)");
    ASSERT_NE(vendor, std::string::npos) << report;
    ASSERT_NE(dist, std::string::npos) << report;
    EXPECT_LT(vendor, dist);
    // Without its own word, the AR invoice is an "invoice".
    EXPECT_TRUE(Has(report, "AR invoice requires a Customer, 'AR-9' was not converted(224)")) << report;
    const auto rows = Stored({"TINV", "TINVDST", "TARINV", "TVENDOR"});
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0].at("TINV"), "");
    EXPECT_EQ(rows[0].at("TINVDST"), "0");
    EXPECT_EQ(rows[0].at("TARINV"), "");
    // With their partners they stay.
    EXPECT_EQ(rows[1].at("TINV"), "INV-2");
    EXPECT_EQ(rows[1].at("TINVDST"), "4");
    EXPECT_EQ(rows[1].at("TARINV"), "AR-8");
}

// ---- The future-date check --------------------------------------------------------------------

TEST_F(GltTest, PrefixCalendarsRejectTheDayAfterTheirLastPeriodEnd) {
    SetHeader(kHdrSettings, [&](uint16_t h) {
        PutHeaderNumber(h, kHdrSettings, "FISCENT", 2);
        PutHeaderNumber(h, kHdrSettings, "BLLVL", 1);
    });
    const std::string calendars = texts.str("prefix-calendars.txt");
    fs::copy_file(kSamples / "prefix-calendars.txt", calendars);
    Run(calendars, "Convert");

    // The last period end of prefix 01's calendar, as the fiscal entity answers it.
    modlibs::GlFiscalEntity* entity = nullptr;
    modules::CallModuleFunction(modules::glFiscalEntityObjectID, modules::glInterfaceID(2), &entity);
    ASSERT_NE(entity, nullptr);
    ASSERT_TRUE(entity->SelectAccount(Glm(), "01110100000", 0));
    x_date_type last;
    ASSERT_TRUE(entity->IsSuccess(entity->GetDate(modlibs::kFiscalLastPeriodEnd, last)));
    entity->Release();
    x_date_type after = last;
    suite::xd_offset_date(after, 0, 1);
    auto text = [](const x_date_type& d) { return FormatInt("%ld", d.month) + "/" + FormatInt("%ld", d.day) + "/" +
                                                 FormatInt("%ld", d.year); };

    const std::string report =
        RunGlt(Text("future.txt", Debit("01-1-10-1000-00", text(last)) + Debit("01-1-10-1000-00", text(after))),
               "Examine Files");
    EXPECT_TRUE(Has(report, "Accounting date '" + suite::xd_alpha_date(after) +
                                "' falls in a period too far into the future(204)"))
        << report;
    EXPECT_FALSE(Has(report, "'" + suite::xd_alpha_date(last) + "' falls")) << report;
    EXPECT_EQ(progress.file_rejected, 1u);
}

TEST_F(GltTest, WithoutACalendarNoDateIsTooFarAhead) {
    const std::string report = RunGlt(Text("nocal.txt", Debit("01-1-10-1000-00", "12/31/2099")), "Examine Files");
    EXPECT_FALSE(Has(report, "(204)")) << report;
    EXPECT_EQ(progress.file_rejected, 0u);
}

// A fiscal entity of a test library: it knows one account, whose last period end is 6/30/2026,
// and counts how many entities were made and released.
struct EntityCounts {
    int made = 0;
    int released = 0;
};
EntityCounts g_entities;

class StandInEntity final : public modlibs::GlFiscalEntity {
public:
    bool Query(const modules::zqpoInterfaceID& id, ModuleObject** iface) override {
        *iface = modules::InterfaceIDEquals(id, modules::glInterfaceID(2)) ? this : nullptr;
        return *iface != nullptr;
    }
    void Release() override {
        ++g_entities.released;
        delete this;
    }
    bool SelectAccount(uint16_t, const std::string& account, uint16_t) override {
        selected_ = account == "01110100000";
        return selected_;
    }
    bool PeriodEndDate(const x_date_type&, x_date_type&) override { return false; }
    bool FiscalYearEndDate(const x_date_type&, x_date_type&) override { return false; }
    bool UsesThirteenPeriods() override { return false; }
    uint16_t GetDate(uint16_t kind, x_date_type& date) override {
        if (!selected_ || kind != modlibs::kFiscalLastPeriodEnd) return modlibs::kFiscalNoSuchDate;
        date = suite::zqDate(6, 30, 2026);
        return modlibs::kFiscalDateOk;
    }
    bool IsSuccess(uint16_t status) override { return status == modlibs::kFiscalDateOk; }
    uint16_t PrefixLevel() override { return 0; }
    const modlibs::GlFiscalCalendar& Calendar() override { return calendar_; }

private:
    bool selected_ = false;
    modlibs::GlFiscalCalendar calendar_;
};

modlibs::ModuleObject* MakeStandIn() {
    ++g_entities.made;
    return new StandInEntity;
}

TEST_F(GltTest, AnEntityIsMadeAndReleasedOncePerAccountThatReachesTheDateCheck) {
    modules::ReleaseModuleDlls();
    modlibs::Registry reg;
    reg.add_library(modlibs::ModuleLibrary{"GL", "8.1.0", {}});
    reg.add_object_library(modlibs::ObjectLibrary{"GLCOMMON", "GL", {{"_gl_new_fiscal_entity", &MakeStandIn}}});
    reg.installed = [](const std::string& code) { return code == "GL"; };
    modlibs::set_registry(&reg);
    ASSERT_TRUE(modules::LoadModuleDlls());
    g_entities = {};

    const std::string body = Debit("01-1-10-1000-00", "6/30/2026") +  // the last period end: passes
                             Debit("01-1-10-1000-00", "7/1/2026") +   // the day after: rejected
                             Debit("01-1-10-1000-00", "7/2/2026") +   // the same answer again: rejected
                             Debit("01-1-10-5000-00", "7/1/2029") +   // refused by the entity: no check
                             Debit("01-1-10-5000-00", "7/1/2030") +   // still refused
                             Debit("", "7/1/2026") +                  // no account: never reaches it
                             Debit("01-1-10-9000-00", "7/1/2026");    // not on file: never reaches it
    const std::string report = RunGlt(Text("standin.txt", body), "Convert");
    EXPECT_TRUE(Has(report, "Accounting date ' 7/01/2026' falls in a period too far into the future(204)")) << report;
    EXPECT_TRUE(Has(report, "Accounting date ' 7/02/2026' falls in a period too far into the future(204)")) << report;
    // Asked once for each of the two accounts, and released each time.
    EXPECT_EQ(g_entities.made, 2);
    EXPECT_EQ(g_entities.released, 2);
    EXPECT_EQ(Stored({"TACCT"}).size(), 3u);

    modules::ReleaseModuleDlls();
    modlibs::set_registry(nullptr);
    modules::LoadModuleDlls();
}

TEST_F(GltTest, AnAccountTableSubstitutesTheAccountsBeforeTheyAreChecked) {
    xio_ask_request req;
    req.abbr = tables::kXvmAbbr;
    req.create = true;
    uint16_t xvm = 0;
    ASSERT_EQ(xio_ask_file(req, xvm), XIO_OK);
    xio_cls_file(xvm);
    {
        tables::SubstitutionMasterFile mf(3020, 0, "Merger", 1, tables::kFieldGlAccount);
        ASSERT_GT(mf.handle(), 0);
        ASSERT_EQ(mf.WriteDefinition(0, 65535, 0, 0), XIO_OK);
        // Old values as the text file writes them.
        ASSERT_EQ(mf.WriteEntry("01-1-10-9000-00", "01-1-10-1000-00", ""), XIO_OK);
        ASSERT_EQ(mf.WriteEntry("01-1-10-2100-00", "01-2-10-2100-00", ""), XIO_OK);
        ASSERT_EQ(mf.ReleaseDefinition(true), XIO_OK);
        mf.Close();
    }
    // Neither the account nor the intercompany payable is on file as the line gives them.
    const std::string text = Text("merged.txt", Tx({{"TACCT", "01-1-10-9000-00"}, {"TACCTDT", "6/1/2026"},
                                                    {"TAORC", "1"}, {"TDEBIT", "1.00"},
                                                    {"TDUETO", "01-1-10-2100-00"}}));
    const std::string plain = RunGlt(text, "Examine Files");
    EXPECT_TRUE(Has(plain, "The Account '01-1-10-9000-00' has not been set up(203)")) << plain;
    xvGLT converter;
    const std::string report = RunGlt(text, "Convert", converter, nullptr, "Merger");
    EXPECT_FALSE(Has(report, "has not been set up")) << report;
    const auto rows = Stored({"TACCT", "TDUETO"});
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].at("TACCT"), "01110100000");
    EXPECT_EQ(rows[0].at("TDUETO"), "01210210000");
}

// ---- Prefill ----------------------------------------------------------------------------------

std::vector<std::tuple<std::string, int, int>> g_prefilled;
bool Collect(const std::string& value, int16_t fieldId, int16_t section, const std::string&, void*) {
    g_prefilled.emplace_back(value, fieldId, section);
    return true;
}

TEST_F(GltTest, PrefillHandsTheAccountsAndTheirPartsOverAndWritesNothing) {
    const std::string text =
        Text("prefill.txt", Tx({{"TACCT", "01-1-10-1000-00"}, {"TACCTDT", "6/1/2026"}, {"TDUETO", "01-2-10-2100-00"},
                                {"TRASCPR", "01-1-10"}, {"TRASCBS", "5000-00"}}));
    g_prefilled.clear();
    xvGLM::prefillCallback = &Collect;
    ui::zqTask task("Substitution Tables", 12, 4010, 3);
    xvGLT converter;
    converter.PrefillTables(list, TextFileEntry{text, 102}, &progress, task, nullptr);
    xvGLM::prefillCallback = nullptr;
    const auto has = [](const std::string& v, int id, int section) {
        return std::find(g_prefilled.begin(), g_prefilled.end(), std::tuple{v, id, section}) != g_prefilled.end();
    };
    EXPECT_TRUE(has("01-1-10-1000-00", 9, 8));
    EXPECT_TRUE(has("01-2-10-2100-00", 9, 8));  // the intercompany payable
    EXPECT_TRUE(has("01-1-10", 9, 6));
    EXPECT_TRUE(has("5000-00", 9, 7));
    EXPECT_TRUE(ui.boxes.empty());
    EXPECT_TRUE(Stored({"TACCT"}).empty());
    EXPECT_EQ(suite::zb_open_batches(), openBatches);
}

// ---- The run number ---------------------------------------------------------------------------

TEST_F(GltTest, RunNumbersPastSixteenBitsStayWhole) {
    const uint16_t h = Glt();
    ASSERT_EQ(xio_rd_header(h, 1, 1), XIO_OK);
    PutNumber(h, xio_num(h, XIO_NUM_HEADER, 1, "LASTRUN"), 65535);
    ASSERT_EQ(xio_wr_header(h, 1), XIO_OK);
    ASSERT_EQ(xio_commit(h), XIO_OK);
    xvGLT converter;
    RunGlt(Text("big.txt", Debit("01-1-10-1000-00") + Debit("01-1-10-5000-00")), "Convert", converter);
    EXPECT_EQ(converter.RunNumber(), 65536u);
    const auto rows = Stored({"TRUN", "TSEQ", "TBATCH", "TAPPL", "TSOURCE"});
    ASSERT_EQ(rows.size(), 2u);
    for (std::size_t i = 0; i < rows.size(); ++i) {
        EXPECT_EQ(rows[i].at("TRUN"), "65536");
        EXPECT_EQ(rows[i].at("TSEQ"), std::to_string(i + 1));
        EXPECT_EQ(rows[i].at("TBATCH"), converter.Batch());
    }
    EXPECT_EQ(converter.Batch().substr(0, 2), "XV");
    EXPECT_EQ(suite::zb_open_batches(), openBatches);
}

// ---- Files that end early ---------------------------------------------------------------------

// Does something to the run when it meets its second transaction.
class InterruptedGLT : public xvGLT {
public:
    std::function<void(convert::ConvertContext&)> onSecond;

protected:
    bool DispatchRecord(convert::ConvertContext& ctx, xvl::xvlImpInfo& info, std::string& reason) override {
        const bool accepted = xvGLT::DispatchRecord(ctx, info, reason);
        if (SequenceNumber() == 2 && onSecond) std::exchange(onSecond, nullptr)(ctx);
        return accepted;
    }
};

class GltEndsEarly : public GltTest {
protected:
    // Converts three transactions, the first and the third with a note; the file must end as it
    // was.
    std::string Convert(InterruptedGLT& converter) {
        text = Text("early.txt", Debit("01-1-10-1000-00", "06/15/2026", "0.00") + Debit("01-1-10-5000-00") +
                                     Debit("01-1-10-1000-00", "06/15/2026", "0.00"));
        textBefore = ReadFile(text);
        return RunGlt(text, "Convert", converter);
    }
    void ExpectNothingChanged(const std::string& gltBefore) {
        EXPECT_EQ(ReadFile(text), textBefore);  // not stamped
        EXPECT_EQ(suite::zb_open_batches(), openBatches);
        EXPECT_TRUE(GltBytes() == gltBefore);  // (bytes of a database: not printed)
    }
    std::string text, textBefore;
};

TEST_F(GltEndsEarly, TheOperatorStopsMidFile) {
    const std::string before = ReadFile(company.path() / "CURRENT.GLT");
    InterruptedGLT converter;
    converter.onSecond = [](convert::ConvertContext& ctx) { ctx.progress->stop = 1; };
    const std::string report = Convert(converter);
    EXPECT_TRUE(Has(report, "Conversion canceled by operator")) << report;
    ExpectNothingChanged(before);
}

TEST_F(GltEndsEarly, TheNotesCannotPrint) {
    const std::string before = ReadFile(company.path() / "CURRENT.GLT");
    InterruptedGLT converter;
    converter.onSecond = [](convert::ConvertContext& ctx) { ui::zp_cls_print_file(ctx.commandId, 201); };
    const std::string report = Convert(converter);
    EXPECT_TRUE(Has(report, "Unable to print warning/log messages")) << report;
    ExpectNothingChanged(before);
}

TEST_F(GltEndsEarly, NoBatchCanBeSetUp) {
    const std::string before = ReadFile(company.path() / "CURRENT.GLT");
    std::ofstream(company.path() / suite::kSettingsFileName, std::ios::app) << "\n[broken\n";
    InterruptedGLT converter;
    const std::string report = Convert(converter);
    EXPECT_TRUE(Has(report, "Unable to read from or write to a Halvorsend data file")) << report;
    EXPECT_EQ(converter.SequenceNumber(), 0);  // no record was read
    ExpectNothingChanged(before);
}

TEST_F(GltEndsEarly, NoRunNumberCanBeTaken) {
    const std::string before = ReadFile(company.path() / "CURRENT.GLT");
    // Another program holds the header that keeps the last run number.
    uint16_t other = 0;
    ASSERT_EQ(xio_open_file(company.path() / "CURRENT.GLT", 0, other), XIO_OK);
    ASSERT_EQ(xio_rd_header(other, 1, 1), XIO_OK);
    InterruptedGLT converter;
    const std::string report = Convert(converter);
    EXPECT_TRUE(Has(report, "Unable to read from or write to a Halvorsend data file")) << report;
    EXPECT_EQ(converter.RunNumber(), 0u);
    EXPECT_EQ(converter.SequenceNumber(), 0);
    xio_free_header(other, 1);
    xio_cls_file(other);
    ExpectNothingChanged(before);
}

}  // namespace
}  // namespace dz::gl::testing
