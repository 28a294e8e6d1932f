// The two printed documents of one converted or examined text file: the conversion report
// (header, one line per rejected record or fatal message, record totals) and the notes report
// (warning and log messages per record, conversion notes, missing custom-list values).
//
// Every print routine returns true without printing when a background run is being ended, so
// the conversion stops quietly.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "platform/ui/print.h"
#include "platform/ui/wrap_lines.h"

namespace dz::convert {

class ConvertProgress;
class xvConvert;

using ui::kContinuationIndent;
using ui::WrapLines;

// The messages a record collected while it was read and handled.
using MessageList = std::vector<std::string>;

class ConversionReport {
public:
    struct Totals {
        int32_t processed = 0;
        int32_t rejected = 0;
        int32_t converted = 0;
        int32_t created = 0;
        int32_t haveMessages = 0;
    };

    ConversionReport(int printDef, const std::string& textPath, const std::string& rejectName,
                     const std::string& title, bool converting, const std::string& tableName);

    bool PrintReportHeader(bool withColumns);
    // A data file of the run outside the company folder: the heading names it.
    void AddOutsideDataFile(const std::string& path) { outside_.push_back(path); }
    bool PrintReportLine(const std::string& recordId, int32_t line, const std::string& reason);
    void AddRecordTypeTotals(int16_t file, int16_t record, bool processed, bool rejected, bool converted,
                             bool created, uint16_t messageCount);
    bool PrintRecordTotals(bool notesFollow);
    // Prints the text and, converting, the line that matches the restore result (0 nothing
    // written, 1 not restored, 2 written and restored); optionally shows the
    // text in a message box. After totals that said the notes follow, on a new page under the
    // report's heading.
    // The box (with `showMessageBox`) says `next` as well, in the front end's words.
    void ReportTerminated(const std::string& text, int restoreResult, bool showMessageBox, const ui::NextStep& next = {});

    // Text from the first column, wrapped at the line width.
    bool PrintTextLine(const std::string& text, int spacing) { return WriteText(text, spacing, 0); }
    // The system's error number of the first line (the report's own, or of the notes printed
    // into it) that could not be written to the report's destination, 0 when none failed.
    int WriteError() const { return ui::xp_error(print_); }
    // What the person can do about the report's failed line (see ui::xp_failure_step).
    ui::NextStep FailureStep() const { return ui::xp_failure_step(print_); }
    // The run ended with the report's failure and says so: the report's close does not again.
    void FailureSaid() const { ui::xp_mark_failure_said(print_); }

    const Totals& GrandTotals() const { return grand_; }
    const std::map<int32_t, Totals>& RecordTypeTotals() const { return types_; }
    bool Converting() const { return converting_; }

private:
    int print_;
    bool headerPrinted_ = false;
    bool notesFollow_ = false;  // the totals said the notes come next
    std::string textPath_;
    std::string rejectName_;
    std::string title_;
    std::string tableName_;
    std::vector<std::string> outside_;
    Totals grand_;
    int width_ = 132;
    int reasonWidth_ = 110;
    bool converting_;
    std::map<int32_t, Totals> types_;

    bool WriteText(const std::string& text, int spacing, int page);
};

class NotesReport {
public:
    NotesReport(int printDef, const std::string& textPath, uint16_t commandId, bool converting);

    bool PrintNotesPage();
    bool PrintMessageLine(const std::string& recordId, uint32_t line, const std::string& text);
    // Prints the record's messages under "Message for " / "Messages for " with the record type's
    // name and key, adds their number to the run's message count and empties the list. Nothing
    // for an empty list or a record number above 50.
    bool PrintRecordMessages(const std::string& recordId, uint32_t line, MessageList& messages,
                             ConvertProgress* progress, uint16_t record, uint16_t file,
                             xvConvert* converter = nullptr, const std::string& keyText = "");
    // Keeps a value missing from custom list `listId` with the first line where it appeared.
    // `line`: the record's line in the text file as it was read (before any time stamp).
    void AddNote(uint16_t listId, const std::string& value, uint32_t line);
    bool PrintMissingCustomListValues(ConvertProgress* progress);
    // Prints the notes into the report when any line was written; false only when that fails.
    bool Print();
    // Prints lines that come after Print (the time stamp that follows the commit): on a notes
    // page of their own when the notes were printed already.
    bool PrintLate(const std::vector<std::string>& lines);
    void Close();

    uint16_t CommandId() const { return commandId_; }
    bool LinesWritten() const { return linesWritten_; }
    // The width of the notes' text column.
    int TextWidth() const { return commentWidth_; }

private:
    std::map<uint16_t, std::map<std::string, uint32_t>> missing_;
    int print_;
    bool linesWritten_ = false;
    bool printed_ = false;  // Print put the notes into the report
    std::string textPath_;
    uint16_t commandId_;
    int commentWidth_ = 123;
    bool converting_;
    ui::PrintFileDef file_;

    bool Put(int spacing);
};

}  // namespace dz::convert
