// The Bluetooth server fed what centrals can do beyond what the reassembler sees: writes of any
// bytes from several centrals, subscribing and leaving, the link filling and draining, the core
// finishing or failing frames, time passing. The checks are the server's promises: at most eight
// sessions, every session the core opened is closed at most once, nothing waits for a central
// that left.

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdlib>
#include <map>
#include <nlohmann/json.hpp>
#include <string>

#include "protocol/secure_session.h"
#include "testing/fake_peripheral.h"
#include "testing/fake_session_entry.h"
#include "testing/manual_loop.h"
#include "transport/bluetooth_server.h"
#include "fuzz_support.h"

using namespace tamborix;
using tamborix::fuzzing::require;
using namespace tamborix::testing;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider in(data, size);
    ManualLoop loop;
    FakeSessionEntry core;
    // A JSON message opens a session whose id is its first byte; odd ones still have to pair.
    core.onHandshake = [&](ByteView line, const std::string&, const std::string&) {
        const std::uint8_t sid = line.size() > 1 ? line[1] : 0;
        auto conn = (sid & 1) ? FakeSessionEntry::pairingConn() : FakeSessionEntry::pairedConn();
        conn->session = std::make_unique<SecureSession>(Bytes(8, sid), Bytes(32, 0),
                                                        SecureSession::Key{}, SecureSession::Key{});
        conn->lastRx = loop.now();
        return HandshakeOutcome{{{"t", "welcome2"}}, conn};
    };
    FakePeripheralFactory peripherals(loop);
    BluetoothServer server(loop, core, peripherals);
    server.start();
    loop.runPosted();
    auto* peripheral = peripherals.current();
    if (!peripheral) return 0;

    const auto central = [&] { return "central-" + std::to_string(in.ConsumeIntegralInRange<int>(0, 11)); };
    while (in.remaining_bytes() > 0) {
        switch (in.ConsumeIntegralInRange<int>(0, 9)) {
            case 0: peripheral->subscribe(central(), BluetoothServer::statusUUID); break;
            case 1: peripheral->unsubscribe(central(), BluetoothServer::statusUUID); break;
            case 2: peripheral->makeRoom(central(), in.ConsumeIntegralInRange<std::size_t>(0, 64)); break;
            case 3:
                if (!core.pending.empty()) core.completeNext({in.ConsumeBytes<std::uint8_t>(40)});
                break;
            case 4:
                if (!core.pending.empty()) core.failNext();
                break;
            case 5: loop.advance(in.ConsumeIntegralInRange<int>(0, 90000) / 1000.0); break;
            case 6:
                static_cast<void>(peripheral->read(central(), BluetoothServer::statusUUID,
                                                   in.ConsumeIntegralInRange<std::size_t>(0, 600)));
                break;
            default: {
                const auto who = central();
                peripheral->write(who, BluetoothServer::cmdUUID,
                                  in.ConsumeBytes<std::uint8_t>(in.ConsumeIntegralInRange<std::size_t>(0, 600)));
                break;
            }
        }
        loop.runPosted();
        require(server.sessionCount() <= BluetoothServer::maxSessions);
    }
    std::map<const HelperConn*, int> closes;
    for (const auto& conn : core.closedCalls) require(++closes[conn.get()] == 1);
    server.stop();
    require(server.sessionCount() == 0);
    require(server.backlog() == 0);
    return 0;
}
