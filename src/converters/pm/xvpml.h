// The PM lease converter (conversion type 602): one text file of lease, tenant and system records
// examined or converted into the PM lease ("PML"), tenant ("PMN") and system ("PMS") files at
// once, while the PM property file ("PMP") learns which leases occupy which units. Repeated SIC
// code, CPI, Porter wage and charge-control records are dropped with one closing note per kind;
// values missing from the custom lists are noted at the end; the record is kept.
//
//   xvpml.cpp          the frame: files, lists, dispatch, duplicates, what is kept per record,
//                      the unit lease links, the finish
//   xvpml_records.cpp  the lease, calculation method and CPI index handlers
//   xvpml_children.cpp charge controls, deposits, late charges, checklist items and insurance
//   xvpml_escalation.cpp index escalation controls
//   xvpml_details.cpp  lease modifications and options, recurring charges and their log
//   xvpml_tenants.cpp  tenants and their records, corporations, Porter wage indexes, SIC codes
//   xvpml_finish.cpp   the finishing pass after a Convert: links, default charge controls,
//                      tenant-lease records, escalation and recurring-charge checks
#pragma once

#include "convert/field_numbers.h"
#include "converters/pm/pm_shared.h"
#include "converters/pm/key_texts.h"

#include <algorithm>
#include <cstdint>
#include <deque>
#include <map>
#include <optional>
#include <set>
#include <stdexcept>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace dz::pm {

// Record numbers of the PM lease file this conversion takes.
inline constexpr uint16_t kPmlLease = 1, kPmlDeposit = 3, kPmlModification = 4, kPmlOption = 5,
                          kPmlChecklist = 7, kPmlInsurance = 8, kPmlChargeControl = 10, kPmlLateCharge = 11,
                          kPmlRecurringCharge = 13, kPmlRecurringLog = 15, kPmlIndexEscalation = 18;
// ... of the PM tenant file.
inline constexpr uint16_t kPmnTenant = 1, kPmnTenantTA = 3, kPmnTenantLease = 5;
// ... of the PM system file.
inline constexpr uint16_t kPmsCorporation = 3, kPmsCalcMethod = 5, kPmsCpiIndex = 6, kPmsPorterWage = 7,
                          kPmsSicCode = 8;
// ... and the PM property file's unit and lease-unit link.
inline constexpr uint16_t kPmpUnit = 17, kPmpLeaseUnitLink = 20;

// The lease record's fields that every lease line reads or writes, numbered once per text file.
enum LeaseField : std::size_t {
    kLfLease, kLfRevision, kLfProperty, kLfUnit, kLfTenant, kLfStatus, kLfTerminating, kLfPhase, kLfNotice,
    kLfTermReason, kLfBalance, kLfStart, kLfEnd, kLfBilling, kLfStatementType, kLfInterest, kLfRefund,
    kLfInterestType, kLfRefundType, kLfPeriodEnd, kLfCorporation, kLfSic, kLfCategory, kLfCombined, kLfActualStart,
    kLeaseFields
};
inline constexpr convert::FieldNames<kLeaseFields> kLeaseFieldNames{
    "LEASE", "LREV", "LPROP", "LUNIT", "LTENANT", "LSTATUS", "LBTERM", "LPHASE", "LNDATE",
    "LTERMR", "LBAL", "LSTART", "LTERM", "LBFBILL", "LSTTYPE", "LINTT", "LREFT",
    "LINTTA", "LREFTA", "LPEDATE", "LCORP", "LSIC", "LBUSCAT", "LLRCMB", "LACTST"};

// Custom descriptions only these records name.
inline constexpr int kSicCodeTerm = 427;

// The lease converter's custom lists.
inline constexpr int kAddressTypeList = 421, kDepositTypeList = 422, kOptionCategoryList = 423,
                     kInsuranceTypeList = 424, kBusinessCategoryList = 428;

// A key in upper case, as the Examine-only lists keep them.
std::string UpperKey(std::string text);

// Texts found once and asked for again with every lease (its tenant, its unit): the entries in
// the order they came, and a table of their hashes with the entry each names, open addressed, so
// that an answer costs one look in the table and one at the entry.
template <typename V>
class FoundTexts {
public:
    V* find(std::string_view key) {
        if (entries_.empty()) return nullptr;
        const uint64_t h = Hash(key);
        for (std::size_t at = h & (slots_.size() - 1);; at = (at + 1) & (slots_.size() - 1)) {
            const Slot& s = slots_[at];
            if (s.entry == 0) return nullptr;
            auto& [text, value] = entries_[s.entry - 1];
            if (s.hash == h && text == key) return &value;
        }
    }
    // A key not held yet.
    V& emplace(std::string key, V value) {
        if ((entries_.size() + 1) * 4 > slots_.size() * 3) Grow();
        const uint64_t h = Hash(key);
        entries_.emplace_back(std::move(key), std::move(value));
        Place(h, static_cast<uint32_t>(entries_.size()));
        return entries_.back().second;
    }
    void clear() {
        entries_.clear();
        slots_.clear();
    }
    bool empty() const { return entries_.empty(); }

private:
    struct Slot {
        uint64_t hash = 0;
        uint32_t entry = 0;  // 1 + the entry's place, 0 for a free slot
    };
    static uint64_t Hash(std::string_view key) { return std::hash<std::string_view>{}(key); }
    void Place(uint64_t h, uint32_t entry) {
        std::size_t at = h & (slots_.size() - 1);
        while (slots_[at].entry != 0) at = (at + 1) & (slots_.size() - 1);
        slots_[at] = {h, entry};
    }
    void Grow() {
        slots_.assign(slots_.empty() ? 64 : slots_.size() * 2, Slot{});
        for (uint32_t i = 0; i < entries_.size(); ++i) Place(Hash(entries_[i].first), i + 1);
    }
    std::vector<std::pair<std::string, V>> entries_;
    std::vector<Slot> slots_;
};

// The lease child records name their lease one after another: the last lease read on file is
// kept, with what the handlers take from it, until a lease record is written.
class LeaseCache {
public:
    struct Facts {
        std::string lease, property, tenant;
        double revision = 0;
        int status = 1;  // the field result of LSTATUS
    };
    // FindLease through the kept lease: a lease found on file leaves its facts in Last().
    Found Find(uint16_t pml, const std::string& lease, double revision, const LookupScope& scope);
    const Facts& Last() const { return last_; }
    // Whether the lease kept is this one, as stored (letter case included).
    bool Holds(const std::string& lease, double revision) const {
        return kept_ && last_.revision == revision && last_.lease == lease;
    }
    void Forget() { kept_ = false; }
    // A lease this conversion has just written: on file as it stands in the buffer.
    void Keep(Facts facts) {
        last_ = std::move(facts);
        kept_ = true;
    }

private:
    Facts last_;
    bool kept_ = false;
};

// The lease a child record names: on file (the record takes the stored key when `takeKey`) or,
// examining, earlier in the text file. Otherwise the reason is 12859 and the result Missing.
Found ChildLease(LeaseCache& leases, uint16_t pml, const StagedField& lease, const StagedField& revision,
                 const LookupScope& scope, std::string& reason, bool takeKey = true);

class xvPML : public PmConverter {
public:
    xvPML() = default;
    ~xvPML() override = default;

    convert::ConverterProfile Profile() const override;

    // GL not installed: 9844 with a "GLM" entry of file number 0. Else the profile's files: PMS,
    // PMN, PML, PMP and GLM, each only when the one before opened.
    bool OpenFiles(convert::OpenFilesList& list, uint16_t commandId, uint16_t& error) override;

    // Lists 421, 422, 423, 424, 417 and 428; the first entry of 421 is its default.
    void LoadLists();

    // ---- Record handlers: true keeps the record, false rejects it with `reason` set ---------------
    // Each works on the record the import staged in its file's buffer and writes nothing.
    bool ConvertLease(uint16_t pml, xvl::xvlImpInfo& info, std::string& reason, convert::MessageList& messages,
                      bool converting, uint16_t pmn, uint16_t pmp, uint16_t pms);
    bool ConvertCalcMethod(uint16_t pms, xvl::xvlImpInfo& info, std::string& reason, convert::MessageList& messages,
                           bool converting);
    bool ConvertCpiIndex(uint16_t pms, xvl::xvlImpInfo& info, std::string& reason, convert::MessageList& messages,
                         bool converting);
    // Lease child records: each checks the lease (on file or, examining, earlier in the text
    // file) and what its own fields name, and corrects what it can with a note.
    bool ConvertDeposit(uint16_t pml, xvl::xvlImpInfo& info, std::string& reason, convert::MessageList& messages,
                        bool converting, uint16_t pmp, uint16_t pms);
    bool ConvertChecklistItem(uint16_t pml, xvl::xvlImpInfo& info, std::string& reason,
                              convert::MessageList& messages, bool converting);
    bool ConvertInsurance(uint16_t pml, xvl::xvlImpInfo& info, std::string& reason, convert::MessageList& messages,
                          bool converting);
    bool ConvertChargeControl(uint16_t pml, xvl::xvlImpInfo& info, std::string& reason,
                              convert::MessageList& messages, bool converting, uint16_t pms, uint16_t pmp, uint16_t pmn);
    bool ConvertLateCharge(uint16_t pml, xvl::xvlImpInfo& info, std::string& reason, convert::MessageList& messages,
                           bool converting, uint16_t pms);
    bool ConvertIndexEscalation(uint16_t pml, xvl::xvlImpInfo& info, std::string& reason,
                                convert::MessageList& messages, bool converting, uint16_t pms, uint16_t pmp);
    // Lease modifications and options, recurring charges and their log, tenants and their
    // records, corporations, Porter wage indexes and SIC codes.
    bool ConvertLeaseModification(uint16_t pml, xvl::xvlImpInfo& info, std::string& reason,
                                  convert::MessageList& messages, bool converting);
    bool ConvertLeaseOption(uint16_t pml, xvl::xvlImpInfo& info, std::string& reason, convert::MessageList& messages,
                            bool converting, uint16_t pmp);
    bool ConvertRecurringCharge(uint16_t pml, xvl::xvlImpInfo& info, std::string& reason,
                                convert::MessageList& messages, bool converting, uint16_t pmp, uint16_t pms,
                                xvl::xvlImport& import);
    bool ConvertRecurringChargeLog(uint16_t pml, xvl::xvlImpInfo& info, std::string& reason,
                                   convert::MessageList& messages, bool converting, xvl::xvlImport& import);
    // A log entry's charge must take its amount from tables, and the entry must give its frequency.
    bool CheckLogAmountType(int amountType, const std::string& lease, const std::string& chargeType,
                            const std::string& unit, xvl::xvlImpInfo& info, xvl::xvlImport& import,
                            std::string& reason);
    bool ConvertTenant(uint16_t pmn, xvl::xvlImpInfo& info, std::string& reason, convert::MessageList& messages,
                       bool converting, xvl::xvlImport& import);
    bool ConvertTenantTA(uint16_t pmn, xvl::xvlImpInfo& info, std::string& reason, convert::MessageList& messages,
                         bool converting);
    bool ConvertTenantLease(uint16_t pmn, xvl::xvlImpInfo& info, std::string& reason,
                            convert::MessageList& messages, bool converting, uint16_t pml);
    bool ConvertCorporation(uint16_t pms, xvl::xvlImpInfo& info, std::string& reason, convert::MessageList& messages,
                            bool converting);
    bool ConvertPortersWage(uint16_t pms, xvl::xvlImpInfo& info, std::string& reason, convert::MessageList& messages,
                            bool converting);
    bool ConvertSicCode(uint16_t pms, xvl::xvlImpInfo& info, std::string& reason, convert::MessageList& messages,
                        bool converting);

    // Whether the record the import staged is a repeat of a SIC code, CPI, Porter wage or charge
    // control on file (or, in Examine Files, earlier in the text file): false drops it, keeping
    // the first such record of its kind as the example its closing note names.
    bool CollectDuplicateKeys(bool converting, uint16_t pms, uint16_t pml, const xvl::xvlImpInfo& info);
    // One note per kind that dropped a record, after one empty line. False when a line could not
    // be printed.
    bool ReportIgnoredDuplicates(convert::NotesReport& notes, convert::ConvertProgress* progress);

    // After a lease, deposit or recurring charge was written (Convert): the lease-unit link and,
    // for a lease in effect, the unit's current lease. False when a link or the unit could not
    // be written (a link already on file is no fault); the record loop then ends the file.
    virtual bool UpdateUnitLeaseLinks(uint16_t pmp, uint16_t pml, uint16_t rec);

    // Each unit's current lease as this conversion last found or made it, by property and unit
    // in upper case: the lease, its revision and its start. Only this step writes units, and a
    // lease on file changes only when a line replaces it, so the answer holds until then
    // (m_leaseFactsStale); a current lease not on file is never kept, and a unit whose current
    // lease is being decided holds none (`held` false).
    struct UnitCurrent {
        std::string lease;
        double revision = 0;
        x_date_type start{};
        bool held = true;
    };
    FoundTexts<UnitCurrent> m_unitCurrent;
    std::string m_unitKey;  // the look-up's text, in storage kept from lease to lease
    // The units the lease last linked is linked to, as this conversion wrote them or found them
    // on file (exact texts): its deposits and recurring charges mostly name one of them, and a
    // write that would only meet the link on file is left out. Nothing takes a link off before
    // the finishing pass, so a link kept here stays on file until then.
    struct LinkedLease {
        std::string property, lease;
        double revision = 0;
        std::vector<std::string> units;
    };
    LinkedLease m_linkedLease;
    // The link's four fields, numbered once per text file for the property file they belong to.
    uint16_t m_linkFieldsFor = 0;
    uint16_t m_linkFields[4] = {};
    // The row of the link last added, its buffer left as written (0: start the record afresh).
    int64_t m_linkRow = 0;
    // The lease record's fields, numbered for the lease file they were resolved against (0: not yet).
    const convert::FieldNumbers<kLeaseFields>& LeaseFields(uint16_t pml);
    convert::FieldNumbers<kLeaseFields> m_leaseFields;
    uint16_t m_leaseFieldsFor = 0;

    // The finishing pass reads these. Revisions are kept as their whole-number text; a key
    // whose lease is blank is not kept.
    struct LeaseKey {
        std::string_view lease, revision;
    };
    struct ChargeKey {
        std::string_view lease, revision, chargeType;
    };
    struct ChargeUnitKey {
        std::string_view lease, revision, chargeType, unit;
    };

    // Members in the order the finishing pass and the handlers know them. The key lists keep
    // their texts packed (a million leases add some 16 MB); the views a key gives stay valid
    // until the list is cleared.
    CustomList m_list421, m_list422, m_list423, m_list424, m_list417, m_list428;
    std::string m_list421Default;
    std::string m_ignoredSicExample, m_ignoredCpiExample, m_ignoredPorterWageExample,
        m_ignoredChargeControlExample;
    KeyTexts<LeaseKey, 2> m_leaseKeys;
    KeyTexts<ChargeKey, 3> m_chargeControlKeys;
    // Beside each entry of m_chargeControlKeys, its bill-to tenant as written (a number of a text
    // in m_factTexts). A charge control is written once: a line repeating one on file is dropped
    // before it is handled (CollectDuplicateKeys). Unused unless the lists are as long as each
    // other, or once a revision was not whole.
    std::deque<uint32_t> m_chargeControlBillTo;
    bool m_chargeControlsStale = false;
    KeyTexts<ChargeUnitKey, 4> m_escalationKeys;
    KeyTexts<ChargeUnitKey, 4> m_recurringChargeKeys;  // recurring charges and their log, in file order
    // Convert: each log entry written, by the number of the entry of m_recurringChargeKeys it
    // added, with its revision as written, its effective date (as the file orders dates), the field
    // result of its frequency and its amount. Without log entries on file when the text file
    // began, those on file at its end are these (entries are never taken off), and they answer
    // for the log unless a line replaced one (a modify format may name an entry written before).
    struct LogFacts {
        uint32_t at = 0;
        double revision = 0;
        int64_t effective = 0;
        int frequency = 0;
        double amount = 0;
    };
    std::deque<LogFacts> m_logFacts;
    // Convert: each recurring charge as this conversion added it, so that the check after the
    // record loop holds its row instead of reading it again: the number of its entry of
    // m_recurringChargeKeys (its key texts as written), its row, its revision, and what the check
    // reads of it. Unused once a line replaced a charge.
    struct ChargeImage {
        uint32_t at = 0;
        int64_t row = 0;
        double revision = 0;
        int amountType = 0, frequency = 0;  // the field results of RCAMTT and RCFREQ
        x_date_type last{}, next{};         // RCLSDT and RCNDATE
    };
    std::deque<ChargeImage> m_chargeImages;
    bool m_chargeImagesStale = false;
    // The charge in the buffer, as the entry `at` of m_recurringChargeKeys; and back: its key put
    // into the buffer and its row held locked.
    ChargeImage ChargeImageOf(uint16_t pml, uint32_t at);
    int HoldChargeImage(uint16_t pml, const ChargeImage& image);
    // The recurring charge's fields the check uses, numbered for the lease file they were read
    // from (0: not yet).
    enum ChargeField : std::size_t { kCfLease, kCfRevision, kCfType, kCfUnit, kCfAmountType, kCfFrequency, kCfLast, kCfNext };
    const uint16_t* ChargeFields(uint16_t pml);
    uint16_t m_chargeFieldsFor = 0, m_chargeFields[8] = {};
    bool m_logsBeforeRun = true;
    bool m_logFactsStale = false;  // a line replaced a log entry: the log is read
    // Beside each entry of m_leaseKeys, what the finishing pass takes from the lease as written:
    // its property, tenant and interest and refund tenants, as numbers of texts in m_factTexts
    // (a million leases name a few thousand of them). Stale once a lease record of the text file
    // replaces one on file or has a revision that is not a whole number; unused unless the lists
    // are as long as each other.
    struct LeaseFacts {
        uint32_t property = 0, tenant = 0, interest = 0, refund = 0;
    };
    std::deque<LeaseFacts> m_leaseFacts;
    std::vector<std::string> m_factTexts;
    std::unordered_map<std::string, uint32_t> m_factNumbers;
    bool m_leaseFactsStale = false;
    // Convert: whether the lease-unit links held any record when the text file began. Every link
    // this conversion writes names a lease on file, so without earlier links none is invalid.
    bool m_linksBeforeRun = true;
    uint32_t FactNumber(const std::string& text);
    // RecordWritten for a lease: its list notes, then the links and what the finishing pass
    // keeps of it (Convert) or its property (Examine Files).
    void RecordWrittenLease(convert::ConvertContext& ctx, uint32_t line);
    // Examine: LEASE (upper case) -> LPROP of each lease examined, the first kept. Leases mostly
    // come in key order: those go on the end of a sorted list, the others into a map.
    class ExaminedLeaseProperties {
      public:
        void Add(const std::string& lease, const std::string& property) {
            if (inOrder_.empty() || inOrder_[inOrder_.size() - 1].lease < lease) {
                if (others_.count(lease) == 0) inOrder_.push_back({lease, property});
                return;
            }
            if (!Find(lease)) others_.emplace(lease, property);
        }
        std::optional<std::string_view> Find(std::string_view lease) const {
            std::size_t low = 0, high = inOrder_.size();  // the first entry not below `lease`
            while (low < high) {
                const std::size_t mid = low + (high - low) / 2;
                if (inOrder_[mid].lease < lease) low = mid + 1;
                else high = mid;
            }
            if (low < inOrder_.size())
                if (const Entry e = inOrder_[low]; e.lease == lease) return e.property;
            if (const auto it = others_.find(lease); it != others_.end()) return std::string_view(it->second);
            return std::nullopt;
        }
        // As a map's.
        bool empty() const { return inOrder_.empty() && others_.empty(); }
        std::size_t count(std::string_view lease) const { return Find(lease) ? 1 : 0; }
        std::string at(std::string_view lease) const {
            if (const auto property = Find(lease)) return std::string(*property);
            throw std::out_of_range("no lease " + std::string(lease));
        }

      private:
        // Packed: a million leases keep their texts, not a million pairs of strings.
        struct Entry {
            std::string_view lease, property;
        };
        KeyTexts<Entry, 2> inOrder_;
        std::map<std::string, std::string, std::less<>> others_;
    };
    ExaminedLeaseProperties m_examinedLeaseProperties;
    std::set<std::string> m_examinedCpiIds, m_examinedPorterWageIds;  // Examine: upper case
    uint16_t m_glmFile = 0;
    LeaseCache m_leaseCache;
    // Convert: the recurring charge last written, as written, and the field result of its RCAMTT.
    // Its log entries follow it: one that names it exactly finds it without a read. Charges are
    // never taken off during the record loop, so it stays on file; a later charge replaces it here.
    struct WrittenCharge {
        std::string lease, chargeType, unit;
        double revision = 0;
        int amountType = 0;
        bool kept = false;
    };
    WrittenCharge m_lastCharge;
    // Records this conversion never writes (charge types, GL prefixes, units, property charges and
    // deposit types) read once per text file: the stored key (or the value sought) by what was
    // looked up, empty when there was none.
    std::unordered_map<std::string, std::string> m_readOnce;
    // The units, by property and unit as sought: the unit as stored, empty when not on file.
    FoundTexts<std::string> m_storedUnits;
    std::string m_unitLookup;
    // A charge type and a unit of a property as stored, read once; empty when not on file.
    std::string StoredChargeType(uint16_t pms, const std::string& chargeType);
    std::string StoredUnit(uint16_t pmp, const std::string& property, const std::string& unit);
    // A charge type field: "<default>" in any letter case stored in lower case, else the charge
    // type's stored spelling; false with 12474 as the reason when there is no such charge type.
    bool TakeChargeType(uint16_t pms, const StagedField& chargeType, std::string& reason);
    // A unit of the property as stored; false with 12453 as the reason when it has no such unit.
    bool TakeUnit(uint16_t pmp, const std::string& property, const StagedField& unit, std::string& reason);
    // A lease's property as stored and its period end, read once per property (never written
    // here); an empty `stored` when it is not on file.
    struct PropertyFacts {
        std::string stored;
        x_date_type periodEnd{};
    };
    std::unordered_map<std::string, PropertyFacts> m_properties;
    const PropertyFacts& LeaseProperty(uint16_t pmp, const std::string& property);
    // Tenants found on file, by the value sought: their stored key and, converting, its number in
    // m_factTexts. Tenant records are written by this conversion, so every tenant record that
    // comes in forgets them all.
    struct TenantKnown {
        std::string stored;
        uint32_t fact = 0;
    };
    FoundTexts<TenantKnown> m_tenantsOnFile;
    // The tenant of the lease last handled as found there, and its number in m_factTexts: the
    // lease written names it again.
    std::string m_leaseTenantText;
    uint32_t m_leaseTenantFact = 0;
    bool m_leaseTenantKnown = false;
    // The last text FactNumber answered (a million leases name one property or a few).
    std::string m_lastFactText;
    uint32_t m_lastFact = 0;
    bool m_lastFactKnown = false;
    Found TenantOnFile(uint16_t pmn, const std::string& tenant, const LookupScope& scope);
    template <typename Read>
    std::string ReadOnce(const std::string& lookup, Read read) {
        if (const auto it = m_readOnce.find(lookup); it != m_readOnce.end()) return it->second;
        return m_readOnce.emplace(lookup, read()).first->second;
    }

    // The finishing pass after a Convert, in this order. Each is false when it ended the file: a
    // stop (12000) or a failed read or write (12011), every backed-up file restored.
    bool RemoveInvalidPropertyLeases(convert::ConvertContext& ctx);
    bool CreateDefaultChargeControls(convert::ConvertContext& ctx);
    bool CreateMissingTenantLeases(convert::ConvertContext& ctx);
    bool CheckEscalations(convert::ConvertContext& ctx);
    bool CheckRecurringCharges(convert::ConvertContext& ctx);

protected:
    bool LoadSettings(convert::ConvertContext& ctx, std::string& failure) override;
    // Drops a repeated SIC code, CPI, Porter wage or charge-control record before it is counted.
    bool CountRecord(convert::ConvertContext& ctx, xvl::xvlImpInfo& info, int status) override;
    bool DispatchRecord(convert::ConvertContext& ctx, xvl::xvlImpInfo& info, std::string& reason) override;
    // Examine Files: a lease's status result, a recurring charge's amount-type result, a
    // calculation method's type result, else 0.
    uint16_t ExamineValue(convert::ConvertContext& ctx, const xvl::xvlImpInfo& info) override;
    // The custom-list notes, then the Convert bookkeeping (links, key lists) or the Examine one.
    void RecordWritten(convert::ConvertContext& ctx, xvl::xvlImpInfo& info) override;
    // The missing custom-list values and the dropped duplicates.
    bool FinishConversion(convert::ConvertContext& ctx) override;

private:
    // The PML, PMN, PMS and PMP handles of the run.
    uint16_t pml_ = 0, pmn_ = 0, pms_ = 0, pmp_ = 0;
};

// A date as the data files order it: year, month and day as one number, 0 for no date.
inline int64_t DateOrder(const x_date_type& date) {
    return date.month == 0 ? 0 : date.year * 10000LL + date.month * 100 + date.day;
}

// A recurring charge's frequency (item 1 to 6) as its description names it: "week" to "year";
// empty for any other.
std::string RecurringFrequencyWord(int code);

// The 16-bit value an examined record keeps in the record-ID map: the field result of LSTATUS for
// a lease, of RCAMTT for a recurring charge, else 0.
uint16_t StatusFieldResult(uint16_t pml, const xvl::xvlImpInfo& info);

}  // namespace dz::pm
