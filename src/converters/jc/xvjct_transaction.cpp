// The JC transaction record: the rejecting checks of a transaction (job, type, dates, extra,
// category, cost code, billing level, accounting date), then the fields the conversion clears or
// sets itself, each with its warning. Also the two helpers the checks share with nothing else:
// the cut of a cost code to a billing level and the accounting-date window.
#include "converters/jc/jcm_fields.h"
#include "converters/jc/xvjct.h"

#include "modules/entries.h"
#include "platform/datafile/stored_number.h"
#include "platform/datafile/xio.h"
#include "platform/import/xvl_import.h"
#include "platform/modlibs/jc_cost_code.h"
#include "platform/suite/xd.h"
#include "platform/suite/xk.h"

namespace dz::jc {

using namespace convert;

namespace {

constexpr int kBatchFmt = 1;
constexpr int kCheckFmt = 8;
constexpr int kExtraFmt = 15;
constexpr int kJobFmt = 16;
constexpr int kPhaseFmt = 18;
constexpr int kCommitmentFmt = 20;
constexpr int kEmployeeFmt = 28;
constexpr int kEquipmentFmt = 69;
constexpr int kRevenueCodeFmt = 70;
constexpr int kLocationFmt = 142;
constexpr int kEquipmentCostFmt = 187;

constexpr int kCashReceipt = 30;

bool TypeIn(int type, std::initializer_list<std::pair<int, int>> ranges) {
    for (const auto& [from, to] : ranges)
        if (type >= from && type <= to) return true;
    return false;
}

}  // namespace

const convert::FieldNames<xvJCT::kTxFields> xvJCT::kTxNames{
    "TJOB", "TRANDAT", "TEXTRA", "TCAT", "TPHASE", "TRANTYP", "TACTDAT", "TRDPLOC", "TRDPRUN", "TRDPSEQ",
    "TSTATUS", "TDEPADJ", "TADJID", "TRUN", "TSEQ", "TAPPL", "TBATCH", "TSOURCE", "TOSRC", "TINV", "TVENDOR",
    "TDSEQ", "TCHECK", "TBANK", "TDEPDAT", "TDEPID", "TEQ", "TECCODE", "TERCODE", "TEQCT", "TSITEM", "TSUB",
    "TPEDATE", "TEMPL", "TCHKSEQ"};

int BuildCostCodeKey(std::string& costCode, int keep) {
    const int n = modlibs::JcCostCodeSections();
    auto sections = CostCodeSections(costCode, n);
    for (int k = n; k >= keep + 1 && k >= 1; --k) {
        std::string& section = sections[static_cast<std::size_t>(k - 1)];
        if (!modlibs::IsZeroOrBlank(section)) modlibs::ZeroFill(section);
    }
    costCode = suite::xk_build_key(kPhaseFmt, sections);
    return 1;
}

bool CheckDateWindow(const x_date_type& date, const JCDateContext* context, bool periodsUsed) {
    if (!context) return true;
    const auto after = [&](const x_date_type& bound) {
        return !bound.blank() && suite::xd_compare_dates(date, bound) > 0;
    };
    if (after(context->lastAccountingDate)) return false;
    return !(periodsUsed && after(context->periodEnd));
}

int xvJCT::BillingLevel(const std::string& job) {
    auto known = jobLevels_.find(job);
    if (known == jobLevels_.end()) {
        int level = defaultBillingLevel == kNoBillingLevel ? -1 : defaultBillingLevel;
        // A job not on file is no error here: it takes the default level.
        if (ReadByKeys(jcMasterFile, kRecJob, {{"JOB", job}}))
            level = xio_whole_part(GetNumber(jcMasterFile, kRecJob, "JBLEVEL"), -1);
        known = jobLevels_.emplace(job, level).first;
    }
    return known->second;
}

bool xvJCT::StandardCategory(const std::string& category) {
    auto known = standardCategories_.find(category);
    if (known == standardCategories_.end()) {
        xio_init_record(jcMasterFile, kRecStdCategory);
        PutText(jcMasterFile, kRecStdCategory, "SCAT", category);
        known = standardCategories_.emplace(category, xio_find_record(jcMasterFile, kRecStdCategory, 0) == XIO_OK)
                    .first;
    }
    return known->second;
}

bool xvJCT::ConvertTransaction(uint16_t jct, xvl::xvlImpInfo& info, std::string& reason,
                               convert::MessageList& messages, bool converting, const xvl::xvlImport& import) {
    const uint16_t rec = kRecJcTransaction;
    if (txHandle_ != jct) {
        tx_.Resolve(jct, rec, kTxNames);
        txHandle_ = jct;
    }
    auto fld = [&](TxField name) { return tx_[name]; };
    auto text = [&](TxField name) { return GetText(jct, fld(name)); };
    auto date = [&](TxField name) { return GetDate(jct, fld(name)); };
    auto reject = [&](std::string why) {
        reason = std::move(why);
        return false;
    };

    // 1-3. The job, the type and the transaction date.
    const std::string job = text(kTJOB);
    if (IsBlank(job)) return reject(Msg(12353));
    // The job and the type as messages show them, formatted only for a message.
    const auto jobShown = [&] { return ShowKey(kJobFmt, 0, job); };
    if (!import.xvlImpWasItImported(info.FormatID(), "TRANTYP")) return reject(Msg(12354, jobShown()));
    if (date(kTRANDAT).blank()) return reject(Msg(12355, jobShown()));

    // 4, 5. Extras and categories only where the company uses them.
    if (!extrasTracked) {
        if (const std::string extra = text(kTEXTRA); !IsBlank(extra))
            return reject(Msg(12356, TermPlural(kExtraFmt, true), TermCap(kExtraFmt), extra, jobShown()));
    }
    const std::string category = text(kTCAT);
    const bool hasCategory = !IsBlank(category);
    if (!categoriesUsed && hasCategory) return reject(Msg(12357, category, jobShown()));

    // 6, 7. A category needs a cost code, and must be a standard category.
    std::string phase = text(kTPHASE);
    const auto phaseShown = [&] { return ShowKey(kPhaseFmt, 0, phase); };
    if (hasCategory && IsBlank(phase))
        return reject(Msg(12358, TermCap(kPhaseFmt), category, jobShown(), TermCap(kPhaseFmt)));
    if (hasCategory && !StandardCategory(category)) return reject(Msg(12359, category, jobShown()));

    // 8. No zero section before a section that is not zero.
    const int sections = modlibs::JcCostCodeSections();
    if (sections > 1 && !IsBlank(phase)) {
        if (phase != zeroChecked_) {
            zeroValid_ = ZeroSectionsValid(phase, sections);
            zeroChecked_ = phase;
        }
        if (!zeroValid_) return reject(Msg(12360, Term(kPhaseFmt), phaseShown()));
    }

    // 9, 10. The rules of the transaction type; the billing types against the job's level.
    const uint16_t typeField = fld(kTRANTYP);
    const int type = Whole(GetNumber(jct, typeField));
    const auto typeShown = [&] { return ShowChoice(jct, typeField, type); };
    auto billingRule = [&]() -> bool {
        const int level = BillingLevel(job);
        if (level == 1) {
            // Billed at job level: the cost code means nothing and goes without a word.
            if (!phase.empty()) PutText(jct, fld(kTPHASE), "");
        } else if (level != -1) {
            // A level below the job's leaves no section to cut the cost code to: zeroing every
            // section would store a cost code the zero-section rule calls invalid.
            if (level < 1 || IsBlank(phase)) return false;
            uint16_t phaseLevel = 1;
            modules::JC_GROUP_PHASE(phase, kPhaseFmt, &phaseLevel);
            const int p = phaseLevel == 0 ? 1 : phaseLevel;
            if (level - 1 > p) return false;
            if (level - 1 < p) {
                BuildCostCodeKey(phase, level - 1);
                PutText(jct, fld(kTPHASE), phase);
            }
        }
        return !hasCategory;
    };
    if (TypeIn(type, {{1, 3}, {7, 15}})) {
        if (categoriesUsed) {
            if (!hasCategory) return reject(Msg(12361, typeShown()));
        } else {
            if (IsBlank(phase)) return reject(Msg(12362, typeShown(), TermCap(kPhaseFmt)));
            uint16_t level = 1;
            if (modules::JC_GROUP_PHASE(phase, kPhaseFmt, &level) != 0)
                return reject(Msg(12363, typeShown(), Term(kPhaseFmt), phaseShown()));
        }
    } else if (TypeIn(type, {{4, 6}, {17, 17}, {22, 23}})) {
        if (hasCategory) return reject(Msg(12364, typeShown(), category));
        if (IsBlank(phase)) return reject(Msg(12362, typeShown(), TermCap(kPhaseFmt)));
    } else if (type == 21) {
        if (IsBlank(phase)) return reject(Msg(12362, typeShown(), TermCap(kPhaseFmt)));
    } else if (TypeIn(type, {{24, 29}, {33, 34}})) {
        if (!billingRule()) return reject(Msg(12365, typeShown()));
    } else if (type == kCashReceipt || type == 32) {
        if (hasCategory) return reject(Msg(12364, typeShown(), category));
        if (!IsBlank(phase)) return reject(Msg(12366, typeShown(), TermCap(kPhaseFmt), phaseShown()));
    } else if (type == 31) {
        return reject(Msg(12367));
    }

    // 11, 12. The accounting date of the types that post, inside the JC settings' window.
    if (TypeIn(type, {{10, 15}, {27, 30}, {32, 32}})) {
        const x_date_type accounting = date(kTACTDAT);
        if (accounting.blank()) return reject(Msg(12368, typeShown()));
        if (!CheckDateWindow(accounting, dateContext, periodsUsed))
            return reject(Msg(12369, suite::xd_alpha_date(accounting)));
    }

    // Accepted: the fields the conversion clears or sets itself, each given value with a warning.
    auto word = [&](const char* pair) { return ModeWord(pair, converting); };
    auto warn = [&](int number, const std::string& field, const std::string& value, const char* codes) {
        messages.push_back(Msg(number, field, value, word("was not/will not be"), word(codes)));
    };
    auto number = [](double v) { return FormatNumber("%.0f", v); };
    auto blank = [&](TxField name) { return IsBlank(text(name)); };
    auto zero = [&](TxField name, const std::string& label, int msg, const char* codes) {
        const uint16_t f = fld(name);
        if (const double v = GetNumber(jct, f); v != 0) {
            warn(msg, label, number(v), codes);
            PutNumber(jct, f, 0);
        }
    };
    auto clearDate = [&](TxField name) { PutDate(jct, fld(name), x_date_type{}); };

    if (const std::string v = text(kTRDPLOC); !IsBlank(v)) {
        warn(12370, "DP " + Term(kLocationFmt), v, "517/518");
        PutText(jct, fld(kTRDPLOC), "");
    }
    zero(kTRDPRUN, "DP Run number", 12370, "517/518");
    zero(kTRDPSEQ, "DP Seq number", 12370, "517/518");
    if (const uint16_t f = fld(kTSTATUS); GetNumber(jct, f) != 1) {
        warn(12370, "Transaction status", ShowChoice(jct, f, GetNumber(jct, f)), "517/518");
        PutNumber(jct, f, 1);
    }
    if (const uint16_t f = fld(kTDEPADJ); GetFlag(jct, f) != 0) {
        warn(12370, "Deposit adjustment", "YES", "517/518");
        PutFlag(jct, f, 0);
    }
    zero(kTADJID, "Adjustment ID", 12370, "517/518");

    {
        const uint16_t f = fld(kTRUN);
        const double v = GetNumber(jct, f);
        if (v != 0) warn(12371, "Run number", number(v), "519/520");
        if (v != runNumber) PutNumber(jct, f, runNumber);
    }
    {
        const uint16_t f = fld(kTSEQ);
        if (const double v = GetNumber(jct, f); v != 0) warn(12371, "Sequence number", number(v), "519/520");
        PutNumber(jct, f, ++sequenceNumber);
    }
    {
        const std::string v = text(kTAPPL);
        if (!IsBlank(v)) warn(12371, "Application of origin", v, "519/520");
        if (v != "XV") PutText(jct, fld(kTAPPL), "XV");
    }
    {
        const std::string v = text(kTBATCH);
        if (!IsBlank(v)) warn(12371, TermCap(kBatchFmt), v, "519/520");
        if (v != batchName) PutText(jct, fld(kTBATCH), batchName);
    }
    if (const uint16_t f = fld(kTSOURCE); GetNumber(jct, f) != 1) {
        warn(12371, "Source", ShowChoice(jct, f, GetNumber(jct, f)), "519/520");
        PutNumber(jct, f, 1);
    }
    PutNumber(jct, fld(kTOSRC), 1);

    // References that need their partner field.
    if (const std::string v = text(kTINV); !IsBlank(v) && blank(kTVENDOR)) {
        messages.push_back(Msg(12372, v, word("was not/will not be"), word("521/522")));
        PutText(jct, fld(kTINV), "");
    }
    if (const double v = GetNumber(jct, fld(kTDSEQ)); v != 0 && blank(kTINV)) {
        messages.push_back(Msg(12373, number(v), word("was not/will not be"), word("523/524")));
        PutNumber(jct, fld(kTDSEQ), 0);
    }
    if (const double v = GetNumber(jct, fld(kTCHECK)); v != 0 && blank(kTBANK)) {
        warn(12374, TermCap(kCheckFmt), number(v), "525/526");
        PutNumber(jct, fld(kTCHECK), 0);
    }
    if (const x_date_type d = date(kTDEPDAT); !d.blank() && type != kCashReceipt) {
        messages.push_back(Msg(12835, suite::xd_alpha_date(d), word("was/will be"), word("535/536")));
        clearDate(kTDEPDAT);
    }
    if (const x_date_type d = date(kTDEPDAT); !d.blank() && blank(kTBANK)) {
        warn(12374, "Deposit date", suite::xd_alpha_date(d), "525/526");
        clearDate(kTDEPDAT);
    }
    if (const std::string v = text(kTDEPID); !IsBlank(v) && date(kTDEPDAT).blank()) {
        messages.push_back(Msg(12836, v, word("was not/will not be"), word("537/538")));
        PutText(jct, fld(kTDEPID), "");
    }
    const bool noEquipment = blank(kTEQ);
    auto needsEquipment = [&](TxField name, int fmt) {
        const std::string v = text(name);
        if (IsBlank(v) || !noEquipment) return;
        const std::string equipment = TermCap(kEquipmentFmt);
        const std::string label = fmt ? TermCap(fmt) : equipment + " type";
        messages.push_back(Msg(12375, label, equipment, fmt ? ShowKey(fmt, 0, v) : v, word("was not/will not be"),
                               word("527/528")));
        PutText(jct, fld(name), "");
    };
    needsEquipment(kTECCODE, kEquipmentCostFmt);
    needsEquipment(kTERCODE, kRevenueCodeFmt);
    needsEquipment(kTEQCT, 0);
    if (const double v = GetNumber(jct, fld(kTSITEM)); v != 0 && blank(kTSUB)) {
        messages.push_back(Msg(12376, TermCap(kCommitmentFmt), TermCap(kCommitmentFmt), number(v),
                               word("was not/will not be"), word("529/530")));
        PutNumber(jct, fld(kTSITEM), 0);
    }
    if (const x_date_type d = date(kTPEDATE); !d.blank() && blank(kTEMPL)) {
        messages.push_back(Msg(12377, TermCap(kEmployeeFmt), suite::xd_alpha_date(d), word("was not/will not be"),
                               word("531/532")));
        clearDate(kTPEDATE);
    }
    if (const uint16_t f = fld(kTCHKSEQ); GetNumber(jct, f) != 1 && date(kTPEDATE).blank()) {
        messages.push_back(Msg(12378, TermCap(kCheckFmt), ShowChoice(jct, f, GetNumber(jct, f)),
                               word("was not/will not be"), word("533/534")));
        PutNumber(jct, f, 1);
    }
    return true;
}

}  // namespace dz::jc
