// Vendors and banks read once per pass, and kept as the group postings write them.
#include "converters/ap/xvapi.h"

#include "convert/lookups.h"
#include "convert/record_fields.h"
#include "modules/entries.h"
#include "platform/datafile/xio.h"
#include "platform/import/xvl_case.h"
#include "platform/suite/xk.h"

#include <algorithm>

namespace dz::ap {

namespace {

constexpr uint16_t kRecVendor = 9, kRecPrefixTotals = 10;
constexpr uint16_t kRecBank = 1, kRecBankLastCheck = 5;  // CM master

// A key as the file stores it (a record's own key), folded as ComparedKey folds.
std::string StoredKey(std::string text) {
    for (char& c : text) c = xvl::foldAscii(c);
    return text;
}

}  // namespace

bool xvAPI::ReadVendor(uint16_t apm, const std::string& vendor, modlibs::VendorImage& image) {
    // Invoice after invoice names the same vendor, spelled the same: its answer is found again
    // without its key.
    LastVendor& last = lastVendor_;
    if (last.known && last.apm == apm && last.vendor == vendor) {
        if (*last.known) image = **last.known;
        return last.known->has_value();
    }
    last.known = nullptr;
    std::string key = convert::ComparedKey(apm, kRecVendor, "VENDOR", vendor);
    if (const auto it = vendors_.find(key); it != vendors_.end()) {
        last = {apm, vendor, &it->second};
        if (it->second) image = *it->second;
        return it->second.has_value();
    }
    const uint16_t field = convert::FieldNo(apm, kRecVendor, "VENDOR");
    xio_init_record(apm, kRecVendor);
    convert::PutText(apm, field, vendor);
    const int status = xio_rd_record(apm, kRecVendor, 0, 0);
    if (status == XIO_OK) {
        modules::AP_GET_VENDOR(apm, &image, 0, 0);
        vendors_.emplace(std::move(key), image);
        return true;
    }
    xio_init_record(apm, kRecVendor);
    convert::PutText(apm, field, vendor);
    // A read that failed otherwise is tried again next time.
    if (status == XIO_NOT_FOUND) vendors_.emplace(std::move(key), std::nullopt);
    return false;
}

int xvAPI::ReadBank(BankImage& image, uint16_t cmm, const std::string& bank, bool write, FailedWrite* failed) {
    std::string key = convert::ComparedKey(cmm, kRecBank, "BANKACC", bank);
    if (const auto it = banks_.find(key); it != banks_.end()) {
        image = it->second;
        return 0;
    }
    bool wrote = false;
    const int status = ReadCMBank(image, cmm, bank, write, failed, &wrote);
    // A bank read whole, without writing its last check, reads the same until a posting writes it.
    if (status == 0 && !wrote) banks_.emplace(std::move(key), image);
    return status;
}

void xvAPI::VendorWritten(uint16_t apm) {
    modlibs::VendorImage written;
    modules::AP_GET_VENDOR(apm, &written, 0, 0);
    vendorsWritten_.emplace_back(StoredKey(written.vendor), std::move(written));
}

xvAPI::StoredLastCheck xvAPI::LastCheckInBuffer(uint16_t cmm) {
    StoredLastCheck stored;
    stored.bank = convert::GetText(cmm, kRecBankLastCheck, "LTBNKAC");
    stored.check = convert::GetNumber(cmm, kRecBankLastCheck, "LTAPC");
    stored.date = convert::GetDate(cmm, kRecBankLastCheck, "LTAPCDT");
    stored.amount = convert::GetNumber(cmm, kRecBankLastCheck, "LTAPCA");
    return stored;
}

void xvAPI::BankWritten(const BankImage& bank, uint16_t cmm) {
    StoredLastCheck stored = LastCheckInBuffer(cmm);
    BankImage written = bank;
    written.lastCheck = stored.check;
    written.lastCheckDate = stored.date;
    written.lastCheckAmount = stored.amount;
    std::string key = StoredKey(bank.bank);
    lastChecksWritten_.emplace_back(key, std::move(stored));
    banksWritten_.emplace_back(std::move(key), std::move(written));
}

bool xvAPI::BankLastCheckKept(const BankImage& bank, uint16_t cmm) {
    const auto kept = lastChecks_.find(StoredKey(bank.bank));
    if (kept == lastChecks_.end()) return false;
    xio_init_record(cmm, kRecBankLastCheck);
    UpdateBankLastCheck(bank, cmm);
    return LastCheckInBuffer(cmm) == kept->second;
}

uint16_t xvAPI::ReadTotals(PrefixTotalsImage& image, uint16_t apm, const modlibs::PaidDistImage& paid,
                           const std::string& prefix, int section, uint16_t level) {
    if (!suite::xk_prefixed(suite::kGlAccountFormat)) return 1;
    std::string key = PrefixTotalsKey(apm, prefix, paid.vendor, level);
    if (const auto it = totalsOnFile_.find(key); it != totalsOnFile_.end()) {
        const KnownTotals& known = it->second;
        // New totals start from the prefix as asked for: kept for that spelling and section only.
        if (known.image.exists || (known.image.prefix == prefix && known.section == section)) {
            image = known.image;
            // The key as asked for, as a read gives it.
            image.prefix = prefix;
            image.vendor = paid.vendor;
            image.level = level;
            return 0;
        }
    }
    bool missing = false;
    const uint16_t status = ReadPrefixTotals(image, apm, paid, prefix, section, level, &missing);
    if (status == 0 && (image.exists || missing)) totalsOnFile_.insert_or_assign(std::move(key), KnownTotals{image, section});
    return status;
}

void xvAPI::PrefixTotalsWritten(uint16_t apm) {
    PrefixTotalsImage written;
    PrefixTotalsFromBuffer(written, apm);
    totalsWritten_.emplace_back(PrefixTotalsKey(apm), KnownTotals{std::move(written), 0});
}

void xvAPI::ForgetReads() {
    vendors_.clear();
    lastVendor_.known = nullptr;
    banks_.clear();
    vendorsWritten_.clear();
    banksWritten_.clear();
    lastChecks_.clear();
    lastChecksWritten_.clear();
    totalsOnFile_.clear();
    totalsWritten_.clear();
    vendorsDue_.clear();
    totalsDue_.clear();
}

void xvAPI::SettleWrites(bool stands) {
    if (!stands) lastVendor_.known = nullptr;  // its entry may be erased
    if (stands) {
        for (const auto& written : vendorsWritten_) vendorsDue_.insert(written.first);
        for (const auto& written : totalsWritten_) totalsDue_.insert(written.first);
    }
    // Banks and last checks are written as the group posts: an undone group's writes are gone,
    // so the next look-up asks the file again.
    auto settle = [stands](auto& written, auto& kept) {
        for (auto& [key, value] : written) {
            if (stands) kept.insert_or_assign(std::move(key), std::move(value));
            else kept.erase(key);
        }
        written.clear();
    };
    // Vendors and prefix totals are only kept until the file ends: what the groups before an
    // undone group left there is on no file yet, and stays as it is.
    auto keep = [stands](auto& written, auto& kept) {
        if (stands)
            for (auto& [key, value] : written) kept.insert_or_assign(std::move(key), std::move(value));
        written.clear();
    };
    keep(vendorsWritten_, vendors_);
    settle(banksWritten_, banks_);
    settle(lastChecksWritten_, lastChecks_);
    keep(totalsWritten_, totalsOnFile_);
}

}  // namespace dz::ap
