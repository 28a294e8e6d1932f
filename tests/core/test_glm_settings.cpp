// The GL settings the converter reads before the first record (account-format lengths, fiscal
// entity, 13 periods) and the prefix levels that decide which records can be converted at all.
#include "test_glm_support.h"

#include "platform/suite/company.h"

namespace dz::gl::testing {

using namespace convert;
namespace {

// The demo account format with only the first `levels` prefix levels.
void KeepPrefixLevels(suite::CompanySettings& s, int levels) {
    auto& gl = s.formats[9];
    gl.prefix_levels = levels;
    gl.sections.erase(gl.sections.begin() + levels, gl.sections.begin() + 3);
}

class GlmSettings : public GlmTest {
protected:
    // Header 3 as a GL setup stored it: the lengths of the demo account format
    // (A 2, AB 3, ABC 5, base 4, suffix 2), with one changed by `delta`.
    void StoreFormat(const char* changed, int delta, uint16_t created = 1) {
        SetHeader(kHdrAccountFormat, [&](uint16_t h) {
            PutHeaderFlag(h, 3, "CREATED", created);
            for (auto [name, value] : {std::pair{"ALEN", 2}, {"BLEN", 3}, {"CLEN", 5}, {"BSLEN", 4}, {"SUFLEN", 2}})
                PutHeaderNumber(h, 3, name, value + (std::string(name) == changed ? delta : 0));
        });
    }
    bool Load() {
        xvGLM c;
        return c.LoadSettings(Glm());
    }
};

TEST_F(GlmSettings, StoredLengthsMustMatchTheAccountFormat) {
    EXPECT_TRUE(Load());  // a new file has stored no lengths
    StoreFormat("", 0);
    EXPECT_TRUE(Load());
    StoreFormat("ALEN", -1);
    EXPECT_TRUE(Load());  // prefix A may be shorter than the format's
    for (const char* name : {"ALEN", "BLEN", "CLEN", "BSLEN", "SUFLEN"}) {
        StoreFormat(name, 1);
        EXPECT_FALSE(Load()) << name << " one longer";
        if (std::string(name) != "ALEN") {
            StoreFormat(name, -1);
            EXPECT_FALSE(Load()) << name << " one shorter";
        }
    }
    StoreFormat("SUFLEN", 7, 0);
    EXPECT_TRUE(Load());  // not marked as stored: never compared
}

TEST_F(GlmSettings, AMismatchEndsTheFileBeforeAnyRecord) {
    StoreFormat("BSLEN", 2);
    const std::string text = WriteText("a.txt", Line("7", {{"PRPRTNR", "4"}}));
    const std::string report = Run(text, "Convert");
    EXPECT_TRUE(Has(report, "Incompatible account format, Master.glm settings don't match Custom Description settings"))
        << report;
    ASSERT_EQ(ui.boxes.size(), 1u);
    EXPECT_EQ(ui.boxes[0].second,
              "Incompatible account format, Master.glm settings don't match Custom Description settings");
    EXPECT_FALSE(Read(kRecPartner, "PRPRTNR", "4"));
    ASSERT_EQ(xio_rd_header(Glm(), kHdrSettings, 0), XIO_OK);
    EXPECT_EQ(GetFlag(Glm(), HeaderFieldNo(Glm(), kHdrSettings, "PRTNRS")), 0);
    xio_free_header(Glm(), kHdrSettings);
    EXPECT_EQ(progress.messages, 1u);
    // The text file is not marked as converted.
    EXPECT_EQ(ReadFile(text).find("Previously Converted"), std::string::npos);
}

TEST_F(GlmSettings, FiscalEntityAtPrefixLevelIgnoresTheCompanyThirteenPeriods) {
    SetHeader(kHdrSettings, [&](uint16_t h) {
        PutHeaderNumber(h, 1, "FISCENT", 2);
        PutHeaderNumber(h, 1, "BLLVL", 2);
        PutHeaderFlag(h, 1, "U13PA", 1);
    });
    xvGLM atPrefix;
    atPrefix.LoadSettings(Glm());
    EXPECT_EQ(atPrefix.FiscalAtPrefix(), 1);
    EXPECT_EQ(atPrefix.BalanceSheetLevel(), 2);
    EXPECT_EQ(atPrefix.Uses13Periods(), 0);

    SetHeader(kHdrSettings, [&](uint16_t h) { PutHeaderNumber(h, 1, "FISCENT", 1); });
    xvGLM company;
    company.LoadSettings(Glm());
    EXPECT_EQ(company.FiscalAtPrefix(), 0);
    EXPECT_EQ(company.BalanceSheetLevel(), 0);
    EXPECT_EQ(company.Uses13Periods(), 1);
}

// ---- Prefix levels that are not in use -------------------------------------------------------

class GlmNoPrefixes : public GlmTest {
    void Adjust(suite::CompanySettings& s) override { KeepPrefixLevels(s, 0); }
};

TEST_F(GlmNoPrefixes, PrefixAndBaseAccountRecordsCannotBeConverted) {
    const std::string text = WriteText("a.txt", Line("3", {{"PAPRFX", "01"}}) +
                                                    Line("6", {{"BSBASE", "1000-00"}, {"BSTITLE", "Cash"}, {"BSTYPE", "1"}}));
    const std::string report = Run(text, "Examine Files");
    EXPECT_TRUE(Has(report, " 3                 2  Prefixes are not defined for GL accounts, this prefix record cannot be "
                            "converted(140)"))
        << report;
    EXPECT_TRUE(Has(report, " 6                 3  Prefixes are not defined for GL accounts, base account records cannot "
                            "be converted(114)"))
        << report;
}

TEST_F(GlmNoPrefixes, AccountsNeedTheirOwnTypeAndHaveNoIntercompanyStatus) {
    WriteTemplate("accounts", "format 1\nfile GLM 1\nrecord 1\nfield AACCT\nfield ATITLE\n\n"
                              "format 1T\nfile GLM 1\nrecord 1\nfield AACCT\nfield ATITLE\nfield ATYPE\nfield AICSTS\n");
    const std::string text = WriteText("a.txt",
                                       "1,1000-00,Cash\r\n"
                                       "1T,1100-00,Petty cash,1,3\r\n"
                                       "1T,1200-00,,1,1\r\n",
                                       "accounts");
    const std::string report = Run(text, "Convert");
    EXPECT_TRUE(Has(report, "Account type is required for account 1000-00(130)")) << report;
    EXPECT_TRUE(Has(report, "Account title is required for account 1200-00(129)")) << report;
    EXPECT_TRUE(Has(report, "Intercompany status cannot have a value when not using prefixes, 'Receivable(3)' was not "
                            "converted(173)"))
        << report;
    ASSERT_TRUE(Read(kRecAccount, "AACCT", "110000"));
    EXPECT_EQ(Field(kRecAccount, "AICSTS").number, 1);
}

class GlmOneLevel : public GlmTest {
    void Adjust(suite::CompanySettings& s) override { KeepPrefixLevels(s, 1); }
};

TEST_F(GlmOneLevel, PrefixBAndCRecordsNameTheMissingLevel) {
    const std::string text = WriteText("a.txt", Line("4", {{"PBPRFX", "01-1"}}) + Line("5", {{"PCPRFX", "01-1-10"}}) +
                                                    Line("3", {{"PAPRFX", "012"}}));
    const std::string report = Run(text, "Examine Files");
    EXPECT_TRUE(Has(report, " 4                 2  Prefix B is not defined for GL accounts, this prefix record cannot be "
                            "converted(140)"))
        << report;
    EXPECT_TRUE(Has(report, " 5                 3  Prefix C is not defined for GL accounts")) << report;
    // A prefix A of the wrong length keeps the import library's own reason.
    EXPECT_TRUE(Has(report, " 3                 4  ")) << report;
    EXPECT_FALSE(Has(report, "Prefixes are not defined")) << report;
    EXPECT_TRUE(Has(report, "(57)")) << report;
}

class GlmTwoLevels : public GlmTest {
    void Adjust(suite::CompanySettings& s) override { KeepPrefixLevels(s, 2); }
};

TEST_F(GlmTwoLevels, AnInvalidPrefixBOfALevelInUseKeepsTheLibrarysReason) {
    const std::string text = WriteText("a.txt", Line("4", {{"PBPRFX", "01-12"}}) + Line("5", {{"PCPRFX", "01-1-10"}}));
    const std::string report = Run(text, "Examine Files");
    EXPECT_FALSE(Has(report, "Prefix B is not defined")) << report;
    EXPECT_TRUE(Has(report, " 4                 2  ")) << report;
    EXPECT_TRUE(Has(report, " 5                 3  Prefix C is not defined for GL accounts")) << report;
}

}  // namespace
}  // namespace dz::gl::testing
