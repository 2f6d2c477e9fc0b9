#pragma once
// A private system bus with the stand-in bluetoothd (tamborix-fake-bluez) on it, for the tests and
// benchmarks that reach the real helper over its Bluetooth path. Stopped and removed on
// destruction.

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "support/child_process.h"

namespace tamborix::testing {

class FakeBluezRun {
public:
    // `fakeArgs`: extra arguments of tamborix-fake-bluez ("--shared"). Throws when a part does
    // not start.
    explicit FakeBluezRun(const std::string& fakeBinary, std::vector<std::string> fakeArgs = {});
    ~FakeBluezRun();
    FakeBluezRun(const FakeBluezRun&) = delete;
    FakeBluezRun& operator=(const FakeBluezRun&) = delete;

    // The bus address to give the helper as its system bus.
    [[nodiscard]] const std::string& busAddress() const noexcept { return address_; }
    [[nodiscard]] ChildProcess& bluez() { return *bluez_; }
    // A simulated phone with this link MTU; the loopback address its app (tamborix-remote)
    // connects to, or empty when the fake did not answer.
    [[nodiscard]] std::string phone(const std::string& address, int mtu);
    // Waits until the app of this phone has gone and the phone left the helper's service.
    [[nodiscard]] bool waitLeft(const std::string& address);

private:
    std::filesystem::path dir_;
    std::string address_;
    std::unique_ptr<ChildProcess> bus_;
    std::unique_ptr<ChildProcess> bluez_;
};

}  // namespace tamborix::testing
