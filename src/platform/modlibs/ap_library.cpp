// Our AP module library's entries: the record images of the AP master and AP transaction files,
// the open status of an invoice or distribution, and the GL prefix that keys the 1099 totals.
#include <cctype>
#include <cmath>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "platform/datafile/dictionary.h"
#include "platform/datafile/stored_number.h"
#include "platform/datafile/xio.h"
#include "platform/modlibs/entry_types.h"
#include "platform/modlibs/gl_fiscal_entity.h"
#include "platform/modlibs/libraries.h"
#include "platform/suite/xk.h"

namespace dz::modlibs {

namespace {

constexpr int kFailed = 1;

enum ApRecord : uint16_t {
    kInvoiceRecord = 1,
    kDistRecord = 2,
    kTaxRecord = 3,
    kCheckRecord = 4,
    kPaidInvoiceRecord = 5,
    kPaidDistRecord = 6,
    kPaidTaxRecord = 7,
    kVendorRecord = 9,
    kPostingRecord = 1,
};

// The data-file field of each image member, in the order Fields() names them. The key members
// also know where they sit in the image, so that a key-only put visits them alone.
enum class Kind : uint8_t { Text, Number, Word, Date };
struct Slot {
    uint16_t field = 0;
    uint16_t type = 0;
    bool key = false;
    Kind kind = Kind::Text;
    bool batched = false;  // read with the others of `reads`, not one by one
    size_t offset = 0;     // of the member within its image
};
struct Binding {
    std::vector<Slot> slots;
    std::vector<Slot> keySlots;  // the key members, in the same order
    std::vector<Slot> oneByOne;  // the members not read with the others, in the same order
    // The texts of text fields and the numbers of fields other than flags: most of a wide
    // record, read in one call.
    std::vector<xio_image_read> reads;
    // Likewise the texts put into text fields and the numbers put into number fields or flags,
    // in one call; the other members are put one by one, in the same order.
    std::vector<xio_image_write> writes;
    std::vector<Slot> putOneByOne;
};

bool same_abbr(const std::string& a, const char* b) {
    if (a.size() != std::char_traits<char>::length(b)) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (std::toupper(static_cast<unsigned char>(a[i])) != b[i]) return false;
    return true;
}

template <class M> constexpr Kind kind_of();
template <> constexpr Kind kind_of<std::string>() { return Kind::Text; }
template <> constexpr Kind kind_of<double>() { return Kind::Number; }
template <> constexpr Kind kind_of<uint16_t>() { return Kind::Word; }
template <> constexpr Kind kind_of<x_date_type>() { return Kind::Date; }

// Collects the field of every member of an image; fails on a name the record lacks.
struct Resolver {
    const xio::Dictionary& dict;
    const xio::RecordDef& record;
    const void* image;
    Binding& out;
    bool ok = true;

    template <class M>
    void operator()(const char* name, M& m) {
        const uint16_t n = dict.fieldNumber(record, name);
        if (!n) {
            ok = false;
            return;
        }
        Slot s;
        s.field = n;
        s.type = dict.fields[n].def.type;
        for (uint16_t k : record.primaryKey) s.key = s.key || k == n;
        s.kind = kind_of<M>();
        s.offset = static_cast<size_t>(reinterpret_cast<const char*>(&m) - static_cast<const char*>(image));
        if (s.kind == Kind::Text && xio_is_text_type(s.type)) out.reads.push_back(Batch(s, XIO_READ_TEXT));
        if (s.kind == Kind::Number && s.type != XIO_TYPE_LOGICAL) out.reads.push_back(Batch(s, XIO_READ_NUMBER));
        out.slots.push_back(s);
        if (s.key) out.keySlots.push_back(s);
        if (!s.batched) out.oneByOne.push_back(s);
        if (const uint16_t kind = WriteKind(s)) out.writes.push_back({s.field, kind, static_cast<uint32_t>(s.offset)});
        else out.putOneByOne.push_back(s);
    }
    // How the putter would put the member, when one xio_write_image write does the same: 0 when
    // it goes one by one.
    static uint16_t WriteKind(const Slot& s) {
        const bool text = xio_is_text_type(s.type);
        switch (s.kind) {
        case Kind::Text: return text ? XIO_WRITE_TEXT : 0;
        case Kind::Number:
        case Kind::Word: {
            if (text || s.type == XIO_TYPE_DATE || s.type == XIO_TYPE_TIME) return 0;
            const bool word = s.kind == Kind::Word;
            if (s.type == XIO_TYPE_LOGICAL) return word ? XIO_WRITE_WORD_FLAG : XIO_WRITE_FLAG;
            return word ? XIO_WRITE_WORD : XIO_WRITE_NUMBER;
        }
        case Kind::Date: return s.type == XIO_TYPE_DATE ? XIO_WRITE_DATE : 0;
        }
        return 0;
    }
    static xio_image_read Batch(Slot& s, uint16_t kind) {
        s.batched = true;
        xio_image_read r;
        r.field = s.field;
        r.kind = kind;
        r.offset = static_cast<uint32_t>(s.offset);
        return r;
    }
};

// Field numbers are resolved once per dictionary, record and image kind. The cache keeps each
// dictionary alive, so a pointer seen once is never another dictionary's later.
//
// The record's key list lives in its dictionary and the cache keeps every dictionary it saw, so
// its address names one record of one dictionary for good: the last binding is found again by
// it without taking the dictionary.
template <class Image>
const Binding* binding(uint16_t h, const char* abbr, uint16_t rec) {
    thread_local const void* lastRecord = nullptr;
    thread_local const Binding* last = nullptr;
    const void* keyList = xio_primary_key_fields(h, rec);
    if (keyList && keyList == lastRecord) return last;
    std::shared_ptr<const xio::Dictionary> dict = xio_dictionary_of(h);
    if (!dict || !same_abbr(dict->abbr, abbr)) return nullptr;

    static std::mutex mutex;
    static std::map<std::pair<std::shared_ptr<const xio::Dictionary>, uint16_t>, std::unique_ptr<Binding>> cache;
    std::lock_guard<std::mutex> hold(mutex);
    auto [it, added] = cache.try_emplace({dict, rec});
    if (added) {
        const xio::RecordDef* record = dict->record(rec);
        if (record) {
            auto b = std::make_unique<Binding>();
            Image probe;
            Resolver r{*dict, *record, &probe, *b};
            probe.Fields(r);
            if (r.ok) it->second = std::move(b);
        }
    }
    lastRecord = keyList;
    last = it->second.get();
    return last;
}

x_value_def& scratch() {
    thread_local x_value_def v;
    return v;
}

// Puts a text into a text field. Most texts of an image are empty and go into fields that
// are empty already, which is the cheapest thing to find out.
void put_text(uint16_t h, uint16_t field, const std::string& m) {
    if (m.empty() && xio_get_text(h, field).empty()) return;
    xio_put_text(h, field, m);
}

template <class M>
M& member(void* image, const Slot& s) {
    return *reinterpret_cast<M*>(static_cast<char*>(image) + s.offset);
}
template <class M>
const M& member(const void* image, const Slot& s) {
    return *reinterpret_cast<const M*>(static_cast<const char*>(image) + s.offset);
}

// Reads one member not read with the others from the record buffer, as xio_get_field and the
// one-member reads give it.
void get_slot(uint16_t h, uint16_t rec, const Slot& s, void* image) {
    const bool logical = s.type == XIO_TYPE_LOGICAL;
    switch (s.kind) {
    case Kind::Text: {
        x_value_def& v = scratch();
        xio_get_field(h, rec, s.field, v);
        member<std::string>(image, s).assign(v.longText.empty() ? v.text : v.longText);
        return;
    }
    case Kind::Number:
        member<double>(image, s) = logical ? xio_get_flag(h, s.field) : xio_get_number(h, s.field);
        return;
    case Kind::Word:
        member<uint16_t>(image, s) =
            logical ? xio_get_flag(h, s.field) : xio_whole_part<uint16_t>(std::round(xio_get_number(h, s.field)), 0);
        return;
    case Kind::Date: {
        x_value_def& v = scratch();
        xio_get_field(h, rec, s.field, v);
        member<x_date_type>(image, s) = v.date;
        return;
    }
    }
}

// Writes one member into the record buffer: texts into text fields and numbers into number
// fields as xio_put_text, xio_put_number and xio_put_flag put them, anything else as
// xio_put_field makes it of the member.
void put_slot(uint16_t h, uint16_t rec, const Slot& s, const void* image) {
    switch (s.kind) {
    case Kind::Text: {
        const std::string& m = member<std::string>(image, s);
        if (xio_is_text_type(s.type)) {
            put_text(h, s.field, m);
            return;
        }
        x_value_def& v = scratch();
        v.text.assign(m);
        v.longText.clear();
        xio_put_field(h, rec, s.field, v);
        return;
    }
    case Kind::Number:
    case Kind::Word: {
        const double m = s.kind == Kind::Number ? member<double>(image, s) : member<uint16_t>(image, s);
        if (s.type == XIO_TYPE_DATE || s.type == XIO_TYPE_TIME || xio_is_text_type(s.type)) {
            x_value_def& v = scratch();
            v.number = m;
            v.flag = s.type == XIO_TYPE_LOGICAL && m != 0 ? 1 : 0;
            xio_put_field(h, rec, s.field, v);
            return;
        }
        if (s.type == XIO_TYPE_LOGICAL) xio_put_flag(h, s.field, m != 0 ? 1 : 0);
        else xio_put_number(h, s.field, m);
        return;
    }
    case Kind::Date: {
        x_value_def& v = scratch();
        v.date = member<x_date_type>(image, s);
        xio_put_field(h, rec, s.field, v);
        return;
    }
    }
}

template <class Image>
int get_image(uint16_t h, const char* abbr, uint16_t rec, Image* image) {
    if (!image) return kFailed;
    const Binding* b = binding<Image>(h, abbr, rec);
    if (!b) return kFailed;
    xio_read_image(h, b->reads.data(), b->reads.size(), image);
    for (const Slot& s : b->oneByOne) get_slot(h, rec, s, image);
    return 0;
}

template <class Image>
int put_image(uint16_t h, const char* abbr, uint16_t rec, const Image* image, bool keyOnly) {
    if (!image) return kFailed;
    const Binding* b = binding<Image>(h, abbr, rec);
    if (!b) return kFailed;
    if (keyOnly) {
        for (const Slot& s : b->keySlots) put_slot(h, rec, s, image);
        return 0;
    }
    xio_write_image(h, b->writes.data(), b->writes.size(), image);
    for (const Slot& s : b->putOneByOne) put_slot(h, rec, s, image);
    return 0;
}

int ap_get_vendor(uint16_t apm, VendorImage* vendor, uint16_t, uint16_t) {
    return get_image(apm, "APM", kVendorRecord, vendor);
}
int ap_put_vendor(uint16_t apm, const VendorImage* vendor, uint16_t, uint16_t) {
    return put_image(apm, "APM", kVendorRecord, vendor, false);
}
int ap_get_original_inv(uint16_t apm, InvoiceImage* invoice, uint16_t, uint16_t) {
    return get_image(apm, "APM", kInvoiceRecord, invoice);
}
int ap_put_original_inv(uint16_t apm, const InvoiceImage* invoice, uint16_t keyOnly, uint16_t) {
    return put_image(apm, "APM", kInvoiceRecord, invoice, keyOnly != 0);
}
int ap_get_original_dst(uint16_t apm, DistImage* dist, uint16_t, uint16_t, uint16_t) {
    return get_image(apm, "APM", kDistRecord, dist);
}
int ap_put_original_dst(uint16_t apm, const void*, const DistImage* dist, uint16_t keyOnly, uint16_t, uint16_t) {
    return put_image(apm, "APM", kDistRecord, dist, keyOnly != 0);
}
int ap_get_original_tax(uint16_t apm, TaxEntry* tax, uint16_t) { return get_image(apm, "APM", kTaxRecord, tax); }
int ap_put_original_tax(uint16_t apm, const void*, const void*, const TaxEntry* tax, uint16_t keyOnly) {
    return put_image(apm, "APM", kTaxRecord, tax, keyOnly != 0);
}
int ap_get_check(uint16_t apm, CheckImage* check, uint16_t) { return get_image(apm, "APM", kCheckRecord, check); }
int ap_put_check_old(uint16_t apm, const CheckImage* check, uint16_t keyOnly) {
    return put_image(apm, "APM", kCheckRecord, check, keyOnly != 0);
}
int ap_put_paid_inv(uint16_t apm, const PaidInvoiceImage* paid, uint16_t, uint16_t) {
    return put_image(apm, "APM", kPaidInvoiceRecord, paid, false);
}
int ap_get_paid_dst(uint16_t apm, PaidDistImage* paid, uint16_t) {
    return get_image(apm, "APM", kPaidDistRecord, paid);
}
int ap_put_paid_dst(uint16_t apm, const void*, const PaidDistImage* paid, uint16_t) {
    return put_image(apm, "APM", kPaidDistRecord, paid, false);
}
int ap_put_paid_tax(uint16_t apm, const void*, const PaidTaxEntry* tax, uint16_t) {
    return put_image(apm, "APM", kPaidTaxRecord, tax, false);
}
int ap_put_transaction(uint16_t apt, const PostingRecord* posting, uint16_t, uint16_t) {
    return put_image(apt, "APT", kPostingRecord, posting, false);
}

// Open while anything is outstanding: the amount paid holds the whole payment, discount
// included, so what is left is the amount less the amount paid, counted in whole cents.
uint16_t ap_orig_status(const InvoiceImage* invoice, const DistImage* dist) {
    double amount = 0, paid = 0;
    if (invoice) {
        amount = invoice->amount;
        paid = invoice->amountPaid;
    } else if (dist) {
        amount = dist->amount;
        paid = dist->amountPaid;
    } else {
        return 0;
    }
    return std::llround(amount - paid) != 0 ? kApStatusOpen : 0;
}

int ap_get_fiscal_prefix(uint16_t glm, const std::string& account, std::string& prefix, int32_t& section) {
    int32_t chosen = suite::kGlPrefixA;
    if (glm != 0) {
        if (ModuleObject* object = gl_new_fiscal_entity()) {
            ModuleObject* iface = nullptr;
            if (object->Query(zqpoInterfaceID("GL", 2), &iface) && iface) {
                auto* entity = static_cast<GlFiscalEntity*>(iface);
                if (entity->SelectAccount(glm, account, 0)) {
                    switch (entity->PrefixLevel()) {
                    case kEntityPrefixB: chosen = suite::kGlPrefixAB; break;
                    case kEntityPrefixC: chosen = suite::kGlPrefixABC; break;
                    default: break;
                    }
                }
            }
            object->Release();
        }
    }
    std::string text = account;
    suite::xk_unformat_field(suite::kGlAccountFormat, suite::kGlWhole, text);
    suite::xk_get_section(suite::kGlAccountFormat, false, chosen, text);
    prefix = std::move(text);
    section = chosen;
    return 0;
}

uint16_t ap_section_to_key(int32_t section) {
    switch (section) {
    case suite::kGlPrefixAB: return 3;
    case suite::kGlPrefixABC: return 4;
    default: return 2;
    }
}

int ap_free_taxes(std::list<TaxEntry>* taxes, std::list<PaidTaxEntry>* paidTaxes) {
    if (taxes) taxes->clear();
    if (paidTaxes) paidTaxes->clear();
    return 0;
}

}  // namespace

ModuleLibrary ap_library() {
    ModuleLibrary lib{"AP", kOurLibraryVersion, {}};
    lib.entries["AP_GET_VENDOR"] = entry_address<entry::AP_GET_VENDOR>(&ap_get_vendor);
    lib.entries["AP_PUT_VENDOR"] = entry_address<entry::AP_PUT_VENDOR>(&ap_put_vendor);
    lib.entries["AP_GET_ORIGINAL_INV"] = entry_address<entry::AP_GET_ORIGINAL_INV>(&ap_get_original_inv);
    lib.entries["AP_PUT_ORIGINAL_INV"] = entry_address<entry::AP_PUT_ORIGINAL_INV>(&ap_put_original_inv);
    lib.entries["AP_GET_ORIGINAL_DST"] = entry_address<entry::AP_GET_ORIGINAL_DST>(&ap_get_original_dst);
    lib.entries["AP_PUT_ORIGINAL_DST"] = entry_address<entry::AP_PUT_ORIGINAL_DST>(&ap_put_original_dst);
    lib.entries["AP_GET_ORIGINAL_TAX"] = entry_address<entry::AP_GET_ORIGINAL_TAX>(&ap_get_original_tax);
    lib.entries["AP_PUT_ORIGINAL_TAX"] = entry_address<entry::AP_PUT_ORIGINAL_TAX>(&ap_put_original_tax);
    lib.entries["AP_GET_CHECK"] = entry_address<entry::AP_GET_CHECK>(&ap_get_check);
    lib.entries["AP_PUT_CHECK_OLD"] = entry_address<entry::AP_PUT_CHECK_OLD>(&ap_put_check_old);
    lib.entries["AP_PUT_PAID_INV"] = entry_address<entry::AP_PUT_PAID_INV>(&ap_put_paid_inv);
    lib.entries["AP_GET_PAID_DST"] = entry_address<entry::AP_GET_PAID_DST>(&ap_get_paid_dst);
    lib.entries["AP_PUT_PAID_DST"] = entry_address<entry::AP_PUT_PAID_DST>(&ap_put_paid_dst);
    lib.entries["AP_PUT_PAID_TAX"] = entry_address<entry::AP_PUT_PAID_TAX>(&ap_put_paid_tax);
    lib.entries["AP_PUT_TRANSACTION"] = entry_address<entry::AP_PUT_TRANSACTION>(&ap_put_transaction);
    lib.entries["AP_ORIG_STATUS"] = entry_address<entry::AP_ORIG_STATUS>(&ap_orig_status);
    lib.entries["AP_GET_FISCAL_PREFIX"] = entry_address<entry::AP_GET_FISCAL_PREFIX>(&ap_get_fiscal_prefix);
    lib.entries["AP_SECTION_TO_KEY"] = entry_address<entry::AP_SECTION_TO_KEY>(&ap_section_to_key);
    lib.entries["AP_FREE_TAXES"] = entry_address<entry::AP_FREE_TAXES>(&ap_free_taxes);
    return lib;
}

}  // namespace dz::modlibs
