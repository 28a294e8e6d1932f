// The GL master record loop: notes records, prefixes given in parts, records the conversion
// has no handler for, examine codes and the thirteen-period rule, and a second conversion.
#include "test_glm_support.h"

#include "app/driver.h"
#include "convert/texts.h"
#include "platform/import/xvl_import.h"
#include "platform/import/xvl_template.h"
#include "tables/master_file.h"
#include "tables/substitution_fields.h"

#include <algorithm>
#include <tuple>
#include <vector>

namespace dz::gl::testing {

using namespace convert;
namespace {

class GlmLoop : public GlmTest {};

TEST_F(GlmLoop, NotesRecordsCountUnderTheirRecordType) {
    const std::string text = WriteText("a.txt", Line("3", {{"PAPRFX", "01"}}) +
                                                    Line("3N", {{"PAPRFX", "01"}, {"Converted Notes", "Head office"}}) +
                                                    Line("3N", {{"PAPRFX", "02"}, {"Converted Notes", "Nobody"}}) +
                                                    Line("3N", {{"PAPRFX", "0123"}, {"Converted Notes", "Too long"}}));
    for (const char* task : {"Examine Files", "Convert"}) {
        const std::string report = Run(text, task);
        // Saved or not, a notes line counts as notes of prefix A records (type 53).
        EXPECT_TRUE(Has(report, "Notes For Prefix A           3              0              2             1")) << report;
        EXPECT_TRUE(Has(report, "The record to modify doesn't currently exist (fld 1, col 1) (62)")) << report;
        EXPECT_TRUE(Has(report, "(57)")) << report;  // the import library refused the long prefix
    }
    ASSERT_TRUE(Read(kRecPrefixA, "PAPRFX", "01"));
    std::string notes, piece;
    ASSERT_EQ(xio_rd_notes(Glm(), kRecPrefixA, 0), XIO_OK);
    while (xio_get_notes(Glm(), piece) == XIO_OK) notes += piece;
    EXPECT_EQ(notes, "12/06/2026  14:30:00, Ann Lee  (Conversion)\r\rHead office");
}

TEST_F(GlmLoop, PrefixesGivenInPartsAreJoined) {
    WriteTemplate("parts", "format 4Q\nfile GLM 1\nrecord 4\nspecial PREBPART1 text\nfield PBPRFX id 9 section 9\n");
    const std::string text = WriteText("a.txt", Line("3", {{"PAPRFX", "01"}}) +
                                                    Line("4P", {{"PREBPART1", "01"}, {"PREBPART2", "2"}}) +
                                                    Line("5P", {{"PRECPART1", "01"}, {"PRECPART2", "2"}, {"PRECPART3", "30"}}));
    Run(text, "Convert");
    EXPECT_TRUE(Read(kRecPrefixB, "PBPRFX", "012"));
    EXPECT_TRUE(Read(kRecPrefixC, "PCPRFX", "01230"));
    // A template without the second part keeps the prefix as the line gives it.
    Run(WriteText("b.txt", "4Q,09,01-1\r\n", "parts"), "Convert");
    EXPECT_TRUE(Read(kRecPrefixB, "PBPRFX", "011"));
}

TEST_F(GlmLoop, JoinedPrefixesAreSubstitutedAsPrefixes) {
    xio_ask_request req;
    req.abbr = tables::kXvmAbbr;
    req.create = true;
    uint16_t xvm = 0;
    ASSERT_EQ(xio_ask_file(req, xvm), XIO_OK);
    xio_cls_file(xvm);
    {
        tables::SubstitutionMasterFile mf(3020, 0, "Merger", 1, 9002);
        ASSERT_GT(mf.handle(), 0);
        ASSERT_EQ(mf.WriteDefinition(0, 65535, 0, 3), XIO_OK);  // values not in the table are refused
        ASSERT_EQ(mf.WriteEntry("011", "012", ""), XIO_OK);
        ASSERT_EQ(mf.ReleaseDefinition(true), XIO_OK);
        mf.Close();
    }
    const std::string text = WriteText("a.txt", Line("3", {{"PAPRFX", "01"}}) +
                                                    Line("4P", {{"PREBPART1", "01"}, {"PREBPART2", "1"}}) +
                                                    Line("4P", {{"PREBPART1", "01"}, {"PREBPART2", "3"}}));
    const std::string report = Run(text, "Convert", "Merger");
    EXPECT_TRUE(Read(kRecPrefixB, "PBPRFX", "012")) << report;
    EXPECT_FALSE(Read(kRecPrefixB, "PBPRFX", "011"));
    EXPECT_FALSE(Read(kRecPrefixB, "PBPRFX", "013"));
    EXPECT_TRUE(Has(report, "substitution table(98)")) << report;
}

// Values handed to the prefill callback: value, field id, section.
std::vector<std::tuple<std::string, int, int>> g_prefilled;
bool Collect(const std::string& value, int16_t fieldId, int16_t section, const std::string&, void* ctx) {
    g_prefilled.emplace_back(value, fieldId, section);
    return *static_cast<bool*>(ctx);
}

TEST_F(GlmLoop, PrefillOffersJoinedPrefixesAsPrefixes) {
    const std::string text = WriteText("a.txt", Line("4P", {{"PREBPART1", "01"}, {"PREBPART2", "2"}}) +
                                                    Line("5P", {{"PRECPART1", "01"}, {"PRECPART2", "2"}, {"PRECPART3", "30"}}) +
                                                    Line("4N", {{"PBPRFX", "01-2"}, {"Converted Notes", "x"}}) +
                                                    Line("1B", {{"AACCT", "01-2-30-1000-00"}}));
    g_prefilled.clear();
    xvGLM::prefillCallback = &Collect;
    bool answer = true;
    ui::zqTask task("Prefill", 15, 4010, 5);
    xvGLM converter;
    converter.PrefillTables(list, TextFileEntry{text, 101}, &progress, task, &answer);
    using V = std::tuple<std::string, int, int>;
    auto has = [&](const V& v) { return std::find(g_prefilled.begin(), g_prefilled.end(), v) != g_prefilled.end(); };
    EXPECT_TRUE(has(V{"012", 9, 9}));
    EXPECT_TRUE(has(V{"01230", 9, 10}));
    EXPECT_TRUE(has(V{"012", 9, 9}) && std::count(g_prefilled.begin(), g_prefilled.end(), V{"012", 9, 9}) == 1)
        << "the notes line's prefix is offered by the import as its column, not joined";
    EXPECT_EQ(progress.file_rejected, 0u);

    // A joined prefix the tables refuse marks its record; the columns the import offers do not.
    answer = false;
    ConvertProgress second{[] { return int64_t{0}; }};
    converter.PrefillTables(list, TextFileEntry{text, 101}, &second, task, &answer);
    EXPECT_EQ(second.file_rejected, 2u);
    xvGLM::prefillCallback = nullptr;
    EXPECT_FALSE(Read(kRecPrefixB, "PBPRFX", "012"));  // prefill writes nothing
}

// DispatchRecord and the examine codes, reached from a test.
class OpenGLM : public xvGLM {
public:
    using xvGLM::DispatchRecord;
};

TEST_F(GlmLoop, RecordsWithoutAHandlerAreRefusedByName) {
    // A line the import read, whose record number is then unknown.
    const std::string text = WriteText("a.txt", Line("7", {{"PRPRTNR", "3"}}));
    std::string tplPath;
    convert::GetTextFileTemplate(text, tplPath);
    xvl::xvlImpTemplate tpl;
    ASSERT_EQ(tpl.xvlImpTemplateCreate(tplPath, list), 0) << tpl.ErrorText();
    xvl::xvlImport import(tpl);
    ASSERT_TRUE(import.xvlImpFileNames(text, ""));
    xvl::xvlImpInfo info;
    ASSERT_EQ(import.xvlImportNextRec(info), 0);
    ui::zqTask task("Convert", 15, 3020, 5);
    convert::ConvertContext ctx(list, TextFileEntry{text, 101}, nullptr, 0, task, "", nullptr);
    ctx.mainHandle = Glm();
    OpenGLM converter;
    std::string reason;
    info.SetImportedRecs(0);
    EXPECT_FALSE(converter.DispatchRecord(ctx, info, reason));
    EXPECT_EQ(reason, "Record type '7' cannot be converted as part of a GL Master file conversion(75)");
    info.SetImportedRecs(9);
    EXPECT_FALSE(converter.DispatchRecord(ctx, info, reason));
    EXPECT_EQ(reason, "Record type '' cannot be converted as part of a GL Master file conversion(75)");
    import.xvlImpTimeStampAndCloseFile(false, true, "");
}

TEST_F(GlmLoop, RecordsOfAnotherDataFileAreRefused) {
    xio_ask_request req;
    req.abbr = tables::kXvmAbbr;
    req.create = true;
    uint16_t xvm = 0;
    ASSERT_EQ(xio_ask_file(req, xvm), XIO_OK);
    xio_cls_file(xvm);
    uint16_t error = 0;
    xvGLM opener;
    ASSERT_TRUE(opener.OpenDataFile("XVM", 1, 0, 0, list, 3020, error, false));
    WriteTemplate("mixed", "format 1\nfile GLM 1\nrecord 7\nfield PRPRTNR\n\n"
                           "format G\nfile XVM 1\nrecord 1\nfield TABLE\n");
    const std::string report = Run(WriteText("a.txt", "1,5\r\nG,Main\r\n", "mixed"), "Convert");
    EXPECT_TRUE(Has(report, "Record type 'Table group' cannot be converted as part of a GL Master file conversion(75)"))
        << report;
    const uint16_t h = convert::FindFileHandle(list, "XVM", 1);
    EXPECT_NE(xio_rd_first(h, 1, 0, 0), XIO_OK);  // nothing written there
}

TEST_F(GlmLoop, ExamineCodesCarryWhatLaterLinesNeed) {
    const uint16_t h = Glm();
    xvl::xvlImpInfo info;
    auto code = [&](uint16_t rec, uint8_t atPrefix) {
        info.SetImportedRecs(rec);
        return xvGLM::ExamineRecordCode(h, info, atPrefix);
    };
    xio_init_record(h, kRecAccount);
    PutFlag(h, kRecAccount, "ABGTS", 0);
    EXPECT_EQ(code(kRecAccount, 0), 0);
    PutFlag(h, kRecAccount, "ABGTS", 1);
    EXPECT_EQ(code(kRecAccount, 0), 1);

    xio_init_record(h, kRecPrefixA);
    PutNumber(h, kRecPrefixA, "PABLLVL", 2);
    EXPECT_EQ(code(kRecPrefixA, 0), 1);
    EXPECT_EQ(code(kRecPrefixA, 1), 201);
    PutFlag(h, kRecPrefixA, "PAU13PA", 1);
    EXPECT_EQ(code(kRecPrefixA, 0), 11);
    EXPECT_EQ(code(kRecPrefixA, 1), 211);
    PutNumber(h, kRecPrefixA, "PAFISC", 3);
    EXPECT_EQ(code(kRecPrefixA, 1), 3);

    xio_init_record(h, kRecPrefixB);
    PutNumber(h, kRecPrefixB, "PBBLLVL", 2);
    PutFlag(h, kRecPrefixB, "PBU13PA", 1);
    EXPECT_EQ(code(kRecPrefixB, 1), 21);
    xio_init_record(h, kRecPrefixC);
    PutNumber(h, kRecPrefixC, "PCBLLVL", 3);
    EXPECT_EQ(code(kRecPrefixC, 1), 30);

    xio_init_record(h, kRecBaseAccount);
    PutNumber(h, kRecBaseAccount, "BSTYPE", 12);
    PutNumber(h, kRecBaseAccount, "BSICSTS", 4);
    PutFlag(h, kRecBaseAccount, "BSCNTL", 1);
    PutFlag(h, kRecBaseAccount, "BSBGTS", 0);
    EXPECT_EQ(code(kRecBaseAccount, 0), 1412);
    EXPECT_EQ(code(kRecJournal, 0), 0);
    EXPECT_EQ(code(kRecBudget, 0), 0);
}

// ---- The thirteen-period rule ------------------------------------------------------------------

class GlmThirteen : public GlmTest {
protected:
    // A prefix record written straight to the file.
    void Prefix(uint16_t rec, const char* key, const std::string& value, std::map<std::string, double> numbers) {
        const uint16_t h = Glm();
        xio_init_record(h, rec);
        PutText(h, rec, key, value);
        for (const auto& [name, n] : numbers) {
            const uint16_t f = FieldNo(h, rec, name.c_str());
            xio_fld_def d;
            xio_get_fld_def(h, f, d);
            if (d.type == XIO_TYPE_LOGICAL)
                PutFlag(h, f, static_cast<uint16_t>(n));
            else
                PutNumber(h, f, n);
        }
        ASSERT_EQ(xio_wr_record(h, rec), XIO_OK);
        ASSERT_EQ(xio_commit(h), XIO_OK);
    }
    // The record-ID text of a prefix, for an examine map.
    std::string IdOf(uint16_t rec, const char* key, const std::string& value) {
        xio_init_record(Glm(), rec);
        PutText(Glm(), rec, key, value);
        std::string id;
        convert::RecordIdText(Glm(), id, rec);
        return id;
    }
    bool Uses13(const std::string& account, bool converting, const RecordIdMap& ids = {}, uint8_t atPrefix = 1,
                bool company = false) {
        return PrefixUsesThirteenPeriods(Glm(), account, atPrefix, company, converting, ids);
    }
};

TEST_F(GlmThirteen, TheCompanySettingHoldsUnlessTheFiscalEntityIsAtAPrefix) {
    EXPECT_TRUE(Uses13("01110100000", true, {}, 0, true));
    EXPECT_FALSE(Uses13("01110100000", true, {}, 0, false));
}

TEST_F(GlmThirteen, ThePrefixThatHoldsTheFiscalEntityDecides) {
    Prefix(kRecPrefixA, "PAPRFX", "01", {{"PAFISC", 1}, {"PAU13PA", 1}});
    Prefix(kRecPrefixA, "PAPRFX", "02", {{"PAFISC", 2}});
    Prefix(kRecPrefixB, "PBPRFX", "021", {{"PBU13PA", 1}});
    Prefix(kRecPrefixB, "PBPRFX", "022", {{"PBU13PA", 0}});
    Prefix(kRecPrefixA, "PAPRFX", "03", {{"PAFISC", 3}, {"PAU13PA", 1}});
    Prefix(kRecPrefixC, "PCPRFX", "03110", {{"PCU13PA", 1}});
    Prefix(kRecPrefixA, "PAPRFX", "05", {{"PAFISC", 1}});
    for (bool converting : {true, false}) {
        EXPECT_TRUE(Uses13("01110100000", converting));
        EXPECT_FALSE(Uses13("05110100000", converting));
        EXPECT_TRUE(Uses13("02110100000", converting));
        EXPECT_FALSE(Uses13("02210100000", converting));
        EXPECT_TRUE(Uses13("03110100000", converting));
        EXPECT_FALSE(Uses13("03120100000", converting));  // its prefix C is missing; A's own setting does not count
    }
}

TEST_F(GlmThirteen, ExaminingFindsPrefixesOfEarlierLines) {
    RecordIdMap ids;
    ids[IdOf(kRecPrefixA, "PAPRFX", "07")] = 211;  // level 1, 13 periods, balance-sheet level 2
    ids[IdOf(kRecPrefixA, "PAPRFX", "08")] = 1;    // level 1, 12 periods
    ids[IdOf(kRecPrefixA, "PAPRFX", "09")] = 2;    // level 2
    ids[IdOf(kRecPrefixB, "PBPRFX", "091")] = 21;
    ids[IdOf(kRecPrefixB, "PBPRFX", "092")] = 20;
    EXPECT_TRUE(Uses13("07110100000", false, ids));
    EXPECT_FALSE(Uses13("07110100000", true, ids));  // converting, the prefix must be on file
    EXPECT_FALSE(Uses13("08110100000", false, ids));
    EXPECT_TRUE(Uses13("09110100000", false, ids));
    EXPECT_FALSE(Uses13("09210100000", false, ids));
    EXPECT_FALSE(Uses13("06110100000", false, ids));  // met nowhere
}

// ---- Converting a file twice -------------------------------------------------------------------

TEST_F(GlmLoop, ASecondConversionIsQuestionedAndRejectsEveryRecord) {
    const std::string body =
        Line("3", {{"PAPRFX", "01"}}) + Line("4", {{"PBPRFX", "01-1"}}) + Line("5", {{"PCPRFX", "01-1-10"}}) +
        Line("6", {{"BSBASE", "1000-00"}, {"BSTITLE", "Cash"}, {"BSTYPE", "1"}}) +
        Line("1B", {{"AACCT", "01-1-10-1000-00"}}) + Line("8", {{"BACCT", "01-1-10-1000-00"}, {"BYEAR", "2026"}}) +
        Line("2", {{"JJRNNUM", "1"}}) + Line("7", {{"PRPRTNR", "1"}});
    const std::string text = WriteText("twice.txt", body);
    std::string report = Run(text, "Convert");
    EXPECT_TRUE(Has(report, "Total:                       8              0              0             8")) << report;

    // The driver sees the time stamp and asks.
    convert::ConversionTypeList selection;
    selection.files.push_back(TextFileEntry{text, 101});
    ui::zqTask task("Convert", 15, 3020, 5);
    ui.answer = 1;  // go ahead
    EXPECT_EQ(app::CheckAlreadyConverted(selection, 0, task), app::kCheckStays);
    ASSERT_EQ(ui.boxes.size(), 1u);
    EXPECT_EQ(ui.boxes[0].second.rfind("File " + text + "\rhas already been converted by Ann Lee on 12/6/26", 0), 0u)
        << ui.boxes[0].second;

    report = Run(text, "Convert");
    EXPECT_TRUE(Has(report, "Total:                       8              0              8             0")) << report;
    for (const char* dup : {"Duplicate Prefix A - '01'(76)", "Duplicate Account - '01-1-10-1000-00'(76)",
                            "Duplicate Partner - '1'(76)", "Duplicate Journal - '1'(76)"})
        EXPECT_TRUE(Has(report, dup)) << dup << "\n" << report;
}

}  // namespace
}  // namespace dz::gl::testing
