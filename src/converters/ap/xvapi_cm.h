// The cash-management side of AP checks: the bank a check is drawn on (BankImage, from the CM
// master) and the CM transaction with its cash detail that stands for the check in the CM
// transaction file (CMTransImage). The images travel with a group until it is posted.
//
// Reading a bank without a last-check record, and extending a transaction without a cash detail,
// need a record that is not on file. With `write` (Convert) it is written at once, so that it is
// in the data file's backup like every other change of the file; without (Examine Files) it is
// only composed in memory, so that examining writes nothing.
#pragma once

#include "platform/datafile/x_value.h"
#include "platform/modlibs/ap_images.h"

#include <cstdint>
#include <string>

namespace dz::ap {

// A bank of the CM master (record 1) with its last AP check (record 5).
struct BankImage {
    std::string bank;              // BANKACC
    double lastCheck = 0;          // LTAPC
    x_date_type lastCheckDate;     // LTAPCDT
    double lastCheckAmount = 0;    // LTAPCA
    std::string cashAccount;       // the AP cash account
    uint8_t cashIsBase = 0;        // 1: a base account, to be prefixed
};

// CM transaction file, record 1: the transaction of a check.
struct CMTransaction {
    std::string bank;  // TBNKACC
    double run = 0, sequence = 0;
    int16_t type = 0;
    std::string description;
    x_date_type accountingDate, transactionDate;
    double subtract = 0, add = 0;  // TSUBTR, TADD
    uint16_t posted = 0;
    std::string glDebit, glCredit, glIcPayable, glIcReceivable;
    int16_t glJournal = 0;
    int16_t reconciled = 0;        // TRECOND: 1 outstanding, 3 cleared
    double reconciledAmount = 0;   // TRECAMT
    x_date_type reconciledDate;
    int16_t currentReconciliation = 0, lastReconciliation = 0;
    x_date_type statementDate;
    double check = 0;
    std::string payee, jointPayee;
    int16_t checkType = 0;
    uint16_t voided = 0;
    x_date_type voidDate;
    double voidAmount = 0;
    uint16_t stopped = 0;
    x_date_type stopDate;
    double replacement = 0, associated = 0;
    x_date_type depositDate;
    std::string depositId, depositType, withdrawalType;
    double withdrawalRun = 0;
    std::string adjustmentType;
    x_date_type adjustmentDepositDate;
    std::string adjustmentDepositId;
    double adjustmentId = 0;
    std::string application, batch;
    int16_t source = 0;
    std::string depositLocation;
    int16_t upgradeSource = 0;

    template <class V>
    void Fields(V& v) {
        v("TBNKACC", bank), v("TRUN", run), v("TSEQ", sequence), v("TRANTYP", type), v("TDESC", description);
        v("TACTGDT", accountingDate), v("TTRANDT", transactionDate), v("TSUBTR", subtract), v("TADD", add);
        v("TPOSTED", posted), v("TGLDBT", glDebit), v("TGLCRDT", glCredit), v("TGLICPY", glIcPayable);
        v("TGLICRC", glIcReceivable), v("TGLJRN", glJournal), v("TRECOND", reconciled);
        v("TRECAMT", reconciledAmount), v("TRECDT", reconciledDate), v("TCURREC", currentReconciliation);
        v("TLSTREC", lastReconciliation), v("TSTMTDT", statementDate), v("TCHECK", check), v("TCPAYEE", payee);
        v("TCJPYEE", jointPayee), v("TCTYPE", checkType), v("TCVOID", voided), v("TCVOIDT", voidDate);
        v("TCVDAMT", voidAmount), v("TSTOP", stopped), v("TSTOPDT", stopDate), v("TCREPLA", replacement);
        v("TCASSOC", associated), v("TDEPDTE", depositDate), v("TDEPID", depositId), v("TDTYPE", depositType);
        v("TWDTYPE", withdrawalType), v("TWDDRUN", withdrawalRun), v("TATYPE", adjustmentType);
        v("TADPDTE", adjustmentDepositDate), v("TADEPID", adjustmentDepositId), v("TADJID", adjustmentId);
        v("TAPPL", application), v("TBATCH", batch), v("TSOURCE", source), v("TDPLOC", depositLocation);
        v("TUPGSRC", upgradeSource);
    }
};

// CM transaction file, record 5: the cash detail of a transaction.
struct CashDetail {
    std::string bank;  // CDBNKAC
    double transactionRun = 0, transactionSequence = 0, run = 0, sequence = 0;
    x_date_type accountingDate;
    std::string cashAccount;
    double amount = 0;
    std::string application, batch;
    int16_t source = 0;
    std::string depositLocation;
    int16_t task = 0, type = 0, upgradeSource = 0;

    template <class V>
    void Fields(V& v) {
        v("CDBNKAC", bank), v("CDTRUN", transactionRun), v("CDTSEQ", transactionSequence), v("CDRUN", run);
        v("CDSEQ", sequence), v("CDACCDT", accountingDate), v("CDCSHAC", cashAccount), v("CDAMT", amount);
        v("CDAPP", application), v("CDBATCH", batch), v("CDSORCE", source), v("CDDPLOC", depositLocation);
        v("CDTASK", task), v("CDTYPE", type), v("CDUPSRC", upgradeSource);
    }
};

struct CMTransImage {
    CMTransaction transaction;
    CashDetail detail;
    uint8_t exists = 0;  // 1: the transaction is on file (a check extended)
};

// A write the operations made at once that failed: the caller reports it (xvConvert::WriteFailed).
struct FailedWrite {
    uint16_t file = 0, record = 0;
    int status = 0;
};

// Loads bank `bank` of the CM master `cmm` with its AP cash account and last AP check. A bank
// without a last-check record gets one of zeros (written with `write`). Non-zero: the bank is not
// readable (its status), or the last-check record could not be written (`failed` says so).
// `wrote`, when given, tells whether the last-check record was written.
int ReadCMBank(BankImage& image, uint16_t cmm, const std::string& bank, bool write, FailedWrite* failed = nullptr,
               bool* wrote = nullptr);
// Puts the image's bank and last check into the CM master's last-check buffer (record 5).
void UpdateBankLastCheck(const BankImage& image, uint16_t cmm);

// What a check's CM transaction is built from.
struct CMTransactionSource {
    const modlibs::CheckImage* check = nullptr;
    double net = 0;  // what the check adds to its transaction, in hundredths
    double run = 0, sequence = 0;
    bool voided = false;
    double reconciledAmount = 0;
    const x_date_type* referenceDate = nullptr;  // cleared through; null: none
    const x_date_type* clearDate = nullptr;
    const x_date_type* statementDate = nullptr;
    std::string description;  // the CM description; blank: the payee
    const modlibs::VendorImage* vendor = nullptr;
    uint16_t glJournal = 0;
    std::string cashAccount;
};

// Builds the CM transaction of the source's check into `image`: the one on file extended by the
// net amount (its cash detail read, or composed and written with `write`), or a new one. 0 on
// success; else a data-file status, with `failed` set when it was a write.
int BuildCMTransaction(CMTransImage& image, uint16_t cmt, const CMTransactionSource& source, bool write,
                       FailedWrite* failed = nullptr);
// Adds `net` to an existing transaction: a positive net is subtracted from the bank, a negative
// one added, and the columns are netted so that one holds the balance and the other 0.
void AddNetAmount(CMTransImage& image, double net);
// Puts both records of the image into the CM transaction file's buffers (records 1 and 5).
void WriteCMTransaction(const CMTransImage& image, uint16_t cmt);

}  // namespace dz::ap
