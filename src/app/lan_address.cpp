#include "app/lan_address.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>

#include <charconv>
#include <fstream>
#include <limits>
#include <sstream>

namespace tamborix {

namespace {

std::vector<std::string_view> fields(std::string_view line) {
    std::vector<std::string_view> out;
    std::size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
        const std::size_t start = i;
        while (i < line.size() && line[i] != ' ' && line[i] != '\t') ++i;
        if (i > start) out.push_back(line.substr(start, i - start));
    }
    return out;
}

template <typename T>
std::optional<T> number(std::string_view text, int base) {
    T value{};
    const auto* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, value, base);
    if (ec != std::errc() || ptr != end) return std::nullopt;
    return value;
}

}  // namespace

std::optional<std::string> defaultRouteInterface(std::string_view table) {
    // Columns: Iface Destination Gateway Flags RefCnt Use Metric Mask MTU Window IRTT
    constexpr unsigned routeUp = 0x1;
    std::optional<std::string> best;
    long bestMetric = std::numeric_limits<long>::max();
    bool header = true;
    while (!table.empty()) {
        const auto nl = table.find('\n');
        const auto line = table.substr(0, nl);
        table = nl == std::string_view::npos ? std::string_view{} : table.substr(nl + 1);
        if (header) {
            header = false;
            continue;
        }
        const auto f = fields(line);
        if (f.size() < 8) continue;
        const auto dest = number<unsigned long>(f[1], 16);
        const auto flags = number<unsigned>(f[3], 16);
        const auto metric = number<long>(f[6], 10);
        const auto mask = number<unsigned long>(f[7], 16);
        if (!dest || !flags || !metric || !mask) continue;
        if (*dest != 0 || *mask != 0 || !(*flags & routeUp)) continue;
        if (*metric < bestMetric) {
            bestMetric = *metric;
            best = std::string(f[0]);
        }
    }
    return best;
}

std::optional<std::string> chooseLanAddress(const std::optional<std::string>& routeInterface,
                                            const std::vector<InterfaceAddress>& addresses) {
    if (routeInterface) {
        for (const auto& a : addresses) {
            if (a.interface == *routeInterface && !a.loopback) return a.address;
        }
    }
    for (const auto& a : addresses) {
        if (!a.loopback) return a.address;
    }
    return std::nullopt;
}

std::vector<InterfaceAddress> systemIPv4Addresses() {
    std::vector<InterfaceAddress> out;
    ifaddrs* list = nullptr;
    if (::getifaddrs(&list) != 0) return out;
    for (auto* it = list; it; it = it->ifa_next) {
        if (!it->ifa_addr || it->ifa_addr->sa_family != AF_INET) continue;
        if (!(it->ifa_flags & IFF_UP)) continue;
        char text[INET_ADDRSTRLEN] = {};
        const auto* sin = reinterpret_cast<const sockaddr_in*>(it->ifa_addr);
        if (!::inet_ntop(AF_INET, &sin->sin_addr, text, sizeof text)) continue;
        out.push_back({it->ifa_name ? it->ifa_name : "", text, (it->ifa_flags & IFF_LOOPBACK) != 0});
    }
    ::freeifaddrs(list);
    return out;
}

std::optional<std::string> lanIP() {
    std::ifstream in("/proc/net/route");
    std::stringstream ss;
    if (in) ss << in.rdbuf();
    return chooseLanAddress(defaultRouteInterface(ss.str()), systemIPv4Addresses());
}

}  // namespace tamborix
