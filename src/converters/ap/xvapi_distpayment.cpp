// The Dist payment record: one payment of one distribution of the group's invoice by one check.
// It is checked and completed (payment number, accounts, the check and its date), and what it
// implies is built in the group's images: the check, its CM transaction, the bank's last check,
// and the vendor's open, paid, 1099 and prefix totals. The group's posting writes them.
#include "converters/ap/xvapi.h"

#include "convert/lookups.h"
#include "convert/record_fields.h"
#include "converters/ap/xvapi_accounts.h"
#include "converters/ap/xvapi_amounts.h"
#include "converters/ap/xvapi_vendor_totals.h"
#include "modules/entries.h"
#include "platform/datafile/xio.h"
#include "platform/import/xvl_case.h"
#include "platform/import/xvl_import.h"
#include "platform/suite/xd.h"
#include "platform/suite/xk.h"

#include <algorithm>
#include <array>

namespace dz::ap {

using namespace convert;

namespace {

constexpr uint16_t kRecPaidInvoice = 5;

std::string Pair(const std::string& a, const std::string& b) { return a + ", " + b; }
std::string BankCheck(const std::string& bank, double check) { return bank + FormatNumber(", %.0f", check); }

// The five accounts of a payment with their labels in the two messages that name them (made
// only for a message; the deduction's begin with its term).
struct PaymentAccount {
    std::string* account;
    const char* cleared;  // AP not interfacing with GL
    const char* missing;  // not in the GL master
    bool termed = false;
    std::string Label(const char* text) const { return termed ? Term(529) + text : std::string(text); }
};

}  // namespace

bool xvAPI::ConvertDistPayment(xvl::xvlImpInfo& info, std::string& reason, GroupCallbackContext& group) {
    const uint16_t apm = group.apm;
    const bool converting = group.converting;
    // The texts the messages take are made only for a message.
    auto CheckWord = [] { return TermCap(8); };
    auto reject = [&](std::string text) {
        reason = std::move(text);
        return false;
    };
    auto special = [&](const char* name) { return group.import->xvlImpGetSpecialValue(info.FormatID(), name); };
    modlibs::PaidDistImage p;
    modules::AP_GET_PAID_DST(apm, &p, 0);

    // 1-7. The keys, the payment number and the group's invoice.
    if (IsBlank(p.vendor)) return reject(Msg(12688));
    if (IsBlank(p.invoice)) return reject(Msg(12689, p.vendor));
    if (IsBlank(p.bank)) return reject(Msg(12756, Pair(p.vendor, p.invoice)));
    if (p.check == 0) return reject(Msg(12757, CheckWord(), Pair(p.vendor, p.invoice)));
    if (p.paymentNumber == 0) {
        p.paymentNumber = GetPaymentNumber(apm, p.bank, p.check);
        // Never posted with payment number 0: its check could not be found by it.
        if (p.paymentNumber == 0) return reject(Msg(12011));
    }
    if (!xvl::equalNoCase(p.vendor, invoiceImage.vendor) || !xvl::equalNoCase(p.invoice, groupInvoiceId))
        return reject(Msg(12692, Pair(p.vendor, p.invoice), Pair(invoiceImage.vendor, groupInvoiceId)));
    if (renamed) p.invoice = invoiceImage.invoice;

    // 8. The bank.
    auto bank = std::find_if(banks.begin(), banks.end(), [&](const BankImage& b) { return xvl::equalNoCase(b.bank, p.bank); });
    if (bank == banks.end()) {
        BankImage image;
        FailedWrite failed;
        if (ReadBank(image, group.cmm, p.bank, converting, &failed) != 0) {
            if (failed.status != 0) return WriteFailed(failed.file, failed.record, failed.status, reason);
            return reject(Msg(12694, p.bank, CheckWord()));
        }
        bank = banks.insert(banks.end(), std::move(image));
    }

    // 9-12. The distribution it pays.
    if (p.distSequence == 0) {
        p.distSequence = defaultDistSequence;
        // Payments of an invoice on file: its only distribution.
        if (p.distSequence == 0 && DistributionMap.size() == 1) p.distSequence = DistributionMap.begin()->first;
        if (p.distSequence == 0) return reject(Msg(12693, Pair(p.vendor, p.invoice)));
    }
    auto seq = [&] { return FormatInt("%d", static_cast<int16_t>(p.distSequence)); };
    if (std::any_of(paidDists.begin(), paidDists.end(), [&](const modlibs::PaidDistImage& o) {
            return o.distSequence == p.distSequence && o.check == p.check && xvl::equalNoCase(o.bank, p.bank);
        }))
        return reject(Msg(12765, Pair(Pair(p.vendor, p.invoice), BankCheck(p.bank, p.check)) + ", " + seq()));
    if (!shape.hasDistributions) {
        xio_init_record(apm, kRecPaidInvoice);
        PutText(apm, kRecPaidInvoice, "PIVND", p.vendor);
        PutText(apm, kRecPaidInvoice, "PIINV", p.invoice);
        PutText(apm, kRecPaidInvoice, "PIBANK", p.bank);
        PutNumber(apm, kRecPaidInvoice, "PICHECK", p.check);
        if (xio_find_record(apm, kRecPaidInvoice, 0) == XIO_OK)
            return reject(Msg(12766, Pair(Pair(p.vendor, p.invoice), BankCheck(p.bank, p.check))));
    }
    const auto found = DistributionMap.find(p.distSequence);
    if (found == DistributionMap.end()) return reject(Msg(12758, Pair(Pair(p.vendor, p.invoice), seq())));
    const modlibs::DistImage& dist = found->second;
    p.description = dist.description;
    p.amountPaid = p.grossPayment;

    // 13. Accounts.
    const PaymentAccount accounts[] = {
        {&p.cashAccount, "Cash acct", "Cash account"},
        {&p.discountAccount, "Discount acct", "Discount account"},
        {&p.deductionAccount, " acct", " account", true},
        {&p.icReceivableAccount, "I/C receivable", "I/C receivable account"},
        {&p.icPayableAccount, "I/C payable", "I/C payable account"},
    };
    if (!glInterface) {
        const auto given = std::find_if(std::begin(accounts), std::end(accounts),
                                        [](const PaymentAccount& a) { return !IsBlank(*a.account); });
        if (given != std::end(accounts))
            Note(group, info, Msg(12732, given->Label(given->cleared), FormatAccount(*given->account, suite::kGlWhole),
                                  ModeWord("were/will be", converting), ModeWord("1662/1663", converting)));
        for (const auto& a : accounts) a.account->clear();
    } else {
        const uint16_t glm = group.glm;
        const std::string prefix = GlPrefix(dist.expenseAccount, false);
        if (IsBlank(p.cashAccount)) {
            if (bank->cashIsBase) {
                BuildAccount(glm, p.cashAccount, prefix, bank->cashAccount);
            } else {
                p.cashAccount = bank->cashAccount;
                BuildAccount(glm, p.icPayableAccount, prefix, GLDTO);
                BuildAccount(glm, p.icReceivableAccount, GlPrefix(p.cashAccount, false), GLDFROM);
            }
        }
        if (p.discountTaken == 0) p.discountAccount.clear();
        else if (IsBlank(p.discountAccount)) BuildAccount(glm, p.discountAccount, prefix, GLDSC);
        if (p.amt128Deducted == 0) p.deductionAccount.clear();
        else if (IsBlank(p.deductionAccount)) BuildAccount(glm, p.deductionAccount, prefix, GLPPS);
        if (IsBlank(p.cashAccount)) {
            Note(group, info, Msg(12759, p.bank));
        } else {
            for (const auto& a : accounts)
                if (!IsBlank(*a.account) && !GlAccountOnFile(glm, *a.account))
                    Note(group, info, Msg(12760, a.Label(a.missing), FormatAccount(*a.account, suite::kGlWhole)));
        }
    }

    // 14. One sign.
    AmountSet set;
    if (!CheckAmountSigns(LoadAmountSet(set, p)))
        return reject(Msg(12800, "Paid Distribution" + FormatNumber(" %.0f", p.check) + "-" + seq(), SignExample(set)));

    // 15. The check that pays it.
    const double net = p.grossPayment - p.discountTaken - p.amt63Applied - p.amt128Deducted;
    x_date_type checkDate;
    double checkAmount = 0;
    if (!shape.hasChecks) {
        const auto importedDate = special("AP Check Date");
        const bool dated = importedDate && !IsUnsetDate(importedDate->date);
        auto differs = [&](const modlibs::CheckImage& c) {
            if (dated && importedDate->date != c.date)
                Note(group, info, Msg(12177, suite::xd_alpha_date(importedDate->date), suite::xd_alpha_date(c.date),
                                      BankCheck(c.bank, c.check)));
        };
        auto check = std::find_if(checks.begin(), checks.end(), [&](const modlibs::CheckImage& c) {
            return c.check == p.check && xvl::equalNoCase(c.bank, p.bank);
        });
        if (check != checks.end()) {
            differs(*check);
        } else {
            xio_init_record(apm, kRecCheck);
            PutText(apm, kRecCheck, "CBANK", p.bank);
            PutNumber(apm, kRecCheck, "CHECK", p.check);
            modlibs::CheckImage c;
            if (xio_rd_record(apm, kRecCheck, 0, 0) == XIO_OK) {
                modules::AP_GET_CHECK(apm, &c, 0);
                c.newCheck = 0;
                if (c.application != "XV") return reject(Msg(12762, CheckWord(), BankCheck(c.bank, c.check)));
                differs(c);
            } else {
                c.bank = p.bank;
                c.check = p.check;
                c.paymentNumber = p.paymentNumber;
                if (!dated)
                    return reject(Msg(12761, CheckWord(), Pair(Pair(p.vendor, p.invoice), BankCheck(p.bank, p.check)) +
                                                             ", " + seq()));
                c.date = importedDate->date;
                if (const auto type = special("AP Check Type"); type && type->number != 0)
                    c.checkType = static_cast<uint16_t>(Whole(type->number));
                c.vendor = p.vendor;
                c.application = "XV";
                c.batch = batchText;
                c.created = 1;
                c.run = apmRun;
                c.sequence = ++apmSequence;
                c.payeeName = invoiceImage.payeeName;
                c.payeeAddress1 = invoiceImage.payeeAddress1;
                c.payeeAddress2 = invoiceImage.payeeAddress2;
                c.payeeCity = invoiceImage.payeeCity;
                c.payeeState = invoiceImage.payeeState;
                c.payeeZip = invoiceImage.payeeZip;
                c.newCheck = 1;
                if (!converting) {
                    // Payments of one new check in the text file must agree on its date.
                    const auto [known, added] = paidDistMap.emplace(CheckKeyText(apm, c.bank, c.check), c.date);
                    if (!added && known->second != c.date)
                        Note(group, info, Msg(12177, suite::xd_alpha_date(c.date),
                                              suite::xd_alpha_date(known->second), BankCheck(c.bank, c.check)));
                }
            }
            check = checks.insert(checks.end(), std::move(c));
        }
        check->amount += net;

        if (group.cmt != 0) {
            auto transaction =
                std::find_if(cmTransactions.begin(), cmTransactions.end(), [&](const CMTransImage& t) {
                    return t.transaction.check == check->check && xvl::equalNoCase(t.transaction.bank, check->bank);
                });
            if (transaction != cmTransactions.end()) {
                AddNetAmount(*transaction, net);
            } else {
                const auto clearDate = special("CM Clear Date");
                const auto statement = special("CM Stmt Date");
                const bool clearGiven = clearDate && !IsUnsetDate(clearDate->date);
                const bool statementGiven = statement && !IsUnsetDate(statement->date);
                const x_date_type reference = clearGiven || statementGiven ? x_date_type{12, 31, 9999} : clearedThrough;
                const x_date_type cleared = clearGiven ? clearDate->date : x_date_type{};
                const x_date_type statementDay = statementGiven ? statement->date : statementDate;
                CMTransactionSource source;
                source.check = &*check;
                source.net = net;
                source.run = cmtRun;
                source.sequence = static_cast<double>(cmtSequence) + 1;
                source.referenceDate = &reference;
                source.clearDate = &cleared;
                source.statementDate = &statementDay;
                source.vendor = &vendorImage;
                source.glJournal = GLPJRN;
                source.cashAccount = p.cashAccount;
                CMTransImage image;
                FailedWrite failed;
                if (BuildCMTransaction(image, group.cmt, source, converting, &failed) != 0) {
                    if (failed.status != 0) return WriteFailed(failed.file, failed.record, failed.status, reason);
                    return reject(Msg(12011));
                }
                if (image.exists == 0) ++cmtSequence;
                cmTransactions.push_back(std::move(image));
            }
        }
        if (check->voided == 1) return reject(Msg(12763, CheckWord(), BankCheck(check->bank, check->check)));
        checkDate = check->date;
        checkAmount = check->amount;
    } else if (!group.pass1) {
        const CrossRefEntry* entry = crossRefMap.Find(CheckKeyText(apm, p.bank, p.check));
        if (!entry) return reject(Msg(12764, CheckWord(), BankCheck(p.bank, p.check)));
        // A check that only payments name (no Check group carries it) has no date or amount to
        // give; the first pass marked the invoice for it, and the completion rejects the group
        // with that finding.
        if (crossRefMap.IsVoid(*entry)) return reject(Msg(12763, CheckWord(), BankCheck(p.bank, p.check)));
        checkDate = crossRefMap.DateOf(*entry);
        checkAmount = crossRefMap.AmountOf(*entry);
    }

    // 16. Totals (the first pass only judges).
    if (!group.pass1) {
        bank->lastCheck = p.check;
        bank->lastCheckDate = checkDate;
        bank->lastCheckAmount = checkAmount;
        const bool vendorSet = !IsBlank(vendorImage.vendor);
        const bool in1099 = dist.exempt1099 == 0;
        const double amount1099 = Amount1099(p, MD1099 != 0);
        if (vendorSet) {
            modlibs::VendorImage& v = vendorImage;
            v.openAmount -= p.grossPayment;
            v.availableDiscount -= p.paidAmount + p.discountTaken;
            v.amountHeld -= p.amt64Paid;
            v.unappliedDeduction -= p.amt63Applied;
            if (converting && paidTotalsMode != 3)
                AddPaid(v, p, YearOf(checkDate, YREND), in1099 ? YearOf(checkDate, GYREND) : YearBucket::None,
                        amount1099);
        }
        if (glInterface && suite::xk_prefixed(suite::kGlAccountFormat) && PRF1099 != 0 && in1099) {
            std::string prefix;
            int32_t section = 0;
            FiscalPrefix(group.glm, dist.expenseAccount, prefix, section);
            const uint16_t level = modules::AP_SECTION_TO_KEY(section);
            auto totals = std::find_if(prefixTotals.begin(), prefixTotals.end(), [&](const PrefixTotalsImage& t) {
                return t.level == level && xvl::equalNoCase(t.prefix, prefix);
            });
            if (totals == prefixTotals.end()) {
                PrefixTotalsImage image;
                if (ReadTotals(image, apm, p, prefix, section, level) == 0)
                    totals = prefixTotals.insert(prefixTotals.end(), std::move(image));
            }
            if (totals != prefixTotals.end()) totals->Add(YearOf(checkDate, GYREND), amount1099, p.amt128Deducted);
        }
    }

    // 17. Kept.
    p.passed = 1;
    if (modules::AP_PUT_PAID_DST(apm, nullptr, &p, 0) != 0) return reject(Msg(12011));
    paidDists.push_back(std::move(p));
    return true;
}

void xvAPI::BuildAccount(uint16_t glm, std::string& out, const std::string& prefix, const std::string& base) {
    auto [known, added] = builtAccounts_.try_emplace(prefix + '\n' + base);
    if (added) {
        // Not formed (a blank base, a prefix the builder refuses): the output stays as it was.
        std::string formed(1, '\0');
        BuildPrefixedAccount(glm, formed, prefix, base);
        known->second = {formed != std::string(1, '\0'), formed};
    }
    if (known->second.first) out = known->second.second;
}

const std::string& xvAPI::GlPrefix(const std::string& account, bool formatted) {
    auto [known, added] = glPrefixes_[formatted ? 1 : 0].try_emplace(account);
    if (added) {
        known->second = account;
        // An unformatted blank account has no prefix to give.
        if (formatted || !IsBlank(account))
            suite::xk_get_section(suite::kGlAccountFormat, formatted, suite::kGlPrefix, known->second);
    }
    return known->second;
}

void xvAPI::FiscalPrefix(uint16_t glm, const std::string& account, std::string& prefix, int32_t& section) {
    auto [known, added] = fiscalPrefixes_.try_emplace(account);
    if (added) modules::AP_GET_FISCAL_PREFIX(glm, account, known->second.first, known->second.second);
    prefix = known->second.first;
    section = known->second.second;
}

}  // namespace dz::ap
