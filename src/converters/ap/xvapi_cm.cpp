#include "converters/ap/xvapi_cm.h"

#include "convert/lookups.h"
#include "convert/record_fields.h"
#include "platform/datafile/xio.h"
#include "platform/import/xvl_case.h"
#include "platform/suite/xd.h"

#include <type_traits>

namespace dz::ap {

using convert::IsBlank;
using convert::IsUnsetDate;

namespace {

constexpr uint16_t kBankRecord = 1, kLastCheckRecord = 5, kCmHeader = 2;
constexpr uint16_t kTransactionRecord = 1, kCashDetailRecord = 5, kBankCheckKey = 6;
constexpr uint16_t kCmTaskAp = 22;

// Reads every member of an image from the file's record buffer, or puts it there.
struct FromBuffer {
    uint16_t file, rec;
    template <class M>
    void operator()(const char* name, M& m) {
        const uint16_t field = convert::FieldNo(file, rec, name);
        if constexpr (std::is_same_v<M, std::string>) m = convert::GetText(file, field);
        else if constexpr (std::is_same_v<M, x_date_type>) m = convert::GetDate(file, field);
        else m = static_cast<M>(convert::GetNumber(file, field));
    }
};
struct ToBuffer {
    uint16_t file, rec;
    template <class M>
    void operator()(const char* name, const M& m) {
        const uint16_t field = convert::FieldNo(file, rec, name);
        if constexpr (std::is_same_v<M, std::string>) convert::PutText(file, field, m);
        else if constexpr (std::is_same_v<M, x_date_type>) convert::PutDate(file, field, m);
        else convert::PutNumber(file, field, static_cast<double>(m));
    }
};

template <class Image>
void Read(Image& image, uint16_t file, uint16_t rec) {
    FromBuffer v{file, rec};
    image.Fields(v);
}
template <class Image>
void Put(const Image& image, uint16_t file, uint16_t rec) {
    ToBuffer v{file, rec};
    const_cast<Image&>(image).Fields(v);  // Fields names the members; ToBuffer only reads them
}

int WriteNow(uint16_t file, uint16_t rec, FailedWrite* failed) {
    const int status = xio_wr_record(file, rec);
    if (status != XIO_OK && failed) *failed = {file, rec, status};
    return status;
}

}  // namespace

int ReadCMBank(BankImage& image, uint16_t cmm, const std::string& bank, bool write, FailedWrite* failed, bool* wrote) {
    if (wrote) *wrote = false;
    if (!convert::ReadByKeys(cmm, kBankRecord, {{"BANKACC", bank}})) return 11;
    image.bank = convert::GetText(cmm, kBankRecord, "BANKACC");

    // One cash account for everything, unless the company and the bank keep several.
    bool multiple = true;  // a header that cannot be read counts as several
    if (xio_rd_header(cmm, kCmHeader, 0) == XIO_OK) {
        multiple = convert::GetNumber(cmm, convert::HeaderFieldNo(cmm, kCmHeader, "CMULTCA")) != 0;
        xio_free_header(cmm, kCmHeader);
    }
    multiple = multiple && convert::GetNumber(cmm, kBankRecord, "BMLTCSH") != 0;
    image.cashIsBase = 0;
    if (!multiple) {
        image.cashAccount = convert::GetText(cmm, kBankRecord, "BGENCSH");
    } else if (convert::Whole(convert::GetNumber(cmm, kBankRecord, "BAPCABF")) == 2) {
        image.cashAccount = convert::GetText(cmm, kBankRecord, "BAPCSHB");
        image.cashIsBase = 1;
    } else {
        image.cashAccount = convert::GetText(cmm, kBankRecord, "BAPCSHF");
    }

    if (convert::ReadByKeys(cmm, kLastCheckRecord, {{"LTBNKAC", image.bank}})) {
        image.lastCheck = convert::GetNumber(cmm, kLastCheckRecord, "LTAPC");
        image.lastCheckDate = convert::GetDate(cmm, kLastCheckRecord, "LTAPCDT");
        image.lastCheckAmount = convert::GetNumber(cmm, kLastCheckRecord, "LTAPCA");
        return 0;
    }
    image.lastCheck = 0;
    image.lastCheckDate = {};
    image.lastCheckAmount = 0;
    xio_init_record(cmm, kLastCheckRecord);
    convert::PutText(cmm, kLastCheckRecord, "LTBNKAC", image.bank);
    if (!write) return 0;
    if (wrote) *wrote = true;
    return WriteNow(cmm, kLastCheckRecord, failed);
}

void UpdateBankLastCheck(const BankImage& image, uint16_t cmm) {
    convert::PutText(cmm, kLastCheckRecord, "LTBNKAC", image.bank);
    convert::PutNumber(cmm, kLastCheckRecord, "LTAPC", image.lastCheck);
    convert::PutDate(cmm, kLastCheckRecord, "LTAPCDT", image.lastCheckDate);
    convert::PutNumber(cmm, kLastCheckRecord, "LTAPCA", image.lastCheckAmount);
}

void AddNetAmount(CMTransImage& image, double net) {
    CMTransaction& t = image.transaction;
    if (net < 0) {
        t.add += -net;
        t.add -= t.subtract;
        t.subtract = 0;
    } else {
        t.subtract += net;
        t.subtract -= t.add;
        t.add = 0;
    }
    // A column left negative belongs in the other one.
    if (t.add < 0) {
        t.subtract = -t.add;
        t.add = 0;
    } else if (t.subtract < 0) {
        t.add = -t.subtract;
        t.subtract = 0;
    }
    if (t.reconciled != 1) t.reconciledAmount -= net;
    image.detail.amount += net;
}

int BuildCMTransaction(CMTransImage& image, uint16_t cmt, const CMTransactionSource& source, bool write,
                       FailedWrite* failed) {
    const modlibs::CheckImage& check = *source.check;
    image = {};
    xio_init_record(cmt, kTransactionRecord);
    convert::PutText(cmt, kTransactionRecord, "TBNKACC", check.bank);
    convert::PutNumber(cmt, kTransactionRecord, "TCHECK", check.check);
    if (xio_rd_record(cmt, kTransactionRecord, kBankCheckKey, 0) == XIO_OK) {
        CMTransaction& t = image.transaction;
        Read(t, cmt, kTransactionRecord);
        t.check = check.check;
        image.exists = 1;
        xio_init_record(cmt, kCashDetailRecord);
        convert::PutText(cmt, kCashDetailRecord, "CDBNKAC", t.bank);
        convert::PutNumber(cmt, kCashDetailRecord, "CDTRUN", t.run);
        convert::PutNumber(cmt, kCashDetailRecord, "CDTSEQ", t.sequence);
        const bool found = xio_rd_ge(cmt, kCashDetailRecord, 0, 0) == XIO_OK &&
                           xvl::equalNoCase(convert::GetText(cmt, kCashDetailRecord, "CDBNKAC"), t.bank) &&
                           convert::GetNumber(cmt, kCashDetailRecord, "CDTRUN") == t.run &&
                           convert::GetNumber(cmt, kCashDetailRecord, "CDTSEQ") == t.sequence;
        CashDetail& d = image.detail;
        if (found) {
            Read(d, cmt, kCashDetailRecord);
        } else {
            // A transaction without its cash detail: compose one from the transaction.
            d = {};
            d.bank = t.bank;
            d.transactionRun = d.run = t.run;
            d.transactionSequence = d.sequence = t.sequence;
            d.accountingDate = t.accountingDate;
            d.amount = t.subtract != 0 ? t.subtract : -t.add;
            d.application = t.application;
            d.batch = t.batch;
            d.source = t.source;
            d.depositLocation = t.depositLocation;
            d.task = kCmTaskAp;
            d.type = 1;
            d.upgradeSource = 3;
            if (write) {
                xio_init_record(cmt, kCashDetailRecord);
                Put(d, cmt, kCashDetailRecord);
                if (const int status = WriteNow(cmt, kCashDetailRecord, failed); status != XIO_OK) return status;
            }
        }
        AddNetAmount(image, source.net);
        return 0;
    }

    CMTransaction& t = image.transaction;
    CashDetail& d = image.detail;
    t.bank = d.bank = check.bank;
    t.run = d.transactionRun = d.run = source.run;
    t.sequence = d.transactionSequence = d.sequence = source.sequence;
    t.type = 1;
    t.depositType = t.withdrawalType = t.adjustmentType = "Does Not Apply";
    if (!convert::IsBlank(source.description)) t.description = source.description;
    else if (!convert::IsBlank(check.payeeName)) t.description = check.payeeName;
    else if (source.vendor && !convert::IsBlank(source.vendor->name)) t.description = source.vendor->name;
    else t.description = check.vendor;
    t.accountingDate = t.transactionDate = d.accountingDate = check.date;
    if (check.amount >= 0) t.subtract = check.amount;
    else t.add = -check.amount;
    t.posted = 1;
    t.glCredit = d.cashAccount = source.cashAccount;
    t.glJournal = static_cast<int16_t>(source.glJournal);
    const bool cleared = source.referenceDate && !IsUnsetDate(*source.referenceDate) &&
                         suite::xd_compare_dates(check.date, *source.referenceDate) <= 0;
    if (cleared) {
        t.reconciled = 3;
        t.reconciledDate = source.clearDate && !IsUnsetDate(*source.clearDate) ? *source.clearDate : check.date;
        t.reconciledAmount = -(source.reconciledAmount != 0 ? source.reconciledAmount : check.amount);
        t.statementDate =
            source.statementDate && !IsUnsetDate(*source.statementDate) ? *source.statementDate : check.date;
    } else {
        t.reconciled = 1;
    }
    t.currentReconciliation = cleared ? 2 : 1;
    t.lastReconciliation = 1;
    t.check = check.check;
    t.payee = check.vendor;
    t.jointPayee = check.jointPayee;
    t.checkType = static_cast<int16_t>(check.checkType);
    if (source.voided) {
        t.voided = 1;
        t.voidDate = check.date;
        t.voidAmount = check.amount;
        t.subtract = t.add = 0;
    }
    t.associated = check.associatedCheck;
    t.application = d.application = "XV";
    t.batch = d.batch = check.batch;
    t.source = d.source = static_cast<int16_t>(check.source);
    t.depositLocation = d.depositLocation = check.depositLocation;
    t.upgradeSource = d.upgradeSource = 3;
    d.amount = check.amount;
    d.task = kCmTaskAp;
    d.type = 1;
    image.exists = 0;
    return 0;
}

void WriteCMTransaction(const CMTransImage& image, uint16_t cmt) {
    xio_init_record(cmt, kTransactionRecord);
    Put(image.transaction, cmt, kTransactionRecord);
    xio_init_record(cmt, kCashDetailRecord);
    Put(image.detail, cmt, kCashDetailRecord);
}

}  // namespace dz::ap
