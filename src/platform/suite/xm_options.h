// Stored task options: numbered blocks of bytes that a run stores under its command number so
// that a macro step or a background task can replay it without dialogs, plus the description
// lines shown to a person as the step's details.
//
// Blocks are kept byte for byte, one file each, in the company folder:
//   <company>/options/<command>/block<n>.bin      the block's bytes, nothing added
//   <company>/options/<command>/description.txt   one description line per line
// Every write goes to a file aside and is then renamed over the old one.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace dz::suite {

// Result codes, as the other record services give them.
inline constexpr int kXmOk = 0;
inline constexpr int kXmNoCompany = 3;
inline constexpr int kXmWriteFailed = 5;
inline constexpr int kXmNotFound = 11;

class OptionStore {
public:
    OptionStore(std::filesystem::path company_folder, int command);

    // Stores block `n` (replacing it). A size of 0 removes the block. Block 1 starts a new set:
    // storing it forgets the command's other blocks, so that a run stored without a table group
    // or options never replays those of an earlier one.
    int put(const void* block, std::size_t size, int n) const;
    // Copies up to `size` bytes of block `n` into `block`. kXmNotFound when it is absent.
    int get(void* block, std::size_t size, int n) const;
    // The block's size; 0 when it is absent.
    std::size_t size(int n) const;
    std::vector<std::uint8_t> read(int n) const;
    // Appends one description line.
    int put_desc(const std::string& line) const;
    std::vector<std::string> descriptions() const;
    // Forgets every block and description line of the command, so that a new recording does
    // not inherit a block the old one had.
    int clear() const;

    std::filesystem::path folder() const;

private:
    std::filesystem::path block_file(int n) const;
    std::filesystem::path company_;
    int command_;
};

// The same on the open company (dz::suite::current_company()); kXmNoCompany without one.
int xm_put_options(int command, const void* block, std::size_t size, int n);
int xm_get_options(int command, void* block, std::size_t size, int n);
std::size_t xm_option_size(int command, int n);
int xm_put_option_desc(int command, const std::string& line);
int xm_clear_options(int command);
std::vector<std::string> xm_get_option_desc(int command);

}  // namespace dz::suite
