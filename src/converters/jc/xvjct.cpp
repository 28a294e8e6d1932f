#include "converters/jc/xvjct.h"

#include "converters/jc/jcm_fields.h"
#include "converters/jc/xvjcm.h"

#include "modules/entries.h"
#include "platform/datafile/stored_number.h"
#include "platform/datafile/xio.h"
#include "platform/import/xvl_import.h"
#include "platform/suite/control.h"

#include <cmath>
#include <filesystem>

namespace dz::jc {

using namespace convert;

using convert::ConvertContext;
using convert::ConverterProfile;

namespace {

namespace fs = std::filesystem;

constexpr const char* kConversionName = "JC Transaction";
constexpr const char* kCustomFields = "Custom fields are not supported in JC Transaction conversions";

}  // namespace

uint16_t JctFileNumber() {
    suite::xc_control_def def;
    return suite::xc_get_control_def(def) && (def.appCodeBit0 & 1) != 0 ? 7 : 6;
}

ConverterProfile xvJCT::Profile() const {
    const uint16_t n = JctFileNumber();
    ConverterProfile p;
    p.abbreviation = "JCT";
    p.fileNo = n;
    p.title = "JC Transaction File";
    p.description = "JC Transaction file";
    p.convertingText = "Converting '%s' into JC Transaction file";
    p.examiningText = "Examining '%s' for JC Transaction file";
    auto jct = convert::ConverterDataFile::Owned("JCT", n, 12, p.description);
    jct.openFlag = 1;
    jct.openOrder = 1;
    // The JC master file is only read: neither backed up nor restored, but it must be open.
    p.dataFiles = {jct, convert::ConverterDataFile::ReadOnly("JCM", 1, 10, "JC Master file")};
    // Every transaction is new (the conversion numbers it): Examine Files judges it by its
    // checks alone, with no key to look up and no record-ID text to keep.
    p.examineRecords = false;
    p.keepRecordIds = false;
    // Records of custom fields are refused by DispatchRecord.
    p.writeUserFields = false;
    return p;
}

xvJCT::~xvJCT() {
    if (dateContext) modules::JC_FREE_DATE(&dateContext);
    suite::zb_term_batch(batchRecord_);
}

// ---- Files, the sequence and settings -----------------------------------------------------------

void xvJCT::ConvertFile(convert::OpenFilesList& list, const convert::TextFileEntry& entry,
                        convert::ConvertProgress* progress, int printDef, ui::zqTask& task,
                        const std::string& tableName, convert::ConversionOptions* options) {
    // The report and the task line name the transaction file itself (CURRENT.JCT or HISTORY.JCT),
    // which tells the two files apart.
    ConverterProfile profile = Profile();
    xio_file_def def;
    if (const uint16_t h = convert::FindFileHandle(list, "JCT", profile.fileNo); h != 0 && xio_get_def(h, def) == XIO_OK) {
        profile.title = fs::path(def.path).filename().string();
        profile.convertingText = "Converting '%s' into " + profile.title;
        profile.examiningText = "Examining '%s' for " + profile.title;
    }
    ConvertContext ctx(list, entry, progress, printDef, task, tableName, options);
    RunConvertFile(ctx, profile);
    // A batch once registered is ended whichever way the file ended: stopped, failed or converted.
    suite::zb_term_batch(batchRecord_);
}

bool xvJCT::LoadSettings(ConvertContext& ctx, std::string& failure) {
    jcMasterFile = convert::FindFileHandle(ctx.files, "JCM", 1);
    sequenceNumber = 0;
    jobLevels_.clear();
    standardCategories_.clear();
    txHandle_ = 0;
    zeroChecked_.clear();
    zeroValid_ = false;
    // 12011, or 12016 for a run number that cannot be raised; nothing written.
    if (ctx.converting && !SetUpBatch(ctx, failure)) return false;
    // 12011: the file ends before any record, and the run number taken goes back with it.
    return ReadSettings(jcMasterFile, ctx.commandId);
}

bool xvJCT::SetUpBatch(ConvertContext& ctx, std::string& failure) {
    suite::zb_batch_request request;
    request.module = suite::BatchModule::JC;
    request.taskId = ctx.commandId;
    request.masterFile = jcMasterFile;
    request.appCode = "XV";
    request.moduleFiles = {ctx.mainHandle};
    request.recordCallback = [this](const suite::zb_batch_record& record) { BatchRecordCallback(record); };
    request.endCallback = &xvJCT::BatchNullCallback;
    if (suite::zb_process_batch(request) == suite::kTaskStatusFailed) return false;
    batchName = batchRecord_.batchText;
    // Run 0 would post under keys that belong to no run.
    bool unraisable = false;
    runNumber = suite::zc_next_run(ctx.commandId, ctx.mainHandle, &unraisable);
    if (unraisable) failure = convert::Msg(12016);
    return runNumber != 0;
}

void xvJCT::BatchRecordCallback(const suite::zb_batch_record& record) { batchRecord_ = record; }

bool xvJCT::ReadSettings(uint16_t jcm, uint16_t commandId) {
    if (xio_rd_header(jcm, kHdrSettings, 0) != XIO_OK) return false;
    auto num = [&](const char* name) { return GetNumber(jcm, HeaderFieldNo(jcm, kHdrSettings, name)); };
    // AR keeps the billing level per job; without it the JC settings give the default.
    defaultBillingLevel = kNoBillingLevel;
    if (!suite::xa_appl_installed("AR") || !xio_file_exists("ARM", XIO_EXISTS_MASTER))
        defaultBillingLevel = xio_whole_part<uint16_t>(num("PBLEVEL"), kNoBillingLevel);
    extrasTracked = num("PTRACKX") == 2;
    categoriesUsed = num("CCATUSG") != 2;
    periodsUsed = num("CPERSIZ") != 5;
    xio_free_header(jcm, kHdrSettings);
    if (dateContext) modules::JC_FREE_DATE(&dateContext);
    modules::JC_INIT_DATE(&dateContext, commandId, jcm);
    return true;
}

// ---- Records ----------------------------------------------------------------------------------

bool xvJCT::DispatchRecord(ConvertContext& ctx, xvl::xvlImpInfo& info, std::string& reason) {
    const int extra = info.RecExtraData();
    if (convert::IsUserFieldsRecord(extra)) {
        reason = kCustomFields;
        return false;
    }
    if (info.ImportedRecs() == kRecJcTransaction && info.FileNumUsed() == ctx.mainHandle)
        return ConvertTransaction(ctx.mainHandle, info, reason, ctx.messages, ctx.converting, *ctx.import);
    return RejectUnknownRecord(info, reason, kConversionName);
}

}  // namespace dz::jc
