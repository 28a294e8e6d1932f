#include "converters/gl/glm_fields.h"

#include "convert/texts.h"
#include "platform/datafile/xio.h"
#include "platform/import/xvl_rcstring.h"
#include "platform/suite/util.h"
#include "platform/suite/xk.h"

#include <cmath>
#include <cstdio>

namespace dz::gl {

uint16_t FieldNo(uint16_t glm, uint16_t rec, const char* name) { return xio_num(glm, XIO_NUM_RECORD, rec, name); }

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
    std::string text = account;
    suite::xk_get_section(suite::kGlAccountFormat, false, section, text);
    return text;
}

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
    xio_init_record(glm, rec);
    PutText(glm, FieldNo(glm, rec, field), key);
    return xio_rd_record(glm, rec, 0, 0) == XIO_OK;
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
