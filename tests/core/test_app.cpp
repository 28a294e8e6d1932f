#include "app/constants.h"
#include "app/xv_app.h"
#include "convert/convert_file.h"
#include "convert/texts.h"
#include "modules/module_dlls.h"
#include "platform/suite/company.h"
#include "platform/ui/run_state.h"
#include "platform/ui/screen_file.h"
#include "platform/ui/scripted_ui.h"
#include "tables/table_editor.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

using namespace dz::app;
using namespace dz::ui;
namespace fs = std::filesystem;

namespace {

class App : public ::testing::Test {
protected:
    void SetUp() override {
        reset_panels();
        reset_run_state();
        set_current(&person);
    }
    void TearDown() override {
        // The tables task installs process-wide text-file commands; later tests in this process
        // must not inherit them.
        dz::convert::xvConvert::prefillCallback = nullptr;
        dz::tables::table_editor_hooks() = {};
        reset_run_state();
        set_current(nullptr);
    }

    // An environment that records what the application calls outside itself.
    AppEnvironment env() {
        AppEnvironment e;
        e.load_modules = [this] {
            calls.push_back("load");
            return modules_load;
        };
        e.release_modules = [this] { calls.push_back("release"); };
        e.reset_text_folder = [this] { calls.push_back("reset folder"); };
        e.run_convert_examine = [this](zqTask& t) {
            calls.push_back("run " + t.Name());
            t.End(zqTask::kEndedOk);
        };
        e.run_table_editor = [this](zqTask& t) { calls.push_back("run " + t.Name()); };
        e.screens_folder = fs::path(DZ_SOURCE_DATA_DIR) / "screens";
        return e;
    }

    ScriptedUi person;
    std::vector<std::string> calls;
    bool modules_load = true;
};

bool shown_window(const ScriptedUi& p) {
    for (const auto& e : p.events())
        if (e == "main window" || e == "show main window" || e == "splash") return true;
    return false;
}

}  // namespace

TEST_F(App, BackgroundStartRunsTheStoredStepsAndShowsNoWindow) {
    run_state().in_background = true;
    run_state().steps = {kCmdConvert, kCmdExamine};
    CXVApp app(env());
    EXPECT_FALSE(app.InitInstance());  // the process ends after the steps
    EXPECT_EQ(calls, (std::vector<std::string>{"load", "run Convert", "run Examine Files"}));
    EXPECT_FALSE(shown_window(person));
    EXPECT_TRUE(person.messages().empty());
    EXPECT_EQ(app.FindTask(kCmdConvert)->Status(), zqTask::kEndedOk);
    app.ExitInstance();
    EXPECT_EQ(calls.back(), "release");
}

TEST_F(App, MacroPlaybackStartsLikeABackgroundOne) {
    run_state().macro_status = kMacroPlayback;
    run_state().steps = {kCmdTables};
    CXVApp app(env());
    EXPECT_FALSE(app.InitInstance());
    EXPECT_EQ(calls, (std::vector<std::string>{"load", "run Substitution Tables"}));
    EXPECT_FALSE(shown_window(person));
}

TEST_F(App, ATerminatedBackgroundRunStopsBetweenSteps) {
    run_state().in_background = true;
    run_state().steps = {kCmdConvert, kCmdExamine};
    AppEnvironment e = env();
    e.run_convert_examine = [this](zqTask& t) {
        calls.push_back("run " + t.Name());
        request_terminate();
    };
    CXVApp app(e);
    app.InitInstance();
    EXPECT_EQ(calls, (std::vector<std::string>{"load", "run Convert"}));
}

TEST_F(App, BackgroundStartWhoseEnvironmentFailsStartsInteractively) {
    run_state().in_background = true;
    run_state().steps = {kCmdConvert};
    modules_load = false;
    CXVApp app(env());
    EXPECT_FALSE(app.InitInstance());  // the second opening fails too
    EXPECT_EQ(calls, (std::vector<std::string>{"load", "load"}));
    EXPECT_TRUE(shown_window(person));
}

TEST_F(App, InteractiveStartShowsTheMainWindowWithTheTaskMenus) {
    CXVApp app(env());
    ASSERT_TRUE(app.InitInstance());
    EXPECT_EQ(person.events(), (std::vector<std::string>{"splash", "main window", "show main window"}));
    const MainWindowDef& w = person.main_window;
    EXPECT_EQ(w.title, "RA Dodedoz");
    ASSERT_EQ(w.items.size(), 3u);
    EXPECT_EQ(w.items[0].text, "&Examine Files...");
    EXPECT_EQ(w.items[0].command, kCmdExamine);
    EXPECT_EQ(w.items[0].prompt, "Examines text files for potential field errors");
    EXPECT_EQ(w.items[1].text, "&Convert...");
    EXPECT_TRUE(w.items[1].separator_before);
    EXPECT_EQ(w.items[1].prompt, "Converts text files into Vesk files");
    EXPECT_EQ(w.items[2].menu, "Setup");
    EXPECT_EQ(w.items[2].prompt, "Creates table of values to change during conversion");
    EXPECT_EQ(w.exit_prompt, "Exits the RA Dodedoz application");
    EXPECT_NE(dz::convert::GetScreenFileHandle(), kNoScreenFile);
    EXPECT_TRUE(app.HasCommonCommands());
    EXPECT_TRUE(app.RunCommand(kCmdExamine));
    EXPECT_FALSE(app.RunCommand(9999));
    EXPECT_EQ(calls.back(), "run Examine Files");
    app.ExitInstance();
}

TEST_F(App, TheApplicationAndItsTasksCarryTheirNamesAndNumbers) {
    CXVApp app(env());
    EXPECT_EQ(app.Title(), "RA Dodedoz");
    EXPECT_EQ(app.Code(), "XV");
    EXPECT_EQ(app.Version(), "20.3.1");
    EXPECT_EQ(app.MinDataVersion(), "17.1.0");
    EXPECT_EQ(zqApplication::instance(), &app);
    app.RegisterTasks();
    ASSERT_EQ(app.Tasks().size(), 3u);
    // Created in the order Convert, Substitution Tables, Examine Files.
    EXPECT_EQ(app.Tasks()[0]->Name(), "Convert");
    EXPECT_EQ(app.Tasks()[1]->Name(), "Substitution Tables");
    EXPECT_EQ(app.Tasks()[2]->Name(), "Examine Files");
    const zqTask* c = app.FindTask(kCmdConvert);
    EXPECT_EQ(c->Flags(), 15);
    EXPECT_EQ(c->Further(), 5);
    EXPECT_EQ(app.FindTask(kCmdExamine)->Further(), 4);
    EXPECT_EQ(app.FindTask(kCmdTables)->Flags(), 12);
    EXPECT_EQ(app.FindTask(kCmdTables)->Further(), 3);
}

TEST_F(App, AMissingScreenFileIsReportedAfterTheFrameAndStopsTheStart) {
    AppEnvironment e = env();
    e.screens_folder = fs::temp_directory_path() / "dz-no-screens-here";
    CXVApp app(e);
    EXPECT_FALSE(app.InitInstance());
    EXPECT_EQ(person.events(), (std::vector<std::string>{"splash", "main window"}));
    ASSERT_EQ(person.messages().size(), 1u);
    EXPECT_EQ(person.messages()[0].kind, kError);
    EXPECT_EQ(person.messages()[0].text, "Unable to access the zq.scr sreen file.");
    EXPECT_EQ(calls, (std::vector<std::string>{"load", "release"}));
}

TEST_F(App, AFrameOrForegroundThatFailsStopsTheStart) {
    person.main_window_ok = false;
    CXVApp a(env());
    EXPECT_FALSE(a.InitInstance());
    EXPECT_TRUE(calls.empty());
    person.main_window_ok = true;
    person.foreground_ok = false;
    CXVApp b(env());
    EXPECT_FALSE(b.InitInstance());
    EXPECT_TRUE(calls.empty());
}

TEST_F(App, ModuleHooksReleaseLoadAndResetInTheirOrder) {
    CXVApp app(env());
    EXPECT_TRUE(app.ReloadModules());
    EXPECT_EQ(calls, (std::vector<std::string>{"release", "load", "reset folder"}));
    calls.clear();
    app.ReloadModulesIf(false);
    EXPECT_EQ(calls, (std::vector<std::string>{"load", "reset folder"}));
    calls.clear();
    app.ReloadModulesIf(true);
    EXPECT_EQ(calls, (std::vector<std::string>{"release", "load", "reset folder"}));
    calls.clear();
    modules_load = false;
    EXPECT_FALSE(app.RebindModules(true));
    EXPECT_EQ(calls, (std::vector<std::string>{"release", "load"}));  // no folder reset
    calls.clear();
    app.RebindModules(false);
    EXPECT_EQ(calls, (std::vector<std::string>{"load"}));
}

TEST_F(App, TheTablesTaskRunsTheEditorAndEndsWhenItsChoiceIsCancelled) {
    AppEnvironment e = AppEnvironment::standard();
    CXVApp app(e);
    app.RegisterTasks();
    app.RunCommand(kCmdTables);
    for (const auto& m : person.messages()) EXPECT_EQ(m.text.find("not available yet"), std::string::npos) << m.text;
    EXPECT_TRUE(app.FindTask(kCmdTables)->Ended());
    EXPECT_EQ(app.FindTask(kCmdTables)->Status(), zqTask::kEndedOk);
}

TEST(SharedConstants, HoldTheirValues) {
    EXPECT_TRUE(EmptyString.empty());
    EXPECT_EQ(EmptyString, std::string());
    EXPECT_EQ(ReplacementNotSet, "!#REPLACEMENT_NOT_SET#!");
    EXPECT_EQ(EndGroup, "__END_GROUP");
    EXPECT_EQ(dz::modules::ModuleCodeCM, "CM");
    EXPECT_EQ(DoesNotApply, "Does Not Apply");
}

TEST_F(App, TheApplicationCodeFollowsTheOpenCompany) {
    fs::path dir = fs::temp_directory_path() / ("dz_app_code_" + std::to_string(::getpid()));
    fs::create_directories(dir);
    dz::suite::CompanySettings s = dz::suite::default_settings({"JC"});
    s.jc_transaction_flag = 1;
    dz::suite::set_company(dz::suite::Company(dir, s));
    CXVApp app(env());
    ASSERT_TRUE(app.InitInstance());
    EXPECT_EQ(app.AppCode() & 1u, 1u);
    dz::suite::current_company()->settings().jc_transaction_flag = 0;
    app.ReloadModules();
    EXPECT_EQ(app.AppCode() & 1u, 0u);
    dz::suite::close_company();
    app.ExitInstance();
    fs::remove_all(dir);
}
