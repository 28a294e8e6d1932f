// Our AP module library through its thunks: every record image covers its record field for
// field, gets and puts carry every field unchanged, key-only puts find the stored record, the
// open status and prefix level helpers, and the thunks' fallbacks.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <set>
#include <string>
#include <unistd.h>
#include <vector>

#include "modules/entries.h"
#include "modules/module_dlls.h"
#include "platform/datafile/dictionary.h"
#include "platform/datafile/xio.h"
#include "platform/modlibs/registry.h"
#include "platform/suite/company.h"

namespace dz::modules {
namespace {

// ---- Test visitors over an image's Fields() ---------------------------------------------------

struct Names {
    std::vector<std::string> names;
    template <class M>
    void operator()(const char* name, M&) {
        names.push_back(name);
    }
};

// Gives every member a value other than its field's default.
struct Filler {
    int k = 0;
    void operator()(const char*, std::string& m) { m = std::to_string(10 + (k++ % 89)); }
    void operator()(const char*, double& m) { m = 1 + (k++ % 8); }
    void operator()(const char*, uint16_t& m) { m = 1 + (k++ % 2); }
    void operator()(const char*, x_date_type& m) { m = {3, static_cast<uint16_t>(1 + (k++ % 28)), 2026}; }
};

// Compares every member with the field of the same name in the record buffer.
struct Checker {
    uint16_t h;
    uint16_t rec;
    int mismatches = 0;

    x_value_def Get(const char* name, uint16_t& type) {
        const uint16_t n = xio_num(h, XIO_NUM_RECORD, rec, name);
        xio_fld_def def;
        xio_get_fld_def(h, n, def);
        type = def.type;
        x_value_def v;
        xio_get_field(h, rec, n, v);
        return v;
    }
    void Expect(bool equal, const char* name) {
        EXPECT_TRUE(equal) << name;
        if (!equal) ++mismatches;
    }
    void operator()(const char* name, std::string& m) {
        uint16_t t = 0;
        Expect(Get(name, t).text == m, name);
    }
    void operator()(const char* name, double& m) {
        uint16_t t = 0;
        const x_value_def v = Get(name, t);
        Expect((t == XIO_TYPE_LOGICAL ? v.flag : v.number) == m, name);
    }
    void operator()(const char* name, uint16_t& m) {
        uint16_t t = 0;
        const x_value_def v = Get(name, t);
        Expect(t == XIO_TYPE_LOGICAL ? v.flag == (m != 0) : v.number == m, name);
    }
    void operator()(const char* name, x_date_type& m) {
        uint16_t t = 0;
        Expect(Get(name, t).date == m, name);
    }
};

// Every member holds its type's empty value.
struct EmptyCheck {
    void operator()(const char* name, std::string& m) { EXPECT_EQ(m, "") << name; }
    void operator()(const char* name, double& m) { EXPECT_EQ(m, 0) << name; }
    void operator()(const char* name, uint16_t& m) { EXPECT_EQ(m, 0) << name; }
    void operator()(const char* name, x_date_type& m) { EXPECT_TRUE(m.blank()) << name; }
};

template <class Image>
std::vector<std::string> names_of() {
    Image image;
    Names n;
    image.Fields(n);
    return n.names;
}

// ---- Fixture ------------------------------------------------------------------------------------

class ApLibrary : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = std::filesystem::temp_directory_path() / ("dz_aplib_" + std::to_string(::getpid()));
        std::filesystem::remove_all(dir_);
        std::filesystem::create_directories(dir_);
        suite::write_settings(dir_ / suite::kSettingsFileName, suite::default_settings({"GL", "CM", "AP"}));
        suite::open_company(dir_);
        ours_ = modlibs::our_module_libraries();
        modlibs::set_registry(&ours_);
        ASSERT_TRUE(LoadModuleDlls());
        apm_ = Open("APM", 1);
        apt_ = Open("APT", 1);
        api_ = Open("API", 1);
    }
    void TearDown() override {
        for (uint16_t h : {apm_, apt_, api_})
            if (h) xio_cls_file(h);
        ReleaseModuleDlls();
        modlibs::set_registry(nullptr);
        suite::close_company();
        std::filesystem::remove_all(dir_);
    }
    uint16_t Open(const char* abbr, uint16_t fileNo) {
        xio_ask_request req;
        req.abbr = abbr;
        req.fileNo = fileNo;
        req.create = true;
        uint16_t h = 0;
        EXPECT_EQ(xio_ask_file(req, h), XIO_OK) << abbr << ": " << xio_error_text();
        return h;
    }
    const xio::Dictionary& Dict(const char* abbr) {
        std::string error;
        dicts_.push_back(xio::get(abbr, error));
        return *dicts_.back();
    }
    // The names of the fields of a record, in field order.
    std::vector<std::string> RecordNames(const char* abbr, uint16_t rec) {
        const xio::Dictionary& d = Dict(abbr);
        std::vector<std::string> out;
        const xio::RecordDef* r = d.record(rec);
        EXPECT_TRUE(r) << abbr << " " << rec;
        if (r)
            for (uint16_t n = r->firstField; n <= r->lastField; ++n) out.push_back(d.fields[n].def.name);
        return out;
    }
    // Puts into every field of the record buffer a value other than its default.
    void FillBuffer(uint16_t h, uint16_t rec, int seed) {
        xio_rec_def rd;
        ASSERT_EQ(xio_get_rec_def(h, rec, rd), XIO_OK);
        xio_init_record(h, rec);
        for (uint16_t n = rd.firstField; n <= rd.lastField; ++n) {
            xio_fld_def def;
            xio_get_fld_def(h, n, def);
            x_value_def v;
            switch (def.type) {
            case XIO_TYPE_LOGICAL: v.flag = 1; break;
            case XIO_TYPE_DATE: v.date = {5, static_cast<uint16_t>(1 + (n + seed) % 28), 2026}; break;
            case 7:
            case 8:
            case 9: v.number = static_cast<double>(def.items.size()); break;
            case XIO_TYPE_NUMBER: v.number = 1 + (n + seed) % 8; break;
            default: v.text = std::to_string(10 + (n + seed) % 89);
            }
            ASSERT_EQ(xio_put_field(h, rec, n, v), XIO_OK) << def.name;
        }
    }
    // The whole record buffer, field by field.
    std::vector<x_value_def> Dump(uint16_t h, uint16_t rec) {
        xio_rec_def rd;
        xio_get_rec_def(h, rec, rd);
        std::vector<x_value_def> out;
        for (uint16_t n = rd.firstField; n <= rd.lastField; ++n) {
            x_value_def v;
            xio_get_field(h, rec, n, v);
            out.push_back(v);
        }
        return out;
    }
    // Writes a filled record, reads it back by its key, gets it into an image, puts the image
    // into a fresh buffer and writes that under another first key field: both records dump alike
    // but for that field.
    template <class Image>
    void RoundTrip(uint16_t rec, const std::function<int(Image*)>& get, const std::function<int(const Image*)>& put) {
        SCOPED_TRACE("record " + std::to_string(rec));
        FillBuffer(apm_, rec, rec);
        ASSERT_EQ(xio_wr_record(apm_, rec), XIO_OK) << xio_error_text();
        ASSERT_EQ(xio_rd_record(apm_, rec, 0, 0), XIO_OK);
        const std::vector<x_value_def> stored = Dump(apm_, rec);
        Image image;
        ASSERT_EQ(get(&image), 0);
        xio_init_record(apm_, rec);
        ASSERT_EQ(put(&image), 0);
        xio_rec_def rd;
        xio_get_rec_def(apm_, rec, rd);
        const uint16_t key = rd.primaryKeyFields.front();
        x_value_def other;
        xio_get_field(apm_, rec, key, other);
        other.text = "99";
        other.number += 7;
        xio_put_field(apm_, rec, key, other);
        ASSERT_EQ(xio_wr_record(apm_, rec), XIO_OK) << xio_error_text();
        ASSERT_EQ(xio_rd_record(apm_, rec, 0, 0), XIO_OK);
        const std::vector<x_value_def> copy = Dump(apm_, rec);
        ASSERT_EQ(copy.size(), stored.size());
        for (size_t i = 0; i < copy.size(); ++i) {
            if (rd.firstField + i == key) {
                EXPECT_NE(copy[i], stored[i]);
                continue;
            }
            EXPECT_EQ(copy[i], stored[i]) << "field " << rd.firstField + i;
        }
    }
    // Fills an image, puts it into a fresh buffer, writes it as the first record of its type and
    // reads it back: every field holds its member.
    template <class Image>
    void PutOnly(uint16_t h, uint16_t rec, const std::function<int(const Image*)>& put) {
        SCOPED_TRACE("record " + std::to_string(rec));
        Image image;
        Filler f;
        image.Fields(f);
        xio_init_record(h, rec);
        ASSERT_EQ(put(&image), 0);
        ASSERT_EQ(xio_wr_record(h, rec), XIO_OK) << xio_error_text();
        // Read back the only record of its type from the file.
        xio_init_record(h, rec);
        ASSERT_EQ(xio_rd_first(h, rec, 0, 0), XIO_OK);
        Checker c{h, rec};
        image.Fields(c);
        EXPECT_EQ(c.mismatches, 0);
    }

    std::filesystem::path dir_;
    modlibs::Registry ours_;
    std::vector<std::shared_ptr<const xio::Dictionary>> dicts_;
    uint16_t apm_ = 0, apt_ = 0, api_ = 0;
};

// ---- Images against their records ---------------------------------------------------------------

TEST_F(ApLibrary, EveryImageNamesEachFieldOfItsRecordOnceInFieldOrder) {
    EXPECT_EQ(names_of<InvoiceImage>(), RecordNames("APM", 1));
    EXPECT_EQ(names_of<DistImage>(), RecordNames("APM", 2));
    EXPECT_EQ(names_of<TaxEntry>(), RecordNames("APM", 3));
    EXPECT_EQ(names_of<CheckImage>(), RecordNames("APM", 4));
    EXPECT_EQ(names_of<PaidInvoiceImage>(), RecordNames("APM", 5));
    EXPECT_EQ(names_of<PaidDistImage>(), RecordNames("APM", 6));
    EXPECT_EQ(names_of<PaidTaxEntry>(), RecordNames("APM", 7));
    EXPECT_EQ(names_of<VendorImage>(), RecordNames("APM", 9));
    EXPECT_EQ(names_of<PostingRecord>(), RecordNames("APT", 1));
}

TEST_F(ApLibrary, AGetFollowedByAPutChangesNothingButTheKey) {
    RoundTrip<VendorImage>(
        9, [&](VendorImage* i) { return AP_GET_VENDOR(apm_, i, 0, 0); },
        [&](const VendorImage* i) { return AP_PUT_VENDOR(apm_, i, 0, 0); });
    RoundTrip<InvoiceImage>(
        1, [&](InvoiceImage* i) { return AP_GET_ORIGINAL_INV(apm_, i, 0, 0); },
        [&](const InvoiceImage* i) { return AP_PUT_ORIGINAL_INV(apm_, i, 0, 0); });
    RoundTrip<DistImage>(
        2, [&](DistImage* i) { return AP_GET_ORIGINAL_DST(apm_, i, 0, 0, 0); },
        [&](const DistImage* i) { return AP_PUT_ORIGINAL_DST(apm_, nullptr, i, 0, 0, 0); });
    RoundTrip<TaxEntry>(
        3, [&](TaxEntry* i) { return AP_GET_ORIGINAL_TAX(apm_, i, 0); },
        [&](const TaxEntry* i) { return AP_PUT_ORIGINAL_TAX(apm_, nullptr, nullptr, i, 0); });
    RoundTrip<CheckImage>(
        4, [&](CheckImage* i) { return AP_GET_CHECK(apm_, i, 0); },
        [&](const CheckImage* i) { return AP_PUT_CHECK_OLD(apm_, i, 0); });
    RoundTrip<PaidDistImage>(
        6, [&](PaidDistImage* i) { return AP_GET_PAID_DST(apm_, i, 0); },
        [&](const PaidDistImage* i) { return AP_PUT_PAID_DST(apm_, nullptr, i, 0); });
}

TEST_F(ApLibrary, PutsPlaceEveryMemberIntoItsField) {
    PutOnly<PaidInvoiceImage>(apm_, 5, [&](const PaidInvoiceImage* i) { return AP_PUT_PAID_INV(apm_, i, 0, 0); });
    PutOnly<PaidTaxEntry>(apm_, 7, [&](const PaidTaxEntry* i) { return AP_PUT_PAID_TAX(apm_, nullptr, i, 0); });
    PutOnly<PostingRecord>(apt_, 1, [&](const PostingRecord* i) { return AP_PUT_TRANSACTION(apt_, i, 0, 0); });
    PutOnly<VendorImage>(apm_, 9, [&](const VendorImage* i) { return AP_PUT_VENDOR(apm_, i, 0, 0); });
    PutOnly<DistImage>(apm_, 2, [&](const DistImage* i) { return AP_PUT_ORIGINAL_DST(apm_, nullptr, i, 0, 0, 0); });
}

TEST_F(ApLibrary, AKeyOnlyPutPlacesTheKeyAloneAndFindsTheStoredRecord) {
    InvoiceImage stored;
    stored.vendor = "ACME";
    stored.invoice = "INV-1";
    stored.amount = 12345;
    stored.description = "Lumber";
    xio_init_record(apm_, 1);
    ASSERT_EQ(AP_PUT_ORIGINAL_INV(apm_, &stored, 0, 0), 0);
    ASSERT_EQ(xio_wr_record(apm_, 1), XIO_OK);

    InvoiceImage probe;
    Filler f;
    probe.Fields(f);  // every field other than its default
    probe.vendor = "acme";  // keys compare without regard to case
    probe.invoice = "INV-1";
    xio_init_record(apm_, 1);
    ASSERT_EQ(AP_PUT_ORIGINAL_INV(apm_, &probe, 1, 0), 0);
    InvoiceImage seen;
    ASSERT_EQ(AP_GET_ORIGINAL_INV(apm_, &seen, 0, 0), 0);
    EXPECT_EQ(seen.amount, 0);  // only the key went into the buffer
    EXPECT_EQ(seen.description, "");
    ASSERT_EQ(xio_rd_record(apm_, 1, 0, 0), XIO_OK);
    ASSERT_EQ(AP_GET_ORIGINAL_INV(apm_, &seen, 0, 0), 0);
    EXPECT_EQ(seen.vendor, "ACME");  // the stored spelling
    EXPECT_EQ(seen.amount, 12345);
    EXPECT_EQ(seen.description, "Lumber");

    // The same for a check, whose key is a bank and a number.
    CheckImage check;
    check.bank = "100";
    check.check = 5001;
    check.amount = 2500;
    xio_init_record(apm_, 4);
    ASSERT_EQ(AP_PUT_CHECK_OLD(apm_, &check, 0), 0);
    ASSERT_EQ(xio_wr_record(apm_, 4), XIO_OK);
    CheckImage key;
    key.bank = "100";
    key.check = 5001;
    key.amount = 1;
    xio_init_record(apm_, 4);
    ASSERT_EQ(AP_PUT_CHECK_OLD(apm_, &key, 1), 0);
    ASSERT_EQ(xio_rd_record(apm_, 4, 0, 0), XIO_OK);
    ASSERT_EQ(AP_GET_CHECK(apm_, &key, 0), 0);
    EXPECT_EQ(key.amount, 2500);

    // And for distributions, whose key ends in a sequence word: the second is found, not the first.
    for (uint16_t seq : {1, 2}) {
        DistImage dist;
        dist.vendor = "ACME";
        dist.invoice = "INV-1";
        dist.distSequence = seq;
        dist.amount = 100 * seq;
        xio_init_record(apm_, 2);
        ASSERT_EQ(AP_PUT_ORIGINAL_DST(apm_, nullptr, &dist, 0, 0, 0), 0);
        ASSERT_EQ(xio_wr_record(apm_, 2), XIO_OK);
    }
    DistImage distKey;
    distKey.Fields(f);
    distKey.vendor = "ACME";
    distKey.invoice = "INV-1";
    distKey.distSequence = 2;
    xio_init_record(apm_, 2);
    ASSERT_EQ(AP_PUT_ORIGINAL_DST(apm_, nullptr, &distKey, 1, 0, 0), 0);
    DistImage distSeen;
    ASSERT_EQ(AP_GET_ORIGINAL_DST(apm_, &distSeen, 0, 0, 0), 0);
    EXPECT_EQ(distSeen.amount, 0);
    EXPECT_EQ(distSeen.description, "");
    ASSERT_EQ(xio_rd_record(apm_, 2, 0, 0), XIO_OK);
    ASSERT_EQ(AP_GET_ORIGINAL_DST(apm_, &distSeen, 0, 0, 0), 0);
    EXPECT_EQ(distSeen.distSequence, 2);
    EXPECT_EQ(distSeen.amount, 200);
}

TEST_F(ApLibrary, ImagesPutOneAfterAnotherStoreEachTextAsAPutLeavesIt) {
    // Invoice after invoice goes into the same buffer, never started afresh: a text the field
    // holds already, one differing only in case, one with blanks after it and one longer than
    // its field.
    xio_fld_def desc;
    xio_get_fld_def(apm_, xio_num(apm_, XIO_NUM_RECORD, 1, "OIDESC"), desc);
    const std::string tooLong(desc.length + 3, 'L');
    const std::vector<std::pair<std::string, std::string>> puts = {
        {"Lumber", "Lumber"}, {"Lumber", "Lumber"}, {"LUMBER", "LUMBER"},
        {"Lumber  ", "Lumber"}, {tooLong, tooLong.substr(0, desc.length)}, {tooLong, tooLong.substr(0, desc.length)}};
    InvoiceImage inv;
    inv.vendor = "ACME";
    xio_init_record(apm_, 1);
    for (std::size_t i = 0; i < puts.size(); ++i) {
        inv.invoice = "INV-" + std::to_string(i);
        inv.description = puts[i].first;
        ASSERT_EQ(AP_PUT_ORIGINAL_INV(apm_, &inv, 0, 0), 0);
        ASSERT_EQ(xio_wr_record(apm_, 1), XIO_OK) << xio_error_text();
    }
    for (std::size_t i = 0; i < puts.size(); ++i) {
        InvoiceImage seen;
        seen.vendor = "ACME";
        seen.invoice = "INV-" + std::to_string(i);
        xio_init_record(apm_, 1);
        ASSERT_EQ(AP_PUT_ORIGINAL_INV(apm_, &seen, 1, 0), 0);
        ASSERT_EQ(xio_rd_record(apm_, 1, 0, 0), XIO_OK);
        ASSERT_EQ(AP_GET_ORIGINAL_INV(apm_, &seen, 0, 0), 0);
        EXPECT_EQ(seen.description, puts[i].second) << seen.invoice;
    }
}

TEST_F(ApLibrary, AWholePutLeavesImageOnlyMembersOutAndKeepsTheBuffer) {
    // The put never initialises the buffer: a get after it answers exactly the image.
    FillBuffer(apm_, 2, 3);
    DistImage d;
    Filler f;
    d.Fields(f);
    d.newDistribution = 1;
    d.taxes.push_back(TaxEntry{});
    ASSERT_EQ(AP_PUT_ORIGINAL_DST(apm_, nullptr, &d, 0, 0, 0), 0);
    DistImage back;
    back.newDistribution = 9;
    back.taxes.resize(2);
    ASSERT_EQ(AP_GET_ORIGINAL_DST(apm_, &back, 0, 0, 0), 0);
    Checker c{apm_, 2};
    back.Fields(c);
    d.Fields(c);
    EXPECT_EQ(c.mismatches, 0);
    EXPECT_EQ(back.newDistribution, 9);  // image-only members are the caller's
    EXPECT_EQ(back.taxes.size(), 2u);

    // Empty texts empty the fields they are put into; empty fields empty the members read back.
    DistImage blank;
    ASSERT_EQ(AP_PUT_ORIGINAL_DST(apm_, nullptr, &blank, 0, 0, 0), 0);
    ASSERT_EQ(AP_GET_ORIGINAL_DST(apm_, &back, 0, 0, 0), 0);
    EXPECT_EQ(back.description, "");
    EXPECT_EQ(back.job, "");
    Checker cleared{apm_, 2};
    blank.Fields(cleared);
    EXPECT_EQ(cleared.mismatches, 0);
}

TEST_F(ApLibrary, ACheckAfterInitialisingItsRecordIsEmpty) {
    CheckImage c;
    Filler f;
    c.Fields(f);
    xio_init_record(apm_, 4);
    ASSERT_EQ(AP_GET_CHECK(apm_, &c, 0), 0);
    EmptyCheck e;
    c.Fields(e);
}

TEST_F(ApLibrary, AHandleThatIsNotTheApMasterIsRefusedAndNothingChanges) {
    VendorImage v;
    v.name = "keep";
    EXPECT_NE(AP_GET_VENDOR(apt_, &v, 0, 0), 0);
    EXPECT_NE(AP_GET_VENDOR(0, &v, 0, 0), 0);
    EXPECT_NE(AP_GET_VENDOR(4000, &v, 0, 0), 0);
    EXPECT_EQ(v.name, "keep");
    // The invoice file holds AP master records but is not the AP master.
    InvoiceImage i;
    i.vendor = "keep";
    EXPECT_NE(AP_GET_ORIGINAL_INV(api_, &i, 0, 0), 0);
    EXPECT_EQ(i.vendor, "keep");
    FillBuffer(api_, 1, 1);
    const std::vector<x_value_def> before = Dump(api_, 1);
    EXPECT_NE(AP_PUT_ORIGINAL_INV(api_, &i, 0, 0), 0);
    EXPECT_EQ(Dump(api_, 1), before);
    // A posting record goes only into the AP transaction file.
    PostingRecord p;
    EXPECT_NE(AP_PUT_TRANSACTION(apm_, &p, 0, 0), 0);
    EXPECT_NE(AP_GET_CHECK(apm_, nullptr, 0), 0);
}

// The binding found for one handle is never another file's: a read of the AP master, then the
// same record of the invoice file, refused, then the AP master again.
TEST_F(ApLibrary, AnotherFilesRecordIsRefusedRightAfterTheSameRecordOfTheApMaster) {
    FillBuffer(apm_, 1, 1);
    InvoiceImage i;
    ASSERT_EQ(AP_GET_ORIGINAL_INV(apm_, &i, 0, 0), 0);
    EXPECT_FALSE(i.vendor.empty());
    i.vendor = "keep";
    EXPECT_NE(AP_GET_ORIGINAL_INV(api_, &i, 0, 0), 0);
    EXPECT_EQ(i.vendor, "keep");
    EXPECT_EQ(AP_GET_ORIGINAL_INV(apm_, &i, 0, 0), 0);
    EXPECT_NE(i.vendor, "keep");
}

// ---- Status, prefix level, tax lists --------------------------------------------------------

TEST_F(ApLibrary, AnInvoiceOrDistributionIsOpenWhileWholeCentsAreOutstanding) {
    struct Case {
        double amount, paid;
        uint16_t open;
    };
    for (const Case& c : {Case{10000, 0, 1}, Case{10000, 10000, 0}, Case{10000, 12000, 1}, Case{-5000, -2000, 1},
                          Case{-5000, -5000, 0}, Case{0, 0, 0}, Case{10000, 9999.6, 0}, Case{10000, 9999.4, 1}}) {
        InvoiceImage i;
        i.amount = c.amount;
        i.amountPaid = c.paid;
        DistImage d;
        d.amount = c.amount;
        d.amountPaid = c.paid;
        EXPECT_EQ(AP_ORIG_STATUS(&i, nullptr), c.open) << c.amount << " " << c.paid;
        EXPECT_EQ(AP_ORIG_STATUS(nullptr, &d), c.open) << c.amount << " " << c.paid;
    }
    EXPECT_EQ(AP_ORIG_STATUS(nullptr, nullptr), 0);
}

TEST_F(ApLibrary, SectionsGiveThePrefixTotalsLevel) {
    EXPECT_EQ(AP_SECTION_TO_KEY(1), 2);
    EXPECT_EQ(AP_SECTION_TO_KEY(9), 3);
    EXPECT_EQ(AP_SECTION_TO_KEY(10), 4);
    for (int32_t other : {0, 2, 7, 8, 11, -1}) EXPECT_EQ(AP_SECTION_TO_KEY(other), 2) << other;
}

TEST_F(ApLibrary, WithoutAGlMasterThePrefixIsPrefixA) {
    std::string prefix = "x";
    int32_t section = 0;
    AP_GET_FISCAL_PREFIX(0, "01-1-10-5000-00", prefix, section);
    EXPECT_EQ(section, 1);
}

TEST_F(ApLibrary, FreeingTaxesEmptiesBothLists) {
    std::list<TaxEntry> taxes(3);
    std::list<PaidTaxEntry> paid(2);
    EXPECT_EQ(AP_FREE_TAXES(&taxes, &paid), 0);
    EXPECT_TRUE(taxes.empty());
    EXPECT_TRUE(paid.empty());
    taxes.resize(1);
    EXPECT_EQ(AP_FREE_TAXES(&taxes, nullptr), 0);
    EXPECT_TRUE(taxes.empty());
}

// ---- Fallbacks --------------------------------------------------------------------------------

class ApFallbacks : public ApLibrary {
protected:
    void SetUp() override {
        ApLibrary::SetUp();
        ReleaseModuleDlls();
        for (const char* e : {"AP_GET_VENDOR", "AP_PUT_VENDOR", "AP_GET_ORIGINAL_INV", "AP_PUT_ORIGINAL_INV",
                              "AP_GET_ORIGINAL_DST", "AP_PUT_ORIGINAL_DST", "AP_GET_ORIGINAL_TAX", "AP_PUT_ORIGINAL_TAX",
                              "AP_GET_CHECK", "AP_PUT_CHECK_OLD", "AP_PUT_PAID_INV", "AP_GET_PAID_DST",
                              "AP_PUT_PAID_DST", "AP_PUT_PAID_TAX", "AP_PUT_TRANSACTION", "AP_ORIG_STATUS",
                              "AP_GET_FISCAL_PREFIX", "AP_SECTION_TO_KEY", "AP_FREE_TAXES"})
            ours_.remove_entry("AP", e);
        ASSERT_TRUE(LoadModuleDlls());
    }
};

TEST_F(ApFallbacks, UnboundEntriesAnswerTheirFixedResultsWithoutTouchingAnything) {
    FillBuffer(apm_, 9, 1);
    const std::vector<x_value_def> vendorBuffer = Dump(apm_, 9);
    VendorImage v;
    v.name = "keep";
    EXPECT_EQ(AP_GET_VENDOR(apm_, &v, 0, 0), 0);
    EXPECT_EQ(v.name, "keep");
    EXPECT_EQ(AP_PUT_VENDOR(apm_, &v, 0, 0), 0);
    EXPECT_EQ(Dump(apm_, 9), vendorBuffer);
    InvoiceImage i;
    i.amount = 100;
    EXPECT_EQ(AP_GET_ORIGINAL_INV(apm_, &i, 0, 0), 0);
    EXPECT_EQ(AP_PUT_ORIGINAL_INV(apm_, &i, 0, 0), 0);
    EXPECT_EQ(AP_ORIG_STATUS(&i, nullptr), 0);  // every record counts as not open
    DistImage d;
    d.taxes.resize(1);
    EXPECT_EQ(AP_GET_ORIGINAL_DST(apm_, &d, 0, 0, 0), 0);
    EXPECT_EQ(AP_PUT_ORIGINAL_DST(apm_, nullptr, &d, 0, 0, 0), 0);
    TaxEntry t;
    EXPECT_EQ(AP_GET_ORIGINAL_TAX(apm_, &t, 0), 0);
    EXPECT_EQ(AP_PUT_ORIGINAL_TAX(apm_, nullptr, nullptr, &t, 0), 0);
    CheckImage c;
    c.bank = "keep";
    EXPECT_EQ(AP_GET_CHECK(apm_, &c, 0), 0);
    EXPECT_EQ(c.bank, "keep");
    EXPECT_EQ(AP_PUT_CHECK_OLD(apm_, &c, 0), 0);
    PaidInvoiceImage pi;
    EXPECT_EQ(AP_PUT_PAID_INV(apm_, &pi, 0, 0), 0);
    PaidDistImage pd;
    EXPECT_EQ(AP_GET_PAID_DST(apm_, &pd, 0), 0);
    EXPECT_EQ(AP_PUT_PAID_DST(apm_, nullptr, &pd, 0), 0);
    PaidTaxEntry pt;
    EXPECT_EQ(AP_PUT_PAID_TAX(apm_, nullptr, &pt, 0), 0);
    PostingRecord p;
    EXPECT_EQ(AP_PUT_TRANSACTION(apt_, &p, 0, 0), 0);
    std::string prefix = "keep";
    int32_t section = 7;
    EXPECT_EQ(AP_GET_FISCAL_PREFIX(0, "01", prefix, section), 0);
    EXPECT_EQ(prefix, "keep");
    EXPECT_EQ(section, 7);
    EXPECT_EQ(AP_SECTION_TO_KEY(9), 1);
    EXPECT_EQ(AP_FREE_TAXES(&d.taxes, nullptr), 0);
    EXPECT_EQ(d.taxes.size(), 1u);
}

}  // namespace
}  // namespace dz::modules
