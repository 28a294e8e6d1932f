// The GL master converter (conversion type 101): accounts, journals, prefixes A, B and C, base
// accounts, partners and budgets of a GL master text file, examined or converted into the GL
// master data file ("GLM", file number 1).
//
// The class is split over several sources:
//   xvglm.cpp            the frame: files, settings, the record loop, dispatch, examine codes,
//                        the thirteen-period rule, prefill
//   xvglm_records.cpp    accounts, base accounts, budgets, journals, partners, partner tables
//   xvglm_prefix.cpp     the prefix A, B and C handlers
//   fiscal_calendar.*    the fiscal calendar checks of the prefix records
// glm_fields.h holds the small field and message helpers they share.
#pragma once

#include "convert/convert_file.h"
#include "convert/converter.h"
#include "convert/field_numbers.h"
#include "convert/reports.h"

#include <array>
#include <cstdint>
#include <map>
#include <string>
#include <unordered_map>
#include <vector>

namespace dz::xvl {
class xvlImport;
class xvlImpInfo;
}  // namespace dz::xvl

namespace dz::gl {

// The record-ID texts met in the current text file with their values (a line, or the examine
// code of ExamineRecordCode).
using RecordIdMap = convert::RecordIdMap;

// GL master record numbers.
inline constexpr uint16_t kRecAccount = 1;
inline constexpr uint16_t kRecJournal = 2;
inline constexpr uint16_t kRecPrefixA = 3;
inline constexpr uint16_t kRecPrefixB = 4;
inline constexpr uint16_t kRecPrefixC = 5;
inline constexpr uint16_t kRecBaseAccount = 6;
inline constexpr uint16_t kRecPartner = 7;
inline constexpr uint16_t kRecBudget = 8;

// GL master headers.
inline constexpr uint16_t kHdrSettings = 1;       // FISCENT, BLLVL, U13PA, TYPEDCA, INTRCHK, PRTNRS
inline constexpr uint16_t kHdrAccountFormat = 3;  // CREATED, ALEN, BLEN, CLEN, BSLEN, SUFLEN

class xvGLM : public convert::xvConvert {
public:
    xvGLM() = default;
    ~xvGLM() override = default;

    convert::ConverterProfile Profile() const override;

    // Joins the prefix parts given in pieces for the prefill callback.
    void PrefillTables(convert::OpenFilesList& list, const convert::TextFileEntry& entry,
                       convert::ConvertProgress* progress, ui::zqTask& task, void* prefillContext) override;

    // Reads the GL settings (account-format lengths of header 3, fiscal entity and 13 periods of
    // header 1) into the object. False when the stored account format does not match the
    // company's GL account format.
    bool LoadSettings(uint16_t glm);

    // The examine code kept with an examined record's record-ID text, from the record in the
    // buffer (after its handler).
    static uint16_t ExamineRecordCode(uint16_t glm, const xvl::xvlImpInfo& info, uint8_t fiscalAtPrefix);

    // ---- Record handlers: true accepts, false rejects with `reason` set -------------------------
    bool ConvertAccount(uint16_t glm, xvl::xvlImpInfo& info, std::string& reason, convert::MessageList& messages,
                        bool converting, uint8_t fiscalAtPrefix, uint8_t uses13Periods, RecordIdMap& ids,
                        xvl::xvlImport& import);
    bool ConvertJournal(uint16_t glm, xvl::xvlImpInfo& info, std::string& reason, convert::MessageList& messages,
                        bool converting);
    bool ConvertBaseAccount(uint16_t glm, xvl::xvlImpInfo& info, std::string& reason,
                            convert::MessageList& messages, bool converting, xvl::xvlImport& import);
    // Partners in use are marked in GL header 1 only when converting: Examine Files writes
    // nothing.
    bool ConvertPartner(uint16_t glm, xvl::xvlImpInfo& info, std::string& reason, convert::MessageList& messages,
                        bool converting);
    bool ConvertBudget(uint16_t glm, xvl::xvlImpInfo& info, std::string& reason, convert::MessageList& messages,
                       bool converting, uint8_t fiscalAtPrefix, uint8_t uses13Periods, RecordIdMap& ids);

    // Prefix records (xvglm_prefix.cpp). The converter's own state (fiscalAtPrefix,
    // balanceSheetLevel) is read through the object.
    bool ConvertPrefixA(uint16_t glm, xvl::xvlImpInfo& info, std::string& reason, convert::MessageList& messages,
                        bool converting, RecordIdMap& ids);
    bool ConvertPrefixB(uint16_t glm, xvl::xvlImpInfo& info, std::string& reason, convert::MessageList& messages,
                        bool converting, RecordIdMap& ids);
    bool ConvertPrefixC(uint16_t glm, xvl::xvlImpInfo& info, std::string& reason, convert::MessageList& messages,
                        bool converting, RecordIdMap& ids);

    // The four-year checks of a prefix record's fiscal calendar (fiscal_calendar.cpp): D is the
    // field number of the first period date, P that of the period ending date (P+1 period code,
    // P+2 fiscal ending date), then the thirteen-period field and the calendar start field.
    bool CheckCalendar(uint16_t glm, uint16_t firstPeriodField, uint16_t periodEndField, uint16_t thirteenField,
                       uint16_t calendarStartField, std::string& reason, convert::MessageList& messages,
                       bool converting);

    // The GL settings as LoadSettings read them.
    uint8_t FiscalAtPrefix() const { return fiscalAtPrefix; }
    int16_t BalanceSheetLevel() const { return balanceSheetLevel; }
    uint8_t Uses13Periods() const { return uses13Periods; }

protected:
    // ---- Steps and hooks of the common sequence ----------------------------------------------
    // Reads the settings; a mismatch with the company's account format ends the file (12014).
    bool LoadSettings(convert::ConvertContext& ctx, std::string& failure) override;
    // Rewords a prefix the company's prefix levels do not allow (12102); notes records count
    // under their record type.
    void ImportRejected(convert::ConvertContext& ctx, xvl::xvlImpInfo& info, std::string& reason) override;
    // Joins prefix parts and saves GL notes records, then hands a data record to the handler of
    // its record number (12070 for any other number).
    bool DispatchRecord(convert::ConvertContext& ctx, xvl::xvlImpInfo& info, std::string& reason) override;
    // The examine code of ExamineRecordCode.
    uint16_t ExamineValue(convert::ConvertContext& ctx, const xvl::xvlImpInfo& info) override;
    // Forgets the answers kept about the record type just written.
    void RecordWritten(convert::ConvertContext& ctx, xvl::xvlImpInfo& info) override;

    // Joins prefix parts given in pieces (PREBPART1/2, PRECPART1/2/3) into PBPRFX / PCPRFX and
    // routes the GL notes records "1N" to "8N". False: a notes record (accepted when `reason` is
    // empty) or a failed substitution (rejected).
    bool ConvertPrefixParts(convert::ConvertContext& ctx, xvl::xvlImpInfo& info, std::string& reason);

    uint8_t fiscalAtPrefix = 0;      // 1: the fiscal entity is at prefix level (FISCENT 2)
    int16_t balanceSheetLevel = 0;   // BLLVL, read when fiscalAtPrefix is 1
    uint8_t uses13Periods = 0;       // U13PA, read when fiscalAtPrefix is 0

    // Where the record of `rec` whose key field `keyNo` holds `key` stands: on file, or (in
    // Examine Files) added by an earlier line of the text file, whose examine code `code`
    // receives. Answers for the parts of accounts (prefixes, base accounts) are kept while the
    // text file is read, with the fields `keep` of a record on file, which a later answer puts
    // back into the buffer. On file: the buffer holds the record (at least those fields).
    // Otherwise the buffer holds the key (with the record's defaults when `keep` is given).
    enum class PartState { Unknown, OnFile, MetEarlier };
    PartState FindPart(uint16_t glm, uint16_t rec, uint16_t keyNo, const std::string& key, bool converting,
                       const std::vector<uint16_t>& keep, const RecordIdMap& ids, uint16_t* code = nullptr);
    // The settings that mark control accounts, and the company's accounting method, read once
    // per text file.
    bool ControlAccountsMarked(uint16_t glm);
    int AccountingMethod();

    // The fields the account handler touches on every account, resolved once per text file.
    enum AccountField : std::size_t {
        kAAcct, kATitle, kAType, kACtlTy, kAWrnLv, kAIcSts, kABgts, kACsFlw, kACntl, kAInGl,  // completed from base
        kASumm, kACrBal, kACCrBal, kAOStmp, kAFtBal, kACFtBal,
        kAFp1, kAFp2, kAFp3, kAFp4, kAFp5, kAFp6, kACFp1, kACFp2, kACFp3, kACFp4, kACFp5, kACFp6,
        kAP12, kAYP12, kADP12, kADYP12, kACP12, kACAYP12, kACDP12, kACDYP12,
        kAccountFields
    };
    // The base-account fields an account is completed from, in the order of the account's
    // kATitle..kAInGl, then the base account's key.
    enum BaseField : std::size_t {
        kBsTitle, kBsType, kBsCtlTy, kBsWrnLv, kBsIcSts, kBsBgts, kBsCsFlw, kBsCntl, kBsInGl, kBsBase, kBaseFields
    };
    static constexpr std::size_t kFromBaseFields = kBsInGl + 1;
    enum PrefixKey : std::size_t { kPaPrfx, kPbPrfx, kPcPrfx, kPrefixKeys };
    convert::FieldNumbers<kAccountFields> account_;
    convert::FieldNumbers<kBaseFields> base_;
    convert::FieldNumbers<1> prefixKey_[kPrefixKeys];
    std::vector<uint16_t> baseKeep_;  // base_ kBsTitle..kBsInGl: kept with a base account found on file
    // By format id: bit i set when the format's columns give the account field kATitle + i.
    std::unordered_map<std::string, uint16_t> givenFromBase_;
    void ResolveFields(uint16_t glm);

private:
    struct KnownPart {
        PartState state = PartState::Unknown;
        uint16_t code = 0;  // MetEarlier: its examine code
        std::vector<x_value_def> fields;
    };
    std::map<uint16_t, std::unordered_map<std::string, KnownPart>> parts_;  // by record number, then key
    // By record number, the key of the last look-up and what it found in parts_ (emptied with
    // it): a text file lists its accounts in order, so an account's base account and prefixes
    // are mostly those of the account before, and the key as given spares folding and hashing.
    struct LastPart {
        std::string key;
        KnownPart* part = nullptr;
    };
    std::array<LastPart, 8> lastParts_;
    int controlMarked_ = -1;  // -1 not read yet
    int accountingMethod_ = 0;  // 0 not read yet
};

// Whether the fiscal calendar that governs `account` has 13 periods: the company's setting
// (`defaultValue`) unless the fiscal entity sits at a prefix level, else that prefix's setting,
// from the data file or, in Examine Files, from the examine codes of earlier records.
bool PrefixUsesThirteenPeriods(uint16_t glm, const std::string& account, uint8_t fiscalAtPrefix, bool defaultValue,
                               bool converting, const RecordIdMap& ids);

// Checks the partner table of the prefix record in the buffer: triples (partner number,
// percentage in millionths of a percent, retained-earnings base account) from field `first` to
// field `last`. False rejects with `reason`; a total other than 0 or 100 percent is a message.
bool CheckPrefixPartners(uint16_t glm, uint16_t first, uint16_t last, std::string& reason,
                         convert::MessageList& messages, bool converting, const RecordIdMap& ids);

}  // namespace dz::gl
