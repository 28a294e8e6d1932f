// The AP invoice converter in process: the group structure its templates may give, the passes it
// runs and how they show, an operator's stop in either pass, the tax master it needs, the
// paid-totals option handed on to the next file, a company without CM, and the tax-group note.
#include "test_api_support.h"

namespace dz::ap {
namespace {

using namespace dz::ap::testing;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::Not;

// ---- The group structure ------------------------------------------------------------------------

TEST_F(ApiTest, TemplatesGiveTheirGroupsOrAreRefused) {
    auto declare = [&](const std::string& formats, GroupShape& shape) {
        std::string text;
        for (std::size_t i = 0; i < formats.size(); ++i) {
            const char rec = formats[i];
            const std::string field = rec == '1' ? "OIVND" : rec == '2' ? "ODVND" : rec == '6' ? "PIVND" : "CBANK";
            text += "format F" + std::to_string(i) + "\nfile APM 1\nrecord " + rec + "\nfield " + field + "\n";
        }
        xvl::xvlImpTemplate tpl;
        EXPECT_EQ(tpl.CreateFromText(text, "t.tpl", list), 0) << tpl.ErrorText();
        return DeclareGroups(tpl, Apm(), shape, "Check");
    };
    GroupShape twoDists;
    EXPECT_THAT(declare("1224", twoDists),
                ElementsAre("There cannot be more than one ID per record type in the template. Distribution has "
                            "more than one.",
                            HasSubstr("Unable to create a valid group structure")));
    GroupShape twoChecks;
    EXPECT_THAT(declare("12644", twoChecks), ElementsAre(HasSubstr("Check has more than one.")));
    GroupShape noPayments, noInvoice;
    EXPECT_THAT(declare("124", noPayments), ElementsAre(HasSubstr("valid group structure")));
    EXPECT_THAT(declare("26", noInvoice), ElementsAre(HasSubstr("valid group structure")));

    GroupShape paymentsOnly, distsOnly, all;
    EXPECT_TRUE(declare("16", paymentsOnly).empty());
    EXPECT_FALSE(paymentsOnly.hasDistributions);
    EXPECT_TRUE(paymentsOnly.RunsPrepass());
    EXPECT_TRUE(declare("12", distsOnly).empty());
    EXPECT_TRUE(distsOnly.oneDistributionKind);
    EXPECT_FALSE(distsOnly.RunsPrepass());
    EXPECT_TRUE(declare("1264", all).empty());
    EXPECT_TRUE(all.hasChecks && all.hasDistributions && !all.oneDistributionKind && all.RunsPrepass());
}

TEST_F(ApiTest, PassesShowTheirNameAndShareOfTheBar) {
    ScriptedApi two;
    ConvertProgress progress([] { return int64_t{0}; });
    Run(WriteText("two.txt", kPaidInvoice), "Examine Files", two, &progress);
    ASSERT_EQ(two.seen.size(), 8u);
    EXPECT_EQ(two.seen.front(), "Invoice Pass 1 of 2 0");
    EXPECT_EQ(two.seen[4], "Invoice Pass 2 of 2 50");

    // Invoices with distributions only: no first pass; the second fills the whole bar.
    const std::string tpl = texts.str("dists.tpl");
    std::string text = ReadFile(dz::data_folder() / "templates" / "xvapi.tpl");
    WriteFile(tpl, text.substr(0, text.find("format 6")));
    ScriptedApi one;
    ConvertProgress again([] { return int64_t{0}; });
    const std::string lines = std::string(kPaidInvoice).substr(0, std::string(kPaidInvoice).find("\r\n6,") + 2);
    Run(WriteText("one.txt", lines, tpl), "Examine Files", one, &again);
    EXPECT_THAT(one.seen, ElementsAre("Invoice Pass 2 of 2 0", "Invoice Pass 2 of 2 0"));
}

// ---- Ends of a file -------------------------------------------------------------------------------

TEST_F(ApiTest, AStopInEitherPassRestoresEndsTheBatchAndLeavesTheTextUnstamped) {
    const std::string text = WriteText("stop.txt", kPaidInvoice);
    const std::string before = ReadFile(text);
    for (int stopAt : {2, 6}) {  // in pass 1, in pass 2
        ConvertProgress progress([] { return int64_t{0}; });
        ScriptedApi c;
        c.stopAt = stopAt;
        const std::string report = Run(text, "Convert", c, &progress);
        EXPECT_THAT(report, HasSubstr("Conversion canceled by operator")) << stopAt;
        EXPECT_EQ(suite::zb_open_batches(), 0u);
        EXPECT_EQ(Header1("LASTPMT"), 0) << stopAt;  // the payment numbers taken went back
        EXPECT_EQ(Header1("LASTRUN"), 0) << stopAt;
        EXPECT_EQ(ReadFile(text), before);
    }
    // Converted whole, the check and its payment share the first number.
    xvAPI plain;
    const std::string report = Run(text, "Convert", plain);
    EXPECT_THAT(report, Not(HasSubstr("canceled")));
    EXPECT_EQ(Header1("LASTPMT"), 1);
    EXPECT_EQ(Header1("LASTRUN"), 1);
    EXPECT_EQ(suite::zb_open_batches(), 0u);
    EXPECT_NE(ReadFile(text), before);
}

TEST_F(ApiTest, TaxesInUseWithoutTheTaxMasterEndTheFileAfterTheBatchOpened) {
    for (auto it = list.begin(); it != list.end(); ++it) {
        if (it->abbr != "TXM") continue;
        xio_cls_file(it->handle);
        list.erase(it);
        break;
    }
    const std::string text = WriteText("tax.txt", kPaidInvoice);
    xvAPI c;
    const std::string report = Run(text, "Convert", c);
    EXPECT_THAT(report, HasSubstr("Unable to find an open Tax Master file(95)"));
    EXPECT_EQ(suite::zb_open_batches(), 0u);
    EXPECT_EQ(Header1("LASTRUN"), 0) << "the run number taken for the batch stays taken";
}

TEST_F(ApiTest, PaidTotalsClearOnlyForTheFirstCommittedFile) {
    const std::string text = WriteText("paid.txt", kPaidInvoice);
    ConversionOptions stopped;
    ConvertProgress progress([] { return int64_t{0}; });
    ScriptedApi first;
    first.stopAt = 6;
    Run(text, "Convert", first, &progress, &stopped);
    EXPECT_EQ(stopped.paidTotalsMode, 1u);  // the next file still clears

    ConversionOptions options;
    xvAPI converted;
    Run(text, "Convert", converted, nullptr, &options);
    EXPECT_EQ(options.paidTotalsMode, 2u);
}

TEST_F(ApiTest, WithoutCmNothingOpens) {
    CloseAll();
    OpenCompany({"GL", "AP"});
    xvAPI c;
    uint16_t error = 0;
    EXPECT_FALSE(c.OpenFiles(list, 3020, error));
    EXPECT_EQ(error, 9845);
    ASSERT_FALSE(list.empty());
    EXPECT_EQ(list.back().abbr, "CMM");
    EXPECT_EQ(list.back().handle, 0);
}

TEST(ApiNotes, TaxGroupsWrapBeforeTheNotesWidthLessTwentyFive) {
    EXPECT_THAT(TaxGroupLines({"MEUSE"}, 123), ElementsAre("   'MEUSE'"));
    // Width 40: lines end before 15 characters.
    EXPECT_THAT(TaxGroupLines({"AAAA", "BBBB", "CCCC"}, 40), ElementsAre("   'AAAA', ", "   'BBBB', ", "   'CCCC'"));
    EXPECT_THAT(TaxGroupLines({"A", "B", "C"}, 40), ElementsAre("   'A', 'B', ", "   'C'"));
}

}  // namespace
}  // namespace dz::ap
