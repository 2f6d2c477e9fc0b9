#pragma once

#include <string>

#include "ports/host_info.h"

namespace tamborix::testing {

class FakeHostInfo final : public HostInfo {
public:
    explicit FakeHostInfo(std::string name = {}) : name(std::move(name)) {}
    [[nodiscard]] std::string hostName() const override { return name; }
    std::string name;
};

}  // namespace tamborix::testing
