// Frames after the handshake: the command path of authenticated connections and the pairing
// exchange of connections that have no device yet.

#include <stdexcept>
#include <utility>

#include "core/session/core_parts.h"
#include "core/session/json_text.h"
#include "core/session/move_frame.h"
#include "protocol/secure_error.h"
#include "protocol/wire.h"
#include "store/device_store.h"

namespace tamborix {

using nlohmann::json;

namespace {

constexpr std::size_t maxBatch = 32;
constexpr std::string_view pong = R"({"t":"pong"})";
constexpr std::string_view denied = R"({"t":"denied"})";

}  // namespace

void HelperCore::onFrameNow(const HelperConnPtr& conn, ByteView frame) {
    handleAuthenticated(conn, frame);
}

void HelperCore::onFrame(const HelperConnPtr& conn, Bytes frame, FrameDone done) {
    if (conn && conn->session && !conn->device) {
        onPairingFrame(conn, frame, std::move(done));
        return;
    }
    std::exception_ptr error;
    try {
        handleAuthenticated(conn, frame);
    } catch (...) {
        error = std::current_exception();
    }
    loop_.post([done = std::move(done), error] { done(error, {}); });
}

void HelperCore::handleAuthenticated(const HelperConnPtr& conn, ByteView frame) {
    framesIn_.hit(loop_.wallNow());
    if (!conn || !conn->session || !conn->device) throw SecureError::authentication();
    const Bytes plaintext = conn->session->open(frame);
    conn->lastRx = loop_.now();
    sendGreeting(conn);
    // Most frames are moves: they skip the JSON document and its allocations.
    const auto move = readMoveFrame(plaintext);
    json message;
    if (!move) {
        message = jsontext::parseContainer(plaintext);
        if (!message.is_object()) throw SecureError::malformed("plaintext");
    }

    // Revocation and scope changes in the store take effect from the next frame on.
    const PairedDevice* stored = nullptr;
    for (const auto& d : store_.devices()) {
        if (d.id == conn->device->id) {
            stored = &d;
            break;
        }
    }
    if (stored == nullptr) throw SecureError::authentication();
    const auto scope = stored->scope;
    const auto rejected = [&] {
        // The stored name, which the user may have changed since the handshake.
        const auto current = store_.deviceById(conn->device->id);
        setLastEvent("Rejected a command from " + (current ? current->name : conn->device->name));
    };

    if (move) {
        try {
            runMove(*move, scope);
        } catch (...) {
            rejected();
        }
        return;
    }
    if (const auto t = message.find("t"); t != message.end() && t->is_string() && *t == "ping") {
        sendBytes(conn, ByteView(reinterpret_cast<const std::uint8_t*>(pong.data()), pong.size()));
        return;
    }

    const json* list = &message;
    bool batch = false;
    if (const auto cmds = message.find("cmds"); cmds != message.end() && cmds->is_array()) {
        if (cmds->empty() || cmds->size() > maxBatch) return;
        list = &*cmds;
        batch = true;
    }
    auto runOne = [&](const json& command) {
        if (!command.is_object()) return;
        try {
            run(command, scope, conn);
        } catch (...) {
            rejected();
        }
    };
    if (!batch) {
        runOne(*list);
        return;
    }
    for (const auto& command : *list) {
        // A command may end the connection (a failed push); the rest would act for nobody.
        if (conn->ended) break;
        runOne(command);
    }
}

// --- Pairing ---

void HelperCore::onPairingFrame(const HelperConnPtr& conn, ByteView frame, FrameDone done) {
    json message;
    try {
        const Bytes plaintext = conn->session->open(frame);
        conn->lastRx = loop_.now();
        message = jsontext::parseContainer(plaintext);
        if (!message.is_object()) throw SecureError::malformed("plaintext");
    } catch (...) {
        loop_.post([done = std::move(done), error = std::current_exception()] { done(error, {}); });
        return;
    }
    finishPairing(conn, message, std::move(done));
}

void HelperCore::finishPairing(const HelperConnPtr& conn, const json& message, FrameDone done) {
    auto fail = [&](SecureError error) {
        loop_.post([done = std::move(done), e = std::make_exception_ptr(std::move(error))] {
            done(e, {});
        });
    };
    const auto t = message.find("t");
    if (t == message.end() || !t->is_string() || *t != "pair" || !conn->pairingPub) {
        fail(SecureError::malformed("expected pairing proof"));
        return;
    }
    Bytes proof;
    try {
        std::optional<std::string_view> text;
        if (const auto p = message.find("proof"); p != message.end() && p->is_string())
            text = p->get_ref<const std::string&>();
        proof = Wire::b64d(text, Wire::handshakeFieldLimit);
    } catch (const SecureError&) {
        proof.clear();
    }
    if (!store_.checkPairProof(proof, conn->session->th())) {
        setLastEvent("Wrong pairing code from " + conn->clientName);
        fail(SecureError::authentication());
        return;
    }

    // The code is used up now: while the prompt is open no other phone can pair with it.
    const auto fingerprint = Wire::fingerprint(*conn->pairingPub);
    auto answered = std::make_shared<bool>(false);
    // The transport learns of the end on a later turn of the loop even when the prompt answers
    // at once (no user interface, standard input closed): it is then never re-entered from
    // inside its own onFrame call.
    auto answer = [this, alive = life_.watch(), loop = &loop_,
                   weak = std::weak_ptr<HelperConn>(conn), pub = *conn->pairingPub,
                   name = conn->clientName, answered,
                   done = std::move(done)](bool approved) mutable {
        if (std::exchange(*answered, true)) return;
        std::exception_ptr error;
        if (alive) {
            if (!completePairing(weak, pub, name, approved))
                error = std::make_exception_ptr(std::runtime_error("the device could not be stored"));
        }
        loop->post([done = std::move(done), error] { done(error, {}); });
    };
    if (!approve_) {
        loop_.post([answer = std::move(answer)]() mutable { answer(false); });
        return;
    }
    approve_(conn->clientName, fingerprint, std::move(answer));
}

bool HelperCore::completePairing(const std::weak_ptr<HelperConn>& weak, const Bytes& pub,
                                 const std::string& clientName, bool approved) {
    auto conn = weak.lock();
    // A phone that left while the prompt was open gets nothing, and its connection stays out of
    // `live` and `active`: its end-of-connection bookkeeping has already run.
    const bool present = conn && !conn->ended;
    if (!approved) {
        setLastEvent("Denied " + clientName);
        if (present)
            sendBytes(conn, ByteView(reinterpret_cast<const std::uint8_t*>(denied.data()),
                                     denied.size()));
        return true;
    }
    const auto stored = store_.add(pub, clientName);
    if (!stored) {
        // Telling the phone "paired" now would be a lie it finds out at the next start.
        setLastEvent("Could not pair " + clientName + ": " +
                     store_.saveError().value_or("the device could not be stored"));
        return false;
    }
    const PairedDevice& device = *stored;
    if (present) {
        conn->device = device;
        conn->pairingPub.reset();
        registerLive(conn);
    }
    setLastEvent("Paired " + device.name);
    if (!present) return true;
    const json paired = {
        {"t", "paired"}, {"id", device.id}, {"host", hostName_}, {"os", "linux"}, {"v", 2}};
    sendBytes(conn, jsontext::serialize(paired));
    const auto context = contextJSON();
    const auto displays = displaysForNewPhone(conn);
    pushContextAndDisplays(conn, context, displays);
    return true;
}

}  // namespace tamborix
