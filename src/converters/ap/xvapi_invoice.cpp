// The Invoice record: its key, an existing invoice a payments-only file pays, duplicates (rejected,
// or renumbered in duplicate-invoice mode 2), the accounting date, and the fields the conversion
// sets or cannot convert.
#include "converters/ap/xvapi.h"

#include "convert/lookups.h"
#include "convert/record_fields.h"
#include "modules/entries.h"
#include "platform/datafile/xio.h"
#include "platform/import/xvl_case.h"
#include "platform/import/xvl_import.h"
#include "platform/suite/xd.h"
#include "platform/suite/xk.h"

#include <algorithm>

namespace dz::ap {

using namespace convert;

namespace {

constexpr double kSummaryVendor = 4;
constexpr int kInvoiceFormat = 3;
constexpr std::size_t kBatchMax = 10;

std::string Pair(const std::string& a, const std::string& b) { return a + ", " + b; }

// Whether the invoice file `file` (new or history invoices; none when 0) holds an invoice with
// `inv`'s vendor and number. A look-up by the primary key reads no other field of the buffer,
// so the invoice record, some sixty fields wide, is not cleared before each one: only the two
// key fields are put.
bool InvoiceFileHas(uint16_t file, const modlibs::InvoiceImage& inv) {
    if (file == 0) return false;
    PutText(file, FieldNo(file, kRecInvoice, "OIVND"), inv.vendor);
    PutText(file, FieldNo(file, kRecInvoice, "OIINV"), inv.invoice);
    return xio_find_record(file, kRecInvoice, 0) == XIO_OK;
}

}  // namespace

std::string FindNewInvoiceNumber(const std::string& invoice, int width,
                                 const std::function<bool(const std::string&)>& isFree, int& from) {
    if (width < 4 || width > 15) width = 15;
    auto cut = [&](int room) { return invoice.substr(0, static_cast<std::size_t>(std::max(room, 0))); };
    constexpr int kLetters = 26, kShort = 999, kCandidates = kLetters + kShort + 9000;
    for (from = std::max(from, 0); from < kCandidates; ++from) {
        std::string candidate;
        if (from < kLetters)
            candidate = cut(width - 2) + "-" + static_cast<char>('a' + from);
        else if (from < kLetters + kShort)
            candidate = cut(width - 4) + "-" + std::to_string(from - kLetters + 1);
        else
            candidate = cut(width - 5) + "-" + std::to_string(from - kLetters - kShort + 1000);
        if (isFree(candidate)) return candidate;
    }
    return {};
}

std::string FindNewInvoiceNumber(const std::string& invoice, int width,
                                 const std::function<bool(const std::string&)>& isFree) {
    int from = 0;
    return FindNewInvoiceNumber(invoice, width, isFree, from);
}

std::string xvAPI::InvoiceMapKey(uint16_t apm) {
    std::string key;
    RecordIdText(apm, key, kRecInvoice);
    std::transform(key.begin(), key.end(), key.begin(), xvl::foldAscii);
    return key;
}

uint16_t xvAPI::FindDuplicate(GroupCallbackContext& group, bool withTextFile) {
    const uint16_t apm = group.apm;
    if (modules::AP_PUT_ORIGINAL_INV(apm, &invoiceImage, 1, 0) == 0 &&
        xio_find_record(apm, kRecInvoice, 0) == XIO_OK)
        return kInApMaster;
    if (InvoiceFileHas(group.newInvoices, invoiceImage)) return kInNewInvoices;
    if (InvoiceFileHas(group.historyInvoices, invoiceImage)) return kInHistory;
    if (withTextFile && !invoiceMap.empty() && invoiceMap.contains(InvoiceMapKey(apm))) return kInTextFile;
    return kNoDuplicate;
}

bool xvAPI::ConvertInvoice(xvl::xvlImpInfo& info, std::string& reason, GroupCallbackContext& group) {
    const uint16_t apm = group.apm;
    const bool converting = group.converting;
    const RecordWording w{reason, converting};
    modlibs::InvoiceImage& inv = invoiceImage;

    modules::AP_GET_ORIGINAL_INV(apm, &inv, 0, 0);
    inv.newInvoice = 1;
    groupInvoiceId = inv.invoice;
    invoiceRead = true;

    // 2. The key; the vendor (one not on file is reported when the invoice is completed).
    if (IsBlank(inv.vendor)) return w.Reject(Msg(12688));
    if (IsBlank(inv.invoice)) return w.Reject(Msg(12689, inv.vendor));
    vendorImage = BlankVendor();
    ReadVendor(apm, inv.vendor, vendorImage);
    const bool vendorFound = !IsBlank(vendorImage.vendor);

    // 3. A file of payments only pays invoices on file: reload the invoice and its distributions.
    if (!shape.hasDistributions) {
        if (modules::AP_PUT_ORIGINAL_INV(apm, &inv, 1, 0) != 0 || xio_rd_record(apm, kRecInvoice, 0, 0) != XIO_OK)
            return w.Reject(Msg(12698, Pair(inv.vendor, inv.invoice)));
        modules::AP_GET_ORIGINAL_INV(apm, &inv, 0, 0);
        inv.newInvoice = 0;
        modlibs::DistImage key;
        key.vendor = inv.vendor;
        key.invoice = inv.invoice;
        if (modules::AP_PUT_ORIGINAL_DST(apm, nullptr, &key, 1, 0, 0) == 0 &&
            xio_rd_ge(apm, kRecDistribution, 0, 0) == XIO_OK) {
            for (;;) {
                modlibs::DistImage dist;
                modules::AP_GET_ORIGINAL_DST(apm, &dist, 0, 0, 0);
                if (!xvl::equalNoCase(dist.vendor, inv.vendor) || !xvl::equalNoCase(dist.invoice, inv.invoice)) break;
                DistributionMap.emplace(dist.distSequence, std::move(dist));
                if (xio_rd_next(apm, kRecDistribution, 0, 0) != XIO_OK) break;
            }
        }
        groupInvoiceId = inv.invoice;
        return true;
    }

    // 4. Duplicates. Mode 2 (0 counts as 1) renumbers them when the file has payments too.
    if (dupInvoiceMode == 2 && !shape.oneDistributionKind) {
        duplicateCode = FindDuplicate(group, true);
        if (duplicateCode != kNoDuplicate) {
            const uint16_t keep = duplicateCode;
            // A number found taken stays taken for the rest of the pass (every invoice met is
            // kept in the invoice map), so the next duplicate of this vendor and number goes on
            // from the last one given instead of trying again every number before it.
            int& from = renumberFrom[inv.vendor + '\t' + groupInvoiceId];
            const std::string fresh = FindNewInvoiceNumber(
                groupInvoiceId, suite::xk_width(kInvoiceFormat, 0),
                [&](const std::string& candidate) {
                    inv.invoice = candidate;
                    return FindDuplicate(group, true) == kNoDuplicate;
                },
                from);
            duplicateCode = keep;
            if (fresh.empty()) {
                inv.invoice = groupInvoiceId;
                return w.Reject(Msg(12691, Pair(inv.vendor, groupInvoiceId)));
            }
            inv.invoice = fresh;
            renamed = true;
            Note(group, info,
                 duplicateCode == kInTextFile
                     ? Msg(12754, groupInvoiceId, w.Was(), fresh, w.Number("1689/1690"))
                     : Msg(12695, groupInvoiceId, w.Was(), fresh, w.Number("1611/1612")));
            if (modules::AP_PUT_ORIGINAL_INV(apm, &inv, 1, 0) != 0) return w.Reject(Msg(12011));
        }
        invoiceMap.insert(InvoiceMapKey(apm));
    } else {
        // Repeats within the text file are the cross-reference's.
        duplicateCode = FindDuplicate(group, false);
        if (duplicateCode != kNoDuplicate) {
            const char* where = duplicateCode == kInApMaster ? "AP Master"
                                : duplicateCode == kInHistory ? "history invoice"
                                                              : "new invoice";
            return w.Reject(Msg(12696, Pair(inv.vendor, groupInvoiceId), where));
        }
    }

    // 5, 6. The accounting date, from the invoice date or the date received; the other way back.
    if (IsUnsetDate(inv.accountingDate)) {
        if (ACCDTU == 1) inv.accountingDate = inv.invoiceDate;
        if (ACCDTU == 2) inv.accountingDate = inv.dateReceived;
    }
    if (IsUnsetDate(inv.accountingDate)) {
        const char* also = ACCDTU == 1 ? " or an Invoice date" : ACCDTU == 2 ? " or a Date received" : "";
        return w.Reject(Msg(12697, groupInvoiceId, also));
    }
    if (ACCDTU == 1 && IsUnsetDate(inv.invoiceDate)) inv.invoiceDate = inv.accountingDate;
    if (ACCDTU == 2 && IsUnsetDate(inv.dateReceived)) inv.dateReceived = inv.accountingDate;

    // 7. What the conversion sets itself.
    auto setByConversion = [&](const std::string& field, const std::string& value) {
        Note(group, info, Msg(12706, field, value, w.Was(), w.Number("1626/1627")));
    };
    if (inv.run != 0) setByConversion("Run number", FormatNumber("%.0f", inv.run));
    inv.run = apmRun;
    if (inv.sequence != 0) setByConversion("Sequence number", FormatNumber("%.0f", inv.sequence));
    inv.sequence = ++apmSequence;
    if (!IsBlank(inv.application)) setByConversion("Application of origin", inv.application);
    inv.application = "XV";
    if (!IsBlank(inv.batch)) setByConversion(TermCap(1), inv.batch);
    inv.batch = batchText.substr(0, kBatchMax);
    if (inv.source != 0 && inv.source != 1)
        setByConversion("Source", ChoiceText(apm, FieldNo(apm, kRecInvoice, "OISRC"), inv.source, true));
    inv.source = 1;

    // 8, 12. What cannot be converted.
    auto unconvertible = [&](const std::string& field, const std::string& value) {
        Note(group, info, Msg(12707, field, value, w.Was(), w.Number("1628/1629")));
    };
    if (!IsBlank(inv.dpLocation)) unconvertible("DP Location", inv.dpLocation), inv.dpLocation.clear();
    if (!IsBlank(inv.dpMapId)) unconvertible("DP Map ID", inv.dpMapId), inv.dpMapId.clear();
    if (inv.pending != 0) unconvertible("Pending invoice", "Yes"), inv.pending = 0;
    if (!IsBlank(inv.reference)) unconvertible(TermCap(527), inv.reference), inv.reference.clear();
    if (!IsUnsetDate(inv.dueBackDate))
        unconvertible("Due back date", suite::xd_alpha_date(inv.dueBackDate)), inv.dueBackDate = {};
    if (inv.completed != 0) unconvertible("Completed invoice", "Yes"), inv.completed = 0;
    if (inv.skipVerifications != 0) unconvertible("Skip amount verifications", "Yes"), inv.skipVerifications = 0;

    // 9. Invoice codes not in use.
    auto unusedCode = [&](uint16_t used, int term, std::string& code) {
        if (used != 0 || IsBlank(code)) return;
        Note(group, info, Msg(12708, TermCap(term), code, w.Was(), w.Number("1630/1631")));
        code.clear();
    };
    unusedCode(USEICD1, 61, inv.invoiceCode1);
    unusedCode(USEICD2, 62, inv.invoiceCode2);

    // 10. The GL journal.
    if (inv.glJournal == 0) inv.glJournal = GLOJRN;

    // 11. The summary payee belongs to summary vendors.
    if (vendorFound) {
        if (vendorImage.type == kSummaryVendor) {
            if (IsBlank(inv.payeeName)) return w.Reject(Msg(12709, inv.vendor));
        } else if (!IsBlank(inv.payeeName)) {
            return w.Reject(Msg(12755, inv.vendor, inv.payeeName));
        } else {
            const std::pair<const char*, std::string*> address[] = {
                {"Payee add 1", &inv.payeeAddress1}, {"Payee add 2", &inv.payeeAddress2},
                {"Payee city", &inv.payeeCity},      {"Payee state", &inv.payeeState},
                {"Payee zip", &inv.payeeZip}};
            for (const auto& [field, value] : address) {
                if (IsBlank(*value)) continue;
                Note(group, info, Msg(12710, field, *value, w.Was(), w.Number("1633/1634")));
                for (const auto& [unused, other] : address) other->clear();
                inv.payeeName.clear();
                break;
            }
        }
    }

    if (inv.invoiceDay != 0) unconvertible("Invoice day", FormatNumber("%.0f", inv.invoiceDay)), inv.invoiceDay = 0;
    if (!IsUnsetDate(inv.generateDate))
        unconvertible("Generate date", suite::xd_alpha_date(inv.generateDate)), inv.generateDate = {};

    // 13. Payment fields.
    std::string field, value;
    if (inv.included != 0) field = "Included for pmt", value = "TRUE";
    else if (inv.paymentAmount != 0) field = "Payment amount", value = Amount(inv.paymentAmount);
    else if (inv.paymentToPay != 0) field = "Pmt " + Term(64) + " to pay", value = Amount(inv.paymentToPay);
    else if (inv.paymentDiscount != 0) field = "Pmt disc to apply", value = Amount(inv.paymentDiscount);
    else if (inv.paymentToHold != 0) field = "Pmt " + Term(64) + " to hold", value = Amount(inv.paymentToHold);
    else if (inv.paymentToDeduct != 0) field = "Pmt " + Term(63) + " to deduct", value = Amount(inv.paymentToDeduct);
    else if (!IsBlank(inv.paymentMemo)) field = "Payment memo", value = inv.paymentMemo;
    if (!field.empty()) {
        Note(group, info, Msg(12711, field, value, w.Were(), w.Number("1635/1636")));
        inv.included = 0;
        inv.paymentAmount = inv.paymentToPay = inv.paymentDiscount = inv.paymentToHold = inv.paymentToDeduct = 0;
        inv.paymentMemo.clear();
    }
    return true;
}

}  // namespace dz::ap
