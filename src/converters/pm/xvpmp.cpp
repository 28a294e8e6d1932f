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
#include <cstring>
#include <tuple>

namespace dz::pm {

using namespace convert;

using convert::ConvertContext;
using convert::ConverterDataFile;
using convert::ConverterProfile;

namespace {

constexpr const char* kTitle = "PM System & Property Files";
constexpr const char* kConversionName = "PMP Propery and System";

std::string Upper(std::string text) {
    for (char& ch : text) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
    return text;
}

std::string Capitalized(std::string text) {
    suite::x_capitalize(text);
    return text;
}

}  // namespace

ConverterProfile xvPMP::Profile() const {
    ConverterProfile p;
    p.abbreviation = "PMP";
    p.fileNo = 1;
    p.title = kTitle;
    p.description = "PM Property file";
    p.convertingText = std::string("Converting '%s' into ") + kTitle;
    p.examiningText = std::string("Examining '%s' for ") + kTitle;
    p.progressEtc = true;
    // The property and system files are written, and so are the CM banks that properties give
    // a PM cash account: the three are backed up and restored together when the file ends
    // early. The GL master file is read.
    p.dataFiles = {ConverterDataFile::Owned("PMP", 1, kPmpCode, "PM Property file"),
                   ConverterDataFile::Owned("PMS", 1, kPmsCode, "PM System file"),
                   ConverterDataFile::ReadOnly("GLM", 1, 1, "GL Master file"),
                   ConverterDataFile::Owned("CMM", 1, 20, "CM Master file")};
    const int openOrder[] = {1, 0, 3, 2};
    for (std::size_t i = 0; i < p.dataFiles.size(); ++i) p.dataFiles[i].openOrder = openOrder[i];
    return p;
}

// ---- Files and settings ------------------------------------------------------------------------------

bool xvPMP::OpenFiles(convert::OpenFilesList& list, uint16_t commandId, uint16_t& error) {
    for (const auto& [module, code, abbr] : {std::tuple{"GL", uint16_t{9844}, "GLM"}, std::tuple{"CM", uint16_t{9845}, "CMM"}}) {
        if (suite::xa_appl_installed(module) == 0) return NotInstalled(abbr, 1, code, list, error);
    }
    return PmConverter::OpenFiles(list, commandId, error);
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
    // The AP master and tax files: the run's when it has them open, else opened here.
    createApEntries_ = suite::xa_appl_installed("AP") != 0 && suite::zc_create_entries("PM", "AP") != 0;
    apm_.Close();
    txm_.Close();
    if (createApEntries_) apm_.Open(ctx.files, "APM");
    if (usingTax_) txm_.Open(ctx.files, "TXM");
    return true;
}

PmpRecordContext xvPMP::Context(const ConvertContext& ctx, const xvl::xvlImpInfo* info) {
    PmpRecordContext c;
    c.pmp = pmp_;
    c.pms = pms_;
    c.glm = glm_;
    c.cmm = cmm_;
    c.apm = apm_.handle();
    c.txm = txm_.handle();
    c.usingTax = usingTax_;
    c.cmMultipleCash = cmMultipleCash_;
    c.import = ctx.import.get();
    if (info) c.formatId = info->FormatID();
    c.converting = ctx.converting;
    c.ids = &RecordIds();
    c.state = &state_;
    return c;
}

// ---- The record loop's hooks -------------------------------------------------------------------------

bool xvPMP::CountRecord(ConvertContext& ctx, xvl::xvlImpInfo& info, int) {
    return HandleDuplicateSystemRecord(Context(ctx, &info), info);
}

bool xvPMP::DispatchRecord(ConvertContext& ctx, xvl::xvlImpInfo& info, std::string& reason) {
    const PmpRecordContext c = Context(ctx, &info);
    convert::MessageList& m = ctx.messages;
    const uint16_t file = info.FileNumUsed(), rec = info.ImportedRecs();
    if (file == pmp_ && pmp_ != 0) {
        if (rec == kPmpProperty && info.ReplaceRecord()) state_.propertyReplaced = true;
        switch (rec) {
        case kPmpLateCharge: return ConvertPropertyLateCharge(c, reason, m);
        case kPmpChecklistItem: return ConvertPropertyChecklistItem(c, reason, m);
        case kPmpUnitRecord: return ConvertUnit(c, reason, m);
        case kPmpUnitSfType: return ConvertUnitSfType(c, reason, m);
        case kPmpLeaseUnit: return ConvertLeaseUnit(c, reason, m);
        case kPmpMiscIncomeSource: return ConvertMiscIncomeSource(c, reason, m);
        case kPmpUnitLeaseHistory: return ConvertUnitLeaseHistory(c, reason, m);
        case kPmpUnitOccupancyHistory: return ConvertUnitOccupancyHistory(c, reason, m);
        case kPmpProperty: return ConvertProperty(c, reason, m);
        case kPmpPropertyPA: return ConvertPropertyPA(c, reason, m);
        case kPmpPropertyCharge: return ConvertPropertyCharge(c, reason, m);
        case kPmpDeposit: return ConvertPropertyDeposit(c, reason, m);
        case kPmpSfType: return ConvertPropertySfType(c, reason, m);
        case kPmpMonthlyOccupancy: return ConvertMonthlyOccupancy(c, reason, m);
        case kPmpCalYearOccupancy: return ConvertCalYearOccupancy(c, reason, m);
        case kPmpFiscalYearOccupancy: return ConvertFiscalYearOccupancy(c, reason, m);
        case kPmpPropertyTax: return ConvertPropertyTax(c, reason, m);
        case kPmpInsurance: return ConvertPropertyInsurance(c, reason, m);
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
    if (file == pmp_ || file == pms_) return RejectUnknownRecord(info, reason, kConversionName);
    return RejectUnknownRecord(info, reason, kConversionName, 0);
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

    if (file == pmp_ && rec == kPmpProperty && !KeepPendingBank(ctx)) return;
    if (file == pmp_ && rec == kPmpProperty) {
        if (ctx.converting && GetNumber(pmp_, rec, "PUNIT") == 0 && GetNumber(pmp_, rec, "POCOUNT") == 0 &&
            GetNumber(pmp_, rec, "PLCOUNT") == 0)
            state_.propertiesListingNoUnits.push_back(Upper(GetText(pmp_, rec, "PROP")));
        const std::string prefix = GetText(pmp_, rec, "PGLPFX");
        if (!prefix.empty()) {
            std::string id;
            convert::RecordIdText(pmp_, id, kPmpProperty);
            state_.properties.Add(id, prefix, GetDate(pmp_, rec, "PPEREND"));
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
        auto& kept = state_.convertedProperties;
        if (!property.empty() && (kept.empty() || kept.back() != property)) kept.push_back(property);
    }
}

bool xvPMP::KeepPendingBank(ConvertContext& ctx) {
    PendingBank& bank = state_.pendingBank;
    if (!bank.pending) return true;
    bank.pending = false;
    if (ctx.converting) {
        const int status = WritePendingBank(cmm_, bank);
        state_.answers.banks.clear();  // read again, as now written
        if (status != XIO_OK) {
            EndFile(ctx, Msg(status == XIO_DISK_FULL ? 12013 : 12011), true, true);
            return false;
        }
    } else {
        state_.pmCashBanks.emplace(bank.id, bank.account);
    }
    // The bank is no line of the text file: it stands in the totals as a record the conversion
    // made, beside the lines read, so that the lines processed are those the run read.
    ctx.report->AddRecordTypeTotals(static_cast<int16_t>(cmm_), 1, false, false, false, true, 0);
    return true;
}

// ---- The properties kept ------------------------------------------------------------------------------

namespace {

std::size_t HashNoCase(std::string_view text) {
    std::size_t h = 14695981039346656037ull;
    for (char ch : text) h = (h ^ static_cast<unsigned char>(std::toupper(static_cast<unsigned char>(ch)))) * 1099511628211ull;
    return h;
}

}  // namespace

KeptProperties::Entry KeptProperties::At(std::size_t offset) const {
    Entry e;
    e.id = std::string_view(block_.data() + offset);
    std::size_t at = offset + e.id.size() + 1;
    std::memcpy(&e.prefix, block_.data() + at, sizeof e.prefix);
    at += sizeof e.prefix;
    std::memcpy(&e.periodEnd, block_.data() + at, sizeof e.periodEnd);
    e.next = at + sizeof e.periodEnd;
    return e;
}

std::size_t KeptProperties::Slot(std::string_view id) const {
    const std::size_t mask = slots_.size() - 1;
    for (std::size_t i = HashNoCase(id) & mask;; i = (i + 1) & mask)
        if (slots_[i] == 0 || EqualNoCase(At(slots_[i] - 1).id, id)) return i;
}

void KeptProperties::Grow() {
    std::vector<uint32_t> old = std::move(slots_);
    slots_.assign(old.empty() ? 1024 : old.size() * 2, 0);
    for (uint32_t s : old)
        if (s != 0) slots_[Slot(At(s - 1).id)] = s;
}

bool KeptProperties::Add(std::string_view id, const std::string& prefix, const x_date_type& periodEnd) {
    if ((count_ + 1) * 2 > slots_.size()) Grow();
    const std::size_t slot = Slot(id);
    if (slots_[slot] != 0) return false;
    auto [known, added] = prefixNumbers_.emplace(prefix, static_cast<uint32_t>(prefixes_.size()));
    if (added) prefixes_.push_back(prefix);
    const auto offset = static_cast<uint32_t>(block_.size());
    block_.append(id).push_back('\0');
    block_.append(reinterpret_cast<const char*>(&known->second), sizeof known->second);
    block_.append(reinterpret_cast<const char*>(&periodEnd), sizeof periodEnd);
    slots_[slot] = offset + 1;
    ++count_;
    return true;
}

bool KeptProperties::Find(std::string_view id, std::string* prefix, x_date_type* periodEnd) const {
    if (slots_.empty()) return false;
    const uint32_t s = slots_[Slot(id)];
    if (s == 0) return false;
    const Entry e = At(s - 1);
    if (prefix) *prefix = prefixes_[e.prefix];
    if (periodEnd) *periodEnd = e.periodEnd;
    return true;
}

// ---- The finish -----------------------------------------------------------------------------------------

bool xvPMP::FinishConversion(ConvertContext& ctx) {
    if (!ctx.notes->PrintMissingCustomListValues(ctx.progress) ||
        !ReportDuplicateRecords(state_, *ctx.notes, ctx.progress, ctx.converting))
        return EndFile(ctx, PrintFailure(ctx, 12012), true, true);
    if (!ctx.converting) return true;
    return CreateDefaultChargeRecords(ctx) && CheckPropertyUnitCounts(ctx) && CheckUnitHistory(ctx) &&
           FinishPasses(ctx, "Finishing PMP processing");
}

}  // namespace dz::pm
