// Record images of the AP module library: what the AP entries (entry_types.h) fill from and
// place into the record buffers of the AP master file (APM) and the AP transaction file (APT).
//
// Every image has one named member per field of its record, and Fields(v) names each of them
// with its data-file field in record order, so that a get followed by a put changes nothing.
// Image-only members (not stored) are marked so. Amounts are doubles in hundredths; dates are
// x_date_type (blank when the month is 0); logical and choice fields are 16-bit words (a choice
// holds its item number).
//
// Settled meanings the converters rely on:
//   - PaidDistImage: `grossPayment` is the gross payment; the paid set runs amountPaid, taxPaid,
//     taxLiabilityApplied, discountTaken, discountLost, amt64Held, amt64Paid, amt63Applied,
//     amt128Deducted; `paidAmount` is separate. "Deduction applied" is amt63Applied, the
//     "1099 deduction amount" and "deduction amount" amt128Deducted. A distribution payment
//     copies grossPayment into amountPaid; the amount-sign check reads amountPaid; the paid
//     amount of a cross-reference is amountPaid - discountTaken - amt63Applied - amt128Deducted.
//   - "The distribution's account" is its expense account. PostingRecord accounts 1 to 4 are the
//     expense, payable, 64-payable and 63-credit accounts; amounts 2 to 4 of an open
//     distribution are its discount, 64-amount and 63-amount.
//   - CheckImage carries every stored check field (summary payee address, joint payee, check
//     type, created flag, source, deposit location, status included).
#pragma once

#include <cstdint>
#include <list>
#include <string>

#include "platform/datafile/x_value.h"

namespace dz::modlibs {

// Status word bits of AP_ORIG_STATUS.
inline constexpr uint16_t kApStatusOpen = 0x0001;

// AP master record 3: one tax component of an open distribution.
struct TaxEntry {
    std::string vendor;              // OTVND
    std::string invoice;             // OTINV
    uint16_t distSequence = 0;       // OTDSEQ
    uint16_t component = 0;          // OTCOMP: 1..9, the tax group's component
    std::string tax;                 // OTTAX
    double rate = 0;                 // OTRATE, ten-thousandths of a percent
    std::string debitAccount;        // OTDACCT
    std::string creditAccount;       // OTCACCT
    std::string liabilityDebit;      // OTRDACC
    std::string liabilityCredit;     // OTRCACC
    uint16_t notCost = 0;            // OTNOCST
    double amount = 0;               // OTAMT
    double liability = 0;            // OTLIAB
    double paid = 0;                 // OTPAID
    double liabilityPaid = 0;        // OTLIAPD
    // Image only: the parts of the two tax amounts that fall on the amount named by custom
    // description 64, each with what its payments took of it, and set when the paid amounts
    // were first carried into the entry.
    double amount64 = 0, paid64 = 0, liability64 = 0, liabilityPaid64 = 0;
    uint16_t firstWrite = 0;

    template <class V>
    void Fields(V& v) {
        v("OTVND", vendor), v("OTINV", invoice), v("OTDSEQ", distSequence), v("OTCOMP", component);
        v("OTTAX", tax), v("OTRATE", rate), v("OTDACCT", debitAccount), v("OTCACCT", creditAccount);
        v("OTRDACC", liabilityDebit), v("OTRCACC", liabilityCredit), v("OTNOCST", notCost);
        v("OTAMT", amount), v("OTLIAB", liability), v("OTPAID", paid), v("OTLIAPD", liabilityPaid);
    }
};

// AP master record 7: one tax component of a paid distribution.
struct PaidTaxEntry {
    std::string vendor;          // PIVND
    std::string invoice;         // PIINV
    std::string bank;            // PIBANK
    double check = 0;            // PICHECK
    uint16_t distSequence = 0;   // PIDSEQ
    uint16_t component = 0;      // PTCOMP
    std::string tax;             // PTTAX
    double rate = 0;             // PTRATE
    double paid = 0;             // PTPAID
    double liabilityApplied = 0; // PTLIAPD
    // Image only: the paid parts on the amount named by custom description 64.
    double paid64 = 0, liabilityApplied64 = 0;

    template <class V>
    void Fields(V& v) {
        v("PIVND", vendor), v("PIINV", invoice), v("PIBANK", bank), v("PICHECK", check);
        v("PIDSEQ", distSequence), v("PTCOMP", component), v("PTTAX", tax), v("PTRATE", rate);
        v("PTPAID", paid), v("PTLIAPD", liabilityApplied);
    }
};

// AP master record 1: an open invoice.
struct InvoiceImage {
    uint16_t newInvoice = 0;  // image only: 1 for an invoice of the text file, 0 one reloaded
    std::string vendor;       // OIVND
    std::string invoice;      // OIINV
    uint16_t statusFlags = 0; // OIFLAGS
    std::string description;  // OIDESC
    uint16_t status = 0;      // OISTAT: 1 open, 2 fully paid, 4 not open
    double amount = 0, tax = 0, discountOffered = 0, amt64 = 0, amt63 = 0;
    double amountPaid = 0, taxPaid = 0, discountTaken = 0, discountLost = 0;
    double amt64Held = 0, amt64Paid = 0, amt63Applied = 0, amt128Deducted = 0;
    x_date_type invoiceDate, dateReceived, discountDate, paymentDate, accountingDate;
    uint16_t approved = 0;
    std::string application, batch;
    uint16_t source = 0;
    std::string dpLocation, dpMapId;
    double run = 0, sequence = 0;
    uint16_t pending = 0;
    std::string reference;  // the field named by custom description 527
    x_date_type dueBackDate;
    uint16_t completed = 0;
    std::string invoiceCode1, invoiceCode2;
    uint16_t glJournal = 0;
    std::string payeeName, payeeAddress1, payeeAddress2, payeeCity, payeeState, payeeZip;
    uint16_t invoiceDay = 0;
    x_date_type generateDate;
    uint16_t included = 0;
    double paymentAmount = 0, paymentToPay = 0, paymentDiscount = 0, paymentToHold = 0, paymentToDeduct = 0;
    std::string paymentMemo;
    uint16_t skipVerifications = 0;
    uint16_t flagWord = 0;

    template <class V>
    void Fields(V& v) {
        v("OIVND", vendor), v("OIINV", invoice), v("OIFLAGS", statusFlags), v("OIDESC", description);
        v("OISTAT", status), v("OIAMT", amount), v("OITAX", tax), v("OIDSCO", discountOffered);
        v("OIAMT64", amt64), v("OIAMT63", amt63), v("OIPAID", amountPaid), v("OITAXPD", taxPaid);
        v("OIDSCT", discountTaken), v("OIDSCL", discountLost), v("OI64HLD", amt64Held), v("OI64PD", amt64Paid);
        v("OI63APL", amt63Applied), v("OI128DD", amt128Deducted), v("OIDATE", invoiceDate);
        v("OIDTRCV", dateReceived), v("OIDSCDT", discountDate), v("OIPMTDT", paymentDate);
        v("OIACTDT", accountingDate), v("OIAPPR", approved), v("OIAPPL", application), v("OIBATCH", batch);
        v("OISRC", source), v("OIDPLOC", dpLocation), v("OIDPMAP", dpMapId), v("OIRUN", run), v("OISEQ", sequence);
        v("OIPEND", pending), v("OICD527", reference), v("OIDUEBK", dueBackDate), v("OICOMPL", completed);
        v("OICODE1", invoiceCode1), v("OICODE2", invoiceCode2), v("OIGLJRN", glJournal);
        v("OIPNAME", payeeName), v("OIPADR1", payeeAddress1), v("OIPADR2", payeeAddress2);
        v("OIPCITY", payeeCity), v("OIPST", payeeState), v("OIPZIP", payeeZip), v("OIDAY", invoiceDay);
        v("OIGENDT", generateDate), v("OIINCLD", included), v("OIPAMT", paymentAmount);
        v("OIPTOP", paymentToPay), v("OIPDSC", paymentDiscount), v("OIPHLD", paymentToHold);
        v("OIPDED", paymentToDeduct), v("OIPMEMO", paymentMemo), v("OISKIPV", skipVerifications);
        v("OIFLAGW", flagWord);
    }
};

// AP master record 2: an open distribution.
struct DistImage {
    std::string vendor;         // ODVND
    std::string invoice;        // ODINV
    uint16_t distSequence = 0;  // ODDSEQ
    uint16_t statusFlags = 0;
    std::string description;    // ODDESC
    uint16_t status = 0;        // 1 open, 2 fully paid, 4 not open
    double amount = 0;
    std::string taxGroup;
    double tax = 0, taxLiability = 0, discountOffered = 0, amt64 = 0, amt63 = 0;
    double amountPaid = 0, taxPaid = 0, taxLiabilityAccounted = 0, discountTaken = 0, discountLost = 0;
    double amt64Held = 0, amt64Paid = 0, amt63Applied = 0, amt128Deducted = 0;
    uint16_t completed = 0;
    std::string expenseAccount, payableAccount, payable64Account, credit63Account;
    std::string icPayableAccount, icReceivableAccount, cashAccount;  // the three further GL fields
    std::string job, extra, costCode, category, commitment;
    double commitmentItem = 0, units = 0, unitCost = 0;  // unit cost: cents per unit times 1,000,000
    std::string jcReference, equipment, costItem;
    uint16_t memo = 0;
    std::string equipmentField1;
    double equipmentUnits1 = 0;
    std::string equipmentField2;
    double equipmentUnits2 = 0, meter = 0;
    std::string billingField;
    uint16_t finalLienWaiver = 0;
    std::string allocationName;
    uint16_t included = 0;
    double paymentAmount = 0, paymentToPay = 0, paymentDiscount = 0, paymentToHold = 0, paymentToDeduct = 0;
    uint16_t orIncluded = 0;
    double orPaymentAmount = 0, orPaymentToPay = 0, orPaymentDiscount = 0, orPaymentToHold = 0, orPaymentToDeduct = 0;
    std::string bank;
    uint16_t exempt1099 = 0;  // ODEXMPT
    uint16_t flagWord = 0;
    uint16_t newDistribution = 0;  // image only
    std::list<TaxEntry> taxes;     // image only: its tax components, freed by AP_FREE_TAXES

    template <class V>
    void Fields(V& v) {
        v("ODVND", vendor), v("ODINV", invoice), v("ODDSEQ", distSequence), v("ODFLAGS", statusFlags);
        v("ODDESC", description), v("ODSTAT", status), v("ODAMT", amount), v("ODTXGRP", taxGroup);
        v("ODTAX", tax), v("ODTXLIA", taxLiability), v("ODDSC", discountOffered), v("ODAMT64", amt64);
        v("ODAMT63", amt63), v("ODPAID", amountPaid), v("ODTAXPD", taxPaid), v("ODTXLAP", taxLiabilityAccounted);
        v("ODDSCT", discountTaken), v("ODDSCL", discountLost), v("OD64HLD", amt64Held), v("OD64PD", amt64Paid);
        v("OD63APL", amt63Applied), v("OD128DD", amt128Deducted), v("ODCOMPL", completed);
        v("ODEXP", expenseAccount), v("ODPBL", payableAccount), v("ODRTPBL", payable64Account);
        v("ODMDCR", credit63Account), v("ODGL5", icPayableAccount), v("ODGL6", icReceivableAccount);
        v("ODGL7", cashAccount), v("ODJOB", job), v("ODEXTRA", extra), v("ODPHASE", costCode), v("ODCAT", category);
        v("ODSUB", commitment), v("ODITEM", commitmentItem), v("ODUNITS", units), v("ODUNTCS", unitCost);
        v("ODJC19", jcReference), v("ODCD69", equipment), v("ODCD187", costItem), v("ODMEMO", memo);
        v("ODEQ1", equipmentField1), v("ODEQU1", equipmentUnits1), v("ODEQ2", equipmentField2);
        v("ODEQU2", equipmentUnits2), v("ODMETER", meter), v("ODBILL", billingField), v("ODLIEN", finalLienWaiver);
        v("ODALLOC", allocationName), v("ODINCLD", included), v("ODPAMT", paymentAmount), v("ODPTOP", paymentToPay);
        v("ODPDSC", paymentDiscount), v("ODPHLD", paymentToHold), v("ODPDED", paymentToDeduct);
        v("ODORINC", orIncluded), v("ODORAMT", orPaymentAmount), v("ODORTOP", orPaymentToPay);
        v("ODORDSC", orPaymentDiscount), v("ODORHLD", orPaymentToHold), v("ODORDED", orPaymentToDeduct);
        v("ODBANK", bank), v("ODEXMPT", exempt1099), v("ODFLAGW", flagWord);
    }
};

// AP master record 4: a check.
struct CheckImage {
    uint16_t newCheck = 0;  // image only: 1 the check is not on file yet, 0 it is
    std::string bank;       // CBANK
    double check = 0;       // CHECK
    x_date_type date;       // CDATE
    double paymentNumber = 0, amount = 0;
    std::string vendor;
    double associatedCheck = 0;
    std::string payeeName, payeeAddress1, payeeAddress2, payeeCity, payeeState, payeeZip, jointPayee;
    uint16_t checkType = 0;
    std::string application;  // CAPPL: "XV" for a check the conversion creates
    std::string batch;
    uint16_t created = 0;     // set for a check the conversion creates
    uint16_t source = 0;
    std::string depositLocation;
    uint16_t status = 0;
    double run = 0, sequence = 0;
    uint16_t voided = 0;      // CVOIDED: item 1 yes
    double clearedAmount = 0;
    uint16_t cleared = 0;
    x_date_type clearedDate, statementDate;
    std::string cmDescription;

    template <class V>
    void Fields(V& v) {
        v("CBANK", bank), v("CHECK", check), v("CDATE", date), v("CPMTNO", paymentNumber), v("CAMOUNT", amount);
        v("CVENDOR", vendor), v("CASSOC", associatedCheck), v("CPNAME", payeeName), v("CPADR1", payeeAddress1);
        v("CPADR2", payeeAddress2), v("CPCITY", payeeCity), v("CPST", payeeState), v("CPZIP", payeeZip);
        v("CJPAYEE", jointPayee), v("CTYPE", checkType), v("CAPPL", application), v("CBATCH", batch);
        v("CCREATD", created), v("CSOURCE", source), v("CDPLOC", depositLocation), v("CSTATUS", status);
        v("CRUN", run), v("CSEQ", sequence), v("CVOIDED", voided), v("CCLRAMT", clearedAmount);
        v("CCLEARD", cleared), v("CCLRDT", clearedDate), v("CSTMTDT", statementDate), v("CDESC", cmDescription);
    }
};

// AP master record 5: a paid invoice.
struct PaidInvoiceImage {
    std::string vendor, invoice, bank;  // PIVND, PIINV, PIBANK
    double check = 0;                   // PICHECK
    double paymentNumber = 0;
    std::string description;
    x_date_type checkDate, accountingDate;
    double grossPayment = 0, amountPaid = 0, taxPaid = 0, discountTaken = 0, discountLost = 0;
    double amt64Held = 0, amt64Paid = 0, amt63Applied = 0, amt128Deducted = 0, paidAmount = 0;
    std::string application, batch;
    uint16_t source = 0;
    double run = 0, sequence = 0;
    uint16_t paidFlag = 0;   // 1 on a paid invoice the conversion made
    uint16_t glJournal = 0;  // the GL journal of its payments

    template <class V>
    void Fields(V& v) {
        v("PIVND", vendor), v("PIINV", invoice), v("PIBANK", bank), v("PICHECK", check), v("PIPMTNO", paymentNumber);
        v("PIDESC", description), v("PIDATE", checkDate), v("PIACTDT", accountingDate), v("PIGROSS", grossPayment);
        v("PIPAID", amountPaid), v("PITAXPD", taxPaid), v("PIDSCT", discountTaken), v("PIDSCL", discountLost);
        v("PI64HLD", amt64Held), v("PI64PD", amt64Paid), v("PI63APL", amt63Applied), v("PI128DD", amt128Deducted);
        v("PIAMT", paidAmount), v("PIAPPL", application), v("PIBATCH", batch), v("PISRC", source);
        v("PIRUN", run), v("PISEQ", sequence), v("PIPDFLG", paidFlag), v("PIGLJRN", glJournal);
    }
};

// AP master record 6: a paid distribution.
struct PaidDistImage {
    std::string vendor, invoice, bank;  // PIVND, PIINV, PIBANK
    double check = 0;                   // PICHECK
    uint16_t distSequence = 0;          // PIDSEQ
    double paymentNumber = 0;
    std::string description;
    x_date_type checkDate;
    double grossPayment = 0;
    double amountPaid = 0, taxPaid = 0, taxLiabilityApplied = 0, discountTaken = 0, discountLost = 0;
    double amt64Held = 0, amt64Paid = 0, amt63Applied = 0, amt128Deducted = 0;
    double paidAmount = 0;
    std::string cashAccount, discountAccount, deductionAccount, icReceivableAccount, icPayableAccount;
    std::string application, batch;
    uint16_t source = 0;
    double run = 0, sequence = 0;
    uint16_t passed = 0;            // set to 1 when the record passes its checks
    std::list<PaidTaxEntry> paidTaxes;  // image only: freed by AP_FREE_TAXES

    template <class V>
    void Fields(V& v) {
        v("PIVND", vendor), v("PIINV", invoice), v("PIBANK", bank), v("PICHECK", check), v("PIDSEQ", distSequence);
        v("PIPMTNO", paymentNumber), v("PIDDESC", description), v("PIDATE", checkDate), v("PIGROSS", grossPayment);
        v("PIAPAID", amountPaid), v("PITAXPD", taxPaid), v("PITXLAP", taxLiabilityApplied);
        v("PIDSCT", discountTaken), v("PIDSCL", discountLost), v("PI64HLD", amt64Held), v("PI64PD", amt64Paid);
        v("PI63APL", amt63Applied), v("PI128DD", amt128Deducted), v("PIPDAMT", paidAmount);
        v("PICASH", cashAccount), v("PIDSCAC", discountAccount), v("PIPPSAC", deductionAccount);
        v("PIICRC", icReceivableAccount), v("PIICPY", icPayableAccount), v("PIAPPL", application);
        v("PIBATCH", batch), v("PISRC", source), v("PIRUN", run), v("PISEQ", sequence), v("PIDONE", passed);
    }
};

// AP master record 9: a vendor. The totals are in the field order of the record's runs.
struct VendorImage {
    std::string vendor, name, address1, address2, city, state, zip, phone, contact;
    double type = 0;  // VTYPE: 4 a summary vendor
    std::string debitAccount, standardCostCode, standardCategory, taxGroup;
    uint16_t taxColumn = 0;
    std::string invoiceCode1, invoiceCode2, distributionCode;
    double discountPercent = 0, discountDays = 0, paymentDays = 0;
    uint16_t paymentDaysType = 0;
    double deductionPercent = 0, withholdingRate = 0;
    uint16_t onHold = 0, receives1099 = 0;
    std::string recipientId, taxIdName;
    uint16_t secondTinNotice = 0, form1099 = 0, grossToAttorney = 0;
    double grossRevenue = 0;
    uint16_t generateSummary = 0, entityType = 0;
    std::string companyNumber, taxFileNumber;
    x_date_type declarationDate;
    std::string variationCertificate;
    x_date_type variationStart;
    std::string exemptionNumber, exemptionCertificate;
    x_date_type exemptionStart, exemptionExpiry;
    uint16_t includedForPayment = 0;
    double paymentAmount = 0, paymentRetainageToPay = 0, paymentDiscount = 0, paymentRetainageToHold = 0,
           paymentDeduction = 0;
    // 1099 totals: this, last and next year
    double thisYear1099 = 0, thisYearDeductions = 0, lastYear1099 = 0, lastYearDeductions = 0, nextYear1099 = 0,
           nextYearDeductions = 0;
    // running totals
    double openAmount = 0, availableDiscount = 0, amountHeld = 0, unappliedDeduction = 0;
    // yearly totals
    double tyInvoiced = 0, tyPaidAndDiscount = 0, tyDiscountOffered = 0, tyDiscountTaken = 0, tyDiscountLost = 0,
           tyPaid = 0, tyGrossPayment = 0;
    double lyInvoiced = 0, lyPaidAndDiscount = 0, lyDiscountOffered = 0, lyDiscountTaken = 0, lyDiscountLost = 0,
           lyPaid = 0, lyGrossPayment = 0, lyDeductionApplied = 0;
    double tyDeductionApplied = 0;
    double nyInvoiced = 0, nyDiscountOffered = 0, nyDiscountTaken = 0, nyDiscountLost = 0, nyPaid = 0,
           nyGrossPayment = 0, nyDeductionApplied = 0, nyPaidAndDiscount = 0;
    // The last invoice converted for the vendor, its date and amount, and the flag word its
    // invoices and distributions start from.
    std::string lastInvoice;
    x_date_type lastInvoiceDate;
    double lastInvoiceAmount = 0;
    uint16_t flagWord = 0;

    template <class V>
    void Fields(V& v) {
        v("VENDOR", vendor), v("VNAME", name), v("VADDR1", address1), v("VADDR2", address2), v("VCITY", city);
        v("VSTATE", state), v("VZIP", zip), v("VPHONE", phone), v("VCONTCT", contact), v("VTYPE", type);
        v("VGLEXP", debitAccount), v("VJCPHS", standardCostCode), v("VJCCAT", standardCategory);
        v("VTAXGRP", taxGroup), v("VTAXCOL", taxColumn), v("VICODE1", invoiceCode1), v("VICODE2", invoiceCode2);
        v("VDCODE", distributionCode), v("VDSCPCT", discountPercent), v("VDSCDAY", discountDays);
        v("VPMTDAY", paymentDays), v("VDAYTYP", paymentDaysType), v("VMDRATE", deductionPercent);
        v("VPPSRAT", withholdingRate), v("VHOLD", onHold), v("VFM1099", receives1099), v("VFEDID", recipientId);
        v("VTIDNAM", taxIdName), v("VSCNTIN", secondTinNotice), v("V1099", form1099), v("VPRATTY", grossToAttorney);
        v("VGROREV", grossRevenue), v("VGENPPS", generateSummary), v("VENTITY", entityType), v("VACN", companyNumber);
        v("VTAXFIL", taxFileNumber), v("VDECLDT", declarationDate), v("VVARCER", variationCertificate);
        v("VVARSD", variationStart), v("VEXPNUM", exemptionNumber), v("VEXPCER", exemptionCertificate);
        v("VEXMTSD", exemptionStart), v("VEXMTED", exemptionExpiry), v("VINCLD", includedForPayment);
        v("VPAMT", paymentAmount), v("VPRETP", paymentRetainageToPay), v("VPDSC", paymentDiscount);
        v("VPRETH", paymentRetainageToHold), v("VPMDED", paymentDeduction);
        v("VTY1099", thisYear1099), v("VTYDED", thisYearDeductions), v("VLY1099", lastYear1099);
        v("VLYDED", lastYearDeductions), v("VNY1099", nextYear1099), v("VNYDED", nextYearDeductions);
        v("VOAMT", openAmount), v("VODSC", availableDiscount), v("VRETAIN", amountHeld), v("VMDHELD", unappliedDeduction);
        v("VYTDAMT", tyInvoiced), v("VYTDPD", tyPaidAndDiscount), v("VYTDDO", tyDiscountOffered);
        v("VYTDDT", tyDiscountTaken), v("VYTDDL", tyDiscountLost), v("VYTDPA", tyPaid), v("VYTDGP", tyGrossPayment);
        v("VLYAMT", lyInvoiced), v("VLYPD", lyPaidAndDiscount), v("VLYDO", lyDiscountOffered);
        v("VLYDT", lyDiscountTaken), v("VLYDL", lyDiscountLost), v("VLYPA", lyPaid), v("VLYGP", lyGrossPayment);
        v("VLYMD", lyDeductionApplied), v("VYTDMD", tyDeductionApplied);
        v("VNYAMT", nyInvoiced), v("VNYDO", nyDiscountOffered), v("VNYDT", nyDiscountTaken);
        v("VNYDL", nyDiscountLost), v("VNYPA", nyPaid), v("VNYGP", nyGrossPayment), v("VNYMD", nyDeductionApplied);
        v("VNYPD", nyPaidAndDiscount), v("VLSTINV", lastInvoice), v("VLSTIDT", lastInvoiceDate);
        v("VLSTIAM", lastInvoiceAmount), v("VFLAGW", flagWord);
    }
};

// AP transaction record 1: the posting record of a new or a paid distribution.
struct PostingRecord {
    double run = 0, sequence = 0;   // ATRUN, ATSEQ
    std::string vendor, invoice;
    uint16_t distSequence = 0;
    double amount = 0;
    std::string bank;
    double check = 0, paymentNumber = 0;
    x_date_type date1, date2;
    double amount2 = 0, amount3 = 0, amount4 = 0, amount5 = 0;
    std::string application, batch;
    uint16_t source = 0;
    std::string dpLocation;
    std::string account1, account2, account3, account4;  // expense, payable, 64-payable, 63-credit
    uint16_t recordType = 9;
    uint16_t kind = 0;  // 1 open distribution, 3 paid distribution

    template <class V>
    void Fields(V& v) {
        v("ATRUN", run), v("ATSEQ", sequence), v("ATVND", vendor), v("ATINV", invoice), v("ATDSEQ", distSequence);
        v("ATAMT", amount), v("ATBANK", bank), v("ATCHECK", check), v("ATPMTNO", paymentNumber);
        v("ATDATE1", date1), v("ATDATE2", date2), v("ATAMT2", amount2), v("ATAMT3", amount3);
        v("ATAMT4", amount4), v("ATAMT5", amount5), v("ATAPPL", application), v("ATBATCH", batch);
        v("ATSRC", source), v("ATDPLOC", dpLocation), v("ATACCT1", account1), v("ATACCT2", account2);
        v("ATACCT3", account3), v("ATACCT4", account4), v("ATRTYPE", recordType), v("ATKIND", kind);
    }
};

}  // namespace dz::modlibs
