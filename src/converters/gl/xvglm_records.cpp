// Accounts, base accounts, budgets, journals and partners of the GL master file, and the
// partner tables of the prefix records. Each handler checks and corrects the record in the GL
// master buffer, adds its corrections to the record's messages, and accepts or rejects it.
#include "converters/gl/glm_fields.h"
#include "converters/gl/xvglm.h"

#include "modules/entries.h"
#include "platform/datafile/xio.h"
#include "platform/import/xvl_import.h"
#include "platform/suite/control.h"
#include "platform/suite/xk.h"

#include <array>
#include <cctype>
#include <iterator>
#include <set>

namespace dz::gl {

using namespace convert;

namespace {

using suite::kGlAccountFormat;

// Whether the GL settings mark control accounts. Unreadable settings, or settings without the
// field, count as marking them.
bool SettingsMarkControlAccounts(uint16_t glm, bool throughModule) {
    const int status = throughModule ? modules::GL_RD_HEADER(glm, kHdrSettings, 0) : xio_rd_header(glm, kHdrSettings, 0);
    if (status != XIO_OK) return true;
    const uint16_t field = HeaderFieldNo(glm, kHdrSettings, "TYPEDCA");
    const bool marked = field == 0 || GetFlag(glm, field) != 0;
    xio_free_header(glm, kHdrSettings);
    return marked;
}

// The control-account corrections of an account or base account: without control accounts
// marked in the settings, or for a record not marked as one, entry in GL, the control type and
// the warning level are taken back to their defaults.
void CorrectControlFields(uint16_t glm, bool marked, uint16_t inGl, uint16_t ctlType, uint16_t warnLevel,
                          uint16_t control, convert::MessageList& messages, bool converting) {
    if (marked && GetFlag(glm, control) != 0) return;
    const std::string source = marked ? "text file" : "GL Settings";
    if (GetFlag(glm, inGl) != 0) {
        PutFlag(glm, inGl, 0);
        messages.push_back(Msg(12087, source, ModeWord("was changed/will change", converting),
                               ModeWord("118/119", converting)));
    }
    const double type = GetNumber(glm, ctlType);
    if (Whole(type) != 1) {
        messages.push_back(Msg(12088, source, ChoiceText(glm, ctlType, type, true),
                               ModeWord("was not/will not be", converting), ModeWord("120/121", converting)));
        PutNumber(glm, ctlType, 1);
    }
    const double level = GetNumber(glm, warnLevel);
    if (Whole(level) != 1) {
        messages.push_back(Msg(12089, source, ChoiceText(glm, warnLevel, level, true),
                               ModeWord("was not/will not be", converting), ModeWord("122/123", converting)));
        PutNumber(glm, warnLevel, 1);
    }
}

// Sets every non-zero field of [from, to) to 0; true when one was.
bool ClearRange(uint16_t glm, uint16_t from, uint16_t to) {
    bool any = false;
    for (uint16_t f = from; f < to; ++f) {
        if (GetNumber(glm, f) != 0) {
            PutNumber(glm, f, 0);
            any = true;
        }
    }
    return any;
}

}  // namespace

// ---- Settings and parts read once per text file -------------------------------------------------

void xvGLM::ResolveFields(uint16_t glm) {
    static constexpr convert::FieldNames<kAccountFields> kAccountNames{
        "AACCT", "ATITLE", "ATYPE", "ACTLTY", "AWRNLV", "AICSTS", "ABGTS", "ACSFLW", "ACNTL", "AINGL",
        "ASUMM", "ACRBAL", "ACCRBAL", "AOSTMP", "AFTBAL", "ACFTBAL",
        "AFP1", "AFP2", "AFP3", "AFP4", "AFP5", "AFP6", "ACFP1", "ACFP2", "ACFP3", "ACFP4", "ACFP5", "ACFP6",
        "AP12", "AYP12", "ADP12", "ADYP12", "ACP12", "ACAYP12", "ACDP12", "ACDYP12"};
    static constexpr convert::FieldNames<kBaseFields> kBaseNames{
        "BSTITLE", "BSTYPE", "BSCTLTY", "BSWRNLV", "BSICSTS", "BSBGTS", "BSCSFLW", "BSCNTL", "BSINGL", "BSBASE"};
    account_.Resolve(glm, kRecAccount, kAccountNames);
    base_.Resolve(glm, kRecBaseAccount, kBaseNames);
    prefixKey_[kPaPrfx].Resolve(glm, kRecPrefixA, {"PAPRFX"});
    prefixKey_[kPbPrfx].Resolve(glm, kRecPrefixB, {"PBPRFX"});
    prefixKey_[kPcPrfx].Resolve(glm, kRecPrefixC, {"PCPRFX"});
    baseKeep_.assign(base_.All().begin(), base_.All().begin() + kFromBaseFields);
    givenFromBase_.clear();
}

bool xvGLM::ControlAccountsMarked(uint16_t glm) {
    if (controlMarked_ < 0) controlMarked_ = SettingsMarkControlAccounts(glm, true) ? 1 : 0;
    return controlMarked_ == 1;
}

int xvGLM::AccountingMethod() {
    if (accountingMethod_ == 0) {
        suite::xc_control_def def;
        accountingMethod_ = suite::xc_get_control_def(def) ? def.accountingMethod : 3;
    }
    return accountingMethod_;
}

xvGLM::PartState xvGLM::FindPart(uint16_t glm, uint16_t rec, uint16_t keyNo, const std::string& key,
                                 bool converting, const std::vector<uint16_t>& keep, const RecordIdMap& ids,
                                 uint16_t* code) {
    // Not on file: the key alone (with the record's defaults when fields are kept) in the buffer.
    auto notOnFile = [&] {
        if (!keep.empty()) xio_init_record(glm, rec);
        PutText(glm, keyNo, key);
    };
    LastPart* last = rec < lastParts_.size() ? &lastParts_[rec] : nullptr;
    KnownPart* part = last && last->part && last->key == key ? last->part : nullptr;
    if (!part) {
        std::string folded = key;
        for (auto& ch : folded) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
        auto& known = parts_[rec];
        auto it = known.find(folded);
        if (it == known.end()) {
            PutText(glm, keyNo, key);
            if (xio_rd_record(glm, rec, 0, 0) == XIO_OK) {
                KnownPart found;
                found.state = PartState::OnFile;
                for (uint16_t f : keep) found.fields.push_back(GetValue(glm, f));
                part = &known.emplace(std::move(folded), std::move(found)).first->second;
                if (last) *last = {key, part};
                return PartState::OnFile;
            }
            // Converting, a later line may still add it; examining, nothing is ever added.
            if (converting) {
                notOnFile();
                return PartState::Unknown;
            }
            it = known.emplace(std::move(folded), KnownPart{}).first;
        }
        part = &it->second;
        if (last) *last = {key, part};
    }
    if (part->state == PartState::OnFile) {
        for (std::size_t i = 0; i < keep.size() && i < part->fields.size(); ++i)
            xio_put_field(glm, rec, keep[i], part->fields[i]);
        PutText(glm, keyNo, key);
        return PartState::OnFile;
    }
    notOnFile();
    if (converting) return PartState::Unknown;
    // Examining: an earlier line of the text file may have added it, and then it stays added.
    if (part->state == PartState::Unknown && FindInIdMap(glm, rec, ids, &part->code))
        part->state = PartState::MetEarlier;
    if (part->state == PartState::MetEarlier && code) *code = part->code;
    return part->state;
}

// ---- Accounts -----------------------------------------------------------------------------------

bool xvGLM::ConvertAccount(uint16_t glm, xvl::xvlImpInfo& info, std::string& reason, convert::MessageList& messages,
                           bool converting, uint8_t atPrefix, uint8_t thirteen, RecordIdMap& ids,
                           xvl::xvlImport& import) {
    const auto& a = account_;
    const std::string acct = xio_get_text(glm, a[kAAcct]);
    if (acct.empty()) {
        reason = Msg(12090);
        return false;
    }
    auto shown = [&] { return FormatAccount(acct, suite::kGlWhole); };
    const std::string& format = info.FormatID();
    // Which account fields completed from the base account the format's columns give: the
    // same for every line of a format.
    auto givenIt = givenFromBase_.find(format);
    if (givenIt == givenFromBase_.end()) {
        static constexpr const char* kFromBase[kFromBaseFields] = {"ATITLE", "ATYPE", "ACTLTY", "AWRNLV", "AICSTS",
                                                                   "ABGTS",  "ACSFLW", "ACNTL",  "AINGL"};
        uint16_t bits = 0;
        for (std::size_t i = 0; i < std::size(kFromBase); ++i)
            if (import.xvlImpWasItImported(format, kFromBase[i])) bits |= static_cast<uint16_t>(1u << i);
        givenIt = givenFromBase_.emplace(format, bits).first;
    }
    const uint16_t givenBits = givenIt->second;
    auto given = [&](AccountField f) { return (givenBits >> (f - kATitle) & 1u) != 0; };

    // 2. The account's parts must exist.
    const int levels = PrefixLevels();
    // Examining, a base account met only earlier in the text file has no title to give yet.
    bool titleComesLater = false;
    if (levels > 0) {
        const std::string base = AccountSection(acct, suite::kGlBaseAccount);
        uint16_t code = 0;
        const PartState baseState = FindPart(glm, kRecBaseAccount, base_[kBsBase], base, converting, baseKeep_, ids, &code);
        if (baseState != PartState::OnFile) {
            if (baseState != PartState::MetEarlier) {
                reason = Msg(12091, FormatAccount(base, suite::kGlBaseAccount), shown());
                return false;
            }
            // The base account's examine code back into the base-account buffer.
            PutFlag(glm, base_[kBsBgts], code > 9999 ? 1 : 0);
            const uint16_t r = code % 10000;
            PutFlag(glm, base_[kBsCntl], r > 999 ? 1 : 0);
            const uint16_t rest = r % 1000;
            PutNumber(glm, base_[kBsIcSts], rest / 100);
            PutNumber(glm, base_[kBsType], rest % 100);
            titleComesLater = !given(kATitle);
        }
        struct Level {
            uint16_t rec;
            PrefixKey key;
            int section;
            int message;
        };
        static constexpr Level kLevels[] = {{kRecPrefixA, kPaPrfx, suite::kGlPrefixA, 12092},
                                            {kRecPrefixB, kPbPrfx, suite::kGlPrefixAB, 12093},
                                            {kRecPrefixC, kPcPrfx, suite::kGlPrefixABC, 12094}};
        for (int l = 0; l < levels && l < 3; ++l) {
            const Level& lv = kLevels[l];
            // The prefix-record buffers are read here; the account's own buffer stays as it is.
            const std::string prefix = AccountSection(acct, lv.section);
            if (FindPart(glm, lv.rec, prefixKey_[lv.key][0], prefix, converting, {}, ids) == PartState::Unknown) {
                reason = Msg(lv.message, SectionDescription(lv.section, true), FormatAccount(prefix, lv.section), shown());
                return false;
            }
        }
        // Fields the text file leaves out come from the base account.
        for (std::size_t i = 0; i < kFromBaseFields; ++i) {
            const auto f = static_cast<AccountField>(kATitle + i);
            if (given(f)) continue;
            xio_put_field(glm, kRecAccount, a[f], GetValue(glm, base_[i]));
        }
    }

    // 3. Title and type. In Examine Files a base account met earlier in the text file gives no
    // title, so the title test waits for the conversion there; a line that gives the title
    // itself (even blank) takes none from its base account, so it is tested at once.
    if (!titleComesLater && xio_get_text(glm, a[kATitle]).empty()) {
        reason = Msg(12095, shown());
        return false;
    }
    if (levels == 0 && !given(kAType)) {
        reason = Msg(12096, shown());
        return false;
    }

    // 4. Summarize ledger is not available.
    if (GetFlag(glm, a[kASumm]) != 0) {
        PutFlag(glm, a[kASumm], 0);
        messages.push_back(
            Msg(12086, ModeWord("was changed/will change", converting), ModeWord("116/117", converting)));
    }

    // 5. Control accounts.
    CorrectControlFields(glm, ControlAccountsMarked(glm), a[kAInGl], a[kACtlTy], a[kAWrnLv], a[kACntl], messages,
                         converting);

    // 6. Intercompany status.
    const uint16_t icField = a[kAIcSts];
    const double ic = GetNumber(glm, icField);
    if (Whole(ic) != 1) {
        if (levels == 0) {  // accounts carry no prefixes
            messages.push_back(Msg(12830, ChoiceText(glm, icField, ic, false),
                                   ModeWord("was not/will not be", converting), ModeWord("173/174", converting)));
            PutNumber(glm, icField, 1);
        } else {
            const uint16_t typeField = a[kAType];
            const double type = GetNumber(glm, typeField);
            if (Whole(type) > 6)
                messages.push_back(
                    Msg(12829, ChoiceText(glm, typeField, type, false), ChoiceText(glm, icField, ic, false)));
        }
    }

    // 7. The company's accounting method leaves no amounts of the other method.
    const int method = AccountingMethod();
    if (method == 1 && ClearRange(glm, a[kACCrBal], a[kAOStmp]))
        messages.push_back(Msg(12097, ModeWord("have changed/will change", converting), ModeWord("131/132", converting)));
    if (method == 2 && ClearRange(glm, a[kACrBal], a[kACCrBal]))
        messages.push_back(Msg(12098, ModeWord("have changed/will change", converting), ModeWord("133/134", converting)));

    // 8. Thirteenth periods of a calendar with twelve.
    if (!PrefixUsesThirteenPeriods(glm, acct, atPrefix, thirteen != 0, converting, ids)) {
        for (std::size_t i = kAP12; i <= kACDYP12; ++i) {
            const uint16_t f = a[i];
            const double amount = GetNumber(glm, f);
            if (amount == 0) continue;
            xio_fld_def def;
            xio_get_fld_def(glm, f, def);
            messages.push_back(Msg(12783, def.description + " with " + Amount(amount),
                                   ModeWord("has been/will be", converting), ModeWord("167/168", converting)));
            PutNumber(glm, f, 0);
        }
    }

    // 9. Future balances: each the sum of its balance and future activities (added from period
    // 6 down to 1).
    auto future = [&](AccountField balance, AccountField firstPeriod, AccountField futureField, int message,
                      const char* numbers) {
        double sum = GetNumber(glm, a[balance]);
        for (std::size_t p = firstPeriod + 6; p-- > firstPeriod;) sum += GetNumber(glm, a[p]);
        const double old = GetNumber(glm, a[futureField]);
        if (sum == old) return;
        PutNumber(glm, a[futureField], sum);
        if (old != 0)
            messages.push_back(Msg(message, ModeWord("has changed/will change", converting), Amount(old), Amount(sum),
                                   ModeWord(numbers, converting)));
    };
    if (method != 2) future(kACrBal, kAFp1, kAFtBal, 12099, "135/136");
    if (method != 1) future(kACCrBal, kACFp1, kACFtBal, 12100, "137/138");
    return true;
}

// ---- Base accounts ------------------------------------------------------------------------------

bool xvGLM::ConvertBaseAccount(uint16_t glm, xvl::xvlImpInfo& info, std::string& reason,
                               convert::MessageList& messages, bool converting, xvl::xvlImport& import) {
    if (PrefixLevels() == 0) {
        reason = Msg(12083);
        return false;
    }
    const std::string base = GetText(glm, kRecBaseAccount, "BSBASE");
    if (base.empty() || GetText(glm, kRecBaseAccount, "BSTITLE").empty()) {
        reason = Msg(12084);
        return false;
    }
    if (!import.xvlImpWasItImported(info.FormatID(), "BSTYPE")) {
        reason = Msg(12085, FormatAccount(base, suite::kGlBaseAccount));
        return false;
    }
    if (GetFlag(glm, kRecBaseAccount, "BSSUMM") != 0) {
        PutFlag(glm, kRecBaseAccount, "BSSUMM", 0);
        messages.push_back(
            Msg(12086, ModeWord("was changed/will change", converting), ModeWord("116/117", converting)));
    }
    CorrectControlFields(glm, SettingsMarkControlAccounts(glm, false), FieldNo(glm, kRecBaseAccount, "BSINGL"),
                         FieldNo(glm, kRecBaseAccount, "BSCTLTY"), FieldNo(glm, kRecBaseAccount, "BSWRNLV"),
                         FieldNo(glm, kRecBaseAccount, "BSCNTL"), messages, converting);
    const uint16_t icField = FieldNo(glm, kRecBaseAccount, "BSICSTS");
    const uint16_t typeField = FieldNo(glm, kRecBaseAccount, "BSTYPE");
    const double ic = GetNumber(glm, icField);
    const double type = GetNumber(glm, typeField);
    if (Whole(ic) != 1 && Whole(type) > 6)
        messages.push_back(Msg(12829, ChoiceText(glm, typeField, type, false), ChoiceText(glm, icField, ic, false)));
    return true;
}

// ---- Budgets ------------------------------------------------------------------------------------

bool xvGLM::ConvertBudget(uint16_t glm, xvl::xvlImpInfo&, std::string& reason, convert::MessageList& messages,
                          bool converting, uint8_t atPrefix, uint8_t thirteen, RecordIdMap& ids) {
    if (GetNumber(glm, kRecBudget, "BYEAR") == 0) {
        reason = Msg(12073);
        return false;
    }
    const double type = GetNumber(glm, kRecBudget, "BTYPE");
    const std::string typeText = suite::xk_description(116 + Whole(type), 0);
    if (typeText.compare(0, 11, "budget type") == 0) {
        reason = Msg(12074, FormatNumber("%.0f", type));
        return false;
    }

    // The account must be on file (or, examining, stand earlier in the text file) and allow
    // budgets.
    const std::string account = GetText(glm, kRecBudget, "BACCT");
    uint16_t code = 0;
    if (!ReadByKey(glm, kRecAccount, "AACCT", account)) {
        if (converting || !FindInIdMap(glm, kRecAccount, ids, &code)) {
            reason = Msg(12075, FormatAccount(account, suite::kGlWhole));
            return false;
        }
        PutFlag(glm, kRecAccount, "ABGTS", code);
    }
    if (GetFlag(glm, kRecAccount, "ABGTS") == 0) {
        reason = Msg(12076, FormatAccount(account, suite::kGlWhole));
        return false;
    }

    const int method = AccountingMethod();
    if (method == 1 && ClearRange(glm, FieldNo(glm, kRecBudget, "BCANN"), FieldNo(glm, kRecBudget, "BAANN")))
        messages.push_back(Msg(12078, ModeWord("have changed/will change", converting), ModeWord("106/107", converting)));
    if (method == 2 &&
        ClearRange(glm, FieldNo(glm, kRecBudget, "BAANN"), FieldNo(glm, kRecBudget, "BAPER13") + 1))
        messages.push_back(Msg(12077, ModeWord("have changed/will change", converting), ModeWord("104/105", converting)));

    if (!PrefixUsesThirteenPeriods(glm, account, atPrefix, thirteen != 0, converting, ids)) {
        bool told = false;
        for (const char* name : {"BAPER13", "BCPER13"}) {
            const double amount = GetNumber(glm, kRecBudget, name);
            if (amount == 0) continue;
            if (!told)
                messages.push_back(Msg(12079, ModeWord("have changed/will change", converting), Amount(amount),
                                       ModeWord("108/109", converting)));
            told = true;
            PutNumber(glm, kRecBudget, name, 0);
        }
    }
    return true;
}

// ---- Journals and partners ------------------------------------------------------------------

bool xvGLM::ConvertJournal(uint16_t glm, xvl::xvlImpInfo&, std::string& reason, convert::MessageList& messages,
                           bool converting) {
    if (GetNumber(glm, kRecJournal, "JJRNNUM") == 0) {
        reason = Msg(12080);
        return false;
    }
    if (GetFlag(glm, kRecJournal, "JINTRCO") != 0 && modules::GL_RD_HEADER(glm, kHdrSettings, 0) == XIO_OK) {
        if (GetFlag(glm, HeaderFieldNo(glm, kHdrSettings, "INTRCHK")) == 0) {
            PutFlag(glm, kRecJournal, "JINTRCO", 0);
            messages.push_back(
                Msg(12081, ModeWord("has changed/will change", converting), ModeWord("111/112", converting)));
        }
        xio_free_header(glm, kHdrSettings);
    }
    return true;
}

bool xvGLM::ConvertPartner(uint16_t glm, xvl::xvlImpInfo&, std::string& reason, convert::MessageList&,
                           bool converting) {
    if (GetNumber(glm, kRecPartner, "PRPRTNR") == 0) {
        reason = Msg(12082);
        return false;
    }
    // Partners in use are marked in the settings; Examine Files leaves the file as it is.
    if (converting && modules::GL_RD_HEADER(glm, kHdrSettings, 1) == XIO_OK) {
        const uint16_t field = HeaderFieldNo(glm, kHdrSettings, "PRTNRS");
        if (field != 0 && GetFlag(glm, field) == 0) {
            PutFlag(glm, field, 1);
            // A partner on file while the settings say none are in use would be ignored.
            if (const int status = xio_wr_header(glm, kHdrSettings); status != XIO_OK) {
                xio_free_header(glm, kHdrSettings);
                return WriteFailed(glm, kRecPartner, status, reason);
            }
        } else {
            xio_free_header(glm, kHdrSettings);
        }
    }
    return true;
}

// ---- Partner tables of prefix records -------------------------------------------------------

bool CheckPrefixPartners(uint16_t glm, uint16_t first, uint16_t last, std::string& reason,
                         convert::MessageList& messages, bool converting, const RecordIdMap& ids) {
    std::set<long> numbers;
    bool noGapYet = true;
    double total = 0;
    int position = 0;
    for (uint32_t f = first; f + 2 <= last; f += 3) {
        ++position;
        const auto field = static_cast<uint16_t>(f);
        const double number = GetNumber(glm, field);
        const double percent = GetNumber(glm, field + 1);
        const std::string base = GetText(glm, static_cast<uint16_t>(field + 2));
        const std::string pos = std::to_string(position);
        auto notContiguous = [&] {
            reason = Msg(12113, pos,
                         "'" + FormatNumber("%.0f", number) + "','" + FormatNumber("%.6f", percent / 1000000.0) +
                             "','" + FormatAccount(base, suite::kGlBaseAccount) + "'");
            return false;
        };

        if (!base.empty()) {
            if (!noGapYet) return notContiguous();
            bool valid = false;
            if (ReadByKey(glm, kRecBaseAccount, "BSBASE", base)) {
                valid = Whole(GetNumber(glm, kRecBaseAccount, "BSTYPE")) == 6;
            } else if (!converting) {
                uint16_t code = 0;
                valid = FindInIdMap(glm, kRecBaseAccount, ids, &code) && code % 100 == 6;
            }
            if (!valid) {
                reason = Msg(12114, pos, FormatAccount(base, suite::kGlBaseAccount));
                return false;
            }
        } else {
            if (noGapYet && number != 0) {
                reason = Msg(12115, pos, FormatNumber("%.0f", number));
                return false;
            }
            noGapYet = false;
        }

        if (number != 0) {
            if (!noGapYet) return notContiguous();
            if (!numbers.insert(static_cast<long>(number)).second) {
                reason = Msg(12116, pos, FormatNumber("%.0f", number));
                return false;
            }
        }
        if (percent != 0 && !noGapYet) return notContiguous();
        total += percent;
    }
    if (total != 0 && total != 100000000)
        messages.push_back(Msg(12117, FormatNumber("%.6f", total / 1000000.0)));
    return true;
}

}  // namespace dz::gl
