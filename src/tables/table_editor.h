// The substitution-table editor: the task body, the choice of a table (panels TABLE/NEW and
// TABLE/OPEN), the editor window (TABLE/MAIN with its grid), its commands, the Save As panel
// and the options panel.
//
// The editor runs modally: each panel is read with xw_rd_panel until it is done, so the
// desktop, the command line and the tests drive it the same way. The grid of the editor window
// is the MAIN panel's grid (platform/ui/grid.h), its lines the table's rows in list order and,
// last, the pending new row.
//
// Commands of the editor window (buttons and keys):
//   1 Esc, 3 F2 (save and close), 15 Close: close the window      2 Help
//   5 List: the list of values of the cell                          6 Ctrl+T: automatic advance
//   11 Ctrl+O: close this table and open another                    12 Ctrl+S: save
//   13 Ctrl+Shift+S: save as                                        14 Ctrl+Del: clear the table
//   16 Prefill, 17 Import, 18 Export (see TableEditorHooks)         19 Options  20 Remove Line
// The keyed commands are also on the grid's context menu on the desktop.
#pragma once

#include "platform/ui/panel.h"
#include "tables/master_file.h"
#include "tables/substitution_rows.h"

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace dz::ui {
class zqTask;
}

namespace dz::tables {

// Editor commands.
enum TableCommand : int {
    kCmdEscape = 1,
    kCmdHelp = 2,
    kCmdSaveClose = 3,
    kCmdList = 5,
    kCmdAutoAdvance = 6,
    kCmdCloseTable = 11,
    kCmdSave = 12,
    kCmdSaveAs = 13,
    kCmdClearTable = 14,
    kCmdClose = 15,
    kCmdPrefill = 16,
    kCmdImport = 17,
    kCmdExport = 18,
    kCmdOptions = 19,
    kCmdRemoveLine = 20,
};
// The keys of the editor's commands, and the help text that lists them.
const std::vector<ui::KeyCommand>& EditorKeys();
std::string EditorHelp();

// Sent to the editor window when the close command picked the next table.
inline constexpr int kMsgRetire = 1001;

// The prefill, import and export commands: each takes the open document and answers true when
// it added or changed rows (the editor then sorts them and rebuilds the grid). Unset until
// those commands exist; the buttons then say so.
struct TableEditorHooks {
    std::function<bool(SubstitutionTable& doc)> prefill;
    std::function<bool(SubstitutionTable& doc)> import;
    std::function<bool(SubstitutionTable& doc)> exportTable;
    // The payroll system file behind the List button of payroll tables: opened for the task
    // `command` (its handle, 0 when it cannot be opened), and the records of the table's field
    // listed for `column` (1 the new value, 2 the third) of `row`: true with the code the person
    // picked.
    std::function<int(uint16_t command)> openPayroll;
    std::function<bool(const SubstitutionTable& doc, const SubstitutionRow& row, int column, uint16_t command,
                       std::string& picked)>
        listPayroll;
};
// Whether the table's values can be picked from the payroll system file's lists.
bool PayrollListTable(const SubstitutionTable& doc);
TableEditorHooks& table_editor_hooks();

// ---- The choice panel ---------------------------------------------------------------------
struct TableChoice {
    std::string groupName;
    uint16_t applCode = 1;  // DAPPL + 1; 1 = none
    uint16_t fieldId = 0;
    SubstitutionMasterFile* file = nullptr;
    bool done = false;
    bool markNew = true;
    bool cancelled = false;
    std::array<uint16_t, 8> positions{1, 1, 1, 1, 1, 1, 1, 1};  // field list positions, codes 2..9
    std::vector<uint16_t> listedApps;    // list code of each application list entry
    std::vector<uint16_t> listedFields;  // field id of each field list entry
};

int TableGroupPanelProc(ui::Panel& panel, const ui::PanelMessage& m);
// The choice of a table on NEW or OPEN; true when a table was chosen and opened for editing.
bool ChooseTable(SubstitutionMasterFile& file, int screenFile);

// ---- Old values -----------------------------------------------------------------------------
// The characters an old value counts against the table's old size. A GL value (account, prefix,
// base) is kept as it is typed, which is how a conversion compares it, but its separators do not
// count: the size is that of the account field.
std::size_t OldValueLength(uint16_t fieldId, std::string_view value);
// The most characters an old value of `oldSize` can be typed with: a GL value's separators added.
int OldValueTypedWidth(uint16_t fieldId, int oldSize);
// `value` as an old size of `oldSize` keeps it: whole when it fits, else its first `oldSize`
// characters.
std::string CutOldValue(uint16_t fieldId, const std::string& value, std::size_t oldSize);
// Why `value` does not fit an old size of `oldSize`, or "".
std::string OldValueTooLong(uint16_t fieldId, std::string_view value, int oldSize);
// Why `value` does not fit a cell that takes at most `most` characters ("The new value '...' has
// 12 characters and the new value takes at most 10."); empty when it fits.
std::string ValueTooLong(std::string_view what, std::string_view value, std::size_t most);

// ---- Geometry -----------------------------------------------------------------------------
// S(w) = w * 1.5 + 0.5 cut to a whole number.
int ScaledWidth(int width);
// Width of the grid for the column sizes (a list field's new column is new + 1 wide).
int TableGridWidth(int oldSize, int newWidth, int thirdWidth, bool hasList);
// Width of the editor window: 44 below a grid of 27, else the grid's width plus 18.
int TableWindowWidth(int gridWidth);
struct Thumb {
    int size = 100;
    int position = -1;  // -1 hidden
};
// The scroll thumb for `rows` rows with line `topLine` (from 1) at the top.
Thumb ScrollThumb(int rows, int topLine);
// The row (from 1) brought to the top by dragging the thumb to `percent`.
int ThumbDragRow(int rows, int percent);

// Format and section of a field's new value, as every check and display derives them.
struct ValueFormat {
    int format = 0;
    int section = 0;
    const char* fallback = nullptr;  // the name used when the description is empty
};
ValueFormat NewValueFormat(uint16_t fieldId);
// Fields whose new value is checked through its key format and stored without its separators.
bool NewValueFormatted(uint16_t fieldId);
// The description of the field's new value as a column header (Account becomes account).
std::string ColumnDescription(uint16_t fieldId);
// A phase value passes when no section after a zero section is non-zero and the first is not zero.
bool CheckAccountSections(const std::string& value, bool report);

// ---- The editor ---------------------------------------------------------------------------
class TableEditor {
public:
    TableEditor(int screenFile, uint16_t command, SubstitutionMasterFile* file);
    ~TableEditor();
    TableEditor(const TableEditor&) = delete;
    TableEditor& operator=(const TableEditor&) = delete;

    // Shows the editor window and reads it until it closes. Answers the master-file object of
    // the next table chosen by the close command (then this editor's window is retired), or
    // null when the editor closed.
    SubstitutionMasterFile* Run();

    // The window procedure (TableEditorMainProc and the grid's messages).
    int MainProc(ui::Panel& panel, const ui::PanelMessage& m);

    SubstitutionTable& document() { return *doc_; }
    ui::Grid* grid() const;
    int window() const { return main_; }

    // Commands, as the buttons and keys run them.
    void Command(int cmd);
    // The cell check of the cursor's cell with what was typed (reason 3); false refuses it.
    bool CheckPendingCell();
    bool SaveTableCommand(bool allowSaveAs);
    bool SaveTableAsCommand();
    void ClearTableRows();
    void RemoveLine();
    void TableOptionsPanel();
    void RebuildGrid();

private:
    void SetupEditorWindow(ui::Panel& panel);
    void TableButtonBar(ui::Panel& panel);
    void BuildTableGrid();
    void FillGrid();
    void ShowRow(int line);
    void UpdateThumb();
    bool LeaveCell(int toLine, int toColumn);
    bool TableGridEditCell(int column);
    bool ValidateRow(SubstitutionRow* row);
    bool CloseWindow(int cmd);
    void CloseTable();
    void CommitCurrentRow();
    void SetTitle();
    // The payroll system file of a payroll table: opened with the grid, closed with the window.
    void OpenPayrollFile();
    void ClosePayrollFile();
    void ListPayrollValue();
    SubstitutionRow* LineRow(int line) const;
    int PendingLine() const { return static_cast<int>(lineRows_.size()); }

    int screenFile_;
    uint16_t command_;
    SubstitutionMasterFile* file_;
    std::unique_ptr<SubstitutionTable> doc_;
    int main_ = 0;
    std::vector<SubstitutionRow*> lineRows_;  // grid line -> row; the pending row is the last line
    bool closed_ = false;
    bool closing_ = false;
    bool readOnly_ = false;  // the table file may only be read: the table is shown, never changed
    SubstitutionMasterFile* next_ = nullptr;
};

// The task body: chooses a table and runs the editor until the person closes it.
void RunTableEditor(ui::zqTask& task, int screenFile);

}  // namespace dz::tables
