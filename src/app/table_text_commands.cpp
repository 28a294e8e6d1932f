#include "app/table_text_commands.h"

#include "app/converter_factory.h"
#include "app/driver.h"
#include "convert/progress.h"
#include "convert/texts.h"
#include "modules/entries.h"
#include "platform/datafile/xio.h"
#include "platform/suite/xk.h"
#include "platform/ui/hub.h"
#include "platform/ui/panel.h"
#include "platform/ui/ui.h"
#include "tables/substitution_fields.h"
#include "tables/table_editor.h"

#include <algorithm>

namespace dz::app {

namespace {

dz::ui::zqTask* g_editorTask = nullptr;

// The copy of the pending new row survives the sort; the editor rebuilds the grid with it.
void MarkImported(tables::SubstitutionTable& doc) {
    doc.modified = true;
    tables::SortTableRows(doc);
}

// The payroll system file as the table editor and the prefill open it; 0 when it cannot be.
int OpenPayrollSystemFile(uint16_t command) {
    dz::modules::PrOpenRequest request;
    request.command = command;
    request.mode = 1;
    return dz::modules::PR_OPEN_SYSTEM_FILE(request, 1, 0) == 0 ? request.handle : 0;
}

// The payroll list of the table's field; the locals of a union are those of the row's union.
bool ListPayroll(const tables::SubstitutionTable& doc, const tables::SubstitutionRow& row, int column,
                 uint16_t command, std::string& picked) {
    namespace m = dz::modules;
    const auto prs = static_cast<uint16_t>(doc.payrollHandle);
    switch (doc.fieldId) {
        case 30: return m::PR_LIST_DEDIDS(command, prs, picked) != 0;
        case 33: return m::PR_LIST_DEPTS(command, prs, picked) != 0;
        case 39: return m::PR_LIST_UCLASS(command, prs, "", "", picked) != 0;
        case 40: return m::PR_LIST_FRINGES(command, prs, picked) != 0;
        case 43: return m::PR_LIST_PAYIDS(command, prs, picked) != 0;
        case tables::kFieldUnionLocal: {
            if (column == 1) return m::PR_LIST_UNIONS(command, prs, picked) != 0;
            return m::PR_LIST_LOCALS(command, prs, row.newValue.substr(0, 10), picked) != 0;
        }
        default: return false;
    }
}

}  // namespace

void InstallPrefillCallback() { dz::convert::xvConvert::prefillCallback = &tables::PrefillValue; }

void InstallTableTextCommands(dz::ui::zqTask& task) {
    g_editorTask = &task;
    InstallPrefillCallback();
    auto& hooks = tables::table_editor_hooks();
    hooks.prefill = [](tables::SubstitutionTable& doc) { return g_editorTask && PrefillTable(doc, *g_editorTask); };
    hooks.import = [](tables::SubstitutionTable& doc) { return ImportTableFile(doc); };
    hooks.exportTable = [](tables::SubstitutionTable& doc) { return tables::ExportTableFile(doc); };
    hooks.openPayroll = &OpenPayrollSystemFile;
    hooks.listPayroll = &ListPayroll;
}

// ---- Import ---------------------------------------------------------------------------------

ImportTableTask::ImportTableTask(tables::SubstitutionTable& doc) : zqTask("Import Table", 0, 0, 0, "", ""), doc_(doc) {}

int ImportHubStart(int print, ImportTableTask& task) {
    dz::convert::ConvertProgress progress;
    progress.single_file = 1;
    progress.total_bytes = FileSize(task.importFile);
    const int panel = dz::convert::ShowProgressPanel(progress, dz::convert::GetScreenFileHandle(), "TABLE", "STATUSI");
    task.outcome = tables::ImportTableRows(
        task.doc(), task.importFile, print,
        [&](uint32_t records, uint32_t rejected, int percent) {
            return progress.SetPosition(records, rejected, static_cast<int16_t>(percent));
        });
    if (panel) dz::ui::xw_close_panel(panel);
    const auto& o = task.outcome;
    task.rowsImported = o.rowsImported();
    // A file read as Windows-1252 is said so under the totals, as a conversion's closing message says it.
    if (!o.stopped && o.counts.records >= 1)
        dz::ui::xw_wr_message(dz::ui::kInfo, tables::ImportSummary(o.counts) +
                                                 (o.encodingNote.empty() ? "" : "\r\r" + o.encodingNote));
    return 1;
}

void ImportHubEnd(ImportTableTask& task) { task.importRunning = false; }

void ImportTableTask::Start() {
    zqTask::Start();
    importRunning = true;
    rowsImported = false;
    dz::ui::xh_hub_def def;
    def.command = ID();
    def.screen_file = dz::convert::GetScreenFileHandle();
    def.screen = "HUB";
    def.panel = "HUB";
    def.process_word = "import";
    def.report_name = "import report";
    def.print.title = "Import Report";
    def.print.width = 132;
    def.print.flags = 1;
    def.on_start = [](const dz::ui::HubStart& start, void* data) {
        return ImportHubStart(start.print, *static_cast<ImportTableTask*>(data));
    };
    def.on_end = [](void* data) { ImportHubEnd(*static_cast<ImportTableTask*>(data)); };
    def.user_data = this;
    importHub = dz::ui::xh_process_hub(def);
    while (importRunning) {
        dz::ui::xw_dispatch_messages();
        if (importRunning) importRunning = false;  // the hub has returned: nothing more will end it
    }
}

bool ImportTableFile(tables::SubstitutionTable& doc) {
    dz::ui::FileChooser req;
    req.mode = dz::ui::ChooseMode::One;
    req.title = "Import File";
    req.filters = {{"Text Files", "txt"}, {"All Files", "*"}};
    std::string path;
    if (dz::ui::zqfdlgFileChooseOne(req, path) != 0 || path.empty()) return false;
    ImportTableTask task(doc);
    task.importFile = path;
    task.Start();
    const bool imported = task.rowsImported;
    task.importFile.clear();
    task.End(0);
    if (imported) MarkImported(doc);
    return imported;
}

// ---- Prefill --------------------------------------------------------------------------------

PrefillOutcome RunPrefill(ConversionTypeList& selection, OpenFilesList& openFiles, tables::SubstitutionTable& doc,
                          dz::ui::zqTask& task, dz::ui::Voice voice) {
    dz::convert::ConvertProgress progress;
    int panel = 0;
    if (!selection.files.empty()) {
        if (selection.files.size() == 1) {
            progress.single_file = 1;
            progress.total_bytes = FileSize(selection.files.front().path);
        } else {
            progress.single_file = 0;
            std::uint64_t total = 0;
            for (const auto& f : selection.files) total += FileSize(f.path);
            progress.total_bytes = static_cast<std::uint32_t>(std::min<std::uint64_t>(total, 0xFFFFFFFFu));
        }
        panel = dz::convert::ShowProgressPanel(progress, dz::convert::GetScreenFileHandle(), "TABLE",
                                               selection.files.size() == 1 ? "STATUSS" : "STATUSM");
    }
    tables::PrefillContext ctx(doc);
    ctx.voice = voice;
    PrefillOutcome outcome;
    std::vector<std::string> messages;
    for (const auto& entry : selection.files) {
        if (progress.StopRequested()) break;
        auto converter = MakeConverter(entry.code);
        if (!converter) {  // the factory said so
            ++outcome.unread;
            continue;
        }
        ctx.message.clear();
        progress.encoding_note.clear();
        converter->PrefillTables(openFiles, entry, &progress, task, &ctx);
        if (!ctx.message.empty()) messages.push_back(ctx.message);
        if (!progress.encoding_note.empty()) outcome.encodingNotes.push_back(progress.encoding_note);
    }
    outcome.found = ctx.found != 0;
    if (doc.fieldId == tables::kFieldGlAccount && dz::suite::xk_width(dz::suite::kGlAccountFormat, 1) > 0 &&
        !tables::IsUnnamedGroup(doc.groupName)) {
        if (tables::PrefillGLAccounts(doc, [&](const std::string& text, int value) {
                return progress.SetStatusText(text, static_cast<int16_t>(value));
            }))
            outcome.found = true;
    }
    for (const auto& m : messages) dz::ui::xw_wr_message(dz::ui::kWarning, m);
    if (panel) dz::ui::xw_close_panel(panel);
    return outcome;
}

bool PrefillTable(tables::SubstitutionTable& doc, dz::ui::zqTask& task) {
    // A check that refuses a text file says to choose Prefill again, not Convert.
    const dz::ui::CommandSteps steps(dz::ui::Command::Prefill);
    // Every prefilled row would take the list's default, which does not fit: nothing is read.
    if (!doc.listDefaultRefusal.empty()) {
        dz::ui::xw_wr_message(dz::ui::kWarning, doc.listDefaultRefusal);
        return false;
    }
    // The payroll converters open the payroll system file themselves: the editor's handle is
    // let go for the prefill and taken again after it.
    const bool reopenPayroll = doc.payrollHandle != 0;
    if (reopenPayroll) {
        xio_cls_file(static_cast<uint16_t>(doc.payrollHandle));
        doc.payrollHandle = 0;
    }
    ConversionTypeList selection;
    OpenFilesList openFiles;
    bool found = false;
    if (ChooseTextFiles(selection, "Prefill Table - Text File Selection") &&
        ValidateTextFiles(selection, openFiles, task)) {
        const PrefillOutcome o = RunPrefill(selection, openFiles, doc, task);
        found = o.found;
        std::string said = found ? std::string() : std::string("No unique values found to prefill.");
        for (const auto& note : o.encodingNotes) said += (said.empty() ? "" : "\r\r") + note;
        if (!said.empty()) dz::ui::xw_wr_message(dz::ui::kInfo, said);
        if (found) MarkImported(doc);
    }
    CloseRunFiles(openFiles);
    if (reopenPayroll) doc.payrollHandle = OpenPayrollSystemFile(static_cast<uint16_t>(task.ID()));
    return found;
}

}  // namespace dz::app
