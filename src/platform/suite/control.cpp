#include "platform/suite/control.h"

#include "platform/suite/company.h"
#include "platform/suite/internal.h"

#include <map>
#include <optional>

namespace dz::suite {

namespace {

// The control-file session: a working copy of the interfaces, written back on request.
struct Session {
    bool update = false;
    std::vector<InterfaceDef> interfaces;
};

std::optional<Session>& session() {
    static std::optional<Session> s;
    return s;
}

const std::vector<InterfaceDef>& interfaces() {
    if (session()) return session()->interfaces;
    return active_settings().interfaces;
}

const InterfaceDef* find_interface(std::string_view from, std::string_view to) {
    for (const auto& i : interfaces()) {
        if (equal_nocase(i.from, from) && equal_nocase(i.to, to)) return &i;
    }
    return nullptr;
}

}  // namespace

std::uint16_t xa_appl_installed(std::string_view code) {
    for (const auto& a : active_settings().installed) {
        if (equal_nocase(a, code)) return 1;
    }
    return 0;
}

std::uint16_t xa_get_appl_code(std::string_view) { return current_company() ? 0 : 0xFFFF; }

bool xa_get_zq_nam(std::string_view abbr, std::string& name) {
    // Names without the word "file": the messages that describe a data file add it themselves.
    static const std::map<std::string, std::string> names = {
        {"GLM", "Master"},   {"GLT", "Transaction"}, {"JCM", "Master"},   {"JCT", "Transaction"},
        {"CMM", "Master"},   {"CMT", "Transaction"}, {"APM", "Master"},   {"APT", "Transaction"},
        {"PRM", "Master"},   {"PRS", "System"},      {"PMP", "Property"}, {"PMS", "System"},
        {"PML", "Lease"},    {"PMR", "Retail"},      {"PMV", "Recovery"}, {"PMN", "Tenant"},
        {"PMT", "Transaction"}, {"ARM", "Master"},   {"ARS", "System"},   {"TXM", "Master"}};
    std::string key(abbr);
    for (char& c : key) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    auto it = names.find(key);
    if (it == names.end() || !xa_appl_installed(key.substr(0, 2))) return false;
    name = it->second;
    return true;
}

bool xa_get_zq_apl(std::string_view code, std::string& name) {
    static const std::map<std::string, std::string> names = {
        {"GL", "General Ledger"},      {"JC", "Job Cost"},          {"CM", "Cash Management"},
        {"AP", "Accounts Payable"},    {"PR", "Payroll"},           {"PM", "Property Management"},
        {"AR", "Accounts Receivable"}, {"EQ", "Equipment Cost"},    {"BL", "Billing"},
        {"TX", "Tax"}};
    std::string key(code);
    for (char& c : key) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    auto it = names.find(key);
    if (it == names.end()) return false;
    name = it->second;
    return true;
}

int xa_get_zq_dst(int max, x_zq_dst_info& record, std::string_view source, std::string_view destination) {
    if (max < 1) return 0;
    const InterfaceDef* i = find_interface(source, destination);
    if (!i) return 0;
    record.source = i->from;
    record.destination = i->to;
    return 1;
}

std::uint16_t xc_open_control_file(int update) {
    if (!current_company()) return kControlFileFailed;
    session() = Session{update != 0, active_settings().interfaces};
    return 0;
}

void xc_cls_control_file() { session().reset(); }

bool xc_wr_control_file() {
    Company* c = current_company();
    if (!c || !session() || !session()->update) return false;
    const std::vector<InterfaceDef> wanted = session()->interfaces;
    return update_settings_file(
        *c,
        [&](CompanySettings& disk) {
            disk.interfaces = wanted;
            return true;
        },
        [](const CompanySettings& disk, CompanySettings& mem) { mem.interfaces = disk.interfaces; });
}

bool xc_get_interface_def(xc_interface_def& def) {
    const InterfaceDef* i = find_interface(def.source, def.destination);
    if (!i || !i->active) return false;
    def.createEntries = i->creates_entries ? 1 : 0;
    return true;
}

bool xc_activate_interface(xc_interface_def& def) {
    if (!session() || !session()->update) return false;
    for (auto& i : session()->interfaces) {
        if (equal_nocase(i.from, def.source) && equal_nocase(i.to, def.destination)) {
            i.active = true;
            i.creates_entries = true;
            def.createEntries = 1;
            return true;
        }
    }
    return false;
}

bool xc_get_control_def(xc_control_def& def) {
    const Company* c = current_company();
    if (!c) return false;
    def.accountingMethod = static_cast<std::uint16_t>(c->settings().accounting_method);
    def.appCodeBit0 = static_cast<std::uint16_t>(c->settings().jc_transaction_flag);
    def.companyName = c->settings().name;
    return true;
}

std::filesystem::path xc_get_file_control_def(std::string_view abbr) {
    const Company* c = current_company();
    return c ? c->data_folder(std::string(abbr)) : std::filesystem::path();
}

std::uint16_t xs_option_allowed(int group, int option, std::string_view source) {
    for (const auto& [app, opts] : active_settings().security_allowed) {
        if (equal_nocase(app, source)) return opts.count(group * 1000 + option) ? 1 : 0;
    }
    return 0;
}

xs_oper_def xs_get_oper_def() {
    const Company* c = current_company();
    if (!c) return {};
    return xs_oper_def{true, c->settings().operator_name};
}

int xa_module_country(std::string_view module) {
    if (!current_company()) return 0;
    if (equal_nocase(module, "AP")) return active_settings().country_ap;
    if (equal_nocase(module, "PR")) return active_settings().country_pr;
    return 0;
}

std::uint32_t xf_load_formula(std::string_view name) {
    const auto& f = active_settings().formulas;
    for (std::size_t i = 0; i < f.size(); ++i) {
        if (equal_nocase(f[i], name)) return static_cast<std::uint32_t>(i + 1);
    }
    return 0;
}

void xf_free_formula(std::uint32_t) {}

bool FormulaExists(std::string_view name) {
    std::uint32_t handle = xf_load_formula(name);
    if (handle == 0) handle = xf_load_formula(name);
    if (handle == 0) return false;
    xf_free_formula(handle);
    return true;
}

}  // namespace dz::suite
