// Arbitrary JSON text as a handshake request: accept either answers with a well-formed
// "welcome2" and a working session or throws a SecureError; nothing else escapes.
#include <cstdlib>
#include <nlohmann/json.hpp>

#include "protocol/handshake.h"
#include "protocol/secure_error.h"
#include "protocol/wire.h"

using namespace tamborix;

namespace {

// Reproducible draws keep a crashing input crashing.
class CountingRandom final : public RandomSource {
public:
    void fill(std::uint8_t* out, std::size_t n) override {
        for (std::size_t i = 0; i < n; ++i) out[i] = static_cast<std::uint8_t>(next_++ * 167 + 13);
    }
    std::uint32_t uniform(std::uint32_t upperBound) override {
        return upperBound ? next_++ % upperBound : 0;
    }

private:
    std::uint32_t next_ = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const nlohmann::json hello = nlohmann::json::parse(data, data + size, nullptr, false);
    if (hello.is_discarded()) return 0;

    static const KeyPair server = *KeyPair::fromRaw(Bytes(32, 0x5E));
    static const KeyPair fallbackDevice = *KeyPair::fromRaw(Bytes(32, 0xD1));
    Bytes devicePub(fallbackDevice.publicKey().begin(), fallbackDevice.publicKey().end());
    // Expect the key the request names, so fuzzing reaches past the device-key check.
    if (hello.is_object() && hello.contains("dev") && hello["dev"].is_string()) {
        try {
            const Bytes named = Wire::b64d(hello["dev"].get<std::string>(), 200);
            if (named.size() == 32) devicePub = named;
        } catch (const SecureError&) {
        }
    }

    CountingRandom rng;
    try {
        auto accepted = ServerHandshake::accept(server, hello, devicePub, rng);
        const auto& reply = accepted.reply;
        if (reply.size() != 7 || reply.at("t") != "welcome2" || reply.at("v") != 2) std::abort();
        if (reply.at("nc") != hello.at("nc")) std::abort();
        if (!accepted.session || accepted.session->sid().size() != 8) std::abort();
        (void)accepted.session->seal(Bytes{'{', '}'});
    } catch (const SecureError&) {
    }
    return 0;
}
