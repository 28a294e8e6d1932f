#include "converters/jc/xvjcs.h"

#include "converters/jc/jcm_fields.h"
#include "converters/jc/xvjcm.h"

#include "convert/progress.h"
#include "convert/texts.h"
#include "modules/entries.h"
#include "platform/datafile/stored_number.h"
#include "platform/datafile/xio.h"
#include "platform/import/xvl_helpers.h"
#include "platform/import/xvl_import.h"
#include "platform/modlibs/jc_cost_code.h"
#include "platform/suite/control.h"
#include "platform/suite/util.h"
#include "platform/suite/xk.h"
#include "platform/suite/zc.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <optional>

namespace dz::jc {

using namespace convert;

namespace {

constexpr int kGl = suite::kGlAccountFormat;
constexpr int kPhase = suite::kPhaseFormat;
constexpr int kTaxStatusTerm = 369;
constexpr int kEquipmentUnitTerm = 69;
constexpr int kCategoryPairs = 12;

// What a field known to be blank reads.
const std::string kNoText;

// IsBlank, inline: a standard phase tests some thirty fields, most of them empty.
inline bool Blank(const std::string& text) {
    for (const char c : text)
        if (c != ' ') return false;
    return true;
}

bool SameNoCase(const std::string& a, const std::string& b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
           });
}

// The unit type of a cost type as messages name it; empty for a cost type without units.
std::string UnitTypeName(int costType) {
    switch (costType) {
    case 1: return "Labor";
    case 2: return "Material";
    case 3: return "Subcontract";
    case 4: {
        std::string t = suite::xk_description(kEquipmentUnitTerm);
        if (!t.empty()) t[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(t[0])));
        return t;
    }
    case 5: return "Overhead";
    case 6: return "Other";
    default: return {};
    }
}

}  // namespace

ConverterProfile xvJCS::Profile() const {
    ConverterProfile p;
    p.abbreviation = "JCM";
    p.rejectAbbreviation = "JCS";
    p.fileNo = 1;
    p.title = "JC Master File-standards";
    p.description = "JC Master file-standards";
    p.convertingText = "Converting '%s' into JC Master file-standards";
    p.examiningText = "Examining '%s' for JC Master file-standards";
    // The records go into the JC master file.
    p.dataFiles = {convert::ConverterDataFile::Owned("JCM", 1, 1, "JC Master file-standards")};
    p.dataFiles.front().backupDescription = "JC Master file";
    return p;
}

// ---- Settings ---------------------------------------------------------------------------------

bool xvJCS::LoadSettings(uint16_t jcm, const convert::OpenFilesList& files, convert::NotesReport* notes,
                         convert::ConvertProgress* progress) {
    convert::ForgetFieldNumbers();
    glMasterFile.Close();
    notesFailed_ = false;
    lookups_.Clear();
    categories_.clear();
    wholeAccounts_.clear();
    splitCode_.clear();
    splitPlain_ = false;
    splitAt_ = {};
    zeroSections_ = 0;
    costSections_ = modlibs::JcCostCodeSections();
    for (std::size_t k = 0, offset = 0; k < sectionAt_.size(); ++k) {
        const auto width = static_cast<std::size_t>(std::max(0, suite::xk_width(kPhase, static_cast<int>(k) + 1)));
        sectionAt_[k] = {offset, width};
        offset += width;
    }
    // A code of fillers, formatted: whatever is not a filler is a separator.
    separatorStart_.fill(false);
    if (const int whole = suite::xk_width(kPhase, 0); whole > 0) {
        constexpr char kFiller = '\x01';
        std::string probe(static_cast<std::size_t>(whole), kFiller);
        suite::xk_format_field(kPhase, 0, probe);
        if (std::count(probe.begin(), probe.end(), kFiller) != whole) separatorStart_.fill(true);
        for (const char c : probe)
            if (c != kFiller) separatorStart_[static_cast<unsigned char>(c)] = true;
    }
    knownGroups_ = {};
    ++knownGeneration_;
    groupsAnswer_.valid = false;
    pairRuns_.known = false;
    phaseFields_.Resolve(jcm, kRecStdPhase,
                         {"SPHASE", "SPDESC", "SPOVRHT", "SPCAT1", "SPGPHAS", "SPCTYPE", "SPCACCA", "SPCACCB",
                          "SPCACCC", "SPCUDSC", "SPSNDBL", "SPTAXEX"});
    {
        const auto& F = phaseFields_;
        const uint16_t a = F[kSpAccountA];
        accountsBeforePairs_ = a != 0 && F[kSpAccountB] == a + 1 && F[kSpAccountC] == a + 2 &&
                               F[kSpUnitDesc] == a + 3 && F[kSpCat1] == a + 4;
    }
    categoryFields_.Resolve(jcm, kRecStdCategory,
                            {"SCAT", "SCDESC", "SCCACCA", "SCCACCB", "SCCACCC", "SCUDESC", "SCCTYPE", "SCSNDBL",
                             "SCTAXEX"});

    // 1. The JC settings.
    if (xio_rd_header(jcm, kHdrSettings, 0) != XIO_OK) return false;
    auto num = [&](const char* name) { return GetNumber(jcm, HeaderFieldNo(jcm, kHdrSettings, name)); };
    categoriesUsed = num("CCATUSG") != 2;
    glRetrievalMethod = xio_whole_part(num("CGLRETM"), 0);
    // Only the code 1 counts here (the JC master converter takes any code).
    prefixFromJob = num("CGLPRFX") == 1 && suite::xk_num_sections(kGl) > 0;
    const char* units[] = {"PTLUNIT", "PTMUNIT", "PTSUNIT", "PTEUNIT", "PTBUNIT", "PTOUNIT"};
    for (std::size_t i = 0; i < 6; ++i) unitSettings_[i + 1] = xio_whole_part<uint16_t>(num(units[i]), 0);
    unitTracking = unitSettings_;
    // A unit setting stored as 2 counts as not tracked.
    unitStart_ = unitSettings_;
    for (std::size_t i = 1; i < unitStart_.size(); ++i)
        if (unitStart_[i] == 2) unitStart_[i] = 0;
    xio_free_header(jcm, kHdrSettings);

    auto note = [&](int number) {
        if (progress) progress->messages += 1;
        notesFailed_ = notes && !notes->PrintMessageLine("", 0, Msg(number));
        return !notesFailed_;
    };

    // 2. The GL master, for the cost accounts of retrieval methods 2, 3 and 5.
    jcInterfacesGl = suite::zc_interface_active("JC", "GL") != 0;
    if (jcInterfacesGl && (glRetrievalMethod == 2 || glRetrievalMethod == 3 || glRetrievalMethod == 5)) {
        if (glMasterFile.Open(files, "GLM") == 0 && !note(12198)) return false;
    }

    // 3. AR: whether it tracks taxes; its master is not kept open.
    arMasterExists = false;
    arTracksTaxes = false;
    if (suite::xa_appl_installed("AR")) {
        arMasterExists = xio_file_exists("ARM", XIO_EXISTS_MASTER);
        if (arMasterExists) {
            convert::SideFile ar;
            if (ar.Open(files, "ARM") == 0) {
                arTracksTaxes = true;
                if (!note(12788)) return false;
            } else {
                const bool read = xio_rd_header(ar, 2, 0) == XIO_OK;
                arTracksTaxes = !read || GetNumber(ar, HeaderFieldNo(ar, 2, "STAXES")) == 1;
                if (read) xio_free_header(ar, 2);
                if (!read && !note(12788)) return false;
            }
        }
    }

    // 4. The tax statuses: the first entry is the default; with more than one it leaves the list.
    taxStatusList.clear();
    defaultTaxStatus = "Taxable";
    const std::string list = suite::xk_get_custom_list(kTaxStatusTerm);
    if (!list.empty()) taxStatusList = suite::cl_string_to_cListContainer(list);
    if (!taxStatusList.empty()) defaultTaxStatus = taxStatusList.front();
    if (taxStatusList.size() > 1) taxStatusList.erase(taxStatusList.begin());
    return true;
}

bool xvJCS::LoadSettings(ConvertContext& ctx, std::string& failure) {
    if (LoadSettings(ctx.mainHandle, ctx.files, ctx.notes.get(), ctx.progress)) return true;
    if (notesFailed_) failure = PrintFailure(ctx, 12012).text;
    return false;
}

// ---- Dispatch -----------------------------------------------------------------------------------

bool xvJCS::DispatchRecord(ConvertContext& ctx, xvl::xvlImpInfo& info, std::string& reason) {
    const uint16_t jcm = ctx.mainHandle;
    // A unit setting stored as 2 counts as not tracked; a handler's marks last one record.
    unitTracking = unitStart_;
    taxFilled_ = false;
    const uint16_t rec = info.FileNumUsed() == jcm ? info.ImportedRecs() : 0;
    if (rec == kRecStdPhase) {
        import_ = ctx.import.get();
        const bool accepted = ConvertStdPhase(jcm, info, reason, ctx.messages, ctx.converting, *ctx.report);
        import_ = nullptr;
        return accepted;
    }
    if (rec == kRecStdCategory) {
        // Dropped before the line is written: a replace that is refused afterwards (its notes or
        // user fields not written) still leaves the record changed on file.
        if (ctx.converting) categories_.clear();
        return ConvertStdCategory(jcm, info, reason, ctx.messages, ctx.converting);
    }
    return RejectUnknownRecord(info, reason, "JC Standard", info.FileNumUsed(), false);
}

void xvJCS::RecordWritten(ConvertContext& ctx, xvl::xvlImpInfo& info) {
    if (info.RecExtraData() != 0 || info.FileNumUsed() != ctx.mainHandle) return;
    const uint16_t rec = info.ImportedRecs();
    if (rec != kRecStdPhase && rec != kRecStdCategory) return;
    if (rec == kRecStdPhase && ctx.converting) GroupWritten(ctx.mainHandle);
    const std::string& value = xio_get_text(
        ctx.mainHandle, rec == kRecStdPhase ? phaseFields_[kSpTaxStatus] : categoryFields_[kScTaxStatus]);
    if (TaxStatusMissing(value, taxFilled_, taxStatusList, defaultTaxStatus))
        ctx.notes->AddNote(kTaxStatusTerm, value, static_cast<uint32_t>(info.StartLine()));
}

void xvJCS::GroupWritten(uint16_t jcm) {
    // A text file gives a group before its members: the first member then asks for this very key.
    // Only group cost codes are kept, and only as the handler split them (the record just written).
    const int n = costSections_;
    if (n < 2 || !ZeroSection(n)) return;
    const std::string& phase = xio_get_text(jcm, phaseFields_[kSpPhase]);
    if (phase != splitCode_) return;
    lookups_.Found(jcm, kRecStdPhase, "SPHASE", phase);
    // A group of the last level is the very key its members ask for (their last section turned
    // to zeros): they need not look it up, nor set their record aside to do so. Only when the
    // code was given with that section whole, as members build it.
    if (ZeroSection(n - 1)) return;
    auto sections = SplitSections();
    std::string& last = sections[static_cast<std::size_t>(n - 1)];
    last.assign(static_cast<std::size_t>(std::max(0, suite::xk_width(kPhase, n))), '0');
    if (suite::xk_build_key(kPhase, sections) != phase) return;
    knownGroups_[static_cast<std::size_t>(n - 1)].assign(sections.begin(), sections.begin() + (n - 1));
    ++knownGeneration_;
}

bool xvJCS::FinishConversion(ConvertContext& ctx) {
    if (!ctx.notes->PrintMissingCustomListValues(ctx.progress)) return EndFile(ctx, PrintFailure(ctx, 12012), true, true);
    return true;
}

// ---- Shared checks ----------------------------------------------------------------------------------

bool xvJCS::ValidateCostAccount(uint16_t jcm, std::string& reason, convert::MessageList& messages, uint16_t rec,
                                const char* field, const char* letter, bool converting) {
    return ValidateCostAccount(jcm, reason, messages, rec, FieldNo(jcm, rec, field), letter, converting);
}

bool xvJCS::ValidateCostAccount(uint16_t jcm, std::string& reason, convert::MessageList& messages, uint16_t rec,
                                uint16_t fld, const char* letter, bool converting) {
    if (Blank(xio_get_text(jcm, fld))) return true;
    std::string account = GetText(jcm, fld);
    auto word = [&](const char* pair) { return ModeWord(pair, converting); };
    // The account as given (kept aside once it is cut to its base account), shown only in a
    // message that is issued.
    std::string given;
    auto shown = [&] { return ShowKey(kGl, suite::kGlDisplay, given.empty() ? account : given); };
    if (!jcInterfacesGl) {
        messages.push_back(Msg(12203, letter, shown(), word("was not/will not be"), word("305/306")));
        PutText(jcm, fld, "");
        return true;
    }
    const int wanted = rec == kRecStdPhase ? 2 : 3;
    if (glRetrievalMethod != 5 && glRetrievalMethod != wanted) {
        messages.push_back(Msg(12204, letter, shown(), word("was not/will not be"), word("307/308")));
        PutText(jcm, fld, "");
        return true;
    }
    if (!prefixFromJob) {
        const WholeAccount& answer = WholeAccountOf(account);
        if (!answer.valid) {
            reason = Msg(12205, letter, shown());
            return false;
        }
        if (answer.missing) messages.push_back(Msg(12206, letter, ShowKey(kGl, suite::kGlWhole, account)));
        return true;
    }
    if (static_cast<int>(account.size()) > suite::xk_width(kGl, suite::kGlBaseAccount)) {
        if (!ValidAccount(account, suite::kGlWhole)) {
            reason = Msg(12205, letter, shown());
            return false;
        }
        given = std::move(account);
        account = BaseAccountOf(UnformattedAccount(given, suite::kGlWhole));
        PutText(jcm, fld, account);
    }
    if (!ValidAccount(account, suite::kGlBaseAccount)) {
        reason = Msg(12205, letter, shown());
        return false;
    }
    if (glMasterFile && lookups_.Status(glMasterFile, 6, "BSBASE", UnformattedAccount(account, suite::kGlBaseAccount)) ==
                            XIO_NOT_FOUND)
        messages.push_back(Msg(12207, letter, ShowKey(kGl, suite::kGlBaseAccount, account)));
    return true;
}

const xvJCS::WholeAccount& xvJCS::WholeAccountOf(const std::string& account) {
    if (auto at = wholeAccounts_.find(account); at != wholeAccounts_.end()) return at->second;
    constexpr std::size_t kKept = 4096;
    if (wholeAccounts_.size() >= kKept) wholeAccounts_.clear();
    WholeAccount answer;
    answer.valid = ValidAccount(account, suite::kGlWhole);
    int status = XIO_OK;
    if (answer.valid && glMasterFile) {
        status = lookups_.Status(glMasterFile, 1, "AACCT", UnformattedAccount(account, suite::kGlWhole));
        answer.missing = status == XIO_NOT_FOUND;
    }
    // A look-up that failed is asked again by the next record, as it would be without this.
    if (status != XIO_OK && status != XIO_NOT_FOUND) {
        scratchAccount_ = answer;
        return scratchAccount_;
    }
    return wholeAccounts_.emplace(account, answer).first->second;
}

void xvJCS::UnitCheck(int costType, const std::string& unit, convert::MessageList& messages) {
    if (costType < 1 || costType > 6 || unitTracking[static_cast<std::size_t>(costType)] != 0) return;
    unitTracking[static_cast<std::size_t>(costType)] = 2;
    messages.push_back(Msg(12208, UnitTypeName(costType), unit));
}

void xvJCS::TaxStatus(uint16_t jcm, uint16_t fld, bool phase, convert::MessageList& messages, bool converting) {
    if (const std::string& stored = xio_get_text(jcm, fld); Blank(stored)) {
        if (fld) xio_put_text(jcm, fld, defaultTaxStatus);
        taxFilled_ = true;
        return;
    } else if (stored == defaultTaxStatus) {
        return;
    }
    const std::string value = GetText(jcm, fld);
    if (!(phase && categoriesUsed) && arMasterExists && arTracksTaxes) {
        for (const auto& entry : taxStatusList)
            if (SameNoCase(entry, value)) {
                PutText(jcm, fld, entry);
                return;
            }
        return;
    }
    const std::string term = TermCap(kTaxStatusTerm);
    const std::string word = ModeWord("was/will be", converting);
    if (phase && categoriesUsed)
        messages.push_back(Msg(12792, term, value, word, ModeWord("333/334", converting)));
    else if (!arMasterExists)
        messages.push_back(Msg(12791, term, value, word, ModeWord("335/336", converting)));
    else
        messages.push_back(Msg(12790, term, value, word, ModeWord("337/338", converting)));
    PutText(jcm, fld, defaultTaxStatus);
    taxFilled_ = true;
}

// ---- Standard phases ---------------------------------------------------------------------------------

// Asked on every line: the runs worked out before, unless the format changed.
inline const std::vector<std::pair<uint16_t, uint16_t>>& xvJCS::PairRuns(uint16_t jcm, const xvl::xvlImpInfo& info,
                                                                          uint16_t cat1) {
    const auto& p = pairRuns_;
    if (p.known && p.jcm == jcm && p.cat1 == cat1 && p.format == info.FormatID()) return p.runs;
    return FindPairRuns(jcm, info, cat1);
}

bool xvJCS::ConvertStdPhase(uint16_t jcm, xvl::xvlImpInfo& info, std::string& reason,
                            convert::MessageList& messages, bool converting, convert::ConversionReport& report) {
    const auto& F = phaseFields_;
    // The stored text of a field, read in place: what is only tested is never copied.
    auto stored = [&](std::size_t field) -> const std::string& { return xio_get_text(jcm, F[field]); };
    auto word = [&](const char* pair) { return ModeWord(pair, converting); };
    // The cost code's term, looked up only for a message that is issued.
    auto term = [] { return Term(kPhase); };

    // 1-3. Cost code, description, overhead table.
    const std::string phase = stored(kSpPhase);
    if (Blank(phase)) {
        reason = Msg(12209, term());
        return false;
    }
    if (Blank(stored(kSpDesc))) {
        reason = Msg(12210, TermCap(kPhase));
        return false;
    }
    if (const std::string& v = stored(kSpOverhead); !Blank(v)) {
        messages.push_back(Msg(12211, v, word("was not/will not be"), word("315/316")));
        PutText(jcm, F[kSpOverhead], "");
    }

    // 4. Sections; a group standard phase carries no values.
    const int n = costSections_;
    const uint16_t cat1 = F[kSpCat1];
    if (n >= 2) {
        // Split once: the group standard phases above it are built from the same sections.
        SplitCostCode(phase);
        // The first section may not be zero, nor may a zero section come before one that is not.
        const unsigned used = (1u << n) - 1;
        const unsigned nonZero = ~zeroSections_ & used;
        if (ZeroSection(1) || (nonZero & (nonZero + 1)) != 0) {
            reason = Msg(12212, term(), ShowKey(kPhase, 0, phase));
            return false;
        }
        if (ZeroSection(n)) PutFlag(jcm, F[kSpGroup], 1);
    }
    // Whether the cost code is a group's, asked only when a value or a message depends on it.
    std::optional<bool> groupAnswer;
    auto group = [&] {
        if (!groupAnswer) {
            uint16_t level = 0;
            groupAnswer = modules::JC_GROUP_PHASE(phase, kPhase, &level) != 0;
        }
        return *groupAnswer;
    };
    // The first category or unit description of the pairs that holds a value (0: all are blank,
    // as on most standard phases).
    uint16_t firstPair = 0;
    // Whether the cost accounts and the cost unit description are known to be blank. They lie
    // just before the pairs, so that most lines are told blank by one scan up to the end of the
    // pairs' first run.
    bool quiet = false;
    if (cat1) {
        const auto& runs = PairRuns(jcm, info, cat1);
        std::size_t run = 0;
        if (accountsBeforePairs_ && !runs.empty() && runs.front().first == cat1) {
            const uint16_t hit = xio_first_nonblank_text(jcm, F[kSpAccountA], runs.front().second);
            quiet = hit == 0 || hit >= cat1;
            if (quiet) {
                firstPair = hit;
                run = hit == 0 ? 1 : runs.size();
            }
        }
        for (; !firstPair && run < runs.size(); ++run)
            firstPair = xio_first_nonblank_text(jcm, runs[run].first, runs[run].second);
    }
    // The cost accounts A, B and C that hold a value (most standard phases have none), for the
    // group check and the account checks.
    constexpr std::array<std::pair<std::size_t, const char*>, 3> kAccounts{
        {{kSpAccountA, "A"}, {kSpAccountB, "B"}, {kSpAccountC, "C"}}};
    std::array<bool, 3> accountGiven{};
    if (!quiet)
        for (std::size_t i = 0; i < kAccounts.size(); ++i) accountGiven[i] = !Blank(stored(kAccounts[i].first));
    // The cost type and the cost unit description as the line gave them: nothing below changes
    // them before they are looked at again.
    const double costType = xio_get_number(jcm, F[kSpCostType]);
    const std::string& unitDescription = quiet ? kNoText : stored(kSpUnitDesc);
    {
        // The first field a group standard phase may not carry a value in, in the order they are
        // checked; its value is shown only when the cost code is a group's.
        bool refused = costType != 1;
        uint16_t field = F[kSpCostType];
        bool account = false;
        for (std::size_t i = 0; i < kAccounts.size(); ++i)
            if (!refused && accountGiven[i]) {
                refused = account = true;
                field = F[kAccounts[i].first];
            }
        if (!refused && !Blank(unitDescription)) {
            refused = true;
            field = F[kSpUnitDesc];
        }
        if (!refused && firstPair) {
            refused = true;
            field = firstPair;
        }
        if (refused && group()) {
            std::string name;
            xio_fld_def def;
            if (xio_get_fld_def(jcm, field, def) == XIO_OK) name = def.name;
            const std::string& text = xio_get_text(jcm, field);
            reason = Msg(12213, term(), name,
                         costType != 1 ? FormatNumber("%.0f", costType)
                         : account     ? ShowKey(kGl, suite::kGlDisplay, text)
                                       : text);
            return false;
        }
    }

    // 5. Cost accounts (a blank one passes).
    for (std::size_t i = 0; i < kAccounts.size(); ++i)
        if (accountGiven[i] &&
            !ValidateCostAccount(jcm, reason, messages, kRecStdPhase, F[kAccounts[i].first], kAccounts[i].second,
                                 converting))
            return false;

    if (!categoriesUsed) {
        // 6. Without categories: no category pairs; the unit description by the cost type.
        bool any = false;
        for (uint16_t f = firstPair; firstPair && f < cat1 + 2 * kCategoryPairs; ++f) {
            if (Blank(xio_get_text(jcm, f))) continue;
            PutText(jcm, f, "");
            any = true;
        }
        if (any) messages.push_back(Msg(12215, word("were not/will not be"), word("321/322")));
        if (!Blank(unitDescription)) UnitCheck(Whole(costType), unitDescription, messages);
    } else {
        // 7. With categories: the phase accumulates as labor and has no unit description.
        std::string fields, values;
        int count = 0;
        if (const double t = costType; t != 1) {
            PutNumber(jcm, F[kSpCostType], 1);
            fields = "'Accumulate as'";
            values = FormatNumber("'%.0f'", t);
            ++count;
        }
        if (const std::string v = unitDescription; !Blank(v)) {
            PutText(jcm, F[kSpUnitDesc], "");
            fields += count ? " and 'Cost unit desc'" : "'Cost unit desc'";
            values += count ? " and '" + v + "'" : "'" + v + "'";
            ++count;
        }
        if (count)
            messages.push_back(Msg(12214, fields + (count == 1 ? " is" : " are"), values,
                                   converting ? (count == 1 ? "was not" : "were not") : "will not be",
                                   word("319/320")));
        std::vector<std::string> met;
        // Blank pairs pass: each step goes on to the next pair that holds a value (a pair's
        // checks change only its own two fields).
        const auto lastPairField = static_cast<uint16_t>(cat1 + 2 * kCategoryPairs - 1);
        for (uint16_t next = firstPair; next != 0;) {
            const int k = (next - cat1) / 2 + 1;
            const auto catField = static_cast<uint16_t>(cat1 + 2 * (k - 1));
            const auto unitField = static_cast<uint16_t>(catField + 1);
            next = k < kCategoryPairs ? xio_first_nonblank_text(jcm, static_cast<uint16_t>(catField + 2), lastPairField)
                                      : 0;
            if (Blank(xio_get_text(jcm, catField))) {
                if (const std::string& unit = xio_get_text(jcm, unitField); !Blank(unit)) {
                    reason = Msg(12216, std::to_string(k), unit);
                    return false;
                }
                continue;
            }
            std::string category = GetText(jcm, catField);
            const std::string unit = GetText(jcm, unitField);
            std::string folded = category;
            suite::x_capitalize(folded);
            if (std::find(met.begin(), met.end(), folded) != met.end()) {
                reason = Msg(12217, std::to_string(k), category);
                return false;
            }
            met.push_back(folded);
            const StandardCategory& standard = StandardCategoryOf(jcm, category);
            const bool found = standard.found || (!converting && ExaminedCategory(jcm, category));
            if (!found) {
                messages.push_back(Msg(12218, std::to_string(k), category, word("was not/will not be"), word("325/326")));
                PutText(jcm, catField, "");
                PutText(jcm, unitField, "");
            } else if (converting && Blank(unit)) {
                PutText(jcm, unitField, standard.unit);
            }
        }
    }

    // 8. Send cost to billings.
    if (GetFlag(jcm, F[kSpSendToBillings]) == 0) {
        if (!arMasterExists) {
            messages.push_back(Msg(12789, word("was/will be"), word("331/332")));
            PutFlag(jcm, F[kSpSendToBillings], 1);
        } else if (group()) {
            messages.push_back(Msg(12793, word("was/will be"), term(), word("339/340")));
            PutFlag(jcm, F[kSpSendToBillings], 1);
        }
    }

    // 9. Tax status.
    TaxStatus(jcm, F[kSpTaxStatus], true, messages, converting);

    // 10. The group standard phases above this one (nothing to do when an earlier phase of the
    // same group found or made them all).
    if (n != 1 && !(splitCode_ == phase && GroupsKnown(n))) {
        xio_save_record(jcm, kRecStdPhase);
        const bool created = CreateGroupStdPhase(phase, n, jcm, report, messages, reason, converting, info);
        xio_restore_record(jcm, kRecStdPhase);
        if (!created) return false;
    }
    return true;
}

const std::vector<std::pair<uint16_t, uint16_t>>& xvJCS::FindPairRuns(uint16_t jcm, const xvl::xvlImpInfo& info,
                                                                       uint16_t cat1) {
    auto& p = pairRuns_;
    p.known = true;
    p.jcm = jcm;
    p.cat1 = cat1;
    p.format = info.FormatID();
    p.runs.clear();
    const bool fromDefaults = import_ && info.RecExtraData() == 0 && import_->xvlImpGetPermissions(p.format) == 2;
    const auto last = static_cast<uint16_t>(cat1 + 2 * kCategoryPairs - 1);
    for (uint16_t f = cat1; f <= last; ++f) {
        const xio_fld_def* def = fromDefaults ? xio_field_def(jcm, f) : nullptr;
        if (def && xio_is_text_type(def->type) && Blank(def->defaultValue.text) &&
            !import_->xvlImpWasItImported(p.format, def->name))
            continue;
        if (!p.runs.empty() && p.runs.back().second + 1 == f)
            p.runs.back().second = f;
        else
            p.runs.emplace_back(f, f);
    }
    return p.runs;
}

const xvJCS::StandardCategory& xvJCS::StandardCategoryOf(uint16_t jcm, const std::string& category) {
    if (auto at = categories_.find(category); at != categories_.end()) return at->second;
    // Pairs name a few categories again and again; a file naming thousands starts over.
    constexpr std::size_t kKept = 4096;
    if (categories_.size() >= kKept) categories_.clear();
    StandardCategory standard;
    const uint16_t keep = xio_save_record(jcm, kRecStdCategory);
    standard.found = ReadByKeys(jcm, kRecStdCategory, {{"SCAT", category}});
    if (standard.found) standard.unit = GetText(jcm, categoryFields_[kScUnitDesc]);
    if (keep) xio_restore_record_id(jcm, keep);
    return categories_.emplace(category, std::move(standard)).first->second;
}

bool xvJCS::ExaminedCategory(uint16_t jcm, const std::string& category) {
    // The record-ID text is built from the category's buffer holding the key alone.
    const uint16_t keep = xio_save_record(jcm, kRecStdCategory);
    xio_init_record(jcm, kRecStdCategory);
    PutText(jcm, categoryFields_[kScCat], category);
    const bool found = FindInIdMap(jcm, kRecStdCategory, RecordIds());
    if (keep) xio_restore_record_id(jcm, keep);
    return found;
}

void xvJCS::SplitCostCode(const std::string& code) {
    splitCode_ = code;
    // Separators are taken out only when the code may hold one.
    splitPlain_ = false;
    for (const char c : code)
        if (separatorStart_[static_cast<unsigned char>(c)]) {
            splitPlain_ = true;
            break;
        }
    if (splitPlain_) {
        plainCode_ = code;
        suite::xk_unformat_field(kPhase, 0, plainCode_);
    }
    const std::string_view plain(splitPlain_ ? plainCode_ : splitCode_);
    // Sections past those in use stay empty, and so zero.
    const auto used = static_cast<std::size_t>(std::clamp(costSections_, 0, static_cast<int>(splitAt_.size())));
    unsigned zero = ~((1u << used) - 1) & ((1u << splitAt_.size()) - 1);
    for (std::size_t k = 0; k < used; ++k) {
        const auto [offset, width] = sectionAt_[k];
        std::size_t length = 0;
        if (offset < plain.size()) {
            length = std::min(width, plain.size() - offset);
            while (length > 0 && plain[offset + length - 1] == ' ') --length;
        }
        splitAt_[k] = {length ? offset : 0, length};
        bool allZero = true;
        for (std::size_t i = offset; allZero && i < offset + length; ++i) allZero = plain[i] == '0' || plain[i] == ' ';
        if (allZero) zero |= 1u << k;
    }
    zeroSections_ = zero;
}

std::vector<std::string> xvJCS::SplitSections() const {
    std::vector<std::string> sections(splitAt_.size());
    for (std::size_t k = 0; k < sections.size(); ++k) sections[k] = Section(k);
    return sections;
}

bool xvJCS::GroupsKnown(int n) {
    // The answer depends on the sections before the last (the characters before it, when the
    // code reaches it), which sections are zero, and the groups known: phases of one group ask
    // again and again with the same.
    const std::string_view plain(splitPlain_ ? plainCode_ : splitCode_);
    const std::size_t cut = sectionAt_[static_cast<std::size_t>(n - 1)].first;
    auto& last = groupsAnswer_;
    const bool keyed = plain.size() >= cut;
    if (keyed && last.valid && last.generation == knownGeneration_ && last.zero == zeroSections_ &&
        plain.substr(0, cut) == last.prefix)
        return last.answer;
    const bool answer = GroupsKnownOf(n);
    last.valid = keyed;
    if (keyed) {
        last.generation = knownGeneration_;
        last.zero = zeroSections_;
        last.prefix.assign(plain.substr(0, cut));
        last.answer = answer;
    }
    return answer;
}

bool xvJCS::GroupsKnownOf(int n) const {
    const char* plain = (splitPlain_ ? plainCode_ : splitCode_).data();
    for (int k = n; k >= 2; --k) {
        if (ZeroSection(k)) continue;
        const auto& known = knownGroups_[static_cast<std::size_t>(k - 1)];
        if (known.empty()) return false;
        for (std::size_t i = 0; i < known.size(); ++i) {
            // Sections are a few characters long: compared in place rather than by a call.
            const auto [offset, length] = splitAt_[i];
            const std::string& section = known[i];
            if (section.size() != length) return false;
            for (std::size_t c = 0; c < length; ++c)
                if (section[c] != plain[offset + c]) return false;
        }
    }
    return true;
}

bool xvJCS::CreateGroupStdPhase(const std::string& costCode, int n, uint16_t jcm, convert::ConversionReport& report,
                                convert::MessageList& messages, std::string& reason, bool converting,
                                xvl::xvlImpInfo& info) {
    auto F = [&](const char* name) { return FieldNo(jcm, kRecStdPhase, name); };
    auto sections = splitCode_ == costCode ? SplitSections() : CostCodeSections(costCode, n);
    for (int k = n; k >= 2; --k) {
        std::string& section = sections[static_cast<std::size_t>(k - 1)];
        if (modlibs::IsZeroOrBlank(section)) continue;
        section.resize(std::max<std::size_t>(section.size(), static_cast<std::size_t>(suite::xk_width(kPhase, k))),
                       ' ');
        modlibs::ZeroFill(section);
        // The group of this level is the one of the sections before it: known since an earlier
        // phase of the same group, it needs no key and no look-up.
        auto& known = knownGroups_[static_cast<std::size_t>(k - 1)];
        if (!known.empty() && std::equal(known.begin(), known.end(), sections.begin())) continue;
        auto remember = [&] {
            known.assign(sections.begin(), sections.begin() + (k - 1));
            ++knownGeneration_;
        };
        const std::string key = suite::xk_build_key(kPhase, sections);
        // Phases share their groups: a group is looked up on file once per text file.
        if (!lookups_.Missing(jcm, kRecStdPhase, "SPHASE", key)) {
            remember();
            continue;
        }
        xio_init_record(jcm, kRecStdPhase);
        PutText(jcm, F("SPHASE"), key);
        if (!converting && FindInIdMap(jcm, kRecStdPhase, RecordIds())) {
            remember();
            continue;
        }
        PutFlag(jcm, F("SPGPHAS"), 1);
        PutText(jcm, F("SPDESC"), "Group created by conversion");
        bool written = false;
        if (converting) {
            written = xio_wr_record(jcm, kRecStdPhase) == XIO_OK;
            if (written) lookups_.Found(jcm, kRecStdPhase, "SPHASE", key);
        } else {
            std::string why;
            written = ExamineRecord(jcm, info, why, 0, convert::kPermGroup);
        }
        if (!written) {
            lookups_.Clear();  // a later line may yet write this phase itself
            knownGroups_ = {};
            ++knownGeneration_;
            reason = Msg(12220, Term(kPhase), ShowKey(kPhase, 0, key));
            return false;
        }
        remember();
        report.AddRecordTypeTotals(static_cast<int16_t>(jcm), kRecStdPhase, false, false, false, true, 0);
        messages.push_back(Msg(12219, Term(kPhase), ShowKey(kPhase, 0, key), converting ? "" : "will be ",
                               ModeWord("327/328", converting)));
    }
    return true;
}

// ---- Standard categories ---------------------------------------------------------------------------

bool xvJCS::ConvertStdCategory(uint16_t jcm, xvl::xvlImpInfo&, std::string& reason, convert::MessageList& messages,
                               bool converting) {
    const auto& F = categoryFields_;
    auto stored = [&](std::size_t field) -> const std::string& { return xio_get_text(jcm, F[field]); };
    if (!categoriesUsed) {
        reason = Msg(12199);
        return false;
    }
    if (Blank(stored(kScCat))) {
        reason = Msg(12201);
        return false;
    }
    if (Blank(stored(kScDesc))) {
        reason = Msg(12202);
        return false;
    }
    for (auto [field, letter] : {std::pair{kScAccountA, "A"}, std::pair{kScAccountB, "B"}, std::pair{kScAccountC, "C"}})
        if (!ValidateCostAccount(jcm, reason, messages, kRecStdCategory, F[field], letter, converting)) return false;
    if (const std::string& v = stored(kScUnitDesc); !Blank(v))
        UnitCheck(Whole(GetNumber(jcm, F[kScCostType])), v, messages);
    if (GetFlag(jcm, F[kScSendToBillings]) == 0 && !arMasterExists) {
        messages.push_back(Msg(12789, ModeWord("was/will be", converting), ModeWord("331/332", converting)));
        PutFlag(jcm, F[kScSendToBillings], 1);
    }
    TaxStatus(jcm, F[kScTaxStatus], false, messages, converting);
    return true;
}

}  // namespace dz::jc
