// The progress line of `dodedoz-cli convert` on a terminal: the program runs with its standard
// error on a pseudo-terminal, converting a generated GL master file of 100,000 accounts.
#include "glm_text.h"

#include "cli_support.h"

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <termios.h>

namespace {

using namespace dz::cli::testing;

struct TerminalRun {
    int status = -1;
    std::string screen;  // every byte the terminal received
};

// Runs dodedoz-cli with `args`, standard error on a new pseudo-terminal, standard input and
// output on /dev/null; the bytes the terminal received.
TerminalRun RunOnTerminal(const std::vector<std::string>& args) {
    TerminalRun run;
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0) return run;
    const std::string slaveName = ::ptsname(master);
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::setsid();
        const int slave = ::open(slaveName.c_str(), O_RDWR);
        const int null = ::open("/dev/null", O_RDWR);
        if (slave < 0 || null < 0) ::_exit(127);
        winsize size{};
        size.ws_row = 24;
        size.ws_col = 80;
        ::ioctl(slave, TIOCSWINSZ, &size);
        ::dup2(null, STDIN_FILENO);
        ::dup2(null, STDOUT_FILENO);
        ::dup2(slave, STDERR_FILENO);
        ::close(master);
        std::vector<char*> argv{const_cast<char*>(DZ_CLI_BIN)};
        for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        ::execv(DZ_CLI_BIN, argv.data());
        ::_exit(127);
    }
    if (pid < 0) {
        ::close(master);
        return run;
    }
    // Read until the program has ended and the terminal is drained (EIO once the last slave
    // descriptor is closed).
    char buf[65536];
    for (;;) {
        pollfd p{master, POLLIN, 0};
        if (::poll(&p, 1, 200) > 0) {
            const ssize_t n = ::read(master, buf, sizeof buf);
            if (n <= 0) break;
            run.screen.append(buf, static_cast<std::size_t>(n));
            continue;
        }
        int st = 0;
        if (run.status < 0 && ::waitpid(pid, &st, WNOHANG) == pid) run.status = WIFEXITED(st) ? WEXITSTATUS(st) : 128;
        if (run.status >= 0 && ::poll(&p, 1, 0) == 0) break;
    }
    if (run.status < 0) {
        int st = 0;
        ::waitpid(pid, &st, 0);
        run.status = WIFEXITED(st) ? WEXITSTATUS(st) : 128;
    }
    ::close(master);
    return run;
}

TEST(ProgressOnATerminal, FewRedrawsAndTheLastLineSays100Percent) {
    ScratchFolder scratch;
    ASSERT_FALSE(scratch.path().empty());
    const fs::path company = scratch.path() / "co", text = scratch.path() / "glm.txt";
    ASSERT_EQ(RunCli({"company", "init", company.string(), "--modules", "GL"}, scratch.path()).status, 0);
    {
        std::ofstream out(text, std::ios::binary);
        dz::bench::WriteGlmText(out, fs::path(DZ_SOURCE_DATA_DIR) / "templates" / "xvglm.tpl", 100000);
    }
    const TerminalRun run = RunOnTerminal({"convert", "--company", company.string(), "--report",
                                           (scratch.path() / "report.txt").string(), "--notes",
                                           (scratch.path() / "notes.txt").string(), text.string()});
    EXPECT_EQ(run.status, 0) << run.screen.substr(0, 2000);
    EXPECT_LT(run.screen.size(), 64u * 1024) << "the terminal received " << run.screen.size() << " bytes";
    // The last drawing of the line, up to the line feed that ends it.
    const std::size_t summary = run.screen.find("dodedoz: " + text.string() + ":");
    ASSERT_NE(summary, std::string::npos) << run.screen.substr(run.screen.size() > 2000 ? run.screen.size() - 2000 : 0);
    const std::size_t lineEnd = run.screen.rfind('\n', summary - 1);
    ASSERT_NE(lineEnd, std::string::npos);
    const std::size_t lineStart = run.screen.rfind('\r', lineEnd - 2);
    ASSERT_NE(lineStart, std::string::npos);
    const std::string last = run.screen.substr(lineStart + 1, lineEnd - lineStart - 1);
    EXPECT_NE(last.find("glm.txt [####################] 100%"), std::string::npos) << last;
    EXPECT_NE(last.find(" records "), std::string::npos) << last;
    // The file's line is not drawn again after its summary.
    EXPECT_EQ(run.screen.find("glm.txt [", summary), std::string::npos) << run.screen.substr(summary);
}

}  // namespace
