#include "app/xv_app.h"

#include "convert/texts.h"
#include "modules/module_dlls.h"
#include "platform/datafile/data_folder.h"
#include "platform/import/xvl_rcstring.h"
#include "platform/suite/company.h"
#include "platform/ui/run_state.h"
#include "platform/ui/screen_file.h"

namespace dz::app {
namespace ui = dz::ui;

namespace {
constexpr unsigned kFrameStyle = 0xCF8000;  // overlapped window with the document title

// The application code word follows the open company: bit 0 is its JC transaction file setting.
void refresh_app_code() {
    const dz::suite::Company* c = dz::suite::current_company();
    ui::run_state().code = c && c->settings().jc_transaction_flag ? 1u : 0u;
}
}  // namespace

// ---- Tasks ----------------------------------------------------------------------------------
xvConvertTask::xvConvertTask(TaskRunner run) : zqTask(kTaskConvert, 15, kCmdConvert, 5, "", ""), run_(std::move(run)) {}
void xvConvertTask::Start() {
    zqTask::Start();
    if (run_) run_(*this);
}

xvExamineTask::xvExamineTask(TaskRunner run) : zqTask(kTaskExamine, 15, kCmdExamine, 4, "", ""), run_(std::move(run)) {}
void xvExamineTask::Start() {
    zqTask::Start();
    if (run_) run_(*this);
}

xvTableTask::xvTableTask(TaskRunner run) : zqTask(kTaskTables, 12, kCmdTables, 3, "", ""), run_(std::move(run)) {}
void xvTableTask::Start() {
    zqTask::Start();
    if (run_) run_(*this);
}

// ---- Environment ----------------------------------------------------------------------------
AppEnvironment AppEnvironment::standard() {
    AppEnvironment env;
    env.load_modules = [] { return dz::modules::LoadModuleDlls(); };
    env.release_modules = [] { dz::modules::ReleaseModuleDlls(); };
    env.reset_text_folder = [] { ResetTextFileFolder(); };
    env.run_convert_examine = [](ui::zqTask& t) { RunConvertExamineTask(t); };
    env.run_table_editor = [](ui::zqTask& t) { RunTableEditor(t); };
    return env;
}

bool CMainFrame::LoadFrame(const ui::zqApplication& app, unsigned) {
    ui::MainWindowDef def;
    def.title = app.Title();
    def.items = app.Menu();
    def.exit_prompt = CXVApp::Prompt(kExitPromptId);
    return ui::current().create_main_window(def);
}

// ---- The application ------------------------------------------------------------------------
CXVApp::CXVApp(AppEnvironment env)
    : zqMainApp("RA Dodedoz", "XV", "20.3.1", "17.1.0"), env_(std::move(env)) {}

CXVApp::~CXVApp() = default;

std::string CXVApp::Prompt(int id) {
    return dz::xvl::xvlRCString::Has(id) ? dz::xvl::xvlRCString::Get(id) : std::string();
}

void CXVApp::RegisterTasks() {
    NewInqRptCommands(2, 2);
    AddTask(std::make_unique<xvConvertTask>(env_.run_convert_examine));
    AddTask(std::make_unique<xvTableTask>(env_.run_table_editor));
    AddTask(std::make_unique<xvExamineTask>(env_.run_convert_examine));
    AddMenuItem({"Tasks", "&Examine Files...", kCmdExamine, Prompt(kCmdExamine), false});
    AddMenuItem({"Tasks", "&Convert...", kCmdConvert, Prompt(kCmdConvert), true});
    AddMenuItem({"Setup", "&Substitution Tables...", kCmdTables, Prompt(kCmdTables), false});
}

bool CXVApp::InitAppEnvironment() {
    refresh_app_code();
    ui::set_screens_folder(env_.screens_folder.empty() ? dz::data_folder() / "screens" : env_.screens_folder);
    int screen = ui::xw_open_screen_file("XV");
    dz::convert::SetScreenFileHandle(static_cast<uint16_t>(screen));
    if (env_.load_modules && !env_.load_modules()) {
        if (screen != ui::kNoScreenFile) ui::xw_cls_screen_file(screen);
        return false;
    }
    if (screen == ui::kNoScreenFile) {
        ui::xw_wr_message(ui::kError, "Unable to access the zq.scr sreen file.");
        if (env_.release_modules) env_.release_modules();
        return false;
    }
    environment_open_ = true;
    return true;
}

void CXVApp::CloseAppEnvironment() {
    if (!environment_open_) return;
    if (env_.release_modules) env_.release_modules();
    ui::xw_cls_screen_file(dz::convert::GetScreenFileHandle());
    environment_open_ = false;
}

bool CXVApp::InitInstance() {
    if (!zqMainApp::InitInstance()) return false;
    NewCommonCommands(false);
    RegisterTasks();

    if (InBackground() || MacroStatus() == ui::kMacroPlayback) {
        if (InitAppEnvironment()) {
            ProcessMacro();
            return false;  // the process ends after the stored steps, without a window
        }
        // Otherwise start as an interactive program, which opens the environment once more.
    }

    ui::current().splash(Title());
    CMainFrame frame(0, 0, 1);
    if (!frame.LoadFrame(*this, kFrameStyle)) return false;
    AddInqRptDropDowns(2);
    if (!InitForeground()) return false;
    if (!InitAppEnvironment()) return false;
    ui::current().show_main_window();
    return true;
}

int CXVApp::ExitInstance() {
    CloseAppEnvironment();
    return zqMainApp::ExitInstance();
}

bool CXVApp::ReloadModules() {
    refresh_app_code();
    if (env_.release_modules) env_.release_modules();
    bool ok = env_.load_modules ? env_.load_modules() : true;
    if (env_.reset_text_folder) env_.reset_text_folder();
    return ok;
}

bool CXVApp::ReloadModulesIf(bool release) {
    refresh_app_code();
    if (release && env_.release_modules) env_.release_modules();
    bool ok = env_.load_modules ? env_.load_modules() : true;
    if (env_.reset_text_folder) env_.reset_text_folder();
    return ok;
}

bool CXVApp::RebindModules(bool release) {
    refresh_app_code();
    if (release && env_.release_modules) env_.release_modules();
    return env_.load_modules ? env_.load_modules() : true;
}

CXVApp& theApp() {
    static CXVApp app;
    return app;
}

}  // namespace dz::app
