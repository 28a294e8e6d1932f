#include "platform/ui/scripted_ui.h"

#include <algorithm>
#include <cctype>

namespace dz::ui {
namespace {
std::string upper(std::string s) {
    for (auto& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
}
}  // namespace

PanelMessage PanelAction::apply(Panel& panel) const {
    switch (kind) {
    case Kind::Text: {
        panel.set_text(field, text);
        // Typing an entry's text into a drop-down list picks that entry.
        const FieldState* f = panel.field(field);
        if (f && f->def.kind == FieldKind::Combo) {
            auto items = panel.items(field);
            for (std::size_t i = 0; i < items.size(); ++i)
                if (upper(items[i]) == upper(text)) panel.set_choice(field, static_cast<int>(i) + 1);
        }
        break;
    }
    case Kind::Choice: panel.set_choice(field, value); break;
    case Kind::Check: panel.set_checked(field, value != 0); break;
    case Kind::Item: {
        auto items = panel.items(field);
        auto it = std::find(items.begin(), items.end(), text);
        if (it != items.end()) panel.set_choice(field, static_cast<int>(it - items.begin()) + 1);
        break;
    }
    case Kind::Button: return panel.button_message(field);
    case Kind::Escape: return panel.escape_message();
    case Kind::Edited: return panel.edited_message(field);
    case Kind::Raw: return raw;
    case Kind::GridLeave:
        if (Grid* g = panel.grid()) g->edit_text = text;
        return PanelMessage{kMsgGridLeave, value, field};
    case Kind::GridMove: return PanelMessage{kMsgGridLeave, value, field};
    case Kind::GridList: return PanelMessage{kMsgGridList, 0, 0};
    }
    return PanelMessage{};
}

ScriptedUi::ScriptedUi() = default;
ScriptedUi::~ScriptedUi() = default;

std::string ScriptedUi::panel_key(const Panel& panel) {
    if (panel.def().screen.empty()) return upper(panel.title());
    return upper(panel.def().screen + "/" + panel.def().name);
}

void ScriptedUi::on_panel(const std::string& panel, PanelAction action) {
    std::string key = upper(panel);
    for (auto& [k, q] : panel_actions_)
        if (k == key) {
            q.push_back(std::move(action));
            return;
        }
    panel_actions_.push_back({key, std::deque<PanelAction>{std::move(action)}});
}

void ScriptedUi::at_dispatch(int nth, const std::string& panel, PanelAction action) {
    timed_.push_back(Timed{nth, upper(panel), std::move(action)});
}

std::vector<std::string> ScriptedUi::message_texts() const {
    std::vector<std::string> out;
    for (const auto& s : shown_) out.push_back(s.text);
    return out;
}

bool ScriptedUi::panel_was_opened(const std::string& panel) const {
    std::string want = "open " + upper(panel);
    return std::find(events_.begin(), events_.end(), want) != events_.end();
}

std::vector<std::string> ScriptedUi::last_screen(const std::string& panel) const {
    std::string key = upper(panel);
    for (auto it = screens_.rbegin(); it != screens_.rend(); ++it)
        if (it->first == key) return it->second;
    return {};
}

int ScriptedUi::next_answer(int kind) {
    if (!is_question(kind)) return kOk;
    if (answers_.empty()) {
        ++unanswered_;
        return default_answer;
    }
    int a = answers_.front();
    answers_.pop_front();
    return a;
}

int ScriptedUi::record(int kind, const std::string& text, int answer, const NextStep& next) {
    shown_.push_back(Shown{kind, text, answer, next});
    return answer;
}

int ScriptedUi::message(int kind, const std::string& text) { return record(kind, text, next_answer(kind)); }

int ScriptedUi::notice(const Notice& n) { return record(n.kind, n.text, next_answer(n.kind), n.next); }

FileChoice ScriptedUi::choose_files(const FileChooser& request) {
    choosers_.push_back(request);
    if (choices_.empty()) return FileChoice{};
    FileChoice c = std::move(choices_.front());
    choices_.pop_front();
    if (request.mode != ChooseMode::Many && c.paths.size() > 1) c.paths.resize(1);
    return c;
}

void ScriptedUi::panel_opened(Panel& panel) { events_.push_back("open " + panel_key(panel)); }

void ScriptedUi::panel_closed(Panel& panel) {
    events_.push_back("close " + panel_key(panel));
    screens_.push_back({panel_key(panel), panel.screen_text()});
}

PanelMessage ScriptedUi::read_panel(Panel& panel) {
    std::string key = panel_key(panel);
    for (auto& [k, q] : panel_actions_) {
        if (k != key) continue;
        while (!q.empty()) {
            PanelAction a = std::move(q.front());
            q.pop_front();
            if (a.is_silent()) {
                a.apply(panel);
                continue;
            }
            return a.apply(panel);
        }
    }
    ++unanswered_;
    return panel.escape_message();
}

void ScriptedUi::pump() {
    ++pumps_;
    for (auto it = timed_.begin(); it != timed_.end();) {
        Panel* target = nullptr;
        for (Panel* p : open_panels())
            if (panel_key(*p) == it->panel) target = p;
        if (target && ++it->seen >= it->nth) {
            if (it->action.is_silent()) {
                it->action.apply(*target);
            } else {
                PanelMessage m = it->action.apply(*target);
                xw_post_message(target->handle(), m.msg, m.key, m.field);
            }
            it = timed_.erase(it);
        } else {
            ++it;
        }
    }
}

int ScriptedUi::list_records(const RecordList& list) {
    lists_.push_back(list);
    if (picks_.empty()) return 0;
    int r = picks_.front();
    picks_.pop_front();
    return r;
}

bool ScriptedUi::show_report(const ReportDocument& report) {
    reports_.push_back(ReportDocument{report.title, report.width, all_lines(report), nullptr});
    return true;
}

bool ScriptedUi::print_report(const ReportDocument& report) {
    printed_.push_back(ReportDocument{report.title, report.width, all_lines(report), nullptr});
    return true;
}

bool ScriptedUi::create_main_window(const MainWindowDef& def) {
    events_.push_back("main window");
    main_window = def;
    return main_window_ok;
}

}  // namespace dz::ui
