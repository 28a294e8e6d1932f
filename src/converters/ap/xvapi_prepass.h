// The check and invoice cross-reference of an AP invoice text file.
//
// Checks and the invoices they pay arrive in separate groups, in any order. The first pass
// enters every check and invoice of the file, links each paid invoice with the checks that paid
// it (through its distribution payments), then checks the checks against their payments and
// spreads every fault to everything linked with it. The second pass rejects a check or invoice
// group whose entry carries a fault, so a check and its invoices are converted together or not
// at all.
//
// Keys are the record-ID texts of the AP master's invoice and check records; they compare
// without regard to letter case. A file of a million invoices makes a million entries, so the
// keys are kept end to end in large blocks and an open hash table of entry numbers finds them,
// and the links are one shared list of entry numbers, not a string per link.
#pragma once

#include "platform/datafile/x_value.h"

#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace dz::ap {

// What the first pass found wrong with a check or invoice (0: nothing).
enum CrossRefStatus : uint8_t {
    kRefGood = 0,
    kRefBadRecord = 1,         // the record itself was rejected in the first pass
    kRefRelatedBadCheck = 2,   // linked, directly or not, with a bad check
    kRefRelatedBadInvoice = 3, // linked with a bad invoice
    kRefCheckAbsent = 4,       // a check that payments name but the file does not carry
    kRefVendorMismatch = 5,    // a paying invoice's vendor is not the check's
    kRefNoInvoices = 6,        // a check that no invoice pays
    kRefVoidPaid = 7,          // a void check that invoices pay
    kRefAmountMismatch = 8,    // the check's amount is not the sum of its payments
    kRefDuplicateCheck = 9,
    kRefDuplicateInvoice = 10,
    kRefPaidByAbsentCheck = 11,  // an invoice paid by a check the file does not carry
};

struct CrossRefEntry {
    uint8_t kind : 1 = 0;  // 1 check, 0 invoice
    uint8_t seen : 1 = 0;  // the check's or invoice's own record was met (0: a check known only from payments)
    uint8_t status = kRefGood;

private:
    friend class CrossReference;
    uint16_t keyLen = 0;

public:
    uint32_t line = 0;        // the line of its record; a check known only from payments: its number
    uint32_t statusLine = 0;  // the line that goes with the status
    // (A file holds an entry per invoice and check: what only a check has is kept apart, a
    // vendor's text once per vendor, and no member is padded.)
private:
    uint32_t more = 0;    // an invoice: its vendor's number; a check: the number of its CheckData
    uint32_t textAt = 0;  // the key in the arena
};
static_assert(sizeof(CrossRefEntry) == 20);

class CrossReference {
public:
    static constexpr uint32_t kNone = 0xFFFFFFFFu;

    // `indexBits`: while the table holds entries numbered below 2 to that power, each slot keeps
    // the entry number in those bits and a few bits of the key's hash in the others, so that a
    // look-up passes other keys' slots without reading their entries.
    explicit CrossReference(unsigned indexBits = 26) : indexBits_(indexBits) {}

    // ---- Filling (the first pass) ---------------------------------------------------------------
    // A Check record: a new entry, a duplicate (9), or the check that payments named already.
    void AddCheck(std::string_view key, uint32_t line, bool bad, double amount, std::string_view vendor,
                  const x_date_type& date, bool isVoid);
    // An Invoice record: a new entry or a duplicate (10).
    void AddInvoice(std::string_view key, uint32_t line, bool bad, std::string_view vendor);
    // A distribution payment of the invoice `invoiceKey` by check `checkKey` (number
    // `checkNumber`), paying `paidAmount`.
    void AddDistPayment(std::string_view invoiceKey, std::string_view checkKey, double checkNumber, uint32_t line,
                        bool bad, std::string_view vendor, double paidAmount);
    // After the last group, when the template has checks: the checks against their payments,
    // then every fault spread along the links.
    void ValidateChecks();
    void MarkRelated();
    // The second pass only looks entries up: the payments' links are let go (a million
    // payments hold some 12 MB).
    void ReleaseLinks();

    // ---- Reading (the second pass) -------------------------------------------------------------
    // The entry of a key; nullptr when the file has none.
    const CrossRefEntry* Find(std::string_view key) const;
    std::string_view VendorOf(const CrossRefEntry& entry) const;
    // A check's own date, amount and void flag (blank, 0 and false for an invoice, or a check
    // known only from payments).
    const x_date_type& DateOf(const CrossRefEntry& entry) const;
    double AmountOf(const CrossRefEntry& entry) const;
    bool IsVoid(const CrossRefEntry& entry) const;
    // The rejection reason of an entry's status, `value` being the key as messages show it.
    // False (reason unchanged) for a good entry.
    bool Report(const CrossRefEntry& entry, std::string& reason, const std::string& value) const;

    std::size_t size() const { return entries_.size(); }
    void clear();

private:
    uint32_t Lookup(std::string_view key) const;  // the entry number, or kNone
    uint32_t Add(std::string_view vendor, uint8_t kind);
    // The entry's own record was met at `line`; a bad one is status 1.
    static void MarkSeen(CrossRefEntry& e, uint32_t line, bool bad);
    // Puts the links the payments made since the last call into the entries' lists.
    void SettleLinks();
    std::string_view KeyOf(const CrossRefEntry& e) const;
    const char* At(uint32_t offset) const;
    uint32_t Store(std::string_view key);
    void Grow();
    // The numbers of the entries `wanted` accepts, in key order.
    std::vector<uint32_t> InKeyOrder(bool (*wanted)(const CrossRefEntry&)) const;
    // The entries linked with entry `entry`, in the order the payments linked them (the links
    // settled).
    template <typename F>
    void ForEachLinked(uint32_t entry, F&& f) const {
        if (std::size_t{entry} + 1 >= linkStart_.size()) return;
        for (uint32_t k = linkStart_[entry]; k < linkStart_[entry + 1]; ++k) f(linked_[k]);
    }
    bool HasLinks(uint32_t entry) const {
        return std::size_t{entry} + 1 < linkStart_.size() && linkStart_[entry] != linkStart_[entry + 1];
    }

    // What only a check has.
    struct CheckData {
        double amount = 0;   // its amount, in hundredths
        double paidSum = 0;  // the payments that name it, in hundredths
        uint32_t vendor = 0;
        uint32_t otherVendor = 0;  // a vendor mismatch: the first paying invoice's vendor not its own
        x_date_type date;
        uint8_t isVoid = 0;
    };
    CheckData& Check(uint32_t entry) { return checks_[entries_[entry].more]; }
    const CheckData& Check(const CrossRefEntry& e) const { return checks_[e.more]; }
    uint32_t VendorNumber(std::string_view vendor);
    // A deque: a million entries grow without a second copy of them all.
    std::deque<CrossRefEntry> entries_;
    // The links of the payments not settled yet: invoice, then check.
    struct Payment {
        uint32_t invoice, check;
    };
    std::deque<Payment> payments_;
    // Settled: the entries linked with entry i are linked_[linkStart_[i]] up to
    // linked_[linkStart_[i + 1]] (an entry past the end of linkStart_ has none); two numbers a
    // payment, where a list per entry would take twice that.
    std::vector<uint32_t> linkStart_;
    std::vector<uint32_t> linked_;
    std::deque<CheckData> checks_;
    // The vendors' texts, each once, and their numbers by text (exact: messages show them).
    std::deque<std::string> vendors_;
    std::unordered_map<std::string_view, uint32_t> vendorNumbers_;
    // 0 empty. A power of two, at most three quarters full. Tagged: the entry number, and above it the
    // hash's tag (never 0); not tagged (a table too large for the tag): the entry number + 1.
    std::vector<uint32_t> slots_;
    unsigned indexBits_;
    bool tagged_ = true;
    uint32_t Tag(std::size_t hash) const {
        const auto t = static_cast<uint32_t>(hash >> (sizeof(std::size_t) * 8 - (32 - indexBits_)));
        return t != 0 ? t : 1;
    }
    uint32_t SlotOf(uint32_t entry, std::size_t hash) const {
        return tagged_ ? entry | (Tag(hash) << indexBits_) : entry + 1;
    }
    uint32_t EntryOf(uint32_t slot) const { return tagged_ ? slot & ((uint32_t{1} << indexBits_) - 1) : slot - 1; }
    // Whether the slot may hold the key whose hash is `hash`.
    bool MayHold(uint32_t slot, std::size_t hash) const { return !tagged_ || (slot >> indexBits_) == Tag(hash); }
    static constexpr unsigned kBlockBits = 20;
    std::vector<std::unique_ptr<char[]>> blocks_;
    std::size_t blockUsed_ = 0;
    mutable std::string folded_;  // the key being looked up, in upper case
};

}  // namespace dz::ap
