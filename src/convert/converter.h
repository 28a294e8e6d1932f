// The converter base class. One converter lives for one text file: the driver creates it
// through the factory, asks it to open its data files (OpenFiles), to convert or examine the
// file (ConvertFile), or the table editor to prefill tables from it (PrefillTables), and deletes
// it. Those three are each converter's own; the base supplies the record services every
// converter uses while it reads a text file, and keeps the record-ID texts met so far in it.
#pragma once

#include "convert/conversion_types.h"
#include "convert/open_files.h"
#include "convert/record_id_map.h"
#include "platform/datafile/x_value.h"
#include "platform/ui/next_step.h"

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace dz::ui {
class zqTask;
}

namespace dz::xvl {
class xvlImport;
class xvlImpInfo;
using PrefillCB = bool (*)(const std::string& value, int16_t fieldId, int16_t section,
                           const std::string& textFileName, void* ctx);
}  // namespace dz::xvl

namespace dz::convert {

class ConvertProgress;
class NotesReport;

// How a text file ended early: what happened (a numbered message, its cause after it) and what
// the person can do next.
struct FileEnding {
    std::string text;
    ui::NextStep next;
};
struct ConvertContext;
struct ConverterProfile;

// What a template line's extra-data number says about its record: 1 to 49 names a record of
// user-defined fields, above 50 a notes record (0: the record itself).
inline bool IsUserFieldsRecord(int extra) { return extra >= 1 && extra <= 49; }
inline bool IsNotesRecord(int extra) { return extra > 50; }

// The run options handed to ConvertFile (only the AP invoice converter reads them).
struct ConversionOptions {
    uint16_t apInvoiceFile = 0;   // 1 when a selected file is of type 402
    uint32_t paidTotalsMode = 1;  // 1 clear and accumulate, 2 accumulate only, 3 neither
    uint32_t dupInvoiceMode = 1;  // 0 to 2
    x_date_type clearDate;        // checks cleared through
    x_date_type statementDate;    // statement date of cleared checks
};

// The longest notes text a record may receive.
inline constexpr std::size_t kMaxNotesLength = 15800;

// Template permissions of a record format.
inline constexpr uint16_t kPermModifyOnly = 1;  // the record must already exist
inline constexpr uint16_t kPermAdd = 2;         // an added record's record-ID text is kept
inline constexpr uint16_t kPermGroup = 3;       // group writes (no special handling here)

class xvConvert {
public:
    xvConvert() = default;
    virtual ~xvConvert() = default;
    xvConvert(const xvConvert&) = delete;
    xvConvert& operator=(const xvConvert&) = delete;

    // ---- The frame: each converter's profile, and what is built from it ----------------------
    // A converter is its profile (data files, titles, switches: convert_file.h) and its record
    // handlers (DispatchRecord and the other hooks below). The three operations the driver calls
    // are built from the profile; a converter that reads its file in several passes or opens
    // files the profile cannot describe overrides them.
    // Every converter gives one; the default (an empty profile) serves only test stand-ins that
    // override the three operations below.
    virtual ConverterProfile Profile() const;
    // Opens every data file of the profile into the list, by ascending openOrder, each with its
    // file code and flag (entries already open are reused). False with `error` set when one
    // fails (FailedOpen names it); no later file is asked for.
    virtual bool OpenFiles(OpenFilesList& list, uint16_t commandId, uint16_t& error);
    // The data file OpenDataFile last failed to open, a required one or an optional one found
    // absent (abbreviation empty when none): what a failed OpenFiles is to be told by, since the
    // list's last entry may be another file's.
    const file_num_map& FailedOpen() const { return failedOpen_; }
    // Whether that file was refused because this user may not write it or its folder (an "in
    // use" error that is no other program's doing).
    bool FailedUnwritable() const { return failedUnwritable_; }
    // Why the data-file layer refused that file ("... is a symbolic link ...", "... (a unique key
    // holds duplicates)"), for the message that reports it; empty when it gave no reason.
    const std::string& FailedReason() const { return failedReason_; }
    // What the person can do about it (wait for the program holding it), when the layer knows.
    const ui::NextStep& FailedNext() const { return failedNext_; }
    // Converts (task "Convert") or examines (any other task) one text file: RunConvertFile
    // with the profile.
    virtual void ConvertFile(OpenFilesList& list, const TextFileEntry& entry, ConvertProgress* progress,
                             int printDef, ui::zqTask& task, const std::string& tableName,
                             ConversionOptions* options);
    // Reads the text file for the prefill of substitution tables, handing every value to
    // prefillCallback with `prefillContext`; writes nothing. RunPrefill with the profile.
    virtual void PrefillTables(OpenFilesList& list, const TextFileEntry& entry, ConvertProgress* progress,
                               ui::zqTask& task, void* prefillContext);

    // The prefill hook every converter hands its values to (the table editor sets it; null:
    // values are read and dropped).
    static xvl::PrefillCB prefillCallback;

    // ---- Record services ----------------------------------------------------------------------
    // Opens a data file into the list and starts writes on it. An entry already open is reused.
    // A required file that fails keeps (or gets) an entry with handle 0 and answers false; an
    // optional one sets `error` to 13 and answers true without an entry. A file has one entry,
    // which a later open fills.
    bool OpenDataFile(const std::string& abbr, uint16_t fileNo, uint16_t fileCode, uint8_t flag,
                      OpenFilesList& list, uint16_t commandId, uint16_t& error, bool optional);
    // Writes (or replaces) the record the import staged in the file's buffer, then its
    // user-defined-field record and its notes. False with a reason rejects the record;
    // `diskFull` set means the failure must end the text file.
    bool WriteRecord(uint16_t file, xvl::xvlImpInfo& info, std::string& reason, const x_value_def* notes,
                     uint16_t permissions, bool& diskFull, bool force);
    // A write a record handler made for its record failed with `status`: answers false with the
    // reason WriteRecord gives ("Out of disk space" or "I/O Error writing record", then the key
    // values of `rec` in the file's buffer). A full disk also ends the text file (12013, the
    // data files restored) as soon as the handler returns.
    bool WriteFailed(uint16_t file, uint16_t rec, int status, std::string& reason);
    // The Examine Files counterpart of WriteRecord: decides by every key whether the record is
    // new, on file or repeated in the text file; writes nothing.
    // `notes` are the line's converted notes, checked against the length Convert allows.
    bool ExamineRecord(uint16_t file, xvl::xvlImpInfo& info, std::string& reason, uint16_t value,
                       uint16_t permissions, const x_value_def* notes = nullptr);
    // Stores a notes record of the text file on the record it belongs to.
    bool SaveNotes(uint16_t file, uint16_t record, const std::string& formatId, xvl::xvlImport& import,
                   std::string& reason, bool converting);
    // The record-ID text of the record now in the file's buffer.
    void RecordIdText(uint16_t file, std::string& out, uint16_t record);
    // The same, taken from the ExamineRecord call that just accepted this record when it built
    // the text (a new record), else built now. Ask before the buffer changes.
    void ExaminedIdText(uint16_t file, std::string& out, uint16_t record);
    void StripRecordId(std::string& text);
    bool TimeStampTextFile(const std::string& textPath, NotesReport* notes, const std::string& usingText);
    // Appends the reason code of an import error number (nothing for 0, 5, 15, 18, 19 and
    // numbers out of range).
    static void AppendReasonCode(std::string& reason, int error);
    // Checks a user-defined-field record and puts its value into the record's buffer for the
    // next WriteRecord.
    bool WriteUserFields(xvl::xvlImport& import, xvl::xvlImpInfo& info, std::string& reason);

    // The record-ID texts met in the current text file, each with its 16-bit value.
    RecordIdMap& RecordIds() { return recordIds_; }
    const RecordIdMap& RecordIds() const { return recordIds_; }
    // Whether WriteRecord keeps the ID texts of the records it adds from now on (at the start of
    // a text file, the profile's keepRecordIds): for a converter that can tell a repeated key
    // otherwise for a while, and puts the texts of what it added meanwhile into RecordIds()
    // before it turns keeping back on.
    void KeepAddedIds(bool keep) { keepAddedIds_ = keep; }

protected:
    // A data file of a module that is not installed, which the converter does not open: `error`
    // takes `code`, FailedOpen names the file, and its entry keeps (or gets) handle 0. False.
    bool NotInstalled(const std::string& abbr, uint16_t fileNo, uint16_t code, OpenFilesList& list, uint16_t& error);

    // ---- The common sequence of ConvertFile (convert_file.h) -----------------------------------
    void RunConvertFile(ConvertContext& ctx, const ConverterProfile& profile);
    // The common record loop; false when it ended the file (already reported and restored).
    bool RunRecordLoop(ConvertContext& ctx);
    // Steps 1 to 3 of the record loop: a fresh ctx.import over the template, the substitution
    // tables and the text file, with the reject file (Convert) when `withRejectFile`. A converter
    // that reads its text file more than once opens each pass with it; the import of an earlier
    // pass is freed first. False when it ended the file (12015, 12007).
    bool OpenImport(ConvertContext& ctx, bool withRejectFile);
    // Opens `import` over the run's text file: opened at the first pass, the same open file
    // for every later one. False when it cannot be read.
    bool OpenTextFile(ConvertContext& ctx, xvl::xvlImport& import, const std::string& rejectName);
    // One record read by the import (status 0 or 1): user fields, notes, dispatch, write or
    // examine, then reject or accept it with its messages (ctx.messages, which the caller
    // empties before each read). False when the file was ended.
    bool HandleRecord(ConvertContext& ctx, int status, xvl::xvlImpInfo& info);
    // Reads every record of ctx.import, emptying ctx.messages before each read, hands it to
    // `process` and updates the progress; then closes the text file (unstamped). False when the
    // file was ended (by `process`, or stopped).
    bool ReadRecords(ConvertContext& ctx, const std::function<bool(xvl::xvlImpInfo&, int)>& process);
    // The same group by group (xvlImportNextGroup, by the groups declared on ctx.tpl): `process`
    // sees each group once, after its last record, with its status (1: the import refused one of
    // its records, or the group callback did).
    bool ReadGroups(ConvertContext& ctx, const std::function<bool(xvl::xvlImpInfo&, int)>& process);
    // The end of every record, whichever loop read it: a rejected one (status 1 from the
    // import, or refused by a handler) goes to the reject file and the report and leaves nothing
    // locked; an accepted one counts in the totals and prints its messages. False when the file
    // was ended.
    // `copiedAt` 0 or more: a rejected record that went to the reject file together with the one
    // before it (read ahead with it) is not copied again; in Convert it is printed at that line.
    // ctx.rejectLine receives the line a rejected record went to.
    bool FinishRecord(ConvertContext& ctx, int status, xvl::xvlImpInfo& info, bool accepted,
                      const std::string& reason, int32_t copiedAt = -1);
    // Ends the file: restores the written data files (Convert), prints the text with the
    // restore result, optionally shows it in a message box and counts one more message.
    // Always false.
    bool EndFile(ConvertContext& ctx, const std::string& text, bool showBox, bool countMessage);
    // The same with what the person can do next.
    bool EndFile(ConvertContext& ctx, const FileEnding& ending, bool showBox, bool countMessage);
    // Before a file ends that wrote none of its records: what was staged for it (a run number its
    // settings raised) is rolled back and its copies go, so that its ending says that no data file
    // was changed, rather than put back. Where a rollback fails, the copies stay to put it back.
    void DropUnwrittenFile(ConvertContext& ctx);
    // The ending of a file whose report or notes could not be printed: `number` (12010,
    // 12012), followed by the cause when the report's destination gave one ("Out of disk space"),
    // with the destination's next step. The report's failure counts as said.
    static FileEnding PrintFailure(const ConvertContext& ctx, int number);
    // The ending of a file whose record could not go to the reject file: 12009, or 12007 when
    // the reject file could not be made; followed by why.
    static FileEnding RejectFailure(const ConvertContext& ctx);
    // The ending of a file whose data file could not be read or written: 12011, or 12013
    // when a write of the run found the disk full (whatever its caller made of that answer).
    static FileEnding DataFileFailure(const ConvertContext& ctx);
    // 12013 for a data file of the run that found its disk full: free space there.
    static FileEnding OutOfDiskSpace(const ConvertContext& ctx);
    // What the person can do about the reject file's last failure (its disk full, its folder
    // not theirs to write).
    static ui::NextStep RejectStep(const xvl::xvlImport& import);
    // Ends the file for the operator's stop (12000/12001) and prints the notes. Always false.
    bool EndFileStopped(ConvertContext& ctx);
    // Updates the progress window (and a background run's task line) with `percent` of the
    // context's share of the bar (percentFrom to percentTo); false when the run is to stop.
    bool UpdateProgress(ConvertContext& ctx, int percent);

    // The common prefill of one text file: starts the file in the progress window, reads the
    // template named on its first line and every record, with `callback` as the import's prefill
    // callback; writes nothing. Failures are shown in message boxes (12051, 12060, 12006, 12007).
    // `perRecord`, when given, sees each record after it was read; it may mark it as failed.
    using PrefillRecordHook = std::function<bool(xvl::xvlImport& import, xvl::xvlImpInfo& info, int status)>;
    void RunPrefill(OpenFilesList& list, const TextFileEntry& entry, ConvertProgress* progress,
                    const ConverterProfile& profile, xvl::PrefillCB callback, void* prefillContext,
                    const PrefillRecordHook& perRecord = {});

    // ---- The converter's own steps and hooks of the common record loop ---------------------------
    // Each has a default that keeps the plain sequence; a converter overrides only what it needs.
    // Together with the switches and data files of ConverterProfile (convert_file.h):
    //
    //   LoadSettings     reads the converter's settings. False ends the file before any record
    //                    with `failure` (for example 12006 naming the data file that failed), or
    //                    with 12011 when it leaves `failure` empty.
    //   CountRecord      sees every record the import read, before it is counted. False drops
    //                    it on purpose: not counted, not rejected, not reported.
    //   ImportRejected   sees a record the import library refused (status 1) with its reason,
    //                    which it may reword, and may renumber the record it counts under.
    //   DispatchRecord   handles a data record (extra data 0 or 50, and 1-49 when the profile's
    //                    writeUserFields is off). False rejects with `reason`. Clearing
    //                    ctx.storeRecord accepts without WriteRecord / ExamineRecord. A
    //                    record that must end the file calls EndFile: the loop stops there.
    //   ExamineValue     the 16-bit value kept with an examined record's record-ID texts
    //                    (ExamineRecord), which later lines may look up in RecordIds().
    //   RecordWritten    runs after an accepted record was written (Convert) or examined
    //                    (Examine Files): links, counters, totals kept per record, records
    //                    written after it. It may end the file (EndFile); the loop then stops.
    //   FinishConversion totals, batches and whatever ends the conversion.
    //
    // Profile switches: examineRecords (ExamineRecord in Examine Files), writeUserFields
    // (WriteUserFields for extra data 1-49), progressEtc (", etc." in the progress window), and
    // dataFiles: each data file's description (used by 12002 and 12006) and whether it is
    // backed up, restored (EndFile reports the worst result) and checked for an open handle.
    virtual bool LoadSettings(ConvertContext& ctx, std::string& failure);
    virtual bool ConvertRecords(ConvertContext& ctx);
    virtual bool CountRecord(ConvertContext& ctx, xvl::xvlImpInfo& info, int status);
    virtual void ImportRejected(ConvertContext& ctx, xvl::xvlImpInfo& info, std::string& reason);
    // The default refuses every record with 12070 (RejectUnknownRecord, naming the conversion
    // type).
    virtual bool DispatchRecord(ConvertContext& ctx, xvl::xvlImpInfo& info, std::string& reason);
    // The tail of every DispatchRecord: a record type the conversion has no handler for is
    // refused with 12070, "<record> ... <conversion>". The record is named by its definition in
    // the file it was imported into, or (second form) in `namingFile`; by its format id when it
    // has no record number or `namingFile` is 0. A record number `namingFile` does not define
    // names it by its format id too, or names nothing when `formatIdWhenUndefined` is off.
    // Always false.
    static bool RejectUnknownRecord(const xvl::xvlImpInfo& info, std::string& reason, const std::string& conversion);
    static bool RejectUnknownRecord(const xvl::xvlImpInfo& info, std::string& reason, const std::string& conversion,
                                    uint16_t namingFile, bool formatIdWhenUndefined = true);
    virtual uint16_t ExamineValue(ConvertContext& ctx, const xvl::xvlImpInfo& info);
    virtual void RecordWritten(ConvertContext& ctx, xvl::xvlImpInfo& info);
    // False when it ended the file itself.
    virtual bool FinishConversion(ConvertContext& ctx);

private:
    bool ReadImport(ConvertContext& ctx, bool groups, const std::function<bool(xvl::xvlImpInfo&, int)>& process);

    // The record-ID texts of the records WriteRecord adds, kept for as long as the data file can
    // answer for them. For a record type that held no record when the text file first added one,
    // while every row added to it since came that way, a row on file is a record this text file
    // added: a duplicate answer from a write means the file repeats the record. The texts are
    // made from the stored rows (Settle) the moment anything else changes the record type's rows,
    // or anything asks the map about it; from then on the type keeps its texts as they come. A
    // row something else removed (or rekeyed) meanwhile is made as it is stored then: a removed
    // one's text is not kept, where keeping every text as it came kept it.
    struct AddedType {
        uint16_t file = 0, rec = 0;
        bool lazy = false;     // its texts wait in the data file; false: kept as they come
        int64_t changes = 0;   // the type's row changes (xio_row_changes) after this converter's last
        int64_t lastRow = 0;   // the row of the last record added, and of the one before it
        int64_t priorRow = 0;
    };
    class WaitingIds : public RecordIdMap::Source {
    public:
        explicit WaitingIds(xvConvert& owner) : owner_(owner) {}
        void Fill(std::string_view text) override;

    private:
        xvConvert& owner_;
    };
    // The type's entry while its texts wait in the data file, else null. At the first add that
    // keeps texts (`keeping`) the type is looked at; a change from elsewhere settles it.
    AddedType* WaitingType(uint16_t file, uint16_t rec, bool keeping);
    // Puts the texts of a waiting type's records into the map: from then on they are kept.
    void Settle(AddedType& type);
    std::deque<AddedType> addedTypes_;
    std::size_t waitingTypes_ = 0;
    WaitingIds waitingIds_{*this};

    RecordIdMap recordIds_;
    std::string examinedId_;        // the ID text the last ExamineRecord built
    std::string writtenId_;         // WriteRecord's ID text, its buffer kept from record to record
    uint16_t examinedFile_ = 0;     // and its file and record, 0 when it accepted none it built
    uint16_t examinedRec_ = 0;
    bool handlerDiskFull_ = false;  // a handler's write ran out of disk (WriteFailed)
    bool keepAddedIds_ = true;      // WriteRecord keeps added records' IDs (the profile's keepRecordIds)
    file_num_map failedOpen_;
    bool failedUnwritable_ = false;
    std::string failedReason_;
    ui::NextStep failedNext_;
};

}  // namespace dz::convert
