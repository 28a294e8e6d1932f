#include "converters/pr/xvprm.h"

#include "converters/pr/pr_rules.h"

#include "convert/progress.h"
#include "convert/record_fields.h"
#include "convert/texts.h"
#include "platform/datafile/xio.h"
#include "platform/import/xvl_import.h"
#include "platform/import/xvl_template.h"
#include "platform/suite/util.h"
#include "platform/suite/xk.h"
#include "platform/suite/zc.h"

#include <algorithm>
#include <cctype>

namespace dz::pr {

using namespace convert;

namespace {

constexpr const char* kConversionName = "PR Master";

// A custom description with its first letter upper-cased.
std::string UpperFirst(std::string text) {
    suite::x_upper_first(text);
    return text;
}

// Keys compare without regard to letter case.
bool SameKey(const std::string& a, const std::string& b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::toupper(static_cast<unsigned char>(x)) == std::toupper(static_cast<unsigned char>(y));
           });
}

}  // namespace

ConverterProfile xvPRM::Profile() const {
    ConverterProfile p;
    p.abbreviation = "PRM";
    p.fileNo = 1;
    p.title = "PR Master File";
    p.description = "PR Master file";
    p.convertingText = "Converting '%s' into PR Master file";
    p.examiningText = "Examining '%s' for PR Master file";
    // Only the PR master file is written; the system and tax files are read and must be open.
    p.dataFiles = {convert::ConverterDataFile::Owned("PRM", 1, 40, "PR Master file"),
                   convert::ConverterDataFile::ReadOnly("PRS", 1, 42, "PR System file"),
                   convert::ConverterDataFile::ReadOnly("PRX", 1, 44, "PR Tax file")};
    return p;
}

// ---- Files and settings -----------------------------------------------------------------------

void xvPRM::LoadStatuses(const char* taxId, std::array<std::string, kStatusCount>& list) {
    const uint16_t prx = m_prxFile;
    xio_init_record(prx, 5);
    convert::PutText(prx, 5, "TSID", taxId);
    const uint16_t idField = convert::FieldNo(prx, 5, "TSID");
    const uint16_t statusField = convert::FieldNo(prx, 5, "TSSTAT");
    std::size_t n = 0;
    for (int status = xio_rd_ge(prx, 5, 0, 0); status == XIO_OK && n < kStatusCount;
         status = xio_rd_next(prx, 5, 0, 0)) {
        if (!SameKey(convert::GetText(prx, idField), taxId)) break;
        list[n++] = convert::GetText(prx, statusField);
    }
}

bool xvPRM::LoadPayrollSettings(const convert::OpenFilesList& files, convert::NotesReport& notes,
                                convert::ConvertProgress* progress) {
    convert::ForgetFieldNumbers();
    employeeFieldsOf_ = 0;
    filingStatuses_ = {};
    eicStatuses_ = {};
    known_.clear();
    lastKnown_.clear();
    // 1. The installation's payroll country.
    m_countryCode = convert::ReadScreenFile("PR");
    m_prsFile = convert::FindFileHandle(files, "PRS", 1);
    m_prxFile = convert::FindFileHandle(files, "PRX", 1);
    // 2-4. The filing statuses (FWH in the USA, PAYE in Australia) and the EIC statuses (USA).
    if (m_prxFile) {
        if (m_countryCode == kCountryUsa) LoadStatuses("FWH", filingStatuses_);
        if (m_countryCode == kCountryAustralia) LoadStatuses("PAYE", filingStatuses_);
        if (m_countryCode == kCountryUsa) LoadStatuses("EIC", eicStatuses_);
    }
    auto noteLine = [&](const std::string& text) {
        if (!notes.PrintMessageLine("", 0, text)) return false;
        if (progress) progress->messages += 1;
        return true;
    };
    // 5. JC.
    if (suite::zc_interface_active("PR", "JC") != 0) {
        m_interfacesJC = 1;
        if (!m_jcmFile) m_jcmFile.Open(files, "JCM");
        if (!m_jcmFile) {
            std::string phases = suite::xk_description(18);
            suite::x_pluralize(phases);
            if (!noteLine(Msg(12295, phases))) return false;
        }
    }
    // 6. EQ.
    if (suite::zc_interface_active("PR", "EQ") != 0) {
        m_interfacesEQ = 1;
        if (!m_eqmFile) m_eqmFile.Open(files, "EQM");
        if (!m_eqsFile) m_eqsFile.Open(files, "EQS", "STANDARD");
        const std::string equipment = UpperFirst(suite::xk_description(69));
        const std::string cost = UpperFirst(suite::xk_description(187));
        bool printed = true;
        if (!m_eqmFile && !m_eqsFile)
            printed = noteLine(Msg(12304, equipment, cost));
        else if (!m_eqmFile)
            printed = noteLine(Msg(12305, equipment));
        else if (!m_eqsFile)
            printed = noteLine(Msg(12306, cost));
        if (!printed) return false;
    }
    // 7.
    countryListDefault_ = suite::xk_get_custom_list_default(kCountryList);
    return true;
}

bool xvPRM::LoadSettings(ConvertContext& ctx, std::string& failure) {
    std::string version;
    m_allowTotals = 0;
    // Exact words: "allow totals" in any other case does not let totals through.
    if (xvl::xvlImpTemplate::xvlImpTemplateVersion(ctx.templatePath, version) == 0 && version == "ALLOW TOTALS")
        m_allowTotals = 1;
    if (!LoadPayrollSettings(ctx.files, *ctx.notes, ctx.progress)) return false;  // 12011
    if (m_countryCode != kCountryUsa && m_countryCode != kCountryCanada && m_countryCode != kCountryAustralia) {
        failure = Msg(12275);
        return false;
    }
    return true;
}

// ---- Dispatch -------------------------------------------------------------------------------------

bool xvPRM::DispatchRecord(ConvertContext& ctx, xvl::xvlImpInfo& info, std::string& reason) {
    const uint16_t prm = ctx.mainHandle;
    const uint16_t rec = info.ImportedRecs();
    if (info.FileNumUsed() == prm && rec == kPrRecEmployee)
        return ConvertEmployee(prm, info, reason, ctx.messages, ctx.converting, *ctx.import);
    if (info.FileNumUsed() == prm && rec >= kPrRecEmployee2 && rec <= kPrRecFringe)
        return ConvertEmployeeRecord(prm, info, reason, ctx.messages, ctx.converting, *ctx.import);
    // Any other record type has no place in this conversion: a PR master record by its
    // definition's name, anything else by its format id.
    return RejectUnknownRecord(info, reason, kConversionName, info.FileNumUsed() == prm ? prm : 0);
}

}  // namespace dz::pr
