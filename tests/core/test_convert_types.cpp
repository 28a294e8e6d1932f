// Conversion types and the first line of a text file.
#include "convert/conversion_types.h"

#include "test_convert_support.h"

#include <sstream>

namespace dz::convert {
namespace {

using namespace dz::convert::testing;

class FirstLineTest : public ::testing::Test {
protected:
    void SetUp() override {
        OpenCompany(company.path(), {"GL", "JC", "CM", "AP", "PR", "PM", "AR"});
        SetApplicationDataFolder(appData.str());
        WriteFile(appData.path() / "ACCOUNTING/TEMPLATE/xvglm.tpl", "template\n");
    }
    void TearDown() override {
        SetApplicationDataFolder("");
        suite::close_company();
    }

    // The type read from a first line (0 when none).
    uint16_t TypeOf(const std::string& text, ConversionTypeList& list) {
        std::istringstream in(text);
        TextFileEntry entry{"x.txt", 0};
        return ReadConversionType(list, in, entry) ? entry.code : 0;
    }
    uint16_t TypeOf(const std::string& text) {
        ConversionTypeList list;
        return TypeOf(text, list);
    }
    std::pair<bool, std::string> TemplateOf(const std::string& text) {
        std::istringstream in(text);
        std::string path = "stale";
        const bool found = ReadTemplatePath(in, path);
        return {found, path};
    }
    std::string Folder() const { return appData.str() + "/ACCOUNTING/TEMPLATE/"; }

    ScratchDir company;
    ScratchDir appData;
};

TEST_F(FirstLineTest, BareTemplateNameGetsExtensionInTemplateFolder) {
    EXPECT_EQ(TypeOf("#,GLM,xvglm\r\n1,2,3\r\n"), 101);
    auto [found, path] = TemplateOf("#,GLM,xvglm\r\n1,2,3\r\n");
    EXPECT_TRUE(found);
    EXPECT_EQ(path, Folder() + "xvglm.tpl");
}

TEST_F(FirstLineTest, QuotedLowerCaseTypeAndDriveLetterTemplate) {
    const std::string line = "#, \"glm\" ,C:\\TPL\\XVGLM.TPL,\r\n";
    EXPECT_EQ(TypeOf(line), 101);
    auto [found, path] = TemplateOf(line);
    EXPECT_FALSE(found);  // no such file here, but the path is handed back
    EXPECT_EQ(path, "C:/TPL/XVGLM.TPL");
}

TEST_F(FirstLineTest, QuotedTemplateFollowedByAnotherFieldLosesItsQuote) {
    auto [found, path] = TemplateOf("#,\"GLM\",\"xvglm\",\"DUPS OK\"\n");
    EXPECT_TRUE(found);
    EXPECT_EQ(path, Folder() + "xvglm.tpl");
}

TEST_F(FirstLineTest, SlashPathIsUsedAsItStands) {
    const std::string tpl = appData.str() + "/own/xvown.tpl";
    WriteFile(tpl, "t");
    auto [found, path] = TemplateOf("#,GLM," + tpl + "\n");
    EXPECT_TRUE(found);
    EXPECT_EQ(path, tpl);
}

TEST_F(FirstLineTest, ModuleCodeRunningIntoTemplateIsNoType) {
    EXPECT_EQ(TypeOf("#,GL,xvglm\n"), 0);  // collects G, L, x
}

TEST_F(FirstLineTest, LineWithoutHashHasNeitherTypeNorTemplate) {
    EXPECT_EQ(TypeOf("GLM,xvglm\n"), 0);
    EXPECT_EQ(TypeOf(",GLM,xvglm\n"), 0);
    auto [found, path] = TemplateOf(",GLM,xvglm\n");
    EXPECT_FALSE(found);
    EXPECT_EQ(path, "");
}

TEST_F(FirstLineTest, TypeWithoutSecondCommaHasNoTemplate) {
    EXPECT_EQ(TypeOf("#,GLM\n"), 101);
    auto [found, path] = TemplateOf("#,GLM\n");
    EXPECT_FALSE(found);
    EXPECT_EQ(path, "");
    EXPECT_EQ(TemplateOf("#,GLM,  ,\n").second, "");  // empty name
}

TEST_F(FirstLineTest, ShortOrMissingTypeIsRefused) {
    EXPECT_EQ(TypeOf("#,\n"), 0);
    EXPECT_EQ(TypeOf("#,GL\n"), 0);
    EXPECT_EQ(TypeOf("#"), 0);
    EXPECT_EQ(TypeOf(""), 0);
    EXPECT_EQ(TypeOf("#,XYZ,t\n"), 0);
}

TEST_F(FirstLineTest, EveryKnownAbbreviationNamesItsType) {
    for (const auto& t : KnownConversionTypes())
        EXPECT_EQ(TypeOf(std::string("#,") + t.abbreviation + ",tpl\n"), t.code) << t.abbreviation;
}

TEST_F(FirstLineTest, DuplicateInvoiceMarkersBelongToTheList) {
    ConversionTypeList list;
    EXPECT_EQ(list.DupInvoiceMode(), 1u);
    EXPECT_EQ(TypeOf("#,API,xvapi,NO DUP DISP\n", list), 402);
    EXPECT_EQ(list.DupInvoiceMode(), 0u);
    EXPECT_EQ(TypeOf("#,API,xvapi\n", list), 402);  // no marker: left as it is
    EXPECT_EQ(list.DupInvoiceMode(), 0u);
    EXPECT_EQ(TypeOf("#,API,xvapi,NO DUP DISP,DUPS OK\n", list), 402);  // DUPS OK looked for first
    EXPECT_EQ(list.DupInvoiceMode(), 2u);
    ConversionTypeList other;
    EXPECT_EQ(TypeOf("#,APM,xvapm,DUPS OK\n", other), 401);  // only AP invoice files set it
    EXPECT_EQ(other.DupInvoiceMode(), 1u);
}

TEST_F(FirstLineTest, LineEndsAndCtrlZ) {
    std::string crlf, lfcr, cr;
    std::istringstream a("#,GLM,xvglm\r\nnext"), b("#,GLM,xvglm\n\rnext"), c("#,GLM,xv\x1Aglm\rnext");
    ReadTextLine(a, crlf);
    ReadTextLine(b, lfcr);
    ReadTextLine(c, cr);
    EXPECT_EQ(crlf, "#,GLM,xvglm");
    EXPECT_EQ(lfcr, crlf);
    EXPECT_EQ(cr, crlf);
    std::string rest;
    ReadTextLine(b, rest);
    EXPECT_EQ(rest, "next");  // the pair's second character was consumed
    EXPECT_EQ(TypeOf("#,GLM,xv\x1Aglm\n\r1\n"), 101);
    EXPECT_TRUE(TemplateOf("#,GLM,xv\x1Aglm\n\r1\n").first);
}

TEST_F(FirstLineTest, FailedStreamGivesEmptyLine) {
    std::istringstream in("abc");
    in.setstate(std::ios::failbit);
    std::string line = "old";
    ReadTextLine(in, line);
    EXPECT_EQ(line, "");
}

TEST_F(FirstLineTest, ReadersRewindTheStream) {
    std::istringstream in("#,GLM,xvglm\n1,2\n");
    std::string skip;
    ReadTextLine(in, skip);
    ReadTextLine(in, skip);
    ConversionTypeList list;
    TextFileEntry entry;
    EXPECT_TRUE(ReadConversionType(list, in, entry));
    std::string path;
    EXPECT_TRUE(ReadTemplatePath(in, path));
}

TEST_F(FirstLineTest, LengthLimitsOfTemplateNames) {
    // A name of 251 characters gets no extension; a path of 255 or more is refused.
    const std::string longName(251, 'a');
    auto [found, path] = TemplateOf("#,GLM,/" + longName + "\n");
    EXPECT_FALSE(found);
    EXPECT_EQ(path, "/" + longName);
    EXPECT_EQ(TemplateOf("#,GLM,/" + std::string(254, 'a') + "\n").second, "");
    // In the template folder the folder's length counts as well.
    EXPECT_EQ(TemplateOf("#,GLM," + std::string(250, 'b') + "\n").second, "");
}

TEST_F(FirstLineTest, GetTextFileTemplateOpensTheFile) {
    const std::string text = company.str("glm.txt");
    WriteFile(text, "#,GLM,xvglm\r\n1\r\n");
    std::string path = "stale";
    GetTextFileTemplate(text, path);
    EXPECT_EQ(path, Folder() + "xvglm.tpl");
    ConversionTypeList list;
    list.GetTextFileTemplate(company.str("missing.txt"), path);
    EXPECT_EQ(path, "");
}

TEST(ConversionTypeListTest, InstalledModulesGiveTheirTypesInCodeOrder) {
    ScratchDir company;
    OpenCompany(company.path(), {"PM", "GL"});
    ConversionTypeList list;
    std::vector<uint16_t> codes;
    for (const auto& t : list.types) codes.push_back(t.code);
    EXPECT_EQ(codes, (std::vector<uint16_t>{101, 102, 601, 602, 603, 604, 605, 606, 607}));
    // A type of a module that is not installed is no valid type.
    std::istringstream in("#,APM,xvapm\n");
    TextFileEntry entry;
    EXPECT_FALSE(ReadConversionType(list, in, entry));
    EXPECT_EQ(entry.code, 0);

    list.files = {{"a", 101}, {"b", 605}};
    EXPECT_TRUE(list.HasType(605));
    EXPECT_FALSE(list.HasType(402));
    suite::close_company();
}

TEST(ConversionTypeListTest, KnownTypesAreTheSeventeen) {
    ASSERT_EQ(KnownConversionTypes().size(), 17u);
    ASSERT_NE(FindConversionType(606), nullptr);
    EXPECT_STREQ(FindConversionType(606)->name, "PM History Trans Records");
    EXPECT_STREQ(FindConversionType(701)->name, "AR Contact & Cust Records");
    EXPECT_EQ(FindConversionType(108), nullptr);
}

}  // namespace
}  // namespace dz::convert
