#include "platform/ui/console_ui.h"

#include <cctype>
#include <ostream>

namespace dz::ui {

std::string console_text(const std::string& text) {
    std::string s;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r') {
            s += '\n';
            if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
        } else {
            s += text[i];
        }
    }
    return s;
}

namespace {
const char* kind_word(int kind) {
    switch (kind) {
    case kInfo: return "information";
    case kWarning: return "warning";
    case kError: return "error";
    default: return "question";
    }
}

const char* answer_word(int kind, int answer) {
    switch (kind) {
    case kOkToSkip: return answer == kEnd ? "end the run" : "skip the file";
    case kThreeWay: return answer == kEnd ? "end the run" : answer == kSkip ? "skip the file" : "go ahead";
    case kYesNoCancel: return answer == kYes ? "yes" : answer == kCancel ? "cancel" : "no";
    default: return answer == kYes ? "yes" : "no";
    }
}

const char* prompt_for(int kind) {
    switch (kind) {
    case kOkToSkip: return "[s]kip the file or [e]nd the run? ";
    case kThreeWay: return "[g]o ahead, [s]kip the file or [e]nd the run? ";
    case kYesNoCancel: return "[y]es, [n]o or [c]ancel? ";
    default: return "[y]es or [n]o? ";
    }
}

// The answer code of a typed reply; 0 when it is not one of the offered letters.
int parse_reply(int kind, const std::string& reply) {
    char c = 0;
    for (char ch : reply)
        if (!std::isspace(static_cast<unsigned char>(ch))) {
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
            break;
        }
    switch (kind) {
    case kOkToSkip: return c == 's' ? kOk : c == 'e' ? kEnd : 0;
    case kThreeWay: return c == 'g' ? kGoOn : c == 's' ? kSkip : c == 'e' ? kEnd : 0;
    case kYesNoCancel: return c == 'y' ? kYes : c == 'n' ? kNo : c == 'c' ? kCancel : 0;
    default: return c == 'y' ? kYes : c == 'n' ? kNo : 0;
    }
}
}  // namespace

ConsoleUi::ConsoleUi(ConsoleOptions options, std::ostream& out, std::ostream& err)
    : options_(options), out_(out), err_(err) {
    yes_given = options_.yes.has_value();
}

int ConsoleUi::decide(int kind) {
    switch (kind) {
    case kOkToSkip: return options_.skip_problem_files ? kOk : kEnd;
    case kThreeWay:
        if (options_.again) return kGoOn;
        return options_.skip_problem_files ? kSkip : kEnd;
    default: return options_.yes.value_or(false) ? kYes : kNo;
    }
}

int ConsoleUi::ask(int kind) {
    for (int tries = 0; tries < 5; ++tries) {
        auto reply = reader_(prompt_for(kind));
        if (!reply) break;
        if (int a = parse_reply(kind, *reply)) return a;
    }
    return decide(kind);
}

int ConsoleUi::message(int kind, const std::string& text) {
    end_progress_line();
    err_ << "dodedoz: " << kind_word(kind) << ": " << console_text(text) << "\n";
    int answer = kOk;
    if (is_question(kind)) {
        bool given = (kind == kOkToSkip || kind == kThreeWay) ? (problem_given || (kind == kThreeWay && options_.again))
                                                              : yes_given;
        answer = (reader_ && !given) ? ask(kind) : decide(kind);
        err_ << "dodedoz: answered: " << answer_word(kind, answer) << "\n";
    }
    return record(kind, text, answer);
}

PanelMessage ConsoleUi::read_panel(Panel& panel) {
    int before = unanswered();
    PanelMessage m = ScriptedUi::read_panel(panel);
    if (unanswered() != before) {
        end_progress_line();
        err_ << "dodedoz: nothing given for the " << panel_key(panel) << " panel; cancelled\n";
    }
    return m;
}

void ConsoleUi::panel_changed(Panel& panel) {
    if (!options_.progress_line || !panel.def().progress_bar) return;
    // The text file's name (row 2 from column 15) and the percentage of the whole run.
    std::string name = panel.text_at(2, 15, 40);
    std::string line = name + "  " + std::to_string(panel.progress()) + "%";
    if (line.size() < 60) line.resize(60, ' ');
    err_ << "\r" << line << std::flush;
    progress_shown_ = true;
}

void ConsoleUi::end_progress_line() {
    if (progress_shown_) {
        err_ << "\n";
        progress_shown_ = false;
    }
}

void ConsoleUi::panel_closed(Panel& panel) {
    if (panel.def().progress_bar) end_progress_line();
    ScriptedUi::panel_closed(panel);
}

bool ConsoleUi::show_report(const ReportDocument& report) {
    end_progress_line();
    for (const auto& l : report.lines) out_ << (!l.empty() && l.front() == '\f' ? l.substr(1) : l) << "\n";
    out_.flush();
    ScriptedUi::show_report(report);
    return static_cast<bool>(out_);
}

bool ConsoleUi::print_report(const ReportDocument&) {
    end_progress_line();
    err_ << "dodedoz: error: the command line cannot print; choose a report file instead\n";
    return false;
}

void ConsoleUi::task_line(const std::string& text) {
    end_progress_line();
    err_ << "dodedoz: " << text << "\n";
    ScriptedUi::task_line(text);
}

}  // namespace dz::ui
