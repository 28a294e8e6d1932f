// The GL transaction converter (conversion type 102): every line of a GL transaction text file
// becomes one transaction (record 1) of the GL transaction file ("GLT", file number 6), checked
// against the GL master file ("GLM", file number 1). Convert posts the whole text file as one
// batch of the GL module: a new run number for the transaction file, the batch text, sequence
// numbers 1, 2, 3 ... in line order, application "XV" and source 1.
//
// The converter runs the common sequence and record loop (convert_file.h); what is its own:
//   - LoadSettings sets up the batch (Convert only) and reads the company's accounting method;
//   - DispatchRecord refuses custom-field records and records of other types, and hands each
//     transaction to ConvertTransaction;
//   - ConvertFile ends the batch once the sequence returned, however the file ended.
#pragma once

#include "convert/convert_file.h"
#include "convert/converter.h"
#include "convert/field_numbers.h"
#include "convert/reports.h"
#include "platform/suite/zc.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <unordered_map>

namespace dz::xvl {
class xvlImport;
class xvlImpInfo;
}  // namespace dz::xvl

namespace dz::gl {

// The GL transaction record.
inline constexpr uint16_t kRecTransaction = 1;

class xvGLT : public convert::xvConvert {
public:
    xvGLT() = default;
    // Ends a batch that is still open (idempotent).
    ~xvGLT() override;

    convert::ConverterProfile Profile() const override;

    // ---- The converter's own operations -----------------------------------------------------
    void ConvertFile(convert::OpenFilesList& list, const convert::TextFileEntry& entry,
                     convert::ConvertProgress* progress, int printDef, ui::zqTask& task, const std::string& tableName,
                     convert::ConversionOptions* options) override;

    // Checks and completes the transaction staged in the GL transaction buffer (`glt`), looking
    // accounts up in the GL master file (`glm`). False rejects it with `reason`; true accepts it,
    // conversion notes appended to `notes`.
    bool ConvertTransaction(uint16_t glt, uint16_t glm, xvl::xvlImpInfo& info, std::string& reason,
                            convert::MessageList& notes, bool converting, const xvl::xvlImport& import);

    // Reads the company's accounting method (1 accrual, 2 cash, 3 both). Always true.
    bool GetControlDef();

    // The batch's callbacks: the record callback keeps the batch record the batch service hands
    // back; the end callback has nothing to do.
    void BatchRecordCallback(const suite::zb_batch_record& record);
    static void BatchEndCallback() {}

    // The state of the file being converted.
    uint32_t RunNumber() const { return runNumber; }
    int32_t SequenceNumber() const { return sequenceNumber; }
    uint16_t AccountingMethod() const { return accountingMethod; }
    const std::string& Batch() const { return batch; }
    void SetAccountingMethod(uint16_t method) { accountingMethod = method; }

protected:
    // Convert: the batch and its run number. Then the accounting method.
    bool LoadSettings(convert::ConvertContext& ctx, std::string& failure) override;
    bool DispatchRecord(convert::ConvertContext& ctx, xvl::xvlImpInfo& info, std::string& reason) override;

private:
    // Registers the batch; false when the batch service could not set one up, or no run number
    // could be taken.
    bool SetUpBatch(convert::ConvertContext& ctx, std::string& failure);
    // True when the accounting date lies after the last period end of the account's fiscal
    // calendar, which a fiscal entity (made and released for the purpose) answers once per account
    // and text file. No fiscal entity, an account it refuses or no such date: false (not checked).
    bool TooFarInFuture(uint16_t glm, const std::string& account, const x_date_type& date);
    // True when `account` is on file in the GL master file.
    bool AccountOnFile(uint16_t glm, const std::string& account);

    uint16_t glMasterFile = 0;
    // The run number is kept whole: TRUN holds eight digits, and a 16-bit number would post run
    // 65,536 under run 0's keys.
    uint32_t runNumber = 0;
    uint16_t accountingMethod = 0;
    int32_t sequenceNumber = 0;
    std::string batch;
    suite::zb_batch_record batchRecord_;  // id 0 when no batch is open
    // The last period end of each account met in the text file (none: not checked).
    std::unordered_map<std::string, std::optional<x_date_type>> lastPeriodEnds_;
    // The transaction's field numbers, resolved for the file `fieldsOf_`.
    static constexpr std::size_t kTransactionFields = 30;
    convert::FieldNumbers<kTransactionFields> fields_;
    uint16_t fieldsOf_ = 0;
    // Whether each account (or intercompany account) met in the text file is on file.
    std::unordered_map<std::string, bool> accountsOnFile_;
};

}  // namespace dz::gl
