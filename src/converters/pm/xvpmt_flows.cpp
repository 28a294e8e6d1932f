// The charge-flow and misc-income handlers of the PM transaction converters, with the payment
// that follows each. A handler checks and completes the records in the transaction file's
// buffers and answers accept or reject; the passes write. The only record a handler touches on
// file is an earlier payment whose check came back, and that waits until its charge flow is
// written (MarkReturnedCheck), so that a charge flow that fails to write leaves it alone.
#include "converters/pm/xvpmt.h"

#include "platform/datafile/xio.h"
#include "platform/import/xvl_case.h"

#include <initializer_list>
#include <string_view>
#include <tuple>
#include <utility>

namespace dz::pm {

using namespace convert;

namespace {

constexpr uint16_t CF = kPmtRecChargeFlow, MI = kPmtRecMiscIncome, PAY = kPmtRecPayment;

int16_t Result(uint16_t file, uint16_t rec, const char* name) {
    return xio_get_field_result(file, rec, FieldNo(file, rec, name));
}

const char* Pick(bool converting, const char* convert, const char* examine) { return converting ? convert : examine; }

bool OneOf(int t, std::initializer_list<int> types) {
    for (int v : types)
        if (t == v) return true;
    return false;
}

// The four GL accounts of a charge flow and a misc income (CF... and MI... fields), in their order.
struct AccountField {
    const char* suffix;
    const char* longLabel;
    const char* shortLabel;
    bool accrual;
};
constexpr AccountField kAccounts[] = {{"ADR", "Accrual debit account", "Accrual debit acct", true},
                                      {"ACR", "Accrual credit account", "Accrual credit acct", true},
                                      {"CDR", "Cash debit account", "Cash debit acct", false},
                                      {"CCR", "Cash credit account", "Cash credit acct", false}};

// Fills in a payment that goes with its transaction: its new ID, application, batch, source.
void FillPayment(xvPMT& c, uint16_t pmt) {
    PutNumber(pmt, PAY, "PMTID", c.NewPaymentId(GetNumber(pmt, PAY, "PMTID")));
    PutText(pmt, PAY, "PAPPL", kPmtAppl);
    if (GetText(pmt, PAY, "PBATCH").empty()) PutText(pmt, PAY, "PBATCH", c.BatchNumber);
    PutNumber(pmt, PAY, "PBSRC", kPmtBatchSource);
}

}  // namespace

double xvPMT::EnterPaymentId(double id) {
    double last = LastPaymentId;
    return RenumberPaymentId(id, PaymentIdMap, StartLastPaymentId, last, true);
}

int xvPMT::MarkReturnedCheck(uint16_t pmt) {
    xio_init_record(pmt, PAY);
    PutNumber(pmt, PAY, "PMTID", returnedCheck_.runId);
    int status = xio_rd_record(pmt, PAY, 0, 1);
    if (status != XIO_OK) return status;
    PutFlag(pmt, PAY, "PRETCHK", 1);
    if (GetNumber(pmt, PAY, "PCHECK") == 0 && returnedCheck_.check != 0)
        PutNumber(pmt, PAY, "PCHECK", returnedCheck_.check);
    status = xio_rep_record(pmt, PAY);
    if (status != XIO_OK) xio_unlock_record(pmt, PAY);
    return status;
}

// ---- Charge flow (record 4) ---------------------------------------------------------------------------

bool xvPMT::ConvertChargeFlow(uint16_t pmt, xvl::xvlImpInfo& info, std::string& reason, std::string& paymentReason,
                              convert::MessageList& messages, convert::MessageList& paymentMessages, bool converting,
                              bool& hasPayment, uint32_t& lineCounter, bool firstPass, xvl::xvlImport& import) {
    const LookupScope scope{&RecordIds(), converting};
    returnedCheck_ = {};
    const uint16_t codeField = FieldNo(pmt, CF, "CFCODE");
    const int T = Result(pmt, CF, "CFCODE");
    const std::string typeText = ChoiceValueText(pmt, codeField, T);
    auto reject = [&](std::string text) {
        reason = std::move(text);
        return false;
    };
    auto label = [&](const char* field) { return FieldLabel(pmt, CF, field); };
    auto wasWillBe = [&] { return ModeWord("was/will be", converting); };
    auto notConverted = [&](const std::string& field, const std::string& value) {
        messages.push_back(Msg(12547, field, value, ModeWord("was not/will not be", converting),
                               Pick(converting, "1228", "1229")));
    };
    auto notForType = [&](const char* field, const std::string& value) {
        messages.push_back(Msg(12564, label(field), typeText, value, wasWillBe(), Pick(converting, "1250", "1251")));
    };

    // 1. Only the types this conversion knows; a type of 0 is no type at all.
    if (T < 1 || (T > 7 && !OneOf(T, {10, 15, 16, 18, 19, 20, 21, 22, 23}))) return reject(Msg(12563, typeText));

    // 2. Identification.
    std::string prop = GetText(pmt, CF, "CFPROP");
    std::string unit = GetText(pmt, CF, "CFUNIT");
    std::string tenant = GetText(pmt, CF, "CFTEN");
    std::string lease = GetText(pmt, CF, "CFLEASE");
    const double revision = GetNumber(pmt, CF, "CFLREV");
    if (prop.empty()) return reject(Msg(12524, label("CFPROP")));
    auto requiredForProperty = [&](const char* field) {
        return reject(Msg(12525, label(field), TermLabel(kPropertyTerm), prop));
    };
    if (T != 18) {
        if (unit.empty()) return requiredForProperty("CFUNIT");
        if (tenant.empty()) return requiredForProperty("CFTEN");
        if (lease.empty()) return requiredForProperty("CFLEASE");
    }
    const x_date_type date = GetDate(pmt, CF, "CFDATE");
    if (IsUnsetDate(date)) return requiredForProperty("CFDATE");

    // 3. Types 20 to 23 carry a description and a positive miscellaneous amount.
    const double misc = GetNumber(pmt, CF, "CFMSAMT");
    if (T >= 20) {
        if (GetText(pmt, CF, "CFDESC").empty()) return reject(Msg(12525, label("CFDESC"), label("CFCODE"), typeText));
        if (IsZero(misc)) return reject(Msg(12526, label("CFMSAMT"), label("CFCODE"), typeText));
        if (misc < 0) return reject(Msg(12860, label("CFMSAMT"), label("CFCODE"), typeText));
    }

    // 4.
    if (IsUnsetDate(GetDate(pmt, CF, "CFADATE"))) PutDate(pmt, CF, "CFADATE", date);

    // 5. The records it names, each giving back its stored spelling.
    const Found* found = &CachedFind(pmp, 1, {{"PROP", prop}}, scope);
    if (!*found) return reject(PropertyMissingText(12527, prop));
    if (found->where == Found::OnFile) prop = found->stored[0];
    PutText(pmt, CF, "CFPROP", prop);
    const bool hasUnit = !unit.empty(), hasTenant = !tenant.empty(), hasLease = !lease.empty();
    if (hasUnit) {
        found = &CachedFind(pmp, 17, {{"UPROP", prop}, {"UNIT", unit}}, scope);
        if (!*found) return reject(UnitMissingText(12528, prop, unit));
        if (found->where == Found::OnFile) unit = found->stored[1];
        PutText(pmt, CF, "CFUNIT", unit);
    }
    if (hasTenant) {
        found = &CachedFind(pmn, 1, {{"TENANT", tenant}}, scope);
        if (!*found) return reject(TenantMissingText(12529, tenant));
        if (found->where == Found::OnFile) tenant = found->stored[0];
        PutText(pmt, CF, "CFTEN", tenant);
    }
    const std::string leaseText = [&] {
        if (!hasLease) return LeaseKeyText(lease, revision);
        found = &CachedFind(pml, 1, {{"LEASE", lease}, {"LREV", revision}}, scope);
        if (!*found) return std::string();
        if (found->where == Found::OnFile) lease = found->stored[0];
        PutText(pmt, CF, "CFLEASE", lease);
        return LeaseKeyText(lease, revision);
    }();
    if (leaseText.empty()) return reject(LeaseMissingText(12859, lease, revision));

    // 6. The unit is let under the lease, and the tenant holds it.
    if (hasUnit && hasLease &&
        !CachedFind(pmp, 20, {{"LUPROP", prop}, {"LUUNIT", unit}, {"LULEASE", lease}, {"LUREV", revision}}, scope))
        return reject(Msg(12531,
                          TermLabel(kPropertyTerm) + ", " + TermLabel(kUnitTerm) + ", " + TermLabel(kLeaseTerm) +
                              ", " + TermLabel(kRevisionTerm),
                          prop + ", " + unit + ", " + leaseText));
    if (hasTenant && hasLease && !CachedFind(pmn, 5, {{"TENID", tenant}, {"TLEASE", lease}, {"TLREV", revision}}, scope))
        return reject(Msg(12531, TermLabel(kTenantTerm) + ", " + TermLabel(kLeaseTerm) + ", " + TermLabel(kRevisionTerm),
                          tenant + ", " + leaseText));

    // 7.
    if (const double seq = GetNumber(pmt, CF, "CFTXSEQ"); !IsZero(seq)) {
        notConverted("Tax sequence", WholeText(seq));
        PutNumber(pmt, CF, "CFTXSEQ", 0);
    }

    // 8. The charge date by type.
    const x_date_type chargeDate = GetDate(pmt, CF, "CFCDATE");
    if (IsUnsetDate(chargeDate) && (T < 6 || T == 15 || T == 16))
        return reject(Msg(12525, label("CFCDATE"), "Transaction type", typeText));
    if (!IsUnsetDate(chargeDate) && OneOf(T, {6, 7, 10, 18, 19})) {
        notForType("CFCDATE", DateText(chargeDate));
        PutDate(pmt, CF, "CFCDATE", x_date_type{});
    }

    // 9. Charge types by type, then the lease's spelling of each.
    std::string chargeType = GetText(pmt, CF, "CFCTYPE");
    std::string summaryType = GetText(pmt, CF, "CFSMCT");
    if (OneOf(T, {1, 3, 5})) {
        if (chargeType.empty()) return reject(Msg(12525, label("CFCTYPE"), "Transaction type", typeText));
        if (summaryType.empty()) summaryType = chargeType;
    } else if (OneOf(T, {2, 4})) {
        if (!chargeType.empty() && summaryType.empty()) summaryType = chargeType;
    } else if (OneOf(T, {6, 7, 10, 15, 16, 18, 19})) {
        if (!chargeType.empty()) {
            notForType("CFCTYPE", chargeType);
            chargeType.clear();
            summaryType.clear();
        } else if (!summaryType.empty()) {
            notForType("CFSMCT", summaryType);
            summaryType.clear();
        }
    }
    for (std::string* type : {&chargeType, &summaryType}) {
        if (type->empty()) continue;
        found = &CachedFind(pml, 10, {{"LCCT", *type}, {"LCLEASE", lease}, {"LCREV", revision}}, scope);
        if (found->where == Found::OnFile) *type = found->stored[0];
    }
    PutText(pmt, CF, "CFCTYPE", chargeType);
    PutText(pmt, CF, "CFSMCT", summaryType);

    // 10.
    for (const auto& [field, name] : {std::pair{"CFTXGRP", "Tax group"}, std::pair{"CFTXID", "Tax ID"}}) {
        const std::string value = GetText(pmt, CF, field);
        if (value.empty()) continue;
        notConverted(name, value);
        PutText(pmt, CF, field, "");
    }

    // 11. Only payments carry a payment ID.
    const double P = GetNumber(pmt, CF, "CFPMTID");
    if (T == 2 && IsZero(P)) return reject(Msg(12567, typeText));
    if (T != 2 && !IsZero(P)) return reject(Msg(12566, typeText));

    // 12. A recovery charge is always one; a column left out of the template says nothing.
    if (GetFlag(pmt, CF, "CFRECOV") == 0) {
        if (import.xvlImpWasItImported(info.FormatID(), "CFRECOV"))
            messages.push_back(Msg(12805, wasWillBe(), Pick(converting, "1276", "1277")));
        PutFlag(pmt, CF, "CFRECOV", 1);
    }

    // 13.
    if (const std::string ai = GetText(pmt, CF, "CFAIACT"); !ai.empty()) {
        notConverted("Apply intermed account", GlText(ai, 0));
        PutText(pmt, CF, "CFAIACT", "");
    }

    // 14. The deposit type by type, then the lease's spelling.
    std::string deposit = GetText(pmt, CF, "CFDEPST");
    if (deposit.empty() && (OneOf(T, {6, 7, 10}) || T >= 20))
        return reject(Msg(12525, label("CFDEPST"), "Transaction type", typeText));
    if (!deposit.empty() && OneOf(T, {15, 16, 18, 19})) {
        notForType("CFDEPST", deposit);
        deposit.clear();
    }
    if (!deposit.empty()) {
        found = &CachedFind(pml, 3, {{"LDDTYPE", deposit}, {"LDLEASE", lease}, {"LDREV", revision}, {"LDUNIT", unit}},
                            scope);
        if (found->where == Found::OnFile) deposit = found->stored[0];
    }
    PutText(pmt, CF, "CFDEPST", deposit);
    const bool noDeposit = deposit.empty();

    // 15. Amounts by type: the one the type uses should be there, the others go.
    const double charge = GetNumber(pmt, CF, "CFCHG"), credit = GetNumber(pmt, CF, "CFCRDIT");
    struct AmountField {
        const char* field;
        const char* name;
        double value;
    };
    const AmountField chargeAmt{"CFCHG", "Charge amount", charge}, creditAmt{"CFCRDIT", "Credit amount", credit},
        miscAmt{"CFMSAMT", "Miscellaneous amount", misc};
    auto wanted = [&](const AmountField& a) {
        if (IsZero(a.value)) messages.push_back(Msg(12571, a.name));
    };
    auto unwanted = [&](const AmountField& a) {
        if (IsZero(a.value)) return;
        messages.push_back(Msg(12572, a.name, Amount(a.value), wasWillBe(), Pick(converting, "1259", "1260")));
        PutNumber(pmt, CF, a.field, 0);
    };
    if (OneOf(T, {1, 3, 16})) {
        wanted(chargeAmt);
        unwanted(creditAmt);
        unwanted(miscAmt);
    } else if (OneOf(T, {4, 5, 15}) || (T == 2 && noDeposit)) {
        wanted(creditAmt);
        unwanted(chargeAmt);
        unwanted(miscAmt);
    } else if (T == 2) {
        wanted(creditAmt);
        wanted(miscAmt);
        unwanted(chargeAmt);
        if (misc != -credit) return reject(Msg(12573, Amount(credit), Amount(misc)));
    } else if (OneOf(T, {6, 7, 10, 18, 19})) {
        wanted(miscAmt);
        unwanted(chargeAmt);
        unwanted(creditAmt);
    }

    // 16. Accounts by the accounting method and the type.
    const bool accrualGiven =
        (T == 7 || T == 15) && (!GetText(pmt, CF, "CFADR").empty() || !GetText(pmt, CF, "CFACR").empty());
    for (const AccountField& a : kAccounts) {
        const std::string field = std::string("CF") + a.suffix;
        const char* const f = field.c_str();
        const std::string account = GetText(pmt, CF, f);
        const bool notUsed = a.accrual ? (!UsesAccrualAccounts(AccountingMethod) || T == 18 || T == 19)
                                       : (!UsesCashAccounts(AccountingMethod) || (T != 2 && T != 16));
        if (account.empty()) {
            if (notUsed) continue;
            if (!a.accrual || (T != 7 && T != 15)) return reject(Msg(12570, a.longLabel, prop));
            if (accrualGiven) return reject(Msg(12577, a.longLabel, prop));
            continue;
        }
        if (notUsed) {
            messages.push_back(
                Msg(12569, a.shortLabel, GlText(account, 0), wasWillBe(), Pick(converting, "1255", "1256")));
            PutText(pmt, CF, f, "");
            continue;
        }
        found = &CachedFind(glm, 1, {{"AACCT", account}}, scope);
        if (found->where == Found::OnFile) PutText(pmt, CF, f, found->stored[0]);
    }

    // 17. Fields this conversion does not carry.
    for (const char* field : {"CFCCEX", "CFBFRM", "CFBTO", "CFFRM", "CFTO", "CFCFRM", "CFCTO", "CFTSFRM", "CFTSTO",
                              "CFAPVND", "CFAPINV", "CFBLOC"}) {
        const std::string value = GetText(pmt, CF, field);
        if (value.empty()) continue;
        const std::string_view f = field;
        const bool account = f == "CFFRM" || f == "CFTO" || f == "CFCFRM" || f == "CFCTO" || f == "CFTSFRM" ||
                             f == "CFTSTO";
        notConverted(label(field), account ? GlText(value, 0) : value);
        PutText(pmt, CF, field, "");
    }

    // 18. The payment.
    const bool paymentFollows = hasPayment;
    const bool freshId = !IsZero(P) && PaymentIdMap.count(P) == 0;
    auto tenantMismatch = [&](const std::string& kept) {
        return reject(Msg(12561, TermLabel(kTenantTerm), tenant, "Paying " + TermLabel(kTenantTerm), kept));
    };
    auto checkGroup = [&]() {
        if (firstPass || T != 2 || IsZero(P)) return true;
        auto group = ChargeFlowGroups.find(P);
        return group == ChargeFlowGroups.end() || group->second.Check(reason);
    };
    bool checkPayment = false;
    if (IsZero(P)) {
        // A. Only a payment charge flow takes a payment along.
        if (hasPayment) return reject(Msg(12559));
    } else if (!hasPayment) {
        // A. An earlier payment of the run.
        const double R = EnterPaymentId(P);
        auto kept = PaymentTenants.find(R);
        if (kept == PaymentTenants.end()) return reject(Msg(12560, WholeText(P)));
        if (converting) {
            xio_init_record(pmt, PAY);
            PutNumber(pmt, PAY, "PMTID", R);
            if (xio_rd_record(pmt, PAY, 0, 0) == XIO_OK) PutText(pmt, CF, "CFBATCH", GetText(pmt, PAY, "PBATCH"));
        }
        if (!xvl::equalNoCase(tenant, kept->second)) return tenantMismatch(kept->second);
        PutText(pmt, PAY, "PTENANT", tenant);
    } else {
        // A. The following payment is this charge flow's.
        const double id = GetNumber(pmt, PAY, "PMTID");
        if (id != P) return reject(Msg(12561, "Payment ID", WholeText(P), "Payment ID", WholeText(id)));
        const std::string batch = GetText(pmt, CF, "CFBATCH"), paidBatch = GetText(pmt, PAY, "PBATCH");
        if (!xvl::equalNoCase(batch, paidBatch))
            return reject(Msg(12561, TermLabel(kBatchTerm), batch, "Paying " + TermLabel(kBatchTerm), paidBatch));
        const std::string payer = GetText(pmt, PAY, "PTENANT");
        if (!xvl::equalNoCase(tenant, payer)) return tenantMismatch(payer);
        PutText(pmt, PAY, "PTENANT", tenant);

        // B. A second payment under an ID an earlier payment holds is that payment's returned check.
        const double R = EnterPaymentId(P);
        auto kept = PaymentTenants.find(R);
        checkPayment = kept == PaymentTenants.end();
        if (!checkPayment) {
            if (!xvl::equalNoCase(tenant, kept->second)) return tenantMismatch(kept->second);
            if (!firstPass) {
                if (!checkGroup()) return false;
                if (!converting) {
                    hasPayment = false;
                    --lineCounter;
                } else {
                    // Whether the earlier payment is on file is decided now; it is marked only once
                    // this charge flow is written.
                    const double check = GetNumber(pmt, PAY, "PCHECK");
                    PutNumber(pmt, PAY, "PMTID", R);
                    if (xio_rd_record(pmt, PAY, 0, 0) == XIO_OK) {
                        PutText(pmt, CF, "CFBATCH", GetText(pmt, PAY, "PBATCH"));
                        returnedCheck_ = {true, P, R, check};
                        hasPayment = false;
                        --lineCounter;
                    } else {
                        PutNumber(pmt, PAY, "PMTID", P);
                        checkPayment = true;
                    }
                }
            }
        }
    }

    if (checkPayment) {
        // C. The payment's own fields; its faults are its own.
        auto rejectPayment = [&](std::string text) {
            paymentReason = std::move(text);
            return false;
        };
        const std::string idText = WholeText(P);
        const x_date_type paid = GetDate(pmt, PAY, "PPDATE");
        if (IsUnsetDate(paid)) return rejectPayment(Msg(12525, FieldLabel(pmt, PAY, "PPDATE"), "Payment ID", idText));
        const int method = Result(pmt, PAY, "PMTHD");
        std::string bank = GetText(pmt, PAY, "PRECBNK");
        if (method != 4 && bank.empty())
            return rejectPayment(Msg(12525, FieldLabel(pmt, PAY, "PRECBNK"), "Payment ID", idText));
        if (IsUnsetDate(GetDate(pmt, PAY, "PADATE"))) PutDate(pmt, PAY, "PADATE", paid);
        if (Result(pmt, PAY, "PPAYTYP") != 1) {
            paymentMessages.push_back(Msg(12804, wasWillBe(), Pick(converting, "1274", "1275")));
            PutNumber(pmt, PAY, "PPAYTYP", 1);
        }
        const std::string miscProperty = "Misc. " + TermLabel(kPropertyTerm), miscSource = TermLabel(kMiscIncomeTerm);
        for (const auto& [field, name] :
             {std::pair<const char*, const std::string*>{"PMSPROP", &miscProperty}, {"PMISCR", &miscSource}}) {
            const std::string value = GetText(pmt, PAY, field);
            if (value.empty()) continue;
            paymentMessages.push_back(Msg(12562, *name, value, wasWillBe(), Pick(converting, "1247", "1248")));
            PutText(pmt, PAY, field, "");
        }
        for (const auto& [field, name] : {std::pair{"PTPROP", "Property for cash receipts"},
                                          std::pair{"PTUNIT", "Unit for cash receipts"},
                                          std::pair{"PPAYER", "Payer for cash receipts"}}) {
            const std::string value = GetText(pmt, PAY, field);
            if (value.empty()) continue;
            paymentMessages.push_back(Msg(12562, name, value, wasWillBe(), Pick(converting, "1247", "1248")));
            PutText(pmt, PAY, field, "");
        }
        if (!bank.empty()) {
            found = &CachedFind(cmm, 1, {{"BANKACC", bank}}, scope);
            if (!*found) return rejectPayment(Msg(12550, bank));
            if (found->where == Found::OnFile) PutText(pmt, PAY, "PRECBNK", found->stored[0]);
        }
        // Cash Management keeps the deposits: the charge flow's list says so.
        if (const x_date_type deposited = GetDate(pmt, PAY, "PBNKDDT"); !IsUnsetDate(deposited)) {
            messages.push_back(Msg(12858, "Bank deposit date", DateText(deposited), wasWillBe(),
                                   Pick(converting, "1293", "1294")));
            PutDate(pmt, PAY, "PBNKDDT", x_date_type{});
        }
        if (const std::string depositId = GetText(pmt, PAY, "PBNKDID"); !depositId.empty()) {
            messages.push_back(
                Msg(12858, "Bank deposit ID", depositId, wasWillBe(), Pick(converting, "1293", "1294")));
            PutText(pmt, PAY, "PBNKDID", "");
        }
        ClearByMethod(pmt, method, paymentMessages, converting);
    }

    // D. The payment group (after a returned check, the same check once more).
    if (!checkGroup()) return false;

    // 19. Fill-ins.
    PutNumber(pmt, CF, "CFRUN", RunNumber);
    RunUsed = 1;
    PutNumber(pmt, CF, "CFSEQ", NextSequenceNumber());
    if (!IsZero(P)) {
        // An ID first met with its payment counts as given; one a charge flow merely refers to
        // does not.
        if (freshId && paymentFollows) PaymentIdMap.erase(P);
        PutNumber(pmt, CF, "CFPMTID", NewPaymentId(P));
    }
    PutText(pmt, CF, "CFAPPL", kPmtAppl);
    if (GetText(pmt, CF, "CFBATCH").empty()) PutText(pmt, CF, "CFBATCH", BatchNumber);
    PutNumber(pmt, CF, "CFBSRC", kPmtBatchSource);
    if (hasPayment) FillPayment(*this, pmt);
    PutText(pmt, CF, "CFLRCMB", leaseText);
    return true;
}

// ---- Misc income (record 5) ---------------------------------------------------------------------------

namespace {

std::string MiscIncomeKey(uint16_t pmt) { return GetText(pmt, MI, "MIPROP") + ", " + GetText(pmt, MI, "MINCSRC"); }

}  // namespace

bool xvPMT::ValidateMITransaction(uint16_t pmt, xvl::xvlImpInfo&, std::string& reason,
                                  convert::MessageList& messages, bool converting) {
    const LookupScope scope{&RecordIds(), converting};
    auto reject = [&](std::string text) {
        reason = std::move(text);
        return false;
    };
    auto label = [&](const char* field) { return FieldLabel(pmt, MI, field); };
    std::string prop = GetText(pmt, MI, "MIPROP");
    std::string source = GetText(pmt, MI, "MINCSRC");
    if (prop.empty()) return reject(Msg(12524, label("MIPROP")));
    if (source.empty()) return reject(Msg(12525, label("MINCSRC"), TermLabel(kPropertyTerm), prop));
    const x_date_type date = GetDate(pmt, MI, "MIDATE");
    if (IsUnsetDate(date)) return reject(Msg(12525, label("MIDATE"), "Misc inc transaction", MiscIncomeKey(pmt)));
    if (IsZero(GetNumber(pmt, MI, "MIPMTID")))
        return reject(Msg(12525, label("MIPMTID"), "Misc inc transaction", MiscIncomeKey(pmt)));

    const Found& found = CachedFind(pmp, 21, {{"MIPROP", prop}, {"MISRC", source}}, scope);
    if (!found) return reject(Msg(12541, TermLabel(kMiscIncomeTerm), source, TermLabel(kPropertyTerm), prop));
    if (found.where == Found::OnFile) {
        prop = found.stored[0];
        source = found.stored[1];
    }
    PutText(pmt, MI, "MIPROP", prop);
    PutText(pmt, MI, "MINCSRC", source);

    if (IsZero(GetNumber(pmt, MI, "MIAMT"))) messages.push_back(Msg(12542));
    if (IsUnsetDate(GetDate(pmt, MI, "MIACTD"))) PutDate(pmt, MI, "MIACTD", date);

    for (const AccountField& a : kAccounts) {
        const std::string field = std::string("MI") + a.suffix;
        const char* const f = field.c_str();
        const std::string account = GetText(pmt, MI, f);
        const bool used = a.accrual ? UsesAccrualAccounts(AccountingMethod) : UsesCashAccounts(AccountingMethod);
        if (account.empty()) {
            if (used) return reject(Msg(12546, a.longLabel, MiscIncomeKey(pmt), a.accrual ? "accrual" : "cash"));
            continue;
        }
        if (!used) {
            messages.push_back(Msg(12544, a.accrual ? "Accrual" : "Cash", a.shortLabel, GlText(account, 0),
                                   ModeWord("was/will be", converting), Pick(converting, "1224", "1225")));
            PutText(pmt, MI, f, "");
            continue;
        }
        const Found& gl = CachedFind(glm, 1, {{"AACCT", account}}, scope);
        if (gl.where == Found::OnFile) PutText(pmt, MI, f, gl.stored[0]);
    }

    for (const char* field : {"MIBFRM", "MIBTO", "MIFRM", "MITO", "MITSFRM", "MITSTO", "MICFRM", "MICTO", "MIBLOC"}) {
        const std::string value = GetText(pmt, MI, field);
        if (value.empty()) continue;
        const bool account = std::string_view(field) != "MIBLOC";
        messages.push_back(Msg(12547, label(field), account ? GlText(value, 0) : value,
                               ModeWord("was not/will not be", converting), Pick(converting, "1228", "1229")));
        PutText(pmt, MI, field, "");
    }
    return true;
}

bool xvPMT::ValidatePaymentTransaction(uint16_t pmt, xvl::xvlImpInfo&, std::string& paymentReason,
                                       convert::MessageList& messages, convert::MessageList& paymentMessages,
                                       bool converting) {
    const LookupScope scope{&RecordIds(), converting};
    auto reject = [&](std::string text) {
        paymentReason = std::move(text);
        return false;
    };
    auto label = [&](const char* field) { return FieldLabel(pmt, PAY, field); };
    const std::string wasWillBe = ModeWord("was/will be", converting);
    const double id = GetNumber(pmt, PAY, "PMTID");
    if (IsZero(id)) return reject(Msg(12524, label("PMTID")));
    auto required = [&](const char* field) { return reject(Msg(12525, label(field), "Payment ID", WholeText(id))); };
    if (GetText(pmt, PAY, "PMSPROP").empty()) return required("PMSPROP");
    if (GetText(pmt, PAY, "PMISCR").empty()) return required("PMISCR");
    const x_date_type paid = GetDate(pmt, PAY, "PPDATE");
    if (IsUnsetDate(paid)) return required("PPDATE");
    const std::string bank = GetText(pmt, PAY, "PRECBNK");
    if (bank.empty()) return required("PRECBNK");
    if (IsUnsetDate(GetDate(pmt, PAY, "PADATE"))) PutDate(pmt, PAY, "PADATE", paid);
    if (const std::string tenant = GetText(pmt, PAY, "PTENANT"); !tenant.empty()) {
        paymentMessages.push_back(
            Msg(12548, TermLabel(kTenantTerm), tenant, wasWillBe, Pick(converting, "1230", "1231")));
        PutText(pmt, PAY, "PTENANT", "");
    }
    if (Result(pmt, PAY, "PPAYTYP") != 2) PutNumber(pmt, PAY, "PPAYTYP", 2);
    const Found& found = CachedFind(cmm, 1, {{"BANKACC", bank}}, scope);
    if (!found) return reject(Msg(12550, bank));
    if (found.where == Found::OnFile) PutText(pmt, PAY, "PRECBNK", found.stored[0]);
    if (const x_date_type deposited = GetDate(pmt, PAY, "PBNKDDT"); !IsUnsetDate(deposited)) {
        messages.push_back(
            Msg(12858, "Bank deposit date", DateText(deposited), wasWillBe, Pick(converting, "1293", "1294")));
        PutDate(pmt, PAY, "PBNKDDT", x_date_type{});
    }
    if (const std::string depositId = GetText(pmt, PAY, "PBNKDID"); !depositId.empty()) {
        messages.push_back(Msg(12858, "Bank deposit ID", depositId, wasWillBe, Pick(converting, "1293", "1294")));
        PutText(pmt, PAY, "PBNKDID", "");
    }
    if (!CheckPaymentMatchesMiscIncome(pmt, paymentReason, paymentMessages, true)) return false;
    int method = Result(pmt, PAY, "PMTHD");
    if (method == 3 || method == 4) {
        paymentMessages.push_back(Msg(12556, ChoiceValueText(pmt, FieldNo(pmt, PAY, "PMTHD"), method), wasWillBe,
                                      Pick(converting, "1241", "1242")));
        method = 5;
        PutNumber(pmt, PAY, "PMTHD", method);
    }
    ClearByMethod(pmt, method, paymentMessages, converting);
    return true;
}

bool xvPMT::CheckPaymentMatchesMiscIncome(uint16_t pmt, std::string& reason, convert::MessageList& messages,
                                          bool fromPayment) {
    const double miscId = GetNumber(pmt, MI, "MIPMTID");
    auto group = MiscIncomeGroups.find(miscId);
    if (!fromPayment && group == MiscIncomeGroups.end()) return true;
    double id = 0;
    std::string property, source, batch, bank;
    if (fromPayment) {
        id = GetNumber(pmt, PAY, "PMTID");
        property = GetText(pmt, PAY, "PMSPROP");
        source = GetText(pmt, PAY, "PMISCR");
        batch = GetText(pmt, PAY, "PBATCH");
        bank = GetText(pmt, PAY, "PRECBNK");
    } else {
        const auto& g = group->second;
        id = g.PaymentId;
        property = g.PaymentProperty;
        source = g.PaymentSource;
        batch = g.PaymentBatch;
        bank = g.ReceivingBank;
    }
    if (id != miscId) {
        reason = Msg(12549, "Payment ID", WholeText(id), "Payment ID", WholeText(miscId));
        return false;
    }
    if (group != MiscIncomeGroups.end() && group->second.HasPayment == 0) return true;
    const std::string prop = GetText(pmt, MI, "MIPROP");
    for (const auto& [term, field, theirs, ours] :
         {std::tuple{kPropertyTerm, "PMSPROP", &property, prop},
          std::tuple{kMiscIncomeTerm, "PMISCR", &source, GetText(pmt, MI, "MINCSRC")},
          std::tuple{kBatchTerm, "PBATCH", &batch, GetText(pmt, MI, "MIBATCH")}}) {
        // A blank batch is the run's batch on either side (a group keeps its payment's batch as
        // filled in).
        auto effective = [&](const std::string& v) { return term == kBatchTerm && v.empty() ? BatchNumber : v; };
        if (!xvl::equalNoCase(effective(*theirs), effective(ours))) {
            reason = Msg(12549, TermLabel(term), *theirs, TermLabel(term), ours);
            return false;
        }
        if (fromPayment) PutText(pmt, PAY, field, ours);
    }
    auto known = propertyBanks_.find(prop);
    if (known == propertyBanks_.end()) {
        std::optional<std::string> normal;
        if (convert::ReadByKey(pmp, 1, "PROP", prop)) normal = GetText(pmp, 1, "POPBANK");
        known = propertyBanks_.emplace(prop, std::move(normal)).first;
    }
    if (!known->second) return true;
    const std::string& normal = *known->second;
    if (!xvl::equalNoCase(normal, bank)) messages.push_back(Msg(12551, bank, normal, prop));
    return true;
}

bool xvPMT::ConvertMiscIncome(uint16_t pmt, xvl::xvlImpInfo& info, xvl::xvlImpInfo& paymentInfo, std::string& reason,
                              std::string& paymentReason, convert::MessageList& messages,
                              convert::MessageList& paymentMessages, bool converting, bool hasPayment,
                              bool firstPass) {
    if (!ValidateMITransaction(pmt, info, reason, messages, converting)) return false;
    if (!hasPayment && !CheckPaymentMatchesMiscIncome(pmt, reason, messages, false)) return false;
    const double id = GetNumber(pmt, MI, "MIPMTID");
    if (!hasPayment) {
        // A member after its pair: the pair's payment must have come first.
        if (PaymentTenants.count(EnterPaymentId(id)) == 0) {
            reason = Msg(12560, WholeText(id));
            return false;
        }
    } else {
        const double paymentId = GetNumber(pmt, PAY, "PMTID");
        if (paymentId != id && PaymentTenants.count(paymentId) == 0) {
            reason = Msg(12539, MiscIncomeKey(pmt));
            return false;
        }
        if (!ValidatePaymentTransaction(pmt, paymentInfo, paymentReason, messages, paymentMessages, converting))
            return false;
    }
    if (!firstPass) {
        if (auto group = MiscIncomeGroups.find(id); group != MiscIncomeGroups.end()) {
            std::string amountReason;
            if (!group->second.Check(reason, amountReason, true)) {
                // The amounts are the payment's fault; a member without its payment carries it.
                if (hasPayment)
                    paymentReason = amountReason;
                else if (reason.empty())
                    reason = amountReason;
                return false;
            }
        }
        PutNumber(pmt, MI, "MIRUN", RunNumber);
        RunUsed = 1;
        PutNumber(pmt, MI, "MISEQ", NextSequenceNumber());
    }
    PutNumber(pmt, MI, "MIPMTID", NewPaymentId(id));
    PutText(pmt, MI, "MIAPPL", kPmtAppl);
    if (GetText(pmt, MI, "MIBATCH").empty()) PutText(pmt, MI, "MIBATCH", BatchNumber);
    PutNumber(pmt, MI, "MIBSRC", kPmtBatchSource);
    if (hasPayment) FillPayment(*this, pmt);
    return true;
}

// ---- Payment method rules (both kinds of payment) -------------------------------------------------

void xvPMT::ClearByMethod(uint16_t pmt, int method, convert::MessageList& paymentMessages, bool converting) {
    const std::string wasWillBe = ModeWord("was/will be", converting);
    if (method != 1) {
        if (const std::string bank = GetText(pmt, PAY, "PBANK"); !bank.empty()) {
            paymentMessages.push_back(
                Msg(12554, TermLabel(kTenantTerm) + "'s bank", bank, wasWillBe, Pick(converting, "1237", "1238")));
            PutText(pmt, PAY, "PBANK", "");
        }
        if (const double check = GetNumber(pmt, PAY, "PCHECK"); !IsZero(check)) {
            paymentMessages.push_back(
                Msg(12554, "Check number", WholeText(check), wasWillBe, Pick(converting, "1237", "1238")));
            PutNumber(pmt, PAY, "PCHECK", 0);
        }
    }
    if (method != 5 && method != 3) {
        if (const std::string id = GetText(pmt, PAY, "PMISC"); !id.empty()) {
            paymentMessages.push_back(Msg(12555, id, wasWillBe, Pick(converting, "1239", "1240")));
            PutText(pmt, PAY, "PMISC", "");
        }
    }
}

}  // namespace dz::pm
