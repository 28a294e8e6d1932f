// The PM system records of a property text file: charge types, interest rates and managers /
// brokers, the repeats of charge types and managers that are dropped before they are counted, and
// the closing notes that name them.
#include "converters/pm/xvpmp.h"

#include "convert/progress.h"
#include "convert/reports.h"
#include "convert/texts.h"
#include "platform/datafile/xio.h"
#include "platform/import/xvl_import.h"
#include "platform/suite/xk.h"

namespace dz::pm {

using namespace convert;

namespace {

using Field = StagedField;

bool NonPrefixedGl() { return suite::xk_num_sections(suite::kGlAccountFormat) == 0; }

// A field's description as the "is required for" messages show it.
std::string ShortLabel(const Field& f) { return f.Label().substr(0, 25); }

// The base account of GL record 6 as GL stores it; false when GL has no such base account.
bool StoredBaseAccount(uint16_t glm, std::string& base) {
    if (base.empty() || !ReadByKey(glm, 6, "BSBASE", base)) return false;
    base = GetText(glm, 6, "BSBASE");
    return true;
}

// Whether the record now in the buffer stood earlier in the text file.
bool MetEarlier(const PmpRecordContext& c, uint16_t file, uint16_t rec) {
    if (c.ids == nullptr) return false;
    std::string id;
    convert::RecordIdText(file, id, rec);
    return c.ids->find(id) != nullptr;
}

// Converting: the repeated charge type's references and base accounts go into the blank fields
// of the one on file. A read or rewrite that fails leaves it as it was.
void FillChargeTypeOnFile(const PmpRecordContext& c) {
    static const char* const kNames[] = {"CTCREF", "CTPREF", "CTGLREV", "CTGLREC", "CTGLPRE"};
    constexpr int kFirstAccount = 2;
    std::string kept[5];
    for (int i = 0; i < 5; ++i) kept[i] = GetText(c.pms, kPmsChargeType, kNames[i]);
    if (xio_rd_record(c.pms, kPmsChargeType, 0, 1) != XIO_OK) return;
    bool filled = false;
    for (int i = 0; i < 5; ++i) {
        std::string value = kept[i];
        if (value.empty() || !GetText(c.pms, kPmsChargeType, kNames[i]).empty()) continue;
        if (i >= kFirstAccount && !StoredBaseAccount(c.glm, value)) continue;
        PutText(c.pms, kPmsChargeType, kNames[i], value);
        filled = true;
    }
    if (!filled || xio_rep_record(c.pms, kPmsChargeType) != XIO_OK) xio_unlock_record(c.pms, kPmsChargeType, 1);
}

}  // namespace

// ---- Repeats ----------------------------------------------------------------------------------------------

bool HandleDuplicateSystemRecord(const PmpRecordContext& c, const xvl::xvlImpInfo& info) {
    if (info.Status() == 1 || info.RecExtraData() != 0 || c.pms == 0 || info.FileNumUsed() != c.pms) return true;
    const uint16_t rec = info.ImportedRecs();
    if (rec != kPmsManager && rec != kPmsChargeType) return true;

    const bool onFile = xio_find_record(c.pms, rec, 0) == XIO_OK;
    if (!onFile && (c.converting || !MetEarlier(c, c.pms, rec))) return true;
    if (rec == kPmsManager) {
        if (c.state->duplicateManagerExample.empty())
            c.state->duplicateManagerExample = GetText(c.pms, rec, "MBID");
        return false;
    }
    const std::string chargeType = GetText(c.pms, rec, "CT");
    if (onFile && c.converting) FillChargeTypeOnFile(c);
    if (c.state->duplicateChargeTypeExample.empty()) c.state->duplicateChargeTypeExample = chargeType;
    return false;
}

bool ReportDuplicateRecords(const PmpState& state, convert::NotesReport& notes, convert::ConvertProgress* progress,
                            bool converting) {
    ClosingNotes closing(notes);
    if (!state.duplicateManagerExample.empty()) {
        if (!closing.Add(Msg(12437, state.duplicateManagerExample))) return false;
        if (progress) progress->messages += 1;
    }
    if (!state.duplicateChargeTypeExample.empty()) {
        if (!closing.Add(Msg(12436, TermLabel(kChargeTypeTerm), state.duplicateChargeTypeExample,
                             ModeWord("were/will be", converting), ModeWord("971/979", converting))))
            return false;
        if (progress) progress->messages += 1;
    }
    return true;
}

// ---- Charge types -------------------------------------------------------------------------------------------

bool ConvertChargeType(const PmpRecordContext& c, std::string& reason, convert::MessageList&) {
    constexpr uint16_t R = kPmsChargeType;
    const uint16_t pms = c.pms;
    if (NonPrefixedGl()) {
        reason = Msg(12379, TermLabel(kChargeTypeTerm, true, true));
        return false;
    }
    const Field chargeType(pms, R, "CT");
    if (chargeType.Blank()) {
        reason = Msg(12380, chargeType.Label());
        return false;
    }
    const std::string ct = chargeType.Text(), term = TermLabel(kChargeTypeTerm);
    for (const char* name : {"CTCDESC", "CTPDESC"}) {
        const Field f(pms, R, name);
        if (!f.Blank()) continue;
        reason = Msg(12381, ShortLabel(f), term, ct);
        return false;
    }
    if (const Field summary(pms, R, "CTSMCT"); summary.Blank()) summary.Put(ct);

    // Cash-only companies post charges to revenue; accrual ones need the prepaid account.
    const bool cashOnly = c.state->accountingMethod == 2;
    if (const Field required(pms, R, cashOnly ? "CTGLREV" : "CTGLPRE"); required.Blank()) {
        reason = Msg(cashOnly ? 12802 : 12382, ShortLabel(required), term, ct);
        return false;
    }
    for (const char* name : {"CTGLREV", "CTGLREC", "CTGLPRE"}) {
        const Field f(pms, R, name);
        std::string base = f.Text();
        if (base.empty()) continue;
        if (!StoredBaseAccount(c.glm, base)) {
            reason = Msg(12383, f.Label(), GlText(f.Text(), 7));
            return false;
        }
        f.Put(base);
    }
    return true;
}

// ---- Interest rates -----------------------------------------------------------------------------------------

bool ConvertInterestRate(const PmpRecordContext& c, std::string& reason, convert::MessageList&) {
    constexpr uint16_t R = kPmsInterestRate;
    const Field id(c.pms, R, "VALID"), asOf(c.pms, R, "VALDATE"), rate(c.pms, R, "VALUE");
    if (id.Blank()) {
        reason = Msg(12380, "Interest ID");
        return false;
    }
    if (IsUnsetDate(asOf.Date())) {
        reason = Msg(12381, "As of date", "Interest ID", id.Text());
        return false;
    }
    if (IsZero(rate.Number())) {  // a negative rate is a rate
        reason = Msg(12384, id.Text());
        return false;
    }
    return true;
}

// ---- Managers / brokers ---------------------------------------------------------------------------------------

bool ConvertManagerBroker(const PmpRecordContext& c, std::string& reason, convert::MessageList& messages) {
    constexpr uint16_t R = kPmsManager;
    if (NonPrefixedGl()) {
        reason = Msg(12379, "Manager/Broker's");
        return false;
    }
    if (Field(c.pms, R, "MBID").Blank()) {
        reason = Msg(12380, "Manager/Broker");
        return false;
    }
    // The manager's accounts and defaults are kept in PM, not converted: each one given is
    // named and cleared.
    const uint16_t first = FieldNo(c.pms, R, "MBGLD"), last = FieldNo(c.pms, R, "MBAPB");
    for (uint16_t no = first; first != 0 && no <= last; ++no) {
        const Field f(c.pms, R, no);
        if (f.Blank()) continue;
        std::string shown;
        convert::FieldDisplayText(shown, c.pms, R, no);
        messages.push_back(Msg(12385, f.Label(), shown, ModeWord("was not/will not be", c.converting),
                               ModeWord("906/907", c.converting)));
        f.Clear();
    }
    return true;
}

}  // namespace dz::pm
