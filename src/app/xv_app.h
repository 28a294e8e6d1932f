// The application: its object, main frame and three task commands, and the opening and closing
// of its environment (the screen file and the module libraries). Everything else runs inside a
// task's Start.
#pragma once

#include "platform/ui/framework.h"

#include <filesystem>
#include <functional>
#include <string>

namespace dz::app {

inline constexpr int kCmdExamine = 3010;
inline constexpr int kCmdConvert = 3020;
inline constexpr int kCmdTables = 4010;
inline constexpr int kExitPromptId = 1999;

inline constexpr const char* kTaskConvert = "Convert";
inline constexpr const char* kTaskExamine = "Examine Files";
inline constexpr const char* kTaskTables = "Substitution Tables";

using TaskRunner = std::function<void(dz::ui::zqTask&)>;

// The bodies of the tasks' Start.
void RunConvertExamineTask(dz::ui::zqTask& task);
void RunTableEditor(dz::ui::zqTask& task);
// Forgets the folder of the last text-file selection.
void ResetTextFileFolder();

class xvConvertTask : public dz::ui::zqTask {
public:
    explicit xvConvertTask(TaskRunner run);
    void Start() override;

private:
    TaskRunner run_;
};

class xvExamineTask : public dz::ui::zqTask {
public:
    explicit xvExamineTask(TaskRunner run);
    void Start() override;

private:
    TaskRunner run_;
};

class xvTableTask : public dz::ui::zqTask {
public:
    explicit xvTableTask(TaskRunner run);
    void Start() override;

private:
    TaskRunner run_;
};

// What the application calls outside itself; tests give their own.
struct AppEnvironment {
    std::function<bool()> load_modules;
    std::function<void()> release_modules;
    std::function<void()> reset_text_folder;
    TaskRunner run_convert_examine;
    TaskRunner run_table_editor;
    std::filesystem::path screens_folder;  // empty: <data folder>/screens
    // The real ones.
    static AppEnvironment standard();
};

// The main window: built from the front end, with the program's menu entries.
class CMainFrame {
public:
    CMainFrame(int a, int b, int c) {}
    // Builds the window; false when the front end could not.
    bool LoadFrame(const dz::ui::zqApplication& app, unsigned style);
};

class CXVApp : public dz::ui::zqMainApp {
public:
    explicit CXVApp(AppEnvironment env = AppEnvironment::standard());
    ~CXVApp() override;

    bool InitInstance() override;
    int ExitInstance() override;

    // Module hooks, called by the framework when the company or its modules change.
    bool ReloadModules();
    bool ReloadModulesIf(bool release);
    bool RebindModules(bool release);

    void RegisterTasks();
    bool InitAppEnvironment();
    void CloseAppEnvironment();

    // The prompt of a command (string id = command number), "" when none.
    static std::string Prompt(int id);

private:
    AppEnvironment env_;
    bool environment_open_ = false;
};

// The one application object of a program.
CXVApp& theApp();

}  // namespace dz::app
