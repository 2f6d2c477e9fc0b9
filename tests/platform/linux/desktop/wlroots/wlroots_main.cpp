// Gives GIO a data folder of the tests' own before it first reads the environment (it keeps what
// it read for the life of the process): the probe windows' desktop entries.

#include <gtest/gtest.h>
#include <stdlib.h>

#include <QCoreApplication>

#include <filesystem>
#include <fstream>

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    char pattern[] = "/tmp/tamborix-wlroots-apps-XXXXXX";
    const std::filesystem::path root = ::mkdtemp(pattern);
    std::filesystem::create_directories(root / "applications");
    for (const char* app : {"a", "b"}) {
        std::ofstream(root / "applications" / (std::string("tamborix-probe-") + app + ".desktop"))
            << "[Desktop Entry]\nType=Application\nName=Probe " << char(std::toupper(*app)) << "\nExec=/bin/true\n";
    }
    ::setenv("XDG_DATA_HOME", root.c_str(), 1);
    ::setenv("XDG_DATA_DIRS", root.c_str(), 1);
    QCoreApplication app(argc, argv);
    const int result = RUN_ALL_TESTS();
    std::error_code ignored;
    std::filesystem::remove_all(root, ignored);
    return result;
}
