// tamborix-remote: the phone's side of the helper's protocol on the command line.

#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <nlohmann/json.hpp>
#include <string>
#include <string_view>
#include <vector>

#include "protocol/secure_error.h"
#include "protocol/wire.h"
#include "tools/remote_bench.h"
#include "tools/remote_keys.h"
#include "tools/remote_screen.h"
#include "tools/remote_session.h"

namespace tamborix::remote {
namespace {

using namespace std::chrono_literals;

constexpr int exitUsage = 2;
constexpr int exitFailed = 1;
constexpr int exitRefused = 3;
constexpr int exitIdentity = 4;
constexpr int exitRejected = 5;

// Asks the helper to say which of this connection's commands it rejected and why; a phone does
// not ask and is told nothing.
const nlohmann::json reportRejected = {{"t", "report_rejected"}, {"on", true}};

// The helper closes a connection that stays silent for 30 s; pings keep a waiting one open.
constexpr auto keepAlive = 10s;

// Sections are "Name:" lines followed by "  TERM   description" entries; the manual page's
// COMMANDS and OPTIONS are generated from this text.
const char* usageText =
    "Usage: tamborix-remote COMMAND HOST[:PORT] [ARGUMENT...] [OPTION...]\n"
    "The phone's side of Tamborix Helper on the command line: pair with a helper, then send it\n"
    "commands.\n"
    "\n"
    "Commands:\n"
    "  pair HOST[:PORT] CODE      pair with a helper (the code as shown, any case, dashes and\n"
    "                             spaces optional)\n"
    "  send HOST[:PORT] JSON...   send each argument as one command; replies are printed one\n"
    "                             JSON object per line\n"
    "  shell HOST[:PORT]          commands from standard input, one JSON object per line\n"
    "  screen HOST[:PORT] FILE    turn the live view on, acknowledge --frames frames and save\n"
    "                             the last one as a JPEG\n"
    "  bench HOST[:PORT]          measure handshakes, ping round trips and move throughput; one\n"
    "                             JSON object per figure\n"
    "  help                       show this text (also --help or -h)\n"
    "\n"
    "Options:\n"
    "  --name NAME          the name the helper shows (default tamborix-remote)\n"
    "  --from ADDR          local address to connect from; bench: the first of consecutive\n"
    "                       addresses, one per connection (default 127.0.0.2 for a helper on\n"
    "                       127.0.0.0/8)\n"
    "  --timeout SECONDS    wait at most this long to connect and for answers (default 10)\n"
    "  --handshakes N       bench: handshakes to time (default 10)\n"
    "  --pings N            bench: ping round trips to time (default 2000)\n"
    "  --moves N            bench: moves to send, through one connection and then spread over\n"
    "                       --conns connections (default 100000)\n"
    "  --conns N            bench: connections of the second move figure (default 16)\n"
    "  --stall N            bench: pings of one connection while another opens connections\n"
    "                       back to back, then as many without (default 0, not measured)\n"
    "  --paced N            bench: moves at --rate per second through one connection, then\n"
    "                       one stats_get (default 0, not measured)\n"
    "  --rate HZ            bench: moves per second of --paced (default 120)\n"
    "  --probe N            bench: a timed ping after every N moves of --paced (default 0, none)\n"
    "  --echo HOST:PORT     bench: a line echo server; each ping is paired with an echo of the\n"
    "                       same length and the differences are reported\n"
    "  --frames N           screen: frames to acknowledge (default 1)\n"
    "  --mode fit|cursor    screen: the whole display, or a window around the pointer\n"
    "                       (default fit)\n"
    "  --display N          screen: which display, numbered from 1; 0 = the one under the pointer\n"
    "                       (default 0)\n"
    "  --version            show the version\n"
    "\n"
    "Keys live in $XDG_CONFIG_HOME/tamborix-remote. The port defaults to 50505.\n";

struct Args {
    std::string command;
    std::vector<std::string> positional;
    SessionOptions session;
    bool fromGiven = false;
    BenchOptions bench;
    std::string echo;
    int frames = 1;
    std::string mode = "fit";
    int display = 0;
};

bool parseInt(const std::string& text, int& out) {
    const auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), out);
    return ec == std::errc() && ptr == text.data() + text.size() && out >= 0;
}

std::optional<Args> parseArgs(int argc, char** argv, std::string& error) {
    Args a;
    if (argc < 2) {
        error = "no command";
        return std::nullopt;
    }
    a.command = argv[1];
    for (int i = 2; i < argc; ++i) {
        const std::string arg = argv[i];
        const auto value = [&]() -> std::optional<std::string> {
            if (i + 1 >= argc) {
                error = arg + " needs a value";
                return std::nullopt;
            }
            return std::string(argv[++i]);
        };
        const auto number = [&](int& out) {
            const auto v = value();
            if (!v) return false;
            if (!parseInt(*v, out)) {
                error = arg + " needs a whole number";
                return false;
            }
            return true;
        };
        if (arg == "--name") {
            const auto v = value();
            if (!v) return std::nullopt;
            a.session.name = *v;
        } else if (arg == "--from") {
            const auto v = value();
            if (!v) return std::nullopt;
            a.session.from = *v;
            a.bench.fromBase = *v;
            a.fromGiven = true;
        } else if (arg == "--timeout") {
            int s = 0;
            if (!number(s)) return std::nullopt;
            a.session.timeout = std::chrono::seconds(s);
        } else if (arg == "--handshakes") {
            if (!number(a.bench.handshakes)) return std::nullopt;
        } else if (arg == "--pings") {
            if (!number(a.bench.pings)) return std::nullopt;
        } else if (arg == "--moves") {
            if (!number(a.bench.moves)) return std::nullopt;
        } else if (arg == "--conns") {
            if (!number(a.bench.connections)) return std::nullopt;
        } else if (arg == "--stall") {
            if (!number(a.bench.stallPings)) return std::nullopt;
        } else if (arg == "--probe") {
            if (!number(a.bench.pacedProbe)) return std::nullopt;
        } else if (arg == "--paced") {
            if (!number(a.bench.pacedMoves)) return std::nullopt;
        } else if (arg == "--rate") {
            if (!number(a.bench.pacedRate)) return std::nullopt;
            if (a.bench.pacedRate == 0) {
                error = "--rate needs at least 1";
                return std::nullopt;
            }
        } else if (arg == "--echo") {
            const auto v = value();
            if (!v) return std::nullopt;
            a.echo = *v;
        } else if (arg == "--frames") {
            if (!number(a.frames)) return std::nullopt;
        } else if (arg == "--display") {
            if (!number(a.display)) return std::nullopt;
        } else if (arg == "--mode") {
            const auto v = value();
            if (!v) return std::nullopt;
            if (*v != "fit" && *v != "cursor") {
                error = "--mode is fit or cursor";
                return std::nullopt;
            }
            a.mode = *v;
        } else if (arg.rfind("--", 0) == 0) {
            error = "unknown option " + arg;
            return std::nullopt;
        } else {
            a.positional.push_back(arg);
        }
    }
    return a;
}

void printMessage(const nlohmann::json& m) {
    std::cout << m.dump() << '\n' << std::flush;
}

// True for the helper's report of a rejected command, which goes to standard error.
bool reportIfRejected(const nlohmann::json& m) {
    if (m.value("t", "") != "rejected") return false;
    std::cerr << "tamborix-remote: rejected " << m.value("cmd", "") << ": " << m.value("why", "") << "\n";
    return true;
}

int pair(const Args& args, const Address& address) {
    std::string typed;
    for (std::size_t i = 1; i < args.positional.size(); ++i) typed += args.positional[i];
    const auto code = Wire::normalizePairCode(typed);
    if (code.size() != Wire::pairCodeLength) {
        std::cerr << "tamborix-remote: a pairing code has 12 letters and digits (as in ABCD-EFGH-JKMN)\n";
        return exitUsage;
    }
    RemoteKeys keys(RemoteKeys::defaultFolder());
    RemoteSession session(address, keys.device(), PhoneHandshake::Kind::pair, nullptr, args.session);
    std::cerr << "Helper identity " << Wire::fingerprint(session.serverKey()) << "; this device's key "
              << Wire::fingerprint(ByteView(keys.device().publicKey().data(), 32)) << "\n";
    session.send({{"t", "pair"}, {"proof", Wire::b64url(Wire::pairProof(code, session.transcriptHash()))}});
    const auto deadline = std::chrono::steady_clock::now() + 90s;
    try {
        // A wrong code closes the connection at once; one still open after a moment was accepted
        // and waits for the user's answer.
        bool waiting = false;
        while (std::chrono::steady_clock::now() < deadline) {
            const auto m = session.receive(waiting ? keepAlive : std::chrono::milliseconds(1500));
            if (!m && !waiting) {
                waiting = true;
                std::cerr << "Code accepted. Waiting for approval on the computer\u2026\n";
                continue;
            }
            if (!m) {
                session.send({{"t", "ping"}});
                continue;
            }
            const auto t = m->value("t", "");
            if (t == "paired") {
                keys.rememberHelper(address.key(), session.serverKey());
                printMessage(*m);
                std::cerr << "Paired with " << m->value("host", address.host) << " as device "
                          << m->value("id", "") << "\n";
                return 0;
            }
            if (t == "denied") {
                std::cerr << "tamborix-remote: the pairing was denied on the computer\n";
                return exitRefused;
            }
        }
    } catch (const SessionClosed&) {
        std::cerr << "tamborix-remote: the helper refused the pairing code (wrong, used or expired)\n";
        return exitRefused;
    }
    std::cerr << "tamborix-remote: no answer from the computer\n";
    return exitFailed;
}

std::unique_ptr<RemoteSession> connectPaired(const Args& args, const Address& address, RemoteKeys& keys) {
    const auto known = keys.helperKey(address.key());
    if (!known) {
        throw std::runtime_error("not paired with " + address.key() + "; run: tamborix-remote pair " +
                                 address.key() + " CODE");
    }
    return std::make_unique<RemoteSession>(address, keys.device(), PhoneHandshake::Kind::hello, &*known,
                                           args.session);
}

// Sends a final ping and prints everything until its pong; `userPings` pongs before it are the
// user's own and are printed.
// Exits with exitRejected when the helper rejected a command (`rejected` counts those seen before).
int drainUntilMarker(RemoteSession& session, int userPings, int silentPongs, std::chrono::milliseconds timeout,
                     int rejected = 0) {
    session.send({{"t", "ping"}});
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    int pongsToPrint = userPings;
    try {
        for (;;) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0) {
                std::cerr << "tamborix-remote: no answer from the helper in time\n";
                return exitFailed;
            }
            const auto m = session.receive(left);
            if (!m) continue;
            if (m->value("t", "") == "pong") {
                if (silentPongs > 0) {
                    --silentPongs;
                    continue;
                }
                if (pongsToPrint == 0) return rejected > 0 ? exitRejected : 0;
                --pongsToPrint;
            }
            if (reportIfRejected(*m)) {
                ++rejected;
                continue;
            }
            printMessage(*m);
        }
    } catch (const SessionClosed&) {
        std::cerr << "tamborix-remote: the helper closed the connection\n";
        return exitFailed;
    }
}

int countPings(const nlohmann::json& m) {
    if (m.is_object() && m.value("t", "") == "ping") return 1;
    return 0;
}

int send(const Args& args, const Address& address) {
    std::vector<nlohmann::json> commands;
    for (std::size_t i = 1; i < args.positional.size(); ++i) {
        auto j = nlohmann::json::parse(args.positional[i], nullptr, false);
        if (j.is_discarded() || !j.is_object()) {
            std::cerr << "tamborix-remote: not a JSON object: " << args.positional[i] << "\n";
            return exitUsage;
        }
        commands.push_back(std::move(j));
    }
    RemoteKeys keys(RemoteKeys::defaultFolder());
    auto session = connectPaired(args, address, keys);
    int pings = 0;
    std::string batch = session->sealLine(reportRejected) + "\n";
    for (const auto& c : commands) {
        batch += session->sealLine(c) + "\n";
        pings += countPings(c);
    }
    session->socket().write(batch);
    return drainUntilMarker(*session, pings, 0, args.session.timeout);
}

int shell(const Args& args, const Address& address) {
    RemoteKeys keys(RemoteKeys::defaultFolder());
    auto session = connectPaired(args, address, keys);
    session->send(reportRejected);
    std::string input;
    int rejected = 0;
    int silentPongs = 0;
    int userPings = 0;  // answered pongs still to come for the user's own pings
    auto lastSent = std::chrono::steady_clock::now();
    try {
        for (;;) {
            while (auto m = session->receive(0ms)) {
                if (m->value("t", "") == "pong") {
                    if (silentPongs > 0) {
                        --silentPongs;
                        continue;
                    }
                    if (userPings > 0) --userPings;
                }
                if (reportIfRejected(*m)) {
                    ++rejected;
                    continue;
                }
                printMessage(*m);
            }
            pollfd fds[2] = {{STDIN_FILENO, POLLIN, 0}, {session->socket().fd(), POLLIN, 0}};
            const int rc = ::poll(fds, 2, 1000);
            if (rc < 0 && errno != EINTR) break;
            if (fds[0].revents & (POLLIN | POLLHUP)) {
                char buf[4096];
                const auto n = ::read(STDIN_FILENO, buf, sizeof buf);
                if (n <= 0)
                    return drainUntilMarker(*session, userPings, silentPongs, args.session.timeout, rejected);
                input.append(buf, static_cast<std::size_t>(n));
                for (auto nl = input.find('\n'); nl != std::string::npos; nl = input.find('\n')) {
                    std::string line = input.substr(0, nl);
                    input.erase(0, nl + 1);
                    if (line.find_first_not_of(" \t\r") == std::string::npos) continue;
                    auto j = nlohmann::json::parse(line, nullptr, false);
                    if (j.is_discarded() || !j.is_object()) {
                        std::cerr << "not a JSON object: " << line << "\n";
                        continue;
                    }
                    userPings += countPings(j);
                    session->send(j);
                    lastSent = std::chrono::steady_clock::now();
                }
            }
            if (std::chrono::steady_clock::now() - lastSent > keepAlive) {
                session->send({{"t", "ping"}});
                ++silentPongs;
                lastSent = std::chrono::steady_clock::now();
            }
        }
    } catch (const SessionClosed&) {
        std::cerr << "tamborix-remote: the helper closed the connection\n";
        return exitFailed;
    }
    return exitFailed;
}

// Turns the live view on, acknowledges each complete frame as a phone does, and saves the last
// of `args.frames` frames.
int screen(const Args& args, const Address& address) {
    if (args.positional.size() < 2) {
        std::cerr << "tamborix-remote: screen needs the file to save the picture in\n";
        return exitUsage;
    }
    const std::string path = args.positional[1];
    RemoteKeys keys(RemoteKeys::defaultFolder());
    auto session = connectPaired(args, address, keys);
    session->send({{"t", "screen"}, {"on", true}, {"mode", args.mode}, {"d", args.display}});
    ScreenFrames frames;
    std::optional<ScreenFrame> last;
    int received = 0;
    // Time enough for the user to answer the helper's prompt on the first use.
    const auto deadline = std::chrono::steady_clock::now() + 60s + args.session.timeout;
    try {
        while (received < std::max(args.frames, 1)) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0) {
                std::cerr << "tamborix-remote: no picture from the helper in time\n";
                return exitFailed;
            }
            const auto m = session->receive(std::min<std::chrono::milliseconds>(left, keepAlive));
            if (!m) {
                session->send({{"t", "ping"}});
                continue;
            }
            const auto t = m->value("t", "");
            if (t == "screen_state" && !m->value("on", false)) {
                std::cerr << "tamborix-remote: the helper does not share its screen ("
                          << m->value("error", "turned off") << ")\n";
                return exitRefused;
            }
            if (t != "scr") continue;
            if (auto frame = frames.add(*m)) {
                session->send({{"t", "scr_ack"}, {"id", frame->id}});
                last = std::move(frame);
                ++received;
            }
        }
        session->send({{"t", "screen"}, {"on", false}});
    } catch (const SessionClosed&) {
        std::cerr << "tamborix-remote: the helper closed the connection\n";
        return exitFailed;
    }
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(last->jpeg.data()), static_cast<std::streamsize>(last->jpeg.size()));
    out.close();
    if (!out) {
        std::cerr << "tamborix-remote: cannot write " << path << "\n";
        return exitFailed;
    }
    printMessage({{"t", "saved"}, {"file", path}, {"id", last->id}, {"w", last->width}, {"h", last->height},
                  {"bytes", last->jpeg.size()}, {"frames", received}});
    return 0;
}

int bench(Args args, const Address& address) {
    RemoteKeys keys(RemoteKeys::defaultFolder());
    const auto known = keys.helperKey(address.key());
    if (!known) throw std::runtime_error("not paired with " + address.key());
    args.bench.expectedServer = *known;
    if (!args.echo.empty()) {
        args.bench.echo = parseAddress(args.echo);
        if (!args.bench.echo) throw std::runtime_error("bad --echo address " + args.echo);
    }
    if (!args.fromGiven && address.host.rfind("127.", 0) != 0 && address.host != "localhost") {
        args.bench.fromBase.clear();
    }
    for (const auto& figure : runBench(address, keys.device(), args.bench)) printMessage(figure);
    return 0;
}

int run(int argc, char** argv) {
    std::string error;
    const auto args = parseArgs(argc, argv, error);
    if (!args) {
        std::cerr << "tamborix-remote: " << error << "\n" << usageText;
        return exitUsage;
    }
    if (args->command == "--help" || args->command == "help" || args->command == "-h") {
        std::cout << usageText;
        return 0;
    }
    if (args->command == "--version") {
        std::cout << "tamborix-remote " << TAMBORIX_VERSION << "\n";
        return 0;
    }
    const bool known = args->command == "pair" || args->command == "send" ||
                       args->command == "shell" || args->command == "bench" ||
                       args->command == "screen";
    if (!known) {
        std::cerr << "tamborix-remote: unknown command " << args->command << "\n" << usageText;
        return exitUsage;
    }
    if (args->positional.empty()) {
        std::cerr << "tamborix-remote: " << args->command << " needs HOST[:PORT]\n" << usageText;
        return exitUsage;
    }
    const auto address = parseAddress(args->positional[0]);
    if (!address) {
        std::cerr << "tamborix-remote: not an address: " << args->positional[0] << "\n";
        return exitUsage;
    }
    try {
        if (args->command == "pair") {
            if (args->positional.size() < 2) {
                std::cerr << "tamborix-remote: pair needs the code shown by the helper\n";
                return exitUsage;
            }
            return pair(*args, *address);
        }
        if (args->command == "send") return send(*args, *address);
        if (args->command == "shell") return shell(*args, *address);
        if (args->command == "screen") return screen(*args, *address);
        return bench(*args, *address);
    } catch (const HandshakeRefused& e) {
        std::cerr << "tamborix-remote: the helper refused: " << e.what() << "\n";
        if (args->command == "pair" && std::string_view(e.what()).starts_with("pairing is closed"))
            std::cerr << "tamborix-remote: open a code first: on the helper's console type pair\n";
        return exitRefused;
    } catch (const SecureError& e) {
        std::cerr << "tamborix-remote: " << e.errorDescription() << "\n";
        return e.kind() == SecureError::Kind::serverKeyChanged ? exitIdentity : exitFailed;
    } catch (const std::exception& e) {
        std::cerr << "tamborix-remote: " << e.what() << "\n";
        return exitFailed;
    }
}

}  // namespace
}  // namespace tamborix::remote

int main(int argc, char** argv) { return tamborix::remote::run(argc, argv); }
