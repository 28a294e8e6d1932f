// The employee record (PR master record 1): required fields, the name form, the country rules,
// tax groups and statuses, and the references into the PR system, JC and EQ files.
#include "converters/pr/pr_rules.h"
#include "converters/pr/xvprm.h"

#include "convert/lookups.h"
#include "convert/platform_links.h"
#include "convert/record_fields.h"
#include "modules/entries.h"
#include "platform/datafile/xio.h"
#include "platform/import/xvl_import.h"
#include "platform/suite/util.h"
#include "platform/suite/xk.h"

#include <algorithm>
#include <array>

namespace dz::pr {

using namespace convert;

namespace {

constexpr uint16_t kRec = kPrRecEmployee;

// Key formats of the JC and EQ keys.
constexpr int kJobFormat = 16;
constexpr int kPhaseFormat = 18;
constexpr int kEquipmentFormat = 69;
constexpr int kCostCodeFormat = 187;

std::string Description(int number, bool upperFirst) {
    std::string text = suite::xk_description(number);
    if (upperFirst) suite::x_upper_first(text);
    return text;
}

std::string Plural(int number) {
    std::string text = suite::xk_description(number);
    suite::x_pluralize(text);
    return text;
}

// A key value in its display form.
std::string Shown(int format, std::string value) {
    suite::xk_format_field(format, 0, value);
    return value;
}

std::string Joined(std::initializer_list<std::string> parts) {
    std::string out;
    for (const auto& p : parts) {
        if (!out.empty()) out += ", ";
        out += p;
    }
    if (out.size() > x_value_def::kTextMax) out.resize(x_value_def::kTextMax);
    return out;
}

}  // namespace

void xvPRM::ResolveEmployeeFields(uint16_t prm) {
    if (employeeFieldsOf_ == prm) return;
    emp_.Resolve(prm, kRec, kEmployeeNames);
    employeeFieldsOf_ = prm;
}

bool xvPRM::ConvertEmployee(uint16_t prm, xvl::xvlImpInfo& info, std::string& reason, convert::MessageList& messages,
                            bool converting, xvl::xvlImport& import) {
    const auto word = [converting](const char* pair) { return convert::ModeWord(pair, converting); };
    const uint16_t country = m_countryCode;
    ResolveEmployeeFields(prm);

    // 1. Employee ID.
    const std::string empId = GetText(prm, emp_[kEMPID]);
    if (empId.empty()) {
        reason = Msg(12276);
        return false;
    }
    // 2. Name, last name first where its shape is recognised.
    std::string name = GetText(prm, emp_[kENAME]);
    ReorderEmployeeName(name);
    while (!name.empty() && name.back() == ' ') name.pop_back();
    if (name.empty()) {
        reason = Msg(12277, empId);
        return false;
    }
    PutText(prm, emp_[kENAME], name);

    // 3. Social security number. Whether the line gave one is decided line by line: a blank
    // column under a template that has the column is as missing as no column at all.
    if (country == kCountryUsa) {
        if (!import.xvlImpLineGave(info.FormatID(), "ESSN")) messages.push_back(Msg(12278, empId));
    } else if (const double ssn = convert::GetNumber(prm, emp_[kESSN]); ssn != 0) {
        messages.push_back(Msg(12279, convert::FormatNumber("%.0f", ssn), word("was not/will not be"),
                               word("804/805")));
        convert::PutNumber(prm, emp_[kESSN], 0);
    }
    // 4. Tax file number (Australia).
    if (country != kCountryAustralia) {
        const std::string& tfn = xio_get_text(prm, emp_[kEGID]);
        if (!tfn.empty()) {
            messages.push_back(Msg(12280, tfn, word("was not/will not be"), word("806/807")));
            PutText(prm, emp_[kEGID], "");
        }
    }
    // 5. Social insurance number (Canada).
    if (const std::string& sin = xio_get_text(prm, emp_[kESIN]); !sin.empty()) {
        if (country == kCountryCanada) {
            uint16_t expected = 0;
            if (!SinHasStandardFormat(sin))
                messages.push_back(Msg(12282, sin));
            else if (!CheckSinDigit(sin, expected))
                messages.push_back(Msg(12283, sin, convert::FormatInt("%d", expected)));
        } else {
            messages.push_back(Msg(12281, sin, word("was not/will not be"), word("808/809")));
            PutText(prm, emp_[kESIN], "");
        }
    }
    // 6. Prefer French (Canada).
    if (country != kCountryCanada && convert::GetFlag(prm, emp_[kEFRNCH]) == 1) {
        messages.push_back(Msg(12284, word("was/will be"), word("812/813")));
        convert::PutFlag(prm, emp_[kEFRNCH], 0);
    }
    // 7. Pay group.
    const std::string& payGroup = xio_get_text(prm, emp_[kEPGID]);
    if (payGroup.empty()) {
        reason = Msg(12285, empId);
        return false;
    }
    if (!Known(m_prsFile, 5, "GROUP", payGroup))
        messages.push_back(Msg(12286, payGroup, word("was converted/will convert"), word("815/899")));

    // 8. Fields no longer used.
    for (const std::size_t field : {kERES1, kEWORK1}) {
        const std::string& value = xio_get_text(prm, emp_[field]);
        if (value.empty()) continue;
        messages.push_back(Msg(12287, kEmployeeNames[field], value, word("was not/will not be"), word("816/817")));
        PutText(prm, emp_[field], "");
    }
    for (const auto& [index, reset] : {std::pair<std::size_t, double>{kECPPF, 1}, {kECPPL, 12}}) {
        const char* const field = kEmployeeNames[index];
        const uint16_t f = emp_[index];
        const double item = convert::GetNumber(prm, f);
        if (item == reset) continue;
        messages.push_back(Msg(12287, field, convert::ChoiceText(prm, f, item, true), word("was not/will not be"),
                               word("816/817")));
        convert::PutNumber(prm, f, reset);
    }

    // 9. Fields the country requires.
    if (country == kCountryUsa && xio_get_text(prm, emp_[kEWORK2]).empty()) {
        reason = Msg(12288, suite::xk_description(53), empId);
        return false;
    }
    if ((country == kCountryUsa || country == kCountryAustralia) && xio_get_text(prm, emp_[kEFSTAT]).empty()) {
        reason = Msg(12290, suite::xk_description(77), empId);
        return false;
    }

    // 10. Fields only some countries use.
    using K = FieldKind;
    auto drop = [&](std::size_t field, K kind, const char* countries, double choiceDefault = 1) {
        if (MayHoldCountryValue(prm, emp_[field], kind, choiceDefault))
            DropCountryField(prm, emp_[field], kind, countries, messages, converting, {}, "TRUE", choiceDefault);
    };
    if (country != kCountryUsa) {
        for (const std::size_t f : {kERES3, kEWORK3, kEEICST}) drop(f, K::Text, "the USA");
        for (const std::size_t f : {kEPEN, kECERT}) drop(f, K::YesNo, "the USA");
    }
    if (country != kCountryUsa && country != kCountryCanada) {
        for (const std::size_t f : {kEWCST, kEWCCD}) drop(f, K::Text, "the USA and Canada");
    }
    if (country != kCountryUsa && country != kCountryAustralia) {
        drop(kEFSTAT, K::Text, "the USA and Australia");
        for (const std::size_t f : {kEPEX, kETAXCD}) drop(f, K::Number, "the USA and Australia");
    }
    if (country != kCountryAustralia) {
        for (const std::size_t f : {kEMEDLV, kESPOUSE}) drop(f, K::YesNo, "Australia");
        for (const std::size_t f : {kEDEPRBT, kEMTGRBT, kEZONRBT}) drop(f, K::Amount, "Australia");
        drop(kEGCERT, K::Number, "Australia");
        for (const std::size_t f : {kETITLED, kEPAYDT}) drop(f, K::Date, "Australia");
        drop(kEDTHBEN, K::YesNo, "Australia");
        drop(kEBENTYP, K::Choice, "Australia", 1);
    }
    if (country != kCountryCanada) {
        for (const std::size_t f : {kETAXDED, kEPERCR, kEFEDCR}) drop(f, K::Amount, "Canada");
        drop(kETRMRES, K::Choice, "Canada", 1);
        drop(kELROEDT, K::Date, "Canada");
    }

    // 11. Tax groups.
    if (!CheckTaxGroups(prm, reason, empId)) return false;

    // 12. Tax statuses, compared with their letter case as the tax file holds them.
    auto inList = [](const std::string& value, const std::array<std::string, kStatusCount>& list) {
        return std::find(list.begin(), list.end(), value) != list.end();
    };
    if (const std::string& filing = xio_get_text(prm, emp_[kEFSTAT]);
        !filing.empty() && !inList(filing, filingStatuses_)) {
        reason = Msg(12293, FieldDescription(prm, kRec, "EFSTAT"), filing, Description(77, true), empId);
        return false;
    }
    if (const std::string& eic = xio_get_text(prm, emp_[kEEICST]);
        !eic.empty() && !inList(eic, eicStatuses_)) {
        reason = Msg(12293, FieldDescription(prm, kRec, "EEICST"), eic, Description(77, true), empId);
        return false;
    }

    // 13. Pay ID.
    if (const std::string& pay = xio_get_text(prm, emp_[kEPAY]); !pay.empty() && !Known(m_prsFile, 1, "PPAYID", pay))
        messages.push_back(Msg(12294, pay, word("was converted/will convert"), word("825/826")));

    // 14-16. Job cost, equipment, union and department references.
    // Most employees give none of these: a run of empty texts is told in one look.
    if (!AllEmpty(prm, {kEJOB, kEPHS, kEEQ, kECOST})) {
        CheckJobFields(prm, messages, converting);
        CheckEquipmentFields(prm, messages, converting);
    } else if (!m_interfacesEQ && convert::GetFlag(prm, emp_[kEABILL]) == 1) {
        CheckEquipmentFields(prm, messages, converting);  // the auto bill flag alone
    }
    if (!AllEmpty(prm, {kEUNION, kELOCAL, kECLASS, kEDEPT, kECCLASS})) CheckUnionFields(prm, messages, converting);

    // 17. Death benefit type (Australia): only with a death benefit.
    if (country == kCountryAustralia) {
        const uint16_t type = emp_[kEBENTYP];
        const double item = convert::GetNumber(prm, type);
        if (item != 1 && xio_get_field_result(prm, kRec, emp_[kEDTHBEN]) == 0) {
            messages.push_back(Msg(12841, convert::ChoiceText(prm, type, item, false), word("was/will be"),
                                   word("884/885")));
            convert::PutNumber(prm, type, 1);
        }
    }
    // 18. Country.
    if (xio_get_text(prm, emp_[kECNTRY]).empty()) PutText(prm, emp_[kECNTRY], CountryListDefault());

    // 19. Current totals.
    ClearCurrentTotals(prm, emp_[kEYREG], emp_[kEMFRG], m_allowTotals != 0, messages);
    return true;
}

bool xvPRM::AllEmpty(uint16_t prm, std::initializer_list<std::size_t> fields) const {
    // Over the smallest run of field numbers that holds them all: a stored text has no trailing
    // blanks, so one that is only blanks is empty. A field the record lacks reads empty too, but
    // cannot bound a run: then field by field.
    uint16_t first = UINT16_MAX, last = 0;
    for (const std::size_t f : fields) {
        const uint16_t n = emp_[f];
        if (n == 0) {
            for (const std::size_t g : fields)
                if (!xio_get_text(prm, emp_[g]).empty()) return false;
            return true;
        }
        first = std::min(first, n);
        last = std::max(last, n);
    }
    return xio_first_nonblank_text(prm, first, last) == 0;
}

bool xvPRM::Known(uint16_t file, uint16_t rec, const char* field, const std::string& value) {
    LastKnown* last = nullptr;
    for (LastKnown& l : lastKnown_)
        if (l.file == file && l.rec == rec) last = &l;
    if (last && last->value == value) return true;
    // The handle and record as fixed-width bytes before the value, in a buffer kept across
    // calls: a setup record found before is answered without an allocation.
    const char head[4] = {static_cast<char>(file >> 8), static_cast<char>(file & 0xFF), static_cast<char>(rec >> 8),
                          static_cast<char>(rec & 0xFF)};
    knownKey_.assign(head, sizeof head).append(value);
    if (!known_.count(knownKey_)) {
        if (!Exists(file, rec, {{field, value}})) return false;
        known_.insert(knownKey_);
    }
    if (!last) last = &lastKnown_.emplace_back(LastKnown{file, rec, {}});
    last->value = value;
    return true;
}

bool xvPRM::CheckTaxGroups(uint16_t prm, std::string& reason, const std::string& empId) {
    struct Group {
        std::size_t field;
        uint16_t rec;
        const char* key;
        int message;
        int description;
    };
    static const Group groups[] = {{kERES2, 2, "TGST", 12291, 53},
                                   {kEWORK2, 2, "TGST", 12291, 53},
                                   {kEWCST, 2, "TGST", 12291, 53},
                                   {kERES3, 3, "TGCITY", 12292, 49},
                                   {kEWORK3, 3, "TGCITY", 12292, 49}};
    for (const Group& g : groups) {
        const std::string& value = xio_get_text(prm, emp_[g.field]);
        if (value.empty() || Known(m_prxFile, g.rec, g.key, value)) continue;
        reason = Msg(g.message, FieldDescription(prm, kRec, kEmployeeNames[g.field]), value,
                     Description(g.description, true), empId);
        return false;
    }
    return true;
}

void xvPRM::CheckJobFields(uint16_t prm, convert::MessageList& messages, bool converting) {
    const auto word = [converting](const char* pair) { return convert::ModeWord(pair, converting); };
    const std::string& job = xio_get_text(prm, emp_[kEJOB]);
    std::string phase = GetText(prm, emp_[kEPHS]);
    if (!m_interfacesJC) {
        if (!job.empty()) {
            messages.push_back(Msg(12296, Shown(kJobFormat, job), word("was not/will not be"), word("828/829")));
            PutText(prm, emp_[kEJOB], "");
        }
        if (!phase.empty()) {
            messages.push_back(Msg(12297, Description(18, true), Shown(kPhaseFormat, phase), word("was not/will not be"),
                                   word("830/831")));
            PutText(prm, emp_[kEPHS], "");
        }
        return;
    }
    // 1. Group phases are never an employee's phase.
    if (!phase.empty() && modules::JC_GROUP_PHASE(phase, kPhaseFormat, nullptr) != 0) {
        messages.push_back(Msg(12298, Plural(18), suite::xk_description(18), Shown(kPhaseFormat, phase),
                               word("was not/will not be"), word("832/833")));
        PutText(prm, emp_[kEPHS], "");
        phase.clear();
    }
    if (!m_jcmFile) return;
    // 2. The job, and the phase under it.
    if (!job.empty()) {
        if (!Exists(m_jcmFile, 1, {{"JOB", job}})) messages.push_back(Msg(12299, Shown(kJobFormat, job)));
        if (!phase.empty() && !Exists(m_jcmFile, 3, {{"PJOB", job}, {"PHASE", phase}}))
            messages.push_back(Msg(12300, Description(18, true), Shown(kPhaseFormat, phase), Shown(kJobFormat, job)));
        return;
    }
    // 3. A phase without a job is a standard phase.
    if (!phase.empty() && !Exists(m_jcmFile, 16, {{"SPHASE", phase}}))
        messages.push_back(Msg(12301, suite::xk_description(18), Shown(kPhaseFormat, phase)));
}

void xvPRM::CheckEquipmentFields(uint16_t prm, convert::MessageList& messages, bool converting) {
    const auto word = [converting](const char* pair) { return convert::ModeWord(pair, converting); };
    const std::string& equipment = xio_get_text(prm, emp_[kEEQ]);
    const std::string& cost = xio_get_text(prm, emp_[kECOST]);
    if (!m_interfacesEQ) {
        if (!equipment.empty()) {
            messages.push_back(Msg(12302, Description(69, true), Shown(kEquipmentFormat, equipment),
                                   word("was not/will not be"), word("837/838")));
            PutText(prm, emp_[kEEQ], "");
        }
        if (!cost.empty()) {
            messages.push_back(Msg(12303, Description(187, true), Shown(kCostCodeFormat, cost),
                                   word("was not/will not be"), word("839/840")));
            PutText(prm, emp_[kECOST], "");
        }
        if (convert::GetFlag(prm, emp_[kEABILL]) == 1) {
            messages.push_back(Msg(12303, "Auto bill EQ revenue", "TRUE", word("was not/will not be"), word("839/840")));
            convert::PutFlag(prm, emp_[kEABILL], 0);
        }
        return;
    }
    if (m_eqmFile && !equipment.empty() && !Exists(m_eqmFile, 1, {{"EQUIP", equipment}}))
        messages.push_back(Msg(12307, Description(69, true), Shown(kEquipmentFormat, equipment)));
    if (m_eqsFile && !cost.empty() && !Exists(m_eqsFile, 1, {{"SCCODE", cost}})) {
        std::string label = Description(187, true);
        suite::x_strins("EQ ", label, 0);
        messages.push_back(Msg(12307, label, Shown(kCostCodeFormat, cost)));
    }
}

void xvPRM::CheckUnionFields(uint16_t prm, convert::MessageList& messages, bool converting) {
    // The mode's words, chosen for the messages that are issued.
    const char* const will = converting ? "converted" : "will convert";
    const char* const number = converting ? "845" : "846";
    const uint16_t prs = m_prsFile;
    const std::string& unionId = xio_get_text(prm, emp_[kEUNION]);
    const std::string& local = xio_get_text(prm, emp_[kELOCAL]);
    const std::string& unionClass = xio_get_text(prm, emp_[kECLASS]);
    // 1. Union.
    if (!unionId.empty() && !Known(prs, 7, "UNID", unionId))
        messages.push_back(Msg(12308, "Union ID", unionId, will, "Union", number));
    // 2. Local: under its union, or under any union when none is given.
    if (!local.empty()) {
        if (!unionId.empty()) {
            if (!Exists(prs, 8, {{"LOCUNID", unionId}, {"LOCID", local}}))
                messages.push_back(Msg(12309, "Union Local", Joined({unionId, local}), "Union Local", number));
        } else {
            bool found = false;
            const uint16_t idField = FieldNo(prs, 7, "UNID");
            xio_init_record(prs, 7);
            for (int status = xio_rd_first(prs, 7, 0, 0); status == XIO_OK && !found;
                 status = xio_rd_next(prs, 7, 0, 0)) {
                const std::string candidate = GetText(prs, idField);
                xio_save_record(prs, 7);
                found = Exists(prs, 8, {{"LOCUNID", candidate}, {"LOCID", local}});
                xio_restore_record(prs, 7);
                if (!found && convert::InBackground() && convert::CheckTerminate()) break;
            }
            if (!found) messages.push_back(Msg(12308, "Union Local", local, will, "Union Local", number));
        }
    }
    // 3. Class: by union, local and class when both are given, else by the class alone.
    if (!unionClass.empty()) {
        const bool full = !unionId.empty() && !local.empty();
        const bool exists = full ? Exists(prs, 9, {{"CLID", unionClass}, {"CLUNID", unionId}, {"CLLOCID", local}}, 0)
                                 : Exists(prs, 9, {{"CLID", unionClass}}, 1);
        if (!exists) {
            if (full)
                messages.push_back(
                    Msg(12309, "Union Class", Joined({unionId, local, unionClass}), "Union Class", number));
            else
                messages.push_back(Msg(12308, "Union Class", unionClass, will, "Union Class", number));
        }
    }
    // 4, 5. Department and work order class.
    if (const std::string& dept = xio_get_text(prm, emp_[kEDEPT]); !dept.empty() && !Known(prs, 6, "DEPT", dept))
        messages.push_back(Msg(12308, "Department", dept, will, "Department", number));
    if (const std::string& cc = xio_get_text(prm, emp_[kECCLASS]); !cc.empty() && !Known(prs, 17, "CCID", cc))
        messages.push_back(Msg(12308, Description(71, true), cc, will, "record", number));
}

}  // namespace dz::pr
