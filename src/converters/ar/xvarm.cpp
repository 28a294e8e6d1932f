#include "converters/ar/xvarm.h"

#include "convert/lookups.h"
#include "convert/record_fields.h"

#include "convert/platform_links.h"
#include "convert/progress.h"
#include "convert/reports.h"
#include "convert/texts.h"
#include "platform/datafile/xio.h"
#include "platform/import/xvl_case.h"
#include "platform/import/xvl_import.h"
#include "platform/import/xvl_template.h"
#include "platform/suite/control.h"
#include "platform/suite/util.h"
#include "platform/suite/xk.h"
#include "platform/suite/zc.h"
#include "tables/substitution_set.h"

#include <algorithm>
#include <iterator>
#include <utility>

namespace dz::ar {

using namespace convert;

namespace {

constexpr const char* kConversionName = "ARM System and Master files";

void LoadList(int number, CustomList& list) {
    list = CustomList{};
    const std::string text = suite::xk_get_custom_list(number);
    if (text.empty()) return;
    list.entries = suite::cl_string_to_cListContainer(text);
    if (list.entries.empty()) return;
    list.first = list.entries.front();
    if (list.entries.size() > 1) list.entries.erase(list.entries.begin());
    list.emptyBecomes = list.first;
    for (const auto& e : list.entries) {
        if (xvl::equalNoCase(e, list.first)) {
            list.emptyBecomes = e;
            list.emptyBecomesListed = true;
            break;
        }
    }
}

// The list fields of each record and their custom lists, in the order they are checked.
struct ListField {
    std::size_t field;  // ContactField or CustomerField
    int list;
};
constexpr ListField kContactLists[] = {{kCoTypeA, 342}};
constexpr ListField kCustomerLists[] = {{kCTypeA, 345},  {kCTrade, 344},  {kCCrdRtg, 380}, {kCBFreqA, 377},
                                        {kCTxGrTB, 369}, {kCTxGrpL, 369}, {kCTxGrpM, 369}, {kCTxGrpS, 369},
                                        {kCTxGrpE, 369}, {kCTxGrpO, 369}, {kCTxGrpT, 369}};

}  // namespace

ConverterProfile xvARM::Profile() const {
    ConverterProfile p;
    p.abbreviation = "ARM";
    p.fileNo = 1;
    p.title = "AR System & Master Files";
    p.description = "AR Master file";
    p.convertingText = "Converting '%s' into AR System & Master Files";
    p.examiningText = "Examining '%s' for AR System & Master Files";
    p.progressEtc = true;
    convert::ConverterDataFile ars;
    ars.abbreviation = "ARS";
    ars.fileCode = 70;
    ars.description = "AR System file";
    convert::ConverterDataFile arm;
    arm.abbreviation = "ARM";
    arm.fileCode = 72;
    arm.description = "AR Master file";
    p.dataFiles = {ars, arm};
    return p;
}

// ---- Files and settings -----------------------------------------------------------------------

bool xvARM::LoadSettings(convert::OpenFilesList& list, convert::NotesReport& notes, uint16_t ars, uint16_t arm,
                         convert::ConvertProgress* progress) {
    ars_ = ars;
    arm_ = arm;
    convert::ForgetFieldNumbers();  // handles may come back on other files
    contact_.Resolve(ars, kRecContact, kContactNames);
    customer_.Resolve(arm, kRecCustomer, kCustomerNames);
    lookups_.Clear();
    listed_ = 0;
    listedFile_ = 0;
    auto run = [&](std::size_t first, std::size_t last) {
        if (customer_[first] == 0) return false;
        for (std::size_t f = first; f <= last; ++f)
            if (customer_[f] != customer_[first] + (f - first)) return false;
        return true;
    };
    contactRun_ = run(kCCont1, kCBCont);
    tableRun_ = run(kCRateL, kCAddTb);
    taxRun_ = run(kCTxGrTB, kCTxGrpT);
    std::fill(std::begin(taxDefaultListed_), std::end(taxDefaultListed_), int8_t{-1});
    primaryKeyOnly_ = PrimaryKeyOnly(ars) && PrimaryKeyOnly(arm);
    auto note = [&](int number) {
        if (!notes.PrintMessageLine("", 0, Msg(number))) return false;
        if (progress) progress->messages += 1;
        return true;
    };

    // 1. AR-GL interface and the GL master, for the GL prefixes.
    if (suite::zc_interface_active("AR", "GL") != 0) {
        arGlInterface = 1;
        if (suite::xk_num_sections(suite::kGlAccountFormat) != 0) {
            if (glMaster.Open(list, "GLM") == 0 && !note(12810)) return false;
        }
    }

    // 2. Billing and its standard tables.
    billingInstalled = suite::xa_appl_installed("BL") == 1;
    if (billingInstalled) {
        if (billingStandard.Open(list, "BLS", "STANDARD") == 0 && !note(12837)) return false;
    }

    // 3. Sales taxes. STAXES is a yes/no choice: only "Yes" (1) tracks taxes, as every other
    // reader of the setting takes it; a header that cannot be read leaves taxes in use.
    if (xio_rd_header(arm, kHdrArSettings, 0) == XIO_OK) {
        const uint16_t staxes = convert::HeaderFieldNo(arm, kHdrArSettings, "STAXES");
        usesSalesTaxes = staxes != 0 && xio_get_field_result(arm, 0, staxes) == 1;
        if (usesSalesTaxes) {
            taxMaster.Open(list, "TXM");
        }
        xio_free_header(arm, kHdrArSettings);
    }

    customerTerm_ = suite::xk_description(300);
    suite::x_upper_first(customerTerm_);
    contactTerm_ = suite::xk_description(301);
    suite::x_upper_first(contactTerm_);
    invoiceFormatLabel_ = suite::xk_description(306);
    suite::x_upper_first(invoiceFormatLabel_);
    invoiceFormatLabel_ += " format";

    // 4. The custom lists.
    LoadList(342, contactTypes);
    LoadList(345, customerTypes);
    LoadList(344, trades);
    LoadList(380, creditRatings);
    LoadList(377, billingFrequencies);
    LoadList(369, taxGroups);
    return true;
}

bool xvARM::LoadSettings(ConvertContext& ctx, std::string&) {
    return LoadSettings(ctx.files, *ctx.notes, convert::FindFileHandle(ctx.files, "ARS", 1), ctx.mainHandle,
                        ctx.progress);
}

// ---- The two passes ---------------------------------------------------------------------------

bool xvARM::ConvertRecords(ConvertContext& ctx) {
    // A stop asked for while a pass is announced ends the file as any other stop of its command.
    auto announce = [&](const char* status, int percent, const std::string& taskLine) {
        if (ctx.progress && !ctx.progress->SetStatusText(status, -1)) return false;
        if (convert::InBackground()) {
            if (convert::CheckTerminate()) return false;
            suite::x_update_task(percent, taskLine);
        }
        return true;
    };
    auto stopped = [&] { return EndFile(ctx, Msg(ctx.converting ? 12000 : 12001), true, false); };

    if (!announce("Receivables Pass 1 of 2", 0, ctx.taskLine)) return stopped();
    if (!RunPrepass(ctx)) return false;

    if (!announce("Receivables Pass 2 of 2", 50, "")) return stopped();
    pass1_ = false;
    ctx.percentFrom = 50;
    ctx.percentTo = 100;
    return RunRecordLoop(ctx);
}

bool xvARM::RunPrepass(ConvertContext& ctx) {
    ctx.percentFrom = 0;
    ctx.percentTo = 50;
    ctx.import = std::make_unique<xvl::xvlImport>(*ctx.tpl);
    xvl::xvlImport& import = *ctx.import;
    import.xvlSetAcceptLongText(true);
    import.xvlSetClearExtendedFields(true);
    ctx.substitution = std::make_unique<tables::SubstitutionSet>(ctx.commandId, ctx.tableName, ctx.messages);
    if (!ctx.tableName.empty()) {
        if (!ctx.substitution->IsLoaded()) return EndFile(ctx, Msg(12015, ctx.tableName), true, true);
        import.xvlSetSubstitutionCB(&tables::SubstituteValue, ctx.substitution.get());
    }
    if (!OpenTextFile(ctx, import, std::string()))
        return EndFile(ctx, Msg(12007, ctx.entry.path.substr(0, 60)), true, true);

    pass1_ = true;
    std::string idText;
    const bool read = ReadRecords(ctx, [&](xvl::xvlImpInfo& info, int status) {
        if (status == 1) return true;
        std::string reason;
        const int extra = info.RecExtraData();
        const uint16_t file = info.FileNumUsed();
        if (IsUserFieldsRecord(extra)) {
            if (!WriteUserFields(import, info, reason)) return true;
        } else if (IsNotesRecord(extra)) {
            return true;
        } else if (!DispatchRecord(ctx, info, reason)) {
            return true;  // a record its handler rejects leaves no key
        }
        const bool keyed = extra == 0 && info.ImportedRecs() == 1 && (file == ars_ || file == arm_);
        if (keyed && primaryKeyOnly_) {
            if (!KeptByPrepass(file, info, idText)) return true;
        } else {
            if (!ExamineRecord(file, info, reason, 0, convert::kPermGroup)) return true;
            if (!keyed) return true;
            ExaminedIdText(file, idText, 1);
        }
        if (file == ars_)
            contactKeys.emplace(idText, xio_get_text(ars_, contact_[kCoCont]));
        else
            customerKeys.emplace(idText, xio_get_text(arm_, customer_[kCust]));
        return true;
    });
    pass1_ = false;
    if (!read) return false;

    // Pass 2 starts with no record met earlier in the file.
    firstDuplicateContact.clear();
    taxGroupUnverified = 0;
    firstUnverifiedTaxGroup.clear();
    RecordIds().clear();
    // Pass 2 keeps the record-ID text of about every record pass 1 kept a key of.
    RecordIds().reserve(contactKeys.size() + customerKeys.size());
    return true;
}

bool xvARM::KeptByPrepass(uint16_t file, xvl::xvlImpInfo& info, std::string& idText) {
    // What the record check answers for a key-only record, without keeping every record-ID
    // text a second time: the pass-1 keys keep the first pair of each text by themselves, so a
    // repeat of the text file needs no look-up. Only the record-ID texts of other lines (user
    // fields) stand in the record-ID map, and they still hide a later record of the same text.
    const int status = xio_find_record(file, 1, 0);
    bool kept = status == XIO_NOT_FOUND || (status == XIO_OK && info.ReplaceRecord());
    if (kept) {
        RecordIdText(file, idText, 1);
        kept = RecordIds().empty() || RecordIds().count(idText) == 0;
    }
    if (info.ReplaceRecord()) xio_unlock_record(file, 1, 1);
    if (info.UDRecordLocked()) xio_unlock_record(file, info.UDRecordLocked(), 1);
    return kept;
}

bool xvARM::PrimaryKeyOnly(uint16_t file) {
    xio_key_def def;
    for (uint16_t k = 1; xio_get_key_def(file, k, def) == XIO_OK; ++k)
        if (def.record == 1 && def.unique && !def.excluded1 && !def.excluded2) return false;
    return true;
}

// ---- Hooks of the record loop ------------------------------------------------------------------

bool xvARM::CountRecord(ConvertContext& ctx, xvl::xvlImpInfo& info, int status) {
    return status == 1 || IsDuplicateContact(ctx, info);
}

bool xvARM::IsDuplicateContact(ConvertContext& ctx, xvl::xvlImpInfo& info) {
    if (info.Status() == 1 || info.FileNumUsed() != ars_ || info.ImportedRecs() != kRecContact ||
        info.RecExtraData() != 0)
        return true;
    bool duplicate = xio_find_record(ars_, kRecContact, 0) == XIO_OK;
    if (!duplicate && !ctx.converting) {
        // Examine Files writes nothing: an earlier contact of the file stands in the record-ID map.
        std::string idText;
        RecordIdText(ars_, idText, kRecContact);
        duplicate = RecordIds().find(idText) != RecordIds().end();
    }
    if (!duplicate) return true;
    if (firstDuplicateContact.empty()) firstDuplicateContact = xio_get_text(ars_, contact_[kCoCont]);
    return false;
}

bool xvARM::DispatchRecord(ConvertContext& ctx, xvl::xvlImpInfo& info, std::string& reason) {
    listed_ = 0;
    listedFile_ = 0;
    const uint16_t file = info.FileNumUsed();
    const uint16_t rec = info.ImportedRecs();
    const bool data = info.RecExtraData() == 0;
    if (data && file == ars_ && rec == kRecContact) return ConvertContact(ars_, arm_, reason, ctx.messages);
    if (data && file == arm_ && rec == kRecCustomer)
        return ConvertCustomer(ars_, arm_, reason, ctx.messages, ctx.converting && !pass1_);
    return RejectUnknownRecord(info, reason, kConversionName, (file == ars_ || file == arm_) ? file : 0);
}

void xvARM::RecordWritten(ConvertContext& ctx, xvl::xvlImpInfo& info) {
    // What the handler left listed belongs to this record alone.
    const uint32_t listed = std::exchange(listed_, 0);
    const uint16_t listedFile = std::exchange(listedFile_, 0);
    if (pass1_ || info.RecExtraData() != 0) return;
    const uint16_t file = info.FileNumUsed();
    auto check = [&](const ListField& f, std::size_t i) {
        if (file == listedFile && (listed & (1u << i))) return;
        const CustomList& list = f.list == 342   ? contactTypes
                                 : f.list == 345 ? customerTypes
                                 : f.list == 344 ? trades
                                 : f.list == 380 ? creditRatings
                                 : f.list == 377 ? billingFrequencies
                                                 : taxGroups;
        const std::string& value = xio_get_text(file, file == ars_ ? contact_[f.field] : customer_[f.field]);
        for (const auto& e : list.entries)
            if (e == value) return;
        // An empty value is listed too: the list has no entry for it.
        ctx.notes->AddNote(static_cast<uint16_t>(f.list), value, static_cast<uint32_t>(info.StartLine()));
    };
    if (file == ars_ && info.ImportedRecs() == kRecContact)
        for (std::size_t i = 0; i < std::size(kContactLists); ++i) check(kContactLists[i], i);
    else if (file == arm_ && info.ImportedRecs() == kRecCustomer)
        for (std::size_t i = 0; i < std::size(kCustomerLists); ++i) check(kCustomerLists[i], i);
}

bool xvARM::FinishConversion(ConvertContext& ctx) {
    convert::NotesReport& notes = *ctx.notes;
    if (taxMaster == 0 && usesSalesTaxes && taxGroupUnverified) {
        if (!notes.PrintMessageLine("", 0, "") ||
            !notes.PrintMessageLine("", 0, Msg(12816, firstUnverifiedTaxGroup)))
            return EndFile(ctx, PrintFailure(ctx, 12012), true, true);
        if (ctx.progress) ctx.progress->messages += 1;
    }
    if (!notes.PrintMissingCustomListValues(ctx.progress) || !PrintDuplicateContactNote(notes, ctx.progress))
        return EndFile(ctx, PrintFailure(ctx, 12012), true, true);
    return true;
}

bool xvARM::PrintDuplicateContactNote(convert::NotesReport& notes, convert::ConvertProgress* progress) {
    if (firstDuplicateContact.empty()) return true;
    std::string contact = suite::xk_description(301);
    suite::x_upper_first(contact);
    if (!notes.PrintMessageLine("", 0, "") ||
        !notes.PrintMessageLine("", 0, Msg(12808, contact, firstDuplicateContact)))
        return false;
    if (progress) progress->messages += 1;
    return true;
}

}  // namespace dz::ar
