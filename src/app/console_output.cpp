#include "app/console_output.h"

#include "app/translate.h"
#include "core/session/helper_core.h"
#include "store/device_store.h"

namespace tamborix {

namespace {
std::string warningLine(const std::string& what) {
    return fillIn(translate("ConsoleOutput", "Warning: %1"), {what});
}
}  // namespace

ConsoleOutput::ConsoleOutput(HelperModel& model, Console& console) : model_(model), console_(console) {}

void ConsoleOutput::printStart(const std::vector<std::string>& backendReport, bool dryRun) {
    console_.print("Tamborix Helper");
    console_.print(thisComputerLine(model_.identityFingerprint()));
    if (const auto line = model_.identityLine(); !line.empty()) console_.print(line);
    for (const auto& w : model_.store().warnings()) console_.print(warningLine(localise(w)));
    for (const auto& line : backendReport) console_.print(localise(line));
    if (dryRun) console_.print(translate("ConsoleOutput", "Dry run: no input is posted and no screen is captured"));
    printIfChanged(permission_, model_.inputLine());
    printIfChanged(network_, model_.networkStatusLine());
    printIfChanged(bluetooth_, model_.bluetoothStatusLine());
    printIfChanged(discovery_, model_.discoveryLine());
    subscription_ = model_.subscribe([this](HelperModel::Change c) { changed(c); });
    console_.print(translate("ConsoleOutput", "Type help for the commands."));
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
            console_.print(warningLine(model_.lastWarning()));
            break;
        case HelperModel::Change::identity:
            if (const auto line = model_.identityLine(); !line.empty())
                console_.print(line);
            else
                console_.print(fillIn(translate("ConsoleOutput", "Identity %1"), {model_.identityFingerprint()}));
            printIfChanged(network_, model_.networkStatusLine());
            break;
        case HelperModel::Change::saved:
            console_.print(fillIn(translate("ConsoleOutput",
                                            "Saved the paired devices to %1: the changes since the warning are kept."),
                                  {model_.store().filePath().string()}));
            break;
        case HelperModel::Change::event: {
            if (const auto now = model_.lastEventText()) {
                console_.print(fillIn(translate("ConsoleOutput", "Event: %1"), {*now}));
                // The event line stays the menu's text; which command and why follow on their own.
                if (const auto& detail = model_.core().lastEventDetail(); !detail.empty())
                    console_.print("  " + localise(detail));
            }
            // The last wrong proof closes the code: say so, or the next phone meets a closed door.
            const auto pairing = model_.pairingProgress();
            if (pairing.stage == PairingProgress::Stage::wrongCodes &&
                pairing.generation != pairingReported_) {
                pairingReported_ = pairing.generation;
                console_.print(pairingOutcomeText(pairing) + " " + translate("ConsoleOutput", "Type pair for a new code."));
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
