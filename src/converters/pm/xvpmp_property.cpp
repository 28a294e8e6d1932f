// The property record and what it is checked against: the GL prefix and its fiscal calendar, the
// manager, the AP summary vendor, the GL base accounts and the CM bank with its PM cash account;
// and the property deposit record, which names a bank and base accounts too.
#include "convert/texts.h"
#include "converters/pm/xvpmp.h"
#include "modules/module_objects.h"
#include "platform/datafile/xio.h"
#include "platform/import/xvl_helpers.h"
#include "platform/import/xvl_import.h"
#include "platform/modlibs/gl_fiscal_entity.h"
#include "platform/suite/util.h"
#include "platform/suite/xd.h"
#include "platform/suite/xk.h"

#include <string>

namespace dz::pm {

using namespace convert;

namespace {

using Field = StagedField;
constexpr int kGl = suite::kGlAccountFormat;
constexpr uint16_t kCmBank = 1;

bool SameDate(const x_date_type& a, const x_date_type& b) {
    return a.month == b.month && a.day == b.day && a.year == b.year;
}

// The GL fiscal entity, released however the scope is left; empty when none could be made.
class FiscalEntity {
  public:
    FiscalEntity() {
        (void)modules::CallModuleFunction(modules::glFiscalEntityObjectID, modules::glInterfaceID(2),
                                          &object_);
    }
    ~FiscalEntity() {
        if (object_) object_->Release();
    }
    FiscalEntity(const FiscalEntity&) = delete;
    FiscalEntity& operator=(const FiscalEntity&) = delete;
    modlibs::GlFiscalEntity* operator->() const { return object_; }
    explicit operator bool() const { return object_ != nullptr; }

  private:
    modlibs::GlFiscalEntity* object_ = nullptr;
};

// An account of the prefix whose base and suffix are all "1": the entity finds the prefix's
// calendar from an account, not from a prefix.
std::string CalendarAccount(const std::string& prefix) {
    const int ones = suite::xk_width(kGl, suite::kGlBase) + suite::xk_width(kGl, suite::kGlSuffix);
    return prefix + std::string(ones > 0 ? static_cast<std::size_t>(ones) : 0, '1');
}

std::string Section(const std::string& account, int section) {
    std::string text = account;
    suite::xk_get_section(kGl, false, section, text);
    return text;
}

// The bank's PM cash account field: with separate cash accounts (the CM settings allow them and
// the bank keeps them) the PM one BPMCABF names, else the general one.
const char* CashFieldName(uint16_t cmm, bool cmMultipleCash, bool& pmFields) {
    pmFields = cmMultipleCash && GetFlag(cmm, kCmBank, "BMLTCSH") != 0;
    if (!pmFields) return "BGENCSH";
    return xio_get_field_result(cmm, 0, FieldNo(cmm, kCmBank, "BPMCABF")) == 1 ? "BPMCSHF" : "BPMCSHB";
}

// The cash account's prefix against the property's: 12390 without an account; 12853 (property)
// or 12391 (deposit) when its prefix differs. An account no longer than a base account has no
// prefix to compare.
void CheckCashPrefix(const std::string& bank, const std::string& cash, const std::string& prefix, int message,
                     convert::MessageList& messages) {
    if (cash.empty()) {
        messages.push_back(Msg(12390, bank, GlText(prefix, suite::kGlPrefix)));
        return;
    }
    // Widths count characters without separators, so the account is measured unformatted.
    std::string bare = cash;
    suite::xk_unformat_field(kGl, suite::kGlDisplay, bare);
    if (suite::xk_prefixed(kGl) &&
        bare.size() <= static_cast<std::size_t>(suite::xk_width(kGl, suite::kGlBaseAccount)))
        return;
    const std::string own = Section(cash, suite::kGlPrefix);
    if (EqualNoCase(own, prefix)) return;
    messages.push_back(Msg(message, bank, GlText(own, suite::kGlPrefix), GlText(prefix, suite::kGlPrefix)));
}

// The record-ID text of the CM bank now in the bank record's buffer.
std::string BankId(uint16_t cmm) {
    std::string id;
    convert::RecordIdText(cmm, id, kCmBank);
    return id;
}

// The special value as a GL account: valid, and on file (the account as stored). Else 12392 or
// 12393.
bool CheckCashAccount(const PmpRecordContext& c, const std::string& special, std::string& account,
                      std::string& reason) {
    if (xvl::xvl_imp_is_sectioned_field_valid(kGl, special, 0) == 0) {
        reason = Msg(12392, special);
        return false;
    }
    const Found found = FindGlAccount(c.glm, special, {nullptr, true});
    if (!found) {
        reason = Msg(12393, GlText(special, suite::kGlWhole));
        return false;
    }
    account = found.stored[0];
    return true;
}

// A new bank's description: the property, " - PM Conversion" and its type, cut to 30 characters;
// a cut that ends in blanks loses them, down to twelve characters at least.
std::string NewBankDescription(const std::string& property, const std::string& type) {
    std::string text = property + " - PM Conversion";
    if (!type.empty()) text += " " + type;
    if (text.size() > 30) text.resize(30);
    if (text.size() == 30 && text.back() == ' ')
        while (text.size() > 12 && text.back() == ' ') text.pop_back();
    return text;
}

}  // namespace

// ---- Fiscal calendar ---------------------------------------------------------------------------------

bool GetFiscalCalendarDates(uint16_t glm, const std::string& prefix, const x_date_type& date,
                            x_date_type& periodEnd, x_date_type& fiscalEnd) {
    periodEnd = x_date_type{};
    fiscalEnd = x_date_type{};
    if (prefix.empty()) return true;
    FiscalEntity entity;
    if (!entity || !entity->SelectAccount(glm, CalendarAccount(prefix), 0)) return false;
    if (!entity->PeriodEndDate(date, periodEnd)) periodEnd = x_date_type{};
    if (!entity->FiscalYearEndDate(date, fiscalEnd)) fiscalEnd = x_date_type{};
    return true;
}

// ---- What the GL and CM master files answer ----------------------------------------------------------

bool StoredGlPrefix(const PmpRecordContext& c, const std::string& prefix, std::string& stored) {
    const int levels = suite::xk_num_sections(kGl);
    if (levels < 1 || levels > 3) {
        stored = prefix;
        return true;
    }
    auto& known = c.state->answers.prefixes;
    auto it = known.find(prefix);
    if (it == known.end()) {
        const Found found = FindGlPrefix(c.glm, prefix, {nullptr, true});
        it = known.emplace(prefix, found ? found.stored[0] : std::string()).first;
    }
    stored = it->second;
    return !stored.empty();
}

bool FiscalDates(const PmpRecordContext& c, const std::string& prefix, const x_date_type& date, x_date_type& periodEnd,
                 x_date_type& fiscalEnd) {
    std::string key = prefix;
    key += '\t';
    key += std::to_string((long{date.year} * 100 + date.month) * 100 + date.day);
    auto& known = c.state->answers.calendar;
    auto it = known.find(key);
    if (it == known.end()) {
        OnFileAnswers::Calendar answer;
        answer.ok = GetFiscalCalendarDates(c.glm, prefix, date, answer.periodEnd, answer.fiscalEnd);
        it = known.emplace(std::move(key), answer).first;
    }
    periodEnd = it->second.periodEnd;
    fiscalEnd = it->second.fiscalEnd;
    return it->second.ok;
}

namespace {

// Whether the prefix's calendar has 13 periods; false when the calendar cannot be reached.
bool ThirteenPeriods(const PmpRecordContext& c, const std::string& prefix) {
    auto& known = c.state->answers.calendar;
    auto it = known.find(prefix);
    if (it == known.end()) {
        OnFileAnswers::Calendar answer;
        FiscalEntity entity;
        answer.thirteen = entity && entity->SelectAccount(c.glm, CalendarAccount(prefix), 0) &&
                          entity->UsesThirteenPeriods();
        it = known.emplace(prefix, answer).first;
    }
    return it->second.thirteen;
}

}  // namespace

const OnFileAnswers::Bank& BankOnFile(const PmpRecordContext& c, const std::string& bank) {
    auto& known = c.state->answers.banks;
    if (const auto it = known.find(bank); it != known.end()) return it->second;
    OnFileAnswers::Bank b;
    const uint16_t cmm = c.cmm;
    xio_init_record(cmm, kCmBank);
    PutText(cmm, kCmBank, "BANKACC", bank);
    b.id = BankId(cmm);
    if (!bank.empty() && xio_rd_record(cmm, kCmBank, 0, 0) == XIO_OK) {
        b.found = true;
        b.stored = GetText(cmm, kCmBank, "BANKACC");
        b.cash = GetText(cmm, kCmBank, CashFieldName(cmm, c.cmMultipleCash, b.pmFields));
        b.pmValid = GetFlag(cmm, kCmBank, "BPMVALD") != 0;
    }
    return known.emplace(bank, std::move(b)).first->second;
}

// ---- PM cash account -------------------------------------------------------------------------------------

bool ValidatePMCashAccount(const PmpRecordContext& c, std::string& reason, std::string& cashAccount) {
    PendingBank& pending = c.state->pendingBank;
    pending = PendingBank{};
    cashAccount.clear();
    std::string special;
    if (c.import)
        if (const auto value = c.import->xvlImpGetSpecialValue(c.formatId, "PM Cash Account"))
            special = value->text;
    if (!special.empty()) suite::xk_unformat_field(kGl, suite::kGlWhole, special);

    const std::string bank = GetText(c.pmp, kPmpProperty, "POPBANK");
    if (bank.empty()) return true;
    const OnFileAnswers::Bank& onFile = BankOnFile(c, bank);
    const std::string id = onFile.id;
    const bool found = onFile.found, pmFields = onFile.pmFields;
    std::string account;
    if (found) {
        if (!onFile.cash.empty()) {
            cashAccount = onFile.cash.substr(0, 29);
            if (onFile.pmValid) return true;
            reason = Msg(12852, bank);
            return false;
        }
        if (!special.empty() && !CheckCashAccount(c, special, account, reason)) return false;
    }
    // Examining, a bank an earlier property of this text file gave an account keeps it (converting,
    // that property has written it already).
    if (!c.converting)
        if (const auto it = c.state->pmCashBanks.find(id); it != c.state->pmCashBanks.end()) {
            cashAccount = it->second;
            return true;
        }
    if (special.empty()) return true;
    if (!found && !CheckCashAccount(c, special, account, reason)) return false;

    cashAccount = account.substr(0, 29);
    pending.pending = true;
    pending.create = !found;
    pending.pmFields = pmFields;
    pending.bank = bank;
    pending.id = id;
    pending.account = account;
    if (!found)
        pending.description =
            NewBankDescription(GetText(c.pmp, kPmpProperty, "PROP"), GetText(c.pmp, kPmpProperty, "PTYPE"));
    return true;
}

int WritePendingBank(uint16_t cmm, const PendingBank& bank) {
    if (bank.create) {
        xio_init_record(cmm, kCmBank);
        PutText(cmm, kCmBank, "BANKACC", bank.bank);
        PutText(cmm, kCmBank, "BGENCSH", bank.account);
        PutFlag(cmm, kCmBank, "BPMVALD", 1);
        PutText(cmm, kCmBank, "BDESC", bank.description);
        return xio_wr_record(cmm, kCmBank);
    }
    xio_init_record(cmm, kCmBank);
    PutText(cmm, kCmBank, "BANKACC", bank.bank);
    if (const int read = xio_rd_record(cmm, kCmBank, 0, 1); read != XIO_OK) return read;
    if (GetFlag(cmm, kCmBank, "BPMVALD") == 0) PutFlag(cmm, kCmBank, "BPMVALD", 1);
    if (bank.pmFields) {
        PutText(cmm, kCmBank, "BPMCSHF", bank.account);
        PutNumber(cmm, kCmBank, "BPMCABF", 1);
    } else {
        PutText(cmm, kCmBank, "BGENCSH", bank.account);
    }
    return xio_rep_record(cmm, kCmBank);
}

// ---- The property record ---------------------------------------------------------------------------------

bool ConvertProperty(const PmpRecordContext& c, std::string& reason, convert::MessageList& messages) {
    constexpr uint16_t R = kPmpProperty;
    const uint16_t pmp = c.pmp;
    const bool conv = c.converting;
    c.state->pendingBank = PendingBank{};
    const Field property(pmp, R, "PROP"), legal(pmp, R, "PLEGAL"), name(pmp, R, "PNAME"),
        type(pmp, R, "PTYPE"), prefix(pmp, R, "PGLPFX"), bank(pmp, R, "POPBANK"),
        periodEnd(pmp, R, "PPEREND"), yearEnd(pmp, R, "PFYEND"), manager(pmp, R, "PMGR"),
        vendor(pmp, R, "PSUMVND"), payType(pmp, R, "PPAYTYP"), payDay(pmp, R, "PPAYDAY"),
        sfType(pmp, R, "PSFTYPE");

    // 1-4. The legal text's line breaks, a prefixed account format, the required fields.
    if (!legal.Text().empty()) convert::CrToCrLf(pmp, legal.no);
    if (suite::xk_num_sections(kGl) == 0) {
        reason = Msg(12379, TermLabel(kPropertyTerm, true, true));
        return false;
    }
    if (!RequireKey(property, reason) ||
        !RequireFields({&name, &type, &prefix, &bank, &periodEnd, &yearEnd}, property, reason))
        return false;
    if (std::string value = type.Text(); c.state->propertyTypes.Spelling(value)) type.Put(value);

    // 6. The GL prefix (by the levels the account format has).
    if (std::string stored; StoredGlPrefix(c, prefix.Text(), stored)) {
        prefix.Put(stored);
    } else {
        reason = Msg(12388, GlText(prefix.Text(), suite::kGlPrefix));
        return false;
    }
    const std::string pfx = prefix.Text(), pfxShown = GlText(pfx, suite::kGlPrefix);

    // 7. PM posts by twelve periods.
    if (ThirteenPeriods(c, pfx)) {
        reason = Msg(12398, pfxShown);
        return false;
    }

    // 8, 9. Manager and summary vendor.
    if (!manager.Text().empty()) {
        const Found found = FindRecord(c.pms, kPmsManager, {{"MBID", manager.Text()}}, c.Scope());
        if (!found) {
            reason = Msg(12394, manager.Text());
            return false;
        }
        if (found.where == Found::OnFile) manager.Put(found.stored[0]);
    }
    if (!vendor.Text().empty()) {
        const Found found = FindRecord(c.apm, 9, {{"VENDOR", vendor.Text()}}, {nullptr, true});
        if (!found || GetNumber(c.apm, 9, "VTYPE") != 4) {
            reason = Msg(12396, vendor.Text());
            return false;
        }
        vendor.Put(found.stored[0]);
    }

    // 10. A day of the month.
    if (payType.Result() == 1 && (payDay.Number() < 1 || payDay.Number() > 31)) {
        reason = Msg(12397, WholeText(payDay.Number()));
        return false;
    }

    // 11, 12. The period end and the fiscal year end against the prefix's calendar.
    const x_date_type perEnd = periodEnd.Date(), fyEnd = yearEnd.Date();
    x_date_type calPeriod, calYear;
    if (!IsUnsetDate(perEnd) && !pfx.empty()) {
        if (!FiscalDates(c, pfx, perEnd, calPeriod, calYear)) {
            reason = Msg(12399, pfxShown);
            return false;
        }
        if (!SameDate(calPeriod, perEnd)) {
            reason = Msg(12400, DateText(perEnd), pfxShown);
            return false;
        }
    }
    if (!IsUnsetDate(fyEnd)) {
        if (suite::xd_compare_dates(fyEnd, perEnd) < 0) {
            reason = Msg(12401, DateText(fyEnd), DateText(perEnd));
            return false;
        }
        if (!pfx.empty()) {
            if (!FiscalDates(c, pfx, fyEnd, calPeriod, calYear)) {
                reason = Msg(12399, pfxShown);
                return false;
            }
            if (!SameDate(calYear, fyEnd)) {
                reason = Msg(12402, DateText(fyEnd), pfxShown);
                return false;
            }
        }
    }

    // 13. The SF type, the list's first value when blank.
    if (sfType.Text().empty()) sfType.Put(c.state->defaultSfType);
    if (std::string value = sfType.Text(); c.state->sfTypes.Spelling(value)) sfType.Put(value);

    // 14. Vacancy loss not tracked: its fields go back to their defaults, the first one named.
    if (Field(pmp, R, "PTRAKVL").Result() == 0) {
        struct Reset {
            const char* field;
            const char* label;
            bool choice;
        };
        const Reset resets[] = {{"PVLRNBS", "Vac loss rent basis", true},
                                {"PVLPO", "Vac loss prorat op", true},
                                {"PVLRND", "Vac loss rounding", true},
                                {"PVLACT", "Vac loss GL acct", false},
                                {"PGRPAT", "Gross potential rent acct", false}};
        bool named = false;
        for (const auto& r : resets) {
            const Field f(pmp, R, r.field);
            std::string shown;
            if (r.choice) {
                if (f.Result() == 1) continue;
                shown = ChoiceValueText(pmp, f.no, f.Number());
                f.Put(1.0);
            } else {
                if (f.Text().empty()) continue;
                shown = GlText(f.Text(), suite::kGlBaseAccount);
                f.Clear();
            }
            if (named) continue;
            named = true;
            messages.push_back(Msg(12403, r.label, shown, ModeWord("not converted/will not convert", conv),
                                   ModeWord("927/928", conv)));
        }
    }

    // 15. Base accounts.
    const std::pair<const char*, const char*> bases[] = {{"PVLACT", "Vacancy Loss GL Acct"},
                                                         {"PGRPAT", "Gross potential rent acct"},
                                                         {"PSLRADJ", "SLR revenue adj acct"},
                                                         {"PSLRUE", "SLR unearned inc acct"}};
    for (const auto& [fieldName, label] : bases) {
        const Field f(pmp, R, fieldName);
        if (f.Text().empty()) continue;
        const Found found = FindBaseAccount(c.glm, f.Text(), {nullptr, true});
        if (!found) {
            reason = Msg(12404, label, GlText(f.Text(), suite::kGlBaseAccount));
            return false;
        }
        f.Put(found.stored[0]);
    }

    // 16. Compare options: what the option does not use goes back to its default.
    const int option = Field(pmp, R, "PRTCO").Result();
    const Field amount1(pmp, R, "PRTCM1"), measure(pmp, R, "PRTCSM"), amount2(pmp, R, "PRTCM2"),
        formula(pmp, R, "PRTCF");
    auto resetCompare = [&](const Field& f, const std::string& shown, const char* number) {
        messages.push_back(Msg(12405, f.Label(), shown, ModeWord("was not converted/will not convert", conv),
                               number, ModeWord("930/931", conv)));
    };
    if (option != 1 && !IsZero(amount1.Number())) {
        resetCompare(amount1, WholeText(amount1.Number()), "1");
        amount1.Put(0.0);
    }
    if (option != 2 && measure.Result() != 1) {
        resetCompare(measure, ChoiceValueText(pmp, measure.no, measure.Number()), "2");
        measure.Put(1.0);
    }
    if (option != 2 && !IsZero(amount2.Number())) {
        resetCompare(amount2, WholeText(amount2.Number()), "2");
        amount2.Put(0.0);
    }
    if (option == 3 && formula.Text().empty()) {
        reason = Msg(12406, formula.Label());
        return false;
    }
    if (option != 3 && !formula.Text().empty()) {
        resetCompare(formula, formula.Text(), "3");
        formula.Clear();
    }

    // 17, 18. The bank and its PM cash account.
    std::string cash;
    if (!ValidatePMCashAccount(c, reason, cash)) return false;
    if (!bank.Text().empty()) {
        const OnFileAnswers::Bank& onFile = BankOnFile(c, bank.Text());
        if (onFile.found) {
            bank.Put(onFile.stored);
        } else {
            // The bank this property gives a new record counts as found, as does (examining) one
            // an earlier property of this text file gave one.
            const PendingBank& pending = c.state->pendingBank;
            const bool known = (pending.pending && pending.create) ||
                               (!conv && c.state->pmCashBanks.count(onFile.id) != 0);
            if (!known) {
                reason = Msg(12389, bank.Text());
                return false;
            }
        }
        CheckCashPrefix(bank.Text(), cash, pfx, 12853, messages);
    }

    // 19. The first GPR run from the last rent run.
    const Field firstRun(pmp, R, "PFGRR"), firstRunSet(pmp, R, "PFGRRC");
    if (IsUnsetDate(firstRun.Date())) {
        const x_date_type last = Field(pmp, R, "PLSTRR").Date();
        const bool whole = last.month != 0 && last.day != 0 && last.year != 0;
        if (whole) firstRun.Put(last);
        firstRunSet.Put(whole ? 1.0 : 0.0);
    }
    return true;
}

// ---- The property deposit record -------------------------------------------------------------------------

bool ConvertPropertyDeposit(const PmpRecordContext& c, std::string& reason, convert::MessageList& messages) {
    constexpr uint16_t R = kPmpDeposit;
    const uint16_t pmp = c.pmp;
    const bool conv = c.converting;
    const Field property(pmp, R, "PDPROP"), type(pmp, R, "PDDTYPE"), bank(pmp, R, "PDBANK"),
        refundable(pmp, R, "PDREF"), liability(pmp, R, "PDDLIAB"), revenue(pmp, R, "PDDREV"),
        rate(pmp, R, "PDINTRT"), expense(pmp, R, "PDIEXP"), interestLiability(pmp, R, "PDILIAB");

    // 1-3. Required fields, the property, the deposit type's spelling.
    if (!RequirePropertyLink(c, property, {&type, &bank}, reason)) return false;
    if (std::string value = type.Text(); c.state->depositTypes.Spelling(value)) type.Put(value);

    // 4, 5. Refundable deposits need a liability account, others a revenue account and no rate;
    // interest terms without a rate go back to their defaults.
    bool termsApply = true;
    if (refundable.Result() == 1) {
        if (liability.Text().empty()) {
            reason = Msg(12423);
            return false;
        }
    } else {
        if (revenue.Text().empty()) {
            reason = Msg(12424);
            return false;
        }
        if (!rate.Text().empty()) {
            messages.push_back(Msg(12425, "Interest Rate", rate.Text(),
                                   ModeWord("not converted/will not convert", conv),
                                   ModeWord("954/955", conv)));
            rate.Clear();
            termsApply = false;
        }
    }
    if (termsApply && rate.Text().empty()) {
        const std::pair<const char*, const char*> terms[] = {
            {"PDINTBS", "Interest basis"}, {"PDCOMP", "Compounding freq"}, {"PDPAYTM", "Int pay timing"}};
        bool named = false;
        for (const auto& [fieldName, label] : terms) {
            const Field f(pmp, R, fieldName);
            if (f.Result() == 1) continue;
            const std::string shown = ChoiceValueText(pmp, f.no, f.Number());
            f.Put(1.0);
            if (named) continue;
            named = true;
            messages.push_back(Msg(12426, label, shown, ModeWord("not converted/will not convert", conv),
                                   ModeWord("956/957", conv)));
        }
    }

    // 6. The interest rate: on file (its stored spelling) or, examining, earlier in the text file.
    if (termsApply && !rate.Text().empty()) {
        const uint16_t pms = c.pms;
        xio_init_record(pms, kPmsInterestRate);
        PutText(pms, kPmsInterestRate, "VALID", rate.Text());
        if (xio_rd_ge(pms, kPmsInterestRate, 0, 0) == XIO_OK &&
            EqualNoCase(GetText(pms, kPmsInterestRate, "VALID"), rate.Text())) {
            rate.Put(GetText(pms, kPmsInterestRate, "VALID"));
        } else {
            std::string key = rate.Text();
            suite::x_capitalize(key);
            if (conv || c.state->interestRateIds.count(key) == 0) {
                reason = Msg(12421, "Interest rate", rate.Text());
                return false;
            }
        }
    }

    // 7. The bank: on file, else (examining) given an account by an earlier property.
    std::string cash;
    const OnFileAnswers::Bank& onFile = BankOnFile(c, bank.Text());
    if (onFile.found) {
        bank.Put(onFile.stored);
        cash = onFile.cash;
        if (!cash.empty() && !onFile.pmValid) {
            reason = Msg(12852, bank.Text());
            return false;
        }
        // Examining, a bank on file without a cash account may have been given one by an earlier
        // property of this text file; converting, that property has written it already.
        if (cash.empty() && !conv)
            if (const auto it = c.state->pmCashBanks.find(onFile.id); it != c.state->pmCashBanks.end())
                cash = it->second;
    } else {
        const auto it = conv ? c.state->pmCashBanks.end() : c.state->pmCashBanks.find(onFile.id);
        if (it == c.state->pmCashBanks.end()) {
            reason = Msg(12389, bank.Text());
            return false;
        }
        cash = it->second;
    }

    // 8, 9. The cash account against the property's prefix.
    CheckCashPrefix(bank.Text(), cash, PropertyPrefix(c, property.Text()), 12391, messages);

    // 10, 11. Base accounts, then the interest accounts a rate needs.
    for (const Field* f : {&revenue, &liability, &expense, &interestLiability}) {
        if (f->Text().empty()) continue;
        const Found found = FindBaseAccount(c.glm, f->Text(), {nullptr, true});
        if (!found) {
            reason = Msg(12383, f->Label(), GlText(f->Text(), suite::kGlBaseAccount));
            return false;
        }
        f->Put(found.stored[0]);
    }
    if (!rate.Text().empty()) {
        if (expense.Text().empty()) {
            reason = Msg(12427, "Interest exp/clr acct");
            return false;
        }
        if (interestLiability.Text().empty()) {
            reason = Msg(12427, "Interest liability acct");
            return false;
        }
    }
    return true;
}

std::string PropertyIdText(uint16_t pmp, const std::string& property) {
    xio_init_record(pmp, kPmpProperty);
    PutText(pmp, kPmpProperty, "PROP", property);
    std::string id;
    convert::RecordIdText(pmp, id, kPmpProperty);
    return id;
}

std::string PropertyPrefix(const PmpRecordContext& c, const std::string& property) {
    const std::string id = PropertyIdText(c.pmp, property);
    if (xio_rd_record(c.pmp, kPmpProperty, 0, 0) == XIO_OK) return GetText(c.pmp, kPmpProperty, "PGLPFX");
    std::string prefix;
    c.state->properties.Find(id, &prefix, nullptr);
    return prefix;
}

}  // namespace dz::pm
