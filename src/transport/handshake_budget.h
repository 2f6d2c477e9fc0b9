#pragma once
// The places for connections that have not proven who they are yet: no finished handshake, or a
// pairing session that has not sent its proof. They get a budget of their own, apart from the
// sessions of phones, so that however many addresses keep such connections open, a phone's new
// connection is served: the newest unproven connection pushes out the oldest one of the address
// group that holds the most.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tamborix {

// The group an address is counted in: an IPv4 address alone, an IPv6 address by its /64 (one
// host may use any address of its /64), an IPv4-mapped IPv6 address as the IPv4 address.
// Anything that is not an address (a Bluetooth central) is its own group.
[[nodiscard]] std::string addressGroup(std::string_view address);

class HandshakeBudget {
public:
    using Id = const void*;
    static constexpr std::size_t defaultTotal = 128;
    static constexpr std::size_t defaultPerGroup = 4;

    explicit HandshakeBudget(std::size_t total = defaultTotal,
                             std::size_t perGroup = defaultPerGroup);

    // Gives `id` a place. When the budget of its group or the whole budget is used up, the
    // connection that must make room is returned (its place is already taken away): the oldest
    // of the same group, else the oldest of the group holding the most places.
    [[nodiscard]] std::optional<Id> admit(Id id, std::string_view address);
    // The connection proved itself or ended; nothing for an id without a place.
    void release(Id id);
    void clear() { entries_.clear(); }

    [[nodiscard]] bool holds(Id id) const;
    [[nodiscard]] std::size_t size() const noexcept { return entries_.size(); }
    [[nodiscard]] std::size_t countIn(std::string_view address) const;

private:
    struct Entry {
        Id id;
        std::string group;
    };
    [[nodiscard]] std::size_t countGroup(const std::string& group) const;
    [[nodiscard]] std::optional<Id> evictOldestOf(const std::string& group);

    std::size_t total_;
    std::size_t perGroup_;
    std::vector<Entry> entries_;  // oldest first
};

}  // namespace tamborix
