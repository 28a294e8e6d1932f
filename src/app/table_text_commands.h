// The table editor's ~Prefill..., ~Import... and ~Export... commands: the file choices, the
// "Import Table" task with its report hub and progress panel, and the prefill run that reads
// text files through their converters. The editor reaches them through its hooks, which
// InstallTableTextCommands sets; the command line calls them directly.
#pragma once

#include "convert/conversion_types.h"
#include "convert/open_files.h"
#include "platform/ui/framework.h"
#include "platform/ui/next_step.h"
#include "tables/table_text.h"

#include <string>
#include <vector>

namespace dz::app {

// Sets the editor's three hooks for a run of the editor within `task`, and hands
// tables::PrefillValue to every converter as its prefill callback.
void InstallTableTextCommands(dz::ui::zqTask& task);
// Makes tables::PrefillValue the prefill hook of every converter (xvConvert::prefillCallback).
void InstallPrefillCallback();

// "Import Table": runs the report hub whose start callback imports the document's import file.
class ImportTableTask : public dz::ui::zqTask {
public:
    explicit ImportTableTask(tables::SubstitutionTable& doc);
    void Start() override;

    std::string importFile;      // the file being imported
    bool importRunning = false;
    bool rowsImported = false;
    int importHub = 0;           // the hub's result
    tables::ImportOutcome outcome;
    tables::SubstitutionTable& doc() { return doc_; }

private:
    tables::SubstitutionTable& doc_;
};

// The hub's callbacks: the start one imports under the STATUSI panel and shows the summary.
int ImportHubStart(int print, ImportTableTask& task);
void ImportHubEnd(ImportTableTask& task);

// ~Import...: chooser, task; true when rows were added or changed.
bool ImportTableFile(tables::SubstitutionTable& doc);

// What a prefill read: whether it added or changed a row, how many of its files no converter
// reads (said so by the factory, and not read), and what is said of the files read as
// Windows-1252 (each as a conversion of it says it).
struct PrefillOutcome {
    bool found = false;
    std::size_t unread = 0;
    std::vector<std::string> encodingNotes;
};
// Reads every selected file through its converter into the document, then derives GL accounts
// for an account table. The too-long messages are shown, in `voice`'s words.
PrefillOutcome RunPrefill(dz::convert::ConversionTypeList& selection, dz::convert::OpenFilesList& openFiles,
                          tables::SubstitutionTable& doc, dz::ui::zqTask& task,
                          dz::ui::Voice voice = dz::ui::Voice::Desktop);

// ~Prefill...: payroll file closed, files chosen and checked, RunPrefill, files closed. What it
// found is said in one box: no value, and the files read as Windows-1252. A file refused at its
// checks was said then: nothing more is said after it when nothing was read.
bool PrefillTable(tables::SubstitutionTable& doc, dz::ui::zqTask& task);

}  // namespace dz::app
