#pragma once
// Keeps the computer from idling into sleep while a phone is controlling it. Linux: a
// systemd-logind idle inhibitor; where there is none the implementation may hand out a handle
// that holds nothing.

#include <memory>
#include <string_view>

namespace tamborix {

// Dropping the handle ends the assertion.
class ActivityHandle {
public:
    virtual ~ActivityHandle() = default;
};

class ActivityAssertion {
public:
    virtual ~ActivityAssertion() = default;
    // nullptr when the system refused; the caller keeps its bookkeeping either way.
    [[nodiscard]] virtual std::unique_ptr<ActivityHandle> begin(std::string_view reason) = 0;
};

}  // namespace tamborix
