// Phase (cost code) records of the JC master converter, and the group phases they need.
#include "converters/jc/jcm_fields.h"
#include "converters/jc/xvjcm.h"

#include "convert/texts.h"
#include "modules/entries.h"
#include "platform/datafile/xio.h"
#include "platform/import/xvl_helpers.h"
#include "platform/import/xvl_import.h"
#include "platform/modlibs/jc_cost_code.h"
#include "platform/suite/xk.h"

#include <algorithm>
#include <string_view>

namespace dz::jc {

using namespace convert;

namespace {

constexpr int kGl = suite::kGlAccountFormat;
constexpr int kPhase = suite::kPhaseFormat;




// The cost-code fields the phase handler touches, by name; a PhaseName is a name's place in the
// list, taken when the program is compiled (a name missing from it does not compile).
constexpr std::array<const char*, kPhaseFieldCount> kPhaseFieldNames{
    "PJOB", "PEXTRA", "PHASE", "PDESC", "PGPHASE", "PCTYPE", "PUDESC", "PCSTACC", "PBTOUT", "POVRHT",
    "PBIMEMO", "PTAXEX", "PSNDBL", "PPUDESC", "PCNT", "PPSVC", "POSV", "PNMASV", "PJTDWB", "PNMRH", "PRSVC",
    "PASVC", "PJTDCT", "PJTDDPT", "PCFAM1", "PCFAM4", "POEST", "PTEST", "POUEST", "PJTDODP", "PFRMT1",
    "PFRMT6", "PPTDC", "PLPC", "PPTDU", "PLPU", "PPTDDP", "PLPDP", "PPTDLC", "PPTDLU", "PPTDEC", "PPTDEU",
    "PPTDPU", "PLPPU", "PTUEST", "PJTDU", "PTLEST", "PAESTC", "PAUESTC", "PRVCOM", "POCOM", "PACOMC",
    "PRVPU", "POPU", "PAPUC", "PFAMT1"};

struct PhaseName {
    consteval PhaseName(const char* name) : at(Find(name)) {}  // NOLINT: names convert implicitly
    std::size_t at;

private:
    static consteval std::size_t Find(std::string_view name) {
        for (std::size_t i = 0; i < kPhaseFieldNames.size(); ++i)
            if (name == kPhaseFieldNames[i]) return i;
        throw "not a field of the phase handler's list";
    }
};

// The item text of a choice value alone.
std::string ItemText(uint16_t jcm, uint16_t fld, double item) {
    std::string text;
    xio_get_item_alpha(jcm, fld, static_cast<uint16_t>(std::max(0.0, item)), text);
    return text;
}

}  // namespace

bool xvJCM::CheckCostAccount(uint16_t jcm, uint16_t fld, std::string account, int method,
                             convert::MessageList& messages, std::string& reason, bool converting) {
    auto word = [&](const char* pair) { return ModeWord(pair, converting); };
    const std::string shown = ShowKey(kGl, suite::kGlDisplay, account);
    if (!jcInterfacesGl) {
        messages.push_back(Msg(12233, "Cost account", shown, word("was not/will not be"), word("421/422")));
        PutText(jcm, fld, "");
    } else if (glRetrievalMethod != method && glRetrievalMethod != 5) {
        messages.push_back(Msg(12236, shown, word("was not/will not be"), word("427/428")));
        PutText(jcm, fld, "");
    } else if (!prefixFromJob) {
        if (!ValidAccount(account, suite::kGlWhole)) {
            reason = Msg(12237, shown);
            return false;
        }
        if (glMasterFile &&
            lookups_.Status(glMasterFile, 1, "AACCT", UnformattedAccount(account, suite::kGlWhole)) == XIO_NOT_FOUND)
            messages.push_back(Msg(12240, ShowKey(kGl, suite::kGlWhole, account)));
    } else {
        if (ValidAccount(account, suite::kGlWhole)) {
            account = BaseAccountOf(UnformattedAccount(account, suite::kGlWhole));
            PutText(jcm, fld, account);
        }
        if (!ValidAccount(account, suite::kGlBaseAccount)) {
            reason = Msg(12237, shown);
            return false;
        }
        if (glMasterFile &&
            lookups_.Status(glMasterFile, 6, "BSBASE", UnformattedAccount(account, suite::kGlBaseAccount)) == XIO_NOT_FOUND)
            messages.push_back(Msg(12239, ShowKey(kGl, suite::kGlBaseAccount, account)));
    }
    return true;
}

void xvJCM::ResolvePhaseFields(uint16_t jcm) {
    for (std::size_t i = 0; i < kPhaseFieldNames.size(); ++i)
        phaseFields_[i] = xio_num(jcm, XIO_NUM_RECORD, kRecPhase, kPhaseFieldNames[i]);
    phaseFieldsFile_ = jcm;
}

const xvJCM::PhaseFormat& xvJCM::PhaseFormatOf(uint16_t jcm, const xvl::xvlImport& import,
                                                const xvl::xvlImpInfo& info) {
    PhaseFormat& p = phaseFormat_;
    if (p.known && p.jcm == jcm && p.format == info.FormatID()) return p;
    p.known = true;
    p.jcm = jcm;
    p.format = info.FormatID();
    auto given = [&](const char* name) { return import.xvlImpWasItImported(p.format, name); };
    p.typeGiven = given("PCTYPE");
    p.taxGiven = given("PTAXEX");
    p.billingGiven = given("PSNDBL");
    // A line that adds a cost code starts from the defaults: a field without a column holds its
    // default, blank or 0 for these.
    const bool fromDefaults = info.RecExtraData() == 0 && import.xvlImpGetPermissions(p.format) == 2;
    p.contractsPossible = !fromDefaults;
    const uint16_t links = phaseFields_[PhaseName("PCNT").at], changes = phaseFields_[PhaseName("PPSVC").at];
    for (uint16_t f = links; !p.contractsPossible && links > 1 && f < links + 2; ++f) {
        const xio_fld_def* def = xio_field_def(jcm, f);
        p.contractsPossible =
            !def || !xio_is_text_type(def->type) || !IsBlank(def->defaultValue.text) || given(def->name.c_str());
    }
    for (uint16_t f = changes; !p.contractsPossible && changes > 0 && f < changes + 3; ++f) {
        const xio_fld_def* def = xio_field_def(jcm, f);
        p.contractsPossible =
            !def || !xio_is_number_type(def->type) || def->defaultValue.number != 0 || given(def->name.c_str());
    }
    return p;
}

bool xvJCM::ConvertPhase(uint16_t jcm, xvl::xvlImpInfo& info, std::string& reason, convert::MessageList& messages,
                         bool converting, convert::ConversionReport& report, RecordIdMap& ids,
                         xvl::xvlImport& import) {
    if (phaseFieldsFile_ != jcm) ResolvePhaseFields(jcm);
    auto F = [&](PhaseName name) { return phaseFields_[name.at]; };
    auto S = [&](const char* name) { return FieldNo(jcm, kRecStdPhase, name); };
    auto word = [&](const char* pair) { return ModeWord(pair, converting); };
    auto text = [&](PhaseName name) { return GetText(jcm, F(name)); };
    // The stored text of a field, read in place: what is only tested (or shown before the field
    // is changed) is not copied.
    auto stored = [&](PhaseName name) -> const std::string& { return xio_get_text(jcm, F(name)); };
    auto num = [&](PhaseName name) { return xio_get_number(jcm, F(name)); };
    // What the line's format has columns for, asked once per format.
    const PhaseFormat& format = PhaseFormatOf(jcm, import, info);
    // The cost code's term, looked up only for a message that is issued.
    auto term = [] { return Term(kPhase); };
    auto termCap = [] { return TermCap(kPhase); };

    // 1, 2. Job and cost code.
    // The key as the buffer holds it: the handler changes none of it (the group phases below,
    // which reuse the buffer, take copies).
    const std::string& job = stored("PJOB");
    if (IsBlank(job)) {
        reason = Msg(12223);
        return false;
    }
    const std::string& phase = stored("PHASE");
    if (IsBlank(phase)) {
        reason = Msg(12250, termCap());
        return false;
    }

    // 3. Group phase and level.
    const int n = costSections_;
    const CostCodeMemo::Split& split = costCodes_.Of(phase, n);
    uint16_t phaseLevel = split.level;
    const bool group = split.group;
    if (phaseLevel == 0) phaseLevel = 1;

    // 4. The job, with its billing level.
    const JobLookup& jobInfo = LookUpJob(jcm, job, converting, ids);
    if (!jobInfo.found) {
        reason = Msg(12248, ShowKey(suite::kJobFormat, 0, job), termCap(), "443");
        return false;
    }
    const uint16_t jobLevel = jobInfo.level;
    const bool jobOnFile = jobInfo.onFile;
    const double jobAccountGroup = jobInfo.accountGroup;

    // 5. The extra.
    const std::string& extra = stored("PEXTRA");
    if (!IsBlank(extra) && !FoundOrEarlier(jcm, kRecExtra, {{"XJOB", job}, {"EXTRA", extra}}, converting, ids)) {
        reason = Msg(12251, TermCap(15), extra, termCap(), "446");
        return false;
    }

    // 6. Sections: never all zero, no zero section before a non-zero one.
    if (n >= 2) {
        phaseCode_ = phase;
        phaseSplit_ = &split;
        phaseSplitGeneration_ = costCodes_.Generation();
        if (!split.valid) {
            reason = Msg(12252, term(), ShowKey(kPhase, 0, phase));
            return false;
        }
        if (split.lastZero) xio_put_flag(jcm, F("PGPHASE"), 1);
    }
    const bool groupFields = n >= 2 && group;

    // 7, 8. The standard phase; the description.
    const bool standard = haveStdPhases_ && ReadByKeys(jcm, kRecStdPhase, {{"SPHASE", phase}});
    if (standard && IsBlank(stored("PDESC"))) PutText(jcm, F("PDESC"), GetText(jcm, S("SPDESC")));
    if (IsBlank(stored("PDESC"))) {
        reason = Msg(12224, termCap(), "405");
        return false;
    }

    // 9, 10. Overhead table; billing item memo when billing at job.
    if (const std::string& v = stored("POVRHT"); !IsBlank(v)) {
        messages.push_back(Msg(12253, v, word("was not/will not be"), word("449/450")));
        PutText(jcm, F("POVRHT"), "");
    }
    if (const std::string& v = stored("PBIMEMO"); !IsBlank(v) && jobLevel == 1) {
        messages.push_back(Msg(12254, v, word("was not/will not be"), word("451/452")));
        PutText(jcm, F("PBIMEMO"), "");
    }

    // 11. A group phase holds no cost type, cost account, unit description or bought-out mark.
    bool typeReplaced = false;
    if (groupFields) {
        auto warn = [&](const char* field, const std::string& value) {
            messages.push_back(Msg(12255, term(), field, value, word("was not/will not be"), word("453/454")));
        };
        if (format.typeGiven) {
            warn("Accumulate as", ShowChoice(jcm, F("PCTYPE"), num("PCTYPE")));
            PutNumber(jcm, F("PCTYPE"), 1);
            typeReplaced = true;
        }
        if (const std::string& v = stored("PCSTACC"); !IsBlank(v)) {
            warn("Cost account", ShowKey(kGl, suite::kGlDisplay, v));
            PutText(jcm, F("PCSTACC"), "");
        }
        if (const std::string& v = stored("PUDESC"); !IsBlank(v)) {
            warn("Cost unit description", v);
            PutText(jcm, F("PUDESC"), "");
        }
        if (GetFlag(jcm, F("PBTOUT")) != 0) {
            warn("Bought Out", "TRUE");
            PutFlag(jcm, F("PBTOUT"), 0);
        }
    }

    // 12. Accumulate as.
    if (!format.typeGiven || typeReplaced) {
        if (categoriesUsed || group) {
            // Most lines hold 1 already (the default).
            if (xio_get_number(jcm, F("PCTYPE")) != 1) PutNumber(jcm, F("PCTYPE"), 1);
        } else if (standard) {
            PutNumber(jcm, F("PCTYPE"), GetNumber(jcm, S("SPCTYPE")));
        } else {
            reason = Msg(12256, termCap());
            return false;
        }
    } else if (categoriesUsed) {
        messages.push_back(Msg(12257, "Accumulate as", ShowChoice(jcm, F("PCTYPE"), num("PCTYPE")),
                               word("was not/will not be"), word("456/457")));
        PutNumber(jcm, F("PCTYPE"), 1);
    }

    // 13. Cost type and units.
    int costType = 1;
    bool unitsTracked = false;
    if (!categoriesUsed && !group) {
        costType = Whole(num("PCTYPE"));
        unitsTracked = costType >= 1 && costType <= 6 && unitTracking[static_cast<std::size_t>(costType - 1)];
    }

    // 14. Cost unit description.
    if (const std::string& v = stored("PUDESC"); IsBlank(v)) {
        if (standard && unitsTracked) PutText(jcm, F("PUDESC"), GetText(jcm, S("SPCUDSC")));
    } else if (categoriesUsed) {
        messages.push_back(Msg(12257, "Cost Unit Description", v, word("was not/will not be"), word("456/457")));
        PutText(jcm, F("PUDESC"), "");
    } else if (!unitsTracked) {
        messages.push_back(
            Msg(12258, ItemText(jcm, F("PCTYPE"), costType), v, word("was not/will not be"), word("458/459")));
        PutText(jcm, F("PUDESC"), "");
    }

    // 15. Cost account.
    if (const std::string& account = stored("PCSTACC"); IsBlank(account)) {
        if (standard && !group && jobOnFile) {
            const char* from = jobAccountGroup == 2 ? "SPCACCB" : jobAccountGroup == 3 ? "SPCACCC" : "SPCACCA";
            PutText(jcm, F("PCSTACC"), GetText(jcm, S(from)));
        }
    } else {
        if (!CheckCostAccount(jcm, F("PCSTACC"), account, 2, messages, reason, converting)) return false;
    }

    // 16. Bought out with categories.
    if (categoriesUsed && GetFlag(jcm, F("PBTOUT")) == 1) {
        messages.push_back(Msg(12257, "Bought out", "TRUE", word("was not/will not be"), word("456/457")));
        PutFlag(jcm, F("PBTOUT"), 0);
    }

    // 17, 18. Contract links and change orders.
    if (format.contractsPossible) ClearContractFields(jcm, F("PCNT"), F("PPSVC"), messages, converting);

    // 19. Scheduled values: only where the job bills at or above this cost code.
    if (phaseLevel < jobLevel - 1) {
        for (const auto& [from, to] : {std::pair{F("POSV"), F("PNMASV")}, std::pair{F("PJTDWB"), F("PNMRH")}}) {
            for (uint16_t f = from; from && f <= to; ++f) {
                if (const double v = GetNumber(jcm, f); v != 0) {
                    reason = Msg(12259, termCap(), ShowKey(kPhase, 0, phase), FieldDescription(jcm, f), Hundredths(v));
                    return false;
                }
            }
        }
    } else {
        CalculatedTotal(jcm, F("PRSVC"), F("POSV"), F("PASVC"), "Revised Scheduled Value", messages, converting);
    }

    // 20. Tax status.
    if (!format.taxGiven) {
        std::string status = standard ? GetText(jcm, S("SPTAXEX")) : std::string();
        taxFilled_ = IsBlank(status);
        PutText(jcm, F("PTAXEX"), taxFilled_ ? defaultTaxStatus : status);
    } else {
        TaxStatus(jcm, F("PTAXEX"), true, messages, converting);
    }

    // 21. Send cost to billings.
    if (!format.billingGiven) {
        if (standard) PutFlag(jcm, F("PSNDBL"), GetFlag(jcm, S("SPSNDBL")));
    } else if (GetFlag(jcm, F("PSNDBL")) == 0) {
        if (!arMasterExists) {
            messages.push_back(Msg(12789, word("was/will be"), word("331/332")));
            PutFlag(jcm, F("PSNDBL"), 1);
        } else if (group) {
            messages.push_back(Msg(12793, word("was/will be"), term(), word("339/340")));
            PutFlag(jcm, F("PSNDBL"), 1);
        }
    }

    // 22, 23. Tax amounts and the accumulated fields are never converted.
    // Only what the line may hold is looked at (the lists are fixed: the numbers name them).
    auto lineMay = [&](int list, std::initializer_list<FieldRange> ranges) -> const FieldRanges& {
        return lineRanges_.Narrow(list, jcm, import, info, ranges);
    };
    ClearAccumulated(jcm,
                     lineMay(0, {{F("PJTDCT"), static_cast<uint16_t>(F("PJTDCT") + 7)},
                                 {F("PJTDDPT"), static_cast<uint16_t>(F("PJTDDPT") + 7)}}),
                     12260, "461/462", messages, converting);
    ClearAccumulated(jcm, lineMay(1, {{F("PCFAM1"), F("PCFAM4")}}), 12244, "437/438", messages, converting);

    // 24. With categories or for a group phase the totals come from below.
    if (categoriesUsed || group)
        ClearAccumulated(jcm,
                         lineMay(2, {{F("POEST"), F("PTEST")}, {F("POUEST"), F("PJTDODP")}, {F("PFRMT1"), F("PFRMT6")}}),
                         categoriesUsed ? 12261 : 12262, categoriesUsed ? "463/464" : "465/466", messages,
                         converting);

    // 25. Periods not used.
    if (!categoriesUsed && !group && !periodsUsed) {
        uint16_t first = 0;
        double firstValue = 0;
        const FieldRanges& filled =
            lineMay(3, {{F("PPTDC"), F("PPTDC")}, {F("PLPC"), F("PLPC")}, {F("PPTDU"), F("PPTDU")},
                        {F("PLPU"), F("PLPU")}, {F("PPTDDP"), F("PPTDDP")}, {F("PLPDP"), F("PLPDP")},
                        {F("PPTDLC"), F("PPTDLC")}, {F("PPTDLU"), F("PPTDLU")}, {F("PPTDEC"), F("PPTDEC")},
                        {F("PPTDEU"), F("PPTDEU")}, {F("PPTDPU"), F("PPTDPU")}, {F("PLPPU"), F("PLPPU")}});
        for (const auto& [from, to] : filled) {
            for (uint16_t f = from; f <= to; ++f) {
                double v = 0;
                if (ZeroRange(jcm, f, f, v) && !first) {
                    first = f;
                    firstValue = v;
                }
            }
        }
        if (first)
            messages.push_back(Msg(12263, FieldDescription(jcm, first), ShowAmount(jcm, first, firstValue),
                                   word("was not/will not be"), word("467/468")));
    }

    // 26. Units not tracked.
    if (!categoriesUsed && !unitsTracked) {
        uint16_t first = 0;
        double firstValue = 0;
        for (const auto& [from, to] : lineMay(4, {{F("POUEST"), F("PTUEST")}, {F("PJTDU"), F("PLPU")}})) {
            double v = 0;
            const uint16_t f = ZeroRange(jcm, from, to, v);
            if (f && !first) {
                first = f;
                firstValue = v;
            }
        }
        if (first) {
            const std::string type = ItemText(jcm, FieldNo(jcm, kRecCategory, "CCTYPE"), costType);
            messages.push_back(Msg(12266, type, FieldDescription(jcm, first), ShowAmount(jcm, first, firstValue),
                                   word("was not/will not be"), word("469/470")));
        }
    }

    // 27. Totals by cost type are calculated.
    if (!categoriesUsed) ClearAccumulated(jcm, lineMay(5, {{F("PTLEST"), F("PJTDODP")}}), 12267, "", messages, converting);

    // 28. Calculated totals.
    if (!categoriesUsed && !group) {
        CalculatedTotal(jcm, F("PTEST"), F("POEST"), F("PAESTC"), "Total estimate", messages, converting);
        CalculatedTotal(jcm, F("PTUEST"), F("POUEST"), F("PAUESTC"), "Total estimate units", messages, converting);
        CalculatedTotal(jcm, F("PRVCOM"), F("POCOM"), F("PACOMC"), "Revised " + Term(20), messages, converting);
    }
    CalculatedTotal(jcm, F("PRVPU"), F("POPU"), F("PAPUC"), "Revised prodctn units est", messages, converting);

    // 29. Miscellaneous amounts kept at another level.
    const uint16_t misc = F("PFAMT1");
    // Most lines hold none: the six are looked at one by one only when one is set.
    const bool miscGiven = misc && xio_first_nonzero_number(jcm, misc, static_cast<uint16_t>(misc + 5)) != 0;
    for (uint16_t i = 0; miscGiven && i < 6; ++i) {
        const auto f = static_cast<uint16_t>(misc + i);
        const double v = GetNumber(jcm, f);
        if (v == 0 || miscAmountLevels[i] == phaseLevel) continue;
        messages.push_back(Msg(12265, FieldDescription(jcm, f), Hundredths(v), word("was not/will not be"),
                               word("472/473")));
        PutNumber(jcm, f, 0);
    }

    // 30. Production unit description.
    if (standard && IsBlank(stored("PPUDESC"))) PutText(jcm, F("PPUDESC"), GetText(jcm, S("SPUDESC")));

    // 31. The group phases above this one (nothing to do when an earlier phase of the same group
    // found or made them all).
    const CostCodeMemo::Split* known = PhaseSplit(phase);
    if (n != 1 && !(known && GroupsKnown(job, extra, *known, n))) {
        const std::string unitDescription = text("PPUDESC");
        const std::string jobKey = job, extraKey = extra, code = phase;
        xio_save_record(jcm, kRecPhase);
        const bool created =
            CreateGroupPhase(jobKey, extraKey, code, n, jcm, report, reason, unitDescription, converting, info, ids);
        xio_restore_record(jcm, kRecPhase);
        if (!created) return false;
    }
    return true;
}

std::string xvJCM::GroupId(const std::string& job, const std::string& extra, const std::vector<std::string>& sections,
                           int k) {
    std::string id = job;
    id.append(1, '\t').append(extra);
    for (int i = 0; i + 1 < k; ++i) id.append(1, '\t').append(sections[static_cast<std::size_t>(i)]);
    return id;
}

void xvJCM::GroupWritten(uint16_t jcm) {
    // The sections the handler split this line's cost code into; a group has a zero section.
    const CostCodeMemo::Split* split = PhaseSplit(xio_get_text(jcm, noteFields_[kNotePhase]));
    if (!split) return;
    const std::vector<std::string>& sections = split->sections;
    const int n = costSections_;
    const int m = split->leading;  // its non-zero sections, the first ones
    if (m < 1 || m >= n || m > static_cast<int>(knownGroups_.size())) return;
    knownGroups_[static_cast<std::size_t>(m - 1)] = GroupId(xio_get_text(jcm, noteFields_[kNoteJob]),
                                                            xio_get_text(jcm, noteFields_[kNoteExtra]), sections, m + 1);
}

bool xvJCM::GroupsKnown(const std::string& job, const std::string& extra, const CostCodeMemo::Split& split,
                        int n) const {
    const std::vector<std::string>& sections = split.sections;
    // Whether `id` is GroupId (job, extra, sections, k), taken part by part.
    auto same = [&](std::string_view id, int k) {
        auto part = [&](const std::string& value, bool tab) {
            if (tab) {
                if (id.empty() || id.front() != '\t') return false;
                id.remove_prefix(1);
            }
            if (id.substr(0, value.size()) != value) return false;
            id.remove_prefix(value.size());
            return true;
        };
        if (!part(job, false) || !part(extra, true)) return false;
        for (int i = 0; i + 1 < k; ++i)
            if (!part(sections[static_cast<std::size_t>(i)], true)) return false;
        return id.empty();
    };
    for (int k = n; k >= 2; --k) {
        if ((split.zero >> (k - 1)) & 1u) continue;
        if (!same(knownGroups_[static_cast<std::size_t>(k - 2)], k)) return false;
    }
    return true;
}

bool xvJCM::CreateGroupPhase(const std::string& job, const std::string& extra, const std::string& costCode, int n,
                             uint16_t jcm, convert::ConversionReport& report, std::string& reason,
                             const std::string& unitDescription, bool converting, xvl::xvlImpInfo& info,
                             RecordIdMap& ids) {
    auto F = [&](const char* name) { return FieldNo(jcm, kRecPhase, name); };
    // The phase handler split this cost code already.
    const CostCodeMemo::Split* split = PhaseSplit(costCode);
    auto sections = split ? split->sections : CostCodeSections(costCode, n);
    for (int k = n; k >= 2; --k) {
        std::string& section = sections[static_cast<std::size_t>(k - 1)];
        if (modlibs::IsZeroOrBlank(section)) continue;
        section.resize(std::max<std::size_t>(section.size(), static_cast<std::size_t>(suite::xk_width(kPhase, k))),
                       ' ');
        modlibs::ZeroFill(section);
        std::string& known = knownGroups_[static_cast<std::size_t>(k - 2)];
        std::string id = GroupId(job, extra, sections, k);
        if (known == id) continue;
        const std::string key = suite::xk_build_key(kPhase, sections);
        xio_init_record(jcm, kRecPhase);
        PutText(jcm, F("PHASE"), key);
        PutText(jcm, F("PJOB"), job);
        PutText(jcm, F("PEXTRA"), extra);
        if (xio_find_record(jcm, kRecPhase, 0) == XIO_OK || (!converting && FindInIdMap(jcm, kRecPhase, ids))) {
            known = id;
            continue;
        }

        PutFlag(jcm, F("PGPHASE"), 1);
        PutText(jcm, F("PDESC"), "Group created by conversion");
        std::string unit = unitDescription;
        if (haveStdPhases_ && ReadByKeys(jcm, kRecStdPhase, {{"SPHASE", key}})) {
            if (const std::string d = GetText(jcm, kRecStdPhase, "SPDESC"); !IsBlank(d)) PutText(jcm, F("PDESC"), d);
            if (const std::string u = GetText(jcm, kRecStdPhase, "SPUDESC"); !IsBlank(u)) unit = u;
        }
        PutText(jcm, F("PPUDESC"), unit);

        bool written = false;
        if (converting) {
            written = xio_wr_record(jcm, kRecPhase) == XIO_OK;
            if (written && !PhaseAmountsZero(jcm)) amountsMayExist_ = true;
        } else {
            std::string why;
            written = ExamineRecord(jcm, info, why, 0, convert::kPermGroup);
        }
        if (!written) {
            reason = Msg(12268, Term(kPhase), ShowKey(kPhase, 0, key));
            return false;
        }
        report.AddRecordTypeTotals(static_cast<int16_t>(jcm), kRecPhase, false, false, false, true, 0);
        known = id;
    }
    return true;
}

}  // namespace dz::jc
