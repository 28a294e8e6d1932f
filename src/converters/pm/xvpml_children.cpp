// The lease child records' handlers: charge controls, deposits, late charges, index escalation
// controls, checklist items and insurance. Each checks the record staged in the lease file's
// buffer, corrects it there and returns false with the first fault's text as the reason.
#include "converters/pm/xvpml.h"

#include "converters/pm/pm_late_charge.h"

#include "convert/texts.h"
#include "platform/datafile/xio.h"
#include "platform/suite/util.h"
#include "platform/suite/xd.h"
#include "platform/suite/xk.h"

#include <algorithm>
#include <cctype>

namespace dz::pm {

using namespace convert;

namespace {

using Field = StagedField;

constexpr uint16_t kPmsInterestRateRecord = 2;
constexpr uint16_t kPmpPropertyRecord = 1, kPmpPropertyCharge = 5, kPmpPropertyDeposit = 7;

}  // namespace

Found ChildLease(LeaseCache& leases, uint16_t pml, const StagedField& lease, const StagedField& revision,
                 const LookupScope& scope, std::string& reason, bool takeKey) {
    Found found = leases.Find(pml, lease.Text(), revision.Number(), scope);
    if (!found) {
        reason = LeaseMissingText(12859, lease.Text(), revision.Number());
    } else if (found.where == Found::OnFile && takeKey) {
        lease.Put(leases.Last().lease);
        revision.Put(leases.Last().revision);
    }
    return found;
}

Found LeaseCache::Find(uint16_t pml, const std::string& lease, double revision, const LookupScope& scope) {
    if (kept_ && last_.revision == revision && lease.size() == last_.lease.size() &&
        std::equal(lease.begin(), lease.end(), last_.lease.begin(), [](char a, char b) {
            return std::toupper(static_cast<unsigned char>(a)) == std::toupper(static_cast<unsigned char>(b));
        })) {
        Found found;
        found.where = Found::OnFile;
        found.stored = {last_.lease, WholeText(last_.revision)};
        return found;
    }
    Found found = FindLease(pml, lease, revision, scope);
    kept_ = found.where == Found::OnFile;
    if (kept_)
        last_ = {GetText(pml, kPmlLease, "LEASE"), GetText(pml, kPmlLease, "LPROP"), GetText(pml, kPmlLease, "LTENANT"),
                 GetNumber(pml, kPmlLease, "LREV"), Field(pml, kPmlLease, "LSTATUS").Result()};
    return found;
}

std::string xvPML::StoredChargeType(uint16_t pms, const std::string& chargeType) {
    return ReadOnce("charge type\t" + chargeType, [&] {
        const Found found = FindChargeType(pms, chargeType, {nullptr, true});
        return found ? found.stored[0] : std::string();
    });
}

std::string xvPML::StoredUnit(uint16_t pmp, const std::string& property, const std::string& unit) {
    // Asked for every lease: the look-up's text is built in storage kept from call to call.
    m_unitLookup.assign(property).append(1, '\t').append(unit);
    if (const std::string* stored = m_storedUnits.find(m_unitLookup)) return *stored;
    const Found found = FindUnit(pmp, property, unit, {nullptr, true});
    return m_storedUnits.emplace(m_unitLookup, found ? found.stored[1] : std::string());
}

bool xvPML::TakeChargeType(uint16_t pms, const StagedField& chargeType, std::string& reason) {
    if (IsDefaultChargeType(chargeType.Text())) {
        chargeType.Put(kDefaultChargeType);
        return true;
    }
    const std::string stored = StoredChargeType(pms, chargeType.Text());
    if (stored.empty()) {
        reason = Msg(12474, TermLabel(kChargeTypeTerm), chargeType.Text(), TermLabel(kChargeTypeTerm));
        return false;
    }
    chargeType.Put(stored);
    return true;
}

bool xvPML::TakeUnit(uint16_t pmp, const std::string& property, const StagedField& unit, std::string& reason) {
    const std::string stored = StoredUnit(pmp, property, unit.Text());
    if (stored.empty()) {
        reason = UnitMissingText(12453, property, unit.Text());
        return false;
    }
    unit.Put(stored);
    return true;
}

// ---- Charge control ---------------------------------------------------------------------------------------

bool xvPML::ConvertChargeControl(uint16_t pml, xvl::xvlImpInfo&, std::string& reason, convert::MessageList&,
                                 bool converting, uint16_t pms, uint16_t pmp, uint16_t pmn) {
    constexpr uint16_t R = kPmlChargeControl;
    const Field lease(pml, R, "LCLEASE"), revision(pml, R, "LCREV"), chargeType(pml, R, "LCCT"),
        priority(pml, R, "LCPMTOR"), prefix(pml, R, "LCGLPFX"), billTo(pml, R, "LCBTTEN"),
        address(pml, R, "LCBTADD");
    const LookupScope scope{&RecordIds(), converting}, onFile{&RecordIds(), true};
    const std::string leaseText = LeaseKeyText(lease.Text(), revision.Number());

    if (lease.Text().empty()) {
        reason = Msg(12445, lease.Label());
        return false;
    }
    if (chargeType.Text().empty()) {
        reason = Msg(12446, chargeType.Label(), LeaseKeyLabel(), leaseText);
        return false;
    }
    // The lease: on file (its property and tenant serve the defaults below) or, examining,
    // earlier in the text file.
    const Found leaseFound = ChildLease(m_leaseCache, pml, lease, revision, scope, reason, false);
    if (!leaseFound) return false;
    std::string leaseProperty, leaseTenant;
    if (leaseFound.where == Found::OnFile) {
        leaseProperty = m_leaseCache.Last().property;
        leaseTenant = m_leaseCache.Last().tenant;
    } else if (const auto examined = m_examinedLeaseProperties.Find(UpperKey(lease.Text()))) {
        leaseProperty = *examined;
    }

    if (!TakeChargeType(pms, chargeType, reason)) return false;
    if (IsZero(priority.Number())) {
        reason = Msg(12522, "Payment priority", TermLabel(kChargeTypeTerm), chargeType.Text());
        return false;
    }

    // The GL prefix: the property charge's, else the property's; a given one must be a prefix of
    // the account format's levels (with no prefix levels it is not checked).
    if (prefix.Text().empty()) {
        const std::string found = ReadOnce("prefix\t" + leaseProperty + "\t" + chargeType.Text(), [&] {
            std::string value;
            if (leaseProperty.empty()) return value;
            if (ReadByKeys(pmp, kPmpPropertyCharge, {{"PCPROP", leaseProperty}, {"PCCT", chargeType.Text()}}))
                value = GetText(pmp, kPmpPropertyCharge, "PCGLPFX");
            if (value.empty() && ReadByKeys(pmp, kPmpPropertyRecord, {{"PROP", leaseProperty}}))
                value = GetText(pmp, kPmpPropertyRecord, "PGLPFX");
            return value;
        });
        if (found.empty()) {
            reason = Msg(12446, prefix.Label(), LeaseKeyLabel(), leaseText);
            return false;
        }
        prefix.Put(found);
    } else if (const int levels = suite::xk_num_sections(suite::kGlAccountFormat); levels >= 1 && levels <= 3) {
        const std::string stored = ReadOnce("glprefix\t" + prefix.Text(), [&] {
            const Found gl = FindGlPrefix(m_glmFile, prefix.Text(), onFile);
            return gl ? gl.stored[0] : std::string();
        });
        if (stored.empty()) {
            reason = Msg(12475, GlText(prefix.Text(), 6));
            return false;
        }
        prefix.Put(stored);
    }

    // The bill-to tenant: converting, a blank one is the lease's; examining it stays blank.
    if (billTo.Text().empty() && converting) {
        if (leaseFound.where != Found::OnFile) {
            reason = Msg(12446, billTo.Label(), TermLabel(kLeaseTerm) + " charge controls", chargeType.Text());
            return false;
        }
        billTo.Put(leaseTenant);
    }
    if (!billTo.Text().empty()) {
        const Found tenant = TenantOnFile(pmn, billTo.Text(), scope);
        if (!tenant) {
            reason = TenantMissingText(12449, billTo.Text());
            return false;
        }
        if (tenant.where == Found::OnFile) billTo.Put(tenant.stored[0]);
    }

    if (std::string value = address.Text(); value.empty())
        address.Put(m_list421Default);
    else if (m_list421.Spelling(value))
        address.Put(value);
    return true;
}

// ---- Deposit ----------------------------------------------------------------------------------------------

bool xvPML::ConvertDeposit(uint16_t pml, xvl::xvlImpInfo&, std::string& reason, convert::MessageList& messages,
                           bool converting, uint16_t pmp, uint16_t pms) {
    constexpr uint16_t R = kPmlDeposit;
    const Field lease(pml, R, "LDLEASE"), revision(pml, R, "LDREV"), type(pml, R, "LDDTYPE"), unit(pml, R, "LDUNIT");
    const LookupScope scope{&RecordIds(), converting}, onFile{&RecordIds(), true};
    const std::string leaseText = LeaseKeyText(lease.Text(), revision.Number());

    if (lease.Text().empty()) {
        reason = Msg(12445, lease.Label());
        return false;
    }
    for (const Field* f : {&type, &unit}) {
        if (f->Text().empty()) {
            reason = Msg(12446, f->Label(), LeaseKeyLabel(), leaseText);
            return false;
        }
    }

    // The lease, its status and property: on file or, examining, earlier in the text file.
    const Found leaseFound = ChildLease(m_leaseCache, pml, lease, revision, scope, reason);
    if (!leaseFound) return false;
    int status = 1;
    std::string property;
    if (leaseFound.where == Found::OnFile) {
        status = m_leaseCache.Last().status;
        property = m_leaseCache.Last().property;
    } else {
        status = leaseFound.value;
        if (const auto examined = m_examinedLeaseProperties.Find(UpperKey(lease.Text())))
            property = *examined;
    }

    if (!TakeUnit(pmp, property, unit, reason)) return false;

    // The deposit type: the list's spelling, then one the property has set up.
    if (std::string value = type.Text(); m_list422.Spelling(value)) type.Put(value);
    const std::string storedType = ReadOnce("deposit\t" + property + "\t" + type.Text(), [&] {
        const Found found =
            FindRecord(pmp, kPmpPropertyDeposit, {{"PDPROP", property}, {"PDDTYPE", type.Text()}}, onFile);
        return found ? found.stored[1] : std::string();
    });
    if (storedType.empty()) {
        reason = Msg(12463, type.Text(), TermLabel(kPropertyTerm), property, TermLabel(kLeaseTerm));
        return false;
    }
    type.Put(storedType);

    const bool refundable = Field(pml, R, "LDREF").Result() != 0;
    const bool letterOfCredit = Field(pml, R, "LDLTCRD").Result() != 0;
    const std::string notConverted = ModeWord("not converted/will not convert", converting);

    // An interest rate only on a refundable deposit that is no letter of credit.
    const Field rate(pml, R, "LDINTRT");
    if (!rate.Text().empty()) {
        if (letterOfCredit || !refundable) {
            messages.push_back(letterOfCredit
                                   ? Msg(12464, rate.Text(), notConverted, ModeWord("1127/1128", converting))
                                   : Msg(12465, rate.Text(), notConverted, ModeWord("1129/1130", converting)));
            rate.Clear();
        } else {
            const Found found = FindRecord(pms, kPmsInterestRateRecord, {{"VALID", rate.Text()}}, onFile);
            if (!found) {
                reason = Msg(12466, "Interest rate ID", rate.Text());
                return false;
            }
            rate.Put(found.stored[0]);
        }
    }
    // Without a rate the interest terms go back to their defaults.
    if (rate.Text().empty()) {
        FirstCleared first;
        const std::pair<const char*, const char*> choices[] = {
            {"LDINTBS", "Interest basis"}, {"LDCOMP", "Compounding freq"}, {"LDPAYTM", "Int pay timing"}};
        for (const auto& [name, label] : choices) {
            const Field f(pml, R, name);
            if (f.Result() == 1) continue;
            if (!first.Any()) first = {label, ChoiceValueText(pml, f.no, f.Number())};
            f.Put(1.0);
        }
        first.Clear(Field(pml, R, "LDINTBL"), "Interest balance");
        if (first.Any())
            messages.push_back(Msg(12467, first.label, first.value, notConverted, ModeWord("1132/1133", converting)));
    }
    // Without a letter of credit its amount and bank go.
    if (!letterOfCredit) {
        FirstCleared first;
        first.Clear(Field(pml, R, "LDAMTLC"), "Letter of credit amount");
        first.Clear(Field(pml, R, "LDBNKLC"), "Letter of credit bank");
        if (first.Any())
            messages.push_back(Msg(12468, first.label, first.value, notConverted, ModeWord("1134/1135", converting)));
    }

    // Interest accrues from its start up to the accrued-through date: a start after it (a day
    // is enough) cannot be; the same day can.
    const x_date_type through = GetDate(pml, R, "LDACCTH");
    if (!IsUnsetDate(through)) {
        const x_date_type start = GetDate(pml, R, "LDSTACC");
        if (IsUnsetDate(start) || suite::xd_compare_dates(start, through) > 0) {
            reason = Msg(12469, DateText(start), DateText(through));
            return false;
        }
    }

    // A refundable deposit of a canceled or historical lease holds no balance.
    if ((status == 2 || status == 6) && Field(pml, R, "LDREF").Result() == 1) {
        const double balance = GetNumber(pml, R, "LDBAL"), interest = GetNumber(pml, R, "LDINTBL");
        if (!IsZero(balance) || !IsZero(interest)) {
            reason = Msg(12828, IsZero(balance) ? "Interest Balance" : "Balance",
                         "'" + Amount(IsZero(balance) ? interest : balance) + "'",
                         status == 2 ? "canceled" : "historical");
            return false;
        }
    }
    return true;
}

// ---- Late charge ------------------------------------------------------------------------------------------

bool xvPML::ConvertLateCharge(uint16_t pml, xvl::xvlImpInfo&, std::string& reason, convert::MessageList& messages,
                              bool converting, uint16_t pms) {
    constexpr uint16_t R = kPmlLateCharge;
    const Field description(pml, R, "LLDESC"), lease(pml, R, "LLLEASE"), revision(pml, R, "LLREV");
    if (!description.Text().empty()) convert::CrToCrLf(pml, description.no);
    if (lease.Text().empty()) {
        reason = Msg(12445, lease.Label());
        return false;
    }
    const LookupScope scope{&RecordIds(), converting};
    if (!ChildLease(m_leaseCache, pml, lease, revision, scope, reason)) return false;
    static constexpr LateChargeMessages kTexts{12476, "1145/1146", 12477, 12478, 12479, "1149/1150", 12480,
                                               "was not converted/will not convert", "1151/1152", 12481, 12482,
                                               "1154/1155", 12483, 12519, "still needs to be/will need to be",
                                               "1197/1198", 12484, 12466};
    return CheckLateChargeSteps(pml, R, "LL", pms, scope, kTexts, reason, messages);
}

// ---- Checklist items and insurance ---------------------------------------------------------------------------

namespace {

// A numbered lease detail: its lease, a further required field and its number within the lease.
struct NumberedDetail {
    uint16_t pml, rec;
    const char* numberName;
    Field lease, revision, required, number;
    NumberedDetail(uint16_t file, uint16_t r, const char* leaseName, const char* revisionName,
                   const char* requiredName, const char* numberField)
        : pml(file), rec(r), numberName(numberField), lease(file, r, leaseName), revision(file, r, revisionName),
          required(file, r, requiredName), number(file, r, numberField) {}

    // The lease and the required field are given, and the lease is on file (the detail takes
    // its stored key) or, examining, earlier in the text file.
    bool CheckLease(LeaseCache& leases, const LookupScope& scope, std::string& reason) const {
        if (lease.Text().empty()) {
            reason = Msg(12445, lease.Label());
            return false;
        }
        if (required.Text().empty()) {
            reason = Msg(12446, required.Label(), LeaseKeyLabel(), LeaseKeyText(lease.Text(), revision.Number()));
            return false;
        }
        return static_cast<bool>(ChildLease(leases, pml, lease, revision, scope, reason));
    }

    // A number of 0 asks for the next free one within `group`; none free (1 to 999) is 12471.
    // A number given is kept.
    bool Number(const std::vector<const char*>& group, const char* recordName, const LookupScope& scope,
                std::string& reason) const {
        if (!IsZero(number.Number())) return true;
        double next = 0;
        if (NextSequenceNumber(pml, rec, group, numberName, scope, next)) return true;
        reason = Msg(12471, TermLabel(kLeaseTerm) + recordName, lease.Text() + ", " + WholeText(revision.Number()));
        return false;
    }
};

}  // namespace

bool xvPML::ConvertChecklistItem(uint16_t pml, xvl::xvlImpInfo&, std::string& reason, convert::MessageList&,
                                 bool converting) {
    const NumberedDetail item(pml, kPmlChecklist, "LPLEASE", "LPREV", "LPTEXT", "LPNUM");
    const LookupScope scope{&RecordIds(), converting};
    return item.CheckLease(m_leaseCache, scope, reason) &&
           item.Number({"LPLEASE", "LPREV", "LPPRTYP"}, " Checklist item record", scope, reason);
}

bool xvPML::ConvertInsurance(uint16_t pml, xvl::xvlImpInfo&, std::string& reason, convert::MessageList&,
                             bool converting) {
    const NumberedDetail item(pml, kPmlInsurance, "LILEASE", "LIREV", "LINSTYP", "LISEQ");
    const LookupScope scope{&RecordIds(), converting};
    if (!item.CheckLease(m_leaseCache, scope, reason)) return false;
    if (std::string value = item.required.Text(); m_list424.Spelling(value)) item.required.Put(value);
    return item.Number({"LILEASE", "LIREV"}, " Insurance record", scope, reason);
}

}  // namespace dz::pm
