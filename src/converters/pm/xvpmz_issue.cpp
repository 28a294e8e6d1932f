#include "converters/pm/xvpmz.h"

#include "convert/texts.h"
#include "platform/datafile/stored_number.h"
#include "platform/datafile/xio.h"
#include "platform/import/xvl_import.h"
#include "platform/suite/util.h"
#include "platform/suite/xd.h"

namespace dz::pm {

using namespace convert;

namespace {

constexpr std::array<const char*, 5> kListFields = {"CLASSIF", "URGENCY", "FOLLOWU", "STATUS", "PROBLEM"};
constexpr std::size_t kDescriptionWidth = 80;

// Finds the record of `rec` whose key fields are put by `fill` into a cleared buffer.
template <typename Fill>
bool OnFile(uint16_t file, uint16_t rec, Fill fill) {
    xio_init_record(file, rec);
    fill();
    return xio_find_record(file, rec, 0) == XIO_OK;
}

// The issue's links, in the order they are tested and written.
struct Links {
    std::string property, unit, tenant, lease;
    double revision = 0;
};

Links LinksOf(uint16_t tli) {
    Links l;
    l.property = GetText(tli, kTliIssue, "PMPROP");
    l.unit = GetText(tli, kTliIssue, "PMUNIT");
    l.tenant = GetText(tli, kTliIssue, "PMTENAN");
    l.lease = GetText(tli, kTliIssue, "PMLEASE");
    l.revision = GetNumber(tli, kTliIssue, "PMREV");
    return l;
}

void PutLinkKey(uint16_t pmz, uint16_t rec, const Links& l, double issue) {
    switch (rec) {
    case kPmzLease:
        PutText(pmz, rec, "LEASE", l.lease);
        PutNumber(pmz, rec, "LREV", l.revision);
        PutNumber(pmz, rec, "ISSUE1", issue);
        break;
    case kPmzTenant:
        PutText(pmz, rec, "TENANT", l.tenant);
        PutNumber(pmz, rec, "ISSUE2", issue);
        break;
    case kPmzProperty:
        PutText(pmz, rec, "PROP", l.property);
        PutNumber(pmz, rec, "ISSUE3", issue);
        break;
    default:
        PutText(pmz, rec, "UPROP", l.property);
        PutText(pmz, rec, "UNIT", l.unit);
        PutNumber(pmz, rec, "ISSUE4", issue);
        break;
    }
}

void PutIssueLinkKey(uint16_t tli, double issue, uint16_t kind) {
    PutNumber(tli, kTliLink, "AISSUE", issue);
    PutText(tli, kTliLink, "FILEABB", "PMZ");
    PutNumber(tli, kTliLink, "RECNUM", kind);
}

// The PM records the issue links to, by the PM issue-link record of each kind.
std::vector<uint16_t> LinkKinds(const Links& l, bool propertyLink) {
    std::vector<uint16_t> kinds;
    if (!l.property.empty() && propertyLink) kinds.push_back(kPmzProperty);
    if (!l.unit.empty()) kinds.push_back(kPmzUnit);
    if (!l.tenant.empty()) kinds.push_back(kPmzTenant);
    if (!l.lease.empty()) kinds.push_back(kPmzLease);
    return kinds;
}

int TermOfKind(uint16_t kind) {
    switch (kind) {
    case kPmzLease: return kLeaseTerm;
    case kPmzTenant: return kTenantTerm;
    case kPmzProperty: return kPropertyTerm;
    default: return kUnitTerm;
    }
}

}  // namespace

// ---- The issue -------------------------------------------------------------------------------------

bool xvPMZ::ConvertIssue(uint16_t tli, uint16_t pmz, uint16_t pmp, uint16_t pml, uint16_t pmn, std::string& reason,
                         MessageList& messages, bool converting) {
    const StagedField text(tli, kTliIssue, "FORMESS");
    if (!text.Text().empty()) CrToCrLf(tli, text.no);

    // Every key the issue names must be on file; its stored spelling replaces the typed one.
    const StagedField property(tli, kTliIssue, "PMPROP"), unit(tli, kTliIssue, "PMUNIT"),
        tenant(tli, kTliIssue, "PMTENAN"), revision(tli, kTliIssue, "PMREV"), lease(tli, kTliIssue, "PMLEASE");
    if (!unit.Text().empty() && property.Text().empty()) {
        reason = Msg(12684, TermCap(kPropertyTerm), TermCap(kUnitTerm), unit.Text());
        return false;
    }
    const LookupScope scope{nullptr, true};  // the PM files are never written here: on file only
    if (!property.Text().empty()) {
        const Found found = FindProperty(pmp, property.Text(), scope);
        if (!found) {
            reason = PropertyMissingText(12680, property.Text());
            return false;
        }
        property.Put(found.stored[0]);
    }
    if (!unit.Text().empty()) {
        const Found found = FindUnit(pmp, property.Text(), unit.Text(), scope);
        if (!found) {
            reason = UnitMissingText(12681, property.Text(), unit.Text());
            return false;
        }
        unit.Put(found.stored[1]);
    }
    if (!tenant.Text().empty()) {
        const Found found = FindTenant(pmn, tenant.Text(), scope);
        if (!found) {
            reason = TenantMissingText(12682, tenant.Text());
            return false;
        }
        tenant.Put(found.stored[0]);
    }
    if (!lease.Text().empty()) {
        const Found found = FindLease(pml, lease.Text(), revision.Number(), scope);
        if (!found) {
            reason = Msg(12683, TermCap(kLeaseTerm), lease.Text());
            return false;
        }
        lease.Put(found.stored[0]);
        revision.Put(GetNumber(pml, 1, "LREV"));
    }

    for (std::size_t i = 0; i < lists_.size(); ++i) {
        const StagedField field(tli, kTliIssue, kListFields[i]);
        std::string value = field.Text();
        if (!value.empty() && lists_[i].Spelling(value)) field.Put(value.substr(0, 81));
    }
    ResetUnsupportedFields(tli, messages, converting);

    const uint16_t issueNo = FieldNo(tli, kTliIssue, "ISSUE");
    currentIssue_ = GetNumber(tli, issueNo);
    if (!converting) return true;
    // The search ends at the largest number the field holds: beyond it the file ends (12016).
    xio_fld_def def;
    const bool defined = xio_get_fld_def(tli, issueNo, def) == XIO_OK;
    auto fits = [&](double n) { return defined && xio_fits_field(def, n); };
    double n = lastIssueId_ + 1;
    while (fits(n) && !IssueNumberFree(tli, pmz, n)) n += 1;
    if (!fits(n)) {
        numbersSpent_ = true;
        return false;
    }
    PutNumber(tli, issueNo, n);
    return true;
}

void xvPMZ::ResetUnsupportedFields(uint16_t tli, MessageList& messages, bool converting) const {
    const uint16_t first = FieldNo(tli, kTliIssue, "R1ODBC"), last = FieldNo(tli, kTliIssue, "PRTSEQ");
    const uint16_t linksFrom = FieldNo(tli, kTliIssue, "PMPROP"), linksTo = FieldNo(tli, kTliIssue, "PMLEASE");
    for (uint16_t no = first; no != 0 && no <= last; ++no) {
        if (no >= linksFrom && no <= linksTo) continue;
        xio_fld_def def;
        if (xio_get_fld_def(tli, no, def) != XIO_OK) continue;
        const x_value_def value = GetValue(tli, no);
        std::string old;
        if (xio_is_text_type(def.type)) {
            const std::string whole = GetText(tli, no);
            if (whole.empty()) continue;
            old = whole.substr(0, 79);
        } else if (xio_is_number_type(def.type)) {
            if (value.number == def.defaultValue.number) continue;
            old = FormatNumber("%.0f", value.number);
        } else if (def.type == XIO_TYPE_LOGICAL) {
            if (value.flag == def.defaultValue.flag) continue;
            old = value.flag ? "TRUE" : "FALSE";
        } else if (def.type == XIO_TYPE_DATE) {
            if (IsUnsetDate(value.date)) continue;
            old = suite::xd_alpha_date(value.date);
        } else if (xio_is_choice_type(def.type)) {
            if (value.number == def.defaultValue.number) continue;
            old = ChoiceText(tli, no, value.number, false);
        } else {
            continue;  // times and anything else stay as they are
        }
        xio_put_field(tli, 0, no, def.defaultValue);
        messages.push_back(Msg(12685, FieldDescription(tli, no), old, ModeWord("was/will be", converting),
                               ModeWord("1505/1506", converting)));
    }
}

bool xvPMZ::IssueNumberFree(uint16_t tli, uint16_t pmz, double n) const {
    // The staged issue keeps its buffer: only its number changes for the look-up.
    PutNumber(tli, kTliIssue, "ISSUE", n);
    if (xio_find_record(tli, kTliIssue, 0) == XIO_OK) return false;
    const Links links = LinksOf(tli);
    for (const uint16_t kind : LinkKinds(links, true)) {
        if (OnFile(tli, kTliLink, [&] { PutIssueLinkKey(tli, n, kind); })) return false;
        if (OnFile(pmz, kind, [&] { PutLinkKey(pmz, kind, links, n); })) return false;
    }
    return true;
}

// ---- Its links -------------------------------------------------------------------------------------

bool xvPMZ::ResolveIssueLink(uint16_t tli, uint16_t pmz, uint16_t pmp, uint16_t pml, uint16_t pmn,
                             const xvl::xvlImport& import, const std::string& formatId, double issue, bool& diskFull,
                             bool& ioFailure) {
    const Links links = LinksOf(tli);
    // "NOPROP": an issue about a unit is linked to the unit alone.
    const auto noProperty = import.xvlImpGetSpecialValue(formatId, "NOPROP");
    const bool propertyLink = links.unit.empty() || !noProperty || noProperty->flag == 0;
    for (const uint16_t kind : LinkKinds(links, propertyLink)) {
        std::string description;
        if (kind == kPmzProperty && ReadByKeys(pmp, 1, {{"PROP", links.property}})) {
            description = GetText(pmp, 1, "PNAME");
        } else if (kind == kPmzTenant && ReadByKeys(pmn, 1, {{"TENANT", links.tenant}})) {
            description = GetText(pmn, 1, "TNAME");
        } else if (kind == kPmzLease) {
            xio_init_record(pml, 1);
            PutText(pml, 1, "LEASE", links.lease);
            PutNumber(pml, 1, "LREV", links.revision);
            if (xio_rd_record(pml, 1, 0, 0) == XIO_OK)
                description = GetText(pml, 1, "LPROP") + " " + GetText(pml, 1, "LUNIT") + " " +
                              GetText(pml, 1, "LTENANT");
        }
        std::string kindText = Term(TermOfKind(kind));
        suite::x_init_caps(kindText);

        xio_init_record(tli, kTliLink);
        PutIssueLinkKey(tli, issue, kind);
        PutText(tli, kTliLink, "RECDESC", kindText);
        PutText(tli, kTliLink, "DATADES", description.substr(0, kDescriptionWidth));
        int status = xio_wr_record(tli, kTliLink);
        if (status == XIO_OK) {
            xio_init_record(pmz, kind);
            PutLinkKey(pmz, kind, links, issue);
            status = xio_wr_record(pmz, kind);
        }
        if (status != XIO_OK) {
            ioFailure = true;
            diskFull = status == XIO_DISK_FULL;
            return false;
        }
    }
    return true;
}

}  // namespace dz::pm
