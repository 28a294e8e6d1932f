#include "converters/gl/xvglm.h"

#include "converters/gl/glm_fields.h"

#include "convert/progress.h"
#include "convert/texts.h"
#include "platform/datafile/xio.h"
#include "platform/import/xvl_import.h"
#include "platform/import/xvl_template.h"
#include "platform/suite/xk.h"
#include "tables/substitution_set.h"

#include <cctype>

namespace dz::gl {

using namespace convert;
using suite::xk_width;

namespace {

constexpr const char* kConversionName = "GL Master file";

// "1N" to "8N", in either letter case: the notes records of record types 1 to 8.
int NotesRecordOf(const std::string& formatId) {
    if (formatId.size() != 2 || std::toupper(static_cast<unsigned char>(formatId[1])) != 'N') return 0;
    if (formatId[0] < '1' || formatId[0] > '8') return 0;
    return formatId[0] - '0';
}

bool SameId(const std::string& a, const char* b) {
    std::string x = a;
    for (auto& c : x) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return x == b;
}

// The text of a special value, or nothing when the format has no such column.
bool SpecialText(const xvl::xvlImport& import, const std::string& format, const char* name, std::string& out) {
    auto v = import.xvlImpGetSpecialValue(format, name);
    if (!v) return false;
    out = v->longText.empty() ? v->text : v->longText;
    return true;
}

// Prefix parts given in pieces, joined; false when the format does not give all of them.
bool JoinedParts(const xvl::xvlImport& import, const std::string& format, std::initializer_list<const char*> names,
                 std::string& joined) {
    joined.clear();
    for (const char* n : names) {
        std::string part;
        if (!SpecialText(import, format, n, part)) return false;
        joined += part;
    }
    return true;
}

}  // namespace

ConverterProfile xvGLM::Profile() const {
    ConverterProfile p;
    p.abbreviation = "GLM";
    p.fileNo = 1;
    p.fileCode = 1;
    p.title = "GL Master File";
    p.description = "GL Master file";
    p.convertingText = "Converting '%s' into GL Master file";
    p.examiningText = "Examining '%s' for GL Master file";
    return p;
}

// ---- Files and settings -----------------------------------------------------------------------

bool xvGLM::LoadSettings(uint16_t glm) {
    ForgetFieldNumbers();
    ResolveFields(glm);
    parts_.clear();
    lastParts_ = {};
    controlMarked_ = -1;
    accountingMethod_ = 0;
    bool match = false;
    if (xio_rd_header(glm, kHdrAccountFormat, 0) == XIO_OK) {
        auto num = [&](const char* name) { return Whole(GetNumber(glm, HeaderFieldNo(glm, kHdrAccountFormat, name))); };
        if (GetFlag(glm, HeaderFieldNo(glm, kHdrAccountFormat, "CREATED")) != 1) {
            match = true;
        } else {
            const int fmt = suite::kGlAccountFormat;
            match = num("ALEN") <= xk_width(fmt, suite::kGlPrefixA) &&
                    num("BLEN") == xk_width(fmt, suite::kGlPrefixAB) &&
                    num("CLEN") == xk_width(fmt, suite::kGlPrefixABC) &&
                    num("BSLEN") == xk_width(fmt, suite::kGlBase) && num("SUFLEN") == xk_width(fmt, suite::kGlSuffix);
        }
        xio_free_header(glm, kHdrAccountFormat);
    }
    if (xio_rd_header(glm, kHdrSettings, 0) != XIO_OK) return match;
    if (Whole(GetNumber(glm, HeaderFieldNo(glm, kHdrSettings, "FISCENT"))) == 2) {
        fiscalAtPrefix = 1;
        balanceSheetLevel = static_cast<int16_t>(Whole(GetNumber(glm, HeaderFieldNo(glm, kHdrSettings, "BLLVL"))));
    } else if (GetFlag(glm, HeaderFieldNo(glm, kHdrSettings, "U13PA")) == 1) {
        uses13Periods = 1;
    }
    xio_free_header(glm, kHdrSettings);
    return match;
}

bool xvGLM::LoadSettings(ConvertContext& ctx, std::string& failure) {
    if (LoadSettings(ctx.mainHandle)) return true;
    failure = Msg(12014);
    return false;
}

// ---- Hooks of the common record loop -----------------------------------------------------------

void xvGLM::ImportRejected(ConvertContext& ctx, xvl::xvlImpInfo& info, std::string& reason) {
    const int extra = info.RecExtraData();
    if (info.Error() == 10 && extra == 0 && info.FileNumUsed() == ctx.mainHandle) {
        const int levels = PrefixLevels();
        const uint16_t rec = info.ImportedRecs();
        if (rec == kRecPrefixA && levels == 0)
            reason = Msg(12102, "Prefixes are");
        else if (rec == kRecPrefixB && levels < 2)
            reason = Msg(12102, "Prefix B is");
        else if (rec == kRecPrefixC && levels < 3)
            reason = Msg(12102, "Prefix C is");
    }
    // Notes records still count under their record type; a refused one is not saved.
    std::string unused = reason;
    ConvertPrefixParts(ctx, info, unused);
}

uint16_t xvGLM::ExamineValue(ConvertContext&, const xvl::xvlImpInfo& info) {
    return info.RecExtraData() == 0 ? ExamineRecordCode(info.FileNumUsed(), info, fiscalAtPrefix) : 0;
}

void xvGLM::RecordWritten(ConvertContext& ctx, xvl::xvlImpInfo& info) {
    // Answers kept about prefixes and base accounts do not outlive a write of one.
    if (ctx.converting && info.RecExtraData() == 0 && parts_.erase(info.ImportedRecs())) lastParts_ = {};
}

bool xvGLM::ConvertPrefixParts(ConvertContext& ctx, xvl::xvlImpInfo& info, std::string& reason) {
    const std::string& format = info.FormatID();
    const uint16_t rec = info.ImportedRecs();
    const uint16_t glm = ctx.mainHandle;
    const bool ours = info.FileNumUsed() == glm && info.RecExtraData() == 0;

    // Prefixes given in pieces are joined, then substituted as a prefix AB or ABC.
    auto join = [&](std::initializer_list<const char*> names, int section, const char* field) {
        std::string joined;
        if (!JoinedParts(*ctx.import, format, names, joined)) return true;
        std::string substituted = joined;
        if (!tables::SubstituteValue(substituted, static_cast<int16_t>(suite::kGlAccountFormat),
                                     static_cast<int16_t>(section), static_cast<int16_t>(glm), 0, reason,
                                     info.StartLine(), ctx.substitution.get()))
            return false;
        // A table of a part of the prefix hands the prefix back formatted; the field holds it
        // without separators, as its parts are cut from it by position.
        suite::xk_unformat_field(suite::kGlAccountFormat, section, substituted);
        PutText(glm, FieldNo(glm, rec, field), substituted.substr(0, 81));
        return true;
    };
    if (ours && info.Status() == 0) {
        if (rec == kRecPrefixB && !SameId(format, "4N") &&
            !join({"PREBPART1", "PREBPART2"}, suite::kGlPrefixAB, "PBPRFX"))
            return false;
        if (rec == kRecPrefixC && !SameId(format, "5N") &&
            !join({"PRECPART1", "PRECPART2", "PRECPART3"}, suite::kGlPrefixABC, "PCPRFX"))
            return false;
    }

    // The notes records of the GL master template name their record type by their first
    // character; they count as notes of that type (record number + 50).
    if (const int notesOf = NotesRecordOf(format)) {
        if (reason.empty())
            SaveNotes(info.FileNumUsed(), static_cast<uint16_t>(notesOf), format, *ctx.import, reason, ctx.converting);
        info.SetImportedRecs(static_cast<uint16_t>(notesOf + 50));
        return false;
    }
    return true;
}

bool xvGLM::DispatchRecord(ConvertContext& ctx, xvl::xvlImpInfo& info, std::string& reason) {
    // GL notes records leave here, already saved (nothing more to write); a failed substitution
    // of prefix parts is rejected.
    if (!ConvertPrefixParts(ctx, info, reason)) {
        ctx.storeRecord = false;
        return reason.empty();
    }
    const uint16_t glm = ctx.mainHandle;
    const bool conv = ctx.converting;
    // A format that fills another data file has no handler in this conversion.
    const uint16_t rec = info.FileNumUsed() == glm ? info.ImportedRecs() : 0;
    switch (rec) {
    case kRecAccount:
        return ConvertAccount(glm, info, reason, ctx.messages, conv, fiscalAtPrefix, uses13Periods, RecordIds(),
                              *ctx.import);
    case kRecJournal: return ConvertJournal(glm, info, reason, ctx.messages, conv);
    case kRecPrefixA: return ConvertPrefixA(glm, info, reason, ctx.messages, conv, RecordIds());
    case kRecPrefixB: return ConvertPrefixB(glm, info, reason, ctx.messages, conv, RecordIds());
    case kRecPrefixC: return ConvertPrefixC(glm, info, reason, ctx.messages, conv, RecordIds());
    case kRecBaseAccount: return ConvertBaseAccount(glm, info, reason, ctx.messages, conv, *ctx.import);
    case kRecPartner: return ConvertPartner(glm, info, reason, ctx.messages, conv);
    case kRecBudget:
        return ConvertBudget(glm, info, reason, ctx.messages, conv, fiscalAtPrefix, uses13Periods, RecordIds());
    default: break;
    }
    return RejectUnknownRecord(info, reason, kConversionName, info.FileNumUsed(), false);
}

// ---- Examine codes and the thirteen-period rule ---------------------------------------------

uint16_t xvGLM::ExamineRecordCode(uint16_t glm, const xvl::xvlImpInfo& info, uint8_t fiscalAtPrefix) {
    int32_t code = 0;
    auto num = [&](uint16_t rec, const char* name) { return Whole(GetNumber(glm, rec, name)); };
    auto flag = [&](uint16_t rec, const char* name) { return static_cast<int32_t>(GetFlag(glm, rec, name)); };
    switch (info.ImportedRecs()) {
    case kRecAccount: code = flag(kRecAccount, "ABGTS"); break;
    case kRecPrefixA:
        code = num(kRecPrefixA, "PAFISC");
        if (code == 1) {
            code = flag(kRecPrefixA, "PAU13PA") == 1 ? 11 : 1;
            if (fiscalAtPrefix == 1) code += 100 * num(kRecPrefixA, "PABLLVL");
        }
        break;
    case kRecPrefixB: code = 10 * num(kRecPrefixB, "PBBLLVL") + flag(kRecPrefixB, "PBU13PA"); break;
    case kRecPrefixC: code = 10 * num(kRecPrefixC, "PCBLLVL") + flag(kRecPrefixC, "PCU13PA"); break;
    case kRecBaseAccount:
        code = num(kRecBaseAccount, "BSTYPE") + 100 * num(kRecBaseAccount, "BSICSTS");
        if (flag(kRecBaseAccount, "BSCNTL") == 1) code += 1000;
        if (flag(kRecBaseAccount, "BSBGTS") == 1) code += 10000;
        break;
    default: break;
    }
    return static_cast<uint16_t>(code);
}

bool PrefixUsesThirteenPeriods(uint16_t glm, const std::string& account, uint8_t fiscalAtPrefix, bool defaultValue,
                               bool converting, const RecordIdMap& ids) {
    const int levels = PrefixLevels();
    if (fiscalAtPrefix == 0 || levels == 0) return defaultValue;

    int level = 1;
    bool answer = false;
    if (ReadByKey(glm, kRecPrefixA, "PAPRFX", AccountSection(account, suite::kGlPrefixA))) {
        level = Whole(GetNumber(glm, kRecPrefixA, "PAFISC"));
        answer = level == 1 && GetFlag(glm, kRecPrefixA, "PAU13PA") == 1;
    } else {
        if (converting) return false;
        uint16_t code = 0;
        if (FindInIdMap(glm, kRecPrefixA, ids, &code)) {
            level = code % 100;
            if (level == 11) {
                level = 1;
                answer = true;
            }
        }
    }

    auto lower = [&](uint16_t rec, const char* key, int section, const char* u13) {
        if (ReadByKey(glm, rec, key, AccountSection(account, section))) return GetFlag(glm, rec, u13) == 1;
        if (converting) return answer;
        uint16_t code = 0;
        if (FindInIdMap(glm, rec, ids, &code)) return code % 10 == 1;
        return answer;
    };
    if (level == 2) return lower(kRecPrefixB, "PBPRFX", suite::kGlPrefixAB, "PBU13PA");
    if (level == 3) return lower(kRecPrefixC, "PCPRFX", suite::kGlPrefixABC, "PCU13PA");
    return answer;
}

// ---- Prefill ---------------------------------------------------------------------------------

void xvGLM::PrefillTables(convert::OpenFilesList& list, const convert::TextFileEntry& entry,
                          convert::ConvertProgress* progress, ui::zqTask&, void* prefillContext) {
    const xvl::PrefillCB callback = prefillCallback;
    auto joinParts = [&](xvl::xvlImport& import, xvl::xvlImpInfo& info, int status) {
        if (status != 0 || !callback || info.RecExtraData() != 0) return true;
        const std::string& format = info.FormatID();
        std::string joined;
        int section = 0;
        if (info.ImportedRecs() == kRecPrefixB && !SameId(format, "4N") &&
            JoinedParts(import, format, {"PREBPART1", "PREBPART2"}, joined))
            section = suite::kGlPrefixAB;
        else if (info.ImportedRecs() == kRecPrefixC && !SameId(format, "5N") &&
                 JoinedParts(import, format, {"PRECPART1", "PRECPART2", "PRECPART3"}, joined))
            section = suite::kGlPrefixABC;
        if (section == 0) return true;
        return callback(joined, static_cast<int16_t>(suite::kGlAccountFormat), static_cast<int16_t>(section),
                        entry.path, prefillContext);
    };
    RunPrefill(list, entry, progress, Profile(), callback, prefillContext, joinParts);
}

}  // namespace dz::gl
