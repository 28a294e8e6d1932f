// The test converter: a converter of the test data file TCV that follows the common sequence
// and lets each test steer its handler (messages, a full disk, the operator's stop).
#pragma once

#include "convert/convert_file.h"
#include "convert/progress.h"
#include "platform/datafile/store.h"
#include "platform/datafile/xio.h"
#include "platform/import/xvl_import.h"
#include "platform/suite/zc.h"
#include "platform/ui/own_files.h"
#include "platform/ui/print.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <fcntl.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace dz::convert::testing {

class TestConverter : public xvConvert {
public:
    bool OpenFiles(OpenFilesList& list, uint16_t commandId, uint16_t& error) override {
        return OpenDataFile("TCV", 1, 0, 0, list, commandId, error, false);
    }

    void ConvertFile(OpenFilesList& list, const TextFileEntry& entry, ConvertProgress* progress, int printDef,
                     ui::zqTask& task, const std::string& tableName, ConversionOptions* options) override {
        ConvertContext ctx(list, entry, progress, printDef, task, tableName, options);
        RunConvertFile(ctx, Profile());
        suite::zb_term_batch(batch_);
        lastEnded = ctx.ended;
    }

    ConverterProfile Profile() const {
        ConverterProfile profile;
        profile.abbreviation = mainAbbr;
        profile.rejectAbbreviation = rejectAbbr;
        profile.fileNo = 1;
        profile.title = "Test Item File";
        profile.description = "Test Item file";
        profile.dataFiles = dataFiles;
        profile.progressEtc = progressEtc;
        profile.examineRecords = examineRecords;
        profile.writeUserFields = writeUserFields;
        profile.convertingText = "Converting '%s' into Test Item file";
        profile.examiningText = "Examining '%s' for Test Item file";
        return profile;
    }

    void PrefillTables(OpenFilesList& list, const TextFileEntry& entry, ConvertProgress* progress, ui::zqTask&,
                       void* prefillContext) override {
        RunPrefill(list, entry, progress, Profile(), &Collect, prefillContext);
    }

    // The prefill callback of the tests: collects "value/id/section" texts; refuses "LONG".
    static bool Collect(const std::string& value, int16_t fieldId, int16_t section, const std::string&, void* ctx) {
        static_cast<std::vector<std::string>*>(ctx)->push_back(value + "/" + std::to_string(fieldId) + "/" +
                                                               std::to_string(section));
        return value != "LONG";
    }

    bool lastEnded = false;
    bool settingsFail = false;
    bool takeBatch = false;            // converting, each file takes a GL batch number
    std::vector<std::string> batches;  // the batch texts taken, in order
    std::string mainAbbr = "TCV";
    std::string rejectAbbr;  // the profile's rejectAbbreviation
    bool writeTagInHandler = false;  // a handler that writes on its own, even when examining
    bool tagInOther = false;         // each item also writes a tag into OTHER.TCV (file 2)
    // The hooks of the common record loop, as each test sets them.
    std::string settingsFailure;               // LoadSettings' own failure text
    std::vector<ConverterDataFile> dataFiles;  // the profile's data files
    bool progressEtc = false;
    bool examineRecords = true;
    bool writeUserFields = true;
    uint16_t examineValue = 0;          // ExamineValue: this plus the record's line
    std::vector<std::string> written;   // RecordWritten: the codes of the records, in order
    std::string endAfterWrite;          // RecordWritten ends the file after this code's write
    std::vector<std::string> userFieldRecords;  // DispatchRecord saw these user-field records
    // Two readings of the text file, as a converter that gathers before it writes: the first
    // sees every record (`firstPass`) and reports nothing; the second is the common loop, where
    // an item "PAIR" reads the next line ahead and both are rejected as one block.
    bool twoPasses = false;
    std::vector<std::string> firstPass;
    std::vector<int> percents;  // the file's percentage after each record of both readings
    int percentFrom = 0, percentTo = 100;       // the record loop's share of the progress bar
    std::function<void()> onFinish;             // FinishConversion runs it, after the last record

protected:
    bool LoadSettings(ConvertContext& ctx, std::string& failure) override {
        ctx.percentFrom = percentFrom;
        ctx.percentTo = percentTo;
        failure = settingsFailure;
        if (takeBatch && ctx.converting && !settingsFail) {
            suite::zb_batch_request request;
            request.masterFile = ctx.mainHandle;
            request.moduleFiles = {ctx.mainHandle};
            request.recordCallback = [this](const suite::zb_batch_record& r) { batch_ = r; };
            if (suite::zb_process_batch(request) != suite::kTaskStatusOk) return false;
            batches.push_back(batch_.batchText);
        }
        return !settingsFail;
    }

    bool ConvertRecords(ConvertContext& ctx) override {
        if (!twoPasses) return xvConvert::ConvertRecords(ctx);
        ctx.percentFrom = 0;
        ctx.percentTo = 50;
        if (!OpenImport(ctx, false)) return false;
        const bool first = ReadRecords(ctx, [&](xvl::xvlImpInfo& info, int status) {
            if (status == 0 && info.RecExtraData() == 0) firstPass.push_back(Text(info.FileNumUsed(), "CODE"));
            if (ctx.progress) percents.push_back(ctx.progress->file_percent);
            return true;
        });
        if (!first) return false;
        ctx.percentFrom = 50;
        ctx.percentTo = 100;
        if (!OpenImport(ctx, true)) return false;
        return ReadRecords(ctx, [&](xvl::xvlImpInfo& info, int status) {
            if (ctx.progress) percents.push_back(ctx.progress->file_percent);
            aheadRead_ = false;
            if (!HandleRecord(ctx, status, info)) return false;
            if (!aheadRead_) return true;
            // The line read ahead went to the reject file with the one before it.
            return FinishRecord(ctx, aheadStatus_, ahead_, false, "Its partner was refused(996)",
                                ctx.converting ? ctx.rejectLine + (ahead_.StartLine() - info.StartLine()) : 0);
        });
    }

    bool FinishConversion(ConvertContext&) override {
        if (onFinish) onFinish();
        return true;
    }

    // A record whose first column after the format id is "SKIP" is dropped before it counts.
    bool CountRecord(ConvertContext&, xvl::xvlImpInfo& info, int status) override {
        if (status != 0 || info.RecExtraData() != 0) return true;
        return Text(info.FileNumUsed(), "CODE") != "SKIP";
    }

    uint16_t ExamineValue(ConvertContext&, const xvl::xvlImpInfo& info) override {
        return static_cast<uint16_t>(examineValue + info.StartLine());
    }

    // A record whose code is `endAfterWrite` ends the file once it was written.
    void RecordWritten(ConvertContext& ctx, xvl::xvlImpInfo& info) override {
        const std::string code = Text(info.FileNumUsed(), "CODE");
        written.push_back((ctx.converting ? "W:" : "E:") + code);
        if (ctx.converting && !endAfterWrite.empty() && code == endAfterWrite)
            EndFile(ctx, "The after-write step failed(998)", true, true);
    }

    // Items: a name starting "WARN" earns one message per letter after it; "FULL" fills the
    // disk; "STOP" asks to stop after this record; "DROPNOTES" loses the notes print file;
    // "BAD" is refused by the handler, "REJECTFULL" too, onto a full disk, "REJECTGONE" too,
    // with its reject file's name taken by a folder before the file is made; "ENDFILE" ends the
    // file from the handler.
    bool DispatchRecord(ConvertContext& ctx, xvl::xvlImpInfo& info, std::string& reason) override {
        if (info.RecExtraData() >= 1 && info.RecExtraData() <= 49) {
            userFieldRecords.push_back(Text(info.FileNumUsed(), "CODE"));
            ctx.storeRecord = false;  // nothing of it is written
            return true;
        }
        if (info.ImportedRecs() != 1) return xvConvert::DispatchRecord(ctx, info, reason);
        x_value_def name;
        xio_get_field(info.FileNumUsed(), 1, xio_num(info.FileNumUsed(), XIO_NUM_RECORD, 1, "NAME"), name);
        if (name.text.rfind("WARN", 0) == 0)
            for (std::size_t i = 4; i < name.text.size(); ++i) ctx.messages.push_back("Warning " + name.text.substr(i, 1));
        if (name.text == "FULL") FillDisk(info.FileNumUsed());
        if (name.text == "STOP" && ctx.progress) ctx.progress->stop = 1;
        if (name.text == "DROPNOTES") ui::zp_cls_print_file(ctx.commandId, 201);  // the notes cannot print
        if (writeTagInHandler) {
            const uint16_t h = info.FileNumUsed();
            xio_init_record(h, 3);
            x_value_def tag;
            tag.text = "BY" + name.text.substr(0, 8);
            xio_put_field(h, 3, xio_num(h, XIO_NUM_RECORD, 3, "TCODE"), tag);
            EXPECT_EQ(xio_wr_record(h, 3), XIO_OK);
        }
        if (tagInOther && ctx.converting) {
            const uint16_t h = FindFileHandle(ctx.files, "TCV", 2);
            xio_init_record(h, 3);
            x_value_def tag;
            tag.text = Text(info.FileNumUsed(), "CODE");
            xio_put_field(h, 3, xio_num(h, XIO_NUM_RECORD, 3, "TCODE"), tag);
            EXPECT_EQ(xio_wr_record(h, 3), XIO_OK);
        }
        if (name.text == "PAIR" && twoPasses && ctx.import) {
            aheadStatus_ = ctx.import->xvlImportNextRec(ahead_);
            aheadRead_ = aheadStatus_ != 2;
            ++ctx.recordsRead;
            reason = "The pair was refused(997)";
            return false;
        }
        if (name.text == "REJECTFULL") {  // refused, onto a reject file whose disk is full
            AimAtFullDevice(ctx.rejectName);
            reason = "The handler refused this item(999)";
            return false;
        }
        if (name.text == "REJECTGONE") {  // refused, where no reject file can be made any more
            files::drop_claimed_file(ctx.rejectName);
            std::filesystem::create_directory(ctx.rejectName);
            reason = "The handler refused this item(999)";
            return false;
        }
        if (name.text == "BAD") {
            reason = "The handler refused this item(999)";
            return false;
        }
        if (name.text == "ENDFILE") return EndFile(ctx, "The handler ended this file", true, true);
        if (name.text == "OWNWRITE" && ctx.converting) {  // a write of the handler's own that must not fail
            const uint16_t h = info.FileNumUsed();
            xio_init_record(h, 3);
            x_value_def tag;
            tag.text = "OWN";
            xio_put_field(h, 3, xio_num(h, XIO_NUM_RECORD, 3, "TCODE"), tag);
            if (xio_wr_record(h, 3) != XIO_OK) return EndFile(ctx, DataFileFailure(ctx), true, true);
        }
        return true;
    }

private:
    suite::zb_batch_record batch_;
    xvl::xvlImpInfo ahead_;
    int aheadStatus_ = 0;
    bool aheadRead_ = false;

    static std::string Text(uint16_t handle, const char* field) {
        x_value_def v;
        xio_get_field(handle, 1, xio_num(handle, XIO_NUM_RECORD, 1, field), v);
        return v.text;
    }

    // Points the descriptor open on `path` (the reject file claimed for the run) at the full
    // device, so that its next write finds the disk full.
    static void AimAtFullDevice(const std::string& path) {
        std::error_code ec;
        const std::filesystem::path target = std::filesystem::canonical(path, ec);
        const int device = ::open("/dev/full", O_WRONLY);
        for (const auto& e : std::filesystem::directory_iterator("/proc/self/fd", ec)) {
            if (device >= 0 && std::filesystem::read_symlink(e.path(), ec) == target) {
                ASSERT_GE(::dup2(device, std::stoi(e.path().filename().string())), 0);
            }
        }
        if (device >= 0) ::close(device);
    }

    // Holds the data file at its present size, so the next growing write finds the disk full.
    static void FillDisk(uint16_t handle) {
        sqlite3_stmt* st = nullptr;
        int pages = 0;
        if (sqlite3_prepare_v2(xio::connection(handle), "PRAGMA page_count", -1, &st, nullptr) == SQLITE_OK &&
            sqlite3_step(st) == SQLITE_ROW)
            pages = sqlite3_column_int(st, 0);
        sqlite3_finalize(st);
        xio::set_max_pages(handle, pages);
    }
};

}  // namespace dz::convert::testing
