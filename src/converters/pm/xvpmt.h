// The PM transaction converters: new transactions (conversion type 605, `xvPMT`, into the
// transaction file 1) and history transactions (606, `xvPMH`, into file 5). A text file mixes
// charge flows (record 4), misc incomes (5), payments (2) and sales volumes (9). A payment
// stands on the line after the charge flow or misc income that refers to it and is accepted or
// rejected with it; several transactions may share one payment, so the file is read twice:
//
//   pass 1 (ScanPayments)    every record through its handler, nothing printed, nothing written;
//                            the payment groups of the file are gathered
//   pass 2 (ConvertRecords)  every record through its handler again, judged by its whole group,
//                            written with its payment (Convert), batch records made
//
// and at the end of a conversion the PM System header (last batch, last payment ID) and the
// transaction file's header (last run) are updated.
//
// The class is split over three sources:
//   xvpmt.cpp          the frame: files, both passes, dispatch, the following payment, headers
//   xvpmt_numbers.cpp  batch, run, sequence and payment-ID numbering; the payment groups
//   xvpmt_records.cpp  the sales-volume handler and the lookup cache
//   xvpmt_flows.cpp    the charge-flow and misc-income handlers with their payments
#pragma once

#include "convert/convert_file.h"
#include "convert/field_numbers.h"
#include "converters/pm/pm_shared.h"
#include "platform/import/xvl_import.h"

#include <cstdint>
#include <cstdio>
#include <map>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

namespace dz::pm {

// Records of the transaction file.
inline constexpr uint16_t kPmtRecBatch = 1, kPmtRecPayment = 2, kPmtRecChargeFlow = 4, kPmtRecMiscIncome = 5,
                          kPmtRecSalesVolume = 9;
inline constexpr uint16_t kPmtHdrRun = 1;   // LASTRUN
inline constexpr uint16_t kPmsHdrLast = 1;  // LASTBAT, LASTPMT
// Batch records of the conversion: application "XV", source 22.
inline constexpr const char* kPmtAppl = "XV";
inline constexpr double kPmtBatchSource = 22;
// Payment IDs run from 1 to 999999999 and then start again at 1.
inline constexpr double kLastPossiblePaymentId = 999999999;

// The misc incomes of one payment ID (amounts in hundredths).
struct MiscIncomePaymentGroup {
    double MiscIncomeTotal = 0;
    uint8_t Invalid = 0;
    uint32_t FirstBadLine = 0;
    double PaymentId = 0;
    std::string PaymentProperty;
    std::string PaymentSource;
    std::string PaymentBatch;
    std::string ReceivingBank;
    uint8_t HasPayment = 0;
    uint32_t PaymentLine = 0;
    double PaymentAmount = 0;

    MiscIncomePaymentGroup() = default;
    // A group opened invalid.
    MiscIncomePaymentGroup(uint32_t line, double paymentId);
    // A group opened by a misc income with its payment.
    MiscIncomePaymentGroup(double miscIncomeAmount, double paymentAmount, double paymentId, std::string property,
                           std::string source, std::string batch, std::string bank, uint32_t paymentLine);

    void Add(double amount, bool invalid, uint32_t line);
    // 12578 in `reason` for a group with an invalid member; with `checkAmounts`, 12795 in
    // `amountReason` when the payment does not match the sum (the group then turns invalid).
    bool Check(std::string& reason, std::string& amountReason, bool checkAmounts);
};

// The charge flows of one payment ID.
struct ChargeFlowPaymentGroup {
    double PaymentAmount = 0;
    double ItemTotal = 0;
    uint8_t Invalid = 0;
    uint16_t NonReturnedChecks = 0;
    uint16_t ReturnedChecks = 0;
    uint32_t FirstBadLine = 0;
    double PaymentId = 0;

    ChargeFlowPaymentGroup() = default;
    ChargeFlowPaymentGroup(uint32_t line, double paymentId);
    ChargeFlowPaymentGroup(double paymentAmount, double itemAmount, double paymentId, bool returned);

    void Add(double itemAmount, bool invalid, uint32_t line, double paymentAmount, bool nonReturned, bool returned);
    // 12578, 12579 or 12580 in `reason`.
    bool Check(std::string& reason);
};

// The new ID of text-file payment ID `id`: the one `map` holds, else the next after `startLast`
// (past 999999999 the numbers start again at 1). `enter` adds a new pair to the map and keeps
// `last` (the last ID given) up to date; without it nothing changes. An ID already in the map
// changes nothing either.
double RenumberPaymentId(double id, std::map<double, double>& map, double startLast, double& last, bool enter);

// The first batch number free on file: LASTBAT + 1 (1 for a LASTBAT that is 0 or not a
// number), moved past the batch records `exists` finds. Nothing when LASTBAT reads as a number
// that is not a batch number the field holds (`fits`: "-5", "inf", "1e16"), or when the numbers
// run past what it holds: such a number cannot be raised.
template <typename Fits, typename Exists>
std::optional<double> FirstFreeBatch(const std::string& lastBatch, Fits fits, Exists exists) {
    double last = 0;
    if (std::sscanf(lastBatch.c_str(), "%lf", &last) != 1) last = 0;
    if (!fits(last)) return std::nullopt;
    double candidate = last == 0 ? 1 : last + 1;
    while (fits(candidate) && exists(candidate)) candidate += 1;
    if (!fits(candidate)) return std::nullopt;
    return candidate;
}

class xvPMT : public PmConverter {
public:
    xvPMT();

    // Without GL or CM: 9844 or 9845 with the missing module's entry; else the profile's files.
    bool OpenFiles(convert::OpenFilesList& list, uint16_t commandId, uint16_t& error) override;

    bool IsHistory() const { return IsHistory_ != 0; }

    // ---- Numbering -------------------------------------------------------------------------------
    // Batch number, last payment ID, run number, accounting method and sales types of the run.
    // False when a header cannot be read (`failure` left empty), or with 12016 in `failure`
    // when LASTBAT or LASTRUN cannot be raised.
    bool InitBatchNumbers(uint16_t pmt, std::string& failure);
    double NextSequenceNumber() { return SequenceCounter++; }
    // The new ID the current record's payment would receive (CFPMTID of a payment charge flow,
    // MIPMTID of a misc income), nothing entered; 0 for any other record.
    double MapPaymentId(uint16_t pmt, const xvl::xvlImpInfo& info);
    // The new ID of a text-file payment ID, entered (the handlers' renumbering).
    double NewPaymentId(double id) {
        return RenumberPaymentId(id, PaymentIdMap, StartLastPaymentId, LastPaymentId, true);
    }
    // Writes the batch record of `batch` unless it is on file; false for an empty batch or a
    // failed write.
    bool WriteBatchRecord(uint16_t pmt, const std::string& batch, const x_date_type& date);

    // ---- Record handlers: true accepts (with the payment), false rejects with a reason set ----------
    bool ConvertSalesVolume(uint16_t pmt, xvl::xvlImpInfo& info, std::string& reason,
                            convert::MessageList& messages, bool converting);
    bool ConvertChargeFlow(uint16_t pmt, xvl::xvlImpInfo& info, std::string& reason, std::string& paymentReason,
                           convert::MessageList& messages, convert::MessageList& paymentMessages, bool converting,
                           bool& hasPayment, uint32_t& lineCounter, bool firstPass, xvl::xvlImport& import);
    bool ConvertMiscIncome(uint16_t pmt, xvl::xvlImpInfo& info, xvl::xvlImpInfo& paymentInfo, std::string& reason,
                           std::string& paymentReason, convert::MessageList& messages,
                           convert::MessageList& paymentMessages, bool converting, bool hasPayment, bool firstPass);
    // The misc income's own fields; its payment's fields (with the pair's match); the match of a
    // misc income with its payment (`fromPayment`: the payment buffer, else its group).
    bool ValidateMITransaction(uint16_t pmt, xvl::xvlImpInfo& info, std::string& reason,
                               convert::MessageList& messages, bool converting);
    bool ValidatePaymentTransaction(uint16_t pmt, xvl::xvlImpInfo& info, std::string& paymentReason,
                                    convert::MessageList& messages, convert::MessageList& paymentMessages,
                                    bool converting);
    bool CheckPaymentMatchesMiscIncome(uint16_t pmt, std::string& reason, convert::MessageList& messages,
                                       bool fromPayment);

    // The bank, check number and misc ID a payment of `method` does not keep, each cleared with
    // a note on the payment's list.
    void ClearByMethod(uint16_t pmt, int method, convert::MessageList& paymentMessages, bool converting);

    // ---- State of the run (the handlers read and move it) ---------------------------------------
    std::vector<std::string> SalesTypeList;
    std::string DefaultSalesType;
    std::map<double, std::string> PaymentTenants;
    std::map<double, double> PaymentIdMap;
    std::map<double, ChargeFlowPaymentGroup> ChargeFlowGroups;
    std::map<double, MiscIncomePaymentGroup> MiscIncomeGroups;
    uint8_t IsHistory_ = 0;
    std::string BatchNumber;
    uint8_t BatchWritten = 0;
    x_date_type RunDate;
    double RunNumber = 0;
    uint8_t RunUsed = 0;
    double SequenceCounter = 1.0;
    double StartLastPaymentId = 0;
    double LastPaymentId = 0;
    uint16_t pms = 0, pmp = 0, pmn = 0, pml = 0, pmr = 0, glm = 0, cmm = 0;
    uint16_t AccountingMethod = 0;

protected:
    uint16_t TransactionFileNo() const { return IsHistory() ? kPmtHistoryFile : kPmtNewFile; }
    convert::ConverterProfile Profile() const override;

    bool LoadSettings(convert::ConvertContext& ctx, std::string& failure) override;
    // Pass 1, the stop check between the passes, pass 2.
    bool ConvertRecords(convert::ConvertContext& ctx) override;
    // The handler of the record's type; 12557 for a payment no transaction took along, 12070
    // for any other record.
    bool DispatchRecord(convert::ConvertContext& ctx, xvl::xvlImpInfo& info, std::string& reason) override;
    // Convert: the PM System and transaction headers; then the missing sales types.
    bool FinishConversion(convert::ConvertContext& ctx) override;
    // Writes a header back; the xio status. Virtual so that the tests can make it fail.
    virtual int WriteHeader(uint16_t file, uint16_t header);

    // Reads the payment that follows a charge flow or misc income (record 2 of the transaction
    // file on the next line). False when its line is refused (the payment reason is set).
    bool ReadFollowingPayment(convert::ConvertContext& ctx, xvl::xvlImpInfo& info);
    bool ScanPayments(convert::ConvertContext& ctx);
    bool ConvertPass2(convert::ConvertContext& ctx);
    // Pass 1's bookkeeping of the payment groups after one record.
    void NoteGroups(uint16_t pmt, const xvl::xvlImpInfo& info, double key, bool invalid, uint32_t line,
                    bool converting);
    // A returned check waits until its charge flow is written: then the earlier payment it
    // returns is marked. The xio status of that update; virtual so that the tests can fail it.
    struct ReturnedCheck {
        bool pending = false;
        double textId = 0;  // the payment ID as the text gives it
        double runId = 0;   // the earlier payment's ID on file
        double check = 0;   // the returned check's number
    };
    ReturnedCheck returnedCheck_;
    virtual int MarkReturnedCheck(uint16_t pmt);
    // The run ID of text-file payment ID `id`, entered when new without counting as given.
    double EnterPaymentId(double id);
    // Pass 2: one record (with its payment) handled, written and reported.
    bool HandlePass2(convert::ConvertContext& ctx, xvl::xvlImpInfo& info, int status);
    bool WriteBatchRecords(convert::ConvertContext& ctx, uint16_t pmt, const xvl::xvlImpInfo& info);
    // Ends the file between the passes.
    bool StopBetweenPasses(convert::ConvertContext& ctx);
    // The pass's status text in the progress window and the task line; false when the run is to
    // stop. Virtual so that the tests can stop between the passes.
    virtual bool ShowPass(convert::ConvertContext& ctx, const char* text, int percent);

    // FindRecord through a cache: the files the handlers look records up in are not written by
    // this conversion, so what one record found holds for every later record of the text file
    // (a million transactions over a few hundred leases look up the same records again and again).
    // The answer stays valid until the next call.
    const Found& CachedFind(uint16_t file, uint16_t rec, const std::vector<KeyValue>& keys, const LookupScope& scope);
    Found uncached_;
    std::string lookupId_;  // the cache key being built, its storage kept from call to call
    std::unordered_map<std::string, Found> lookups_;
    // The sales-volume fields, by number, for the transaction file they were resolved against.
    enum SalesField : std::size_t {
        kSvProp, kSvUnit, kSvTen, kSvLease, kSvRev, kSvRDate, kSvTDate, kSvSDate, kSvVol, kSvType,
        kSvSType, kSvSCat, kSvRun, kSvSeq, kSvAppl, kSvBatch, kSvBSrc, kSvLrCmb, kSalesFields
    };
    convert::FieldNumbers<kSalesFields> sales_;
    uint16_t salesResolvedFor_ = 0;
    // The normal receiving bank of each property a misc income names (POPBANK), read once:
    // this conversion never writes properties. Absent (nullopt) when the property is not on file.
    std::unordered_map<std::string, std::optional<std::string>> propertyBanks_;
    std::unordered_map<std::string, x_date_type> yearEnds_;  // by the lease's stored spelling
    // What the lookups of a sales volume gave, by its property, unit, tenant, lease, revision and
    // sales category as the cache's keys are made: their stored spellings. Only a line that
    // found all of them on file adds one.
    struct SalesFacts {
        std::string prop, unit, tenant, lease, category;
    };
    std::unordered_map<std::string, SalesFacts> salesFacts_;
    std::string salesKey_;  // the key being built, its storage kept from call to call

    // The payment read ahead with the current record, and what the handlers leave for it.
    xvl::xvlImpInfo paymentInfo_;
    int paymentStatus_ = 0;
    std::string paymentReason_;
    convert::MessageList paymentMessages_;
    bool hasPayment_ = false;
    bool firstPass_ = true;
    uint32_t lineCounter_ = 0;
};

// The same conversion on the history transactions.
class xvPMH : public xvPMT {
public:
    bool OpenFiles(convert::OpenFilesList& list, uint16_t commandId, uint16_t& error) override;
    void ConvertFile(convert::OpenFilesList& list, const convert::TextFileEntry& entry,
                     convert::ConvertProgress* progress, int printDef, ui::zqTask& task, const std::string& tableName,
                     convert::ConversionOptions* options) override;
    void PrefillTables(convert::OpenFilesList& list, const convert::TextFileEntry& entry,
                       convert::ConvertProgress* progress, ui::zqTask& task, void* prefillContext) override;
};

}  // namespace dz::pm
