// The CM bank-account converter in process: the filling step from special values, the checks
// and corrections of a bank, notes records, the last-numbers record after each bank, and files
// left whole when a conversion does not stand.
#include "test_cmm_support.h"

#include "platform/import/xvl_import.h"
#include "platform/import/xvl_template.h"

#include <algorithm>

#include <gmock/gmock.h>

namespace dz::gl::testing {

using namespace convert;
namespace {

const std::string kCash = "01-1-10-1000-00";   // on file in GL
const std::string kCash2 = "01-1-20-1000-00";  // on file in GL
const std::string kCash3 = "01-2-10-1000-00";  // on file in GL

// ---- The filling step ---------------------------------------------------------------------------

TEST_F(CmmTest, WithoutTheSpecialBintcmpOrWithTheApKindGivenNothingIsFilled) {
    // P has a BCASH column but no BINTCMP: the cash account goes nowhere.
    Run(WriteText("p.txt", L("P", {{"BANKACC", "B1"}, {"BCASH", kCash}})), "Convert");
    ASSERT_TRUE(Read(kCmRecBank, "B1"));
    EXPECT_EQ(Text(kCmRecBank, "BAPCSHF"), "");
    EXPECT_EQ(Text(kCmRecBank, "BAPCSHB"), "");
    EXPECT_EQ(Flag(kCmRecBank, "BAPVALD"), 0);
    // FA names BAPCABF: the filling step does not run either.
    Run(WriteText("fa.txt", L("FA", {{"BANKACC", "B2"}, {"BAPCABF", "1"}, {"BINTCMP", "1"}, {"BCASH", kCash}})),
        "Convert");
    ASSERT_TRUE(Read(kCmRecBank, "B2"));
    EXPECT_EQ(Text(kCmRecBank, "BAPCSHF"), "");
    EXPECT_EQ(MultipleCash(), 0);
}

TEST_F(CmmTest, BintcmpOneMakesTheCashAccountFullAnyOtherValueABaseAccount) {
    ASSERT_TRUE(suite::xk_prefixed(suite::kGlAccountFormat));
    const std::string body = L("F", {{"BANKACC", "FULL"}, {"BINTCMP", "1"}, {"BCASH", kCash}}) +
                             L("F", {{"BANKACC", "BASE"}, {"BINTCMP", "2"}, {"BCASH", "1000-00"}});
    const std::string report = Run(WriteText("f.txt", body), "Convert");
    ASSERT_TRUE(Read(kCmRecBank, "FULL")) << report;
    EXPECT_EQ(Number(kCmRecBank, "BAPCABF"), 1);
    EXPECT_EQ(Text(kCmRecBank, "BAPCSHF"), Unformatted(kCash));
    EXPECT_EQ(Text(kCmRecBank, "BAPCSHB"), "");
    EXPECT_EQ(Flag(kCmRecBank, "BAPVALD"), 1);
    ASSERT_TRUE(Read(kCmRecBank, "BASE")) << report;
    EXPECT_EQ(Number(kCmRecBank, "BAPCABF"), 2);
    EXPECT_EQ(Text(kCmRecBank, "BAPCSHB"), Unformatted("1000-00", suite::kGlBaseAccount));
    EXPECT_EQ(Text(kCmRecBank, "BAPCSHF"), "");
    EXPECT_EQ(Flag(kCmRecBank, "BAPVALD"), 1);
    // A base account is not more than a base account: no general cash account.
    EXPECT_EQ(Text(kCmRecBank, "BGENCSH"), "");
}

TEST_F(CmmTest, DifferentCashAccountsTurnSeveralCashAccountsOnWithoutAGeneralOne) {
    const std::string body = L("F", {{"BANKACC", "MIXED"}, {"BINTCMP", "1"}, {"BCASH", kCash}, {"BPRCASH", kCash2}}) +
                             L("F", {{"BANKACC", "SAME"}, {"BINTCMP", "1"}, {"BCASH", kCash}, {"BPRCASH", kCash}});
    const std::string report = Run(WriteText("mix.txt", body), "Convert");
    ASSERT_TRUE(Read(kCmRecBank, "MIXED")) << report;
    EXPECT_EQ(Flag(kCmRecBank, "BMLTCSH"), 1);
    EXPECT_EQ(Text(kCmRecBank, "BGENCSH"), "");
    EXPECT_EQ(Flag(kCmRecBank, "BPRVALD"), 1);
    ASSERT_TRUE(Read(kCmRecBank, "SAME"));
    EXPECT_EQ(Text(kCmRecBank, "BGENCSH"), Unformatted(kCash));
    EXPECT_EQ(MultipleCash(), 1);
}

TEST_F(CmmTest, TheReceivablesCashAccountAlsoServesPm) {
    Run(WriteText("rc.txt", L("F", {{"BANKACC", "RECV"}, {"BINTCMP", ""}, {"BRCCASH", kCash3}})), "Convert");
    ASSERT_TRUE(Read(kCmRecBank, "RECV"));
    EXPECT_EQ(Flag(kCmRecBank, "BRECVLD"), 1);
    EXPECT_EQ(Text(kCmRecBank, "BPMCSHF"), Unformatted(kCash3));
    EXPECT_EQ(Flag(kCmRecBank, "BPMVALD"), 1);
    EXPECT_EQ(Number(kCmRecBank, "BPMCABF"), 1);
}

TEST_F(CmmTest, LastNumbersFromSpecialValuesAndADepositAmountAloneIsKept) {
    const std::string body =
        L("F", {{"BANKACC", "CHK"}, {"BINTCMP", "1"}, {"BCASH", kCash}, {"BLSTCHK", "10452"}, {"BLSTCDT", "11/30/26"},
                {"BLSTCA", "1523.40"}, {"BPLSTC", "20871"}, {"BLSTDA", "0"}, {"BLSTDDT", "12/01/26"}}) +
        // A deposit amount without its date and without any check number.
        L("F", {{"BANKACC", "DEP"}, {"BINTCMP", "1"}, {"BLSTDA", "4100.00"}});
    const std::string report = Run(WriteText("ln.txt", body), "Convert");
    ASSERT_TRUE(Read(kCmRecLastNumbers, "CHK")) << report;
    EXPECT_EQ(Number(kCmRecLastNumbers, "LTAPC"), 10452);
    EXPECT_EQ(Number(kCmRecLastNumbers, "LTAPCA"), 152340);
    EXPECT_EQ(GetDate(Cmm(), FieldNo(Cmm(), kCmRecLastNumbers, "LTAPCDT")), (x_date_type{11, 30, 2026}));
    EXPECT_EQ(Number(kCmRecLastNumbers, "LTPRC"), 20871);
    // A deposit of 0 puts neither its amount nor its date.
    EXPECT_TRUE(GetDate(Cmm(), FieldNo(Cmm(), kCmRecLastNumbers, "LTDEPDT")).blank());
    ASSERT_TRUE(Read(kCmRecLastNumbers, "DEP"));
    EXPECT_EQ(Number(kCmRecLastNumbers, "LTDEPA"), 410000);
    // Nothing the bank before gave stays for this one.
    EXPECT_EQ(Number(kCmRecLastNumbers, "LTAPC"), 0);
    EXPECT_EQ(Number(kCmRecLastNumbers, "LTAPCA"), 0);
    EXPECT_TRUE(GetDate(Cmm(), FieldNo(Cmm(), kCmRecLastNumbers, "LTAPCDT")).blank());
}

// ---- Checks and corrections of the bank -----------------------------------------------------------

TEST_F(CmmTest, ABankWithoutItsAccountIsRejected) {
    // The import refuses a line whose key is blank before any handler sees it...
    std::string report = Run(WriteText("nob.txt", L("P", {{"BANKACC", ""}, {"BPRCASH", kCash}})), "Examine Files");
    EXPECT_TRUE(Has(report, "Bank account is part of the record's key and can't be blank")) << report;
    // ...and the handler refuses a bank without its account on its own, naming it by the
    // company's description of a bank account.
    xvl::xvlImpTemplate tpl;
    ASSERT_EQ(tpl.xvlImpTemplateCreate(kCmmData / "xvcmmtest.tpl", list), 0);
    xvl::xvlImport import(tpl);
    xvl::xvlImpInfo info;
    xio_init_record(Cmm(), kCmRecBank);
    xvCMM converter;
    std::string reason;
    convert::MessageList messages;
    EXPECT_FALSE(converter.ConvertBankAccount(Cmm(), info, reason, messages, true, true, true, true, true, Glm(), true,
                                              import));
    EXPECT_EQ(reason, "Bank account is required(1001)");
    EXPECT_TRUE(messages.empty());
    EXPECT_EQ(converter.writeLastNumbers, 0);
}

TEST_F(CmmTest, SettingsWithOneCashAccountPerBankClearTheLinesCashAccountsWithOneMessage) {
    ASSERT_EQ(MultipleCash(), 0);
    const std::string report =
        Run(WriteText("one.txt", L("P", {{"BANKACC", "ONE"}, {"BAPCSHF", kCash}, {"BPRCASH", kCash2}})), "Convert");
    EXPECT_EQ(Count(report, "CM settings not using multi accts"), 1u) << report;
    EXPECT_TRUE(Has(report, "fields (like AP cash account " + kCash + ") were cleared(1034)")) << report;
    ASSERT_TRUE(Read(kCmRecBank, "ONE"));
    EXPECT_EQ(Text(kCmRecBank, "BAPCSHF"), "");
    EXPECT_EQ(Text(kCmRecBank, "BPRCASH"), "");
    EXPECT_EQ(Flag(kCmRecBank, "BMLTCSH"), 0);
    EXPECT_EQ(Flag(kCmRecBank, "BAPVALD"), 0);
}

class CmmNoInterface : public CmmTest {
protected:
    void Adjust(suite::CompanySettings& s) override {
        for (auto& i : s.interfaces)
            if (i.from == "CM" && i.to == "GL") i.active = false;
    }
};

TEST_F(CmmNoInterface, WithoutTheGlInterfaceEveryApplicationsCashAccountGoes) {
    // Missing from GL, every one of them: only the general cash account is still looked up.
    const std::string missing = "01-1-10-1900-00";
    const std::string body = L("P", {{"BANKACC", "NOGL"},
                                     {"BAPCSHF", missing},
                                     {"BPMCSHF", missing},
                                     {"BPRCASH", missing},
                                     {"BRCCASH", missing}}) +
                             L("P", {{"BANKACC", "GEN"}, {"BGENCSH", missing}});
    const std::string report = Run(WriteText("nogl.txt", body), "Examine Files");
    EXPECT_TRUE(Has(report, "AP is not installed or CM is not interfacing with GL, AP cash acct " + missing +
                                " will not be converted(1005)"))
        << report;
    EXPECT_TRUE(Has(report, "PR cash acct " + missing + " will not be converted(1007)")) << report;
    // Too long for the line: the rest, code and all, on a continuation line.
    EXPECT_TRUE(Has(report, "Rec cash acct " + missing + " will not be\n" + std::string(24, ' ') + "converted(1009)"))
        << report;
    EXPECT_TRUE(Has(report, "PM cash acct " + missing + " will not be converted(1011)")) << report;
    EXPECT_EQ(Count(report, "not found in GL"), 1u) << report;
    EXPECT_TRUE(Has(report, "General cash account '" + missing + "' not found in GL accounts for bank GEN(1012)"))
        << report;
}

TEST_F(CmmTest, ABaseAccountGivenAloneMakesApBaseAndIsLookedUpAsABaseAccount) {
    SetMultipleCash(1);
    const std::string body = L("PB", {{"BANKACC", "BASE"}, {"BAPCSHB", "1010-00"}}) +
                             L("PB", {{"BANKACC", "NOBASE"}, {"BAPCSHB", "1900-00"}});
    const std::string report = Run(WriteText("b.txt", body), "Convert");
    ASSERT_TRUE(Read(kCmRecBank, "BASE")) << report;
    EXPECT_EQ(Number(kCmRecBank, "BAPCABF"), 2);
    EXPECT_EQ(Flag(kCmRecBank, "BAPVALD"), 1);
    EXPECT_TRUE(Has(report, "AP cash account '1900-00' not found in GL base accounts for bank NOBASE(1012)"))
        << report;
    EXPECT_FALSE(Read(kCmRecBank, "NOBASE"));
    EXPECT_FALSE(Read(kCmRecLastNumbers, "NOBASE"));  // a rejected bank leaves no record 5
}

TEST_F(CmmTest, AnAccountOfTheOtherKindIsClearedWithTheModesWords) {
    SetMultipleCash(1);
    const std::string line = L("P", {{"BANKACC", "BOTH"}, {"BAPCSHF", kCash}, {"BAPCSHB", "1000-00"}});
    // Both given, no kind: AP is full.
    std::string report = Run(WriteText("e.txt", line), "Examine Files");
    EXPECT_TRUE(Has(report, "AP full account is being used.  Base account '1000-00' will be cleared(1031)")) << report;
    report = Run(WriteText("c.txt", line), "Convert");
    EXPECT_TRUE(Has(report, "AP full account is being used.  Base account '1000-00' was cleared(1030)")) << report;
    ASSERT_TRUE(Read(kCmRecBank, "BOTH"));
    EXPECT_EQ(Text(kCmRecBank, "BAPCSHB"), "");
    EXPECT_EQ(Text(kCmRecBank, "BAPCSHF"), Unformatted(kCash));
    // PM base by its kind: the full account goes.
    report = Run(WriteText("pm.txt", L("PM", {{"BANKACC", "PMB"}, {"BPMCABF", "2"}, {"BPMCSHB", "1000-00"},
                                              {"BPMCSHF", kCash}})),
                 "Convert");
    EXPECT_TRUE(Has(report, "PM base account is being used.  Full account '" + kCash + "' was cleared(1032)")) << report;
}

TEST_F(CmmTest, AnInvalidApCashAccountIsRejected) {
    // A whole account given where the bank uses a base account.
    const std::string report =
        Run(WriteText("inv.txt", L("F", {{"BANKACC", "HOLD"}, {"BINTCMP", "2"}, {"BCASH", kCash}})), "Convert");
    EXPECT_TRUE(Has(report, "Invalid AP base cash account - ")) << report;
    EXPECT_TRUE(Has(report, "(1003)")) << report;
    EXPECT_FALSE(Read(kCmRecBank, "HOLD"));
}

TEST_F(CmmTest, ACashAccountGivenAsBaseThenAsFullIsTakenApartForEach) {
    // The same text is an invalid base account and a valid full account.
    const std::string body = L("F", {{"BANKACC", "ASBASE"}, {"BINTCMP", "2"}, {"BCASH", kCash}}) +
                             L("F", {{"BANKACC", "ASFULL"}, {"BINTCMP", "1"}, {"BCASH", kCash}});
    const std::string report = Run(WriteText("twice.txt", body), "Convert");
    EXPECT_THAT(report, ::testing::HasSubstr("Invalid AP base cash account - "));
    EXPECT_FALSE(Read(kCmRecBank, "ASBASE"));
    ASSERT_TRUE(Read(kCmRecBank, "ASFULL")) << report;
    EXPECT_EQ(Text(kCmRecBank, "BAPCSHF"), Unformatted(kCash));
}

TEST_F(CmmTest, FilledBanksSharingACashAccountAreEachAnsweredAlike) {
    // Between two banks of one account another account is asked about, so that no answer is
    // merely the one given last.
    const std::string missing = "01-1-10-1900-00";
    auto bank = [](const std::string& name, const std::string& kind, const std::string& cash) {
        return L("F", {{"BANKACC", name}, {"BINTCMP", kind}, {"BCASH", cash}});
    };
    const std::string body = bank("LOST1", "1", missing) + bank("GOOD1", "1", kCash) + bank("BASE1", "2", kCash) +
                             bank("LOST2", "1", missing) + bank("GOOD2", "1", kCash) + bank("BASE2", "2", kCash);
    for (const char* command : {"Examine Files", "Convert"}) {
        const std::string report = Run(WriteText(std::string(command).substr(0, 3) + ".txt", body), command);
        using ::testing::HasSubstr;
        EXPECT_THAT(report, HasSubstr("not found in GL accounts for bank LOST1(1012)")) << command;
        EXPECT_THAT(report, HasSubstr("not found in GL accounts for bank LOST2(1012)")) << command;
        EXPECT_EQ(Count(report, "Invalid AP base cash account - "), 2u) << report;
        EXPECT_THAT(report, ::testing::Not(HasSubstr("bank GOOD"))) << command;
    }
    for (const char* name : {"GOOD1", "GOOD2"}) {
        ASSERT_TRUE(Read(kCmRecBank, name)) << name;
        EXPECT_EQ(Text(kCmRecBank, "BAPCSHF"), Unformatted(kCash));
        EXPECT_EQ(Flag(kCmRecBank, "BAPVALD"), 1);
    }
    for (const char* name : {"LOST1", "LOST2", "BASE1", "BASE2"}) EXPECT_FALSE(Read(kCmRecBank, name)) << name;
}

TEST_F(CmmTest, AmountsAreNeverConverted) {
    SetMultipleCash(1);
    // Several in one run of balances, its last included, each noted and cleared.
    const std::string report =
        Run(WriteText("amt.txt", L("P", {{"BANKACC", "AMT"}, {"BRECBAL", "123.45"}, {"BRGBLNC", "1.00"},
                                         {"BPSBLNC", "3.00"}, {"BLYINT", "4.00"}})),
            "Convert");
    EXPECT_TRUE(Has(report, "Reconciled balance is not a convertible field, '123.45' was not converted(1017)"))
        << report;
    for (const char* amount : {"'1.00'", "'3.00'", "'4.00'"})
        EXPECT_TRUE(Has(report, std::string(amount) + " was not converted(1017)")) << amount << report;
    ASSERT_TRUE(Read(kCmRecBank, "AMT"));
    for (const char* field : {"BRECBAL", "BRGBLNC", "BPSBLNC", "BLYINT"}) EXPECT_EQ(Number(kCmRecBank, field), 0) << field;
}

TEST_F(CmmTest, TheReconciledDateAndSetupStatusAreReportedOnEveryLine) {
    const std::string body = L("D", {{"BANKACC", "D1"}, {"BRECDT", "11/30/26"}, {"BSASTAT", "2"}}) +
                             L("D", {{"BANKACC", "D2"}});
    const std::string report = Run(WriteText("d.txt", body), "Examine Files");
    EXPECT_EQ(Count(report, "Last reconciled date is not a convertible field"), 2u) << report;
    EXPECT_EQ(Count(report, "Setup assistant status is not a convertible field"), 2u) << report;
    EXPECT_TRUE(Has(report, "'In progress(2)' will not be converted(1018)")) << report;
}

class CmmNoAp : public CmmTest {
protected:
    void Adjust(suite::CompanySettings& s) override {
        s.installed.erase("AP");
        std::erase_if(s.interfaces, [](const suite::InterfaceDef& i) { return i.from == "AP" || i.to == "AP"; });
    }
};

TEST_F(CmmNoAp, ApNotInstalledDropsItsCheckFormatMaximumAndUse) {
    SetMultipleCash(1);
    const std::string report =
        Run(WriteText("noap.txt", L("P", {{"BANKACC", "NOAP"}, {"BAPFORM", "STD"}, {"BAPMAX", "500.00"}})), "Convert");
    EXPECT_TRUE(Has(report, "AP is not installed, AP Check format 'STD' was not converted(1023)")) << report;
    EXPECT_TRUE(Has(report, "AP is not installed, AP max Check amount has changed from 500.00 to zero(1025)")) << report;
    ASSERT_TRUE(Read(kCmRecBank, "NOAP"));
    EXPECT_EQ(Text(kCmRecBank, "BAPFORM"), "");
    EXPECT_EQ(Number(kCmRecBank, "BAPMAX"), 0);
    EXPECT_EQ(Flag(kCmRecBank, "BAPVALD"), 0);
    // A line that marks the bank as used by AP has the mark taken off, line after line.
    Run(WriteText("useap.txt", L("V", {{"BANKACC", "USE1"}, {"BAPVALD", "Y"}}) +
                                   L("V", {{"BANKACC", "USE2"}, {"BAPVALD", "N"}}) +
                                   L("V", {{"BANKACC", "USE3"}, {"BAPVALD", "Y"}})),
        "Convert");
    for (const char* bank : {"USE1", "USE2", "USE3"}) {
        ASSERT_TRUE(Read(kCmRecBank, bank)) << bank;
        EXPECT_EQ(Flag(kCmRecBank, "BAPVALD"), 0) << bank;
    }
}

class CmmCheckFormats : public CmmTest {
protected:
    bool WithCheckFormatFiles() const override { return true; }
};

TEST_F(CmmCheckFormats, CheckFormatsAreLookedUpInApAndPr) {
    SeedIn(company.path() / "MASTER.APM", 11, "FNAME", "STD");
    SeedIn(company.path() / "SYSTEM.PRS", 16, "CFID", "PAY");
    SetMultipleCash(1);
    const std::string body =
        L("P", {{"BANKACC", "GOOD"}, {"BAPCSHF", kCash}, {"BAPFORM", "STD"}, {"BPRCASH", kCash}, {"BPRFORM", "PAY"}}) +
        L("P", {{"BANKACC", "NEW"}, {"BAPCSHF", kCash}, {"BAPFORM", "WIDE"}, {"BPRCASH", kCash}, {"BPRFORM", "LASER"}}) +
        L("P", {{"BANKACC", "NONE"}, {"BAPCSHF", kCash}, {"BPRCASH", kCash}});
    const std::string report = Run(WriteText("cf.txt", body), "Examine Files");
    EXPECT_FALSE(Has(report, "Bank 'GOOD'")) << report;
    EXPECT_TRUE(Has(report, "Bank 'NEW' is using AP check format 'WIDE'. This format does not yet exist in AP(1037)"))
        << report;
    EXPECT_TRUE(Has(report, "Bank 'NEW' is using PR check format 'LASER'. This format does not yet exist in PR(1037)"))
        << report;
    EXPECT_TRUE(Has(report, "Bank 'NONE' is used by AP and doesn't yet have an AP check format(1036)")) << report;
    EXPECT_TRUE(Has(report, "Bank 'NONE' is used by PR and doesn't yet have a PR check format(1036)")) << report;
}

TEST_F(CmmCheckFormats, BanksSharingAccountsAndFormatsAreEachAnsweredAlike) {
    SeedIn(company.path() / "MASTER.APM", 11, "FNAME", "STD");
    SetMultipleCash(1);
    const std::string missing = "01-1-10-1900-00";
    auto bank = [&](const std::string& name, const std::string& cash, const std::string& form) {
        return L("P", {{"BANKACC", name}, {"BAPCSHF", cash}, {"BAPFORM", form}});
    };
    const std::string body = bank("NEW1", kCash, "WIDE") + bank("GOOD1", kCash, "STD") + bank("NEW2", kCash, "WIDE") +
                             bank("LOST1", missing, "STD") + bank("GOOD2", kCash2, "STD") +
                             bank("LOST2", missing, "STD");
    const std::string report = Run(WriteText("share.txt", body), "Examine Files");
    EXPECT_EQ(Count(report, "This format does not yet exist in AP(1037)"), 2u) << report;
    using ::testing::HasSubstr;
    using ::testing::Not;
    EXPECT_THAT(report, HasSubstr("Bank 'NEW2' is using AP check format 'WIDE'"));
    EXPECT_THAT(report, Not(HasSubstr("Bank 'GOOD")));
    EXPECT_THAT(report, HasSubstr("not found in GL accounts for bank LOST1(1012)"));
    EXPECT_THAT(report, HasSubstr("not found in GL accounts for bank LOST2(1012)"));
    EXPECT_THAT(report, Not(HasSubstr("for bank GOOD2")));
}

class CmmNoGlm : public CmmTest {
protected:
    bool WithGlm() const override { return false; }
};

TEST_F(CmmNoGlm, WithoutTheGlMasterFileAccountsAreNotLookedUp) {
    SetMultipleCash(1);
    const std::string body = L("P", {{"BANKACC", "X1"}, {"BPRCASH", "01-1-10-1900-00"}}) +
                             L("P", {{"BANKACC", "X2"}, {"BAPCSHF", "01-1-10-1900-00"}});
    const std::string report = Run(WriteText("nogl.txt", body), "Convert");
    EXPECT_EQ(Count(report, "Unable to open GL master file, accounts are not being verified for existence(1000)"), 1u)
        << report;
    EXPECT_FALSE(Has(report, "not found in GL")) << report;
    EXPECT_TRUE(Read(kCmRecBank, "X1"));
    EXPECT_TRUE(Read(kCmRecBank, "X2"));
}

// ---- Notes, other record types and the last-numbers record ------------------------------------------

TEST_F(CmmTest, BankNotesAreSavedAndCountedUnderTheirOwnRecordNumber) {
    const std::string body = L("F", {{"BANKACC", "N1"}, {"BINTCMP", "1"}, {"BCASH", kCash}}) +
                             L("BN", {{"BANKACC", "N1"}, {"Converted Notes", ""}}) +
                             L("BN", {{"BANKACC", "N1"}, {"Converted Notes", "Two signatures."}}) +
                             L("BN", {{"BANKACC", "NOSUCH"}, {"Converted Notes", "Lost"}}) +
                             "BN,N1,\"not\" closed\r\n" + L("L", {{"LTBNKAC", "N1"}});
    xvCMM converter;
    const std::string report = Run(WriteText("n.txt", body), "Convert", converter);
    EXPECT_TRUE(Has(report, "The record to modify doesn't currently exist")) << report;
    EXPECT_TRUE(Has(report, "Record type 'Last numbers' cannot be converted as part of a CM Master file conversion(75)"))
        << report;
    EXPECT_EQ(progress.file_records, 6u);
    EXPECT_EQ(progress.file_rejected, 3u);  // the unknown bank, the broken line, record 5
    ASSERT_TRUE(Read(kCmRecBank, "N1"));
    std::string notes, piece;
    ASSERT_EQ(xio_rd_notes(Cmm(), kCmRecBank, 0), XIO_OK);
    while (xio_get_notes(Cmm(), piece) == XIO_OK) notes += piece;
    EXPECT_NE(notes.find("Two signatures."), std::string::npos) << notes;
    EXPECT_EQ(notes.find("Lost"), std::string::npos) << notes;
}

TEST_F(CmmTest, ExamineNeverPreparesLastNumbersConvertWritesOnePerBank) {
    const std::string body = L("F", {{"BANKACC", "A"}, {"BINTCMP", "1"}, {"BCASH", kCash}, {"BLSTCHK", "7"}}) +
                             L("P", {{"BANKACC", "B"}}) + L("P", {{"BANKACC", ""}});
    xvCMM examiner;
    Run(WriteText("x.txt", body), "Examine Files", examiner);
    EXPECT_EQ(examiner.writeLastNumbers, 0);
    EXPECT_FALSE(Read(kCmRecBank, "A"));
    EXPECT_EQ(MultipleCash(), 0);  // Examine Files wrote nothing, not even the settings
    Run(WriteText("y.txt", body), "Convert");
    ASSERT_TRUE(Read(kCmRecLastNumbers, "A"));
    EXPECT_EQ(Number(kCmRecLastNumbers, "LTAPC"), 7);
    ASSERT_TRUE(Read(kCmRecLastNumbers, "B"));
    EXPECT_EQ(Number(kCmRecLastNumbers, "LTAPC"), 0);
    EXPECT_EQ(MultipleCash(), 1);
}

TEST_F(CmmTest, ExamineSeesTheSettingsAnEarlierBankTurnedOn) {
    // The first bank turns several cash accounts on; the second one's accounts then stay, in
    // Examine Files as in Convert.
    const std::string body = L("F", {{"BANKACC", "FIRST"}, {"BINTCMP", "1"}, {"BCASH", kCash}}) +
                             L("P", {{"BANKACC", "SECOND"}, {"BPRCASH", kCash2}});
    const std::string examined = Run(WriteText("s1.txt", body), "Examine Files");
    EXPECT_FALSE(Has(examined, "CM settings not using multi accts")) << examined;
    EXPECT_EQ(MultipleCash(), 0);
    const std::string converted = Run(WriteText("s2.txt", body), "Convert");
    EXPECT_FALSE(Has(converted, "CM settings not using multi accts")) << converted;
    ASSERT_TRUE(Read(kCmRecBank, "SECOND"));
    EXPECT_EQ(Text(kCmRecBank, "BPRCASH"), Unformatted(kCash2));
}

TEST_F(CmmTest, AReplacedBankKeepsItsLastNumbersAndSaysSo) {
    Run(WriteText("first.txt", L("F", {{"BANKACC", "R"}, {"BINTCMP", "1"}, {"BCASH", kCash}, {"BLSTCHK", "100"}})),
        "Convert");
    ASSERT_TRUE(Read(kCmRecLastNumbers, "R"));
    const std::string body = L("FR", {{"BANKACC", "R"}, {"BINTCMP", "1"}, {"BCASH", kCash}, {"BLSTCHK", "200"}}) +
                             L("FR", {{"BANKACC", "R"}, {"BINTCMP", "1"}, {"BCASH", kCash}});
    const std::string report = Run(WriteText("again.txt", body), "Convert");
    EXPECT_EQ(Count(report, "Bank 'R' already has a last numbers record, its last numbers were not converted(1038)"), 1u)
        << report;
    ASSERT_TRUE(Read(kCmRecLastNumbers, "R"));
    EXPECT_EQ(Number(kCmRecLastNumbers, "LTAPC"), 100);
}

TEST_F(CmmTest, ARepeatedBankIsTheTextFilesDuplicateBeforeAndAfterLinesOfOtherKinds) {
    using ::testing::HasSubstr;
    // Into a file without banks: new banks only at first (a repeat in another case too), then
    // a notes line and a bank given with notes, then the repeats again.
    auto line = [](const char* key, const char* notes = "") {
        return L("1", {{"BANKACC", key}, {"BINTCMP", "1"}, {"BCASH", kCash}, {"Converted Notes", notes}}, true);
    };
    const std::string body = line("D1") + line("d1") + line("D1") +
                             L("BN", {{"BANKACC", "D1"}, {"Converted Notes", "Seen."}}, true) + line("d1") +
                             line("K2", "Vault key.") + line("K2");
    const std::string report = Run(WriteText("r.txt", body, "xvcmm"), "Convert");
    EXPECT_EQ(Count(report, "The text file has duplicate Bank account"), 4u) << report;
    EXPECT_THAT(report, ::testing::Not(HasSubstr("Duplicate Bank account"))) << report;
    EXPECT_EQ(progress.file_rejected, 4u);
    for (const char* bank : {"D1", "K2"}) {
        ASSERT_TRUE(Read(kCmRecBank, bank));
        std::string notes, piece;
        ASSERT_EQ(xio_rd_notes(Cmm(), kCmRecBank, 0), XIO_OK);
        while (xio_get_notes(Cmm(), piece) == XIO_OK) notes += piece;
        EXPECT_THAT(notes, HasSubstr(bank == std::string("D1") ? "Seen." : "Vault key."));
    }
    // A bank the file held before the text file began is the file's duplicate.
    const std::string again = Run(WriteText("a.txt", L("P", {{"BANKACC", "k2"}})), "Convert");
    EXPECT_THAT(again, HasSubstr("Duplicate Bank account")) << again;
    EXPECT_THAT(again, ::testing::Not(HasSubstr("The text file has duplicate"))) << again;
}

// The write of record 5 fails as the test says.
class FailingLastNumbers : public xvCMM {
public:
    int status = XIO_OK;
    int WriteLastNumbers(uint16_t cmm) override { return status == XIO_OK ? xvCMM::WriteLastNumbers(cmm) : status; }
};

TEST_F(CmmTest, AFailedLastNumbersWriteEndsTheFileAndRestoresIt) {
    Run(WriteText("seed.txt", L("P", {{"BANKACC", "KEPT"}})), "Convert");
    for (auto& e : list)
        if (e.handle) {
            ASSERT_EQ(xio_commit(e.handle), XIO_OK);
        }
    const std::string body = L("P", {{"BANKACC", "NEW1"}}) + L("P", {{"BANKACC", "NEW2"}});
    for (const int status : {XIO_DISK_FULL, XIO_IO_ERROR}) {
        FailingLastNumbers converter;
        converter.status = status;
        const std::string text = WriteText("fail.txt", body);
        const std::string before = ReadFile(text);
        const std::string report = Run(text, "Convert", converter);
        EXPECT_TRUE(Has(report, status == XIO_DISK_FULL ? "Out of disk space" : "Unable to")) << report;
        EXPECT_FALSE(Read(kCmRecBank, "NEW1"));
        EXPECT_FALSE(Read(kCmRecBank, "NEW2"));
        EXPECT_TRUE(Read(kCmRecBank, "KEPT"));
        EXPECT_EQ(ReadFile(text), before);  // not stamped
    }
}

// Stops the run, or loses the notes' print file, once the first bank is written.
class InterruptingConverter : public xvCMM {
public:
    bool dropNotes = false;

protected:
    void RecordWritten(convert::ConvertContext& ctx, xvl::xvlImpInfo& info) override {
        xvCMM::RecordWritten(ctx, info);
        if (dropNotes)
            ui::zp_cls_print_file(ctx.commandId, 201);
        else if (ctx.progress)
            ctx.progress->stop = 1;
    }
};

TEST_F(CmmTest, AStopMidFileOrNotesThatCannotPrintLeaveTheFileAsItWas) {
    SetMultipleCash(1);
    for (auto& e : list) xio_cls_file(e.handle), e.handle = 0;
    const std::string cmmBefore = ReadFile(company.path() / "MASTER.CMM");
    list.clear();
    uint16_t error16 = 0;
    xvCMM opener;
    ASSERT_TRUE(opener.OpenFiles(list, 3020, error16));
    xvGLM glOpener;
    ASSERT_TRUE(glOpener.OpenFiles(list, 3020, error16));

    const std::string body = L("F", {{"BANKACC", "S1"}, {"BINTCMP", "1"}, {"BCASH", kCash}, {"BLSTCHK", "5"}}) +
                             L("P", {{"BANKACC", "S2"}, {"BRECBAL", "1.00"}});
    for (const bool dropNotes : {false, true}) {
        const std::string text = WriteText(dropNotes ? "notes.txt" : "stop.txt", body);
        const std::string textBefore = ReadFile(text);
        InterruptingConverter converter;
        converter.dropNotes = dropNotes;
        const std::string report = Run(text, "Convert", converter);
        progress.stop = 0;
        if (!dropNotes) {
            EXPECT_TRUE(Has(report, "Conversion canceled by operator")) << report;
        }
        EXPECT_FALSE(Read(kCmRecBank, "S1")) << dropNotes;
        EXPECT_FALSE(Read(kCmRecLastNumbers, "S1")) << dropNotes;
        EXPECT_FALSE(Read(kCmRecBank, "S2")) << dropNotes;
        EXPECT_EQ(ReadFile(text), textBefore) << dropNotes;  // not stamped
    }
    for (auto& e : list) xio_cls_file(e.handle), e.handle = 0;
    EXPECT_EQ(ReadFile(company.path() / "MASTER.CMM"), cmmBefore);
}

// ---- Prefill ----------------------------------------------------------------------------------------

bool CollectPrefill(const std::string& value, int16_t fieldId, int16_t section, const std::string&, void* ctx) {
    static_cast<std::vector<std::string>*>(ctx)->push_back(value + "/" + std::to_string(fieldId) + "/" +
                                                           std::to_string(section));
    return true;
}

TEST_F(CmmTest, PrefillHandsTheFilesValuesToTheTableEditorsCallbackAndWritesNothing) {
    const std::string text = WriteText("pre.txt", L("P", {{"BANKACC", "PRE"}, {"BPRCASH", kCash}}));
    std::vector<std::string> values;
    xvCMM converter;
    ui::zqTask task("Prefill", 15, 3010, 5);
    // Without the table editor's callback nothing is prefilled.
    converter.PrefillTables(list, TextFileEntry{text, 301}, &progress, task, &values);
    EXPECT_TRUE(values.empty());
    xvGLM::prefillCallback = &CollectPrefill;
    converter.PrefillTables(list, TextFileEntry{text, 301}, &progress, task, &values);
    xvGLM::prefillCallback = nullptr;
    EXPECT_NE(std::find(values.begin(), values.end(), kCash + "/9/8"), values.end()) << ::testing::PrintToString(values);
    EXPECT_FALSE(Read(kCmRecBank, "PRE"));
    EXPECT_EQ(ReadFile(text).find("Previously Converted"), std::string::npos);
}

// A CM master file that is not open: the file ends naming it, not the template that needed it.
TEST_F(CmmTest, AMasterFileNotOpenIsNamedNotTheTemplate) {
    for (auto it = list.begin(); it != list.end();) {
        if (it->abbr == "CMM") {
            xio_cls_file(it->handle);
            it = list.erase(it);
        } else {
            ++it;
        }
    }
    const std::string report = Run(WriteText("b.txt", L("F", {{"BANKACC", "B1"}})), "Convert");
    EXPECT_THAT(report, ::testing::HasSubstr("Unable to find an open CM Master file(95)"));
    EXPECT_THAT(report, ::testing::Not(::testing::HasSubstr("Unable to create a structure")));
}

}  // namespace
}  // namespace dz::gl::testing
