// The table editor's ~Prefill..., ~Import... and ~Export... commands: the file choices, the
// "Import Table" task with its report hub and progress panel, and the prefill run that reads
// text files through their converters. The editor reaches them through its hooks, which
// InstallTableTextCommands sets; the command line calls them directly.
#pragma once

#include "convert/conversion_types.h"
#include "convert/open_files.h"
#include "platform/ui/framework.h"
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

// Reads every selected file through its converter into the document, then derives GL accounts
// for an account table. True when a row was added or changed. The too-long messages are shown
// (and, when `messages` is given, also handed back).
bool RunPrefill(dz::convert::ConversionTypeList& selection, dz::convert::OpenFilesList& openFiles,
                tables::SubstitutionTable& doc, dz::ui::zqTask& task, std::vector<std::string>* messages = nullptr);

// ~Prefill...: payroll file closed, files chosen and checked, RunPrefill, files closed.
bool PrefillTable(tables::SubstitutionTable& doc, dz::ui::zqTask& task);

}  // namespace dz::app
