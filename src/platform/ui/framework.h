// The application framework the program is built on: an application object that owns its task
// commands, knows how it runs (see run_state.h) and replays stored steps; and tasks, the
// commands a person starts from the menu.
#pragma once

#include "platform/ui/ui.h"

#include <memory>
#include <string>
#include <vector>

namespace dz::ui {

class zqCommand {
public:
    explicit zqCommand(int id) : id_(id) {}
    virtual ~zqCommand() = default;
    int ID() const { return id_; }

private:
    int id_;
};

// A task command. `Start` runs it; `End` records how it ended.
class zqTask : public zqCommand {
public:
    // Task end states.
    static constexpr int kRunning = -1;
    static constexpr int kEndedOk = 0;
    static constexpr int kEndedCancelled = 2;
    static constexpr int kBatchFailed = 3;

    zqTask(std::string name, int flags, int command, int further, std::string help = "",
           std::string extra = "");
    ~zqTask() override = default;

    // The base marks the task running; a derived Start calls it first.
    virtual void Start();
    void End(int status);
    int Status() const { return status_; }
    bool Ended() const { return ended_; }

    const std::string& Name() const { return name_; }
    int Flags() const { return flags_; }
    int Further() const { return further_; }
    bool AllowBackground() const { return allow_background_; }
    void SetAllowBackground(bool allow) { allow_background_ = allow; }
    // Ends the background part of the task (nothing is queued here; kept for the callers).
    void TermBackground() { allow_background_ = false; }

private:
    std::string name_;
    int flags_;
    int further_;
    int status_ = kEndedOk;
    bool ended_ = false;
    bool allow_background_ = false;
};

class zqApplication {
public:
    zqApplication(std::string title, std::string code, std::string version,
                  std::string min_data_version);
    virtual ~zqApplication();
    zqApplication(const zqApplication&) = delete;
    zqApplication& operator=(const zqApplication&) = delete;

    // The application being run (the most recently built one), nullptr when none.
    static zqApplication* instance();

    const std::string& Title() const { return title_; }
    const std::string& Code() const { return code_; }
    const std::string& Version() const { return version_; }
    const std::string& MinDataVersion() const { return min_data_version_; }

    // Tasks are owned by the application from their registration on.
    zqTask& AddTask(std::unique_ptr<zqTask> task);
    zqTask* FindTask(int command) const;
    const std::vector<std::unique_ptr<zqTask>>& Tasks() const { return tasks_; }
    // Starts the task with this command number (a menu choice). False when there is none.
    bool RunCommand(int command);

    // Run state (see run_state.h).
    bool InBackground() const;
    int CheckTerminate() const;
    int MacroStatus() const;
    unsigned AppCode() const;
    // Runs the stored steps (run_state().steps) in order. Returns how many ran.
    virtual int ProcessMacro();

    // Menu entries the program adds to the framework's own.
    void AddMenuItem(MenuItem item) { menu_.push_back(std::move(item)); }
    const std::vector<MenuItem>& Menu() const { return menu_; }

private:
    std::string title_, code_, version_, min_data_version_;
    std::vector<std::unique_ptr<zqTask>> tasks_;
    std::vector<MenuItem> menu_;
};

// An MDI main application: start-up and exit, with the framework's common commands.
class zqMainApp : public zqApplication {
public:
    using zqApplication::zqApplication;

    virtual bool InitInstance() { return true; }
    virtual int ExitInstance() { return 0; }

    // The framework's own File/Edit/Tools/Window/Help commands and inquiry reports belong to
    // the front end; these record that they were asked for.
    void NewCommonCommands(bool with_print) { common_commands_ = true; }
    void NewInqRptCommands(int a, int b) { inquiry_commands_ = true; }
    void AddInqRptDropDowns(int n) {}
    bool InitForeground() { return current().init_foreground(); }
    bool HasCommonCommands() const { return common_commands_; }

private:
    bool common_commands_ = false;
    bool inquiry_commands_ = false;
};

}  // namespace dz::ui
