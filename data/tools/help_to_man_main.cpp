// tamborix-help-to-man PROGRAM TEMPLATE OUTPUT VERSION: writes a manual page whose synopsis and
// listed sections come from `PROGRAM --help`.

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>

#include "help_to_man.h"

namespace {

// Runs the program without a shell and returns its standard output; empty on any failure.
std::string helpOf(const char* program) {
    int fds[2];
    if (::pipe(fds) != 0) return {};
    const pid_t pid = ::fork();
    if (pid < 0) return {};
    if (pid == 0) {
        ::dup2(fds[1], STDOUT_FILENO);
        ::close(fds[0]);
        ::close(fds[1]);
        ::execl(program, program, "--help", static_cast<char*>(nullptr));
        ::_exit(127);
    }
    ::close(fds[1]);
    std::string out;
    char buf[4096];
    for (;;) {
        const auto n = ::read(fds[0], buf, sizeof buf);
        if (n <= 0) break;
        out.append(buf, static_cast<std::size_t>(n));
    }
    ::close(fds[0]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return {};
    return out;
}

// The build date, or SOURCE_DATE_EPOCH's for reproducible packages.
std::string pageDate() {
    std::time_t t = std::time(nullptr);
    if (const char* epoch = std::getenv("SOURCE_DATE_EPOCH"); epoch && *epoch) {
        t = static_cast<std::time_t>(std::strtoll(epoch, nullptr, 10));
    }
    std::tm tm{};
    ::gmtime_r(&t, &tm);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d", &tm);
    return text;
}

}  // namespace

int main(int argc, char** argv) {
    using namespace tamborix::man;
    if (argc != 5) {
        std::cerr << "usage: tamborix-help-to-man PROGRAM TEMPLATE OUTPUT VERSION\n";
        return 2;
    }
    const auto help = helpOf(argv[1]);
    if (help.empty()) {
        std::cerr << "tamborix-help-to-man: " << argv[1] << " --help failed\n";
        return 1;
    }
    const auto parsed = parseHelp(help);
    if (!parsed.help) {
        std::cerr << "tamborix-help-to-man: " << argv[1] << " --help: " << parsed.error << "\n";
        return 1;
    }
    std::ifstream in(argv[2], std::ios::binary);
    std::stringstream templ;
    templ << in.rdbuf();
    if (!in) {
        std::cerr << "tamborix-help-to-man: cannot read " << argv[2] << "\n";
        return 1;
    }
    const auto filled = fillTemplate(templ.str(), *parsed.help, argv[4], pageDate());
    if (!filled.page) {
        std::cerr << "tamborix-help-to-man: " << argv[2] << ": " << filled.error << "\n";
        return 1;
    }
    std::ofstream out(argv[3], std::ios::binary | std::ios::trunc);
    out << *filled.page;
    out.close();
    if (!out) {
        std::cerr << "tamborix-help-to-man: cannot write " << argv[3] << "\n";
        std::remove(argv[3]);
        return 1;
    }
    return 0;
}
