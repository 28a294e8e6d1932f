// Table text files in process: the prefill callback's kinds, sizes and letter case, an import
// stopped from its progress, and an export that cannot replace its file.
#include "platform/ui/print.h"
#include "tables/table_text.h"
#include "test_tables_support.h"

#include <fstream>

#include <gmock/gmock.h>

namespace dz::tables::testing {
namespace {

class TableTextTest : public TablesTest {
protected:
    std::unique_ptr<SubstitutionTable> Doc(uint16_t field, uint16_t oldSize) {
        auto doc = std::make_unique<SubstitutionTable>("G", field, kApplGL);
        doc->oldSize = oldSize;
        doc->newWidth = 11;
        return doc;
    }
    std::string Olds(const SubstitutionTable& doc) {
        std::string s;
        for (const SubstitutionRow* r = doc.firstRow; r; r = r->next) s += r->oldValue + ";";
        return s;
    }
    std::filesystem::path File(const std::string& name, const std::string& text) {
        const auto p = folder() / name;
        std::ofstream(p, std::ios::binary) << text;
        return p;
    }
};

TEST_F(TableTextTest, PrefillValueKindsSizesAndLetterCase) {
    auto doc = Doc(kFieldGlAccount, 5);
    PrefillContext ctx(*doc);
    EXPECT_TRUE(PrefillValue("", 9, 0, "a.txt", &ctx));
    EXPECT_TRUE(PrefillValue("AB123", 9, 8, "a.txt", &ctx));  // an account as typed counts as whole
    EXPECT_TRUE(PrefillValue("ab123", 9, 0, "a.txt", &ctx));  // already there in another case
    EXPECT_TRUE(PrefillValue("01", 9, 1, "a.txt", &ctx));     // a prefix is not an account
    EXPECT_TRUE(PrefillValue("X1", 16, 0, "a.txt", &ctx));    // another field
    EXPECT_EQ(Olds(*doc), "AB123;");
    EXPECT_EQ(ctx.found, 1);
    EXPECT_TRUE(doc->firstRow->newEntry && doc->firstRow->modified);

    EXPECT_FALSE(PrefillValue("123456", 9, 0, "/data/a.txt", &ctx));
    EXPECT_FALSE(PrefillValue("1234567", 9, 0, "/data/a.txt", &ctx));  // the first stays named
    EXPECT_EQ(ctx.message,
              "Some values were too long and not prefilled.\r\rFor example '123456' in\r/data/a.txt\rhas 6 "
              "characters and the maximum allowed is 5.\r\rUse the options button to increase the old value size.");
    EXPECT_EQ(Olds(*doc), "AB123;");
}

// A value longer than a row holds is measured whole: it is refused with its length, never
// prefilled as its first 40 characters.
TEST_F(TableTextTest, APrefillValueLongerThanARowHoldsIsRefusedNotCut) {
    auto doc = Doc(6, 40);
    PrefillContext ctx(*doc);
    EXPECT_FALSE(PrefillValue(std::string(50, 'V'), 6, 0, "a.txt", &ctx));
    EXPECT_THAT(ctx.message, ::testing::HasSubstr("has 50 characters and the maximum allowed is 40"));
    EXPECT_EQ(Olds(*doc), "");
}

// A reason longer than its column goes on below it, whole; the line number stands once.
TEST_F(TableTextTest, AnImportReasonLongerThanItsColumnWrapsWhole) {
    const int print = ui::xp_open_print(ui::PrintDef{"Import Report", 40, 1, 0}, ui::Destination::Spool);
    ASSERT_EQ(PrintImportReject(print, "the default has 50 characters and a new value holds at most 15", 7), 0);
    const std::vector<std::string> lines = *ui::xp_lines(print);
    ui::xp_close_print(print);
    EXPECT_EQ(lines, (std::vector<std::string>{"     7  the default has 50", "          characters and a new",
                                               "          value holds at most 15"}));
}

// The default of a custom list is taken up to the most a new value holds, and refused past it,
// named whole while short.
TEST(ListDefault, TakenUpToTheLimitAndRefusedPastIt) {
    EXPECT_EQ(ListDefaultTooLong(std::string(15, 'G'), 434, 15), "");
    EXPECT_THAT(ListDefaultTooLong(std::string(16, 'G'), 434, 15),
                ::testing::StartsWith("'" + std::string(16, 'G') + "', the default of custom list 434,"));
}

TEST_F(TableTextTest, PrefixAndBaseTablesTakeTheirSectionsOnly) {
    auto doc = Doc(kFieldGlPrefixA, 40);
    PrefillContext ctx(*doc);
    PrefillValue("01", 9, 1, "a.txt", &ctx);
    PrefillValue("02", 9, 0, "a.txt", &ctx);   // a whole account
    PrefillValue("03", 9, 7, "a.txt", &ctx);   // a base
    PrefillValue("04", 9, 2, "a.txt", &ctx);   // a section no kind stands for
    EXPECT_EQ(Olds(*doc), "01;");
    auto base = Doc(kFieldGlBase, 40);
    PrefillContext bctx(*base);
    PrefillValue("1000", 9, 7, "a.txt", &bctx);
    PrefillValue("01", 9, 1, "a.txt", &bctx);
    EXPECT_EQ(Olds(*base), "1000;");
}

TEST_F(TableTextTest, AStoppedImportKeepsItsRowsWithoutTotals) {
    auto doc = Doc(6, 20);
    doc->newWidth = 10;
    const auto file = File("v.txt", "A,1\nB,2\nC,3\n");
    const int print = ui::xp_open_print(ui::PrintDef{}, ui::Destination::Spool);
    int calls = 0;
    const ImportOutcome o = ImportTableRows(*doc, file.string(), print, [&](uint32_t, uint32_t, int) {
        return ++calls < 2;  // the person stops after the second record
    });
    EXPECT_TRUE(o.stopped);
    EXPECT_EQ(o.counts.records, 2u);
    SortTableRows(*doc);
    EXPECT_EQ(Olds(*doc), "A;B;");
    EXPECT_TRUE(ui::xp_lines(print)->empty());  // no heading, no totals
    ui::xp_close_print(print);

    const ImportOutcome missing = ImportTableRows(*doc, (folder() / "none.txt").string(), 0, {});
    EXPECT_FALSE(missing.opened);
    EXPECT_EQ(missing.counts.records, 0u);
    ASSERT_FALSE(ui_.messages.empty());
    EXPECT_EQ(ui_.messages.back().second.rfind("Unable to open text file ", 0), 0u);
}

TEST(RowIndexTest, FindsEveryValueInAnyCaseAndTheFirstRowOfEach) {
    SubstitutionTable doc("G", 9, 0);
    std::vector<std::unique_ptr<SubstitutionRow>> rows;
    auto row = [&](const std::string& old) {
        rows.push_back(std::make_unique<SubstitutionRow>());
        rows.back()->oldValue = old;
        return rows.back().get();
    };
    RowIndex index(doc);
    EXPECT_EQ(index.Find("a"), nullptr);
    for (int i = 0; i < 1000; ++i) index.Add(row("Acct-" + std::to_string(i)));  // past several growths
    SubstitutionRow* first = rows[500].get();
    index.Add(row("ACCT-500"));  // the same value in other letters: the first row keeps it
    index.Add(row(""));          // an empty value is never indexed
    EXPECT_EQ(index.Find("acct-500"), first);
    for (int i = 0; i < 1000; i += 37) EXPECT_EQ(index.Find("ACCT-" + std::to_string(i)), rows[i].get()) << i;
    EXPECT_EQ(index.Find("Acct-1000"), nullptr);
    EXPECT_EQ(index.Find(""), nullptr);
}

TEST_F(TableTextTest, SummaryWordsAndHeading) {
    ImportCounts c;
    c.records = 4;
    c.added = 1;
    c.changed = 2;
    EXPECT_EQ(ImportSummary(c), "     1 entry added\r     2 entries changed\r     1 exact duplicate\r     0 rejected entries");
    // Rows a failed save did not keep are never said as added or changed.
    EXPECT_EQ(ImportSummary(c, RowsKept::NotSaved), "     1 new entry not saved\r     2 changed entries not saved\r"
                                                    "     1 exact duplicate\r     0 rejected entries");
    const std::string longPath = "/" + std::string(70, 'x') + "/table.txt";
    EXPECT_EQ(ImportHeadingText(longPath, 6).substr(0, 24), "Importing table.txt into");
}

TEST_F(TableTextTest, AnExportThatCannotBeWrittenKeepsTheOldFile) {
    auto doc = Doc(6, 20);
    SubstitutionRow* r = AppendRow(*doc);
    r->oldValue = "A";
    r->newValue = "1";
    // The target's folder is replaced by a file: nothing can be written beside it.
    const auto target = File("out.txt", "old contents\r\n");
    std::string why;
    EXPECT_FALSE(WriteTableFile(*doc, (target / "x.txt").string(), why, true));
    EXPECT_FALSE(why.empty());
    // An existing file is replaced only when asked to.
    EXPECT_FALSE(WriteTableFile(*doc, target.string(), why, false));
    EXPECT_EQ(why, kTableFileExists);
    ASSERT_TRUE(WriteTableFile(*doc, target.string(), why, true)) << why;
    std::ifstream in(target, std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "A,1\r\n");
}

// A base account's new value is shown with the separator before its suffix, and as stored in a
// company whose account format has no suffix.
TEST_F(TableTextTest, ABaseAccountIsShownWithItsSeparatorsOnlyWhenTheFormatHasASuffix) {
    EXPECT_EQ(ShownNewValue(kFieldGlBase, "400010"), "4000-10");
    auto settings = suite::default_settings({"GL"});
    settings.formats[9].sections.back().width = 0;
    suite::set_company(suite::Company(folder(), settings));
    EXPECT_EQ(ShownNewValue(kFieldGlBase, "40001"), "40001");
}

}  // namespace
}  // namespace dz::tables::testing
