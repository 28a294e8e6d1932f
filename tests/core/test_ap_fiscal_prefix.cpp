// The GL prefix that keys a vendor's 1099 totals: AP_GET_FISCAL_PREFIX of our AP module library
// asks the GL fiscal entity at which level the account's calendar lives, on GL prefix records
// converted here, and AP_SECTION_TO_KEY turns the section into the totals record's level.
#include "test_glm2_support.h"

#include "platform/modlibs/entry_types.h"
#include "platform/modlibs/libraries.h"

namespace dz::gl::testing {
namespace {

namespace entry = modlibs::entry;

class ApFiscalPrefix : public Glm2Test {
protected:
    void SetUp() override {
        Glm2Test::SetUp();
        lib_ = modlibs::ap_library();
        get_ = reinterpret_cast<entry::AP_GET_FISCAL_PREFIX*>(lib_.entries.at("AP_GET_FISCAL_PREFIX"));
        key_ = reinterpret_cast<entry::AP_SECTION_TO_KEY*>(lib_.entries.at("AP_SECTION_TO_KEY"));
    }
    // "prefix/section/level" of an account.
    std::string Prefix(const std::string& account, uint16_t file) {
        std::string prefix = "unset";
        int32_t section = -1;
        get_(file, account, prefix, section);
        return prefix + "/" + std::to_string(section) + "/" + std::to_string(key_(section));
    }
    std::string Prefix(const std::string& account) { return Prefix(account, glm); }
    // Prefix records: A lines carry the fiscal entity level and a calendar where it lives.
    std::string Prefixes(int fiscalLevel) {
        const std::string a = fiscalLevel == 1 ? ",9/30/2024,,6/30/2025" : ",,,";
        const std::string b = fiscalLevel == 2 ? ",9/30/2024,,6/30/2025" : ",,,";
        const std::string c = fiscalLevel == 3 ? ",9/30/2024,,6/30/2025" : ",,,";
        return "3,01," + std::to_string(fiscalLevel) + ",,,," + a + ",,,,\r\n" + "4,012,,,," + b + ",,,,\r\n" +
               "5,01233,,,," + c + ",,,,\r\n";
    }

    modlibs::ModuleLibrary lib_;
    entry::AP_GET_FISCAL_PREFIX* get_ = nullptr;
    entry::AP_SECTION_TO_KEY* key_ = nullptr;
};

TEST_F(ApFiscalPrefix, TheFiscalEntityLevelChoosesThePrefix) {
    SetSettings(2, 1);
    std::string report = Run(Prefixes(1), true);
    ASSERT_TRUE(Read(kRecPrefixC, "PCPRFX", "01233")) << report;
    EXPECT_EQ(Prefix("01-2-33-4000-10"), "01/1/2");
    EXPECT_EQ(Prefix("01233400010"), "01/1/2");
}

TEST_F(ApFiscalPrefix, PrefixABAndABCLevels) {
    SetSettings(2, 2);
    std::string report = Run(Prefixes(2), true);
    ASSERT_TRUE(Read(kRecPrefixB, "PBPRFX", "012")) << report;
    EXPECT_EQ(Prefix("01-2-33-4000-10"), "012/9/3");
}

TEST_F(ApFiscalPrefix, PrefixABCLevel) {
    SetSettings(2, 3);
    std::string report = Run(Prefixes(3), true);
    ASSERT_TRUE(Read(kRecPrefixC, "PCPRFX", "01233")) << report;
    EXPECT_EQ(Prefix("01-2-33-4000-10"), "01233/10/4");
    // An account whose prefixes are not on file, or no GL master: prefix A.
    EXPECT_EQ(Prefix("09-9-99-4000-10"), "09/1/2");
    EXPECT_EQ(Prefix("01-2-33-4000-10", 0), "01/1/2");
}

TEST_F(ApFiscalPrefix, TheCompanyLevelGivesPrefixA) {
    // Prefix records with a calendar at prefix ABC, then the fiscal entity moved to the company.
    SetSettings(2, 3);
    std::string report = Run(Prefixes(3), true);
    ASSERT_TRUE(Read(kRecPrefixC, "PCPRFX", "01233")) << report;
    ASSERT_EQ(Prefix("01-2-33-4000-10"), "01233/10/4");
    SetSettings(1, 1);
    EXPECT_EQ(Prefix("01-2-33-4000-10"), "01/1/2");
}

}  // namespace
}  // namespace dz::gl::testing
