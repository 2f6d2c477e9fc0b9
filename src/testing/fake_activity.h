#pragma once

#include <string>
#include <vector>

#include "ports/activity_assertion.h"

namespace tamborix::testing {

class FakeActivity final : public ActivityAssertion {
public:
    [[nodiscard]] std::unique_ptr<ActivityHandle> begin(std::string_view reason) override;

    [[nodiscard]] int held() const noexcept { return *held_; }
    [[nodiscard]] int begun() const noexcept { return begun_; }
    [[nodiscard]] const std::vector<std::string>& reasons() const noexcept { return reasons_; }
    bool refuse = false;

private:
    std::shared_ptr<int> held_ = std::make_shared<int>(0);
    int begun_ = 0;
    std::vector<std::string> reasons_;
};

}  // namespace tamborix::testing
