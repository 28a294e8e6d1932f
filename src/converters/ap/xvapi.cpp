#include "converters/ap/xvapi.h"

#include "convert/platform_links.h"
#include "convert/progress.h"
#include "convert/record_fields.h"
#include "platform/datafile/xio.h"
#include "platform/import/xvl_case.h"
#include "platform/import/xvl_import.h"
#include "platform/suite/company.h"
#include "platform/suite/control.h"
#include "platform/ui/framework.h"

#include <cmath>
#include <vector>

namespace dz::ap {

using convert::ConvertContext;
using convert::ConverterDataFile;
using convert::ConverterProfile;
using convert::FindFileHandle;
using convert::GetDate;
using convert::GetNumber;
using convert::GetText;
using convert::HeaderFieldNo;
using convert::Msg;

namespace {

constexpr uint16_t kApSettingsHeader = 2;
constexpr int kApToCmOption = 1160;

// The profile as this run has it: the CM transaction file is backed up only when it is open
// (it is required when AP creates CM entries), the tax master only when it is open; the GL and
// JC masters are read, and required when AP interfaces with them.
ConverterProfile RunProfile(ConverterProfile p, const convert::OpenFilesList& files) {
    for (auto& f : p.dataFiles) {
        const bool open = FindFileHandle(files, f.abbreviation, f.fileNo) != 0;
        if (f.abbreviation == "CMT") {
            f.backedUp = f.restored = open;
            f.checked = suite::zc_create_entries("AP", "CM") != 0;
        } else if (f.abbreviation == "GLM" || f.abbreviation == "JCM") {
            f.checked = suite::zc_interface_active("AP", f.abbreviation.substr(0, 2)) != 0;
        }
    }
    if (FindFileHandle(files, "TXM", 1) == 0)
        std::erase_if(p.dataFiles, [](const ConverterDataFile& f) { return f.abbreviation == "TXM"; });
    return p;
}

bool InTablesTask(uint16_t commandId) {
    const ui::zqApplication* app = ui::zqApplication::instance();
    const ui::zqTask* task = app ? app->FindTask(commandId) : nullptr;
    return task && xvl::equalNoCase(task->Name(), "Substitution Tables");
}

int HeaderResult(uint16_t apm, const char* name) {
    return xio_get_field_result(apm, 0, HeaderFieldNo(apm, kApSettingsHeader, name));
}

uint16_t HeaderWord(uint16_t apm, const char* name) {
    return static_cast<uint16_t>(convert::Whole(GetNumber(apm, HeaderFieldNo(apm, kApSettingsHeader, name))));
}

}  // namespace

ConverterProfile xvAPI::Profile() const {
    ConverterProfile p;
    p.abbreviation = "APM";
    p.fileNo = 1;
    p.fileCode = 30;
    p.title = "AP Master File";
    p.description = "AP Master file";
    p.rejectAbbreviation = "API";
    p.convertingText = "Converting '%s' into AP Master file";
    p.examiningText = "Examining '%s' for AP Master file";
    p.progressEtc = true;
    p.examineRecords = false;   // groups are examined whole (ExamineGroup)
    p.writeUserFields = false;  // no custom-field records in AP invoice files
    p.dataFiles = {ConverterDataFile::Owned("APM", 1, 30, "AP Master file"),
                   ConverterDataFile::Owned("CMM", 1, 20, "CM Master file"),
                   ConverterDataFile::Owned("APT", 1, 36, "AP Transaction file"),
                   ConverterDataFile::Owned("CMT", 1, 22, "CM Transaction file"),
                   ConverterDataFile::Owned("TXM", 1, 38, "TX master file"),
                   ConverterDataFile::ReadOnly("GLM", 1, 1, "GL Master file"),
                   ConverterDataFile::ReadOnly("JCM", 1, 10, "JC Master file")};
    p.alsoOpened = {ConverterDataFile::Owned("API", 1, 32, "AP new invoice file"),
                    ConverterDataFile::ReadOnly("API", 2, 33, "AP history invoice file")};
    return p;
}

xvAPI::xvAPI() {
    ResetFileState();
    YREND = GYREND = {};
}

xvAPI::~xvAPI() { suite::zb_term_batch(batchRecord_); }

// ---- Files --------------------------------------------------------------------------------------

bool xvAPI::OpenFiles(convert::OpenFilesList& list, uint16_t commandId, uint16_t& error) {
    if (suite::xa_appl_installed("CM") == 0) return NotInstalled("CMM", 1, 9845, list, error);
    if (!InTablesTask(commandId) && !convert::CheckInterfaceWarning("AP", "CM", kApToCmOption)) {
        error = 9846;
        return false;
    }
    if (!OpenDataFile("APM", 1, 30, 0, list, commandId, error, false) ||
        !OpenDataFile("CMM", 1, 20, 0, list, commandId, error, false) ||
        !OpenDataFile("APT", 1, 36, 1, list, commandId, error, false))
        return false;
    if (suite::zc_create_entries("AP", "CM") != 0 && !OpenDataFile("CMT", 1, 22, 1, list, commandId, error, false))
        return false;
    if (suite::zc_interface_active("AP", "GL") != 0 && !OpenDataFile("GLM", 1, 1, 0, list, commandId, error, false))
        return false;
    if (suite::zc_interface_active("AP", "JC") != 0 && !OpenDataFile("JCM", 1, 10, 0, list, commandId, error, false))
        return false;
    if (!OpenDataFile("API", 1, 32, 1, list, commandId, error, false)) return false;

    const uint16_t apm = FindFileHandle(list, "APM", 1);
    if (apm == 0 || xio_rd_header(apm, kApSettingsHeader, 0) != XIO_OK) return true;
    const bool history = HeaderResult(apm, "VRFYHST") == 1;
    const bool taxes = HeaderWord(apm, "TAXUSE") != 1;
    xio_free_header(apm, kApSettingsHeader);
    // The history-invoice file may be missing: it is then not searched.
    if (history && !OpenDataFile("API", 2, 33, 0, list, commandId, error, true)) return false;
    if (error == XIO_OPTIONAL_ABSENT) error = 0;
    if (taxes && !OpenDataFile("TXM", 1, 38, 1, list, commandId, error, false)) return false;
    return error == 0;
}

// ---- The sequence ---------------------------------------------------------------------------------

void xvAPI::ConvertFile(convert::OpenFilesList& list, const convert::TextFileEntry& entry,
                        convert::ConvertProgress* progress, int printDef, ui::zqTask& task,
                        const std::string& tableName, convert::ConversionOptions* options) {
    ConvertContext ctx(list, entry, progress, printDef, task, tableName, options);
    const suite::Company* company = suite::current_company();
    company_ = company ? company->folder().string() : std::string();
    clearingRun_ = false;
    RunConvertFile(ctx, RunProfile(Profile(), list));
    // A batch once registered is ended whichever way the file ended.
    suite::zb_term_batch(batchRecord_);
    // Payment numbers and the clearing of paid totals belong to committed conversions only: a
    // file that ended early had its data files (LASTPMT included) restored.
    const bool committed = ctx.converting && !ctx.ended;
    if (committed) {
        PaymentNumberCache::Program().CommitFile();
        if (clearingRun_ && options) options->paidTotalsMode = 2;
    } else {
        PaymentNumberCache::Program().DropFile();
    }
}

bool xvAPI::SetUpBatch(ConvertContext& ctx, std::string& failure) {
    const uint16_t cmt = FindFileHandle(ctx.files, "CMT", 1);
    suite::zb_batch_request request;
    request.module = suite::BatchModule::AP;
    request.taskId = ctx.commandId;
    request.masterFile = ctx.mainHandle;
    request.appCode = "XV";
    request.moduleFiles = {ctx.mainHandle, cmt};
    request.recordCallback = [this](const suite::zb_batch_record& record) { batchRecord_ = record; };
    if (suite::zb_process_batch(request) == suite::kTaskStatusFailed) return false;
    batchText = batchRecord_.batchText;
    const uint16_t apt = FindFileHandle(ctx.files, "APT", 1);
    bool unraisable = false;
    apmRun = suite::zc_next_run(ctx.commandId, ctx.mainHandle, &unraisable);
    aptRun = apmRun ? suite::zc_next_run(ctx.commandId, apt, &unraisable) : 0;
    cmtRun = cmt && aptRun ? suite::zc_next_run(ctx.commandId, cmt, &unraisable) : 0;
    // A run number of 0 would post under keys that other runs may hold: the file ends before any
    // record (and the numbers taken go back with everything the settings took).
    if (apmRun != 0 && aptRun != 0 && (cmt == 0 || cmtRun != 0)) return true;
    if (unraisable) failure = Msg(12016);
    return false;
}

bool xvAPI::LoadSettings(ConvertContext& ctx, std::string& failure) {
    convert::ForgetFieldNumbers();
    lastPaymentNumber_ = {};  // the numbers belong to one text file
    lastCheckKey_ = {};       // so do the key texts, whose formats are the company's
    // The batch comes first: it is ended whatever happens from here on.
    if (ctx.converting && !SetUpBatch(ctx, failure)) return false;  // 12011, or 12016 (run number)

    // 1. The run options. Paid-totals mode 1 clears the vendors' totals for the first file of
    // the run only; the caller's record turns to 2 once this file's conversion is committed.
    if (const convert::ConversionOptions* o = ctx.options) {
        paidTotalsMode = o->paidTotalsMode;
        dupInvoiceMode = o->dupInvoiceMode;
        clearedThrough = o->clearDate;
        statementDate = o->statementDate;
    }
    clearingRun_ = ctx.converting && paidTotalsMode == 1;

    // 2, 3. The accounting method and the AP settings.
    suite::xc_control_def control;
    suite::xc_get_control_def(control);
    controlValue = control.accountingMethod;
    const uint16_t apm = ctx.mainHandle;
    if (xio_rd_header(apm, kApSettingsHeader, 0) != XIO_OK) return false;
    auto text = [&](const char* name) { return GetText(apm, HeaderFieldNo(apm, kApSettingsHeader, name)); };
    auto choice = [&](const char* name) { return static_cast<uint16_t>(HeaderResult(apm, name)); };
    GLOJRN = HeaderWord(apm, "GLOJRN");
    BNKMTHD = HeaderWord(apm, "BNKMTHD");
    DTRCVU = HeaderWord(apm, "DTRCVU");
    PMTDTU = HeaderWord(apm, "PMTDTU");
    ACCDTU = HeaderWord(apm, "ACCDTU");
    DTBASE = HeaderWord(apm, "DTBASE");
    DSCLVL = HeaderWord(apm, "DSCLVL");
    MDLVL = HeaderWord(apm, "MDLVL");
    TAXUSE = HeaderWord(apm, "TAXUSE");
    GLPJRN = HeaderWord(apm, "GLPJRN");
    USEICD1 = choice("USEICD1");
    USEICD2 = choice("USEICD2");
    USEAPVL = choice("USEAPVL");
    MD1099 = choice("MD1099");
    PRF1099 = choice("PRF1099");
    YREND = GetDate(apm, HeaderFieldNo(apm, kApSettingsHeader, "YREND"));
    GYREND = GetDate(apm, HeaderFieldNo(apm, kApSettingsHeader, "GYREND"));
    DFLTTAX = text("DFLTTAX");
    GLSBPBL = text("GLSBPBL");
    GLAPPBL = text("GLAPPBL");
    GLRTPBL = text("GLRTPBL");
    GLMDED = text("GLMDED");
    DFLTBNK = text("DFLTBNK");
    GLDTO = text("GLDTO");
    GLDFROM = text("GLDFROM");
    GLDSC = text("GLDSC");
    GLPPS = text("GLPPS");
    xio_free_header(apm, kApSettingsHeader);

    // 4-6. The interfaces.
    const uint16_t glm = FindFileHandle(ctx.files, "GLM", 1);
    const uint16_t jcm = FindFileHandle(ctx.files, "JCM", 1);
    glInterface = suite::zc_interface_active("AP", "GL") != 0 && glm != 0;
    jcInterface = extrasTracked = categoriesUsed = false;
    if (suite::zc_interface_active("AP", "JC") != 0 && jcm != 0) {
        jcInterface = true;
        if (xio_rd_header(jcm, 2, 0) != XIO_OK) return false;
        extrasTracked = xio_get_field_result(jcm, 0, HeaderFieldNo(jcm, 2, "PTRACKX")) == 2;
        categoriesUsed = xio_get_field_result(jcm, 0, HeaderFieldNo(jcm, 2, "CCATUSG")) != 2;
        xio_free_header(jcm, 2);
    }
    billingInterface = suite::zc_interface_active("AP", "BL") != 0;

    // Taxes in use need the tax master.
    if (TAXUSE != 1 && FindFileHandle(ctx.files, "TXM", 1) == 0) {
        failure = Msg(12006, "Tax Master file");
        return false;
    }
    return true;
}

double xvAPI::GetPaymentNumber(uint16_t apm, const std::string& bank, double check) {
    PaymentNumberCache& cache = PaymentNumberCache::Program();
    const bool converting = group_ ? group_->converting : true;
    // A check's payments come one after another, and a number once given stays the check's for
    // the text file: the last answer is kept for the next payment of the same check.
    LastPaymentNumber& last = lastPaymentNumber_;
    if (last.number != 0 && last.apm == apm && last.converting == converting && last.check == check && last.bank == bank)
        return last.number;
    const double number =
        converting ? cache.Take(apm, company_, bank, check) : cache.Provisional(apm, company_, bank, check);
    if (number != 0) last = {apm, converting, bank, check, number};
    return number;
}

// ---- Prefill ---------------------------------------------------------------------------------

void xvAPI::PrefillTables(convert::OpenFilesList& list, const convert::TextFileEntry& entry,
                          convert::ConvertProgress* progress, ui::zqTask&, void* prefillContext) {
    // Every record is read on its own: no groups are declared for prefill.
    RunPrefill(list, entry, progress, RunProfile(Profile(), list), prefillCallback, prefillContext);
}

}  // namespace dz::ap
