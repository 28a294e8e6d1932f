// Opening the company folder named by --company for commands that read or write its data
// files directly (dump, load).
#pragma once

#include <string>

namespace dz::cli {

// Opens `dir`: a company (its settings file is there) or a bare folder of data files. False,
// with the reason on standard error as "dodedoz-cli: COMMAND: ...", when it cannot be opened.
// A conversion of the company that stopped while posting is put back first when the command may
// write (`mayWrite`); a command that only looks is refused while one stands.
bool open_company_folder(const std::string& dir, const std::string& command, bool mayWrite);

// For the company just opened: what open_company_folder does about a conversion that stopped
// while posting, said as "dodedoz-cli: COMMAND: ...". False when the command may not go on.
bool recover_interrupted_runs(const std::string& command, bool mayWrite);

// When the data-file layer's last refusal (`status`) was for want of write permission on a data
// file or its folder: `subject` (the file as the command names it), "cannot be written: ..."
// with what truly keeps it (ui::unwritable_words) and the step that lifts it, on lines of their
// own, as every command says it. Empty for any other refusal, whose own words the command says.
std::string unwritable_refusal(int status, const std::string& subject);

// When the data-file layer's last refusal (`status`) was of what stands beside a data file as its
// journal, and this command said so when it started, with the step: `subject` "cannot be opened:
// what stands beside it as its journal is not played" (13622), the cause not said again. Empty
// for any other refusal, and for one not said yet.
std::string journal_refusal_said(int status, const std::string& subject);

// `subject` (the file as the command names it) refused as in use, with the data-file layer's own
// words of why: where those say "is in use" of the file already, they follow the subject alone.
std::string in_use_refusal(const std::string& subject);

}  // namespace dz::cli
