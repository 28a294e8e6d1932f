#include "convert/record_fields.h"

#include "convert/texts.h"
#include "platform/datafile/xio.h"
#include "platform/import/xvl_rcstring.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <link.h>
#include <vector>

namespace dz::convert {

namespace {

// Field numbers by handle, record and name: the handlers ask for the same few fields on every
// record, always by name literals. A hit is checked against the name, so a name held elsewhere
// at the same address is never taken for another; a literal cannot change, its address suffices.
struct FieldSlot {
    uint16_t file = 0;
    uint16_t rec = 0;
    const char* ptr = nullptr;
    std::string name;
    uint16_t no = 0;
    bool literal = false;  // `ptr` lies in the program's read-only image: compared by address
};
constexpr std::size_t kFieldSlots = 4096;  // a power of two: a home is the top 12 bits of a hash
constexpr std::size_t kFieldProbes = 8;
std::vector<FieldSlot>& FieldSlots() {
    static std::vector<FieldSlot> slots(kFieldSlots);
    return slots;
}

// The program's read-only loaded segments (string literals among them), found once. A name in
// them never changes, so a hit on its address alone is that name.
struct ReadOnlyImage {
    static constexpr int kMax = 8;
    std::uintptr_t lo[kMax] = {};
    std::uintptr_t hi[kMax] = {};
    int count = 0;
    ReadOnlyImage() {
        dl_iterate_phdr(
            [](dl_phdr_info* info, std::size_t, void* data) {
                auto& self = *static_cast<ReadOnlyImage*>(data);
                // The program itself comes first (it has no name); shared objects are left out.
                if (info->dlpi_name && info->dlpi_name[0] != '\0') return 1;
                for (int i = 0; i < info->dlpi_phnum && self.count < kMax; ++i) {
                    const auto& ph = info->dlpi_phdr[i];
                    if (ph.p_type != PT_LOAD || (ph.p_flags & PF_W)) continue;
                    self.lo[self.count] = info->dlpi_addr + ph.p_vaddr;
                    self.hi[self.count] = info->dlpi_addr + ph.p_vaddr + ph.p_memsz;
                    ++self.count;
                }
                return 1;
            },
            this);
    }
    bool holds(const char* p) const {
        const auto a = reinterpret_cast<std::uintptr_t>(p);
        for (int i = 0; i < count; ++i)
            if (a >= lo[i] && a < hi[i]) return true;
        return false;
    }
};

bool Unchangeable(const char* name) {
    static const ReadOnlyImage image;
    return image.holds(name);
}

}  // namespace

uint16_t FieldNo(uint16_t file, uint16_t rec, const char* name) {
    const std::uint64_t mixed =
        (static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(name)) ^ (std::uint64_t{file} << 48) ^
         (std::uint64_t{rec} << 40)) * 0x9E3779B97F4A7C15ull;
    // A few slots from the hash's home on: names that share a home do not push each other out
    // on every record.
    auto& slots = FieldSlots();
    const auto home = static_cast<std::size_t>(mixed >> 52);  // 12 bits: kFieldSlots
    FieldSlot* free = nullptr;
    for (std::size_t i = 0; i < kFieldProbes; ++i) {
        FieldSlot& slot = slots[(home + i) & (kFieldSlots - 1)];
        if (!slot.ptr) {
            free = &slot;
            break;
        }
        if (slot.ptr == name && slot.file == file && slot.rec == rec &&
            (slot.literal || std::strcmp(slot.name.c_str(), name) == 0))
            return slot.no;
    }
    const uint16_t no = xio_num(file, XIO_NUM_RECORD, rec, name);
    *(free ? free : &slots[home]) = FieldSlot{file, rec, name, name, no, Unchangeable(name)};
    return no;
}

void ForgetFieldNumbers() {
    for (auto& slot : FieldSlots()) slot = FieldSlot{};
}

uint16_t HeaderFieldNo(uint16_t file, uint16_t header, const char* name) {
    return xio_num(file, XIO_NUM_HEADER, header, name);
}

x_value_def GetValue(uint16_t file, uint16_t field) {
    x_value_def v;
    if (field) xio_get_field(file, 0, field, v);
    return v;
}

std::string GetText(uint16_t file, uint16_t field) { return xio_get_text(file, field); }

double GetNumber(uint16_t file, uint16_t field) { return xio_get_number(file, field); }
uint16_t GetFlag(uint16_t file, uint16_t field) { return xio_get_flag(file, field); }
x_date_type GetDate(uint16_t file, uint16_t field) { return GetValue(file, field).date; }

void PutText(uint16_t file, uint16_t field, const std::string& text) {
    if (!field) return;
    (void)xio_put_text(file, field, text);
}

void PutNumber(uint16_t file, uint16_t field, double number) {
    if (field) xio_put_number(file, field, number);
}

void PutDate(uint16_t file, uint16_t field, const x_date_type& date) {
    if (!field) return;
    x_value_def v;
    v.date = date;
    xio_put_field(file, 0, field, v);
}

void PutFlag(uint16_t file, uint16_t field, uint16_t flag) {
    if (field) xio_put_flag(file, field, flag);
}

int32_t Whole(double value) {
    // A number read from a text file may be anything (1e20, nan): beyond the range it saturates,
    // and nan is no number at all, rather than a conversion whose result nothing defines.
    if (std::isnan(value)) return 0;
    if (value >= 2147483647.0) return INT32_MAX;
    if (value <= -2147483648.0) return INT32_MIN;
    return static_cast<int32_t>(std::trunc(value));
}

bool FindInIdMap(uint16_t file, uint16_t rec, const RecordIdMap& ids, uint16_t* code) {
    if (ids.empty()) return false;
    thread_local std::string text;  // its buffer kept from look-up to look-up
    RecordIdText(file, text, rec);
    const auto it = ids.find(text);
    if (it == ids.end()) return false;
    if (code) *code = it->second;
    return true;
}

bool ReadByKey(uint16_t file, uint16_t rec, const char* field, const std::string& key) {
    const uint16_t keyNo = FieldNo(file, rec, field);
    PutText(file, keyNo, key);
    if (xio_rd_record(file, rec, 0, 0) == XIO_OK) return true;
    xio_init_record(file, rec);
    PutText(file, keyNo, key);
    return false;
}

std::string MsgValues(int number, std::initializer_list<std::string_view> values) {
    return xvl::xvlRCString::GetValues(number, values);
}

std::string ModeWord(const char* pair, bool converting) {
    const std::string text = pair;
    const auto slash = text.find('/');
    if (slash == std::string::npos) return text;
    return converting ? text.substr(0, slash) : text.substr(slash + 1);
}

std::string FormatNumber(const char* format, double value) {
    char buf[64];
    std::snprintf(buf, sizeof buf, format, value);
    return buf;
}

std::string FormatInt(const char* format, long value) {
    char buf[64];
    std::snprintf(buf, sizeof buf, format, value);
    return buf;
}

std::string Amount(double hundredths) { return FormatNumber("%.2f", hundredths / 100.0); }

std::string ChoiceText(uint16_t file, uint16_t field, double item, bool withBlank) {
    std::string text;
    xio_get_item_alpha(file, field, static_cast<uint16_t>(item < 0 ? 0 : item), text);
    return text + FormatNumber(withBlank ? " (%.0f)" : "(%.0f)", item);
}

}  // namespace dz::convert
