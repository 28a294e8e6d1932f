// Tenants, their TA and tenant-lease records, and the system file's corporations, Porter wage
// indexes and SIC codes. Each checks the record staged in its file's buffer, corrects it there and
// returns false with the first fault's text as the reason.
#include "converters/pm/xvpml.h"

#include "platform/datafile/xio.h"
#include "platform/import/xvl_import.h"

namespace dz::pm {

using namespace convert;

namespace {

using Field = StagedField;

// The tenant a TA or tenant-lease record names: on file (the field takes the stored key) or,
// examining, earlier in the text file. Read without a lock: these records never rewrite it.
Found RecordTenant(uint16_t pmn, const Field& tenant, const LookupScope& scope, std::string& reason) {
    Found found = FindTenant(pmn, tenant.Text(), scope);
    if (!found)
        reason = TenantMissingText(12449, tenant.Text());
    else if (found.where == Found::OnFile)
        tenant.Put(found.stored[0]);
    return found;
}

// A system record of a key and one more required field.
bool KeyAndField(uint16_t pms, uint16_t rec, const char* key, const char* second, const std::string& keyTerm,
                 std::string& reason) {
    const Field k(pms, rec, key), f(pms, rec, second);
    if (k.Blank()) {
        reason = Msg(12445, k.Label());
        return false;
    }
    if (f.Blank()) {
        reason = Msg(12446, f.Label(), keyTerm, k.Text());
        return false;
    }
    return true;
}

}  // namespace

bool xvPML::ConvertTenant(uint16_t pmn, xvl::xvlImpInfo& info, std::string& reason, convert::MessageList& messages,
                          bool converting, xvl::xvlImport& import) {
    constexpr uint16_t R = kPmnTenant;
    const Field tenant(pmn, R, "TENANT"), name(pmn, R, "TNAME"), balance(pmn, R, "TBAL"), taxName(pmn, R, "TTAXNAM");
    if (tenant.Text().empty()) {
        reason = Msg(12445, tenant.Label());
        return false;
    }
    if (name.Text().empty()) {
        reason = Msg(12446, name.Label(), TermLabel(kTenantTerm), tenant.Text());
        return false;
    }
    // The balance accumulates from the transactions converted later.
    if (!IsZero(balance.Number())) {
        messages.push_back(Msg(12448, Amount(balance.Number()), ModeWord("was/will be", converting),
                               ModeWord("1103/1104", converting)));
        balance.Put(0.0);
    }
    if (!import.xvlImpWasItImported(info.FormatID(), "TTAXNAM")) taxName.Put(name.Text());
    return true;
}

bool xvPML::ConvertTenantTA(uint16_t pmn, xvl::xvlImpInfo&, std::string& reason, convert::MessageList&,
                            bool converting) {
    constexpr uint16_t R = kPmnTenantTA;
    const Field tenant(pmn, R, "TATEN"), description(pmn, R, "TADESC"), type(pmn, R, "TATYPE");
    if (tenant.Text().empty()) {
        reason = Msg(12445, tenant.Label());
        return false;
    }
    const Found found = RecordTenant(pmn, tenant, {&RecordIds(), converting}, reason);
    if (!found) return false;
    // The tenant read on file is still in its buffer.
    if (description.Text().empty() && found.where == Found::OnFile)
        description.Put(GetText(pmn, kPmnTenant, "TNAME"));
    if (type.Text().empty()) {
        reason = Msg(12446, type.Label(), TermLabel(kTenantTerm), tenant.Text());
        return false;
    }
    if (converting && description.Text().empty()) {
        reason = Msg(12446, description.Label(), TermLabel(kTenantTerm), tenant.Text());
        return false;
    }
    std::string spelling = type.Text();
    if (m_list421.Spelling(spelling)) type.Put(spelling);
    return true;
}

bool xvPML::ConvertTenantLease(uint16_t pmn, xvl::xvlImpInfo&, std::string& reason, convert::MessageList& messages,
                               bool converting, uint16_t pml) {
    constexpr uint16_t R = kPmnTenantLease;
    const Field tenant(pmn, R, "TENID"), lease(pmn, R, "TLEASE"), revision(pmn, R, "TLREV"), dummy(pmn, R, "TDUM");
    const LookupScope scope{&RecordIds(), converting};
    if (tenant.Text().empty()) {
        reason = Msg(12445, tenant.Label());
        return false;
    }
    if (lease.Text().empty()) {
        reason = Msg(12446, lease.Label(), TermLabel(kTenantTerm), tenant.Text());
        return false;
    }
    if (!RecordTenant(pmn, tenant, scope, reason)) return false;
    if (!ChildLease(m_leaseCache, pml, lease, revision, scope, reason)) return false;
    if (!dummy.Blank()) {
        messages.push_back(Msg(12451, "Dummy", ShownValue(dummy), ModeWord("was not/will not be", converting),
                               ModeWord("1108/1109", converting)));
        dummy.Clear();
    }
    return true;
}

bool xvPML::ConvertCorporation(uint16_t pms, xvl::xvlImpInfo&, std::string& reason, convert::MessageList&, bool) {
    return KeyAndField(pms, kPmsCorporation, "CORPID", "CNAME", TermLabel(kCorporationTerm), reason);
}

bool xvPML::ConvertPortersWage(uint16_t pms, xvl::xvlImpInfo&, std::string& reason, convert::MessageList&, bool) {
    return KeyAndField(pms, kPmsPorterWage, "PWID", "PWDATE", "Porters' wage index ID", reason);
}

bool xvPML::ConvertSicCode(uint16_t pms, xvl::xvlImpInfo&, std::string& reason, convert::MessageList&, bool) {
    return KeyAndField(pms, kPmsSicCode, "SICCODE", "SICDESC", "SIC code", reason);
}

}  // namespace dz::pm
