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

std::string Text(uint16_t file, const char* name) { return GetText(file, FieldNo(file, 1, name)); }
void Put(uint16_t file, const char* name, const std::string& text) { PutText(file, FieldNo(file, 1, name), text); }

// Custom description n with its first character upper-cased.
std::string Capitalised(int n) {
    std::string text = suite::xk_description(n);
    suite::x_upper_first(text);
    return text;
}
std::string Description(int n) { return suite::xk_description(n); }

// The field's label as the data dictionary describes it.
std::string Label(uint16_t file, const char* name) {
    xio_fld_def def;
    if (xio_get_fld_def(file, FieldNo(file, 1, name), def) != XIO_OK) return name;
    return def.description;
}

// An empty field takes its list's default; a value the list holds in another letter case takes
// the list's spelling.
void ListDefault(uint16_t file, const char* name, const CustomList& list) {
    std::string value = Text(file, name);
    if (value.empty()) {
        value = list.first;
        Put(file, name, value);
    }
    for (const auto& e : list.entries) {
        if (xvl::equalNoCase(e, value)) {
            if (e != value) Put(file, name, e);
            break;
        }
    }
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

bool xvARM::ResolveReference(uint16_t file, uint16_t field, uint16_t keyFile, const char* keyName) {
    const std::string value = GetText(file, field);
    const uint16_t keyField = FieldNo(keyFile, 1, keyName);
    PutText(keyFile, keyField, value);
    std::string idText, key;
    RecordIdText(keyFile, idText, 1);
    if (prepassKeys.find(idText, key)) {
        PutText(file, field, key);
        return true;
    }
    if (xio_rd_record(keyFile, 1, 0, 0) != XIO_OK) return false;
    PutText(file, field, GetText(keyFile, keyField));
    return true;
}

// ---- Contacts -----------------------------------------------------------------------------------

bool xvARM::ConvertContact(uint16_t ars, uint16_t arm, std::string& reason, convert::MessageList& messages) {
    const std::string& contact = contactTerm_;
    const std::string key = Text(ars, "COCONT");
    if (key.empty()) {
        reason = Msg(12806, contact);
        return false;
    }
    if (Text(ars, "CONAME").empty()) {
        reason = Msg(12807, contact + " name", contact, key);
        return false;
    }
    const std::string customer = Text(ars, "COCUST");
    if (!customer.empty() && !ResolveReference(ars, FieldNo(ars, kRecContact, "COCUST"), arm, "CUST"))
        messages.push_back(Msg(12819, customerTerm_, customer));
    ListDefault(ars, "COTYPEA", contactTypes);
    if (Text(ars, "COTYPEA").empty()) {
        reason = Msg(12807, contact + " type", contact, key);
        return false;
    }
    return true;
}

// ---- Customers ----------------------------------------------------------------------------------

bool xvARM::ConvertCustomer(uint16_t ars, uint16_t arm, std::string& reason, convert::MessageList& messages,
                            bool converting) {
    const std::string& customer = customerTerm_;
    const std::string key = Text(arm, "CUST");
    if (key.empty()) {
        reason = Msg(12806, customer);
        return false;
    }
    if (Text(arm, "CNAME").empty()) {
        reason = Msg(12807, customer + " name", customer, key);
        return false;
    }

    // The eleven contacts.
    static const char* const kContacts[] = {"CCONT1", "CCONT2", "CCONT3", "CCONT4", "CCONT5", "CCONT6",
                                            "CCONT7", "CCONT8", "CCONT9", "CCONT10", "CBCONT"};
    for (int i = 0; i < 11; ++i) {
        const std::string value = Text(arm, kContacts[i]);
        if (value.empty()) continue;
        if (ResolveReference(arm, FieldNo(arm, kRecCustomer, kContacts[i]), ars, "COCONT")) continue;
        const std::string label = i < 10 ? "Contact " + std::to_string(i + 1) : "Billing " + Description(301);
        messages.push_back(Msg(12820, label, value, contactTerm_));
    }

    // List defaults and spellings.
    ListDefault(arm, "CTYPEA", customerTypes);
    ListDefault(arm, "CTRADE", trades);
    ListDefault(arm, "CCRDRTG", creditRatings);
    ListDefault(arm, "CBFREQA", billingFrequencies);
    for (const char* f : {"CTXGRTB", "CTXGRPL", "CTXGRPM", "CTXGRPS", "CTXGRPE", "CTXGRPO", "CTXGRPT"})
        ListDefault(arm, f, taxGroups);

    // Required types: each named by its own label (the customer type by the customer's term).
    for (const char* f : {"CTYPEA", "CTRADE", "CCRDRTG", "CBFREQA"}) {
        if (!Text(arm, f).empty()) continue;
        const std::string label = std::string(f) == "CTYPEA" ? customer + " type" : Label(arm, f);
        reason = Msg(12807, label, customer, key);
        return false;
    }

    const std::string was = convert::ModeWord("was/will be", converting);
    const std::string were = convert::ModeWord("were/will be", converting);
    auto number = [&](const char* pair) { return convert::ModeWord(pair, converting); };
    auto numberField = [&](const char* name) { return FieldNo(arm, kRecCustomer, name); };

    // 1. GL prefix.
    if (const std::string prefix = Text(arm, "CGLPREF"); !prefix.empty()) {
        if (!arGlInterface) {
            messages.push_back(Msg(12809, PrefixShown(prefix), was, number("1803/1804")));
            Put(arm, "CGLPREF", "");
        } else if (glMaster != 0) {
            const int sections = suite::xk_num_sections(suite::kGlAccountFormat);
            const uint16_t rec = sections == 1 ? 3 : sections == 2 ? 4 : sections == 3 ? 5 : 0;
            const char* keyName = sections == 1 ? "PAPRFX" : sections == 2 ? "PBPRFX" : "PCPRFX";
            if (rec != 0 && lookups_.Missing(glMaster, rec, keyName, prefix))
                messages.push_back(Msg(12811, PrefixShown(prefix)));
        }
    }

    // 2. History totals are always kept.
    if (const double hist = convert::GetNumber(arm, numberField("CHISTOT")); hist != 1) {
        const std::string shown = convert::ChoiceText(arm, numberField("CHISTOT"), static_cast<int16_t>(hist), true);
        messages.push_back(Msg(12812, "Track history totals", shown, was, number("1807/1808")));
        convert::PutNumber(arm, numberField("CHISTOT"), 1);
    }

    const std::string& invoiceFormat = invoiceFormatLabel_;
    // 3. Billing not installed: invoice format, billing frequency, automatic invoice text and number.
    if (!billingInstalled) {
        ClearedGroup group;
        if (const std::string v = Text(arm, "CINVFMT"); !v.empty()) {
            group.Note(invoiceFormat, v);
            Put(arm, "CINVFMT", "");
        }
        if (const std::string v = Text(arm, "CBFREQA"); !xvl::equalNoCase(v, billingFrequencies.first)) {
            group.Note(Capitalised(377), v);
            Put(arm, "CBFREQA", billingFrequencies.first);
        }
        if (const std::string v = Text(arm, "CLSTINT"); !v.empty()) {
            group.Note("Auto text", v);
            Put(arm, "CLSTINT", "");
        }
        if (const double n = convert::GetNumber(arm, numberField("CLSTINN")); n != 0) {
            group.Note("Last auto number", convert::FormatNumber("%.0f", n));
            convert::PutNumber(arm, numberField("CLSTINN"), 0);
        }
        if (group.noted) messages.push_back(Msg(12813, group.label, group.value, were, number("1809/1810")));
    }

    // 4. The invoice format, as Billing stores it.
    if (billingStandard != 0) {
        if (const std::string v = Text(arm, "CINVFMT"); !v.empty()) {
            const uint16_t bls = billingStandard;
            xio_init_record(bls, 8);
            PutText(bls, FieldNo(bls, 8, "IFORMAT"), v);
            if (xio_rd_record(bls, 8, 0, 0) == XIO_OK)
                Put(arm, "CINVFMT", GetText(bls, FieldNo(bls, 8, "IFORMAT")));
            else
                messages.push_back(Msg(12814, invoiceFormat, v));
        }
    }

    // 5, 6. Rate, markup and add-on tables: cleared without Billing, else looked up.
    struct Table {
        const char* field;
        int costType;  // rate tables: RTCTYPE; 0 markup, -1 add-on
        const char* word;
    };
    static const Table kTables[] = {{"CRATEL", 1, "Labor "},    {"CRATEM", 2, "Material "},
                                    {"CRATES", 3, "Subcontract "}, {"CRATEE", 4, "Equipment "},
                                    {"CRATEO", 5, "Overhead "}, {"CRATET", 6, "Other "},
                                    {"CMARKTB", 0, nullptr},    {"CADDTB", -1, nullptr}};
    auto tableLabel = [&](const Table& t) {
        if (t.costType > 0) return t.word + Description(330);
        return t.costType == 0 ? Capitalised(321) + " table" : Capitalised(351);
    };
    if (!billingInstalled) {
        ClearedGroup group;
        for (const auto& t : kTables) {
            if (const std::string v = Text(arm, t.field); !v.empty()) {
                group.Note(tableLabel(t), v);
                Put(arm, t.field, "");
            }
        }
        if (group.noted) messages.push_back(Msg(12813, group.label, group.value, were, number("1809/1810")));
    }
    if (billingStandard != 0) {
        const uint16_t bls = billingStandard;
        for (const auto& t : kTables) {
            const std::string search = Text(arm, t.field);
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
                Put(arm, t.field, stored);
            else
                messages.push_back(Msg(12815, tableLabel(t), search));
        }
    }

    // 7. The discount is never carried.
    if (const double d = convert::GetNumber(arm, numberField("CDISCNT")); d != 0) {
        messages.push_back(Msg(12812, "Discount", convert::Amount(d), was, number("1807/1808")));
        convert::PutNumber(arm, numberField("CDISCNT"), 0);
    }

    // 8. AR not using sales taxes: tax fields cleared or reset to the default tax status.
    if (!usesSalesTaxes) {
        ClearedGroup group;
        if (const std::string v = Text(arm, "CTXGR"); !v.empty()) {
            group.Note(Capitalised(37), v);
            Put(arm, "CTXGR", "");
        }
        static const std::pair<const char*, const char*> kStatus[] = {
            {"CTXGRTB", "Total billed "}, {"CTXGRPL", "Labor "},    {"CTXGRPM", "Material "},
            {"CTXGRPS", "Subcontract "},  {"CTXGRPE", "Equipment "}, {"CTXGRPO", "Overhead "},
            {"CTXGRPT", "Other "}};
        for (const auto& [f, word] : kStatus) {
            if (const std::string v = Text(arm, f); !xvl::equalNoCase(v, taxGroups.first)) {
                group.Note(word + Description(369), v);
                Put(arm, f, taxGroups.first);
            }
        }
        if (const std::string v = Text(arm, "CRCERT"); !v.empty()) {
            group.Note(Capitalised(346), v);
            Put(arm, "CRCERT", "");
        }
        if (group.noted) messages.push_back(Msg(12817, group.label, group.value, were, number("1814/1815")));
    } else if (const std::string group = Text(arm, "CTXGR"); !group.empty()) {
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
    if (const x_date_type date = convert::GetDate(arm, numberField("CGENDAT")); date.month != 0) {
        messages.push_back(Msg(12812, "Last " + Description(381), convert::AlphaDate(date), was, number("1807/1808")));
        x_value_def blank;
        xio_put_field(arm, 0, numberField("CGENDAT"), blank);
    }
    if (const double seq = convert::GetNumber(arm, numberField("CGENSEQ")); seq != 0) {
        messages.push_back(Msg(12812, "Last " + Description(382), convert::FormatNumber("%.0f", seq), was,
                               number("1807/1808")));
        convert::PutNumber(arm, numberField("CGENSEQ"), 0);
    }
    return true;
}

}  // namespace dz::ar
