// Category records of the JC master converter.
#include "converters/jc/jcm_fields.h"
#include "converters/jc/xvjcm.h"

#include "modules/entries.h"
#include "platform/datafile/xio.h"
#include "platform/import/xvl_helpers.h"
#include "platform/import/xvl_import.h"
#include "platform/suite/xk.h"

#include <algorithm>

namespace dz::jc {

using namespace convert;

namespace {

constexpr int kGl = suite::kGlAccountFormat;
constexpr int kPhase = suite::kPhaseFormat;




}  // namespace

bool xvJCM::ConvertCategory(uint16_t jcm, xvl::xvlImpInfo& info, std::string& reason, convert::MessageList& messages,
                            bool converting, RecordIdMap& ids, xvl::xvlImport& import) {
    auto F = [&](const char* name) { return FieldNo(jcm, kRecCategory, name); };
    auto SC = [&](const char* name) { return FieldNo(jcm, kRecStdCategory, name); };
    auto word = [&](const char* pair) { return ModeWord(pair, converting); };
    auto text = [&](const char* name) { return GetText(jcm, F(name)); };
    auto num = [&](const char* name) { return GetNumber(jcm, F(name)); };

    // 1-4. Categories used; job, phase and category given.
    if (!categoriesUsed) {
        reason = Msg(12246);
        return false;
    }
    const std::string job = text("CJOB");
    if (IsBlank(job)) {
        reason = Msg(12223);
        return false;
    }
    const std::string phase = text("CPHASE");
    if (IsBlank(phase)) {
        reason = Msg(12250, TermCap(kPhase));
        return false;
    }
    const std::string category = text("CAT");
    if (IsBlank(category)) {
        reason = Msg(12247);
        return false;
    }

    // 5. Categories belong to phases that are not groups.
    uint16_t level = 1;
    if (modules::JC_GROUP_PHASE(phase, kPhase, &level) != 0) {
        reason = Msg(12249, TermCap(kPhase), ShowKey(kPhase, 0, phase), Term(kPhase), TermPlural(kPhase));
        return false;
    }

    // 6-8. Job, extra and phase, on file or (Examine Files) earlier in the text file.
    const JobLookup& jobInfo = LookUpJob(jcm, job, converting, ids);
    if (!jobInfo.found) {
        reason = Msg(12248, ShowKey(suite::kJobFormat, 0, job), TermCap(12), "444");
        return false;
    }
    const std::string extra = text("CEXTRA");
    if (!IsBlank(extra) && !FoundOrEarlier(jcm, kRecExtra, {{"XJOB", job}, {"EXTRA", extra}}, converting, ids)) {
        reason = Msg(12251, TermCap(15), extra, TermCap(12), "447");
        return false;
    }
    if (!FoundOrEarlier(jcm, kRecPhase, {{"PJOB", job}, {"PEXTRA", extra}, {"PHASE", phase}}, converting, ids)) {
        reason = Msg(12269, TermCap(kPhase), ShowKey(kPhase, 0, phase));
        return false;
    }

    // 9, 10. The standard category; the description.
    if (!ReadByKeys(jcm, kRecStdCategory, {{"SCAT", category}})) {
        reason = Msg(12270, category);
        return false;
    }
    if (IsBlank(text("CDESC"))) PutText(jcm, F("CDESC"), GetText(jcm, SC("SCDESC")));

    // 11. Accumulate as: the standard category's.
    const double standardType = GetNumber(jcm, SC("SCCTYPE"));
    if (import.xvlImpWasItImported(info.FormatID(), "CCTYPE") && num("CCTYPE") != standardType) {
        reason = Msg(12271, ShowChoice(jcm, F("CCTYPE"), num("CCTYPE")), ShowChoice(jcm, SC("SCCTYPE"), standardType));
        return false;
    }
    PutNumber(jcm, F("CCTYPE"), standardType);
    const int type = Whole(standardType);
    const bool unitsTracked = type >= 1 && type <= 6 && unitTracking[static_cast<std::size_t>(type - 1)];
    std::string unitType;
    xio_get_item_alpha(jcm, F("CCTYPE"), static_cast<uint16_t>(std::max(0, type)), unitType);

    // 12. Cost unit description: from the standard phase's slot of this category, else from the
    // standard category.
    if (IsBlank(text("CUDESC"))) {
        std::string unit;
        if (haveStdPhases_ && ReadByKeys(jcm, kRecStdPhase, {{"SPHASE", phase}})) {
            const uint16_t first = FieldNo(jcm, kRecStdPhase, "SPCAT1");
            for (uint16_t slot = 0; first && slot < 12; ++slot) {
                const auto f = static_cast<uint16_t>(first + 2 * slot);
                if (GetText(jcm, f) != category) continue;
                unit = GetText(jcm, static_cast<uint16_t>(f + 1));
                break;
            }
        }
        if (IsBlank(unit)) unit = GetText(jcm, SC("SCUDESC"));
        if (!IsBlank(unit)) PutText(jcm, F("CUDESC"), unit);
    } else if (!unitsTracked) {
        messages.push_back(Msg(12258, unitType, text("CUDESC"), word("was not/will not be"), word("458/459")));
        PutText(jcm, F("CUDESC"), "");
    }

    // 13. Cost account.
    if (std::string account = text("CCSTACC"); IsBlank(account)) {
        if (jobInfo.onFile) {
            const double group = jobInfo.accountGroup;
            const char* from = group == 2 ? "SCCACCB" : group == 3 ? "SCCACCC" : "SCCACCA";
            PutText(jcm, F("CCSTACC"), GetText(jcm, SC(from)));
        }
    } else {
        if (!CheckCostAccount(jcm, F("CCSTACC"), account, 3, messages, reason, converting)) return false;
    }

    // 14. Units of a type whose units are not tracked.
    if (!unitsTracked) {
        uint16_t first = 0;
        double firstValue = 0;
        for (const auto& [from, to] : {std::pair{F("COUEST"), F("CTUEST")}, std::pair{F("CJTDU"), F("CLPU")}}) {
            double v = 0;
            const uint16_t f = ZeroRange(jcm, from, to, v);
            if (f && !first) {
                first = f;
                firstValue = v;
            }
        }
        if (first)
            messages.push_back(Msg(12266, unitType, FieldDescription(jcm, first), ShowAmount(jcm, first, firstValue),
                                   word("was not/will not be"), word("469/470")));
    }

    // 15. Periods not used.
    if (!periodsUsed) {
        uint16_t first = 0;
        double firstValue = 0;
        for (const char* name : {"CPTDC", "CLPC", "CPTDU", "CLPU", "CPTDDP", "CLPDP"}) {
            double v = 0;
            if (ZeroRange(jcm, F(name), F(name), v) && !first) {
                first = F(name);
                firstValue = v;
            }
        }
        if (first)
            messages.push_back(Msg(12263, FieldDescription(jcm, first), ShowAmount(jcm, first, firstValue),
                                   word("was not/will not be"), word("467/468")));
    }

    // 16. Tax amounts are never converted.
    ClearAccumulated(jcm, {{F("CJTDCT"), static_cast<uint16_t>(F("CJTDCT") + 7)},
                           {F("CJTDDPT"), static_cast<uint16_t>(F("CJTDDPT") + 7)}},
                     12260, "461/462", messages, converting);

    // 17. Calculated totals.
    CalculatedTotal(jcm, F("CTEST"), F("COEST"), F("CAESTC"), "Total estimate", messages, converting);
    CalculatedTotal(jcm, F("CTUEST"), F("COUEST"), F("CAUESTC"), "Total estimate units", messages, converting);
    CalculatedTotal(jcm, F("CRVCOM"), F("COCOM"), F("CACOMC"), "Revised " + Term(20), messages, converting);

    // 18. Tax status.
    if (!import.xvlImpWasItImported(info.FormatID(), "CTAXEX")) {
        const std::string status = GetText(jcm, SC("SCTAXEX"));
        taxFilled_ = IsBlank(status);
        PutText(jcm, F("CTAXEX"), taxFilled_ ? defaultTaxStatus : status);
    } else {
        TaxStatus(jcm, F("CTAXEX"), false, messages, converting);
    }
    return true;
}

}  // namespace dz::jc
