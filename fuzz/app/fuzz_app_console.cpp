// Bytes typed at the console: cut into lines, parsed as commands or prompt answers. Whatever is
// typed, no output line may carry a control byte (a terminal would act on it), and a line is
// never held beyond its cap.

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "app/console.h"
#include "app/console_input.h"
#include "testing/manual_loop.h"
#include "fuzz_support.h"

using namespace tamborix;
using tamborix::fuzzing::require;

namespace {

class Target final : public ConsoleTarget {
public:
    Pairing openPairing() override { return {"ABCDEFGHJKMN", "velmorand://pair?c=ABCDEFGHJKMN", {}}; }
    std::vector<ConsoleDevice> devices() const override { return {{id, "full", "allowed", "Phone"}}; }
    DeviceChange setScope(const std::string& i, PairedDevice::Scope) override { return change(i); }
    DeviceChange resetScreen(const std::string& i) override { return change(i); }
    DeviceChange revoke(const std::string& i) override { return change(i); }
    std::vector<std::string> statusLines() override { return {"Network \u2014 Off"}; }
    void closePairing() override {}
    std::optional<Duration> pairingTimeLeft() override { return std::chrono::seconds(90); }
    std::string identityFingerprint() const override { return "AAAA-BBBB-CCCC-DDDD"; }
    void setNetworkOn(bool) override {}
    void setShareFrontApp(bool) override {}
    void setBluetoothOn(bool) override {}
    bool setStartAtLogin(bool on, std::string&) override { return on; }
    void quit() override {}

private:
    DeviceChange change(const std::string& i) const {
        if (i != id) return {};
        return {DeviceChange::Status::notSaved, "disk full"};
    }
    std::string id = "0123456789abcdef";
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    testing::ManualLoop loop;
    Target target;
    std::vector<std::string> out;
    Console console(loop, target, [&](std::string_view line) { out.emplace_back(line); });
    std::size_t longest = 0;
    ConsoleLineCutter cutter(
        [&](std::string_view line) {
            longest = std::max(longest, line.size());
            console.inputLine(line);
            // Prompts are asked now and then, so that answers are parsed too.
            if (line.size() % 7 == 3) console.askApproval("Phone", "AAAA", [](Approval) {});
        },
        [] {});
    cutter.feed(std::string_view(reinterpret_cast<const char*>(data), size));
    cutter.finish();
    console.inputClosed();
    loop.runPosted();
    require(longest <= ConsoleLineCutter::maxLine);
    for (const auto& line : out) {
        for (const unsigned char c : line) require(c >= 0x20 && c != 0x7F);
    }
    return 0;
}
