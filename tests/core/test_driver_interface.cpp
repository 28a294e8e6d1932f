// Interface warnings: when the window shows, what it says, its three answers, turning entry
// creation on in the control file (and a control file that cannot be written).
#include "test_driver_support.h"

#include "app/interface_warning.h"
#include "platform/suite/control.h"
#include "platform/suite/zc.h"
#include "platform/import/xvl_rcstring.h"

#include <gmock/gmock.h>

#include <fstream>

namespace dz::app::testing {
namespace {

using dz::ui::PanelAction;
using dz::xvl::xvlRCString;

class InterfaceWarning : public DriverTest {
protected:
    void SetUp() override {}  // each test opens its own company
    void Open(bool createsEntries, bool cmInstalled, bool allowed) {
        createsEntries_ = createsEntries;
        allowed_ = allowed;
        std::set<std::string> modules = {"GL", "AP"};
        if (cmInstalled) modules.insert("CM");
        DriverTest::SetUp();
        suite::close_company();
        OpenCompany(modules);
    }
    void Adjust(suite::CompanySettings& s) override {
        s.interfaces = {{"AP", "CM", true, createsEntries_}, {"AP", "JC", true, false}};
        s.security_allowed["AP"] = allowed_ ? std::set<int>{1160} : std::set<int>{};
    }
    bool ApCreatesCmEntriesOnDisk() {
        for (const auto& i : suite::read_settings(company.path() / suite::kSettingsFileName).interfaces)
            if (i.from == "AP" && i.to == "CM") return i.creates_entries;
        return false;
    }
    bool createsEntries_ = false;
    bool allowed_ = true;
};

TEST_F(InterfaceWarning, OneInactiveInterfaceAndNo) {
    Open(false, true, true);
    person.on_panel(kInterfaceWarningTitle, PanelAction::press(12));
    EXPECT_FALSE(CheckInterfaceWarning("AP", "CM", 1160));
    const auto screen = person.last_screen(kInterfaceWarningTitle);
    ASSERT_GE(screen.size(), 8u);
    EXPECT_EQ(screen[1], "  The interface from Accounts Payable to Cash Management");
    EXPECT_EQ(screen[2], "  is turned on, but entries are not being created.");
    EXPECT_EQ(screen[7], "  Continue?");
    EXPECT_EQ(screen.size(), 9u);  // one destination + 8 rows, wide enough for the names
    EXPECT_FALSE(ApCreatesCmEntriesOnDisk());

    person.on_panel(kInterfaceWarningTitle, PanelAction::press(11));
    EXPECT_TRUE(CheckInterfaceWarning("AP", "CM", 1160));
    person.on_panel(kInterfaceWarningTitle, PanelAction::escape());
    EXPECT_FALSE(CheckInterfaceWarning("AP", "CM", 1160));
}

TEST_F(InterfaceWarning, NoWindowWhenEntriesAreCreatedOrTheDestinationIsMissing) {
    Open(true, true, true);
    EXPECT_TRUE(CheckInterfaceWarning("AP", "CM", 1160));
    EXPECT_FALSE(person.panel_was_opened(kInterfaceWarningTitle));
    TearDown();
    Open(false, false, true);
    EXPECT_TRUE(CheckInterfaceWarning("AP", "CM", 1160));
    EXPECT_FALSE(person.panel_was_opened(kInterfaceWarningTitle));
    // No interface record at all.
    EXPECT_TRUE(CheckInterfaceWarning("AP", "PR", 1160));
}

TEST_F(InterfaceWarning, BackgroundAndPlaybackNeverShowTheWindow) {
    Open(false, true, true);
    dz::ui::run_state().in_background = true;
    EXPECT_TRUE(CheckInterfaceWarning("AP", "CM", 1160));
    dz::ui::reset_run_state();
    dz::ui::run_state().macro_status = dz::ui::kMacroPlayback;
    EXPECT_TRUE(CheckInterfaceWarning("AP", "CM", 1160));
    EXPECT_FALSE(person.panel_was_opened(kInterfaceWarningTitle));
}

TEST_F(InterfaceWarning, CreateEntriesOnlyWithTheSecurityOption) {
    Open(false, true, false);
    InterfaceWarningState state;
    state.source = "AP";
    state.inactive = {"CM"};
    state.createAllowed = false;
    int h = dz::ui::xw_open_window(kInterfaceWarningTitle, 9, 50, InterfaceWarningProc, &state);
    ASSERT_NE(h, 0);
    dz::ui::Panel* p = dz::ui::xw_find_panel(h);
    EXPECT_NE(p->button(11), nullptr);
    EXPECT_NE(p->button(12), nullptr);
    EXPECT_EQ(p->button(13), nullptr);
    ASSERT_TRUE(p->has_field(1));
    EXPECT_TRUE(p->field(1)->disabled || p->field(1)->def.disabled);
    EXPECT_EQ(p->field(1)->def.label, "Don't display warning in future");
    EXPECT_EQ(p->field(1)->def.row, 6);
    // Pressing a button that is not there changes nothing.
    dz::ui::xw_post_message(h, dz::ui::kMsgButton, 13);
    dz::ui::xw_dispatch_messages();
    EXPECT_NE(dz::ui::xw_find_panel(h), nullptr);
    EXPECT_FALSE(state.answered);
    dz::ui::xw_close_panel(h);

    // Through the check: no option, no button.
    person.on_panel(kInterfaceWarningTitle, PanelAction::press(13));
    EXPECT_FALSE(CheckInterfaceWarning("AP", "CM", 1160));  // the press does nothing; the read then escapes
    EXPECT_FALSE(ApCreatesCmEntriesOnDisk());
}

TEST_F(InterfaceWarning, CreateEntriesTurnsTheInterfaceOnAndContinues) {
    Open(false, true, true);
    person.on_panel(kInterfaceWarningTitle, PanelAction::press(13));
    EXPECT_TRUE(CheckInterfaceWarning("AP", "CM", 1160));
    EXPECT_TRUE(ApCreatesCmEntriesOnDisk());
    EXPECT_NE(dz::suite::zc_create_entries("AP", "CM"), 0);
    // Asked again, nothing is left to warn about.
    EXPECT_TRUE(CheckInterfaceWarning("AP", "CM", 1160));
    EXPECT_EQ(person.unanswered(), 0);
}

TEST_F(InterfaceWarning, AControlFileThatCannotBeWrittenKeepsTheWindowOpen) {
    Open(false, true, true);
    // The settings file is spoiled on disk after the company opened: the write cannot read it back.
    std::ofstream(company.path() / suite::kSettingsFileName, std::ios::trunc) << "not = [valid";
    person.on_panel(kInterfaceWarningTitle, PanelAction::press(13));
    person.on_panel(kInterfaceWarningTitle, PanelAction::press(11));
    EXPECT_TRUE(CheckInterfaceWarning("AP", "CM", 1160));
    const auto screen = person.last_screen(kInterfaceWarningTitle);
    ASSERT_GE(screen.size(), 7u);
    EXPECT_EQ(screen[6], "  Not done: the control file cannot be written.");
    EXPECT_EQ(person.unanswered(), 0);
    EXPECT_EQ(dz::suite::zc_create_entries("AP", "CM"), 0);
}

TEST_F(InterfaceWarning, SeveralInactiveDestinationsAreListed) {
    Open(false, true, true);
    suite::close_company();
    OpenCompany({"GL", "AP", "CM", "JC"});
    person.on_panel(kInterfaceWarningTitle, PanelAction::press(13));
    EXPECT_TRUE(WarnInactiveInterfaces(2, {{"AP", "CM"}, {"AP", "JC"}}, true));
    // Entries are created for both.
    EXPECT_TRUE(ApCreatesCmEntriesOnDisk());
    person.on_panel(kInterfaceWarningTitle, PanelAction::press(12));
    suite::close_company();
    OpenCompany({"GL", "AP", "CM", "JC"});
    EXPECT_FALSE(WarnInactiveInterfaces(2, {{"AP", "CM"}, {"AP", "JC"}}, true));
    const auto listed = person.last_screen(kInterfaceWarningTitle);
    ASSERT_GE(listed.size(), 10u);
    EXPECT_EQ(listed[1], "  The following interfaces from Accounts Payable");
    EXPECT_EQ(listed[2], "  are turned on, but entries are not being created:");
    EXPECT_EQ(listed[3], "      Cash Management");
    EXPECT_EQ(listed[4], "      Job Cost");
    EXPECT_EQ(listed[8], "  Continue?");
}

TEST_F(InterfaceWarning, NoDropsTheFileFromTheRun) {
    Open(false, true, true);
    struct Invoices : StubConverter {
        using StubConverter::StubConverter;
        bool OpenFiles(convert::OpenFilesList& list, uint16_t command, uint16_t& error) override {
            if (code() == 402 && !CheckInterfaceWarning("AP", "CM", 1160)) {
                error = kErrorInterfaceDeclined;
                list.push_back({"API", 2, 0});
                return false;
            }
            return StubConverter::OpenFiles(list, command, error);
        }
        uint16_t code() const { return code_; }
        uint16_t code_ = 0;
    };
    SetConverterFactory([](uint16_t c) {
        auto s = std::make_unique<Invoices>(c);
        s->code_ = c;
        return s;
    });
    const std::string invoices = Text("inv.txt", "API");
    person.choose({invoices, Text("vendors.txt", "APM")});
    person.on_panel(kInterfaceWarningTitle, PanelAction::press(12));
    StartHub();
    EXPECT_EQ(Run(), dz::ui::zqTask::kEndedOk);
    EXPECT_EQ(Converted(), (std::vector<std::string>{"vendors.txt"}));
    // The file dropped is named, and named as not run when the run closes.
    ASSERT_EQ(person.messages().size(), 2u);
    EXPECT_EQ(person.messages()[0].text, xvlRCString::Get(13262, invoices));
    EXPECT_THAT(person.messages()[1].text, ::testing::HasSubstr("inv.txt: skipped; not run"));
    EXPECT_FALSE(person.panel_was_opened("QUERY/API"));  // the invoice file is gone
}

}  // namespace
}  // namespace dz::app::testing
