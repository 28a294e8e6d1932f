// Text, file and task utilities of the suite, and the stand-ins for the operating-system
// services the program used (temporary folder, sequential identifiers).
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

namespace dz::suite {

// Whole text to upper case (ASCII letters). Keys are folded with it wherever they are compared.
void x_capitalize(std::string& text);
// Initial capital on each word, the rest of each word in lower case.
void x_init_caps(std::string& text);
// Whole text to lower case (ASCII letters).
void x_lower_case(std::string& text);
// First letter upper case, the rest unchanged ("capitalised" descriptions in messages).
void x_upper_first(std::string& text);
// English plural of a description's last word, keeping its letter case: consonant + y -> ies;
// s, x, z, ch, sh -> es; otherwise s. An empty text stays empty.
void x_pluralize(std::string& text);
// Inserts `word` into `text` at byte position `pos` (at the end when beyond it).
void x_strins(std::string_view word, std::string& text, std::size_t pos);

// Background task status line: "[percent%] text" in the log, and on standard error when it is
// a terminal.
void x_update_task(int percent, std::string_view text);
// Appends a time-stamped line to the program's log (dodedoz.log in the open company's folder,
// else in the temporary folder). Never fails the caller.
void x_log(std::string_view text);
std::filesystem::path x_log_path();
// Fatal exit: the text on stderr and in the log, then the process ends with status 2.
[[noreturn]] void x_abort(std::string_view text);

// File services. Each answers true on success and never throws.
bool x_copy_file(const std::filesystem::path& from, const std::filesystem::path& to);
bool x_delete_file(const std::filesystem::path& path);
bool x_mkdir(const std::filesystem::path& path);
bool x_valid_path(const std::filesystem::path& path);  // the folder exists
bool x_dir_exists(const std::filesystem::path& path);
// A fresh file name in the temporary folder (the file is not created); empty when the
// temporary folder is unusable.
std::filesystem::path x_temp_name();
// The temporary-files folder.
std::filesystem::path x_temp_folder();
// Removes trailing path separators (not the root's).
std::string x_path_remove_backslash(std::string_view path);
// The folder used when a path names no folder: the open company's folder, else the current one.
std::filesystem::path xdf_get_global_data_folder();

// A new time-ordered identifier (UUID version 7) as 36 characters of lower-case text.
std::string x_new_uuid();

}  // namespace dz::suite
