// Field access: the record and header buffers, and values in and out of them.
#include "platform/datafile/xio_internal.h"

namespace dz {
namespace xio_private {

// A lock of the handle; when the lock file fails, the reason is the error text.
int take_lock(Handle& hd, char kind, const std::string& key) {
    const int s = hd.locks->acquire(kind, key);
    if (s != XIO_OK && !hd.locks->error().empty()) set_error(s, hd.path.string() + " is in use: " + hd.locks->error());
    return s;
}

int writer_lock_held(Handle& hd, int status) {
    const xio::LockHeld held = hd.locks->holder('W', "", hd.readOnly);
    const std::string& who = held.who;
    const bool reading = held.reading;
    const std::string lockFile = "; its lock file is " + hd.locks->path().string();
    // Refused a moment ago, and nobody holds it now: it let go between the two looks, and who it
    // was is not known.
    if (who.empty())
        return set_error(status,
                         hd.path.string() + " is in use by another program, though none could be seen holding it when "
                                            "looked for (it may have finished meanwhile)" + lockFile,
                         ui::NextStep{ui::Step::AgainWhenFinished, {}});
    // A read lock over the writer's byte is a program reading the file, not writing it.
    const std::string doing = std::string(reading ? "reading" : "writing") + " it";
    // A process this machine names; otherwise what the holder is (one whose process cannot be
    // seen, one this machine does not show) is said once, as it is. The step is the holder's
    // (LockHeld::next): one held through an open file description names no process, and an
    // administrator finds it.
    if (who.rfind("process ", 0) == 0)
        return set_error(status, hd.path.string() + " is in use by another program (" + who + ") that is " + doing + lockFile,
                         held.next);
    return set_error(status, hd.path.string() + " is in use by " + who + ", which is " + doing + lockFile, held.next);
}

namespace {

// ---- Value conversion ---------------------------------------------------------------------

void to_value(const FieldDef& f, const Cell& c, x_value_def& v) {
    const uint16_t t = f.def.type;
    if (is_text(t)) {
        AssignText(v.text, Utf8PrefixBytes(c.s, x_value_def::kTextMax));
        if (c.s.size() > x_value_def::kTextMax) v.longText = c.s;
        else v.longText.clear();
    } else if (is_real(t)) {
        v.number = c.d;
    } else if (t == XIO_TYPE_LOGICAL) {
        v.flag = c.i ? 1 : 0;
    } else if (t == XIO_TYPE_DATE) {
        v.date = {static_cast<uint16_t>(c.i / 100 % 100), static_cast<uint16_t>(c.i % 100), static_cast<uint16_t>(c.i / 10000)};
    } else if (t == XIO_TYPE_TIME) {
        v.time = {static_cast<uint16_t>(c.i / 10000), static_cast<uint16_t>(c.i / 100 % 100), static_cast<uint16_t>(c.i % 100)};
    } else {
        v.number = static_cast<double>(c.i);
    }
}

// Does the text hold a zero byte? Values are short and seldom do: words of the text are looked
// at in place, a call to a library search costing more than the look for a short one. A word
// holds a zero byte exactly when subtracting one from each byte borrows into a byte whose top
// bit was clear.
bool holds_nul(std::string_view s) {
    constexpr uint64_t kOnes = 0x0101010101010101ULL, kTops = 0x8080808080808080ULL;
    const char* p = s.data();
    const std::size_t n = s.size();
    if (n < 8) {
        if (n < 4) {
            for (std::size_t i = 0; i < n; ++i)
                if (p[i] == '\0') return true;
            return false;
        }
        uint32_t a, b;  // the first four bytes and the last four, overlapping
        std::memcpy(&a, p, 4);
        std::memcpy(&b, p + n - 4, 4);
        return ((((a - 0x01010101U) & ~a) | ((b - 0x01010101U) & ~b)) & 0x80808080U) != 0;
    }
    uint64_t any = 0, w;
    const char* const last = p + n - 8;
    for (; p < last; p += 8) {
        std::memcpy(&w, p, 8);
        any |= (w - kOnes) & ~w & kTops;
    }
    std::memcpy(&w, last, 8);  // the last eight, overlapping those looked at
    any |= (w - kOnes) & ~w & kTops;
    return any != 0;
}

// A text field's cell: trailing blanks and anything from a NUL on dropped, cut to its length.
void text_into_cell(const FieldDef& f, std::string_view s, Cell& c) {
    auto trim = [&s] {
        while (!s.empty() && (s.back() == ' ' || s.back() == '\0')) s.remove_suffix(1);
    };
    trim();
    const std::size_t whole = s.size();
    if (holds_nul(s)) s = s.substr(0, s.find('\0'));
    if (s.size() > f.def.length) s = Utf8Prefix(s, f.def.length);  // the length counts characters
    if (s.size() != whole) trim();  // what was cut may end in blanks
    AssignText(c.s, s);  // into the cell's own storage: no allocation when it fits
}

void from_value(const FieldDef& f, const x_value_def& v, Cell& c) {
    const uint16_t t = f.def.type;
    if (is_text(t)) {
        // The long member carries the value when the text member is its first part.
        const bool useLong = !v.text.empty() && v.longText.size() > v.text.size() &&
                             v.longText.compare(0, v.text.size(), v.text) == 0;
        text_into_cell(f, useLong ? v.longText : v.text, c);
    } else if (is_real(t)) {
        c.d = v.number;
    } else if (t == XIO_TYPE_LOGICAL) {
        c.i = v.flag ? 1 : 0;
    } else if (t == XIO_TYPE_DATE) {
        c.i = v.date.month == 0 ? 0 : v.date.year * 10000LL + v.date.month * 100 + v.date.day;
    } else if (t == XIO_TYPE_TIME) {
        c.i = v.time.hour * 10000LL + v.time.minute * 100 + v.time.second;
    } else {
        c.i = static_cast<int64_t>(std::llround(v.number));
    }
}

}  // namespace

}  // namespace xio_private

using namespace xio_private;

uint16_t xio_num(uint16_t h, uint16_t kind, uint16_t n, const std::string& name) {
    Handle* hd = H(h);
    if (!hd) return 0;
    const RecordDef* r = nullptr;
    if (kind == XIO_NUM_RECORD) r = hd->dict->record(n);
    else if (kind == XIO_NUM_HEADER) r = hd->dict->header(n);
    else if (kind == XIO_NUM_HEADER_ALIAS) r = hd->dict->header(n ? n : 1);
    return r ? hd->dict->fieldNumber(*r, name) : 0;
}

int xio_init_record(uint16_t h, uint16_t rec) {
    Handle* hd = H(h);
    if (!hd) return XIO_BAD_CALL;
    RecState* rs = rec_of(*hd, rec);
    if (!rs) return XIO_BAD_CALL;
    reset_record(*rs);
    rs->readWith.reset();
    return XIO_OK;
}

int xio_init_header(uint16_t h, uint16_t header) {
    Handle* hd = H(h);
    if (!hd || !hd->hdrs.count(header)) return XIO_BAD_CALL;
    HdrState& hs = hd->hdrs[header];
    reset_cells(hs.buf, hs.defaults);
    return XIO_OK;
}

int xio_get_field(uint16_t h, uint16_t rec, uint16_t fld, x_value_def& value) {
    Handle* hd = H(h);
    if (!hd) return XIO_BAD_CALL;
    const FieldDef* fd = nullptr;
    Cell* c = cell_of(*hd, rec, fld, &fd);
    if (!c) return XIO_BAD_CALL;
    to_value(*fd, *c, value);
    return XIO_OK;
}

int xio_put_field(uint16_t h, uint16_t rec, uint16_t fld, const x_value_def& value) {
    Handle* hd = H(h);
    if (!hd) return XIO_BAD_CALL;
    const FieldDef* fd = nullptr;
    Cell* c = cell_of(*hd, rec, fld, &fd);
    if (!c) return XIO_BAD_CALL;
    const Handle::Slot& sl = hd->slots[fld];
    note_change(sl.owner, fld - sl.first);
    from_value(*fd, value, *c);
    return XIO_OK;
}

double xio_get_number(uint16_t h, uint16_t fld) {
    uint16_t t = 0;
    const Cell* c = typed_cell(h, fld, t);
    if (!c) return 0;
    if (is_real(t)) return c->d;
    if (is_text(t) || t == XIO_TYPE_LOGICAL || t == XIO_TYPE_DATE || t == XIO_TYPE_TIME) return 0;
    return static_cast<double>(c->i);
}

uint16_t xio_get_flag(uint16_t h, uint16_t fld) {
    uint16_t t = 0;
    const Cell* c = typed_cell(h, fld, t);
    return c && t == XIO_TYPE_LOGICAL && c->i ? 1 : 0;
}

namespace {
const std::string kNoText;  // what a text read of a field that is not a text answers
}  // namespace

const std::string& xio_get_text(uint16_t h, uint16_t fld) {
    uint16_t t = 0;
    const Cell* c = typed_cell(h, fld, t);
    return c && is_text(t) ? c->s : kNoText;
}

int xio_put_number(uint16_t h, uint16_t fld, double number) {
    Cell* c = nullptr;
    const Handle::Slot* sl = put_slot(h, fld, c);
    if (!sl) return XIO_BAD_CALL;
    if (is_real(sl->type)) {
        c->d = number;
    } else {
        x_value_def v;
        v.number = number;
        from_value(*sl->def, v, *c);
    }
    return XIO_OK;
}

int xio_put_text(uint16_t h, uint16_t fld, std::string_view text) {
    Cell* c = nullptr;
    const Handle::Slot* sl = put_slot(h, fld, c);
    if (!sl) return XIO_BAD_CALL;
    const FieldDef& fd = *sl->def;
    if (is_text(sl->type)) {
        text_into_cell(fd, text, *c);
    } else {
        x_value_def v;  // a text gives any other field its empty value
        from_value(fd, v, *c);
    }
    return XIO_OK;
}

int xio_put_flag(uint16_t h, uint16_t fld, uint16_t flag) {
    Cell* c = nullptr;
    const Handle::Slot* sl = put_slot(h, fld, c);
    if (!sl) return XIO_BAD_CALL;
    if (sl->type == XIO_TYPE_LOGICAL) {
        c->i = flag ? 1 : 0;
    } else {
        x_value_def v;
        v.flag = flag;
        from_value(*sl->def, v, *c);
    }
    return XIO_OK;
}

namespace {

int16_t field_result(const Cell& c, uint16_t t) {
    if (is_text(t)) return c.s.empty() ? 0 : 1;
    if (is_real(t)) return static_cast<int16_t>(std::clamp(std::trunc(c.d), -32768.0, 32767.0));
    if (t == XIO_TYPE_DATE || t == XIO_TYPE_TIME) return c.i ? 1 : 0;
    return static_cast<int16_t>(std::clamp<int64_t>(c.i, -32768, 32767));
}

}  // namespace

int16_t xio_get_field_result(uint16_t h, uint16_t rec, uint16_t fld) {
    Handle* hd = H(h);
    if (!hd || fld >= hd->slots.size()) return 0;
    const Handle::Slot& sl = hd->slots[fld];
    if (!sl.buf || (rec != 0 && sl.record != 0 && rec != sl.record)) return 0;
    return field_result(*(sl.buf->data() + (fld - sl.first)), sl.type);
}

uint16_t xio_first_nonblank_text(uint16_t h, uint16_t first, uint16_t last) {
    Handle* hd = H(h);
    if (!hd || first == 0) return 0;
    for (uint32_t f = first; f <= last && f < hd->slots.size(); ++f) {
        const Handle::Slot& sl = hd->slots[f];
        if (!sl.buf || !is_text(sl.type)) continue;
        const std::string& text = (sl.buf->data() + (f - sl.first))->s;
        if (text.find_first_not_of(' ') != std::string::npos) return static_cast<uint16_t>(f);
    }
    return 0;
}

uint16_t xio_first_nonzero_number(uint16_t h, uint16_t first, uint16_t last) {
    Handle* hd = H(h);
    if (!hd || first == 0) return 0;
    for (uint32_t f = first; f <= last && f < hd->slots.size(); ++f) {
        const Handle::Slot& sl = hd->slots[f];
        if (!sl.buf) continue;
        const Cell& c = *(sl.buf->data() + (f - sl.first));
        const uint16_t t = sl.type;
        // What xio_get_number reads: none for texts, flags, dates and times.
        if (is_real(t) ? c.d != 0 : !(is_text(t) || t == XIO_TYPE_LOGICAL || t == XIO_TYPE_DATE || t == XIO_TYPE_TIME) && c.i != 0)
            return static_cast<uint16_t>(f);
    }
    return 0;
}

void xio_read_image(uint16_t h, const xio_image_read* reads, std::size_t count, void* image) {
    Handle* hd = H(h);
    char* base = static_cast<char*>(image);
    for (std::size_t n = 0; n < count; ++n) {
        const xio_image_read& r = reads[n];
        const Handle::Slot* sl = hd && r.field < hd->slots.size() && hd->slots[r.field].buf ? &hd->slots[r.field] : nullptr;
        const Cell* c = sl ? sl->buf->data() + (r.field - sl->first) : nullptr;
        const uint16_t t = sl ? sl->type : 0;
        if (r.kind == XIO_READ_TEXT) {
            std::string& m = *reinterpret_cast<std::string*>(base + r.offset);
            if (c && is_text(t) && !c->s.empty()) m.assign(c->s);
            else m.clear();
        } else {
            double& m = *reinterpret_cast<double*>(base + r.offset);
            // What xio_get_number reads: none for texts, flags, dates and times.
            if (!c) m = 0;
            else if (is_real(t)) m = c->d;
            else if (is_text(t) || t == XIO_TYPE_LOGICAL || t == XIO_TYPE_DATE || t == XIO_TYPE_TIME) m = 0;
            else m = static_cast<double>(c->i);
        }
    }
}

void xio_write_image(uint16_t h, const xio_image_write* writes, std::size_t count, const void* image) {
    Handle* hd = H(h);
    if (!hd) return;
    const char* base = static_cast<const char*>(image);
    for (std::size_t n = 0; n < count; ++n) {
        const xio_image_write& w = writes[n];
        if (w.field >= hd->slots.size() || !hd->slots[w.field].buf) continue;
        const Handle::Slot& sl = hd->slots[w.field];
        const std::size_t at = w.field - sl.first;
        Cell& c = sl.buf->data()[at];
        const void* member = base + w.offset;
        if (w.kind == XIO_WRITE_TEXT) {
            const std::string& m = *static_cast<const std::string*>(member);
            if (is_text(sl.type)) {
                if (m.empty() && c.s.empty()) continue;
                note_change(sl.owner, at);
                text_into_cell(*sl.def, m, c);
            } else {
                note_change(sl.owner, at);
                from_value(*sl.def, x_value_def{}, c);  // a text gives any other field its empty value
            }
            continue;
        }
        if (w.kind == XIO_WRITE_DATE) {
            if (sl.type != XIO_TYPE_DATE) continue;
            const x_date_type& m = *static_cast<const x_date_type*>(member);
            note_change(sl.owner, at);
            c.i = m.month == 0 ? 0 : m.year * 10000LL + m.month * 100 + m.day;  // as from_value makes it
            continue;
        }
        const bool word = w.kind == XIO_WRITE_WORD || w.kind == XIO_WRITE_WORD_FLAG;
        const double m = word ? *static_cast<const uint16_t*>(member) : *static_cast<const double*>(member);
        note_change(sl.owner, at);
        const bool flag = w.kind == XIO_WRITE_FLAG || w.kind == XIO_WRITE_WORD_FLAG;
        if (flag && sl.type == XIO_TYPE_LOGICAL) {
            c.i = m != 0 ? 1 : 0;
        } else if (!flag && is_real(sl.type)) {
            c.d = m;
        } else {
            x_value_def v;
            if (flag) v.flag = m != 0 ? 1 : 0;
            else v.number = m;
            from_value(*sl.def, v, c);
        }
    }
}

uint16_t xio_zero_numbers(uint16_t h, uint16_t first, uint16_t last, double& firstValue) {
    Handle* hd = H(h);
    if (!hd || first == 0 || last < first) return 0;
    uint16_t found = 0;
    for (uint32_t f = first; f <= last && f < hd->slots.size(); ++f) {
        const Handle::Slot& sl = hd->slots[f];
        if (!sl.buf) continue;
        Cell& c = *(sl.buf->data() + (f - sl.first));
        const uint16_t t = sl.type;
        if (is_real(t)) {
            // Its field result is non-zero exactly when the number is at least 1 either way.
            if (!(std::fabs(c.d) >= 1.0)) continue;
            if (!found) {
                found = static_cast<uint16_t>(f);
                firstValue = c.d;
            }
            note_change(sl.owner, f - sl.first);
            c.d = 0;
            continue;
        }
        if (field_result(c, t) == 0) continue;
        // The number xio_get_number reads: none for texts, flags, dates and times.
        if (is_text(t) || t == XIO_TYPE_LOGICAL || t == XIO_TYPE_DATE || t == XIO_TYPE_TIME) continue;
        const double v = static_cast<double>(c.i);
        if (v == 0) continue;
        if (!found) {
            found = static_cast<uint16_t>(f);
            firstValue = v;
        }
        x_value_def zero;
        note_change(sl.owner, f - sl.first);
        from_value(*sl.def, zero, c);
    }
    return found;
}

}  // namespace dz
