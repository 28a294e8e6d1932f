#include "app/stored_options.h"

#include "platform/suite/xd.h"
#include "platform/suite/xm_options.h"
#include "platform/suite/zc.h"
#include "platform/ui/framework.h"
#include "platform/ui/ui.h"

#include <algorithm>
#include <new>

namespace dz::app {

using dz::convert::ConversionOptions;
using dz::convert::ConversionTypeList;
using dz::convert::TextFileEntry;

namespace {

void put16(std::uint8_t* p, std::uint16_t v) {
    p[0] = static_cast<std::uint8_t>(v & 0xFF);
    p[1] = static_cast<std::uint8_t>(v >> 8);
}
void put32(std::uint8_t* p, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>((v >> (8 * i)) & 0xFF);
}
std::uint16_t get16(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] | (p[1] << 8)); }
std::uint32_t get32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

void putDate(std::uint8_t* p, const x_date_type& d) {
    put16(p, d.month);
    put16(p + 2, d.day);
    put16(p + 4, d.year);
}
x_date_type getDate(const std::uint8_t* p) {
    x_date_type d;
    d.month = get16(p);
    d.day = get16(p + 2);
    d.year = get16(p + 4);
    return d;
}
// A stored date is either all zero or a real day.
bool validDate(const x_date_type& d) {
    if (d.month == 0) return d.day == 0 && d.year == 0;
    return d.month <= 12 && d.day >= 1 && d.day <= dz::suite::xd_month_length(d) && d.year >= 1;
}

void fail(std::string* error, const std::string& text) {
    if (error) *error = text;
}

void desc(int command, const std::string& line) { dz::suite::xm_put_option_desc(command, line); }

}  // namespace

void PackTextFileList(const ConversionTypeList& selection, std::vector<std::uint8_t>& block) {
    std::size_t size = 0;
    for (const auto& f : selection.files) size += f.path.size() + 3;
    try {
        block.assign(size, 0);
    } catch (const std::bad_alloc&) {
        dz::ui::x_abort("Unable to create enough memory space to store filenames");
    }
    std::uint8_t* p = block.data();
    for (const auto& f : selection.files) {
        for (char c : f.path) *p++ = static_cast<std::uint8_t>(c);
        *p++ = 0;
        put16(p, f.code);
        p += 2;
    }
}

bool UnpackTextFileList(ConversionTypeList& selection, const std::uint8_t* block, std::size_t size,
                        std::string* error) {
    selection.files.clear();
    std::vector<TextFileEntry> files;
    std::size_t at = 0;
    while (at < size) {
        std::size_t end = at;
        while (end < size && block[end] != 0) ++end;
        if (end == size) {
            fail(error, "the path of file " + std::to_string(files.size() + 1) + " has no end");
            return false;
        }
        if (end == at) {
            fail(error, "file " + std::to_string(files.size() + 1) + " has an empty path");
            return false;
        }
        if (size - end - 1 < 2) {
            fail(error, "the conversion type of file " + std::to_string(files.size() + 1) + " is cut short");
            return false;
        }
        TextFileEntry e;
        e.path.assign(reinterpret_cast<const char*>(block + at), end - at);
        e.code = get16(block + end + 1);
        // A run never stores a file twice; replayed, the second would post its records again.
        for (std::size_t i = 0; i < files.size(); ++i)
            if (files[i].path == e.path) {
                fail(error, "file " + std::to_string(files.size() + 1) + " is file " + std::to_string(i + 1) + " again");
                return false;
            }
        files.push_back(std::move(e));
        at = end + 3;
    }
    selection.files = std::move(files);
    return true;
}

OptionsBlock PackConversionOptions(const ConversionOptions& o) {
    OptionsBlock b{};
    put16(b.data(), o.apInvoiceFile);
    put32(b.data() + 2, o.paidTotalsMode);
    put32(b.data() + 6, o.dupInvoiceMode);
    putDate(b.data() + 10, o.clearDate);
    putDate(b.data() + 16, o.statementDate);
    return b;
}

bool UnpackConversionOptions(const std::uint8_t* block, std::size_t size, ConversionOptions& options,
                             std::string* error) {
    if (size != kOptionsBlockSize) {
        fail(error, "the options block holds " + std::to_string(size) + " bytes instead of " +
                        std::to_string(kOptionsBlockSize));
        return false;
    }
    ConversionOptions o;
    o.apInvoiceFile = get16(block);
    o.paidTotalsMode = get32(block + 2);
    o.dupInvoiceMode = get32(block + 6);
    o.clearDate = getDate(block + 10);
    o.statementDate = getDate(block + 16);
    if (o.apInvoiceFile > 1 || o.paidTotalsMode < 1 || o.paidTotalsMode > 3 || o.dupInvoiceMode > 2) {
        fail(error, "the options block holds a mode out of range");
        return false;
    }
    if (!validDate(o.clearDate) || !validDate(o.statementDate)) {
        fail(error, "the options block holds a date that does not exist");
        return false;
    }
    options = o;
    return true;
}

void DescribeTextFiles(const ConversionTypeList& selection, int command) {
    desc(command, "Text file names:");
    for (const auto& f : selection.files) desc(command, "   " + f.path);
}

void StoreRunOptions(dz::ui::zqTask& task, const std::vector<std::uint8_t>& fileList, const std::string& tableName,
                     const ConversionOptions& options) {
    const int command = task.ID();
    // Whatever batch the task may still hold is ended before its run is put aside.
    dz::suite::zb_batch_record batch;
    batch.taskId = static_cast<std::uint16_t>(command);
    batch.taskName = task.Name().substr(0, 30);
    dz::suite::zb_term_batch(batch);

    dz::suite::xm_put_options(command, fileList.data(), fileList.size(), 1);

    desc(command, "");
    desc(command, "Substitution table name:");
    if (!tableName.empty()) {
        desc(command, "   " + tableName);
        std::vector<std::uint8_t> name(tableName.begin(), tableName.end());
        name.push_back(0);
        dz::suite::xm_put_options(command, name.data(), name.size(), 2);
    } else {
        desc(command, "   Not using substitution tables");
    }
    if (options.apInvoiceFile != 1) return;

    const OptionsBlock b = PackConversionOptions(options);
    dz::suite::xm_put_options(command, b.data(), b.size(), 3);
    desc(command, "");
    desc(command, "API option:");
    if (task.Name() == "Convert") {
        switch (options.paidTotalsMode) {
        case 1: desc(command, "   Change vender paid totals to zero and then accumulate them."); break;
        case 2: desc(command, "   Accumulate vendor paid totals from their current value."); break;
        case 3: desc(command, "   Keep vendor paid totals at their current value and do not accumulate them."); break;
        default: break;
        }
    }
    if (options.dupInvoiceMode == 0) return;
    if (options.dupInvoiceMode == 1) desc(command, "   Reject invoices with duplicate invoice numbers.");
    if (options.dupInvoiceMode == 2) desc(command, "   Change invoice number on invoices with duplicate invoice numbers.");
    if (!options.clearDate.blank())
        desc(command, "   Mark as cleared all checks with a check date on or before '" +
                          dz::suite::xd_alpha_date(options.clearDate) + "'.");
    if (!options.statementDate.blank())
        desc(command, "   Use statement date '" + dz::suite::xd_alpha_date(options.statementDate) +
                          "' for cleared checks with no statement date.");
}

bool ReadStoredRun(int command, StoredRun& run, std::string& error) {
    run = StoredRun{};
    const std::size_t size1 = dz::suite::xm_option_size(command, 1);
    if (size1 == 0) {
        error = "no text files are stored";
        return false;
    }
    run.fileList.assign(size1, 0);
    if (dz::suite::xm_get_options(command, run.fileList.data(), size1, 1) != dz::suite::kXmOk) {
        error = "the stored text files cannot be read";
        return false;
    }
    ConversionTypeList check;
    if (!UnpackTextFileList(check, run.fileList.data(), run.fileList.size(), &error)) {
        error = "the stored file list is malformed: " + error;
        return false;
    }

    // An empty block is not an absent one: a name or options cut to nothing would otherwise
    // replay the run without the table group or with default options, unseen.
    auto present = [command](int n) {
        std::uint8_t none = 0;
        return dz::suite::xm_get_options(command, &none, 0, n) == dz::suite::kXmOk;
    };
    const std::size_t size2 = dz::suite::xm_option_size(command, 2);
    if (size2 != 0 || present(2)) {
        // One zero byte after the name and none inside it: anything else is not a name we stored.
        std::vector<std::uint8_t> name(size2 + 1, 0);
        if (dz::suite::xm_get_options(command, name.data(), size2, 2) != dz::suite::kXmOk) {
            error = "the stored table group cannot be read";
            return false;
        }
        const auto firstZero = std::find(name.begin(), name.begin() + static_cast<std::ptrdiff_t>(size2), 0);
        if (size2 < 2 || firstZero != name.begin() + static_cast<std::ptrdiff_t>(size2 - 1)) {
            error = "the stored table group name is malformed";
            return false;
        }
        run.tableName.assign(reinterpret_cast<const char*>(name.data()), size2 - 1);
    }

    const std::size_t size3 = dz::suite::xm_option_size(command, 3);
    if (size3 != 0 || present(3)) {
        std::vector<std::uint8_t> block(size3 + 1, 0);
        if (dz::suite::xm_get_options(command, block.data(), size3, 3) != dz::suite::kXmOk) {
            error = "the stored run options cannot be read";
            return false;
        }
        if (!UnpackConversionOptions(block.data(), size3, run.options, &error)) {
            error = "the stored run options are malformed: " + error;
            return false;
        }
    }
    return true;
}

}  // namespace dz::app
