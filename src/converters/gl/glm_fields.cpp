#include "converters/gl/glm_fields.h"

#include "convert/texts.h"
#include "platform/datafile/xio.h"
#include "platform/import/xvl_rcstring.h"
#include "platform/suite/company.h"
#include "platform/suite/util.h"
#include "platform/suite/xk.h"

#include <array>
#include <cmath>
#include <cstdint>
#include <vector>
#include <cstdio>

namespace dz::gl {

namespace {

// Field numbers by handle, record and name: the handlers ask for the same few fields on every
// record, always by name literals. A hit is checked against the name, so a name held elsewhere
// at the same address is never taken for another.
struct FieldSlot {
    uint16_t glm = 0;
    uint16_t rec = 0;
    const char* ptr = nullptr;
    std::string name;
    uint16_t no = 0;
};
constexpr std::size_t kFieldSlots = 1024;  // a power of two: slots are the top 10 bits of a hash
std::vector<FieldSlot>& FieldSlots() {
    static std::vector<FieldSlot> slots(kFieldSlots);
    return slots;
}

// Where the parts of an account lie in its stored value, as the account format gives them.
struct Span {
    int offset = 0;
    int width = 0;  // 0: the part is not in use
};
struct Spans {
    bool ready = false;
    std::array<int, 12> format{};  // the account format they were taken from: levels, widths
    int levels = 0;
    Span prefixA, prefixAB, prefixABC, baseAccount;
};
// The open company's account format in a few numbers, to tell when it changed.
std::array<int, 12> FormatSignature() {
    std::array<int, 12> sig{};
    sig.fill(-1);
    const suite::Company* company = suite::current_company();
    if (!company) return sig;
    const auto it = company->settings().formats.find(suite::kGlAccountFormat);
    if (it == company->settings().formats.end()) return sig;
    sig[0] = it->second.prefix_levels;
    for (std::size_t i = 0; i < it->second.sections.size() && i + 1 < sig.size(); ++i)
        sig[i + 1] = it->second.sections[i].width;
    return sig;
}
Spans& AccountSpans() {
    static Spans spans;
    const auto sig = FormatSignature();
    if (!spans.ready || sig != spans.format) {
        spans.format = sig;
        const int fmt = suite::kGlAccountFormat;
        spans.levels = suite::xk_num_sections(fmt);
        spans.prefixA = {0, suite::xk_width(fmt, suite::kGlPrefixA)};
        spans.prefixAB = {0, suite::xk_width(fmt, suite::kGlPrefixAB)};
        spans.prefixABC = {0, suite::xk_width(fmt, suite::kGlPrefixABC)};
        spans.baseAccount = {suite::xk_width(fmt, suite::kGlPrefix), suite::xk_width(fmt, suite::kGlBaseAccount)};
        spans.ready = true;
    }
    return spans;
}

}  // namespace

uint16_t FieldNo(uint16_t glm, uint16_t rec, const char* name) {
    const std::uint64_t mixed =
        (static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(name)) ^ (std::uint64_t{glm} << 48) ^
         (std::uint64_t{rec} << 40)) * 0x9E3779B97F4A7C15ull;
    auto& slot = FieldSlots()[static_cast<std::size_t>(mixed >> 54)];  // 10 bits: kFieldSlots
    if (slot.ptr == name && slot.glm == glm && slot.rec == rec && slot.name == name) return slot.no;
    const uint16_t no = xio_num(glm, XIO_NUM_RECORD, rec, name);
    slot = FieldSlot{glm, rec, name, name, no};
    return no;
}

void ForgetFieldNumbers() {
    for (auto& slot : FieldSlots()) slot = FieldSlot{};
    AccountSpans().ready = false;
}

uint16_t HeaderFieldNo(uint16_t glm, uint16_t header, const char* name) {
    return xio_num(glm, XIO_NUM_HEADER, header, name);
}

x_value_def GetValue(uint16_t glm, uint16_t field) {
    x_value_def v;
    if (field) xio_get_field(glm, 0, field, v);
    return v;
}

std::string GetText(uint16_t glm, uint16_t field) {
    x_value_def v = GetValue(glm, field);
    return v.longText.empty() ? v.text : v.longText;
}

double GetNumber(uint16_t glm, uint16_t field) { return GetValue(glm, field).number; }
uint16_t GetFlag(uint16_t glm, uint16_t field) { return GetValue(glm, field).flag; }
x_date_type GetDate(uint16_t glm, uint16_t field) { return GetValue(glm, field).date; }

void PutText(uint16_t glm, uint16_t field, const std::string& text) {
    if (!field) return;
    x_value_def v;
    if (text.size() > x_value_def::kTextMax) {
        v.text = text.substr(0, x_value_def::kTextMax);
        v.longText = text;
    } else {
        v.text = text;
    }
    xio_put_field(glm, 0, field, v);
}

void PutNumber(uint16_t glm, uint16_t field, double number) {
    if (!field) return;
    x_value_def v;
    v.number = number;
    xio_put_field(glm, 0, field, v);
}

void PutFlag(uint16_t glm, uint16_t field, uint16_t flag) {
    if (!field) return;
    x_value_def v;
    v.flag = flag;
    xio_put_field(glm, 0, field, v);
}

int32_t Whole(double value) { return static_cast<int32_t>(std::trunc(value)); }

std::string AccountSection(const std::string& account, int section) {
    const Spans& spans = AccountSpans();
    const Span* span = section == suite::kGlPrefixA     ? &spans.prefixA
                       : section == suite::kGlPrefixAB  ? &spans.prefixAB
                       : section == suite::kGlPrefixABC ? &spans.prefixABC
                       : section == suite::kGlBaseAccount ? &spans.baseAccount
                                                          : nullptr;
    std::string text = account;
    if (!span) {
        suite::xk_get_section(suite::kGlAccountFormat, false, section, text);
        return text;
    }
    // The same positional cut as the key-format service, without building the layout each time.
    const auto off = static_cast<std::size_t>(span->offset);
    if (span->width == 0 || off >= text.size()) return {};
    text = text.substr(off, static_cast<std::size_t>(span->width));
    while (!text.empty() && text.back() == ' ') text.pop_back();
    return text;
}

int PrefixLevels() { return AccountSpans().levels; }

std::string FormatAccount(const std::string& value, int section) {
    std::string text = value;
    suite::xk_format_field(suite::kGlAccountFormat, section, text);
    return text;
}

std::string SectionDescription(int section, bool capitalised) {
    std::string text = suite::xk_description(suite::kGlAccountFormat, section);
    if (capitalised) suite::x_upper_first(text);
    return text;
}

bool FindInIdMap(uint16_t glm, uint16_t rec, const RecordIdMap& ids, uint16_t* code) {
    if (ids.empty()) return false;
    std::string text;
    convert::RecordIdText(glm, text, rec);
    const auto it = ids.find(text);
    if (it == ids.end()) return false;
    if (code) *code = it->second;
    return true;
}

bool ReadByKey(uint16_t glm, uint16_t rec, const char* field, const std::string& key) {
    const uint16_t keyNo = FieldNo(glm, rec, field);
    PutText(glm, keyNo, key);
    if (xio_rd_record(glm, rec, 0, 0) == XIO_OK) return true;
    xio_init_record(glm, rec);
    PutText(glm, keyNo, key);
    return false;
}

std::string MsgValues(int number, std::initializer_list<std::string_view> values) {
    return xvl::xvlRCString::GetValues(number, values);
}

std::string ModeWord(const char* pair, bool converting) {
    const std::string text = pair;
    const auto slash = text.find('/');
    if (slash == std::string::npos) return text;
    return converting ? text.substr(0, slash) : text.substr(slash + 1);
}

std::string FormatNumber(const char* format, double value) {
    char buf[64];
    std::snprintf(buf, sizeof buf, format, value);
    return buf;
}

std::string FormatInt(const char* format, long value) {
    char buf[64];
    std::snprintf(buf, sizeof buf, format, value);
    return buf;
}

std::string Amount(double hundredths) { return FormatNumber("%.2f", hundredths / 100.0); }

std::string ChoiceText(uint16_t glm, uint16_t field, double item, bool withBlank) {
    std::string text;
    xio_get_item_alpha(glm, field, static_cast<uint16_t>(item < 0 ? 0 : item), text);
    return text + FormatNumber(withBlank ? " (%.0f)" : "(%.0f)", item);
}

}  // namespace dz::gl
