#pragma once
// Keeps the console told about the helper: the network and discovery lines whenever they change,
// and the core's last event.

#include <cstdint>
#include <optional>
#include <string>

#include "app/console.h"
#include "app/helper_model.h"

namespace tamborix {

class ConsoleOutput {
public:
    ConsoleOutput(HelperModel& model, Console& console);

    // The identity, the start-up lines and the current status of each line.
    void printStart(const std::vector<std::string>& backendReport, bool dryRun);

private:
    void changed(HelperModel::Change change);
    void printIfChanged(std::string& last, const std::string& now);

    HelperModel& model_;
    Console& console_;
    std::string network_;
    std::string bluetooth_;
    std::string discovery_;
    std::string permission_;
    std::uint64_t pairingReported_ = 0;  // the opening whose closing was last told
    Subscription subscription_;
};

}  // namespace tamborix
