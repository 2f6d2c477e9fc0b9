// The BlueZ backend's tests share one private bus, started before Qt first looks for the system
// bus (Qt keeps the first connection it made for the life of the process).

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QCoreApplication>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "bluez_bus.h"

namespace tamborix::testing {
std::string privateSystemBus;
}

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    namespace fs = std::filesystem;
    const auto dir = fs::temp_directory_path() / ("tamborix-bluez-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    pid_t daemon = -1;
    if (fs::exists("/usr/bin/dbus-daemon")) {
        const auto socket = dir / "bus";
        std::ofstream(dir / "bus.conf")
            << "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
               " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
               "<busconfig><type>session</type><listen>unix:path="
            << socket.string()
            << "</listen><auth>EXTERNAL</auth><policy context=\"default\">"
               "<allow send_destination=\"*\" eavesdrop=\"true\"/><allow eavesdrop=\"true\"/>"
               "<allow own=\"*\"/></policy></busconfig>\n";
        daemon = ::fork();
        if (daemon == 0) {
            ::prctl(PR_SET_PDEATHSIG, SIGTERM);  // never outlive the tests
            const int devNull = ::open("/dev/null", O_RDWR);
            ::dup2(devNull, STDIN_FILENO);
            ::dup2(devNull, STDOUT_FILENO);
            ::dup2(devNull, STDERR_FILENO);
            ::execl("/usr/bin/dbus-daemon", "dbus-daemon", "--nofork", "--nopidfile",
                    ("--config-file=" + (dir / "bus.conf").string()).c_str(), nullptr);
            ::_exit(127);
        }
        for (int i = 0; i < 500 && !fs::exists(socket); ++i) ::usleep(10000);
        if (fs::exists(socket)) tamborix::testing::privateSystemBus = "unix:path=" + socket.string();
    }
    if (!tamborix::testing::privateSystemBus.empty())
        ::setenv("DBUS_SYSTEM_BUS_ADDRESS", tamborix::testing::privateSystemBus.c_str(), 1);
    else
        ::setenv("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=/nonexistent", 1);
    ::setenv("DBUS_SESSION_BUS_ADDRESS", "disabled:", 1);
    QCoreApplication app(argc, argv);
    const int rc = RUN_ALL_TESTS();
    if (daemon > 0) {
        ::kill(daemon, SIGTERM);
        ::waitpid(daemon, nullptr, 0);
    }
    fs::remove_all(dir);
    return rc;
}
