#include "converters/pm/xvpml.h"

#include "convert/progress.h"
#include "convert/reports.h"
#include "platform/datafile/xio.h"
#include "platform/import/xvl_import.h"
#include "platform/suite/control.h"
#include "platform/suite/util.h"
#include "platform/suite/xd.h"

#include <cmath>
#include <cstring>

namespace dz::pm {

using namespace convert;

namespace {

constexpr const char* kTitle = "PM System, Tenant, & Lease Files";
constexpr const char* kConversionName = "PML Lease, Tenant, and System";

// The record of `file` and number `rec` that the import staged.
bool Is(const xvl::xvlImpInfo& info, uint16_t file, uint16_t rec) {
    return file != 0 && info.FileNumUsed() == file && info.ImportedRecs() == rec;
}

}  // namespace

std::string UpperKey(std::string text) {
    suite::x_capitalize(text);
    return text;
}

ConverterProfile xvPML::Profile() const {
    ConverterProfile p;
    p.abbreviation = "PML";
    p.fileNo = 1;
    p.title = kTitle;
    p.description = "PM Lease file";
    p.convertingText = std::string("Converting '%s' into ") + kTitle;
    p.examiningText = std::string("Examining '%s' for ") + kTitle;
    p.progressEtc = true;
    auto file = [](const char* abbr, uint16_t code, const char* description, int openOrder) {
        ConverterDataFile f = ConverterDataFile::Owned(abbr, 1, code, description);
        f.openOrder = openOrder;
        return f;
    };
    // Written (backed up and, when the file ends early, all four restored) in this order; the GL
    // master file is only read. Opened system, tenant, lease, property, GL.
    p.dataFiles = {file("PML", kPmlCode, "PM Lease file", 2), file("PMN", kPmnCode, "PM Tenant file", 1),
                   file("PMS", kPmsCode, "PM System file", 0), file("PMP", kPmpCode, "PM Property file", 3),
                   ConverterDataFile::ReadOnly("GLM", 1, 1, "GL Master file")};
    p.dataFiles.back().openOrder = 4;
    return p;
}

// ---- Files and lists -------------------------------------------------------------------------------------

bool xvPML::OpenFiles(convert::OpenFilesList& list, uint16_t commandId, uint16_t& error) {
    if (suite::xa_appl_installed("GL") == 0) return NotInstalled("GLM", 1, 9844, list, error);
    return PmConverter::OpenFiles(list, commandId, error);
}

void xvPML::LoadLists() {
    m_list421.Load(kAddressTypeList);
    m_list422.Load(kDepositTypeList);
    m_list423.Load(kOptionCategoryList);
    m_list424.Load(kInsuranceTypeList);
    m_list417.Load(kSfTypeTerm);
    m_list428.Load(kBusinessCategoryList);
    m_list421Default = m_list421.first;
}

bool xvPML::LoadSettings(ConvertContext& ctx, std::string&) {
    convert::ForgetFieldNumbers();  // handles may name other files than in an earlier run
    pml_ = convert::FindFileHandle(ctx.files, "PML", 1);
    pmn_ = convert::FindFileHandle(ctx.files, "PMN", 1);
    pms_ = convert::FindFileHandle(ctx.files, "PMS", 1);
    pmp_ = convert::FindFileHandle(ctx.files, "PMP", 1);
    m_glmFile = convert::FindFileHandle(ctx.files, "GLM", 1);
    m_leaseCache.Forget();
    m_readOnce.clear();
    m_storedUnits.clear();
    m_properties.clear();
    m_tenantsOnFile.clear();
    m_linkedLease = {};
    m_lastCharge = {};
    m_linkFieldsFor = 0;
    m_linkRow = 0;
    m_leaseFieldsFor = 0;
    m_chargeFieldsFor = 0;
    // Only a file that answers "no first link" has none: any failure to read is taken as links
    // to check, so that the walk meets the failure and ends the file.
    if (ctx.converting) {
        const int first = xio_rd_first(pmp_, kPmpLeaseUnitLink, 0, 0);
        m_linksBeforeRun = first != XIO_END && first != XIO_END_OLD;
        xio_init_record(pmp_, kPmpLeaseUnitLink);
        const int firstLog = xio_rd_first(pml_, kPmlRecurringLog, 0, 0);
        m_logsBeforeRun = firstLog != XIO_END && firstLog != XIO_END_OLD;
        xio_init_record(pml_, kPmlRecurringLog);
    } else {
        m_linksBeforeRun = true;
        m_logsBeforeRun = true;
    }
    LoadLists();
    return true;
}

// ---- Duplicates ----------------------------------------------------------------------------------------------

bool xvPML::CollectDuplicateKeys(bool converting, uint16_t pms, uint16_t pml, const xvl::xvlImpInfo& info) {
    if (info.Status() == 1 || info.RecExtraData() != 0) return true;
    const uint16_t file = info.FileNumUsed(), rec = info.ImportedRecs();
    std::string* example = nullptr;
    if (Is(info, pms, kPmsSicCode)) example = &m_ignoredSicExample;
    else if (Is(info, pms, kPmsCpiIndex)) example = &m_ignoredCpiExample;
    else if (Is(info, pms, kPmsPorterWage)) example = &m_ignoredPorterWageExample;
    else if (Is(info, pml, kPmlChargeControl)) example = &m_ignoredChargeControlExample;
    else return true;

    bool duplicate = xio_find_record(file, rec, 0) == XIO_OK;
    if (!duplicate && !converting) {
        std::string id;
        xvPML temporary;
        temporary.RecordIdText(file, id, rec);
        duplicate = RecordIds().count(id) != 0;
    }
    if (!duplicate) return true;
    if (example->empty()) {
        switch (rec) {
        case kPmsSicCode: *example = GetText(file, rec, "SICCODE"); break;
        case kPmsCpiIndex:
            *example = GetText(file, rec, "CPIID") + ", " + DateText(GetDate(file, rec, "CPIDATE"));
            break;
        case kPmsPorterWage:
            *example = GetText(file, rec, "PWID") + ", " + DateText(GetDate(file, rec, "PWDATE"));
            break;
        default:
            *example = GetText(file, rec, "LCLEASE") + ", " + WholeText(GetNumber(file, rec, "LCREV")) + ", " +
                       GetText(file, rec, "LCCT");
            break;
        }
    }
    return false;
}

bool xvPML::ReportIgnoredDuplicates(convert::NotesReport& notes, convert::ConvertProgress* progress) {
    const std::pair<int, const std::string*> kinds[] = {{12513, &m_ignoredSicExample},
                                                        {12514, &m_ignoredCpiExample},
                                                        {12515, &m_ignoredPorterWageExample},
                                                        {12516, &m_ignoredChargeControlExample}};
    ClosingNotes closing(notes);
    for (const auto& [message, example] : kinds) {
        if (example->empty()) continue;
        if (!closing.Add(Msg(message, *example))) return false;
        if (progress) progress->messages += 1;
    }
    return true;
}

// ---- The record loop's hooks ---------------------------------------------------------------------------------

bool xvPML::CountRecord(ConvertContext& ctx, xvl::xvlImpInfo& info, int) {
    if (CollectDuplicateKeys(ctx.converting, pms_, pml_, info)) return true;
    // The import may have read the record on file for its replacement: nothing stays locked.
    if (info.ReplaceRecord()) xio_unlock_record(info.FileNumUsed(), info.ImportedRecs(), 1);
    if (info.UDRecordLocked()) xio_unlock_record(info.FileNumUsed(), info.UDRecordLocked(), 1);
    return false;
}

bool xvPML::DispatchRecord(ConvertContext& ctx, xvl::xvlImpInfo& info, std::string& reason) {
    const uint16_t file = info.FileNumUsed(), rec = info.ImportedRecs();
    convert::MessageList& m = ctx.messages;
    const bool c = ctx.converting;
    xvl::xvlImport& import = *ctx.import;
    if (file == pml_) {
        // A lease replaced may differ from what was kept of it when an earlier line wrote it.
        if (rec == kPmlLease && info.ReplaceRecord()) m_leaseFactsStale = true;
        // So may a log entry replaced: the entries kept no longer all stand as written.
        if (rec == kPmlRecurringLog && info.ReplaceRecord()) m_logFactsStale = true;
        // A charge replaced is no longer as it was added.
        if (rec == kPmlRecurringCharge && info.ReplaceRecord()) m_chargeImagesStale = true;
        switch (rec) {
        case kPmlLease: return ConvertLease(pml_, info, reason, m, c, pmn_, pmp_, pms_);
        case kPmlDeposit: return ConvertDeposit(pml_, info, reason, m, c, pmp_, pms_);
        case kPmlModification: return ConvertLeaseModification(pml_, info, reason, m, c);
        case kPmlOption: return ConvertLeaseOption(pml_, info, reason, m, c, pmp_);
        case kPmlChecklist: return ConvertChecklistItem(pml_, info, reason, m, c);
        case kPmlInsurance: return ConvertInsurance(pml_, info, reason, m, c);
        case kPmlChargeControl: return ConvertChargeControl(pml_, info, reason, m, c, pms_, pmp_, pmn_);
        case kPmlLateCharge: return ConvertLateCharge(pml_, info, reason, m, c, pms_);
        case kPmlRecurringCharge: return ConvertRecurringCharge(pml_, info, reason, m, c, pmp_, pms_, import);
        case kPmlRecurringLog: return ConvertRecurringChargeLog(pml_, info, reason, m, c, import);
        case kPmlIndexEscalation: return ConvertIndexEscalation(pml_, info, reason, m, c, pms_, pmp_);
        default: break;
        }
    } else if (file == pmn_) {
        // A tenant record may add or replace a tenant that a lease names.
        if (rec == kPmnTenant && !m_tenantsOnFile.empty()) m_tenantsOnFile.clear();
        switch (rec) {
        case kPmnTenant: return ConvertTenant(pmn_, info, reason, m, c, import);
        case kPmnTenantTA: return ConvertTenantTA(pmn_, info, reason, m, c);
        case kPmnTenantLease: return ConvertTenantLease(pmn_, info, reason, m, c, pml_);
        default: break;
        }
    } else if (file == pms_) {
        switch (rec) {
        case kPmsCorporation: return ConvertCorporation(pms_, info, reason, m, c);
        case kPmsCalcMethod: return ConvertCalcMethod(pms_, info, reason, m, c);
        case kPmsCpiIndex: return ConvertCpiIndex(pms_, info, reason, m, c);
        case kPmsPorterWage: return ConvertPortersWage(pms_, info, reason, m, c);
        case kPmsSicCode: return ConvertSicCode(pms_, info, reason, m, c);
        default: break;
        }
    }
    // A record of the three files is named by its definition (its format id when it has no
    // number); a record of any other file by its format id.
    return RejectUnknownRecord(info, reason, kConversionName,
                               (file == pml_ || file == pmn_ || file == pms_) ? file : 0);
}

uint16_t StatusFieldResult(uint16_t pml, const xvl::xvlImpInfo& info) {
    if (info.FileNumUsed() != pml || info.RecExtraData() != 0) return 0;
    if (info.ImportedRecs() == kPmlLease)
        return static_cast<uint16_t>(xio_get_field_result(pml, kPmlLease, FieldNo(pml, kPmlLease, "LSTATUS")));
    if (info.ImportedRecs() == kPmlRecurringCharge)
        return static_cast<uint16_t>(
            xio_get_field_result(pml, kPmlRecurringCharge, FieldNo(pml, kPmlRecurringCharge, "RCAMTT")));
    return 0;
}

uint16_t xvPML::ExamineValue(ConvertContext&, const xvl::xvlImpInfo& info) {
    // An escalation examined later checks a calculation method's type against its index type.
    if (info.FileNumUsed() == pms_ && info.ImportedRecs() == kPmsCalcMethod && info.RecExtraData() == 0)
        return static_cast<uint16_t>(
            xio_get_field_result(pms_, kPmsCalcMethod, FieldNo(pms_, kPmsCalcMethod, "CMTYPE")));
    return StatusFieldResult(pml_, info);
}

void xvPML::RecordWritten(ConvertContext& ctx, xvl::xvlImpInfo& info) {
    if (info.RecExtraData() != 0) return;  // notes and user-field records carry no list values
    const uint16_t file = info.FileNumUsed(), rec = info.ImportedRecs();
    const auto line = static_cast<uint32_t>(info.StartLine());
    convert::NotesReport& notes = *ctx.notes;
    // A value missing from its list is noted; a blank one only where a blank is no choice.
    auto check = [&](const CustomList& list, uint16_t f, uint16_t r, const char* field, bool blankNoted) {
        const std::string value = GetText(f, r, field);
        if (value.empty() && !blankNoted) return;
        list.CheckExact(value, notes, line);
    };
    if (file == pml_ && rec == kPmlLease) {
        // The lease's fields are read through their numbers: a lease line comes a million times.
        const convert::FieldNumbers<kLeaseFields>& no = LeaseFields(pml_);
        const std::string& lease = xio_get_text(pml_, no[kLfLease]);
        // It may replace the one kept. Written, it is the lease its child records name next.
        if (ctx.converting && !lease.empty())
            m_leaseCache.Keep({lease, xio_get_text(pml_, no[kLfProperty]), xio_get_text(pml_, no[kLfTenant]),
                               xio_get_number(pml_, no[kLfRevision]), StagedField(pml_, rec, no[kLfStatus]).Result()});
        else
            m_leaseCache.Forget();
        RecordWrittenLease(ctx, line);
        return;
    }
    if (ctx.converting && file == pml_ && rec == kPmlRecurringCharge)
        m_lastCharge = {GetText(pml_, rec, "RCLEASE"), GetText(pml_, rec, "RCCT"), GetText(pml_, rec, "RCUNIT"),
                        GetNumber(pml_, rec, "RCREV"), StagedField(pml_, rec, "RCAMTT").Result(), true};
    if (file == pmn_ && rec == kPmnTenantTA) check(m_list421, pmn_, rec, "TATYPE", true);
    if (file != pml_) {
        if (!ctx.converting && file == pms_ && rec == kPmsCpiIndex)
            m_examinedCpiIds.insert(UpperKey(GetText(pms_, rec, "CPIID")));
        if (!ctx.converting && file == pms_ && rec == kPmsPorterWage)
            m_examinedPorterWageIds.insert(UpperKey(GetText(pms_, rec, "PWID")));
        return;
    }
    switch (rec) {
    case kPmlDeposit: check(m_list422, pml_, rec, "LDDTYPE", true); break;
    case kPmlOption: check(m_list423, pml_, rec, "LOCAT", true); break;
    case kPmlInsurance: check(m_list424, pml_, rec, "LINSTYP", true); break;
    case kPmlChargeControl: check(m_list421, pml_, rec, "LCBTADD", true); break;
    case kPmlRecurringCharge:
        check(m_list417, pml_, rec, "RCSQFT", true);
        check(m_list422, pml_, rec, "RCAFDEP", false);
        break;
    default: break;
    }

    if (!ctx.converting) return;
    // Convert: the record just written is still in its buffer.
    if ((rec == kPmlDeposit || rec == kPmlRecurringCharge) && !UpdateUnitLeaseLinks(pmp_, pml_, rec)) {
        EndFile(ctx, DataFileFailure(ctx), true, true);
        return;
    }
    auto text = [&](const char* field) { return GetText(pml_, rec, field); };
    auto revision = [&](const char* field) { return WholeText(GetNumber(pml_, rec, field)); };
    switch (rec) {
    case kPmlChargeControl:
        if (!text("LCLEASE").empty()) {
            m_chargeControlKeys.push_back({text("LCLEASE"), revision("LCREV"), text("LCCT")});
            m_chargeControlBillTo.push_back(FactNumber(text("LCBTTEN")));
            const double number = GetNumber(pml_, rec, "LCREV");
            if (number != std::round(number)) m_chargeControlsStale = true;
        }
        break;
    case kPmlIndexEscalation:
        if (!text("IELEASE").empty())
            m_escalationKeys.push_back({text("IELEASE"), revision("IEREV"), text("IECT"), text("IECU")});
        break;
    case kPmlRecurringCharge:
        if (!text("RCLEASE").empty()) {
            m_recurringChargeKeys.push_back({text("RCLEASE"), revision("RCREV"), text("RCCT"), text("RCUNIT")});
            // The check finds a charge by its revision's whole-number text: only a whole revision
            // is the charge it finds.
            const double number = GetNumber(pml_, rec, "RCREV");
            if (!info.ReplaceRecord() && !m_chargeImagesStale && number == std::round(number))
                m_chargeImages.push_back(ChargeImageOf(pml_, static_cast<uint32_t>(m_recurringChargeKeys.size() - 1)));
        }
        break;
    case kPmlRecurringLog:
        if (!text("RCLLEAS").empty()) {
            m_recurringChargeKeys.push_back({text("RCLLEAS"), revision("RCLREV"), text("RCLCT"), text("RCLUNIT")});
            m_logFacts.push_back({static_cast<uint32_t>(m_recurringChargeKeys.size() - 1), GetNumber(pml_, rec, "RCLREV"),
                                  DateOrder(GetDate(pml_, rec, "RCLEFDT")), StagedField(pml_, rec, "RCLFREQ").Result(),
                                  GetNumber(pml_, rec, "RCLAMT")});
        }
        break;
    default: break;
    }
}

void xvPML::RecordWrittenLease(ConvertContext& ctx, uint32_t line) {
    const convert::FieldNumbers<kLeaseFields>& no = LeaseFields(pml_);
    // Fetched again after every step that may touch the buffer: a text read is valid until then.
    auto text = [&](LeaseField f) -> const std::string& { return xio_get_text(pml_, no[f]); };
    for (const auto& [list, f] : {std::pair{&m_list421, kLfBilling}, std::pair{&m_list421, kLfInterestType},
                                  std::pair{&m_list421, kLfRefundType}, std::pair{&m_list428, kLfCategory}})
        if (!text(f).empty()) list->CheckExact(text(f), *ctx.notes, line);

    if (!ctx.converting) {
        m_examinedLeaseProperties.Add(UpperKey(text(kLfLease)), text(kLfProperty));
        return;
    }
    if (!UpdateUnitLeaseLinks(pmp_, pml_, kPmlLease)) {
        EndFile(ctx, DataFileFailure(ctx), true, true);
        return;
    }
    if (text(kLfLease).empty()) return;
    const double number = xio_get_number(pml_, no[kLfRevision]);
    m_leaseKeys.push_back({text(kLfLease), WholeText(number)});
    // The interest and refund tenants are mostly the lease's own.
    const std::string& tenant = text(kLfTenant);
    const std::string &interest = text(kLfInterest), &refund = text(kLfRefund);
    const uint32_t tenantNo = m_leaseTenantKnown && tenant == m_leaseTenantText ? m_leaseTenantFact : FactNumber(tenant);
    m_leaseFacts.push_back({FactNumber(text(kLfProperty)), tenantNo,
                            interest == tenant ? tenantNo : FactNumber(interest),
                            refund == tenant ? tenantNo : FactNumber(refund)});
    // The pass finds the lease again by its revision's whole-number text.
    if (number != std::round(number)) m_leaseFactsStale = true;
}

uint32_t xvPML::FactNumber(const std::string& text) {
    if (m_lastFactKnown && text == m_lastFactText) return m_lastFact;
    uint32_t number = static_cast<uint32_t>(m_factTexts.size());
    if (const auto it = m_factNumbers.find(text); it != m_factNumbers.end()) {
        number = it->second;
    } else {
        m_factNumbers.emplace(text, number);
        m_factTexts.push_back(text);
    }
    m_lastFactText = text;
    m_lastFact = number;
    m_lastFactKnown = true;
    return number;
}

// ---- Unit lease links ----------------------------------------------------------------------------------------

bool xvPML::UpdateUnitLeaseLinks(uint16_t pmp, uint16_t pml, uint16_t rec) {
    // A link already on file is the normal case of a second deposit or charge on one unit.
    // A link met again is not written again: a duplicate would also end the bulk load of the links.
    auto writeLink = [&](const std::string& property, const std::string& unit, const std::string& lease,
                         double revision) {
        LinkedLease& linked = m_linkedLease;
        const bool sameLease = linked.revision == revision && linked.lease == lease && linked.property == property;
        if (sameLease && std::find(linked.units.begin(), linked.units.end(), unit) != linked.units.end()) return true;
        uint16_t* const fields = m_linkFields;
        if (m_linkFieldsFor != pmp) {
            fields[0] = FieldNo(pmp, kPmpLeaseUnitLink, "LUPROP");
            fields[1] = FieldNo(pmp, kPmpLeaseUnitLink, "LUUNIT");
            fields[2] = FieldNo(pmp, kPmpLeaseUnitLink, "LULEASE");
            fields[3] = FieldNo(pmp, kPmpLeaseUnitLink, "LUREV");
            m_linkFieldsFor = pmp;
        }
        // The link last added is still in the buffer as written: only the fields that differ
        // are put, and the record is started afresh only when something else used the buffer.
        const bool asWritten = m_linkRow != 0 && xio_current_row(pmp, kPmpLeaseUnitLink) == m_linkRow;
        if (!asWritten) xio_init_record(pmp, kPmpLeaseUnitLink);
        for (const auto& [no, value] : {std::pair{fields[0], &property}, std::pair{fields[1], &unit},
                                        std::pair{fields[2], &lease}})
            if (!asWritten || xio_get_text(pmp, no) != *value) PutText(pmp, no, *value);
        const double held = asWritten ? xio_get_number(pmp, fields[3]) : 0;
        if (!asWritten || std::memcmp(&held, &revision, sizeof held) != 0) PutNumber(pmp, fields[3], revision);
        const int status = xio_wr_record(pmp, kPmpLeaseUnitLink);
        m_linkRow = status == XIO_OK ? xio_current_row(pmp, kPmpLeaseUnitLink) : 0;
        if (status != XIO_OK && status != XIO_DUPLICATE) return false;
        if (!sameLease) {
            linked.property = property;
            linked.lease = lease;
            linked.revision = revision;
            linked.units.clear();
        }
        if (linked.units.size() < 16) linked.units.push_back(unit);
        return true;
    };

    if (rec == kPmlLease) {
        const convert::FieldNumbers<kLeaseFields>& no = LeaseFields(pml);
        const double status = xio_get_number(pml, no[kLfStatus]);
        const std::string lease = xio_get_text(pml, no[kLfLease]), property = xio_get_text(pml, no[kLfProperty]),
                          unit = xio_get_text(pml, no[kLfUnit]);
        const double revision = xio_get_number(pml, no[kLfRevision]);
        if (status != 2 && !writeLink(property, unit, lease, revision)) return false;
        if (status != 3) return true;

        // The unit keeps a current lease that starts on or after this one.
        const x_date_type start = GetDate(pml, no[kLfActualStart]);
        const bool keep = !m_leaseFactsStale;
        std::string& unitKey = m_unitKey;
        unitKey.clear();
        if (keep) {
            unitKey.append(property).append(1, '\t').append(unit);
            suite::x_capitalize(unitKey);
        }
        if (UnitCurrent* kept = keep ? m_unitCurrent.find(unitKey) : nullptr) {
            if (kept->held && suite::xd_compare_dates(kept->start, start) >= 0) return true;
            kept->held = false;
        }
        auto remember = [&](UnitCurrent current) {
            if (!keep) return;
            if (UnitCurrent* kept = m_unitCurrent.find(unitKey)) *kept = std::move(current);
            else m_unitCurrent.emplace(unitKey, std::move(current));
        };

        xio_init_record(pmp, kPmpUnit);
        PutText(pmp, kPmpUnit, "UPROP", property);
        PutText(pmp, kPmpUnit, "UNIT", unit);
        if (xio_rd_record(pmp, kPmpUnit, 0, 1) != XIO_OK) return true;  // no unit: nothing held
        const std::string current = GetText(pmp, kPmpUnit, "UCURLES");
        if (!current.empty()) {
            const double currentRevision = GetNumber(pmp, kPmpUnit, "UCURREV");
            xio_save_record(pml, rec);
            x_date_type currentStart{};
            xio_init_record(pml, rec);
            PutText(pml, rec, "LEASE", current);
            PutNumber(pml, rec, "LREV", currentRevision);
            const bool currentOnFile = xio_rd_record(pml, rec, 0, 0) == XIO_OK;
            if (currentOnFile) currentStart = GetDate(pml, rec, "LACTST");
            xio_restore_record(pml, rec);
            if (suite::xd_compare_dates(currentStart, start) >= 0) {
                xio_unlock_record(pmp, kPmpUnit, 1);
                if (currentOnFile) remember({current, currentRevision, currentStart});
                return true;
            }
        }
        PutText(pmp, kPmpUnit, "UCURLES", lease);
        PutNumber(pmp, kPmpUnit, "UCURREV", revision);
        PutText(pmp, kPmpUnit, "UCURTEN", GetText(pml, rec, "LTENANT"));
        if (xio_rep_record(pmp, kPmpUnit) != XIO_OK) return false;
        remember({lease, revision, start});
        return true;
    }

    if (rec != kPmlDeposit && rec != kPmlRecurringCharge) return true;
    const bool deposit = rec == kPmlDeposit;
    const std::string lease = GetText(pml, rec, deposit ? "LDLEASE" : "RCLEASE");
    const double revision = GetNumber(pml, rec, deposit ? "LDREV" : "RCREV");
    const std::string unit = GetText(pml, rec, deposit ? "LDUNIT" : "RCUNIT");
    // The record's handler has usually just found its lease: what it kept answers.
    if (m_leaseCache.Holds(lease, revision)) {
        const LeaseCache::Facts& facts = m_leaseCache.Last();
        if (facts.status == 2) return true;
        return writeLink(facts.property, unit, lease, revision);
    }
    xio_init_record(pml, kPmlLease);
    PutText(pml, kPmlLease, "LEASE", lease);
    PutNumber(pml, kPmlLease, "LREV", revision);
    if (xio_rd_record(pml, kPmlLease, 0, 0) != XIO_OK) return true;
    if (GetNumber(pml, kPmlLease, "LSTATUS") == 2) return true;
    return writeLink(GetText(pml, kPmlLease, "LPROP"), unit, lease, revision);
}

}  // namespace dz::pm
