#include "tools/remote_session.h"

#include "protocol/secure_error.h"
#include "protocol/wire.h"

namespace tamborix::remote {

RemoteSession::RemoteSession(const Address& address, const KeyPair& device,
                             PhoneHandshake::Kind kind, const Bytes* expectedServer,
                             const SessionOptions& options)
    : socket_(std::make_unique<LineSocket>(address, options.from, options.timeout)) {
    PhoneHandshake handshake(device, kind, options.name);
    socket_->writeLine(handshake.request().dump());
    std::string line;
    switch (socket_->readLine(line, options.timeout)) {
        case LineSocket::ReadStatus::line: break;
        case LineSocket::ReadStatus::timeout: throw SessionClosed("no answer to the handshake");
        case LineSocket::ReadStatus::closed: throw SessionClosed("the helper closed the connection");
    }
    const auto reply = nlohmann::json::parse(line, nullptr, false);
    if (reply.is_object() && reply.value("t", "") == "error") {
        const auto msg = reply.find("msg");
        throw HandshakeRefused(msg != reply.end() && msg->is_string() ? msg->get<std::string>()
                                                                      : "error");
    }
    session_ = handshake.finish(reply, expectedServer);
    serverKey_ = handshake.serverKey();
}

std::string RemoteSession::sealLine(std::string_view plaintext) {
    const auto frame = session_->seal(
        ByteView(reinterpret_cast<const std::uint8_t*>(plaintext.data()), plaintext.size()));
    return Wire::b64url(frame);
}

std::string RemoteSession::sealLine(const nlohmann::json& message) { return sealLine(std::string_view(message.dump())); }

void RemoteSession::send(const nlohmann::json& message) { socket_->writeLine(sealLine(message)); }

std::optional<nlohmann::json> RemoteSession::receive(std::chrono::milliseconds timeout) {
    std::string line;
    switch (socket_->readLine(line, timeout)) {
        case LineSocket::ReadStatus::line: break;
        case LineSocket::ReadStatus::timeout: return std::nullopt;
        case LineSocket::ReadStatus::closed: throw SessionClosed("the helper closed the connection");
    }
    while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.pop_back();
    const auto plaintext = session_->open(Wire::b64d(line, Wire::frameLineLimit));
    auto message = nlohmann::json::parse(plaintext.begin(), plaintext.end(), nullptr, false);
    if (message.is_discarded()) throw SecureError::malformed("plaintext");
    return message;
}

}  // namespace tamborix::remote
