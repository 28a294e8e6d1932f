#include "converters/ap/xvapi_prepass.h"

#include "convert/record_fields.h"
#include "platform/import/xvl_case.h"

#include <algorithm>
#include <functional>
#include <stdexcept>

namespace dz::ap {

using convert::Msg;

namespace {

std::string LineText(uint32_t line) { return convert::FormatInt("%ld", static_cast<long>(line)); }

}  // namespace

// ---- The compact map -----------------------------------------------------------------------------

const char* CrossReference::At(uint32_t offset) const {
    return blocks_[offset >> kBlockBits].get() + (offset & ((uint32_t{1} << kBlockBits) - 1));
}

uint32_t CrossReference::Store(std::string_view key) {
    const std::size_t block = std::size_t{1} << kBlockBits;
    if (blocks_.empty() || blockUsed_ + key.size() > block) {
        if (blocks_.size() >= (std::size_t{1} << (32 - kBlockBits))) throw std::length_error("too many AP keys");
        blocks_.push_back(std::make_unique<char[]>(std::max(block, key.size())));
        blockUsed_ = 0;
    }
    std::copy(key.begin(), key.end(), blocks_.back().get() + blockUsed_);
    const auto offset = static_cast<uint32_t>(((blocks_.size() - 1) << kBlockBits) + blockUsed_);
    blockUsed_ += key.size();
    return offset;
}

uint32_t CrossReference::VendorNumber(std::string_view vendor) {
    const auto it = vendorNumbers_.find(vendor);
    if (it != vendorNumbers_.end()) return it->second;
    const auto number = static_cast<uint32_t>(vendors_.size());
    vendorNumbers_.emplace(vendors_.emplace_back(vendor), number);
    return number;
}

std::string_view CrossReference::KeyOf(const CrossRefEntry& e) const { return {At(e.textAt), e.keyLen}; }

std::string_view CrossReference::VendorOf(const CrossRefEntry& e) const {
    return vendors_[e.kind == 1 ? Check(e).vendor : e.more];
}

const x_date_type& CrossReference::DateOf(const CrossRefEntry& e) const {
    static const x_date_type blank;
    return e.kind == 1 ? Check(e).date : blank;
}

double CrossReference::AmountOf(const CrossRefEntry& e) const { return e.kind == 1 ? Check(e).amount : 0; }

bool CrossReference::IsVoid(const CrossRefEntry& e) const { return e.kind == 1 && Check(e).isVoid; }

uint32_t CrossReference::Lookup(std::string_view key) const {
    folded_.assign(key);
    for (char& c : folded_)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - ('a' - 'A'));
    if (slots_.empty()) return kNone;
    const std::size_t mask = slots_.size() - 1;
    const std::size_t hash = std::hash<std::string_view>{}(folded_);
    for (std::size_t i = hash & mask;; i = (i + 1) & mask) {
        const uint32_t s = slots_[i];
        if (s == 0) return kNone;
        if (MayHold(s, hash) && KeyOf(entries_[EntryOf(s)]) == folded_) return EntryOf(s);
    }
}

void CrossReference::Grow() {
    std::vector<uint32_t> old(std::max<std::size_t>(slots_.size() * 2, 1024), 0);
    old.swap(slots_);
    const bool wasTagged = tagged_;
    // The table holds at most three quarters of its size in entries: tagged while their numbers fit.
    tagged_ = indexBits_ < 32 && slots_.size() / 4 * 3 <= (std::size_t{1} << indexBits_);
    const std::size_t mask = slots_.size() - 1;
    for (uint32_t s : old) {
        if (s == 0) continue;
        const uint32_t entry = wasTagged ? s & ((uint32_t{1} << indexBits_) - 1) : s - 1;
        const std::size_t hash = std::hash<std::string_view>{}(KeyOf(entries_[entry]));
        std::size_t i = hash & mask;
        while (slots_[i] != 0) i = (i + 1) & mask;
        slots_[i] = SlotOf(entry, hash);
    }
}

uint32_t CrossReference::Add(std::string_view vendor, uint8_t kind) {
    // Lookup left the key folded in folded_.
    if (folded_.size() > UINT16_MAX) throw std::length_error("AP key too long");
    if ((entries_.size() + 1) * 4 > slots_.size() * 3) Grow();
    CrossRefEntry e;
    e.kind = kind & 1;
    e.textAt = Store(folded_);
    e.keyLen = static_cast<uint16_t>(folded_.size());
    if (kind == 1) {
        e.more = static_cast<uint32_t>(checks_.size());
        checks_.emplace_back().vendor = VendorNumber(vendor);
    } else {
        e.more = VendorNumber(vendor);
    }
    entries_.push_back(e);
    const std::size_t mask = slots_.size() - 1;
    const std::size_t hash = std::hash<std::string_view>{}(folded_);
    std::size_t i = hash & mask;
    while (slots_[i] != 0) i = (i + 1) & mask;
    const auto entry = static_cast<uint32_t>(entries_.size() - 1);
    slots_[i] = SlotOf(entry, hash);
    return entry;
}

void CrossReference::SettleLinks() {
    if (payments_.empty()) return;
    // Counted, then filled from the back: each list keeps its settled links, then the new ones,
    // in the order they came, with no second array of positions.
    const std::size_t n = entries_.size();
    std::vector<uint32_t> start(n + 1, 0);
    for (std::size_t i = 0; i + 1 < linkStart_.size(); ++i) start[i + 1] = linkStart_[i + 1] - linkStart_[i];
    for (const Payment& p : payments_) ++start[p.invoice + 1], ++start[p.check + 1];
    if (linked_.size() + 2 * payments_.size() > UINT32_MAX) throw std::length_error("too many AP payments");
    for (std::size_t i = 0; i < n; ++i) start[i + 1] += start[i];
    std::vector<uint32_t> linked(start[n]);
    // start[i + 1] is where entry i's list ends; each placement moves it back one, so that it
    // ends where entry i + 1's list starts.
    for (auto p = payments_.rbegin(); p != payments_.rend(); ++p) {
        linked[--start[p->check + 1]] = p->invoice;
        linked[--start[p->invoice + 1]] = p->check;
    }
    for (std::size_t i = linkStart_.size(); i-- > 1;)
        for (uint32_t k = linkStart_[i]; k-- > linkStart_[i - 1];) linked[--start[i]] = linked_[k];
    // Now start[i + 1] is where entry i's list starts.
    for (std::size_t i = 0; i < n; ++i) start[i] = start[i + 1];
    start[n] = static_cast<uint32_t>(linked.size());
    linkStart_.swap(start);
    linked_.swap(linked);
    payments_.clear();
    payments_.shrink_to_fit();
}

const CrossRefEntry* CrossReference::Find(std::string_view key) const {
    const uint32_t i = Lookup(key);
    return i == kNone ? nullptr : &entries_[i];
}

void CrossReference::ReleaseLinks() {
    payments_.clear();
    payments_.shrink_to_fit();
    linkStart_.clear();
    linkStart_.shrink_to_fit();
    linked_.clear();
    linked_.shrink_to_fit();
}

void CrossReference::clear() {
    entries_.clear();
    entries_.shrink_to_fit();
    ReleaseLinks();
    checks_.clear();
    checks_.shrink_to_fit();
    vendorNumbers_.clear();
    vendors_.clear();
    vendors_.shrink_to_fit();
    slots_.clear();
    slots_.shrink_to_fit();
    tagged_ = true;
    blocks_.clear();
    blockUsed_ = 0;
}

std::vector<uint32_t> CrossReference::InKeyOrder(bool (*wanted)(const CrossRefEntry&)) const {
    std::vector<uint32_t> order;
    for (uint32_t i = 0; i < entries_.size(); ++i)
        if (wanted(entries_[i])) order.push_back(i);
    std::sort(order.begin(), order.end(),
              [&](uint32_t a, uint32_t b) { return KeyOf(entries_[a]) < KeyOf(entries_[b]); });
    return order;
}

// ---- Filling --------------------------------------------------------------------------------------

void CrossReference::MarkSeen(CrossRefEntry& e, uint32_t line, bool bad) {
    e.line = line;
    e.seen = 1;
    if (bad) {
        e.status = kRefBadRecord;
        e.statusLine = line;
    }
}

void CrossReference::AddCheck(std::string_view key, uint32_t line, bool bad, double amount, std::string_view vendor,
                              const x_date_type& date, bool isVoid) {
    uint32_t i = Lookup(key);
    if (i != kNone && entries_[i].seen) {
        // A second Check record with the same key.
        entries_[i].status = kRefDuplicateCheck;
        entries_[i].statusLine = line;
        return;
    }
    if (i == kNone) {
        i = Add(vendor, 1);
    } else {
        Check(i).vendor = VendorNumber(vendor);  // a check that payments named first: its paid sum and links stay
    }
    MarkSeen(entries_[i], line, bad);
    CheckData& c = Check(i);
    c.amount = amount;
    c.date = date;
    c.isVoid = isVoid ? 1 : 0;
}

void CrossReference::AddInvoice(std::string_view key, uint32_t line, bool bad, std::string_view vendor) {
    uint32_t i = Lookup(key);
    if (i != kNone) {
        entries_[i].status = kRefDuplicateInvoice;
        entries_[i].statusLine = line;
        return;
    }
    MarkSeen(entries_[Add(vendor, 0)], line, bad);
}

void CrossReference::AddDistPayment(std::string_view invoiceKey, std::string_view checkKey, double checkNumber,
                                    uint32_t line, bool bad, std::string_view vendor, double paidAmount) {
    uint32_t invoice = Lookup(invoiceKey);
    if (invoice == kNone) {
        AddInvoice(invoiceKey, line, bad, vendor);
        invoice = Lookup(invoiceKey);
    } else if (bad && entries_[invoice].status == kRefGood) {
        entries_[invoice].status = kRefBadRecord;
        entries_[invoice].statusLine = line;
    }
    uint32_t check = Lookup(checkKey);
    if (check == kNone) {
        check = Add({}, 1);
        entries_[check].line = static_cast<uint32_t>(checkNumber);
    }
    payments_.push_back({invoice, check});
    Check(check).paidSum += paidAmount;
}

// ---- Validation and spreading --------------------------------------------------------------------

void CrossReference::ValidateChecks() {
    // Only a check's own finding changes its status here (what it marks are invoices), so the
    // checks to validate are known before the first, and only they are put in key order.
    SettleLinks();
    for (uint32_t i : InKeyOrder([](const CrossRefEntry& e) { return e.kind == 1 && e.status == kRefGood; })) {
        CrossRefEntry& e = entries_[i];
        if (!e.seen) {
            e.status = kRefCheckAbsent;
            const uint32_t number = e.line;
            ForEachLinked(i, [&](uint32_t inv) {
                entries_[inv].status = kRefPaidByAbsentCheck;
                entries_[inv].statusLine = number;
            });
            continue;
        }
        const bool linked = HasLinks(i);
        const CheckData& c = Check(e);
        if (!c.isVoid && !linked) {
            e.status = kRefNoInvoices;
            e.statusLine = e.line;
            continue;
        }
        if (c.isVoid && linked) {
            e.status = kRefVoidPaid;
            e.statusLine = e.line;
            continue;
        }
        // A void check that nothing pays carries its own amount (its CM entry does): the amount
        // test only holds for checks that payments name.
        if (c.isVoid) continue;
        if (c.amount != c.paidSum) {
            e.status = kRefAmountMismatch;
            e.statusLine = e.line;
            continue;
        }
        const uint32_t vendor = c.vendor;
        const std::string_view text = VendorOf(e);
        for (uint32_t k = linkStart_[i]; k < linkStart_[i + 1]; ++k) {
            const CrossRefEntry& inv = entries_[linked_[k]];
            if (inv.more != vendor && !xvl::equalNoCase(VendorOf(inv), text)) {
                e.status = kRefVendorMismatch;
                e.statusLine = inv.line;
                Check(i).otherVendor = inv.more;
                break;
            }
        }
    }
}

void CrossReference::MarkRelated() {
    // Depth first along the links, as a recursion would go, but with a stack of its own: a
    // chain of a hundred thousand links must not exhaust the program's stack.
    SettleLinks();
    std::vector<uint32_t> stack;
    auto pushLinks = [&](uint32_t entry) {
        const std::size_t from = stack.size();
        ForEachLinked(entry, [&](uint32_t to) { stack.push_back(to); });
        std::reverse(stack.begin() + static_cast<std::ptrdiff_t>(from), stack.end());
    };
    // Only the entries bad before the spreading are put in key order: an entry that the spreading
    // marks has all its links marked or bad already, so it would spread nothing further.
    for (uint32_t i : InKeyOrder([](const CrossRefEntry& e) { return e.status != kRefGood; })) {
        const CrossRefEntry& bad = entries_[i];
        const uint8_t status = bad.kind == 1 ? kRefRelatedBadCheck : kRefRelatedBadInvoice;
        const uint32_t line = bad.line;
        pushLinks(i);
        while (!stack.empty()) {
            const uint32_t at = stack.back();
            CrossRefEntry& e = entries_[at];
            stack.pop_back();
            if (e.status != kRefGood) continue;  // an entry with a status of its own stops the spreading
            e.status = status;
            e.statusLine = line;
            pushLinks(at);
        }
    }
}

// ---- The second pass's reasons -------------------------------------------------------------------

bool CrossReference::Report(const CrossRefEntry& e, std::string& reason, const std::string& value) const {
    const char* what = e.kind == 1 ? "Check" : "Invoice";
    switch (e.status) {
    case kRefGood: return false;
    case kRefBadRecord: reason = "On Prepass: " + Msg(12011); break;
    case kRefRelatedBadCheck: reason = Msg(12773, what, value, LineText(e.statusLine)); break;
    case kRefRelatedBadInvoice: reason = Msg(12774, what, value, LineText(e.statusLine)); break;
    case kRefVendorMismatch: {
        const std::string_view vendor = VendorOf(e);
        const std::string other(vendors_[Check(e).otherVendor]);
        reason = Msg(12780, vendor, other, LineText(e.statusLine));
        break;
    }
    case kRefNoInvoices: reason = Msg(12778, value); break;
    case kRefVoidPaid: reason = Msg(12779, value); break;
    case kRefAmountMismatch:
        reason = Msg(12777, value, convert::Amount(Check(e).amount), convert::Amount(Check(e).paidSum));
        break;
    case kRefDuplicateCheck: reason = Msg(12775, value, LineText(e.line), LineText(e.statusLine)); break;
    case kRefDuplicateInvoice: reason = Msg(12776, value, LineText(e.line), LineText(e.statusLine)); break;
    case kRefPaidByAbsentCheck: reason = Msg(12781, LineText(e.statusLine)); break;
    default: reason = "On Prepass reporting: " + Msg(12011); break;
    }
    return true;
}

}  // namespace dz::ap
