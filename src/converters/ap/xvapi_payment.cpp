#include "converters/ap/xvapi_payment.h"

#include "convert/record_fields.h"
#include "platform/datafile/xio.h"

#include <charconv>
#include <cstdio>

namespace dz::ap {

namespace {

constexpr uint16_t kPaymentHeader = 1;
constexpr int kHeaderReads = 10;

double NextAfter(double last) { return last == 0 || last >= kLastPaymentNumber ? 1 : last + 1; }

}  // namespace

double IncrementLastPayment(uint16_t apm) {
    int status = XIO_LOCKED;
    for (int read = 0; read < kHeaderReads && status != XIO_OK; ++read) status = xio_rd_header(apm, kPaymentHeader, 1);
    if (status != XIO_OK) return 0;
    const uint16_t field = convert::HeaderFieldNo(apm, kPaymentHeader, "LASTPMT");
    const double next = NextAfter(convert::GetNumber(apm, field));
    convert::PutNumber(apm, field, next);
    if (field == 0 || xio_wr_header(apm, kPaymentHeader) != XIO_OK) {
        xio_free_header(apm, kPaymentHeader);
        return 0;
    }
    return next;
}

PaymentNumberCache& PaymentNumberCache::Program() {
    static PaymentNumberCache cache;
    return cache;
}

std::string PaymentNumberCache::Key(const std::string& company, std::string_view bank, double check) {
    std::string key;
    key.reserve(company.size() + bank.size() + 24);
    key += company;
    key += '\t';
    for (char c : bank) key += (c >= 'a' && c <= 'z') ? static_cast<char>(c - ('a' - 'A')) : c;
    key += '\t';
    // As "%.0f" prints it, without the formatting machinery: a check number is asked for with
    // every payment.
    char number[360];
    const auto end = std::to_chars(number, number + sizeof number, check, std::chars_format::fixed, 0);
    if (end.ec != std::errc()) {
        std::snprintf(number, sizeof number, "%.0f", check);
        return key += number;
    }
    return key.append(number, end.ptr);
}

const double* PaymentNumberCache::Given(const std::string& key) const {
    for (const auto* map : {&permanent_, &file_}) {
        const auto it = map->find(key);
        if (it != map->end()) return &it->second;
    }
    return nullptr;
}

double PaymentNumberCache::Take(uint16_t apm, const std::string& company, std::string_view bank, double check) {
    const std::string key = Key(company, bank, check);
    if (const double* given = Given(key)) return *given;
    const double number = IncrementLastPayment(apm);
    if (number != 0) file_.emplace(key, number);
    return number;
}

double PaymentNumberCache::Provisional(uint16_t apm, const std::string& company, std::string_view bank,
                                       double check) {
    const std::string key = Key(company, bank, check);
    if (const double* given = Given(key)) return *given;
    if (const auto it = provisional_.find(key); it != provisional_.end()) return it->second;
    auto last = lastProvisional_.find(company);
    if (last == lastProvisional_.end()) {
        // The first provisional number of the file counts on from the header as it stands.
        if (xio_rd_header(apm, kPaymentHeader, 0) != XIO_OK) return 0;
        const double stored = convert::GetNumber(apm, convert::HeaderFieldNo(apm, kPaymentHeader, "LASTPMT"));
        xio_free_header(apm, kPaymentHeader);
        last = lastProvisional_.emplace(company, stored).first;
    }
    last->second = NextAfter(last->second);
    provisional_.emplace(key, last->second);
    return last->second;
}

void PaymentNumberCache::CommitFile() {
    permanent_.merge(file_);
    file_.clear();
    provisional_.clear();
    lastProvisional_.clear();
}

void PaymentNumberCache::DropFile() {
    file_.clear();
    provisional_.clear();
    lastProvisional_.clear();
}

}  // namespace dz::ap
