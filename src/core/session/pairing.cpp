#include "core/session/pairing.h"

#include <stdexcept>
#include <utility>

#include "base/user_text.h"
#include "core/session/connection_registry.h"
#include "core/session/core_state.h"
#include "core/session/display_context.h"
#include "core/session/json_text.h"
#include "protocol/limits.h"
#include "protocol/secure_error.h"
#include "protocol/wire.h"
#include "store/device_store.h"

namespace tamborix {

using nlohmann::json;

namespace {
constexpr std::string_view denied = R"({"t":"denied"})";
}  // namespace

Pairing::Pairing(MainLoop& loop, DeviceStore& store, ConnectionRegistry& registry,
                 CoreState& state, DisplayContext& displays, const std::string& hostName)
    : loop_(loop),
      store_(store),
      registry_(registry),
      state_(state),
      displays_(displays),
      hostName_(hostName) {}

Pairing::~Pairing() { life_.end(); }

void Pairing::onFrame(const HelperConnPtr& conn, ByteView frame, SessionEntry::FrameDone done) {
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
    finish(conn, message, std::move(done));
}

void Pairing::finish(const HelperConnPtr& conn, const json& message, SessionEntry::FrameDone done) {
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
        proof = Wire::b64d(text, limits::handshakeFieldLimit);
    } catch (const SecureError&) {
        proof.clear();
    }
    if (!store_.checkPairProof(proof, conn->session->th())) {
        state_.setLastEvent("Wrong pairing code from " + conn->clientName);
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
            if (!complete(weak, pub, name, approved))
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

bool Pairing::complete(const std::weak_ptr<HelperConn>& weak, const Bytes& pub,
                       const std::string& clientName, bool approved) {
    auto conn = weak.lock();
    // A phone that left while the prompt was open gets nothing, and its connection stays out of
    // the registry: its end-of-connection bookkeeping has already run.
    const bool present = conn && !conn->ended;
    if (!approved) {
        state_.setLastEvent("Denied " + clientName);
        if (present)
            registry_.sendBytes(conn, ByteView(reinterpret_cast<const std::uint8_t*>(denied.data()),
                                               denied.size()));
        return true;
    }
    const auto stored = store_.add(pub, clientName);
    if (!stored) {
        // Telling the phone "paired" now would be a lie it finds out at the next start.
        state_.setLastEvent(userText("Events", "Could not pair %1: %2")
                                .with({clientName, store_.saveError().value_or(
                                                       userText("Events", "the device could not be stored"))}));
        return false;
    }
    const PairedDevice& device = *stored;
    if (present) {
        conn->device = device;
        conn->pairingPub.reset();
        registry_.add(conn);
    }
    state_.setLastEvent("Paired " + device.name);
    if (!present) return true;
    const json paired = {
        {"t", "paired"}, {"id", device.id}, {"host", hostName_}, {"os", "linux"}, {"v", 2}};
    registry_.sendBytes(conn, jsontext::serialize(paired));
    const auto context = displays_.contextJSON();
    const auto displays = displays_.displaysForNewPhone(conn);
    if (!conn->push || conn->ended) return true;
    if (context) registry_.sendBytes(conn, *context);
    if (displays) registry_.sendBytes(conn, *displays);
    return true;
}

}  // namespace tamborix
