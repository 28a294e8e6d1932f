// Building blocks of AP posting: which fiscal or 1099 year a date counts in, a vendor's 1099 totals
// for one GL prefix (record 10 of the AP master file) carried through a group, and the AP
// transaction record of a new or a paid distribution.
#pragma once

#include "platform/datafile/x_value.h"
#include "platform/modlibs/ap_images.h"

#include <cstdint>
#include <string>

namespace dz::ap {

class xvAPI;

// ---- Years ------------------------------------------------------------------------------------
// The year a date counts in, against a year end Y: the year ending Y, the twelve months that end
// one year before Y, the time after Y, or none (earlier than that).
enum class YearBucket { None, Last, This, Next };

// The number of days from the same date twelve months earlier to `date` (365 or 366).
long CompareWithYearEarlier(const x_date_type& date);

// Next: after Y. This: after Y-1 (Y one year earlier), up to Y. Last: after Y-1 less twelve
// months, up to Y-1; the day twelve months before Y-1 closes the year before it and counts in
// none. A blank date counts in none.
YearBucket YearOf(const x_date_type& date, const x_date_type& yearEnd);

// Of three totals kept for this, last and next year, the one `year` names; null for none.
template <class T>
T* InYear(YearBucket year, T& thisYear, T& lastYear, T& nextYear) {
    switch (year) {
    case YearBucket::This: return &thisYear;
    case YearBucket::Last: return &lastYear;
    case YearBucket::Next: return &nextYear;
    case YearBucket::None: break;
    }
    return nullptr;
}

// ---- 1099 prefix totals -----------------------------------------------------------------------
// Record 10 of the AP master file, with whether it is on file.
struct PrefixTotalsImage {
    std::string prefix;        // FPREFIX
    std::string vendor;        // FVENDOR
    uint16_t level = 0;        // FLEVEL: 2 prefix A, 3 prefix AB, 4 prefix ABC
    double thisYear1099 = 0;   // FYTDAMT
    double thisYearDeduction = 0;  // FYTDDED
    double lastYear1099 = 0;   // FLYAMT
    double lastYearDeduction = 0;  // FLYDED
    double nextYear1099 = 0;   // FNYAMT
    double nextYearDeduction = 0;  // FNYDED
    std::string prefixA;       // FGLA
    std::string prefixAB;      // FGLAB
    bool exists = false;       // the record is on file

    // Adds a payment's 1099 amount and deduction to the pair of the year it counts in.
    void Add(YearBucket year, double amount1099, double deduction);
};

// The totals of `paid`'s vendor for `prefix` (a prefix of GL section `section`) at `level`:
// those on file, or new ones whose prefix A and AB come from the prefix. 1 (image untouched)
// when GL accounts carry no prefixes; 0 when the image is ready. `missing`, when given, tells
// whether the file has no such record (rather than that it could not be read).
uint16_t ReadPrefixTotals(PrefixTotalsImage& image, uint16_t apm, const modlibs::PaidDistImage& paid,
                          const std::string& prefix, int section, uint16_t level, bool* missing = nullptr);

// The totals now in record 10's buffer, on file (`exists`).
void PrefixTotalsFromBuffer(PrefixTotalsImage& image, uint16_t apm);
// The key of the totals now in record 10's buffer, or of those of `vendor` for `prefix` at
// `level` (put into the buffer), as the file compares it.
std::string PrefixTotalsKey(uint16_t apm);
std::string PrefixTotalsKey(uint16_t apm, const std::string& prefix, const std::string& vendor, uint16_t level);

// Puts the image into the record buffer of record 10. A new record's buffer is cleared first; a
// record on file keeps the fields the image does not carry (the gross revenue), so the buffer
// must hold the record as read when the image is put for a replacement.
void WritePrefixTotals(const PrefixTotalsImage& image, uint16_t apm);

// ---- The AP transaction ----------------------------------------------------------------------
// Fills `record` for the distribution `dist` (no `paid`), or for its payment `paid` made by a
// check dated `checkDate`: the payment's amounts negated, the check date in both dates. Every
// record takes the converter's next AP transaction sequence of the run.
void BuildPostingRecord(modlibs::PostingRecord& record, const modlibs::DistImage& dist,
                        const modlibs::PaidDistImage* paid, const x_date_type* checkDate,
                        const modlibs::InvoiceImage& invoice, xvAPI& converter);

}  // namespace dz::ap
