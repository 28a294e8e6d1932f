// The checks and corrections of a CM bank-account record: the installed modules, the CM-to-GL
// interface and the CM settings decide which cash accounts stay; the GL master file, the AP
// check formats and the PR check formats are looked up. Only three faults reject the bank: no
// bank account, an invalid AP cash account and a cash account missing from GL. Everything else
// is corrected in the record with a message.
#include "converters/gl/xvcmm.h"

#include "converters/gl/glm_fields.h"
#include "converters/gl/xvglm.h"

#include "platform/datafile/xio.h"
#include "platform/import/xvl_helpers.h"
#include "platform/import/xvl_import.h"
#include "platform/suite/util.h"
#include "platform/suite/xd.h"
#include "platform/suite/xk.h"

#include <array>
#include <span>
#include <utility>

namespace dz::gl {

using namespace convert;

namespace {

constexpr int kFmt = suite::kGlAccountFormat;

// A field's description from the record definition.
std::string DescriptionOf(uint16_t h, uint16_t field) {
    xio_fld_def def;
    if (xio_get_fld_def(h, field, def) != XIO_OK) return {};
    return def.description.empty() ? def.name : def.description;
}

// The reason code of a Convert/Examine Files pair: "1004/1005".
std::string Code(const char* pair, bool converting) { return ModeWord(pair, converting); }

}  // namespace

bool xvCMM::ConvertBankAccount(uint16_t cmm, xvl::xvlImpInfo& info, std::string& reason,
                               convert::MessageList& messages, bool apInst, bool prInst, bool arInst, bool jcInst,
                               bool pmInst, uint16_t glm, bool converting, xvl::xvlImport& import) {
    const std::string& format = info.FormatID();
    const uint16_t rec = kCmRecBank;
    ResolveFields(cmm);
    // The steps' helpers below are taken into this function (always_inline): each runs for
    // every bank, and mostly finds nothing to do, in fewer instructions than a call takes.
    // Read where the record holds them, each field's cell found once: a value read here shows
    // what the steps put into the field later.
    std::array<const std::string*, kBankFields> cells{};
    auto text = [&](std::size_t field) __attribute__((always_inline)) -> const std::string& {
        const std::string*& cell = cells[field];
        if (!cell) cell = &xio_get_text(cmm, bank_[field]);
        return *cell;
    };
    auto clear = [&](std::size_t field) { PutText(cmm, bank_[field], ""); };
    const FormatFacts& given = Facts(format, import);

    // 1. The bank account.
    // The bank account's own field is not changed below: its text is read where it lies.
    const std::string& bank = text(kBankAcc);
    if (bank.empty()) {
        std::string name = suite::xk_description(7);
        suite::x_upper_first(name);
        reason = Msg(12181, name);
        return false;
    }

    // 2. CM settings that keep one cash account per bank: the line's cash accounts go.
    if (cmInterfacesGl && MultipleCashAccounts(cmm) == 0) {
        const uint16_t first = bank_[kApCashBase], last = bank_[kPrCash];
        std::string shownField, shownValue;
        for (uint16_t f = first; first && f <= last; ++f) {
            const std::string value = GetText(cmm, f);
            if (value.empty()) continue;
            if (shownField.empty()) {
                xio_fld_def def;
                xio_get_fld_def(cmm, f, def);
                shownField = def.description.empty() ? def.name : def.description;
                // Each account as its field holds it: a base account as a base account.
                shownValue = FormatAccount(value, def.keySection == suite::kGlBaseAccount ? suite::kGlBaseAccount
                                                                                          : suite::kGlDisplay);
            }
            PutText(cmm, f, "");
        }
        if (!shownField.empty())
            messages.push_back(Msg(12840, shownField, shownValue, ModeWord("were/will be", converting),
                                   Code("1034/1035", converting)));
        PutFlag(cmm, bank_[kMultiCash], 0);
    }

    // 3. Where AP and PM keep their cash account: a base or a full account.
    bool apBase = false;
    if (given.apKind || given.bintSpecial) {
        // Given by the line, or put there by the filling step.
        apBase = Whole(GetNumber(cmm, bank_[kApKind])) == 2;
    } else if (given.apBase && !given.apFull) {
        SetKind(cmm, kApKind, 2);
        apBase = true;
    }
    bool pmBase = false;
    if (given.pmKind) {
        pmBase = Whole(GetNumber(cmm, bank_[kPmKind])) == 2;
    } else if (!given.bintSpecial && given.pmBase && !given.pmFull) {
        SetKind(cmm, kPmKind, 2);
        pmBase = true;
    }
    const std::size_t apField = apBase ? kApCashBase : kApCashFull;
    const std::size_t apOther = apBase ? kApCashFull : kApCashBase;
    const std::size_t pmField = pmBase ? kPmCashBase : kPmCashFull;
    const std::size_t pmOther = pmBase ? kPmCashFull : kPmCashBase;
    auto sectionOf = [](bool base) { return base ? suite::kGlBaseAccount : suite::kGlWhole; };

    // 4. The AP cash account must be a whole account, or a whole base account, of the format.
    // A base account is shown and checked as a base account: shown as a whole account, a valid
    // base account of a prefixed GL would take the prefix's separators and fail.
    // The filling step's cash account, when the AP cash field still holds it as that kind: what
    // was found for it holds for this bank too.
    auto filled = [&](const std::string& value, bool base) __attribute__((always_inline)) {
        return filled_ && filledBase_ == base && value == filled_->unformatted ? filled_ : nullptr;
    };
    if (const std::string& ap = text(apField); !ap.empty()) {
        CashAccount* const cash = filled(ap, apBase);
        if (!cash || cash->valid != 1) {
            std::unordered_set<std::string>& valid = validAp_[apBase ? 1 : 0];
            if (!valid.count(ap)) {
                const std::string shown = FormatAccount(ap, sectionOf(apBase));
                if (xvl::xvl_imp_is_sectioned_field_valid(kFmt, shown, sectionOf(apBase)) == 0) {
                    reason = Msg(12183, apBase ? "base" : "full", shown);
                    return false;
                }
                valid.insert(ap);
            }
            if (cash) cash->valid = 1;
        }
    }

    // 5, 6. The account of the other kind goes.
    auto otherKind = [&](int number, std::size_t other, bool base,
                         const char* code) __attribute__((always_inline)) {
        const std::string& value = text(other);
        if (value.empty()) return;
        messages.push_back(Msg(number, base ? "base" : "full", base ? "Full" : "Base",
                               FormatAccount(value, sectionOf(!base)), ModeWord("was/will be", converting),
                               Code(code, converting)));
        clear(other);
    };
    otherKind(12850, apOther, apBase, "1030/1031");
    otherKind(12851, pmOther, pmBase, "1032/1033");

    // 7-10. A cash account of an application that is not installed, or of a CM that does not
    // interface with GL, goes.
    constexpr std::size_t kNoKind = kBankFields;
    auto use = [&](std::size_t field, bool installed, std::size_t valid, int number, int section, const char* code,
                   std::size_t kindField) __attribute__((always_inline)) {
        const std::string& value = text(field);
        if (value.empty()) return;
        if (installed && cmInterfacesGl) {
            // The filling step set both with the cash account it put there.
            if (field == apField && filled(value, apBase)) return;
            PutFlag(cmm, bank_[valid], 1);
            PutFlag(cmm, bank_[kMultiCash], 1);
            return;
        }
        messages.push_back(Msg(number, FormatAccount(value, section), ModeWord("was not/will not be", converting),
                               Code(code, converting)));
        clear(field);
        if (kindField != kNoKind) SetKind(cmm, kindField, 1);
    };
    use(apField, apInst, kApValid, 12184, sectionOf(apBase), "1004/1005", kApKind);
    use(pmField, pmInst, kPmValid, 12187, sectionOf(pmBase), "1010/1011", kPmKind);
    use(kPrCash, prInst, kPrValid, 12185, suite::kGlWhole, "1006/1007", kNoKind);
    use(kRcCash, arInst || jcInst, kRcValid, 12186, suite::kGlWhole, "1008/1009", kNoKind);

    // 11. Every cash account left must be on file in GL.
    if (glm) {
        auto onFile = [&](const std::string& value, bool base, const char* kind,
                          CashAccount* cash = nullptr) __attribute__((always_inline)) {
            if (value.empty()) return true;
            // Banks share their cash accounts: an account is looked up once.
            const bool missing = cash && cash->missing >= 0
                                     ? cash->missing == 1
                                     : Missing(base ? kGlBase : kGlAccount, glm, base ? kRecBaseAccount : kRecAccount,
                                               base ? "BSBASE" : "AACCT", value, cash ? &cash->missing : nullptr);
            if (!missing) return true;
            reason = Msg(12188, kind, FormatAccount(value, sectionOf(base)), base ? "base accounts" : "accounts", bank);
            return false;
        };
        if (!onFile(text(apField), apBase, "AP", filled(text(apField), apBase)) ||
            !onFile(text(pmField), pmBase, "PM") || !onFile(text(kPrCash), false, "PR") ||
            !onFile(text(kRcCash), false, "Receivable") ||
            !onFile(text(kGenCash), false, "General", filled(text(kGenCash), false)))
            return false;
    }

    // 12. An application marked as using the bank needs its cash account there. The step
    // changes no bank's several-cash-accounts flag: it is read once.
    const bool multiCash = xio_get_field_result(cmm, rec, bank_[kMultiCash]) == 1;
    auto mark = [&](bool installed, std::size_t valid, std::size_t cashField,
                    const char* app) __attribute__((always_inline)) {
        if (!installed) {
            ClearFlag(cmm, valid);
            return;
        }
        if (multiCash && text(cashField).empty() && xio_get_field_result(cmm, rec, bank_[valid]) == 1) {
            messages.push_back(Msg(12194, app, ModeWord("was/will be", converting), app, Code("1019/1020", converting)));
            PutFlag(cmm, bank_[valid], 0);
        }
    };
    mark(apInst, kApValid, apField, "AP");
    mark(pmInst, kPmValid, pmField, "PM");
    mark(prInst, kPrValid, kPrCash, "PR");
    mark(arInst || jcInst, kRcValid, kRcCash, "Receivables");

    // 13. Balances are the CM module's own to build: none is converted.
    // The mode's words, chosen for the messages that are issued.
    const char* const notConverted = converting ? "was not" : "will not be";
    const char* const code1017 = converting ? "1017" : "1018";
    // The three runs of balances are mostly next to one another: one run then.
    const bool oneRun = bank_[kRegBalance] && bank_[kPsBalance] && bank_[kRecBalance] == bank_[kPsBalance] + 1 &&
                        bank_[kOpenChecks] == bank_[kRecBalance] + 1 && bank_[kLyInterest] >= bank_[kOpenChecks];
    static constexpr std::pair<BankField, BankField> kRuns[] = {
        {kRegBalance, kPsBalance}, {kRecBalance, kRecBalance}, {kOpenChecks, kLyInterest}};
    static constexpr std::pair<BankField, BankField> kOneRun[] = {{kRegBalance, kLyInterest}};
    for (const auto& [from, to] : oneRun ? std::span<const std::pair<BankField, BankField>>(kOneRun)
                                             : std::span<const std::pair<BankField, BankField>>(kRuns)) {
        // Balances are mostly 0: each range is looked at in one call, then from the last found on.
        const uint16_t first = bank_[from], last = bank_[to];
        for (uint16_t f = first ? xio_first_nonzero_number(cmm, first, last) : 0; f;
             f = f < last ? xio_first_nonzero_number(cmm, static_cast<uint16_t>(f + 1), last) : 0) {
            const double amount = GetNumber(cmm, f);
            messages.push_back(Msg(12193, DescriptionOf(cmm, f), Amount(amount), notConverted, code1017));
            PutNumber(cmm, f, 0);
        }
    }
    // 14, 15. Nor the last reconciled date and the setup assistant's status, on every line of a
    // template that gives them.
    if (given.reconciled) {
        const uint16_t f = bank_[kRecDate];
        messages.push_back(
            Msg(12193, "Last reconciled date", suite::xd_alpha_date(GetDate(cmm, f)), notConverted, code1017));
        x_value_def blank;
        xio_put_field(cmm, 0, f, blank);
    }
    if (given.setupStatus) {
        const uint16_t f = bank_[kSetupStatus];
        messages.push_back(
            Msg(12193, "Setup assistant status", ChoiceText(cmm, f, GetNumber(cmm, f), false), notConverted, code1017));
        PutNumber(cmm, f, 0);
    }

    // 16, 17. The check format of an application that uses the bank.
    auto checkFormat = [&](bool installed, std::size_t valid, std::size_t formField, const char* app,
                           const char* article, int16_t handle, Lookup kind, uint16_t formatRec,
                           const char* key) __attribute__((always_inline)) {
        if (!installed || xio_get_field_result(cmm, rec, bank_[valid]) != 1) return;
        const std::string& form = text(formField);
        if (form.empty()) {
            messages.push_back(Msg(12855, bank, app, article));
            return;
        }
        if (handle && Missing(kind, static_cast<uint16_t>(handle), formatRec, key, form))
            messages.push_back(Msg(12856, bank, app, form, app));
    };
    checkFormat(apInst, kApValid, kApForm, "AP", "an AP", apmHandle, kApCheckFormat, 11, "FNAME");
    checkFormat(prInst, kPrValid, kPrForm, "PR", "a PR", prsHandle, kPrCheckFormat, 16, "CFID");

    // 18, 19. The check format and maximum of an application that is not installed go.
    auto notInstalled = [&](bool installed, const char* app, std::size_t formField,
                            std::size_t maxField) __attribute__((always_inline)) {
        if (installed) return;
        if (const std::string& form = text(formField); !form.empty()) {
            messages.push_back(Msg(12196, app, app, suite::xk_description(8), form, notConverted,
                                   Code("1023/1024", converting)));
            clear(formField);
        }
        if (const double max = GetNumber(cmm, bank_[maxField]); max != 0) {
            messages.push_back(Msg(12197, app, app, suite::xk_description(8),
                                   ModeWord("has changed/will change", converting), Amount(max),
                                   Code("1025/1026", converting)));
            PutNumber(cmm, bank_[maxField], 0);
        }
    };
    notInstalled(apInst, "AP", kApForm, kApMax);
    notInstalled(prInst, "PR", kPrForm, kPrMax);

    // 20. Convert: every bank written is followed by its last-numbers record.
    if (converting && !writeLastNumbers) {
        xio_init_record(cmm, kCmRecLastNumbers);
        PutText(cmm, last_[kLtBank], bank);
        writeLastNumbers = 1;
    }
    return true;
}

bool xvCMM::Missing(Lookup kind, uint16_t file, uint16_t rec, const char* field, const std::string& value,
                    int8_t* keep) {
    // Banks of a file mostly share their accounts and check formats: the answer of the value
    // asked last is at hand without a search.
    Answers& answers = answers_[kind];
    if (answers.lastKept && value == answers.last) {
        if (keep) *keep = answers.lastMissing ? 1 : 0;
        return answers.lastMissing;
    }
    bool missing;
    if (const auto it = answers.kept.find(value); it != answers.kept.end()) {
        missing = it->second;
    } else {
        const int status = convert::FindStatus(file, rec, field, value);
        missing = status == XIO_NOT_FOUND;
        // Any other failure is answered but asked again next time.
        if (status != XIO_OK && !missing) return missing;
        answers.kept.emplace(value, missing);
    }
    answers.last = value;
    answers.lastMissing = missing;
    answers.lastKept = true;
    if (keep) *keep = missing ? 1 : 0;
    return missing;
}

}  // namespace dz::gl
