#include "tables/substitution_fields.h"

#include "platform/datafile/utf8.h"
#include "platform/import/xvl_rcstring.h"
#include "platform/ui/shown_text.h"

#include <cctype>

namespace dz::tables {

const std::vector<SubstitutionApplication>& SubstitutionApplications() {
    static const std::vector<SubstitutionApplication> list = {
        {kApplGL, "GL", "General Ledger",
         {{kFieldGlAccount, ""}, {kFieldGlPrefixA, ""}, {kFieldGlPrefixAB, ""}, {kFieldGlPrefixABC, ""},
          {kFieldGlBase, ""}}},
        {kApplJC, "JC", "Job Cost", {{kFieldJob, ""}, {kFieldExtra, ""}, {kFieldPhase, ""}, {kFieldCategory, ""}}},
        {kApplAP, "AP", "Accounts Payable", {{6, ""}}},
        {kApplPR, "PR", "Payroll",
         {{28, ""}, {30, ""}, {33, ""}, {40, ""}, {43, ""}, {31, ""}, {kFieldUnionLocal, ""}, {39, ""}, {44, ""}}},
        {kApplPM, "PM", "Property Management",
         {{400, ""}, {401, ""}, {402, ""}, {403, ""}, {428, ""}, {415, ""}, {426, ""}, {435, ""}, {422, ""},
          {424, ""}, {416, ""}, {423, ""}, {431, ""}, {411, ""}, {410, ""}, {436, ""}, {420, ""}, {418, ""},
          {414, ""}, {434, ""}, {417, ""}, {427, ""}, {437, ""}, {408, ""}, {421, ""}, {419, ""}}},
        {kApplXX, "XX", "Miscellaneous", {{37, "TX"}, {7, "CM"}}},
        {kApplTL, "TL", "Issues", {{262, ""}, {265, ""}, {266, ""}}},
        {kApplAR, "AR", "Accounts Receivable", {{300, ""}, {301, ""}}},
    };
    return list;
}

const SubstitutionApplication* FindApplication(uint32_t number) {
    for (const auto& app : SubstitutionApplications())
        if (app.number == number) return &app;
    return nullptr;
}

uint32_t ApplicationOfField(uint16_t fieldId) {
    for (const auto& app : SubstitutionApplications())
        for (const auto& f : app.fields)
            if (f.id == fieldId) return app.number;
    return 0;
}

const char* NewValueFieldName(uint16_t fieldId) {
    switch (fieldId) {
        case kFieldGlAccount: return "NEWACCT";
        case kFieldGlPrefixA: return "NEWPREA";
        case kFieldGlPrefixAB: return "NEWPREB";
        case kFieldGlPrefixABC: return "NEWPREC";
        case kFieldGlBase: return "NEWBASE";
        case kFieldJob: return "NEWJOB";
        case kFieldPhase: return "NEWPHAS";
        default: return "FNEWVAL";
    }
}

const char* ThirdValueFieldName(uint16_t fieldId) {
    return (fieldId == kFieldJob || fieldId == kFieldUnionLocal) ? "NEWXONJ" : nullptr;
}

bool SameText(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (std::toupper(static_cast<unsigned char>(a[i])) != std::toupper(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

bool IsUnnamedGroup(std::string_view name) { return name.empty() || SameText(name, kNewTableGroup); }

namespace {

// A text too long for its place, named by its beginning: thousands of characters would bury
// the words.
std::string ShownBeginning(std::string_view text) {
    constexpr std::size_t kShown = 40;
    if (Utf8Length(text) <= kShown) return ui::shown_text(text);
    return ui::shown_text(Utf8Prefix(text, kShown)) + "...";
}

}  // namespace

std::string GroupNameTooLong(std::string_view name) {
    const std::size_t count = Utf8Length(name);
    if (count <= kGroupNameMax) return {};
    return xvl::xvlRCString::Get(kMsgGroupNameTooLong, ShownBeginning(name), std::to_string(count),
                                 std::to_string(kGroupNameMax));
}

std::string ListDefaultTooLong(std::string_view value, int list, std::size_t most) {
    const std::size_t count = Utf8Length(value);
    if (count <= most) return {};
    return xvl::xvlRCString::Get(kMsgListDefaultTooLong, ShownBeginning(value), std::to_string(list),
                                 std::to_string(count), std::to_string(most), std::to_string(list));
}

std::string GroupNameRefusal(std::string_view name) {
    if (std::string tooLong = GroupNameTooLong(name); !tooLong.empty()) return tooLong;
    // Character by character: a C1 control is one whether written in UTF-8 or as the lone byte
    // 0x80 to 0x9F that an eight-bit terminal acts on, while the same byte inside a letter's
    // UTF-8 form (the 0x89 of C3 89) is no control.
    for (std::size_t i = 0; i < name.size(); i += ui::shown_detail::unit_bytes(name, i)) {
        const std::size_t control = ui::shown_detail::control_bytes(name, i);
        if (control == 0) continue;
        return xvl::xvlRCString::Get(kMsgGroupNameControl, ui::shown_text(name),
                                     ui::shown_text(name.substr(i, control)));
    }
    return {};
}

std::string StoredGroupName(std::string_view name) { return std::string(Utf8Prefix(name, kGroupNameMax)); }

bool IsBlankValue(std::string_view value) { return value.empty() || value == " "; }

std::string CutValue(std::string_view value) { return std::string(Utf8Prefix(value, kValueMax)); }

}  // namespace dz::tables
