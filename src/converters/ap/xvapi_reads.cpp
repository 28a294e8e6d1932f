// Vendors and banks read once per pass, and kept as the group postings write them.
#include "converters/ap/xvapi.h"

#include "convert/lookups.h"
#include "convert/record_fields.h"
#include "modules/entries.h"
#include "platform/datafile/xio.h"
#include "platform/import/xvl_case.h"

namespace dz::ap {

namespace {

constexpr uint16_t kRecVendor = 9;
constexpr uint16_t kRecBank = 1, kRecBankLastCheck = 5;  // CM master

// A key as the file stores it (a record's own key), folded as ComparedKey folds.
std::string StoredKey(std::string text) {
    for (char& c : text) c = xvl::foldAscii(c);
    return text;
}

}  // namespace

bool xvAPI::ReadVendor(uint16_t apm, const std::string& vendor, modlibs::VendorImage& image) {
    std::string key = convert::ComparedKey(apm, kRecVendor, "VENDOR", vendor);
    if (const auto it = vendors_.find(key); it != vendors_.end()) {
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
    std::string key = StoredKey(written.vendor);
    vendorsWritten_.emplace_back(std::move(key), std::move(written));
}

void xvAPI::BankWritten(const BankImage& bank, uint16_t cmm) {
    BankImage written = bank;
    written.lastCheck = convert::GetNumber(cmm, kRecBankLastCheck, "LTAPC");
    written.lastCheckDate = convert::GetDate(cmm, kRecBankLastCheck, "LTAPCDT");
    written.lastCheckAmount = convert::GetNumber(cmm, kRecBankLastCheck, "LTAPCA");
    banksWritten_.emplace_back(StoredKey(bank.bank), std::move(written));
}

void xvAPI::ForgetReads() {
    vendors_.clear();
    banks_.clear();
    vendorsWritten_.clear();
    banksWritten_.clear();
}

void xvAPI::SettleWrites(bool stands) {
    for (auto& [key, vendor] : vendorsWritten_) {
        if (stands) vendors_.insert_or_assign(std::move(key), std::move(vendor));
        else vendors_.erase(key);
    }
    for (auto& [key, bank] : banksWritten_) {
        if (stands) banks_.insert_or_assign(std::move(key), std::move(bank));
        else banks_.erase(key);
    }
    vendorsWritten_.clear();
    banksWritten_.clear();
}

}  // namespace dz::ap
