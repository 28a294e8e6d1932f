// The records that follow an employee (PR master records 2 to 6): work states with their
// jurisdiction's statuses, pays under their pay ID, taxes under their tax ID, deductions (direct
// deposits and the one Net Direct Deposit) and fringes, each checked against the PR system and
// tax files and the payroll country, corrected with a note or rejected with one reason.
#include "converters/pr/pr_rules.h"
#include "converters/pr/xvprm.h"

#include "convert/lookups.h"
#include "convert/platform_links.h"
#include "convert/record_fields.h"
#include "platform/datafile/xio.h"
#include "platform/import/xvl_case.h"
#include "platform/import/xvl_import.h"
#include "platform/suite/control.h"
#include "platform/suite/util.h"

#include <cctype>
#include <cmath>

namespace dz::pr {

using convert::FieldNo;
using convert::GetFlag;
using convert::GetNumber;
using convert::GetText;
using convert::Msg;
using convert::PutFlag;
using convert::PutNumber;
using convert::PutText;

namespace {

// Calculation methods, frequencies and periods the handlers test.
constexpr double kMethodHourly = 1;   // amounts in whole cents
constexpr double kMethodFormula = 14;
constexpr double kMethodDefault = 15;  // the setup ID's own method applies
constexpr double kEveryPayPeriod = 7;  // the frequency of a record that is not automatic
constexpr double kNoPeriod = 1;
// Deduction types.
constexpr double kDirectDeposit = 2;
constexpr double kNetDirectDeposit = 3;
// Tax adjustment methods and table types.
constexpr double kNoAdjustment = 1;
constexpr double kExempt = 3;
constexpr double kTaxFormula = 8;
constexpr double kWcTable = 3;
// The longest Bank ID whose check digit is known: eight digits and the check digit.
constexpr double kCheckedBankIdLimit = 1e9;

// How a reset field's value is shown.
enum class Shown { Item, TightItem, Cents, Whole, FiveDecimals };

// When the number or choice `name` holds anything but `reset`: notes `message` (the label, the
// value, "was not"/"will not be" and the mode's number of `numbers`) and stores `reset`.
void ResetField(uint16_t prm, uint16_t rec, const char* name, double reset, Shown shown, int message,
                const char* label, const char* numbers, bool converting, convert::MessageList& messages) {
    const uint16_t field = FieldNo(prm, rec, name);
    const double value = GetNumber(prm, field);
    if (value == reset) return;
    std::string text;
    switch (shown) {
    case Shown::Item: text = convert::ChoiceText(prm, field, value, true); break;
    case Shown::TightItem: text = convert::ChoiceText(prm, field, value, false); break;
    case Shown::Cents: text = convert::Amount(value); break;
    case Shown::Whole: text = convert::FormatNumber("%.0f", value); break;
    case Shown::FiveDecimals: text = convert::FormatNumber("%.5f", value / 100000); break;
    }
    messages.push_back(Msg(message, label, text, convert::ModeWord("was not/will not be", converting),
                           convert::ModeWord(numbers, converting)));
    PutNumber(prm, field, reset);
}

// A formula id is kept only with the formula method (`allowed`); otherwise `message` and blank.
void DropFormula(uint16_t prm, uint16_t rec, const char* name, bool allowed, int message, const char* numbers,
                 bool converting, convert::MessageList& messages) {
    const std::string formula = GetText(prm, rec, name);
    if (formula.empty() || allowed) return;
    messages.push_back(Msg(message, formula, convert::ModeWord("was not/will not be", converting),
                           convert::ModeWord(numbers, converting)));
    PutText(prm, rec, name, "");
}

// A formula that cannot be found is kept, with a note.
void LookUpFormula(uint16_t prm, uint16_t rec, const char* name, bool converting, convert::MessageList& messages) {
    const std::string formula = GetText(prm, rec, name);
    if (formula.empty() || suite::FormulaExists(formula)) return;
    messages.push_back(Msg(12316, formula, convert::ModeWord("converted/will convert", converting),
                           convert::ModeWord("854/855", converting)));
}

// An amount in hundred-thousandths that is finer than cents, rounded to cents when `round`.
void RoundAmount(uint16_t prm, uint16_t rec, const char* name, bool round) {
    const uint16_t field = FieldNo(prm, rec, name);
    const double amount = GetNumber(prm, field);
    if (round && RoundToCents(amount) != amount) PutNumber(prm, field, RoundToCents(amount));
}

// What a deduction's handler reads of its deduction ID, the same for every ID it looks at (the
// values are kept by ID).
constexpr std::initializer_list<const char*> kDeductionFields = {"MDTYPE", "MDCALC"};

std::string Upper(std::string text) {
    for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

}  // namespace

bool xvPRM::EmployeeKnown(uint16_t prm, const std::string& empId, bool converting, const char* recordName,
                          std::string& reason) {
    if (!lastEmployee_.empty() && xvl::equalNoCase(empId, lastEmployee_)) return true;
    std::string key = Upper(empId);
    if (!employeesKnown_.count(key)) {
        if (!EmployeeOnFile(prm, empId, RecordIds(), converting)) {
            // The record's name, built for the reason alone.
            std::string name = recordName ? recordName : "";
            if (!recordName) {
                name = convert::Term(53);
                suite::x_init_caps(name);
                name.insert(0, "Employee ");
            }
            reason = Msg(12311, empId, name);
            return false;
        }
        employeesKnown_.insert(key);
    }
    lastEmployee_ = std::move(key);
    return true;
}

bool xvPRM::EmployeeAndId(uint16_t prm, uint16_t rec, const char* empField, const char* idField,
                          const char* recordName, int idRequired, bool converting, std::string& reason,
                          std::string& empId, std::string& id) {
    empId = GetText(prm, rec, empField);
    if (empId.empty()) {
        reason = Msg(12276);
        return false;
    }
    if (!EmployeeKnown(prm, empId, converting, recordName, reason)) return false;
    id = GetText(prm, rec, idField);
    if (id.empty()) {
        reason = Msg(idRequired, empId);
        return false;
    }
    return true;
}

const xvPRM::SetupFields* xvPRM::SetupRecord(uint16_t file, uint16_t rec, const char* keyField, const std::string& id,
                                             std::initializer_list<const char*> fields) {
    // The record asked last under the same file and record type, when the ID is the same text:
    // the records of an employee name the pays, taxes and deductions the one before named.
    LastSetup* last = nullptr;
    for (LastSetup& l : lastSetups_)
        if (l.file == file && l.rec == rec) last = &l;
    if (last && last->id == id) return last->fields;
    const std::string memo = std::to_string(file) + '\t' + std::to_string(rec) + '\t' + Upper(id);
    auto it = setupRecords_.find(memo);
    if (it == setupRecords_.end()) {
        std::optional<SetupFields> values;
        if (file && convert::ReadByKey(file, rec, keyField, id)) {
            values.emplace();
            std::size_t i = 0;
            for (const char* f : fields) (*values)[i++] = xio_get_field_result(file, rec, FieldNo(file, rec, f));
        }
        it = setupRecords_.emplace(memo, values).first;
    }
    // The map's values stay where they are as it grows.
    if (!last) last = &lastSetups_.emplace_back(LastSetup{file, rec, {}, nullptr});
    last->id = id;
    last->fields = it->second ? &*it->second : nullptr;
    return last->fields;
}

bool xvPRM::ConvertEmployeeRecord(uint16_t prm, xvl::xvlImpInfo& info, std::string& reason,
                                  convert::MessageList& messages, bool converting, xvl::xvlImport& import) {
    switch (info.ImportedRecs()) {
    case kPrRecEmployee2: return ConvertEmployee2(prm, info, reason, messages, converting, import);
    case kPrRecPay: return ConvertEmployeePay(prm, info, reason, messages, converting);
    case kPrRecTax: return ConvertEmployeeTax(prm, info, reason, messages, converting);
    case kPrRecDeduction: return ConvertEmployeeDeduction(prm, info, reason, messages, converting);
    case kPrRecFringe: return ConvertEmployeeFringe(prm, info, reason, messages, converting);
    default: return false;
    }
}

// ---- Record 2: the employee's work state ---------------------------------------------------------

const std::vector<std::string>& xvPRM::JurisdictionStatuses(const std::string& key) {
    const std::string memo = Upper(key);
    if (const auto it = jurisdictionStatuses_.find(memo); it != jurisdictionStatuses_.end()) return it->second;
    std::vector<std::string> taken;
    const uint16_t prx = m_prxFile;
    xio_init_record(prx, 5);
    PutText(prx, 5, "TSID", key);
    const uint16_t idField = FieldNo(prx, 5, "TSID");
    const uint16_t statusField = FieldNo(prx, 5, "TSSTAT");
    for (int status = xio_rd_ge(prx, 5, 0, 0); status == XIO_OK && taken.size() < kStatusCount;
         status = xio_rd_next(prx, 5, 0, 0)) {
        if (!xvl::equalNoCase(GetText(prx, idField), key)) break;
        taken.push_back(GetText(prx, statusField));
        if (convert::InBackground() && convert::CheckTerminate()) break;
    }
    return jurisdictionStatuses_[memo] = std::move(taken);
}

bool xvPRM::JurisdictionHasStatus(const std::string& key, const std::vector<std::string>& taken,
                                  const std::string& status) {
    if (status.empty()) return false;
    if (taken.size() < kStatusCount) {
        for (const std::string& t : taken)
            if (xvl::equalNoCase(t, status)) return true;
        return false;
    }
    // The collection keeps ten: a jurisdiction with more is asked by key, which ignores case.
    xio_init_record(m_prxFile, 5);
    PutText(m_prxFile, 5, "TSID", key);
    PutText(m_prxFile, 5, "TSSTAT", status);
    return xio_find_record(m_prxFile, 5, 0) == XIO_OK;
}

bool xvPRM::ConvertEmployee2(uint16_t prm, xvl::xvlImpInfo& info, std::string& reason,
                             convert::MessageList& messages, bool converting, xvl::xvlImport& import) {
    constexpr uint16_t kRec = kPrRecEmployee2;
    const uint16_t country = m_countryCode;

    // 1, 2. The employee.
    const std::string empId = GetText(prm, kRec, "EMPID2");
    if (empId.empty()) {
        reason = Msg(12276);
        return false;
    }
    if (!EmployeeKnown(prm, empId, converting, nullptr, reason)) return false;

    // 3, 4. The work jurisdiction, a tax group of the tax file.
    const std::string work = GetText(prm, kRec, "E2WORK2");
    if (work.empty()) {
        reason = Msg(12312, convert::TermCap(53), empId);
        return false;
    }
    if (!Known(m_prxFile, 2, "TGST", work)) {
        reason = Msg(12291, convert::FieldDescription(prm, kRec, "E2WORK2"), work, convert::TermCap(53), empId);
        return false;
    }

    // 5. Fields only some countries use. "Use federal status" is judged only when the line gave
    // it: a value the line never had is no value to report.
    using K = FieldKind;
    const bool usaOrAustralia = country == kCountryUsa || country == kCountryAustralia;
    if (!usaOrAustralia) {
        DropCountryField(prm, kRec, "E2FSTAT", K::Text, "the USA and Australia", messages, converting);
        DropCountryField(prm, kRec, "E2TAXCD", K::Number, "the USA and Australia", messages, converting);
        DropCountryField(prm, kRec, "E2TXCDA", K::Text, "the USA and Australia", messages, converting);
    }
    const uint16_t useFederal = FieldNo(prm, kRec, "E2USEFD");
    const bool lineGaveUseFederal = import.xvlImpLineGave(info.FormatID(), "E2USEFD");
    if (country != kCountryUsa && lineGaveUseFederal && GetFlag(prm, useFederal) == 0) {
        messages.push_back(Msg(12289, convert::FieldDescription(prm, kRec, "E2USEFD"), "the USA", "FALSE",
                               convert::ModeWord("was not/will not be", converting),
                               convert::ModeWord("819/820", converting)));
        PutFlag(prm, useFederal, 1);
    }
    if (country != kCountryCanada)
        for (const char* f : {"E2TXDED", "E2PERCR", "E2PRCR"})
            DropCountryField(prm, kRec, f, K::Amount, "Canada", messages, converting);

    // 6. "Use federal status" filled in when the line does not give it.
    const std::string filing = GetText(prm, kRec, "E2FSTAT");
    if (!lineGaveUseFederal) {
        if (filing.empty()) {
            PutNumber(prm, kRec, "E2PEX", 0);
            PutFlag(prm, useFederal, 1);
        } else {
            PutFlag(prm, useFederal, 0);
        }
    }

    // 7. The jurisdiction's statuses.
    const std::string key = work + (country == kCountryCanada ? "TAX" : "SWH");
    const std::vector<std::string>& taken = JurisdictionStatuses(key);

    // 8. The filing status.
    bool valid = true;
    if (!filing.empty()) {
        valid = JurisdictionHasStatus(key, taken, filing);
    } else if (!taken.empty()) {
        valid = false;
        if (xio_get_field_result(prm, kRec, useFederal) == 1)
            for (std::size_t i = 0; i < kStatusCount && !valid; ++i) {
                const std::string federal = FilingStatusAt(i);
                valid = !federal.empty() && JurisdictionHasStatus(key, taken, federal);
            }
    }
    if (!valid) {
        reason = Msg(12293, convert::FieldDescription(prm, kRec, "E2FSTAT"), filing, convert::TermCap(77), empId);
        return false;
    }

    // 9. Current totals.
    ClearCurrentTotals(prm, kRec, {{"E2YREG", "E2MWKS"}}, m_allowTotals != 0, messages);
    return true;
}

// ---- Record 3: a pay -------------------------------------------------------------------------------------

bool xvPRM::ConvertEmployeePay(uint16_t prm, xvl::xvlImpInfo&, std::string& reason, convert::MessageList& messages,
                               bool converting) {
    constexpr uint16_t kRec = kPrRecPay;
    const auto word = [converting](const char* pair) { return convert::ModeWord(pair, converting); };
    std::string empId, payId;
    if (!EmployeeAndId(prm, kRec, "EPEMPID", "EPPAYID", "Employee Pay", 12313, converting, reason, empId, payId))
        return false;
    const SetupFields* pay = SetupRecord(m_prsFile, 1, "PPAYID", payId, {"PTYPE", "PCALC", "PSAL", "PWAOT"});
    if (!pay) {
        reason = Msg(12314, payId, empId);
        return false;
    }
    const double payType = (*pay)[0];
    const double payMethod = (*pay)[1];
    const bool salaried = (*pay)[2] == 1;

    // 5. The pay ID's pay type; 1 takes it over silently.
    const uint16_t typeField = FieldNo(prm, kRec, "EPPTYPE");
    if (const double type = GetNumber(prm, typeField); type != payType) {
        if (type != 1)
            messages.push_back(Msg(12315, word("has changed/will change"), convert::ChoiceText(prm, typeField, type, true),
                                   convert::ChoiceText(prm, typeField, payType, true), payId, word("852/853")));
        PutNumber(prm, typeField, payType);
    }
    // 6. Hourly and overtime pays calculate as their pay ID does; 15 takes it over silently.
    const uint16_t methodField = FieldNo(prm, kRec, "EPCALC");
    if (payType == 1 || payType == 2) {
        const double method = GetNumber(prm, methodField);
        if (method != payMethod) {
            if (method != kMethodDefault)
                messages.push_back(Msg(12317, word("has changed/will change"),
                                       convert::ChoiceText(prm, methodField, method, true),
                                       convert::ChoiceText(prm, methodField, payMethod, true), payId,
                                       word("856/857")));
            PutNumber(prm, methodField, payMethod);
        }
    }
    // 7. Salaried hourly pays and overtime are never automatic.
    const uint16_t autoField = FieldNo(prm, kRec, "EPAUTO");
    if (GetFlag(prm, autoField) == 1 && ((payType == 1 && salaried) || payType == 2)) {
        messages.push_back(Msg(12318, word("has changed/will change"), payId, word("858/859")));
        PutFlag(prm, autoField, 0);
    }
    // 8. Weighted average overtime has no amount of its own.
    if (payType == 2 && (*pay)[3] == 1) {
        if (const double amount = GetNumber(prm, kRec, "EPAMT"); amount != 0) {
            messages.push_back(
                Msg(12846, convert::FormatNumber("%.5f", amount / 100000), word("was/will be"), word("890/891")));
            PutNumber(prm, kRec, "EPAMT", 0);
        }
    }
    // 9. A formula only with the formula method.
    const double method = GetNumber(prm, methodField);
    DropFormula(prm, kRec, "EPFID", method == kMethodFormula, 12319, "860/861", converting, messages);
    // 10. What only an automatic pay uses.
    if (GetFlag(prm, autoField) == 0) {
        ResetField(prm, kRec, "EPFREQ", kEveryPayPeriod, Shown::Item, 12320, "Frequency", "862/863", converting, messages);
        ResetField(prm, kRec, "EPLIMIT", 0, Shown::Cents, 12320, "Limit", "862/863", converting, messages);
        ResetField(prm, kRec, "EPPER", kNoPeriod, Shown::Item, 12320, "Period", "862/863", converting, messages);
        ResetField(prm, kRec, "EPSEQ", 0, Shown::Whole, 12320, "Sequence", "862/863", converting, messages);
    }
    // 11. Whole cents for salaries and hourly amounts.
    const double effective = method == kMethodDefault ? payMethod : method;
    RoundAmount(prm, kRec, "EPAMT", salaried || effective == kMethodHourly);
    // 12, 13.
    LookUpFormula(prm, kRec, "EPFID", converting, messages);
    ClearCurrentTotals(prm, kRec, {{"EPYUN", "EPMPAY"}}, m_allowTotals != 0, messages);
    return true;
}

// ---- Record 4: a tax --------------------------------------------------------------------------------------

bool xvPRM::ConvertEmployeeTax(uint16_t prm, xvl::xvlImpInfo&, std::string& reason, convert::MessageList& messages,
                               bool converting) {
    constexpr uint16_t kRec = kPrRecTax;
    const auto word = [converting](const char* pair) { return convert::ModeWord(pair, converting); };
    std::string empId, taxId;
    if (!EmployeeAndId(prm, kRec, "ETEMPID", "ETTXID", "Employee Tax", 12321, converting, reason, empId, taxId))
        return false;
    const SetupFields* tax = SetupRecord(m_prxFile, 4, "TXID", taxId, {"TXLEV", "TXTBL"});
    if (!tax) {
        reason = Msg(12322, taxId, empId);
        return false;
    }

    // 5. The tax ID's level; 1 takes it over silently, any other mismatch rejects.
    const uint16_t levelField = FieldNo(prm, kRec, "ETLEV");
    const double taxLevel = (*tax)[0];
    if (const double level = GetNumber(prm, levelField); level != taxLevel) {
        if (level != 1) {
            reason = Msg(12323, convert::ChoiceText(prm, levelField, level, true),
                         convert::ChoiceText(prm, levelField, taxLevel, true), taxId);
            return false;
        }
        PutNumber(prm, levelField, taxLevel);
    }
    // 6. A WC table takes no adjustment.
    const uint16_t methodField = FieldNo(prm, kRec, "ETAMETH");
    if ((*tax)[1] == kWcTable && GetNumber(prm, methodField) != kNoAdjustment) {
        messages.push_back(Msg(12847, convert::ChoiceText(prm, methodField, GetNumber(prm, methodField), false),
                               word("was/will be"), word("892/893")));
        PutNumber(prm, methodField, kNoAdjustment);
    }
    const double method = GetNumber(prm, methodField);
    // 7. No amount without an adjustment.
    if (const double amount = GetNumber(prm, kRec, "ETAAMT"); method <= kExempt && amount != 0) {
        messages.push_back(Msg(12324, convert::Amount(amount)));
        PutNumber(prm, kRec, "ETAAMT", 0);
    }
    // 8. A formula only with the formula method.
    DropFormula(prm, kRec, "ETFID", method == kTaxFormula, 12325, "869/870", converting, messages);
    // 9, 10. The reciprocal tax: not in Canada, and never the tax itself.
    if (m_countryCode != kCountryUsa && m_countryCode != kCountryAustralia)
        DropCountryField(prm, kRec, "ETRECIP", FieldKind::Text, "the USA and Australia", messages, converting);
    if (const std::string reciprocal = GetText(prm, kRec, "ETRECIP");
        !reciprocal.empty() && xvl::equalNoCase(reciprocal, taxId)) {
        messages.push_back(Msg(12326, taxId));
        PutText(prm, kRec, "ETRECIP", "");
    }
    // 11, 12.
    LookUpFormula(prm, kRec, "ETFID", converting, messages);
    ClearCurrentTotals(prm, kRec, {{"ETYTAX", "ETMSUBJ"}}, m_allowTotals != 0, messages);
    return true;
}

// ---- Record 5: a deduction ---------------------------------------------------------------------------------

bool xvPRM::OtherNetDirectDeposit(uint16_t prm, const std::string& empId, const std::string& dedId,
                                  bool converting) {
    constexpr uint16_t kRec = kPrRecDeduction;
    const uint16_t prs = m_prsFile;
    bool found = false;
    // The employee's deductions on file, the line's own id included: a Net Direct Deposit on
    // file is one too many, even under the same id.
    xio_save_record(prm, kRec);
    xio_init_record(prm, kRec);
    PutText(prm, kRec, "EDEMPID", empId);
    const uint16_t empField = FieldNo(prm, kRec, "EDEMPID");
    const uint16_t dedField = FieldNo(prm, kRec, "EDDEDID");
    for (int status = xio_rd_ge(prm, kRec, 0, 0); status == XIO_OK && !found;
         status = xio_rd_next(prm, kRec, 0, 0)) {
        if (!xvl::equalNoCase(GetText(prm, empField), empId)) break;
        const SetupFields* other = SetupRecord(prs, 3, "MDDEDID", GetText(prm, dedField), kDeductionFields);
        found = other && (*other)[0] == kNetDirectDeposit;
        if (convert::InBackground() && convert::CheckTerminate()) break;
    }
    xio_restore_record(prm, kRec);
    if (found || converting) return found;

    // Examine Files writes nothing: the first Net Direct Deposit of an employee in the text file
    // leaves the employee's key with a blank deduction id for the next one to find.
    PutText(prm, dedField, "");
    if (convert::FindInIdMap(prm, kRec, RecordIds())) {
        found = true;
    } else {
        xvl::xvlImpInfo pseudo;
        pseudo.SetImportedRecs(kRec);
        std::string none;
        ExamineRecord(prm, pseudo, none, 0, convert::kPermGroup);
    }
    PutText(prm, dedField, dedId);
    return found;
}

bool xvPRM::ConvertEmployeeDeduction(uint16_t prm, xvl::xvlImpInfo&, std::string& reason,
                                     convert::MessageList& messages, bool converting) {
    constexpr uint16_t kRec = kPrRecDeduction;
    const auto word = [converting](const char* pair) { return convert::ModeWord(pair, converting); };
    std::string empId, dedId;
    if (!EmployeeAndId(prm, kRec, "EDEMPID", "EDDEDID", "Employee Deduct", 12327, converting, reason, empId, dedId))
        return false;
    const SetupFields* deduction = SetupRecord(m_prsFile, 3, "MDDEDID", dedId, kDeductionFields);
    if (!deduction) {
        reason = Msg(12328, dedId, empId);
        return false;
    }
    const double type = (*deduction)[0];
    const double dedMethod = (*deduction)[1];
    const bool net = type == kNetDirectDeposit;
    const uint16_t methodField = FieldNo(prm, kRec, "EDCALC");

    // 5. One Net Direct Deposit per employee, calculated as its deduction is.
    if (net) {
        if (OtherNetDirectDeposit(prm, empId, dedId, converting)) {
            reason = Msg(12329, dedId, empId);
            return false;
        }
        if (const double method = GetNumber(prm, methodField); method != kMethodDefault) {
            messages.push_back(Msg(12330, word("has changed/will change"),
                                   convert::ChoiceText(prm, methodField, method, true), word("875/876")));
            PutNumber(prm, methodField, kMethodDefault);
        }
    }
    // 6. The amount: none for a Net Direct Deposit, whole cents for hourly ones.
    if (net)
        ResetField(prm, kRec, "EDAMT", 0, Shown::FiveDecimals, 12331, "Amount field", "877/878", converting,
                   messages);
    const double method = GetNumber(prm, methodField);
    RoundAmount(prm, kRec, "EDAMT", (method == kMethodDefault ? dedMethod : method) == kMethodHourly);
    // 7. The formula.
    DropFormula(prm, kRec, "EDFID", method == kMethodFormula, 12319, "860/861", converting, messages);
    LookUpFormula(prm, kRec, "EDFID", converting, messages);
    // 8. A Net Direct Deposit takes what is left: no limit, period or sequence.
    if (net) {
        ResetField(prm, kRec, "EDLIMIT", 0, Shown::Cents, 12331, "Limit", "877/878", converting, messages);
        ResetField(prm, kRec, "EDPER", kNoPeriod, Shown::Item, 12331, "Period", "877/878", converting, messages);
        ResetField(prm, kRec, "EDSEQ", 0, Shown::Whole, 12331, "Sequence", "877/878", converting, messages);
    }
    // 9. What only an automatic deduction uses.
    if (GetFlag(prm, kRec, "EDAUTO") == 0) {
        ResetField(prm, kRec, "EDFREQ", kEveryPayPeriod, Shown::Item, 12320, "Frequency", "862/863", converting,
                   messages);
        ResetField(prm, kRec, "EDSEQ", 0, Shown::Whole, 12320, "Sequence", "862/863", converting, messages);
        if (type == kDirectDeposit) {
            ResetField(prm, kRec, "EDLIMIT", 0, Shown::Cents, 12848, "Limit", "894/895", converting, messages);
            ResetField(prm, kRec, "EDPER", kNoPeriod, Shown::TightItem, 12848, "Period", "894/895", converting,
                       messages);
        }
    }
    // 10. Current totals.
    ClearCurrentTotals(prm, kRec, {{"EDYDED", "EDMDED"}}, m_allowTotals != 0, messages);

    // 11. Canadian payrolls deposit without these bank fields.
    using K = FieldKind;
    const uint16_t country = m_countryCode;
    if (country == kCountryCanada) {
        auto drop = [&](const char* f, K kind, const char* countries, const char* label) {
            DropCountryField(prm, kRec, f, kind, countries, messages, converting, label, "YES");
        };
        drop("EDBNKI", K::Number, "the USA and Australia", "Bank ID");
        drop("EDBNKA", K::Text, "the USA and Australia", "Bank account");
        drop("EDATYPE", K::Choice, "the USA", "Account type");
        drop("EDPNOTE", K::YesNo, "the USA", "Prenote only");
        drop("EDDATE", K::Date, "the USA", "Prenote Date");
    }
    // 12. Bank fields belong to direct deposits, some only in some countries.
    struct BankField {
        const char* name;
        K kind;
        const char* label;
        const char* countries;  // the country rule for direct deposits: where the field is allowed
        bool dropped;           // whether that rule drops it in the installed country
    };
    const bool australia = country == kCountryAustralia;
    const BankField bankFields[] = {
        {"EDBNKI", K::Number, "Bank ID", nullptr, false},
        {"EDBNKA", K::Text, "Bank Account", nullptr, false},
        {"EDATYPE", K::Choice, "Account Type", "the USA", australia},
        {"EDPNOTE", K::YesNo, "Prenote Only", "the USA", australia},
        {"EDDATE", K::Date, "Prenote Date", "the USA", australia},
        {"EDTITLE", K::Text, "Title of Account", "Australia", !australia},
    };
    // The routing number's check digit (USA), noted first as the Bank ID is the first of them.
    // One of ten or more digits has no known check digit: it is kept without a note.
    if (const double bankId = GetNumber(prm, kRec, "EDBNKI");
        country == kCountryUsa && type != 1 && bankId != 0 && bankId < kCheckedBankIdLimit) {
        const double first8 = std::floor(bankId / 10);
        const int16_t expected = BankIdCheckDigit(first8);
        if (expected != static_cast<int16_t>(bankId - first8 * 10))
            messages.push_back(
                Msg(12333, convert::FormatNumber("%.0f", bankId), convert::FormatInt("%d", expected)));
    }
    for (const BankField& b : bankFields) {
        if (type == 1) {
            if (const auto shown = TakeFieldValue(prm, FieldNo(prm, kRec, b.name), b.kind))
                messages.push_back(
                    Msg(12332, b.label, *shown, word("was not/will not be"), word("879/880")));
        } else if (b.dropped) {
            DropCountryField(prm, kRec, b.name, b.kind, b.countries, messages, converting, b.label);
        }
    }
    return true;
}

// ---- Record 6: a fringe ----------------------------------------------------------------------------------

bool xvPRM::ConvertEmployeeFringe(uint16_t prm, xvl::xvlImpInfo&, std::string& reason,
                                  convert::MessageList& messages, bool converting) {
    constexpr uint16_t kRec = kPrRecFringe;
    std::string empId, fringeId;
    if (!EmployeeAndId(prm, kRec, "EFEMPID", "EFFRGID", "Employee Fringe", 12334, converting, reason, empId,
                       fringeId))
        return false;
    const SetupFields* fringe = SetupRecord(m_prsFile, 4, "FFRGID", fringeId, {"FCALC", "FRATES", "FWCTBL"});
    if (!fringe) {
        reason = Msg(12335, fringeId, empId);
        return false;
    }

    // 5. Whole cents for hourly fringes not rated by table.
    const double method = GetNumber(prm, kRec, "EFCALC");
    const double effective = method == kMethodDefault ? (*fringe)[0] : method;
    RoundAmount(prm, kRec, "EFAMT", effective == kMethodHourly && (*fringe)[1] == 0);
    // 6, 7. The formula.
    DropFormula(prm, kRec, "EFFID", method == kMethodFormula, 12319, "860/861", converting, messages);
    LookUpFormula(prm, kRec, "EFFID", converting, messages);
    // 8. What only an automatic fringe uses; a fringe on a WC table has no limit or period then.
    if (GetFlag(prm, kRec, "EFAUTO") == 0) {
        ResetField(prm, kRec, "EFFREQ", kEveryPayPeriod, Shown::Item, 12320, "Frequency", "862/863", converting,
                   messages);
        if ((*fringe)[2] == 1) {
            ResetField(prm, kRec, "EFLIMIT", 0, Shown::Cents, 12849, "Limit", "896/897", converting, messages);
            ResetField(prm, kRec, "EFPER", kNoPeriod, Shown::TightItem, 12849, "Period", "896/897", converting,
                       messages);
        }
    }
    // 9. Current totals, one note over both runs.
    ClearCurrentTotals(prm, kRec, {{"EFYFRG", "EFMFRG"}, {"EFYBAS", "EFMBAS"}}, m_allowTotals != 0, messages);
    return true;
}

}  // namespace dz::pr
