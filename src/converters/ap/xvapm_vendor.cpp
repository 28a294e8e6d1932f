// Vendors (AP master record 9): the required keys, the totals the suite accumulates, what the AP
// settings allow, the payment day, the debit account, the job cost and tax references, the
// fields of other countries, on hold and payments.
#include "converters/ap/xvapm.h"

#include "convert/lookups.h"
#include "convert/record_fields.h"

#include "platform/datafile/xio.h"
#include "platform/import/xvl_import.h"
#include "platform/suite/util.h"
#include "platform/suite/xd.h"
#include "platform/suite/xk.h"

#include <array>
#include <vector>

namespace dz::ap {

using namespace convert;

namespace {

// One field of a country or payment group: how it is tested, cleared and shown.
struct GroupField {
    enum Kind { kFlag, kChoice, kText, kDate, kAmount } kind;
    std::size_t field;  // VendorField
    const char* label;
    bool heldTerm = false;  // the label is "Pmt ", the term of held amounts (64), then `label`
    const char* yes = "YES";  // the word a set yes/no field shows
};

// Clears every field of the group that has a value; `first` receives the label-and-value text of
// the first one ("%s with '%s'", amounts "%s with '%.2f'", choices "%s with '%s (%.0f)'"). The
// groups are fixed: most vendors have none of their fields, so a label is built only when shown.
template <std::size_t N>
bool ClearGroup(uint16_t apm, const VendorFields& fields, const std::array<GroupField, N>& group, std::string& first) {
    bool any = false;
    for (const auto& g : group) {
        const uint16_t fld = fields[g.field];
        if (fld == 0) continue;
        std::string shown;
        switch (g.kind) {
        case GroupField::kFlag:
            if (xio_get_flag(apm, fld) == 0) continue;
            shown = g.yes;
            PutFlag(apm, fld, 0);
            break;
        case GroupField::kChoice: {
            const double item = xio_get_number(apm, fld);
            if (item == 1) continue;
            shown = ChoiceText(apm, fld, item, true);
            PutNumber(apm, fld, 1);
            break;
        }
        case GroupField::kText: {
            const std::string& text = xio_get_text(apm, fld);
            if (IsBlank(text)) continue;
            shown = text;
            PutText(apm, fld, "");
            break;
        }
        case GroupField::kDate: {
            // A date never set reads 0 without building its value.
            if (xio_get_field_result(apm, 0, fld) == 0) continue;
            const x_date_type date = GetDate(apm, fld);
            if (date.blank()) continue;
            shown = suite::xd_alpha_date(date);
            PutDate(apm, fld, x_date_type{});
            break;
        }
        case GroupField::kAmount: {
            const double value = xio_get_number(apm, fld);
            if (value == 0) continue;
            shown = Amount(value);
            PutNumber(apm, fld, 0);
            break;
        }
        }
        if (!any) first = (g.heldTerm ? "Pmt " + Term(64) + g.label : std::string(g.label)) + " with '" + shown + "'";
        any = true;
    }
    return any;
}

// Zeroes the non-zero fields of a listed group; their old values as ListedAmounts writes them
// (empty when all were zero).
std::string ClearListed(uint16_t apm, const VendorFields& fields, std::initializer_list<std::size_t> names) {
    std::array<double, 3> values{};
    int count = 0;
    for (const std::size_t name : names) {
        const uint16_t fld = fields[name];
        const double v = xio_get_number(apm, fld);
        if (fld == 0 || v == 0) continue;
        if (count < 3) values[static_cast<std::size_t>(count++)] = v;
        PutNumber(apm, fld, 0);
    }
    return ListedAmounts(values.data(), count);
}

// A description with its first letter upper-cased, followed by `tail` ("%s rate").
std::string Labelled(int term, const char* tail) {
    std::string text = Term(term) + tail;
    suite::x_upper_first(text);
    return text;
}

}  // namespace

bool LastLookup::Missing(LookupCache& cache, uint16_t file, uint16_t rec, const char* field,
                         const std::string& value) {
    if (status_ != kNone && value == value_) return status_ == XIO_NOT_FOUND;
    const int status = cache.Status(file, rec, field, value);
    if (status == XIO_OK || status == XIO_NOT_FOUND) {
        value_ = value;
        status_ = status;
    }
    return status == XIO_NOT_FOUND;
}

const DebitAccounts::Form& DebitAccounts::Of(const std::string& value) {
    if (const auto it = forms_.find(value); it != forms_.end()) return it->second;
    Form form;
    form.base = suite::xk_prefixed(suite::kGlAccountFormat) &&
                UnformattedAccount(value, suite::kGlDisplay).size() <=
                    static_cast<std::size_t>(suite::xk_width(suite::kGlAccountFormat, suite::kGlBaseAccount));
    const int section = form.base ? suite::kGlBaseAccount : suite::kGlWhole;
    form.valid = ValidAccount(value, section);
    if (form.valid) form.raw = UnformattedAccount(value, section);
    if (forms_.size() >= kMaxKept) {
        scratch_ = std::move(form);
        return scratch_;
    }
    return forms_.emplace(value, std::move(form)).first->second;
}

bool xvAPM::ConvertVendor(uint16_t apm, xvl::xvlImpInfo&, std::string& reason, convert::MessageList& messages,
                          bool interfacesGL, bool interfacesJC, bool categoriesUsed, uint16_t glm, uint16_t jcm,
                          uint16_t txm, uint16_t country, bool converting, bool allowTotals,
                          const ApSettings& settings, VendorLookups& lookups, DebitAccounts& accounts,
                          const VendorFields& fields) {
    auto fld = [&](std::size_t field) { return fields[field]; };
    // Valid until the field is put: copy what a message shows after a put.
    auto text = [&](std::size_t field) -> const std::string& { return xio_get_text(apm, fld(field)); };
    auto num = [&](std::size_t field) { return xio_get_number(apm, fld(field)); };
    auto word = [&](const char* pair) { return ModeWord(pair, converting); };
    // A number field set to 0: its old value, 0 when it was 0 already.
    auto take = [&](std::size_t name) {
        const double v = num(name);
        if (v != 0) PutNumber(apm, fld(name), 0);
        return v;
    };

    // 1. The keys.
    if (IsBlank(text(kVENDOR)) || IsBlank(text(kVNAME))) {
        reason = Msg(12129);
        return false;
    }

    // 2. Totals the suite accumulates: one message per kind, naming the first field. Totals hold
    // whole hundredths, so one that is not zero is at least 1 either way: each run of fields is
    // zeroed in one call of the data-file layer.
    if (!allowTotals) {
        struct Range {
            std::size_t first;
            std::size_t last;
            bool nextYear;
        };
        const Range ranges[] = {{kVNY1099, kVNYDED, true},
                                {kVOAMT, kVMDHELD, false},
                                {kVYTDAMT, kVYTDMD, false},
                                {kVNYAMT, kVNYPD, true}};
        bool told[2] = {false, false};
        for (const auto& r : ranges) {
            double value = 0;
            const uint16_t found = ZeroRange(apm, fld(r.first), fld(r.last), value);
            if (found == 0 || told[r.nextYear]) continue;
            told[r.nextYear] = true;
            messages.push_back(Msg(r.nextYear ? 12131 : 12130, FieldDescription(apm, found), Amount(value)));
        }
    }

    // 3. What the AP settings allow; every row on its own.
    {
        if (settings.Read()) {
            // "... #has changed/will change# from #value# to zero(#n/m#)".
            auto changed = [&](int number, const std::string& old, const char* words, const char* numbers) {
                messages.push_back(Msg(number, word(words), old, word(numbers)));
            };
            // "... '#value#' #was not/will not be# converted(#n/m#)".
            auto notConverted = [&](int number, const std::string& old, const char* numbers) {
                messages.push_back(Msg(number, old, word("was not/will not be"), word(numbers)));
            };
            if (settings.Result(kDSCLVL) == 1) {
                if (const double v = take(kVDSCPCT))
                    changed(12132, FormatNumber("%.3f", v / 1000.0), "has changed/will change", "604/605");
                if (const double v = take(kVDSCDAY))
                    changed(12133, FormatNumber("%.0f", v), "have changed/will change", "606/607");
                if (const double v = take(kVODSC)) changed(12144, Amount(v), "has changed/will change", "626/627");
                if (auto old = ClearListed(apm, fields, {kVYTDDO, kVLYDO, kVNYDO}); !old.empty())
                    changed(12147, old, "has changed/will change", "632/633");
                if (auto old = ClearListed(apm, fields, {kVYTDDT, kVLYDT, kVNYDT}); !old.empty())
                    changed(12148, old, "has changed/will change", "634/635");
                if (auto old = ClearListed(apm, fields, {kVYTDDL, kVLYDL, kVNYDL}); !old.empty())
                    changed(12149, old, "has changed/will change", "636/637");
            }
            if (settings.Result(kPMTDTU) == 1) {
                if (const double v = take(kVPMTDAY))
                    changed(12134, FormatNumber("%.0f", v), "have changed/will change", "608/609");
                const double type = num(kVDAYTYP);
                if (type != 1) {
                    const std::string shown = ChoiceText(apm, fld(kVDAYTYP), type, true);
                    PutNumber(apm, fld(kVDAYTYP), 1);
                    notConverted(12135, shown, "610/611");
                }
            }
            if (settings.Result(kMDLVL) == 1) {
                if (const double v = take(kVMDRATE))
                    messages.push_back(Msg(12137, TermCap(63), Term(63), word("has changed/will change"),
                                           FormatNumber("%.3f", v / 1000.0), word("613/614")));
                if (const double v = take(kVMDHELD))
                    messages.push_back(
                        Msg(12146, TermCap(63), word("has changed/will change"), Amount(v), word("630/631")));
                if (auto old = ClearListed(apm, fields, {kVYTDMD, kVLYMD, kVNYMD}); !old.empty())
                    messages.push_back(
                        Msg(12150, TermCap(63), Term(63), word("has changed/will change"), old, word("638/639")));
            }
            const int taxUse = settings.Result(kTAXUSE);
            if (taxUse != 3 && num(kVTAXCOL) == 2) {
                const std::string shown = ChoiceText(apm, fld(kVTAXCOL), 2, true);
                PutNumber(apm, fld(kVTAXCOL), 1);
                notConverted(12139, shown, "617/618");
            }
            auto clearText = [&](std::size_t name, int number, const std::string* term, const char* numbers) {
                if (IsBlank(text(name))) return;
                const std::string value = text(name);
                PutText(apm, fld(name), "");
                if (term)
                    messages.push_back(Msg(number, *term, value, word("was not/will not be"), word(numbers)));
                else
                    messages.push_back(Msg(number, value, word("was not/will not be"), word(numbers)));
            };
            if (taxUse == 1) clearText(kVTAXGRP, 12162, nullptr, "654/655");
            if (settings.Result(kUSEICD1) == 0) {
                const std::string term = TermCap(61);
                clearText(kVICODE1, 12140, &term, "619/620");
            }
            if (settings.Result(kUSEICD2) == 0) {
                const std::string term = TermCap(62);
                clearText(kVICODE2, 12140, &term, "619/620");
            }
            auto none = [&](ApSetting first) {
                for (std::size_t i = first; i < first + 5; ++i)
                    if (settings.Result(static_cast<ApSetting>(i)) != 0) return false;
                return true;
            };
            if (none(kDCCODE1)) {
                const std::string term = TermCap(60);
                clearText(kVDCODE, 12141, &term, "621/622");
            }
            if (none(kDCRET1)) {
                if (const double v = take(kVRETAIN))
                    messages.push_back(
                        Msg(12145, TermCap(64), word("has changed/will change"), Amount(v), word("628/629")));
            }
            if (country != kCountryAustralia && settings.Result(kMD2USE) == 0) {
                auto cleared = [&](const std::string& label, const std::string& value) {
                    messages.push_back(Msg(12138, Term(529), label, value, word("was/will be"), word("615/616")));
                };
                if (const double v = take(kVPPSRAT)) cleared(Labelled(529, " rate"), FormatNumber("%.3f", v / 1000.0));
                if (const double v = take(kVTYDED)) cleared(Labelled(529, " amt ded this yr"), Amount(v));
                if (const double v = take(kVLYDED)) cleared(Labelled(529, " amt ded last yr"), Amount(v));
                if (const double v = take(kVNYDED)) cleared(Labelled(529, " amt ded next yr"), Amount(v));
            }
        }
    }

    // 4. A day of the month has at most 31 days, whatever the settings.
    if (Whole(num(kVDAYTYP)) == 2 && num(kVPMTDAY) > 31) {
        reason = Msg(12136, FormatNumber("%.0f", num(kVPMTDAY)));
        return false;
    }

    // 5. The debit account: a base account when the account format has prefixes and the value is
    // no longer than a base account, else a whole account; stored without separators.
    if (const std::string& value = text(kVGLEXP); !IsBlank(value)) {
        // The account as shown, built only for a message that is issued (before the field is put).
        auto shown = [&] { return FormatAccount(value, suite::kGlDisplay); };
        if (!interfacesGL) {
            const std::string message = Msg(12153, shown(), word("was not/will not be"), word("641/642"));
            PutText(apm, fld(kVGLEXP), "");
            messages.push_back(message);
        } else {
            const DebitAccounts::Form& form = accounts.Of(value);
            const bool base = form.base;
            const int section = base ? suite::kGlBaseAccount : suite::kGlWhole;
            if (!form.valid) {
                reason = Msg(12154, shown());
                return false;
            }
            const std::string& raw = form.raw;
            PutText(apm, fld(kVGLEXP), raw);
            if (glm != 0) {
                const bool missing = base ? lookups.base.Missing(lookups.cache, glm, 6, "BSBASE", raw)
                                          : lookups.account.Missing(lookups.cache, glm, 1, "AACCT", raw);
                if (missing) messages.push_back(Msg(base ? 12156 : 12155, FormatAccount(raw, section)));
            }
        }
    }

    // 6. The standard phase.
    if (const std::string& value = text(kVJCPHS); !IsBlank(value)) {
        auto shown = [&] {
            std::string formatted = value;
            suite::xk_format_field(suite::kPhaseFormat, 0, formatted);
            return formatted;
        };
        if (!interfacesJC) {
            const std::string message = Msg(12157, Term(18), shown(), word("was not/will not be"), word("646/647"));
            PutText(apm, fld(kVJCPHS), "");
            messages.push_back(message);
        } else if (jcm != 0 && lookups.phase.Missing(lookups.cache, jcm, 16, "SPHASE", value)) {
            messages.push_back(Msg(12158, Term(18), shown()));
        }
    }

    // 7. The standard category.
    if (const std::string& value = text(kVJCCAT); !IsBlank(value)) {
        if (!interfacesJC) {
            const std::string message = Msg(12159, value, word("was not/will not be"), word("649/650"));
            PutText(apm, fld(kVJCCAT), "");
            messages.push_back(message);
        } else if (!categoriesUsed) {
            const std::string message = Msg(12160, value, word("was not/will not be"), word("651/652"));
            PutText(apm, fld(kVJCCAT), "");
            messages.push_back(message);
        } else if (jcm != 0 && lookups.category.Missing(lookups.cache, jcm, 17, "SCAT", value)) {
            messages.push_back(Msg(12161, value));
        }
    }

    // 8. The tax group, as the settings left it.
    if (const std::string& value = text(kVTAXGRP); !IsBlank(value) && txm != 0) {
        if (lookups.group.Missing(lookups.cache, txm, 2, "GROUP", value)) messages.push_back(Msg(12163, value));
    }

    // 9, 10. Fields of other countries.
    std::string first;
    if (country != kCountryAustralia) {
        static constexpr std::array<GroupField, 11> australian = {{
            {GroupField::kFlag, kVGENPPS, "Generate payment summary"},
            {GroupField::kChoice, kVENTITY, "Entity type"},
            {GroupField::kText, kVACN, "Australian comp number"},
            {GroupField::kText, kVTAXFIL, "Tax file number"},
            {GroupField::kDate, kVDECLDT, "Decl. signed date"},
            {GroupField::kText, kVVARCER, "Variation certificate num"},
            {GroupField::kDate, kVVARSD, "Variation start date"},
            {GroupField::kText, kVEXPNUM, "Report. exempt. number"},
            {GroupField::kText, kVEXPCER, "Deduct. exempt. cert. num"},
            {GroupField::kDate, kVEXMTSD, "Exemption start date"},
            {GroupField::kDate, kVEXMTED, "Exemption expiry date"},
        }};
        if (ClearGroup(apm, fields, australian, first))
            messages.push_back(Msg(12143, first, word("were not/will not be"), word("625/699")));
    }
    if (country != kCountryUsa && country != kCountryCanada && country != kCountryUnknown) {
        static constexpr std::array<GroupField, 7> american = {{
            {GroupField::kFlag, kVFM1099, "Receives form 1099"},
            {GroupField::kText, kVFEDID, "Recipient ID"},
            {GroupField::kText, kVTIDNAM, "Rec. tax ID name"},
            {GroupField::kFlag, kVSCNTIN, "Second TIN notice"},
            {GroupField::kChoice, kV1099, "1099 form"},
            {GroupField::kFlag, kVPRATTY, "Gross proc. to atty"},
            {GroupField::kAmount, kVGROREV, "Gross revenue"},
        }};
        if (ClearGroup(apm, fields, american, first))
            messages.push_back(Msg(12797, first, word("were not/will not be"), word("1731/1732")));
    }

    // 11. On hold: a vendor comes in not on hold; the hold is the AP module's to set.
    if (const double hold = num(kVHOLD); hold != 0) {
        PutNumber(apm, fld(kVHOLD), 0);
        messages.push_back(Msg(12151, "On-hold status with '" + FormatNumber("%.0f", hold) + "'",
                               word("was not/will not be"), word("640/698")));
    }

    // 12. Payments in progress.
    static constexpr std::array<GroupField, 6> payments = {{
        {GroupField::kFlag, kVINCLD, "Included for pmt", false, "TRUE"},
        {GroupField::kAmount, kVPAMT, "Pmt Amount"},
        {GroupField::kAmount, kVPRETP, " to pay", true},
        {GroupField::kAmount, kVPDSC, "Pmt discount"},
        {GroupField::kAmount, kVPRETH, " to hold", true},
        {GroupField::kAmount, kVPMDED, "", true},
    }};
    if (ClearGroup(apm, fields, payments, first))
        messages.push_back(Msg(12152, first, word("were not/will not be"), word("640/698")));
    return true;
}

}  // namespace dz::ap
