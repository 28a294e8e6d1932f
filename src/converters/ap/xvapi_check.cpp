// The Check record: required fields, the payment number, the bank in CM, the summary-vendor
// test, the conversion's stamp and the check's CM transaction.
#include "converters/ap/xvapi.h"

#include "convert/lookups.h"
#include "convert/record_fields.h"
#include "modules/entries.h"
#include "platform/datafile/xio.h"
#include "platform/import/xvl_import.h"

namespace dz::ap {

using namespace convert;

namespace {

constexpr uint16_t kCmTransactionRecord = 1, kCmBankCheckKey = 6;
constexpr double kSummaryVendor = 4;

std::string BankAndCheck(const modlibs::CheckImage& check) {
    return check.bank + FormatNumber(", %.0f", check.check);
}

}  // namespace

bool xvAPI::ConvertCheck(xvl::xvlImpInfo& info, std::string& reason, GroupCallbackContext& group) {
    const uint16_t apm = group.apm;
    const bool converting = group.converting;
    modlibs::CheckImage check;
    modules::AP_GET_CHECK(apm, &check, 0);
    checkRead = true;
    const std::string checkWord = Term(8), CheckWord = TermCap(8);
    auto special = [&](const char* name) { return group.import->xvlImpGetSpecialValue(info.FormatID(), name); };
    const RecordWording w{reason, converting};

    if (IsBlank(check.bank)) return w.Reject(Msg(12767));
    if (check.check == 0) return w.Reject(Msg(12768, CheckWord, check.bank));
    if (IsBlank(check.vendor)) return w.Reject(Msg(12769, CheckWord, BankAndCheck(check)));
    if (IsUnsetDate(check.date)) return w.Reject(Msg(12770, CheckWord, CheckWord, BankAndCheck(check)));
    if (check.paymentNumber == 0) {
        check.paymentNumber = GetPaymentNumber(apm, check.bank, check.check);
        // A check is never posted with payment number 0: its payments could not find it.
        if (check.paymentNumber == 0) return w.Reject(Msg(12011));
    }

    BankImage bank;
    FailedWrite failed;
    if (ReadBank(bank, group.cmm, check.bank, converting, &failed) != 0) {
        if (failed.status != 0) return WriteFailed(failed.file, failed.record, failed.status, reason);
        return w.Reject(Msg(12694, check.bank, CheckWord));
    }

    const auto voided = special("CVOIDED");
    const bool isVoid = voided && Whole(voided->number) == 1;
    vendorImage = BlankVendor();
    if (ReadVendor(apm, check.vendor, vendorImage)) {
        if (vendorImage.type == kSummaryVendor && IsBlank(check.payeeName) && !isVoid)
            return w.Reject(Msg(12709, check.vendor));
    }
    if (check.associatedCheck != 0) {
        Note(group, info, Msg(12771, checkWord, FormatNumber("%.0f", check.associatedCheck),
                              w.Was(), w.Number("1717/1718")));
        check.associatedCheck = 0;
    }
    if (!isVoid) check.batch = batchText;

    if (group.cmt != 0) {
        xio_init_record(group.cmt, kCmTransactionRecord);
        PutText(group.cmt, kCmTransactionRecord, "TBNKACC", check.bank);
        PutNumber(group.cmt, kCmTransactionRecord, "TCHECK", check.check);
        if (xio_find_record(group.cmt, kCmTransactionRecord, kCmBankCheckKey) == XIO_OK)
            return w.Reject(Msg(12772, CheckWord, checkWord, BankAndCheck(check)));

        const auto cleared = special("CCLEARD");
        const auto clearedAmount = special("CCLRAMT");
        const auto clearDate = special("CCLRDT");
        const auto statement = special("CSTMTDT");
        const auto description = special("CDESC");
        // Cleared checks clear whatever their date; the others by the run's cleared-through date.
        const x_date_type reference =
            cleared && Whole(cleared->number) != 0 ? x_date_type{9, 9, 9999} : clearedThrough;
        const x_date_type statementDay = statement && !IsUnsetDate(statement->date) ? statement->date : statementDate;
        CMTransactionSource source;
        source.check = &check;
        source.net = check.amount;
        source.run = cmtRun;
        source.sequence = static_cast<double>(cmtSequence) + 1;
        source.voided = isVoid;
        source.reconciledAmount = clearedAmount ? clearedAmount->number : 0;
        source.referenceDate = &reference;
        source.clearDate = clearDate ? &clearDate->date : nullptr;
        source.statementDate = &statementDay;
        source.description = description ? description->text : std::string();
        source.vendor = &vendorImage;
        source.glJournal = GLPJRN;
        CMTransImage transaction;
        failed = {};
        if (BuildCMTransaction(transaction, group.cmt, source, converting, &failed) != 0) {
            if (failed.status != 0) return WriteFailed(failed.file, failed.record, failed.status, reason);
            return w.Reject(Msg(12011));
        }
        if (transaction.exists == 0) ++cmtSequence;
        WriteCMTransaction(transaction, group.cmt);
        cmTransactions.push_back(std::move(transaction));
    }

    if (!isVoid) {
        check.application = "XV";
        check.created = 1;
        check.run = apmRun;
        check.sequence = ++apmSequence;
    } else if (group.cmt == 0) {
        Note(group, info, Msg(12782, checkWord, FormatNumber("%.0f", check.check),
                              w.Was(), w.Number("1729/1730")));
    }
    if (modules::AP_PUT_CHECK_OLD(apm, &check, 0) != 0) return w.Reject(Msg(12011));
    banks.push_back(std::move(bank));
    checks.push_back(std::move(check));
    return true;
}

bool xvAPI::LookupCheck(uint16_t apm, std::string& reason, bool pass1) {
    // A check already on file is never rejected by what the first pass found.
    if (pass1 || crossRefMap.size() == 0 || xio_find_record(apm, kRecCheck, 0) == XIO_OK) return true;
    const std::string value = FormatNumber("%.0f", GetNumber(apm, kRecCheck, "CHECK"));
    return Judged(apm, kRecCheck, "On check lookup: ", value, reason);
}

}  // namespace dz::ap
