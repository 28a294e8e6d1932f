#include "convert/platform_links.h"

#include "platform/import/xvl_helpers.h"
#include "platform/suite/control.h"
#include "platform/suite/util.h"
#include "platform/suite/xd.h"
#include "platform/suite/xk.h"
#include "platform/suite/zc.h"
#include "platform/ui/run_state.h"

#include <cstdio>

namespace dz::convert {

bool ModuleInstalled(const std::string& code) { return suite::xa_appl_installed(code) != 0; }

bool OperatorName(std::string& name) {
    const suite::xs_oper_def oper = suite::xs_get_oper_def();
    if (!oper.set || oper.name.empty()) return false;
    name = oper.name;
    return true;
}

x_date_type Today() { return suite::xd_get_date(); }
x_time_type Now() { return suite::xd_get_time(); }
std::pair<x_date_type, x_time_type> TodayAndNow() {
    const suite::LocalDateTime at = suite::xd_get_date_time();
    return {at.date, at.time};
}
std::string AlphaDate(const x_date_type& date) { return suite::xd_alpha_date(date); }
std::string AlphaTime(const x_time_type& time) { return suite::xd_alpha_time(time); }
void Capitalize(std::string& text) { suite::x_capitalize(text); }
void InitCaps(std::string& text) { suite::x_init_caps(text); }
bool KeyFormatMultiSection(uint16_t format) { return suite::xk_multi_section(format); }

std::string FormatKeyValue(uint16_t format, uint16_t section, const std::string& text) {
    std::string out = text;
    suite::xk_format_field(format, section, out);
    return out;
}

std::string MinimizeString(const std::string& text) {
    std::string out = text;
    xvl::xvl_imp_minimize_string(out);
    return out;
}

std::string AlphaNumber(double value, uint16_t decimals, uint16_t format) {
    return suite::zc_alpha_number(value, decimals, format);
}

std::string NewKeyIdentifier() { return suite::x_new_uuid(); }
std::string DataFolderOf(const std::string& abbreviation) { return suite::xc_get_file_control_def(abbreviation).string(); }
uint16_t ModuleCountry(const std::string& module) { return static_cast<uint16_t>(suite::xa_module_country(module)); }
std::string CustomDescription(uint16_t number) { return suite::xk_description(number); }
bool InBackground() { return ui::InBackground(); }
bool CheckTerminate() { return ui::CheckTerminate() != 0; }
void LogLine(const std::string& text) { suite::x_log(text); }

namespace {
InterfaceWarningFn interfaceWarning = nullptr;
}  // namespace

void SetInterfaceWarning(InterfaceWarningFn warning) { interfaceWarning = warning; }

bool CheckInterfaceWarning(const std::string& source, const std::string& destination, int securityOption) {
    return !interfaceWarning || interfaceWarning(source, destination, securityOption);
}

}  // namespace dz::convert
