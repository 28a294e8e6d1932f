// The AR converter (conversion type 701): AR contacts (record 1 of the AR system file "ARS") and
// customers (record 1 of the AR master file "ARM") of one text file, examined or converted.
//
// Contacts and customers refer to each other and may stand in the text file in either order,
// so the file is read twice: pass 1 collects the key of every contact and customer the file
// will create (the pass-1 keys), pass 2 converts, resolving each reference through those keys or
// the records on file. Customers are also checked against GL prefixes, the Billing standard
// tables and the tax groups of the tax master.
//
//   xvarm.cpp           the frame: files, settings, the two passes, dispatch, closing notes
//   xvarm_records.cpp   the contact and customer handlers
#pragma once

#include "convert/convert_file.h"
#include "convert/converter.h"
#include "convert/field_numbers.h"
#include "convert/lookups.h"
#include "convert/side_file.h"
#include "converters/ar/prepass_keys.h"

#include <cstdint>
#include <string>
#include <vector>

namespace dz::ar {

inline constexpr uint16_t kRecContact = 1;   // ARS
inline constexpr uint16_t kRecCustomer = 1;  // ARM
inline constexpr uint16_t kHdrArSettings = 2;

// The contact fields the handlers touch on every record.
enum ContactField : std::size_t { kCoCont, kCoName, kCoCust, kCoTypeA, kContactFields };
inline constexpr convert::FieldNames<kContactFields> kContactNames{"COCONT", "CONAME", "COCUST", "COTYPEA"};

// The customer fields the handlers touch on every record; the eleven contacts, the four required
// lists and the seven tax statuses stand together, in the order they are checked.
enum CustomerField : std::size_t {
    kCust, kCName,
    kCCont1, kCCont2, kCCont3, kCCont4, kCCont5, kCCont6, kCCont7, kCCont8, kCCont9, kCCont10, kCBCont,
    kCTypeA, kCTrade, kCCrdRtg, kCBFreqA,
    kCTxGrTB, kCTxGrpL, kCTxGrpM, kCTxGrpS, kCTxGrpE, kCTxGrpO, kCTxGrpT,
    kCGlPref, kCHisTot, kCInvFmt, kCLstInt, kCLstInn,
    kCRateL, kCRateM, kCRateS, kCRateE, kCRateO, kCRateT, kCMarkTb, kCAddTb,
    kCDiscnt, kCTxGr, kCRCert, kCGenDat, kCGenSeq, kCustomerFields
};
inline constexpr convert::FieldNames<kCustomerFields> kCustomerNames{
    "CUST",    "CNAME",
    "CCONT1",  "CCONT2",  "CCONT3",  "CCONT4",  "CCONT5",  "CCONT6",  "CCONT7",  "CCONT8",  "CCONT9", "CCONT10", "CBCONT",
    "CTYPEA",  "CTRADE",  "CCRDRTG", "CBFREQA",
    "CTXGRTB", "CTXGRPL", "CTXGRPM", "CTXGRPS", "CTXGRPE", "CTXGRPO", "CTXGRPT",
    "CGLPREF", "CHISTOT", "CINVFMT", "CLSTINT", "CLSTINN",
    "CRATEL",  "CRATEM",  "CRATES",  "CRATEE",  "CRATEO",  "CRATET",  "CMARKTB", "CADDTB",
    "CDISCNT", "CTXGR",   "CRCERT",  "CGENDAT", "CGENSEQ"};

// One of the suite's custom lists as the converter holds it.
struct CustomList {
    std::vector<std::string> entries;  // the values allowed
    std::string first;                 // the default entry; empty when the list is empty
    std::string emptyBecomes;          // what an empty field takes: `first` as the entries spell it
    bool emptyBecomesListed = false;   // `emptyBecomes` is one of the entries
    // The value last found spelled exactly as the entry it matches: fields of a text file mostly
    // repeat a value, which this answers without going through the entries again.
    mutable std::string lastListed;
};

class xvARM : public convert::xvConvert {
public:
    xvARM() = default;

    convert::ConverterProfile Profile() const override;


    // The settings and files the handlers use: AR-GL interface and the GL master, Billing and its
    // standard file, sales taxes and the tax master, the six custom lists. One note each when
    // the GL master (12810) or the Billing standard file (12837) cannot be had; false when the
    // note cannot print.
    bool LoadSettings(convert::OpenFilesList& list, convert::NotesReport& notes, uint16_t ars, uint16_t arm,
                      convert::ConvertProgress* progress);

    // ---- Record handlers: true accepts, false rejects with `reason` set ------------------------
    bool ConvertContact(uint16_t ars, uint16_t arm, std::string& reason, convert::MessageList& messages);
    bool ConvertCustomer(uint16_t ars, uint16_t arm, std::string& reason, convert::MessageList& messages,
                         bool converting);

    // State a test looks into.
    // The pass-1 keys of the contacts (file ARS) or the customers (ARM).
    const PrepassKeys& Keys(uint16_t file) const { return file == ars_ ? contactKeys : customerKeys; }
    const CustomList& ContactTypes() const { return contactTypes; }
    const CustomList& TaxGroups() const { return taxGroups; }
    const std::string& FirstDuplicateContact() const { return firstDuplicateContact; }

protected:
    bool LoadSettings(convert::ConvertContext& ctx, std::string& failure) override;
    // Pass 1, then pass 2 through the common record loop.
    bool ConvertRecords(convert::ConvertContext& ctx) override;
    // Pass 2: a contact already on file, or met earlier in the text file, is skipped uncounted.
    bool CountRecord(convert::ConvertContext& ctx, xvl::xvlImpInfo& info, int status) override;
    bool DispatchRecord(convert::ConvertContext& ctx, xvl::xvlImpInfo& info, std::string& reason) override;
    // Pass 2: the values of an accepted record missing from their custom lists.
    void RecordWritten(convert::ConvertContext& ctx, xvl::xvlImpInfo& info) override;
    // Notes 12816, the missing custom-list values and 12808.
    bool FinishConversion(convert::ConvertContext& ctx) override;

    bool RunPrepass(convert::ConvertContext& ctx);
    bool IsDuplicateContact(convert::ConvertContext& ctx, xvl::xvlImpInfo& info);
    // Pass 1: whether the contact or customer in the buffer leaves its key, as the record check
    // would accept it, with its record-ID text in `idText`. For files whose only unique key is
    // the primary one (PrimaryKeyOnly).
    bool KeptByPrepass(uint16_t file, xvl::xvlImpInfo& info, std::string& idText);
    static bool PrimaryKeyOnly(uint16_t file);
    bool PrintDuplicateContactNote(convert::NotesReport& notes, convert::ConvertProgress* progress);

    // Resolves a reference to a contact (ARS) or customer (ARM) in field `field` of `file`,
    // record 1: through the keys of pass 1, else the record on file. True when found (the field
    // then holds the key as the text file or the data file spells it).
    bool ResolveReference(uint16_t file, uint16_t field, uint16_t keyFile, uint16_t keyField);

    CustomList contactTypes;        // 342
    CustomList customerTypes;       // 345
    CustomList trades;              // 344
    CustomList creditRatings;       // 380
    CustomList billingFrequencies;  // 377
    CustomList taxGroups;           // 369
    std::string firstDuplicateContact;
    uint8_t usesSalesTaxes = 1;
    uint8_t taxGroupUnverified = 0;
    std::string firstUnverifiedTaxGroup;
    // The pass-1 keys, one table per file: the record-ID texts of the two files never meet, and a
    // contact names a customer while a customer names contacts, so each look-up searches only the
    // table it can match (the contacts' one is small enough to stay in the caches).
    PrepassKeys contactKeys;
    PrepassKeys customerKeys;
    uint8_t arGlInterface = 0;
    convert::SideFile glMaster;
    uint8_t billingInstalled = 0;
    convert::SideFile billingStandard;
    convert::SideFile taxMaster;

private:
    // The user's terms the handlers name on every record, read once per text file.
    std::string customerTerm_;  // custom description 300, capitalised
    std::string contactTerm_;   // 301, capitalised
    std::string invoiceFormatLabel_;
    bool pass1_ = false;  // DispatchRecord runs for pass 1
    bool primaryKeyOnly_ = false;  // neither file has a unique key besides the primary one
    // Look-ups of GL prefixes and tax groups, which customers share; AR writes neither file.
    convert::LookupCache lookups_;
    uint16_t ars_ = 0, arm_ = 0;
    convert::FieldNumbers<kContactFields> contact_;    // of ARS record 1
    convert::FieldNumbers<kCustomerFields> customer_;  // of ARM record 1
    std::string refId_, refKey_;  // ResolveReference's texts, kept for their room
    // The list fields (kContactLists / kCustomerLists order, bit i) that the handler of the
    // record just accepted left holding exactly an entry of their list, and that record's file
    // (0: none): the check after the write passes over them. A later change of such a field
    // drops its bit.
    uint32_t listed_ = 0;
    uint16_t listedFile_ = 0;
    // The eleven contact fields, and the eight rate, markup and add-on table fields, are each a
    // run of text fields numbered one after the other: a run that is all blank is seen at once.
    bool contactRun_ = false;
    bool tableRun_ = false;
    // So are the seven tax statuses; for each, whether the tax-group list's default, once put,
    // holds exactly an entry of the list (-1: not yet seen).
    bool taxRun_ = false;
    int8_t taxDefaultListed_[7] = {-1, -1, -1, -1, -1, -1, -1};
};

}  // namespace dz::ar
