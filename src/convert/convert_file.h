// The sequence every converter's ConvertFile follows, as reusable steps.
//
// A converter describes itself in a ConverterProfile, and the base class's ConvertFile runs the
// steps with it:
//
//     ConverterProfile xvCMM::Profile() const {
//         ConverterProfile p;
//         p.abbreviation = "CMM";
//         p.fileNo = 1;
//         p.fileCode = 20;
//         p.title = "CM Master File";
//         p.description = kConversionName;
//         p.convertingText = "Converting '%s' into CM Master file";
//         p.examiningText = "Examining '%s' for CM Master file";
//         return p;
//     }
//
// RunConvertFile (xvConvert) opens the reports, shows the file in the progress window, backs up the data
// files written (Convert), finds the main data file and the template, then calls the
// converter's LoadSettings, ConvertRecords (by default the common record loop, which hands each
// data record to DispatchRecord) and FinishConversion, prints the totals and notes, and keeps
// the converted data or restores the data files. The text file is time-stamped only once its
// conversion is committed.
//
// Most converters need no more than the profile's data files and switches and the hooks of the
// record loop (listed in converter.h: CountRecord, ImportRejected, DispatchRecord, ExamineValue,
// RecordWritten, LoadSettings' failure text). A converter that departs further from the sequence
// (extra passes, batches) overrides ConvertRecords or FinishConversion and uses the same helpers
// of xvConvert: RunRecordLoop, HandleRecord, EndFile, UpdateProgress.
#pragma once

#include "convert/backup.h"
#include "convert/run_marker.h"
#include "convert/converter.h"
#include "convert/reports.h"
#include "platform/import/xvl_source.h"

#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace dz::ui {
class zqTask;
}

namespace dz::xvl {
class xvlImpTemplate;
}

namespace dz::tables {
class SubstitutionSet;
}

namespace dz::convert {

// One data file of a conversion: how the default OpenFiles asks for it, and how the common
// sequence treats it. A file the conversion writes is its own (`Owned`: backed up, restored);
// one it only reads is `ReadOnly`.
struct ConverterDataFile {
    std::string abbreviation;  // "GLM"
    uint16_t fileNo = 1;
    std::string description;   // "GL Master file": every message about this file names it so
    bool backedUp = true;      // Convert: copied aside before the first write
    bool restored = true;      // Convert: rolled back and put back when the file ends early
    bool checked = true;       // must be open once the template is read (12006 naming it)
    uint16_t fileCode = 0;     // the file code OpenFiles asks the file by
    uint8_t openFlag = 0;      // the flag word of that request
    // OpenFiles asks the files by ascending openOrder, in the listed order among equals (the
    // listed order is the order of backups, restores and checks).
    int openOrder = 0;
    // The name "Unable to backup" (12002) gives it, where it differs from `description`
    // ("AP Master file" for "AP Master file-vendors"); empty: `description`.
    std::string backupDescription = {};

    static ConverterDataFile Owned(const std::string& abbr, uint16_t fileNo, uint16_t fileCode,
                                   const std::string& description);
    static ConverterDataFile ReadOnly(const std::string& abbr, uint16_t fileNo, uint16_t fileCode,
                                      const std::string& description, bool checked = true);
};

// What a converter tells the common sequence about itself (xvConvert::Profile). The defaults are
// the plain sequence: one data file (the main one), every record examined by key in Examine
// Files, every user-defined-field record handled by WriteUserFields.
struct ConverterProfile {
    std::string abbreviation;    // the main data file ("CMM")
    uint16_t fileNo = 1;
    uint16_t fileCode = 0;       // the main data file's file code, when `dataFiles` is empty
    std::string title;           // the report's title ("CM Master File")
    std::string description;     // the main data file's description ("CM Master file")
    std::string backupDescription;  // its name in 12002 when that differs; empty: `description`
    std::string rejectAbbreviation;  // names the reject file; empty: `abbreviation`
    std::string convertingText;  // background task line, "%s" = text file name
    std::string examiningText;
    // Every data file the conversion opens with its description and flags; empty: the main data
    // file alone, backed up, restored and checked.
    std::vector<ConverterDataFile> dataFiles;
    // Data files the converter's own OpenFiles opens besides them, which the sequence neither
    // backs up nor checks: named with them where this user may not write them.
    std::vector<ConverterDataFile> alsoOpened;
    // ", etc." after the data file's name in the progress window (a converter of several files).
    bool progressEtc = false;
    // Examine Files: ExamineRecord decides by every key whether an accepted data record could be
    // written. Off: the converter's own DispatchRecord decides alone.
    bool examineRecords = true;
    // Records of extra data 1-49 go to WriteUserFields. Off: to DispatchRecord like data records.
    bool writeUserFields = true;
    // Convert: the record-ID text of every record a line adds is kept, so that a later line may
    // change it and a repeated key reads "The text file has duplicate". Off for a conversion
    // that numbers its records itself, whose keys cannot repeat.
    bool keepRecordIds = true;

    // The data files as the sequence uses them (the main one when none are listed).
    std::vector<ConverterDataFile> DataFiles() const;
    // The name 12002 gives a data file of the profile when its backup fails.
    std::string BackupDescriptionOf(const std::string& abbr, uint16_t fileNo) const;
    // The description of a data file of the profile; the abbreviation when it has none.
    std::string DescriptionOf(const std::string& abbr, uint16_t fileNo) const;
};

// The worse of two results of RestoreFromBackup: 1 (not restored) outranks 2 (restored but not
// reopened), which outranks 0.
int WorseRestoreResult(int a, int b);

// Test seam: called after each data file of a conversion commits, with the number committed and
// the number to commit (with 0 just before the first commit), and with (that number + 1, that number) once the conversion stands,
// just before its text file is stamped. An empty function ends it.
using CommitObserver = std::function<void(std::size_t committed, std::size_t of)>;
void SetCommitObserverForTests(CommitObserver observer);

// Everything one text file's conversion holds.
struct ConvertContext {
    ConvertContext(OpenFilesList& list, const TextFileEntry& entry, ConvertProgress* progress, int printDef,
                   ui::zqTask& task, const std::string& tableName, ConversionOptions* options);
    ~ConvertContext();

    OpenFilesList& files;
    const TextFileEntry& entry;
    ConvertProgress* progress;
    int printDef;
    ui::zqTask& task;
    std::string tableName;
    ConversionOptions* options;

    bool converting = false;  // the task is "Convert"
    uint16_t commandId = 0;
    ConverterProfile profile;
    std::string rejectName;    // Convert only
    std::string templatePath;
    std::unique_ptr<ConversionReport> report;
    std::unique_ptr<NotesReport> notes;
    std::vector<std::unique_ptr<DataFileBackup>> backups;  // one per data file of DataFiles()
    RunMarker marker;  // names the copies while the data files commit one after another
    uint16_t mainHandle = 0;
    std::unique_ptr<xvl::xvlImpTemplate> tpl;
    std::unique_ptr<xvl::xvlImport> import;  // the import of the record loop
    // The text file, opened once by the first pass: every pass, and the stamp, read it, so a
    // file put under its name during the run changes nothing.
    std::shared_ptr<xvl::TextSource> text;
    // The substitution tables of the run's table group (loaded only when a table name is given);
    // its per-record messages are `messages`.
    std::unique_ptr<tables::SubstitutionSet> substitution;
    MessageList messages;  // the current record's messages
    // Set before DispatchRecord: the accepted record goes on to WriteRecord (Convert) or
    // ExamineRecord (Examine Files). A handler that saved the record itself, or that has
    // nothing to write, clears it.
    bool storeRecord = true;
    int32_t rejectLine = 0;  // the reject-file line of the record last rejected
    uint32_t recordsRead = 0;
    uint32_t recordsRejected = 0;
    bool ended = false;    // the file was ended by EndFile
    std::string taskLine;  // a background run's task line
    int taskPercent = -1;  // the percentage it shows
    // The part of the progress bar the record loop fills: a converter that reads the text file
    // more than once gives each pass its share (0-50, then 50-100).
    int percentFrom = 0;
    int percentTo = 100;
};

}  // namespace dz::convert
