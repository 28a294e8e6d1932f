#include "converters/jc/jcm_fields.h"

#include "modules/entries.h"
#include "platform/modlibs/jc_cost_code.h"

#include "platform/datafile/xio.h"
#include "platform/import/xvl_helpers.h"
#include "platform/suite/util.h"
#include "platform/suite/xk.h"

#include <algorithm>

namespace dz::jc {

using namespace convert;

int FieldDecimals(uint16_t jcm, uint16_t fld) {
    xio_fld_def def;
    if (xio_get_fld_def(jcm, fld, def) != XIO_OK) return 2;
    return def.decimals;
}

std::string Hundredths(double stored) { return FormatNumber("%.2f", stored / 100.0); }

std::string ShowAmount(uint16_t jcm, uint16_t fld, double stored) {
    if (FieldDecimals(jcm, fld) == 4) return FormatNumber("%.4f", stored / 10000.0);
    return Hundredths(stored);
}

std::string ShowChoice(uint16_t jcm, uint16_t fld, double item) { return ChoiceText(jcm, fld, item, true); }

std::string ShowKey(int fmt, int section, const std::string& value) {
    std::string text = value;
    suite::xk_format_field(fmt, section, text);
    return text;
}

std::string BaseAccountOf(const std::string& account) {
    std::string text = account;
    suite::xk_get_section(suite::kGlAccountFormat, false, suite::kGlBaseAccount, text);
    return text;
}

bool OnFileOrEarlier(uint16_t jcm, uint16_t rec, std::initializer_list<KeyValue> keys, bool converting,
                     const RecordIdMap& ids, uint16_t* code, bool* onFile) {
    if (onFile) *onFile = false;
    if (ReadByKeys(jcm, rec, keys)) {
        if (onFile) *onFile = true;
        return true;
    }
    return !converting && FindInIdMap(jcm, rec, ids, code);
}

bool FoundOrEarlier(uint16_t jcm, uint16_t rec, std::initializer_list<KeyValue> keys, bool converting,
                    const RecordIdMap& ids) {
    xio_init_record(jcm, rec);
    for (const auto& k : keys) PutText(jcm, FieldNo(jcm, rec, k.field), k.value);
    if (xio_find_record(jcm, rec, 0) == XIO_OK) return true;
    return !converting && FindInIdMap(jcm, rec, ids);
}

std::vector<std::string> CostCodeSections(const std::string& costCode, int n) {
    std::vector<std::string> out(modlibs::kJcMaxCostCodeSections);
    // Unformatted once; each section is then taken by its position.
    std::string plain = costCode;
    if (n > 1) suite::xk_unformat_field(suite::kPhaseFormat, 0, plain);
    for (int k = 1; k <= n && k <= modlibs::kJcMaxCostCodeSections; ++k) {
        std::string s = plain;
        if (n > 1) suite::xk_get_section(suite::kPhaseFormat, false, k, s);
        out[static_cast<std::size_t>(k - 1)] = s;
    }
    return out;
}

const CostCodeMemo::Split& CostCodeMemo::Of(const std::string& code, int n) {
    if (n != n_ || known_.size() >= kKept) {
        known_.clear();
        n_ = n;
        ++generation_;
    }
    auto [at, added] = known_.try_emplace(code);
    if (added) {
        Split& s = at->second;
        s.group = modules::JC_GROUP_PHASE(code, suite::kPhaseFormat, &s.level) != 0;
        if (n >= 2) {
            s.sections = CostCodeSections(code, n);
            const int used = std::min(n, modlibs::kJcMaxCostCodeSections);
            for (int k = 1; k <= used; ++k)
                if (modlibs::IsZeroOrBlank(s.sections[static_cast<std::size_t>(k - 1)]))
                    s.zero |= 1u << (k - 1);
            s.valid = ZeroSectionsValid(s.sections, n);
            s.lastZero = n <= used && ((s.zero >> (n - 1)) & 1u) != 0;
            while (s.leading < used && ((s.zero >> s.leading) & 1u) == 0) ++s.leading;
        }
    }
    return at->second;
}

uint32_t ZeroPhases::Name(std::unordered_map<std::string, uint32_t>& names, const std::string& text, bool add) {
    if (auto at = names.find(text); at != names.end()) return at->second;
    if (!add || names.size() >= kMaxNames) return 0;
    const auto number = static_cast<uint32_t>(names.size() + 1);
    names.emplace(text, number);
    return number;
}

uint32_t ZeroPhases::JobNumber(const std::string& job, const std::string& extra, bool add) const {
    if (lastJobNumber_ && job == lastJob_ && extra == lastExtra_) return lastJobNumber_;
    key_.assign(job).append(1, '\x1f').append(extra);
    uint32_t number = 0;
    if (auto at = jobs_.find(key_); at != jobs_.end()) {
        number = at->second;
    } else if (add && jobs_.size() < kMaxNames) {
        number = static_cast<uint32_t>(jobs_.size() + 1);
        jobs_.emplace(key_, number);
    }
    if (number) {
        lastJob_ = job, lastExtra_ = extra;
        lastJobNumber_ = number;
    }
    return number;
}

void ZeroPhases::Written(const std::string& job, const std::string& extra, const std::string& code, bool zero) {
    // A cost code written with an amount only needs noting when it was noted before.
    const uint32_t j = JobNumber(job, extra, zero);
    if (!j) return;
    uint32_t c = lastCodeNumber_;
    if (!c || code != lastCode_) {
        c = Name(codes_, code, zero);
        if (!c) return;
        lastCode_ = code;
        lastCodeNumber_ = c;
    }
    Note(j, c, zero);
}

void ZeroPhases::Written(const std::string& job, const std::string& extra, const std::string& code, bool zero,
                         uint32_t& number, uint64_t& epoch) {
    if (epoch != epoch_) number = 0;
    if (number == 0) {
        const uint32_t j = JobNumber(job, extra, zero);
        if (!j) return;
        const uint32_t c = Name(codes_, code, zero);
        if (!c) return;
        number = c;
        epoch = epoch_;
        Note(j, c, zero);
        return;
    }
    const uint32_t j = JobNumber(job, extra, zero);
    if (j) Note(j, number, zero);
}

void ZeroPhases::Note(uint32_t j, uint32_t c, bool zero) {
    constexpr uint64_t kFlag = uint64_t{1} << 63;
    const uint64_t write = (zero ? kFlag : 0) | uint64_t{j} << 32 | c;
    // Only the last write of a cost code counts: one that writes the cost code just noted again
    // (a line noted before its write and at it) takes that note's place.
    if (!writes_.empty() && (writes_.back() & ~kFlag) == (write & ~kFlag))
        writes_.back() = write;
    else
        writes_.push_back(write);
}

void ZeroPhases::Seal() {
    if (writes_.empty()) return;
    constexpr uint64_t kFlag = uint64_t{1} << 63;
    std::stable_sort(writes_.begin(), writes_.end(), [](uint64_t a, uint64_t b) { return (a & ~kFlag) < (b & ~kFlag); });
    // In place: the last write of each cost code, kept when it was a zero one.
    std::size_t kept = 0;
    for (std::size_t i = 0; i < writes_.size(); ++i) {
        const bool last = i + 1 == writes_.size() || (writes_[i + 1] & ~kFlag) != (writes_[i] & ~kFlag);
        if (last && (writes_[i] & kFlag)) writes_[kept++] = writes_[i] & ~kFlag;
    }
    writes_.resize(kept);
    zero_ = std::move(writes_);
    writes_.clear();
    zeroJob_ = 0;
}

bool ZeroPhases::Zero(const std::string& job, const std::string& extra, const std::string& code) const {
    if (zero_.empty()) return false;
    const uint32_t j = JobNumber(job, extra, false);
    if (!j) return false;
    const auto c = codes_.find(code);
    if (c == codes_.end()) return false;
    if (j != zeroJob_) {
        zeroJob_ = j;
        zeroFrom_ = static_cast<std::size_t>(std::lower_bound(zero_.begin(), zero_.end(), uint64_t{j} << 32) - zero_.begin());
        zeroTo_ = static_cast<std::size_t>(std::lower_bound(zero_.begin() + static_cast<std::ptrdiff_t>(zeroFrom_),
                                                            zero_.end(), uint64_t{j + 1} << 32) - zero_.begin());
    }
    const uint64_t id = uint64_t{j} << 32 | c->second;
    return std::binary_search(zero_.begin() + static_cast<std::ptrdiff_t>(zeroFrom_),
                              zero_.begin() + static_cast<std::ptrdiff_t>(zeroTo_), id) &&
           !dropped_.count(id);
}

void ZeroPhases::Drop(const std::string& job, const std::string& extra, const std::string& code) {
    if (zero_.empty()) return;
    const uint32_t j = JobNumber(job, extra, false);
    const auto c = codes_.find(code);
    if (j && c != codes_.end()) dropped_.insert(uint64_t{j} << 32 | c->second);
}

void ZeroPhases::Clear() {
    ++epoch_;
    lastJob_.clear(), lastExtra_.clear(), lastCode_.clear();
    lastJobNumber_ = lastCodeNumber_ = 0;
    zeroJob_ = 0;
    std::unordered_map<std::string, uint32_t>().swap(jobs_);
    std::unordered_map<std::string, uint32_t>().swap(codes_);
    std::vector<uint64_t>().swap(writes_);
    std::vector<uint64_t>().swap(zero_);
    std::unordered_set<uint64_t>().swap(dropped_);
}

bool TaxStatusMissing(const std::string& value, bool filled, const std::vector<std::string>& list,
                      const std::string& defaultStatus) {
    if (filled || (!list.empty() && value == defaultStatus)) return false;
    return std::find(list.begin(), list.end(), value) == list.end();
}

bool ZeroSectionsValid(const std::string& costCode, int n) { return ZeroSectionsValid(CostCodeSections(costCode, n), n); }

bool ZeroSectionsValid(const std::vector<std::string>& sections, int n) {
    bool nonZeroAfter = false;
    for (int k = std::min(n, modlibs::kJcMaxCostCodeSections); k >= 1; --k) {
        const bool zero = modlibs::IsZeroOrBlank(sections[static_cast<std::size_t>(k - 1)]);
        if (zero && (nonZeroAfter || k == 1)) return false;
        if (!zero) nonZeroAfter = true;
    }
    return true;
}

}  // namespace dz::jc
