#include "transport/handshake_budget.h"

#include <arpa/inet.h>

#include <algorithm>
#include <iterator>
#include <map>

namespace tamborix {

std::string addressGroup(std::string_view address) {
    // A zone ("fe80::1%eth0") does not change which host sent it.
    const std::string text(address.substr(0, address.find('%')));
    in6_addr v6{};
    if (::inet_pton(AF_INET6, text.c_str(), &v6) == 1) {
        char out[INET6_ADDRSTRLEN] = {};
        if (IN6_IS_ADDR_V4MAPPED(&v6)) {
            ::inet_ntop(AF_INET, &v6.s6_addr[12], out, sizeof out);
            return out;
        }
        std::fill(std::begin(v6.s6_addr) + 8, std::end(v6.s6_addr), std::uint8_t{0});
        ::inet_ntop(AF_INET6, &v6, out, sizeof out);
        return std::string(out) + "/64";
    }
    in_addr v4{};
    if (::inet_pton(AF_INET, text.c_str(), &v4) == 1) {
        char out[INET_ADDRSTRLEN] = {};
        ::inet_ntop(AF_INET, &v4, out, sizeof out);
        return out;
    }
    return std::string(address);
}

HandshakeBudget::HandshakeBudget(std::size_t total, std::size_t perGroup)
    : total_(std::max<std::size_t>(total, 1)), perGroup_(std::max<std::size_t>(perGroup, 1)) {}

std::optional<HandshakeBudget::Id> HandshakeBudget::admit(Id id, std::string_view address) {
    release(id);
    auto group = addressGroup(address);
    std::optional<Id> pushedOut;
    if (countGroup(group) >= perGroup_) {
        pushedOut = evictOldestOf(group);
    } else if (entries_.size() >= total_) {
        // The group holding the most places gives one up; among equals, the one whose oldest
        // connection is oldest. A phone alone on its address is thus the last to go.
        std::map<std::string_view, std::size_t> counts;
        for (const auto& e : entries_) ++counts[e.group];
        std::size_t most = 0;
        for (const auto& [g, n] : counts) most = std::max(most, n);
        for (const auto& e : entries_) {
            if (counts[e.group] == most) {
                pushedOut = e.id;
                break;
            }
        }
        if (pushedOut) release(*pushedOut);
    }
    entries_.push_back({id, std::move(group)});
    return pushedOut;
}

void HandshakeBudget::release(Id id) {
    std::erase_if(entries_, [id](const Entry& e) { return e.id == id; });
}

bool HandshakeBudget::holds(Id id) const {
    return std::any_of(entries_.begin(), entries_.end(), [id](const Entry& e) { return e.id == id; });
}

std::size_t HandshakeBudget::countIn(std::string_view address) const {
    return countGroup(addressGroup(address));
}

std::size_t HandshakeBudget::countGroup(const std::string& group) const {
    return static_cast<std::size_t>(std::count_if(
        entries_.begin(), entries_.end(), [&](const Entry& e) { return e.group == group; }));
}

std::optional<HandshakeBudget::Id> HandshakeBudget::evictOldestOf(const std::string& group) {
    for (auto it = entries_.begin(); it != entries_.end(); ++it) {
        if (it->group != group) continue;
        const Id id = it->id;
        entries_.erase(it);
        return id;
    }
    return std::nullopt;
}

}  // namespace tamborix
