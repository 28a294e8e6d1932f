// dodedoz-cli tables list|show: a look at the substitution tables of a company.
//
//   tables list --company DIR
//       every table group with its tables: application, field id and name, entry count and
//       the two options (what a blank new value and an old value not in the table do).
//   tables show --company DIR GROUP [--app A] [--field F]
//       the entries of the group's tables (or of the one chosen), one per line in the table
//       text format "old,new" or "old,new,third", each table under a heading line.
#include "cli/commands.h"

#include "platform/datafile/xio.h"
#include "platform/suite/company.h"
#include "platform/suite/xk.h"
#include "tables/master_file.h"
#include "tables/substitution_fields.h"

#include <cctype>
#include <iostream>
#include <memory>
#include <sstream>

namespace {

using namespace dz;
using namespace dz::tables;

constexpr uint16_t kTablesCommand = 4010;

// The name of a table's field as the editor lists it.
std::string FieldName(uint16_t fieldId) {
    auto gl = [](int section, const char* fallback) {
        std::string d = suite::xk_description(suite::kGlAccountFormat, section);
        return d.empty() ? std::string(fallback) : d;
    };
    switch (fieldId) {
        case kFieldGlPrefixA: return gl(suite::kGlPrefixA, "Prefix A");
        case kFieldGlPrefixAB: return gl(suite::kGlPrefixAB, "Prefix AB");
        case kFieldGlPrefixABC: return gl(suite::kGlPrefixABC, "Prefix ABC");
        case kFieldGlBase: return gl(suite::kGlBaseAccount, "Base account");
        default: {
            std::string d = suite::xk_description(fieldId, 0);
            return d.empty() ? "field " + std::to_string(fieldId) : d;
        }
    }
}

std::string AppCode(uint32_t appl) {
    const SubstitutionApplication* a = FindApplication(appl);
    return a ? std::string(a->code) : "application " + std::to_string(appl);
}

std::string TableHeading(const TableSummary& t) {
    std::ostringstream s;
    s << AppCode(t.application) << " " << t.fieldId << " " << FieldName(t.fieldId) << ": " << t.entries
      << (t.entries == 1 ? " entry" : " entries");
    if (ThirdValueFieldName(t.fieldId) && t.mapJobToExtra != 0) s << ", with new extra";
    s << " (blank new value " << t.blankValueOption << ", not found " << t.notFoundOption << ")";
    return s.str();
}

// Opens the company and its table file; prints why on failure.
bool OpenTables(const std::string& dir, const char* what, SubstitutionMasterFile*& out,
                std::unique_ptr<SubstitutionMasterFile>& holder) {
    std::error_code ec;
    if (!std::filesystem::is_directory(dir, ec)) {
        std::cerr << "dodedoz-cli: tables " << what << ": company folder " << dir << " does not exist\n";
        return false;
    }
    try {
        suite::open_company(dir);
    } catch (const suite::SettingsError& e) {
        std::cerr << "dodedoz-cli: tables " << what << ": " << e.what() << "\n";
        return false;
    }
    holder = std::make_unique<SubstitutionMasterFile>(kTablesCommand);
    if (holder->handle() <= 0) {
        // The table file's constructor goes on to other files after a failed open, so the error
        // text no longer tells why this one failed: the open is made again here for its own error.
        std::string detail;
        if (holder->handle() != 0) {
            xio_ask_request req;
            req.command = kTablesCommand;
            req.abbr = kXvmAbbr;
            uint16_t h = 0;
            if (xio_ask_file(req, h) == XIO_OK && h != 0) {
                xio_cls_file(h);
                detail = "it is not a table file";
            } else {
                detail = xio_error_text();
            }
        }
        std::cerr << "dodedoz-cli: tables " << what << ": " << kXvmFileName
                  << (holder->handle() == 0 ? " does not exist" : " cannot be opened") << " in "
                  << SubstitutionMasterFile::MasterPath().parent_path().string();
        if (!detail.empty()) std::cerr << ": " << detail;
        std::cerr << "\n";
        return false;
    }
    out = holder.get();
    return true;
}

int RunList(const std::string& dir) {
    xio_read_only_scope readOnly;  // a look: nothing is written, no file upgraded
    SubstitutionMasterFile* mf = nullptr;
    std::unique_ptr<SubstitutionMasterFile> holder;
    if (!OpenTables(dir, "list", mf, holder)) return cli::kExitFailure;
    std::vector<GroupSummary> groups;
    const int status = mf->ListGroups(groups);
    mf->Close();
    if (status != XIO_OK) {
        std::cerr << "dodedoz-cli: tables list: " << kXvmFileName << " cannot be read (status " << status << ")\n";
        return cli::kExitFailure;
    }
    if (groups.empty()) std::cout << "No table groups\n";
    for (const auto& g : groups) {
        std::cout << g.name << "\n";
        if (g.tables.empty()) std::cout << "  (no tables)\n";
        for (const auto& t : g.tables) std::cout << "  " << TableHeading(t) << "\n";
    }
    return cli::kExitOk;
}

// --app takes an application code ("GL") or its number (1 to 8).
bool ParseApp(const std::string& text, uint32_t& appl) {
    for (const auto& a : SubstitutionApplications()) {
        if (SameText(text, a.code) || text == std::to_string(a.number)) {
            appl = a.number;
            return true;
        }
    }
    return false;
}

int RunShow(const std::string& dir, const std::string& group, const std::string& appText, int field, bool fieldGiven) {
    xio_read_only_scope readOnly;  // a look: nothing is written, no file upgraded
    uint32_t appl = 0;
    if (!appText.empty() && !ParseApp(appText, appl)) {
        std::cerr << "dodedoz-cli: tables show: unknown application '" << appText
                  << "' (use GL, JC, AP, PR, PM, XX, TL or AR)\n";
        return cli::kExitUsage;
    }
    if (fieldGiven && (field <= 0 || field > 65535)) {
        std::cerr << "dodedoz-cli: tables show: field id " << field << " is out of range\n";
        return cli::kExitUsage;
    }
    SubstitutionMasterFile* mf = nullptr;
    std::unique_ptr<SubstitutionMasterFile> holder;
    if (!OpenTables(dir, "show", mf, holder)) return cli::kExitFailure;
    std::vector<GroupSummary> groups;
    int status = mf->ListGroups(groups);
    if (status != XIO_OK) {
        mf->Close();
        std::cerr << "dodedoz-cli: tables show: " << kXvmFileName << " cannot be read (status " << status << ")\n";
        return cli::kExitFailure;
    }
    const GroupSummary* g = nullptr;
    for (const auto& candidate : groups)
        if (SameText(candidate.name, group)) g = &candidate;
    if (!g) {
        mf->Close();
        std::cerr << "dodedoz-cli: tables show: table group '" << group << "' does not exist\n";
        return cli::kExitFailure;
    }
    std::ostringstream out;
    int shown = 0;
    for (const auto& t : g->tables) {
        if (appl != 0 && t.application != appl) continue;
        if (fieldGiven && t.fieldId != field) continue;
        SubstitutionTable doc(g->name, t.fieldId, t.application);
        status = mf->LoadRows(g->name, t.fieldId, doc);
        if (status != XIO_OK) {
            mf->Close();
            std::cerr << "dodedoz-cli: tables show: the entries of " << AppCode(t.application) << " " << t.fieldId
                      << " cannot be read (status " << status << ")\n";
            return cli::kExitFailure;
        }
        out << "[" << g->name << "] " << TableHeading(t) << "\n";
        const bool third = ThirdValueFieldName(t.fieldId) != nullptr && t.mapJobToExtra != 0;
        for (const SubstitutionRow* r = doc.firstRow; r; r = r->next) {
            out << r->oldValue << "," << r->newValue;
            if (third) out << "," << r->thirdValue;
            out << "\n";
        }
        ++shown;
    }
    mf->Close();
    if (shown == 0 && (appl != 0 || fieldGiven)) {
        std::cerr << "dodedoz-cli: tables show: table group '" << g->name << "' has no such table\n";
        return cli::kExitFailure;
    }
    std::cout << out.str();
    return cli::kExitOk;
}

const bool registered = dz::cli::register_command([](CLI::App& app, int& exitCode) {
    auto* cmd = app.add_subcommand("tables", "Look at the substitution tables of a company");
    cmd->require_subcommand(1);

    auto* list = cmd->add_subcommand("list", "Table groups with their tables and entry counts");
    auto listCompany = std::make_shared<std::string>();
    list->add_option("--company", *listCompany, "Company folder")->required();
    list->callback([=, &exitCode] { exitCode = RunList(*listCompany); });

    auto* show = cmd->add_subcommand("show", "The entries of a table group's tables");
    auto company = std::make_shared<std::string>();
    auto group = std::make_shared<std::string>();
    auto appText = std::make_shared<std::string>();
    auto field = std::make_shared<int>(0);
    show->add_option("--company", *company, "Company folder")->required();
    show->add_option("GROUP", *group, "Table group name")->required();
    show->add_option("--app", *appText, "Application code (GL, JC, AP, PR, PM, XX, TL, AR)");
    auto* fieldOpt = show->add_option("--field", *field, "Field id (9, 9001-9004, 16, ...)");
    show->callback([=, &exitCode] { exitCode = RunShow(*company, *group, *appText, *field, fieldOpt->count() > 0); });
});

}  // namespace
