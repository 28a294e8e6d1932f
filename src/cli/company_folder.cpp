#include "cli/company_folder.h"

#include "convert/backup.h"
#include "convert/run_marker.h"
#include "platform/datafile/run_marker.h"
#include "platform/datafile/xio.h"
#include "platform/import/xvl_rcstring.h"
#include "platform/suite/company.h"
#include "platform/ui/console_ui.h"

#include <filesystem>
#include <iostream>
#include <string>
#include <vector>

namespace dz::cli {

bool recover_interrupted_runs(const std::string& command, bool mayWrite) {
    std::vector<std::string> said;
    const auto use = mayWrite ? convert::CompanyUse::Write : convert::CompanyUse::Look;
    const bool whole = convert::RecoverInterruptedRuns(use, &said);
    // Each text's "\r" line breaks (the next step's, among them) printed as new lines.
    for (const auto& text : said) std::cerr << "dodedoz-cli: " << command << ": " << ui::console_text(text) << "\n";
    return whole;
}

std::string unwritable_refusal(int status, const std::string& subject) {
    if (status != XIO_LOCKED || !xio_error_unwritable()) return {};
    const ui::NextStep next = xio_error_next_step();
    return ui::console_text(ui::with_step(subject + " " + ui::unwritable_words(next), next, ui::Voice::CommandLine));
}

std::string journal_refusal_said(int status, const std::string& subject) {
    const ui::NextStep next = xio_error_next_step();
    if (status != XIO_LOCKED || !ui::journal_refusal(next.step) || !ui::step_said_in_command(next)) return {};
    constexpr int kMsgJournalNotPlayed = 13622;
    return subject + " " + xvl::xvlRCString::Get(kMsgJournalNotPlayed);
}

std::string in_use_refusal(const std::string& subject) {
    const std::string why = xio_error_text();
    return subject + (why.find(" is in use") != std::string::npos ? ": " : " is in use: ") + why;
}

bool open_company_folder(const std::string& dir, const std::string& command, bool mayWrite) {
    std::error_code ec;
    if (!std::filesystem::is_directory(dir, ec)) {
        std::cerr << "dodedoz-cli: " << command << ": company folder " << dir << " does not exist\n";
        return false;
    }
    if (std::filesystem::exists(std::filesystem::path(dir) / suite::kSettingsFileName)) {
        try {
            suite::open_company(dir);
        } catch (const suite::SettingsError& e) {
            std::cerr << "dodedoz-cli: " << command << ": " << e.what() << "\n";
            return false;
        }
        if (!recover_interrupted_runs(command, mayWrite)) return false;
    } else {
        // A bare folder of data files: a conversion stopped half posted in it is judged all the same.
        // Named absolute, as a company's folder is, in whatever is said of its files.
        const std::filesystem::path folder = suite::absolute_folder(dir);
        xio_set_file_control([folder](const std::string&) { return folder; });
        const bool whole = xio::settle_dead_runs({folder.string(), mayWrite, ""});
        std::vector<std::string> said;
        const bool sound = convert::SayRunNotices(mayWrite, &said) && whole;
        for (const auto& text : said) std::cerr << "dodedoz-cli: " << command << ": " << ui::console_text(text) << "\n";
        if (!sound) return false;
    }
    return true;
}

}  // namespace dz::cli
