// tamborix-fake-bluez: the stand-in bluetoothd as a program, for end-to-end tests and benchmarks.
// It serves on the bus in DBUS_SYSTEM_BUS_ADDRESS and plays phones whose app is tamborix-remote:
// each simulated phone listens on a loopback TCP port and carries every line tamborix-remote
// writes as characteristic writes (in fragments of its link) and every notification back as a
// line, so the remote pairs and talks to the helper over the Bluetooth path.
//
// Commands on standard input, one per line:
//   phone ADDRESS MTU      a phone; prints "phone ADDRESS PORT"
//   stall ADDRESS | resume ADDRESS   the phone stops / starts reading notifications
//   power on|off, stop, start        the adapter's power; bluetoothd exiting / returning
// Prints "ready" once it owns org.bluez, "registered" / "unregistered" as the helper's
// application and advertisement come and go, and "left ADDRESS" when a phone's app went away.

#include <unistd.h>

#include <QCoreApplication>
#include <QHostAddress>
#include <QSocketNotifier>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <deque>
#include <map>
#include <memory>
#include <sstream>
#include <string>

#include "fake_bluez.h"
#include "protocol/ble_fragments.h"
#include "protocol/wire.h"

namespace {

using tamborix::Bytes;
using tamborix::testing::FakeBluez;

void say(const std::string& line) {
    std::cout << line << std::endl;
}

struct Phone {
    std::string address;
    std::uint16_t mtu = 23;
    std::unique_ptr<QTcpServer> server;
    QTcpSocket* socket = nullptr;
    bool ready = false;
    QByteArray input;
    std::vector<QByteArray> waiting;  // lines written before the subscription was in place
    tamborix::BLEFragments::Reassembler reassembler;
    struct Out {
        bool reading;  // a JSON reply still being read
        std::string line;
    };
    std::deque<Out> out;  // lines for the app, in arrival order
    // Characteristic writes not yet answered, and those waiting for one of them: a link carries
    // only a few at a time, and the app's own socket waits behind them.
    int inFlight = 0;
    std::deque<QByteArray> toWrite;
    std::uint64_t connection = 0;  // answers for an earlier app connection are not counted
};

// Writes in flight per phone, and the queue length at which the app's lines stop being read.
constexpr int writeWindow = 16;
constexpr std::size_t queueLimit = 256;

class Bridge {
public:
    explicit Bridge(FakeBluez& bluez) : bluez_(bluez) {
        bluez_.onNotification = [this](const std::string& address, const QByteArray& value) {
            const auto it = phones_.find(address);
            if (it == phones_.end() || !it->second.socket) return;
            auto& p = it->second;
            auto message = p.reassembler.push(Bytes(value.begin(), value.end()));
            if (!message) return;
            if (!message->empty() && (*message)[0] == '{') {
                // A JSON reply is never fragmented and the link cuts it: read it whole, as a
                // phone does, with reads at growing offsets.
                p.out.push_back({true, {}});
                readJson(address, std::make_shared<QByteArray>());
                return;
            }
            p.out.push_back({false, tamborix::Wire::b64url(*message)});
            flush(p);
        };
    }

    void readJson(const std::string& address, std::shared_ptr<QByteArray> got) {
        bluez_.read(address, static_cast<std::size_t>(got->size()),
                    [this, address, got](std::optional<QByteArray> part, QString) {
                        const auto it = phones_.find(address);
                        if (it == phones_.end()) return;
                        auto& p = it->second;
                        if (part && !part->isEmpty()) {
                            *got += *part;
                            readJson(address, got);
                            return;
                        }
                        for (auto& o : p.out) {
                            if (o.reading) {
                                o.reading = false;
                                o.line = got->toStdString();
                                break;
                            }
                        }
                        flush(p);
                    });
    }

    void flush(Phone& p) {
        while (!p.out.empty() && !p.out.front().reading) {
            const auto line = p.out.front().line + "\n";
            p.out.pop_front();
            if (p.socket) p.socket->write(line.data(), static_cast<qint64>(line.size()));
        }
    }

    void addPhone(const std::string& address, std::uint16_t mtu) {
        auto& p = phones_[address];
        p.address = address;
        p.mtu = mtu;
        p.server = std::make_unique<QTcpServer>();
        p.server->listen(QHostAddress::LocalHost, 0);
        QObject::connect(p.server.get(), &QTcpServer::newConnection, [this, address] { accepted(address); });
        say("phone " + address + " " + std::to_string(p.server->serverPort()));
    }

    void stall(const std::string& address, bool on) { bluez_.stall(address, on); }

private:
    void accepted(const std::string& address) {
        auto& p = phones_[address];
        auto* socket = p.server->nextPendingConnection();
        if (!socket) return;
        if (p.socket) {  // one app connection per phone
            socket->abort();
            socket->deleteLater();
            return;
        }
        p.socket = socket;
        socket->setReadBufferSize(64 * 1024);
        ++p.connection;
        p.inFlight = 0;
        p.toWrite.clear();
        p.ready = false;
        p.input.clear();
        p.waiting.clear();
        p.reassembler = {};
        p.out.clear();
        bluez_.connectCentral(address, p.mtu);
        bluez_.subscribe(address, false, [this, address] {
            auto& p = phones_[address];
            p.ready = true;
            for (const auto& line : std::exchange(p.waiting, {})) writeLine(p, line);
        });
        QObject::connect(socket, &QTcpSocket::readyRead, [this, address] { readable(address); });
        QObject::connect(socket, &QTcpSocket::disconnected, [this, address, socket] {
            auto& p = phones_[address];
            if (p.socket != socket) return;
            p.toWrite.clear();
            bluez_.leave(address);
            if (p.socket) p.socket->deleteLater();
            p.socket = nullptr;
            say("left " + address);
        });
    }

    void readable(const std::string& address) {
        auto& p = phones_[address];
        if (!p.socket) return;
        if (p.toWrite.size() >= queueLimit) return;  // resumed as writes are answered
        p.input += p.socket->readAll();
        for (auto nl = p.input.indexOf('\n'); nl >= 0; nl = p.input.indexOf('\n')) {
            const auto line = p.input.left(nl);
            p.input.remove(0, nl + 1);
            if (p.ready)
                writeLine(p, line);
            else
                p.waiting.push_back(line);
        }
    }

    void writeLine(Phone& p, const QByteArray& line) {
        Bytes message;
        if (line.startsWith('{')) {
            message.assign(line.begin(), line.end());
        } else {
            try {
                message = tamborix::Wire::b64d(line.toStdString(), 1 << 20);
            } catch (const std::exception&) {
                return;
            }
        }
        for (const auto& value : tamborix::BLEFragments::split(message, p.mtu - 3u)) {
            p.toWrite.emplace_back(reinterpret_cast<const char*>(value.data()), static_cast<qsizetype>(value.size()));
        }
        pumpWrites(p);
    }

    void pumpWrites(Phone& p) {
        while (p.inFlight < writeWindow && !p.toWrite.empty()) {
            const auto value = p.toWrite.front();
            p.toWrite.pop_front();
            const bool sent = bluez_.write(p.address, value, false, [this, address = p.address, conn = p.connection] {
                auto& q = phones_[address];
                if (q.connection != conn) return;
                --q.inFlight;
                pumpWrites(q);
                if (q.toWrite.empty() && q.socket && q.socket->bytesAvailable() > 0) readable(address);
            });
            if (sent) ++p.inFlight;
        }
    }

    FakeBluez& bluez_;
    std::map<std::string, Phone> phones_;
};

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const char* address = std::getenv("DBUS_SYSTEM_BUS_ADDRESS");
    if (!address || !*address) {
        std::cerr << "tamborix-fake-bluez: DBUS_SYSTEM_BUS_ADDRESS is not set\n";
        return 2;
    }
    FakeBluez bluez(QString::fromUtf8(address));
    for (int i = 1; i < argc; ++i) {
        if (std::string(argv[i]) == "--shared") bluez.notify = FakeBluez::Notify::shared;
        // As a bluetoothd before AcquireWrite: every value a WriteValue call.
        if (std::string(argv[i]) == "--write-value") bluez.acquireWrite = false;
    }
    if (!bluez.start()) {
        std::cerr << "tamborix-fake-bluez: cannot take org.bluez\n";
        return 1;
    }
    Bridge bridge(bluez);
    say("ready");

    bool wasRegistered = false;
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&] {
        const bool now = bluez.appRegistered() && bluez.advertising();
        if (now == wasRegistered) return;
        wasRegistered = now;
        say(now ? "registered " + bluez.advertisement.value("LocalName").toString().toStdString() : "unregistered");
    });
    watch.start(20);

    std::string pending;
    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QObject::connect(&input, &QSocketNotifier::activated, [&] {
        char buf[1024];
        const auto n = ::read(STDIN_FILENO, buf, sizeof buf);
        if (n <= 0) {
            QCoreApplication::quit();
            return;
        }
        pending.append(buf, static_cast<std::size_t>(n));
        for (auto nl = pending.find('\n'); nl != std::string::npos; nl = pending.find('\n')) {
            std::istringstream line(pending.substr(0, nl));
            pending.erase(0, nl + 1);
            std::string cmd, arg;
            line >> cmd >> arg;
            if (cmd == "phone") {
                int mtu = 23;
                line >> mtu;
                bridge.addPhone(arg, static_cast<std::uint16_t>(mtu));
            } else if (cmd == "stall" || cmd == "resume") {
                bridge.stall(arg, cmd == "stall");
            } else if (cmd == "power") {
                bluez.setPowered(arg == "on");
            } else if (cmd == "stop") {
                bluez.stop();
            } else if (cmd == "start") {
                bluez.start();
            }
        }
    });
    return QCoreApplication::exec();
}
