// The JC transaction converter (conversion type 203): every line of a JC transaction text file
// becomes one transaction (record 1) of the JC transaction file ("JCT", file 6, or file 7 when the
// company keeps its job cost transactions there), checked against the jobs, standard categories
// and settings of the JC master file ("JCM" 1), which it only reads. Convert registers the whole
// text file as one JC batch: a new run number of the transaction file, the batch text, sequence
// numbers 1, 2, 3 ... in the order of the accepted lines, application "XV" and source 1.
//
// It is its profile plus its record handlers (docs/converters.md); what is its own:
//   - LoadSettings registers the batch and takes the run number (Convert only), then reads the
//     JC settings and the JC date context;
//   - DispatchRecord refuses custom-field records and records of other types, and hands each
//     transaction to ConvertTransaction (xvjct_transaction.cpp);
//   - ConvertFile ends the batch once the sequence returned, however the file ended.
#pragma once

#include "convert/convert_file.h"
#include "convert/converter.h"
#include "convert/field_numbers.h"
#include "platform/modlibs/entry_types.h"
#include "platform/suite/zc.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <unordered_map>

namespace dz::xvl {
class xvlImport;
class xvlImpInfo;
}  // namespace dz::xvl

namespace dz::jc {

using JCDateContext = modlibs::entry::JCDateContext;

// The JC transaction record.
inline constexpr uint16_t kRecJcTransaction = 1;
// The default billing level when the JC settings give none (AR keeps billing levels per job).
inline constexpr uint16_t kNoBillingLevel = 65535;

// The JC transaction file of the open company: 7 when it keeps its job cost transactions in the
// history file, else 6.
uint16_t JctFileNumber();

// Cuts `costCode` (key format 18, formatted or not) down to its first `keep` sections: every
// later section that is not zero or blank is overwritten with '0' over its length; blank and
// empty sections stay as they are. The cost code comes back unformatted. Always 1.
int BuildCostCodeKey(std::string& costCode, int keep);

// True when an accounting date passes the JC settings' window: not after the last accounting
// date, and, when periods are used, not after the period end. An unset bound, or no context at
// all, never fails.
bool CheckDateWindow(const x_date_type& date, const JCDateContext* context, bool periodsUsed);

class xvJCT : public convert::xvConvert {
public:
    xvJCT() = default;
    // Frees the date context and ends a batch that is still open.
    ~xvJCT() override;

    // The transaction file (file 6 or 7) it writes and the JC master file it reads; the JC
    // master file is opened first (code 10, flag 0), then the transaction file (code 12, flag 1).
    convert::ConverterProfile Profile() const override;
    // The common sequence, the report titled by the transaction file's own name; then the batch
    // is ended however the file ended.
    void ConvertFile(convert::OpenFilesList& list, const convert::TextFileEntry& entry,
                     convert::ConvertProgress* progress, int printDef, ui::zqTask& task, const std::string& tableName,
                     convert::ConversionOptions* options) override;

    // Reads the JC settings from header 2 of the JC master file `jcm` and sets up the date
    // context. False when the settings cannot be read.
    bool ReadSettings(uint16_t jcm, uint16_t commandId);

    // Checks and completes the transaction staged in the JC transaction buffer (`jct`). False
    // rejects it with `reason`; true accepts it, warnings appended to `messages`.
    bool ConvertTransaction(uint16_t jct, xvl::xvlImpInfo& info, std::string& reason,
                            convert::MessageList& messages, bool converting, const xvl::xvlImport& import);

    // The batch's callbacks: the record callback keeps the batch record and its text; the end
    // callback has nothing to do.
    void BatchRecordCallback(const suite::zb_batch_record& record);
    static void BatchNullCallback() {}

    // ---- The state of the file being converted ------------------------------------------------
    JCDateContext* dateContext = nullptr;  // owned by the JC module; freed by the destructor
    uint16_t jcMasterFile = 0;
    // Kept whole: TRUN holds eight digits, and a 16-bit number would turn negative at 32768.
    uint32_t runNumber = 0;
    int32_t sequenceNumber = 0;
    std::string batchName;
    uint16_t defaultBillingLevel = kNoBillingLevel;
    bool extrasTracked = false;
    bool categoriesUsed = false;
    bool periodsUsed = false;

protected:
    // Convert: the batch and its run number. Then the JC settings.
    bool LoadSettings(convert::ConvertContext& ctx, std::string& failure) override;
    bool DispatchRecord(convert::ConvertContext& ctx, xvl::xvlImpInfo& info, std::string& reason) override;

private:
    // Registers the batch and takes the next run number; false when either fails.
    bool SetUpBatch(convert::ConvertContext& ctx, std::string& failure);
    // The billing level of `job`: its JBLEVEL when on file, else the default level (-1 for none).
    int BillingLevel(const std::string& job);
    // True when `category` is a standard category of the JC master file.
    bool StandardCategory(const std::string& category);

    // The transaction fields the record handler reads and writes, resolved once per text file.
    enum TxField : std::size_t {
        kTJOB, kTRANDAT, kTEXTRA, kTCAT, kTPHASE, kTRANTYP, kTACTDAT, kTRDPLOC, kTRDPRUN, kTRDPSEQ, kTSTATUS,
        kTDEPADJ, kTADJID, kTRUN, kTSEQ, kTAPPL, kTBATCH, kTSOURCE, kTOSRC, kTINV, kTVENDOR, kTDSEQ, kTCHECK,
        kTBANK, kTDEPDAT, kTDEPID, kTEQ, kTECCODE, kTERCODE, kTEQCT, kTSITEM, kTSUB, kTPEDATE, kTEMPL,
        kTCHKSEQ, kTxFields
    };
    static const convert::FieldNames<kTxFields> kTxNames;
    convert::FieldNumbers<kTxFields> tx_;
    uint16_t txHandle_ = 0;  // the handle tx_ was resolved for; 0 when a text file starts
    // The last cost code the zero-section rule was checked for, and its answer: the lines of
    // one cost code come together.
    std::string zeroChecked_;
    bool zeroValid_ = false;

    suite::zb_batch_record batchRecord_;  // id 0 when no batch is open
    // The JC master file is only read while the text file is converted: jobs' levels and
    // standard categories are looked up once each.
    std::unordered_map<std::string, int> jobLevels_;
    std::unordered_map<std::string, bool> standardCategories_;
};

}  // namespace dz::jc
