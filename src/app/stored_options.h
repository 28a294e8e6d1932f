// What a Convert or Examine Files run stores so that a macro step or a background task can
// replay it without dialogs: three numbered option blocks under the command's number, plus
// description lines for the person who looks at the step.
//
//   block 1  the text files in run order: per file the path, one zero byte, the conversion
//            type code (u16 little-endian); nothing else, the block's size ends the list
//   block 2  the table group's name and one zero byte; absent when no table group is used
//   block 3  the run options, 22 bytes (see PackConversionOptions); stored only when an AP
//            invoice file is among the files
//
// Blocks read back are checked before use: a block that does not hold what it should (a path
// without its zero byte, a code cut short, options of the wrong size) is refused with a reason,
// and nothing is read past its end.
#pragma once

#include "convert/conversion_types.h"
#include "convert/converter.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace dz::ui {
class zqTask;
}

namespace dz::app {

inline constexpr std::size_t kOptionsBlockSize = 22;
using OptionsBlock = std::array<std::uint8_t, kOptionsBlockSize>;

// Block 1 from the selection's files. Ends the program (x_abort) when there is no storage.
void PackTextFileList(const dz::convert::ConversionTypeList& selection, std::vector<std::uint8_t>& block);
// Empties the selection's files and refills them from block 1, in block order. False, with the
// selection's files empty and `error` saying what is wrong, when the block is malformed.
bool UnpackTextFileList(dz::convert::ConversionTypeList& selection, const std::uint8_t* block, std::size_t size,
                        std::string* error = nullptr);

// Block 3: u16 AP invoice file flag, u32 paid-totals mode, u32 duplicate-invoice mode, then the
// check-clearing date and the statement date as u16 month, day, year (all zero: not set).
OptionsBlock PackConversionOptions(const dz::convert::ConversionOptions& options);
// False, leaving `options` unchanged, when the block is not 22 bytes or holds values out of
// range (modes, dates).
bool UnpackConversionOptions(const std::uint8_t* block, std::size_t size, dz::convert::ConversionOptions& options,
                             std::string* error = nullptr);

// "Text file names:", then "   <path>" per file.
void DescribeTextFiles(const dz::convert::ConversionTypeList& selection, int command);

// The storing half of the hub's start: blocks 1 to 3 and their description lines.
void StoreRunOptions(dz::ui::zqTask& task, const std::vector<std::uint8_t>& fileList, const std::string& tableName,
                     const dz::convert::ConversionOptions& options);

// What a replay reads back.
struct StoredRun {
    std::vector<std::uint8_t> fileList;
    std::string tableName;                   // empty: no table group
    dz::convert::ConversionOptions options;  // defaults when block 3 is absent
};
// Reads and checks the stored blocks of `command`. False with `error` when there is no stored
// file list or a block is malformed.
bool ReadStoredRun(int command, StoredRun& run, std::string& error);

}  // namespace dz::app
