// The GL fiscal entity: an object of the GL common library ("GLCOMMON", factory
// "_gl_new_fiscal_entity") offering interface ("GL", 2). Given an account, it selects the
// fiscal calendar that governs the account, read from the GL master file:
//   - fiscal entity at company level (GL settings FISCENT 1): the company's calendar in the GL
//     settings header;
//   - fiscal entity at prefix level (FISCENT 2): the calendar of the prefix record that the
//     account's prefix A record names by its fiscal-entity level PAFISC (1 the prefix A record
//     itself, 2 the account's prefix AB record, 3 its prefix ABC record).
// Then it answers the calendar's period end dates, fiscal year ends and whether it uses 13
// periods.
//
// Use (callers obtain the object through CallModuleFunction and release it once):
//
//     GlFiscalEntity* entity = nullptr;
//     CallModuleFunction(glFiscalEntityObjectID, glInterfaceID(2), &entity);
//     if (entity) {
//         if (entity->SelectAccount(glm, account, 0)) {
//             x_date_type end;
//             if (entity->PeriodEndDate(date, end)) ...;
//         }
//         entity->Release();
//     }
#pragma once

#include "platform/datafile/x_value.h"
#include "platform/modlibs/module_object.h"
#include "platform/modlibs/registry.h"

#include <array>
#include <cstdint>
#include <string>

namespace dz::modlibs {

// Date kinds of GlFiscalEntity::GetDate.
enum FiscalDateKind : uint16_t {
    kFiscalCurrentPeriodEnd = 1,  // the calendar's period ending date (its current period)
    kFiscalCurrentYearEnd = 2,    // the fiscal ending date of the current year
    kFiscalCalendarStart = 3,     // the first day of the calendar (two years ago)
    kFiscalLastPeriodEnd = 6,     // the last period end of the calendar (next year's last period):
                                  // dates after it lie too far in the future to post
};

// Statuses of GlFiscalEntity::GetDate.
enum : uint16_t { kFiscalDateOk = 0, kFiscalNoAccount = 1, kFiscalNoSuchDate = 2 };

// Where the selected calendar lives: 1 the company, 2 a prefix A, 3 a prefix AB, 4 a prefix ABC.
enum FiscalEntityLevel : uint16_t { kEntityCompany = 1, kEntityPrefixA = 2, kEntityPrefixB = 3, kEntityPrefixC = 4 };

// The selected calendar: four years of 13 period ending dates (two years ago, last year, the
// current year, next year; a 13th period only when 13 periods are used).
struct GlFiscalCalendar {
    std::array<x_date_type, 52> periods{};
    x_date_type periodEnd;    // the current period's end
    int periodCode = 0;       // the current period
    x_date_type fiscalEnd;    // the current year's end
    x_date_type start;        // the day the calendar starts
    bool thirteen = false;
    uint16_t level = 0;       // FiscalEntityLevel
    std::string prefix;       // the prefix whose record holds it (empty for the company)
};

// Interface ("GL", 2).
class GlFiscalEntity : public ModuleObject {
public:
    // Selects the calendar that governs `account` (formatted or not) in the GL master file
    // `glm`. False when the account's prefix records or the calendar are missing. `flags` is 0.
    // The record buffers of the file are left as they were.
    virtual bool SelectAccount(uint16_t glm, const std::string& account, uint16_t flags) = 0;
    // The end of the period that holds `date`. False before the calendar start or after its
    // last period.
    virtual bool PeriodEndDate(const x_date_type& date, x_date_type& end) = 0;
    // The end of the fiscal year that holds `date`. False outside the calendar.
    virtual bool FiscalYearEndDate(const x_date_type& date, x_date_type& end) = 0;
    virtual bool UsesThirteenPeriods() = 0;
    // A date of the selected calendar by kind (FiscalDateKind); answers a status for IsSuccess.
    virtual uint16_t GetDate(uint16_t kind, x_date_type& date) = 0;
    virtual bool IsSuccess(uint16_t status) = 0;
    // The level that holds the selected calendar (FiscalEntityLevel); 0 before a selection.
    virtual uint16_t PrefixLevel() = 0;
    // The whole selected calendar.
    virtual const GlFiscalCalendar& Calendar() = 0;

protected:
    ~GlFiscalEntity() override = default;
};

// The factory entry "_gl_new_fiscal_entity".
ModuleObject* gl_new_fiscal_entity();

// The GL common library of object factories ("GLCOMMON", loaded with module GL).
ObjectLibrary gl_common_library();

}  // namespace dz::modlibs
