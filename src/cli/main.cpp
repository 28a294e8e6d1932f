#include "cli/commands.h"
#include "platform/import/xvl_rcstring.h"

#include "platform/ui/shown_stream.h"

#include <iostream>
#include <vector>

namespace dz::cli {

static std::vector<Registrar>& registrars() {
    static std::vector<Registrar> list;
    return list;
}

bool register_command(Registrar registrar) {
    registrars().push_back(std::move(registrar));
    return true;
}

}  // namespace dz::cli

int main(int argc, char** argv) {
    // Whatever a command writes to the terminal, a control character in it is shown, never acted on.
    dz::ui::ShownStandardStreams shown;
    dz::xvl::InstallStepWords();  // before anything can fail and say what to do next
    CLI::App app{"dodedoz-cli: converts comma-separated text files into the accounting suite's data files"};
    app.require_subcommand(1);
    int exitCode = dz::cli::kExitOk;
    for (auto& reg : dz::cli::registrars()) reg(app, exitCode);
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp& e) {
        return app.exit(e);
    } catch (const CLI::CallForAllHelp& e) {
        return app.exit(e);
    } catch (const CLI::ParseError& e) {
        app.exit(e);
        return dz::cli::kExitUsage;
    } catch (const std::exception& e) {
        std::cerr << "dodedoz-cli: " << e.what() << "\n";
        return dz::cli::kExitFailure;
    }
    return exitCode;
}
