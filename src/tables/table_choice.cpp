// Choosing a table: the group list, the applications installed and the fields that may have a
// table, with " (new)" after every entry the chosen group has no table for yet.
#include "tables/table_editor.h"

#include "platform/suite/control.h"
#include "platform/suite/util.h"
#include "platform/suite/xk.h"
#include "platform/ui/ui.h"

namespace dz::tables {

namespace {

constexpr int kGroupField = 1;
constexpr int kApplField = 2;
constexpr int kFieldField = 3;
constexpr int kOk = 3;
constexpr int kCancelButton = 1;
constexpr const char* kNew = " (new)";

struct AppCheck {
    std::vector<int> descriptions;
    const char* message;
};

// The custom descriptions an installed application must have for its tables to be offered.
AppCheck AppChecks(uint32_t appl) {
    switch (appl) {
        case kApplGL: return {{9}, "The GL application is missing some fields.\r\rIt should be re-installed."};
        case kApplJC: return {{16, 18}, "The JC application is missing some fields.\r\rIt should be re-installed."};
        case kApplAP: return {{6}, "The AP application is missing some fields.\r\rIt should be re-installed."};
        case kApplPR:
            return {{28, 30, 33, 40, 43, 31, 46, 39, 44},
                    "The PR application is missing some fields.\r\rIt should be re-installed."};
        case kApplPM:
            return {{400, 401, 402, 403, 428, 415, 435, 422, 424, 416, 423, 431, 411, 410, 436, 420, 418, 414, 434,
                     417, 427, 437, 408, 421, 419},
                    "The PM application is missing some fields.\r\rIt should be re-installed."};
        case kApplTL:
            return {{262, 265, 266}, "The Tolvane application is missing some fields.\r\rIt should be re-installed."};
        case kApplAR:
            return {{300, 301},
                    "The Accounts Receivable application is missing some fields.\r\rIt should be re-installed."};
        default: return {{}, nullptr};
    }
}

bool Installed(const SubstitutionApplication& app) {
    if (app.number == kApplXX)
        return suite::xa_appl_installed("XX") || suite::xa_appl_installed("TX") || suite::xa_appl_installed("CM");
    return suite::xa_appl_installed(app.code) != 0;
}

std::string GlDescription(int section, const char* fallback) {
    std::string d = suite::xk_description(suite::kGlAccountFormat, section);
    return d.empty() && fallback ? std::string(fallback) : d;
}

}  // namespace

// ---- The lists ----------------------------------------------------------------------------

void FillTableList(SubstitutionMasterFile& file, ui::Panel& panel, std::string& outName, bool markNew) {
    outName = std::string(kNewTableGroup);
    panel.clear_items(kGroupField);
    panel.insert_item(kGroupField, 0, std::string(kNewTableGroup));
    int selected = 1;
    if (markNew && file.handle() > 0) {
        std::string last;
        uint16_t a = 0, f = 0;
        file.ReadLastChoice(last, a, f);
        int pos = 1;
        for (const std::string& g : file.GroupNames()) {
            panel.insert_item(kGroupField, 0, g);
            ++pos;
            if (!last.empty() && SameText(g, last)) {
                selected = pos;
                outName = g;
            }
        }
    }
    panel.set_choice(kGroupField, selected);
    panel.set_text(kGroupField, outName);
}

uint16_t FillApplicationList(SubstitutionMasterFile& file, ui::Panel& panel, TableChoice& choice, bool fromHeader) {
    const int noted = panel.choice(kApplField);
    uint16_t select = 1;
    if (fromHeader && file.handle() > 0) {
        std::string g;
        uint16_t f = 0;
        if (!file.ReadLastChoice(g, select, f)) select = 1;
    }
    panel.clear_items(kApplField);
    choice.listedApps.clear();
    int selected = 0;
    for (const auto& app : SubstitutionApplications()) {
        if (!Installed(app)) continue;
        const AppCheck check = AppChecks(app.number);
        bool complete = true;
        for (int d : check.descriptions)
            if (suite::xk_description(d).empty()) complete = false;
        if (!complete) {
            ui::xw_wr_message(ui::kInfo, check.message);
            continue;
        }
        std::string text(app.name);
        if (choice.markNew && !file.HasApplicationTable(choice.groupName, app.number)) text += kNew;
        panel.insert_item(kApplField, 0, text);
        const uint16_t code = static_cast<uint16_t>(app.number + 1);
        choice.listedApps.push_back(code);
        const int pos = static_cast<int>(choice.listedApps.size());
        if (code == select || (!fromHeader && pos == noted)) selected = pos;
    }
    ui::Panel* p = &panel;
    if (choice.listedApps.empty()) {
        panel.insert_item(kApplField, 0, "No Applications Available");
        panel.set_choice(kApplField, 1);
        panel.enable_button(kOk, false);
        return 1;
    }
    p->enable_button(kOk, true);
    panel.set_choice(kApplField, selected);
    return selected > 0 ? choice.listedApps[static_cast<std::size_t>(selected - 1)] : 1;
}

// One entry of the field list; false when the field is left out.
bool AddFieldEntry(ui::Panel& panel, TableChoice& choice, uint16_t fieldId, bool hasTable, uint16_t select,
                   bool& selected) {
    std::string text;
    switch (fieldId) {
        case kFieldGlPrefixA: text = GlDescription(suite::kGlPrefixA, "Prefix A"); break;
        case kFieldGlPrefixAB: text = GlDescription(suite::kGlPrefixAB, "Prefix AB"); break;
        case kFieldGlPrefixABC: text = GlDescription(suite::kGlPrefixABC, "Prefix ABC"); break;
        case kFieldGlBase:
            text = GlDescription(suite::xk_width(suite::kGlAccountFormat, suite::kGlSuffix) > 0 ? suite::kGlBaseAccount
                                                                                                : suite::kGlBase,
                                 nullptr);
            break;
        default: text = suite::xk_description(fieldId); break;
    }
    if (text.empty()) return false;
    suite::x_upper_first(text);
    if (choice.markNew && !hasTable) text += kNew;
    panel.insert_item(kFieldField, 0, text);
    choice.listedFields.push_back(fieldId);
    if (fieldId == select) {
        panel.set_choice(kFieldField, static_cast<int>(choice.listedFields.size()));
        selected = true;
    }
    return true;
}

uint16_t FillFieldList(SubstitutionMasterFile& file, ui::Panel& panel, TableChoice& choice, bool fromHeader) {
    uint16_t select = 0;
    if (fromHeader && file.handle() > 0) {
        std::string g;
        uint16_t a = 0;
        if (!file.ReadLastChoice(g, a, select)) select = 0;
    }
    panel.clear_items(kFieldField);
    choice.listedFields.clear();
    const std::string& group = choice.groupName;
    const uint32_t appl = choice.applCode > 1 ? choice.applCode - 1u : 0u;
    auto has = [&](uint16_t id) { return file.HasTable(group, appl, id); };
    std::vector<uint16_t> candidates;
    switch (appl) {
        case kApplGL: {
            const int levels = suite::xk_num_sections(suite::kGlAccountFormat);
            const bool all = levels >= 3 || (levels == 2 && has(kFieldGlPrefixABC)) ||
                             (levels == 1 && (has(kFieldGlPrefixAB) || has(kFieldGlPrefixABC))) ||
                             (levels == 0 && (has(kFieldGlPrefixA) || has(kFieldGlPrefixAB) ||
                                              has(kFieldGlPrefixABC) || has(kFieldGlBase)));
            if (all)
                candidates = {kFieldGlAccount, kFieldGlPrefixA, kFieldGlPrefixAB, kFieldGlPrefixABC, kFieldGlBase};
            else if (levels == 0)
                candidates = {kFieldGlAccount};
            else if (levels == 1)
                candidates = {kFieldGlAccount, kFieldGlPrefixA, kFieldGlBase};
            else
                candidates = {kFieldGlAccount, kFieldGlPrefixA, kFieldGlPrefixAB, kFieldGlBase};
            break;
        }
        case kApplJC:
            candidates.push_back(kFieldJob);
            if (file.jcTracksExtras() || has(kFieldExtra)) candidates.push_back(kFieldExtra);
            candidates.push_back(kFieldPhase);
            if (file.jcUsesCategories() || has(kFieldCategory)) candidates.push_back(kFieldCategory);
            break;
        case 0: break;
        default:
            if (const SubstitutionApplication* a = FindApplication(appl))
                for (const auto& f : a->fields) {
                    if (!f.needs.empty() && !suite::xa_appl_installed(f.needs)) continue;
                    if (appl == kApplTL && !suite::xa_appl_installed("TL")) continue;
                    if (appl == kApplAR && !suite::xa_appl_installed("AR")) continue;
                    candidates.push_back(f.id);
                }
            break;
    }
    bool selected = false;
    for (uint16_t id : candidates) AddFieldEntry(panel, choice, id, has(id), select, selected);
    if (choice.listedFields.empty()) {
        panel.insert_item(kFieldField, 0, "No Fields Available");
        panel.set_choice(kFieldField, 1);
        return 0;
    }
    if (selected) return select;
    int pos = appl >= 1 && appl <= 8 ? choice.positions[appl - 1] : 1;
    if (pos < 1 || pos > static_cast<int>(choice.listedFields.size())) pos = 1;
    panel.set_choice(kFieldField, pos);
    return choice.listedFields[static_cast<std::size_t>(pos - 1)];
}

// ---- The panel ----------------------------------------------------------------------------

int TableGroupPanelProc(ui::Panel& panel, const ui::PanelMessage& m) {
    auto* choice = static_cast<TableChoice*>(panel.data());
    if (!choice || !choice->file) return 1;
    SubstitutionMasterFile& file = *choice->file;
    switch (m.msg) {
        case ui::kMsgShown:
            FillTableList(file, panel, choice->groupName, choice->markNew);
            choice->applCode = FillApplicationList(file, panel, *choice, true);
            choice->fieldId = FillFieldList(file, panel, *choice, true);
            panel.set_active_field(choice->markNew ? kGroupField : kApplField);
            break;
        case ui::kMsgEdited:
            if (m.field == kGroupField) {
                std::string name = panel.text(kGroupField);
                if (name.empty()) name = panel.selected_item(kGroupField);
                // Whole: a name too long is refused with its words when the table is opened.
                choice->groupName = name;
                choice->applCode = FillApplicationList(file, panel, *choice, false);
                choice->fieldId = FillFieldList(file, panel, *choice, false);
            } else if (m.field == kApplField) {
                const int pos = panel.choice(kApplField);
                if (pos >= 1 && pos <= static_cast<int>(choice->listedApps.size()))
                    choice->applCode = choice->listedApps[static_cast<std::size_t>(pos - 1)];
                choice->applCode = FillApplicationList(file, panel, *choice, false);
                choice->fieldId = FillFieldList(file, panel, *choice, false);
            } else if (m.field == kFieldField) {
                const uint32_t appl = choice->applCode > 1 ? choice->applCode - 1u : 0u;
                const int pos = panel.choice(kFieldField);
                if (appl >= 1 && appl <= 8 && pos >= 1) choice->positions[appl - 1] = static_cast<uint16_t>(pos);
                choice->fieldId = FillFieldList(file, panel, *choice, false);
            }
            break;
        case ui::kMsgCommand:
            if (m.key != ui::kKeyEnter) break;
            if (m.field == kCancelButton) {
                choice->cancelled = choice->done = true;
            } else if (m.field == kOk) {
                // A field must be chosen: a table of no field cannot be edited.
                if (choice->fieldId == 0 || choice->applCode <= 1) {
                    ui::xw_beep();
                    break;
                }
                if (file.OpenForEdit(choice->groupName, choice->applCode, choice->fieldId, true, 0, 65535, 0, 0, true,
                                     false))
                    choice->done = true;
            }
            break;
        case ui::kMsgEscape: choice->cancelled = choice->done = true; break;
        default: break;
    }
    return 1;
}

bool ChooseTable(SubstitutionMasterFile& file, int screenFile) {
    if (file.handle() == -1) return false;
    const bool open = file.HasGroups();
    if (!open && !file.CheckMaxGroups()) return false;
    TableChoice choice;
    choice.file = &file;
    const int h = ui::xw_show_panel(screenFile, "TABLE", open ? "OPEN" : "NEW", TableGroupPanelProc, &choice,
                                    file.command());
    if (h == 0) return false;
    while (!choice.done) {
        const ui::PanelMessage m = ui::xw_rd_panel(h);
        ui::Panel* p = ui::xw_find_panel(h);
        if (!p) {
            choice.cancelled = true;
            break;
        }
        TableGroupPanelProc(*p, m);
    }
    ui::xw_close_panel(h);
    return !choice.cancelled;
}

}  // namespace dz::tables
