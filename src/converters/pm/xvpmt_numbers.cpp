// Batch, run, sequence and payment-ID numbering of the PM transaction converters, and the
// payment groups that pass 1 gathers and pass 2 checks.
#include "converters/pm/xvpmt.h"

#include "platform/datafile/stored_number.h"
#include "platform/datafile/xio.h"

#include <utility>

namespace dz::pm {

using namespace convert;

// ---- Payment IDs --------------------------------------------------------------------------------

double RenumberPaymentId(double id, std::map<double, double>& map, double startLast, double& last, bool enter) {
    if (id == 0) return 0;
    // An ID met before keeps its new ID and leaves the last ID given alone: it counted when it
    // was entered (after the numbers started again at 1, raising it would undo that).
    if (auto it = map.find(id); it != map.end()) return it->second;
    double next = startLast + static_cast<double>(map.size()) + 1;
    if (next > kLastPossiblePaymentId) {
        // The numbers start again at 1; the last ID given follows them round.
        next -= kLastPossiblePaymentId;
        if (enter && last > 999990000) last = next;
    }
    if (!enter) return next;
    map.emplace(id, next);
    if (next > last) last = next;
    return next;
}

double xvPMT::MapPaymentId(uint16_t pmt, const xvl::xvlImpInfo& info) {
    if (info.FileNumUsed() != pmt) return 0;
    double id = 0;
    if (info.ImportedRecs() == kPmtRecChargeFlow) {
        if (xio_get_field_result(pmt, kPmtRecChargeFlow, FieldNo(pmt, kPmtRecChargeFlow, "CFCODE")) != 2) return 0;
        id = GetNumber(pmt, kPmtRecChargeFlow, "CFPMTID");
    } else if (info.ImportedRecs() == kPmtRecMiscIncome) {
        id = GetNumber(pmt, kPmtRecMiscIncome, "MIPMTID");
    }
    double last = LastPaymentId;
    return RenumberPaymentId(id, PaymentIdMap, StartLastPaymentId, last, false);
}

// ---- Batches and the run ------------------------------------------------------------------------

namespace {

void StageBatchKey(uint16_t pmt, const std::string& batch) {
    xio_init_record(pmt, kPmtRecBatch);
    PutText(pmt, kPmtRecBatch, "BAPPL", kPmtAppl);
    PutNumber(pmt, kPmtRecBatch, "BSOURCE", kPmtBatchSource);
    PutText(pmt, kPmtRecBatch, "BATCH", batch);
}

}  // namespace

bool xvPMT::InitBatchNumbers(uint16_t pmt, std::string& failure) {
    if (xio_rd_header(pms, kPmsHdrLast, 0) != XIO_OK) return false;
    const uint16_t lastBatchNo = HeaderFieldNo(pms, kPmsHdrLast, "LASTBAT");
    const std::string lastBatch = GetText(pms, lastBatchNo);
    const double lastPayment = GetNumber(pms, HeaderFieldNo(pms, kPmsHdrLast, "LASTPMT"));
    xio_free_header(pms, kPmsHdrLast);

    // A LASTBAT that is not a number counts as 0; a batch number is one the field holds.
    xio_fld_def batchDef;
    const bool batchDefined = xio_get_fld_def(pms, lastBatchNo, batchDef) == XIO_OK;
    const std::optional<double> batch = FirstFreeBatch(
        lastBatch, [&](double n) { return batchDefined && xio_fits_field(batchDef, n); },
        [&](double candidate) {
            StageBatchKey(pmt, WholeText(candidate));
            return xio_find_record(pmt, kPmtRecBatch, 0) == XIO_OK;
        });
    if (!batch) {
        failure = Msg(12016);
        return false;
    }
    BatchNumber = WholeText(*batch);
    StartLastPaymentId = LastPaymentId = lastPayment;

    if (xio_rd_header(pmt, kPmtHdrRun, 0) != XIO_OK) return false;
    const uint16_t lastRunNo = HeaderFieldNo(pmt, kPmtHdrRun, "LASTRUN");
    RunNumber = GetNumber(pmt, lastRunNo) + 1;
    xio_free_header(pmt, kPmtHdrRun);
    xio_fld_def runDef;
    if (xio_get_fld_def(pmt, lastRunNo, runDef) != XIO_OK || !xio_fits_field(runDef, RunNumber - 1) ||
        !xio_fits_field(runDef, RunNumber)) {
        failure = Msg(12016);
        return false;
    }

    AccountingMethod = PmAccountingMethod();
    CustomList types;
    types.Load(kSalesTypeList);
    SalesTypeList = types.values;
    DefaultSalesType = types.first;
    return true;
}

bool xvPMT::WriteBatchRecord(uint16_t pmt, const std::string& batch, const x_date_type& date) {
    if (batch.empty()) return false;
    StageBatchKey(pmt, batch);
    if (xio_find_record(pmt, kPmtRecBatch, 0) == XIO_OK) return true;
    const std::string description = "Batch # " + batch;
    PutText(pmt, kPmtRecBatch, "BSDESC", description);
    PutText(pmt, kPmtRecBatch, "BDESC", description);
    PutDate(pmt, kPmtRecBatch, "BDATE", date);
    return xio_wr_record(pmt, kPmtRecBatch) == XIO_OK;
}

// ---- Payment groups -----------------------------------------------------------------------------

namespace {

std::string InvalidMemberText(double paymentId, uint32_t line) {
    return Msg(12578, WholeText(paymentId), convert::FormatInt("%d", static_cast<long>(line)));
}

}  // namespace

MiscIncomePaymentGroup::MiscIncomePaymentGroup(uint32_t line, double paymentId)
    : Invalid(1), FirstBadLine(line), PaymentId(paymentId) {}

MiscIncomePaymentGroup::MiscIncomePaymentGroup(double miscIncomeAmount, double paymentAmount, double paymentId,
                                               std::string property, std::string source, std::string batch,
                                               std::string bank, uint32_t paymentLine)
    : MiscIncomeTotal(miscIncomeAmount),
      PaymentId(paymentId),
      PaymentProperty(std::move(property)),
      PaymentSource(std::move(source)),
      PaymentBatch(std::move(batch)),
      ReceivingBank(std::move(bank)),
      HasPayment(1),
      PaymentLine(paymentLine),
      PaymentAmount(paymentAmount) {}

void MiscIncomePaymentGroup::Add(double amount, bool invalid, uint32_t line) {
    MiscIncomeTotal += amount;
    if (invalid) Invalid = 1;
    if (FirstBadLine == 0 && line != 0) FirstBadLine = line;
}

bool MiscIncomePaymentGroup::Check(std::string& reason, std::string& amountReason, bool checkAmounts) {
    reason.clear();
    if (Invalid) {
        reason = InvalidMemberText(PaymentId, FirstBadLine);
        return false;
    }
    if (checkAmounts && PaymentAmount != MiscIncomeTotal) {
        // Every later member of the group fails on the payment's line.
        Invalid = 1;
        amountReason = Msg(12795, Amount(PaymentAmount), PaymentSource, Amount(MiscIncomeTotal));
        if (FirstBadLine == 0) FirstBadLine = PaymentLine;
        return false;
    }
    return true;
}

ChargeFlowPaymentGroup::ChargeFlowPaymentGroup(uint32_t line, double paymentId)
    : Invalid(1), FirstBadLine(line), PaymentId(paymentId) {}

ChargeFlowPaymentGroup::ChargeFlowPaymentGroup(double paymentAmount, double itemAmount, double paymentId,
                                               bool returned)
    : PaymentAmount(paymentAmount),
      ItemTotal(itemAmount),
      NonReturnedChecks(returned ? 0 : 1),
      ReturnedChecks(returned ? 1 : 0),
      PaymentId(paymentId) {}

void ChargeFlowPaymentGroup::Add(double itemAmount, bool invalid, uint32_t line, double paymentAmount,
                                 bool nonReturned, bool returned) {
    ItemTotal += itemAmount;
    if (invalid) Invalid = 1;
    if (paymentAmount != 0) PaymentAmount += paymentAmount;
    if (nonReturned) ++NonReturnedChecks;
    if (returned) ++ReturnedChecks;
    if (FirstBadLine == 0 && line != 0) FirstBadLine = line;
}

bool ChargeFlowPaymentGroup::Check(std::string& reason) {
    reason.clear();
    if (Invalid) {
        reason = InvalidMemberText(PaymentId, FirstBadLine);
        return false;
    }
    if (NonReturnedChecks > 1) {
        reason = Msg(12579, convert::FormatInt("%d", NonReturnedChecks), WholeText(PaymentId));
        return false;
    }
    if (ReturnedChecks > 1) {
        reason = Msg(12580, convert::FormatInt("%d", ReturnedChecks), WholeText(PaymentId));
        return false;
    }
    return true;
}

}  // namespace dz::pm
