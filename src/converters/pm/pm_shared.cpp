#include "converters/pm/pm_shared.h"

#include "convert/platform_links.h"
#include "convert/progress.h"
#include "convert/reports.h"
#include "convert/texts.h"
#include "platform/datafile/xio.h"
#include "platform/suite/control.h"
#include "platform/suite/util.h"
#include "platform/suite/xd.h"
#include "platform/suite/xk.h"

#include <algorithm>
#include <charconv>
#include <cmath>

namespace dz::pm {

using namespace convert;

bool EqualNoCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::toupper(static_cast<unsigned char>(x)) == std::toupper(static_cast<unsigned char>(y));
           });
}

namespace {

void PutKey(uint16_t file, uint16_t rec, const KeyValue& k) {
    if (k.isNumber)
        PutNumber(file, rec, k.field, k.number);
    else
        PutText(file, rec, k.field, k.text);
}

}  // namespace

void PutKeys(uint16_t file, uint16_t rec, const std::vector<KeyValue>& keys) {
    xio_init_record(file, rec);
    for (const auto& k : keys) PutKey(file, rec, k);
}

// ---- Settings -------------------------------------------------------------------------------------

uint16_t PmAccountingMethod() {
    suite::xc_control_def def;
    if (!suite::xc_get_control_def(def) || def.accountingMethod < 1 || def.accountingMethod > 3) return 3;
    return def.accountingMethod;
}

bool PmUsingTax(uint16_t pms) {
    if (xio_rd_header(pms, 2, 0) != XIO_OK) return true;
    const uint16_t field = HeaderFieldNo(pms, 2, "TAXCTRL");
    const bool set = field != 0 && xio_get_field_result(pms, 0, field) != 0;
    xio_free_header(pms, 2);
    return set;
}

bool IsDefaultChargeType(const std::string& value) {
    return EqualNoCase(value, kDefaultChargeType);
}

// ---- Blank values and texts --------------------------------------------------------------------------

bool IsBlankField(uint16_t file, uint16_t field) {
    // Asked for many fields of every record: the definition is looked at, not copied.
    const xio_fld_def* def = field == 0 ? nullptr : xio_field_def(file, field);
    if (!def) return true;
    if (xio_is_text_type(def->type)) {
        const x_value_def v = GetValue(file, field);
        return v.text.empty() && v.longText.empty();
    }
    if (def->type == XIO_TYPE_DATE) return IsUnsetDate(GetDate(file, field));
    if (def->type == XIO_TYPE_LOGICAL) return GetFlag(file, field) == 0;
    return IsZero(GetNumber(file, field));
}

std::string TermLabel(int term, bool capital, bool plural) {
    return plural ? TermPlural(term, capital) : capital ? TermCap(term) : Term(term);
}

std::string FieldLabel(uint16_t file, uint16_t field) {
    return field == 0 ? std::string() : FieldDescription(file, field, true, Fallback::FieldName);
}

std::string PropertyUnitLabel() { return TermLabel(kPropertyTerm) + " " + TermLabel(kUnitTerm, false); }

std::string LeaseKeyLabel() { return TermLabel(kLeaseTerm) + ", " + TermLabel(kRevisionTerm); }

std::string WholeText(double n) {
    // Keys and ids are whole numbers, written on every record: without printf when they are.
    if (n == std::trunc(n) && std::fabs(n) < 1e15 && !(n == 0 && std::signbit(n))) {
        char digits[24];
        const auto end = std::to_chars(digits, digits + sizeof digits, static_cast<long long>(n)).ptr;
        return std::string(digits, end);
    }
    return FormatNumber("%.0f", n);
}

std::string LeaseKeyText(const std::string& lease, double revision) { return lease + "(" + WholeText(revision) + ")"; }

std::string DateText(const x_date_type& date) { return IsUnsetDate(date) ? std::string() : suite::xd_alpha_date(date); }

std::string GlText(const std::string& value, int section) {
    std::string text = value;
    suite::xk_format_field(suite::kGlAccountFormat, section, text);
    return text;
}

int StagedField::Result() const { return xio_get_field_result(file, 0, no); }

void StagedField::Clear() const {
    x_value_def empty;
    xio_put_field(file, rec, no, empty);
}

std::string ShownValue(const StagedField& f) {
    xio_fld_def def;
    if (xio_get_fld_def(f.file, f.no, def) != XIO_OK) return {};
    if (xio_is_text_type(def.type)) return f.Text();
    if (def.type == XIO_TYPE_DATE) return DateText(f.Date());
    if (def.type == XIO_TYPE_LOGICAL) return GetFlag(f.file, f.no) ? "YES" : "NO";
    const std::string format = "%." + std::to_string(def.decimals) + "f";
    return FormatNumber(format.c_str(), f.Number() / std::pow(10.0, def.decimals));
}

void FirstCleared::Clear(const StagedField& f, const std::string& name) {
    if (f.Blank()) return;
    if (!Any()) {
        label = name.empty() ? f.Label() : name;
        value = ShownValue(f);
    }
    f.Clear();
}

// ---- Custom lists -------------------------------------------------------------------------------------

void CustomList::Load(int n) {
    number = n;
    values = suite::cl_string_to_cListContainer(suite::xk_get_custom_list(n));
    first = values.empty() ? std::string() : values.front();
    if (values.size() > 1) values.erase(values.begin());
    loaded = true;
}

bool CustomList::Spelling(std::string& value) const {
    for (const auto& v : values) {
        if (EqualNoCase(v, value)) {
            value = v;
            return true;
        }
    }
    return false;
}

bool CustomList::Contains(const std::string& value) const {
    return std::find(values.begin(), values.end(), value) != values.end();
}

bool CustomList::CheckExact(const std::string& value, convert::NotesReport& notes, uint32_t line) const {
    if (Contains(value)) return true;
    notes.AddNote(static_cast<uint16_t>(number), value, line);
    return false;
}

// ---- Lookups -------------------------------------------------------------------------------------------

Found FindRecord(uint16_t file, uint16_t rec, const std::vector<KeyValue>& keys, const LookupScope& scope) {
    Found found;
    // The keys as given, for a record that is not on file.
    auto given = [&] {
        for (const auto& k : keys) found.stored.push_back(k.isNumber ? WholeText(k.number) : k.text);
    };
    found.stored.reserve(keys.size());
    const bool blank = std::any_of(keys.begin(), keys.end(), [](const KeyValue& k) { return !k.isNumber && k.text.empty(); });
    if (file == 0 || keys.empty() || blank) {
        given();
        return found;
    }

    PutKeys(file, rec, keys);
    if (xio_rd_record(file, rec, 0, 0) == XIO_OK) {
        found.where = Found::OnFile;
        for (const auto& k : keys)
            found.stored.push_back(k.isNumber ? WholeText(GetNumber(file, rec, k.field)) : GetText(file, rec, k.field));
        return found;
    }
    given();
    PutKeys(file, rec, keys);
    if (!scope.converting && scope.ids && !scope.ids->empty()) {
        std::string id;
        convert::RecordIdText(file, id, rec);
        if (const auto* entry = scope.ids->find(id)) {
            found.where = Found::EarlierInText;
            found.value = entry->second;
        }
    }
    return found;
}

Found FindProperty(uint16_t pmp, const std::string& property, const LookupScope& scope) {
    return FindRecord(pmp, 1, {{"PROP", property}}, scope);
}

Found FindUnit(uint16_t pmp, const std::string& property, const std::string& unit, const LookupScope& scope) {
    return FindRecord(pmp, 17, {{"UPROP", property}, {"UNIT", unit}}, scope);
}

Found FindTenant(uint16_t pmn, const std::string& tenant, const LookupScope& scope) {
    return FindRecord(pmn, 1, {{"TENANT", tenant}}, scope);
}

Found FindLease(uint16_t pml, const std::string& lease, double revision, const LookupScope& scope) {
    return FindRecord(pml, 1, {{"LEASE", lease}, {"LREV", revision}}, scope);
}

Found FindChargeType(uint16_t pms, const std::string& chargeType, const LookupScope& scope) {
    return FindRecord(pms, 1, {{"CT", chargeType}}, scope);
}

Found FindGlAccount(uint16_t glm, const std::string& account, const LookupScope& scope) {
    return FindRecord(glm, 1, {{"AACCT", account}}, scope);
}

Found FindBaseAccount(uint16_t glm, const std::string& base, const LookupScope& scope) {
    return FindRecord(glm, 6, {{"BSBASE", base}}, scope);
}

Found FindGlPrefix(uint16_t glm, const std::string& prefix, const LookupScope& scope) {
    switch (suite::xk_num_sections(suite::kGlAccountFormat)) {
        case 1: return FindRecord(glm, 3, {{"PAPRFX", prefix}}, scope);
        case 2: return FindRecord(glm, 4, {{"PBPRFX", prefix}}, scope);
        case 3: return FindRecord(glm, 5, {{"PCPRFX", prefix}}, scope);
        default: {
            Found none;
            none.stored.push_back(prefix);
            return none;
        }
    }
}

Found FindBank(uint16_t cmm, const std::string& bank, const LookupScope& scope) {
    return FindRecord(cmm, 1, {{"BANKACC", bank}}, scope);
}

std::string PropertyMissingText(int message, const std::string& property) {
    return Msg(message, TermLabel(kPropertyTerm), property);
}

std::string UnitMissingText(int message, const std::string& property, const std::string& unit) {
    return Msg(message, PropertyUnitLabel(), property + ", " + unit);
}

std::string TenantMissingText(int message, const std::string& tenant) {
    return Msg(message, TermLabel(kTenantTerm), tenant);
}

std::string LeaseMissingText(int message, const std::string& lease, double revision) {
    return Msg(message, LeaseKeyLabel(), LeaseKeyText(lease, revision));
}

// ---- Sequence numbers ------------------------------------------------------------------------------------

bool NextSequenceNumber(uint16_t file, uint16_t rec, const std::vector<const char*>& group, const char* numberField,
                        const LookupScope& scope, double& number) {
    constexpr double kLast = 999;
    // The group's values as staged, kept whole (texts as typed, numbers as numbers).
    std::vector<x_value_def> kept;
    for (const char* f : group) kept.push_back(GetValue(file, FieldNo(file, rec, f)));
    const uint16_t numberNo = FieldNo(file, rec, numberField);

    // The last record of the group on file: position after (group, 999), read the one before.
    double candidate = 1;
    xio_save_record(file, rec);
    xio_init_record(file, rec);
    for (std::size_t i = 0; i < group.size(); ++i) xio_put_field(file, rec, FieldNo(file, rec, group[i]), kept[i]);
    PutNumber(file, numberNo, kLast);
    (void)xio_rd_gt(file, rec, 0, 0);  // a miss leaves the position after the last record
    if (xio_rd_previous(file, rec, 0, 0) == XIO_OK) {
        bool same = true;
        for (std::size_t i = 0; i < group.size() && same; ++i) {
            const x_value_def v = GetValue(file, FieldNo(file, rec, group[i]));
            same = EqualNoCase(v.longText.empty() ? v.text : v.longText,
                               kept[i].longText.empty() ? kept[i].text : kept[i].longText) &&
                   v.number == kept[i].number && v.date.month == kept[i].date.month &&
                   v.date.day == kept[i].date.day && v.date.year == kept[i].date.year;
        }
        const double last = GetNumber(file, numberNo);
        if (same && last > 0 && last < kLast) candidate = last + 1;
    }
    xio_restore_record(file, rec);
    PutNumber(file, numberNo, candidate);
    number = candidate;

    if (scope.converting) return xio_find_record(file, rec, 0) != XIO_OK;

    // Examine Files: numbers given to records earlier in the text file are taken.
    if (scope.ids) {
        std::string id;
        while (number < kLast + 1) {
            convert::RecordIdText(file, id, rec);
            if (!scope.ids->find(id)) break;
            number += 1;
            PutNumber(file, numberNo, number);
        }
    }
    // 1000 is outside the numbers a record may have, and Convert would never give it.
    return number <= kLast;
}

// ---- Closing notes ----------------------------------------------------------------------------------------

bool ClosingNotes::Add(const std::string& text) {
    if (!started_) {
        if (!notes_.PrintMessageLine("", 0, "")) return false;
        started_ = true;
    }
    return notes_.PrintMessageLine("", 0, text);
}

// ---- Progress of the passes after the record loop ---------------------------------------------------------

bool PmConverter::EndStoppedPass(convert::ConvertContext& ctx, bool countMessage) {
    return EndFile(ctx, Msg(12000), false, countMessage);
}

bool PmConverter::PassProgress::Step() {
    ++done_;
    if (++sinceReport_ < 15) return true;
    sinceReport_ = 0;
    const auto percent = static_cast<int16_t>(position_ ? position_() : total_ == 0 ? 100 : done_ * 100 / total_);
    if (ctx_.progress && !ctx_.progress->SetStatusText(status_, percent))
        return converter_.EndStoppedPass(ctx_, countStop_);
    if (convert::InBackground()) {
        if (convert::CheckTerminate()) return converter_.EndStoppedPass(ctx_, false);
        suite::x_update_task(percent, task_);
    }
    return true;
}

bool PmConverter::FinishPasses(convert::ConvertContext& ctx, const std::string& taskText) {
    if (ctx.progress && !ctx.progress->SetStatusText("", 0)) return EndStoppedPass(ctx, true);
    if (convert::InBackground()) {
        if (convert::CheckTerminate()) return EndStoppedPass(ctx, false);
        suite::x_update_task(100, taskText);
    }
    return true;
}

}  // namespace dz::pm
