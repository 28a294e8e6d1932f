#include "converters/ap/xvapi_posting.h"

#include "convert/lookups.h"
#include "convert/record_fields.h"
#include "converters/ap/xvapi.h"
#include "converters/ap/xvapm.h"
#include "platform/datafile/xio.h"
#include "platform/import/xvl_case.h"
#include "platform/suite/xd.h"
#include "platform/suite/xk.h"

#include <type_traits>

namespace dz::ap {

using convert::FieldNo;

// ---- Years ------------------------------------------------------------------------------------

long CompareWithYearEarlier(const x_date_type& date) {
    x_date_type earlier = date;
    suite::xd_offset_date(earlier, -12, 0);
    return suite::xd_compare_dates(date, earlier);
}

YearBucket YearOf(const x_date_type& date, const x_date_type& yearEnd) {
    if (date.blank()) return YearBucket::None;
    if (suite::xd_compare_dates(date, yearEnd) > 0) return YearBucket::Next;
    x_date_type lastEnd = yearEnd;  // the end of the year before (February 29 falls to the 28th)
    suite::xd_offset_date(lastEnd, -12, 0);
    const long sinceLastEnd = suite::xd_compare_dates(date, lastEnd);
    if (sinceLastEnd > 0) return YearBucket::This;
    // Up to and including the end of last year, and strictly after the day that closed the year
    // before it: that day is twelve months before last year's end.
    return -sinceLastEnd < CompareWithYearEarlier(lastEnd) ? YearBucket::Last : YearBucket::None;
}

// ---- 1099 prefix totals -----------------------------------------------------------------------

void PrefixTotalsImage::Add(YearBucket year, double amount1099, double deduction) {
    if (double* amount = InYear(year, thisYear1099, lastYear1099, nextYear1099)) *amount += amount1099;
    if (double* deducted = InYear(year, thisYearDeduction, lastYearDeduction, nextYearDeduction))
        *deducted += deduction;
}

namespace {

// The image's fields with their record-10 names, in the record's order.
template <class Image, class V>
void PrefixFields(Image& image, V&& v) {
    v("FPREFIX", image.prefix), v("FVENDOR", image.vendor), v("FLEVEL", image.level);
    v("FYTDAMT", image.thisYear1099), v("FYTDDED", image.thisYearDeduction);
    v("FLYAMT", image.lastYear1099), v("FLYDED", image.lastYearDeduction);
    v("FNYAMT", image.nextYear1099), v("FNYDED", image.nextYearDeduction);
    v("FGLA", image.prefixA), v("FGLAB", image.prefixAB);
}

void PutKey(uint16_t apm, const std::string& prefix, const std::string& vendor, uint16_t level) {
    convert::PutText(apm, kRecPrefixTotals, "FPREFIX", prefix);
    convert::PutText(apm, kRecPrefixTotals, "FVENDOR", vendor);
    convert::PutNumber(apm, kRecPrefixTotals, "FLEVEL", level);
}

std::string Piece(int section, int piece, const std::string& prefix) {
    std::string text = prefix;
    if (section < piece) return {};
    suite::xk_get_section(suite::kGlAccountFormat, false, piece, text);
    return text;
}

}  // namespace

uint16_t ReadPrefixTotals(PrefixTotalsImage& image, uint16_t apm, const modlibs::PaidDistImage& paid,
                          const std::string& prefix, int section, uint16_t level, bool* missing) {
    if (!suite::xk_prefixed(suite::kGlAccountFormat)) return 1;
    xio_init_record(apm, kRecPrefixTotals);
    PutKey(apm, prefix, paid.vendor, level);
    image = {};
    const int read = xio_rd_record(apm, kRecPrefixTotals, 0, 0);
    if (missing) *missing = read == XIO_NOT_FOUND;
    if (read == XIO_OK) {
        PrefixTotalsFromBuffer(image, apm);
    } else {
        // A prefix of section 0 (or below prefix A) has no pieces to give.
        image.prefixA = Piece(section, suite::kGlPrefixA, prefix);
        image.prefixAB = Piece(section, suite::kGlPrefixAB, prefix);
    }
    // The key as asked for: the stored record's spelling of it may differ in case.
    image.prefix = prefix;
    image.vendor = paid.vendor;
    image.level = level;
    return 0;
}

void PrefixTotalsFromBuffer(PrefixTotalsImage& image, uint16_t apm) {
    PrefixFields(image, [&](const char* name, auto& member) {
        using T = std::decay_t<decltype(member)>;
        const uint16_t field = FieldNo(apm, kRecPrefixTotals, name);
        if constexpr (std::is_same_v<T, std::string>) member = convert::GetText(apm, field);
        else member = static_cast<T>(convert::GetNumber(apm, field));
    });
    image.exists = true;
}

std::string PrefixTotalsKey(uint16_t apm) {
    std::string key = convert::GetText(apm, kRecPrefixTotals, "FPREFIX");
    key += '\t';
    key += convert::GetText(apm, kRecPrefixTotals, "FVENDOR");
    for (char& c : key) c = xvl::foldAscii(c);
    key += '\t';
    return key += std::to_string(convert::Whole(convert::GetNumber(apm, kRecPrefixTotals, "FLEVEL")));
}

std::string PrefixTotalsKey(uint16_t apm, const std::string& prefix, const std::string& vendor, uint16_t level) {
    xio_init_record(apm, kRecPrefixTotals);
    PutKey(apm, prefix, vendor, level);
    return PrefixTotalsKey(apm);
}

void WritePrefixTotals(const PrefixTotalsImage& image, uint16_t apm) {
    // A record on file keeps the fields the image lacks (the vendor conversion's gross revenue).
    if (!image.exists) xio_init_record(apm, kRecPrefixTotals);
    PrefixFields(image, [&](const char* name, const auto& member) {
        using T = std::decay_t<decltype(member)>;
        const uint16_t field = FieldNo(apm, kRecPrefixTotals, name);
        if constexpr (std::is_same_v<T, std::string>) convert::PutText(apm, field, member);
        else convert::PutNumber(apm, field, static_cast<double>(member));
    });
}

// ---- GL accounts ------------------------------------------------------------------------------

bool xvAPI::GlAccountOnFile(uint16_t glm, const std::string& account) {
    const auto known = glAccounts_.find(account);
    if (known != glAccounts_.end()) return known->second;
    const bool found = convert::Exists(glm, 1, {{"AACCT", account}});
    glAccounts_.emplace(account, found);
    return found;
}

// ---- The AP transaction ----------------------------------------------------------------------

void BuildPostingRecord(modlibs::PostingRecord& record, const modlibs::DistImage& dist,
                        const modlibs::PaidDistImage* paid, const x_date_type* checkDate,
                        const modlibs::InvoiceImage& invoice, xvAPI& converter) {
    record = {};
    record.vendor = dist.vendor;
    record.invoice = dist.invoice;
    record.distSequence = dist.distSequence;
    record.run = converter.aptRun;
    record.sequence = ++converter.aptSequence;
    if (paid) {
        record.amount = -paid->grossPayment;
        record.bank = paid->bank;
        record.check = paid->check;
        record.paymentNumber = paid->paymentNumber;
        if (checkDate) record.date1 = record.date2 = *checkDate;
        record.amount2 = -paid->discountTaken;
        record.amount3 = -paid->amt64Paid;
        record.amount4 = -paid->amt63Applied;
        record.amount5 = -paid->amt128Deducted;
        record.kind = 3;
    } else {
        record.amount = dist.amount;
        record.date1 = invoice.accountingDate;
        record.date2 = invoice.invoiceDate;
        record.amount2 = dist.discountOffered;
        record.amount3 = dist.amt64;
        record.amount4 = dist.amt63;
        record.kind = 1;
    }
    record.application = invoice.application;
    record.batch = invoice.batch;
    record.source = invoice.source;
    record.dpLocation = invoice.dpLocation;
    record.account1 = dist.expenseAccount;
    record.account2 = dist.payableAccount;
    record.account3 = dist.payable64Account;
    record.account4 = dist.credit63Account;
    record.recordType = 9;
}

}  // namespace dz::ap
