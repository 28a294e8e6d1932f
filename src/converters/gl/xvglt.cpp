#include "converters/gl/xvglt.h"

#include "converters/gl/glm_fields.h"

#include "convert/texts.h"
#include "modules/module_objects.h"
#include "platform/datafile/xio.h"
#include "platform/import/xvl_import.h"
#include "platform/modlibs/gl_fiscal_entity.h"
#include "platform/suite/control.h"
#include "platform/suite/util.h"
#include "platform/suite/xd.h"
#include "platform/suite/xk.h"

#include <cmath>
#include <cstddef>
#include <string_view>
#include <optional>

namespace dz::gl {

using namespace convert;

namespace {

constexpr const char* kConversionName = "GL Transaction";
constexpr const char* kCustomFields = "Custom fields are not supported in GL Transaction conversions";

// The transaction fields the handler touches, resolved once per file; T("TACCT") is a name's
// place in the list, found when the program is compiled.
constexpr std::size_t kFieldCount = 30;
constexpr convert::FieldNames<kFieldCount> kTransactionNames{
    "TACCT", "TACCTDT", "TDEBIT", "TCREDIT", "TDRCR", "TAORC", "TDUETO", "TDUEFRM", "TORGACT", "TRASCPR", "TRASCBS", "TRINTST", "TRDPLOC", "TRDPRUN", "TRDPSEQ", "TRUN", "TSEQ", "TAPPL", "TBATCH", "TSOURCE", "TINV", "TVENDOR", "TINVDST", "TCHECK", "TBANK", "TCCODE", "TRCODE", "TEQUIP", "TARINV", "TARCUST"};
consteval std::size_t T(std::string_view name) {
    for (std::size_t i = 0; i < kTransactionNames.size(); ++i)
        if (name == kTransactionNames[i]) return i;
    throw "not a transaction field of the list";
}

bool Blank(const std::string& text) { return text.find_first_not_of(' ') == std::string::npos; }

std::string Capitalised(std::string text) {
    suite::x_upper_first(text);
    return text;
}

std::string Description(int n, bool capitalised) {
    std::string text = suite::xk_description(n);
    if (capitalised) suite::x_upper_first(text);
    return text;
}

std::string FormatKey(int kind, int section, const std::string& value) {
    std::string text = value;
    suite::xk_format_field(kind, section, text);
    return text;
}

// Releases a module object however the scope is left.
template <typename T>
class Held {
public:
    explicit Held(T* object) : object_(object) {}
    ~Held() {
        if (object_) object_->Release();
    }
    Held(const Held&) = delete;
    Held& operator=(const Held&) = delete;
    T* operator->() const { return object_; }
    explicit operator bool() const { return object_ != nullptr; }

private:
    T* object_;
};

}  // namespace

ConverterProfile xvGLT::Profile() const {
    ConverterProfile p;
    p.abbreviation = "GLT";
    p.fileNo = 6;
    p.title = "GL Transaction File";
    p.description = "GL Transaction file";
    p.convertingText = "Converting '%s' into GL Transaction file";
    p.examiningText = "Examining '%s' for GL Transaction file";
    // The GL master file is only read: neither backed up nor restored, but it must be open.
    convert::ConverterDataFile glm;
    glm.abbreviation = "GLM";
    glm.fileNo = 1;
    glm.description = "GL Master file";
    glm.fileCode = 1;
    glm.backedUp = false;
    glm.restored = false;
    convert::ConverterDataFile glt;
    glt.abbreviation = "GLT";
    glt.fileNo = 6;
    glt.description = p.description;
    glt.fileCode = 4;
    glt.openFlag = 1;
    glt.openOrder = 1;  // after the GL master
    p.dataFiles = {glt, glm};
    // Examine Files judges a transaction by its checks alone: every transaction is new (the
    // conversion numbers it), so there is no key to look up.
    p.examineRecords = false;
    // Nor can a key repeat in Convert: no record-ID texts are kept.
    p.keepRecordIds = false;
    // Records of custom fields are refused by DispatchRecord.
    p.writeUserFields = false;
    return p;
}

xvGLT::~xvGLT() { suite::zb_term_batch(batchRecord_); }

// ---- Files, the sequence and settings -----------------------------------------------------------

void xvGLT::ConvertFile(convert::OpenFilesList& list, const convert::TextFileEntry& entry,
                        convert::ConvertProgress* progress, int printDef, ui::zqTask& task,
                        const std::string& tableName, convert::ConversionOptions* options) {
    ConvertContext ctx(list, entry, progress, printDef, task, tableName, options);
    RunConvertFile(ctx, Profile());
    // A batch once set up is ended whichever way the file ended: stopped, failed or converted.
    suite::zb_term_batch(batchRecord_);
}

bool xvGLT::LoadSettings(ConvertContext& ctx, std::string& failure) {
    glMasterFile = convert::FindFileHandle(ctx.files, "GLM", 1);
    sequenceNumber = 0;
    fieldsOf_ = 0;  // the field numbers are resolved again for this text file
    lastPeriodEnds_.clear();
    accountsOnFile_.clear();
    // 12011, or 12016 for a run number that cannot be raised; nothing written.
    if (ctx.converting && !SetUpBatch(ctx, failure)) return false;
    return GetControlDef();
}

bool xvGLT::SetUpBatch(ConvertContext& ctx, std::string& failure) {
    suite::zb_batch_request request;
    request.module = suite::BatchModule::GL;
    request.taskId = ctx.commandId;
    request.masterFile = glMasterFile;
    request.appCode = "XV";
    request.moduleFiles = {ctx.mainHandle};
    request.recordCallback = [this](const suite::zb_batch_record& record) { BatchRecordCallback(record); };
    request.endCallback = &xvGLT::BatchEndCallback;
    if (suite::zb_process_batch(request) == suite::kTaskStatusFailed) return false;
    batch = batchRecord_.batchText;
    // A run number of 0 would post under keys that other files' runs may hold.
    bool unraisable = false;
    runNumber = suite::zc_next_run(ctx.commandId, ctx.mainHandle, &unraisable);
    if (unraisable) failure = convert::Msg(12016);
    return runNumber != 0;
}

void xvGLT::BatchRecordCallback(const suite::zb_batch_record& record) { batchRecord_ = record; }

bool xvGLT::GetControlDef() {
    suite::xc_control_def def;
    suite::xc_get_control_def(def);
    accountingMethod = def.accountingMethod;
    return true;
}

// ---- Records ----------------------------------------------------------------------------------

bool xvGLT::DispatchRecord(ConvertContext& ctx, xvl::xvlImpInfo& info, std::string& reason) {
    const int extra = info.RecExtraData();
    if (IsUserFieldsRecord(extra)) {
        reason = kCustomFields;
        return false;
    }
    if (info.FileNumUsed() == ctx.mainHandle && info.ImportedRecs() == kRecTransaction)
        return ConvertTransaction(ctx.mainHandle, glMasterFile, info, reason, ctx.messages, ctx.converting,
                                  *ctx.import);
    return RejectUnknownRecord(info, reason, kConversionName);
}

bool xvGLT::AccountOnFile(uint16_t glm, const std::string& account) {
    // The GL master file does not change while the text file is read: each account is looked up
    // once.
    const auto known = accountsOnFile_.find(account);
    if (known != accountsOnFile_.end()) return known->second;
    PutText(glm, kRecAccount, "AACCT", account);
    const bool found = xio_find_record(glm, kRecAccount, 0) == XIO_OK;
    accountsOnFile_.emplace(account, found);
    return found;
}

bool xvGLT::TooFarInFuture(uint16_t glm, const std::string& account, const x_date_type& date) {
    // The GL master file does not change while the text file is read (this conversion only reads
    // it, and no other program writes it while the run holds it), so an account's answer is asked
    // once per text file.
    auto known = lastPeriodEnds_.find(account);
    if (known == lastPeriodEnds_.end()) {
        std::optional<x_date_type> answer;
        modlibs::GlFiscalEntity* object = nullptr;
        if (modules::CallModuleFunction(modules::glFiscalEntityObjectID, modules::glInterfaceID(2), &object) ==
            modules::kModuleCallOk) {
            Held<modlibs::GlFiscalEntity> entity(object);
            x_date_type last;
            if (entity && entity->SelectAccount(glm, account, 0) &&
                entity->IsSuccess(entity->GetDate(modlibs::kFiscalLastPeriodEnd, last)))
                answer = last;
        }
        known = lastPeriodEnds_.emplace(account, answer).first;
    }
    // No entity, an account it refuses or no such date: not checked. The last period end
    // itself may still be posted.
    return known->second &&
           suite::xd_compare_dates(suite::zqDate(date.month, date.day, date.year), *known->second) > 0;
}

bool xvGLT::ConvertTransaction(uint16_t glt, uint16_t glm, xvl::xvlImpInfo& info, std::string& reason,
                               convert::MessageList& notes, bool converting, const xvl::xvlImport& import) {
    const uint16_t rec = kRecTransaction;
    static_assert(kFieldCount == kTransactionFields);
    if (fieldsOf_ != glt) {
        fields_.Resolve(glt, rec, kTransactionNames);
        fieldsOf_ = glt;
    }
    const auto& F = fields_;
    auto word = [&](const char* pair) { return ModeWord(pair, converting); };

    // 1-4. The account, its date and its accrual or cash code, and the account on file.
    const std::string account = GetText(glt, F[T("TACCT")]);
    if (Blank(account)) {
        reason = Msg(12336);
        return false;
    }
    // The account as messages show it, formatted only for a message.
    auto shown = [&] { return FormatAccount(account, suite::kGlWhole); };
    const x_date_type date = GetDate(glt, F[T("TACCTDT")]);
    if (date.blank()) {
        reason = Msg(12337, shown());
        return false;
    }
    if (!import.xvlImpWasItImported(info.FormatID(), "TAORC")) {
        reason = Msg(12338, shown());
        return false;
    }
    if (!AccountOnFile(glm, account)) {
        reason = Msg(12339, shown());
        return false;
    }

    // 5. Not too far into the future for the account's fiscal calendar.
    if (TooFarInFuture(glm, account, date)) {
        reason = Msg(12340, suite::xd_alpha_date(date));
        return false;
    }

    // 6, 7. The amounts and the debit/credit code.
    const double debit = GetNumber(glt, F[T("TDEBIT")]);
    const double credit = GetNumber(glt, F[T("TCREDIT")]);
    if (debit != 0 && credit != 0) {
        reason = Msg(12341, Amount(debit), Amount(credit));
        return false;
    }
    if (debit == 0 && credit == 0) notes.push_back(Msg(12342));
    const uint16_t drcr = F[T("TDRCR")];
    const int code = Whole(GetNumber(glt, drcr));
    if (code == 1 && credit != 0) {
        PutNumber(glt, drcr, 2);
    } else if (code == 2 && debit != 0) {
        notes.push_back(Msg(12343, word("has changed/will change"), word("207/208")));
        PutNumber(glt, drcr, 1);
    }

    // 8. The accounting method allows the transaction.
    const int accrualOrCash = Whole(GetNumber(glt, F[T("TAORC")]));
    if (accrualOrCash == 1 && accountingMethod != 1 && accountingMethod != 3) {
        reason = Msg(12344, shown());
        return false;
    }
    if (accrualOrCash == 2 && accountingMethod != 2 && accountingMethod != 3) {
        reason = Msg(12345, shown());
        return false;
    }

    // 9. Intercompany accounts on file.
    for (const auto& [field, label] : {std::pair{T("TDUETO"), "Intercompany payable"},
                                       std::pair{T("TDUEFRM"), "Intercompany Receivable"}}) {
        const std::string& other = xio_get_text(glt, F[field]);
        if (!Blank(other) && !AccountOnFile(glm, other)) {
            reason = Msg(12346, label, FormatAccount(other, suite::kGlWhole));
            return false;
        }
    }

    // 10. Fields the conversion clears or sets itself.
    auto note = [&](int number, const std::string& field, const std::string& value, const char* codes) {
        notes.push_back(Msg(number, field, value, word("was not/will not be"), word(codes)));
    };
    auto number = [&](double v) { return FormatNumber("%.0f", v); };
    auto coded = [&](uint16_t field, double v) { return ChoiceText(glt, field, v, true); };
    // Not convertible: noted when given, always cleared. The label is made only for a note.
    auto clearText = [&](std::size_t name, auto label, int kind, int section) {
        const uint16_t f = F[name];
        const std::string& v = xio_get_text(glt, f);
        if (!Blank(v)) note(12348, label(), kind ? FormatKey(kind, section, v) : v, "214/215");
        if (!v.empty()) PutText(glt, f, "");
    };
    auto zeroNumber = [&](std::size_t name, const std::string& label) {
        const uint16_t f = F[name];
        const double v = GetNumber(glt, f);
        if (v != 0) {
            note(12348, label, number(v), "214/215");
            PutNumber(glt, f, 0);
        }
    };
    auto fixed = [](const char* label) { return [label] { return std::string(label); }; };
    clearText(T("TORGACT"), fixed("Original account"), suite::kGlAccountFormat, suite::kGlWhole);
    clearText(T("TRASCPR"), fixed("Associated prefix"), suite::kGlAccountFormat, suite::kGlPrefix);
    clearText(T("TRASCBS"), fixed("Associated base"), suite::kGlAccountFormat, suite::kGlBaseAccount);
    {
        const uint16_t f = F[T("TRINTST")];
        const double v = GetNumber(glt, f);
        if (v != 1) {
            note(12348, "Offsetting entry status", coded(f, v), "214/215");
            PutNumber(glt, f, 1);
        }
    }
    clearText(T("TRDPLOC"), [] { return "DP " + Description(142, false); }, 0, 0);
    zeroNumber(T("TRDPRUN"), "DP Run number");
    zeroNumber(T("TRDPSEQ"), "DP Seq number");

    // Set during conversion: noted when given, always set.
    {
        const uint16_t f = F[T("TRUN")];
        const double v = GetNumber(glt, f);
        if (v != 0) note(12347, "Run number", number(v), "212/213");
        if (v != runNumber) PutNumber(glt, f, runNumber);
    }
    {
        const uint16_t f = F[T("TSEQ")];
        const double v = GetNumber(glt, f);
        if (v != 0) note(12347, "Sequence number", number(v), "212/213");
        PutNumber(glt, f, ++sequenceNumber);
    }
    {
        const uint16_t f = F[T("TAPPL")];
        const std::string& v = xio_get_text(glt, f);
        if (!Blank(v)) note(12347, "Application of origin", v, "212/213");
        if (v != "XV") PutText(glt, f, "XV");
    }
    {
        const uint16_t f = F[T("TBATCH")];
        const std::string& v = xio_get_text(glt, f);
        if (!Blank(v)) note(12347, Description(1, true), v, "212/213");
        if (v != batch) PutText(glt, f, batch);
    }
    {
        const uint16_t f = F[T("TSOURCE")];
        const double v = GetNumber(glt, f);
        if (v != 1) {
            note(12347, "Source", coded(f, v), "212/213");
            PutNumber(glt, f, 1);
        }
    }

    // References that need their partner field: cleared only together with their note.
    auto blankField = [&](std::size_t name) { return Blank(xio_get_text(glt, F[name])); };
    if (const std::string& inv = xio_get_text(glt, F[T("TINV")]); !Blank(inv) && blankField(T("TVENDOR"))) {
        notes.push_back(Msg(12349, inv, word("was not/will not be"), word("216/217")));
        PutText(glt, F[T("TINV")], "");
    }
    if (const double dist = GetNumber(glt, F[T("TINVDST")]); dist != 0 && blankField(T("TINV"))) {
        notes.push_back(Msg(12350, number(dist), word("was not/will not be"), word("218/219")));
        PutNumber(glt, F[T("TINVDST")], 0);
    }
    if (const double check = GetNumber(glt, F[T("TCHECK")]); check != 0 && blankField(T("TBANK"))) {
        notes.push_back(
            Msg(12351, Description(8, true), number(check), word("was not/will not be"), word("220/221")));
        PutNumber(glt, F[T("TCHECK")], 0);
    }
    for (const auto& [name, kind] : {std::pair{T("TCCODE"), 187}, std::pair{T("TRCODE"), 70}}) {
        const std::string& v = xio_get_text(glt, F[name]);
        if (Blank(v) || !blankField(T("TEQUIP"))) continue;
        notes.push_back(Msg(12352, Description(kind, true), Description(69, true), FormatKey(kind, 0, v),
                            word("was not/will not be"), word("222/223")));
        PutText(glt, F[name], "");
    }
    if (const std::string& inv = xio_get_text(glt, F[T("TARINV")]); !Blank(inv) && blankField(T("TARCUST"))) {
        std::string invoice = Description(306, false);
        if (invoice.empty()) invoice = "invoice";
        std::string customer = Description(300, false);
        if (customer.empty()) customer = "Customer";
        notes.push_back(
            Msg(12787, invoice, Capitalised(customer), inv, word("was not/will not be"), word("224/225")));
        PutText(glt, F[T("TARINV")], "");
    }
    return true;
}

// ---- Prefill ---------------------------------------------------------------------------------

}  // namespace dz::gl
