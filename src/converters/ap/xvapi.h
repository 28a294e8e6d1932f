// The AP invoice converter (conversion type 402): invoices with their distributions and
// distribution payments, and checks, examined or converted into the AP master ("APM"), AP
// transaction ("APT"), CM master ("CMM"), CM transaction ("CMT") and tax master ("TXM") files.
//
// An AP invoice text file is read as record groups: an invoice followed by its distributions
// and payments, or a check on its own. The converter declares that structure to the import
// (the templates do not), and every group is converted, or rejected, as a whole.
//
// The file is read twice when it carries checks, or payments without distributions: the first
// pass only collects the checks and the invoices they pay into the cross-reference
// (xvapi_prepass.h) and finds the faults between them; the second converts group by group and
// rejects every group that the cross-reference found faulty, so that a check and its invoices
// are converted together or not at all. Convert posts the file as one AP batch.
//
// The class is split over several sources:
//   xvapi.cpp          files, the batch, the settings, prefill
//   xvapi_groups.cpp   the group structure, both passes, the group callbacks, the end notes
//   xvapi_prepass.cpp  the cross-reference (CrossReference)
//   xvapi_payment.cpp  payment numbers (PaymentNumberCache)
//   xvapi_invoice.cpp  the Invoice record (duplicates, new numbers, fields the conversion sets)
//   xvapi_distribution.cpp  the Distribution record (interface rules, accounts, signs)
//   xvapi_check.cpp    the Check record and its CM transaction
//   xvapi_amounts.cpp  the amount-sign check (AmountSet)
//   xvapi_cm.cpp       banks and CM transactions (BankImage, CMTransImage)
//   xvapi_accounts.cpp accounts formed from a prefix and a base account
//   xvapi_distpayment.cpp  the Dist payment record (checks, CM, vendor and 1099 totals)
//   xvapi_complete.cpp after an invoice group: paid invoices, totals, statuses, terms
//   xvapi_references.cpp  a distribution's references in CM, JC, GL and TX
//   xvapi_taxes.cpp    tax splits over tax groups and payments
//   xvapi_posting.cpp  year buckets, 1099 prefix totals, AP transactions
//   xvapi_vendor_totals.cpp  what invoices and payments add to a vendor; the totals rebuild
//   xvapi_post.cpp     writing a group, all or nothing
//   xvapi_reads.cpp    vendors and banks read once per pass
#pragma once

#include "convert/convert_file.h"
#include "convert/converter.h"
#include "convert/reports.h"
#include "converters/ap/xvapi_cm.h"
#include "converters/ap/xvapi_payment.h"
#include "converters/ap/xvapi_posting.h"
#include "converters/ap/xvapi_prepass.h"
#include "platform/import/xvl_rollback.h"
#include "platform/modlibs/ap_images.h"
#include "platform/suite/zc.h"

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

namespace dz::xvl {
class xvlImport;
class xvlImpInfo;
class xvlImpTemplate;
}  // namespace dz::xvl

namespace dz::ap {

// Record types of the AP invoice templates (records of the AP master file).
inline constexpr uint16_t kRecInvoice = 1;
inline constexpr uint16_t kRecDistribution = 2;
inline constexpr uint16_t kRecCheck = 4;
inline constexpr uint16_t kRecDistPayment = 6;

// What a template's record types make of the groups.
struct GroupShape {
    bool hasDistributions = true;      // Distribution records
    bool oneDistributionKind = false;  // Distributions or Dist payments, not both
    bool hasChecks = false;            // Check records
    bool distributionQueryFailed = false;
    // The first pass runs when the file has checks, or payments without distributions.
    bool RunsPrepass() const { return hasChecks || (!hasDistributions && !distributionQueryFailed); }
};

// Declares the groups of an AP invoice template whose records fill the AP master `apm`: an
// Invoice followed by any run of its Distributions and Dist payments, or a Check alone. Returns
// the messages that refuse the template (12004; 12387 then possibly 12460; 12460), in order;
// none when the groups are declared. `checkWord` names the Check record type in 12387.
std::vector<std::string> DeclareGroups(xvl::xvlImpTemplate& tpl, uint16_t apm, GroupShape& shape,
                                       const std::string& checkWord);

// The names of the tax-group note, each "'%s', ", on lines that begin with three blanks and end
// before `width` less 25; the last name loses its ", ".
std::vector<std::string> TaxGroupLines(const std::vector<std::string>& names, int width);

// A vendor image as a new one starts (for resetting an image without building a temporary).
const modlibs::VendorImage& BlankVendor();

// One message waiting to be printed with its group, by text-file line.
struct QueuedMessage {
    std::string id;            // the record's format id, or the group's
    uint16_t recordType = 0;
    std::string text;
};
using MessageQueue = std::multimap<uint32_t, QueuedMessage>;

// The outcome of one record handler: its reject reason, and the words and numbers its messages
// take in Convert (was, 1626) or Examine Files (will be, 1627).
struct RecordWording {
    std::string& reason;
    bool converting;
    bool Reject(std::string text) const {
        reason = std::move(text);
        return false;
    }
    std::string Was() const;   // "was" / "will be"
    std::string Were() const;  // "were" / "will be"
    std::string Number(const char* pair) const;
};

// Duplicate codes of an invoice: where its number was found already.
enum DuplicateCode : uint16_t {
    kNoDuplicate = 0,
    kInNewInvoices = 1,
    kInApMaster = 2,
    kInHistory = 4,
    kInTextFile = 99,
};

// A new number for duplicate invoice `invoice`: "<invoice>-a" to "-z", then "-1" to "-999",
// then "-1000" to "-9999", the invoice cut to leave room within `width` (15 when the width is
// below 4 or above 15). The first candidate `isFree` accepts; empty when none is.
std::string FindNewInvoiceNumber(const std::string& invoice, int width,
                                 const std::function<bool(const std::string&)>& isFree);
// The same search from candidate `from` on (0 is "-a"), leaving in `from` the candidate found
// (the count of candidates when none is).
std::string FindNewInvoiceNumber(const std::string& invoice, int width,
                                 const std::function<bool(const std::string&)>& isFree, int& from);

class xvAPI : public convert::xvConvert {
public:
    xvAPI();
    // Ends a batch that is still open (idempotent).
    ~xvAPI() override;

    // ---- The frame ------------------------------------------------------------------------------
    // APM (the main file), CMM, APT, CMT and TXM written; GLM and JCM read. Which of them a run
    // backs up and requires depends on the interfaces and on what OpenFiles opened, so the three
    // operations are the converter's own.
    convert::ConverterProfile Profile() const override;
    // 9845 (with a "CMM" entry) without CM; 9846 when the AP-to-CM interface warning is
    // declined (not asked in the "Substitution Tables" task); then APM, CMM, APT, CMT (when AP
    // creates CM entries), GLM and JCM (by interface), API 1, API 2 (when VRFYHST; may be
    // missing) and TXM (unless TAXUSE is 1).
    bool OpenFiles(convert::OpenFilesList& list, uint16_t commandId, uint16_t& error) override;
    void ConvertFile(convert::OpenFilesList& list, const convert::TextFileEntry& entry,
                     convert::ConvertProgress* progress, int printDef, ui::zqTask& task, const std::string& tableName,
                     convert::ConversionOptions* options) override;
    void PrefillTables(convert::OpenFilesList& list, const convert::TextFileEntry& entry,
                       convert::ConvertProgress* progress, ui::zqTask& task, void* prefillContext) override;

    // The data files of one pass, and where the group callback finds the pass.
    struct GroupCallbackContext {
        uint16_t apm = 0, cmm = 0, apt = 0, cmt = 0, newInvoices = 0, historyInvoices = 0, glm = 0, jcm = 0, txm = 0;
        MessageQueue* queue = nullptr;
        convert::MessageList* messages = nullptr;
        bool converting = false;
        convert::ConversionReport* report = nullptr;
        xvAPI* converter = nullptr;
        xvl::xvlImport* import = nullptr;
        bool pass1 = false;
        convert::ConvertContext* run = nullptr;
    };

    // Clears the current group's images, lists and working values (before and after every group).
    void ResetFileState();

    // ---- The cross-reference, from the AP master's record buffers ----------------------------
    void AddCheckRef(uint16_t apm, uint32_t line, bool bad);
    // The invoice's entry, bad too when its key cannot be placed; `key` its key, which its
    // payments name (with the invoice's badness).
    void AddInvoiceRef(uint16_t apm, const modlibs::InvoiceImage& invoice, uint32_t line, bool& bad, std::string& key);
    void AddDistPaymentRef(uint16_t apm, const modlibs::PaidDistImage& payment, const std::string& invoiceKey,
                           uint32_t line, bool bad);
    // The second pass: the check now in the buffer, the group's invoice. False rejects the group
    // with the cross-reference's finding.
    bool LookupCheck(uint16_t apm, std::string& reason, bool pass1);
    // The record handlers (both passes, both modes). False rejects the record, and its group,
    // with the reason; notes are queued under the record's line.
    bool ConvertInvoice(xvl::xvlImpInfo& info, std::string& reason, GroupCallbackContext& group);
    bool ConvertDistribution(xvl::xvlImpInfo& info, std::string& reason, GroupCallbackContext& group);
    bool ConvertCheck(xvl::xvlImpInfo& info, std::string& reason, GroupCallbackContext& group);
    bool ConvertDistPayment(xvl::xvlImpInfo& info, std::string& reason, GroupCallbackContext& group);
    // After an invoice group's last record (both passes, both modes): its paid invoices, totals,
    // statuses, references, terms dates and vendor totals, then what the first pass found against
    // it. False rejects the group with the reason.
    bool CompleteInvoice(GroupCallbackContext& group, const xvl::xvlImpInfo& head, std::string& reason);
    bool LookupInvoice(uint16_t apm, std::string& reason, bool pass1);
    // The entry of the record `record` now in the buffer: false with its finding as the reason
    // (`missing` and 12011 when it has none).
    bool Judged(uint16_t apm, uint16_t record, const char* missing, const std::string& value, std::string& reason);
    const CrossReference& CrossRefs() const { return crossRefMap; }

    // ---- Vendors and banks, read once per pass ------------------------------------------------
    // A text file names the same few vendors and banks group after group. Each is read once per
    // pass and kept by its key as the data file compares it; a group's posting, which writes
    // them, keeps what it wrote once the group stands and drops what it undid. The record
    // buffers are left alone by an answer kept.
    // The vendor `vendor` of the AP master into `image` (left as it was when it is not on file).
    bool ReadVendor(uint16_t apm, const std::string& vendor, modlibs::VendorImage& image);
    // ReadCMBank of the CM master `cmm`, once per bank.
    int ReadBank(BankImage& image, uint16_t cmm, const std::string& bank, bool write, FailedWrite* failed);
    // The posting put the vendor into the AP master's buffer, or wrote bank `bank`'s last check
    // now in the CM master's buffer: kept when the group stands.
    void VendorWritten(uint16_t apm);
    void BankWritten(const BankImage& bank, uint16_t cmm);
    // Whether bank `bank`'s last check, put into the CM master's buffer as the posting would
    // write it, is what a standing posting of this pass wrote last: rewriting it would change
    // nothing. Leaves the buffer holding the put record.
    bool BankLastCheckKept(const BankImage& bank, uint16_t cmm);
    // ReadPrefixTotals, from the file once per vendor, prefix and level (on file or not), then
    // as the pass's standing postings left them.
    uint16_t ReadTotals(PrefixTotalsImage& image, uint16_t apm, const modlibs::PaidDistImage& paid,
                        const std::string& prefix, int section, uint16_t level);
    // The posting put the prefix totals into the AP master's buffer: kept when the group stands.
    void PrefixTotalsWritten(uint16_t apm);

    // ---- Totals written when the file ends ---------------------------------------------------
    // A text file posts to the same vendors and prefix totals group after group. A posting
    // leaves the vendor and the prefix totals it changed in memory, as the file would store them
    // (the vendors and totals read once per pass, above): a group that stands keeps them there,
    // one that is undone drops them. Convert writes each changed row once, after the last group;
    // a file that ends before is restored from its backups, so no one reads the rows meanwhile.
    // False when a row could not be written: the file was ended (12013 out of disk space, else
    // 12011) and its data files restored.
    bool WriteKeptTotals(convert::ConvertContext& ctx);

    // The payment number of a check of `bank`: Convert takes it (LASTPMT), Examine Files counts
    // provisionally. 0 when none could be taken.
    double GetPaymentNumber(uint16_t apm, const std::string& bank, double check);

    // ---- The current group -----------------------------------------------------------------
    modlibs::InvoiceImage invoiceImage;
    std::map<uint16_t, modlibs::DistImage> DistributionMap;
    std::vector<modlibs::PaidInvoiceImage> paidInvoices;
    std::vector<modlibs::PaidDistImage> paidDists;
    std::vector<modlibs::CheckImage> checks;
    modlibs::VendorImage vendorImage;
    std::string groupInvoiceId;
    bool invoiceRead = false;  // the group's Invoice record reached its handler
    bool checkRead = false;    // the group's Check record did
    uint16_t duplicateCode = kNoDuplicate;
    bool renamed = false;                 // the invoice was given a new number
    uint16_t defaultDistSequence = 0;     // the last distribution's sequence
    std::vector<BankImage> banks;         // the banks the group's check and payments draw on
    std::vector<CMTransImage> cmTransactions;  // the CM transactions of the group's checks
    std::vector<PrefixTotalsImage> prefixTotals;  // the vendor's 1099 totals by GL prefix

    // ---- The file ---------------------------------------------------------------------------
    std::vector<std::string> taxGroupList;
    CrossReference crossRefMap;
    // The record-ID texts (letter case folded) of the invoices met in this pass; kept only in
    // duplicate-invoice mode 2.
    std::set<std::string> invoiceMap;
    // Duplicate-invoice mode 2: by vendor and invoice number as given, the candidate from which
    // the search for its next new number goes on in this pass.
    std::map<std::string, int> renumberFrom;
    // Examine Files: the dates of the checks that distribution payments create, by record-ID
    // text, so that a later payment naming another date is told.
    std::map<std::string, x_date_type> paidDistMap;
    // Whether `account` is in the GL master `glm`. The conversion only reads the GL master, so
    // each account is looked up once per text file.
    bool GlAccountOnFile(uint16_t glm, const std::string& account);
    std::string batchText;
    uint32_t apmRun = 0, cmtRun = 0, aptRun = 0;
    uint32_t apmSequence = 0, cmtSequence = 0, aptSequence = 0;
    GroupShape shape;
    uint32_t approvalUnusedLine = 0, discountUnusedLine = 0, deductionUnusedLine = 0, dateReceivedUnusedLine = 0,
             dateReceivedBlankLine = 0, paymentDateBlankLine = 0;

    // ---- Settings (LoadSettings) ------------------------------------------------------------
    bool glInterface = false, jcInterface = false, billingInterface = false;
    bool extrasTracked = false, categoriesUsed = false;
    uint16_t controlValue = 0;
    uint16_t GLOJRN = 0;
    x_date_type YREND, GYREND;
    uint16_t DTRCVU = 1, PMTDTU = 1, ACCDTU = 3, DTBASE = 1, DSCLVL = 2, MDLVL = 1;
    uint16_t USEICD1 = 0, USEICD2 = 0;
    uint16_t TAXUSE = 2;
    std::string DFLTTAX, GLSBPBL, GLAPPBL, GLRTPBL, GLMDED;
    uint16_t BNKMTHD = 1;
    std::string DFLTBNK;
    uint16_t USEAPVL = 0;
    std::string GLDTO, GLDFROM, GLDSC, GLPPS;
    uint16_t GLPJRN = 0;
    uint16_t MD1099 = 0, PRF1099 = 0;
    uint32_t paidTotalsMode = 1;
    uint32_t dupInvoiceMode = 1;
    x_date_type clearedThrough, statementDate;

protected:
    // Convert: the batch and its run numbers; then the settings and the run options.
    bool LoadSettings(convert::ConvertContext& ctx, std::string& failure) override;
    // The group structure, the first pass when it runs, then the second.
    bool ConvertRecords(convert::ConvertContext& ctx) override;
    // The record handlers of a group's records (both passes).
    bool DispatchRecord(convert::ConvertContext& ctx, xvl::xvlImpInfo& info, std::string& reason) override;

private:
    bool RunPrepass(convert::ConvertContext& ctx, MessageQueue& queue);
    bool ConvertGroups(convert::ConvertContext& ctx, MessageQueue& queue);
    static bool GroupCallback(xvl::xvlImpInfo& info, std::string& reason, void* context);
    // After a group's last record: its completion (checks and invoices against the
    // cross-reference). False rejects the group.
    bool AfterGroup(GroupCallbackContext& group, xvl::xvlImpInfo& info, std::string& reason);
    // Examine Files (and the first pass): whether the group's check or invoice could be written.
    bool ExamineGroup(GroupCallbackContext& group, xvl::xvlImpInfo& info, std::string& reason);
    // Convert: writes the group all or nothing (xvapi_post.cpp). False rejects it with the reason,
    // nothing of it on file; `endMessage` non-zero (12013 out of disk space, 12011 a write that
    // could not be undone) ends the file instead.
    bool PostGroup(GroupCallbackContext& group, xvl::xvlImpInfo& info, std::string& reason, int& endMessage);
    // Convert with paid-totals mode 1, before the first group: UpdateVendorTotals.
    bool RebuildVendorTotals(convert::ConvertContext& ctx);
    // Clears every vendor's year and 1099 totals and sums them again from the invoices and paid
    // distributions on file (xvapi_vendor_totals.cpp). False when it ended the file (a stop, or
    // a read or write that failed: reported, the data files restored, the batch ended).
    bool UpdateVendorTotals(convert::ConvertContext& ctx);
    // An accepted group's messages, by line; a rejected group to the reject file and report.
    bool FinishGroup(convert::ConvertContext& ctx, GroupCallbackContext& group, xvl::xvlImpInfo& info, int status,
                     bool accepted, const std::string& reason, MessageQueue& queue);
    bool PrintEndNotes(convert::ConvertContext& ctx);
    bool SetUpBatch(convert::ConvertContext& ctx, std::string& failure);
    GroupCallbackContext CallbackContext(convert::ConvertContext& ctx, MessageQueue& queue, bool pass1);
    void StageMessages(const xvl::xvlImpInfo& info, GroupCallbackContext& group);
    // Queues a note under the record's line.
    static void Note(GroupCallbackContext& group, const xvl::xvlImpInfo& info, std::string text);
    // Where the invoice now in the AP master's buffer (its key) is found already.
    uint16_t FindDuplicate(GroupCallbackContext& group, bool withTextFile);
    std::string InvoiceMapKey(uint16_t apm);

    // Forgets the vendors and banks read (at the start of a pass).
    void ForgetReads();
    // After a group's posting: what it wrote is kept when it stands, dropped when it was undone.
    void SettleWrites(bool stands);
    std::unordered_map<std::string, std::optional<modlibs::VendorImage>> vendors_;  // none: not on file
    std::unordered_map<std::string, BankImage> banks_;
    std::vector<std::pair<std::string, modlibs::VendorImage>> vendorsWritten_;
    std::vector<std::pair<std::string, BankImage>> banksWritten_;
    // The last-check records this pass's standing postings wrote, as stored (the bank's key
    // spelled as written): what a later posting need not write again.
    struct StoredLastCheck {
        std::string bank;
        double check = 0, amount = 0;
        x_date_type date;
        bool operator==(const StoredLastCheck&) const = default;
    };
    static StoredLastCheck LastCheckInBuffer(uint16_t cmm);
    std::unordered_map<std::string, StoredLastCheck> lastChecks_;
    // Prefix totals by PrefixTotalsKey: on file (`exists`), or not, the new totals then made
    // for the prefix of GL section `section`.
    struct KnownTotals {
        PrefixTotalsImage image;
        int section = 0;
    };
    std::unordered_map<std::string, KnownTotals> totalsOnFile_;
    std::vector<std::pair<std::string, KnownTotals>> totalsWritten_;
    std::vector<std::pair<std::string, StoredLastCheck>> lastChecksWritten_;
    // The keys in vendors_ and totalsOnFile_ that standing postings changed: what
    // WriteKeptTotals writes, in key order.
    std::set<std::string> vendorsDue_, totalsDue_;

    std::unordered_map<std::string, bool> glAccounts_;  // GlAccountOnFile's answers
    // What the GL module answers for one text file (the conversion never writes the GL master):
    // accounts formed from a prefix and a base (whether formed, and the account), and the fiscal
    // prefix and its section of an account.
    void BuildAccount(uint16_t glm, std::string& out, const std::string& prefix, const std::string& base);
    void FiscalPrefix(uint16_t glm, const std::string& account, std::string& prefix, int32_t& section);
    // The GL prefix section of `account` (unformatted first when `formatted`), once per account.
    const std::string& GlPrefix(const std::string& account, bool formatted);
    std::unordered_map<std::string, std::string> glPrefixes_[2];
    std::unordered_map<std::string, std::pair<bool, std::string>> builtAccounts_;
    std::unordered_map<std::string, std::pair<std::string, int32_t>> fiscalPrefixes_;
    suite::zb_batch_record batchRecord_;  // id 0 when no batch is open
    GroupCallbackContext* group_ = nullptr;  // the pass being read
    std::string company_;                  // the company the payment numbers belong to
    struct LastPaymentNumber {
        uint16_t apm = 0;
        bool converting = false;
        std::string bank;
        double check = 0;
        double number = 0;  // 0: none kept
    } lastPaymentNumber_;  // GetPaymentNumber's last answer in this text file
    bool clearingRun_ = false;             // this file runs with paid-totals mode 1
    // The record-ID text of check `check` of bank `bank` in the AP master `apm`; the last one is
    // kept, since a check's payments come invoice after invoice. Leaves the check record's buffer
    // as it was when kept.
    const std::string& CheckKeyText(uint16_t apm, const std::string& bank, double check);
    struct LastCheckKey {
        uint16_t apm = 0;
        std::string bank;
        double check = 0;
        std::string key;  // empty: none
    } lastCheckKey_;
    // ReadVendor's last answer kept in vendors_, by the vendor's text as asked (an entry stays
    // where it is until it is erased: SettleWrites and ForgetReads drop this).
    struct LastVendor {
        uint16_t apm = 0;
        std::string vendor;
        const std::optional<modlibs::VendorImage>* known = nullptr;
    } lastVendor_;
    // The first pass: ExamineGroup accepted the group's invoice.
    bool invoiceExamined_ = false;
    // Nodes of DistributionMap kept from group to group, so that a distribution is read straight
    // into its node: one with key 0 holding the distribution now in the AP master's buffer
    // (TakeDistNode).
    using DistNode = std::map<uint16_t, modlibs::DistImage>::node_type;
    std::vector<DistNode> spareDists_;
    DistNode TakeDistNode(uint16_t apm);
    // The first pass of this text file ran to its end: its reads need not be forgotten when
    // nothing was written since.
    bool prepassRead_ = false;
    // The undo stack of the group being posted, kept from group to group for its storage.
    xvl::xvlRollbackStack postUndo_;
};

}  // namespace dz::ap
