// The contact and customer handlers of the AR converter. A handler checks and completes the
// record the import put in its data file's buffer; it writes nothing.
#include "converters/ar/xvarm.h"

#include "convert/lookups.h"
#include "convert/record_fields.h"

#include "convert/platform_links.h"
#include "platform/datafile/xio.h"
#include "platform/import/xvl_case.h"
#include "platform/suite/util.h"
#include "platform/suite/xk.h"

namespace dz::ar {

using namespace convert;

namespace {

const std::string& Text(uint16_t file, uint16_t field) { return xio_get_text(file, field); }
void Put(uint16_t file, uint16_t field, std::string_view text) {
    if (field) (void)xio_put_text(file, field, text);
}

// Custom description n with its first character upper-cased.
std::string Capitalised(int n) {
    std::string text = suite::xk_description(n);
    suite::x_upper_first(text);
    return text;
}
std::string Description(int n) { return suite::xk_description(n); }

// The field's label as the data dictionary describes it.
std::string Label(uint16_t file, uint16_t field, const char* name) {
    xio_fld_def def;
    if (xio_get_fld_def(file, field, def) != XIO_OK) return name;
    return def.description;
}

// An empty field takes its list's default; a value the list holds in another letter case takes
// the list's spelling. True when the field stays empty. `listed` tells whether the field now
// holds exactly one of the list's entries; false may also mean that it was not worked out.
bool ListDefault(uint16_t file, uint16_t field, const CustomList& list, bool& listed) {
    // The field's own text: a put changes it in place, so it reads what was stored.
    const std::string& value = Text(file, field);
    listed = false;
    if (value.empty()) {
        if (list.emptyBecomes.empty()) return true;
        Put(file, field, list.emptyBecomes);
        listed = list.emptyBecomesListed && value == list.emptyBecomes;
        return false;
    }
    if (value == list.lastListed) {
        listed = true;
        return false;
    }
    for (const auto& e : list.entries) {
        if (xvl::equalNoCase(e, value)) {
            if (e != value) {
                Put(file, field, e);
            } else {
                list.lastListed = e;
            }
            listed = value == e;
            break;
        }
    }
    return false;
}

// What the first pass needs of ListDefault: only an empty field changes, and only whether it
// stays empty matters there (no list field is part of a key).
bool EmptyDefault(uint16_t file, uint16_t field, const CustomList& list) {
    if (!Text(file, field).empty()) return false;
    if (list.emptyBecomes.empty()) return true;
    Put(file, field, list.emptyBecomes);
    return false;
}

// The first field a clearing group changed, with its value as it was, for the group's one
// message.
struct ClearedGroup {
    bool noted = false;
    std::string label, value;
    void Note(const std::string& l, const std::string& v) {
        if (noted) return;
        noted = true;
        label = l;
        value = v;
    }
};

// Key display form of a GL prefix.
std::string PrefixShown(const std::string& prefix) {
    std::string text = prefix;
    suite::xk_format_field(suite::kGlAccountFormat, suite::kGlPrefix, text);
    return text;
}

}  // namespace

bool xvARM::ResolveReference(uint16_t file, uint16_t field, uint16_t keyFile, uint16_t keyField) {
    // A record-ID text follows from the key alone, so a key the text file's own records give is
    // answered by its text, without building the record-ID text: the same pair would answer.
    // A key field's text is already as the field keeps it, so a reference typed as such a key
    // is that key, and the field holds the answer already.
    if (Keys(keyFile).hasKey(xio_get_text(file, field))) return true;
    PutText(keyFile, keyField, xio_get_text(file, field));
    if (const std::string& staged = xio_get_text(keyFile, keyField); Keys(keyFile).hasKey(staged)) {
        PutText(file, field, staged);
        return true;
    }
    RecordIdText(keyFile, refId_, 1);
    if (Keys(keyFile).find(refId_, refKey_)) {
        PutText(file, field, refKey_);
        return true;
    }
    if (xio_rd_record(keyFile, 1, 0, 0) != XIO_OK) return false;
    PutText(file, field, GetText(keyFile, keyField));
    return true;
}

// ---- Contacts -----------------------------------------------------------------------------------

bool xvARM::ConvertContact(uint16_t ars, uint16_t arm, std::string& reason, convert::MessageList& messages) {
    const std::string& contact = contactTerm_;
    const std::string key = Text(ars, contact_[kCoCont]);
    if (key.empty()) {
        reason = Msg(12806, contact);
        return false;
    }
    if (Text(ars, contact_[kCoName]).empty()) {
        reason = Msg(12807, contact + " name", contact, key);
        return false;
    }
    // Pass 1 asks only whether the record is kept: the reference changes no answer. The
    // customer's key is asked of memory before the type, which the reference does not touch.
    bool emptyType = false;
    if (pass1_) {
        emptyType = EmptyDefault(ars, contact_[kCoTypeA], contactTypes);
    } else {
        const uint16_t field = contact_[kCoCust];
        const bool named = !Text(ars, field).empty();
        if (named) customerKeys.prefetchKey(Text(ars, field));
        bool listed = false;
        emptyType = ListDefault(ars, contact_[kCoTypeA], contactTypes, listed);
        listed_ = listed ? 1u : 0u;
        // A reference that is not found is left as the file gives it.
        if (named && !ResolveReference(ars, field, arm, customer_[kCust]))
            messages.push_back(Msg(12819, customerTerm_, Text(ars, field)));
    }
    if (emptyType) {
        reason = Msg(12807, contact + " type", contact, key);
        return false;
    }
    if (!pass1_) listedFile_ = ars;
    return true;
}

// ---- Customers ----------------------------------------------------------------------------------

bool xvARM::ConvertCustomer(uint16_t ars, uint16_t arm, std::string& reason, convert::MessageList& messages,
                            bool converting) {
    const std::string& customer = customerTerm_;
    const std::string key = Text(arm, customer_[kCust]);
    if (key.empty()) {
        reason = Msg(12806, customer);
        return false;
    }
    if (Text(arm, customer_[kCName]).empty()) {
        reason = Msg(12807, customer + " name", customer, key);
        return false;
    }

    // The contacts' keys are asked of memory first: the list fields, which no reference
    // touches, are completed while they come.
    unsigned named = 0;  // bit i: contact field i is filled
    if (!pass1_ && contactRun_) {
        // Most customers name one contact or two: the empty ones are passed over in one call.
        // A stored text never ends in a blank, so a field that is not blank is one not empty.
        const uint16_t first = customer_[kCCont1];
        const uint16_t last = customer_[kCBCont];
        for (uint16_t f = xio_first_nonblank_text(arm, first, last); f != 0;
             f = f < last ? xio_first_nonblank_text(arm, static_cast<uint16_t>(f + 1), last) : 0) {
            named |= 1u << (f - first);
            contactKeys.prefetchKey(Text(arm, f));
        }
    } else if (!pass1_) {
        for (std::size_t i = 0; i < 11; ++i)
            if (const std::string& ref = Text(arm, customer_[kCCont1 + i]); !ref.empty()) {
                named |= 1u << i;
                contactKeys.prefetchKey(ref);
            }
    }

    // List defaults and spellings. Pass 1 asks only whether a required type stays empty.
    // kCustomerLists order: the four types, then the seven tax statuses.
    bool emptyType[4];
    if (pass1_) {
        emptyType[0] = EmptyDefault(arm, customer_[kCTypeA], customerTypes);
        emptyType[1] = EmptyDefault(arm, customer_[kCTrade], trades);
        emptyType[2] = EmptyDefault(arm, customer_[kCCrdRtg], creditRatings);
        emptyType[3] = EmptyDefault(arm, customer_[kCBFreqA], billingFrequencies);
    } else {
        const CustomList* const lists[] = {&customerTypes, &trades, &creditRatings, &billingFrequencies};
        uint32_t listed = 0;
        for (std::size_t i = 0; i < 4; ++i) {
            bool one = false;
            emptyType[i] = ListDefault(arm, customer_[kCTypeA + i], *lists[i], one);
            listed |= one ? 1u << i : 0u;
        }
        std::size_t f = kCTxGrTB;
        if (taxRun_) {
            // The seven tax statuses are mostly all left blank: those before the first that is
            // not are found in one call and take the list's default without being read. The
            // default stores the same way every time, so whether it then holds exactly a list
            // entry is seen once per field.
            const uint16_t first = customer_[kCTxGrTB];
            const uint16_t filled = xio_first_nonblank_text(arm, first, customer_[kCTxGrpT]);
            const std::size_t end = filled == 0 ? kCTxGrpT + 1 : kCTxGrTB + (filled - first);
            for (; f < end; ++f) {
                if (taxGroups.emptyBecomes.empty()) continue;
                Put(arm, customer_[f], taxGroups.emptyBecomes);
                int8_t& one = taxDefaultListed_[f - kCTxGrTB];
                if (one < 0)
                    one = taxGroups.emptyBecomesListed && Text(arm, customer_[f]) == taxGroups.emptyBecomes;
                listed |= one ? 1u << (4 + f - kCTxGrTB) : 0u;
            }
        }
        for (; f <= kCTxGrpT; ++f) {
            bool one = false;
            ListDefault(arm, customer_[f], taxGroups, one);
            listed |= one ? 1u << (4 + f - kCTxGrTB) : 0u;
        }
        listed_ = listed;
    }

    // The eleven contacts. Pass 1 asks only whether the record is kept, which no reference and
    // nothing after the required types changes.
    for (std::size_t i = 0; i < 11; ++i) {
        const uint16_t field = customer_[kCCont1 + i];
        if (!(named & (1u << i)) || ResolveReference(arm, field, ars, contact_[kCoCont])) continue;
        // A reference that is not found is left as the file gives it.
        const std::string label = i < 10 ? "Contact " + std::to_string(i + 1) : "Billing " + Description(301);
        messages.push_back(Msg(12820, label, Text(arm, field), contactTerm_));
    }

    // Required types: each named by its own label (the customer type by the customer's term).
    for (std::size_t f = kCTypeA; f <= kCBFreqA; ++f) {
        if (!emptyType[f - kCTypeA]) continue;
        const std::string label =
            f == kCTypeA ? customer + " type" : Label(arm, customer_[f], kCustomerNames[f]);
        reason = Msg(12807, label, customer, key);
        return false;
    }
    if (pass1_) return true;

    // The mode's words, for the messages that are issued.
    const char* const was = converting ? "was" : "will be";
    const char* const were = converting ? "were" : "will be";
    auto number = [&](const char* pair) { return convert::ModeWord(pair, converting); };
    auto numberField = [&](std::size_t f) { return customer_[f]; };

    // 1. GL prefix.
    if (const std::string prefix = Text(arm, customer_[kCGlPref]); !prefix.empty()) {
        if (!arGlInterface) {
            messages.push_back(Msg(12809, PrefixShown(prefix), was, number("1803/1804")));
            Put(arm, customer_[kCGlPref], "");
        } else if (glMaster != 0) {
            const int sections = suite::xk_num_sections(suite::kGlAccountFormat);
            const uint16_t rec = sections == 1 ? 3 : sections == 2 ? 4 : sections == 3 ? 5 : 0;
            const char* keyName = sections == 1 ? "PAPRFX" : sections == 2 ? "PBPRFX" : "PCPRFX";
            if (rec != 0 && lookups_.Missing(glMaster, rec, keyName, prefix))
                messages.push_back(Msg(12811, PrefixShown(prefix)));
        }
    }

    // 2. History totals are always kept.
    if (const double hist = convert::GetNumber(arm, numberField(kCHisTot)); hist != 1) {
        const std::string shown = convert::ChoiceText(arm, numberField(kCHisTot), static_cast<int16_t>(hist), true);
        messages.push_back(Msg(12812, "Track history totals", shown, was, number("1807/1808")));
        convert::PutNumber(arm, numberField(kCHisTot), 1);
    }

    const std::string& invoiceFormat = invoiceFormatLabel_;
    // 3. Billing not installed: invoice format, billing frequency, automatic invoice text and number.
    if (!billingInstalled) {
        ClearedGroup group;
        if (const std::string v = Text(arm, customer_[kCInvFmt]); !v.empty()) {
            group.Note(invoiceFormat, v);
            Put(arm, customer_[kCInvFmt], "");
        }
        if (const std::string v = Text(arm, customer_[kCBFreqA]); !xvl::equalNoCase(v, billingFrequencies.first)) {
            group.Note(Capitalised(377), v);
            Put(arm, customer_[kCBFreqA], billingFrequencies.first);
            listed_ &= ~(1u << 3);
        }
        if (const std::string v = Text(arm, customer_[kCLstInt]); !v.empty()) {
            group.Note("Auto text", v);
            Put(arm, customer_[kCLstInt], "");
        }
        if (const double n = convert::GetNumber(arm, numberField(kCLstInn)); n != 0) {
            group.Note("Last auto number", convert::FormatNumber("%.0f", n));
            convert::PutNumber(arm, numberField(kCLstInn), 0);
        }
        if (group.noted) messages.push_back(Msg(12813, group.label, group.value, were, number("1809/1810")));
    }

    // 4. The invoice format, as Billing stores it.
    if (billingStandard != 0) {
        if (const std::string v = Text(arm, customer_[kCInvFmt]); !v.empty()) {
            const uint16_t bls = billingStandard;
            xio_init_record(bls, 8);
            PutText(bls, FieldNo(bls, 8, "IFORMAT"), v);
            if (xio_rd_record(bls, 8, 0, 0) == XIO_OK)
                Put(arm, customer_[kCInvFmt], GetText(bls, FieldNo(bls, 8, "IFORMAT")));
            else
                messages.push_back(Msg(12814, invoiceFormat, v));
        }
    }

    // 5, 6. Rate, markup and add-on tables: cleared without Billing, else looked up.
    struct Table {
        std::size_t field;
        int costType;  // rate tables: RTCTYPE; 0 markup, -1 add-on
        const char* word;
    };
    static const Table kTables[] = {{kCRateL, 1, "Labor "},    {kCRateM, 2, "Material "},
                                    {kCRateS, 3, "Subcontract "}, {kCRateE, 4, "Equipment "},
                                    {kCRateO, 5, "Overhead "}, {kCRateT, 6, "Other "},
                                    {kCMarkTb, 0, nullptr},    {kCAddTb, -1, nullptr}};
    auto tableLabel = [&](const Table& t) {
        if (t.costType > 0) return t.word + Description(330);
        return t.costType == 0 ? Capitalised(321) + " table" : Capitalised(351);
    };
    const bool tablesBlank =
        tableRun_ && xio_first_nonblank_text(arm, customer_[kCRateL], customer_[kCAddTb]) == 0;
    if (!billingInstalled && !tablesBlank) {
        ClearedGroup group;
        for (const auto& t : kTables) {
            if (const std::string& v = Text(arm, customer_[t.field]); !v.empty()) {
                group.Note(tableLabel(t), v);  // copied before the field is cleared
                Put(arm, customer_[t.field], "");
            }
        }
        if (group.noted) messages.push_back(Msg(12813, group.label, group.value, were, number("1809/1810")));
    }
    if (billingStandard != 0 && !tablesBlank) {
        const uint16_t bls = billingStandard;
        for (const auto& t : kTables) {
            const std::string search = Text(arm, customer_[t.field]);
            if (search.empty()) continue;
            bool found = false;
            std::string stored;
            if (t.costType > 0) {
                xio_init_record(bls, 2);
                PutText(bls, FieldNo(bls, 2, "RTABLE"), search);
                convert::PutNumber(bls, FieldNo(bls, 2, "RTCTYPE"), t.costType);
                if (xio_rd_ge(bls, 2, 0, 0) == XIO_OK) {
                    stored = GetText(bls, FieldNo(bls, 2, "RTABLE"));
                    found = xvl::equalNoCase(stored, search) &&
                            convert::GetNumber(bls, FieldNo(bls, 2, "RTCTYPE")) == t.costType;
                }
            } else if (t.costType == 0) {
                xio_init_record(bls, 1);
                PutText(bls, FieldNo(bls, 1, "MTABLE"), search);
                if (xio_rd_ge(bls, 1, 0, 0) == XIO_OK) {
                    stored = GetText(bls, FieldNo(bls, 1, "MTABLE"));
                    found = xvl::equalNoCase(stored, search);
                }
            } else {
                xio_init_record(bls, 6);
                PutText(bls, FieldNo(bls, 6, "ATATAB"), search);
                if (xio_rd_record(bls, 6, 0, 0) == XIO_OK) {
                    stored = GetText(bls, FieldNo(bls, 6, "ATATAB"));
                    found = true;
                }
            }
            if (found)
                Put(arm, customer_[t.field], stored);
            else
                messages.push_back(Msg(12815, tableLabel(t), search));
        }
    }

    // 7. The discount is never carried.
    if (const double d = convert::GetNumber(arm, numberField(kCDiscnt)); d != 0) {
        messages.push_back(Msg(12812, "Discount", convert::Amount(d), was, number("1807/1808")));
        convert::PutNumber(arm, numberField(kCDiscnt), 0);
    }

    // 8. AR not using sales taxes: tax fields cleared or reset to the default tax status.
    if (!usesSalesTaxes) {
        ClearedGroup group;
        if (const std::string v = Text(arm, customer_[kCTxGr]); !v.empty()) {
            group.Note(Capitalised(37), v);
            Put(arm, customer_[kCTxGr], "");
        }
        static const std::pair<std::size_t, const char*> kStatus[] = {
            {kCTxGrTB, "Total billed "}, {kCTxGrpL, "Labor "},    {kCTxGrpM, "Material "},
            {kCTxGrpS, "Subcontract "},  {kCTxGrpE, "Equipment "}, {kCTxGrpO, "Overhead "},
            {kCTxGrpT, "Other "}};
        for (const auto& [f, word] : kStatus) {
            if (const std::string v = Text(arm, customer_[f]); !xvl::equalNoCase(v, taxGroups.first)) {
                group.Note(word + Description(369), v);
                Put(arm, customer_[f], taxGroups.first);
                listed_ &= ~(1u << (4 + f - kCTxGrTB));
            }
        }
        if (const std::string v = Text(arm, customer_[kCRCert]); !v.empty()) {
            group.Note(Capitalised(346), v);
            Put(arm, customer_[kCRCert], "");
        }
        if (group.noted) messages.push_back(Msg(12817, group.label, group.value, were, number("1814/1815")));
    } else if (const std::string group = Text(arm, customer_[kCTxGr]); !group.empty()) {
        // 9. The tax group, on the tax master; without one the first such group is the example
        // of the closing note.
        if (taxMaster == 0) {
            taxGroupUnverified = 1;
            if (firstUnverifiedTaxGroup.empty()) firstUnverifiedTaxGroup = group;
        } else {
            if (lookups_.Missing(taxMaster, 2, "GROUP", group)) messages.push_back(Msg(12818, group));
        }
    }

    // 10, 11. Generation date and sequence are never carried.
    if (const x_date_type date = convert::GetDate(arm, numberField(kCGenDat)); date.month != 0) {
        messages.push_back(Msg(12812, "Last " + Description(381), convert::AlphaDate(date), was, number("1807/1808")));
        x_value_def blank;
        xio_put_field(arm, 0, numberField(kCGenDat), blank);
    }
    if (const double seq = convert::GetNumber(arm, numberField(kCGenSeq)); seq != 0) {
        messages.push_back(Msg(12812, "Last " + Description(382), convert::FormatNumber("%.0f", seq), was,
                               number("1807/1808")));
        convert::PutNumber(arm, numberField(kCGenSeq), 0);
    }
    listedFile_ = arm;
    return true;
}

}  // namespace dz::ar
