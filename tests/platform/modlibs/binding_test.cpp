// Loading, releasing and binding of module libraries, against registries built for each test.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "modules/entries.h"
#include "modules/module_dlls.h"
#include "platform/modlibs/registry.h"

namespace dz::modules {
namespace {

using modlibs::entry_address;
using modlibs::ModuleLibrary;
using modlibs::Registry;

// What the fake entries saw.
struct Seen {
    int calls = 0;
    std::vector<int> args;
    std::string text;
};
Seen g_seen;

int fake_gl_rd_header(uint16_t glm, uint16_t header, uint16_t lock) {
    ++g_seen.calls;
    g_seen.args = {glm, header, lock};
    return 7;
}
int fake_jc_get_cost_account(uint16_t, std::string& account, const std::string& costCode) {
    ++g_seen.calls;
    account = "ACCT-" + costCode;
    return 0;
}
uint16_t fake_ar_duplicate_invoice(uint16_t, uint16_t, const std::string&, std::string invoice) {
    ++g_seen.calls;
    g_seen.text = invoice;
    invoice = "changed";  // a copy: the caller's text must not change
    return 0;
}

int fake_pr_open_system_file(PrOpenRequest& request, uint16_t, uint16_t) {
    ++g_seen.calls;
    request.handle = 42;
    return 0;
}

class Binding : public ::testing::Test {
protected:
    void SetUp() override {
        g_seen = Seen{};
        for (const char* code : {"CM", "AP", "JC", "GL", "PR", "PM", "AR"})
            reg.add_library(ModuleLibrary{code, "8.1.0", {}});
        reg.add_entry("GL", "GL_RD_HEADER", entry_address<modlibs::entry::GL_RD_HEADER>(&fake_gl_rd_header));
        reg.add_entry("JC", "JC_GET_COST_ACCOUNT",
                      entry_address<modlibs::entry::JC_GET_COST_ACCOUNT>(&fake_jc_get_cost_account));
        reg.add_entry("AR", "AR_DUPLICATE_INVOICE",
                      entry_address<modlibs::entry::AR_DUPLICATE_INVOICE>(&fake_ar_duplicate_invoice));
        reg.logCalls = true;
        reg.installed = [](const std::string&) { return true; };
        reg.add_entry("PR", "PR_OPEN_SYSTEM_FILE",
                      entry_address<modlibs::entry::PR_OPEN_SYSTEM_FILE>(&fake_pr_open_system_file));
        modlibs::set_registry(&reg);
    }
    void TearDown() override {
        ReleaseModuleDlls();
        modlibs::set_registry(nullptr);
    }
    // The registry's log, restricted to calls starting with `prefix`.
    std::vector<std::string> calls(const std::string& prefix) const {
        std::vector<std::string> out;
        for (const auto& c : reg.calls)
            if (c.rfind(prefix, 0) == 0) out.push_back(c);
        return out;
    }
    int lookups(const std::string& name) const {
        int n = 0;
        for (const auto& c : reg.calls)
            if (c.find("zd_function_address") == 0 && c.size() >= name.size() &&
                c.compare(c.size() - name.size(), name.size(), name) == 0)
                ++n;
        return n;
    }
    Registry reg;
};

const std::vector<std::string> kSevenReleases = {
    "zd_release_dll PR 0x0020", "zd_release_dll GL 0x0004", "zd_release_dll JC 0x0008", "zd_release_dll AP 0x0001",
    "zd_release_dll CM 0x0002", "zd_release_dll PM 0x0400", "zd_release_dll AR 0x0800"};

TEST_F(Binding, LoadsEveryInstalledModuleInOrderWithItsMinimumVersion) {
    ASSERT_TRUE(LoadModuleDlls());
    EXPECT_EQ(calls("zq3zz_initialize"), std::vector<std::string>{"zq3zz_initialize 8.0.20"});
    EXPECT_EQ(calls("zd_load_dll"), (std::vector<std::string>{
                                        "zd_load_dll CM 8.0.12 XV CM", "zd_load_dll AP 8.0.15 XV AP",
                                        "zd_load_dll JC 8.0.14 XV JC", "zd_load_dll GL 8.0.13 XV GL",
                                        "zd_load_dll PR 8.0.111 XV PR", "zd_load_dll PM 8.0.8 XV PM",
                                        "zd_load_dll AR 8.0.16 XV AR"}));
    EXPECT_TRUE(calls("zd_release_dll").empty());
    for (const char* code : {"CM", "AP", "JC", "GL", "PR", "PM", "AR"}) EXPECT_TRUE(reg.is_loaded(code)) << code;
}

TEST_F(Binding, RefusedSuiteInterfaceLoadsNothingAndReleasesAllSeven) {
    reg.suiteVersion = "8.0.19";
    EXPECT_FALSE(LoadModuleDlls());
    EXPECT_TRUE(calls("zd_load_dll").empty());
    EXPECT_EQ(calls("zd_release_dll"), kSevenReleases);
}

TEST_F(Binding, ModuleFailingToLoadStopsTheLoadAndReleasesEverything) {
    // An AP library older than the program needs: CM loads, AP fails, nothing after is tried.
    reg.add_library(ModuleLibrary{"AP", "8.0.14", {}});
    EXPECT_FALSE(LoadModuleDlls());
    EXPECT_EQ(calls("zd_load_dll"),
              (std::vector<std::string>{"zd_load_dll CM 8.0.12 XV CM", "zd_load_dll AP 8.0.15 XV AP"}));
    EXPECT_EQ(calls("zd_release_dll"), kSevenReleases);
    EXPECT_FALSE(reg.is_loaded("CM"));
}

TEST_F(Binding, VersionsCompareByNumberNotByText) {
    // "8.0.111" is newer than "8.0.20": a PR library of 8.0.100 is too old, one of 8.0.111 loads.
    reg.add_library(ModuleLibrary{"PR", "8.0.100", {}});
    EXPECT_FALSE(LoadModuleDlls());
    reg.add_library(ModuleLibrary{"PR", "8.0.111", {}});
    EXPECT_TRUE(LoadModuleDlls());
    EXPECT_EQ(modlibs::compare_versions("8.0.111", "8.0.20"), 1);
    EXPECT_EQ(modlibs::compare_versions("8.1", "8.1.0"), 0);
    EXPECT_EQ(modlibs::compare_versions("8.0.8", "8.0.12"), -1);
}

TEST_F(Binding, OnlyInstalledModulesLoadButAllSevenAreReleased) {
    reg.installed = [](const std::string& code) { return code == "GL"; };
    ASSERT_TRUE(LoadModuleDlls());
    EXPECT_EQ(calls("zd_load_dll"), std::vector<std::string>{"zd_load_dll GL 8.0.13 XV GL"});
    reg.calls.clear();
    ReleaseModuleDlls();
    EXPECT_EQ(calls("zd_release_dll"), kSevenReleases);
    EXPECT_FALSE(reg.is_loaded("GL"));
}

TEST_F(Binding, ThunkBindsByNameOnFirstUseAndPassesCallsThrough) {
    ASSERT_TRUE(LoadModuleDlls());
    EXPECT_EQ(GLModule().Slot(kSlot_GL_RD_HEADER), nullptr);
    EXPECT_EQ(GL_RD_HEADER(5, 1, 1), 7);
    EXPECT_EQ(g_seen.args, (std::vector<int>{5, 1, 1}));
    EXPECT_EQ(GL_RD_HEADER(6, 2, 0), 7);
    EXPECT_EQ(g_seen.args, (std::vector<int>{6, 2, 0}));
    EXPECT_EQ(g_seen.calls, 2);
    EXPECT_EQ(lookups("GL GL_RD_HEADER"), 1);
    EXPECT_NE(GLModule().Slot(kSlot_GL_RD_HEADER), nullptr);
}

TEST_F(Binding, MissingEntryFallsBackAndIsAskedForAgainUntilOffered) {
    reg.remove_entry("GL", "GL_RD_HEADER");
    ASSERT_TRUE(LoadModuleDlls());
    EXPECT_EQ(GL_RD_HEADER(5, 1, 0), 0);
    EXPECT_EQ(GL_RD_HEADER(5, 1, 0), 0);
    EXPECT_EQ(g_seen.calls, 0);
    EXPECT_EQ(lookups("GL GL_RD_HEADER"), 2);  // a null answer is not remembered
    EXPECT_EQ(GLModule().Slot(kSlot_GL_RD_HEADER), nullptr);

    // The library offers it after a reload: the next call reaches it.
    reg.add_entry("GL", "GL_RD_HEADER", entry_address<modlibs::entry::GL_RD_HEADER>(&fake_gl_rd_header));
    ReleaseModuleDlls();
    ASSERT_TRUE(LoadModuleDlls());
    EXPECT_EQ(GL_RD_HEADER(5, 1, 0), 7);
    EXPECT_EQ(g_seen.calls, 1);
}

TEST_F(Binding, ReleaseEmptiesTheTablesSoEntriesBindAfresh) {
    ASSERT_TRUE(LoadModuleDlls());
    EXPECT_EQ(GL_RD_HEADER(1, 1, 0), 7);
    ReleaseModuleDlls();
    EXPECT_EQ(GLModule().Slot(kSlot_GL_RD_HEADER), nullptr);
    // Not loaded: the thunk still asks, the loader answers null, the fallback comes back.
    EXPECT_EQ(GL_RD_HEADER(1, 1, 0), 0);
    EXPECT_EQ(lookups("GL GL_RD_HEADER"), 2);
    ASSERT_TRUE(LoadModuleDlls());
    EXPECT_EQ(GL_RD_HEADER(1, 1, 0), 7);
    EXPECT_EQ(lookups("GL GL_RD_HEADER"), 3);
}

TEST_F(Binding, ClearModuleEntryCacheEmptiesOnlyThatModule) {
    ASSERT_TRUE(LoadModuleDlls());
    GL_RD_HEADER(1, 1, 0);
    std::string acct;
    JC_GET_COST_ACCOUNT(1, acct, "100");
    JCModule().ClearModuleEntryCache();
    EXPECT_EQ(JCModule().Slot(kSlot_JC_GET_COST_ACCOUNT), nullptr);
    EXPECT_NE(GLModule().Slot(kSlot_GL_RD_HEADER), nullptr);
}

TEST_F(Binding, EntryTablesHaveTheirModulesSlotCounts) {
    EXPECT_EQ(APModule().slots(), 142u);
    EXPECT_EQ(JCModule().slots(), 83u);
    EXPECT_EQ(GLModule().slots(), 25u);
    EXPECT_EQ(PRModule().slots(), 63u);
    EXPECT_EQ(ARModule().slots(), 57u);
    EXPECT_EQ(CMModule().slots(), 0u);
    EXPECT_EQ(PMModule().slots(), 0u);
}

TEST_F(Binding, CostAccountOutputIsEmptiedAndFallsBackToOne) {
    reg.remove_entry("JC", "JC_GET_COST_ACCOUNT");
    ASSERT_TRUE(LoadModuleDlls());
    std::string account = "left over";
    EXPECT_EQ(JC_GET_COST_ACCOUNT(1, account, "100"), 1);
    EXPECT_EQ(account, "");
    reg.add_entry("JC", "JC_GET_COST_ACCOUNT",
                  entry_address<modlibs::entry::JC_GET_COST_ACCOUNT>(&fake_jc_get_cost_account));
    EXPECT_EQ(JC_GET_COST_ACCOUNT(1, account, "100"), 0);
    EXPECT_EQ(account, "ACCT-100");
}

TEST_F(Binding, DuplicateInvoiceFallsBackToTwoAndTakesItsTextByValue) {
    reg.remove_entry("AR", "AR_DUPLICATE_INVOICE");
    ASSERT_TRUE(LoadModuleDlls());
    EXPECT_EQ(AR_DUPLICATE_INVOICE(1, 2, "CUST", "INV-1"), 2);
    EXPECT_EQ(g_seen.calls, 0);
    reg.add_entry("AR", "AR_DUPLICATE_INVOICE",
                  entry_address<modlibs::entry::AR_DUPLICATE_INVOICE>(&fake_ar_duplicate_invoice));
    std::string invoice = "INV-1";
    EXPECT_EQ(AR_DUPLICATE_INVOICE(1, 2, "CUST", invoice), 0);
    EXPECT_EQ(g_seen.text, "INV-1");
    EXPECT_EQ(invoice, "INV-1");
}

TEST_F(Binding, EntriesOfAModuleThatIsNotInstalledFallBack) {
    reg.installed = [](const std::string& code) { return code != "PR"; };
    ASSERT_TRUE(LoadModuleDlls());
    PrOpenRequest req;
    req.handle = 9;
    EXPECT_EQ(PR_OPEN_SYSTEM_FILE(req, 1, 0), 0);
    EXPECT_EQ(req.handle, 9);  // nothing was called
    EXPECT_EQ(g_seen.calls, 0);

    reg.installed = [](const std::string&) { return true; };  // PR installed after all: a reload binds it
    ReleaseModuleDlls();
    ASSERT_TRUE(LoadModuleDlls());
    EXPECT_EQ(PR_OPEN_SYSTEM_FILE(req, 1, 0), 0);
    EXPECT_EQ(req.handle, 42);
}

// Our own libraries, bound statically: every entry the program calls is there, so no fallback
// ever answers in production.
TEST(OurLibraries, OfferEveryEntryTheProgramCalls) {
    Registry ours = modlibs::our_module_libraries();
    ours.installed = [](const std::string&) { return true; };
    modlibs::set_registry(&ours);
    ASSERT_TRUE(LoadModuleDlls());
    for (const char* name : {"PR_OPEN_SYSTEM_FILE", "PR_LIST_DEDIDS", "PR_LIST_DEPTS", "PR_LIST_FRINGES",
                             "PR_LIST_PAYIDS", "PR_LIST_UNIONS", "PR_LIST_UCLASS", "PR_LIST_LOCALS"})
        EXPECT_NE(modlibs::zd_function_address("PR", name), nullptr) << name;
    EXPECT_NE(modlibs::zd_function_address("GL", "GL_RD_HEADER"), nullptr);
    ReleaseModuleDlls();
    modlibs::set_registry(nullptr);
}

}  // namespace
}  // namespace dz::modules
