// Vendors (AP master record 9): the required keys, the totals the suite accumulates, what the AP
// settings allow, the payment day, the debit account, the job cost and tax references, the
// fields of other countries, on hold and payments.
#include "converters/ap/ap_fields.h"

#include "platform/datafile/xio.h"
#include "platform/import/xvl_import.h"
#include "platform/suite/util.h"
#include "platform/suite/xd.h"
#include "platform/suite/xk.h"

#include <array>
#include <vector>

namespace dz::ap {

namespace {

// One field of a country or payment group: how it is tested, cleared and shown.
struct GroupField {
    enum Kind { kFlag, kChoice, kText, kDate, kAmount } kind;
    const char* name;
    const char* label;
    bool heldTerm = false;  // the label is "Pmt ", the term of held amounts (64), then `label`
    const char* yes = "YES";  // the word a set yes/no field shows
};

// Clears every field of the group that has a value; `first` receives the label-and-value text of
// the first one ("%s with '%s'", amounts "%s with '%.2f'", choices "%s with '%s (%.0f)'"). The
// groups are fixed: most vendors have none of their fields, so a label is built only when shown.
template <std::size_t N>
bool ClearGroup(uint16_t apm, const std::array<GroupField, N>& group, std::string& first) {
    bool any = false;
    for (const auto& g : group) {
        const uint16_t fld = FieldNo(apm, kRecVendor, g.name);
        if (fld == 0) continue;
        std::string shown;
        switch (g.kind) {
        case GroupField::kFlag:
            if (GetFlag(apm, fld) == 0) continue;
            shown = g.yes;
            PutFlag(apm, fld, 0);
            break;
        case GroupField::kChoice: {
            const double item = GetNumber(apm, fld);
            if (item == 1) continue;
            shown = ChoiceText(apm, fld, item, true);
            PutNumber(apm, fld, 1);
            break;
        }
        case GroupField::kText:
            shown = GetText(apm, fld);
            if (IsBlank(shown)) continue;
            PutText(apm, fld, "");
            break;
        case GroupField::kDate: {
            const x_date_type date = GetDate(apm, fld);
            if (date.blank()) continue;
            shown = suite::xd_alpha_date(date);
            PutDate(apm, fld, x_date_type{});
            break;
        }
        case GroupField::kAmount: {
            const double value = GetNumber(apm, fld);
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
std::string ClearListed(uint16_t apm, std::initializer_list<const char*> names) {
    std::array<double, 3> values{};
    int count = 0;
    for (const char* name : names) {
        const uint16_t fld = FieldNo(apm, kRecVendor, name);
        const double v = GetNumber(apm, fld);
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
                          const ApSettings& settings, LookupCache& lookups, DebitAccounts& accounts) {
    auto fld = [&](const char* name) { return FieldNo(apm, kRecVendor, name); };
    auto text = [&](const char* name) { return GetText(apm, fld(name)); };
    auto num = [&](const char* name) { return GetNumber(apm, fld(name)); };
    auto word = [&](const char* pair) { return ModeWord(pair, converting); };
    // A number field set to 0: its old value, 0 when it was 0 already.
    auto take = [&](const char* name) {
        const double v = num(name);
        if (v != 0) PutNumber(apm, fld(name), 0);
        return v;
    };

    // 1. The keys.
    if (IsBlank(text("VENDOR")) || IsBlank(text("VNAME"))) {
        reason = Msg(12129);
        return false;
    }

    // 2. Totals the suite accumulates: one message per kind, naming the first field.
    if (!allowTotals) {
        struct Range {
            const char* first;
            const char* last;
            bool nextYear;
        };
        const Range ranges[] = {{"VNY1099", "VNYDED", true},
                                {"VOAMT", "VMDHELD", false},
                                {"VYTDAMT", "VYTDMD", false},
                                {"VNYAMT", "VNYPD", true}};
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
            if (settings.Result("DSCLVL") == 1) {
                if (const double v = take("VDSCPCT"))
                    changed(12132, FormatNumber("%.3f", v / 1000.0), "has changed/will change", "604/605");
                if (const double v = take("VDSCDAY"))
                    changed(12133, FormatNumber("%.0f", v), "have changed/will change", "606/607");
                if (const double v = take("VODSC")) changed(12144, Amount(v), "has changed/will change", "626/627");
                if (auto old = ClearListed(apm, {"VYTDDO", "VLYDO", "VNYDO"}); !old.empty())
                    changed(12147, old, "has changed/will change", "632/633");
                if (auto old = ClearListed(apm, {"VYTDDT", "VLYDT", "VNYDT"}); !old.empty())
                    changed(12148, old, "has changed/will change", "634/635");
                if (auto old = ClearListed(apm, {"VYTDDL", "VLYDL", "VNYDL"}); !old.empty())
                    changed(12149, old, "has changed/will change", "636/637");
            }
            if (settings.Result("PMTDTU") == 1) {
                if (const double v = take("VPMTDAY"))
                    changed(12134, FormatNumber("%.0f", v), "have changed/will change", "608/609");
                const double type = num("VDAYTYP");
                if (type != 1) {
                    const std::string shown = ChoiceText(apm, fld("VDAYTYP"), type, true);
                    PutNumber(apm, fld("VDAYTYP"), 1);
                    notConverted(12135, shown, "610/611");
                }
            }
            if (settings.Result("MDLVL") == 1) {
                if (const double v = take("VMDRATE"))
                    messages.push_back(Msg(12137, TermCap(63), Term(63), word("has changed/will change"),
                                           FormatNumber("%.3f", v / 1000.0), word("613/614")));
                if (const double v = take("VMDHELD"))
                    messages.push_back(
                        Msg(12146, TermCap(63), word("has changed/will change"), Amount(v), word("630/631")));
                if (auto old = ClearListed(apm, {"VYTDMD", "VLYMD", "VNYMD"}); !old.empty())
                    messages.push_back(
                        Msg(12150, TermCap(63), Term(63), word("has changed/will change"), old, word("638/639")));
            }
            const int taxUse = settings.Result("TAXUSE");
            if (taxUse != 3 && num("VTAXCOL") == 2) {
                const std::string shown = ChoiceText(apm, fld("VTAXCOL"), 2, true);
                PutNumber(apm, fld("VTAXCOL"), 1);
                notConverted(12139, shown, "617/618");
            }
            auto clearText = [&](const char* name, int number, const std::string* term, const char* numbers) {
                const std::string value = text(name);
                if (IsBlank(value)) return;
                PutText(apm, fld(name), "");
                if (term)
                    messages.push_back(Msg(number, *term, value, word("was not/will not be"), word(numbers)));
                else
                    messages.push_back(Msg(number, value, word("was not/will not be"), word(numbers)));
            };
            if (taxUse == 1) clearText("VTAXGRP", 12162, nullptr, "654/655");
            if (settings.Result("USEICD1") == 0) {
                const std::string term = TermCap(61);
                clearText("VICODE1", 12140, &term, "619/620");
            }
            if (settings.Result("USEICD2") == 0) {
                const std::string term = TermCap(62);
                clearText("VICODE2", 12140, &term, "619/620");
            }
            auto none = [&](const std::array<const char*, 5>& names) {
                for (const char* name : names)
                    if (settings.Result(name) != 0) return false;
                return true;
            };
            if (none({"DCCODE1", "DCCODE2", "DCCODE3", "DCCODE4", "DCCODE5"})) {
                const std::string term = TermCap(60);
                clearText("VDCODE", 12141, &term, "621/622");
            }
            if (none({"DCRET1", "DCRET2", "DCRET3", "DCRET4", "DCRET5"})) {
                if (const double v = take("VRETAIN"))
                    messages.push_back(
                        Msg(12145, TermCap(64), word("has changed/will change"), Amount(v), word("628/629")));
            }
            if (country != kCountryAustralia && settings.Result("MD2USE") == 0) {
                auto cleared = [&](const std::string& label, const std::string& value) {
                    messages.push_back(Msg(12138, Term(529), label, value, word("was/will be"), word("615/616")));
                };
                if (const double v = take("VPPSRAT")) cleared(Labelled(529, " rate"), FormatNumber("%.3f", v / 1000.0));
                if (const double v = take("VTYDED")) cleared(Labelled(529, " amt ded this yr"), Amount(v));
                if (const double v = take("VLYDED")) cleared(Labelled(529, " amt ded last yr"), Amount(v));
                if (const double v = take("VNYDED")) cleared(Labelled(529, " amt ded next yr"), Amount(v));
            }
        }
    }

    // 4. A day of the month has at most 31 days, whatever the settings.
    if (Whole(num("VDAYTYP")) == 2 && num("VPMTDAY") > 31) {
        reason = Msg(12136, FormatNumber("%.0f", num("VPMTDAY")));
        return false;
    }

    // 5. The debit account: a base account when the account format has prefixes and the value is
    // no longer than a base account, else a whole account; stored without separators.
    if (const std::string value = text("VGLEXP"); !IsBlank(value)) {
        // The account as shown, built only for a message that is issued.
        auto shown = [&] { return FormatAccount(value, suite::kGlDisplay); };
        if (!interfacesGL) {
            PutText(apm, fld("VGLEXP"), "");
            messages.push_back(Msg(12153, shown(), word("was not/will not be"), word("641/642")));
        } else {
            const DebitAccounts::Form& form = accounts.Of(value);
            const bool base = form.base;
            const int section = base ? suite::kGlBaseAccount : suite::kGlWhole;
            if (!form.valid) {
                reason = Msg(12154, shown());
                return false;
            }
            const std::string raw = form.raw;
            PutText(apm, fld("VGLEXP"), raw);
            if (glm != 0) {
                const bool missing =
                    base ? lookups.Missing(glm, 6, "BSBASE", raw) : lookups.Missing(glm, 1, "AACCT", raw);
                if (missing) messages.push_back(Msg(base ? 12156 : 12155, FormatAccount(raw, section)));
            }
        }
    }

    // 6. The standard phase.
    if (const std::string value = text("VJCPHS"); !IsBlank(value)) {
        auto shown = [&] {
            std::string formatted = value;
            suite::xk_format_field(suite::kPhaseFormat, 0, formatted);
            return formatted;
        };
        if (!interfacesJC) {
            PutText(apm, fld("VJCPHS"), "");
            messages.push_back(Msg(12157, Term(18), shown(), word("was not/will not be"), word("646/647")));
        } else if (jcm != 0 && lookups.Missing(jcm, 16, "SPHASE", value)) {
            messages.push_back(Msg(12158, Term(18), shown()));
        }
    }

    // 7. The standard category.
    if (const std::string value = text("VJCCAT"); !IsBlank(value)) {
        if (!interfacesJC) {
            PutText(apm, fld("VJCCAT"), "");
            messages.push_back(Msg(12159, value, word("was not/will not be"), word("649/650")));
        } else if (!categoriesUsed) {
            PutText(apm, fld("VJCCAT"), "");
            messages.push_back(Msg(12160, value, word("was not/will not be"), word("651/652")));
        } else if (jcm != 0 && lookups.Missing(jcm, 17, "SCAT", value)) {
            messages.push_back(Msg(12161, value));
        }
    }

    // 8. The tax group, as the settings left it.
    if (const std::string value = text("VTAXGRP"); !IsBlank(value) && txm != 0) {
        if (lookups.Missing(txm, 2, "GROUP", value)) messages.push_back(Msg(12163, value));
    }

    // 9, 10. Fields of other countries.
    std::string first;
    if (country != kCountryAustralia) {
        static constexpr std::array<GroupField, 11> australian = {{
            {GroupField::kFlag, "VGENPPS", "Generate payment summary"},
            {GroupField::kChoice, "VENTITY", "Entity type"},
            {GroupField::kText, "VACN", "Australian comp number"},
            {GroupField::kText, "VTAXFIL", "Tax file number"},
            {GroupField::kDate, "VDECLDT", "Decl. signed date"},
            {GroupField::kText, "VVARCER", "Variation certificate num"},
            {GroupField::kDate, "VVARSD", "Variation start date"},
            {GroupField::kText, "VEXPNUM", "Report. exempt. number"},
            {GroupField::kText, "VEXPCER", "Deduct. exempt. cert. num"},
            {GroupField::kDate, "VEXMTSD", "Exemption start date"},
            {GroupField::kDate, "VEXMTED", "Exemption expiry date"},
        }};
        if (ClearGroup(apm, australian, first))
            messages.push_back(Msg(12143, first, word("were not/will not be"), word("625/699")));
    }
    if (country != kCountryUsa && country != kCountryCanada && country != kCountryUnknown) {
        static constexpr std::array<GroupField, 7> american = {{
            {GroupField::kFlag, "VFM1099", "Receives form 1099"},
            {GroupField::kText, "VFEDID", "Recipient ID"},
            {GroupField::kText, "VTIDNAM", "Rec. tax ID name"},
            {GroupField::kFlag, "VSCNTIN", "Second TIN notice"},
            {GroupField::kChoice, "V1099", "1099 form"},
            {GroupField::kFlag, "VPRATTY", "Gross proc. to atty"},
            {GroupField::kAmount, "VGROREV", "Gross revenue"},
        }};
        if (ClearGroup(apm, american, first))
            messages.push_back(Msg(12797, first, word("were not/will not be"), word("1731/1732")));
    }

    // 11. On hold: a vendor comes in not on hold; the hold is the AP module's to set.
    if (const double hold = num("VHOLD"); hold != 0) {
        PutNumber(apm, fld("VHOLD"), 0);
        messages.push_back(Msg(12151, "On-hold status with '" + FormatNumber("%.0f", hold) + "'",
                               word("was not/will not be"), word("640/698")));
    }

    // 12. Payments in progress.
    static constexpr std::array<GroupField, 6> payments = {{
        {GroupField::kFlag, "VINCLD", "Included for pmt", false, "TRUE"},
        {GroupField::kAmount, "VPAMT", "Pmt Amount"},
        {GroupField::kAmount, "VPRETP", " to pay", true},
        {GroupField::kAmount, "VPDSC", "Pmt discount"},
        {GroupField::kAmount, "VPRETH", " to hold", true},
        {GroupField::kAmount, "VPMDED", "", true},
    }};
    if (ClearGroup(apm, payments, first))
        messages.push_back(Msg(12152, first, word("were not/will not be"), word("640/698")));
    return true;
}

}  // namespace dz::ap
