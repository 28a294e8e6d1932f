// Job and extra records of the JC master converter.
#include "converters/jc/jcm_fields.h"
#include "converters/jc/xvjcm.h"

#include "platform/datafile/xio.h"
#include "platform/import/xvl_helpers.h"
#include "platform/import/xvl_import.h"
#include "platform/modlibs/jc_cost_code.h"
#include "platform/suite/util.h"
#include "platform/suite/xk.h"

#include <span>

namespace dz::jc {

using namespace convert;

namespace {

constexpr int kGl = suite::kGlAccountFormat;

// The status of a lookup of `value` in key field `field` of record `rec` of another file.


// `value` without its separators, as records of the GL master hold it.

}  // namespace

// Contract links and change orders, the same for jobs, extras and phases: the two link fields
// from `links` are cleared with one message; each non-zero change order of the three from
// `changes` is cleared with its own.
void ClearContractFields(uint16_t jcm, uint16_t links, uint16_t changes, convert::MessageList& messages,
                         bool converting) {
    bool linked = false;
    for (uint16_t f = links; links > 1 && f < links + 2; ++f) {
        const std::string& value = xio_get_text(jcm, f);  // used up before the field is cleared
        if (IsBlank(value)) continue;
        if (!linked)
            messages.push_back(Msg(12794, FieldDescription(jcm, f, true), value, ModeWord("were/will be", converting),
                                   ModeWord("482/483", converting)));
        linked = true;
        PutText(jcm, f, "");
    }
    // Most lines carry no change order: the three are looked at one by one only when one is set.
    if (changes > 0 && xio_first_nonzero_number(jcm, changes, static_cast<uint16_t>(changes + 2)) == 0) return;
    for (uint16_t f = changes; changes > 0 && f < changes + 3; ++f) {
        const double value = GetNumber(jcm, f);
        if (value == 0) continue;
        messages.push_back(Msg(12827, FieldDescription(jcm, f, true), Hundredths(value),
                               ModeWord("was/will be", converting), ModeWord("495/496", converting)));
        PutNumber(jcm, f, 0);
    }
}

// The AR adjustments (six fields from `first`) without AR: cleared, one message.
void ClearAdjustments(uint16_t jcm, uint16_t first, convert::MessageList& messages, bool converting) {
    double value = 0;
    if (const uint16_t f = ZeroRange(jcm, first, static_cast<uint16_t>(first + 5), value))
        messages.push_back(Msg(12274, FieldDescription(jcm, f), Hundredths(value), ModeWord("were/will be", converting),
                               ModeWord("485/486", converting)));
}

// Accumulated totals of the ranges [first, last]: cleared, one message naming the first.
namespace {

void ClearAccumulated(uint16_t jcm, const FieldRange* begin, const FieldRange* end, int number, const char* pair,
                      convert::MessageList& messages, bool converting) {
    uint16_t first = 0;
    double firstValue = 0;
    for (const auto& [from, to] : std::span(begin, end)) {
        double value = 0;
        const uint16_t f = ZeroRange(jcm, from, to, value);
        if (f && !first) {
            first = f;
            firstValue = value;
        }
    }
    if (!first) return;
    const std::string shown = ShowAmount(jcm, first, firstValue);
    if (number == 12244)
        messages.push_back(Msg(12244, ModeWord("were not converted/will not convert", converting),
                               FieldDescription(jcm, first), shown, ModeWord(pair, converting)));
    else if (number == 12262)
        messages.push_back(Msg(12262, ModeWord("were not converted/will not convert", converting),
                               FieldDescription(jcm, first), shown, ModeWord(pair, converting)));
    else if (number == 12267)
        messages.push_back(Msg(12267, FieldDescription(jcm, first), shown));
    else if (number == 12261)
        messages.push_back(Msg(12261, FieldDescription(jcm, first), shown, ModeWord("was not/will not be", converting),
                               ModeWord(pair, converting)));
    else if (number == 12263)
        messages.push_back(Msg(12263, FieldDescription(jcm, first), shown, ModeWord("was not/will not be", converting),
                               ModeWord(pair, converting)));
    else if (number == 12260)
        messages.push_back(Msg(12260, ModeWord("were not converted/will not convert", converting),
                               FieldDescription(jcm, first), shown, ModeWord(pair, converting)));
}

}  // namespace

void ClearAccumulated(uint16_t jcm, std::initializer_list<FieldRange> ranges, int number, const char* pair,
                      convert::MessageList& messages, bool converting) {
    ClearAccumulated(jcm, ranges.begin(), ranges.end(), number, pair, messages, converting);
}

void ClearAccumulated(uint16_t jcm, const FieldRanges& ranges, int number, const char* pair,
                      convert::MessageList& messages, bool converting) {
    ClearAccumulated(jcm, ranges.data(), ranges.data() + ranges.size(), number, pair, messages, converting);
}

const FieldRanges& LineRanges::Narrow(int list, uint16_t jcm, const xvl::xvlImport& import,
                                      const xvl::xvlImpInfo& info, const FieldRange* first, const FieldRange* last) {
    const std::span<const FieldRange> ranges(first, last);
    List& l = lists_.at(static_cast<std::size_t>(list));
    if (l.known && l.jcm == jcm && l.format == info.FormatID()) return l.ranges;
    l.known = true;
    l.jcm = jcm;
    l.format = info.FormatID();
    l.ranges.clear();
    const bool fromDefaults = info.RecExtraData() == 0 && import.xvlImpGetPermissions(l.format) == 2;
    for (const auto& [from, to] : ranges) {
        if (!fromDefaults) {
            l.ranges.push_back({from, to});
            continue;
        }
        bool open = false;  // the last range taken ends at the field before
        for (uint16_t f = from; from != 0 && f <= to; ++f) {
            const xio_fld_def* def = xio_field_def(jcm, f);
            const bool zero = def && xio_is_number_type(def->type) && def->defaultValue.number == 0 &&
                              !import.xvlImpWasItImported(l.format, def->name);
            if (zero) {
                open = false;
            } else if (open) {
                l.ranges.back().second = f;
            } else {
                l.ranges.push_back({f, f});
                open = true;
            }
        }
    }
    return l.ranges;
}

// A calculated total: `total` becomes `a` + `b`; a stored total that was not zero and differs
// gives 12243 first.
void CalculatedTotal(uint16_t jcm, uint16_t total, uint16_t a, uint16_t b, const std::string& name,
                     convert::MessageList& messages, bool converting) {
    if (!total || !a || !b) return;
    const double sum = GetNumber(jcm, a) + GetNumber(jcm, b);
    const double old = GetNumber(jcm, total);
    if (old == sum) return;
    if (old != 0)
        messages.push_back(Msg(12243, name, ModeWord("has changed/will change", converting), ShowAmount(jcm, total, old),
                               ShowAmount(jcm, total, sum), ModeWord("435/436", converting)));
    PutNumber(jcm, total, sum);
}

bool xvJCM::ConvertJob(uint16_t jcm, xvl::xvlImpInfo& info, std::string& reason, convert::MessageList& messages,
                       bool converting, xvl::xvlImport& import) {
    auto F = [&](const char* name) { return FieldNo(jcm, kRecJob, name); };
    auto word = [&](const char* pair) { return ModeWord(pair, converting); };
    auto text = [&](const char* name) { return GetText(jcm, F(name)); };
    auto num = [&](const char* name) { return GetNumber(jcm, F(name)); };

    // 1, 2. Job and description.
    const std::string job = text("JOB");
    if (IsBlank(job)) {
        reason = Msg(12223);
        return false;
    }
    if (IsBlank(text("JDESC"))) {
        reason = Msg(12224, TermCap(16), "403");
        return false;
    }

    // 3. Custom sort fields not marked in the settings.
    const struct {
        const char* field;
        bool marked;
        int term;
    } sorts[] = {{"JORDER1", customSort1Marked, 78}, {"JORDER2", customSort2Marked, 79}};
    for (const auto& s : sorts) {
        const std::string value = text(s.field);
        if (s.marked || IsBlank(value)) continue;
        messages.push_back(Msg(12225, TermCap(s.term), TermCap(s.term), value, word("was not/will not be"),
                               word("406/407")));
        PutText(jcm, F(s.field), "");
    }

    // 4. A job tracks extras only once one of its extras is converted.
    if (num("JEXTRAS") == 2) {
        messages.push_back(Msg(12226, TermPlural(15), TermPlural(15), word("was not/will not be"), word("408/409")));
        PutNumber(jcm, F("JEXTRAS"), 1);
    }

    // 5. AR customer.
    const std::string customer = text("JARCUST");
    if (!IsBlank(customer)) {
        if (!arMasterExists) {
            messages.push_back(Msg(12861, customer, word("was not/will not be"), word("487/488")));
            PutText(jcm, F("JARCUST"), "");
        } else if (arMasterFile && lookups_.Status(arMasterFile, 1, "CUST", customer) != XIO_OK) {
            reason = Msg(12862, customer);
            return false;
        }
    }

    // 6. Billing by contracts needs the contract settings and AR.
    const double method = num("JBMETH");
    if (method == 2) {
        if (!cnSettingsExist) {
            reason = Msg(12863, ShowKey(suite::kJobFormat, 0, job), "Setting.cns");
            return false;
        }
        if (!arMasterExists) {
            reason = Msg(12863, ShowKey(suite::kJobFormat, 0, job), "Master.arm");
            return false;
        }
    }

    // 7. Billing level.
    double level = num("JBLEVEL");
    if (!import.xvlImpWasItImported(info.FormatID(), "JBLEVEL") && method != 2) {
        level = defaultBillingLevel;
        PutNumber(jcm, F("JBLEVEL"), level);
    }
    if (method == 2 && level != 1) {
        messages.push_back(Msg(12864, FormatNumber("%.0f", level), word("was/will be"), word("491/492")));
        level = 1;
        PutNumber(jcm, F("JBLEVEL"), level);
    }
    if (!arMasterExists && level != defaultBillingLevel) {
        messages.push_back(Msg(12865, FormatInt("%d", static_cast<long>(level)), word("was/will be"),
                               FormatInt("%d", defaultBillingLevel), word("493/494")));
        level = defaultBillingLevel;
        PutNumber(jcm, F("JBLEVEL"), level);
    }
    const int highest = suite::xk_num_sections(suite::kPhaseFormat) + 2;
    if (level > highest) {
        // The text speaks of the sections set up: it shows their number.
        reason = Msg(12273, ShowKey(suite::kJobFormat, 0, job), FormatInt("%d", static_cast<long>(level)),
                     FormatInt("%d", modlibs::JcCostCodeSections()), TermCap(18));
        return false;
    }

    // 8, 9. Payroll bank and on hold are not converted.
    if (const std::string bank = text("JPRBANK"); !IsBlank(bank)) {
        messages.push_back(Msg(12227, bank, word("was not/will not be"), word("410/411")));
        PutText(jcm, F("JPRBANK"), "");
    }
    if (GetFlag(jcm, F("JHOLD")) != 0) {
        messages.push_back(Msg(12228, word("was not/will not be"), word("412/413")));
        PutFlag(jcm, F("JHOLD"), 0);
    }

    // 10. Payroll fields without the PR interface.
    if (!prInterfacesJc) {
        auto warn = [&](uint16_t f, const std::string& value) {
            messages.push_back(Msg(12229, FieldDescription(jcm, f), value, word("was not/will not be"), word("416/417")));
        };
        auto clearText = [&](const char* name) {
            const std::string value = text(name);
            if (IsBlank(value)) return;
            warn(F(name), value);
            PutText(jcm, F(name), "");
        };
        if (const double cert = num("JCERT"); cert != 2) {
            warn(F("JCERT"), ShowChoice(jcm, F("JCERT"), cert));
            PutNumber(jcm, F("JCERT"), 2);
        }
        clearText("JWCGRP");
        if (const double burden = num("JBURPCT"); burden != 0) {
            warn(F("JBURPCT"), FormatNumber("%.0f", burden));
            PutNumber(jcm, F("JBURPCT"), 0);
        }
        clearText("JWRKST");
        clearText("JWRKCTY");
    }

    // 11. Equipment revenue code without the EQ interface.
    if (const std::string code = text("JERCODE"); !eqInterfacesJc && !IsBlank(code)) {
        messages.push_back(Msg(12230, "Default " + Term(70), code, word("was not/will not be"), word("418/419")));
        PutText(jcm, F("JERCODE"), "");
    }

    // 12. Tax groups of the six cost types (the value stays).
    if (taxMasterFile) {
        const uint16_t first = F("JLTXGRP");
        for (uint16_t f = first; first && f < first + 6; ++f) {
            const std::string group = GetText(jcm, f);
            if (IsBlank(group)) continue;
            if (lookups_.Status(taxMasterFile, 2, "GROUP", group) == XIO_NOT_FOUND)
                messages.push_back(Msg(12231, FieldDescription(jcm, f), group));
        }
    }

    // 13. GL fields without the GL interface.
    if (!jcInterfacesGl) {
        auto warn = [&](uint16_t f, const std::string& value) {
            messages.push_back(Msg(12233, FieldDescription(jcm, f), value, word("was not/will not be"), word("421/422")));
        };
        if (const double group = num("JCAGRP"); group != 1) {
            warn(F("JCAGRP"), ShowChoice(jcm, F("JCAGRP"), group));
            PutNumber(jcm, F("JCAGRP"), 1);
        }
        for (const char* name : {"JPREFIX", "JCSTACC", "JCOSACC", "JREVACC"}) {
            const std::string value = text(name);
            if (IsBlank(value)) continue;
            const int section = name[1] == 'P' ? suite::kGlPrefix : suite::kGlDisplay;
            warn(F(name), ShowKey(kGl, section, value));
            PutText(jcm, F(name), "");
        }
    }

    // 14. The GL retrieval method decides whether a job names an account group.
    if (const double group = num("JCAGRP"); (glRetrievalMethod == 1 || glRetrievalMethod == 4) && group != 1) {
        messages.push_back(Msg(12232, FieldDescription(jcm, F("JCAGRP")), ShowChoice(jcm, F("JCAGRP"), group),
                               word("was not/will not be"), word("423/424")));
        PutNumber(jcm, F("JCAGRP"), 1);
    }

    // 15. A prefix only when the prefix comes from the job.
    if (const std::string prefix = text("JPREFIX"); !prefixFromJob && !IsBlank(prefix)) {
        messages.push_back(Msg(12234, ShowKey(kGl, suite::kGlPrefix, prefix), word("was not/will not be"),
                               word("425/426")));
        PutText(jcm, F("JPREFIX"), "");
    }

    // 16-18. The cost account: a whole account or a base account.
    std::string cost = text("JCSTACC");
    if (!IsBlank(cost)) {
        const bool whole = ValidAccount(cost, suite::kGlWhole);
        if (!whole && !ValidAccount(cost, suite::kGlBaseAccount)) {
            reason = Msg(12237, ShowKey(kGl, suite::kGlDisplay, cost));
            return false;
        }
        if (glRetrievalMethod != 1 && glRetrievalMethod != 5) {
            messages.push_back(Msg(12236, ShowKey(kGl, suite::kGlDisplay, cost), word("was not/will not be"),
                                   word("427/428")));
            PutText(jcm, F("JCSTACC"), "");
            cost.clear();
        } else if (prefixFromJob) {
            if (whole) {
                cost = BaseAccountOf(UnformattedAccount(cost, suite::kGlWhole));
                PutText(jcm, F("JCSTACC"), cost);
            }
        } else if (!whole) {
            reason = Msg(12237, ShowKey(kGl, suite::kGlDisplay, cost));
            return false;
        }
    }

    // 19. Prefix and accounts looked up in the GL master (values stay).
    if (glMasterFile) {
        const std::string prefix = text("JPREFIX");
        if (!IsBlank(prefix)) {
            const std::string raw = UnformattedAccount(prefix, suite::kGlPrefix);
            int status = XIO_OK;
            switch (suite::xk_num_sections(kGl)) {
            case 1: status = lookups_.Status(glMasterFile, 3, "PAPRFX", raw); break;
            case 2: status = lookups_.Status(glMasterFile, 4, "PBPRFX", raw); break;
            case 3: status = lookups_.Status(glMasterFile, 5, "PCPRFX", raw); break;
            default: break;
            }
            if (status == XIO_NOT_FOUND) messages.push_back(Msg(12235, ShowKey(kGl, suite::kGlPrefix, prefix)));
        }
        if (!IsBlank(cost)) {
            if (!prefixFromJob) {
                if (lookups_.Status(glMasterFile, 1, "AACCT", UnformattedAccount(cost, suite::kGlWhole)) == XIO_NOT_FOUND)
                    messages.push_back(Msg(12240, ShowKey(kGl, suite::kGlWhole, cost)));
            } else if (lookups_.Status(glMasterFile, 6, "BSBASE", UnformattedAccount(cost, suite::kGlBaseAccount)) ==
                       XIO_NOT_FOUND) {
                messages.push_back(Msg(12239, ShowKey(kGl, suite::kGlBaseAccount, cost)));
            }
        }
        const struct {
            const char* field;
            const char* label;
        } others[] = {{"JCOSACC", "Cost of sales "}, {"JREVACC", "Revenue "}};
        for (const auto& o : others) {
            const std::string account = text(o.field);
            if (IsBlank(account)) continue;
            if (lookups_.Status(glMasterFile, 1, "AACCT", UnformattedAccount(account, suite::kGlWhole)) == XIO_NOT_FOUND)
                messages.push_back(Msg(12238, o.label + Term(kGl), ShowKey(kGl, suite::kGlWhole, account)));
        }
    }

    // 20, 21. Contract links and change orders.
    ClearContractFields(jcm, F("JCNT"), F("JPCNTC"), messages, converting);

    // 22. Contract amounts by billing level.
    if (level == 1) {
        CalculatedTotal(jcm, F("JRVCNT"), F("JOCNT"), F("JACNTC"), "Revised contract", messages, converting);
    } else {
        const uint16_t first = F("JOCNT");
        for (uint16_t f = first; first && f < first + 23; ++f) {
            if (const double value = GetNumber(jcm, f); value != 0) {
                reason = Msg(12241, FieldDescription(jcm, f), Hundredths(value));
                return false;
            }
        }
    }

    // 23. AR adjustments without AR.
    if (!arMasterExists) ClearAdjustments(jcm, F("JJTDADJ"), messages, converting);

    // 24. Accumulated totals are rebuilt from the phases and categories.
    ClearAccumulated(jcm, {{F("JOEST"), F("JJTDODP")}, {F("JPFAM1"), F("JFRMT6")}, {F("JXOCNT"), F("JFRMTX6")}},
                     12244, "437/438", messages, converting);
    return true;
}

bool xvJCM::ConvertExtra(uint16_t jcm, xvl::xvlImpInfo&, std::string& reason, convert::MessageList& messages,
                         bool converting, RecordIdMap& ids) {
    auto F = [&](const char* name) { return FieldNo(jcm, kRecExtra, name); };

    // 1-4. Extras tracked; job, extra and description given.
    if (!extrasTracked) {
        reason = Msg(12242, TermPlural(15, true), TermCap(15));
        return false;
    }
    const std::string job = GetText(jcm, F("XJOB"));
    if (IsBlank(job)) {
        reason = Msg(12223);
        return false;
    }
    if (IsBlank(GetText(jcm, F("EXTRA")))) {
        reason = Msg(12245, TermCap(15));
        return false;
    }
    if (IsBlank(GetText(jcm, F("XDESC")))) {
        reason = Msg(12224, TermCap(15), "404");
        return false;
    }

    // 5. The job, on file or (Examine Files) earlier in the text file, with its billing level.
    const JobLookup& jobInfo = LookUpJob(jcm, job, converting, ids);
    if (!jobInfo.found) {
        reason = Msg(12248, ShowKey(suite::kJobFormat, 0, job), TermCap(15), "442");
        return false;
    }
    const uint16_t level = jobInfo.level;

    // 6, 7. Contract links and change orders.
    ClearContractFields(jcm, F("XCNT"), F("XPCNTC"), messages, converting);

    // 8. Billing amounts only when the job bills at job level.
    if (level != 1) {
        const uint16_t first = F("XOCNT");
        for (uint16_t f = first; first && f < first + 23; ++f) {
            if (const double value = GetNumber(jcm, f); value != 0) {
                reason = Msg(12272, FieldDescription(jcm, f), Hundredths(value));
                return false;
            }
        }
    }

    // 9, 10. AR adjustments without AR; accumulated totals.
    if (!arMasterExists) ClearAdjustments(jcm, F("XJTDADJ"), messages, converting);
    ClearAccumulated(jcm, {{F("XOEST"), F("XJTDODP")}, {F("XPFA1"), F("XFRMT6")}}, 12244, "437/438", messages,
                     converting);

    // 11. Converting: the job now tracks extras.
    if (converting) {
        xio_init_record(jcm, kRecJob);
        PutText(jcm, kRecJob, "JOB", job);
        if (xio_rd_record(jcm, kRecJob, 0, 1) == XIO_OK) {
            PutNumber(jcm, kRecJob, "JEXTRAS", 2);
            // An extra of a job that does not say it tracks extras would not be seen: both or neither.
            if (const int status = xio_rep_record(jcm, kRecJob); status != XIO_OK) {
                xio_unlock_record(jcm, kRecJob, 1);
                return WriteFailed(jcm, kRecJob, status, reason);
            }
        }
    }
    return true;
}

}  // namespace dz::jc

namespace dz::jc {

void xvJCM::TaxStatus(uint16_t jcm, uint16_t fld, bool phase, convert::MessageList& messages, bool converting) {
    if (IsBlank(xio_get_text(jcm, fld))) {
        PutText(jcm, fld, defaultTaxStatus);
        taxFilled_ = true;
        return;
    }
    const std::string value = GetText(jcm, fld);
    if (value == defaultTaxStatus) return;
    const std::string word = ModeWord("was/will be", converting);
    int cleared = 0;
    if (phase && categoriesUsed) {
        messages.push_back(Msg(12792, TermCap(369), value, word, ModeWord("333/334", converting)));
        cleared = 1;
    } else if (!arMasterExists) {
        messages.push_back(Msg(12791, TermCap(369), value, word, ModeWord("335/336", converting)));
        cleared = 1;
    } else if (!arTracksTaxes) {
        messages.push_back(Msg(12790, TermCap(369), value, word, ModeWord("337/338", converting)));
        cleared = 1;
    }
    if (cleared) {
        PutText(jcm, fld, defaultTaxStatus);
        taxFilled_ = true;
        return;
    }
    // A value of the list in another letter case takes the list's spelling; any other value
    // stays, and the record loop notes it as missing from the list.
    std::string lower = value;
    suite::x_lower_case(lower);
    for (const auto& entry : taxStatusList) {
        std::string e = entry;
        suite::x_lower_case(e);
        if (e == lower) {
            PutText(jcm, fld, entry);
            return;
        }
    }
}

}  // namespace dz::jc
