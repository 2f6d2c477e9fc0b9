// Arbitrary first lines of a connection into HelperCore::handshake. Whatever arrives, the core
// answers with one reply and never throws: "welcome2" exactly when it hands out a connection,
// otherwise an error with one of the known texts.
//
// So that the fuzzer reaches the key agreement, the placeholders DEV, EPH and NONCE in an input
// are replaced by the paired device's key, a valid ephemeral key and a 16-byte nonce.

#include <stdlib.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <set>
#include <string>

#include "ports/standins/no_input_sink.h"
#include "core/session/helper_core.h"
#include "protocol/key_pair.h"
#include "protocol/wire.h"
#include "store/device_store.h"
#include "testing/core_fakes.h"
#include "testing/manual_loop.h"
#include "fuzz_support.h"

using namespace tamborix;
using namespace tamborix::testing;

namespace {

struct Rig {
    ManualLoop loop;
    std::filesystem::path folder = fuzzing::makeTempFolder("tamborix-fuzz");
    DeviceStore store{loop, folder};
    NoInputSink sink{"fuzz"};
    CoreFakes fakes{loop, "fuzz"};
    HelperCore core{fakes.services(loop, store, sink, true)};
    std::string dev, eph, nonce;
    std::uint64_t peer = 0;

    Rig() {
        const Bytes seed(32, 0x42);
        const auto device = *KeyPair::fromRaw(seed);
        (void)store.add(device.publicKey(), "Fuzz Phone");
        store.openPairing();
        dev = Wire::b64url(device.publicKey());
        eph = Wire::b64url(KeyPair::fromRaw(Bytes(32, 0x24))->publicKey());
        nonce = Wire::b64url(Bytes(16, 7));
        // The handshake never writes to the store again; the folder goes now rather than at an
        // exit that a fuzzer run may never reach cleanly.
        std::error_code ec;
        std::filesystem::remove_all(folder, ec);
    }
};

void replaceAll(std::string& s, const std::string& from, const std::string& to) {
    for (auto pos = s.find(from); pos != std::string::npos; pos = s.find(from, pos + to.size()))
        s.replace(pos, from.size(), to);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static Rig* rig = new Rig();  // lives for the whole run
    std::string line(reinterpret_cast<const char*>(data), size);
    replaceAll(line, "DEV", rig->dev);
    replaceAll(line, "EPH", rig->eph);
    replaceAll(line, "NONCE", rig->nonce);

    // A fresh peer each time, so the rate limit does not hide the paths behind it; every 25th
    // input reuses one peer so that the refusal is exercised too.
    const std::string peer = ++rig->peer % 25 == 0 ? "same" : "p" + std::to_string(rig->peer);
    const auto out = rig->core.handshake(toBytes(line), peer, "Network");

    static const std::set<std::string> texts = {
        "unsupported protocol (update the app)", "too many attempts, wait a minute",
        "bad handshake", "not paired",
        "pairing is closed \u2014 choose \u201cPair New Device\u2026\u201d on the computer"};
    const auto& reply = out.reply;
    if (!reply.is_object() || !reply.contains("t")) std::abort();
    if (reply["t"] == "welcome2") {
        if (!out.conn || !out.conn->session || reply.size() != 7) std::abort();
        if (out.conn->authenticated() == out.conn->pairingPub.has_value()) std::abort();
        (void)reply.dump();
    } else {
        if (out.conn || reply["t"] != "error" || !texts.contains(reply.value("msg", ""))) std::abort();
        const bool unsupported = reply["msg"] == "unsupported protocol (update the app)";
        if (unsupported == reply.contains("nc")) std::abort();
        // The reply goes out as one line: it must serialise whatever nonce was echoed.
        (void)reply.dump();
    }
    return 0;
}
