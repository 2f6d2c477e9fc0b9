// The first message of a connection: a known phone's "hello2" or a pairing phone's "pair2".
// The rate limit per address is the registry's.

#include <utility>

#include "core/desktop/text_limits.h"
#include "core/session/helper_core.h"
#include "protocol/handshake.h"
#include "protocol/limits.h"
#include "protocol/secure_error.h"
#include "protocol/wire.h"
#include "store/device_store.h"
#include "store/display_name.h"

namespace tamborix {

using nlohmann::json;

namespace {

HandshakeOutcome unsupported() {
    return {json{{"t", "error"}, {"msg", "unsupported protocol (update the app)"}}, nullptr};
}

HandshakeOutcome error(const char* msg, const json& nc) {
    return {json{{"t", "error"}, {"msg", msg}, {"nc", nc}}, nullptr};
}

}  // namespace

HandshakeOutcome HelperCore::handshake(ByteView firstMessage, const std::string& peer,
                                       const std::string& transport) {
    json request;
    try {
        request = json::parse(firstMessage.begin(), firstMessage.end());
    } catch (const json::exception&) {
        return unsupported();
    }
    if (!request.is_object()) return unsupported();
    const auto v = request.find("v");
    if (v == request.end() || !v->is_number() || v->get<double>() != 2) return unsupported();
    const auto t = request.find("t");
    if (t == request.end() || !t->is_string()) return unsupported();
    const auto& type = t->get_ref<const std::string&>();
    const bool pairing = type == "pair2";
    if (!pairing && type != "hello2") return unsupported();

    const auto ncIt = request.find("nc");
    const json nc = ncIt == request.end() ? json("") : *ncIt;

    if (!rateOK(peer)) return error("too many attempts, wait a minute", nc);
    // Without its identity (still locked in the keyring) the helper is nobody a phone knows.
    if (!store_.hasIdentity()) return error("bad handshake", nc);

    try {
        const auto nameIt = request.find("name");
        std::string name = nameIt != request.end() && nameIt->is_string()
                               ? characterPrefix(
                                     cleanDisplayName(nameIt->get_ref<const std::string&>()),
                                     limits::maxClientNameCharacters)
                               : std::string("device");

        const auto devIt = request.find("dev");
        Bytes dev;
        try {
            std::optional<std::string_view> text;
            if (devIt != request.end() && devIt->is_string())
                text = devIt->get_ref<const std::string&>();
            dev = Wire::b64d(text, limits::handshakeFieldLimit);
        } catch (const SecureError&) {
            return error("bad handshake", nc);
        }
        if (dev.size() != Wire::keyLength) return error("bad handshake", nc);

        auto conn = std::make_shared<HelperConn>();
        conn->peer = peer;
        conn->transport = transport;
        conn->lastRx = loop_.now();
        if (pairing) {
            if (!store_.pairingOpen())
                return error(
                    "pairing is closed \u2014 choose \u201cPair New Device\u2026\u201d on the "
                    "computer",
                    nc);
            conn->clientName = std::move(name);
            conn->pairingPub = dev;
        } else {
            auto device = store_.device(dev);
            if (!device) return error("not paired", nc);
            conn->clientName = device->name;
            conn->device = std::move(*device);
        }
        ServerHandshake::Accepted accepted;
        try {
            accepted = ServerHandshake::accept(store_.key(), request, dev);
        } catch (const SecureError&) {
            return error("bad handshake", nc);
        }
        conn->session = std::move(accepted.session);
        return {std::move(accepted.reply), std::move(conn)};
    } catch (const std::exception&) {
        // Nothing a peer sends may escape as an exception; anything unforeseen is a bad request.
        return error("bad handshake", nc);
    }
}

}  // namespace tamborix
