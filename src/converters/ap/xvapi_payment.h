// Payment numbers of AP checks. Every check the AP invoice conversion writes carries a payment
// number, and the distribution payments made with that check carry the same one. The AP
// master's header 1 keeps the last number given out (LASTPMT); a check or payment that comes
// without a number takes the next one, remembered for its bank and check so that the check and
// all its payments, in any order and in any file converted while the program runs, get one
// number.
//
// The numbers are kept per company, and a text file's new numbers only become permanent once
// its conversion is committed: a restored file puts LASTPMT back, and its numbers are given out
// again. Examine Files counts provisional numbers on from LASTPMT and writes nothing, neither
// the header nor the kept numbers. A number that could not be taken (0) is never kept.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <unordered_map>

namespace dz::ap {

// The highest payment number; the one after it is 1.
inline constexpr double kLastPaymentNumber = 999999999;

// Takes the next payment number from the AP master's header 1 (`apm`): read for update, up to
// ten reads while it is locked, raised by one (from 0 or from the highest number: 1) and written
// back. 0 when the header cannot be read or written.
double IncrementLastPayment(uint16_t apm);

class PaymentNumberCache {
public:
    // The program's numbers.
    static PaymentNumberCache& Program();

    // Convert: the number of check `check` of `bank` (compared without regard to case) in
    // `company`: one given already, else the next from LASTPMT, kept for the current text file.
    // 0 when none could be taken.
    double Take(uint16_t apm, const std::string& company, std::string_view bank, double check);
    // Examine Files: a number given already, else a provisional one counting on from LASTPMT,
    // kept only until the text file ends.
    double Provisional(uint16_t apm, const std::string& company, std::string_view bank, double check);
    // The current text file's numbers become permanent (its conversion was committed).
    void CommitFile();
    // The current text file's numbers are forgotten (restored, stopped, or examined).
    void DropFile();

private:
    static std::string Key(const std::string& company, std::string_view bank, double check);
    const double* Given(const std::string& key) const;

    std::unordered_map<std::string, double> permanent_;
    std::unordered_map<std::string, double> file_;         // this text file's, until committed
    std::unordered_map<std::string, double> provisional_;  // Examine's, until the file ends
    std::map<std::string, double> lastProvisional_;        // by company: the last provisional number
};

}  // namespace dz::ap
