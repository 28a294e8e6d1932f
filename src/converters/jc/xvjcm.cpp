#include "converters/jc/xvjcm.h"

#include "converters/jc/jcm_fields.h"

#include "convert/progress.h"
#include "convert/texts.h"
#include "platform/datafile/stored_number.h"
#include "platform/datafile/xio.h"
#include "platform/import/xvl_import.h"
#include "platform/modlibs/jc_cost_code.h"
#include "platform/suite/control.h"
#include "platform/suite/xk.h"
#include "platform/suite/zc.h"
#include "tables/substitution_set.h"

#include <algorithm>
#include <utility>

namespace dz::jc {

using namespace convert;

namespace {

}  // namespace

ConverterProfile xvJCM::Profile() const {
    ConverterProfile p;
    p.abbreviation = "JCM";
    p.fileNo = 1;
    p.fileCode = 1;
    p.title = "JC Master File";
    p.description = "JC Master file";
    p.convertingText = "Converting '%s' into JC Master file";
    p.examiningText = "Examining '%s' for JC Master file";
    return p;
}

const std::array<FieldRun, 5> kJobToExtraRuns = {{
    {"JDESC", "JZIP", "XDESC", "XZIP"},
    {"JSTATUS", "JSTATUS", "XSTATUS", "XSTATUS"},
    {"JESTSD", "JLCUPD", "XESTSD", "XLCUPD"},
    {"JOCNT", "JLSTDRR", "XOCNT", "XLSTDRR"},
    {"JOEST", "JFRMT6", "XOEST", "XFRMT6"},
}};

bool CopyFieldRuns(uint16_t jcm, const FieldRun* runs, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) {
        const FieldRun& r = runs[i];
        const uint16_t jf = FieldNo(jcm, kRecJob, r.jobFirst), jl = FieldNo(jcm, kRecJob, r.jobLast);
        const uint16_t xf = FieldNo(jcm, kRecExtra, r.extraFirst), xl = FieldNo(jcm, kRecExtra, r.extraLast);
        if (!jf || !jl || !xf || !xl || jl < jf || xl - xf != jl - jf) return false;
        for (uint16_t k = 0; k <= jl - jf; ++k) {
            x_value_def v;
            xio_get_field(jcm, kRecJob, static_cast<uint16_t>(jf + k), v);
            xio_put_field(jcm, kRecExtra, static_cast<uint16_t>(xf + k), v);
        }
    }
    return true;
}

bool xvJCM::CopyJobFieldsToExtra(uint16_t jcm) { return CopyFieldRuns(jcm, kJobToExtraRuns.data(), kJobToExtraRuns.size()); }

uint16_t xvJCM::JobBillingLevel(uint16_t jcm, const xvl::xvlImpInfo& info) {
    if (info.RecExtraData() != 0 || info.ImportedRecs() != kRecJob) return 0;
    const double level = GetNumber(jcm, kRecJob, "JBLEVEL");
    return level < 0 ? 0 : static_cast<uint16_t>(level);
}

// ---- Files and settings -----------------------------------------------------------------------

bool xvJCM::LoadSettings(uint16_t jcm, const convert::OpenFilesList& files, convert::NotesReport* notes,
                         convert::ConvertProgress* progress) {
    convert::ForgetFieldNumbers();
    taxMasterFile.Close();
    glMasterFile.Close();
    arMasterFile.Close();
    notesFailed_ = false;
    lookups_.Clear();

    job_ = JobLookup{};
    knownGroups_ = {};
    phaseCode_.clear();
    phaseSplit_ = nullptr;
    costSections_ = modlibs::JcCostCodeSections();
    lineRanges_.Clear();
    costCodes_.Clear();
    zeroPhases_.Clear();
    phaseAmountRuns_.clear();
    lineAmountRuns_.known = false;
    phaseFormat_.known = false;
    ResolvePhaseFields(jcm);
    noteFields_ = {xio_num(jcm, XIO_NUM_RECORD, kRecPhase, "PJOB"), xio_num(jcm, XIO_NUM_RECORD, kRecPhase, "PEXTRA"),
                   xio_num(jcm, XIO_NUM_RECORD, kRecPhase, "PHASE"), xio_num(jcm, XIO_NUM_RECORD, kRecPhase, "PTAXEX"),
                   xio_num(jcm, XIO_NUM_RECORD, kRecCategory, "CTAXEX")};
    haveStdPhases_ = xio_rd_first(jcm, kRecStdPhase, 0, 0) == XIO_OK;
    xio_init_record(jcm, kRecStdPhase);
    amountsMayExist_ = xio_rd_first(jcm, kRecPhase, 0, 0) != XIO_END || xio_rd_first(jcm, kRecCategory, 0, 0) != XIO_END;
    xio_init_record(jcm, kRecPhase);
    xio_init_record(jcm, kRecCategory);
    phaseWritePending_ = false;
    jobsMayChange_ =
        xio_rd_first(jcm, kRecJob, 0, 0) != XIO_END || xio_rd_first(jcm, kRecExtra, 0, 0) != XIO_END;
    jobsMayBill_ = jobsMayChange_;
    xio_init_record(jcm, kRecJob);
    xio_init_record(jcm, kRecExtra);
    jobWritePending_ = false;
    jobPassFields_.known = false;

    // 1, 2. The JC settings.
    if (xio_rd_header(jcm, kHdrSettings, 0) != XIO_OK) return false;
    auto num = [&](const char* name) { return GetNumber(jcm, HeaderFieldNo(jcm, kHdrSettings, name)); };
    customSort1Marked = num("CUSEK1") != 0;
    customSort2Marked = num("CUSEK2") != 0;
    extrasTracked = num("PTRACKX") == 2;
    glRetrievalMethod = xio_whole_part(num("CGLRETM"), 0);
    prefixFromJob = GetFlag(jcm, HeaderFieldNo(jcm, kHdrSettings, "CGLPRFX")) != 0 &&
                    suite::xk_num_sections(suite::kGlAccountFormat) > 0;
    categoriesUsed = num("CCATUSG") != 2;
    periodsUsed = num("CPERSIZ") != 5;
    const char* units[] = {"PTLUNIT", "PTMUNIT", "PTSUNIT", "PTEUNIT", "PTBUNIT", "PTOUNIT"};
    for (std::size_t i = 0; i < unitTracking.size(); ++i) unitTracking[i] = num(units[i]) == 1;
    defaultBillingLevel = xio_whole_part(num("PBLEVEL"), 0);
    const char* levels[] = {"FPAMT1L", "FPAMT2L", "FPAMT3L", "FPAMT4L", "FPAMT5L", "FPAMT6L"};
    for (std::size_t i = 0; i < miscAmountLevels.size(); ++i) miscAmountLevels[i] = xio_whole_part(num(levels[i]), 0);
    arAccount = GetText(jcm, HeaderFieldNo(jcm, kHdrSettings, "CARACC"));
    xio_free_header(jcm, kHdrSettings);

    // A master file from the open-files list, else opened here (and closed by this object).
    auto note = [&](int number) {
        if (progress) progress->messages += 1;
        notesFailed_ = notes && !notes->PrintMessageLine("", 0, Msg(number));
        return !notesFailed_;
    };
    auto open = [&](const char* abbr, convert::SideFile& file) { return file.Open(files, abbr) != 0; };

    // 3. The tax master.
    if (!open("TXM", taxMasterFile) && !note(12222)) return false;

    // 4, 5. Interfaces, and the GL master when job cost posts to GL.
    prInterfacesJc = suite::zc_interface_active("PR", "JC") != 0;
    eqInterfacesJc = suite::zc_interface_active("EQ", "JC") != 0;
    jcInterfacesGl = suite::zc_interface_active("JC", "GL") != 0;
    if (jcInterfacesGl && !open("GLM", glMasterFile) && !note(12221)) return false;

    // 6. The AR master, and whether it tracks taxes.
    arMasterExists = false;
    arTracksTaxes = false;
    if (suite::xa_appl_installed("AR")) {
        arMasterExists = xio_file_exists("ARM", XIO_EXISTS_MASTER);
        if (arMasterExists) {
            if (!open("ARM", arMasterFile)) {
                if (!note(12788)) return false;
            } else if (xio_rd_header(arMasterFile, 2, 0) == XIO_OK) {
                arTracksTaxes = GetNumber(arMasterFile, HeaderFieldNo(arMasterFile, 2, "STAXES")) == 1;
                xio_free_header(arMasterFile, 2);
            } else {
                arTracksTaxes = true;
                if (!note(12788)) return false;
            }
        }
    }

    // 7. Contracts.
    cnSettingsExist = suite::xa_appl_installed("CN") && xio_file_exists("CNS", XIO_EXISTS_SETTING);

    // 8. The tax statuses: the first entry is the default; with more than one it leaves the list.
    taxStatusList.clear();
    defaultTaxStatus = "Taxable";
    const std::string list = suite::xk_get_custom_list(369);
    if (!list.empty()) taxStatusList = suite::cl_string_to_cListContainer(list);
    if (!taxStatusList.empty()) defaultTaxStatus = taxStatusList.front();
    if (taxStatusList.size() > 1) taxStatusList.erase(taxStatusList.begin());
    return true;
}

bool xvJCM::LoadSettings(ConvertContext& ctx, std::string& failure) {
    if (LoadSettings(ctx.mainHandle, ctx.files, ctx.notes.get(), ctx.progress)) return true;
    if (notesFailed_) failure = PrintFailure(ctx, 12012).text;  // else the settings could not be read (12011)
    return false;
}

// ---- Hooks of the common record loop -----------------------------------------------------------

void xvJCM::ImportRejected(ConvertContext& ctx, xvl::xvlImpInfo&, std::string&) {
    if (ctx.substitution) ctx.substitution->ClearPendingExtra();
}

uint16_t xvJCM::ExamineValue(ConvertContext& ctx, const xvl::xvlImpInfo& info) {
    return JobBillingLevel(ctx.mainHandle, info);
}

bool xvJCM::DispatchRecord(ConvertContext& ctx, xvl::xvlImpInfo& info, std::string& reason) {
    const uint16_t jcm = ctx.mainHandle;
    const bool conv = ctx.converting;
    const uint16_t rec = info.FileNumUsed() == jcm ? info.ImportedRecs() : 0;
    taxFilled_ = false;
    SettlePendingPhase();
    SettlePendingJob();
    // An extra line may leave an extra (and its job's mark) on file, whatever becomes of it.
    if (conv && rec == kRecExtra) jobsMayChange_ = jobsMayBill_ = true;

    // A job substitution that named a new job and an extra turns the job line into an extra of
    // that job; the job itself is not written by this line.
    if (rec == kRecJob && ctx.substitution && ctx.substitution->IsLoaded()) {
        std::string extra;
        const bool split = ctx.substitution->PendingExtraFor(info.StartLine(), FieldNo(jcm, kRecJob, "JOB"), extra) &&
                           !extra.empty();
        ctx.substitution->ClearPendingExtra();
        if (split) {
            if (conv) jobsMayChange_ = jobsMayBill_ = true;
            const std::string job = GetText(jcm, kRecJob, "JOB");
            xio_init_record(jcm, kRecExtra);
            PutText(jcm, kRecExtra, "XJOB", job);
            PutText(jcm, kRecExtra, "EXTRA", extra);
            if (!CopyJobFieldsToExtra(jcm)) return EndFile(ctx, Msg(12008), true, true);
            info.SetImportedRecs(kRecExtra);
            info.SetImportedUDs(0);
            return ConvertExtra(jcm, info, reason, ctx.messages, conv, RecordIds());
        }
    } else if (ctx.substitution) {
        ctx.substitution->ClearPendingExtra();
    }

    switch (rec) {
    case kRecJob:
        if (!ConvertJob(jcm, info, reason, ctx.messages, conv, *ctx.import)) return false;
        jobWritePending_ = conv;
        return true;
    case kRecExtra: return ConvertExtra(jcm, info, reason, ctx.messages, conv, RecordIds());
    case kRecPhase: {
        if (!ConvertPhase(jcm, info, reason, ctx.messages, conv, *ctx.report, RecordIds(), *ctx.import)) return false;
        // A line that goes on to its write can leave its amounts on file and still be rejected
        // (notes or user fields that cannot be written): until the write is accepted, the cost
        // code counts as written with amounts, so that the totals rebuild reads it.
        if (conv) {
            pendingJob_ = xio_get_text(jcm, noteFields_[kNoteJob]);
            pendingExtra_ = xio_get_text(jcm, noteFields_[kNoteExtra]);
            pendingCode_ = xio_get_text(jcm, noteFields_[kNotePhase]);
            phaseWritePending_ = true;
        }
        return true;
    }
    case kRecCategory:
        if (conv) amountsMayExist_ = true;
        return ConvertCategory(jcm, info, reason, ctx.messages, conv, RecordIds(), *ctx.import);
    default: break;
    }
    return RejectUnknownRecord(info, reason, kJcmConversionName, info.FileNumUsed(), false);
}

void xvJCM::SettlePendingPhase() {
    // The last cost code line went to its write and was not accepted: what it left is unknown.
    // Noted now rather than before its write: nothing else is noted in between, and a write
    // that is accepted notes the cost code itself, in place of this note.
    if (!std::exchange(phaseWritePending_, false)) return;
    amountsMayExist_ = true;
    zeroPhases_.Written(pendingJob_, pendingExtra_, pendingCode_, false);
}

const xvJCM::JobLookup& xvJCM::LookUpJob(uint16_t jcm, const std::string& job, bool converting,
                                          const RecordIdMap& ids) {
    if (job_.valid && job_.key == job) return job_;
    job_ = JobLookup{};
    job_.valid = true;
    job_.key = job;
    uint16_t level = 1;
    job_.found = OnFileOrEarlier(jcm, kRecJob, {{"JOB", job}}, converting, ids, &level, &job_.onFile);
    if (job_.onFile) {
        level = xio_whole_part<uint16_t>(GetNumber(jcm, kRecJob, "JBLEVEL"), 0);
        job_.accountGroup = GetNumber(jcm, kRecJob, "JCAGRP");
    }
    job_.level = level;
    return job_;
}

void xvJCM::RecordWritten(ConvertContext& ctx, xvl::xvlImpInfo& info) {
    if (info.RecExtraData() != 0 || info.FileNumUsed() != ctx.mainHandle) return;
    const uint16_t rec = info.ImportedRecs();
    if (rec == kRecJob) {
        if (ctx.converting) {
            jobWritePending_ = false;
            if (!JobPassLeavesAsIs(ctx.mainHandle)) jobsMayChange_ = jobsMayBill_ = true;
            if (JobBills(ctx.mainHandle)) jobsMayBill_ = true;
        }
        job_.valid = false;
        // Converting, the job just written is what its phases would read back: its billing level
        // and account group as the line left them in the buffer.
        if (ctx.converting) {
            const uint16_t jcm = ctx.mainHandle;
            job_.valid = true;
            job_.key = GetText(jcm, kRecJob, "JOB");
            job_.found = job_.onFile = true;
            job_.level = xio_whole_part<uint16_t>(GetNumber(jcm, kRecJob, "JBLEVEL"), 0);
            job_.accountGroup = GetNumber(jcm, kRecJob, "JCAGRP");
        }
    }
    if (rec != kRecPhase && rec != kRecCategory) return;
    if (rec == kRecPhase && ctx.converting) {
        const uint16_t jcm = ctx.mainHandle;
        const bool zero = PhaseAmountsZero(jcm, ctx.import.get(), &info);
        phaseWritePending_ = false;
        if (!zero) amountsMayExist_ = true;
        const std::string& job = xio_get_text(jcm, noteFields_[kNoteJob]);
        const std::string& extra = xio_get_text(jcm, noteFields_[kNoteExtra]);
        const std::string& code = xio_get_text(jcm, noteFields_[kNotePhase]);
        if (const CostCodeMemo::Split* split = PhaseSplit(code))
            zeroPhases_.Written(job, extra, code, zero, split->zeroNumber, split->zeroEpoch);
        else
            zeroPhases_.Written(job, extra, code, zero);
        GroupWritten(jcm);
    }
    const std::string& value =
        xio_get_text(ctx.mainHandle, noteFields_[rec == kRecPhase ? kNotePhaseTax : kNoteCategoryTax]);
    if (TaxStatusMissing(value, taxFilled_, taxStatusList, defaultTaxStatus))
        ctx.notes->AddNote(369, value, static_cast<uint32_t>(info.StartLine()));
}

bool xvJCM::PhaseAmountsZero(uint16_t jcm, const xvl::xvlImport* import, const xvl::xvlImpInfo* info) {
    if (phaseAmountRuns_.empty()) {
        const std::vector<uint16_t> amounts = PhaseRebuildAmounts(jcm);
        for (uint16_t f : amounts) {
            if (!phaseAmountRuns_.empty() && phaseAmountRuns_.back().second + 1 == f)
                phaseAmountRuns_.back().second = f;
            else
                phaseAmountRuns_.emplace_back(f, f);
        }
        // What ConvertPhase puts into a number field other than 0: keep this list with it.
        phaseHandlerAmounts_.clear();
        for (const char* name : {"PCTYPE", "PRSVC", "PTEST", "PTUEST", "PRVCOM", "PRVPU"})
            if (const uint16_t f = FieldNo(jcm, kRecPhase, name); std::binary_search(amounts.begin(), amounts.end(), f))
                phaseHandlerAmounts_.push_back(f);
    }
    auto zero = [&](const FieldRange& r) { return xio_first_nonzero_number(jcm, r.first, r.second) == 0; };
    if (!import || !info) return std::all_of(phaseAmountRuns_.begin(), phaseAmountRuns_.end(), zero);
    // A line that adds a cost code holds 0 in an amount it has no column for (and whose default
    // is 0) unless the handler set it.
    auto& l = lineAmountRuns_;
    if (!l.known || l.jcm != jcm || l.format != info->FormatID()) {
        l.known = true;
        l.jcm = jcm;
        l.format = info->FormatID();
        std::vector<uint16_t> fields(phaseHandlerAmounts_);
        for (const auto& [from, to] : lineRanges_.Narrow(kAmountRunsList, jcm, *import, *info, phaseAmountRuns_))
            for (uint16_t f = from; f <= to; ++f) fields.push_back(f);
        std::sort(fields.begin(), fields.end());
        fields.erase(std::unique(fields.begin(), fields.end()), fields.end());
        l.runs.clear();
        for (uint16_t f : fields) {
            if (!l.runs.empty() && l.runs.back().second + 1 == f)
                l.runs.back().second = f;
            else
                l.runs.emplace_back(f, f);
        }
    }
    return std::all_of(l.runs.begin(), l.runs.end(), zero);
}

bool xvJCM::FinishConversion(ConvertContext& ctx) {
    SettlePendingPhase();
    SettlePendingJob();
    // The totals of the whole file follow from the records now on it.
    const bool rebuilt = !ctx.converting || RebuildTotals(ctx);
    zeroPhases_.Clear();
    if (!rebuilt) return false;
    if (!ctx.notes->PrintMissingCustomListValues(ctx.progress)) return EndFile(ctx, PrintFailure(ctx, 12012), true, true);
    return true;
}

// ---- Prefill ---------------------------------------------------------------------------------

}  // namespace dz::jc
