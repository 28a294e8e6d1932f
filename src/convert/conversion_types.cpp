#include "convert/conversion_types.h"

#include "convert/platform_links.h"
#include "platform/datafile/data_folder.h"
#include "platform/import/xvl_encoding.h"
#include "platform/import/xvl_text.h"
#include "platform/ui/own_files.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <istream>
#include <sstream>

namespace dz::convert {
namespace {

// The modules in the order of the type list; module number n is the place in this table.
constexpr const char* kModules[] = {"GL", "JC", "CM", "AP", "PR", "PM", "AR"};

const std::vector<ConversionTypeEntry> kTypes = {
    {"GL Master Records", 101, "GLM"},         {"GL Transaction Records", 102, "GLT"},
    {"JC Standards Records", 201, "JCS"},      {"JC Master Records", 202, "JCM"},
    {"JC Transaction Records", 203, "JCT"},    {"CM Bank Records", 301, "CMM"},
    {"AP Vendor Records", 401, "APM"},         {"AP Invoice Records", 402, "API"},
    {"PR Employee Records", 501, "PRM"},       {"PM Property Records", 601, "PMP"},
    {"PM Lease Records", 602, "PML"},          {"PM Retail Records", 603, "PMR"},
    {"PM Recovery Records", 604, "PMV"},       {"PM Transaction Records", 605, "PMT"},
    {"PM History Trans Records", 606, "PMH"},  {"PM Issue Records", 607, "PMZ"},
    {"AR Contact & Cust Records", 701, "ARM"},
};

std::string g_appDataFolder;  // empty: the shipped data folder
constexpr const char* kTemplateSubfolder = "ACCOUNTING/TEMPLATE/";

std::string ShippedTemplateFolder() { return (dz::data_folder() / "templates").string() + "/"; }

bool EqualsNoCase(const std::string& a, const char* b) {
    std::string bs(b);
    return a.size() == bs.size() &&
           std::equal(a.begin(), a.end(), bs.begin(), [](char x, char y) {
               return std::toupper(static_cast<unsigned char>(x)) ==
                      std::toupper(static_cast<unsigned char>(y));
           });
}

// Rewinds an already opened stream and reads its first line, without a UTF-8 byte-order mark
// (spreadsheets write one before "CSV UTF-8").
void ReadFirstLine(std::istream& in, std::string& line) {
    in.clear();
    in.seekg(0);
    ReadTextLine(in, line);
    line.erase(0, xvl::Utf8BomLength(line));
}

void TrimLeading(std::string& s, const char* set) {
    s.erase(0, std::min(s.size(), s.find_first_not_of(set)));
}

void TrimTrailing(std::string& s, const char* set) {
    auto last = s.find_last_not_of(set);
    s.erase(last == std::string::npos ? 0 : last + 1);
}

}  // namespace

const std::vector<ConversionTypeEntry>& KnownConversionTypes() { return kTypes; }

const ConversionTypeEntry* FindConversionType(uint16_t code) {
    for (const auto& t : kTypes)
        if (t.code == code) return &t;
    return nullptr;
}

ConversionTypeList::ConversionTypeList() { BuildConversionTypeList(*this); }

bool ConversionTypeList::HasType(uint16_t code) const {
    return std::any_of(files.begin(), files.end(), [code](const TextFileEntry& f) { return f.code == code; });
}

void ConversionTypeList::GetTextFileTemplate(const std::string& textPath, std::string& templatePath) const {
    convert::GetTextFileTemplate(textPath, templatePath);
}

void BuildConversionTypeList(ConversionTypeList& list) {
    list.types.clear();
    for (int m = 0; m < 7; ++m) {
        if (!ModuleInstalled(kModules[m])) continue;
        const int base = 100 * (m + 1);
        for (int code = base + 1; code < base + 100; ++code) {
            const ConversionTypeEntry* t = FindConversionType(static_cast<uint16_t>(code));
            if (!t) break;
            list.types.push_back(*t);
        }
    }
}

void ReadTextLine(std::istream& in, std::string& line) { xvl::ReadTextLine(in, line); }

bool ReadConversionType(ConversionTypeList& list, std::istream& in, TextFileEntry& entry) {
    std::string line;
    ReadFirstLine(in, line);
    if (line.empty() || line[0] != '#') return false;
    const auto comma = line.find(',');
    if (comma == std::string::npos || comma + 1 >= line.size()) return false;

    // The type may be quoted or padded; its letters may even run into the next field.
    std::string abbr;
    for (std::size_t i = comma; i < line.size() && abbr.size() < 3; ++i) {
        const char c = line[i];
        if (c == ' ' || c == ',' || c == '\t' || c == '"') continue;
        abbr.push_back(c);
    }
    if (abbr.size() < 3) return false;

    for (const auto& t : list.types) {
        if (!EqualsNoCase(abbr, t.abbreviation)) continue;
        entry.code = t.code;
        if (t.code == 402) {
            if (line.find("DUPS OK") != std::string::npos)
                list.dupInvoiceMode = 2;
            else if (line.find("NO DUP DISP") != std::string::npos)
                list.dupInvoiceMode = 0;
        }
        return true;
    }
    return false;
}

bool ReadTemplatePath(std::istream& in, std::string& path) {
    path.clear();
    std::string line;
    ReadFirstLine(in, line);
    if (line.empty() || line[0] != '#') return false;
    const auto first = line.find(',');
    if (first == std::string::npos) return false;
    const auto second = line.find(',', first + 1);
    if (second == std::string::npos) return false;

    std::string name = line.substr(second + 1);
    TrimLeading(name, "\t \"");
    TrimTrailing(name, "\t ,\"");
    name = name.substr(0, name.find(','));
    // A quoted name followed by another field keeps no closing quote or padding.
    TrimTrailing(name, "\t \"");
    if (name.empty()) return false;

    const bool endsTpl = name.size() >= 3 && EqualsNoCase(name.substr(name.size() - 3), "tpl");
    if (!endsTpl && name.size() < 251) name += ".tpl";

    std::string full;
    if ((name.size() > 1 && name[1] == ':') || name.find_first_of("\\/") != std::string::npos) {
        if (name.size() >= 255) return false;
        full = name;
        std::replace(full.begin(), full.end(), '\\', '/');  // written on Windows: read as separators
    } else {
        const std::string folder = ApplicationDataFolder();
        if (folder.size() + name.size() + 19 >= 255) return false;
        full = folder + kTemplateSubfolder + name;
        // The templates shipped with the program stand in data/templates; a template of the
        // same name in the application-data folder comes first.
        std::error_code ec;
        const auto shipped = ShippedTemplateFolder() + name;
        if (!std::filesystem::is_regular_file(full, ec) && std::filesystem::is_regular_file(shipped, ec))
            full = shipped;
    }
    path = full;
    std::error_code ec;
    return std::filesystem::is_regular_file(path, ec);
}

FirstLineFault FindFirstLineFault(std::istream& in, std::string& mended) {
    std::string line;
    ReadFirstLine(in, line);
    const bool quoted = line.rfind("\"#\"", 0) == 0;
    if (!quoted && (line.empty() || line[0] != '#')) {
        mended = "#,GLM,xvglm";
        return FirstLineFault::NoHeader;
    }
    mended = line;
    mended.erase(std::remove(mended.begin(), mended.end(), '"'), mended.end());
    FirstLineFault fault = quoted ? FirstLineFault::Quoted : FirstLineFault::None;
    if (const char separator = xvl::OtherSeparator(mended)) {
        std::replace(mended.begin(), mended.end(), separator, ',');
        if (fault == FirstLineFault::None) fault = separator == ';' ? FirstLineFault::Semicolons : FirstLineFault::Tabs;
    }
    TrimTrailing(mended, "\t ,");
    return fault;
}

std::string DefaultTemplateName(const std::string& abbreviation) {
    std::string name = "xv" + abbreviation;
    for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return name;
}

std::vector<std::string> TemplateFolders(bool existingOnly) {
    std::vector<std::string> folders = {ApplicationDataFolder() + kTemplateSubfolder, ShippedTemplateFolder()};
    if (!existingOnly) return folders;
    std::vector<std::string> present;
    std::error_code ec;
    for (const auto& f : folders)
        if (std::filesystem::is_directory(f, ec)) present.push_back(f);
    return present.empty() ? folders : present;
}

void GetTextFileTemplate(const std::string& textPath, std::string& templatePath) {
    templatePath.clear();
    std::string head;
    if (files::read_file_head(textPath, 64 * 1024, head) != files::HeadRead::Ok) return;
    std::istringstream in(head);
    ReadTemplatePath(in, templatePath);
}

std::string ApplicationDataFolder() {
    std::string folder = g_appDataFolder.empty() ? dz::data_folder().string() : g_appDataFolder;
    if (!folder.empty() && folder.back() != '/') folder += '/';
    return folder;
}

void SetApplicationDataFolder(const std::string& folder) { g_appDataFolder = folder; }

}  // namespace dz::convert
