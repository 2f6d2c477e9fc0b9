#include "e2e/fake_bluez_run.h"

#include <unistd.h>

#include <fstream>
#include <random>
#include <stdexcept>

namespace tamborix::testing {

FakeBluezRun::FakeBluezRun(const std::string& fakeBinary, std::vector<std::string> fakeArgs) {
    std::random_device rd;
    dir_ = std::filesystem::temp_directory_path() /
           ("tamborix-ble-" + std::to_string(::getpid()) + "-" + std::to_string(rd()));
    std::filesystem::create_directories(dir_);
    std::ofstream(dir_ / "bus.conf")
        << "<busconfig><type>session</type><listen>unix:path=" << (dir_ / "bus").string()
        << "</listen><auth>EXTERNAL</auth><policy context=\"default\">"
           "<allow send_destination=\"*\" eavesdrop=\"true\"/><allow eavesdrop=\"true\"/>"
           "<allow own=\"*\"/></policy></busconfig>\n";
    bus_ = std::make_unique<ChildProcess>(
        "/usr/bin/dbus-daemon",
        std::vector<std::string>{"--nofork", "--nopidfile", "--print-address=1",
                                 "--config-file=" + (dir_ / "bus.conf").string()},
        std::vector<std::string>{"PATH=/usr/bin:/bin"}, false);
    const auto address = bus_->waitForPrefix("unix:");
    if (!address) throw std::runtime_error("dbus-daemon did not start:\n" + bus_->transcript());
    address_ = *address;
    bluez_ = std::make_unique<ChildProcess>(
        fakeBinary, fakeArgs,
        std::vector<std::string>{"DBUS_SYSTEM_BUS_ADDRESS=" + address_, "DBUS_SESSION_BUS_ADDRESS=disabled:",
                                 "QT_NO_GLIB=1"});
    if (!bluez_->waitForPrefix("ready")) throw std::runtime_error("the fake BlueZ did not start:\n" + bluez_->transcript());
}

FakeBluezRun::~FakeBluezRun() {
    bluez_.reset();
    bus_.reset();
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
}

std::string FakeBluezRun::phone(const std::string& address, int mtu) {
    bluez_->write("phone " + address + " " + std::to_string(mtu) + "\n");
    const auto line = bluez_->waitForPrefix("phone " + address + " ");
    if (!line) return {};
    return "127.0.0.1:" + line->substr(line->rfind(' ') + 1);
}

bool FakeBluezRun::waitLeft(const std::string& address) {
    return bluez_->waitForPrefix("left " + address).has_value();
}

}  // namespace tamborix::testing
