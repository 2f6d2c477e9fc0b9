#include "app/permission_watch.h"

#include <utility>

#include "app/translate.h"

namespace tamborix {

PermissionWatch::PermissionWatch(MainLoop& loop, const InputSink& input, const ScreenCapture& capture,
                                 bool dryRun, std::function<void()> onChanged)
    : loop_(loop), input_(input), capture_(capture), dryRun_(dryRun), onChanged_(std::move(onChanged)) {
    inputAllowed_ = currentInputAllowed();
    captureReason_ = currentCaptureReason();
}

void PermissionWatch::start() {
    // The timer is dropped with this object, so the callback never outlives it.
    if (!timer_) timer_ = loop_.repeating(seconds(2.0), [this] { poll(); });
}

void PermissionWatch::poll() {
    const bool allowed = currentInputAllowed();
    auto capture = currentCaptureReason();
    if (allowed == inputAllowed_ && capture == captureReason_) return;
    inputAllowed_ = allowed;
    captureReason_ = std::move(capture);
    if (onChanged_) onChanged_();
}

bool PermissionWatch::currentInputAllowed() const { return dryRun_ || input_.mayPost(); }

std::string PermissionWatch::currentCaptureReason() const {
    if (capture_.available()) return {};
    const auto why = capture_.unavailableReason();
    const auto text = translate("HelperModel", "Screen capture is not available in this session");
    return why.empty() ? text : text + ": " + localise(why);
}

std::string PermissionWatch::inputLine() const {
    if (dryRun_) return translate("HelperModel", "Input \u2014 dry run: nothing is posted, every action is logged");
    if (inputAllowed_) return translate("HelperModel", "Input \u2014 allowed");
    const auto remedy = localise(input_.remedy());
    return translate("HelperModel", "Input \u2014 Needs permission to move the pointer and type.") + "\n" +
           localise(input_.reason()) + (remedy.empty() ? std::string() : "\n" + remedy);
}

std::string PermissionWatch::inputReason() const {
    if (dryRun_ || inputAllowed_) return {};
    return localise(input_.reason());
}

std::string PermissionWatch::inputRemedy() const {
    if (dryRun_ || inputAllowed_) return {};
    return localise(input_.remedy());
}

}  // namespace tamborix
