// The prefix A, B and C records of a GL master text file. The three handlers share one road:
// the prefix and its parents, alternate keys, intercompany accounts, then the fiscal fields,
// which must be valid where the company's fiscal entity sits and empty everywhere else.
#include "converters/gl/fiscal_calendar.h"
#include "converters/gl/glm_fields.h"
#include "converters/gl/xvglm.h"

#include "modules/entries.h"
#include "platform/datafile/xio.h"
#include "platform/import/xvl_import.h"
#include "platform/suite/xd.h"
#include "platform/suite/xk.h"

namespace dz::gl {

using namespace convert;

namespace {

using suite::kGlAccountFormat;
using suite::xd_alpha_date;
using suite::xk_num_sections;

// The fields of one prefix level, by name.
struct PrefixLayout {
    uint16_t rec;
    int section;  // the account-format section of the prefix value
    const char* prefix;
    const char* icPayable;
    const char* icReceivable;
    const char* balanceLevel;
    const char* propertyControl;
    const char* periodEnd;
    const char* periodCode;
    const char* fiscalEnd;
    const char* apBank;
    const char* approval;
    const char* federalId;
    const char* thirteen;
    const char* calendarStart;
    const char* firstPeriod;
    const char* lastPeriod;
    const char* firstClosed;
    const char* lastClosed;
    const char* firstPartner;
    const char* lastPartner;
    const char* status;
};

constexpr PrefixLayout kPrefixA{kRecPrefixA, suite::kGlPrefixA, "PAPRFX", "PAICPAY", "PAICREC", "PABLLVL", "PAPRCTL",
                                "PAPDATE", "PAPCODE", "PAFDATE", "PAAPBNK", "PAAPRVL", "PAFEDID", "PAU13PA",
                                "PAFBD2Y", "PAP2Y1", "PAP1F13", "PAPCL1", "PAPCL26", "PAPAR1", "PAPAR50", "APRSTAT"};
constexpr PrefixLayout kPrefixB{kRecPrefixB, suite::kGlPrefixAB, "PBPRFX", "PBICPAY", "PBICREC", "PBBLLVL", "PBPRCTL",
                                "PBPDATE", "PBPCODE", "PBFDATE", "PBAPBNK", "PBAPRVL", "PBFEDID", "PBU13PA",
                                "PBFBD2Y", "PBP2Y1", "PBP1F13", "PBPCL1", "PBPCL26", "PBPAR1", "PBPAR50", "BPRSTAT"};
constexpr PrefixLayout kPrefixC{kRecPrefixC, suite::kGlPrefixABC, "PCPRFX", "PCICPAY", "PCICREC", "PCBLLVL",
                                "PCPRCTL", "PCPDATE", "PCPCODE", "PCFDATE", "PCAPBNK", "PCAPRVL", "PCFEDID",
                                "PCU13PA", "PCFBD2Y", "PCP2Y1", "PCP1F13", "PCPCL1", "PCPCL26", "PCPAR1", "PCPAR50",
                                "CPRSTAT"};

uint16_t F(uint16_t glm, const PrefixLayout& l, const char* name) { return FieldNo(glm, l.rec, name); }

// What a parent prefix record tells its children.
struct ParentInfo {
    int fiscalLevel = 1;   // PAFISC of the prefix A record
    int balanceLevel = 1;  // its balance-sheet level
};

// Finds a parent prefix record on file or, in Examine Files, among the records examined earlier
// in the text file (their examine code in `code`). `onFile` tells which.
bool FindParent(uint16_t glm, uint16_t rec, const char* keyField, const std::string& key, bool converting,
                const RecordIdMap& ids, bool& onFile, uint16_t& code) {
    onFile = ReadByKey(glm, rec, keyField, key);
    if (onFile) return true;
    return !converting && FindInIdMap(glm, rec, ids, &code);
}

// The prefix of a prefix B or C record: refused when it is empty or does not fit the key format
// of its section.
bool ReadOwnPrefix(uint16_t glm, const PrefixLayout& l, std::string& prefix, std::string& reason) {
    prefix = GetText(glm, l.rec, l.prefix);
    if (prefix.empty()) {
        reason = Msg(12103);
        return false;
    }
    if (!suite::xk_check(kGlAccountFormat, l.section, prefix)) {
        reason = Msg(12104, prefix);
        return false;
    }
    return true;
}

// The prefix A record above the prefix B or C record `prefix` (its section in `partA`), on file
// or examined earlier; the record is refused when there is none.
bool FindPrefixA(uint16_t glm, const PrefixLayout& l, const std::string& prefix, bool converting,
                 const RecordIdMap& ids, std::string& partA, ParentInfo& a, std::string& reason) {
    partA = AccountSection(prefix, suite::kGlPrefixA);
    bool onFile = false;
    uint16_t code = 0;
    if (!FindParent(glm, kRecPrefixA, "PAPRFX", partA, converting, ids, onFile, code)) {
        reason = Msg(12101, SectionDescription(suite::kGlPrefixA, true), partA, SectionDescription(l.section), prefix);
        return false;
    }
    if (onFile) {
        a.fiscalLevel = Whole(GetNumber(glm, kRecPrefixA, "PAFISC"));
        a.balanceLevel = Whole(GetNumber(glm, kRecPrefixA, "PABLLVL"));
    } else {
        a.fiscalLevel = code % 10;
        a.balanceLevel = code / 100;
    }
    return true;
}

// Steps 4 to 6: intercompany accounts cleared where the prefix may not carry them, both or none
// given, each an existing base account of the right intercompany status.
bool CheckIntercompany(uint16_t glm, const PrefixLayout& l, bool allowed, const std::string& prefixShown,
                       std::string& reason, convert::MessageList& messages, bool converting, const RecordIdMap& ids) {
    const uint16_t payField = F(glm, l, l.icPayable), recField = F(glm, l, l.icReceivable);
    std::string payable = GetText(glm, payField), receivable = GetText(glm, recField);
    if (payable.empty() && receivable.empty()) return true;
    if (!allowed) {
        const std::string& given = payable.empty() ? receivable : payable;
        messages.push_back(Msg(12831, FormatAccount(given, suite::kGlBaseAccount), ModeWord("were/will be", converting),
                               converting ? "175" : "176"));
        PutText(glm, payField, "");
        PutText(glm, recField, "");
        return true;
    }
    if (receivable.empty()) {
        reason = Msg(12832, "Intercompany payable", FormatAccount(payable, suite::kGlBaseAccount),
                     "Intercompany receivable");
        return false;
    }
    if (payable.empty()) {
        reason = Msg(12832, "Intercompany receivable", FormatAccount(receivable, suite::kGlBaseAccount),
                     "Intercompany payable");
        return false;
    }
    for (bool isPayable : {true, false}) {
        const std::string& account = isPayable ? payable : receivable;
        const std::string shown = FormatAccount(account, suite::kGlBaseAccount);
        int status = 0;
        if (ReadByKey(glm, kRecBaseAccount, "BSBASE", account)) {
            status = Whole(GetNumber(glm, kRecBaseAccount, "BSICSTS"));
        } else {
            uint16_t code = 0;
            if (converting || !FindInIdMap(glm, kRecBaseAccount, ids, &code)) {
                reason = Msg(12833, shown, prefixShown);
                return false;
            }
            status = (code % 1000) / 100;
        }
        const bool fits = isPayable ? (status == 2 || status == 4) : (status == 3 || status == 4);
        if (!fits) {
            const char* word = isPayable ? "payable" : "receivable";
            reason = Msg(12834, word, shown, word, prefixShown);
            return false;
        }
    }
    return true;
}

// Step 7: the first fiscal field that holds a value, as "label with value"; empty when none.
std::string FirstFiscalValue(uint16_t glm, const PrefixLayout& l) {
    const auto date = [&](const char* name) { return GetDate(glm, F(glm, l, name)); };
    const auto text = [&](const char* name) { return GetText(glm, F(glm, l, name)); };
    const auto number = [&](const char* name) { return GetNumber(glm, F(glm, l, name)); };
    const auto with = [](const char* label, const std::string& value) { return std::string(label) + " with " + value; };

    if (!date(l.periodEnd).blank()) return with("Period ending date", xd_alpha_date(date(l.periodEnd)));
    if (number(l.periodCode) != 0) return with("Period code", FormatNumber("%.0f", number(l.periodCode)));
    if (!date(l.fiscalEnd).blank()) return with("Fiscal ending date", xd_alpha_date(date(l.fiscalEnd)));
    if (!text(l.apBank).empty()) return with("AP bank", text(l.apBank));
    if (!text(l.approval).empty()) return with("Approval", text(l.approval));
    if (!text(l.federalId).empty()) return with("Federal ID", text(l.federalId));
    if (number(l.balanceLevel) != 1) return with("Balance sheet level", FormatNumber("%.0f", number(l.balanceLevel)));
    if (number(l.propertyControl) != 1)
        return with("Property control", FormatNumber("%.0f", number(l.propertyControl)));
    if (GetFlag(glm, F(glm, l, l.thirteen)) == 1) return with("Using 13 periods", "YES");
    if (!date(l.calendarStart).blank()) return with("Fiscal 2 yrs ago", xd_alpha_date(date(l.calendarStart)));

    bool found = false;
    std::string out;
    DescribePeriodDateValue(glm, F(glm, l, l.firstPeriod), F(glm, l, l.lastPeriod), found, out);
    if (found) return out;
    DescribeClosedPeriodValue(glm, F(glm, l, l.firstClosed), F(glm, l, l.lastClosed), found, out);
    if (found) return out;
    DescribePartnerValue(glm, F(glm, l, l.firstPartner), F(glm, l, l.lastPartner), found, out);
    if (found) return out;
    return {};
}

}  // namespace

// Steps 7 and 8, shared by the three levels: `atPrefix` tells whether the company's fiscal
// entity sits at this prefix level.
static bool CheckFiscalFields(xvGLM& converter, uint16_t glm, const PrefixLayout& l, bool atPrefix,
                              std::string& reason, convert::MessageList& messages, bool converting,
                              RecordIdMap& ids) {
    if (!atPrefix) {
        const std::string value = FirstFiscalValue(glm, l);
        if (value.empty()) return true;
        reason = Msg(12107, SectionDescription(l.section, true), value);
        return false;
    }

    const x_date_type periodEnd = GetDate(glm, F(glm, l, l.periodEnd));
    const x_date_type fiscalEnd = GetDate(glm, F(glm, l, l.fiscalEnd));
    if (periodEnd.blank() || fiscalEnd.blank()) {
        reason = Msg(12108);
        return false;
    }
    if (suite::xd_compare_dates(periodEnd, fiscalEnd) > 0) {
        reason = Msg(12109, CalendarDateText(periodEnd), CalendarDateText(fiscalEnd));
        return false;
    }
    if (suite::xd_compare_dates(fiscalEnd, periodEnd) >= 367) {
        reason = Msg(12110, CalendarDateText(periodEnd), CalendarDateText(fiscalEnd));
        return false;
    }
    const int levels = xk_num_sections(kGlAccountFormat);
    const double balanceLevel = GetNumber(glm, F(glm, l, l.balanceLevel));
    if (balanceLevel > levels) {
        reason = Msg(12111, FormatNumber("%.0f", balanceLevel));
        return false;
    }
    const double propertyControl = GetNumber(glm, F(glm, l, l.propertyControl));
    if (propertyControl > levels + 1) {
        reason = Msg(12112, FormatNumber("%.0f", propertyControl));
        return false;
    }
    if (!CheckPeriodCalendar(converter, glm, F(glm, l, l.firstPeriod), F(glm, l, l.periodEnd),
                             F(glm, l, l.thirteen), F(glm, l, l.calendarStart), reason, messages, converting))
        return false;
    if (!CheckPrefixPartners(glm, F(glm, l, l.firstPartner), F(glm, l, l.lastPartner), reason, messages, converting,
                             ids))
        return false;
    const uint16_t statusField = F(glm, l, l.status);
    if (Whole(GetNumber(glm, statusField)) != 2) {
        PutNumber(glm, statusField, 2);
        messages.push_back(Msg(12125, ModeWord("has changed/will change", converting), converting ? "163" : "164"));
    }
    return true;
}

bool xvGLM::ConvertPrefixA(uint16_t glm, xvl::xvlImpInfo&, std::string& reason, convert::MessageList& messages,
                           bool converting, RecordIdMap& ids) {
    const PrefixLayout& l = kPrefixA;
    const int levels = xk_num_sections(kGlAccountFormat);
    if (levels == 0) {
        reason = Msg(12102, "Prefixes are");
        return false;
    }
    const std::string prefix = GetText(glm, l.rec, l.prefix);
    if (prefix.empty()) {
        reason = Msg(12103);
        return false;
    }

    // The fiscal-entity level: the company's (GL settings) and the one this record asks for.
    int fiscalEntity = 1;
    int fiscalLevel = 1;
    if (modules::GL_RD_HEADER(glm, kHdrSettings, 0) == 0) {
        fiscalEntity = Whole(GetNumber(glm, HeaderFieldNo(glm, kHdrSettings, "FISCENT")));
        xio_free_header(glm, kHdrSettings);
        fiscalLevel = Whole(GetNumber(glm, l.rec, "PAFISC"));
        if (fiscalEntity == 1 && fiscalLevel != 1) {
            reason = Msg(12105, fiscalLevel == 2 ? "2 (" + SectionDescription(suite::kGlPrefixAB) + ")"
                                                 : "3 (" + SectionDescription(suite::kGlPrefixABC) + ")");
            return false;
        }
        if (fiscalLevel > levels) {
            reason = Msg(12106, fiscalLevel == 2 ? "2" : "3");
            return false;
        }
    }

    bool allowed = true;
    if (fiscalAtPrefix == 0)
        allowed = balanceSheetLevel == 1;
    else if (fiscalLevel == 1)
        allowed = Whole(GetNumber(glm, l.rec, l.balanceLevel)) == 1;
    if (!CheckIntercompany(glm, l, allowed, prefix, reason, messages, converting, ids)) return false;

    const bool atPrefix = fiscalEntity != 1 && fiscalLevel == 1;
    return CheckFiscalFields(*this, glm, l, atPrefix, reason, messages, converting, ids);
}

bool xvGLM::ConvertPrefixB(uint16_t glm, xvl::xvlImpInfo&, std::string& reason, convert::MessageList& messages,
                           bool converting, RecordIdMap& ids) {
    const PrefixLayout& l = kPrefixB;
    std::string prefix, partA;
    ParentInfo a;
    if (!ReadOwnPrefix(glm, l, prefix, reason) || !FindPrefixA(glm, l, prefix, converting, ids, partA, a, reason))
        return false;
    PutText(glm, l.rec, "PBALTA", partA);
    PutText(glm, l.rec, "PBALTB", AccountSection(prefix, suite::kGlPrefixBPart));

    const int ownBalance = Whole(GetNumber(glm, l.rec, l.balanceLevel));
    bool allowed = false;
    if (fiscalAtPrefix == 1 || balanceSheetLevel == 2)
        allowed = (a.fiscalLevel == 1 && a.balanceLevel == 2) || (a.fiscalLevel == 2 && ownBalance == 2) ||
                  a.fiscalLevel > 2;
    if (!CheckIntercompany(glm, l, allowed, FormatAccount(prefix, l.section), reason, messages, converting, ids))
        return false;

    return CheckFiscalFields(*this, glm, l, a.fiscalLevel == 2, reason, messages, converting, ids);
}

bool xvGLM::ConvertPrefixC(uint16_t glm, xvl::xvlImpInfo&, std::string& reason, convert::MessageList& messages,
                           bool converting, RecordIdMap& ids) {
    const PrefixLayout& l = kPrefixC;
    std::string prefix, partA;
    ParentInfo a;
    if (!ReadOwnPrefix(glm, l, prefix, reason) || !FindPrefixA(glm, l, prefix, converting, ids, partA, a, reason))
        return false;
    bool onFile = false;
    uint16_t code = 0;
    const std::string partAB = AccountSection(prefix, suite::kGlPrefixAB);
    int abBalance = 1;
    if (!FindParent(glm, kRecPrefixB, "PBPRFX", partAB, converting, ids, onFile, code)) {
        reason = Msg(12101, SectionDescription(suite::kGlPrefixAB, true), partAB,
                     SectionDescription(suite::kGlPrefixABC), prefix);
        return false;
    }
    abBalance = onFile ? Whole(GetNumber(glm, kRecPrefixB, "PBBLLVL")) : code / 10;
    PutText(glm, l.rec, "PCALTB", partAB);
    PutText(glm, l.rec, "PCALTA", partA);
    PutText(glm, l.rec, "PCALTBO", AccountSection(prefix, suite::kGlPrefixBPart));
    PutText(glm, l.rec, "PCALTC", AccountSection(prefix, suite::kGlPrefixCPart));

    const int ownBalance = Whole(GetNumber(glm, l.rec, l.balanceLevel));
    const int fiscalBalance = a.fiscalLevel == 1 ? a.balanceLevel : a.fiscalLevel == 2 ? abBalance : ownBalance;
    const bool allowed = (fiscalAtPrefix == 1 || balanceSheetLevel == 3) && fiscalBalance == 3;
    if (!CheckIntercompany(glm, l, allowed, FormatAccount(prefix, l.section), reason, messages, converting, ids))
        return false;

    return CheckFiscalFields(*this, glm, l, a.fiscalLevel == 3, reason, messages, converting, ids);
}

}  // namespace dz::gl
