// Sets up the made-up applications' desktop entries, icons and handlers in temporary XDG folders
// before GIO first reads the environment (it keeps what it read for the life of the process).

#include <gtest/gtest.h>
#include <stdlib.h>

#include <QCoreApplication>

#include <fstream>

#include "desk_fixture.h"

namespace tamborix::testing {

namespace fs = std::filesystem;

namespace {

fs::path root;

void write(const fs::path& file, const std::string& text) {
    fs::create_directories(file.parent_path());
    std::ofstream(file) << text;
}

void prepare() {
    char pattern[] = "/tmp/tamborix-desk-XXXXXX";
    root = ::mkdtemp(pattern);
    const auto data = root / "data";
    const auto apps = data / "applications";
    const auto recorder = root / "record.sh";
    write(recorder, "#!/bin/sh\necho \"$*|$DESKTOP_STARTUP_ID\" >> '" + (root / "launches.txt").string() + "'\n");
    fs::permissions(recorder, fs::perms::owner_all);
    write(apps / "tamborix-test-editor.desktop",
          "[Desktop Entry]\nType=Application\nName=Test Editor\nExec=/bin/true\n"
          "StartupWMClass=TestEditor\nIcon=tamborix-test-editor\n");
    write(apps / "tamborix-launch-me.desktop",
          "[Desktop Entry]\nType=Application\nName=Launch Me\nExec=" + recorder.string() +
              " launched\nStartupNotify=true\n");
    write(apps / "tamborix-browser.desktop",
          "[Desktop Entry]\nType=Application\nName=Recording Browser\nExec=" + recorder.string() +
              " %u\nMimeType=x-scheme-handler/http;x-scheme-handler/https;\nNoDisplay=true\n");
    write(root / "config" / "mimeapps.list",
          "[Default Applications]\nx-scheme-handler/https=tamborix-browser.desktop\n"
          "x-scheme-handler/http=tamborix-browser.desktop\n");
    write(data / "icons/hicolor/scalable/apps/tamborix-test-editor.svg",
          "<svg xmlns='http://www.w3.org/2000/svg' width='16' height='16'>"
          "<rect width='16' height='16' fill='#3a7'/></svg>\n");
    ::setenv("XDG_DATA_HOME", data.c_str(), 1);
    ::setenv("XDG_DATA_DIRS", (root / "share").c_str(), 1);
    ::setenv("XDG_CONFIG_HOME", (root / "config").c_str(), 1);
    ::setenv("XDG_CONFIG_DIRS", (root / "etc").c_str(), 1);
    ::setenv("GSETTINGS_BACKEND", "memory", 1);
    ::setenv("GIO_USE_VFS", "local", 1);
    ::setenv("DBUS_SESSION_BUS_ADDRESS", "disabled:", 1);
}

}  // namespace

const fs::path& deskRoot() { return root; }

std::vector<std::string> recordedLaunches() {
    std::vector<std::string> lines;
    std::ifstream in(root / "launches.txt");
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

}  // namespace tamborix::testing

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    tamborix::testing::prepare();
    int rc = 0;
    {
        QCoreApplication app(argc, argv);
        rc = RUN_ALL_TESTS();
    }
    std::error_code ec;
    std::filesystem::remove_all(tamborix::testing::deskRoot(), ec);
    return rc;
}
