// The CM bank-account converter (conversion type 301): bank accounts of a CM text file, examined
// or converted into the CM master file ("CMM", file number 1), each followed in Convert by its
// last-numbers record 5.
//
// The class is split over two sources:
//   xvcmm.cpp        the frame: files, settings, notes records, dispatch, the filling of a bank
//                    from the template's special values, record 5 after the bank, the banks'
//                    record-ID texts into a file without banks, prefill
//   xvcmm_bank.cpp   the checks and corrections of the bank-account record itself
#pragma once

#include "convert/convert_file.h"
#include "convert/converter.h"
#include "convert/field_numbers.h"
#include "convert/lookups.h"
#include "convert/reports.h"
#include "convert/side_file.h"

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace dz::xvl {
class xvlImport;
class xvlImpInfo;
}  // namespace dz::xvl

namespace dz::gl {

// CM master record numbers and headers.
inline constexpr uint16_t kCmRecBank = 1;
inline constexpr uint16_t kCmRecLastNumbers = 5;
inline constexpr uint16_t kCmHdrSettings = 2;  // CMULTCA
// The record number a bank notes record ("BN") counts under.
inline constexpr uint16_t kCmRecBankNotes = kCmRecBank + 50;

// The bank fields the record steps touch on every bank.
enum BankField : std::size_t {
    kBankAcc, kApCashBase, kApCashFull, kPmCashBase, kPmCashFull, kPrCash, kRcCash, kGenCash, kMultiCash,
    kApKind, kPmKind, kApValid, kPmValid, kPrValid, kRcValid, kApForm, kPrForm, kApMax, kPrMax,
    kRegBalance, kPsBalance, kRecBalance, kOpenChecks, kLyInterest, kRecDate, kSetupStatus, kBankFields
};
static_assert(kBankFields <= 32, "the yes/no bank fields are kept one bit each");
inline constexpr convert::FieldNames<kBankFields> kBankNames{
    "BANKACC", "BAPCSHB", "BAPCSHF", "BPMCSHB", "BPMCSHF", "BPRCASH", "BRCCASH", "BGENCSH", "BMLTCSH",
    "BAPCABF", "BPMCABF", "BAPVALD", "BPMVALD", "BPRVALD", "BRECVLD", "BAPFORM", "BPRFORM", "BAPMAX", "BPRMAX",
    "BRGBLNC", "BPSBLNC", "BRECBAL", "BOPNCHK", "BLYINT",  "BRECDT",  "BSASTAT"};
// The fields of the last-numbers record.
enum LastNumbersField : std::size_t {
    kLtBank, kLtApCheck, kLtApDate, kLtApAmount, kLtPrCheck, kLtPrDate, kLtPrAmount, kLtDepAmount, kLtDepDate,
    kLastNumbersFields
};
inline constexpr convert::FieldNames<kLastNumbersFields> kLastNumbersNames{
    "LTBNKAC", "LTAPC", "LTAPCDT", "LTAPCA", "LTPRC", "LTPRCDT", "LTPRCA", "LTDEPA", "LTDEPDT"};

class xvCMM : public convert::xvConvert {
public:
    // The CM master file ("CMM" 1, file code 20, required).
    convert::ConverterProfile Profile() const override;

    // ---- Record steps: true accepts, false rejects with `reason` set --------------------------
    // False for a bank notes record ("BN"), saved here when the import took it (`reason` empty)
    // and renumbered to the notes record number either way; true for any other record.
    bool CheckFormatId(uint16_t cmm, xvl::xvlImpInfo& info, xvl::xvlImport& import, std::string& reason,
                       bool converting);
    // Fills the bank's cash accounts, use flags and (Convert) its last-numbers record from the
    // template's special values. Always true.
    bool CheckBankFields(uint16_t cmm, xvl::xvlImpInfo& info, std::string& reason, convert::MessageList& messages,
                         bool apInst, bool prInst, bool arInst, bool jcInst, bool pmInst, uint16_t glm,
                         bool converting, xvl::xvlImport& import);
    // The checks and corrections of a bank-account record (xvcmm_bank.cpp).
    bool ConvertBankAccount(uint16_t cmm, xvl::xvlImpInfo& info, std::string& reason, convert::MessageList& messages,
                            bool apInst, bool prInst, bool arInst, bool jcInst, bool pmInst, uint16_t glm,
                            bool converting, xvl::xvlImport& import);
    // Writes the last-numbers record prepared for the bank just written; the xio status.
    // Virtual so that the tests can make it fail.
    virtual int WriteLastNumbers(uint16_t cmm);

    // The state LoadSettings read, and the record steps keep.
    uint8_t apInstalled = 0;
    uint8_t prInstalled = 0;
    uint8_t arInstalled = 0;
    uint8_t jcInstalled = 0;
    uint8_t pmInstalled = 0;
    // The GL master, AP master and PR system files (closed here when opened here).
    convert::SideFile glmHandle;
    convert::SideFile apmHandle;
    convert::SideFile prsHandle;
    uint8_t writeLastNumbers = 0;  // record 5 follows the bank record just dispatched
    uint8_t cmInterfacesGl = 0;

protected:
    // ---- Steps and hooks of the common sequence ----------------------------------------------
    // GL, AP and PR files and the installed modules; a GL master file that cannot be opened is
    // a note (12180), and only a note that cannot be printed ends the file (12011).
    bool LoadSettings(convert::ConvertContext& ctx, std::string& failure) override;
    // A bank notes record refused by the import counts under the notes record number.
    void ImportRejected(convert::ConvertContext& ctx, xvl::xvlImpInfo& info, std::string& reason) override;
    // Notes records, then the bank account (12070 for any other record type).
    bool DispatchRecord(convert::ConvertContext& ctx, xvl::xvlImpInfo& info, std::string& reason) override;
    // Convert: the bank's last-numbers record, written after it. A full disk or a failed write
    // ends the file; a record 5 already on file for the bank stays as it is.
    void RecordWritten(convert::ConvertContext& ctx, xvl::xvlImpInfo& info) override;

    // CMULTCA of CM header 2 as this run sees it: -1 the header cannot be read, else 0 or 1.
    // Read once per text file; a bank with a general cash account turns it on, on file in
    // Convert and here alone in Examine Files, which writes nothing.
    int MultipleCashAccounts(uint16_t cmm);
    void SetMultipleCashAccounts(uint16_t cmm, bool converting);

    // The special values the filling step reads.
    enum Special : std::size_t {
        kSpBintcmp, kSpCash, kSpApCheck, kSpApDate, kSpApAmount, kSpPrCheck, kSpPrDate, kSpPrAmount, kSpDeposit,
        kSpDepositDate, kSpecials
    };
    // What a template format gives, asked on every bank of the format: read once per format.
    struct FormatFacts {
        bool bintSpecial = false;  // the special value BINTCMP
        bool fill = false;         // BINTCMP without BAPCABF: the filling step runs
        bool apKind = false;       // BAPCABF or BINTCMP imported
        bool apBase = false, apFull = false;  // BAPCSHB, BAPCSHF imported
        bool pmKind = false, pmBase = false, pmFull = false;
        bool reconciled = false, setupStatus = false;  // BRECDT, BSASTAT imported
        int specialAt[kSpecials] = {};  // each special value's position in the format, -1 none
        int notesAt = -1;               // the position of its converted notes, -1 none
    };
    // Asked several times for each line, mostly of the format asked last: that answer without
    // a call.
    const FormatFacts& Facts(const std::string& format, xvl::xvlImport& import) {
        if (lastFacts_ && format == lastFormat_) [[likely]]
            return *lastFacts_;
        return NewFacts(format, import);
    }
    // The GL account format's answers the filling step needs, read once.
    bool Prefixed();
    int BaseWidth();
    // A cash account as a line gives it, taken apart once: banks share their cash accounts. The
    // answers the checks find for it are kept with it, so that a bank whose cash account the
    // filling step put there is checked without a search.
    struct CashAccount {
        std::string unformatted;  // without the separators of the GL account format
        int8_t valid = -1;        // a valid AP cash account of its section: -1 not asked yet
        int8_t missing = -1;      // not on file in GL as an account of its section: -1 not asked yet
    };
    // The cash account for the whole account (suite::kGlWhole) or its base section
    // (suite::kGlBaseAccount).
    CashAccount& Unformatted(int section, const std::string& account);

private:
    const FormatFacts& NewFacts(const std::string& format, xvl::xvlImport& import);
    std::unordered_map<std::string, FormatFacts> formats_;
    std::string lastFormat_;                  // the format Facts answered last
    const FormatFacts* lastFacts_ = nullptr;  // and its facts
    int prefixed_ = -1, baseWidth_ = -1;  // -1 not read yet
    // Accounts as given, taken apart as whole accounts (kind 0) or as base accounts (kind 1).
    // Every bank asks, mostly for an account met before: the entries lie end to end, room for
    // the most kept made at the first, so that they never move, and an open table of their
    // places finds them with one probe as a rule.
    struct KeptCash {
        std::string given;
        int kind = 0;
        CashAccount cash;
    };
    std::vector<KeptCash> kept_;
    std::vector<uint32_t> keptAt_;    // a power of two, twice the most kept: entry + 1, 0 free
    KeptCash* lastCash_[2] = {};      // the entry Unformatted answered last, by kind
    void ForgetCashAccounts();
    // The cash account the filling step put into this line's AP cash field (null: none), and
    // whether as a base account.
    CashAccount* filled_ = nullptr;
    bool filledBase_ = false;
    std::unordered_set<std::string> validAp_[2];  // AP cash accounts found valid: full, base
    int multipleCash_ = -2;        // -2 not read yet
    bool lastNumbersGiven_ = false;  // the line gave a last check or deposit number
    // Look-ups of GL accounts and check formats in this text file, each kind under its values:
    // the conversion writes neither file, so an answer never goes stale.
    enum Lookup { kGlAccount, kGlBase, kApCheckFormat, kPrCheckFormat, kLookups };
    struct Answers {
        std::unordered_map<std::string, bool> kept;  // value -> missing
        std::string last;
        bool lastMissing = false, lastKept = false;
    };
    Answers answers_[kLookups];
    // True when `value` of `field` is not on file in record `rec` of `file`. An answer that is
    // kept for the text file also goes to `keep` (1 missing, 0 on file), when given.
    bool Missing(Lookup kind, uint16_t file, uint16_t rec, const char* field, const std::string& value,
                 int8_t* keep = nullptr);
    // The field numbers of the bank and last-numbers records, for the handle they were resolved
    // on (0: not yet); a text file starts afresh.
    void ResolveFields(uint16_t cmm);
    uint16_t fieldsOf_ = 0;
    convert::FieldNumbers<kBankFields> bank_;
    convert::FieldNumbers<kLastNumbersFields> last_;
    // The bank fields that are yes/no fields, one bit each by BankField.
    uint32_t bankFlags_ = 0;
    // Sets a yes/no field of the bank to no, and a kind field of the bank to 1 or 2. A field
    // that holds the value already is left as it is: the record is the same either way, and a
    // cell left alone is one fewer for the write to take.
    void ClearFlag(uint16_t cmm, std::size_t field);
    void SetKind(uint16_t cmm, std::size_t field, int kind);
    // How a special value goes into each last-numbers field, by the field's type (kNone: no
    // such field), found with the field numbers: every bank fills the record.
    enum class PutKind : uint8_t { kNone, kText, kNumber, kFlag, kDate };
    struct SpecialPut {
        PutKind kind = PutKind::kNone;
        double scale = 1;  // a number field's hundredths and the like: 10 to its decimals
    };
    std::array<SpecialPut, kLastNumbersFields> lastPuts_{};
    x_value_def dateValue_;  // a date put, of which only the date is ever set
    // Puts a special value into last-numbers field `field` as its type takes it.
    void PutSpecial(uint16_t cmm, std::size_t field, const x_value_def& v);
};

}  // namespace dz::gl
