#include "converters/gl/xvcmm.h"

#include "converters/gl/glm_fields.h"
#include "converters/gl/xvglm.h"

#include "convert/progress.h"
#include "convert/texts.h"
#include "platform/datafile/xio.h"
#include "platform/import/xvl_import.h"
#include "platform/suite/control.h"
#include "platform/suite/xk.h"
#include "platform/suite/zc.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <optional>
#include <span>

namespace dz::gl {

using namespace convert;

namespace {

constexpr const char* kConversionName = "CM Master file";
constexpr std::size_t kUnformattedKept = 4096;

bool IsBankNotes(const std::string& formatId) {
    return formatId.size() == 2 && std::toupper(static_cast<unsigned char>(formatId[0])) == 'B' &&
           std::toupper(static_cast<unsigned char>(formatId[1])) == 'N';
}

// A special value's text, or empty.
const std::string& TextOf(const x_value_def& v) { return v.longText.empty() ? v.text : v.longText; }

// A special value given on the line (a column that is not blank).
bool Given(const x_value_def& v) {
    return !v.text.empty() || !v.longText.empty() || v.number != 0 || v.flag != 0 || !v.date.blank();
}

// The short value of a special: its number, or its yes/no when it was declared logical.
int ShortValue(const x_value_def& v) { return v.number != 0 ? Whole(v.number) : v.flag; }

// A cash account's place in the table of those kept: every byte counts, eight at a time (an
// account's sections vary anywhere in it).
std::size_t CashHash(std::string_view text, int kind) {
    constexpr uint64_t kMul = 0x9E3779B97F4A7C15ULL;
    uint64_t h = (text.size() << 1 | static_cast<uint64_t>(kind)) * kMul;
    std::size_t at = 0;
    for (; at + 8 <= text.size(); at += 8) {
        uint64_t word;
        std::memcpy(&word, text.data() + at, 8);
        h = (h ^ word) * kMul;
        h ^= h >> 29;
    }
    if (at < text.size()) {
        uint64_t word = 0;
        std::memcpy(&word, text.data() + at, text.size() - at);
        h = (h ^ word) * kMul;
        h ^= h >> 29;
    }
    return static_cast<std::size_t>(h ^ (h >> 32));
}

// 0 with no sign: what a number field holds when nothing was put there.
bool IsPlainZero(double number) { return number == 0 && !std::signbit(number); }

// The exact powers of ten a field's decimals take, without a call per value.
double ScaleOf(uint16_t decimals) {
    static constexpr double kScale[] = {1, 10, 100, 1e3, 1e4, 1e5, 1e6, 1e7, 1e8};
    return decimals < std::size(kScale) ? kScale[decimals] : std::pow(10.0, decimals);
}

}  // namespace

// ---- Files and settings -----------------------------------------------------------------------

ConverterProfile xvCMM::Profile() const {
    ConverterProfile p;
    p.abbreviation = "CMM";
    p.fileNo = 1;
    p.fileCode = 20;
    p.title = "CM Master File";
    p.description = kConversionName;
    p.convertingText = "Converting '%s' into CM Master file";
    p.examiningText = "Examining '%s' for CM Master file";
    return p;
}

void xvCMM::ResolveFields(uint16_t cmm) {
    if (fieldsOf_ == cmm) return;
    bank_.Resolve(cmm, kCmRecBank, kBankNames);
    last_.Resolve(cmm, kCmRecLastNumbers, kLastNumbersNames);
    bankFlags_ = 0;
    for (std::size_t i = 0; i < kBankFields; ++i) {
        const xio_fld_def* def = bank_[i] ? xio_field_def(cmm, bank_[i]) : nullptr;
        if (def && def->type == XIO_TYPE_LOGICAL) bankFlags_ |= uint32_t{1} << i;
    }
    for (std::size_t i = 0; i < kLastNumbersFields; ++i) {
        SpecialPut& put = lastPuts_[i];
        put = SpecialPut{};
        const xio_fld_def* def = last_[i] ? xio_field_def(cmm, last_[i]) : nullptr;
        if (!def) continue;
        if (xio_is_text_type(def->type)) {
            put.kind = PutKind::kText;
        } else if (xio_is_number_type(def->type) || xio_is_choice_type(def->type)) {
            put.kind = PutKind::kNumber;
            put.scale = ScaleOf(def->decimals);
        } else if (def->type == XIO_TYPE_LOGICAL) {
            put.kind = PutKind::kFlag;
        } else if (def->type == XIO_TYPE_DATE) {
            put.kind = PutKind::kDate;
        }
    }
    fieldsOf_ = cmm;
}

void xvCMM::ClearFlag(uint16_t cmm, std::size_t field) {
    const uint16_t f = bank_[field];
    // A yes/no field reads no exactly when it holds 0.
    if ((bankFlags_ >> field & 1) && xio_get_flag(cmm, f) == 0) return;
    PutFlag(cmm, f, 0);
}

void xvCMM::SetKind(uint16_t cmm, std::size_t field, int kind) {
    const uint16_t f = bank_[field];
    // Only a number field reads a number other than 0, and reads exactly what the put would
    // store there.
    if (kind != 0 && xio_get_number(cmm, f) == kind) return;
    PutNumber(cmm, f, kind);
}

void xvCMM::PutSpecial(uint16_t cmm, std::size_t field, const x_value_def& v) {
    const SpecialPut& put = lastPuts_[field];
    const uint16_t f = last_[field];
    switch (put.kind) {
    case PutKind::kText:
        xio_put_text(cmm, f, TextOf(v));
        break;
    case PutKind::kNumber: {
        // A number given in a special column is in whole units; a money field holds hundredths.
        double n = v.number;
        if (n == 0 && !v.text.empty()) n = std::strtod(v.text.c_str(), nullptr);
        const double number = std::round(n * put.scale);
        // Mostly none is given: a field that holds 0 already stays as it is.
        if (IsPlainZero(number) && IsPlainZero(xio_get_number(cmm, f))) break;
        xio_put_number(cmm, f, number);
        break;
    }
    case PutKind::kFlag:
        xio_put_flag(cmm, f, v.flag ? v.flag : static_cast<uint16_t>(v.number != 0));
        break;
    case PutKind::kDate:
        // A blank date puts 0, which a field that reads no date holds already.
        if (v.date.month == 0 && xio_get_field_result(cmm, 0, f) == 0) break;
        dateValue_.date = v.date;
        xio_put_field(cmm, 0, f, dateValue_);
        break;
    case PutKind::kNone:
        break;
    }
}

bool xvCMM::LoadSettings(ConvertContext& ctx, std::string&) {
    ForgetFieldNumbers();
    fieldsOf_ = 0;
    ResolveFields(ctx.mainHandle);
    multipleCash_ = -2;
    for (Answers& answers : answers_) answers = Answers{};
    for (auto& valid : validAp_) valid.clear();
    formats_.clear();
    lastFacts_ = nullptr;
    prefixed_ = baseWidth_ = -1;
    ForgetCashAccounts();

    // 1, 2. The GL master file, the run's own or opened here.
    if (glmHandle.Open(ctx.files, "GLM") == 0) {
        if (!ctx.notes->PrintMessageLine("", 0, Msg(12180))) return false;
        if (ctx.progress) ctx.progress->messages += 1;
    }
    // 3, 4. The AP master and PR system files, when their modules are installed. Either may be
    // missing: its check-format look-ups are then skipped.
    if (suite::xa_appl_installed("AP")) {
        apInstalled = 1;
        apmHandle.Open(ctx.files, "APM");
    }
    if (suite::xa_appl_installed("PR")) {
        prInstalled = 1;
        prsHandle.Open(ctx.files, "PRS", "SYSTEM");
    }
    // 5, 6.
    arInstalled = suite::xa_appl_installed("AR") ? 1 : 0;
    jcInstalled = suite::xa_appl_installed("JC") ? 1 : 0;
    pmInstalled = suite::xa_appl_installed("PM") ? 1 : 0;
    cmInterfacesGl = suite::zc_interface_active("CM", "GL") != 0 ? 1 : 0;
    return true;
}

int xvCMM::MultipleCashAccounts(uint16_t cmm) {
    if (multipleCash_ == -2) {
        multipleCash_ = -1;
        if (xio_rd_header(cmm, kCmHdrSettings, 0) == XIO_OK) {
            multipleCash_ = GetFlag(cmm, HeaderFieldNo(cmm, kCmHdrSettings, "CMULTCA")) == 1 ? 1 : 0;
            xio_free_header(cmm, kCmHdrSettings);
        }
    }
    return multipleCash_;
}

void xvCMM::SetMultipleCashAccounts(uint16_t cmm, bool converting) {
    if (MultipleCashAccounts(cmm) != 0) return;  // on already, or the header cannot be read
    if (converting) {
        if (xio_rd_header(cmm, kCmHdrSettings, 1) != XIO_OK) return;
        PutFlag(cmm, HeaderFieldNo(cmm, kCmHdrSettings, "CMULTCA"), 1);
        const int written = xio_wr_header(cmm, kCmHdrSettings);
        xio_free_header(cmm, kCmHdrSettings);
        if (written != XIO_OK) return;
    }
    // Examine Files writes nothing: the later banks of the file see the setting as Convert
    // would have left it.
    multipleCash_ = 1;
}

const xvCMM::FormatFacts& xvCMM::NewFacts(const std::string& format, xvl::xvlImport& import) {
    lastFormat_ = format;
    const auto it = formats_.find(format);
    if (it != formats_.end()) return *(lastFacts_ = &it->second);
    auto imported = [&](const char* name) { return import.xvlImpWasItImported(format, name); };
    FormatFacts f;
    f.bintSpecial = import.xvlImpGetSpecialValue(format, "BINTCMP").has_value();
    f.fill = f.bintSpecial && !imported("BAPCABF");
    f.apKind = imported("BAPCABF") || imported("BINTCMP");
    f.apBase = imported("BAPCSHB");
    f.apFull = imported("BAPCSHF");
    f.pmKind = imported("BPMCABF");
    f.pmBase = imported("BPMCSHB");
    f.pmFull = imported("BPMCSHF");
    f.reconciled = imported("BRECDT");
    f.setupStatus = imported("BSASTAT");
    static constexpr const char* kSpecialNames[kSpecials] = {"BINTCMP", "BCASH",  "BLSTCHK", "BLSTCDT", "BLSTCA",
                                                             "BPLSTC",  "BPLSTCD", "BPLSTCA", "BLSTDA",  "BLSTDDT"};
    for (std::size_t s = 0; s < kSpecials; ++s) f.specialAt[s] = import.xvlImpSpecialPosition(format, kSpecialNames[s]);
    f.notesAt = import.xvlImpSpecialPosition(format, "Converted Notes");
    return *(lastFacts_ = &formats_.emplace(format, f).first->second);
}

bool xvCMM::Prefixed() {
    if (prefixed_ < 0) prefixed_ = suite::xk_prefixed(suite::kGlAccountFormat) ? 1 : 0;
    return prefixed_ == 1;
}

void xvCMM::ForgetCashAccounts() {
    kept_.clear();
    std::fill(keptAt_.begin(), keptAt_.end(), 0);
    lastCash_[0] = lastCash_[1] = nullptr;
    filled_ = nullptr;
}

xvCMM::CashAccount& xvCMM::Unformatted(int section, const std::string& account) {
    const int kind = section == suite::kGlBaseAccount ? 1 : 0;
    // Neighbouring banks mostly give the same cash account.
    if (KeptCash* last = lastCash_[kind]; last && last->given == account) return last->cash;
    if (keptAt_.empty()) {
        kept_.reserve(kUnformattedKept);
        keptAt_.assign(2 * kUnformattedKept, 0);
    }
    const std::size_t mask = keptAt_.size() - 1;
    std::size_t slot = CashHash(account, kind) & mask;
    for (; keptAt_[slot] != 0; slot = (slot + 1) & mask) {
        KeptCash& entry = kept_[keptAt_[slot] - 1];
        if (entry.kind == kind && entry.given == account) {
            lastCash_[kind] = &entry;
            return entry.cash;
        }
    }
    // Few banks share many accounts; a file of ever new accounts keeps a bounded memo.
    if (kept_.size() >= kUnformattedKept) {
        ForgetCashAccounts();
        slot = CashHash(account, kind) & mask;
    }
    KeptCash& entry = kept_.emplace_back();
    entry.given = account;
    entry.kind = kind;
    entry.cash.unformatted = account;
    suite::xk_unformat_field(suite::kGlAccountFormat, section, entry.cash.unformatted);
    keptAt_[slot] = static_cast<uint32_t>(kept_.size());
    lastCash_[kind] = &entry;
    return entry.cash;
}

int xvCMM::BaseWidth() {
    if (baseWidth_ < 0) baseWidth_ = suite::xk_width(suite::kGlAccountFormat, suite::kGlBaseAccount);
    return baseWidth_;
}

// ---- Hooks of the common record loop -----------------------------------------------------------

void xvCMM::ImportRejected(ConvertContext&, xvl::xvlImpInfo& info, std::string&) {
    if (info.RecExtraData() == 0 && IsBankNotes(info.FormatID()))
        info.SetImportedRecs(static_cast<uint16_t>(info.ImportedRecs() + 50));
}

bool xvCMM::CheckFormatId(uint16_t cmm, xvl::xvlImpInfo& info, xvl::xvlImport& import, std::string& reason,
                          bool converting) {
    if (!IsBankNotes(info.FormatID())) return true;
    if (reason.empty()) SaveNotes(cmm, info.ImportedRecs(), info.FormatID(), import, reason, converting);
    info.SetImportedRecs(static_cast<uint16_t>(info.ImportedRecs() + 50));
    return false;
}

bool xvCMM::DispatchRecord(ConvertContext& ctx, xvl::xvlImpInfo& info, std::string& reason) {
    const uint16_t cmm = ctx.mainHandle;
    if (!CheckFormatId(info.FileNumUsed(), info, *ctx.import, reason, ctx.converting)) {
        ctx.storeRecord = false;  // saved as notes, or rejected
        return reason.empty();
    }
    writeLastNumbers = 0;
    lastNumbersGiven_ = false;
    filled_ = nullptr;
    if (info.FileNumUsed() == cmm && info.ImportedRecs() == kCmRecBank) {
        const std::string& format = info.FormatID();
        xvl::xvlImport& import = *ctx.import;
        const auto glm = static_cast<uint16_t>(glmHandle);
        if (Facts(format, import).fill)
            CheckBankFields(cmm, info, reason, ctx.messages, apInstalled, prInstalled, arInstalled, jcInstalled,
                            pmInstalled, glm, ctx.converting, import);
        if (!ConvertBankAccount(cmm, info, reason, ctx.messages, apInstalled, prInstalled, arInstalled, jcInstalled,
                                pmInstalled, glm, ctx.converting, import))
            return false;
        return true;
    }
    // Any other record type has no place in this conversion.
    return RejectUnknownRecord(info, reason, kConversionName);
}

void xvCMM::RecordWritten(ConvertContext& ctx, xvl::xvlImpInfo& info) {
    if (!ctx.converting || !writeLastNumbers || info.RecExtraData() != 0 || info.ImportedRecs() != kCmRecBank) return;
    writeLastNumbers = 0;
    const int status = WriteLastNumbers(ctx.mainHandle);
    if (status == XIO_OK) return;
    if (status == XIO_DUPLICATE) {
        // The bank's last numbers on file stay as they are; numbers the line gave are not lost
        // silently.
        if (lastNumbersGiven_) ctx.messages.push_back(Msg(12900, GetText(ctx.mainHandle, kCmRecBank, "BANKACC")));
        return;
    }
    EndFile(ctx, Msg(status == XIO_DISK_FULL ? 12013 : 12011), true, true);
}

int xvCMM::WriteLastNumbers(uint16_t cmm) { return xio_wr_record(cmm, kCmRecLastNumbers); }

// ---- The filling step ---------------------------------------------------------------------------

bool xvCMM::CheckBankFields(uint16_t cmm, xvl::xvlImpInfo& info, std::string&, convert::MessageList&, bool apInst,
                            bool prInst, bool, bool, bool pmInst, uint16_t, bool converting, xvl::xvlImport& import) {
    const std::string& format = info.FormatID();
    // The line's special values, where the format has them (null where it has not), all found
    // in one look-up.
    const FormatFacts& facts = Facts(format, import);
    const std::span<const x_value_def> values = import.xvlImpSpecialValues(format);
    auto special = [&](Special s) -> const x_value_def* {
        static const x_value_def kNone;
        const int at = facts.specialAt[s];
        if (at < 0) return nullptr;
        return static_cast<std::size_t>(at) < values.size() ? &values[static_cast<std::size_t>(at)] : &kNone;
    };
    ResolveFields(cmm);

    // 1. The kind of the AP cash account.
    const auto bint = special(kSpBintcmp);
    const int apKind = (bint && ShortValue(*bint) == 1) ? 1 : (Prefixed() ? 2 : 1);
    SetKind(cmm, kApKind, apKind);

    // 2. The general cash account: the one cash account every application shares, if any.
    // Each is read where it lies (the memo of the cash account, a field the steps below leave
    // as it is): none is copied.
    const std::string* general = nullptr;
    bool conflict = false;
    auto collect = [&](const std::string& account) {
        if (!general || general->empty())
            general = &account;
        else if (*general != account)
            conflict = true;
    };
    // 3. One cash account for the whole bank.
    if (const auto cash = special(kSpCash)) {
        if (const std::string& given = TextOf(*cash); !given.empty()) {
            CashAccount& memo = Unformatted(apKind == 1 ? suite::kGlWhole : suite::kGlBaseAccount, given);
            filled_ = &memo;
            filledBase_ = apKind != 1;
            collect(memo.unformatted);
            PutText(cmm, bank_[apKind == 1 ? kApCashFull : kApCashBase], memo.unformatted);
            PutFlag(cmm, bank_[kApValid], 1);
        }
    }
    // 4, 5. The payroll and receivables cash accounts of the line.
    const std::string& payroll = xio_get_text(cmm, bank_[kPrCash]);
    if (!payroll.empty()) {
        collect(payroll);
        PutFlag(cmm, bank_[kPrValid], 1);
    }
    const std::string& receivable = xio_get_text(cmm, bank_[kRcCash]);
    if (!receivable.empty()) {
        collect(receivable);
        PutFlag(cmm, bank_[kRcValid], 1);
        if (pmInst) {
            PutText(cmm, bank_[kPmCashFull], receivable);
            SetKind(cmm, kPmKind, 1);
            PutFlag(cmm, bank_[kPmValid], 1);
        }
    }
    // 6. A bank with cash accounts: the CM settings use several cash accounts per bank.
    const bool anyCash = general && !general->empty();
    if (anyCash) {
        PutFlag(cmm, bank_[kMultiCash], 1);
        SetMultipleCashAccounts(cmm, converting);
    }
    // 7. The general cash account, when every application shares it (a prefixed GL keeps it
    // only when it is more than a base account).
    if (!conflict && anyCash && (!Prefixed() || static_cast<int>(general->size()) > BaseWidth()))
        PutText(cmm, bank_[kGenCash], *general);

    // 8. Convert: the last numbers of the bank, written after it.
    if (!converting) return true;
    xio_init_record(cmm, kCmRecLastNumbers);
    PutText(cmm, last_[kLtBank], xio_get_text(cmm, bank_[kBankAcc]));
    auto put = [&](Special name, std::size_t field) {
        const auto v = special(name);
        if (!v) return false;
        PutSpecial(cmm, field, *v);
        if (Given(*v)) lastNumbersGiven_ = true;
        writeLastNumbers = 1;
        return true;
    };
    if (apInst) {
        put(kSpApCheck, kLtApCheck);
        put(kSpApDate, kLtApDate);
        put(kSpApAmount, kLtApAmount);
    }
    if (prInst) {
        put(kSpPrCheck, kLtPrCheck);
        put(kSpPrDate, kLtPrDate);
        put(kSpPrAmount, kLtPrAmount);
    }
    // A deposit amount alone is a last number too: it must not be dropped by starting the record
    // again.
    if (const auto deposit = special(kSpDeposit); deposit && deposit->number != 0) {
        put(kSpDeposit, kLtDepAmount);
        put(kSpDepositDate, kLtDepDate);
    }
    return true;
}

}  // namespace dz::gl
