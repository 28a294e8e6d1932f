#include "platform/suite/xm_options.h"

#include "platform/suite/company.h"
#include "platform/ui/own_files.h"

#include <cstring>
#include <fstream>
#include <optional>
#include <system_error>

namespace dz::suite {
namespace fs = std::filesystem;

namespace {

// Writes `bytes` to `file` through a file aside and a rename.
bool write_atomically(const fs::path& file, const std::string& bytes) {
    std::error_code ec;
    fs::create_directories(file.parent_path(), ec);
    if (ec) return false;
    std::string why;
    return files::replace_file_atomically(file.string(), bytes, 0644, why);
}

std::optional<std::string> read_all(const fs::path& file) {
    // A pipe would never end and a device may not: anything but a file reads as a block of no
    // bytes, which every reader refuses, as it does a folder's.
    std::error_code ec;
    const fs::file_status st = fs::status(file, ec);
    if (!fs::exists(st)) return std::nullopt;
    if (!fs::is_regular_file(st)) return std::string();
    std::ifstream in(file, std::ios::binary);
    if (!in) return std::nullopt;
    std::string s((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    return s;
}

std::optional<OptionStore> open_store(int command) {
    Company* c = current_company();
    if (!c) return std::nullopt;
    return OptionStore(c->folder(), command);
}

}  // namespace

OptionStore::OptionStore(fs::path company_folder, int command)
    : company_(std::move(company_folder)), command_(command) {}

fs::path OptionStore::folder() const { return company_ / "options" / std::to_string(command_); }

fs::path OptionStore::block_file(int n) const { return folder() / ("block" + std::to_string(n) + ".bin"); }

int OptionStore::put(const void* block, std::size_t size, int n) const {
    if (n == 1) {
        std::error_code ec;
        if (fs::is_directory(folder(), ec))
            for (const auto& e : fs::directory_iterator(folder(), ec)) {
                const std::string name = e.path().filename().string();
                if (name.rfind("block", 0) == 0 && name != "block1.bin") fs::remove(e.path(), ec);
            }
    }
    if (size == 0) {
        std::error_code ec;
        fs::remove(block_file(n), ec);
        return ec ? kXmWriteFailed : kXmOk;
    }
    std::string bytes(static_cast<const char*>(block), size);
    return write_atomically(block_file(n), bytes) ? kXmOk : kXmWriteFailed;
}

int OptionStore::get(void* block, std::size_t size, int n) const {
    auto bytes = read_all(block_file(n));
    if (!bytes) return kXmNotFound;
    std::memcpy(block, bytes->data(), std::min(size, bytes->size()));
    return kXmOk;
}

std::size_t OptionStore::size(int n) const {
    std::error_code ec;
    auto s = fs::file_size(block_file(n), ec);
    return ec ? 0 : static_cast<std::size_t>(s);
}

std::vector<std::uint8_t> OptionStore::read(int n) const {
    auto bytes = read_all(block_file(n));
    if (!bytes) return {};
    return std::vector<std::uint8_t>(bytes->begin(), bytes->end());
}

int OptionStore::put_desc(const std::string& line) const {
    std::string all = read_all(folder() / "description.txt").value_or(std::string());
    all += line;
    all += '\n';
    return write_atomically(folder() / "description.txt", all) ? kXmOk : kXmWriteFailed;
}

std::vector<std::string> OptionStore::descriptions() const {
    std::vector<std::string> out;
    auto all = read_all(folder() / "description.txt");
    if (!all) return out;
    std::size_t at = 0;
    while (at < all->size()) {
        std::size_t nl = all->find('\n', at);
        if (nl == std::string::npos) nl = all->size();
        out.push_back(all->substr(at, nl - at));
        at = nl + 1;
    }
    return out;
}

int OptionStore::clear() const {
    std::error_code ec;
    fs::remove_all(folder(), ec);
    return ec ? kXmWriteFailed : kXmOk;
}

int xm_put_options(int command, const void* block, std::size_t size, int n) {
    auto s = open_store(command);
    return s ? s->put(block, size, n) : kXmNoCompany;
}

int xm_get_options(int command, void* block, std::size_t size, int n) {
    auto s = open_store(command);
    return s ? s->get(block, size, n) : kXmNoCompany;
}

std::size_t xm_option_size(int command, int n) {
    auto s = open_store(command);
    return s ? s->size(n) : 0;
}

int xm_put_option_desc(int command, const std::string& line) {
    auto s = open_store(command);
    return s ? s->put_desc(line) : kXmNoCompany;
}

int xm_clear_options(int command) {
    auto s = open_store(command);
    return s ? s->clear() : kXmNoCompany;
}

std::vector<std::string> xm_get_option_desc(int command) {
    auto s = open_store(command);
    return s ? s->descriptions() : std::vector<std::string>{};
}

}  // namespace dz::suite
