#include "platform/import/xvl_text.h"

#include "platform/import/xvl_values.h"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace dz::xvl {

namespace {

// Index of the next byte at or after `i` that is not a Ctrl-Z, or data.size().
std::size_t skipCtrlZ(std::string_view data, std::size_t i) {
    while (i < data.size() && data[i] == kCtrlZ) ++i;
    return i;
}

bool isBlank(char c) { return c == ' ' || c == '\t'; }

// The offset of the first LF, CR or Ctrl-Z of p[0, n), or n; `quoted` tells whether a double
// quote comes before it.
std::size_t lineStop(const char* p, std::size_t n, bool& quoted) {
#if defined(__SSE2__)
    const __m128i lf = _mm_set1_epi8('\n'), cr = _mm_set1_epi8('\r'), z = _mm_set1_epi8(kCtrlZ),
                  quote = _mm_set1_epi8('"');
    uint32_t quotes = 0;  // any quote seen before the chunk at hand
    // The stop in the sixteen bytes at `at`, if any, and the quotes before it.
    auto look = [&](const char* at, uint32_t valid, std::size_t& stop) {
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(at));
        const uint32_t m = static_cast<uint32_t>(_mm_movemask_epi8(
                               _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(b, lf), _mm_cmpeq_epi8(b, cr)),
                                            _mm_cmpeq_epi8(b, z)))) &
                           valid;
        const uint32_t q = static_cast<uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(b, quote))) & valid;
        if (m == 0) {
            quotes |= q;
            return false;
        }
        quotes |= q & ((m & (0u - m)) - 1);  // those before the stop
        stop = static_cast<std::size_t>(std::countr_zero(m));
        return true;
    };
    std::size_t i = 0, stop = 0;
    for (; i + 16 <= n; i += 16)
        if (look(p + i, 0xffffu, stop)) {
            quoted = quotes != 0;
            return i + stop;
        }
    if (i < n) {
        char tail[16] = {};
        std::memcpy(tail, p + i, n - i);
        if (look(tail, (1u << (n - i)) - 1, stop)) {
            quoted = quotes != 0;
            return i + stop;
        }
    }
    quoted = quotes != 0;
    return n;
#else
    std::size_t i = 0;
    while (i < n && p[i] != '\n' && p[i] != '\r' && p[i] != kCtrlZ) ++i;
    quoted = std::memchr(p, '"', i) != nullptr;
    return i;
#endif
}

}  // namespace

bool LineReader::next(std::string& line, std::size_t* rawBegin, std::size_t* rawEnd) {
    line.clear();
    std::size_t i = pos_;
    const std::size_t n = data_.size();
    if (skipCtrlZ(data_, i) >= n) {
        pos_ = n;
        return false;
    }
    if (rawBegin) *rawBegin = i;
    while (i < n) {
        // Copy the run of ordinary bytes in one go.
        std::size_t j = i;
        while (j < n) {
            const char c = data_[j];
            if (c == '\r' || c == '\n' || c == kCtrlZ) break;
            ++j;
        }
        line.append(data_.data() + i, j - i);
        i = j;
        if (i >= n) break;
        const char c = data_[i];
        if (c == kCtrlZ) {
            ++i;
            continue;
        }
        // A line end; its partner (across any Ctrl-Z) belongs to it.
        ++i;
        const std::size_t k = skipCtrlZ(data_, i);
        if (k < n && (data_[k] == '\r' || data_[k] == '\n') && data_[k] != c) i = k + 1;
        break;
    }
    pos_ = i;
    if (rawEnd) *rawEnd = i;
    return true;
}

bool LineReader::next(std::string_view& line, std::string& scratch, std::size_t* rawBegin, std::size_t* rawEnd) {
    bool quoted = false;
    return next(line, scratch, rawBegin, rawEnd, quoted);
}

bool LineReader::next(std::string_view& line, std::string& scratch, std::size_t* rawBegin, std::size_t* rawEnd,
                      bool& quoted) {
    const std::size_t n = data_.size();
    std::size_t i = pos_;
    // Fast path: a line without Ctrl-Z is a slice of the data.
    if (i < n && data_[i] != kCtrlZ) {
        // The first line end or Ctrl-Z, and whether a quote comes before it, in one pass.
        const std::size_t j = i + lineStop(data_.data() + i, n - i, quoted);
        if (j == n || data_[j] != kCtrlZ) {
            std::size_t end = j;
            if (j < n) {
                const char c = data_[j];
                ++end;
                const std::size_t k = skipCtrlZ(data_, end);
                if (k < n && (data_[k] == '\r' || data_[k] == '\n') && data_[k] != c) end = k + 1;
            }
            if (rawBegin) *rawBegin = i;
            if (rawEnd) *rawEnd = end;
            line = data_.substr(i, j - i);
            pos_ = end;
            return true;
        }
    }
    if (!next(scratch, rawBegin, rawEnd)) return false;
    line = scratch;
    quoted = line.find('"') != std::string_view::npos;
    return true;
}

bool LineReader::atEnd() const { return skipCtrlZ(data_, pos_) >= data_.size(); }

bool ReadTextLine(std::istream& in, std::string& line) {
    line.clear();
    if (!in.good()) return false;
    int c;
    while ((c = in.get()) != std::char_traits<char>::eof()) {
        if (c == kCtrlZ) continue;
        if (c == '\r' || c == '\n') {
            int d;
            while ((d = in.peek()) == kCtrlZ) in.get();
            if ((d == '\r' || d == '\n') && d != c) in.get();
            return true;
        }
        line.push_back(static_cast<char>(c));
    }
    // The end of the stream: the last line counts when it held anything but Ctrl-Z.
    in.clear(in.rdstate() & ~std::ios::failbit);
    return !line.empty();
}

std::string FirstLineEnd(std::string_view data, std::size_t* firstLineEnd) {
    LineReader r(data);
    std::string line;
    std::size_t b = 0, e = 0;
    if (!r.next(line, &b, &e)) {
        if (firstLineEnd) *firstLineEnd = data.size();
        return {};
    }
    if (firstLineEnd) *firstLineEnd = e;
    std::string scratch;
    return std::string(RawLineEnd(data, b, e, scratch));
}

QuoteState ScanQuotes(std::string_view line, QuoteState state) {
    // Each state looks only for the byte that ends it: a quoted value for its quote, a plain
    // one for its comma, so most bytes cost one comparison.
    const char* p = line.data();
    const char* const end = p + line.size();
    while (p < end) {
        switch (state) {
            case QuoteState::ColumnStart:
                while (p < end && (*p == ',' || isBlank(*p))) ++p;
                if (p == end) return state;
                state = *p == '"' ? QuoteState::InQuote : QuoteState::Unquoted;
                ++p;
                break;
            case QuoteState::Unquoted:
            case QuoteState::AfterQuote:
                // Text after a closing quote is the splitter's to refuse; quoting starts again
                // only at the next column.
                while (p < end && *p != ',') ++p;
                if (p == end) return state;
                state = QuoteState::ColumnStart;
                ++p;
                break;
            case QuoteState::InQuote: {
                const void* q = std::memchr(p, '"', static_cast<std::size_t>(end - p));
                if (!q) return state;
                p = static_cast<const char*>(q) + 1;
                if (p < end && *p == '"') ++p;  // a doubled quote stands for one
                else state = QuoteState::AfterQuote;
                break;
            }
        }
    }
    return state;
}

std::string_view RawLineEnd(std::string_view data, std::size_t begin, std::size_t end, std::string& scratch) {
    std::size_t i = end;
    while (i > begin && (data[i - 1] == '\r' || data[i - 1] == '\n' || data[i - 1] == kCtrlZ)) --i;
    const std::string_view raw = data.substr(i, end - i);
    if (raw.find(kCtrlZ) == std::string_view::npos) return raw;
    scratch.clear();
    for (char c : raw)
        if (c != kCtrlZ) scratch.push_back(c);
    return scratch;
}

namespace {
template <bool kList>
bool splitViews(std::string_view line, std::vector<std::string_view>& columns, std::string& scratch,
                std::size_t& badColumn, std::size_t keep, std::size_t& lastFilled, std::vector<uint32_t>* nonEmpty,
                std::size_t* nonEmptyCount, bool quoted);
}  // namespace

bool SplitColumnViews(std::string_view line, std::vector<std::string_view>& columns, std::string& scratch,
                      std::size_t& badColumn) {
    std::size_t lastFilled = 0;
    return SplitColumnViews(line, columns, scratch, badColumn, static_cast<std::size_t>(-1), lastFilled);
}

bool SplitColumnViews(std::string_view line, std::vector<std::string_view>& columns, std::string& scratch,
                      std::size_t& badColumn, std::size_t keep, std::size_t& lastFilled) {
    return splitViews<false>(line, columns, scratch, badColumn, keep, lastFilled, nullptr, nullptr, true);
}

bool SplitColumnViews(std::string_view line, std::vector<std::string_view>& columns, std::string& scratch,
                      std::size_t& badColumn, std::size_t keep, std::size_t& lastFilled,
                      std::vector<uint32_t>& nonEmpty, std::size_t& nonEmptyCount, bool quoted) {
    return splitViews<true>(line, columns, scratch, badColumn, keep, lastFilled, &nonEmpty, &nonEmptyCount, quoted);
}

namespace {

// Bit i set when p[i] is a comma, for the sixteen bytes at p.
inline uint32_t commaMask(const char* p) {
#if defined(__SSE2__)
    const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    return static_cast<uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(bytes, _mm_set1_epi8(','))));
#else
    uint32_t m = 0;
    for (unsigned i = 0; i < 16; ++i) m |= static_cast<uint32_t>(p[i] == ',') << i;
    return m;
#endif
}

// The columns of a line that holds no double quote into out[0, room), blanks trimmed, and the
// places of those not empty into `list` (kList). False when the line has more than `room`
// columns.
template <bool kList>
bool plainColumns(std::string_view line, std::string_view* out, std::size_t room, uint32_t* list, std::size_t& kept,
                  std::size_t& listed) {
    const char* const p = line.data();
    const std::size_t n = line.size();
    std::size_t k = 0, l = 0;
    std::size_t start = 0;  // of the column being read
    // The column [start, end); false when there is no room for it.
    auto column = [&](std::size_t end) __attribute__((always_inline)) {
        if (k == room) return false;
        const char* b = p + start;
        std::size_t len = end - start;
        // Blanks and tabs are below '!': only a column with such a byte at an end is trimmed.
        if (len != 0 && (static_cast<unsigned char>(b[0]) <= ' ' || static_cast<unsigned char>(b[len - 1]) <= ' ')) {
            while (len != 0 && isBlank(b[0])) {
                ++b;
                --len;
            }
            while (len != 0 && isBlank(b[len - 1])) --len;
        }
        if constexpr (kList) {
            list[l] = static_cast<uint32_t>(k);
            l += len != 0;
        }
        out[k++] = std::string_view(b, len);
        return true;
    };
    // The columns that end at the commas of `m` (bits of the sixteen bytes from `base`). Commas
    // right after one end empty columns, as most of a wide line's are: a run of them is
    // written in one go.
    auto commas = [&](std::size_t base, uint32_t m) __attribute__((always_inline)) {
        while (m != 0) {
            const unsigned bit = static_cast<unsigned>(std::countr_zero(m));
            const std::size_t at = base + bit;
            if (!column(at)) return false;
            const unsigned run = static_cast<unsigned>(std::countr_one(m >> bit));  // commas from `at` on
            if (run > 1) {
                if (room - k < run - 1) return false;
                const std::string_view none(p + at + 1, 0);
                for (unsigned e = 1; e < run; ++e) out[k++] = none;
            }
            start = at + run;
            m = (m >> (bit + run)) << (bit + run);  // bit + run is at most 16
        }
        return true;
    };
    std::size_t base = 0;
    for (; base + 16 <= n; base += 16)
        if (!commas(base, commaMask(p + base))) return false;
    if (base < n) {
        char tail[16] = {};
        std::memcpy(tail, p + base, n - base);
        if (!commas(base, commaMask(tail) & ((1u << (n - base)) - 1))) return false;
    }
    if (!column(n)) return false;
    kept = k;
    listed = l;
    return true;
}

template <bool kList>
bool splitViews(std::string_view line, std::vector<std::string_view>& columns, std::string& scratch,
                std::size_t& badColumn, std::size_t keep, std::size_t& lastFilled, std::vector<uint32_t>* nonEmpty,
                std::size_t* nonEmptyCount, bool quoted) {
    scratch.clear();
    // Unquoted text is never longer than the line: the views into it stay valid.
    scratch.reserve(line.size());
    badColumn = 0;
    lastFilled = 0;
    std::size_t count = 0;  // columns read, kept or not
    // A line of n bytes has at most n + 1 columns: the views are written in place, and the
    // vector cut to those kept at the end.
    const std::size_t room = std::min(keep, line.size() + 1);
    columns.resize(room);
    std::string_view* const out = columns.data();
    std::size_t kept = 0;
    uint32_t* listOut = nullptr;
    std::size_t listed = 0;
    if constexpr (kList) {
        if (nonEmpty->size() < room) nonEmpty->resize(room);
        listOut = nonEmpty->data();
    }
    // A column past those kept is only counted, and noted when it holds something. Inlined:
    // it runs for every column of every line, and a call costs more than its body.
    auto add = [&](std::string_view value, bool filled) __attribute__((always_inline)) {
        ++count;
        if (kept < room) {
            if constexpr (kList) {
                if (!value.empty()) listOut[listed++] = static_cast<uint32_t>(kept);
            }
            out[kept++] = value;
        } else if (filled) {
            lastFilled = count;
        }
    };
    // A line without a double quote, as most are, has no quoted column: its columns run from
    // comma to comma. While they all fit in the room, the commas are found sixteen bytes at a
    // time, as a mask whose set bits are walked, with nothing to count past the room; a line of
    // more columns starts again below.
    if ((!quoted || line.find('"') == std::string_view::npos) &&
        plainColumns<kList>(line, out, room, listOut, kept, listed)) {
        columns.resize(kept);
        if constexpr (kList) *nonEmptyCount = listed;
        return true;
    }
    kept = 0;
    listed = 0;
    // One loop in this function's frame (not a closure): the counts stay in registers.
    bool whole = true;
    {
        constexpr uint64_t kOnes = 0x0101010101010101ULL, kTops = 0x8080808080808080ULL;
        static_assert(std::endian::native == std::endian::little);
        const std::size_t n = line.size();
        std::size_t i = 0;
        while (true) {
            // An empty column, as most columns of a wide line are: nothing to trim or look for.
            // Wide lines hold runs of them: a run is found first, then kept in one go.
            if (i < n && line[i] == ',') {
                std::size_t j = i + 1;
                // Eight bytes at a time while eight are left: XOR with commas leaves the first
                // byte that is not one the lowest that is not zero.
                while (j + 8 <= n) {
                    uint64_t w;
                    std::memcpy(&w, line.data() + j, 8);
                    w ^= kOnes * static_cast<unsigned char>(',');
                    if (w != 0) {
                        j += static_cast<std::size_t>(std::countr_zero(w)) / 8;
                        break;
                    }
                    j += 8;
                }
                while (j < n && line[j] == ',') ++j;
                const std::size_t run = j - i;
                const std::size_t take = std::min(run, room - kept);
                // Empty views, all at the run's start: an empty column has no place to point at.
                const std::string_view none(line.data() + i, 0);
                std::string_view* const o = out + kept;
                std::size_t k = 0;
                for (; k + 4 <= take; k += 4) {
                    o[k] = none;
                    o[k + 1] = none;
                    o[k + 2] = none;
                    o[k + 3] = none;
                }
                for (; k < take; ++k) o[k] = none;
                kept += take;
                count += run;
                i = j;
                continue;
            }
            std::size_t s = i;
            while (s < n && isBlank(line[s])) ++s;
            if (s < n && line[s] == '"') {
                // Quoted column.
                const bool keepIt = kept < room;
                std::size_t k = s + 1;
                const std::size_t from = k;
                bool closed = false, doubled = false;
                const std::size_t mark = scratch.size();
                while (k < n) {
                    // Up to the next quote in one go.
                    std::size_t q = n;
                    if (const void* quote = std::memchr(line.data() + k, '"', n - k))
                        q = static_cast<std::size_t>(static_cast<const char*>(quote) - line.data());
                    if (doubled && keepIt) scratch.append(line.data() + k, q - k);
                    k = q;
                    if (k >= n) break;
                    if (k + 1 < n && line[k + 1] == '"') {
                        if (!doubled) {
                            doubled = true;
                            if (keepIt) scratch.append(line.data() + from, k - from);
                        }
                        if (keepIt) scratch.push_back('"');
                        k += 2;
                        continue;
                    }
                    closed = true;
                    break;
                }
                if (!closed) {
                    badColumn = count + 1;
                    whole = false;
                    break;
                }
                const std::string_view plain = line.substr(from, k - from);
                if (keepIt) add(doubled ? std::string_view(scratch).substr(mark) : plain, true);
                else add({}, doubled || !IsBlank(plain));
                ++k;
                while (k < n && isBlank(line[k])) ++k;
                if (k < n && line[k] != ',') {
                    badColumn = count;
                    whole = false;
                    break;
                }
                if (k >= n) break;
                i = k + 1;
                continue;
            }
            std::size_t e = s;
            // Up to the comma eight bytes at a time while eight are left (columns are short:
            // this beats memchr), then byte by byte. A word holds a comma exactly when XOR with
            // commas leaves a zero byte.
            while (e + 8 <= n) {
                uint64_t w;
                std::memcpy(&w, line.data() + e, 8);
                w ^= kOnes * static_cast<unsigned char>(',');
                const uint64_t zero = (w - kOnes) & ~w & kTops;
                if (zero != 0) {
                    // The lowest flag is exact (a borrow only marks bytes above it), and the
                    // lowest byte is the first.
                    e += static_cast<std::size_t>(std::countr_zero(zero)) / 8;
                    break;
                }
                e += 8;
            }
            while (e < n && line[e] != ',') ++e;
            std::size_t t = e;
            while (t > s && isBlank(line[t - 1])) --t;
            add(std::string_view(line.data() + s, t - s), t > s);  // blanks trimmed on both sides: filled when anything is left
            if (e >= n) break;
            i = e + 1;
        }
    }
    columns.resize(kept);
    if constexpr (kList) *nonEmptyCount = listed;
    return whole;
}

}  // namespace

bool SplitColumns(std::string_view line, std::vector<std::string>& columns, std::size_t& badColumn) {
    std::vector<std::string_view> views;
    std::string scratch;
    const bool ok = SplitColumnViews(line, views, scratch, badColumn);
    columns.assign(views.begin(), views.end());
    return ok;
}

std::string FirstColumn(std::string_view line) {
    std::size_t s = 0;
    while (s < line.size() && isBlank(line[s])) ++s;
    // Only a quoted first column needs the splitter; the rest of the line never changes it.
    if (s < line.size() && line[s] == '"') {
        std::vector<std::string_view> cols;
        std::string scratch;
        std::size_t bad = 0, lastFilled = 0;
        if (SplitColumnViews(line, cols, scratch, bad, 1, lastFilled) || bad > 1)
            return cols.empty() ? std::string() : std::string(cols.front());
    }
    std::size_t e = line.find(',', s);
    if (e == std::string_view::npos) e = line.size();
    std::size_t t = e;
    while (t > s && isBlank(line[t - 1])) --t;
    return std::string(line.substr(s, t - s));
}

char OtherSeparator(std::string_view line) {
    if (line.find(',') != std::string_view::npos) return 0;
    for (const char separator : {';', '\t'})
        if (line.find(separator) != std::string_view::npos) return separator;
    return 0;
}

}  // namespace dz::xvl
