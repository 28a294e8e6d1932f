#include "modules/entries.h"

#include <new>
#include <utility>

#include "modules/module_dlls.h"

namespace dz::modules {

namespace e = modlibs::entry;

int GL_RD_HEADER(uint16_t glm, uint16_t header, uint16_t lock) {
    return CallEntry<e::GL_RD_HEADER>(GLModule(), kSlot_GL_RD_HEADER, "GL_RD_HEADER", 0, glm, header, lock);
}

int PR_OPEN_SYSTEM_FILE(PrOpenRequest& request, uint16_t flag1, uint16_t flag2) {
    return CallEntry<e::PR_OPEN_SYSTEM_FILE>(PRModule(), kSlot_PR_OPEN_SYSTEM_FILE, "PR_OPEN_SYSTEM_FILE", 0,
                                             request, flag1, flag2);
}

int PR_LIST_DEDIDS(uint16_t command, uint16_t prs, std::string& picked) {
    return CallEntry<e::PR_LIST>(PRModule(), kSlot_PR_LIST_DEDIDS, "PR_LIST_DEDIDS", 0, command, prs, picked);
}

int PR_LIST_DEPTS(uint16_t command, uint16_t prs, std::string& picked) {
    return CallEntry<e::PR_LIST>(PRModule(), kSlot_PR_LIST_DEPTS, "PR_LIST_DEPTS", 0, command, prs, picked);
}

int PR_LIST_FRINGES(uint16_t command, uint16_t prs, std::string& picked) {
    return CallEntry<e::PR_LIST>(PRModule(), kSlot_PR_LIST_FRINGES, "PR_LIST_FRINGES", 0, command, prs, picked);
}

int PR_LIST_PAYIDS(uint16_t command, uint16_t prs, std::string& picked) {
    return CallEntry<e::PR_LIST>(PRModule(), kSlot_PR_LIST_PAYIDS, "PR_LIST_PAYIDS", 0, command, prs, picked);
}

int PR_LIST_UNIONS(uint16_t command, uint16_t prs, std::string& picked) {
    return CallEntry<e::PR_LIST>(PRModule(), kSlot_PR_LIST_UNIONS, "PR_LIST_UNIONS", 0, command, prs, picked);
}

int PR_LIST_UCLASS(uint16_t command, uint16_t prs, const std::string& unionCode, const std::string& local,
                   std::string& picked) {
    return CallEntry<e::PR_LIST_UCLASS>(PRModule(), kSlot_PR_LIST_UCLASS, "PR_LIST_UCLASS", 0, command, prs,
                                        unionCode, local, picked);
}

int PR_LIST_LOCALS(uint16_t command, uint16_t prs, const std::string& unionCode, std::string& picked) {
    return CallEntry<e::PR_LIST_LOCALS>(PRModule(), kSlot_PR_LIST_LOCALS, "PR_LIST_LOCALS", 0, command, prs,
                                        unionCode, picked);
}

int JC_GET_COST_ACCOUNT(uint16_t jcm, std::string& account, const std::string& costCode) {
    account.clear();
    return CallEntry<e::JC_GET_COST_ACCOUNT>(JCModule(), kSlot_JC_GET_COST_ACCOUNT, "JC_GET_COST_ACCOUNT", 1, jcm,
                                             account, costCode);
}

uint16_t JCM_NUM(uint16_t jcm, uint16_t kind, uint16_t record, uint16_t index) {
    return CallEntry<e::JCM_NUM>(JCModule(), kSlot_JCM_NUM, "JCM_NUM", 0, jcm, kind, record, index);
}

int JC_GROUP_PHASE(const std::string& costCode, uint16_t keyType, uint16_t* level) {
    return CallEntry<e::JC_GROUP_PHASE>(JCModule(), kSlot_JC_GROUP_PHASE, "JC_GROUP_PHASE", 1, costCode, keyType,
                                        level);
}

int JC_INIT_DATE(JCDateContext** slot, uint16_t command, uint16_t jcm) {
    return CallEntry<e::JC_INIT_DATE>(JCModule(), kSlot_JC_INIT_DATE, "JC_INIT_DATE", 1, slot, command, jcm);
}

int JC_FREE_DATE(JCDateContext** slot) {
    return CallEntry<e::JC_FREE_DATE>(JCModule(), kSlot_JC_FREE_DATE, "JC_FREE_DATE", 0, slot);
}

int JC_GET_COST_TAX_GROUP(uint16_t jcm, const std::string& commitment, uint16_t item, const std::string& job,
                          const std::string& extra, const std::string& costCode, const std::string& category,
                          std::string& taxGroup) {
    return CallEntry<e::JC_GET_COST_TAX_GROUP>(JCModule(), kSlot_JC_GET_COST_TAX_GROUP, "JC_GET_COST_TAX_GROUP", 0,
                                               jcm, commitment, item, job, extra, costCode, category, taxGroup);
}

namespace {
// A JC factory thunk: the library's factory when it has one, else a default object.
template <typename I>
I* NewJcObject(uint16_t slot, const char* name) {
    if (modlibs::EntryFn address = JCModule().Bind(slot, name)) return reinterpret_cast<I* (*)()>(address)();
    return new (std::nothrow) I();
}
}  // namespace

modlibs::IjcContractInfo* x_jc_new_contract_info() {
    return NewJcObject<modlibs::IjcContractInfo>(kSlot_x_jc_new_contract_info, "x_jc_new_contract_info");
}
modlibs::IjcmExtraTable* x_jc_new_jcm_extra_interface() {
    return NewJcObject<modlibs::IjcmExtraTable>(kSlot_x_jc_new_jcm_extra_interface, "x_jc_new_jcm_extra_interface");
}
modlibs::IjcmJobTable* x_jc_new_jcm_job_interface() {
    return NewJcObject<modlibs::IjcmJobTable>(kSlot_x_jc_new_jcm_job_interface, "x_jc_new_jcm_job_interface");
}
modlibs::IjcSendToBillings* x_jc_new_send_to_billings() {
    return NewJcObject<modlibs::IjcSendToBillings>(kSlot_x_jc_new_send_to_billings, "x_jc_new_send_to_billings");
}
modlibs::IjcValidCat* x_jc_new_valid_cat() {
    return NewJcObject<modlibs::IjcValidCat>(kSlot_x_jc_new_valid_cat, "x_jc_new_valid_cat");
}
modlibs::IjcValidCommitment* x_jc_new_valid_commitment() {
    return NewJcObject<modlibs::IjcValidCommitment>(kSlot_x_jc_new_valid_commitment, "x_jc_new_valid_commitment");
}
modlibs::IjcValidCommitmentItem* x_jc_new_valid_commitment_item() {
    return NewJcObject<modlibs::IjcValidCommitmentItem>(kSlot_x_jc_new_valid_commitment_item,
                                                        "x_jc_new_valid_commitment_item");
}
modlibs::IjcValidExtra* x_jc_new_valid_extra() {
    return NewJcObject<modlibs::IjcValidExtra>(kSlot_x_jc_new_valid_extra, "x_jc_new_valid_extra");
}
modlibs::IjcValidJob* x_jc_new_valid_job() {
    return NewJcObject<modlibs::IjcValidJob>(kSlot_x_jc_new_valid_job, "x_jc_new_valid_job");
}
modlibs::IjcValidPhase* x_jc_new_valid_phase() {
    return NewJcObject<modlibs::IjcValidPhase>(kSlot_x_jc_new_valid_phase, "x_jc_new_valid_phase");
}
modlibs::IjcValidSPhase* x_jc_new_valid_sphase() {
    return NewJcObject<modlibs::IjcValidSPhase>(kSlot_x_jc_new_valid_sphase, "x_jc_new_valid_sphase");
}

int AP_GET_VENDOR(uint16_t apm, VendorImage* vendor, uint16_t a, uint16_t b) {
    return CallEntry<e::AP_GET_VENDOR>(APModule(), kSlot_AP_GET_VENDOR, "AP_GET_VENDOR", 0, apm, vendor, a, b);
}

int AP_PUT_VENDOR(uint16_t apm, const VendorImage* vendor, uint16_t a, uint16_t b) {
    return CallEntry<e::AP_PUT_VENDOR>(APModule(), kSlot_AP_PUT_VENDOR, "AP_PUT_VENDOR", 0, apm, vendor, a, b);
}

int AP_GET_ORIGINAL_INV(uint16_t apm, InvoiceImage* invoice, uint16_t a, uint16_t b) {
    return CallEntry<e::AP_GET_ORIGINAL_INV>(APModule(), kSlot_AP_GET_ORIGINAL_INV, "AP_GET_ORIGINAL_INV", 0, apm, invoice, a, b);
}

int AP_PUT_ORIGINAL_INV(uint16_t apm, const InvoiceImage* invoice, uint16_t keyOnly, uint16_t b) {
    return CallEntry<e::AP_PUT_ORIGINAL_INV>(APModule(), kSlot_AP_PUT_ORIGINAL_INV, "AP_PUT_ORIGINAL_INV", 0, apm, invoice, keyOnly, b);
}

int AP_GET_ORIGINAL_DST(uint16_t apm, DistImage* dist, uint16_t a, uint16_t b, uint16_t c) {
    return CallEntry<e::AP_GET_ORIGINAL_DST>(APModule(), kSlot_AP_GET_ORIGINAL_DST, "AP_GET_ORIGINAL_DST", 0, apm, dist, a, b, c);
}

int AP_PUT_ORIGINAL_DST(uint16_t apm, const void* unused, const DistImage* dist, uint16_t keyOnly, uint16_t b, uint16_t c) {
    return CallEntry<e::AP_PUT_ORIGINAL_DST>(APModule(), kSlot_AP_PUT_ORIGINAL_DST, "AP_PUT_ORIGINAL_DST", 0, apm, unused, dist, keyOnly, b, c);
}

int AP_GET_ORIGINAL_TAX(uint16_t apm, TaxEntry* tax, uint16_t a) {
    return CallEntry<e::AP_GET_ORIGINAL_TAX>(APModule(), kSlot_AP_GET_ORIGINAL_TAX, "AP_GET_ORIGINAL_TAX", 0, apm, tax, a);
}

int AP_PUT_ORIGINAL_TAX(uint16_t apm, const void* unused1, const void* unused2, const TaxEntry* tax, uint16_t keyOnly) {
    return CallEntry<e::AP_PUT_ORIGINAL_TAX>(APModule(), kSlot_AP_PUT_ORIGINAL_TAX, "AP_PUT_ORIGINAL_TAX", 0, apm, unused1, unused2, tax, keyOnly);
}

int AP_GET_CHECK(uint16_t apm, CheckImage* check, uint16_t a) {
    return CallEntry<e::AP_GET_CHECK>(APModule(), kSlot_AP_GET_CHECK, "AP_GET_CHECK", 0, apm, check, a);
}

int AP_PUT_CHECK_OLD(uint16_t apm, const CheckImage* check, uint16_t keyOnly) {
    return CallEntry<e::AP_PUT_CHECK_OLD>(APModule(), kSlot_AP_PUT_CHECK_OLD, "AP_PUT_CHECK_OLD", 0, apm, check, keyOnly);
}

int AP_PUT_PAID_INV(uint16_t apm, const PaidInvoiceImage* paid, uint16_t a, uint16_t b) {
    return CallEntry<e::AP_PUT_PAID_INV>(APModule(), kSlot_AP_PUT_PAID_INV, "AP_PUT_PAID_INV", 0, apm, paid, a, b);
}

int AP_GET_PAID_DST(uint16_t apm, PaidDistImage* paid, uint16_t a) {
    return CallEntry<e::AP_GET_PAID_DST>(APModule(), kSlot_AP_GET_PAID_DST, "AP_GET_PAID_DST", 0, apm, paid, a);
}

int AP_PUT_PAID_DST(uint16_t apm, const void* unused, const PaidDistImage* paid, uint16_t a) {
    return CallEntry<e::AP_PUT_PAID_DST>(APModule(), kSlot_AP_PUT_PAID_DST, "AP_PUT_PAID_DST", 0, apm, unused, paid, a);
}

int AP_PUT_PAID_TAX(uint16_t apm, const void* unused, const PaidTaxEntry* tax, uint16_t a) {
    return CallEntry<e::AP_PUT_PAID_TAX>(APModule(), kSlot_AP_PUT_PAID_TAX, "AP_PUT_PAID_TAX", 0, apm, unused, tax, a);
}

int AP_PUT_TRANSACTION(uint16_t apt, const PostingRecord* posting, uint16_t a, uint16_t b) {
    return CallEntry<e::AP_PUT_TRANSACTION>(APModule(), kSlot_AP_PUT_TRANSACTION, "AP_PUT_TRANSACTION", 0, apt, posting, a, b);
}

uint16_t AP_ORIG_STATUS(const InvoiceImage* invoice, const DistImage* dist) {
    return CallEntry<e::AP_ORIG_STATUS>(APModule(), kSlot_AP_ORIG_STATUS, "AP_ORIG_STATUS", 0, invoice, dist);
}

int AP_GET_FISCAL_PREFIX(uint16_t glm, const std::string& account, std::string& prefix, int32_t& section) {
    return CallEntry<e::AP_GET_FISCAL_PREFIX>(APModule(), kSlot_AP_GET_FISCAL_PREFIX, "AP_GET_FISCAL_PREFIX", 0, glm, account, prefix, section);
}

uint16_t AP_SECTION_TO_KEY(int32_t section) {
    return CallEntry<e::AP_SECTION_TO_KEY>(APModule(), kSlot_AP_SECTION_TO_KEY, "AP_SECTION_TO_KEY", 1, section);
}

int AP_FREE_TAXES(std::list<TaxEntry>* taxes, std::list<PaidTaxEntry>* paidTaxes) {
    return CallEntry<e::AP_FREE_TAXES>(APModule(), kSlot_AP_FREE_TAXES, "AP_FREE_TAXES", 0, taxes, paidTaxes);
}

uint16_t AR_DUPLICATE_INVOICE(uint16_t arm, uint16_t art, const std::string& customer, std::string invoice) {
    return CallEntry<e::AR_DUPLICATE_INVOICE>(ARModule(), kSlot_AR_DUPLICATE_INVOICE, "AR_DUPLICATE_INVOICE",
                                              2, arm, art, customer, std::move(invoice));
}

}  // namespace dz::modules
