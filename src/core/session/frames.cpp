// Frames after the handshake: a pairing phone's go to pairing; an authenticated phone's are
// opened, checked against the device's standing in the store and routed through the command
// table.

#include <utility>

#include "core/session/command_args.h"
#include "core/session/core_rooms.h"
#include "core/session/json_text.h"
#include "core/session/move_frame.h"
#include "protocol/limits.h"
#include "protocol/secure_error.h"

namespace tamborix {

using nlohmann::json;

namespace {
constexpr std::string_view pong = R"({"t":"pong"})";
constexpr std::string_view reportRejectedCommand = "report_rejected";
constexpr const char* notForPresenter = "not allowed for a presenter device";
}  // namespace

void HelperCore::onFrameNow(const HelperConnPtr& conn, ByteView frame) {
    handleAuthenticated(conn, frame);
}

void HelperCore::onFrame(const HelperConnPtr& conn, Bytes frame, FrameDone done) {
    if (conn && conn->session && !conn->device) {
        rooms_->pairing.onFrame(conn, frame, std::move(done));
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
    rooms_->stats.frameIn();
    if (!conn || !conn->session || !conn->device) throw SecureError::authentication();
    const Bytes plaintext = conn->session->open(frame);
    conn->lastRx = loop_.now();
    rooms_->registry.sendGreeting(conn);
    // Most frames are moves: they skip the JSON document and its allocations.
    const auto move = readMoveFrame(plaintext);
    json message;
    if (!move) {
        message = jsontext::parseContainer(plaintext);
        if (!message.is_object()) throw SecureError::malformed("plaintext");
    }

    // Revocation and scope changes in the store take effect from the next frame on.
    const auto& standing = rooms_->standing.of(*conn);
    if (!standing.paired) throw SecureError::authentication();
    const auto scope = standing.scope;
    const auto rejected = [&](std::string_view type, std::string_view why) {
        // The stored name, which the user may have changed since the handshake.
        const auto& now = rooms_->standing.of(*conn);
        std::string detail = std::string(type.empty() ? "(no type)" : type) + ": " + std::string(why);
        state_.setLastEvent("Rejected a command from " + (now.paired ? now.name : conn->device->name),
                            std::move(detail));
        if (conn->reportRejections && !conn->ended) {
            rooms_->registry.sendTo(conn, {{"t", "rejected"}, {"cmd", type}, {"why", why}});
        }
    };
    const auto runGuarded = [&](std::string_view type, const auto& body) {
        try {
            body();
        } catch (const CommandRejected& e) {
            rejected(type, e.what());
        } catch (const std::exception& e) {
            rejected(type, std::string("failed: ") + e.what());
        } catch (...) {
            rejected(type, "failed");
        }
    };

    if (move) {
        runGuarded("move", [&] { runMove(move->dx, move->dy, scope); });
        return;
    }
    if (const auto t = message.find("t"); t != message.end() && t->is_string() && *t == "ping") {
        rooms_->registry.sendBytes(
            conn, ByteView(reinterpret_cast<const std::uint8_t*>(pong.data()), pong.size()));
        return;
    }

    const json* list = &message;
    bool batch = false;
    if (const auto cmds = message.find("cmds"); cmds != message.end() && cmds->is_array()) {
        if (cmds->empty() || cmds->size() > limits::maxBatch) return;
        list = &*cmds;
        batch = true;
    }
    auto runOne = [&](const json& command) {
        if (!command.is_object()) return;
        const auto* type = commands::stringMember(command, "t");
        runGuarded(type ? std::string_view(*type) : std::string_view(), [&] { run(command, scope, conn); });
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

void HelperCore::runMove(double dx, double dy, PairedDevice::Scope scope) {
    // The same gate and limits as a move through the table.
    static const CommandEntry* const entry = findCommand("move");
    if (scope == PairedDevice::Scope::presenter && !presenterMayRun(*entry, json::object()))
        throw Rejected(notForPresenter);
    rooms_->input.moveBy(dx, dy);
}

void HelperCore::run(const json& command, PairedDevice::Scope scope, const HelperConnPtr& conn) {
    const auto* type = commands::stringMember(command, "t");
    if (type == nullptr) throw Rejected("\"t\" must be the command's name");
    // Asked for by the command line's phone; it changes only what this connection is told.
    if (*type == reportRejectedCommand) {
        conn->reportRejections = commands::optionalBool(command, "on", true);
        return;
    }
    const CommandEntry* entry = findCommand(*type);
    if (scope == PairedDevice::Scope::presenter && (entry == nullptr || !presenterMayRun(*entry, command)))
        throw Rejected(notForPresenter);
    // Pending motion lands before whatever this command does, even if it is then refused.
    if (entry == nullptr || entry->landsPendingMotion) rooms_->input.landPendingMotion();
    if (entry == nullptr) throw Rejected("unknown command");
    entry->run(rooms_->handlers, CommandCall{command, conn});
}

}  // namespace tamborix
