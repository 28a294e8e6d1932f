// Entry thunks: one function per module-library entry, named after the entry. Each binds its
// entry by name on first use and from then on passes calls straight through; when the module
// library lacks the entry, it answers the entry's fixed fallback result instead.
#pragma once

#include <cstdint>
#include <string>

#include "platform/modlibs/entry_types.h"
#include "platform/modlibs/jc_interfaces.h"

namespace dz::modules {

using modlibs::entry::PrOpenRequest;

// Slots of the entry tables. A slot is an entry's for good; new entries take new numbers.
enum GLSlot : uint16_t { kSlot_GL_RD_HEADER = 0 };
enum PRSlot : uint16_t {
    kSlot_PR_OPEN_SYSTEM_FILE = 0,
    kSlot_PR_LIST_DEDIDS = 1,
    kSlot_PR_LIST_DEPTS = 2,
    kSlot_PR_LIST_FRINGES = 3,
    kSlot_PR_LIST_LOCALS = 4,
    kSlot_PR_LIST_PAYIDS = 5,
    kSlot_PR_LIST_UCLASS = 6,
    kSlot_PR_LIST_UNIONS = 7,
};
enum JCSlot : uint16_t {
    kSlot_JC_GET_COST_ACCOUNT = 0,
    kSlot_JCM_NUM = 1,
    kSlot_JC_GROUP_PHASE = 2,
    kSlot_JC_INIT_DATE = 3,
    kSlot_JC_FREE_DATE = 4,
    kSlot_JC_GET_COST_TAX_GROUP = 5,
    kSlot_x_jc_new_contract_info = 6,
    kSlot_x_jc_new_jcm_extra_interface = 7,
    kSlot_x_jc_new_jcm_job_interface = 8,
    kSlot_x_jc_new_send_to_billings = 9,
    kSlot_x_jc_new_valid_cat = 10,
    kSlot_x_jc_new_valid_commitment = 11,
    kSlot_x_jc_new_valid_commitment_item = 12,
    kSlot_x_jc_new_valid_extra = 13,
    kSlot_x_jc_new_valid_job = 14,
    kSlot_x_jc_new_valid_phase = 15,
    kSlot_x_jc_new_valid_sphase = 16,
};
enum ARSlot : uint16_t { kSlot_AR_DUPLICATE_INVOICE = 0 };
enum APSlot : uint16_t {
    kSlot_AP_GET_VENDOR = 0,
    kSlot_AP_PUT_VENDOR = 1,
    kSlot_AP_GET_ORIGINAL_INV = 2,
    kSlot_AP_PUT_ORIGINAL_INV = 3,
    kSlot_AP_GET_ORIGINAL_DST = 4,
    kSlot_AP_PUT_ORIGINAL_DST = 5,
    kSlot_AP_GET_ORIGINAL_TAX = 6,
    kSlot_AP_PUT_ORIGINAL_TAX = 7,
    kSlot_AP_GET_CHECK = 8,
    kSlot_AP_PUT_CHECK_OLD = 9,
    kSlot_AP_PUT_PAID_INV = 10,
    kSlot_AP_GET_PAID_DST = 11,
    kSlot_AP_PUT_PAID_DST = 12,
    kSlot_AP_PUT_PAID_TAX = 13,
    kSlot_AP_PUT_TRANSACTION = 14,
    kSlot_AP_ORIG_STATUS = 15,
    kSlot_AP_GET_FISCAL_PREFIX = 16,
    kSlot_AP_SECTION_TO_KEY = 17,
    kSlot_AP_FREE_TAXES = 18,
};

// GL (fallback 0)
int GL_RD_HEADER(uint16_t glm, uint16_t header, uint16_t lock);

// PR (fallback 0)
int PR_OPEN_SYSTEM_FILE(PrOpenRequest& request, uint16_t flag1, uint16_t flag2);
int PR_LIST_DEDIDS(uint16_t command, uint16_t prs, std::string& picked);
int PR_LIST_DEPTS(uint16_t command, uint16_t prs, std::string& picked);
int PR_LIST_FRINGES(uint16_t command, uint16_t prs, std::string& picked);
int PR_LIST_PAYIDS(uint16_t command, uint16_t prs, std::string& picked);
int PR_LIST_UNIONS(uint16_t command, uint16_t prs, std::string& picked);
int PR_LIST_UCLASS(uint16_t command, uint16_t prs, const std::string& unionCode, const std::string& local,
                   std::string& picked);
int PR_LIST_LOCALS(uint16_t command, uint16_t prs, const std::string& unionCode, std::string& picked);

// JC (fallback 1; the output text is emptied first)
int JC_GET_COST_ACCOUNT(uint16_t jcm, std::string& account, const std::string& costCode);
// JC job cost entries. JCM_NUM (fallback 0): field number by JC index. JC_GROUP_PHASE (fallback
// 1, level untouched). JC_INIT_DATE (fallback 1, the slot left as it was) and JC_FREE_DATE
// (fallback 0). JC_GET_COST_TAX_GROUP (fallback 0, the output untouched).
using modlibs::entry::JCDateContext;
uint16_t JCM_NUM(uint16_t jcm, uint16_t kind, uint16_t record, uint16_t index);
int JC_GROUP_PHASE(const std::string& costCode, uint16_t keyType, uint16_t* level);
int JC_INIT_DATE(JCDateContext** slot, uint16_t command, uint16_t jcm);
int JC_FREE_DATE(JCDateContext** slot);
int JC_GET_COST_TAX_GROUP(uint16_t jcm, const std::string& commitment, uint16_t item, const std::string& job,
                          const std::string& extra, const std::string& costCode, const std::string& category,
                          std::string& taxGroup);

// JC interface factories: the library's object, or else a new object of the class itself (whose
// operations have no effect); null only when no object can be allocated.
modlibs::IjcContractInfo* x_jc_new_contract_info();
modlibs::IjcmExtraTable* x_jc_new_jcm_extra_interface();
modlibs::IjcmJobTable* x_jc_new_jcm_job_interface();
modlibs::IjcSendToBillings* x_jc_new_send_to_billings();
modlibs::IjcValidCat* x_jc_new_valid_cat();
modlibs::IjcValidCommitment* x_jc_new_valid_commitment();
modlibs::IjcValidCommitmentItem* x_jc_new_valid_commitment_item();
modlibs::IjcValidExtra* x_jc_new_valid_extra();
modlibs::IjcValidJob* x_jc_new_valid_job();
modlibs::IjcValidPhase* x_jc_new_valid_phase();
modlibs::IjcValidSPhase* x_jc_new_valid_sphase();

// AP record images and helpers (fallback 1 for AP_SECTION_TO_KEY, 0 for the others: without
// the library nothing is read or placed, and every invoice and distribution counts as not open).
using modlibs::CheckImage;
using modlibs::DistImage;
using modlibs::InvoiceImage;
using modlibs::PaidDistImage;
using modlibs::PaidInvoiceImage;
using modlibs::PaidTaxEntry;
using modlibs::PostingRecord;
using modlibs::TaxEntry;
using modlibs::VendorImage;
int AP_GET_VENDOR(uint16_t apm, VendorImage* vendor, uint16_t a, uint16_t b);
[[nodiscard]] int AP_PUT_VENDOR(uint16_t apm, const VendorImage* vendor, uint16_t a, uint16_t b);
int AP_GET_ORIGINAL_INV(uint16_t apm, InvoiceImage* invoice, uint16_t a, uint16_t b);
[[nodiscard]] int AP_PUT_ORIGINAL_INV(uint16_t apm, const InvoiceImage* invoice, uint16_t keyOnly, uint16_t b);
int AP_GET_ORIGINAL_DST(uint16_t apm, DistImage* dist, uint16_t a, uint16_t b, uint16_t c);
[[nodiscard]] int AP_PUT_ORIGINAL_DST(uint16_t apm, const void* unused, const DistImage* dist, uint16_t keyOnly, uint16_t b, uint16_t c);
int AP_GET_ORIGINAL_TAX(uint16_t apm, TaxEntry* tax, uint16_t a);
[[nodiscard]] int AP_PUT_ORIGINAL_TAX(uint16_t apm, const void* unused1, const void* unused2, const TaxEntry* tax, uint16_t keyOnly);
int AP_GET_CHECK(uint16_t apm, CheckImage* check, uint16_t a);
[[nodiscard]] int AP_PUT_CHECK_OLD(uint16_t apm, const CheckImage* check, uint16_t keyOnly);
[[nodiscard]] int AP_PUT_PAID_INV(uint16_t apm, const PaidInvoiceImage* paid, uint16_t a, uint16_t b);
int AP_GET_PAID_DST(uint16_t apm, PaidDistImage* paid, uint16_t a);
[[nodiscard]] int AP_PUT_PAID_DST(uint16_t apm, const void* unused, const PaidDistImage* paid, uint16_t a);
[[nodiscard]] int AP_PUT_PAID_TAX(uint16_t apm, const void* unused, const PaidTaxEntry* tax, uint16_t a);
[[nodiscard]] int AP_PUT_TRANSACTION(uint16_t apt, const PostingRecord* posting, uint16_t a, uint16_t b);
uint16_t AP_ORIG_STATUS(const InvoiceImage* invoice, const DistImage* dist);
int AP_GET_FISCAL_PREFIX(uint16_t glm, const std::string& account, std::string& prefix, int32_t& section);
uint16_t AP_SECTION_TO_KEY(int32_t section);
int AP_FREE_TAXES(std::list<TaxEntry>* taxes, std::list<PaidTaxEntry>* paidTaxes);

// AR (fallback 2)
uint16_t AR_DUPLICATE_INVOICE(uint16_t arm, uint16_t art, const std::string& customer, std::string invoice);

}  // namespace dz::modules
