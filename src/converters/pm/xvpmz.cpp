#include "converters/pm/xvpmz.h"

#include "convert/progress.h"
#include "convert/reports.h"
#include "platform/datafile/stored_number.h"
#include "platform/datafile/xio.h"
#include "platform/import/xvl_import.h"
#include "platform/import/xvl_rcstring.h"

#include <cerrno>
#include <utility>

namespace dz::pm {

using namespace convert;

namespace {

constexpr const char* kConversionName = "PMZ Issues";
constexpr const char* kCustomFieldsRefused = "Custom fields not supported in PM Issues conversion";
constexpr const char* kNoSuchIssue = "The record to modify doesn't currently exist (fld 1, col 1) (62)";
constexpr std::array<const char*, 5> kListFields = {"CLASSIF", "URGENCY", "FOLLOWU", "STATUS", "PROBLEM"};

bool EndsWith(const std::string& text, std::string_view tail) {
    return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

// ExamineRecord refused the issue only because its number is taken (on file, or by an issue
// earlier in the text file). Convert gives such an issue a new number, so Examine Files lets it
// through; every other refusal stands.
bool OnlyTheNumberIsTaken(const std::string& reason) {
    const bool duplicate = reason.rfind("Duplicate ", 0) == 0 || reason.rfind("The text file has duplicate ", 0) == 0;
    return duplicate && EndsWith(reason, "(76)");
}

}  // namespace

ConverterProfile xvPMZ::Profile() const {
    ConverterProfile p;
    p.abbreviation = "PMZ";
    p.fileNo = 0;
    p.title = "PM Issues File";
    p.description = "PM Issues file";
    p.convertingText = "Converting '%s' into PM Issues File";
    p.examiningText = "Examining '%s' for PM Issues File";
    p.progressEtc = true;
    p.keepRecordIds = false;  // the conversion numbers its issues itself
    // Listed in the order of backups, restores and checks; opened issues, issue links, leases,
    // tenants, properties.
    ConverterDataFile pmz = ConverterDataFile::Owned("PMZ", 0, kPmzCode, "PM Issues file");
    ConverterDataFile tli = ConverterDataFile::Owned("TLI", 0, kTliCode, "TL Issues file");
    ConverterDataFile pml = ConverterDataFile::ReadOnly("PML", 1, kPmlCode, "PM Lease file");
    ConverterDataFile pmp = ConverterDataFile::ReadOnly("PMP", 1, kPmpCode, "PM Property file");
    ConverterDataFile pmn = ConverterDataFile::ReadOnly("PMN", 1, kPmnCode, "PM Tenant file");
    tli.openFlag = pmz.openFlag = 1;
    tli.openOrder = 0;
    pmz.openOrder = 1;
    pml.openOrder = 2;
    pmn.openOrder = 3;
    pmp.openOrder = 4;
    p.dataFiles = {pmz, tli, pml, pmp, pmn};
    return p;
}

bool xvPMZ::OpenFiles(OpenFilesList& list, uint16_t commandId, uint16_t& error) {
    if (suite::xa_appl_installed("TL") == 0) return NotInstalled("TLI", 0, 9843, list, error);
    return xvConvert::OpenFiles(list, commandId, error);
}

bool xvPMZ::ReadLastIssueId(uint16_t tli) {
    numbersSpent_ = false;
    if (xio_rd_header(tli, 1, 0) != XIO_OK) return false;
    const uint16_t lastId = HeaderFieldNo(tli, 1, "LASTID");
    lastIdRead_ = lastIssueId_ = GetNumber(tli, lastId);
    xio_free_header(tli, 1);
    // A LASTID written elsewhere may be anything: 1e16 + 1 is 1e16 again, and the search for a
    // free number would never end.
    xio_fld_def def;
    if (xio_get_fld_def(tli, lastId, def) != XIO_OK || !xio_fits_field(def, lastIdRead_)) {
        numbersSpent_ = true;
        return false;
    }
    for (std::size_t i = 0; i < lists_.size(); ++i) lists_[i].Load(kIssueListFirst + static_cast<int>(i));
    return true;
}

bool xvPMZ::LoadSettings(ConvertContext& ctx, std::string& failure) {
    ForgetFieldNumbers();  // handles may name other files than in an earlier run
    tli_ = FindFileHandle(ctx.files, "TLI", 0);
    pmz_ = FindFileHandle(ctx.files, "PMZ", 0);
    pml_ = FindFileHandle(ctx.files, "PML", 1);
    pmp_ = FindFileHandle(ctx.files, "PMP", 1);
    pmn_ = FindFileHandle(ctx.files, "PMN", 1);
    renumbered_.clear();
    if (ReadLastIssueId(tli_)) return true;
    if (numbersSpent_) failure = Msg(12016);
    return false;  // 12011 when the header cannot be read
}

bool xvPMZ::DispatchRecord(ConvertContext& ctx, xvl::xvlImpInfo& info, std::string& reason) {
    if (info.FileNumUsed() == tli_ && info.ImportedRecs() == kTliIssue && info.RecExtraData() == 0)
        return ConvertIssue(tli_, pmz_, pmp_, pml_, pmn_, reason, ctx.messages, ctx.converting);
    // Named by its own file's record definition; record 1 of another file and records without a
    // number by their format id.
    const uint16_t naming = info.ImportedRecs() == kTliIssue ? 0 : info.FileNumUsed();
    return RejectUnknownRecord(info, reason, kConversionName, naming);
}

// ---- The record loop -------------------------------------------------------------------------------

bool xvPMZ::ConvertRecords(ConvertContext& ctx) {
    if (!OpenImport(ctx, true)) return false;
    // Notes lines name their issue by the text file's number, which is not on file in Convert
    // either: the loop re-keys them and checks their issue itself.
    ctx.import->xvlChangeRepToWrRep(true);
    bool first = true, go = true;
    return ReadRecords(ctx, [&](xvl::xvlImpInfo& info, int status) {
        if (std::exchange(first, false)) go = BeginRecordLoop();
        return !go || HandleRecord(ctx, info, status);
    });
}

bool xvPMZ::SaveIssueNotes(ConvertContext& ctx, xvl::xvlImpInfo& info, std::string& reason) {
    // Only an issue's notes follow it to its new number; notes of any other record have no
    // number to follow.
    if (info.FileNumUsed() != tli_ || info.ImportedRecs() != kTliIssue)
        return RejectUnknownRecord(info, reason, kConversionName, info.FileNumUsed());
    const uint16_t issueNo = FieldNo(tli_, kTliIssue, "ISSUE");
    const auto it = renumbered_.find(GetNumber(tli_, issueNo));
    if (it == renumbered_.end()) {
        reason = kNoSuchIssue;
        return false;
    }
    PutNumber(tli_, issueNo, it->second);
    return SaveNotes(tli_, kTliIssue, info.FormatID(), *ctx.import, reason, ctx.converting);
}

bool xvPMZ::HandleRecord(ConvertContext& ctx, xvl::xvlImpInfo& info, int status) {
    ++ctx.recordsRead;
    std::string reason;
    bool accepted = false;
    const int extra = info.RecExtraData();
    if (status == 1) {
        reason = info.Message();
        AppendReasonCode(reason, info.Error());
    } else if (extra >= 1 && extra <= 49) {
        reason = kCustomFieldsRefused;
    } else if (extra > 50) {
        accepted = SaveIssueNotes(ctx, info, reason);
    } else if ((accepted = DispatchRecord(ctx, info, reason))) {
        xvl::xvlImport& import = *ctx.import;
        const std::string& format = info.FormatID();
        const auto permissions = static_cast<uint16_t>(import.xvlImpGetPermissions(format));
        if (ctx.converting) {
            // The issue and its links stand or fall together: a write that fails after the
            // issue was written ends the file, so no issue is left without its links.
            const auto notes = import.xvlImpGetSpecialValue(format, "Converted Notes");
            const double issue = GetNumber(tli_, kTliIssue, "ISSUE");
            bool diskFull = false, ioFailure = false;
            accepted = WriteRecord(tli_, info, reason, notes ? &*notes : nullptr, permissions, diskFull, false) &&
                       ResolveIssueLink(tli_, pmz_, pmp_, pml_, pmn_, import, format, issue, diskFull, ioFailure);
            if (!accepted && diskFull) return EndFile(ctx, Msg(12013), true, true);
            if (!accepted && ioFailure) return EndFile(ctx, DataFileFailure(ctx), true, true);
            if (accepted) lastIssueId_ = issue;
        } else if (!ExamineRecord(tli_, info, reason, 0, permissions)) {
            accepted = OnlyTheNumberIsTaken(reason);
            if (accepted) reason.clear();
        }
        if (accepted) {
            renumbered_.emplace(currentIssue_, GetNumber(tli_, kTliIssue, "ISSUE"));  // the first stays
            const auto line = static_cast<uint32_t>(info.StartLine());
            for (std::size_t i = 0; i < lists_.size(); ++i) {
                const std::string value = GetText(tli_, kTliIssue, kListFields[i]);
                if (!value.empty()) lists_[i].CheckExact(value, *ctx.notes, line);
            }
        }
    }
    // No issue number is left to give: the file ends, its issues so far restored.
    if (numbersSpent_) return EndFile(ctx, Msg(12016), true, true);
    return FinishRecord(ctx, status, info, accepted, reason);
}

// ---- The finish ------------------------------------------------------------------------------------

bool xvPMZ::FinishConversion(ConvertContext& ctx) {
    if (ctx.converting && lastIssueId_ != lastIdRead_) {
        const uint16_t lastId = HeaderFieldNo(tli_, 1, "LASTID");
        int status = xio_rd_header(tli_, 1, 1);
        if (status == XIO_OK) {
            PutNumber(tli_, lastId, lastIssueId_);
            status = xio_wr_header(tli_, 1);
            if (status != XIO_OK) xio_free_header(tli_, 1);
        }
        // Counted like every other failure that ends the file, so that the run's closing
        // message points at the report; a full disk is said as the cause.
        if (status != XIO_OK)
            return EndFile(ctx, xvl::WithCause(Msg(12016), xvl::ErrorCause(status == XIO_DISK_FULL ? ENOSPC : 0)), false,
                           true);
    }
    if (!ctx.notes->PrintMissingCustomListValues(ctx.progress)) return EndFile(ctx, PrintFailure(ctx, 12012), true, true);
    return true;
}

}  // namespace dz::pm
