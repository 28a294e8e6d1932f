// Budgets, journals, partners and the partner tables of prefix records.
#include "test_glm_support.h"

#include "convert/texts.h"

#include <gmock/gmock.h>

namespace dz::gl::testing {

using namespace convert;
namespace {

std::string Parts() {
    return Line("3", {{"PAPRFX", "01"}}) + Line("4", {{"PBPRFX", "01-1"}}) + Line("5", {{"PCPRFX", "01-1-10"}}) +
           Line("6", {{"BSBASE", "1000-00"}, {"BSTITLE", "Cash"}, {"BSTYPE", "1"}}) +
           Line("6", {{"BSBASE", "1500-00"}, {"BSTITLE", "Equipment"}, {"BSTYPE", "2"}, {"BSBGTS", "N"}}) +
           Line("6", {{"BSBASE", "3100-00"}, {"BSTITLE", "Retained earnings"}, {"BSTYPE", "6"}});
}

std::string Budget(const std::string& account, std::map<std::string, std::string> amounts, const char* year = "2026",
                   const char* type = "1") {
    amounts["BACCT"] = account;
    amounts["BYEAR"] = year;
    amounts["BTYPE"] = type;
    return Line("8", amounts);
}

class GlmBudgets : public GlmTest {
    void Adjust(suite::CompanySettings& s) override {
        s.descriptions[118] = "Budget type 2";  // set up: the words begin with a capital
        s.descriptions[119] = "budget type 3";  // the suite's placeholder: not set up
    }
};

TEST_F(GlmBudgets, TheAccountMustExistAndAllowBudgets) {
    const std::string text = WriteText(
        "a.txt", Parts() + Line("1B", {{"AACCT", "01-1-10-1000-00"}}) + Line("1B", {{"AACCT", "01-1-10-1500-00"}}) +
                     Budget("01-1-10-1000-00", {{"BAANN", "120.00"}}) + Budget("01-1-10-1500-00", {}) +
                     Budget("01-1-10-3100-00", {}) + Budget("01-1-10-1000-00", {}, "0") +
                     Budget("01-1-10-1000-00", {}, "2026", "3") + Budget("01-1-10-1000-00", {}, "2027", "2"));
    // Examining: the accounts stand only earlier in the text file.
    for (const char* task : {"Examine Files", "Convert"}) {
        const std::string report = Run(text, task);
        EXPECT_TRUE(Has(report, "Account 01-1-10-1500-00 does not allow budget entries(103)")) << report;
        EXPECT_TRUE(Has(report, "Account 01-1-10-3100-00 does not exist(102)")) << report;
        EXPECT_TRUE(Has(report, "Zero Budget year is not allowed(100)")) << report;
        EXPECT_TRUE(Has(report, "Budget Type 3 is not set up in custom descriptions(101)")) << report;
        EXPECT_FALSE(Has(report, "Budget Type 2")) << report;
        // Six budgets: four rejected, two accepted.
        EXPECT_TRUE(Has(report, "Budget                       6              0              4             2")) << report;
    }
    xio_init_record(Glm(), kRecBudget);
    PutText(Glm(), kRecBudget, "BACCT", "01110100000");
    PutNumber(Glm(), kRecBudget, "BYEAR", 2026);
    PutNumber(Glm(), kRecBudget, "BTYPE", 1);
    ASSERT_EQ(xio_rd_record(Glm(), kRecBudget, 0, 0), XIO_OK);
    EXPECT_EQ(GetNumber(Glm(), kRecBudget, "BAANN"), 12000);
}

TEST_F(GlmBudgets, PeriodThirteenIsClearedWithOneMessage) {
    const std::string text = WriteText(
        "a.txt", Parts() + Line("1B", {{"AACCT", "01-1-10-1000-00"}}) +
                     Budget("01-1-10-1000-00", {{"BAPER13", "2.00"}, {"BCPER13", "3.00"}, {"BAPER12", "1.00"}}) +
                     Budget("01-1-10-1000-00", {{"BCPER13", "3.00"}}, "2027"));
    const std::string report = Run(text, "Convert");
    EXPECT_TRUE(Has(report, "Message for Budget - '01-1-10-1000-00', '2026', '1':\n"
                            "                      Budget period 13 is not set up, period 13 amount have changed from 2.00 "
                            "to 0(108))\n"))
        << report;
    EXPECT_TRUE(Has(report, "Message for Budget - '01-1-10-1000-00', '2027', '1':\n"
                            "                      Budget period 13 is not set up, period 13 amount have changed from 3.00 "
                            "to 0(108))\n"))
        << report;
    xio_init_record(Glm(), kRecBudget);
    PutText(Glm(), kRecBudget, "BACCT", "01110100000");
    PutNumber(Glm(), kRecBudget, "BYEAR", 2026);
    PutNumber(Glm(), kRecBudget, "BTYPE", 1);
    ASSERT_EQ(xio_rd_record(Glm(), kRecBudget, 0, 0), XIO_OK);
    EXPECT_EQ(GetNumber(Glm(), kRecBudget, "BAPER13"), 0);
    EXPECT_EQ(GetNumber(Glm(), kRecBudget, "BCPER13"), 0);
    EXPECT_EQ(GetNumber(Glm(), kRecBudget, "BAPER12"), 100);
}

class GlmAccrualBudgets : public GlmTest {
    void Adjust(suite::CompanySettings& s) override { s.accounting_method = 1; }
};

TEST_F(GlmAccrualBudgets, CashAmountsAreClearedWithOneMessage) {
    const std::string text = WriteText(
        "a.txt", Parts() + Line("1B", {{"AACCT", "01-1-10-1000-00"}}) +
                     Budget("01-1-10-1000-00", {{"BCPER2", "5.00"}, {"BCPER7", "6.00"}, {"BAPER2", "7.00"}}));
    const std::string report = Run(text, "Convert");
    const std::string cleared =
        "Cash budget amounts are not allowed for this company, cash field amounts have changed to 0(106)";
    ASSERT_TRUE(Has(report, cleared)) << report;
    EXPECT_EQ(report.find(cleared), report.rfind(cleared));
    xio_init_record(Glm(), kRecBudget);
    PutText(Glm(), kRecBudget, "BACCT", "01110100000");
    PutNumber(Glm(), kRecBudget, "BYEAR", 2026);
    PutNumber(Glm(), kRecBudget, "BTYPE", 1);
    ASSERT_EQ(xio_rd_record(Glm(), kRecBudget, 0, 0), XIO_OK);
    EXPECT_EQ(GetNumber(Glm(), kRecBudget, "BCPER2"), 0);
    EXPECT_EQ(GetNumber(Glm(), kRecBudget, "BCPER7"), 0);
    EXPECT_EQ(GetNumber(Glm(), kRecBudget, "BAPER2"), 700);
}

// ---- Journals and partners ---------------------------------------------------------------------

class GlmJournalsPartners : public GlmTest {
protected:
    uint16_t Header1Flag(const char* name) {
        EXPECT_EQ(xio_rd_header(Glm(), kHdrSettings, 0), XIO_OK);
        const uint16_t f = GetFlag(Glm(), HeaderFieldNo(Glm(), kHdrSettings, name));
        xio_free_header(Glm(), kHdrSettings);
        return f;
    }
};

TEST_F(GlmJournalsPartners, OffsettingEntriesNeedTheirSetting) {
    const std::string body = Line("2", {{"JJRNNUM", "5"}, {"JINTRCO", "Y"}});
    std::string report = Run(WriteText("a.txt", body), "Examine Files");
    EXPECT_TRUE(Has(report, "Offsetting entries is not set up in GL settings, offsetting entries checkbox will change from "
                            "YES to NO(112)"))
        << report;
    SetHeader(kHdrSettings, [&](uint16_t h) { PutHeaderFlag(h, 1, "INTRCHK", 1); });
    report = Run(WriteText("b.txt", body), "Convert");
    EXPECT_FALSE(Has(report, "Offsetting")) << report;
    xio_init_record(Glm(), kRecJournal);
    x_value_def v;
    v.number = 5;
    xio_put_field(Glm(), kRecJournal, FieldNo(Glm(), kRecJournal, "JJRNNUM"), v);
    ASSERT_EQ(xio_rd_record(Glm(), kRecJournal, 0, 0), XIO_OK);
    EXPECT_EQ(GetFlag(Glm(), kRecJournal, "JINTRCO"), 1);
}

TEST_F(GlmJournalsPartners, PartnersAreMarkedInUseOnlyWhenConverting) {
    const std::string text = WriteText("a.txt", Line("7", {{"PRPRTNR", "3"}}));
    const fs::path master = company.path() / "MASTER.GLM";
    ASSERT_EQ(xio_commit(Glm()), XIO_OK);
    const std::string before = ReadFile(master);
    Run(text, "Examine Files");
    EXPECT_EQ(Header1Flag("PRTNRS"), 0);
    EXPECT_EQ(ReadFile(master), before);  // Examine Files leaves the data file byte for byte
    Run(text, "Convert");
    EXPECT_EQ(Header1Flag("PRTNRS"), 1);
}

TEST_F(GlmJournalsPartners, APartnerIsNotConvertedWhileTheSettingsCannotSayPartnersAreInUse) {
    {
        FailingCalls fail;
        fail.Fail(xio::FaultCall::WriteHeader, 1, XIO_IO_ERROR, "GLM");
        const std::string report = Run(WriteText("io.txt", Line("7", {{"PRPRTNR", "3"}})), "Convert");
        EXPECT_TRUE(fail.Spent());
        EXPECT_THAT(report, ::testing::HasSubstr("I/O Error writing record"));
    }
    EXPECT_FALSE(Read(kRecPartner, "PRPRTNR", "3"));
    EXPECT_EQ(Header1Flag("PRTNRS"), 0);

    // A full disk ends the file and restores it.
    const std::string text = WriteText("full.txt", Line("7", {{"PRPRTNR", "4"}}));
    const std::string before = ReadFile(text);
    {
        FailingCalls fail;
        fail.Fail(xio::FaultCall::WriteHeader, 1, XIO_DISK_FULL, "GLM");
        EXPECT_THAT(Run(text, "Convert"), ::testing::HasSubstr("Out of disk space"));
    }
    EXPECT_FALSE(Read(kRecPartner, "PRPRTNR", "4"));
    EXPECT_EQ(ReadFile(text), before);
}

// ---- Partner tables --------------------------------------------------------------------------

class GlmPartnerTables : public GlmTest {
protected:
    void SetUp() override {
        GlmTest::SetUp();
        Run(WriteText("parts.txt", Parts()), "Convert");
        first = FieldNo(Glm(), kRecPrefixA, "PAPAR1");
        last = FieldNo(Glm(), kRecPrefixA, "PAPAR50");
        xio_init_record(Glm(), kRecPrefixA);
    }
    // Partner `n` (from 1) of the prefix A buffer.
    void Partner(int n, double number, double percent, const std::string& base) {
        const auto f = static_cast<uint16_t>(first + 3 * (n - 1));
        PutNumber(Glm(), f, number);
        PutNumber(Glm(), static_cast<uint16_t>(f + 1), percent * 1000000);
        PutText(Glm(), static_cast<uint16_t>(f + 2), base);
    }
    bool Check(bool converting = true, const RecordIdMap& ids = {}) {
        reason.clear();
        messages.clear();
        return CheckPrefixPartners(Glm(), first, last, reason, messages, converting, ids);
    }
    uint16_t first = 0, last = 0;
    std::string reason;
    convert::MessageList messages;
};

TEST_F(GlmPartnerTables, TheRunHoldsFiftyTriples) {
    EXPECT_EQ(last - first + 1, 150);
    for (uint16_t f = first; f <= last; f += 3) {
        xio_fld_def number, percent, base;
        xio_get_fld_def(Glm(), f, number);
        xio_get_fld_def(Glm(), static_cast<uint16_t>(f + 1), percent);
        xio_get_fld_def(Glm(), static_cast<uint16_t>(f + 2), base);
        EXPECT_EQ(number.type, XIO_TYPE_NUMBER) << number.name;
        EXPECT_EQ(percent.decimals, 6) << percent.name;
        EXPECT_EQ(base.keyFormat, 9) << base.name;
        EXPECT_EQ(base.record, kRecPrefixA);
    }
    // Partner 50 alone is found by the walk, and is not contiguous.
    Partner(50, 7, 100, "310000");
    EXPECT_FALSE(Check());
    EXPECT_EQ(reason, "Partners must be contiguous, 'partner 50' ('7','100.000000','3100-00') is not contiguous(150)");
}

TEST_F(GlmPartnerTables, EmptyAndCompleteTablesPass) {
    EXPECT_TRUE(Check());
    EXPECT_TRUE(messages.empty());
    Partner(1, 11, 60, "310000");
    Partner(2, 12, 40, "310000");
    EXPECT_TRUE(Check()) << reason;
    EXPECT_TRUE(messages.empty());
}

TEST_F(GlmPartnerTables, ATotalOtherThanAHundredIsAMessage) {
    Partner(1, 11, 60, "310000");
    Partner(2, 12, 30, "310000");
    EXPECT_TRUE(Check()) << reason;
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0], "Partner percentages do not total 100 percent (they total to 90.000000%)(154)");
    Partner(3, 13, 25.5, "310000");
    EXPECT_TRUE(Check()) << reason;
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0], "Partner percentages do not total 100 percent (they total to 115.500000%)(154)");
}

TEST_F(GlmPartnerTables, GapsDuplicatesAndMissingBasesAreRejected) {
    Partner(1, 11, 50, "310000");
    Partner(3, 13, 50, "310000");
    EXPECT_FALSE(Check());
    EXPECT_EQ(reason, "Partners must be contiguous, 'partner 3' ('13','50.000000','3100-00') is not contiguous(150)");

    xio_init_record(Glm(), kRecPrefixA);
    Partner(1, 11, 50, "310000");
    Partner(2, 0, 0, "");
    Partner(3, 0, 5, "");
    EXPECT_FALSE(Check());
    EXPECT_EQ(reason, "Partners must be contiguous, 'partner 3' ('0','5.000000','') is not contiguous(150)");

    xio_init_record(Glm(), kRecPrefixA);
    Partner(1, 11, 50, "310000");
    Partner(2, 11, 50, "310000");
    EXPECT_FALSE(Check());
    EXPECT_EQ(reason, "Partner 2's partner number '11' is a duplicate(153)");

    xio_init_record(Glm(), kRecPrefixA);
    Partner(1, 11, 100, "");
    EXPECT_FALSE(Check());
    EXPECT_EQ(reason, "Partner 1 ('11') doesn't have a retained earnings base account(151)");

    xio_init_record(Glm(), kRecPrefixA);
    Partner(1, 11, 100, "100000");  // a base account, but not of type 6
    EXPECT_FALSE(Check());
    EXPECT_EQ(reason, "Partner 1's retained earnings base account of '1000-00' doesn't exist(152)");
    xio_init_record(Glm(), kRecPrefixA);
    Partner(1, 11, 100, "320000");
    EXPECT_FALSE(Check());
    EXPECT_EQ(reason, "Partner 1's retained earnings base account of '3200-00' doesn't exist(152)");
}

TEST_F(GlmPartnerTables, ExaminingFindsBaseAccountsOfEarlierLines) {
    // 3200-00 stands earlier in the text file: its examine code holds its type.
    RecordIdMap ids;
    xio_init_record(Glm(), kRecBaseAccount);
    PutText(Glm(), kRecBaseAccount, "BSBASE", "320000");
    std::string id;
    convert::RecordIdText(Glm(), id, kRecBaseAccount);
    ids[id] = 10106;  // budgets allowed, status 1, type 6
    xio_init_record(Glm(), kRecPrefixA);
    Partner(1, 11, 100, "320000");
    EXPECT_TRUE(Check(false, ids)) << reason;
    EXPECT_FALSE(Check(true, ids));  // converting, it must be on file
    ids[id] = 10107;
    EXPECT_FALSE(Check(false, ids));
}

}  // namespace
}  // namespace dz::gl::testing
