#include "platform/linux/services/hostname/system_host_info.h"

#include <unistd.h>

#include <QDBusConnection>
#include <QDBusInterface>
#include <QDBusMessage>
#include <QDBusReply>
#include <QDBusVariant>
#include <QString>
#include <climits>
#include <fstream>
#include <sstream>

namespace tamborix {

namespace {

std::string fromHostnamed() {
    auto bus = QDBusConnection::systemBus();
    if (!bus.isConnected()) return {};
    auto call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.hostname1"), QStringLiteral("/org/freedesktop/hostname1"),
        QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
    call << QStringLiteral("org.freedesktop.hostname1") << QStringLiteral("PrettyHostname");
    const QDBusReply<QDBusVariant> reply = bus.call(call, QDBus::Block, 500);
    if (!reply.isValid()) return {};
    return reply.value().variant().toString().trimmed().toStdString();
}

std::string fromMachineInfo() {
    std::ifstream in("/etc/machine-info");
    if (!in) return {};
    std::stringstream ss;
    ss << in.rdbuf();
    return prettyHostnameFromMachineInfo(ss.str());
}

std::string fromGethostname() {
    char buf[HOST_NAME_MAX + 1] = {};
    if (::gethostname(buf, sizeof buf - 1) != 0) return {};
    return buf;
}

}  // namespace

std::string prettyHostnameFromMachineInfo(const std::string& text) {
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        const std::string key = "PRETTY_HOSTNAME=";
        if (line.rfind(key, 0) != 0) continue;
        std::string value = line.substr(key.size());
        std::string out;
        char quote = 0;
        for (std::size_t i = 0; i < value.size(); ++i) {
            const char c = value[i];
            if (quote) {
                if (c == quote) quote = 0;
                else if (c == '\\' && quote == '"' && i + 1 < value.size()) out += value[++i];
                else out += c;
            } else if (c == '"' || c == '\'') {
                quote = c;
            } else if (c == '\\' && i + 1 < value.size()) {
                out += value[++i];
            } else {
                out += c;
            }
        }
        return out;
    }
    return {};
}

SystemHostInfo::SystemHostInfo() {
    if (name_ = fromHostnamed(); !name_.empty()) {
        source_ = "hostnamed";
    } else if (name_ = fromMachineInfo(); !name_.empty()) {
        source_ = "machine-info";
    } else if (name_ = fromGethostname(); !name_.empty()) {
        source_ = "gethostname";
    } else {
        source_ = "none";
    }
}

}  // namespace tamborix
