// The Convert and Examine Files driver: choose text files, check each one, sort them, ask the
// AP invoice options, open the report hub (table group, options, where the report goes) and run
// every file through its converter, ending with a closing message. A background run or a played
// back macro step reads what an interactive run stored instead of asking.
//
// The task's name selects the mode: "Convert" converts, "Examine Files" examines, any other
// name (the prefill command's) prefills; messages that differ by mode come in adjacent numbers
// in that order.
#pragma once

#include "convert/conversion_types.h"
#include "convert/converter.h"
#include "convert/open_files.h"
#include "convert/progress.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <istream>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace dz::ui {
class zqTask;
class Panel;
struct PanelMessage;
struct HubStart;
}  // namespace dz::ui

namespace dz::app {

using dz::convert::ConversionOptions;
using dz::convert::ConversionTypeList;
using dz::convert::OpenFilesList;
using dz::convert::TextFileEntry;

enum class DriverMode { Convert, Examine, Prefill };
DriverMode ModeOf(const dz::ui::zqTask& task);

// Check results.
inline constexpr int kCheckStays = 0;
inline constexpr int kCheckRemoved = 1;
inline constexpr int kCheckEndRun = 2;

// The error a converter's OpenFiles reports when the person declined an interface warning.
inline constexpr std::uint16_t kErrorInterfaceDeclined = 9846;
// How much of a text file the checks read: its first line and the "#" lines after it.
inline constexpr std::size_t kTextFileHeadLimit = 64 * 1024;

// The state of one run from the driver to the end of the report hub.
struct RunContext {
    dz::ui::zqTask* task = nullptr;
    std::vector<std::uint8_t> fileList;  // stored block 1
    OpenFilesList openFiles;
    int hub = 0;
    std::string tableName;               // empty: no substitution tables
    std::uint16_t rows = 0;              // rows listed in the hub's file list
    int firstRow = 1;                    // the first visible row of that list
    int childPanel = 0;
    ConversionOptions options;
    std::vector<TextFileEntry> skipped;  // text files chosen and left out at the checks
    bool finished = false;               // OnHubEnd ran
};

// ---- The task ------------------------------------------------------------------------------
// The body of the Convert and Examine Files commands' Start (declared in xv_app.h too).
void RunConvertExamineTask(dz::ui::zqTask& task);
// Forgets the folder of the last selection.
void ResetTextFileFolder();
const std::string& RememberedTextFileFolder();

// The size of a text file; 0 when the file system gives none (capped at 4 GB).
std::uint32_t FileSize(const std::string& path);

// ---- Choosing and checking ----------------------------------------------------------------
bool ChooseTextFiles(ConversionTypeList& selection, const std::string& title);
// False when the run must end; `ending`, when given, then says which check ended it, in the
// words of the task's command.
bool ValidateTextFiles(ConversionTypeList& selection, OpenFilesList& openFiles, dz::ui::zqTask& task,
                       std::string* ending = nullptr);
int CheckOpen(ConversionTypeList& selection, bool opened, std::size_t index, dz::ui::zqTask& task);
// A chosen name that is not a regular file once links are resolved (a folder, a FIFO, a device).
int CheckRegularFile(ConversionTypeList& selection, std::size_t index);
int CheckConversionType(ConversionTypeList& selection, std::istream& in, std::size_t index, dz::ui::zqTask& task);
int CheckTemplate(ConversionTypeList& selection, std::istream& in, std::size_t index, dz::ui::zqTask& task);
// `settingsRefused`, when given, is set when the refusal was of the company's settings file.
int CheckDataFiles(ConversionTypeList& selection, std::size_t index, OpenFilesList& openFiles, dz::ui::zqTask& task,
                   bool* settingsRefused = nullptr);
// A text file is converted before when it carries a time stamp, or when one of the run's open
// data files records its conversion (a run that ended before it could stamp it).
int CheckAlreadyConverted(ConversionTypeList& selection, std::size_t index, dz::ui::zqTask& task,
                          const OpenFilesList* openFiles = nullptr);
bool CheckAllDataFiles(ConversionTypeList& selection, OpenFilesList& openFiles, dz::ui::zqTask& task);
// Sorts by conversion type code, then by path (byte order); stable.
void SortSelection(ConversionTypeList& selection);

// ---- Options and the hub ------------------------------------------------------------------
bool AskApInvoiceOptions(ConversionTypeList& selection, OpenFilesList& openFiles, dz::ui::zqTask& task,
                         std::uint32_t& paidTotalsMode);
int OnHubPanel(dz::ui::Panel& hub, const dz::ui::PanelMessage& m, RunContext& ctx);
void InitHubChildPanel(dz::ui::Panel& hub, RunContext& ctx);
int ListTextFilesPanel(dz::ui::Panel& panel, const dz::ui::PanelMessage& m);
void FillTextFileList(dz::ui::Panel& panel, RunContext& ctx, const ConversionTypeList& selection);
int OnHubStart(const dz::ui::HubStart& start, RunContext& ctx);
void OnHubEnd(RunContext& ctx);
// Shows the hub's "Options..." panel; true when the person accepted it.
bool ShowGeneralOptions(RunContext& ctx);

// The per-file loop.
void RunTextFiles(ConversionTypeList& selection, OpenFilesList& openFiles, int printDef, dz::ui::zqTask& task,
                  const std::string& tableName, const ConversionOptions& options);

// Ends writes on and closes every open data file of the list, and empties it.
void CloseRunFiles(OpenFilesList& openFiles);

// A date as the options panel and the command line take it: "M/D/YYYY", "M/D/YY" or
// "YYYY-MM-DD". False for anything else or a day that does not exist; of a day past its month's
// last, `why` (when given) says so ("month 2 of 2026 has 28 days").
bool ParseDate(const std::string& text, x_date_type& date, std::string* why = nullptr);

// ---- Seams ---------------------------------------------------------------------------------
// The converter of a type code; the factory by default (tests give their own).
using ConverterFactory = std::function<std::unique_ptr<dz::convert::xvConvert>(std::uint16_t code)>;
void SetConverterFactory(ConverterFactory factory);
std::unique_ptr<dz::convert::xvConvert> MakeConverter(std::uint16_t code);

// Told about each text file the loop runs (the command line's summary lines and exit status).
struct FileOutcome {
    TextFileEntry entry;
    bool converterMissing = false;  // no converter for its type
    bool stopped = false;           // the run was asked to stop during this file
    bool converting = false;
    std::uint32_t accepted = 0;
    std::uint32_t rejected = 0;
    std::uint32_t messages = 0;
    std::uint32_t notes = 0;
    std::string encodingNote;       // said of a file not read as UTF-8 (the closing message says it too)
    std::string endedWhy;           // the text that ended the file early, "" when it ran to its end
    int endedRestore = 0;           // then, in Convert, how its data files were put back (0 all)
    bool endedWritten = false;      // then, a data file had been written (and was put back)
    dz::ui::NextStep endedNext;     // then, what the person can do next
    bool saidAtClose = false;       // then, the run's closing message says the ending (once)
};
// What a file that Convert ended early kept, in place of its counts (which count records that
// were put back): "N read, none kept: WHY; every data file put back" ("N read, none kept: WHY"
// when it had written no data file). Empty for a file that ran
// to its end, and in Examine Files, which keeps nothing anyway.
std::string PutBackSummary(const FileOutcome& outcome);
// How a file ended early, in place of its counts, in Convert and Examine Files alike: in Convert
// PutBackSummary, in Examine Files "N read, examine ended early: WHY". Empty for a file that ran
// to its end.
inline constexpr int kMsgExamineEndedEarly = 13480;
std::string EndingSummary(const FileOutcome& outcome);
// RunEnded's reason when the checks left no file to run because each was skipped.
inline constexpr std::string_view kEveryFileSkipped = "every text file was skipped";
class RunObserver {
public:
    virtual ~RunObserver() = default;
    virtual void FileStarting(const TextFileEntry&) {}
    virtual void FileFinished(const FileOutcome&) {}
    // True when it says how each file ended on its own: the run's closing message then names
    // only the files that ended early, not every file.
    virtual bool NamesEachFile() const { return false; }
    // The run ended before any file ran (a check, a cancel, a refused stored block).
    virtual void RunEnded(const std::string& why) {}
};
// Not owned; nullptr removes it.
void SetRunObserver(RunObserver* observer);

}  // namespace dz::app
