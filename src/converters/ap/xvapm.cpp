#include "converters/ap/xvapm.h"

#include "convert/progress.h"
#include "convert/record_fields.h"
#include "convert/texts.h"
#include "platform/datafile/xio.h"
#include "platform/import/xvl_case.h"
#include "platform/import/xvl_import.h"
#include "platform/import/xvl_template.h"
#include "platform/suite/util.h"
#include "platform/suite/xk.h"
#include "platform/suite/zc.h"

namespace dz::ap {

using namespace convert;

namespace {

bool IsVendorNotes(const std::string& formatId) { return xvl::equalNoCase(formatId, kVendorNotesFormat); }

}  // namespace

ConverterProfile xvAPM::Profile() const {
    ConverterProfile p;
    p.abbreviation = "APM";
    p.fileNo = 1;
    p.fileCode = 30;
    p.title = "AP Master File-vendors";
    p.description = "AP Master file-vendors";
    p.backupDescription = "AP Master file";
    p.convertingText = "Converting '%s' into AP Master file";
    p.examiningText = "Examining '%s' for AP Master file";
    return p;
}

std::string ListedAmounts(const double* values, int count) {
    auto amount = [&](int i) { return convert::Amount(values[i]); };
    switch (count) {
    case 0: return {};
    case 1: return amount(0);
    case 2: return amount(0) + " and " + amount(1);
    default: return amount(0) + ", " + amount(1) + ", and " + amount(2);
    }
}

ApSettings::ApSettings(uint16_t apm) {
    if (xio_rd_header(apm, kHdrApSettings, 0) != XIO_OK) return;
    read_ = true;
    for (std::size_t i = 0; i < kApSettings; ++i)
        results_[i] = xio_get_field_result(apm, 0, HeaderFieldNo(apm, kHdrApSettings, kApSettingNames[i]));
    xio_free_header(apm, kHdrApSettings);
}

// ---- Files and settings -----------------------------------------------------------------------

bool xvAPM::LoadSettings(const convert::OpenFilesList& files, convert::NotesReport* notes,
                         convert::ConvertProgress* progress) {
    convert::ForgetFieldNumbers();
    notesFailed_ = false;
    interfacesGL = interfacesJC = categoriesUsed = false;

    auto note = [&](const std::string& text) {
        notesFailed_ = notes && !notes->PrintMessageLine("", 0, text);
        if (!notesFailed_ && progress) progress->messages += 1;
        return !notesFailed_;
    };
    // A master file from the open-files list, else opened here (and closed by this object).
    auto open = [&](const char* abbr, convert::SideFile& file) { return file.Open(files, abbr) != 0; };
    glMasterFile.Close();
    jcMasterFile.Close();
    taxMasterFile.Close();

    // 1, 2. The GL and JC masters, only when AP interfaces with them.
    if (suite::zc_interface_active("AP", "GL") != 0) {
        interfacesGL = true;
        if (!open("GLM", glMasterFile) && !note(Msg(12126))) return false;
    }
    if (suite::zc_interface_active("AP", "JC") != 0) {
        interfacesJC = true;
        if (!open("JCM", jcMasterFile)) {
            std::string phases = suite::xk_description(18);
            suite::x_pluralize(phases);
            if (!note(Msg(12127, phases))) return false;
        }
    }
    // 3. Whether JC uses categories (an unreadable header: not).
    if (jcMasterFile && xio_rd_header(jcMasterFile, 2, 0) == XIO_OK) {
        categoriesUsed = GetNumber(jcMasterFile, HeaderFieldNo(jcMasterFile, 2, "CCATUSG")) == 1.0;
        xio_free_header(jcMasterFile, 2);
    }
    // 4. The tax master, whatever the interfaces.
    if (!open("TXM", taxMasterFile) && !note(Msg(12128))) return false;
    // 5. The installation's country.
    country = convert::ReadScreenFile("AP");
    return true;
}

bool xvAPM::LoadSettings(ConvertContext& ctx, std::string& failure) {
    // Only the exact version text lets the totals through.
    allowTotals = ctx.tpl && ctx.tpl->Version() == "ALLOW TOTALS";
    settings = ApSettings(ctx.mainHandle);
    lookups_.Clear();
    prefixesA_.clear();
    debitAccounts_.Clear();
    vendorFieldsOf_ = 0;
    if (LoadSettings(ctx.files, ctx.notes.get(), ctx.progress)) return true;
    failure.clear();  // a notes line that cannot be printed: 12011
    return false;
}

// ---- Vendor notes and dispatch ------------------------------------------------------------------

bool xvAPM::SaveVendorNotes(uint16_t apm, xvl::xvlImpInfo& info, xvl::xvlImport& import, std::string& reason,
                            bool converting) {
    if (!IsVendorNotes(info.FormatID())) return true;
    const uint16_t rec = info.ImportedRecs();
    if (reason.empty()) SaveNotes(apm, rec, info.FormatID(), import, reason, converting);
    info.SetImportedRecs(static_cast<uint16_t>(rec + 50));
    return false;
}

void xvAPM::ImportRejected(ConvertContext& ctx, xvl::xvlImpInfo& info, std::string& reason) {
    // The reason is set: nothing is stored, the record only moves to its notes record type.
    if (info.RecExtraData() == 0) SaveVendorNotes(ctx.mainHandle, info, *ctx.import, reason, ctx.converting);
}

const VendorFields& xvAPM::VendorFieldsOf(uint16_t apm) {
    if (vendorFieldsOf_ != apm) {
        vendorFields_.Resolve(apm, kRecVendor, kVendorNames);
        vendorFieldsOf_ = apm;
    }
    return vendorFields_;
}

bool xvAPM::DispatchRecord(ConvertContext& ctx, xvl::xvlImpInfo& info, std::string& reason) {
    const uint16_t apm = ctx.mainHandle;
    const bool conv = ctx.converting;
    // A vendor notes record in a data format is stored here, never written as a record.
    if (info.RecExtraData() == 0 && !SaveVendorNotes(apm, info, *ctx.import, reason, conv)) {
        ctx.storeRecord = false;
        return reason.empty();
    }
    switch (info.ImportedRecs()) {
    case kRecVendor:
        return ConvertVendor(apm, info, reason, ctx.messages, interfacesGL, interfacesJC, categoriesUsed, glMasterFile,
                             jcMasterFile, taxMasterFile, country, conv, allowTotals, settings, lookups_,
                             debitAccounts_, VendorFieldsOf(apm));
    case kRecPrefixTotals:
        return ConvertPrefixTotals(apm, info, reason, ctx.messages, interfacesGL, glMasterFile, conv, RecordIds(),
                                   country, settings);
    case kRecAuthorization: return ConvertAuthorizations(apm, info, reason, ctx.messages, settings);
    default: break;
    }
    return RejectUnknownRecord(info, reason, kApmConversionName, apm, false);
}

// ---- Prefill ---------------------------------------------------------------------------------

}  // namespace dz::ap
