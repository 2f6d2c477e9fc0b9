#include "core/desktop/desktop_control.h"

#include <unicode/coll.h>
#include <unicode/unistr.h>

#include <algorithm>

#include "core/desktop/display_list.h"
#include "core/desktop/text_limits.h"
#include "core/desktop/web_address.h"
#include "core/desktop/window_layout.h"

namespace tamborix {
namespace {

icu::UnicodeString unicode(std::string_view utf8) {
    return icu::UnicodeString::fromUTF8(
        icu::StringPiece(utf8.data(), static_cast<std::int32_t>(utf8.size())));
}

}  // namespace

struct DesktopControl::NameOrder {
    std::unique_ptr<icu::Collator> collator;

    NameOrder() {
        UErrorCode status = U_ZERO_ERROR;
        // The C/POSIX locale's collation orders by code point, upper case first; a user without
        // a language setting still expects names sorted regardless of case.
        icu::Locale locale = icu::Locale::getDefault();
        if (std::string_view(locale.getVariant()) == "POSIX") locale = icu::Locale::getRoot();
        collator.reset(icu::Collator::createInstance(locale, status));
        if (U_FAILURE(status)) {
            collator.reset();
        } else {
            // Secondary strength: accents count, case does not.
            collator->setStrength(icu::Collator::SECONDARY);
        }
    }

    [[nodiscard]] bool before(const std::string& a, const std::string& b) const {
        if (collator) {
            UErrorCode status = U_ZERO_ERROR;
            const auto r = collator->compareUTF8(a, b, status);
            if (U_SUCCESS(status)) return r == UCOL_LESS;
        }
        return unicode(a).caseCompare(unicode(b), U_FOLD_CASE_DEFAULT) < 0;
    }
};

DesktopControl::DesktopControl(const DisplaySource& displaySource, Workspace& workspace,
                               WindowControl& windows, InputSink& sink, CursorFinder& finder)
    : displaySource_(displaySource),
      workspace_(workspace),
      windows_(windows),
      sink_(sink),
      finder_(finder),
      nameOrder_(std::make_unique<NameOrder>()) {}

DesktopControl::~DesktopControl() = default;

std::vector<DisplayInfo> DesktopControl::displayList() const { return sortedDisplays(displaySource_); }

std::vector<Rect> DesktopControl::displays() const {
    std::vector<Rect> frames;
    for (const auto& d : displayList()) frames.push_back(d.bounds);
    return frames;
}

int DesktopControl::currentDisplay() const { return currentDisplayNumber(displaySource_); }

bool DesktopControl::jump(int to) {
    const auto list = displays();
    if (to < 1 || static_cast<std::size_t>(to) > list.size()) return false;
    if (!sink_.mayPost()) return false;
    const Rect& d = list[static_cast<std::size_t>(to) - 1];
    const Point centre{d.midX(), d.midY()};
    sink_.warp(centre);
    finder_.show(centre);
    return true;
}

bool DesktopControl::nameBefore(const std::string& a, const std::string& b) const {
    return nameOrder_->before(a, b);
}

bool DesktopControl::sameNameIgnoringCase(std::string_view a, std::string_view b) {
    return unicode(a).caseCompare(unicode(b), U_FOLD_CASE_DEFAULT) == 0;
}

std::vector<DesktopControl::OpenApp> DesktopControl::openApps() const {
    const std::string own = workspace_.ownAppId();
    const auto front = workspace_.frontmost();
    std::vector<OpenApp> list;
    for (auto& app : workspace_.runningApps()) {
        if (!app.regular || app.terminated || app.appId.empty() || app.appId == own) continue;
        OpenApp entry;
        entry.name = app.name.empty() ? std::string("App") : characterPrefix(app.name, appNameLimit);
        entry.id = app.appId;
        entry.front = front.has_value() && *front == app.handle;
        entry.app = std::move(app);
        list.push_back(std::move(entry));
    }
    std::stable_sort(list.begin(), list.end(),
                     [this](const OpenApp& a, const OpenApp& b) { return nameBefore(a.name, b.name); });
    if (list.size() > maxListedApps) list.resize(maxListedApps);
    return list;
}

std::optional<Bytes> DesktopControl::iconPNG(const RunningApp& app, int px) const {
    if (px <= 0) return std::nullopt;
    auto png = workspace_.iconPNG(app, px);
    if (!png || png->empty() || png->size() > iconByteLimit) return std::nullopt;
    return png;
}

bool DesktopControl::activate(std::string_view id) {
    for (const auto& entry : openApps()) {
        if (entry.id != id) continue;
        workspace_.unhide(entry.app);
        return workspace_.activate(entry.app);
    }
    return false;
}

bool DesktopControl::isAcceptableAppName(std::string_view name) {
    if (name.empty() || longerThan(name, openAppNameLimit)) return false;
    return name.find('/') == std::string_view::npos && name.find("..") == std::string_view::npos &&
           name.find('~') == std::string_view::npos && name.find('\0') == std::string_view::npos;
}

bool DesktopControl::openApp(std::string_view name) {
    if (!isAcceptableAppName(name)) return false;
    if (auto app = workspace_.findApp(name)) return workspace_.launch(*app);
    for (const auto& app : workspace_.installedApps()) {
        if (sameNameIgnoringCase(app.name, name)) return workspace_.launch(app);
    }
    return false;
}

bool DesktopControl::openWebsite(std::string_view text) {
    if (!isOpenableWebAddress(text)) return false;
    return workspace_.openUrl(std::string(text));
}

bool DesktopControl::window(std::string_view op) {
    if (!isWindowOp(op)) return false;
    if (const auto placed = windows_.place(op)) return *placed;
    const auto win = windows_.frontWindow();
    if (!win) return false;
    const auto frame = windows_.frame(*win);
    if (!frame) return false;
    std::vector<Rect> areas;
    for (const auto& d : displaySource_.displays()) {
        const Rect area = d.usable.isEmpty() ? d.bounds : d.usable;
        if (!area.isEmpty()) areas.push_back(area);
    }
    sortLikeDisplays(areas);
    const auto target = placeWindow(op, *frame, areas);
    if (!target) return false;
    return windows_.setFrame(*win, *target);
}

}  // namespace tamborix
