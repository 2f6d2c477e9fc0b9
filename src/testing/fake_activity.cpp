#include "testing/fake_activity.h"

namespace tamborix::testing {

namespace {
class Handle final : public ActivityHandle {
public:
    explicit Handle(std::shared_ptr<int> held) : held_(std::move(held)) { ++*held_; }
    ~Handle() override { --*held_; }

private:
    std::shared_ptr<int> held_;
};
}  // namespace

std::unique_ptr<ActivityHandle> FakeActivity::begin(std::string_view reason) {
    reasons_.emplace_back(reason);
    if (refuse) return nullptr;
    ++begun_;
    return std::make_unique<Handle>(held_);
}

}  // namespace tamborix::testing
