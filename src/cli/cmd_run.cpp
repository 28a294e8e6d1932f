// dodedoz-cli run --company DIR [--store | --background] [answers] COMMAND...
// Starts the program on a company and runs task commands by number or name. With --store a
// command stores what its run needs (files, table group, options) instead of running; with
// --background the commands run as stored steps, without any question or panel, replaying what
// was stored. Ctrl-C asks a running command to stop between two records.
#include "app/xv_app.h"
#include "cli/cli_ui.h"
#include "cli/commands.h"
#include "cli/file_ending.h"
#include "platform/suite/company.h"
#include "platform/ui/run_state.h"

#include <algorithm>
#include <cctype>
#include <iostream>
#include <vector>

namespace dz::cli {
namespace {

struct RunArgs {
    std::string company;
    bool background = false;
    bool store = false;
    std::vector<std::string> commands;
    CliUiOptions ui;
};

// "3020", "convert", "examine", "tables"; 0 when unknown.
int command_number(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (text == "convert") return dz::app::kCmdConvert;
    if (text == "examine") return dz::app::kCmdExamine;
    if (text == "tables") return dz::app::kCmdTables;
    if (!text.empty() && std::all_of(text.begin(), text.end(), [](unsigned char c) { return std::isdigit(c); }))
        return text.size() < 6 ? std::stoi(text) : 0;
    return 0;
}

// A background run has no window and no closing message: a file that ended early is said on
// its line, with what to do, and fails the command.
class EndingLines : public dz::app::RunObserver {
public:
    explicit EndingLines(dz::ui::ConsoleUi& ui) : ui_(ui) { dz::app::SetRunObserver(this); }
    ~EndingLines() override { dz::app::SetRunObserver(nullptr); }
    EndingLines(const EndingLines&) = delete;
    EndingLines& operator=(const EndingLines&) = delete;
    void FileFinished(const dz::app::FileOutcome& o) override {
        if (o.endedWhy.empty()) return;
        ++ended_;
        if (!o.saidAtClose) std::cerr << FileEndingLine(o, ui_) << "\n";
    }
    int ended() const { return ended_; }

private:
    dz::ui::ConsoleUi& ui_;
    int ended_ = 0;
};

int run(const RunArgs& args) {
    std::vector<int> steps;
    for (const auto& c : args.commands) {
        int n = command_number(c);
        if (n != dz::app::kCmdConvert && n != dz::app::kCmdExamine && n != dz::app::kCmdTables) {
            std::cerr << "dodedoz-cli: run: unknown command \"" << c << "\" (convert, examine, tables, 3020, 3010 or 4010)\n";
            return kExitUsage;
        }
        steps.push_back(n);
    }
    try {
        dz::suite::open_company(args.company);
    } catch (const dz::suite::SettingsError& e) {
        std::cerr << "dodedoz-cli: run: " << e.what() << "\n";
        return kExitFailure;
    }
    CliUi ui(args.ui);
    EndingLines endings(ui);
    dz::ui::run_state().in_background = args.background;
    if (args.store) dz::ui::run_state().macro_status = dz::ui::kMacroRecord;
    dz::ui::run_state().steps = steps;

    dz::app::CXVApp& app = dz::app::theApp();
    bool interactive = app.InitInstance();
    if (interactive) {
        for (int n : steps) {
            if (dz::ui::CheckTerminate()) break;
            app.RunCommand(n);
        }
    }
    int rc = kExitOk;
    for (int n : steps) {
        const dz::ui::zqTask* t = app.FindTask(n);
        if (!t || !t->Ended() || t->Status() != dz::ui::zqTask::kEndedOk) {
            std::cerr << "dodedoz-cli: run: " << (t ? t->Name() : std::to_string(n)) << " did not complete\n";
            rc = kExitFailure;
        }
    }
    if (endings.ended() > 0) rc = kExitFailure;
    app.ExitInstance();
    dz::suite::close_company();
    return rc;
}

[[maybe_unused]] static bool reg = register_command([](CLI::App& app, int& exitCode) {
    static RunArgs args;
    auto* cmd = app.add_subcommand("run", "Run task commands (convert, examine, tables) on a company");
    cmd->add_option("--company", args.company, "Company folder")->required();
    cmd->add_flag("--background", args.background,
                  "Run as a background task: replay the options stored by an earlier run, ask nothing");
    auto* store = cmd->add_flag("--store", args.store,
                                "Store what each command's run needs for a later --background run, instead of running it");
    store->excludes("--background");
    cmd->add_option("commands", args.commands, "convert, examine, tables, or a command number")->required();
    add_ui_options(*cmd, args.ui,
                   "Convert again a text file that was converted before (examine: read it again, converting nothing)");
    cmd->callback([&exitCode] { exitCode = run(args); });
});

}  // namespace
}  // namespace dz::cli
