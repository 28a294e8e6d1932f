// Installed applications, the control file (interfaces, accounting method, file control),
// security, the operator, module countries and formulas of the open company.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

namespace dz::suite {

inline constexpr std::uint16_t kControlFileFailed = 0xFFFF;

// Non-zero (1) when the application is installed in the open company.
std::uint16_t xa_appl_installed(std::string_view code);
// The application code of "zq", the framework itself: 0 while a company is open, 0xFFFF when
// there is none (the screen file is unusable).
std::uint16_t xa_get_appl_code(std::string_view code);
// The name of a data file of an installed application by its abbreviation, without the
// application ("GLM" -> "Master"; the messages add " file"); false when unknown.
bool xa_get_zq_nam(std::string_view abbr, std::string& name);
// The name of an application ("AP" -> "Accounts Payable"); false when unknown.
bool xa_get_zq_apl(std::string_view code, std::string& name);

// An interface destination record: an interface from `source` to `destination` is defined.
struct x_zq_dst_info {
    std::string source;
    std::string destination;
};
// Interface records from `source` to `destination` (at most `max`); the count found.
int xa_get_zq_dst(int max, x_zq_dst_info& record, std::string_view source, std::string_view destination);

// A control-file session. Open answers 0xFFFF when no company is open; with `update` the
// changes are kept by xc_wr_control_file.
std::uint16_t xc_open_control_file(int update);
void xc_cls_control_file();
// Writes the session's changes to the company's settings file; false when it cannot.
bool xc_wr_control_file();

// One interface of the control file.
struct xc_interface_def {
    std::string source;
    std::string destination;
    std::uint16_t createEntries = 0;  // 1 = entries are created
};
// True when the interface is turned on; fills its entry-creation flag.
bool xc_get_interface_def(xc_interface_def& def);
// Turns the interface on and stores its entry-creation flag as 1 (in the open session).
bool xc_activate_interface(xc_interface_def& def);

// The company's control definition.
struct xc_control_def {
    std::uint16_t accountingMethod = 3;  // 1 accrual only, 2 cash only, 3 both
    std::uint16_t appCodeBit0 = 0;       // 1: job cost transactions in JCT file 7
    std::string companyName;
};
bool xc_get_control_def(xc_control_def& def);
// The data folder of an abbreviation; empty when no company is open.
std::filesystem::path xc_get_file_control_def(std::string_view abbr);

// Non-zero when the operator may use option `option` of group `group` of application `source`.
std::uint16_t xs_option_allowed(int group, int option, std::string_view source);
struct xs_oper_def {
    bool set = false;
    std::string name;
};
xs_oper_def xs_get_oper_def();

// The country of a module's screen file (AP or PR): 1 USA, 2 Canada, 61 Australia; 0 when it
// cannot be read (no company, other module).
int xa_module_country(std::string_view module);

// Formulas: a handle != 0 when a formula of that name (any letter case) exists.
std::uint32_t xf_load_formula(std::string_view name);
void xf_free_formula(std::uint32_t handle);
// Whether a formula of that name exists: loaded (once more when the first load answers 0, as a
// formula being saved elsewhere may not be readable at once), and freed again.
bool FormulaExists(std::string_view name);

}  // namespace dz::suite
