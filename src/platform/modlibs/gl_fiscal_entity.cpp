#include "platform/modlibs/gl_fiscal_entity.h"

#include "platform/modlibs/gl_account_builder.h"

#include "platform/datafile/stored_number.h"
#include "platform/datafile/xio.h"
#include "platform/suite/xd.h"
#include "platform/suite/xk.h"

#include <cmath>

namespace dz::modlibs {

namespace {

using suite::xd_compare_dates;

constexpr uint16_t kSettingsHeader = 1;
constexpr uint16_t kPrefixRecords[] = {3, 4, 5};

// A field of the GL master file by name: `header` true for a field of the settings header,
// else of record `rec`.
struct Source {
    uint16_t glm;
    bool header;
    uint16_t rec;
    std::string letters;  // "PA", "PB", "PC" for the prefix records; "" for the settings header

    uint16_t Field(const std::string& name) const {
        return header ? xio_num(glm, XIO_NUM_HEADER, kSettingsHeader, letters + name)
                      : xio_num(glm, XIO_NUM_RECORD, rec, letters + name);
    }
    x_value_def Value(uint16_t field) const {
        x_value_def v;
        if (field) xio_get_field(glm, 0, field, v);
        return v;
    }
    x_value_def Value(const std::string& name) const { return Value(Field(name)); }
};

// Reads one calendar; false when the file has no such fields or the current year is not there.
bool LoadCalendar(const Source& s, GlFiscalCalendar& c) {
    const uint16_t first = s.Field("P2Y1");
    if (!first) return false;
    for (std::size_t i = 0; i < c.periods.size(); ++i) c.periods[i] = s.Value(static_cast<uint16_t>(first + i)).date;
    c.periodEnd = s.Value("PDATE").date;
    c.periodCode = xio_whole_part(s.Value("PCODE").number, 0);
    c.fiscalEnd = s.Value("FDATE").date;
    c.start = s.Value("FBD2Y").date;
    // The current year's 13th period is there exactly when 13 periods are used.
    c.thirteen = s.Value("U13PA").flag == 1 || !c.periods[2 * 13 + 12].blank();
    for (int p = 0; p < 12; ++p)
        if (c.periods[2 * 13 + p].blank()) return false;
    return true;
}

// Reads the prefix record `rec` whose key field holds `key` into its buffer.
bool ReadPrefix(uint16_t glm, uint16_t rec, const char* keyField, const std::string& key) {
    xio_init_record(glm, rec);
    x_value_def v;
    v.text = key;
    xio_put_field(glm, rec, xio_num(glm, XIO_NUM_RECORD, rec, keyField), v);
    return xio_rd_record(glm, rec, 0, 0) == XIO_OK;
}

std::string Section(const std::string& account, int section) {
    std::string text = account;
    suite::xk_get_section(suite::kGlAccountFormat, false, section, text);
    return text;
}

class FiscalEntity final : public GlFiscalEntity {
public:
    bool Query(const zqpoInterfaceID& id, ModuleObject** iface) override {
        if (!InterfaceIDEquals(id, zqpoInterfaceID("GL", 2))) return false;
        *iface = this;
        return true;
    }
    void Release() override { delete this; }

    bool SelectAccount(uint16_t glm, const std::string& account, uint16_t) override {
        selected_ = false;
        calendar_ = GlFiscalCalendar{};
        if (xio_rd_header(glm, kSettingsHeader, 0) != XIO_OK) return false;
        const Source settings{glm, true, 0, ""};
        const int fiscalEntity = xio_whole_part(settings.Value("FISCENT").number, 0);
        if (fiscalEntity != 2) {
            selected_ = LoadCalendar(settings, calendar_);
            calendar_.thirteen = settings.Value("U13PA").flag == 1;
            calendar_.level = kEntityCompany;
            xio_free_header(glm, kSettingsHeader);
            return selected_;
        }
        xio_free_header(glm, kSettingsHeader);
        if (suite::xk_num_sections(suite::kGlAccountFormat) == 0) return false;

        std::string text = account;
        suite::xk_unformat_field(suite::kGlAccountFormat, suite::kGlWhole, text);
        // The caller's buffers of the prefix records are put back whatever happens.
        uint16_t saved[3];
        for (int i = 0; i < 3; ++i) saved[i] = xio_save_record(glm, kPrefixRecords[i]);
        selected_ = SelectPrefix(glm, text);
        for (int i = 2; i >= 0; --i)
            if (saved[i]) xio_restore_record_id(glm, saved[i]);
        return selected_;
    }

    bool PeriodEndDate(const x_date_type& date, x_date_type& end) override {
        if (!selected_ || date.blank() || (!calendar_.start.blank() && xd_compare_dates(date, calendar_.start) < 0))
            return false;
        for (std::size_t i = 0; i < calendar_.periods.size(); ++i) {
            const x_date_type& p = calendar_.periods[i];
            if (p.blank() || (i % 13 == 12 && !calendar_.thirteen)) continue;
            if (xd_compare_dates(p, date) >= 0) {
                end = p;
                return true;
            }
        }
        return false;
    }

    bool FiscalYearEndDate(const x_date_type& date, x_date_type& end) override {
        if (!selected_ || date.blank() || (!calendar_.start.blank() && xd_compare_dates(date, calendar_.start) < 0))
            return false;
        for (int year = 0; year < 4; ++year) {
            const x_date_type last = YearEnd(year);
            if (last.blank()) continue;
            if (xd_compare_dates(last, date) >= 0) {
                end = last;
                return true;
            }
        }
        return false;
    }

    bool UsesThirteenPeriods() override { return selected_ && calendar_.thirteen; }

    uint16_t GetDate(uint16_t kind, x_date_type& date) override {
        if (!selected_) return kFiscalNoAccount;
        x_date_type d;
        switch (kind) {
        case kFiscalCurrentPeriodEnd: d = calendar_.periodEnd; break;
        case kFiscalCurrentYearEnd: d = calendar_.fiscalEnd; break;
        case kFiscalCalendarStart: d = calendar_.start; break;
        case kFiscalLastPeriodEnd: d = YearEnd(3); break;
        default: return kFiscalNoSuchDate;
        }
        if (d.blank()) return kFiscalNoSuchDate;
        date = d;
        return kFiscalDateOk;
    }

    bool IsSuccess(uint16_t status) override { return status == kFiscalDateOk; }
    uint16_t PrefixLevel() override { return selected_ ? calendar_.level : 0; }
    const GlFiscalCalendar& Calendar() override { return calendar_; }

private:
    // The last period of year slot `year` (0 two years ago .. 3 next year).
    x_date_type YearEnd(int year) const {
        const auto& p = calendar_.periods;
        const x_date_type& thirteenth = p[year * 13 + 12];
        return calendar_.thirteen && !thirteenth.blank() ? thirteenth : p[year * 13 + 11];
    }

    bool SelectPrefix(uint16_t glm, const std::string& account) {
        const std::string partA = Section(account, suite::kGlPrefixA);
        if (partA.empty() || !ReadPrefix(glm, 3, "PAPRFX", partA)) return false;
        const int level = xio_whole_part(Source{glm, false, 3, "PA"}.Value("FISC").number, 0);
        if (level == 1) return Load(Source{glm, false, 3, "PA"}, kEntityPrefixA, partA);
        if (level == 2) {
            const std::string partAB = Section(account, suite::kGlPrefixAB);
            if (partAB.size() <= partA.size() || !ReadPrefix(glm, 4, "PBPRFX", partAB)) return false;
            return Load(Source{glm, false, 4, "PB"}, kEntityPrefixB, partAB);
        }
        if (level == 3) {
            const std::string partABC = Section(account, suite::kGlPrefixABC);
            const std::string partAB = Section(account, suite::kGlPrefixAB);
            if (partABC.size() <= partAB.size() || !ReadPrefix(glm, 5, "PCPRFX", partABC)) return false;
            return Load(Source{glm, false, 5, "PC"}, kEntityPrefixC, partABC);
        }
        return false;
    }

    bool Load(const Source& s, uint16_t level, const std::string& prefix) {
        calendar_.level = level;
        calendar_.prefix = prefix;
        return LoadCalendar(s, calendar_);
    }

    bool selected_ = false;
    GlFiscalCalendar calendar_;
};

}  // namespace

ModuleObject* gl_new_fiscal_entity() { return new FiscalEntity(); }

ObjectLibrary gl_common_library() {
    ObjectLibrary lib;
    lib.name = "GLCOMMON";
    lib.module = "GL";
    lib.factories["_gl_new_fiscal_entity"] = &gl_new_fiscal_entity;
    lib.factories["_gl_new_account_builder"] = &gl_new_account_builder;
    return lib;
}

}  // namespace dz::modlibs
