#include "platform/ui/console_ui.h"

#include "platform/ui/panel.h"
#include "platform/ui/shown_stream.h"
#include "platform/ui/shown_text.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <limits>
#include <ostream>

namespace dz::ui {

std::string console_text(const std::string& raw) {
    const std::string text = shown_text(raw, LineBreaks::Kept);
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

int ConsoleUi::message(int kind, const std::string& text) { return say(kind, text, text, {}); }

bool ConsoleUi::first_saying(const NextStep& next) {
    if (!next || std::find(steps_said_.begin(), steps_said_.end(), next) != steps_said_.end()) return false;
    steps_said_.push_back(next);
    return true;
}

int ConsoleUi::notice(const Notice& n) {
    // Several files refused for one cause (a data file another program writes) share their next
    // step: it is said with the first, not repeated with each.
    const bool first = first_saying(n.next);
    return say(n.kind, first ? with_step(n.text, n.next, Voice::CommandLine) : n.text, n.text, n.next);
}

int ConsoleUi::say(int kind, const std::string& printed, const std::string& text, const NextStep& next) {
    end_progress_line();
    err_ << "dodedoz: " << kind_word(kind) << ": " << console_text(printed) << "\n";
    int answer = kOk;
    if (is_question(kind)) {
        bool given = (kind == kOkToSkip || kind == kThreeWay) ? (problem_given || (kind == kThreeWay && options_.again))
                                                              : yes_given;
        answer = (reader_ && !given) ? ask(kind) : decide(kind);
        err_ << "dodedoz: answered: " << answer_word(kind, answer) << "\n";
    }
    return record(kind, text, answer, next);
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

namespace {

// A terminal redraws a line far more slowly than a conversion reads records: ten drawings a
// second keep the line lively without the terminal setting the pace of the run.
constexpr double kRedrawSeconds = 0.1;
constexpr double kTaskLineSeconds = 1;  // a counting task line is written once a second
constexpr int kBarWidth = 20;
constexpr std::size_t kNameWidth = 24;

double steady_seconds() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// The counter written at row, col of a progress panel (digits only; 0 when empty).
uint64_t counter_at(const Panel& panel, int row, int col) {
    uint64_t n = 0;
    for (char c : panel.text_at(row, col, 10))
        if (c >= '0' && c <= '9') n = n * 10 + static_cast<uint64_t>(c - '0');
    return n;
}

std::string with_commas(uint64_t n) {
    std::string digits = std::to_string(n), out;
    for (std::size_t i = 0; i < digits.size(); ++i) {
        if (i > 0 && (digits.size() - i) % 3 == 0) out += ',';
        out += digits[i];
    }
    return out;
}

}  // namespace

void ConsoleUi::panel_opened(Panel& panel) {
    if (panel.def().progress_bar) start_progress(panel);
    ScriptedUi::panel_opened(panel);
}

std::string fit_progress_line(std::string name, int percent, const std::string& records, const std::string& elapsed,
                              const std::string& pace, int columns) {
    auto shorten = [](std::string& s, std::size_t n) {
        if (s.size() > n) s = n > 3 ? s.substr(0, n - 3) + "..." : s.substr(0, n);
    };
    shorten(name, kNameWidth);
    char pct[8];
    std::snprintf(pct, sizeof pct, " %3d%%", std::clamp(percent, 0, 100));
    bool withPace = true, withElapsed = true, withWord = true, withRecords = true;
    std::size_t bar = kBarWidth;
    auto build = [&] {
        std::string line = name;
        if (bar > 0) {
            const auto filled = static_cast<std::size_t>(std::clamp(percent, 0, 100)) * bar / 100;
            line += " [" + std::string(filled, '#') + std::string(bar - filled, '-') + "]";
        }
        line += pct;
        if (withRecords) line += "  " + records + (withWord ? " records" : "");
        if (withElapsed) line += "  " + elapsed;
        if (withPace) line += "  " + pace + "/s";
        return line;
    };
    if (columns <= 0) return build();
    const auto room = static_cast<std::size_t>(std::max(columns - 1, 1));
    std::string line = build();
    for (bool* part : {&withPace, &withElapsed, &withWord}) {
        if (line.size() <= room) return line;
        *part = false;
        line = build();
    }
    // Then the bar narrows to ten, the name to eight, and the bar goes.
    // How much narrower `n` can get down to `least`, at most what the line is over.
    auto narrowed = [&](std::size_t n, std::size_t least) {
        const std::size_t over = line.size() - room;
        return n > least + over ? n - over : std::min(n, least);
    };
    if (line.size() > room) {
        bar = narrowed(bar, 10);
        line = build();
    }
    if (line.size() > room && name.size() > 8) {
        shorten(name, narrowed(name.size(), 8));
        line = build();
    }
    // Then the bar goes, then the count; the share of the run stays longest.
    if (line.size() > room) {
        bar = 0;
        line = build();
    }
    if (line.size() > room) {
        withRecords = false;
        line = build();
    }
    if (line.size() > room && name.size() > 4) {
        shorten(name, narrowed(name.size(), 4));
        line = build();
    }
    return line.size() > room ? line.substr(0, room) : line;
}

void ConsoleUi::start_progress(Panel& panel) {
    const double now = options_.clock ? options_.clock() : steady_seconds();
    progress_panel_ = panel.handle();
    progress_start_ = now;
    progress_drawn_at_ = now - kRedrawSeconds;
    progress_drawn_.clear();
}

void ConsoleUi::panel_changed(Panel& panel) {
    if (!options_.progress_line || !panel.def().progress_bar) return;
    draw_progress(panel, false);
}

// One line: the text file's name, a bar, the percentage, the records read (accepted and
// rejected, of the whole run), the elapsed time and the pace. Drawn again only when it shows
// something new and a tenth of a second has passed; the final drawing (the panel closing)
// always. Padded with blanks over a longer earlier drawing, so that no stale tail is left.
void ConsoleUi::draw_progress(Panel& panel, bool final) {
    if (panel.handle() != progress_panel_) start_progress(panel);
    const double now = options_.clock ? options_.clock() : steady_seconds();
    if (!final && now - progress_drawn_at_ < kRedrawSeconds) return;
    // The name (row 2 from column 15); the run's accepted and rejected counters sit four and
    // three rows above the bar on both progress panels.
    std::string name = panel.text_at(2, 15, 40);
    if (name.empty()) return;  // the panel is still being filled in
    if (auto slash = name.find_last_of("\\/"); slash != std::string::npos) name.erase(0, slash + 1);
    name = shown_text(name);
    const int bar = panel.def().bar_row;
    const uint64_t records = counter_at(panel, bar - 4, 28) + counter_at(panel, bar - 3, 28);
    const int percent = std::clamp(panel.progress(), 0, 100);
    const std::string shown = name + " " + std::to_string(percent) + " " + std::to_string(records);
    if (!final && shown == progress_drawn_) return;

    const double seconds = std::max(0.0, now - progress_start_);
    const auto whole = static_cast<long>(seconds);
    char elapsed[32];
    std::snprintf(elapsed, sizeof elapsed, "%ld:%02ld", whole / 60, whole % 60);
    const std::string pace = seconds > 0 ? with_commas(static_cast<uint64_t>(records / seconds)) : "-";
    std::string line = fit_progress_line(name, percent, with_commas(records), elapsed, pace,
                                         options_.columns ? options_.columns() : 0);
    const std::size_t width = line.size();
    if (line.size() < progress_width_) line.resize(progress_width_, ' ');
    write_controls(err_, "\r");
    err_ << line << std::flush;
    progress_width_ = width;
    progress_drawn_ = shown;
    progress_drawn_at_ = now;
    progress_shown_ = true;
}

void ConsoleUi::close_progress_line() {
    if (progress_shown_)
        if (Panel* p = xw_find_panel(progress_panel_)) draw_progress(*p, true);
    end_progress_line();
}

void ConsoleUi::erase_progress_line() {
    if (!progress_shown_) return;
    write_controls(err_, "\r");
    err_ << std::string(progress_width_, ' ');
    write_controls(err_, "\r");
    err_.flush();
    progress_shown_ = false;
    progress_width_ = 0;
    progress_drawn_.clear();
}

void ConsoleUi::end_progress_line() {
    if (progress_shown_) {
        err_ << "\n";
        progress_shown_ = false;
        progress_width_ = 0;
        // A new line (the next file, or after a message) is drawn at its first change; what
        // the ended line showed is not drawn again (a finished file's 100% after its summary).
        progress_drawn_at_ = std::numeric_limits<double>::lowest();
    }
    flush_task_line();
}

void ConsoleUi::panel_closed(Panel& panel) {
    if (panel.def().progress_bar) {
        if (progress_shown_ && progress_panel_ == panel.handle()) draw_progress(panel, true);
        end_progress_line();
        progress_panel_ = 0;
    }
    ScriptedUi::panel_closed(panel);
}

bool ConsoleUi::show_report(const ReportDocument& report) {
    end_progress_line();
    const bool read = for_each_line(report, [this](std::string_view l) {
        if (!l.empty() && l.front() == '\f') l.remove_prefix(1);
        out_ << l << "\n";
        return static_cast<bool>(out_);
    });
    out_.flush();
    // Its title is kept, not its lines: they went out.
    ScriptedUi::show_report(ReportDocument{report.title, report.width, {}, nullptr});
    return read && static_cast<bool>(out_);
}

bool ConsoleUi::print_report(const ReportDocument&) {
    end_progress_line();
    err_ << "dodedoz: error: the command line cannot print; choose a report file instead\n";
    return false;
}

ConsoleUi::~ConsoleUi() { flush_task_line(); }

void ConsoleUi::task_line(const std::string& text) {
    ScriptedUi::task_line(text);
    if (text.empty()) {
        // The line is cleared: a count not yet written (rows saved by a save that then failed)
        // is no longer true, and goes unwritten.
        task_pending_.clear();
        task_stem_.clear();
        return;
    }
    // A run of lines that differ only in their numbers (rows saved, records deleted) counts
    // something up: its last line is written, and one a second while the run goes on.
    std::string stem;
    for (char c : text)
        if (c < '0' || c > '9') stem += c;
        else if (stem.empty() || stem.back() != '#') stem += '#';
    const double now = options_.clock ? options_.clock() : steady_seconds();
    const bool counting = stem.find('#') != std::string::npos;
    if (stem != task_stem_) {
        flush_task_line();
        task_stem_ = std::move(stem);
        if (counting) task_printed_at_ = now;  // the run's first second passes unwritten
    }
    if (counting && now - task_printed_at_ < kTaskLineSeconds) {
        task_pending_ = text;
        return;
    }
    task_pending_.clear();
    end_progress_line();
    err_ << "dodedoz: " << shown_text(text, LineBreaks::Blank) << "\n";
    task_printed_at_ = now;
}

void ConsoleUi::flush_task_line() {
    if (task_pending_.empty()) return;
    err_ << "dodedoz: " << shown_text(task_pending_, LineBreaks::Blank) << "\n";
    task_pending_.clear();
}

}  // namespace dz::ui
