#include "platform/ui/ui.h"

#include <cstdlib>

namespace dz::ui {
namespace {
class SilentUi final : public Ui {
public:
    int message(int kind, const std::string&) override { return kOk; }
    bool reads_whole_report() const override { return false; }  // nobody sees it
};
SilentUi g_silent;
Ui* g_current = &g_silent;
}  // namespace

bool is_question(int kind) {
    return kind == kYesNo || kind == kOkToSkip || kind == kYesNoCancel || kind == kQuestion ||
           kind == kThreeWay;
}

Ui::~Ui() {
    if (g_current == this) g_current = &g_silent;
}

FileChoice Ui::choose_files(const FileChooser&) { return FileChoice{}; }

PanelMessage Ui::read_panel(Panel& panel) { return panel.escape_message(); }

bool Ui::show_report(const ReportDocument&) { return true; }

bool for_each_line(const ReportDocument& report, const std::function<bool(std::string_view)>& each) {
    for (const std::string& l : report.lines)
        if (!each(l)) return false;
    return !report.spool || report.spool->for_each(each);
}

std::vector<std::string> all_lines(const ReportDocument& report) {
    std::vector<std::string> out = report.lines;
    if (report.spool)
        report.spool->for_each([&out](std::string_view l) {
            out.emplace_back(l);
            return true;
        });
    return out;
}

Ui& current() { return *g_current; }
void set_current(Ui* ui) { g_current = ui ? ui : &g_silent; }

int Ui::notice(const Notice& n) { return message(n.kind, with_step(n.text, n.next, Voice::CommandLine)); }

int xw_wr_message(int kind, const std::string& text) { return current().message(kind, text); }

int xw_wr_message(int kind, const std::string& text, const NextStep& next) {
    note_step_said(next);
    return next ? current().notice(Notice{kind, text, next}) : current().message(kind, text);
}

namespace {
int choose(const FileChooser& request, ChooseMode mode, std::vector<std::string>& chosen) {
    FileChooser r = request;
    r.mode = mode;
    FileChoice c = current().choose_files(r);
    chosen.clear();
    if (c.status == 0) chosen = std::move(c.paths);
    if (c.status == 0 && chosen.empty()) return 1;  // OK with nothing chosen is a cancel
    return c.status;
}
}  // namespace

int zqfdlgFileChooseMany(const FileChooser& request, std::vector<std::string>& chosen) {
    return choose(request, ChooseMode::Many, chosen);
}

int zqfdlgFileChooseOne(const FileChooser& request, std::string& chosen) {
    std::vector<std::string> paths;
    int status = choose(request, ChooseMode::One, paths);
    chosen = status == 0 ? paths.front() : std::string();
    return status;
}

int zqfdlgFileChooseNew(const FileChooser& request, std::string& chosen) {
    std::vector<std::string> paths;
    int status = choose(request, ChooseMode::New, paths);
    chosen = status == 0 ? paths.front() : std::string();
    return status;
}

int xl_list_records(const RecordList& list) {
    int picked = current().list_records(list);
    return picked >= 1 && picked <= static_cast<int>(list.rows.size()) ? picked : 0;
}

void x_update_task(const std::string& text) { current().task_line(text); }

void x_abort(const std::string& text) {
    current().message(kError, text);
    std::exit(2);
}

}  // namespace dz::ui
