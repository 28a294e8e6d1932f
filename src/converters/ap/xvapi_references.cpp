#include "converters/ap/xvapi_references.h"

#include "convert/lookups.h"
#include "convert/record_fields.h"
#include "modules/entries.h"
#include "modules/module_objects.h"
#include "platform/datafile/xio.h"
#include "platform/import/xvl_case.h"
#include "platform/modlibs/gl_fiscal_entity.h"
#include "platform/suite/xk.h"

#include <cmath>

namespace dz::ap {

using namespace convert;

namespace {

constexpr uint16_t kNotOpen = 4;
constexpr const char* kCreatedTax = "XV Tax";

std::string Formatted(int format, const std::string& value) {
    std::string text = value;
    suite::xk_format_field(format, 0, text);
    return text;
}

std::string Section(int section, const std::string& account) {
    std::string text = account;
    suite::xk_get_section(suite::kGlAccountFormat, false, section, text);
    return text;
}

// The level of the GL prefix that governs `account`: 1 none, 2 prefix A, 3 prefix AB, 4 prefix
// ABC; 0 when the GL fiscal entity cannot tell.
uint16_t PrefixLevel(uint16_t glm, const std::string& account) {
    modlibs::GlFiscalEntity* entity = nullptr;
    if (modules::CallModuleFunction(modules::glFiscalEntityObjectID, modules::glInterfaceID(2), &entity) !=
            modules::kModuleCallOk ||
        !entity)
        return 0;
    const uint16_t level = entity->SelectAccount(glm, account, 0) ? entity->PrefixLevel() : 0;
    entity->Release();
    return level;
}

// The AP bank the GL settings or the account's prefix record name.
std::string GlBank(uint16_t glm, const std::string& account) {
    switch (PrefixLevel(glm, account)) {
    case modlibs::kEntityCompany: {
        if (modules::GL_RD_HEADER(glm, 1, 0) != XIO_OK) return {};
        std::string bank = GetText(glm, HeaderFieldNo(glm, 1, "APBNK"));
        xio_free_header(glm, 1);
        return bank;
    }
    case modlibs::kEntityPrefixA:
        return ReadByKeys(glm, 3, {{"PAPRFX", Section(suite::kGlPrefixA, account)}}) ? GetText(glm, 3, "PAAPBNK")
                                                                                      : std::string();
    case modlibs::kEntityPrefixB:
        return ReadByKeys(glm, 4, {{"PBPRFX", Section(suite::kGlPrefixAB, account)}}) ? GetText(glm, 4, "PBAPBNK")
                                                                                       : std::string();
    case modlibs::kEntityPrefixC:
        return ReadByKeys(glm, 5, {{"PCPRFX", Section(suite::kGlPrefixABC, account)}}) ? GetText(glm, 5, "PCAPBNK")
                                                                                        : std::string();
    default: return {};
    }
}

class References {
public:
    References(xvAPI& conv, modlibs::DistImage& dist, const xvAPI::GroupCallbackContext& group, std::string& reason)
        : conv_(conv), dist_(dist), group_(group), reason_(reason), open_(dist.status != kNotOpen) {}

    bool Bank();
    bool JobCost();
    bool Accounts();
    bool Commitment();
    bool TaxGroup();

private:
    void Warn(std::string text) { group_.messages->push_back(std::move(text)); }
    bool Reject(std::string text) {
        reason_ = std::move(text);
        return false;
    }
    // A reference not on file: a warning (`warn`) on a distribution that is not open, else the
    // group's rejection (`reject`).
    bool NotFound(int warn, int reject, const std::string& field, const std::string& value) {
        if (open_) return Reject(Msg(reject, Seq(), field, value));
        Warn(Msg(warn, Seq(), field, value));
        return true;
    }
    bool CreateTaxGroup();
    // The distribution's sequence as the messages show it (made only for a message).
    std::string Seq() const { return FormatInt("%d", static_cast<int16_t>(dist_.distSequence)); }

    xvAPI& conv_;
    modlibs::DistImage& dist_;
    const xvAPI::GroupCallbackContext& group_;
    std::string& reason_;
    const bool open_;
};

bool References::Bank() {
    std::string& bank = dist_.bank;
    if (conv_.BNKMTHD != 2) {
        // Banks are the operator's to choose when checks are written.
        if (IsBlank(bank)) return true;
        if (open_)
            Warn(Msg(12738, Seq(), bank, ModeWord("was/will be", group_.converting),
                     group_.converting ? "1671" : "1672"));
        bank.clear();
        return true;
    }
    if (!IsBlank(bank)) {
        if (open_ && !Exists(group_.cmm, 1, {{"BANKACC", bank}})) return Reject(Msg(12694, bank, TermCap(8)));
        return true;
    }
    if (group_.jcm && open_ && !IsBlank(dist_.job) && ReadByKeys(group_.jcm, 1, {{"JOB", dist_.job}}))
        bank = GetText(group_.jcm, 1, "JAPBANK");
    if (IsBlank(bank) && group_.glm && open_) bank = GlBank(group_.glm, dist_.expenseAccount);
    if (IsBlank(bank)) bank = conv_.DFLTBNK;
    if (IsBlank(bank) && open_) return Reject(Msg(12739, TermCap(8)));
    return true;
}

bool References::JobCost() {
    if (!group_.jcm || IsBlank(dist_.job)) return true;
    const std::string job = Formatted(suite::kJobFormat, dist_.job);
    const std::string costCode = Formatted(suite::kPhaseFormat, dist_.costCode);
    if (conv_.categoriesUsed) {
        if (Exists(group_.jcm, 4,
                   {{"CJOB", dist_.job}, {"CEXTRA", dist_.extra}, {"CPHASE", dist_.costCode}, {"CAT", dist_.category}}))
            return true;
        return NotFound(12720, 12744, TermCap(12),
                        job + ", " + dist_.extra + ", " + costCode + ", " + dist_.category);
    }
    if (Exists(group_.jcm, 3, {{"PJOB", dist_.job}, {"PEXTRA", dist_.extra}, {"PHASE", dist_.costCode}}))
        return true;
    return NotFound(12720, 12744, TermCap(18), job + ", " + dist_.extra + ", " + costCode);
}

bool References::Accounts() {
    if (!group_.glm) return true;
    // The field names follow a term when it is given (made only for a message).
    const struct {
        const std::string* account;
        int term;
        const char* field;
    } accounts[] = {
        {&dist_.expenseAccount, 0, "Expense account"},
        {&dist_.payableAccount, 0, "Accts payable acct"},
        {&dist_.payable64Account, 64, " payable acct"},
        {&dist_.credit63Account, 63, " credit acct"},
    };
    for (const auto& [account, term, field] : accounts) {
        if (IsBlank(*account) || conv_.GlAccountOnFile(group_.glm, *account)) continue;
        const std::string name = term != 0 ? TermCap(term) + field : std::string(field);
        if (!NotFound(12734, 12745, name, FormatAccount(*account, suite::kGlWhole))) return false;
    }
    return true;
}

bool References::Commitment() {
    if (!group_.jcm || IsBlank(dist_.commitment)) return true;
    const uint16_t jcm = group_.jcm;
    const std::string item = FormatNumber("%.0f", dist_.commitmentItem);
    xio_init_record(jcm, 13);
    PutText(jcm, 13, "ISUB", dist_.commitment);
    PutNumber(jcm, 13, "ITEM", dist_.commitmentItem);
    if (xio_rd_record(jcm, 13, 0, 0) != XIO_OK)
        return NotFound(12720, 12744, TermCap(20) + " line item", dist_.commitment + ", " + item);

    const std::string itemJob = GetText(jcm, 13, "IJOB"), itemExtra = GetText(jcm, 13, "IEXTRA");
    const std::string itemCostCode = GetText(jcm, 13, "IPHASE"), itemCategory = GetText(jcm, 13, "ICAT");
    const double itemUnitCost = GetNumber(jcm, 13, "IUNTCST");
    if (xvl::equalNoCase(itemJob, dist_.job) && xvl::equalNoCase(itemExtra, dist_.extra) &&
        xvl::equalNoCase(itemCostCode, dist_.costCode) && xvl::equalNoCase(itemCategory, dist_.category) &&
        SameUnitCost(dist_.unitCost, itemUnitCost))
        return true;
    const std::string given = dist_.commitment + ", " + item + ", " + dist_.job + ", " + dist_.extra + ", " +
                              dist_.costCode + ", " + dist_.category + ", " +
                              FormatNumber("%.4f", dist_.unitCost / 100'000'000.0);
    const std::string onFile = dist_.commitment + ", " + item + ", " + itemJob + ", " + itemExtra + ", " +
                               itemCostCode + ", " + itemCategory + ", " +
                               FormatNumber("%.4f", itemUnitCost / 10'000.0);
    if (open_) return Reject(Msg(12746, Term(20), given, onFile));
    Warn(Msg(12743, Term(20), given, onFile));
    return true;
}

bool References::TaxGroup() {
    const uint16_t txm = group_.txm;
    if (!txm || IsBlank(dist_.taxGroup)) return true;
    if (ReadByKeys(txm, 2, {{"GROUP", dist_.taxGroup}})) {
        for (int k = 1; k <= 9; ++k)
            if (!IsBlank(GetText(txm, 2, ("GTAX" + std::to_string(k)).c_str()))) return true;
        return Reject(Msg(12721, Seq(), dist_.taxGroup));
    }
    if (group_.pass1) return true;
    conv_.taxGroupList.push_back(dist_.taxGroup);
    return !group_.converting || CreateTaxGroup();
}

bool References::CreateTaxGroup() {
    const uint16_t txm = group_.txm;
    if (!ReadByKeys(txm, 1, {{"TAX", kCreatedTax}})) {
        PutText(txm, 1, "TDESC", "Created during conversion");
        if (conv_.TAXUSE == 3) {
            std::string account = dist_.payableAccount;
            if (suite::xk_prefixed(suite::kGlAccountFormat)) account = Section(suite::kGlBaseAccount, account);
            PutText(txm, 1, "TCACCT", account);
        }
        if (const int status = xio_wr_record(txm, 1); status != XIO_OK)
            return Reject(Msg(status == XIO_DISK_FULL ? 12013 : 12011));  // a full disk is said as such
    }
    const std::string tax = GetText(txm, 1, "TAX");
    const double rate = GetNumber(txm, 1, "TRATE");
    const std::string debit = GetText(txm, 1, "TDACCT"), credit = GetText(txm, 1, "TCACCT");
    const std::string liabilityDebit = GetText(txm, 1, "TRDACCT"), liabilityCredit = GetText(txm, 1, "TRCACCT");
    const uint16_t notCost = GetFlag(txm, 1, "TNOCOST");
    xio_init_record(txm, 2);
    PutText(txm, 2, "GROUP", dist_.taxGroup);
    PutNumber(txm, 2, "GRATE", rate);
    PutText(txm, 2, "GTAX1", tax);
    PutNumber(txm, 2, "GTAX1RT", rate);
    PutText(txm, 2, "GTAX1DA", debit);
    PutText(txm, 2, "GTAX1CA", credit);
    PutText(txm, 2, "GTAX1RD", liabilityDebit);
    PutText(txm, 2, "GTAX1RC", liabilityCredit);
    PutFlag(txm, 2, "GTAX1NC", notCost);
    if (const int status = xio_wr_record(txm, 2); status != XIO_OK)
        return Reject(Msg(status == XIO_DISK_FULL ? 12013 : 12011));
    return true;
}

}  // namespace

bool SameUnitCost(double distUnitCost, double itemUnitCost) {
    return std::llround(distUnitCost / 10'000.0) == std::llround(itemUnitCost);
}

bool CheckDistributionReferences(xvAPI& converter, modlibs::DistImage& dist, const xvAPI::GroupCallbackContext& group,
                                 std::string& reason) {
    References refs(converter, dist, group, reason);
    return refs.Bank() && refs.JobCost() && refs.Accounts() && refs.Commitment() && refs.TaxGroup();
}

}  // namespace dz::ap
