#pragma once
// Byte streams (TCP) as the transports see them. The Linux backend is Qt Network; tests use the
// fakes in testing/fake_stream.h.
//
// Every callback runs on the main thread, and never inside the call that asked for it: a read
// that could be satisfied at once still completes later, on the main loop or, when it was asked
// for inside a receive completion, right after that completion has returned. After cancel() (or
// once the object is destroyed) no callback is delivered any more.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "protocol/bytes.h"

namespace tamborix {

class StreamConnection {
public:
    enum class State { ready, failed, cancelled };
    using StateHandler = std::function<void(State state, const std::string& error)>;
    // `data` may be empty. `endOfStream` is set once the peer has finished sending; `error`
    // carries the platform's description of a failed read.
    using ReceiveDone =
        std::function<void(Bytes data, bool endOfStream, std::optional<std::string> error)>;
    // Called once the bytes were handed to the system, or with the reason they could not be.
    using SendDone = std::function<void(std::optional<std::string> error)>;

    virtual ~StreamConnection() = default;

    // The remote host alone (dotted IPv4, IPv6 text or a host name), or empty when unknown.
    [[nodiscard]] virtual std::string remoteHost() const = 0;

    // Begins delivering state changes. Called once, before the first receive.
    virtual void start(StateHandler onState) = 0;
    // Asks for at least one and at most `maxLength` bytes. One read outstanding at a time.
    virtual void receive(std::size_t maxLength, ReceiveDone done) = 0;
    virtual void send(Bytes data, SendDone done) = 0;
    // While held, sends wait and go to the system together when released: a burst (one pass of
    // a picture's chunks) costs one write instead of one per frame.
    virtual void holdOutput(bool held) { (void)held; }
    // Ends the connection; bytes already sent are still delivered where the system can.
    virtual void cancel() = 0;
};

class StreamListener {
public:
    enum class State { setup, waiting, ready, failed, cancelled };
    struct Handlers {
        std::function<void(State state, const std::string& error)> onState;
        std::function<void(std::unique_ptr<StreamConnection>)> onConnection;
    };

    virtual ~StreamListener() = default;

    // Starts listening; the outcome arrives through onState.
    virtual void start(Handlers handlers) = 0;
    virtual void cancel() = 0;
    // The port actually bound (the requested one, or the system's pick for 0); 0 before ready.
    [[nodiscard]] virtual std::uint16_t localPort() const = 0;
};

class StreamListenerFactory {
public:
    struct Created {
        std::unique_ptr<StreamListener> listener;  // absent when creation failed
        std::string error;                         // the platform's description otherwise
    };

    virtual ~StreamListenerFactory() = default;

    // A listener on every interface (IPv4 and IPv6) with no-delay and keep-alive on the
    // connections it accepts. Port 0 lets the system pick.
    [[nodiscard]] virtual Created create(std::uint16_t port) = 0;
};

}  // namespace tamborix
