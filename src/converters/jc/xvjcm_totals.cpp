// The totals rebuild that ends a JC master Convert: phases from their categories (or their own
// fields), group phases from their members, extras from their phases, jobs from their phases and
// extras; then a balance-forward draw for every job and tracked extra that bills.
//
// The field maps are data: each row names a target and a source field by the JC module's field
// index, and one roll-up applies any of them. Every pass stops at its first failure, so the
// rebuild either completes or the JC master file goes back to its backup.
#include "converters/jc/xvjcm.h"

#include "converters/jc/jcm_fields.h"

#include "convert/platform_links.h"
#include "convert/progress.h"
#include "modules/entries.h"
#include "platform/datafile/xio.h"
#include "platform/suite/util.h"
#include "platform/suite/xd.h"
#include "platform/suite/xk.h"

#include <algorithm>
#include <cctype>
#include <optional>
#include <string>
#include <vector>

namespace dz::jc {

using namespace convert;

namespace {

constexpr uint16_t kRecDraw = 5;
// The job fields a balance-forward draw is made from (the second, an extra's, none): key, billing
// amounts (a job with any of them not 0 gets a draw), contract links and AR adjustments.
constexpr const char* kJobDrawFields[] = {"JOB",    "",     "JJTDWB", "JJTDPY", "JJTDRH",
                                          "JBLBAL", "JCNT", "JCNI",   "JJTDADJ"};
constexpr int kPhaseFmt = suite::kPhaseFormat;
constexpr int kExtraFmt = 15;

// One row of a field map, by JC index: target, source and the third column (a conditional flag,
// or a required cost type, 0 for any).
struct IndexRow {
    uint16_t target, source;
    int third;
};

// Rows t0..t1 from s0 (stepping when s1 > s0) with the third column x0 (stepping when x1 > x0).
void Run(std::vector<IndexRow>& rows, int t0, int t1, int s0, int s1, int x0, int x1) {
    for (int k = 0; k <= t1 - t0; ++k)
        rows.push_back({static_cast<uint16_t>(t0 + k), static_cast<uint16_t>(s1 > s0 ? s0 + k : s0),
                        x1 > x0 ? x0 + k : x0});
}
void Run(std::vector<IndexRow>& rows, int t0, int t1, int s0, int s1, int x) { Run(rows, t0, t1, s0, s1, x, x); }
// The cost-type block of eight rows: a for types 1 to 6, b besides for types 1 and 4.
void Block8(std::vector<IndexRow>& rows, int t, int a, int b) {
    const int src[] = {a, b, a, a, a, b, a, a};
    const int type[] = {1, 1, 2, 3, 4, 4, 5, 6};
    for (int k = 0; k < 8; ++k) rows.push_back({static_cast<uint16_t>(t + k), static_cast<uint16_t>(src[k]), type[k]});
}

// Phase into job (A) and phase into extra (C): flag 1 rows move billing amounts up.
std::vector<IndexRow> PhaseUpRows(bool toJob) {
    std::vector<IndexRow> r;
    if (toJob) {
        Run(r, 87, 88, 19, 20, 1), Run(r, 422, 423, 201, 202, 1), Run(r, 89, 90, 21, 22, 1);
        Run(r, 390, 394, 191, 195, 1), Run(r, 91, 102, 23, 34, 1), Run(r, 112, 115, 35, 38, 0);
        Run(r, 401, 405, 196, 200, 0), Run(r, 116, 128, 43, 55, 0), Run(r, 137, 144, 72, 79, 0);
        Run(r, 154, 205, 88, 139, 0), Run(r, 380, 383, 183, 186, 0), Run(r, 206, 211, 140, 145, 0);
        Run(r, 217, 232, 157, 172, 0);
    } else {
        Run(r, 17, 18, 19, 20, 1), Run(r, 187, 188, 201, 202, 1), Run(r, 19, 20, 21, 22, 1);
        Run(r, 171, 175, 191, 195, 1), Run(r, 21, 32, 23, 34, 1), Run(r, 41, 44, 35, 38, 0);
        Run(r, 182, 186, 196, 200, 0), Run(r, 45, 57, 43, 55, 0), Run(r, 66, 73, 72, 79, 0);
        Run(r, 83, 134, 88, 139, 0), Run(r, 165, 168, 183, 186, 0), Run(r, 135, 140, 140, 145, 0);
        Run(r, 146, 161, 157, 172, 0);
    }
    return r;
}

// Extra into job (B): always set.
std::vector<IndexRow> ExtraToJobRows() {
    std::vector<IndexRow> r;
    Run(r, 234, 235, 17, 18, 0), Run(r, 424, 425, 187, 188, 0), Run(r, 236, 237, 19, 20, 0);
    Run(r, 406, 410, 171, 175, 0), Run(r, 238, 255, 21, 38, 0), Run(r, 411, 416, 176, 181, 0);
    Run(r, 256, 256, 39, 39, 0), Run(r, 257, 260, 41, 44, 0), Run(r, 417, 421, 182, 186, 0);
    Run(r, 261, 273, 45, 57, 0), Run(r, 282, 289, 66, 73, 0), Run(r, 299, 350, 83, 134, 0);
    Run(r, 384, 387, 165, 168, 0), Run(r, 351, 356, 135, 140, 0), Run(r, 357, 375, 143, 161, 0);
    return r;
}

// Members into their group phase (D): the same field on both sides.
std::vector<IndexRow> GroupRows() {
    std::vector<IndexRow> r;
    const int runs[][3] = {{19, 20, 1},  {201, 202, 1}, {21, 22, 1},   {191, 195, 1}, {23, 34, 1},  {35, 55, 0},
                           {64, 79, 0},  {88, 139, 0},  {183, 186, 0}, {140, 145, 0}, {157, 172, 0}};
    for (const auto& x : runs) Run(r, x[0], x[1], x[0], x[1], x[2]);
    return r;
}

// Categories into their phase (E), by category type.
std::vector<IndexRow> CategoryRows() {
    std::vector<IndexRow> r;
    Run(r, 35, 38, 18, 21, 0), Run(r, 43, 55, 26, 38, 0), Run(r, 72, 79, 55, 62, 0);
    Block8(r, 88, 21, 25);
    Run(r, 96, 101, 29, 29, 1, 6), Run(r, 102, 107, 30, 30, 1, 6);
    Block8(r, 108, 31, 47), Block8(r, 116, 34, 50), Block8(r, 124, 35, 51), Block8(r, 132, 36, 52);
    r.push_back({183, 37, 1}), r.push_back({184, 53, 1}), r.push_back({185, 37, 4}), r.push_back({186, 53, 4});
    Run(r, 140, 145, 55, 55, 1, 6);
    Run(r, 163, 172, 74, 83, 0);
    return r;
}

// A phase's own fields (F), by phase type.
std::vector<IndexRow> OwnRows() {
    std::vector<IndexRow> r;
    Block8(r, 88, 38, 42);
    Run(r, 96, 101, 46, 46, 1, 6), Run(r, 102, 107, 47, 47, 1, 6);
    Block8(r, 108, 48, 64), Block8(r, 116, 51, 67), Block8(r, 124, 52, 68), Block8(r, 132, 53, 69);
    r.push_back({183, 54, 1}), r.push_back({184, 70, 1}), r.push_back({185, 54, 4}), r.push_back({186, 70, 4});
    Run(r, 140, 145, 72, 72, 1, 6);
    return r;
}

// A row as the data file numbers its fields.
struct Row {
    uint16_t target, source;
    int third;
};
std::vector<Row> Resolve(uint16_t jcm, uint16_t targetRec, uint16_t sourceRec, const std::vector<IndexRow>& rows) {
    std::vector<Row> out;
    out.reserve(rows.size());
    for (const IndexRow& r : rows)
        out.push_back({modules::JCM_NUM(jcm, XIO_NUM_RECORD, targetRec, r.target),
                       modules::JCM_NUM(jcm, XIO_NUM_RECORD, sourceRec, r.source), r.third});
    return out;
}

uint16_t Jc(uint16_t jcm, uint16_t rec, uint16_t index) { return modules::JCM_NUM(jcm, XIO_NUM_RECORD, rec, index); }

bool IsEnd(int s) { return s == XIO_END || s == XIO_END_OLD; }

// Case-blind equality of key values (the scans of one record's sources).
bool SameKey(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    if (a == b) return true;  // the usual case, without folding
    for (std::size_t i = 0; i < a.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i]))) return false;
    return true;
}

// The order of key values in the data file: byte by byte with ASCII letters folded to lower
// case, a value that is the start of another first.
int CompareKey(const std::string& a, const std::string& b) {
    const std::size_t n = std::min(a.size(), b.size());
    for (std::size_t i = 0; i < n; ++i) {
        unsigned char x = static_cast<unsigned char>(a[i]), y = static_cast<unsigned char>(b[i]);
        if (x >= 'A' && x <= 'Z') x = static_cast<unsigned char>(x + ('a' - 'A'));
        if (y >= 'A' && y <= 'Z') y = static_cast<unsigned char>(y + ('a' - 'A'));
        if (x != y) return x < y ? -1 : 1;
    }
    return a.size() == b.size() ? 0 : a.size() < b.size() ? -1 : 1;
}

// Whether the key (a1, a2, a3) comes before (b1, b2, b3) in the data file.
bool KeyBefore(const std::string& a1, const std::string& a2, const std::string& a3, const std::string& b1,
               const std::string& b2, const std::string& b3) {
    if (int r = CompareKey(a1, b1)) return r < 0;
    if (int r = CompareKey(a2, b2)) return r < 0;
    return CompareKey(a3, b3) < 0;
}

}  // namespace

std::vector<uint16_t> PhaseRebuildAmounts(uint16_t jcm) {
    std::vector<uint16_t> out;
    auto add = [&](const std::vector<IndexRow>& rows, bool sources, bool targets) {
        for (const IndexRow& r : rows) {
            if (sources) out.push_back(Jc(jcm, kRecPhase, r.source));
            if (targets) out.push_back(Jc(jcm, kRecPhase, r.target));
        }
    };
    add(PhaseUpRows(true), true, false), add(PhaseUpRows(false), true, false);
    add(GroupRows(), true, true), add(CategoryRows(), false, true), add(OwnRows(), true, true);
    std::sort(out.begin(), out.end());
    out.erase(std::unique(out.begin(), out.end()), out.end());
    std::erase(out, uint16_t{0});
    return out;
}

// Everything the passes share. Results: 0 success, 13 canceled (reported and restored), any
// other value a failure that FinishConversion reports.
struct JCTotalsContext {
    xvJCM& conv;
    ConvertContext& ctx;
    uint16_t jcm;
    bool extrasTracked;
    bool categoriesUsed;
    std::vector<Row> phaseToJob, extraToJob, phaseToExtra, group, category, own;
    // Key fields and type fields by data-file number.
    uint16_t jobKey, extraJob, extraKey, phaseJob, phaseExtra, phaseCode, phaseType;
    uint16_t catJob, catExtra, catPhase, catType;
    uint16_t jobMethod, jobLevel;
    // The difference fields (target = a - b - c), by data-file number: the extra's, and the job's
    // after its phases and after its extras.
    struct DifferenceRule {
        uint16_t target, a, b, c;
    };
    DifferenceRule extraDifference{}, jobPhaseDifference{}, jobExtraDifference{};
    int sinceStep = 0;
    bool diskFull = false;
    // The walk of the current pass: the records it has passed and the records on file, taken
    // once when it starts. Asking the data file for the position instead would count the records
    // before the current one whenever a keyed read moved the walk: the rebuild would grow with the
    // square of the file.
    int64_t walked = 0, total = 0;

    // A cost code's key as stored.
    struct PhaseKey {
        std::string job, extra, phase;
    };
    // The cost codes of group level 0 or 1, in key order, as the first pass met them: the extras
    // and jobs total only these, and the passes in between add and remove none. Those that are
    // not groups and stay at amounts 0 are left out: they would add nothing. Each of the two
    // passes over them keeps its place in the list. Kept for at most a sixteenth of the group
    // list's budget in cost codes; beyond, the extras and jobs read all their cost codes.
    std::vector<PhaseKey> topPhases;
    bool topKept = false;
    std::size_t extraPlace = 0, jobPlace = 0;
    // The group phases in key order, as the first pass met them, each with the totals its members
    // that are not groups give it (none when all are 0) and those members with a flagged amount:
    // the group pass then reads only the groups. Kept while it takes at most the converter's
    // budget of numbers; beyond, the list is dropped and the group pass walks every cost code.
    struct GroupEntry {
        PhaseKey key;
        uint16_t level;
        std::vector<double> sums;
        std::vector<PhaseKey> flagged;
    };
    std::vector<GroupEntry> groups;
    bool groupsKept = false;
    std::size_t groupValues = 0, groupBudget;
    // The cost codes this Convert wrote with their amounts 0 and the rebuild has not written
    // since; the fields the phase pass reads of the others (and every later pass of all), and of
    // the cost codes as it walks them: their keys.
    ZeroPhases& zeroPhases;
    std::vector<uint16_t> phaseReads, phaseKeys;

    JCTotalsContext(xvJCM& c, ConvertContext& cx)
        : conv(c), ctx(cx), jcm(cx.mainHandle), extrasTracked(c.extrasTracked), categoriesUsed(c.categoriesUsed),
          groupBudget(c.groupListBudget_), zeroPhases(c.zeroPhases_) {
        // Without amounts on file no pass asks which cost codes were written with theirs 0.
        if (c.amountsMayExist_) c.zeroPhases_.Seal();
        phaseToJob = Resolve(jcm, kRecJob, kRecPhase, PhaseUpRows(true));
        extraToJob = Resolve(jcm, kRecJob, kRecExtra, ExtraToJobRows());
        phaseToExtra = Resolve(jcm, kRecExtra, kRecPhase, PhaseUpRows(false));
        group = Resolve(jcm, kRecPhase, kRecPhase, GroupRows());
        category = Resolve(jcm, kRecPhase, kRecCategory, CategoryRows());
        own = Resolve(jcm, kRecPhase, kRecPhase, OwnRows());
        jobKey = Jc(jcm, kRecJob, 1);
        extraJob = Jc(jcm, kRecExtra, 1), extraKey = Jc(jcm, kRecExtra, 2);
        phaseJob = Jc(jcm, kRecPhase, 1), phaseExtra = Jc(jcm, kRecPhase, 2), phaseCode = Jc(jcm, kRecPhase, 3);
        phaseType = Jc(jcm, kRecPhase, 13);
        catJob = Jc(jcm, kRecCategory, 1), catExtra = Jc(jcm, kRecCategory, 2), catPhase = Jc(jcm, kRecCategory, 3);
        catType = Jc(jcm, kRecCategory, 14);
        jobMethod = FieldNo(jcm, kRecJob, "JBMETH"), jobLevel = FieldNo(jcm, kRecJob, "JBLEVEL");
        auto difference = [&](uint16_t rec, uint16_t target, uint16_t a, uint16_t b, uint16_t d) {
            return DifferenceRule{Jc(jcm, rec, target), Jc(jcm, rec, a), Jc(jcm, rec, b), Jc(jcm, rec, d)};
        };
        extraDifference = difference(kRecExtra, 39, 21, 27, 33);
        jobPhaseDifference = difference(kRecJob, 109, 91, 97, 103);
        jobExtraDifference = difference(kRecJob, 256, 238, 244, 250);
    }

    // A background terminate request, looked at after every record: a cancel.
    bool Terminated() const { return convert::InBackground() && convert::CheckTerminate(); }

    // A pass over the records of type `rec` in key order begins.
    void StartWalk(uint16_t rec) {
        walked = 0;
        sinceStep = 0;
        total = xio_record_count(jcm, rec);
    }
    // The walk's place in percent, as the data file would give it for the current record.
    int Position() const { return total > 0 ? static_cast<int>(std::min<int64_t>(100, walked * 100 / total)) : 0; }

    // One record passed; every `every`-th call is a progress step. False when the run is to stop.
    bool Step(int every, const std::string& title, const std::string& task) {
        ++walked;
        if (++sinceStep < every) return !Terminated();
        sinceStep = 0;
        return Show(title, task);
    }
    // The walk's place shown. False when the run is to stop.
    bool Show(const std::string& title, const std::string& task) {
        const int pos = Position();
        if (ctx.progress && !ctx.progress->SetStatusText(title, static_cast<int16_t>(pos))) return false;
        if (convert::InBackground()) {
            if (convert::CheckTerminate()) return false;
            suite::x_update_task(pos, task);
        }
        return true;
    }
    // The cancel of a progress step: restored, 12000 without a message box.
    int Cancel() {
        conv.StopRebuild(ctx);
        return 13;
    }

    // The billing level of the job in the buffer: 1 for jobs billed by contracts.
    int BillingLevel() const {
        if (GetNumber(jcm, jobMethod) == 2) return 1;
        return Whole(GetNumber(jcm, jobLevel));
    }

    // The group level of a phase code; `group` receives whether it is a group phase.
    uint16_t Level(const std::string& code, bool& isGroup) {
        const CostCodeMemo::Split& split = codes.Of(code, 0);
        isGroup = split.group;
        return split.level;
    }
    CostCodeMemo codes;

    static void Set(uint16_t jcm, uint16_t fld, double value, bool& changed) {
        if (!fld) return;
        if (GetNumber(jcm, fld) != value) {
            PutNumber(jcm, fld, value);
            changed = true;
        }
    }
    static void Add(uint16_t jcm, uint16_t fld, double amount, bool& changed) {
        if (fld) Set(jcm, fld, GetNumber(jcm, fld) + amount, changed);
    }
    // A write's result: disk full is remembered for the report.
    int Written(int s) {
        if (s == XIO_DISK_FULL) diskFull = true;
        return s;
    }
    // Replaces the cost code in the buffer, which from then on does not count as written with
    // its amounts 0.
    int RewritePhase() {
        const int s = Written(xio_rep_record(jcm, kRecPhase));
        zeroPhases.Drop(GetText(jcm, phaseJob), GetText(jcm, phaseExtra), GetText(jcm, phaseCode));
        return s;
    }
};

void SetTotalField(JCTotalsContext& c, uint16_t fld, double amount, bool& changed) {
    JCTotalsContext::Set(c.jcm, fld, amount, changed);
}
void AddToTotalField(JCTotalsContext& c, uint16_t fld, double amount, bool& changed) {
    JCTotalsContext::Add(c.jcm, fld, amount, changed);
}

namespace {

// The phases whose flagged amounts were moved up: each gets those fields put to 0.
using MovedPhase = JCTotalsContext::PhaseKey;

// Sums of one record's rows; `moved` collects the source phases with a non-zero amount in a
// conditional row.
struct RollUp {
    const std::vector<Row>& rows;
    std::vector<double> sums;
    explicit RollUp(const std::vector<Row>& r) : rows(r), sums(r.size(), 0.0) {}

    // Adds the source record in its buffer; `type` 0 takes every row, else rows of type 0 or that
    // type (tables E, F). Rows of tables A, C, D carry a flag, not a type: `byType` false.
    void AddSource(uint16_t jcm, bool byType, int type) {
        for (std::size_t i = 0; i < rows.size(); ++i) {
            const Row& r = rows[i];
            if (!r.source || (byType && r.third != 0 && r.third != type)) continue;
            sums[i] += GetNumber(jcm, r.source);
        }
    }
    bool HasConditionalAmount(uint16_t jcm) const {
        for (const Row& r : rows)
            if (r.third == 1 && r.source && GetNumber(jcm, r.source) != 0) return true;
        return false;
    }
    // Puts the sums into the target record's buffer; conditional rows add (when `moveUp`).
    void Apply(uint16_t jcm, bool moveUp, bool& changed) const {
        for (std::size_t i = 0; i < rows.size(); ++i) {
            if (!rows[i].target) continue;
            if (moveUp && rows[i].third == 1)
                JCTotalsContext::Add(jcm, rows[i].target, sums[i], changed);
            else
                JCTotalsContext::Set(jcm, rows[i].target, sums[i], changed);
        }
    }
};

// Clears the conditional amounts of the phases moved up. The phase buffer is overwritten.
int ClearMoved(JCTotalsContext& c, const std::vector<Row>& rows, const std::vector<MovedPhase>& moved) {
    for (const MovedPhase& m : moved) {
        if (!ReadByKeys(c.jcm, kRecPhase, {{"PJOB", m.job}, {"PEXTRA", m.extra}, {"PHASE", m.phase}}))
            return XIO_NOT_FOUND;
        bool changed = false;
        for (const Row& r : rows)
            if (r.third == 1) JCTotalsContext::Set(c.jcm, r.source, 0, changed);
        if (changed)
            if (int s = c.RewritePhase(); s != XIO_OK) return s;
    }
    return XIO_OK;
}

// The difference field of a rule set to a - b - c.
void Difference(const JCTotalsContext& c, const JCTotalsContext::DifferenceRule& rule, bool& changed) {
    const double v = GetNumber(c.jcm, rule.a) - GetNumber(c.jcm, rule.b) - GetNumber(c.jcm, rule.c);
    JCTotalsContext::Set(c.jcm, rule.target, v, changed);
}

// A title with its one "%s" filled.
std::string FormatTitle(const char* format, const std::string& value) {
    std::string out = format;
    if (auto p = out.find("%s"); p != std::string::npos) out.replace(p, 2, value);
    return out;
}

std::string PhaseTitle(bool group) {
    return FormatTitle(group ? "Updating group %s totals:" : "Updating %s totals:", suite::xk_description(kPhaseFmt));
}

// Steps 1a and 1b: the phases that are not groups, from their categories or their own fields.
// Step 1 starts the top and group lists afresh: the later passes take their cost codes from them.
void StartPhaseLists(JCTotalsContext& c) {
    c.topPhases.clear();
    c.topKept = true;
    c.extraPlace = c.jobPlace = 0;
    c.groups.clear();
    c.groupsKept = true;
    c.groupValues = 0;
}

// The categories are walked once beside the phases: they are in the same order, so the category
// after the last phase's run is the first one a later phase can own, and the walk only looks it
// up again when it is left behind (a category of a group or of a missing phase).
int UpdatePhases(JCTotalsContext& c, bool fromCategories) {
    const uint16_t jcm = c.jcm;
    const std::string title = PhaseTitle(false);
    const int every = fromCategories ? 5 : 15;
    StartPhaseLists(c);
    // The totals of the members of the last group listed, while its members may follow.
    std::optional<RollUp> members;
    // Counts `values` more into the list; beyond its budget the list is dropped.
    auto within = [&](std::size_t values) {
        c.groupValues += values;
        if (c.groupsKept && c.groupValues > c.groupBudget) {
            c.groupsKept = false;
            std::vector<JCTotalsContext::GroupEntry>().swap(c.groups);
            members.reset();
        }
        return c.groupsKept;
    };
    auto endMembers = [&] {
        if (!members) return;
        std::vector<double>& sums = members->sums;
        if (std::any_of(sums.begin(), sums.end(), [](double v) { return v != 0; }) && within(sums.size()))
            c.groups.back().sums = std::move(sums);
        members.reset();
    };
    c.StartWalk(kRecPhase);
    // When this Convert wrote cost codes with their amounts all 0, the walk reads the keys only
    // and a cost code's amounts by its key: not at all for one of those (unless its categories
    // give it totals).
    const bool keysWalk = !c.phaseKeys.empty() && c.zeroPhases.Any();
    auto walkReads = [&](bool keys) {
        if (keysWalk) xio_read_fields(jcm, kRecPhase, keys ? c.phaseKeys : c.phaseReads);
    };
    struct Restore {
        decltype(walkReads)& reads;
        ~Restore() { reads(false); }
    } restore{walkReads};
    walkReads(true);
    bool catPlaced = false;  // the category buffer holds the walk's category, or cs says there is none
    int cs = XIO_END;
    // The sums of the cost code at hand, zeroed again only after a source was added.
    RollUp sums(fromCategories ? c.category : c.own);
    bool added = false;
    // One cost code of the walk: 0 to go on, kStop for a stop, else the failure. The walk's own
    // statement is open meanwhile, so a stop ends the file only after it.
    constexpr int kStop = -1;
    auto one = [&]() -> int {
        const std::string job = GetText(jcm, c.phaseJob), extra = GetText(jcm, c.phaseExtra),
                          code = GetText(jcm, c.phaseCode);
        bool isGroup = false;
        const uint16_t level = c.Level(code, isGroup);
        auto listTop = [&] {
            if (level > 1 || !c.topKept) return;
            if (c.topPhases.size() < c.groupBudget / 16) {
                c.topPhases.push_back({job, extra, code});
            } else {
                c.topKept = false;
                std::vector<JCTotalsContext::PhaseKey>().swap(c.topPhases);
            }
        };
        if (isGroup) listTop();
        if (isGroup) {
            endMembers();
            if (within(16)) {
                c.groups.push_back({{job, extra, code}, level, {}, {}});
                members.emplace(c.group);
            }
        } else {
            const bool zero = keysWalk && c.zeroPhases.Zero(job, extra, code);
            bool haveAmounts = !keysWalk;
            auto readAmounts = [&] {
                if (haveAmounts) return XIO_OK;
                haveAmounts = true;
                walkReads(false);
                const int r = xio_rd_record(jcm, kRecPhase, 0, 0);
                walkReads(true);
                return r;
            };
            if (!zero)
                if (int r = readAmounts(); r != XIO_OK) return r;
            if (added) std::fill(sums.sums.begin(), sums.sums.end(), 0.0);
            added = false;
            if (fromCategories) {
                // The phase's categories follow its key; the phase's buffer is untouched.
                if (!catPlaced || (cs == XIO_OK && KeyBefore(GetText(jcm, c.catJob), GetText(jcm, c.catExtra),
                                                             GetText(jcm, c.catPhase), job, extra, code))) {
                    xio_init_record(jcm, kRecCategory);
                    PutText(jcm, c.catJob, job), PutText(jcm, c.catExtra, extra), PutText(jcm, c.catPhase, code);
                    cs = xio_rd_ge(jcm, kRecCategory, 0, 0);
                    catPlaced = true;
                }
                while (cs == XIO_OK && SameKey(GetText(jcm, c.catJob), job) && SameKey(GetText(jcm, c.catExtra), extra) &&
                       SameKey(GetText(jcm, c.catPhase), code)) {
                    sums.AddSource(jcm, true, Whole(GetNumber(jcm, c.catType)));
                    added = true;
                    cs = xio_rd_next(jcm, kRecCategory, 0, 0);
                }
                if (cs != XIO_OK && !IsEnd(cs)) return cs;
            } else if (haveAmounts) {
                sums.AddSource(jcm, true, Whole(GetNumber(jcm, c.phaseType)));
                added = true;
            }
            // Amounts all 0 that get totals all 0 stay as they are, and add nothing to a group.
            if (haveAmounts ||
                (added && std::any_of(sums.sums.begin(), sums.sums.end(), [](double v) { return v != 0; }))) {
                if (int r = readAmounts(); r != XIO_OK) return r;
                bool changed = false;
                sums.Apply(jcm, false, changed);
                if (changed)
                    if (int w = c.RewritePhase(); w != XIO_OK) return w;
            }
            // One still at amounts 0 stays so through the later passes (they move and clear
            // only amounts that are not 0, and write only groups), so it adds nothing to its
            // extra or job: it is not listed for them.
            if (!c.zeroPhases.Zero(job, extra, code)) listTop();
            // With its totals now, into the group it belongs to.
            if (members) {
                const JCTotalsContext::GroupEntry& g = c.groups.back();
                if (!SameKey(g.key.job, job) || !SameKey(g.key.extra, extra)) {
                    endMembers();
                } else if (g.level + 1 == level && haveAmounts) {
                    members->AddSource(jcm, false, 0);
                    if (members->HasConditionalAmount(jcm) && within(16))
                        c.groups.back().flagged.push_back({job, extra, code});
                }
            }
        }
        return c.Step(every, title, title) ? 0 : kStop;
    };
    int r = 0;
    const int s = xio_rd_every_chosen(jcm, kRecPhase, [&] { return (r = one()) == 0; });
    if (r == kStop) return c.Cancel();
    if (r != 0) return r;
    endMembers();
    return IsEnd(s) ? 0 : s;
}

// A group phase whose members are still being read: the phases after it of the next level, up
// to the next phase of its level or above (or of another job or extra).
struct OpenGroup {
    MovedPhase key;
    uint16_t level;
    RollUp sums;
    // The members with a flagged amount: cleared when the group moves the amounts up.
    std::vector<MovedPhase> moved;
};

// The groups whose members a pass over the cost codes in key order is passing, one per level,
// innermost last. A group is closed (its moved members cleared, its totals written) at the first
// cost code that is not its member, after every group below it, and then counts as a member of
// the group above it with the totals it just got.
struct GroupStack {
    JCTotalsContext& c;
    std::vector<OpenGroup> open;
    std::string billedJob;
    bool jobRead = false, haveJob = false;
    int billing = 1;

    explicit GroupStack(JCTotalsContext& cx) : c(cx) {}

    // Whether the cost code `key` of group level `level` ends the innermost open group.
    bool Ends(const MovedPhase& key, uint16_t level) const {
        return !open.empty() && (!SameKey(open.back().key.job, key.job) || !SameKey(open.back().key.extra, key.extra) ||
                                 level <= open.back().level);
    }
    // The open group that a cost code of level `level` (ended no group) is a member of, if any.
    OpenGroup* ParentOf(uint16_t level) {
        return !open.empty() && open.back().level + 1 == level ? &open.back() : nullptr;
    }
    // Opens the group phase `key` of level `level` (1 or more), its members' totals so far in
    // `sums` and the members with flagged amounts in `flagged`.
    void Open(MovedPhase key, uint16_t level, RollUp sums, std::vector<MovedPhase> flagged) {
        open.push_back({std::move(key), level, std::move(sums), std::move(flagged)});
    }
    // Whether the job is on file, its billing level then in `billing`: read once per job, and
    // only for a group that may change.
    bool JobOnFile(const std::string& job) {
        if (!jobRead || job != billedJob) {
            jobRead = true;
            billedJob = job;
            haveJob = ReadByKeys(c.jcm, kRecJob, {{"JOB", job}});
            if (haveJob) billing = c.BillingLevel();
        }
        return haveJob;
    }
    // Closes the innermost open group; `moved` is set when the phase buffer was read.
    int Close(bool& moved) {
        const uint16_t jcm = c.jcm;
        OpenGroup g = std::move(open.back());
        open.pop_back();
        // A group this Convert wrote with its amounts 0, not written since, that gets totals all
        // 0 stays as it is and gives the group above it nothing; it moves nothing up either when
        // no member has a flagged amount.
        const bool zero = std::all_of(g.sums.sums.begin(), g.sums.sums.end(), [](double v) { return v == 0; }) &&
                          c.zeroPhases.Zero(g.key.job, g.key.extra, g.key.phase);
        if (zero && g.moved.empty()) return XIO_OK;
        if (!JobOnFile(g.key.job)) return XIO_OK;  // left as it is
        const bool moveUp = billing - 1 <= g.level;
        moved = true;
        if (moveUp)
            if (int w = ClearMoved(c, c.group, g.moved); w != XIO_OK) return w;
        if (zero) return XIO_OK;
        if (!ReadByKeys(jcm, kRecPhase, {{"PJOB", g.key.job}, {"PEXTRA", g.key.extra}, {"PHASE", g.key.phase}}))
            return XIO_NOT_FOUND;
        bool changed = false;
        g.sums.Apply(jcm, moveUp, changed);
        if (changed)
            if (int w = c.RewritePhase(); w != XIO_OK) return w;
        if (OpenGroup* parent = ParentOf(g.level)) {
            parent->sums.AddSource(jcm, false, 0);
            if (parent->sums.HasConditionalAmount(jcm)) parent->moved.push_back(std::move(g.key));
        }
        return XIO_OK;
    }
    int CloseAll() {
        bool moved = false;
        while (!open.empty())
            if (int r = Close(moved); r != XIO_OK) return r;
        return XIO_OK;
    }
};

// Step 2: group phases, deepest first, in one walk over every cost code. Used when the phase
// pass could not keep its group list.
int UpdateGroupPhasesByWalk(JCTotalsContext& c, const std::string& title) {
    const uint16_t jcm = c.jcm;
    c.StartWalk(kRecPhase);
    GroupStack stack(c);
    int s = xio_rd_first(jcm, kRecPhase, 0, 0);
    while (s == XIO_OK) {
        MovedPhase key{GetText(jcm, c.phaseJob), GetText(jcm, c.phaseExtra), GetText(jcm, c.phaseCode)};
        bool isGroup = false;
        const uint16_t level = c.Level(key.phase, isGroup);
        bool moved = false;
        while (stack.Ends(key, level))
            if (int r = stack.Close(moved); r != XIO_OK) return r;
        // On with this phase, as the data file now holds it.
        if (moved && !ReadByKeys(jcm, kRecPhase, {{"PJOB", key.job}, {"PEXTRA", key.extra}, {"PHASE", key.phase}}))
            return XIO_NOT_FOUND;
        if (isGroup && level >= 1) {
            stack.Open(std::move(key), level, RollUp(c.group), {});
        } else if (OpenGroup* g = stack.ParentOf(level)) {
            g->sums.AddSource(jcm, false, 0);
            if (g->sums.HasConditionalAmount(jcm)) g->moved.push_back(std::move(key));
        }
        if (!c.Step(5, title, title)) return c.Cancel();
        s = xio_rd_next(jcm, kRecPhase, 0, 0);
    }
    if (!IsEnd(s)) return s;
    return stack.CloseAll();
}

// Step 2 from the phase pass's group list: only the group phases are read. The cost codes that
// are not groups end no group (their level is below every group's) and their totals into their
// group came with the list.
int UpdateGroupPhasesFromList(JCTotalsContext& c, const std::string& title) {
    c.walked = 0;
    c.total = static_cast<int64_t>(c.groups.size());
    c.sinceStep = 4;  // the first group is a step
    GroupStack stack(c);
    for (JCTotalsContext::GroupEntry& e : c.groups) {
        bool moved = false;
        while (stack.Ends(e.key, e.level))
            if (int r = stack.Close(moved); r != XIO_OK) return r;
        if (e.level >= 1) {
            RollUp sums(c.group);
            if (!e.sums.empty()) sums.sums = std::move(e.sums);
            stack.Open(std::move(e.key), e.level, std::move(sums), std::move(e.flagged));
        }
        if (!c.Step(5, title, title)) return c.Cancel();
    }
    if (int r = stack.CloseAll(); r != XIO_OK) return r;
    c.groups.clear();
    // The bar ends full.
    if (c.sinceStep != 0 && !c.Show(title, title)) return c.Cancel();
    return 0;
}

int UpdateGroupPhases(JCTotalsContext& c) {
    const int top = suite::xk_num_sections(kPhaseFmt);
    if (top <= 0) return 0;
    const std::string title = PhaseTitle(true);
    return c.groupsKept ? UpdateGroupPhasesFromList(c, title) : UpdateGroupPhasesByWalk(c, title);
}

// The phases of one job (with `extra`, or without one for the job's own phases) summed into
// `sums`: only phases of group level 0 or 1, which hold their members' totals, taken from the
// first pass's list from `place` on (the callers ask in key order). The reads leave the phase
// buffer; the caller's target buffer is another record's.
int SumPhases(JCTotalsContext& c, std::size_t& place, const std::string& job, const std::string& extra,
              RollUp& sums, bool moveUp, std::vector<MovedPhase>& moved) {
    const uint16_t jcm = c.jcm;
    if (!c.topKept) {
        // Without the list: every cost code of the job and extra, from the first on.
        xio_init_record(jcm, kRecPhase);
        PutText(jcm, c.phaseJob, job), PutText(jcm, c.phaseExtra, extra);
        int s = xio_rd_ge(jcm, kRecPhase, 0, 0);
        while (s == XIO_OK) {
            const std::string pj = GetText(jcm, c.phaseJob), px = GetText(jcm, c.phaseExtra);
            if (!SameKey(pj, job) || !SameKey(px, extra)) break;
            bool isGroup = false;
            const std::string code = GetText(jcm, c.phaseCode);
            if (c.Level(code, isGroup) <= 1) {
                sums.AddSource(jcm, false, 0);
                if (moveUp && sums.HasConditionalAmount(jcm)) moved.push_back({pj, px, code});
            }
            s = xio_rd_next(jcm, kRecPhase, 0, 0);
        }
        return s == XIO_OK || IsEnd(s) ? 0 : s;
    }
    const std::vector<MovedPhase>& list = c.topPhases;
    static const std::string none;
    while (place < list.size() && KeyBefore(list[place].job, list[place].extra, none, job, extra, none)) ++place;
    for (; place < list.size() && SameKey(list[place].job, job) && SameKey(list[place].extra, extra); ++place) {
        const MovedPhase& p = list[place];
        if (c.zeroPhases.Zero(p.job, p.extra, p.phase)) continue;  // adds nothing, moves nothing
        if (!ReadByKeys(jcm, kRecPhase, {{"PJOB", p.job}, {"PEXTRA", p.extra}, {"PHASE", p.phase}}))
            return XIO_NOT_FOUND;
        sums.AddSource(jcm, false, 0);
        if (moveUp && sums.HasConditionalAmount(jcm)) moved.push_back(p);
    }
    return 0;
}

// Step 3: extras from their phases (only when extras are tracked).
int UpdateExtras(JCTotalsContext& c) {
    if (!c.extrasTracked) return 0;
    const uint16_t jcm = c.jcm;
    const std::string title = FormatTitle("Updating %s totals:", suite::xk_description(kExtraFmt));
    c.StartWalk(kRecExtra);
    std::string lastJob;
    bool haveJob = false, first = true;
    int billing = 1;
    int s = xio_rd_first(jcm, kRecExtra, 0, 0);
    while (s == XIO_OK) {
        const std::string job = GetText(jcm, c.extraJob), extra = GetText(jcm, c.extraKey);
        if (first || job != lastJob) {
            first = false;
            lastJob = job;
            haveJob = ReadByKeys(jcm, kRecJob, {{"JOB", job}});
            if (haveJob) billing = c.BillingLevel();
        }
        if (haveJob) {
            const bool moveUp = billing < 2;
            RollUp sums(c.phaseToExtra);
            std::vector<MovedPhase> moved;
            if (int r = SumPhases(c, c.extraPlace, job, extra, sums, moveUp, moved); r != 0) return r;
            if (moveUp)
                if (int w = ClearMoved(c, c.phaseToExtra, moved); w != XIO_OK) return w;
            bool changed = false;
            sums.Apply(jcm, moveUp, changed);
            Difference(c, c.extraDifference, changed);
            if (changed)
                if (int w = c.Written(xio_rep_record(jcm, kRecExtra)); w != XIO_OK) return w;
        }
        if (!c.Step(5, title, title)) return c.Cancel();
        s = xio_rd_next(jcm, kRecExtra, 0, 0);
    }
    return IsEnd(s) ? 0 : s;
}

// Reads of record type `rec` in `fields` only (jobs and extras are wide) for one pass, whole
// again after it however it ends. A field the dictionary lacks (0) is left out; a choice refused
// leaves the reads whole.
class PassReads {
public:
    PassReads(uint16_t jcm, uint16_t rec, std::vector<uint16_t> fields) : jcm_(jcm), rec_(rec) {
        std::erase(fields, uint16_t{0});
        on_ = !fields.empty() && xio_read_fields(jcm, rec, fields) == XIO_OK;
    }
    ~PassReads() {
        if (on_) xio_read_fields(jcm_, rec_, {});
    }
    PassReads(const PassReads&) = delete;
    PassReads& operator=(const PassReads&) = delete;

private:
    uint16_t jcm_, rec_;
    bool on_;
};

// Step 4 when no job can change (see xvJCM::jobsMayChange_): the bar shows the pass, done.
int SkipJobTotals(JCTotalsContext& c) {
    c.walked = c.total = 1;
    return c.Show("Updating job totals:", "Updating job totals") ? 0 : c.Cancel();
}

// Step 5 when no job can change and none holds a billing amount: no job gets a draw.
int SkipJobDraws(JCTotalsContext& c) {
    c.walked = c.total = 1;
    const std::string title = "Creating draw records from jobs:";
    return c.Show(title, title) ? 0 : c.Cancel();
}

// Step 4: jobs from their own phases and from their extras.
int UpdateJobs(JCTotalsContext& c) {
    const uint16_t jcm = c.jcm;
    // What the pass looks at or sets of a job, and adds up of its extras.
    std::vector<uint16_t> jobFields{c.jobKey, c.jobMethod, c.jobLevel}, extraFields{c.extraJob, c.extraKey};
    for (const Row& r : c.phaseToJob) jobFields.push_back(r.target);
    for (const Row& r : c.extraToJob) jobFields.push_back(r.target), extraFields.push_back(r.source);
    for (uint16_t index : {109, 91, 97, 103, 256, 238, 244, 250}) jobFields.push_back(Jc(jcm, kRecJob, index));
    PassReads jobReads(jcm, kRecJob, std::move(jobFields)), extraReads(jcm, kRecExtra, std::move(extraFields));
    c.StartWalk(kRecJob);
    // One job of the walk: 0 to go on, kStop for a stop, else the failure. The walk keeps its own
    // statement (a job rewritten would make a walk by keyed reads start over at every job), so a
    // stop ends the file only after it.
    constexpr int kStop = -1;
    auto one = [&]() -> int {
        const std::string job = GetText(jcm, c.jobKey);
        const int billing = c.BillingLevel();
        const bool moveUp = billing < 2;
        RollUp phases(c.phaseToJob);
        std::vector<MovedPhase> moved;
        if (int r = SumPhases(c, c.jobPlace, job, "", phases, moveUp, moved); r != 0) return r;
        if (moveUp)
            if (int w = ClearMoved(c, c.phaseToJob, moved); w != XIO_OK) return w;
        bool changed = false;
        phases.Apply(jcm, moveUp, changed);
        Difference(c, c.jobPhaseDifference, changed);

        RollUp extras(c.extraToJob);
        xio_init_record(jcm, kRecExtra);
        PutText(jcm, c.extraJob, job);
        int es = xio_rd_ge(jcm, kRecExtra, 0, 0);
        while (es == XIO_OK && SameKey(GetText(jcm, c.extraJob), job)) {
            extras.AddSource(jcm, false, 0);
            es = xio_rd_next(jcm, kRecExtra, 0, 0);
        }
        if (es != XIO_OK && !IsEnd(es)) return es;
        extras.Apply(jcm, false, changed);
        Difference(c, c.jobExtraDifference, changed);
        if (changed)
            if (int w = c.Written(xio_rep_record(jcm, kRecJob)); w != XIO_OK) return w;
        return c.Step(5, "Updating job totals:", "Updating job totals") ? 0 : kStop;
    };
    int r = 0;
    const int s = xio_rd_every_chosen(jcm, kRecJob, [&] { return (r = one()) == 0; });
    if (r == kStop) return c.Cancel();
    if (r != 0) return r;
    return IsEnd(s) ? 0 : s;
}

// Steps 5 and 6: a "BF" draw for each job (or extra) with billing amounts and no draw of its own.
int CreateDraws(JCTotalsContext& c, bool extras) {
    if (extras && !c.extrasTracked) return 0;
    const uint16_t jcm = c.jcm;
    const uint16_t rec = extras ? kRecExtra : kRecJob;
    const char* const* from;
    const char* const* const jobFields = kJobDrawFields;
    static const char* const extraFields[] = {"XJOB", "EXTRA", "XJTDWB", "XJTDPY", "XJTDRH",
                                              "XBLBAL", "XCNT", "XCNI", "XJTDADJ"};
    static const char* const drawFields[] = {"RJOB", "REXTRA", "RCHARGE", "RPAYAMT", "RRETWH",
                                             "RBLBAL", "RCNT", "RCNI", "RARADJ"};
    from = extras ? extraFields : jobFields;
    std::string title = "Creating draw records from jobs:";
    if (extras) {
        std::string plural = suite::xk_description(kExtraFmt);
        suite::x_pluralize(plural);
        title = FormatTitle("Creating draw records from %s:", plural);
    }
    const x_date_type today = suite::xd_get_date();
    std::vector<uint16_t> copied;
    for (int k = 0; k < 9; ++k)
        if (*from[k]) copied.push_back(FieldNo(jcm, rec, from[k]));
    PassReads reads(jcm, rec, std::move(copied));
    c.StartWalk(rec);
    int s = xio_rd_first(jcm, rec, 0, 0);
    while (s == XIO_OK) {
        const std::string job = GetText(jcm, rec, from[0]);
        const std::string extra = extras ? GetText(jcm, rec, from[1]) : std::string();
        bool bills = false;
        for (int k = 2; k <= 5; ++k) bills = bills || GetNumber(jcm, rec, from[k]) != 0;
        if (bills) {
            // Any draw of the job (without an extra), or of the extra, blocks a new one.
            xio_init_record(jcm, kRecDraw);
            PutText(jcm, kRecDraw, "RJOB", job);
            PutText(jcm, kRecDraw, "REXTRA", extra);
            const int ds = xio_rd_ge(jcm, kRecDraw, 0, 0);
            if (ds != XIO_OK && !IsEnd(ds) && ds != XIO_NOT_FOUND) return ds;
            const bool hasDraw = ds == XIO_OK && SameKey(GetText(jcm, kRecDraw, "RJOB"), job) &&
                                 SameKey(GetText(jcm, kRecDraw, "REXTRA"), extra);
            if (!hasDraw) {
                xio_init_record(jcm, kRecDraw);
                PutText(jcm, kRecDraw, "RDRAW", "BF");
                PutText(jcm, kRecDraw, "RINV", "BF");
                PutText(jcm, kRecDraw, "RDESC", "Balance forward");
                convert::PutDate(jcm, kRecDraw, "RBDATE", today);
                for (int k = 0; k < 9; ++k) {
                    if (!*from[k]) continue;
                    xio_put_field(jcm, kRecDraw, FieldNo(jcm, kRecDraw, drawFields[k]),
                                  convert::GetValue(jcm, FieldNo(jcm, rec, from[k])));
                }
                // A draw that cannot be written ends the rebuild: no job loses its balance.
                if (int w = c.Written(xio_wr_record(jcm, kRecDraw)); w != XIO_OK) return w;
            }
        }
        if (!c.Step(15, title, title)) return c.Cancel();
        s = xio_rd_next(jcm, rec, 0, 0);
    }
    return IsEnd(s) ? 0 : s;
}

}  // namespace

int UpdatePhaseTotalsFromCategories(JCTotalsContext& c) { return UpdatePhases(c, true); }
int UpdatePhaseTotals(JCTotalsContext& c) { return UpdatePhases(c, false); }
// Step 1 when no cost code and no category on file holds an amount: every cost code keeps its
// totals 0, no group gets any from its members, and no extra or job from its cost codes. The
// group and top lists are kept, empty, so that the later passes read no cost code either.
int SkipPhaseTotals(JCTotalsContext& c) {
    StartPhaseLists(c);
    // The bar shows the pass, done.
    c.walked = c.total = 1;
    const std::string title = PhaseTitle(false);
    return c.Show(title, title) ? 0 : c.Cancel();
}
int UpdateGroupPhaseTotals(JCTotalsContext& c) { return UpdateGroupPhases(c); }
int UpdateExtraTotals(JCTotalsContext& c) { return UpdateExtras(c); }
int UpdateJobTotals(JCTotalsContext& c) { return UpdateJobs(c); }
int SkipJobTotalsStep(JCTotalsContext& c) { return SkipJobTotals(c); }
int SkipJobDrawsStep(JCTotalsContext& c) { return SkipJobDraws(c); }
int CreateJobDraws(JCTotalsContext& c) { return CreateDraws(c, false); }
int CreateExtraDraws(JCTotalsContext& c) { return CreateDraws(c, true); }

void xvJCM::StopRebuild(ConvertContext& ctx) { EndFileStopped(ctx); }

bool xvJCM::JobBills(uint16_t jcm) {
    if (!jobPassFields_.known || jobPassFields_.jcm != jcm) JobPassLeavesAsIs(jcm);  // resolves the fields
    for (const uint16_t fld : jobPassFields_.billing)
        if (GetNumber(jcm, fld) != 0) return true;
    return false;
}

bool xvJCM::JobPassLeavesAsIs(uint16_t jcm) {
    JobPassFields& f = jobPassFields_;
    if (!f.known || f.jcm != jcm) {
        f = JobPassFields{};
        f.known = true;
        f.jcm = jcm;
        for (const Row& r : Resolve(jcm, kRecJob, kRecPhase, PhaseUpRows(true)))
            if (r.target) f.fromPhases.emplace_back(r.target, r.third == 1);
        for (const Row& r : Resolve(jcm, kRecJob, kRecExtra, ExtraToJobRows()))
            if (r.target) f.fromExtras.push_back(r.target);
        // As JCTotalsContext takes them: the job's after its cost codes, then after its extras.
        auto rule = [&](uint16_t target, uint16_t a, uint16_t b, uint16_t d) {
            return std::array<uint16_t, 4>{Jc(jcm, kRecJob, target), Jc(jcm, kRecJob, a), Jc(jcm, kRecJob, b),
                                           Jc(jcm, kRecJob, d)};
        };
        f.differences = {rule(109, 91, 97, 103), rule(256, 238, 244, 250)};
        f.method = FieldNo(jcm, kRecJob, "JBMETH");
        f.level = FieldNo(jcm, kRecJob, "JBLEVEL");
        // As the draw pass looks at them (kJobDrawFields).
        for (std::size_t k = 0; k < f.billing.size(); ++k)
            f.billing[k] = FieldNo(jcm, kRecJob, kJobDrawFields[k + 2]);
    }
    // As the pass goes: the cost codes' sums (billing amounts added when they move up, the others
    // set), the first difference, the extras' sums (set), the second difference. Each step that
    // leaves its field as it is leaves the values the next one reads as they are.
    const bool moveUp = (GetNumber(jcm, f.method) == 2 ? 1 : Whole(GetNumber(jcm, f.level))) < 2;
    auto same = [&](uint16_t fld, double value) { return GetNumber(jcm, fld) == value; };
    auto difference = [&](const std::array<uint16_t, 4>& d) {
        return !d[0] || same(d[0], GetNumber(jcm, d[1]) - GetNumber(jcm, d[2]) - GetNumber(jcm, d[3]));
    };
    for (const auto& [target, movesUp] : f.fromPhases)
        if (!same(target, moveUp && movesUp ? GetNumber(jcm, target) + 0.0 : 0.0)) return false;
    if (!difference(f.differences[0])) return false;
    for (const uint16_t target : f.fromExtras)
        if (!same(target, 0.0)) return false;
    return difference(f.differences[1]);
}

namespace {

// The cost codes and categories are read only in the fields the rebuild looks at or sets (cost
// codes are wide, and every one is read at least once), whole again when it ends however it ends.
class ReadRebuildFields {
public:
    explicit ReadRebuildFields(JCTotalsContext& c) : jcm_(c.jcm) {
        std::vector<uint16_t> phase = PhaseRebuildAmounts(c.jcm);
        phase.insert(phase.end(), {c.phaseJob, c.phaseExtra, c.phaseCode, c.phaseType});
        std::vector<uint16_t> category{c.catJob, c.catExtra, c.catPhase, c.catType};
        for (const Row& r : c.category) category.push_back(r.source);
        if (Choose(kRecPhase, phase)) {
            c.phaseReads = phase;
            c.phaseKeys = {c.phaseJob, c.phaseExtra, c.phaseCode};
            std::erase(c.phaseKeys, uint16_t{0});
        }
        Choose(kRecCategory, category);
    }
    ~ReadRebuildFields() {
        for (uint16_t rec : chosen_) xio_read_fields(jcm_, rec, {});
    }
    ReadRebuildFields(const ReadRebuildFields&) = delete;
    ReadRebuildFields& operator=(const ReadRebuildFields&) = delete;

private:
    // A field the dictionary lacks (0) is left out; a choice refused leaves the reads whole.
    bool Choose(uint16_t rec, std::vector<uint16_t>& fields) {
        std::erase(fields, uint16_t{0});
        if (fields.empty() || xio_read_fields(jcm_, rec, fields) != XIO_OK) return false;
        chosen_.push_back(rec);
        return true;
    }
    uint16_t jcm_;
    std::vector<uint16_t> chosen_;
};

}  // namespace

bool xvJCM::RebuildTotals(ConvertContext& ctx) {
    JCTotalsContext c(*this, ctx);
    ReadRebuildFields reads(c);
    int (*const steps[])(JCTotalsContext&) = {
        !amountsMayExist_ ? SkipPhaseTotals
        : categoriesUsed  ? UpdatePhaseTotalsFromCategories
                          : UpdatePhaseTotals,
        UpdateGroupPhaseTotals, UpdateExtraTotals,
        // Without an amount on any cost code, no job the pass could change: the pass is left out.
        !amountsMayExist_ && !jobsMayChange_ ? SkipJobTotalsStep : UpdateJobTotals,
        !amountsMayExist_ && !jobsMayChange_ && !jobsMayBill_ ? SkipJobDrawsStep : CreateJobDraws,
        CreateExtraDraws};
    for (auto step : steps) {
        const int r = step(c);
        if (r == 13) return false;  // canceled: reported and restored
        if (r != 0) return EndFile(ctx, Msg(c.diskFull ? 12013 : 12011), true, true);
    }
    if (ctx.progress && !ctx.progress->SetStatusText("", 0)) return EndFileStopped(ctx);
    if (convert::InBackground()) {
        if (convert::CheckTerminate()) return EndFileStopped(ctx);
        suite::x_update_task(100, "Finishing JCM processing");
    }
    return true;
}

}  // namespace dz::jc
