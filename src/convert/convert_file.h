// The sequence every converter's ConvertFile follows, as reusable steps.
//
// A converter describes itself in a ConverterProfile and composes the steps:
//
//     void xvCMM::ConvertFile(OpenFilesList& list, const TextFileEntry& entry, ConvertProgress* progress,
//                             int printDef, ui::zqTask& task, const std::string& table, ConversionOptions* o) {
//         ConvertContext ctx(list, entry, progress, printDef, task, table, o);
//         RunConvertFile(ctx, Profile());
//     }
//
// RunConvertFile (xvConvert) opens the reports, shows the file in the progress window, backs up the data
// files written (Convert), finds the main data file and the template, then calls the
// converter's LoadSettings, ConvertRecords (by default the common record loop, which hands each
// data record to DispatchRecord) and FinishConversion, prints the totals and notes, and keeps
// the converted data or restores the data files. The text file is time-stamped only once its
// conversion is committed.
//
// A converter that departs from the sequence (extra passes, batches, several data files)
// overrides ConvertRecords or FinishConversion and uses the same helpers of xvConvert:
// RunRecordLoop, HandleRecord, EndFile, UpdateProgress.
#pragma once

#include "convert/backup.h"
#include "convert/converter.h"
#include "convert/reports.h"

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

// What a converter tells the common sequence about itself.
struct ConverterProfile {
    std::string abbreviation;    // the main data file ("CMM")
    uint16_t fileNo = 1;
    std::string title;           // the data file's description ("CM Master File")
    std::string convertingText;  // background task line, "%s" = text file name
    std::string examiningText;
    // Data files the conversion writes, each backed up before the first write; empty: the main
    // data file alone.
    std::vector<std::pair<std::string, uint16_t>> writtenFiles;
};

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
    std::vector<std::unique_ptr<DataFileBackup>> backups;  // one per written data file
    uint16_t mainHandle = 0;
    std::unique_ptr<xvl::xvlImpTemplate> tpl;
    std::unique_ptr<xvl::xvlImport> import;  // the import of the record loop
    // The substitution tables of the run's table group (loaded only when a table name is given);
    // its per-record messages are `messages`.
    std::unique_ptr<tables::SubstitutionSet> substitution;
    MessageList messages;  // the current record's messages
    uint32_t recordsRead = 0;
    uint32_t recordsRejected = 0;
    bool ended = false;    // the file was ended by EndFile
    std::string taskLine;  // a background run's task line
    int taskPercent = -1;  // the percentage it shows

    // The written data files (the main one when the profile names none).
    std::vector<std::pair<std::string, uint16_t>> WrittenFiles() const;
};

}  // namespace dz::convert
