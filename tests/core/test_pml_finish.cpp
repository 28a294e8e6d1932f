// The pass after a converted lease text file: links without a lease removed, default charge
// controls and tenant-lease records written, escalations and recurring charges checked; a stop or
// a failed write inside it restores every file.
#include "pml_fixture.h"

#include "platform/datafile/store.h"
#include "platform/ui/run_state.h"

#include <gmock/gmock.h>

#include <functional>
#include <set>

namespace dz::pm::testing {

using namespace convert;
namespace {

using ::testing::HasSubstr;
using ::testing::Not;

// A converter that changes what the pass will walk (or the run) just before it starts.
class PassConverter : public xvPML {
public:
    std::function<void(xvPML&, convert::ConvertContext&)> before;

protected:
    bool FinishConversion(convert::ConvertContext& ctx) override {
        if (before) before(*this, ctx);
        return xvPML::FinishConversion(ctx);
    }
};

class PmlFinishTest : public PmlTest {
protected:
    void SetUp() override {
        PmlTest::SetUp();
        Property("PFX", "11233");
        Unit("PFX", "P1");
        Property("BARE");
        Unit("BARE", "B1");
        GlPrefix("11233");
        ChargeType("RENT");
    }
    std::string Pml(uint16_t rec, const char* field) { return GetText(H("PML"), rec, field); }
    bool ReadDefaultControl(const std::string& lease) {
        return FindRecord(H("PML"), kPmlChargeControl, {{"LCLEASE", lease}, {"LCREV", 0.0}, {"LCCT", "<default>"}}, {})
                   .where == Found::OnFile;
    }
    // Every tenant-lease record as "tenant/lease".
    std::set<std::string> TenantLeases() {
        std::set<std::string> all;
        const uint16_t h = H("PMN");
        xio_init_record(h, kPmnTenantLease);
        for (int s = xio_rd_first(h, kPmnTenantLease, 0, 0); s == XIO_OK; s = xio_rd_next(h, kPmnTenantLease, 0, 0))
            all.insert(GetText(h, kPmnTenantLease, "TENID") + "/" + GetText(h, kPmnTenantLease, "TLEASE"));
        return all;
    }
    void Charge(const std::string& lease, const std::string& type, const std::string& frequency,
                const std::string& amountType = "1", const std::string& last = "") {
        Put("PML", kPmlRecurringCharge, {{"RCLEASE", lease}, {"RCREV", "0"}, {"RCCT", type}, {"RCUNIT", "U100"},
                                         {"RCFREQ", frequency}, {"RCAMTT", amountType}, {"RCLSDT", last}});
    }
    void ChargeLog(const std::string& lease, const std::string& type, const std::string& date,
                   const std::string& frequency, const std::string& amount) {
        Put("PML", kPmlRecurringLog, {{"RCLLEAS", lease}, {"RCLREV", "0"}, {"RCLCT", type}, {"RCLUNIT", "U100"},
                                      {"RCLEFDT", date}, {"RCLFREQ", frequency}, {"RCLAMT", amount}});
    }
    // The description a recurring charge of unit U100 holds on file.
    std::string ChargeDescription(const char* lease, const char* type) {
        EXPECT_TRUE(ReadByKeys(H("PML"), kPmlRecurringCharge, {{"RCLEASE", lease}, {"RCCT", type}, {"RCUNIT", "U100"}}));
        return Pml(kPmlRecurringCharge, "RCADESC");
    }
    // The shipped template with one more format, `format` + "M", that may only modify records.
    void UseTemplateWithModifyFormat(const std::string& format) {
        std::string tpl = ReadFile((data_folder() / "templates" / "xvpml.tpl").string());
        const std::string head = "format " + format + "\n";
        const auto start = tpl.find(head);
        ASSERT_NE(start, std::string::npos);
        std::string modify = tpl.substr(start, tpl.find("\n\n", start) - start);
        modify.replace(0, head.size() - 1, "format " + format + "M");
        modify.replace(modify.find("permissions 2"), 13, "permissions 1");
        templateFile = company.str("xvpml-modify.tpl");
        WriteFile(templateFile, tpl + "\n" + modify + "\n");
    }
};

TEST_F(PmlFinishTest, LinksDefaultChargeControlsAndTenantLeases) {
    Lease("K0", 0, "STRIP", "U200", "BAKER");
    Put("PMP", kPmpLeaseUnitLink, {{"LUPROP", "STRIP"}, {"LUUNIT", "U200"}, {"LULEASE", "GONE"}, {"LUREV", "0"}});
    Put("PMP", 5, {{"PCPROP", "STRIP"}, {"PCCT", "<default>"}, {"PCGLPFX", "44555"}});
    Put("PML", kPmlChargeControl, {{"LCLEASE", "A4"}, {"LCREV", "0"}, {"LCCT", "<default>"}, {"LCGLPFX", "KEEP"}});
    const std::vector<std::string> lines = {
        LeaseLine("A1", {{"LINTT", "acme"}, {"LREFT", "BAKER"}}), LeaseLine("A2", {{"LPROP", "PFX"}, {"LUNIT", "P1"}}),
        LeaseLine("A3", {{"LPROP", "BARE"}, {"LUNIT", "B1"}}), LeaseLine("A4", {{"LUNIT", "U200"}}),
        Line("10", "PML", kPmlChargeControl,
             {{"LCLEASE", "A2"}, {"LCREV", "0"}, {"LCCT", "RENT"}, {"LCPMTOR", "1"}, {"LCBTTEN", "BAKER"}})};
    // Examine Files runs no pass: the link without a lease stays.
    Run(lines, false);
    EXPECT_TRUE(ReadLink("U200", "GONE"));
    const std::string report = Run(lines, true);
    EXPECT_FALSE(ReadLink("U200", "GONE")) << report;
    EXPECT_TRUE(ReadLink("U200", "K0"));
    // The prefix of the property's "<default>" charge, else the property's, else none.
    ASSERT_TRUE(ReadDefaultControl("A1")) << report;
    EXPECT_EQ(Pml(kPmlChargeControl, "LCGLPFX"), "44555");
    EXPECT_EQ(Pml(kPmlChargeControl, "LCBTTEN"), "ACME");
    EXPECT_EQ(GetNumber(H("PML"), kPmlChargeControl, "LCPMTOR"), 0);
    ASSERT_TRUE(ReadDefaultControl("A2"));
    EXPECT_EQ(Pml(kPmlChargeControl, "LCGLPFX"), "11233");
    ASSERT_TRUE(ReadDefaultControl("A3"));
    EXPECT_EQ(Pml(kPmlChargeControl, "LCGLPFX"), "");
    ASSERT_TRUE(ReadDefaultControl("A4"));
    EXPECT_EQ(Pml(kPmlChargeControl, "LCGLPFX"), "KEEP");
    // An interest tenant equal to the lease's tenant adds nothing; blank ones name no tenant; the
    // bill-to tenant of a charge control gets its own.
    EXPECT_EQ(TenantLeases(), (std::set<std::string>{"ACME/A1", "BAKER/A1", "ACME/A2", "BAKER/A2", "ACME/A3",
                                                     "ACME/A4", "BAKER/K0"}));
}

TEST_F(PmlFinishTest, EscalationsAndRecurringChargesChecked) {
    Lease("E1", 0, "STRIP", "U100", "ACME");
    Lease("X1", 0, "STRIP", "U100", "ACME", 2);
    Lease("E2", 0, "STRIP", "U100", "ACME");
    Charge("E1", "RENT", "3");
    Put("PML", kPmlIndexEscalation,
        {{"IELEASE", "E1"}, {"IEREV", "0"}, {"IECT", "RENT"}, {"IECU", "U100"}, {"IEABC1", "RENT"}, {"IEABU1", "U100"},
         {"IEABC2", "CAM"}, {"IEABU2", "U200"}, {"IEABC3", "TAX"}, {"IEABU3", "U100"}, {"IERETRO", "3"},
         {"IERCT", "WATER"}, {"IERU", "U100"}});
    Put("PML", kPmlIndexEscalation,
        {{"IELEASE", "X1"}, {"IEREV", "0"}, {"IECT", "RENT"}, {"IECU", "U100"}, {"IEABC1", "CAM"}, {"IEABU1", "U200"},
         {"IERETRO", "1"}, {"IERCT", "WATER"}, {"IERU", "U100"}});
    Charge("E2", "RENT", "3", "1", "3/1/2026");
    ChargeLog("E2", "RENT", "1/1/2026", "3", "12500");
    ChargeLog("E2", "RENT", "6/1/2026", "4", "99900");
    Charge("E2", "CAM", "4");
    Charge("E2", "TAX", "3");
    ChargeLog("E2", "TAX", "5/1/2026", "6", "5000");
    Charge("E2", "WATER", "1");
    Charge("E2", "GAS", "4", "2");
    PassConverter converter;
    converter.before = [](xvPML& c, convert::ConvertContext&) {
        c.m_escalationKeys = {{"E1", "0", "RENT", "U100"}, {"X1", "0", "RENT", "U100"}};
        for (const char* type : {"RENT", "CAM", "TAX", "WATER", "GAS"}) c.m_recurringChargeKeys.push_back({"E2", "0", type, "U100"});
    };
    const std::string report = Run(converter, {LeaseLine("Z1")}, true);
    EXPECT_EQ(Count(report, "Because it is referenced"), 4) << report;
    for (const char* charge : {"E1, 0, CAM, U200", "E1, 0, TAX, U100", "E1, 0, WATER, U100", "X1, 0, CAM, U200"})
        EXPECT_THAT(report, HasSubstr(std::string("Note: Recurring Charge '") + charge + "' not found."));
    EXPECT_EQ(Count(report, "      in Escalation 'E1, 0, RENT, U100', it should be added(1196)"), 3);
    EXPECT_TRUE(ReadLink("U200", "E1"));
    EXPECT_FALSE(ReadLink("U200", "X1"));  // canceled
    // The log on or before the last date applies; without one the earliest later; none at all is
    // "Not specified" unless the charge is weekly.
    EXPECT_EQ(Count(report, "doesn't match its log"), 2) << report;
    EXPECT_THAT(report, HasSubstr("Note: Recurring Chg 'E2, 0, CAM, U100' Frequency with 'Quarterly (4)' doesn't "
                                  "match its log\n                         with Frequency 'Not specified'."));
    EXPECT_THAT(report, HasSubstr("'E2, 0, TAX, U100' Frequency with 'Monthly (3)' doesn't match its log\n"
                                  "                         with Frequency 'Annually (6)'. The table"));
    const auto description = [&](const char* type) { return ChargeDescription("E2", type); };
    EXPECT_EQ(description("RENT"), "125.00 / month");
    EXPECT_EQ(description("TAX"), "50.00 / year");
    EXPECT_EQ(description("CAM"), "");
}

// Log entries the text file gives apply as those on file do: the latest on or before the charge's
// last date, else the earliest after it, else none.
TEST_F(PmlFinishTest, LogEntriesOfTheTextFileApplyAsThoseOnFile) {
    Lease("E2", 0, "STRIP", "U100", "ACME");
    Charge("E2", "RENT", "3", "1", "3/1/2026");
    Charge("E2", "CAM", "4");
    Charge("E2", "TAX", "3");
    Charge("E2", "WATER", "1");
    auto log = [&](const char* type, const char* date, const char* frequency, const char* amount) {
        return Line("15", "PML", kPmlRecurringLog,
                    {{"RCLLEAS", "E2"}, {"RCLREV", "0"}, {"RCLCT", type}, {"RCLUNIT", "U100"}, {"RCLEFDT", date},
                     {"RCLFREQ", frequency}, {"RCLAMT", amount}});
    };
    PassConverter converter;
    converter.before = [](xvPML& c, convert::ConvertContext&) {
        for (const char* type : {"CAM", "WATER"}) c.m_recurringChargeKeys.push_back({"E2", "0", type, "U100"});
    };
    const std::string report = Run(converter,
                                   {log("RENT", "6/1/2026", "4", "999.00"), log("RENT", "1/1/2026", "3", "125.00"),
                                    log("tax", "5/1/2026", "6", "50.00"), log("TAX", "7/1/2026", "4", "70.00")},
                                   true);
    // TAX is checked for each of its two entries, CAM once.
    EXPECT_EQ(Count(report, "doesn't match its log"), 3) << report;
    EXPECT_EQ(Count(report, "'E2, 0, TAX, U100' Frequency with 'Monthly (3)' doesn't match its log\n"
                            "                         with Frequency 'Annually (6)'."),
              2);
    EXPECT_THAT(report, HasSubstr("'E2, 0, CAM, U100' Frequency with 'Quarterly (4)' doesn't match its log\n"
                                  "                         with Frequency 'Not specified'."));
    const auto description = [&](const char* type) { return ChargeDescription("E2", type); };
    EXPECT_EQ(description("RENT"), "125.00 / month");
    EXPECT_EQ(description("TAX"), "50.00 / year");
    EXPECT_EQ(description("CAM"), "");
}

// A log entry a later line of the text file replaces applies as it now stands.
TEST_F(PmlFinishTest, ALogEntryALaterLineReplacesAppliesAsItNowStands) {
    UseTemplateWithModifyFormat("15");
    if (HasFatalFailure()) return;
    Lease("E4", 0, "STRIP", "U100", "ACME");
    Charge("E4", "RENT", "3", "1", "3/1/2026");
    auto log = [&](const char* format, const char* frequency, const char* amount) {
        return format + Line("15", "PML", kPmlRecurringLog,
                             {{"RCLLEAS", "E4"}, {"RCLREV", "0"}, {"RCLCT", "RENT"}, {"RCLUNIT", "U100"},
                              {"RCLEFDT", "6/1/2026"}, {"RCLFREQ", frequency}, {"RCLAMT", amount}})
                            .substr(2);
    };
    const std::string report = Run({log("15", "4", "999.00"), log("15M", "3", "125.00")}, true);
    EXPECT_THAT(report, Not(HasSubstr("doesn't match its log"))) << report;
    EXPECT_EQ(ChargeDescription("E4", "RENT"), "125.00 / month");
}

// A charge the text file adds takes its description after the record loop with every other field
// as it was converted; so does one a later line replaced, as it now stands.
TEST_F(PmlFinishTest, AChargeTheTextFileAddsTakesItsDescriptionAndKeepsEveryField) {
    UseTemplateWithModifyFormat("13");
    if (HasFatalFailure()) return;
    auto charge = [&](const char* format, const char* lease, const char* end) {
        return format + Line("13", "PML", kPmlRecurringCharge,
                             {{"RCLEASE", lease}, {"RCREV", "0"}, {"RCCT", "RENT"}, {"RCUNIT", "U100"},
                              {"RCSQFT", "gross"}, {"RCFREQ", "3"}, {"RCDMND", "2"}, {"RCAMTT", "1"},
                              {"RCNDATE", "2/1/2026"}, {"RCLSDT", "1/1/2026"}, {"RCTDATE", end}})
                            .substr(2);
    };
    auto log = [&](const char* lease) {
        return Line("15", "PML", kPmlRecurringLog,
                    {{"RCLLEAS", lease}, {"RCLREV", "0"}, {"RCLCT", "RENT"}, {"RCLUNIT", "U100"},
                     {"RCLEFDT", "1/1/2026"}, {"RCLFREQ", "3"}, {"RCLAMT", "125.00"}});
    };
    auto stored = [&](const char* lease) -> std::string {
        const uint16_t h = H("PML");
        constexpr uint16_t RC = kPmlRecurringCharge;
        if (!ReadByKeys(h, RC, {{"RCLEASE", lease}, {"RCCT", "RENT"}, {"RCUNIT", "U100"}})) return "not on file";
        return Pml(RC, "RCPROP") + "|" + Pml(RC, "RCSQFT") + "|" + WholeText(GetNumber(h, RC, "RCFREQ")) + "|" +
               WholeText(GetNumber(h, RC, "RCDMND")) + "|" + WholeText(GetNumber(h, RC, "RCAMTT")) + "|" +
               DateText(GetDate(h, RC, "RCNDATE")) + "|" + DateText(GetDate(h, RC, "RCLSDT")) + "|" +
               DateText(GetDate(h, RC, "RCTDATE")) + "|" + Pml(RC, "RCADESC");
    };
    Lease("E6", 0, "STRIP", "U100", "ACME");
    Lease("E7", 0, "STRIP", "U100", "ACME");
    const std::string added = Run({charge("13", "E6", "12/31/2027"), log("E6")}, true);
    const std::string replaced =
        Run({charge("13", "E7", "12/31/2027"), log("E7"), charge("13M", "E7", "6/30/2027")}, true);
    // The dates as messages show them.
    const std::string dates = DateText(suite::zqDate(2, 1, 2026)) + "|" + DateText(suite::zqDate(1, 1, 2026)) + "|";
    EXPECT_EQ(stored("E6"), "STRIP|Gross|3|0|1|" + dates + DateText(suite::zqDate(12, 31, 2027)) + "|125.00 / month")
        << added;
    EXPECT_EQ(stored("E7"), "STRIP|Gross|3|0|1|" + dates + DateText(suite::zqDate(6, 30, 2027)) + "|125.00 / month")
        << replaced;
}

// A recurring charge another handle holds cannot take its description: the file ends with every
// file restored.
TEST_F(PmlFinishTest, ARecurringChargeHeldElsewhereEndsTheFileWithEveryFileRestored) {
    Lease("E2", 0, "STRIP", "U100", "ACME");
    Charge("E2", "RENT", "3", "1", "3/1/2026");
    ChargeLog("E2", "RENT", "1/1/2026", "3", "12500");
    uint16_t other = 0;
    PassConverter converter;
    converter.before = [&](xvPML& c, convert::ConvertContext&) {
        c.m_recurringChargeKeys.push_back({"E2", "0", "RENT", "U100"});
        ASSERT_EQ(xio_open_file(company.path() / "MASTER.PML", XIO_OPEN_READ_WRITE, other), XIO_OK);
        xio_init_record(other, kPmlRecurringCharge);
        PutText(other, kPmlRecurringCharge, "RCLEASE", "E2");
        PutText(other, kPmlRecurringCharge, "RCCT", "RENT");
        PutText(other, kPmlRecurringCharge, "RCUNIT", "U100");
        ASSERT_EQ(xio_rd_record(other, kPmlRecurringCharge, 0, 1), XIO_OK);
    };
    ExpectRunRestores(converter, {LeaseLine("Z1")}, "Unable to read from or write to a Halvorsend data file");
    xio_cls_file(other);
}

TEST_F(PmlFinishTest, ALeaseALaterLineModifiesIsTakenAsItNowStands) {
    // The shipped template with one more lease format, "1M", that may only modify leases.
    UseTemplateWithModifyFormat("1");
    if (HasFatalFailure()) return;
    Unit("STRIP", "U300");
    // A1 starts on June 1 and is U300's current lease; a later line moves its start to January 1
    // and gives it to BAKER; B1, starting in March, then takes the unit.
    const std::string report =
        Run({LeaseLine("A1", {{"LUNIT", "U300"}, {"LACTST", "6/1/2026"}}),
             "1M" + LeaseLine("A1", {{"LUNIT", "U300"}, {"LACTST", "1/1/2026"}, {"LTENANT", "BAKER"}}).substr(1),
             LeaseLine("B1", {{"LUNIT", "U300"}, {"LACTST", "3/1/2026"}})},
            true);
    ASSERT_TRUE(ReadLease("A1")) << report;
    // The modifying line leaves the interest tenant it does not give as it was.
    EXPECT_EQ(Pml(kPmlLease, "LTENANT") + "/" + Pml(kPmlLease, "LINTT"), "BAKER/ACME") << report;
    EXPECT_EQ(CurrentLease("U300"), "B1/ACME") << report;
    // The finishing pass bills A1's default charge control to the tenant it has now.
    ASSERT_TRUE(ReadDefaultControl("A1"));
    EXPECT_EQ(Pml(kPmlChargeControl, "LCBTTEN"), "BAKER");
    EXPECT_EQ(TenantLeases(), (std::set<std::string>{"ACME/A1", "BAKER/A1", "ACME/B1"})) << report;
}

// A lease starting the very day the unit's current lease on file starts leaves that one current.
TEST_F(PmlFinishTest, ALeaseStartingWithTheUnitsCurrentLeaseLeavesItCurrent) {
    Put("PMP", kPmpUnit, {{"UPROP", "STRIP"}, {"UNIT", "U300"}, {"UCURLES", "X1"}, {"UCURREV", "0"}, {"UCURTEN", "ACME"}});
    Put("PML", kPmlLease, {{"LEASE", "X1"}, {"LREV", "0"}, {"LPROP", "STRIP"}, {"LUNIT", "U300"}, {"LTENANT", "ACME"},
                           {"LSTATUS", "3"}, {"LACTST", "3/1/2026"}});
    const std::string report =
        Run({LeaseLine("B1", {{"LUNIT", "U300"}, {"LACTST", "3/1/2026"}, {"LTENANT", "BAKER"}})}, true);
    ASSERT_TRUE(ReadLease("B1")) << report;
    EXPECT_EQ(CurrentLease("U300"), "X1/ACME") << report;
}

// The records after a line that modifies a lease see the lease as that line left it.
TEST_F(PmlFinishTest, ADepositAfterALineCancelingItsLeaseLinksNoUnit) {
    UseTemplateWithModifyFormat("1");
    if (HasFatalFailure()) return;
    Put("PMP", 7, {{"PDPROP", "STRIP"}, {"PDDTYPE", "Security"}});
    auto deposit = [&](const char* unit) {
        return Line("3", "PML", kPmlDeposit, {{"LDLEASE", "A1"}, {"LDREV", "0"}, {"LDUNIT", unit}, {"LDDTYPE", "Security"}});
    };
    const std::string report = Run({LeaseLine("A1"), deposit("U100"), "1M" + LeaseLine("A1", {{"LSTATUS", "2"}}).substr(1),
                                    deposit("U200")},
                                   true);
    EXPECT_TRUE(ReadLink("U100", "A1")) << report;
    EXPECT_FALSE(ReadLink("U200", "A1")) << report;
}

TEST_F(PmlFinishTest, AChargeAndItsLogEntryAreEachCheckedAndNoted) {
    Lease("E3", 0, "STRIP", "U100", "ACME");
    Charge("E3", "CAM", "4");
    Charge("E3", "TAX", "3");
    ChargeLog("E3", "TAX", "5/1/2026", "3", "5000");
    PassConverter converter;
    converter.before = [](xvPML& c, convert::ConvertContext&) {
        // Each charge's key, then its log's, as the text file lists them; CAM again after TAX.
        for (const char* type : {"CAM", "CAM", "TAX", "TAX", "CAM"})
            c.m_recurringChargeKeys.push_back({"E3", "0", type, "U100"});
    };
    const std::string report = Run(converter, {LeaseLine("Z3")}, true);
    EXPECT_EQ(Count(report, "Recurring Chg 'E3, 0, CAM, U100' Frequency with 'Quarterly (4)' doesn't match its log"), 3)
        << report;
    EXPECT_EQ(Count(report, "'E3, 0, TAX, U100'"), 0) << report;
    EXPECT_EQ(progress.notes, 3);
    EXPECT_TRUE(ReadByKeys(H("PML"), kPmlRecurringCharge, {{"RCLEASE", "E3"}, {"RCCT", "TAX"}, {"RCUNIT", "U100"}}));
    EXPECT_EQ(Pml(kPmlRecurringCharge, "RCADESC"), "50.00 / month");
}

TEST_F(PmlFinishTest, AStopInsideEachStepRestoresEveryFile) {
    using Keys = std::function<void(xvPML&)>;
    const std::vector<Keys> steps = {
        [](xvPML& c) { c.m_leaseKeys.resize(c.m_leaseKeys.size() + 15); },
        [](xvPML& c) { c.m_chargeControlKeys.resize(15); },
        [](xvPML& c) { c.m_escalationKeys.resize(15); },
        [](xvPML& c) { c.m_recurringChargeKeys.resize(15); },
        [&](xvPML&) {},  // the link scan, with 15 links on file
    };
    for (std::size_t i = 0; i < steps.size(); ++i) {
        SCOPED_TRACE(i);
        if (i + 1 == steps.size())
            for (int n = 0; n < 15; ++n)
                Put("PMP", kPmpLeaseUnitLink,
                    {{"LUPROP", "STRIP"}, {"LUUNIT", "U100"}, {"LULEASE", "W" + std::to_string(n)}, {"LUREV", "0"}});
        PassConverter converter;
        converter.before = [&](xvPML& c, convert::ConvertContext& ctx) {
            steps[i](c);
            ctx.progress->stop = 1;
        };
        ExpectRunRestores(converter, {LeaseLine("S1")}, "Conversion canceled by operator");
        EXPECT_FALSE(ReadLease("S1"));
    }
}

TEST_F(PmlFinishTest, ABackgroundRunToldToEndDuringTheLinkScanStopsAsTheOperatorDoes) {
    PassConverter converter;
    converter.before = [](xvPML&, convert::ConvertContext&) {
        ui::run_state().in_background = true;
        ui::request_terminate();
    };
    // A background run's stop goes to its own log, not to this report; unlike an I/O failure it
    // counts no message.
    ExpectRunRestores(converter, {LeaseLine("B1")}, "");
    ui::reset_run_state();
    EXPECT_EQ(progress.messages, 0);
    EXPECT_FALSE(ReadLease("B1"));
}

TEST_F(PmlFinishTest, AFailedWriteInsideThePassEndsTheFileWithEveryFileRestored) {
    for (const char* abbr : {"PML", "PMN"}) {
        SCOPED_TRACE(abbr);
        PassConverter converter;
        converter.before = [&](xvPML&, convert::ConvertContext&) {
            xio::fail_call(xio::FaultCall::WriteRecord, 1, XIO_IO_ERROR, abbr);
        };
        ExpectRunRestores(converter, {LeaseLine("F1")}, "Unable to read from or write to a Halvorsend data file");
        EXPECT_TRUE(xio::faults_spent());
        xio::clear_faults();
        EXPECT_FALSE(ReadLease("F1"));
    }
}

}  // namespace
}  // namespace dz::pm::testing
