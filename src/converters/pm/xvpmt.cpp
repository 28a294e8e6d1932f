#include "converters/pm/xvpmt.h"

#include "convert/platform_links.h"
#include "convert/progress.h"
#include "convert/reports.h"
#include "platform/datafile/xio.h"
#include "platform/import/xvl_case.h"
#include "platform/import/xvl_rcstring.h"
#include "platform/suite/control.h"
#include "platform/suite/util.h"
#include "platform/suite/xd.h"

#include <cerrno>
#include <utility>

namespace dz::pm {

using namespace convert;

namespace {

constexpr const char* kPass1 = "Transaction Pass 1 of 2";
constexpr const char* kPass2 = "Transaction Pass 2 of 2";

// A choice field's item number.
int16_t Result(uint16_t file, uint16_t rec, const char* name) {
    return xio_get_field_result(file, rec, FieldNo(file, rec, name));
}

}  // namespace

xvPMT::xvPMT() : RunDate(suite::xd_get_date()) {}

ConverterProfile xvPMT::Profile() const {
    ConverterProfile p;
    p.abbreviation = "PMT";
    p.fileNo = TransactionFileNo();
    p.rejectAbbreviation = IsHistory() ? "PMH" : "PMT";
    p.title = IsHistory() ? "PM History Transactions" : "PM Transactions";
    p.description = IsHistory() ? "PM New or Hist Trans file" : "PM New Trans file";
    p.convertingText = "Converting '%s' into " + p.description;
    p.examiningText = "Examining '%s' for " + p.description;
    p.progressEtc = false;
    p.examineRecords = false;
    p.writeUserFields = false;
    // The transaction file and the PM System file (its header keeps the last batch and payment
    // ID) are written: both are backed up and both restored. The others are only read.
    auto readOnly = [](const char* abbr, uint16_t code, const char* description) {
        return ConverterDataFile::ReadOnly(abbr, 1, code, description, false);
    };
    ConverterDataFile pmt =
        ConverterDataFile::Owned("PMT", TransactionFileNo(), IsHistory() ? kPmhCode : kPmtCode, p.description);
    pmt.openFlag = 1;
    p.dataFiles = {pmt,
                   ConverterDataFile::Owned("PMS", 1, kPmsCode, "PM System file"),
                   readOnly("PMP", kPmpCode, "PM Property file"),
                   readOnly("PMN", kPmnCode, "PM Tenant file"),
                   readOnly("PMR", kPmrCode, "PM Retail file"),
                   readOnly("PML", kPmlCode, "PM Lease file"),
                   readOnly("GLM", 1, "GL Master file"),
                   readOnly("CMM", 20, "CM Master file")};
    return p;
}

// ---- Files --------------------------------------------------------------------------------------

bool xvPMT::OpenFiles(convert::OpenFilesList& list, uint16_t commandId, uint16_t& error) {
    // Without GL or CM the caller names the missing module's file.
    if (suite::xa_appl_installed("GL") == 0) return NotInstalled("GLM", 1, 9844, list, error);
    if (suite::xa_appl_installed("CM") == 0) return NotInstalled("CMM", 1, 9845, list, error);
    return PmConverter::OpenFiles(list, commandId, error);
}

bool xvPMT::LoadSettings(ConvertContext& ctx, std::string& failure) {
    const auto& files = ctx.files;
    pms = convert::FindFileHandle(files, "PMS", 1);
    pmp = convert::FindFileHandle(files, "PMP", 1);
    pmn = convert::FindFileHandle(files, "PMN", 1);
    pml = convert::FindFileHandle(files, "PML", 1);
    pmr = convert::FindFileHandle(files, "PMR", 1);
    glm = convert::FindFileHandle(files, "GLM", 1);
    cmm = convert::FindFileHandle(files, "CMM", 1);
    salesResolvedFor_ = 0;  // resolved again against this file's transaction file
    // What was looked up answers for one text file.
    lookups_.clear();
    salesFacts_.clear();
    propertyBanks_.clear();
    yearEnds_.clear();
    return InitBatchNumbers(ctx.mainHandle, failure);  // false: 12011 or 12016
}

// ---- The passes ---------------------------------------------------------------------------------

bool xvPMT::ShowPass(ConvertContext& ctx, const char* text, int percent) {
    if (ctx.progress && !ctx.progress->SetStatusText(text, -1)) return false;
    if (convert::InBackground()) {
        if (convert::CheckTerminate()) return false;
        ctx.taskLine = text;
        ctx.taskPercent = percent;
        suite::x_update_task(percent, ctx.taskLine);
    }
    return true;
}

bool xvPMT::StopBetweenPasses(ConvertContext& ctx) {
    // Nothing has been written yet: the copies go, and Examine Files says it was examining.
    for (auto& b : ctx.backups) b->Discard();
    ctx.backups.clear();
    return EndFile(ctx, Msg(ctx.converting ? 12000 : 12001), true, false);
}

bool xvPMT::ConvertRecords(ConvertContext& ctx) {
    if (!ShowPass(ctx, kPass1, 0)) return StopBetweenPasses(ctx);
    if (!ScanPayments(ctx)) return false;
    if (!ShowPass(ctx, kPass2, 50)) return StopBetweenPasses(ctx);
    return ConvertPass2(ctx);
}

bool xvPMT::ReadFollowingPayment(ConvertContext& ctx, xvl::xvlImpInfo& info) {
    hasPayment_ = false;
    const uint16_t pmt = ctx.mainHandle;
    const uint16_t rec = info.ImportedRecs();
    if (info.FileNumUsed() != pmt || (rec != kPmtRecChargeFlow && rec != kPmtRecMiscIncome)) return true;
    if (info.RecExtraData() != 0) return true;
    std::string id;
    xvl::xvlImpInfo next;
    if (ctx.import->xvlImpWhatIsNextID(id, next) != 0) return true;
    // Only a payment record of the transaction file is taken along.
    if (next.ImportedRecs() != kPmtRecPayment || next.FileNumUsed() != pmt || next.RecExtraData() != 0) return true;
    hasPayment_ = true;
    ++lineCounter_;
    paymentStatus_ = ctx.import->xvlImportNextRec(paymentInfo_);
    if (paymentStatus_ == 1) {
        paymentReason_ = paymentInfo_.Message();
        AppendReasonCode(paymentReason_, paymentInfo_.Error());
        return false;
    }
    return true;
}

bool xvPMT::DispatchRecord(ConvertContext& ctx, xvl::xvlImpInfo& info, std::string& reason) {
    const uint16_t pmt = ctx.mainHandle;
    const uint16_t rec = info.ImportedRecs();
    if (info.FileNumUsed() == pmt) {
        switch (rec) {
            case kPmtRecChargeFlow:
                return ConvertChargeFlow(pmt, info, reason, paymentReason_, ctx.messages, paymentMessages_,
                                         ctx.converting, hasPayment_, lineCounter_, firstPass_, *ctx.import);
            case kPmtRecMiscIncome:
                return ConvertMiscIncome(pmt, info, paymentInfo_, reason, paymentReason_, ctx.messages,
                                         paymentMessages_, ctx.converting, hasPayment_, firstPass_);
            case kPmtRecSalesVolume:
                return ConvertSalesVolume(pmt, info, reason, ctx.messages, ctx.converting);
            case kPmtRecPayment:
                reason = Msg(12557, WholeText(GetNumber(pmt, kPmtRecPayment, "PMTID")));
                return false;
            default:
                break;
        }
    }
    // Named by the transaction file's record definition; by its format id when it has no record
    // number or belongs to another file.
    return RejectUnknownRecord(info, reason, "PM Transactions", info.FileNumUsed() == pmt ? pmt : 0);
}

// ---- Pass 1 -------------------------------------------------------------------------------------

bool xvPMT::ScanPayments(ConvertContext& ctx) {
    firstPass_ = true;
    ctx.percentFrom = 0;
    ctx.percentTo = 50;
    if (!OpenImport(ctx, false)) return false;  // pass 1 has no reject file
    const uint16_t pmt = ctx.mainHandle;
    lineCounter_ = 0;
    const bool ok = ReadRecords(ctx, [&](xvl::xvlImpInfo& info, int status) {
        ++lineCounter_;
        hasPayment_ = false;
        paymentStatus_ = 0;
        paymentReason_.clear();
        paymentMessages_.clear();
        bool invalid = status == 1;
        double key = 0;
        if (!invalid) {
            // The text file's payment ID, before the handler renumbers it.
            if (info.FileNumUsed() == pmt && info.ImportedRecs() == kPmtRecChargeFlow &&
                Result(pmt, kPmtRecChargeFlow, "CFCODE") == 2)
                key = GetNumber(pmt, kPmtRecChargeFlow, "CFPMTID");
            else if (info.FileNumUsed() == pmt && info.ImportedRecs() == kPmtRecMiscIncome)
                key = GetNumber(pmt, kPmtRecMiscIncome, "MIPMTID");
            const int extra = info.RecExtraData();
            if (IsUserFieldsRecord(extra)) {
                invalid = true;
            } else if (extra <= 50) {
                if (extra == 0 && !ReadFollowingPayment(ctx, info)) invalid = true;
                std::string reason;
                if (!invalid && !DispatchRecord(ctx, info, reason)) invalid = true;
            }
            // A line the import refused marks no group.
            const auto line = static_cast<uint32_t>(info.StartLine() + (ctx.converting ? 1 : 0));
            NoteGroups(pmt, info, key, invalid, line, ctx.converting);
        }
        ctx.messages.clear();
        paymentMessages_.clear();
        return true;
    });
    PaymentTenants.clear();
    ctx.import.reset();  // the whole text goes before pass 2 reads it again
    return ok;
}

void xvPMT::NoteGroups(uint16_t pmt, const xvl::xvlImpInfo& info, double key, bool invalid, uint32_t line,
                       bool converting) {
    if (info.FileNumUsed() != pmt) return;
    const uint16_t rec = info.ImportedRecs();
    const uint32_t badLine = invalid ? line : 0;
    if (rec == kPmtRecChargeFlow) {
        if (Result(pmt, kPmtRecChargeFlow, "CFCODE") != 2) return;
        if (key != 0) {
            const double item = GetNumber(pmt, kPmtRecChargeFlow, "CFCRDIT");
            const bool returned = hasPayment_ && Result(pmt, kPmtRecPayment, "PRETCHK") == 1;
            auto it = ChargeFlowGroups.find(key);
            if (it == ChargeFlowGroups.end()) {
                if (!hasPayment_ || invalid)
                    ChargeFlowGroups.emplace(key, ChargeFlowPaymentGroup(line, key));
                else
                    ChargeFlowGroups.emplace(
                        key, ChargeFlowPaymentGroup(GetNumber(pmt, kPmtRecPayment, "PAMT"), item, key, returned));
            } else {
                it->second.Add(item, invalid, badLine, 0, hasPayment_ && !returned, returned);
            }
        }
    } else if (rec == kPmtRecMiscIncome) {
        if (key != 0) {
            const double amount = GetNumber(pmt, kPmtRecMiscIncome, "MIAMT");
            auto it = MiscIncomeGroups.find(key);
            if (it == MiscIncomeGroups.end()) {
                if (!hasPayment_ || invalid)
                    MiscIncomeGroups.emplace(key, MiscIncomePaymentGroup(line, key));
                else
                    MiscIncomeGroups.emplace(
                        key, MiscIncomePaymentGroup(amount, GetNumber(pmt, kPmtRecPayment, "PAMT"), key,
                                                    GetText(pmt, kPmtRecPayment, "PMSPROP"),
                                                    GetText(pmt, kPmtRecPayment, "PMISCR"),
                                                    GetText(pmt, kPmtRecPayment, "PBATCH"),
                                                    GetText(pmt, kPmtRecPayment, "PRECBNK"),
                                                    static_cast<uint32_t>(info.StartLine() + 1 + (converting ? 1 : 0))));
            } else {
                it->second.Add(amount, invalid, badLine);
            }
        }
    } else {
        return;
    }
    if (hasPayment_ && !invalid)
        PaymentTenants[GetNumber(pmt, kPmtRecPayment, "PMTID")] = GetText(pmt, kPmtRecPayment, "PTENANT");
}

// ---- Pass 2 -------------------------------------------------------------------------------------

bool xvPMT::ConvertPass2(ConvertContext& ctx) {
    firstPass_ = false;
    ctx.percentFrom = 50;
    ctx.percentTo = 100;
    if (!OpenImport(ctx, true)) return false;
    lineCounter_ = 0;
    return ReadRecords(ctx, [&](xvl::xvlImpInfo& info, int status) { return HandlePass2(ctx, info, status); });
}

bool xvPMT::WriteBatchRecords(ConvertContext& ctx, uint16_t pmt, const xvl::xvlImpInfo& info) {
    const char* field = nullptr;
    switch (info.ImportedRecs()) {
        case kPmtRecPayment: field = "PBATCH"; break;
        case kPmtRecChargeFlow: field = "CFBATCH"; break;
        case kPmtRecMiscIncome: field = "MIBATCH"; break;
        case kPmtRecSalesVolume: field = "SVBATCH"; break;
        default: return true;
    }
    const std::string batch = GetText(pmt, info.ImportedRecs(), field);
    bool written = true;
    if (xvl::equalNoCase(batch, BatchNumber)) {
        if (!BatchWritten) {
            written = WriteBatchRecord(pmt, BatchNumber, RunDate);
            if (written) BatchWritten = 1;
        }
    } else {
        written = WriteBatchRecord(pmt, batch, RunDate);
    }
    if (!written) ctx.messages.push_back(Msg(12523, batch));
    return written;
}

bool xvPMT::HandlePass2(ConvertContext& ctx, xvl::xvlImpInfo& info, int status) {
    const uint16_t pmt = ctx.mainHandle;
    hasPayment_ = false;
    paymentStatus_ = 0;
    paymentReason_.clear();
    paymentMessages_.clear();
    returnedCheck_ = {};
    const double mapped = status == 0 ? MapPaymentId(pmt, info) : 0;
    ++ctx.recordsRead;
    ++lineCounter_;
    const uint16_t rec = info.ImportedRecs();
    const bool transaction = info.FileNumUsed() == pmt && (rec == kPmtRecChargeFlow || rec == kPmtRecMiscIncome);
    const int extra = info.RecExtraData();
    std::string reason;
    bool accepted = false;
    bool paymentRead = false;

    if (status == 1) {
        reason = info.Message();
        AppendReasonCode(reason, info.Error());
    } else if (IsUserFieldsRecord(extra)) {
        reason = "Custom fields are not supported in PM Transaction conversions";
    } else if (IsNotesRecord(extra)) {
        reason = "Notes are not supported in Transaction PM Transaction conversions";
    } else {
        accepted = true;
        if (extra == 0) {
            accepted = ReadFollowingPayment(ctx, info);
            paymentRead = hasPayment_;
            if (hasPayment_) ++ctx.recordsRead;
        }
        if (accepted) accepted = DispatchRecord(ctx, info, reason);
        if (accepted && ctx.converting) {
            const auto& import = *ctx.import;
            bool diskFull = false;
            const auto notes = import.xvlImpGetSpecialValue(info.FormatID(), "Converted Notes");
            accepted = WriteRecord(pmt, info, reason, notes ? &*notes : nullptr,
                                   static_cast<uint16_t>(import.xvlImpGetPermissions(info.FormatID())), diskFull,
                                   false);
            if (!accepted && diskFull) return EndFile(ctx, Msg(12013), true, true);
            // Takes the transaction just written back out; false when the file has ended.
            auto takeBack = [&](bool full) {
                int undone = xio_rd_record(pmt, rec, 0, 1);
                if (undone == XIO_OK) undone = xio_del_record(pmt, rec);
                if (full || undone == XIO_DISK_FULL) return EndFile(ctx, Msg(12013), true, true), false;
                if (undone != XIO_OK) return EndFile(ctx, DataFileFailure(ctx), true, true), false;
                return true;
            };
            if (accepted && returnedCheck_.pending) {
                // The earlier payment is marked returned only now that its charge flow is on file;
                // when it cannot be, the charge flow goes back out and the returned check with it.
                const int marked = MarkReturnedCheck(pmt);
                if (marked != XIO_OK) {
                    if (!takeBack(marked == XIO_DISK_FULL)) return false;
                    accepted = false;
                    hasPayment_ = true;
                    ++lineCounter_;
                    reason = Msg(12576, WholeText(returnedCheck_.textId));
                }
            }
            if (accepted && hasPayment_) {
                const auto payNotes = import.xvlImpGetSpecialValue(paymentInfo_.FormatID(), "Converted Notes");
                const bool paid = WriteRecord(
                    pmt, paymentInfo_, paymentReason_, payNotes ? &*payNotes : nullptr,
                    static_cast<uint16_t>(import.xvlImpGetPermissions(paymentInfo_.FormatID())), diskFull, false);
                if (!paid) {
                    // The pair is written whole or not at all: the transaction goes again. When it
                    // cannot be taken back, the file ends and every data file is restored.
                    if (!takeBack(diskFull)) return false;
                    accepted = false;
                }
            }
        }
        if (accepted && info.FileNumUsed() == pmt && rec == kPmtRecSalesVolume) {
            // A sales type that is not one of the list's values is noted, not rejected.
            const std::string type = GetText(pmt, kPmtRecSalesVolume, "SVSTYPE");
            bool listed = false;
            for (const auto& v : SalesTypeList) listed = listed || v == type;
            if (!listed)
                ctx.notes->AddNote(kSalesTypeList, type, static_cast<uint32_t>(info.StartLine()));
        }
        if (accepted && ctx.converting && info.FileNumUsed() == pmt) WriteBatchRecords(ctx, pmt, info);
    }

    // A payment read with its charge flow that the handler took as the returned check of an
    // earlier payment is a line of the file all the same: it is counted with its charge flow,
    // accepted (it marked the earlier payment) or rejected with it.
    const bool absorbed = paymentRead && !hasPayment_;
    if (absorbed && !accepted) {
        hasPayment_ = true;
        ++lineCounter_;
    }
    if (accepted) {
        if (!FinishRecord(ctx, status, info, true, reason)) return false;
        if (!hasPayment_ && !absorbed) return true;
        if (transaction && !absorbed)
            PaymentTenants[GetNumber(pmt, kPmtRecPayment, "PMTID")] = GetText(pmt, kPmtRecPayment, "PTENANT");
        std::swap(ctx.messages, paymentMessages_);
        const bool ok = FinishRecord(ctx, paymentStatus_, paymentInfo_, true, "");
        std::swap(ctx.messages, paymentMessages_);
        return ok;
    }
    if (!hasPayment_) return FinishRecord(ctx, status, info, false, reason);

    // A pair: each side says why it goes.
    if (reason.empty() && !paymentReason_.empty()) {
        if (rec == kPmtRecMiscIncome)
            reason = Msg(12539, GetText(pmt, kPmtRecMiscIncome, "MIPROP") + ", " +
                                    GetText(pmt, kPmtRecMiscIncome, "MINCSRC"));
        else
            reason = Msg(12558, GetText(pmt, kPmtRecChargeFlow, "CFPROP"));
    } else if (!reason.empty() && paymentReason_.empty()) {
        paymentReason_ = Msg(rec == kPmtRecMiscIncome ? 12540 : 12575);
    }
    if (transaction) PaymentTenants[mapped] = GetText(pmt, kPmtRecPayment, "PTENANT");
    if (!FinishRecord(ctx, status, info, false, reason)) return false;
    // The payment went to the reject file with its transaction.
    const int32_t line = ctx.converting ? ctx.rejectLine + (paymentInfo_.StartLine() - info.StartLine()) : 0;
    return FinishRecord(ctx, paymentStatus_, paymentInfo_, false, paymentReason_, line);
}

// ---- The end of a conversion --------------------------------------------------------------------

int xvPMT::WriteHeader(uint16_t file, uint16_t header) { return xio_wr_header(file, header); }

bool xvPMT::FinishConversion(ConvertContext& ctx) {
    const uint16_t pmt = ctx.mainHandle;
    if (ctx.converting) {
        bool failed = false, diskFull = false;
        const auto written = [&](int status) {
            diskFull = diskFull || status == XIO_DISK_FULL;
            return status == XIO_OK;
        };
        const bool paymentMoved = LastPaymentId != StartLastPaymentId;
        if (BatchWritten || paymentMoved) {
            if (xio_rd_header(pms, kPmsHdrLast, 1) != XIO_OK) {
                failed = true;
            } else {
                if (BatchWritten) PutText(pms, HeaderFieldNo(pms, kPmsHdrLast, "LASTBAT"), BatchNumber);
                if (paymentMoved) PutNumber(pms, HeaderFieldNo(pms, kPmsHdrLast, "LASTPMT"), LastPaymentId);
                failed = !written(WriteHeader(pms, kPmsHdrLast));
            }
        }
        if (RunUsed) {
            if (xio_rd_header(pmt, kPmtHdrRun, 1) != XIO_OK) {
                failed = true;
            } else {
                PutNumber(pmt, HeaderFieldNo(pmt, kPmtHdrRun, "LASTRUN"), RunNumber);
                failed = !written(WriteHeader(pmt, kPmtHdrRun)) || failed;
            }
        }
        // Both headers are restored with the records: the numbers stay as they were. A full
        // disk is said as the cause.
        if (failed)
            return EndFile(ctx, xvl::WithCause(Msg(12016), xvl::ErrorCause(diskFull ? ENOSPC : 0)), true, true);
    }
    if (!FinishPasses(ctx, ctx.taskLine)) return false;
    if (!ctx.notes->PrintMissingCustomListValues(ctx.progress)) return EndFile(ctx, PrintFailure(ctx, 12012), true, true);
    return true;
}

// ---- History ------------------------------------------------------------------------------------

bool xvPMH::OpenFiles(convert::OpenFilesList& list, uint16_t commandId, uint16_t& error) {
    IsHistory_ = 1;
    return xvPMT::OpenFiles(list, commandId, error);
}

void xvPMH::ConvertFile(convert::OpenFilesList& list, const convert::TextFileEntry& entry,
                        convert::ConvertProgress* progress, int printDef, ui::zqTask& task, const std::string& tableName,
                        convert::ConversionOptions* options) {
    IsHistory_ = 1;
    xvPMT::ConvertFile(list, entry, progress, printDef, task, tableName, options);
}

void xvPMH::PrefillTables(convert::OpenFilesList& list, const convert::TextFileEntry& entry,
                          convert::ConvertProgress* progress, ui::zqTask& task, void* prefillContext) {
    IsHistory_ = 1;
    xvPMT::PrefillTables(list, entry, progress, task, prefillContext);
}

}  // namespace dz::pm
