#include "converters/pm/xvpmp.h"

#include "convert/progress.h"
#include "convert/reports.h"
#include "convert/texts.h"
#include "platform/datafile/xio.h"
#include "platform/import/xvl_import.h"
#include "platform/suite/control.h"
#include "platform/suite/util.h"
#include "platform/suite/zc.h"

#include <cctype>

namespace dz::pm {

using convert::ConvertContext;
using convert::ConverterDataFile;
using convert::ConverterProfile;

namespace {

constexpr const char* kTitle = "PM System & Property Files";
constexpr const char* kConversionName = "PMP Propery and System";

ConverterProfile Profile() {
    ConverterProfile p;
    p.abbreviation = "PMP";
    p.fileNo = 1;
    p.title = kTitle;
    p.description = "PM Property file";
    p.convertingText = std::string("Converting '%s' into ") + kTitle;
    p.examiningText = std::string("Examining '%s' for ") + kTitle;
    p.progressEtc = true;
    auto file = [](const char* abbr, const char* description, bool written) {
        ConverterDataFile f;
        f.abbreviation = abbr;
        f.description = description;
        f.backedUp = written;
        f.restored = written;
        return f;
    };
    // The property and system files are written (backed up, and restored together when the file
    // ends early); the GL and CM master files are read.
    p.dataFiles = {file("PMP", "PM Property file", true), file("PMS", "PM System file", true),
                   file("GLM", "GL Master file", false), file("CMM", "CM Master file", false)};
    return p;
}

std::string Upper(std::string text) {
    for (char& ch : text) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
    return text;
}

std::string Capitalized(std::string text) {
    suite::x_capitalize(text);
    return text;
}

}  // namespace

xvl::PrefillCB xvPMP::prefillCallback = nullptr;

xvPMP::~xvPMP() { CloseOwnedFiles(); }

void xvPMP::CloseOwnedFiles() {
    if (apm_ != 0 && apmOwned_) xio_cls_file(apm_);
    if (txm_ != 0 && txmOwned_) xio_cls_file(txm_);
    apm_ = txm_ = 0;
    apmOwned_ = txmOwned_ = false;
}

// ---- Files and settings ------------------------------------------------------------------------------

bool xvPMP::OpenFiles(convert::OpenFilesList& list, uint16_t commandId, uint16_t& error) {
    if (suite::xa_appl_installed("GL") == 0) {
        error = 9844;
        list.push_back(file_num_map{"GLM", 0, 0});
        return false;
    }
    if (suite::xa_appl_installed("CM") == 0) {
        error = 9845;
        list.push_back(file_num_map{"CMM", 0, 0});
        return false;
    }
    return OpenDataFile("PMS", 1, kPmsCode, 0, list, commandId, error, false) &&
           OpenDataFile("PMP", 1, kPmpCode, 0, list, commandId, error, false) &&
           OpenDataFile("CMM", 1, 20, 0, list, commandId, error, false) &&
           OpenDataFile("GLM", 1, 1, 0, list, commandId, error, false);
}

void xvPMP::ConvertFile(convert::OpenFilesList& list, const convert::TextFileEntry& entry,
                        convert::ConvertProgress* progress, int printDef, ui::zqTask& task,
                        const std::string& tableName, convert::ConversionOptions* options) {
    ConvertContext ctx(list, entry, progress, printDef, task, tableName, options);
    RunConvertFile(ctx, Profile());
}

void xvPMP::PrefillTables(convert::OpenFilesList& list, const convert::TextFileEntry& entry,
                          convert::ConvertProgress* progress, ui::zqTask&, void* prefillContext) {
    RunPrefill(list, entry, progress, Profile(), prefillCallback, prefillContext);
}

bool xvPMP::LoadSettings(ConvertContext& ctx, std::string&) {
    convert::ForgetFieldNumbers();  // handles may name other files than in an earlier run
    pmp_ = convert::FindFileHandle(ctx.files, "PMP", 1);
    pms_ = convert::FindFileHandle(ctx.files, "PMS", 1);
    glm_ = convert::FindFileHandle(ctx.files, "GLM", 1);
    cmm_ = convert::FindFileHandle(ctx.files, "CMM", 1);
    state_ = PmpState{};
    state_.accountingMethod = PmAccountingMethod();
    state_.propertyTypes.Load(kPropertyTypeList);
    state_.sfTypes.Load(kSfTypeTerm);
    state_.defaultSfType = state_.sfTypes.first;
    state_.paTypes.Load(kPaTypeList);
    state_.depositTypes.Load(422);
    state_.insuranceTypes.Load(424);
    state_.unitClasses.Load(kUnitClassList);

    usingTax_ = PmUsingTax(pms_);
    cmMultipleCash_ = false;
    if (cmm_ != 0 && xio_rd_header(cmm_, 2, 0) == XIO_OK) {
        const uint16_t field = HeaderFieldNo(cmm_, 2, "CMULTCA");
        cmMultipleCash_ = field != 0 && xio_get_field_result(cmm_, 0, field) != 0;
        xio_free_header(cmm_, 2);
    }
    // The AP master and tax files: the run's when it has them open, else opened here and closed
    // with the converter.
    CloseOwnedFiles();
    createApEntries_ = suite::xa_appl_installed("AP") != 0 && suite::zc_create_entries("PM", "AP") != 0;
    auto attach = [&](const char* abbr, uint16_t& handle, bool& owned) {
        handle = convert::FindFileHandle(ctx.files, abbr, 1);
        if (handle == 0) {
            handle = convert::OpenMasterFile(abbr);
            owned = handle != 0;
        }
    };
    if (createApEntries_) attach("APM", apm_, apmOwned_);
    if (usingTax_) attach("TXM", txm_, txmOwned_);
    return true;
}

PmpRecordContext xvPMP::Context(const ConvertContext& ctx) {
    PmpRecordContext c;
    c.pmp = pmp_;
    c.pms = pms_;
    c.glm = glm_;
    c.converting = ctx.converting;
    c.ids = &RecordIds();
    c.state = &state_;
    return c;
}

// ---- The record loop's hooks -------------------------------------------------------------------------

bool xvPMP::CountRecord(ConvertContext& ctx, xvl::xvlImpInfo& info, int) {
    return HandleDuplicateSystemRecord(Context(ctx), info);
}

bool xvPMP::DispatchRecord(ConvertContext& ctx, xvl::xvlImpInfo& info, std::string& reason) {
    const PmpRecordContext c = Context(ctx);
    convert::MessageList& m = ctx.messages;
    const uint16_t file = info.FileNumUsed(), rec = info.ImportedRecs();
    if (file == pmp_ && pmp_ != 0) {
        switch (rec) {
        case kPmpLateCharge: return ConvertPropertyLateCharge(c, reason, m);
        case kPmpChecklistItem: return ConvertPropertyChecklistItem(c, reason, m);
        case kPmpUnitRecord: return ConvertUnit(c, reason, m);
        case kPmpUnitSfType: return ConvertUnitSfType(c, reason, m);
        case kPmpLeaseUnit: return ConvertLeaseUnit(c, reason, m);
        case kPmpMiscIncomeSource: return ConvertMiscIncomeSource(c, reason, m);
        case kPmpUnitLeaseHistory: return ConvertUnitLeaseHistory(c, reason, m);
        case kPmpUnitOccupancyHistory: return ConvertUnitOccupancyHistory(c, reason, m);
        case kPmpProperty:
        case kPmpPropertyPA:
        case kPmpPropertyCharge:
        case kPmpDeposit:
        case kPmpSfType:
        case kPmpMonthlyOccupancy:
        case kPmpCalYearOccupancy:
        case kPmpFiscalYearOccupancy:
        case kPmpPropertyTax:
        case kPmpInsurance: return ConvertPropertyRecordProvisional(c, rec, reason);
        default: break;
        }
    } else if (file == pms_ && pms_ != 0) {
        switch (rec) {
        case kPmsChargeType: return ConvertChargeType(c, reason, m);
        case kPmsInterestRate: return ConvertInterestRate(c, reason, m);
        case kPmsManager: return ConvertManagerBroker(c, reason, m);
        default: break;
        }
    }
    // Named by the record's definition in one of the two files, else by its format id.
    std::string name = info.FormatID();
    xio_rec_def def;
    if (rec != 0 && (file == pmp_ || file == pms_) && xio_get_rec_def(file, rec, def) == XIO_OK) name = def.name;
    reason = Msg(12070, name, kConversionName);
    return false;
}

uint16_t OccupancyTrackingFieldResult(const xvl::xvlImpInfo& info, uint16_t pmp) {
    if (pmp == 0 || info.FileNumUsed() != pmp) return 0;
    auto result = [&](uint16_t rec, const char* name) { return xio_get_field_result(pmp, 0, FieldNo(pmp, rec, name)); };
    switch (info.ImportedRecs()) {
    case kPmpProperty:
        return static_cast<uint16_t>(10 * result(kPmpProperty, "PTKCYOC") + result(kPmpProperty, "PTKFYOC"));
    case kPmpSfType: return static_cast<uint16_t>(result(kPmpSfType, "PFTRACK"));
    default: return 0;
    }
}

uint16_t xvPMP::ExamineValue(ConvertContext&, const xvl::xvlImpInfo& info) {
    return OccupancyTrackingFieldResult(info, pmp_);
}

void xvPMP::RecordWritten(ConvertContext& ctx, xvl::xvlImpInfo& info) {
    if (info.RecExtraData() != 0) return;
    const uint16_t file = info.FileNumUsed(), rec = info.ImportedRecs();
    const auto line = static_cast<uint32_t>(info.StartLine());
    if (file == pmp_) {
        // Values missing from the custom lists, blank ones included.
        struct ListField {
            uint16_t rec;
            const char* name;
            const CustomList* list;
        };
        const ListField checked[] = {{kPmpProperty, "PTYPE", &state_.propertyTypes},
                                     {kPmpProperty, "PSFTYPE", &state_.sfTypes},
                                     {kPmpPropertyPA, "PATYPE", &state_.paTypes},
                                     {kPmpDeposit, "PDDTYPE", &state_.depositTypes},
                                     {kPmpSfType, "PFSFTYP", &state_.sfTypes},
                                     {kPmpInsurance, "PIINSTY", &state_.insuranceTypes},
                                     {kPmpUnitRecord, "UCLASS", &state_.unitClasses},
                                     {kPmpUnitSfType, "UFSFTYP", &state_.sfTypes}};
        for (const auto& f : checked)
            if (f.rec == rec) f.list->CheckExact(GetText(pmp_, rec, f.name), *ctx.notes, line);
    }

    if (file == pmp_ && rec == kPmpProperty) {
        const std::string prefix = GetText(pmp_, rec, "PGLPFX");
        if (!prefix.empty()) {
            std::string id;
            convert::RecordIdText(pmp_, id, kPmpProperty);
            state_.propertyPrefixes.emplace(id, prefix);
            state_.propertyPeriodEnds.emplace(Capitalized(GetText(pmp_, rec, "PROP")),
                                              GetDate(pmp_, rec, "PPEREND"));
        }
    } else if (file == pmp_ && ctx.converting &&
               (rec == kPmpUnitRecord || rec == kPmpUnitLeaseHistory || rec == kPmpUnitOccupancyHistory)) {
        const uint16_t keyRec = rec;
        const auto* keys = xio_primary_key_fields(pmp_, keyRec);
        if (keys != nullptr && keys->size() >= 2)
            state_.convertedUnitKeys.push_back(Upper(GetText(pmp_, (*keys)[0]) + '\t' + GetText(pmp_, (*keys)[1])));
    } else if (file == pms_ && rec == kPmsInterestRate) {
        const std::string id = GetText(pms_, rec, "VALID");
        if (!id.empty()) state_.interestRateIds.insert(Capitalized(id));
    }
    if (ctx.converting && file == pmp_ && (rec == kPmpProperty || rec == kPmpUnitRecord)) {
        const std::string property = GetText(pmp_, rec, rec == kPmpProperty ? "PROP" : "UPROP");
        if (!property.empty()) state_.convertedProperties.insert(property);
    }
}

// ---- The finish -----------------------------------------------------------------------------------------

bool xvPMP::FinishConversion(ConvertContext& ctx) {
    if (!ctx.notes->PrintMissingCustomListValues(ctx.progress) ||
        !ReportDuplicateRecords(state_, *ctx.notes, ctx.progress, ctx.converting))
        return EndFile(ctx, Msg(12012), true, true);
    if (!ctx.converting) return true;
    return CreateDefaultChargeRecords(ctx) && CheckPropertyUnitCounts(ctx) && CheckUnitHistory(ctx) &&
           FinishPasses(ctx, "Finishing PMP processing");
}

}  // namespace dz::pm
