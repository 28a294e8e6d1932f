// The function type of every module-library entry that the program binds. A library registers
// its implementation under the entry's export name; the entry thunk casts the bound address
// back to the same type, so both sides must use these declarations.
#pragma once

#include <cstdint>
#include <string>

#include "platform/datafile/x_value.h"
#include "platform/modlibs/ap_images.h"

namespace dz::modlibs::entry {

// ---- GL -----------------------------------------------------------------------------------
// Reads header `header` of the GL master file `glm` (held when `lock` is 1). 0 when read.
using GL_RD_HEADER = int(uint16_t glm, uint16_t header, uint16_t lock);

// ---- PR -----------------------------------------------------------------------------------
// Request to open the payroll system file SYSTEM.PRS.
struct PrOpenRequest {
    uint16_t command = 0;  // the asking task's command id
    uint16_t mode = 0;     // 1: open for the table editor and prefill
    int16_t handle = 0;    // out: the open file's handle when the call answers 0
};
using PR_OPEN_SYSTEM_FILE = int(PrOpenRequest& request, uint16_t flag1, uint16_t flag2);

// Record pickers over the payroll system file `prs`: nonzero when the person picked a record,
// whose code is then in `picked`.
using PR_LIST = int(uint16_t command, uint16_t prs, std::string& picked);
// Classes, narrowed by union and local when those are not empty.
using PR_LIST_UCLASS = int(uint16_t command, uint16_t prs, const std::string& unionCode,
                           const std::string& local, std::string& picked);
// Locals of one union (at most 10 characters).
using PR_LIST_LOCALS = int(uint16_t command, uint16_t prs, const std::string& unionCode, std::string& picked);

// ---- JC -----------------------------------------------------------------------------------
// The data-file field number of the field with JC index `index` in record `record` of the JC
// master file `jcm` (`kind` is 2, a record); 0 when no field of that record has the index.
using JCM_NUM = uint16_t(uint16_t jcm, uint16_t kind, uint16_t record, uint16_t index);
// Nonzero when `costCode` (key format `keyType`, 18) is a group cost code; `level` receives the
// number of its leading non-zero sections.
using JC_GROUP_PHASE = int(const std::string& costCode, uint16_t keyType, uint16_t* level);
// The JC date context of a JC master file: the dates that bound the accounting dates of
// transactions. A date whose month is 0 is unset.
struct JCDateContext {
    x_date_type periodEnd;           // JC setting CPEDATE: the current period's end
    x_date_type lastAccountingDate;  // JC setting CLACTDT: no accounting date after it
};
// Sets up the date context of `jcm` in *slot (0), or leaves *slot null and answers 1 when the
// JC settings cannot be read.
using JC_INIT_DATE = int(JCDateContext** slot, uint16_t command, uint16_t jcm);
// Releases the context in *slot and nulls the slot.
using JC_FREE_DATE = int(JCDateContext** slot);
// Writes into `taxGroup` the job's tax group for the cost type of this cost: the category's type
// when a category is given and on file, else the cost code's. Leaves it unchanged (blank) when
// the job, the cost code or category, or the type is missing. 1 when a group was written.
using JC_GET_COST_TAX_GROUP = int(uint16_t jcm, const std::string& commitment, uint16_t item, const std::string& job,
                                  const std::string& extra, const std::string& costCode, const std::string& category,
                                  std::string& taxGroup);

// ---- AP -----------------------------------------------------------------------------------
// The record images are those of ap_images.h. A get fills the image from the record buffer of
// the AP master file `apm` (its record type: vendor 9, invoice 1, distribution 2, tax 3, check
// 4, paid distribution 6); a put places the image (with `keyOnly` 1 its key fields alone) into
// that buffer. 0 done; non-zero, with nothing changed, when `apm` is not an open AP master file
// or its dictionary lacks the record or one of its fields. The unnamed words are 0.
using AP_GET_VENDOR = int(uint16_t apm, VendorImage* vendor, uint16_t, uint16_t);
using AP_PUT_VENDOR = int(uint16_t apm, const VendorImage* vendor, uint16_t, uint16_t);
using AP_GET_ORIGINAL_INV = int(uint16_t apm, InvoiceImage* invoice, uint16_t, uint16_t);
using AP_PUT_ORIGINAL_INV = int(uint16_t apm, const InvoiceImage* invoice, uint16_t keyOnly, uint16_t);
using AP_GET_ORIGINAL_DST = int(uint16_t apm, DistImage* dist, uint16_t, uint16_t, uint16_t);
using AP_PUT_ORIGINAL_DST = int(uint16_t apm, const void* unused, const DistImage* dist, uint16_t keyOnly, uint16_t,
                                uint16_t);
using AP_GET_ORIGINAL_TAX = int(uint16_t apm, TaxEntry* tax, uint16_t);
using AP_PUT_ORIGINAL_TAX = int(uint16_t apm, const void* unused1, const void* unused2, const TaxEntry* tax,
                                uint16_t keyOnly);
using AP_GET_CHECK = int(uint16_t apm, CheckImage* check, uint16_t);
using AP_PUT_CHECK_OLD = int(uint16_t apm, const CheckImage* check, uint16_t keyOnly);
using AP_PUT_PAID_INV = int(uint16_t apm, const PaidInvoiceImage* paid, uint16_t, uint16_t);
using AP_GET_PAID_DST = int(uint16_t apm, PaidDistImage* paid, uint16_t);
using AP_PUT_PAID_DST = int(uint16_t apm, const void* unused, const PaidDistImage* paid, uint16_t);
using AP_PUT_PAID_TAX = int(uint16_t apm, const void* unused, const PaidTaxEntry* tax, uint16_t);
// Places the posting record into record type 1 of the AP transaction file `apt`.
using AP_PUT_TRANSACTION = int(uint16_t apt, const PostingRecord* posting, uint16_t, uint16_t);
// The status word of an invoice (or, when `invoice` is null, of a distribution): bit 0
// (kApStatusOpen) set when its amount less its amount paid, in whole cents, is not 0.
using AP_ORIG_STATUS = uint16_t(const InvoiceImage* invoice, const DistImage* dist);
// The GL prefix of `account` by its fiscal entity in the GL master `glm`, and the account
// format section that holds it (1 prefix A, 9 prefix AB, 10 prefix ABC). A company-level
// entity, an unknown account or no GL master give prefix A (section 1). 0 when a prefix was
// formed.
using AP_GET_FISCAL_PREFIX = int(uint16_t glm, const std::string& account, std::string& prefix, int32_t& section);
// The prefix totals level (FLEVEL) of a section: 1 gives 2, 9 gives 3, 10 gives 4, else 2.
using AP_SECTION_TO_KEY = uint16_t(int32_t section);
// Empties both lists (either may be null).
using AP_FREE_TAXES = int(std::list<TaxEntry>* taxes, std::list<PaidTaxEntry>* paidTaxes);

// ---- Entries bound for their binding rule; their modules' converters give them callers ----
// Output text first emptied by the thunk; 1 when the library lacks the entry.
using JC_GET_COST_ACCOUNT = int(uint16_t jcm, std::string& account, const std::string& costCode);
// The invoice text travels by value; 2 when the library lacks the entry.
using AR_DUPLICATE_INVOICE = uint16_t(uint16_t arm, uint16_t art, const std::string& customer, std::string invoice);

}  // namespace dz::modlibs::entry
