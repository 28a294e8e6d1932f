// 1099 prefix totals (AP master record 10) and authorisations (record 12).
#include "converters/ap/xvapm.h"

#include "convert/lookups.h"
#include "convert/record_fields.h"

#include "platform/datafile/xio.h"
#include "platform/import/xvl_import.h"
#include "platform/suite/xk.h"

namespace dz::ap {

using namespace convert;

bool xvAPM::ConvertPrefixTotals(uint16_t apm, xvl::xvlImpInfo&, std::string& reason, convert::MessageList& messages,
                                bool interfacesGL, uint16_t glm, bool converting, const RecordIdMap& ids,
                                uint16_t country, const ApSettings& settings) {
    constexpr uint16_t rec = kRecPrefixTotals;
    auto fld = [&](const char* name) { return FieldNo(apm, rec, name); };
    auto word = [&](const char* pair) { return ModeWord(pair, converting); };
    const std::string given = GetText(apm, fld("FPREFIX"));
    const std::string vendor = GetText(apm, fld("FVENDOR"));

    // 1, 2. The keys.
    if (IsBlank(given)) {
        reason = Msg(12164);
        return false;
    }
    if (IsBlank(vendor)) {
        reason = Msg(12165);
        return false;
    }
    // 3. The settings must keep 1099 totals per prefix (an unreadable header does not stop it).
    if (settings.Read() && settings.Result(kPRF1099) == 0) {
        reason = Msg(12166);
        return false;
    }
    // 4. The vendor: on file, or (Examine Files) examined on an earlier line. A look-up that
    // fails is no answer: the record cannot be checked. A vendor an earlier line added is on
    // file: asking the file for it would end the bulk load of the vendors it is in.
    xio_init_record(apm, kRecVendor);
    PutText(apm, FieldNo(apm, kRecVendor, "VENDOR"), vendor);
    const int found =
        converting && convert::FindInIdMap(apm, kRecVendor, ids) ? XIO_OK : xio_find_record(apm, kRecVendor, 0);
    if (found != XIO_OK) {
        if (found != XIO_NOT_FOUND) {
            reason = Msg(12011);
            return false;
        }
        if (converting || !convert::FindInIdMap(apm, kRecVendor, ids)) {
            reason = Msg(12167, vendor);
            return false;
        }
    }
    // 5. The level: 2 prefix A, 3 prefix AB, 4 prefix ABC, as far as the account format has
    // prefix sections.
    const int sections = suite::xk_num_sections(suite::kGlAccountFormat);
    const int level = Whole(GetNumber(apm, fld("FLEVEL")));
    if (level < 2 || level > sections + 1) {
        const std::string shown = FormatInt("%d", level);
        if (sections <= 0)
            reason = Msg(12168);
        else if (sections == 1)
            reason = Msg(12169, shown);
        else if (sections == 2)
            reason = Msg(12170, shown);
        else
            reason = Msg(12171, shown);
        return false;
    }
    // 6. The prefix, valid for its level's section; stored without separators with its parts.
    const int section = level == 2 ? suite::kGlPrefixA : level == 3 ? suite::kGlPrefixAB : suite::kGlPrefixABC;
    if (!ValidAccount(given, section)) {
        reason = Msg(12172, given, SectionDescription(section));
        return false;
    }
    const std::string prefix = UnformattedAccount(given, section);
    auto part = [&](int of) {
        std::string text = prefix;
        suite::xk_get_section(suite::kGlAccountFormat, false, of, text);
        return text;
    };
    const std::string prefixA = level == 2 ? prefix : part(suite::kGlPrefixA);
    PutText(apm, fld("FPREFIX"), prefix);
    PutText(apm, fld("FGLA"), prefixA);
    if (level == 3) PutText(apm, fld("FGLAB"), prefix);
    if (level == 4) PutText(apm, fld("FGLAB"), part(suite::kGlPrefixAB));

    // 7. The prefixes in the GL master (warnings only).
    if (interfacesGL && glm != 0) {
        const std::string shown = level == 2 ? prefix : FormatAccount(prefix, section);
        const PrefixA& a = PrefixAOf(glm, prefixA);
        if (!a.onFile) {
            messages.push_back(Msg(12173, shown, SectionDescription(section)));
        } else {
            if (a.fiscal != level - 1)
                messages.push_back(Msg(12174, SectionDescription(section, true), shown,
                                       SectionDescription(suite::kGlPrefixA), prefixA));
            if (level == 3 && lookups_.cache.Status(glm, 4, "PBPRFX", prefix) != XIO_OK)
                messages.push_back(Msg(12173, shown, SectionDescription(section)));
            if (level == 4 && lookups_.cache.Status(glm, 5, "PCPRFX", prefix) != XIO_OK)
                messages.push_back(Msg(12173, shown, SectionDescription(section)));
        }
    }

    // 8. Deductions of the withholding kind, when it is not used.
    if (country != kCountryAustralia) {
        if (settings.Read() && settings.Result(kMD2USE) == 0) {
            const std::pair<const char*, const char*> deducted[] = {{"FYTDDED", "YTD amount deducted"},
                                                                    {"FLYDED", "Last Yr amount deducted"},
                                                                    {"FNYDED", "Next Yr amount deducted"}};
            for (const auto& [name, label] : deducted) {
                const double v = GetNumber(apm, fld(name));
                if (v == 0) continue;
                PutNumber(apm, fld(name), 0);
                messages.push_back(Msg(12175, Term(529), label, Amount(v), word("was/will be"), word("668/669")));
            }
        }
    }
    // 9. Gross revenue is reported only in the USA and Canada.
    if (country != kCountryUsa && country != kCountryCanada && country != kCountryUnknown) {
        if (const double v = GetNumber(apm, fld("FGROREV")); v != 0) {
            PutNumber(apm, fld("FGROREV"), 0);
            messages.push_back(Msg(12176, "Gross revenue", Amount(v), word("was/will be"), word("670/671")));
        }
    }
    return true;
}

const xvAPM::PrefixA& xvAPM::PrefixAOf(uint16_t glm, const std::string& prefixA) {
    if (const auto it = prefixesA_.find(prefixA); it != prefixesA_.end()) return it->second;
    // Read by its key without a lock; a read that fails is answered "not on file", as it always
    // was, but not kept: the next line asks again.
    const uint16_t keyNo = FieldNo(glm, 3, "PAPRFX");
    PutText(glm, keyNo, prefixA);
    const int status = xio_rd_record(glm, 3, 0, 0);
    PrefixA a;
    if (status == XIO_OK) {
        a.onFile = true;
        a.fiscal = Whole(GetNumber(glm, FieldNo(glm, 3, "PAFISC")));
    } else {
        xio_init_record(glm, 3);
        PutText(glm, keyNo, prefixA);
    }
    if (status != XIO_OK && status != XIO_NOT_FOUND) {
        prefixScratch_ = a;
        return prefixScratch_;
    }
    return prefixesA_.emplace(prefixA, a).first->second;
}

bool xvAPM::ConvertAuthorizations(uint16_t apm, xvl::xvlImpInfo&, std::string& reason, convert::MessageList&,
                                  const ApSettings& settings) {
    if (IsBlank(GetText(apm, FieldNo(apm, kRecAuthorization, "AUTH")))) {
        reason = Msg(12178, Term(38));
        return false;
    }
    if (!settings.Read()) return true;
    for (const ApSetting setting : {kDCAUTH1, kDCAUTH2, kDCAUTH3, kDCAUTH4, kDCAUTH5})
        if (settings.Result(setting) != 0) return true;
    reason = Msg(12179, TermPlural(38), Term(38));
    return false;
}

}  // namespace dz::ap
