#include "app/console_output.h"

#include "core/session/helper_core.h"
#include "store/device_store.h"

namespace tamborix {

ConsoleOutput::ConsoleOutput(HelperModel& model, Console& console) : model_(model), console_(console) {}

void ConsoleOutput::printStart(const std::vector<std::string>& backendReport, bool dryRun) {
    console_.print("Tamborix Helper");
    console_.print(thisComputerLine(model_.identityFingerprint()));
    if (const auto line = model_.identityLine(); !line.empty()) console_.print(line);
    for (const auto& w : model_.store().warnings()) console_.print("Warning: " + w);
    for (const auto& line : backendReport) console_.print(line);
    if (dryRun) console_.print("Dry run: no input is posted and no screen is captured");
    printIfChanged(permission_, model_.inputLine());
    printIfChanged(network_, model_.networkStatusLine());
    printIfChanged(bluetooth_, model_.bluetoothStatusLine());
    printIfChanged(discovery_, model_.discoveryLine());
    subscription_ = model_.subscribe([this](HelperModel::Change c) { changed(c); });
    console_.print("Type help for the commands.");
}

void ConsoleOutput::printIfChanged(std::string& last, const std::string& now) {
    if (now == last) return;
    last = now;
    console_.print(now);
}

void ConsoleOutput::changed(HelperModel::Change change) {
    switch (change) {
        case HelperModel::Change::network:
            printIfChanged(network_, model_.networkStatusLine());
            break;
        case HelperModel::Change::bluetooth:
            printIfChanged(bluetooth_, model_.bluetoothStatusLine());
            break;
        case HelperModel::Change::discovery:
            printIfChanged(discovery_, model_.discoveryLine());
            break;
        case HelperModel::Change::permission:
            printIfChanged(permission_, model_.inputLine());
            break;
        case HelperModel::Change::warning:
            console_.print("Warning: " + model_.lastWarning());
            break;
        case HelperModel::Change::identity:
            if (const auto line = model_.identityLine(); !line.empty())
                console_.print(line);
            else
                console_.print("Identity " + model_.identityFingerprint());
            printIfChanged(network_, model_.networkStatusLine());
            break;
        case HelperModel::Change::saved:
            console_.print("Saved the paired devices to " + model_.store().filePath().string() +
                           ": the changes since the warning are kept.");
            break;
        case HelperModel::Change::event: {
            if (const auto& now = model_.core().lastEvent()) {
                const auto& detail = model_.core().lastEventDetail();
                console_.print("Event: " + *now + (detail.empty() ? "" : " (" + detail + ")"));
            }
            // The last wrong proof closes the code: say so, or the next phone meets a closed door.
            const auto pairing = model_.pairingProgress();
            if (pairing.stage == PairingProgress::Stage::wrongCodes &&
                pairing.generation != pairingReported_) {
                pairingReported_ = pairing.generation;
                console_.print(pairingOutcomeText(pairing) + " Type pair for a new code.");
            }
            break;
        }
        case HelperModel::Change::switches:
            // A switch of a transport that is not running changes its line without the server.
            printIfChanged(network_, model_.networkStatusLine());
            printIfChanged(bluetooth_, model_.bluetoothStatusLine());
            break;
        case HelperModel::Change::core:
        case HelperModel::Change::store:
            break;
    }
}

}  // namespace tamborix
