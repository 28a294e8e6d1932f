#include "tables/substitution_set.h"

#include "platform/datafile/xio.h"
#include "platform/import/xvl_rcstring.h"
#include "platform/suite/xk.h"
#include "tables/master_file.h"
#include "tables/substitution_fields.h"

#include <utility>

namespace dz::tables {

namespace {

constexpr int kMsgNotFound = 12071;
constexpr int kMsgNoNewValue = 12072;
constexpr int kMsgCannotLoad = 12015;

constexpr uint16_t kOptionWarn = 2;
constexpr uint16_t kOptionReject = 3;

// What a table's option says for a missing entry or a blank new value: warn (the message
// joins the record's list), reject (the message becomes the reason), or keep silently.
bool FollowOption(SubstitutionSet& set, uint16_t option, std::string text, std::string& rejectMsg) {
    if (option == kOptionWarn) {
        set.messages().push_back(std::move(text));
        return true;
    }
    if (option == kOptionReject) {
        rejectMsg = std::move(text);
        return false;
    }
    return true;
}

}  // namespace

// ---- The set ----------------------------------------------------------------------------------

SubstitutionSet::SubstitutionSet(uint16_t command, std::string group, std::vector<std::string>& messages)
    : command_(command), group_(std::move(group)), messages_(messages) {
    if (!group_.empty()) LoadDefinitions();
}

SubstitutionSet::~SubstitutionSet() {
    if (handle_ != 0) xio_cls_file(handle_);
}

bool SubstitutionSet::LoadDefinitions() {
    definitions_.clear();
    if (handle_ != 0) {
        xio_cls_file(handle_);
        handle_ = 0;
    }
    uint16_t h = 0;
    if (SubstitutionMasterFile::OpenByPath(h) != XIO_OK || h == 0) return false;
    if (!fields_.Resolve(h)) {
        xio_cls_file(h);
        return false;
    }
    xio_init_record(h, kDefinitionRecord);
    PutText(h, kDefinitionRecord, fields_.dTable, group_);
    PutNumber(h, kDefinitionRecord, fields_.dAppl, 0);
    PutNumber(h, kDefinitionRecord, fields_.dField, 0);
    for (int s = xio_rd_ge(h, kDefinitionRecord, 0, 0);
         s == XIO_OK && SameText(GetText(h, kDefinitionRecord, fields_.dTable), group_);
         s = xio_rd_next(h, kDefinitionRecord, 0, 0)) {
        TableDefinition d;
        d.fieldId = static_cast<uint16_t>(GetCount(h, kDefinitionRecord, fields_.dField));
        d.blankValueOption = static_cast<uint16_t>(GetCount(h, kDefinitionRecord, fields_.dNewBlk));
        d.notFoundOption = static_cast<uint16_t>(GetCount(h, kDefinitionRecord, fields_.dNoExst));
        d.mapJobToExtra = GetNumber(h, kDefinitionRecord, fields_.dXOnJob) != 0 ? 1 : 0;
        definitions_.push_back(d);
    }
    if (definitions_.empty()) {
        // A name that is no group at all must not pass for a group without tables.
        xio_init_record(h, kGroupRecord);
        PutText(h, kGroupRecord, fields_.table, group_);
        if (xio_find_record(h, kGroupRecord, 0) != XIO_OK) {
            xio_cls_file(h);
            return false;
        }
    }
    handle_ = h;
    return true;
}

TableDefinition SubstitutionSet::FindDefinition(int fieldId, int section) const {
    int kind = 0;
    if (section == 0) {
        kind = fieldId;
    } else if (fieldId == kFieldGlAccount) {
        using namespace suite;
        switch (section) {
            case kGlPrefixA: kind = kFieldGlPrefixA; break;
            case kGlPrefix:
                kind = xk_width(kGlAccountFormat, kGlPrefixCPart) >= 1   ? kFieldGlPrefixABC
                       : xk_width(kGlAccountFormat, kGlPrefixBPart) >= 1 ? kFieldGlPrefixAB
                                                                           : kFieldGlPrefixA;
                break;
            case kGlBaseAccount: kind = kFieldGlBase; break;
            case kGlPrefixAB: kind = kFieldGlPrefixAB; break;
            case kGlPrefixABC: kind = kFieldGlPrefixABC; break;
            default: break;
        }
    }
    if (kind == 0) return {};
    for (const auto& d : definitions_)
        if (d.fieldId == kind) return d;
    return {};
}

bool SubstitutionSet::PendingExtraFor(int32_t startLine, uint16_t fieldNumber, std::string& extra) const {
    if (handle_ == 0 || pending_.value.empty() || pending_.startLine != startLine ||
        pending_.fieldNumber != fieldNumber)
        return false;
    extra = pending_.value;
    return true;
}

void SubstitutionSet::SetPendingExtra(uint16_t fieldNumber, int32_t startLine, std::string_view value) {
    pending_.fieldNumber = fieldNumber;
    pending_.startLine = startLine;
    pending_.value = CutValue(value);
}

bool SubstitutionSet::LookUp(uint16_t fieldId, std::string_view oldValue) {
    if (handle_ == 0) return false;
    xio_init_record(handle_, kEntryRecord);
    PutText(handle_, kEntryRecord, fields_.fTable, group_);
    PutNumber(handle_, kEntryRecord, fields_.fField, fieldId);
    PutText(handle_, kEntryRecord, fields_.fOldVal, CutValue(oldValue));
    // Any failure of the read counts as a missing entry.
    return xio_rd_record(handle_, kEntryRecord, 0, 0) == XIO_OK;
}

std::string SubstitutionSet::EntryText(const char* fieldName) const {
    uint16_t fld = fields_.EntryField(fieldName);
    if (handle_ == 0 || fld == 0) return {};
    return GetText(handle_, kEntryRecord, fld);
}

std::string SubstitutionSet::LoadFailureText(std::string_view group) {
    return xvl::xvlRCString::Get(kMsgCannotLoad, group);
}

// ---- GL account parts -------------------------------------------------------------------------

void GlPrefixFieldName(const SubstitutionSet& set, int& section, std::string& fieldName) {
    if (set.definitions().empty()) return;
    switch (set.definitions().front().fieldId) {
        case kFieldGlAccount: section = suite::kGlWhole; fieldName = "NEWACCT"; break;
        case kFieldGlPrefixA: section = suite::kGlPrefixA; fieldName = "NEWPREA"; break;
        case kFieldGlPrefixAB: section = suite::kGlPrefixAB; fieldName = "NEWPREB"; break;
        case kFieldGlPrefixABC: section = suite::kGlPrefixABC; fieldName = "NEWPREC"; break;
        case kFieldGlBase: section = suite::kGlBaseAccount; fieldName = "NEWBASE"; break;
        default: break;
    }
}

std::string GetAccountSection(std::string_view account, int section) {
    std::string text(account);
    std::string plain = text;
    suite::xk_unformat_field(suite::kGlAccountFormat, 0, plain);
    const bool cameFormatted = plain != text;
    suite::xk_get_section(suite::kGlAccountFormat, false, section, plain);
    if (cameFormatted) suite::xk_format_field(suite::kGlAccountFormat, section, plain);
    return plain;
}

void SetAccountSection(int section, std::string_view part, std::string& account) {
    using namespace suite;
    std::string plain = account;
    xk_unformat_field(kGlAccountFormat, 0, plain);
    auto sec = [&](int s) {
        std::string t = plain;
        xk_get_section(kGlAccountFormat, false, s, t);
        return t;
    };
    const std::string b = sec(kGlPrefixBPart), c = sec(kGlPrefixCPart), base = sec(kGlBaseAccount),
                      abc = sec(kGlPrefixABC);
    std::string result;
    switch (section) {
        case kGlPrefixA: result = std::string(part) + b + c + base; break;
        case kGlPrefixAB: result = std::string(part) + c + base; break;
        case kGlPrefixABC: result = std::string(part) + base; break;
        case kGlBaseAccount: result = abc + std::string(part); break;
        default: result = std::string(part); break;  // a whole-account table: the new account
    }
    xk_unformat_field(kGlAccountFormat, 0, result);
    xk_format_field(kGlAccountFormat, 0, result);
    account = result;
}

void PutFieldTruncated(int16_t dataFileHandle, std::string_view extra, int16_t fieldId, int16_t fieldNo) {
    if (dataFileHandle == 0 || (fieldId != kFieldJob && fieldId != kFieldUnionLocal)) return;
    const auto h = static_cast<uint16_t>(dataFileHandle);
    const auto next = static_cast<uint16_t>(fieldNo + 1);
    xio_fld_def def;
    if (xio_get_fld_def(h, next, def) != XIO_OK) return;
    const int want = fieldId == kFieldJob ? kExtraFormat : kLocalFormat;
    if (def.keyFormat != want) return;
    std::string value(extra);
    const int width = suite::xk_width(want, 0);
    // A company without that description has no width to cut to; the value is kept whole
    // rather than emptied.
    if (width > 0 && value.size() > static_cast<std::size_t>(width)) value.resize(static_cast<std::size_t>(width));
    x_value_def v;
    v.text = value;
    xio_put_field(h, 0, next, v);
}

// ---- The callback -----------------------------------------------------------------------------

bool SubstituteValue(std::string& value, int16_t fieldId, int16_t section, int16_t dataFileHandle,
                     int16_t fieldNo, std::string& rejectMsg, int32_t startLine, void* ctx) {
    auto* set = static_cast<SubstitutionSet*>(ctx);
    if (!set || value.empty() || set->handle() == 0) return true;
    using xvl::xvlRCString;
    const std::string original = value;

    // The group's GL kind: a group whose first table holds a part of the account substitutes
    // that part within every account value handed over.
    int glSection = section;
    std::string glNewField = "NEWBASE";
    GlPrefixFieldName(*set, glSection, glNewField);

    // The group's part is substituted only within a value that holds it: a whole account holds
    // every part, a joined prefix the prefixes before it. Any other value (a base account, a
    // prefix A) is looked up in the table of its own section, whatever the group's first table.
    auto holds = [](int outer, int part) {
        switch (outer) {
            case suite::kGlWhole:
            case suite::kGlDisplay: return true;
            case suite::kGlPrefix: return part != suite::kGlBaseAccount;  // the whole prefix
            case suite::kGlPrefixAB: return part == suite::kGlPrefixA;
            case suite::kGlPrefixABC: return part == suite::kGlPrefixA || part == suite::kGlPrefixAB;
            default: return false;
        }
    };
    int plainSection = section;
    if (fieldId == kFieldGlAccount &&
        (section == suite::kGlDisplay || (glSection != section && holds(section, glSection)))) {
        const bool part = glSection != section;
        const TableDefinition def = set->FindDefinition(kFieldGlAccount, glSection);
        if (def.fieldId != 0) {
            const std::string old = part ? GetAccountSection(value, glSection) : value;
            if (set->LookUp(def.fieldId, old)) {
                const std::string newValue = set->EntryText(glNewField.c_str());
                if (!IsBlankValue(newValue)) {
                    if (part)
                        SetAccountSection(glSection, newValue, value);
                    else
                        value = newValue;
                    return true;
                }
                const std::string table = suite::xk_description(fieldId, section);
                return FollowOption(*set, def.blankValueOption, xvlRCString::Get(kMsgNoNewValue, table, original),
                                    rejectMsg);
            }
        }
        plainSection = 0;
    }

    const TableDefinition def = set->FindDefinition(fieldId, plainSection);
    if (def.fieldId == 0) return true;
    const std::string table = suite::xk_description(fieldId, plainSection);
    if (!set->LookUp(def.fieldId, value))
        return FollowOption(*set, def.notFoundOption, xvlRCString::Get(kMsgNotFound, original, table), rejectMsg);

    const char* thirdField = ThirdValueFieldName(def.fieldId);
    if (def.mapJobToExtra && thirdField) {
        const std::string extra = set->EntryText(thirdField);
        if (!extra.empty()) {
            set->SetPendingExtra(static_cast<uint16_t>(fieldNo), startLine, extra);
            PutFieldTruncated(dataFileHandle, set->pendingExtra().value, fieldId, fieldNo);
        }
    }
    const std::string newValue = set->EntryText(NewValueFieldName(def.fieldId));
    if (!IsBlankValue(newValue)) {
        value = newValue;
        return true;
    }
    return FollowOption(*set, def.blankValueOption, xvlRCString::Get(kMsgNoNewValue, table, original), rejectMsg);
}

}  // namespace dz::tables
