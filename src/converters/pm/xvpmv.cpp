#include "converters/pm/xvpmv.h"

#include "convert/reports.h"
#include "platform/datafile/xio.h"
#include "platform/import/xvl_import.h"
#include "platform/suite/util.h"
#include "platform/suite/xd.h"

#include <algorithm>
#include <cmath>

namespace dz::pm {

using namespace convert;

namespace {

constexpr const char* kConversionName = "PMV Recovery";

}  // namespace

uint16_t ExtractBits(uint16_t value, uint16_t shift, uint16_t width) {
    if (shift >= 16) return 0;
    const uint32_t mask = width >= 16 ? 0xFFFFu : ((1u << width) - 1u);
    return static_cast<uint16_t>((static_cast<uint32_t>(value) >> shift) & mask);
}

int RecoveryMonthCount(x_date_type from, const x_date_type& to, int limit) {
    // A start on day 1 to 28 is never cut short, so the step that first reaches the end's month
    // is counted from the months between them: asked for every record, the walk below is kept
    // for month ends and dates that are not real dates.
    if (from.month >= 1 && from.month <= 12 && from.day >= 1 && from.day <= 28 && from.year <= 9999 &&
        to.month >= 1 && to.month <= 12 && to.day >= 1 && to.day <= suite::xd_month_length(to) && to.year <= 9999) {
        const long between = (long{to.year} * 12 + to.month) - (long{from.year} * 12 + from.month);
        const long steps = between < 0 ? 0 : from.day >= to.day ? between : between + 1;
        return static_cast<int>(std::min<long>(steps, std::max(limit, 0)) + 1);
    }
    int count = 1;
    while (count <= limit && suite::xd_compare_dates(from, to) < 0) {
        suite::xd_offset_date(from, 1, 0);
        ++count;
    }
    return count;
}

// ---- The checks every handler shares -----------------------------------------------------------

int RecordChecks::Result(const char* name) const { return xio_get_field_result(file_, 0, No(name)); }

bool RecordChecks::Reject(std::string text) const {
    reason_ = std::move(text);
    return false;
}

std::string RecordChecks::ValueText(uint16_t field) const {
    xio_fld_def def;
    if (field == 0 || xio_get_fld_def(file_, field, def) != XIO_OK) return {};
    if (xio_is_text_type(def.type)) return GetText(file_, field);
    if (def.type == XIO_TYPE_DATE) return DateText(GetDate(file_, field));
    if (def.type == XIO_TYPE_LOGICAL) return GetFlag(file_, field) ? "TRUE" : "FALSE";
    if (xio_is_choice_type(def.type)) return ChoiceText(file_, field, GetNumber(file_, field), false);
    const std::string format = "%." + std::to_string(def.decimals) + "f";
    return FormatNumber(format.c_str(), GetNumber(file_, field) / std::pow(10.0, def.decimals));
}

void RecordChecks::NotSupported(const char* name, const std::string& label, int message, int convertNo,
                                int examineNo) const {
    const uint16_t field = No(name);
    if (field == 0 || Blank(field)) return;
    Note(Msg(message, label, ValueText(field), Word("was/will be"), Number(convertNo, examineNo)));
    StagedField(file_, rec_, field).Clear();
}

void RecordChecks::ClearGroup(std::initializer_list<GroupField> fields, int message, int convertNo,
                              int examineNo) const {
    std::string label, value;
    for (const GroupField& g : fields) {
        const uint16_t field = No(g.name);
        if (field == 0) continue;
        const xio_fld_def* def = xio_field_def(file_, field);
        const bool choice = def && xio_is_choice_type(def->type);
        const bool holds = choice ? GetNumber(file_, field) != g.cleared : !Blank(field);
        if (!holds) continue;
        if (label.empty()) {
            label = g.label;
            value = ValueText(field);
        }
        if (choice)
            PutNumber(file_, field, g.cleared);
        else
            StagedField(file_, rec_, field).Clear();
    }
    if (!label.empty()) Note(Msg(message, label, value, Word("were/will be"), Number(convertNo, examineNo)));
}


bool ReadOnFile(uint16_t file, uint16_t rec, const std::vector<KeyValue>& keys) {
    // Asked several times for every record: the key texts a lookup gives back are not made.
    if (file == 0 || keys.empty()) return false;
    for (const KeyValue& k : keys)
        if (!k.isNumber && k.text.empty()) return false;
    PutKeys(file, rec, keys);
    if (xio_rd_record(file, rec, 0, 0) == XIO_OK) return true;
    PutKeys(file, rec, keys);
    return false;
}

bool RecordChecks::LookupCopyBack(uint16_t other, uint16_t rec, const std::vector<KeyValue>& keys,
                                  std::initializer_list<const char*> into) const {
    if (!ReadOnFile(other, rec, keys)) return false;
    std::size_t i = 0;
    for (const char* name : into) {
        if (i >= keys.size()) break;
        const KeyValue& key = keys[i];
        if (key.isNumber)
            PutNumber(file_, No(name), GetNumber(other, rec, key.field));
        else
            PutText(file_, No(name), GetText(other, rec, key.field));
        ++i;
    }
    return true;
}

// ---- The frame --------------------------------------------------------------------------------------

ConverterProfile xvPMV::Profile() const {
    ConverterProfile p;
    p.abbreviation = "PMV";
    p.fileNo = 1;
    p.title = "PM Recovery File";
    p.description = "PM Recovery file";
    p.convertingText = "Converting '%s' into PM Recovery File";
    p.examiningText = "Examining '%s' for PM Recovery File";
    p.progressEtc = true;
    // The recovery file is the only one written and backed up; the others are read. Opened
    // system, recovery, lease, property, GL master.
    p.dataFiles = {ConverterDataFile::Owned("PMV", 1, kPmvCode, "PM Recovery file"),
                   ConverterDataFile::ReadOnly("PMS", 1, kPmsCode, "PM System file"),
                   ConverterDataFile::ReadOnly("PML", 1, kPmlCode, "PM Lease file"),
                   ConverterDataFile::ReadOnly("PMP", 1, kPmpCode, "PM Property file"),
                   ConverterDataFile::ReadOnly("GLM", 1, 1, "GL Master file")};
    const int openOrder[] = {1, 0, 2, 3, 4};
    for (std::size_t i = 0; i < p.dataFiles.size(); ++i) p.dataFiles[i].openOrder = openOrder[i];
    return p;
}

bool xvPMV::OpenFiles(OpenFilesList& list, uint16_t commandId, uint16_t& error) {
    if (suite::xa_appl_installed("GL") == 0) return NotInstalled("GLM", 1, 9844, list, error);
    return PmConverter::OpenFiles(list, commandId, error);
}

bool xvPMV::LoadSettings(ConvertContext& ctx, std::string&) {
    ForgetFieldNumbers();  // handles may name other files than in an earlier run
    answers_.Clear();
    pms_ = FindFileHandle(ctx.files, "PMS", 1);
    pml_ = FindFileHandle(ctx.files, "PML", 1);
    pmp_ = FindFileHandle(ctx.files, "PMP", 1);
    glm_ = FindFileHandle(ctx.files, "GLM", 1);
    accountingMethod_ = PmAccountingMethod();
    return true;
}

bool xvPMV::DispatchRecord(ConvertContext& ctx, xvl::xvlImpInfo& info, std::string& reason) {
    const uint16_t pmv = ctx.mainHandle;
    const uint16_t rec = info.ImportedRecs();
    import_ = ctx.import.get();
    formatId_ = info.FormatID();
    if (info.FileNumUsed() == pmv && pmv != 0) {
        switch (rec) {
        case kPmvPropertyControl:
            return ConvertPropertyRecoveryControl(pmv, pmp_, pms_, info, reason, ctx.messages, ctx.converting,
                                                  *ctx.import);
        case kPmvRecoveryControl:
            return ConvertRecoveryControl(pmv, pml_, pms_, pmp_, reason, ctx.messages, RecordIds(), ctx.converting);
        case kPmvPropertyCategory:
            return ConvertPropertyExpenseCategory(pmv, pmp_, reason, ctx.messages, RecordIds(), ctx.converting);
        case kPmvLeaseCategory:
            return ConvertLeaseExpenseCategory(pmv, pml_, pmp_, reason, ctx.messages, RecordIds(), ctx.converting);
        case kPmvConcession: return ConvertConcessionPeriod(pmv, reason, ctx.messages, RecordIds(), ctx.converting);
        default: break;
        }
    }
    // Named by the recovery file's record of that number; by its format id when it has no
    // number, or when it is one of the recovery numbers in another file.
    const bool ownNumber = rec == 1 || rec == 2 || rec == 4 || rec == 5 || rec == 6;
    return RejectUnknownRecord(info, reason, kConversionName, (info.FileNumUsed() == pmv || !ownNumber) ? pmv : 0);
}

uint16_t xvPMV::ExamineValue(ConvertContext& ctx, const xvl::xvlImpInfo& info) {
    return GetRecoveryFlags(info, ctx.mainHandle);
}

uint16_t xvPMV::GetRecoveryFlags(const xvl::xvlImpInfo& info, uint16_t pmv) {
    if (pmv == 0 || info.FileNumUsed() != pmv) return 0;
    return RecoveryFlags(pmv, info.ImportedRecs());
}

uint16_t xvPMV::RecoveryFlags(uint16_t pmv, uint16_t rec) {
    switch (rec) {
    case kPmvPropertyControl: {
        const uint16_t first = FieldNo(pmv, kPmvPropertyControl, "PRCB1");
        if (first == 0) return 0;
        uint16_t flags = 0;
        for (uint16_t i = 0; i < 10; ++i)
            if (GetFlag(pmv, static_cast<uint16_t>(first + i)) != 0) flags = static_cast<uint16_t>(flags | (1u << i));
        return flags;
    }
    case kPmvRecoveryControl: {
        const uint16_t fee = FieldNo(pmv, kPmvRecoveryControl, "RCFEE");
        return fee == 0 ? 0 : static_cast<uint16_t>(xio_get_field_result(pmv, 0, fee));
    }
    default: return 0;
    }
}

}  // namespace dz::pm
