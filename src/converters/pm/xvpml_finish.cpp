// The pass after the records of a converted lease text file: lease-unit links whose lease is gone
// are removed, every lease written gets its "<default>" charge control and its tenant-lease
// records, the bill-to tenants of the charge controls theirs, and escalations and table-based
// recurring charges are checked, with notes for what needs attention. A stop, or a read or write
// that fails, ends the file with every backed-up file restored and the text file unstamped.
#include "converters/pm/xvpml.h"

#include "convert/platform_links.h"
#include "convert/progress.h"
#include "convert/reports.h"
#include "convert/texts.h"
#include "platform/datafile/xio.h"
#include "platform/suite/xd.h"

#include <algorithm>
#include <iterator>
#include <optional>
#include <tuple>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <unordered_map>
#include <utility>
#include <vector>

namespace dz::pm {

using namespace convert;

using convert::ConvertContext;

namespace {

// A revision kept as its whole-number text, as a number again.
double Revision(std::string_view text) { return std::strtod(std::string(text).c_str(), nullptr); }

// Two texts in the order keys are kept: ASCII letters without regard to case, then bytes.
int CompareNoCase(std::string_view a, std::string_view b) {
    const std::size_t n = std::min(a.size(), b.size());
    for (std::size_t i = 0; i < n; ++i) {
        if (a[i] == b[i]) continue;  // keys compared mostly share their leading bytes
        const auto x = static_cast<unsigned char>(a[i] >= 'a' && a[i] <= 'z' ? a[i] - 'a' + 'A' : a[i]);
        const auto y = static_cast<unsigned char>(b[i] >= 'a' && b[i] <= 'z' ? b[i] - 'a' + 'A' : b[i]);
        if (x != y) return x < y ? -1 : 1;
    }
    return a.size() == b.size() ? 0 : a.size() < b.size() ? -1 : 1;
}

// An amount kept in hundredths as "%.2f" shows it divided back. A whole number of hundredths
// (the usual amount) is written digit by digit: its quotient by 100 is then within far less than
// half a hundredth of the decimal value, which is what the rounding shows.
std::string HundredthsText(double hundredths) {
    if (hundredths != std::trunc(hundredths) || !(std::fabs(hundredths) < 1e12) ||
        (hundredths == 0 && std::signbit(hundredths)))
        return FormatNumber("%.2f", hundredths / 100.0);
    const auto whole = static_cast<int64_t>(hundredths);
    const uint64_t magnitude = whole < 0 ? static_cast<uint64_t>(-whole) : static_cast<uint64_t>(whole);
    std::string text = whole < 0 ? "-" : "";
    text += std::to_string(magnitude / 100);
    text += '.';
    text += static_cast<char>('0' + magnitude / 10 % 10);
    text += static_cast<char>('0' + magnitude % 10);
    return text;
}

// Two numbers alike to the last bit (a zero keeps its sign).
bool SameNumber(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

// A record the pass adds: one already on file is no fault.
bool Added(int status) { return status == XIO_OK || status == XIO_DUPLICATE; }

}  // namespace

bool xvPML::FinishConversion(ConvertContext& ctx) {
    if (!ctx.notes->PrintMissingCustomListValues(ctx.progress) || !ReportIgnoredDuplicates(*ctx.notes, ctx.progress))
        return EndFile(ctx, PrintFailure(ctx, 12012), true, true);
    if (!ctx.converting) return true;
    // The pass writes charge controls, links and descriptions: nothing read before is kept.
    m_leaseCache.Forget();
    m_readOnce.clear();
    m_storedUnits.clear();
    m_properties.clear();
    m_tenantsOnFile.clear();
    m_linkedLease = {};
    m_lastCharge = {};
    return RemoveInvalidPropertyLeases(ctx) && CreateDefaultChargeControls(ctx) && CreateMissingTenantLeases(ctx) &&
           CheckEscalations(ctx) && CheckRecurringCharges(ctx) && FinishPasses(ctx, "Finishing PML processing");
}

bool xvPML::RemoveInvalidPropertyLeases(ConvertContext& ctx) {
    constexpr uint16_t L = kPmpLeaseUnitLink;
    PassProgress progress(*this, ctx, 0, "Removing invalid prop leases:", "Removing invalid property lease records:",
                          true);
    progress.PositionFrom([this] { return xio_get_relative_position(pmp_, L, 0); });
    // Links written by this conversion name leases it wrote or found on file (nothing takes a lease
    // off): with none on file before it, there is nothing to remove.
    if (!m_linksBeforeRun) return true;
    auto fail = [&] {
        xio_unlock_record(pmp_, L, 1);
        return EndFile(ctx, DataFileFailure(ctx), true, true);
    };
    // The leases this conversion wrote are on file (nothing takes one off): their links need no
    // lookup. Their keys, sorted as the file compares them (letters without regard to case).
    auto before = [this](const LeaseKey& a, const LeaseKey& b) {
        const int c = CompareNoCase(a.lease, b.lease);
        return c != 0 ? c < 0 : a.revision < b.revision;
    };
    std::vector<uint32_t> written;
    written.reserve(m_leaseKeys.size());
    for (std::size_t i = 0; i < m_leaseKeys.size(); ++i) written.push_back(static_cast<uint32_t>(i));
    auto byKey = [&](uint32_t a, uint32_t b) { return before(m_leaseKeys[a], m_leaseKeys[b]); };
    if (!std::is_sorted(written.begin(), written.end(), byKey)) std::sort(written.begin(), written.end(), byKey);
    auto wroteLease = [&](const std::string& lease, double revision) {
        if (revision != std::round(revision)) return false;
        const std::string revisionText = WholeText(revision);
        const LeaseKey key{lease, revisionText};
        const auto at = std::lower_bound(written.begin(), written.end(), key,
                                         [&](uint32_t i, const LeaseKey& k) { return before(m_leaseKeys[i], k); });
        return at != written.end() && !before(key, m_leaseKeys[*at]);
    };

    xio_init_record(pml_, kPmlLease);
    xio_init_record(pmp_, L);
    m_linkRow = 0;
    int status = xio_rd_first(pmp_, L, 0, 1);
    while (status == XIO_OK) {
        const std::string lease = GetText(pmp_, L, "LULEASE");
        const double revision = GetNumber(pmp_, L, "LUREV");
        PutText(pml_, kPmlLease, "LEASE", lease);
        PutNumber(pml_, kPmlLease, "LREV", revision);
        // Only a lease known to be missing removes its link; a lookup that fails keeps it.
        if (!wroteLease(lease, revision) && xio_find_record(pml_, kPmlLease, 0) == XIO_NOT_FOUND) {
            if (xio_del_record(pmp_, L) != XIO_OK) return fail();
        } else {
            xio_unlock_record(pmp_, L, 1);
        }
        status = xio_rd_next(pmp_, L, 0, 1);
        if (!progress.Step()) return false;
        // A background run told to end between the stop checks stops as the operator does.
        if (convert::InBackground() && convert::CheckTerminate()) {
            xio_unlock_record(pmp_, L, 1);
            return EndStoppedPass(ctx, false);
        }
    }
    if (status == XIO_END || status == XIO_END_OLD) return true;
    return fail();
}

bool xvPML::CreateDefaultChargeControls(ConvertContext& ctx) {
    constexpr uint16_t C = kPmlChargeControl, T = kPmnTenantLease;
    constexpr uint16_t kPropertyRecord = 1, kPropertyCharge = 5;
    PassProgress progress(*this, ctx, m_leaseKeys.size(), "Creating default charge recs:",
                          "Creating default charge records:", true);
    // The GL prefix of each property met: neither property charges nor properties are written here.
    std::unordered_map<std::string, std::string> prefixes;
    auto propertyPrefix = [&](const std::string& property) -> const std::string& {
        if (const auto it = prefixes.find(property); it != prefixes.end()) return it->second;
        std::string prefix;
        if (ReadByKeys(pmp_, kPropertyCharge, {{"PCPROP", property}, {"PCCT", kDefaultChargeType}}))
            prefix = GetText(pmp_, kPropertyCharge, "PCGLPFX");
        if (prefix.empty() && ReadByKeys(pmp_, kPropertyRecord, {{"PROP", property}}))
            prefix = GetText(pmp_, kPropertyRecord, "PGLPFX");
        return prefixes.emplace(property, prefix).first->second;
    };
    // Every lease written is on file as it was written unless a later line replaced one: what
    // was kept of each then answers without reading it again.
    const bool factsKept = !m_leaseFactsStale && m_leaseFacts.size() == m_leaseKeys.size();
    // The fields each lease sets, numbered once.
    const uint16_t cLease = FieldNo(pml_, C, "LCLEASE"), cRevision = FieldNo(pml_, C, "LCREV"),
                   cType = FieldNo(pml_, C, "LCCT"), cPrefix = FieldNo(pml_, C, "LCGLPFX"),
                   cBillTo = FieldNo(pml_, C, "LCBTTEN"), tTenant = FieldNo(pmn_, T, "TENID"),
                   tLease = FieldNo(pmn_, T, "TLEASE"), tRevision = FieldNo(pmn_, T, "TLREV");
    // The prefix of each property kept, by its number in m_factTexts.
    std::vector<const std::string*> prefixOfFact;
    // Each record is started once: a write leaves its buffer as written, and every lease puts
    // the fields it sets (a field that holds the value already is left as it is), the others
    // keeping their defaults.
    xio_init_record(pml_, C);
    xio_init_record(pmn_, T);
    const std::string defaultType = kDefaultChargeType;
    auto keep = [](uint16_t file, uint16_t field, const std::string& value) {
        if (xio_get_text(file, field) != value) PutText(file, field, value);
    };
    auto keepNumber = [](uint16_t file, uint16_t field, double value) {
        if (!SameNumber(xio_get_number(file, field), value)) PutNumber(file, field, value);
    };
    std::size_t index = 0;
    std::string leaseRead, propertyRead, tenantRead, interestRead, refundRead;
    // Leases mostly share a revision: its text is read as a number once while it repeats.
    std::string_view revisionText;
    double revision = 0;
    std::string leaseKept;
    for (const LeaseKey& key : m_leaseKeys) {
        const std::size_t at = index++;
        if (!key.lease.empty() && !key.revision.empty()) {
            if (revisionText.data() == nullptr || revisionText != key.revision) revision = Revision(key.revision);
            revisionText = key.revision;
            // The lease, read once: its property and tenants serve the default and the tenant-leases.
            bool leaseFound = true;
            const std::string *lease = &leaseRead, *property = &propertyRead, *tenant = &tenantRead,
                              *interest = &interestRead, *refund = &refundRead;
            const std::string* prefix = nullptr;
            // Interest and refund tenants kept as the lease's own tenant are the same text.
            bool interestIsTenant = false, refundIsTenant = false;
            double stored = revision;
            if (factsKept) {
                const LeaseFacts& facts = m_leaseFacts[at];
                leaseKept.assign(key.lease);
                lease = &leaseKept;
                property = &m_factTexts[facts.property];
                tenant = &m_factTexts[facts.tenant];
                interest = &m_factTexts[facts.interest];
                refund = &m_factTexts[facts.refund];
                interestIsTenant = facts.interest == facts.tenant;
                refundIsTenant = facts.refund == facts.tenant;
                if (facts.property >= prefixOfFact.size()) prefixOfFact.resize(facts.property + 1, nullptr);
                const std::string*& kept = prefixOfFact[facts.property];
                if (!kept) kept = &propertyPrefix(*property);
                prefix = kept;
            } else {
                xio_init_record(pml_, kPmlLease);
                PutText(pml_, kPmlLease, "LEASE", std::string(key.lease));
                PutNumber(pml_, kPmlLease, "LREV", revision);
                leaseFound = xio_rd_record(pml_, kPmlLease, 0, 0) == XIO_OK;
                if (leaseFound) {
                    leaseRead = GetText(pml_, kPmlLease, "LEASE");
                    propertyRead = GetText(pml_, kPmlLease, "LPROP");
                    tenantRead = GetText(pml_, kPmlLease, "LTENANT");
                    interestRead = GetText(pml_, kPmlLease, "LINTT");
                    refundRead = GetText(pml_, kPmlLease, "LREFT");
                    stored = GetNumber(pml_, kPmlLease, "LREV");
                } else {
                    leaseRead.clear();
                    propertyRead.clear();
                    tenantRead.clear();
                    interestRead.clear();
                    refundRead.clear();
                    stored = 0;
                }
                prefix = &propertyPrefix(*property);
            }

            // A "<default>" charge control on file stays as it is: the write of one finds it.
            PutText(pml_, cLease, std::string(key.lease));
            keepNumber(pml_, cRevision, revision);
            keep(pml_, cType, defaultType);
            keep(pml_, cPrefix, *prefix);
            keep(pml_, cBillTo, *tenant);
            uint16_t clash = 0;
            const int written = xio_wr_record(pml_, C, &clash);
            if (written != XIO_OK && !(written == XIO_DUPLICATE && clash == 0))
                return EndFile(ctx, DataFileFailure(ctx), true, true);
            // The lease's tenant, and its interest and refund tenants where they differ; a blank
            // one names no tenant.
            if (leaseFound)
                for (const auto& [id, other, same] : {std::tuple{tenant, false, false},
                                                      std::tuple{interest, true, interestIsTenant},
                                                      std::tuple{refund, true, refundIsTenant}}) {
                    if (id->empty() || (other && (same || EqualNoCase(*id, *tenant)))) continue;
                    keep(pmn_, tTenant, *id);
                    PutText(pmn_, tLease, *lease);
                    keepNumber(pmn_, tRevision, stored);
                    if (!Added(xio_wr_record(pmn_, T))) return EndFile(ctx, DataFileFailure(ctx), true, true);
                }
        }
        if (!progress.Step()) return false;
    }
    return true;
}

bool xvPML::CreateMissingTenantLeases(ConvertContext& ctx) {
    constexpr uint16_t C = kPmlChargeControl, T = kPmnTenantLease;
    PassProgress progress(*this, ctx, m_chargeControlKeys.size(), "Creating missing ten-leases:",
                          "Creating missing ten-leases:", true);
    // Each charge control written is on file as it was written: its bill-to tenant answers.
    const bool billToKept = !m_chargeControlsStale && m_chargeControlBillTo.size() == m_chargeControlKeys.size();
    std::size_t index = 0;
    for (const ChargeKey& key : m_chargeControlKeys) {
        const std::size_t at = index++;
        if (billToKept && !key.lease.empty() && !key.revision.empty() && !key.chargeType.empty()) {
            const std::string& billTo = m_factTexts[m_chargeControlBillTo[at]];
            if (!billTo.empty()) {
                xio_init_record(pmn_, T);
                PutText(pmn_, T, "TLEASE", std::string(key.lease));
                PutNumber(pmn_, T, "TLREV", Revision(key.revision));
                PutText(pmn_, T, "TENID", billTo);
                if (!Added(xio_wr_record(pmn_, T))) return EndFile(ctx, DataFileFailure(ctx), true, true);
            }
        } else if (!key.lease.empty() && !key.revision.empty() && !key.chargeType.empty()) {
            xio_init_record(pml_, C);
            PutText(pml_, C, "LCLEASE", std::string(key.lease));
            PutNumber(pml_, C, "LCREV", Revision(key.revision));
            PutText(pml_, C, "LCCT", std::string(key.chargeType));
            if (xio_rd_record(pml_, C, 0, 0) == XIO_OK && !GetText(pml_, C, "LCBTTEN").empty()) {
                xio_init_record(pmn_, T);
                PutText(pmn_, T, "TLEASE", GetText(pml_, C, "LCLEASE"));
                PutNumber(pmn_, T, "TLREV", GetNumber(pml_, C, "LCREV"));
                PutText(pmn_, T, "TENID", GetText(pml_, C, "LCBTTEN"));
                if (!Added(xio_wr_record(pmn_, T))) return EndFile(ctx, DataFileFailure(ctx), true, true);
            }
        }
        if (!progress.Step()) return false;
    }
    return true;
}

bool xvPML::CheckEscalations(ConvertContext& ctx) {
    constexpr uint16_t E = kPmlIndexEscalation, RC = kPmlRecurringCharge;
    const std::string label = "Checking Escalations:";
    PassProgress progress(*this, ctx, m_escalationKeys.size(), label, label, true);
    ClosingNotes notes(*ctx.notes);
    const uint16_t firstBasis = FieldNo(pml_, E, "IEABC1"), lastBasis = FieldNo(pml_, E, "IEABC10");

    // A charge the escalation names that is not on file: a note, and the unit still linked to
    // the lease unless it is canceled. False when the file was ended.
    auto checkCharge = [&](const std::string& escalationText, const std::string& chargeType, const std::string& unit) {
        xio_init_record(pml_, RC);
        PutText(pml_, RC, "RCLEASE", GetText(pml_, E, "IELEASE"));
        PutNumber(pml_, RC, "RCREV", GetNumber(pml_, E, "IEREV"));
        PutText(pml_, RC, "RCCT", chargeType);
        PutText(pml_, RC, "RCUNIT", unit);
        if (xio_find_record(pml_, RC, 0) != XIO_NOT_FOUND) return true;
        const std::string lease = GetText(pml_, E, "IELEASE");
        const double revision = GetNumber(pml_, E, "IEREV");
        if (!notes.Add(Msg(12517, lease + ", " + WholeText(revision) + ", " + chargeType + ", " + unit)) ||
            !ctx.notes->PrintMessageLine("", 0, Msg(12518, escalationText)))
            return EndFile(ctx, PrintFailure(ctx, 12012), true, true);
        if (ctx.progress) ctx.progress->notes += 1;
        xio_init_record(pml_, kPmlLease);
        PutText(pml_, kPmlLease, "LEASE", lease);
        PutNumber(pml_, kPmlLease, "LREV", revision);
        if (xio_rd_record(pml_, kPmlLease, 0, 0) != XIO_OK || StagedField(pml_, kPmlLease, "LSTATUS").Result() == 2)
            return true;
        xio_init_record(pmp_, kPmpLeaseUnitLink);
        PutText(pmp_, kPmpLeaseUnitLink, "LUPROP", GetText(pml_, kPmlLease, "LPROP"));
        PutText(pmp_, kPmpLeaseUnitLink, "LUUNIT", unit);
        PutText(pmp_, kPmpLeaseUnitLink, "LULEASE", GetText(pml_, kPmlLease, "LEASE"));
        PutNumber(pmp_, kPmpLeaseUnitLink, "LUREV", GetNumber(pml_, kPmlLease, "LREV"));
        if (!Added(xio_wr_record(pmp_, kPmpLeaseUnitLink))) return EndFile(ctx, DataFileFailure(ctx), true, true);
        return true;
    };

    for (const ChargeUnitKey& key : m_escalationKeys) {
        if (!key.lease.empty() && !key.revision.empty() && !key.chargeType.empty() && !key.unit.empty() &&
            FindRecord(pml_, E,
                       {{"IELEASE", std::string(key.lease)}, {"IEREV", Revision(key.revision)}, {"IECT", std::string(key.chargeType)},
                        {"IECU", std::string(key.unit)}},
                       {})) {
            const std::string escalationText = GetText(pml_, E, "IELEASE") + ", " +
                                               WholeText(GetNumber(pml_, E, "IEREV")) + ", " +
                                               GetText(pml_, E, "IECT") + ", " + GetText(pml_, E, "IECU");
            // Each basis is a charge type, its unit and its amount; the first blank ends them.
            for (uint16_t no = firstBasis; no <= lastBasis; no = static_cast<uint16_t>(no + 3)) {
                const std::string chargeType = GetText(pml_, no);
                if (chargeType.empty()) break;
                if (!checkCharge(escalationText, chargeType, GetText(pml_, static_cast<uint16_t>(no + 1))))
                    return false;
            }
            // A retroactive charge is its own recurring charge unless there is none (1) or the
            // escalation distributes it (2); a blank charge type names none.
            const int retro = StagedField(pml_, E, "IERETRO").Result();
            const std::string retroType = GetText(pml_, E, "IERCT");
            if (retro != 1 && retro != 2 && !retroType.empty() &&
                !checkCharge(escalationText, retroType, GetText(pml_, E, "IERU")))
                return false;
        }
        if (!progress.Step()) return false;
    }
    return true;
}

const uint16_t* xvPML::ChargeFields(uint16_t pml) {
    if (m_chargeFieldsFor != pml) {
        constexpr uint16_t RC = kPmlRecurringCharge;
        const char* const names[] = {"RCLEASE", "RCREV", "RCCT", "RCUNIT", "RCAMTT", "RCFREQ", "RCLSDT", "RCNDATE"};
        for (std::size_t i = 0; i < std::size(names); ++i) m_chargeFields[i] = FieldNo(pml, RC, names[i]);
        m_chargeFieldsFor = pml;
    }
    return m_chargeFields;
}

xvPML::ChargeImage xvPML::ChargeImageOf(uint16_t pml, uint32_t at) {
    constexpr uint16_t RC = kPmlRecurringCharge;
    const uint16_t* no = ChargeFields(pml);
    ChargeImage image;
    image.at = at;
    image.row = xio_current_row(pml, RC);
    image.revision = xio_get_number(pml, no[kCfRevision]);
    image.amountType = StagedField(pml, RC, no[kCfAmountType]).Result();
    image.frequency = StagedField(pml, RC, no[kCfFrequency]).Result();
    image.last = GetDate(pml, no[kCfLast]);
    image.next = GetDate(pml, no[kCfNext]);
    return image;
}

int xvPML::HoldChargeImage(uint16_t pml, const ChargeImage& image) {
    constexpr uint16_t RC = kPmlRecurringCharge;
    const uint16_t* no = ChargeFields(pml);
    if (image.at >= m_recurringChargeKeys.size()) return XIO_NOT_FOUND;
    const ChargeUnitKey& key = m_recurringChargeKeys[image.at];
    // Only the key is put back: the hold checks it, and a replace of chosen fields stores only them.
    xio_init_record(pml, RC);
    PutText(pml, no[kCfLease], std::string(key.lease));
    PutNumber(pml, no[kCfRevision], image.revision);
    PutText(pml, no[kCfType], std::string(key.chargeType));
    PutText(pml, no[kCfUnit], std::string(key.unit));
    // The row is on file with this key, or the hold refuses it.
    return xio_hold_record(pml, RC, image.row, 1);
}

bool xvPML::CheckRecurringCharges(ConvertContext& ctx) {
    constexpr uint16_t RC = kPmlRecurringCharge, LOG = kPmlRecurringLog;
    const std::string label = "Checking Recurring Chgs:";
    PassProgress progress(*this, ctx, m_recurringChargeKeys.size(), label, label, true);
    ClosingNotes notes(*ctx.notes);
    const uint16_t frequencyField = FieldNo(pml_, RC, "RCFREQ"), descriptionField = FieldNo(pml_, RC, "RCADESC");
    auto frequencyText = [&](int code) { return ChoiceText(pml_, frequencyField, code, true); };

    // A charge's log entries follow it with its key: the check of a key the one before had
    // reads and writes what it did and so notes what it noted.
    std::optional<ChargeUnitKey> previous;
    std::vector<std::pair<std::string, std::string>> previousNotes;

    // The log entries this conversion wrote, in the order the file keys them, when they are all
    // the log holds: a charge's entry is then found among them as the reads below would find it.
    const bool logsKept = !m_logsBeforeRun && !m_logFactsStale && std::all_of(m_logFacts.begin(), m_logFacts.end(), [&](const LogFacts& f) {
        return f.at < m_recurringChargeKeys.size();
    });
    struct LogKey {
        std::string_view lease, chargeType, unit;
        double revision;
        int64_t effective;
    };
    auto logKey = [&](uint32_t i) {
        const LogFacts& f = m_logFacts[i];
        const ChargeUnitKey k = m_recurringChargeKeys[f.at];
        return LogKey{k.lease, k.chargeType, k.unit, f.revision, f.effective};
    };
    auto logBefore = [](const LogKey& a, const LogKey& b) {
        if (const int c = CompareNoCase(a.lease, b.lease); c != 0) return c < 0;
        if (a.revision != b.revision) return a.revision < b.revision;
        if (const int c = CompareNoCase(a.chargeType, b.chargeType); c != 0) return c < 0;
        if (const int c = CompareNoCase(a.unit, b.unit); c != 0) return c < 0;
        return a.effective < b.effective;
    };
    std::vector<uint32_t> logOrder;
    if (logsKept) {
        logOrder.resize(m_logFacts.size());
        for (uint32_t i = 0; i < logOrder.size(); ++i) logOrder[i] = i;
        // Entries mostly come in key order: then they are in it already.
        auto byKey = [&](uint32_t a, uint32_t b) { return logBefore(logKey(a), logKey(b)); };
        if (!std::is_sorted(logOrder.begin(), logOrder.end(), byKey))
            std::stable_sort(logOrder.begin(), logOrder.end(), byKey);
    }
    std::size_t logPlace = 0;  // where the last look among the kept entries ended
    auto note = [&](const std::string& charge, const std::string& log) {
        if (!notes.Add(charge) || !ctx.notes->PrintMessageLine("", 0, log)) return EndFile(ctx, PrintFailure(ctx, 12012), true, true);
        if (ctx.progress) ctx.progress->notes += 1;
        return true;
    };
    const bool imagesKept = !m_chargeImagesStale;
    auto image = m_chargeImages.begin();
    uint32_t at = 0;
    for (auto it = m_recurringChargeKeys.begin(); it != m_recurringChargeKeys.end(); ++it, ++at) {
        const ChargeUnitKey& key = *it;
        if (key.lease.empty() || key.revision.empty() || key.chargeType.empty() || key.unit.empty()) {
            if (!progress.Step()) return false;
            continue;
        }
        if (previous && previous->lease == key.lease && previous->revision == key.revision &&
            previous->chargeType == key.chargeType && previous->unit == key.unit) {
            for (const auto& [charge, log] : previousNotes)
                if (!note(charge, log)) return false;
            if (!progress.Step()) return false;
            continue;
        }
        previous.reset();
        previousNotes.clear();
        const double revision = Revision(key.revision);
        // The charge is read locked, so that the description it may take replaces it without a
        // second read; a read that fails for another reason than its absence looks it up unlocked.
        // A charge this conversion added is on file as it was added unless a line replaced one:
        // it is put back as it was and its row held instead.
        while (image != m_chargeImages.end() && image->at < at) ++image;
        int read = XIO_NOT_FOUND;
        const ChargeImage* held = nullptr;  // what the check reads of the charge, when kept
        if (imagesKept && image != m_chargeImages.end() && image->at == at) {
            read = HoldChargeImage(pml_, *image);
            if (read == XIO_OK) held = &*image;
        }
        if (read != XIO_OK) {
            xio_init_record(pml_, RC);
            PutText(pml_, RC, "RCLEASE", std::string(key.lease));
            PutNumber(pml_, RC, "RCREV", revision);
            PutText(pml_, RC, "RCCT", std::string(key.chargeType));
            PutText(pml_, RC, "RCUNIT", std::string(key.unit));
            read = xio_rd_record(pml_, RC, 0, 1);
        }
        bool locked = read == XIO_OK;
        auto unlock = [&] {
            if (locked) xio_unlock_record(pml_, RC, 1);
            locked = false;
        };
        const bool onFile =
            locked ||
            (read != XIO_NOT_FOUND &&
             FindRecord(pml_, RC,
                        {{"RCLEASE", std::string(key.lease)}, {"RCREV", revision}, {"RCCT", std::string(key.chargeType)}, {"RCUNIT", std::string(key.unit)}},
                        {}));
        if (onFile && (held ? held->amountType : StagedField(pml_, RC, "RCAMTT").Result()) == 1) {
            const int chargeCode = held ? held->frequency : StagedField(pml_, RC, "RCFREQ").Result();
            const x_date_type last = held ? held->last : GetDate(pml_, RC, "RCLSDT"),
                              next = held ? held->next : GetDate(pml_, RC, "RCNDATE");
            const x_date_type reference = !IsUnsetDate(last) ? last : !IsUnsetDate(next) ? next : x_date_type{};

            // The log entry that applies: the latest on or before the reference date, else the
            // earliest after it. The entry after the charge's key at that date is taken when it is
            // the charge's, then the one before it when that is.
            int logCode = 0;
            bool found = false;
            double logAmount = 0;  // the description is made from the entry taken last
            auto take = [&](std::string_view lease, double logRevision, std::string_view chargeType,
                            std::string_view unit, int frequency, double amount) {
                if (!EqualNoCase(lease, key.lease) || !EqualNoCase(chargeType, key.chargeType) ||
                    !EqualNoCase(unit, key.unit) || logRevision != revision)
                    return;
                logCode = frequency;
                logAmount = amount;
                found = true;
            };
            if (logsKept) {
                const LogKey sought{key.lease, key.chargeType, key.unit, revision, DateOrder(reference)};
                // The first entry after the key sought. Charges mostly come in the order of their
                // entries: the place the last one found, or the one after it, is mostly the answer.
                auto isAfter = [&](std::size_t place) {
                    return (place == logOrder.size() || logBefore(sought, logKey(logOrder[place]))) &&
                           (place == 0 || !logBefore(sought, logKey(logOrder[place - 1])));
                };
                std::size_t place = logPlace;
                if (!isAfter(place) && !(place < logOrder.size() && isAfter(++place)))
                    place = static_cast<std::size_t>(
                        std::upper_bound(logOrder.begin(), logOrder.end(), sought,
                                         [&](const LogKey& k, uint32_t i) { return logBefore(k, logKey(i)); }) -
                        logOrder.begin());
                logPlace = place;
                const auto after = logOrder.begin() + static_cast<std::ptrdiff_t>(place);
                auto takeKept = [&](uint32_t i) {
                    const LogFacts& f = m_logFacts[i];
                    const ChargeUnitKey k = m_recurringChargeKeys[f.at];
                    take(k.lease, f.revision, k.chargeType, k.unit, f.frequency, f.amount);
                };
                if (after != logOrder.end()) takeKept(*after);
                if (after != logOrder.begin()) takeKept(*std::prev(after));
            } else {
                xio_init_record(pml_, LOG);
                PutText(pml_, LOG, "RCLLEAS", std::string(key.lease));
                PutNumber(pml_, LOG, "RCLREV", revision);
                PutText(pml_, LOG, "RCLCT", std::string(key.chargeType));
                PutText(pml_, LOG, "RCLUNIT", std::string(key.unit));
                PutDate(pml_, LOG, "RCLEFDT", reference);
                auto takeIfOwn = [&] {
                    take(GetText(pml_, LOG, "RCLLEAS"), GetNumber(pml_, LOG, "RCLREV"), GetText(pml_, LOG, "RCLCT"),
                         GetText(pml_, LOG, "RCLUNIT"), StagedField(pml_, LOG, "RCLFREQ").Result(),
                         GetNumber(pml_, LOG, "RCLAMT"));
                };
                int status = xio_rd_gt(pml_, LOG, 0, 0);
                if (status == XIO_END) {
                    status = xio_rd_last(pml_, LOG, 0, 0);
                } else if (status == XIO_OK) {
                    takeIfOwn();
                    status = xio_rd_previous(pml_, LOG, 0, 0);
                }
                if (status == XIO_OK) {
                    takeIfOwn();
                } else if (status != XIO_END && status != XIO_END_OLD) {
                    unlock();
                    return EndFile(ctx, DataFileFailure(ctx), true, true);
                }
            }

            if ((logCode == 0 && chargeCode != 1) || (logCode != 0 && logCode != chargeCode)) {
                std::string keyText(key.lease);
                for (std::string_view part : {key.revision, key.chargeType, key.unit}) keyText.append(", ").append(part);
                previousNotes.emplace_back(Msg(12520, keyText, frequencyText(chargeCode)),
                                           Msg(12521, logCode == 0 ? "Not specified" : frequencyText(logCode)));
                if (!note(previousNotes.back().first, previousNotes.back().second)) {
                    unlock();
                    return false;
                }
            }
            if (found) {
                const std::string description = HundredthsText(logAmount) + " / " + RecurringFrequencyWord(logCode);
                // The charge is still in its buffer; unless it is held, it is read again to be replaced.
                if (!locked && xio_rd_record(pml_, RC, 0, 1) != XIO_OK) return EndFile(ctx, DataFileFailure(ctx), true, true);
                locked = false;  // the replace lets it go
                // Only the description changes: the row's index is left alone.
                PutText(pml_, descriptionField, description);
                if (xio_rep_fields(pml_, RC, {descriptionField}) != XIO_OK) {
                    xio_unlock_record(pml_, RC, 1);
                    return EndFile(ctx, DataFileFailure(ctx), true, true);
                }
            }
        }
        unlock();
        previous = key;
        if (!progress.Step()) return false;
    }
    return true;
}

}  // namespace dz::pm
