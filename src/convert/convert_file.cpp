#include "convert/convert_file.h"

#include "convert/platform_links.h"
#include "convert/progress.h"
#include "convert/texts.h"
#include "platform/datafile/xio.h"
#include "platform/import/xvl_import.h"
#include "platform/import/xvl_rcstring.h"
#include "platform/suite/company.h"
#include "platform/suite/util.h"
#include "platform/suite/zc.h"
#include "platform/ui/framework.h"
#include "platform/ui/full_output.h"
#include "platform/ui/own_files.h"
#include "platform/ui/ui.h"
#include "tables/substitution_set.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <utility>

namespace dz::convert {
namespace {

using xvl::xvlRCString;
constexpr std::string_view NS = xvlRCString::NotSet;

std::string Msg(int number, const std::string& s1 = std::string(NS), const std::string& s2 = std::string(NS)) {
    return xvlRCString::Get(number, s1, s2, NS, NS, NS, NS, NS, NS);
}

std::string FileNameOf(const std::string& path) {
    const auto slash = path.find_last_of("\\/");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

CommitObserver& Observer() {
    static CommitObserver observer;
    return observer;
}

void Observe(std::size_t committed, std::size_t of) {
    if (Observer()) Observer()(committed, of);
}

std::string FillName(const std::string& format, const std::string& name) {
    std::string out = format;
    const auto at = out.find("%s");
    if (at != std::string::npos) out.replace(at, 2, name);
    return out;
}

}  // namespace

void SetCommitObserverForTests(CommitObserver observer) { Observer() = std::move(observer); }

ConvertContext::ConvertContext(OpenFilesList& list, const TextFileEntry& textEntry, ConvertProgress* progressState,
                               int printDefinition, ui::zqTask& runTask, const std::string& table,
                               ConversionOptions* runOptions)
    : files(list),
      entry(textEntry),
      progress(progressState),
      printDef(printDefinition),
      task(runTask),
      tableName(table),
      options(runOptions),
      converting(runTask.Name() == "Convert"),
      commandId(static_cast<uint16_t>(runTask.ID())) {}

ConvertContext::~ConvertContext() {
    if (notes) notes->Close();  // the notes were printed, or are not to be
    ReleaseRejectFile(rejectName);  // a reject file no record went to goes again
    suite::zc_give_back_counters();  // numbers a file took and did not store (it kept no data)
    // Examine Files writes nothing, however the file ended: whatever a handler may have
    // staged in a data file of the run is dropped.
    // (A rollback fails only with the connection itself broken; there is nothing else to try.)
    if (!converting)
        for (const auto& e : files)
            if (e.handle) (void)xio_rollback(e.handle);
}

std::vector<ConverterDataFile> ConverterProfile::DataFiles() const {
    if (!dataFiles.empty()) return dataFiles;
    ConverterDataFile main;
    main.abbreviation = abbreviation;
    main.fileNo = fileNo;
    main.description = description;
    main.backupDescription = backupDescription;
    main.fileCode = fileCode;
    return {main};
}

ConverterDataFile ConverterDataFile::Owned(const std::string& abbr, uint16_t number, uint16_t code,
                                           const std::string& text) {
    ConverterDataFile f;
    f.abbreviation = abbr;
    f.fileNo = number;
    f.fileCode = code;
    f.description = text;
    return f;
}

ConverterDataFile ConverterDataFile::ReadOnly(const std::string& abbr, uint16_t number, uint16_t code,
                                              const std::string& text, bool mustBeOpen) {
    ConverterDataFile f = Owned(abbr, number, code, text);
    f.backedUp = f.restored = false;
    f.checked = mustBeOpen;
    return f;
}

std::string ConverterProfile::DescriptionOf(const std::string& abbr, uint16_t number) const {
    for (const auto& f : DataFiles())
        if (f.fileNo == number && f.abbreviation == abbr)
            return f.description.empty() ? f.abbreviation : f.description;
    return abbr;
}

std::string ConverterProfile::BackupDescriptionOf(const std::string& abbr, uint16_t number) const {
    for (const auto& f : DataFiles())
        if (f.fileNo == number && f.abbreviation == abbr && !f.backupDescription.empty()) return f.backupDescription;
    return DescriptionOf(abbr, number);
}

int WorseRestoreResult(int a, int b) {
    // 1 (not restored) outranks 3 (the write stands until its journal takes it back), then 2
    // (restored, not reopened), then 0 (restored).
    auto rank = [](int r) { return r == 1 ? 3 : r == 3 ? 2 : r == 2 ? 1 : 0; };
    return rank(b) > rank(a) ? b : a;
}

// ---- The converter's own steps, by default ----------------------------------------------------

bool xvConvert::LoadSettings(ConvertContext&, std::string&) { return true; }
bool xvConvert::ConvertRecords(ConvertContext& ctx) { return RunRecordLoop(ctx); }
bool xvConvert::FinishConversion(ConvertContext&) { return true; }
bool xvConvert::CountRecord(ConvertContext&, xvl::xvlImpInfo&, int) { return true; }
void xvConvert::ImportRejected(ConvertContext&, xvl::xvlImpInfo&, std::string&) {}
uint16_t xvConvert::ExamineValue(ConvertContext&, const xvl::xvlImpInfo&) { return 0; }
void xvConvert::RecordWritten(ConvertContext&, xvl::xvlImpInfo&) {}

bool xvConvert::DispatchRecord(ConvertContext& ctx, xvl::xvlImpInfo& info, std::string& reason) {
    const ConversionTypeEntry* type = FindConversionType(ctx.entry.code);
    return RejectUnknownRecord(info, reason, type ? type->name : ctx.profile.title);
}

bool xvConvert::RejectUnknownRecord(const xvl::xvlImpInfo& info, std::string& reason, const std::string& conversion) {
    return RejectUnknownRecord(info, reason, conversion, info.FileNumUsed());
}

bool xvConvert::RejectUnknownRecord(const xvl::xvlImpInfo& info, std::string& reason, const std::string& conversion,
                                    uint16_t namingFile, bool formatIdWhenUndefined) {
    // A format of record number 0 names no record type: it is named by its format id.
    std::string name = info.FormatID();
    if (namingFile != 0 && info.ImportedRecs() != 0) {
        xio_rec_def def;
        if (xio_get_rec_def(namingFile, info.ImportedRecs(), def) == XIO_OK)
            name = def.name;
        else if (!formatIdWhenUndefined)
            name.clear();
    }
    reason = Msg(12070, name, conversion);
    return false;
}

// ---- The frame built from the profile -------------------------------------------------------------

xvl::PrefillCB xvConvert::prefillCallback = nullptr;

ConverterProfile xvConvert::Profile() const { return {}; }

bool xvConvert::OpenFiles(OpenFilesList& list, uint16_t commandId, uint16_t& error) {
    auto files = Profile().DataFiles();
    std::stable_sort(files.begin(), files.end(),
                     [](const ConverterDataFile& a, const ConverterDataFile& b) { return a.openOrder < b.openOrder; });
    for (const auto& f : files)
        if (!OpenDataFile(f.abbreviation, f.fileNo, f.fileCode, f.openFlag, list, commandId,
                          error, false))
            return false;
    return true;
}

void xvConvert::ConvertFile(OpenFilesList& list, const TextFileEntry& entry, ConvertProgress* progress, int printDef,
                            ui::zqTask& task, const std::string& tableName, ConversionOptions* options) {
    ConvertContext ctx(list, entry, progress, printDef, task, tableName, options);
    RunConvertFile(ctx, Profile());
}

void xvConvert::PrefillTables(OpenFilesList& list, const TextFileEntry& entry, ConvertProgress* progress,
                              ui::zqTask&, void* prefillContext) {
    RunPrefill(list, entry, progress, Profile(), prefillCallback, prefillContext);
}

// ---- Ending a file -------------------------------------------------------------------------------

namespace {

// The file of the run whose disk a write found full, else "".
std::string DiskFullFile(const ConvertContext& ctx) {
    for (const auto& e : ctx.files) {
        xio_file_def def;
        if (e.handle && xio_disk_full_met(e.handle) && xio_get_def(e.handle, def) == XIO_OK) return def.path;
    }
    return {};
}

ui::NextStep FreeSpaceFor(const std::string& file) {
    if (file.empty()) return {};
    // Named as the person can find it, wherever the command was started.
    std::error_code ec;
    const std::filesystem::path where = std::filesystem::absolute(file, ec);
    return {ui::Step::FreeSpace, {ec ? file : where.lexically_normal().string()}};
}

}  // namespace

bool xvConvert::EndFile(ConvertContext& ctx, const std::string& text, bool showBox, bool countMessage) {
    // A data file that found its disk full is what the person can free space on.
    return EndFile(ctx, FileEnding{text, FreeSpaceFor(DiskFullFile(ctx))}, showBox, countMessage);
}

bool xvConvert::EndFile(ConvertContext& ctx, const FileEnding& ending, bool showBox, bool countMessage) {
    const std::string& text = ending.text;
    // Copies are made only of data files the run is to write: without one, nothing was written.
    const bool written =
        std::any_of(ctx.backups.begin(), ctx.backups.end(), [](const auto& b) { return !b->SavedPath().empty(); });
    // A file that ends keeps no data, so the numbers it took (a batch, run numbers) go back.
    suite::zc_give_back_counters();
    // Every data file the conversion may have written is restored; the worst result is reported.
    int restore = 0;
    if (ctx.converting) {
        const auto files = ctx.profile.DataFiles();
        for (std::size_t i = 0; i < files.size() && i < ctx.backups.size(); ++i) {
            if (!files[i].restored) continue;
            const auto& f = files[i];
            restore = WorseRestoreResult(restore, RestoreFromBackup(ctx.files, f.abbreviation, f.fileNo, *ctx.backups[i]));
        }
    }
    // A copy that could not be put back over a data file that may differ from it stays, and is
    // named; under a marker the next command tries again. Otherwise the marker has done its work.
    std::vector<std::string> kept;
    for (const auto& b : ctx.backups)
        if (b->Kept() && !b->WriteStands()) kept.push_back(xvl::WithCause(Msg(12927, b->SavedPath(), b->CopyPath()), xvl::ErrorCause(b->LastError())));
    // A data file put back that this user could not give its owner, group or access list back:
    // said, with the step that gives them back, never left to be found.
    std::string notGiven;
    ui::NextStep giveBack;
    for (const auto& b : ctx.backups) b->SayNotGivenBack(notGiven, giveBack);
    // A marker that cannot be emptied still names every copy: the copies stay with it (the next
    // command puts the same bytes back), never a marker naming copies that are gone.
    const bool anyKept = std::any_of(ctx.backups.begin(), ctx.backups.end(), [](const auto& b) { return b->Kept(); });
    if (!anyKept && ctx.marker.Remove() != 0)
        for (auto& b : ctx.backups) b->Keep();
    // A marker that names nothing any more lets its copies go; one that stays keeps them all.
    if (!ctx.marker.Written())
        for (auto& b : ctx.backups) b->SetUnderMarker(false);
    SayRunNotices(ctx.converting);
    if (ctx.import) ctx.import->xvlImpTimeStampAndCloseFile(false, true, "");
    // A run with a progress window closes with one message that says how each file ended, with
    // its next step, and a background run's summary of each file says it: the ending is said
    // there, once, rather than in a box of its own as well.
    const bool saidAtClose = ctx.progress && (ctx.progress->panel != 0 || InBackground());
    // The report's last line says the data file was not changed (12017) only where nothing was
    // written; one written and put back is said as restored (12019); one whose write stands
    // with its journal, as terminated alone.
    ctx.report->ReportTerminated(text, written && restore == 0 ? 2 : restore, showBox && !saidAtClose, ending.next);
    for (const auto& line : kept) {
        ui::current().message(ui::kError, line);
        (void)ctx.report->PrintTextLine(line, 1);
    }
    if (!notGiven.empty()) {
        const std::string line = Msg(13900, notGiven);
        LogLine(line);
        // A run with a window says it once the file has ended: on the desktop in the closing
        // box, after its cause and what was put back, never in a box of its own before them.
        const bool inClosingBox = ctx.progress && ctx.progress->panel != 0 && !InBackground() && showBox &&
                                  ctx.progress->ended_why.empty();
        if (inClosingBox) {
            ctx.progress->ended_not_given = line;
            ctx.progress->ended_give_back = giveBack;
        } else {
            ui::xw_wr_message(ui::kWarning, line, giveBack);
        }
        (void)ctx.report->PrintTextLine(line, 1);
    }
    if (countMessage && ctx.progress) ctx.progress->messages += 1;
    if (ctx.progress && ctx.progress->ended_why.empty()) {
        ctx.progress->ended_why = text;
        ctx.progress->ended_restore = restore;
        ctx.progress->ended_next = ending.next;
        ctx.progress->ended_box = showBox;
        ctx.progress->ended_written = written;
        // The record that ended the file was read (and perhaps rejected) before the window
        // was told: the counts say what happened.
        ctx.progress->CountRead(ctx.recordsRead, ctx.recordsRejected);
    }
    ctx.ended = true;
    return false;
}

FileEnding xvConvert::PrintFailure(const ConvertContext& ctx, int number) {
    if (!ctx.report) return {Msg(number), {}};
    ctx.report->FailureSaid();
    const int error = ctx.report->WriteError();
    const ui::NextStep next = ctx.report->FailureStep();
    // A device that took no more says so in its own words: it is no disk to be out of space.
    const std::string cause = ui::about_device(next) && error != 0 ? std::strerror(error) : xvl::ErrorCause(error);
    return {xvl::WithCause(Msg(number), cause), next};
}

FileEnding xvConvert::RejectFailure(const ConvertContext& ctx) {
    // A reject file that could not be made is one that could not be opened, as at the text
    // file's open; one that took a write no more is one that cannot be written.
    const xvl::xvlImport& import = *ctx.import;
    const int number = import.RejectFileCreated() ? 12009 : 12007;
    return {xvl::WithCause(Msg(number, ctx.entry.path.substr(0, 60)), import.LastErrorText()), RejectStep(import)};
}

ui::NextStep xvConvert::RejectStep(const xvl::xvlImport& import) {
    const std::string& reject = import.RejectFileName();
    switch (import.RejectError()) {
    case ENOSPC: return FreeSpaceFor(reject);
    case EACCES:
    case EPERM:
    case EROFS: {
        const auto slash = reject.find_last_of('/');
        return {ui::Step::WritableFolder, {slash == std::string::npos ? std::string(".") : reject.substr(0, slash)}};
    }
    default: return {};
    }
}

FileEnding xvConvert::DataFileFailure(const ConvertContext& ctx) {
    if (const std::string full = DiskFullFile(ctx); !full.empty()) return {Msg(12013), FreeSpaceFor(full)};
    return {Msg(12011), xio_error_next_step()};
}

FileEnding xvConvert::OutOfDiskSpace(const ConvertContext& ctx) { return {Msg(12013), FreeSpaceFor(DiskFullFile(ctx))}; }

void xvConvert::DropUnwrittenFile(ConvertContext& ctx) {
    bool rolledBack = true;
    if (ctx.converting)
        for (const auto& e : ctx.files)
            if (e.handle && xio_rollback(e.handle) != XIO_OK) rolledBack = false;
    // (A rollback fails only with the connection itself broken: the copies then put it back.)
    if (!rolledBack) return;
    for (auto& b : ctx.backups) b->Discard();
    ctx.backups.clear();
}

bool xvConvert::EndFileStopped(ConvertContext& ctx) {
    EndFile(ctx, Msg(ctx.converting ? 12000 : 12001), false, false);
    ctx.notes->Print();
    return false;
}

bool xvConvert::UpdateProgress(ConvertContext& ctx, int percent) {
    percent = ctx.percentFrom + percent * (ctx.percentTo - ctx.percentFrom) / 100;
    if (ctx.progress && !ctx.progress->SetPosition(ctx.recordsRead, ctx.recordsRejected, static_cast<int16_t>(percent)))
        return false;
    if (InBackground()) {
        if (CheckTerminate()) return false;
        if (percent != ctx.taskPercent) {  // one line per step of the percentage, not per record
            ctx.taskPercent = percent;
            suite::x_update_task(percent, ctx.taskLine);
        }
    }
    return true;
}

// ---- The sequence --------------------------------------------------------------------------------

void xvConvert::RunConvertFile(ConvertContext& ctx, const ConverterProfile& profile) {
    ctx.profile = profile;
    keepAddedIds_ = profile.keepRecordIds;
    // What the opens of the data files put back (a run that died since the command began).
    SayRunNotices(ctx.converting);
    const std::string& path = ctx.entry.path;

    // 1. Reports (and, converting, the reject file's name).
    if (ctx.converting) ctx.rejectName = ClaimRejectFile(
        path, profile.rejectAbbreviation.empty() ? profile.abbreviation : profile.rejectAbbreviation);
    ctx.report = std::make_unique<ConversionReport>(ctx.printDef, path, ctx.rejectName, profile.title,
                                                    ctx.converting, ctx.tableName);
    ctx.notes = std::make_unique<NotesReport>(ctx.printDef, path, ctx.commandId, ctx.converting);
    // File control may keep a data file outside the company folder: each such file is named,
    // on the screen and in the report's heading, before anything is written.
    if (const suite::Company* company = suite::current_company()) {
        for (const auto& e : ctx.files) {
            xio_file_def def;
            if (e.handle == 0 || xio_get_def(e.handle, def) != XIO_OK || !company->is_outside(def.path)) continue;
            ctx.report->AddOutsideDataFile(def.path);
            ui::current().message(ui::kWarning, Msg(12936, def.path));
        }
    }

    // 2, 3. The progress window, or a background run's task line.
    const auto dataFiles = profile.DataFiles();
    if (ctx.progress &&
        !ctx.progress->SetCurrentFile(path, ctx.files, profile.abbreviation, profile.fileNo, profile.progressEtc)) {
        EndFile(ctx, Msg(ctx.converting ? 12000 : 12001), false, false);
        return;
    }
    if (InBackground()) {
        if (CheckTerminate()) {
            EndFile(ctx, Msg(ctx.converting ? 12000 : 12001), false, false);
            return;
        }
        ctx.taskLine = FillName(ctx.converting ? profile.convertingText : profile.examiningText,
                                FileNameOf(path).substr(0, 50));
        ctx.taskPercent = 0;
        suite::x_update_task(0, ctx.taskLine);
    }

    // 4. Converting: every data file that is backed up is copied aside before its first write
    // (one backup object per data file, an empty one for a file that is not backed up).
    if (ctx.converting) {
        for (const auto& f : dataFiles) {
            ctx.backups.push_back(std::make_unique<DataFileBackup>());
            // The data file's folder holds the copies: its disk is the one to free.
            xio_file_def def;
            const uint16_t handle = FindFileHandle(ctx.files, f.abbreviation, f.fileNo);
            const std::string dataFile = handle && xio_get_def(handle, def) == XIO_OK ? def.path : std::string();
            if (f.backedUp && !ReopenWithBackup(ctx.files, f.abbreviation, f.fileNo, *ctx.backups.back())) {
                const DataFileBackup& failed = *ctx.backups.back();
                const int error = failed.LastError();
                // Said before any record is read: the file the copy was of, then why (a full
                // disk, no backup folder, a lock held by another program, the file that could
                // not be opened again), and what to do.
                const std::string why = error == ENOSPC ? xvl::ErrorCause(ENOSPC) : failed.Why();
                ui::NextStep next = error == ENOSPC ? FreeSpaceFor(dataFile) : failed.Next();
                if (!next && (error == EACCES || error == EPERM || error == EROFS) && !dataFile.empty())
                    next = {ui::Step::WritableFolder, {dataFile.substr(0, dataFile.find_last_of('/'))}};
                ctx.backups.clear();  // nothing was written: the copies go
                EndFile(ctx, FileEnding{xvl::WithCause(Msg(12002, profile.BackupDescriptionOf(f.abbreviation, f.fileNo)), why), next},
                        true, true);
                return;
            }
        }
    }

    // 5. The main data file, the template and the converter's settings.
    auto fail = [&](const std::string& text) {
        // No record was written: what the settings took (a run number raised for the batch)
        // goes back, and the copies go.
        DropUnwrittenFile(ctx);
        EndFile(ctx, text, true, true);
    };
    ctx.mainHandle = FindFileHandle(ctx.files, profile.abbreviation, profile.fileNo);
    GetTextFileTemplate(path, ctx.templatePath);
    if (ctx.templatePath.empty()) {
        // A text file that cannot be read (one removed since a stored run named it) is said as
        // the choice of files says it, not as one without a template.
        std::string head;
        if (files::read_file_head(path, 1, head) != files::HeadRead::Ok) return fail(Msg(12047, path));
        return fail(Msg(12003));
    }
    // A data file that is not open: its description, or empty when every file is.
    auto missingFile = [&]() -> std::string {
        for (const auto& f : dataFiles)
            if (f.checked && FindFileHandle(ctx.files, f.abbreviation, f.fileNo) == 0)
                return profile.DescriptionOf(f.abbreviation, f.fileNo);
        if (ctx.mainHandle == 0) return profile.DescriptionOf(profile.abbreviation, profile.fileNo);
        return {};
    };
    ctx.tpl = std::make_unique<xvl::xvlImpTemplate>();
    if (ctx.tpl->xvlImpTemplateCreate(ctx.templatePath, ctx.files) != 0) {
        // The structure needs the template's data files open: a missing one is what to report,
        // not the template.
        if (const std::string missing = missingFile(); !missing.empty()) return fail(Msg(12006, missing));
        std::string offending;
        if (TemplateErrorText(ctx.files, *ctx.tpl, offending))
            return fail(Msg(12005, offending));
        return fail(Msg(12004));
    }
    if (const std::string missing = missingFile(); !missing.empty()) return fail(Msg(12006, missing));
    std::string settingsFailure;
    if (!LoadSettings(ctx, settingsFailure)) return fail(settingsFailure.empty() ? DataFileFailure(ctx).text : settingsFailure);

    // 6. The records, the converter's finish, the totals and notes; then keep or restore.
    if (!ConvertRecords(ctx) || !FinishConversion(ctx)) return;
    // The files' indexes are made side by side while the totals print.
    if (ctx.converting)
        for (std::size_t i = 0; i < dataFiles.size() && i < ctx.backups.size(); ++i)
            StartCommit(ctx.files, dataFiles[i].abbreviation, dataFiles[i].fileNo);

    const bool printed = ctx.report->PrintRecordTotals(ctx.notes->LinesWritten()) && ctx.notes->Print();
    if (!printed) {
        EndFile(ctx, PrintFailure(ctx, 12012), true, true);
        return;
    }
    // A walk that met a row refused as corrupt stopped there, whether or not its converter
    // looked at why: what was built from it is not committed, in any file, and an examination
    // did not see the whole file.
    for (const auto& e : ctx.files)
        if (const std::string why = e.handle == 0 ? std::string() : xio_corrupt_met(e.handle); !why.empty()) {
            EndFile(ctx, Msg(12011) + "\r\r" + why, true, true);
            return;
        }
    if (!ctx.converting) return;  // the context drops whatever was staged
    // The main data file records, with the records, which text file they came from: a run that
    // dies before the stamp leaves a text file that the next run still knows as converted.
    std::size_t recordIn = dataFiles.size();
    for (std::size_t i = 0; i < dataFiles.size() && i < ctx.backups.size(); ++i) {
        const bool written = dataFiles[i].backedUp && !ctx.backups[i]->CopyPath().empty();
        const bool main = dataFiles[i].abbreviation == profile.abbreviation && dataFiles[i].fileNo == profile.fileNo;
        if (written && (main || recordIn == dataFiles.size())) recordIn = i;
    }
    const std::string stampLine = BuildTimeStampLine(FileNameOf(ctx.templatePath));
    if (recordIn < dataFiles.size()) {
        const uint16_t handle = FindFileHandle(ctx.files, dataFiles[recordIn].abbreviation, dataFiles[recordIn].fileNo);
        const int status =
            handle == 0 ? XIO_OK : RecordConvertedText(handle, TextFileIdentity(path, ctx.text.get()), stampLine);
        if (status != XIO_OK) {
            EndFile(ctx, Msg(status == XIO_DISK_FULL ? 12013 : 12011), true, true);
            return;
        }
    }
    // The data files commit one after another: the marker naming every copy stands on the disk
    // before the first commit, so that a run that dies between two of them is put back whole.
    std::vector<const DataFileBackup*> copies;
    for (const auto& b : ctx.backups) copies.push_back(b.get());
    // A run holding numbers taken for it (a batch, run numbers) needs the marker with one copy
    // too: those numbers are written between its last commit and the marker's removal.
    const auto copied =
        std::count_if(copies.begin(), copies.end(), [](const DataFileBackup* b) { return !b->CopyPath().empty(); });
    if (copied > 1 || (copied == 1 && suite::zc_counters_taken())) {
        if (const int err = ctx.marker.Write(copies); err != 0) {
            // The copies stand, but no later command could put them back without the marker:
            // the backup failed, and why (the marker's folder and the cause) follows.
            if (err == ENOSPC) {
                EndFile(ctx, FileEnding{Msg(12013), ctx.marker.Next()}, true, true);
            } else {
                const std::string text = Msg(12002, profile.BackupDescriptionOf(profile.abbreviation, profile.fileNo));
                EndFile(ctx, FileEnding{xvl::WithCause(text, ctx.marker.Why()), ctx.marker.Next()}, true, true);
            }
            return;
        }
        for (auto& b : ctx.backups) b->SetUnderMarker(true);
    }
    // Every copy stays until every data file has committed: a commit that fails puts every file
    // back, those already committed too, so the data files never disagree about the text file.
    Observe(0, dataFiles.size());
    for (std::size_t i = 0; i < dataFiles.size() && i < ctx.backups.size(); ++i) {
        bool diskFull = false;
        if (!CommitWrites(ctx.files, dataFiles[i].abbreviation, dataFiles[i].fileNo, &diskFull)) {
            // The file and why (another program reading it holds its commit off), and what to
            // do: wait for that program.
            if (diskFull) EndFile(ctx, Msg(12013), true, true);
            else EndFile(ctx, FileEnding{xvl::WithCause(Msg(12011), xio_error_text()), xio_error_next_step()}, true, true);
            return;
        }
        ctx.backups[i]->MarkCommitted();
        Observe(i + 1, dataFiles.size());
    }
    // The numbers the run took are written once every data file has committed and while the
    // marker still stands: a run killed before this write is put back whole, and its rerun
    // takes the same numbers. One window stays open: killed after this write and before the
    // marker's removal, the data files go back and the numbers stay raised, so a number is
    // skipped (never used twice).
    if (suite::SettingsFailure why; suite::zc_store_counters(&why) != suite::CounterStore::Stored) {
        // After the words, why (the settings' lock file and who holds it, or why it cannot be
        // opened). The numbers live in the company's settings file: on a full disk, its disk is
        // the one to free; one that another program stored meanwhile is taken afresh by the
        // next run.
        const suite::Company* company = suite::current_company();
        const std::string settings = company ? (company->folder() / suite::kSettingsFileName).string() : std::string();
        const ui::NextStep next = why.next ? why.next : ui::NextStep{ui::Step::Again, {}};
        EndFile(ctx,
                why.error == ENOSPC ? FileEnding{Msg(12013), FreeSpaceFor(settings)}
                                    : FileEnding{xvl::WithCause(Msg(12016), why.cause), next},
                true, true);
        return;
    }
    // Emptying the marker is the run's commit point: one that fails leaves the run uncommitted,
    // and every data file goes back, as after a failed commit.
    if (const int err = ctx.marker.Remove(); err != 0) {
        EndFile(ctx, err == ENOSPC ? Msg(12013) : xvl::WithCause(Msg(12011), xvl::ErrorCause(err)), true, true);
        return;
    }
    for (auto& b : ctx.backups) CommitBackup(*b);
    Observe(dataFiles.size() + 1, dataFiles.size());
    // Only a committed conversion marks its text file as converted. The notes were printed
    // before the commit (notes that cannot print still restore the data), so a file that cannot
    // take its stamp gets a notes page of its own.
    // The stamp is the line the data files recorded, to the minute.
    if (!convert::TimeStampTextFile(path, nullptr, FileNameOf(ctx.templatePath), ctx.text.get(), stampLine)) {
        ctx.notes->PrintLate(
            {"", "Note: Time stamp not added to original text file. See Halvorsend log file if text file is now "
                 "missing."});
        if (ctx.progress) ctx.progress->notes += 1;
    }
}

bool xvConvert::RunRecordLoop(ConvertContext& ctx) {
    if (!OpenImport(ctx, true)) return false;
    // 4, 5. Record by record; the time stamp waits for the commit.
    return ReadRecords(ctx, [&](xvl::xvlImpInfo& info, int status) { return HandleRecord(ctx, status, info); });
}

bool xvConvert::OpenImport(ConvertContext& ctx, bool withRejectFile) {
    // 1. The import over the template (an earlier pass's import, and the whole text it holds,
    // goes first).
    ctx.import.reset();
    ctx.import = std::make_unique<xvl::xvlImport>(*ctx.tpl);
    xvl::xvlImport& import = *ctx.import;
    import.xvlSetAcceptLongText(true);
    import.xvlSetClearExtendedFields(true);
    if (!ctx.converting) import.xvlChangeRepToWrRep(true);

    // 2. Substitution tables.
    ctx.substitution = std::make_unique<tables::SubstitutionSet>(ctx.commandId, ctx.tableName, ctx.messages);
    if (!ctx.tableName.empty()) {
        if (!ctx.substitution->IsLoaded()) return EndFile(ctx, Msg(12015, ctx.tableName), true, true);
        import.xvlSetSubstitutionCB(&tables::SubstituteValue, ctx.substitution.get());
    }

    // 3. The text file and the reject file.
    const bool reject = ctx.converting && withRejectFile;
    if (!OpenTextFile(ctx, import, reject ? ctx.rejectName : std::string())) {
        // The text file is named, and a reject file that cannot be made beside it is the cause.
        const std::string text = Msg(12007, ctx.entry.path.substr(0, 60));
        // Before its first record nothing of the file was written: no data file was changed.
        if (ctx.recordsRead == 0) DropUnwrittenFile(ctx);
        if (!import.RejectFileRefused()) return EndFile(ctx, text, true, true);
        return EndFile(ctx, FileEnding{xvl::WithCause(text, import.LastErrorText()), RejectStep(import)}, true, true);
    }
    return true;
}

bool xvConvert::OpenTextFile(ConvertContext& ctx, xvl::xvlImport& import, const std::string& rejectName) {
    if (!ctx.text) {
        ctx.text = xvl::TextSource::Open(ctx.entry.path);
        if (!ctx.text) return false;
    }
    if (!import.xvlImpOpen(ctx.text, rejectName)) return false;
    // A file read as Windows-1252 is said to be, on screen, with its first line that is not UTF-8.
    if (ctx.progress && ctx.progress->encoding_note.empty())
        ctx.progress->encoding_note = xvl::Windows1252Note(*ctx.text, ctx.entry.path);
    return true;
}

bool xvConvert::ReadRecords(ConvertContext& ctx, const std::function<bool(xvl::xvlImpInfo&, int)>& process) {
    return ReadImport(ctx, false, process);
}

bool xvConvert::ReadGroups(ConvertContext& ctx, const std::function<bool(xvl::xvlImpInfo&, int)>& process) {
    return ReadImport(ctx, true, process);
}

bool xvConvert::ReadImport(ConvertContext& ctx, bool groups,
                           const std::function<bool(xvl::xvlImpInfo&, int)>& process) {
    xvl::xvlImport& import = *ctx.import;
    // The message list is emptied before each read: the substitution callback adds to it while
    // the import reads the record.
    xvl::xvlImpInfo info;
    // The progress window's status line says what is going on; a converter's own passes
    // write theirs over it.
    if (ctx.progress && ctx.progress->status_text.empty())
        (void)ctx.progress->SetStatusText(ctx.converting ? "Converting records" : "Examining records", -1);
    while (true) {
        ctx.messages.clear();
        const int status = groups ? import.xvlImportNextGroup(info) : import.xvlImportNextRec(info);
        if (status == 2) break;
        if (!process(info, status)) return false;
        if (!UpdateProgress(ctx, info.PercentDone()))
            return EndFileStopped(ctx);
    }
    // Done: the text file is closed, not stamped.
    if (!UpdateProgress(ctx, 100)) return EndFileStopped(ctx);
    import.xvlImpTimeStampAndCloseFile(false, true, "");
    return true;
}

bool xvConvert::HandleRecord(ConvertContext& ctx, int status, xvl::xvlImpInfo& info) {
    xvl::xvlImport& import = *ctx.import;
    // A record the converter drops on purpose is neither counted nor reported.
    if (!CountRecord(ctx, info, status)) return true;
    ++ctx.recordsRead;
    std::string reason;
    bool accepted = false;
    const int extra = info.RecExtraData();
    const uint16_t file = info.FileNumUsed();

    if (status == 1) {
        reason = info.Message();
        AppendReasonCode(reason, info.Error());
        ImportRejected(ctx, info, reason);
    } else {
        ctx.storeRecord = true;
        if (IsUserFieldsRecord(extra) && ctx.profile.writeUserFields)
            accepted = WriteUserFields(import, info, reason);
        else if (IsNotesRecord(extra))
            accepted = SaveNotes(file, info.ImportedRecs(), info.FormatID(), import, reason, ctx.converting);
        else
            accepted = DispatchRecord(ctx, info, reason);
        if (ctx.ended) return false;  // the handler ended the file (reported and restored)
        if (accepted && extra <= 50 && ctx.storeRecord) {
            const auto permissions = static_cast<uint16_t>(import.xvlImpGetPermissions(info.FormatID()));
            const auto notes = info.ImportedNotes()
                                   ? import.xvlImpGetSpecialValue(info.FormatID(), "Converted Notes")
                                   : std::nullopt;
            if (ctx.converting) {
                bool diskFull = false;
                accepted = WriteRecord(file, info, reason, notes ? &*notes : nullptr, permissions, diskFull, false);
                if (!accepted && diskFull) return EndFile(ctx, OutOfDiskSpace(ctx), true, true);
            } else if (ctx.profile.examineRecords) {
                accepted = ExamineRecord(file, info, reason, ExamineValue(ctx, info), permissions,
                                         notes ? &*notes : nullptr);
            }
            if (accepted) {
                RecordWritten(ctx, info);
                if (ctx.ended) return false;  // the after-write step ended the file
            }
        }
    }

    return FinishRecord(ctx, status, info, accepted, reason);
}

bool xvConvert::FinishRecord(ConvertContext& ctx, int status, xvl::xvlImpInfo& info, bool accepted,
                             const std::string& reason, int32_t copiedAt) {
    const int extra = info.RecExtraData();
    const uint16_t file = info.FileNumUsed();
    const auto recordKey = static_cast<int16_t>(extra != 0 ? extra : info.ImportedRecs());
    if (!accepted) {
        // A handler's write that ran out of disk ends the file rather than reject one line.
        if (std::exchange(handlerDiskFull_, false)) return EndFile(ctx, OutOfDiskSpace(ctx), true, true);
        // A rejected line leaves no record held for update.
        if (status == 0 && file != 0) {
            if (info.ReplaceRecord()) xio_unlock_record(file, info.ImportedRecs(), 1);
            if (info.UDRecordLocked()) xio_unlock_record(file, info.UDRecordLocked(), 1);
        }
        // A record is counted as rejected once the reject file holds it: one it could not take
        // was read, and the file's ending says why it is nowhere.
        int32_t rejectLine = copiedAt;
        if (copiedAt < 0 && !ctx.import->xvlRecToRejectFile(rejectLine)) return EndFile(ctx, RejectFailure(ctx), true, true);
        ++ctx.recordsRejected;
        ctx.report->AddRecordTypeTotals(static_cast<int16_t>(file), recordKey, true, true, false, false, 0);
        ctx.rejectLine = rejectLine;
        const int32_t line = ctx.converting ? rejectLine : info.StartLine();
        if (!ctx.report->PrintReportLine(info.FormatID(), line, reason)) return EndFile(ctx, PrintFailure(ctx, 12010), true, true);
        return true;
    }
    ctx.report->AddRecordTypeTotals(static_cast<int16_t>(file), recordKey, true, false, true, false,
                                    static_cast<uint16_t>(ctx.messages.size()));
    // Converted files receive their time stamp as line 2, so later lines move down by one.
    const auto line = static_cast<uint32_t>(info.StartLine() + (ctx.converting ? 1 : 0));
    if (!ctx.notes->PrintRecordMessages(info.FormatID(), line, ctx.messages, ctx.progress, info.ImportedRecs(), file,
                                        this))
        return EndFile(ctx, PrintFailure(ctx, 12012), true, true);
    return true;
}

// ---- Prefill -----------------------------------------------------------------------------------

void xvConvert::RunPrefill(OpenFilesList& list, const TextFileEntry& entry, ConvertProgress* progress,
                           const ConverterProfile& profile, xvl::PrefillCB callback, void* prefillContext,
                           const PrefillRecordHook& perRecord) {
    const uint16_t handle = FindFileHandle(list, profile.abbreviation, profile.fileNo);
    if (progress && !progress->SetCurrentFile(entry.path, list, profile.abbreviation, profile.fileNo, false)) return;

    std::string templatePath;
    GetTextFileTemplate(entry.path, templatePath);
    if (templatePath.empty()) {
        ui::current().message(102, Msg(12051, entry.path));
        return;
    }
    xvl::xvlImpTemplate tpl;
    if (tpl.xvlImpTemplateCreate(templatePath, list) != 0) {
        ui::current().message(102, Msg(12060, templatePath, entry.path));
        return;
    }
    for (const auto& f : profile.DataFiles()) {
        if (f.checked && FindFileHandle(list, f.abbreviation, f.fileNo) == 0) {
            ui::current().message(102, Msg(12006, profile.DescriptionOf(f.abbreviation, f.fileNo)));
            return;
        }
    }
    if (handle == 0) {
        ui::current().message(102, Msg(12006, profile.DescriptionOf(profile.abbreviation, profile.fileNo)));
        return;
    }
    xvl::xvlImport import(tpl);
    import.xvlSetAcceptLongText(true);
    import.xvlSetClearExtendedFields(true);
    import.xvlChangeRepToWrRep(true);  // reading only: records to modify need not exist
    if (!import.xvlImpFileNames(entry.path, "")) {
        ui::current().message(102, Msg(12007, entry.path.substr(0, 60)));
        return;
    }
    import.xvlSetPrefillCB(callback, prefillContext);

    uint32_t records = 0, errors = 0;
    xvl::xvlImpInfo info;
    for (int status = import.xvlImportNextRec(info); status != 2; status = import.xvlImportNextRec(info)) {
        ++records;
        bool failed = status == 1;
        if (perRecord && !perRecord(import, info, status)) failed = true;
        if (failed) ++errors;
        if (progress && !progress->SetPosition(records, errors, static_cast<int16_t>(info.PercentDone()))) break;
    }
    // A file read as Windows-1252 is said to be, as a conversion of it says it.
    if (progress && import.Source()) progress->encoding_note = xvl::Windows1252Note(*import.Source(), entry.path);
    import.xvlImpTimeStampAndCloseFile(false, true, "");
    // Whatever a prefill may have staged in a data file is dropped: prefill writes nothing.
    for (const auto& e : list)
        if (e.handle) (void)xio_rollback(e.handle);  // fails only with the connection broken
}

}  // namespace dz::convert
