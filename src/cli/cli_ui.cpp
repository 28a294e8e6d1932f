#include "cli/cli_ui.h"
#include "cli/commands.h"

#include "platform/ui/hub.h"
#include "platform/ui/run_state.h"

#include <csignal>
#include <iostream>
#include <sys/ioctl.h>
#include <unistd.h>

namespace dz::cli {
namespace {

void on_interrupt(int) { dz::ui::request_terminate(); }

dz::ui::ConsoleOptions console_options(const CliUiOptions& o) {
    dz::ui::ConsoleOptions c;
    c.skip_problem_files = o.on_error != "end";
    c.again = o.reconvert;
    if (o.yes) c.yes = true;
    if (o.no) c.yes = false;
    c.progress_line = ::isatty(STDERR_FILENO) != 0;
    c.columns = [] {
        winsize ws{};
        if (::ioctl(STDERR_FILENO, TIOCGWINSZ, &ws) == 0 && ws.ws_col > 0) return static_cast<int>(ws.ws_col);
        return 0;
    };
    return c;
}

}  // namespace

void add_ui_options(CLI::App& command, CliUiOptions& options, const char* reconvertHelp) {
    command.add_option("--on-error", options.on_error,
                       "A text file that fails a check or was converted before: skip it (the default), or end the run")
        ->check(CLI::IsMember({"skip", "end"}));
    command.add_flag("--reconvert", options.reconvert, reconvertHelp);
    auto* yes = command.add_flag("--yes", options.yes, "Answer yes to yes/no questions");
    auto* no = command.add_flag("--no", options.no, "Answer no to yes/no questions (the default)");
    yes->excludes(no);
    command.add_option("--report", options.report, "Report file (default: standard output)")
        ->transform(dz::cli::StandardOutputAsDash);
}

CliUi::CliUi(const CliUiOptions& options)
    : ConsoleUi(console_options(options), std::cout, std::cerr), cli_(options) {
    yes_given = options.yes || options.no;
    problem_given = !options.on_error.empty();
    if (::isatty(STDIN_FILENO)) {
        set_prompt_reader([](const std::string& prompt) -> std::optional<std::string> {
            std::cerr << prompt << std::flush;
            std::string line;
            if (!std::getline(std::cin, line)) return std::nullopt;
            return line;
        });
    }
    dz::ui::run_state().report_path = cli_.report.empty() ? std::string("-") : cli_.report;
    std::signal(SIGINT, on_interrupt);
    dz::ui::set_current(this);
}

CliUi::~CliUi() {
    std::signal(SIGINT, SIG_DFL);
    if (&dz::ui::current() == this) dz::ui::set_current(nullptr);
}

void CliUi::queue_hub_destination(const std::string& hub_panel) {
    using dz::ui::PanelAction;
    if (cli_.report.empty() || cli_.report == "-") {
        on_panel(hub_panel, PanelAction::choose(dz::ui::kHubDestinationField, 2));
    } else {
        on_panel(hub_panel, PanelAction::choose(dz::ui::kHubDestinationField, 1));
        on_panel(hub_panel, PanelAction::type(dz::ui::kHubFileField, cli_.report));
    }
}

void CliUi::pump() {
    ConsoleUi::pump();
    // Ctrl-C stops a running conversion between two records, without asking.
    if (!stop_sent_ && dz::ui::CheckTerminate()) {
        for (dz::ui::Panel* p : dz::ui::open_panels())
            if (p->def().progress_bar) {
                dz::ui::xw_post_message(p->handle(), dz::ui::kMsgButton, 11);
                stop_sent_ = true;
            }
    }
}

}  // namespace dz::cli
