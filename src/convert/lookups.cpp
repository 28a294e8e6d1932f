#include "convert/lookups.h"

#include "convert/record_fields.h"
#include "platform/datafile/xio.h"
#include "platform/import/xvl_case.h"
#include "platform/import/xvl_helpers.h"
#include "platform/suite/util.h"
#include "platform/suite/xk.h"

namespace dz::convert {

namespace {

void PutKeys(uint16_t file, uint16_t rec, std::initializer_list<KeyValue> keys) {
    xio_init_record(file, rec);
    for (const auto& k : keys) PutText(file, FieldNo(file, rec, k.field), k.value);
}

}  // namespace

bool ReadByKeys(uint16_t file, uint16_t rec, std::initializer_list<KeyValue> keys) {
    PutKeys(file, rec, keys);
    if (xio_rd_record(file, rec, 0, 0) == XIO_OK) return true;
    PutKeys(file, rec, keys);
    return false;
}

bool Exists(uint16_t file, uint16_t rec, std::initializer_list<KeyValue> keys, uint16_t key) {
    if (!file) return false;
    PutKeys(file, rec, keys);
    return xio_find_record(file, rec, key) == XIO_OK;
}

int FindStatus(uint16_t file, uint16_t rec, const char* field, const std::string& value) {
    PutKeys(file, rec, {{field, value}});
    return xio_find_record(file, rec, 0);
}

std::string ComparedKey(uint16_t file, uint16_t rec, const char* field, const std::string& value) {
    const uint16_t number = FieldNo(file, rec, field);
    PutText(file, number, value);
    std::string key = GetText(file, number);
    for (char& c : key) c = xvl::foldAscii(c);
    return key;
}

const std::string& LookupCache::Key(uint16_t file, uint16_t rec, const char* field, const std::string& value) {
    // Built in one buffer kept across look-ups: a hit allocates nothing. The handle and record
    // go in as fixed-width bytes and the field name ends at a tab, so no two look-ups share a key.
    key_.clear();
    const char head[4] = {static_cast<char>(file >> 8), static_cast<char>(file & 0xFF), static_cast<char>(rec >> 8),
                          static_cast<char>(rec & 0xFF)};
    key_.append(head, sizeof head).append(field).append(1, '\t').append(value);
    return key_;
}

int LookupCache::Status(uint16_t file, uint16_t rec, const char* field, const std::string& value) {
    const std::string& key = Key(file, rec, field, value);
    if (auto it = answers_.find(key); it != answers_.end()) return it->second;
    const int status = FindStatus(file, rec, field, value);
    if (status == XIO_OK || status == XIO_NOT_FOUND) answers_.emplace(key, status);
    return status;
}

bool LookupCache::Missing(uint16_t file, uint16_t rec, const char* field, const std::string& value) {
    return Status(file, rec, field, value) == XIO_NOT_FOUND;
}

void LookupCache::Found(uint16_t file, uint16_t rec, const char* field, const std::string& value) {
    answers_[Key(file, rec, field, value)] = XIO_OK;
}

uint16_t ZeroRange(uint16_t file, uint16_t first, uint16_t last, double& firstValue) {
    // Amounts hold whole hundredths (or ten-thousandths): the field result is 0 exactly when the
    // amount is. The data-file layer walks the range in one call.
    return xio_zero_numbers(file, first, last, firstValue);
}

std::string FieldDescription(uint16_t file, uint16_t field, bool capitalised, Fallback fallback) {
    xio_fld_def def;
    if (xio_get_fld_def(file, field, def) != XIO_OK) return {};
    std::string text = def.description.empty() && fallback == Fallback::FieldName ? def.name : def.description;
    if (capitalised) suite::x_upper_first(text);
    return text;
}

std::string FieldDescription(uint16_t file, uint16_t rec, const char* name, bool capitalised) {
    xio_fld_def def;
    if (xio_get_fld_def(file, FieldNo(file, rec, name), def) != XIO_OK) return name;
    std::string text = def.description;
    if (capitalised) suite::x_upper_first(text);
    return text;
}

std::string Term(int n) { return suite::xk_description(n); }

std::string TermCap(int n) {
    std::string t = suite::xk_description(n);
    suite::x_upper_first(t);
    return t;
}

std::string TermPlural(int n, bool capitalised) {
    std::string t = capitalised ? TermCap(n) : Term(n);
    suite::x_pluralize(t);
    return t;
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

std::string UnformattedAccount(const std::string& value, int section) {
    std::string raw = value;
    suite::xk_unformat_field(suite::kGlAccountFormat, section, raw);
    return raw;
}

bool ValidAccount(const std::string& value, int section) {
    return xvl::xvl_imp_is_sectioned_field_valid(suite::kGlAccountFormat, value, section) != 0;
}

}  // namespace dz::convert
