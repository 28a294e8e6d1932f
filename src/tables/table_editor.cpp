#include "tables/table_editor.h"
#include "tables/save_failure.h"
#include "tables/table_text.h"

#include "platform/datafile/utf8.h"
#include "platform/datafile/xio.h"
#include "platform/import/xvl_helpers.h"
#include "platform/suite/control.h"
#include "platform/suite/util.h"
#include "platform/suite/xk.h"
#include "platform/ui/framework.h"
#include "platform/ui/ui.h"

#include <algorithm>
#include <map>

namespace dz::tables {

TableEditorHooks& table_editor_hooks() {
    static TableEditorHooks hooks;
    return hooks;
}

// ---- Geometry -----------------------------------------------------------------------------

int ScaledWidth(int width) { return static_cast<int>(width * 1.5 + 0.5); }

int TableGridWidth(int oldSize, int newWidth, int thirdWidth, bool hasList) {
    int w = ScaledWidth(oldSize) + ScaledWidth(thirdWidth) + (hasList ? newWidth + 1 : ScaledWidth(newWidth)) + 4;
    for (int size : {oldSize, newWidth, thirdWidth})
        if (size == 1 || size == 2) w += 3 - size;
    return w;
}

int TableWindowWidth(int gridWidth) { return gridWidth < 27 ? 44 : gridWidth + 18; }

Thumb ScrollThumb(int rows, int topLine) {
    if (rows < 9) return {100, -1};
    Thumb t;
    t.size = 900 / (rows + 1);
    t.position = (topLine * 100 - 100) / (rows + 1 - 9);
    if (topLine > 1 && t.position < 1) t.position = 1;
    return t;
}

int ThumbDragRow(int rows, int percent) {
    int row = static_cast<int>((rows + 1 - 9) * percent / 100 + 1.49);
    return std::clamp(row, 1, std::max(1, rows + 1 - 8));
}

// ---- Formats ------------------------------------------------------------------------------

ValueFormat NewValueFormat(uint16_t fieldId) {
    switch (fieldId) {
        case kFieldGlAccount: return {suite::kGlAccountFormat, suite::kGlWhole, nullptr};
        case kFieldGlPrefixA: return {suite::kGlAccountFormat, suite::kGlPrefixA, "Prefix A"};
        case kFieldGlPrefixAB: return {suite::kGlAccountFormat, suite::kGlPrefixAB, "Prefix AB"};
        case kFieldGlPrefixABC: return {suite::kGlAccountFormat, suite::kGlPrefixABC, "Prefix ABC"};
        case kFieldGlBase: return {suite::kGlAccountFormat, suite::kGlBaseAccount, nullptr};
        default: return {fieldId, 0, nullptr};
    }
}

std::size_t OldValueLength(uint16_t fieldId, std::string_view value) {
    const ValueFormat f = NewValueFormat(fieldId);
    if (f.format != suite::kGlAccountFormat) return Utf8Length(value);
    std::string plain(value);
    suite::xk_unformat_field(f.format, f.section, plain);
    return Utf8Length(plain);
}

int OldValueTypedWidth(uint16_t fieldId, int oldSize) {
    const ValueFormat f = NewValueFormat(fieldId);
    if (f.format != suite::kGlAccountFormat || oldSize <= 0) return oldSize;
    std::string full(static_cast<std::size_t>(oldSize), 'X');
    suite::xk_format_field(f.format, f.section, full);
    return std::min<int>(static_cast<int>(full.size()), static_cast<int>(kValueMax));
}

std::string CutOldValue(uint16_t fieldId, const std::string& value, std::size_t oldSize) {
    if (OldValueLength(fieldId, value) <= oldSize) return value;
    return std::string(Utf8Prefix(value, oldSize));
}

std::string ValueTooLong(std::string_view what, std::string_view value, std::size_t most) {
    const std::size_t n = Utf8Length(value);
    if (n <= most) return {};
    return "The " + std::string(what) + " '" + std::string(value) + "' has " + std::to_string(n) + " characters and the " +
           std::string(what) + " takes at most " + std::to_string(most) + ".";
}

std::string OldValueTooLong(uint16_t fieldId, std::string_view value, int oldSize) {
    // A value has no more characters than bytes, and taking out separators only shortens it.
    if (oldSize <= 0 || value.size() <= static_cast<std::size_t>(oldSize)) return {};
    const std::size_t n = OldValueLength(fieldId, value);
    if (oldSize <= 0 || n <= static_cast<std::size_t>(oldSize)) return {};
    return "The old value '" + std::string(value) + "' has " + std::to_string(n) +
           " characters and the old value size is " + std::to_string(oldSize) +
           ".\r\rUse the options button to increase the old value size.";
}

namespace {

bool HasSuffix() { return suite::xk_width(suite::kGlAccountFormat, suite::kGlSuffix) > 0; }

// A header description: "Account" becomes "account"; "GL" stays.
std::string Lowered(std::string d) {
    if (d.size() >= 2 && std::isupper(static_cast<unsigned char>(d[0])) && !std::isupper(static_cast<unsigned char>(d[1])))
        d[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(d[0])));
    return d;
}

constexpr const char* kUntitled = "Untitled";

// The commands that change the table or write it: off while the table file may only be read.
bool ChangesTheTable(int cmd) {
    switch (cmd) {
        case kCmdSave: case kCmdSaveAs: case kCmdClearTable: case kCmdPrefill: case kCmdImport:
        case kCmdOptions: case kCmdRemoveLine: case kCmdList: return true;
        default: return false;
    }
}

}  // namespace

bool NewValueFormatted(uint16_t fieldId) {
    switch (fieldId) {
        case kFieldGlAccount: case kFieldGlPrefixA: case kFieldGlPrefixAB: case kFieldGlPrefixABC:
        case kFieldGlBase: case kFieldJob: case kFieldPhase: case 300: case 301: return true;
        default: return false;
    }
}

std::string ColumnDescription(uint16_t fieldId) {
    ValueFormat f = NewValueFormat(fieldId);
    if (fieldId == kFieldGlBase && !HasSuffix()) f.section = suite::kGlBase;
    std::string d = f.format == suite::kGlAccountFormat && f.section != 0 ? suite::xk_description(f.format, f.section)
                                                                          : suite::xk_description(f.format);
    if (d.empty() && f.fallback) d = f.fallback;
    return Lowered(d);
}

bool CheckAccountSections(const std::string& value, bool report) {
    const int sections = suite::xk_num_sections(suite::kPhaseFormat);
    if (value.empty() || sections <= 0) return true;
    bool zeroSeen = false;
    bool ok = true;
    for (int i = 1; i <= sections + 1; ++i) {
        std::string s = value;
        suite::xk_get_section(suite::kPhaseFormat, false, i, s);
        const bool zero = s.find_first_not_of("0 ") == std::string::npos;
        if (i == 1 && zero) ok = false;
        if (zeroSeen && !zero) ok = false;
        if (zero) zeroSeen = true;
    }
    if (!ok && report) {
        // The message names the phase by its description.
        std::string d = suite::xk_description(suite::kPhaseFormat);
        if (d.empty()) d = "Phase";
        suite::x_upper_first(d);
        ui::xw_wr_message(ui::kWarning, d + " has an invalid zero section.");
    }
    return ok;
}

// ---- The editor window --------------------------------------------------------------------

const std::vector<ui::KeyCommand>& EditorKeys() {
    static const std::vector<ui::KeyCommand> keys = {
        // Save As is how a new table group gets its name: both stand on the File menu too.
        {"Ctrl+S", kCmdSave, "Save", true},
        {"Ctrl+Shift+S", kCmdSaveAs, "Save Table Group As...", true},
        {"Ctrl+O", kCmdCloseTable, "Close Table and Open Another..."},
        {"Ctrl+Del", kCmdClearTable, "Clear Table..."},
        {"Ctrl+T", kCmdAutoAdvance, "Automatic Advance On or Off"},
        {"F2", kCmdSaveClose, "Save and Close"},
    };
    return keys;
}

std::string EditorHelp() {
    std::string text = "Substitution Tables\r\rType an old value and the new value that replaces it; the "
                       "last line adds a row. Keys (also on the grid's context menu):\r";
    for (const auto& k : EditorKeys()) text += "\r" + k.key + "  " + k.text;
    text += "\rEsc  Close";
    return text;
}

TableEditor::TableEditor(int screenFile, uint16_t command, SubstitutionMasterFile* file)
    : screenFile_(screenFile), command_(command), file_(file) {}

TableEditor::~TableEditor() {
    ClosePayrollFile();
    if (main_ && ui::xw_find_panel(main_)) ui::xw_close_panel(main_);
}

bool PayrollListTable(const SubstitutionTable& doc) {
    if (doc.application != kApplPR) return false;
    switch (doc.fieldId) {
        case 30: case 33: case 39: case 40: case 43: case kFieldUnionLocal: return true;
        default: return false;
    }
}

void TableEditor::OpenPayrollFile() {
    ClosePayrollFile();
    const auto& open = table_editor_hooks().openPayroll;
    if (doc_ && PayrollListTable(*doc_) && open) doc_->payrollHandle = open(command_);
}

void TableEditor::ClosePayrollFile() {
    if (!doc_ || doc_->payrollHandle == 0) return;
    xio_cls_file(static_cast<uint16_t>(doc_->payrollHandle));
    doc_->payrollHandle = 0;
}

// The List button and the grid's list request: the picked code becomes the cell's value.
void TableEditor::ListPayrollValue() {
    ui::Grid* g = grid();
    const auto& list = table_editor_hooks().listPayroll;
    if (!g || !doc_ || doc_->payrollHandle == 0 || !list) return;
    const int line = g->cursor_line(), column = g->cursor_column();
    SubstitutionRow* row = LineRow(line);
    if (!row || column < 1 || column > 2) return;
    if (line == PendingLine() && row->oldValue.empty() && row->newValue.empty() && row->thirdValue.empty()) return;
    std::string picked;
    if (!list(*doc_, *row, column, command_, picked)) return;
    (column == 1 ? row->newValue : row->thirdValue) = picked;
    doc_->modified = true;
    ShowRow(line);
}

ui::Grid* TableEditor::grid() const {
    ui::Panel* p = ui::xw_find_panel(main_);
    return p ? p->grid() : nullptr;
}

SubstitutionMasterFile* TableEditor::Run() {
    main_ = ui::xw_show_panel(
        screenFile_, "TABLE", "MAIN", [this](ui::Panel& p, const ui::PanelMessage& m) { return MainProc(p, m); }, this,
        command_);
    if (main_ == 0) return nullptr;
    // A front end that keeps answering nothing ends the editor after many reads.
    for (int guard = 0; !closed_ && guard < 1000000; ++guard) {
        const ui::PanelMessage m = ui::xw_rd_panel(main_);
        ui::Panel* p = ui::xw_find_panel(main_);
        if (!p || closed_) break;
        MainProc(*p, m);
    }
    if (!closed_) {
        // The window went away without the close command: nothing is saved.
        file_->DeleteEmptyGroup();
        closed_ = true;
    }
    if (ui::xw_find_panel(main_)) ui::xw_close_panel(main_);
    main_ = 0;
    return next_;
}

int TableEditor::MainProc(ui::Panel& panel, const ui::PanelMessage& m) {
    if (closing_ && m.msg != ui::kMsgClosed && m.msg != kMsgRetire) return 1;
    switch (m.msg) {
        case ui::kMsgShown: SetupEditorWindow(panel); break;
        case ui::kMsgClosed:
            ClosePayrollFile();
            file_->DeleteEmptyGroup();
            closed_ = true;
            break;
        case kMsgRetire:
            ClosePayrollFile();
            file_->set_handle(0);  // the file stays open for the next table's object
            file_->DeleteEmptyGroup();
            closed_ = true;
            break;
        case ui::kMsgCommand:
            if (m.key == ui::kKeyEnter) Command(m.field);
            break;
        case ui::kMsgButton: Command(m.key); break;
        case ui::kMsgEscape: Command(kCmdEscape); break;
        case ui::kMsgGridLeave: LeaveCell(m.key, m.field); break;
        case ui::kMsgGridList: ListPayrollValue(); break;
        case ui::kMsgScrollTo:
            if (ui::Grid* g = grid()) {
                g->top_line = ThumbDragRow(g->line_count() - 1, m.key) - 1;
                UpdateThumb();
            }
            break;
        default: break;
    }
    return 1;
}

void TableEditor::SetTitle() {
    if (ui::Panel* p = ui::xw_find_panel(main_))
        p->set_title(p->def().title + " - " + (IsUnnamedGroup(doc_->groupName) ? kUntitled : doc_->groupName) +
                     (readOnly_ ? " (read-only)" : ""));
}

void TableEditor::SetupEditorWindow(ui::Panel& panel) {
    main_ = panel.handle();  // shown before xw_show_panel returns its handle
    readOnly_ = file_->ReadOnly();
    doc_ = OpenTableDocument(*file_);
    SetTitle();
    TableButtonBar(panel);
    for (ui::KeyCommand k : EditorKeys()) {
        k.enabled = !(readOnly_ && ChangesTheTable(k.command));
        panel.add_key(std::move(k));
    }
    // The rows, sorted, with the cursor on a new line at the end.
    BuildTableGrid();
    FillGrid();
    OpenPayrollFile();
    // New rows start without the list's default, which does not fit: the person is told why.
    if (!readOnly_ && !doc_->listDefaultRefusal.empty()) ui::xw_wr_message(ui::kInfo, doc_->listDefaultRefusal);
}

void TableEditor::TableButtonBar(ui::Panel& panel) {
    const int gridWidth = TableGridWidth(doc_->oldSize, doc_->newWidth, doc_->thirdWidth, doc_->hasList);
    // A reader is told above the grid why nothing can be changed, and below it what to do about
    // it: the window takes the words whole.
    const std::string notice = readOnly_ ? ReadOnlyNotice() : std::string();
    const std::string step = readOnly_ ? ReadOnlyStep() : std::string();
    const int width = std::max({panel.def().cols, TableWindowWidth(gridWidth), static_cast<int>(Utf8Length(notice)) + 3,
                                static_cast<int>(Utf8Length(step)) + 3});
    panel.resize(panel.rows(), width);
    if (readOnly_) {
        panel.write_text(1, 2, notice);
        panel.write_text(panel.rows() - 2, 2, step);
    }
    // The grid takes the left part; the command buttons stand in a column at the right edge
    // and in a row at the bottom.
    const int right = width - 13;
    const int bottom = panel.rows() - 1;
    auto button = [&](int n, const char* label, int row, int c) {
        ui::ButtonDef b;
        b.number = n;
        b.label = label;
        b.row = row;
        b.col = c;
        b.width = 12;
        b.height = 1;
        panel.draw_button(b);
    };
    button(kCmdClose, "~Close", 2, right);
    button(kCmdPrefill, "~Prefill...", 5, right);
    button(kCmdImport, "~Import...", 7, right);
    button(kCmdExport, "~Export...", 9, right);
    button(kCmdOptions, "~Options...", 11, right);
    button(kCmdSave, "~Save", 13, right);
    button(kCmdSaveAs, "Save ~As...", 15, right);
    button(kCmdList, "~List...", bottom, right - 26);
    button(kCmdRemoveLine, "~Remove Line", bottom, right - 13);
    button(kCmdHelp, "~Help", bottom, right);
    panel.enable_button(kCmdList, false);
    if (readOnly_)
        for (int n : {kCmdPrefill, kCmdImport, kCmdOptions, kCmdSave, kCmdSaveAs, kCmdRemoveLine})
            panel.enable_button(n, false);
}

void TableEditor::BuildTableGrid() {
    ui::Panel* panel = ui::xw_find_panel(main_);
    if (!panel) return;
    ui::Grid& g = panel->attach_grid();
    g.columns.clear();
    const ValueFormat f = NewValueFormat(doc_->fieldId);
    const std::string desc = ColumnDescription(doc_->fieldId);
    auto widths = [](ui::GridColumn& c, int size) {
        c.size = size;
        c.display_width = ScaledWidth(size);
        c.header_width = c.display_width + (size < 3 ? 3 - size : 0);
    };
    ui::GridColumn oldCol;
    oldCol.header = {"Old", desc};
    widths(oldCol, doc_->oldSize);
    // A GL value may be typed with its separators, which the size does not count.
    oldCol.size = OldValueTypedWidth(doc_->fieldId, doc_->oldSize);
    g.columns.push_back(oldCol);
    ui::GridColumn newCol;
    newCol.header = {"New", desc};
    if (doc_->hasList) {
        newCol.size = doc_->newWidth;
        newCol.display_width = doc_->newWidth;
        newCol.header_width = doc_->newWidth + 1;
        newCol.items = suite::cl_string_to_cListContainer(suite::xk_get_custom_list(doc_->fieldId));
        if (newCol.items.size() >= 2) newCol.items.erase(newCol.items.begin());
    } else {
        widths(newCol, doc_->newWidth);
        if (NewValueFormatted(doc_->fieldId)) {
            // A value may be typed with its separators.
            std::string full(doc_->newWidth, 'X');
            suite::xk_format_field(f.format, f.section, full);
            newCol.size = std::max<int>(newCol.size, static_cast<int>(full.size()));
        }
    }
    newCol.capitals = suite::xk_capitals(f.format, f.section);
    newCol.right_justify = suite::xk_right_justify(f.format, f.section);
    g.columns.push_back(newCol);
    if (doc_->thirdWidth != 0) {
        ui::GridColumn third;
        const int fmt = doc_->fieldId == kFieldJob ? kExtraFormat : kLocalFormat;
        third.header = {"New", Lowered(suite::xk_description(fmt))};
        widths(third, doc_->thirdWidth);
        g.columns.push_back(third);
    }
    for (ui::GridColumn& c : g.columns) c.enabled = !readOnly_;  // a reader's cells take no input
    g.structure_changed = g.dirty = true;
}

SubstitutionRow* TableEditor::LineRow(int line) const {
    if (line >= 0 && line < static_cast<int>(lineRows_.size())) return lineRows_[static_cast<std::size_t>(line)];
    return line == PendingLine() ? doc_->pendingNewRow : nullptr;
}

void TableEditor::ShowRow(int line) {
    ui::Grid* g = grid();
    SubstitutionRow* r = LineRow(line);
    if (!g || !r) return;
    g->set_cell(line, 0, r->oldValue);
    g->set_cell(line, 1, ShownNewValue(doc_->fieldId, r->newValue));
    if (g->columns.size() > 2) g->set_cell(line, 2, r->thirdValue);
}

void TableEditor::FillGrid() {
    ui::Grid* g = grid();
    if (!g) return;
    lineRows_ = ListRows(*doc_);
    std::vector<std::vector<std::string>> lines;
    lines.reserve(lineRows_.size() + 1);
    const bool third = g->columns.size() > 2;
    for (const SubstitutionRow* r : lineRows_) {
        std::vector<std::string> l{r->oldValue, ShownNewValue(doc_->fieldId, r->newValue)};
        if (third) l.push_back(r->thirdValue);
        lines.push_back(std::move(l));
    }
    SubstitutionRow* keep = doc_->pendingNewRow;
    doc_->pendingNewRow = nullptr;
    StartNewRow(*doc_);
    if (keep) {
        // A pending row that was typed joined the list in StartNewRow; it is not expected here.
        lineRows_ = ListRows(*doc_);
    }
    lines.push_back(std::vector<std::string>(g->columns.size()));
    g->set_lines(std::move(lines));
    const int pending = g->line_count() - 1;
    ShowRow(pending);
    g->top_line = std::max(0, g->line_count() - g->visible_lines);
    g->set_cursor(pending, 0);
    UpdateThumb();
}

void TableEditor::RebuildGrid() {
    SubstitutionRow saved;
    if (doc_->pendingNewRow) saved = *doc_->pendingNewRow;
    delete doc_->pendingNewRow;
    doc_->pendingNewRow = nullptr;
    delete doc_->savedCopy;
    doc_->savedCopy = nullptr;
    BuildTableGrid();
    if (ui::Grid* g = grid()) g->clear_lines();
    FillGrid();
    SubstitutionRow* p = doc_->pendingNewRow;
    if (!saved.oldValue.empty() || !saved.newValue.empty() || !saved.thirdValue.empty()) {
        p->oldValue = saved.oldValue;
        p->newValue = saved.newValue;
        p->thirdValue = saved.thirdValue;
        ShowRow(PendingLine());
        if (ui::Grid* g = grid()) g->set_cursor(PendingLine(), saved.thirdValue.empty() ? (saved.newValue.empty() ? 0 : 1) : 2);
    }
}

void TableEditor::UpdateThumb() {
    ui::Grid* g = grid();
    if (!g) return;
    const Thumb t = ScrollThumb(g->line_count() - 1, g->top_line + 1);
    g->thumb_size = t.size;
    g->thumb_position = t.position;
    g->dirty = true;
}

// ---- Cells --------------------------------------------------------------------------------

bool TableEditor::ValidateRow(SubstitutionRow* row) {
    ui::Grid* g = grid();
    const bool onPending = row == doc_->pendingNewRow;
    // A refusal names the cell: its column and its line (as the grid numbers them).
    const std::string column = "Old " + ColumnDescription(doc_->fieldId);
    auto lineOf = [this](const SubstitutionRow* r) {
        if (r == doc_->pendingNewRow) return PendingLine() + 1;
        const auto at = std::find(lineRows_.begin(), lineRows_.end(), r);
        return at == lineRows_.end() ? 0 : static_cast<int>(at - lineRows_.begin()) + 1;
    };
    auto duplicate = [&](const SubstitutionRow* other) {
        std::string text = "Old key value must be unique.\r\r" + column + " '" + row->oldValue + "' on line " +
                           std::to_string(lineOf(row));
        if (const int at = lineOf(other)) text += " is already on line " + std::to_string(at);
        return text + ".";
    };
    if (row->oldValue.empty()) {
        // The pending row may stay empty while nothing else of it was typed.
        if (onPending && (row->newValue.empty() || row->newValue == CutValue(doc_->listDefault)) &&
            row->thirdValue.empty())
            return true;
        ui::xw_wr_message(ui::kWarning, "Required field.\r\r" + column + " is empty on line " +
                                            std::to_string(lineOf(row)) + ": type it, or remove the line.");
        CancelRowEdit(*doc_, row);
        if (g) ShowRow(g->cursor_line());
        return false;
    }
    for (SubstitutionRow* r = doc_->firstRow; r; r = r->next)
        if (r != row && SameText(r->oldValue, row->oldValue)) {
            ui::xw_wr_message(ui::kWarning, duplicate(r));
            if (!onPending) {
                CancelRowEdit(*doc_, row);
                if (g) ShowRow(g->cursor_line());
            }
            return false;
        }
    if (!onPending && doc_->pendingNewRow && SameText(doc_->pendingNewRow->oldValue, row->oldValue)) {
        ui::xw_wr_message(ui::kWarning, duplicate(doc_->pendingNewRow));
        CancelRowEdit(*doc_, row);
        if (g) ShowRow(g->cursor_line());
        return false;
    }
    return true;
}

// The check of the cursor's cell with the text typed into it (reason 3 of the grid).
bool TableEditor::TableGridEditCell(int column) {
    ui::Grid* g = grid();
    if (!g || readOnly_) return true;  // a reader's cells take nothing: what they hold stays
    const int line = g->cursor_line();
    SubstitutionRow* row = LineRow(line);
    if (!row) return true;
    std::string typed = g->edit_text;
    const std::string before = g->cell(line, column);
    if (typed != before && !doc_->savedCopy) BeginRowEdit(*doc_, row);
    if (column == 0) {
        // Never cut: a cut old value would be an entry that matches nothing.
        if (const std::string why = OldValueTooLong(doc_->fieldId, TrimBlanks(typed), doc_->oldSize); !why.empty()) {
            ui::xw_wr_message(ui::kInfo, why);
            return false;
        }
        row->oldValue = TrimBlanks(CutValue(typed));
        if (row->oldValue != typed) g->edit_text = row->oldValue;
        g->set_cell(line, 0, row->oldValue);
        return ValidateRow(row);
    }
    // A new value longer than its column takes is refused with a word, never cut: a cut value
    // would put something else into every record it replaces.
    const auto most = [&](int c) {
        const int size = c < static_cast<int>(g->columns.size()) ? g->columns[static_cast<std::size_t>(c)].size : 0;
        return size > 0 ? static_cast<std::size_t>(size) : kValueMax;
    };
    if (column == 1 || column == 2)
        if (const std::string why = ValueTooLong("new value", TrimBlanks(typed), most(column)); !why.empty()) {
            ui::xw_wr_message(ui::kInfo, why);
            return false;
        }
    if (column == 1) {
        std::string v = typed;
        if (!(doc_->hasList && v == " ")) v = TrimBlanks(v);
        if (NewValueFormatted(doc_->fieldId) && !v.empty()) {
            const ValueFormat f = NewValueFormat(doc_->fieldId);
            if (!suite::xk_valid(f.format, f.section, v)) {
                row->newValue = v;
                return false;
            }
            suite::xk_unformat_field(f.format, f.section, v);
            row->newValue = v;
            g->set_cell(line, 1, ShownNewValue(doc_->fieldId, v));
            if (doc_->fieldId == kFieldPhase && !CheckAccountSections(v, true)) return false;
            return true;
        }
        row->newValue = v;
        g->set_cell(line, 1, v);
        return true;
    }
    if (column == 2 && (doc_->fieldId == kFieldJob || doc_->fieldId == kFieldUnionLocal)) {
        row->thirdValue = TrimBlanks(typed);
        g->set_cell(line, 2, row->thirdValue);
    }
    return true;
}

bool TableEditor::CheckPendingCell() {
    ui::Grid* g = grid();
    if (!g) return true;
    if (TableGridEditCell(g->cursor_column())) return true;
    g->refuse();
    return false;
}

void TableEditor::CommitCurrentRow() {
    ui::Grid* g = grid();
    if (!g) return;
    SubstitutionRow* row = LineRow(g->cursor_line());
    CommitRowEdit(*doc_, row, true);
}

bool TableEditor::LeaveCell(int toLine, int toColumn) {
    ui::Grid* g = grid();
    if (!g) return false;
    const int line = g->cursor_line();
    if (!TableGridEditCell(g->cursor_column())) {
        g->refuse();
        return false;
    }
    SubstitutionRow* row = LineRow(line);
    if (toLine != line) {
        CommitRowEdit(*doc_, row, true);
        if (row == doc_->pendingNewRow && !row->oldValue.empty()) {
            // The typed line joins the table; a new empty line follows it.
            StartNewRow(*doc_);
            lineRows_.push_back(row);
            g->add_line();
            ShowRow(PendingLine());
        }
    }
    toLine = std::clamp(toLine, 0, g->line_count() - 1);
    toColumn = std::clamp(toColumn, 0, static_cast<int>(g->columns.size()) - 1);
    g->set_cursor(toLine, toColumn);
    if (ui::Panel* p = ui::xw_find_panel(main_)) {
        const bool listField = doc_->fieldId == 30 || doc_->fieldId == 33 || doc_->fieldId == 39 ||
                               doc_->fieldId == 43 || doc_->fieldId == kFieldUnionLocal;
        p->enable_button(kCmdList, !readOnly_ && listField && toColumn != 0 && doc_->payrollHandle != 0);
    }
    UpdateThumb();
    return true;
}

// ---- Commands -----------------------------------------------------------------------------

void TableEditor::Command(int cmd) {
    if (closing_) return;
    if (readOnly_ && ChangesTheTable(cmd)) {
        ui::xw_wr_message(ui::kInfo, ReadOnlyNotice() + "\r\r" + ReadOnlyStep());
        return;
    }
    if (cmd != kCmdClearTable && cmd != kCmdRemoveLine && cmd != kCmdHelp && !CheckPendingCell()) return;
    switch (cmd) {
        case kCmdHelp: ui::xw_wr_message(ui::kInfo, EditorHelp()); break;
        case kCmdAutoAdvance:
            if (ui::Grid* g = grid()) g->auto_advance = !g->auto_advance;
            break;
        case kCmdCloseTable: CloseTable(); break;
        case kCmdSave: SaveTableCommand(true); break;
        case kCmdSaveAs: SaveTableAsCommand(); break;
        case kCmdClearTable: ClearTableRows(); break;
        case kCmdPrefill:
        case kCmdImport:
        case kCmdExport: {
            auto& hooks = table_editor_hooks();
            const auto& hook = cmd == kCmdPrefill ? hooks.prefill : cmd == kCmdImport ? hooks.import : hooks.exportTable;
            const char* name = cmd == kCmdPrefill ? "Prefill" : cmd == kCmdImport ? "Import" : "Export";
            if (!hook) {
                ui::xw_wr_message(ui::kInfo, std::string("The ") + name + " command is not available yet.");
                break;
            }
            CommitCurrentRow();
            if (hook(*doc_) && cmd != kCmdExport) {
                doc_->modified = true;
                SortTableRows(*doc_);
                RebuildGrid();
            }
            break;
        }
        case kCmdList: ListPayrollValue(); break;
        case kCmdOptions: TableOptionsPanel(); break;
        case kCmdRemoveLine: RemoveLine(); break;
        case kCmdEscape:
        case kCmdSaveClose:
        case kCmdClose: CloseWindow(cmd); break;
        default: break;
    }
    UpdateThumb();
}

bool TableEditor::CloseWindow(int cmd) {
    bool save = cmd == kCmdSaveClose;
    if (!save && doc_->modified) {
        const int a = ui::xw_wr_message(ui::kYesNoCancel, "Do you want to save your changes?");
        if (a == ui::kCancel) return false;
        save = a == ui::kYes;
    }
    if (save && !SaveTableCommand(true)) return false;  // a failed save keeps the window and its rows
    closing_ = true;
    ui::xw_post_message(main_, ui::kMsgClosed);
    ui::xw_dispatch_messages();
    return true;
}

void TableEditor::CloseTable() {
    if (doc_->modified) {
        const int a = ui::xw_wr_message(ui::kYesNoCancel, "Do you want to save changes to " + doc_->groupName + "?");
        if (a == ui::kCancel) return;
        if (a == ui::kYes && !SaveTableCommand(true)) return;
    } else if (!IsUnnamedGroup(doc_->groupName)) {
        if (!SaveTableCommand(true)) return;
    }
    // The table is let go while another is chosen, so that another user may take it.
    file_->ReleaseDefinition(false);
    for (;;) {
        auto* next = new SubstitutionMasterFile(command_, file_->handle());
        if (ChooseTable(*next, screenFile_)) {
            next_ = next;
            closing_ = true;
            ui::xw_post_message(main_, kMsgRetire);
            ui::xw_dispatch_messages();
            return;
        }
        delete next;
        if (file_->OpenForEdit(doc_->groupName, static_cast<uint16_t>(doc_->application + 1), doc_->fieldId, false,
                               doc_->oldSize, doc_->thirdWidth != 0 ? 1 : 0, doc_->blankValueOption,
                               doc_->notFoundOption, false, false))
            return;
    }
}

bool TableEditor::SaveTableCommand(bool allowSaveAs) {
    if (!HasSomethingToSave(*doc_)) return true;
    if (readOnly_ && !doc_->modified) return true;  // a reader's table is as stored: nothing to write
    if (IsUnnamedGroup(doc_->groupName)) return allowSaveAs ? SaveTableAsCommand() : false;
    if (!CheckPendingCell()) return false;
    CommitCurrentRow();
    SubstitutionMasterFile saver(command_, file_->handle(), doc_->groupName, doc_->application, doc_->fieldId);
    if (saver.Save(*doc_) != XIO_OK) return false;
    doc_->modified = false;
    return true;
}

bool TableEditor::SaveTableAsCommand() {
    if (!HasSomethingToSave(*doc_)) return true;
    if (!CheckPendingCell()) return false;
    const int h = ui::xw_show_panel(screenFile_, "TABLE", "SAVEAS", {}, nullptr, command_);
    if (h == 0) return false;
    ui::Panel* p = ui::xw_find_panel(h);
    p->enable_button(kCmdList, file_->HasGroups());
    // The proposal is the field's first 22 characters, whole characters: the person sees it and
    // names the new group there.
    if (!IsUnnamedGroup(doc_->groupName)) p->set_text(1, std::string(Utf8Prefix(doc_->groupName, 22)));
    bool saved = false;
    for (;;) {
        const ui::PanelMessage m = ui::xw_rd_panel(h);
        p = ui::xw_find_panel(h);
        if (!p || m.msg == ui::kMsgEscape) break;
        if (m.msg != ui::kMsgCommand) continue;
        if (m.field == 1) break;
        if (m.field == kCmdList) {
            file_->ListGroups(*p, 1);
            continue;
        }
        if (m.field != 3) continue;
        std::string name = p->text(1);
        xvl::xvl_imp_minimize_string(name);
        if (IsUnnamedGroup(name)) {
            // Saved nowhere, so said, and the panel stays for a name.
            ui::xw_wr_message(ui::kWarning, name.empty() ? "Type a name for the table group."
                                                         : "\"" + name + "\" is not a name a table group can take: type another.");
            continue;
        }
        // A name with a control character is refused with its word; the panel stays for another.
        if (!file_->AcceptGroupName(name)) continue;
        if (file_->HasTable(name, doc_->application, doc_->fieldId) && !SameText(name, doc_->groupName)) {
            const int a = ui::xw_wr_message(ui::kYesNoCancel, "Do you want to replace the existing table in " + name + "?");
            if (a == ui::kCancel) break;
            if (a != ui::kYes) continue;
        }
        CommitCurrentRow();
        SubstitutionMasterFile saver(command_, file_->handle(), doc_->groupName, doc_->application, doc_->fieldId);
        if (saver.SaveAs(name, *doc_)) {
            if (file_->handle() <= 0) file_->set_handle(saver.handle());
            file_->SetCurrentTable(saver.groupName(), doc_->application, doc_->fieldId);
            doc_->groupName = saver.groupName();
            doc_->masterHandle = file_->handle();
            doc_->modified = false;
            SetTitle();
            // Old values may have been cut.
            for (int line = 0; line <= PendingLine(); ++line) ShowRow(line);
            saved = true;
        }
        break;
    }
    ui::xw_close_panel(h);
    return saved;
}

void TableEditor::ClearTableRows() {
    const bool any = (doc_->firstRow && !doc_->firstRow->oldValue.empty()) ||
                     (doc_->pendingNewRow && !doc_->pendingNewRow->oldValue.empty());
    if (!any) return;
    ui::Grid* g = grid();
    const std::string what = g && g->columns.size() > 1 && g->columns[1].header.size() > 1 ? g->columns[1].header[1] : "";
    if (ui::xw_wr_message(ui::kQuestion, "Are you sure you want to permanently remove all data from this " + what +
                                             " table?") != ui::kYes)
        return;
    RemoveAllRows(*doc_);
    if (g) g->clear_lines();
    FillGrid();
    SaveTableCommand(false);
}

void TableEditor::RemoveLine() {
    ui::Grid* g = grid();
    if (!g) return;
    const int line = g->cursor_line();
    SubstitutionRow* row = LineRow(line);
    if (!row) return;
    if (row == doc_->pendingNewRow) {
        delete doc_->savedCopy;
        doc_->savedCopy = nullptr;
        delete doc_->pendingNewRow;
        doc_->pendingNewRow = nullptr;
        StartNewRow(*doc_);
        ShowRow(line);
        g->set_cursor(line, 0);
        return;
    }
    RemoveRow(*doc_, row);
    lineRows_.erase(lineRows_.begin() + line);
    g->delete_line(line);
    g->set_cursor(std::min(line, g->line_count() - 1), 0);
    doc_->currentRow = LineRow(g->cursor_line());
}

// ---- Options ------------------------------------------------------------------------------

void TableEditor::TableOptionsPanel() {
    const int h = ui::xw_show_panel(screenFile_, "TABLE", "OPTIONS", {}, nullptr, command_);
    if (h == 0) return;
    ui::Panel* p = ui::xw_find_panel(h);
    const bool job = doc_->fieldId == kFieldJob;
    const std::string kWarn = "Use original value and log warning";
    ui::xw_chg_radio_alpha(h, 2, 2, kWarn);
    ui::xw_chg_radio_alpha(h, 3, 2, kWarn);
    p->set_text(1, std::to_string(doc_->oldSize));
    p->set_choice(2, doc_->blankValueOption);
    p->set_choice(3, doc_->notFoundOption);
    if (job) {
        p->set_checked(4, doc_->thirdWidth != 0);
        p->write_text(6, 6, "Map old job to new job and extra");
    } else {
        ui::xw_hide_fields(h, {4});
    }
    bool accepted = false, truncate = false;
    int size = doc_->oldSize, blank = doc_->blankValueOption, notFound = doc_->notFoundOption;
    bool map = doc_->thirdWidth != 0;
    for (;;) {
        const ui::PanelMessage m = ui::xw_rd_panel(h);
        p = ui::xw_find_panel(h);
        if (!p || m.msg == ui::kMsgEscape) break;
        if (m.msg != ui::kMsgCommand) continue;
        if (m.field == 1) break;
        if (m.field != 3) continue;
        std::string t = p->text(1);
        size = 0;
        if (!t.empty() && t.size() <= 3 && std::all_of(t.begin(), t.end(), [](char c) { return c >= '0' && c <= '9'; }))
            size = std::stoi(t);
        if (size < 1 || size > 40) {
            ui::xw_wr_message(ui::kInfo, "The maximum characters in old value must be between 1 and 40");
            continue;
        }
        truncate = false;
        bool collision = false;
        if (size < doc_->oldSize) {
            std::map<std::string, std::string> keys;
            std::vector<const SubstitutionRow*> rows(lineRows_.begin(), lineRows_.end());
            if (doc_->pendingNewRow && !doc_->pendingNewRow->oldValue.empty()) rows.push_back(doc_->pendingNewRow);
            for (const SubstitutionRow* r : rows) {
                std::string key = CutOldValue(doc_->fieldId, r->oldValue, static_cast<std::size_t>(size));
                suite::x_capitalize(key);
                if (key.size() != r->oldValue.size()) truncate = true;
                auto [it, added] = keys.emplace(key, r->oldValue);
                if (!added) {
                    ui::xw_wr_message(ui::kInfo, "Unable to reduce old size because " + it->second + " and " +
                                                     r->oldValue + " both become " + key + " after doing a Save As.");
                    p->set_text(1, std::to_string(doc_->oldSize));
                    collision = true;
                    break;
                }
            }
        }
        if (collision) continue;
        // A stored 0 shows no choice; it stays 0 unless the user picks one.
        blank = p->choice(2);
        notFound = p->choice(3);
        if (job) map = p->checked(4);
        accepted = true;
        break;
    }
    ui::xw_close_panel(h);
    if (!accepted) return;
    const bool mapBefore = doc_->thirdWidth != 0;
    if (size == doc_->oldSize && map == mapBefore && blank == doc_->blankValueOption && notFound == doc_->notFoundOption)
        return;
    doc_->modified = true;
    bool saveAs = false;
    if (truncate) {
        if (ui::xw_wr_message(ui::kOkToSkip, "You must do a Save As to assure all old values are truncated to length " +
                                                 std::to_string(size) + ".") == ui::kCancel)
            return;
        saveAs = true;
    }
    const bool rebuild = size != doc_->oldSize || map != mapBefore;
    doc_->oldSize = static_cast<uint16_t>(size);
    if (job) doc_->thirdWidth = static_cast<uint16_t>(map ? suite::xk_width(kExtraFormat, 0) : 0);
    doc_->blankValueOption = static_cast<uint16_t>(blank);
    doc_->notFoundOption = static_cast<uint16_t>(notFound);
    if (rebuild) {
        if (ui::Panel* mp = ui::xw_find_panel(main_)) TableButtonBar(*mp);
        RebuildGrid();
        if (saveAs) ui::xw_post_message(main_, ui::kMsgCommand, ui::kKeyEnter, kCmdSaveAs);
    }
}

// ---- The task -----------------------------------------------------------------------------

void RunTableEditor(ui::zqTask& task, int screenFile) {
    auto* file = new SubstitutionMasterFile(static_cast<uint16_t>(task.ID()));
    if (file->handle() == -1 && xio_error_unwritable()) {
        // A user who may read the tables but not write them still looks at them.
        delete file;
        xio_read_only_scope look;
        file = new SubstitutionMasterFile(static_cast<uint16_t>(task.ID()));
    }
    if (file->handle() == -1) {
        // Say why instead of ending silently.
        std::string why = xio_error_text();
        ui::xw_wr_message(ui::kError, std::string("The file ") + kXvmFileName + " cannot be opened" +
                                          (why.empty() ? "." : ": " + why));
        delete file;
        task.End(ui::zqTask::kEndedOk);
        return;
    }
    if (!ChooseTable(*file, screenFile)) {
        file->Close();
        delete file;
        task.End(ui::zqTask::kEndedOk);
        return;
    }
    suite::xc_open_control_file(0);
    suite::xc_cls_control_file();
    while (file) {
        SubstitutionMasterFile* next = nullptr;
        {
            TableEditor editor(screenFile, static_cast<uint16_t>(task.ID()), file);
            next = editor.Run();
        }
        if (!next) file->Close();
        delete file;
        file = next;
    }
    task.End(ui::zqTask::kEndedOk);
}

}  // namespace dz::tables
