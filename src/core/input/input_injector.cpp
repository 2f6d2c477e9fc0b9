#include "core/input/input_injector.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "base/user_text.h"
#include "core/input/text_units.h"

namespace tamborix {

namespace {

constexpr Duration injectionPointLifetime = seconds(0.25);
constexpr std::size_t textChunkUnits = 20;

struct ButtonParams {
    MouseEventType press;
    MouseEventType release;
    MouseEventType drag;
    MouseButton button;
};

// Any name other than "right" or "middle" acts as the left button.
ButtonParams paramsFor(std::string_view name) {
    if (name == "right")
        return {MouseEventType::rightDown, MouseEventType::rightUp, MouseEventType::rightDragged,
                MouseButton::right};
    if (name == "middle")
        return {MouseEventType::otherDown, MouseEventType::otherUp, MouseEventType::otherDragged,
                MouseButton::middle};
    return {MouseEventType::leftDown, MouseEventType::leftUp, MouseEventType::leftDragged,
            MouseButton::left};
}

// Rounds halves away from zero and saturates, so no value a caller passes can overflow.
template <typename Int>
Int roundSaturating(double v) {
    if (std::isnan(v)) return 0;
    const double r = std::round(v);
    constexpr auto lo = std::numeric_limits<Int>::min();
    constexpr auto hi = std::numeric_limits<Int>::max();
    if (r <= static_cast<double>(lo)) return lo;
    if (r >= static_cast<double>(hi)) return hi;
    return static_cast<Int>(r);
}

}  // namespace

// ---- tables

const InputInjector::KeyTable& InputInjector::namedKeys() { return keys::namedKeys(); }
const InputInjector::KeyTable& InputInjector::mediaKeys() { return keys::mediaKeys(); }
const std::set<std::string, std::less<>>& InputInjector::modifierNames() {
    return keys::modifierNames();
}
bool InputInjector::isValidKeyName(std::string_view name) {
    return namedKeys().contains(name) || mediaKeys().contains(name);
}
bool InputInjector::isModifierName(std::string_view name) {
    return modifierNames().contains(name);
}

InputInjector::InputInjector(MainLoop& loop, InputSink& sink, const DisplaySource& displays)
    : loop_(loop), sink_(sink), displays_(displays) {
    buildCharMap();
    sink_.setOnUntypable([this](char32_t c, const std::string& why) { untypable(c, why); });
}

InputInjector::~InputInjector() { sink_.setOnUntypable({}); }

void InputInjector::untypable(char32_t c, const std::string& why) {
    if (const auto serial = sink_.layoutSerial(); serial != untypableSerial_) {
        untypableSerial_ = serial;
        untypableTold_.clear();
    }
    if (!untypableTold_.insert(c).second || !onUntypable_) return;
    std::string utf8;
    const auto u = static_cast<std::uint32_t>(c);
    if (u < 0x80) {
        utf8 += static_cast<char>(u);
    } else if (u < 0x800) {
        utf8 += static_cast<char>(0xc0 | (u >> 6));
        utf8 += static_cast<char>(0x80 | (u & 0x3f));
    } else if (u < 0x10000) {
        utf8 += static_cast<char>(0xe0 | (u >> 12));
        utf8 += static_cast<char>(0x80 | ((u >> 6) & 0x3f));
        utf8 += static_cast<char>(0x80 | (u & 0x3f));
    } else {
        utf8 += static_cast<char>(0xf0 | (u >> 18));
        utf8 += static_cast<char>(0x80 | ((u >> 12) & 0x3f));
        utf8 += static_cast<char>(0x80 | ((u >> 6) & 0x3f));
        utf8 += static_cast<char>(0x80 | (u & 0x3f));
    }
    onUntypable_(userText("Typing", "Could not type \u201C%1\u201D: %2").with({utf8, why}));
}

// ---- pointer

Point InputInjector::injectionPoint() const {
    if (lastPosted_ && lastPostedAt_ > loop_.now() - injectionPointLifetime) return *lastPosted_;
    return displays_.pointer().value_or(Point{0, 0});
}

Point InputInjector::clamp(Point point, Point from) const {
    displays_.displaysInto(displayScratch_);
    for (const auto& d : displayScratch_)
        if (d.bounds.contains(point)) return point;

    Rect r{0, 0, 1, 1};
    if (!displayScratch_.empty()) {
        r = displayScratch_.front().bounds;
        for (const auto& d : displayScratch_) {
            if (d.bounds.contains(from)) {
                r = d.bounds;
                break;
            }
        }
    }
    point.x = std::min(std::max(point.x, r.minX()), r.maxX() - 1);
    point.y = std::min(std::max(point.y, r.minY()), r.maxY() - 1);
    return point;
}

void InputInjector::post(MouseEventType type, MouseButton button, std::int64_t clickState) {
    MouseEvent e;
    e.type = type;
    e.button = button;
    e.at = injectionPoint();
    e.clickState = clickState;
    sink_.mouse(e);
}

void InputInjector::move(double dx, double dy) {
    // A sink that cannot post moves nothing, so there is no new position to remember.
    if (!sink_.mayPost()) return;

    const Point base = injectionPoint();
    const Point target = clamp({base.x + dx, base.y + dy}, base);

    MouseEvent e;
    if (held_.contains("left")) {
        e.type = MouseEventType::leftDragged;
        e.button = MouseButton::left;
    } else if (held_.contains("right")) {
        e.type = MouseEventType::rightDragged;
        e.button = MouseButton::right;
    } else if (held_.contains("middle")) {
        e.type = MouseEventType::otherDragged;
        e.button = MouseButton::middle;
    } else {
        e.type = MouseEventType::moved;
        e.button = MouseButton::left;
    }
    e.at = target;
    e.deltaX = roundSaturating<std::int64_t>(dx);
    e.deltaY = roundSaturating<std::int64_t>(dy);
    sink_.mouse(e);

    lastPosted_ = target;
    lastPostedAt_ = loop_.now();
    if (onMove_) onMove_(target);
}

void InputInjector::tapAt(Point p) {
    sink_.warp(p);
    lastPosted_ = p;
    lastPostedAt_ = loop_.now();
}

void InputInjector::click(std::string_view button, int count) {
    const auto params = paramsFor(button);
    for (int i = 0; i < count; ++i) {
        const int number = clicks_.next(button, loop_.now());
        post(params.press, params.button, number);
        post(params.release, params.button, number);
    }
}

void InputInjector::down(std::string_view button) {
    held_.emplace(button);
    const auto params = paramsFor(button);
    post(params.press, params.button, 1);
}

void InputInjector::up(std::string_view button) {
    if (auto it = held_.find(button); it != held_.end()) held_.erase(it);
    const auto params = paramsFor(button);
    post(params.release, params.button, 1);
}

void InputInjector::releaseAll() {
    while (!held_.empty()) {
        const std::string name = *held_.begin();
        held_.erase(held_.begin());
        const auto params = paramsFor(name);
        post(params.release, params.button, 1);
    }
}

void InputInjector::scroll(double dx, double dy) {
    ScrollEvent e;
    e.vertical = roundSaturating<std::int32_t>(-dy);
    e.horizontal = roundSaturating<std::int32_t>(-dx);
    sink_.scroll(e);
}

// ---- keyboard

void InputInjector::buildCharMap() {
    charMap_.clear();
    charMapSerial_ = sink_.layoutSerial();
    auto entries = sink_.layout();
    // Lower levels before higher (plain, Shift, AltGr, AltGr+Shift, level 5…), lower keycode
    // before higher: the first entry for a character wins.
    const auto rank = [](const LayoutEntry& e) {
        return ((e.levelMods & modifier::level5) ? 4 : 0) + ((e.levelMods & modifier::level3) ? 2 : 0) +
               (e.shift ? 1 : 0);
    };
    std::stable_sort(entries.begin(), entries.end(), [&](const LayoutEntry& a, const LayoutEntry& b) {
        if (rank(a) != rank(b)) return rank(a) < rank(b);
        return a.keycode < b.keycode;
    });
    for (const auto& e : entries) {
        // One UTF-16 unit only, as the layout translation has always required.
        if (e.character > 0xffff || (e.character >= 0xd800 && e.character <= 0xdfff)) continue;
        // Keyed by composed form, like the lookups, so equivalent spellings meet.
        const char16_t unit = static_cast<char16_t>(e.character);
        const auto c = textunits::singleScalar(textunits::composed({&unit, 1}));
        charMap_.try_emplace(c.value_or(e.character), CharKey{e.keycode, e.shift, e.levelMods});
    }
}

std::optional<InputInjector::CharKey> InputInjector::lookup(char32_t c) const {
    if (auto it = charMap_.find(c); it != charMap_.end()) return it->second;
    return std::nullopt;
}

void InputInjector::tap(KeyEvent keyEvent, ModifierFlags flags) {
    ModifierFlags pressed = 0;
    for (const auto& m : keys::modifierPressOrder) {
        if ((flags & m.flag) == 0) continue;
        pressed |= m.flag;
        sink_.key({KeyKind::keysym, m.keysym, true, pressed});
    }
    keyEvent.flags = flags;
    keyEvent.down = true;
    sink_.key(keyEvent);
    keyEvent.down = false;
    sink_.key(keyEvent);
    for (auto it = keys::modifierPressOrder.rbegin(); it != keys::modifierPressOrder.rend(); ++it) {
        if ((flags & it->flag) == 0) continue;
        pressed &= static_cast<ModifierFlags>(~it->flag);
        sink_.key({KeyKind::keysym, it->keysym, false, pressed});
    }
}

void InputInjector::media(std::uint32_t sym) {
    sink_.key({KeyKind::keysym, sym, true, 0});
    sink_.key({KeyKind::keysym, sym, false, 0});
}

void InputInjector::key(std::string_view name, const std::vector<std::string>& mods) {
    if (auto it = mediaKeys().find(name); it != mediaKeys().end()) {
        media(it->second);
        return;
    }
    ModifierFlags flags = 0;
    for (const auto& m : mods) flags |= keys::modifierFlag(m);

    if (auto it = namedKeys().find(name); it != namedKeys().end()) {
        tap({KeyKind::keysym, it->second, true, 0}, flags);
        return;
    }
    if (name.empty()) return;

    const auto units = textunits::toUtf16(name);
    const auto first = textunits::composed(
        std::u16string_view(units.data(), textunits::firstCharacterLength(units)));
    const auto scalar = textunits::singleScalar(first);

    // A key of a layout that is no longer current would type something else.
    if (sink_.layoutSerial() != charMapSerial_) buildCharMap();
    std::optional<CharKey> found;
    if (scalar) found = lookup(*scalar);
    if (!found) {
        // The layout may have changed since the map was built.
        buildCharMap();
        if (scalar) found = lookup(*scalar);
    }
    if (!found) {
        if (const auto lower =
                textunits::singleScalar(textunits::composed(textunits::lowercased(first))))
            found = lookup(*lower);
    }
    if (!found) {
        if (mods.empty()) text(name);
        return;
    }
    if (found->shift) flags |= modifier::shift;
    flags |= found->levelMods;
    tap({KeyKind::keycode, found->keycode, true, 0}, flags);
}

void InputInjector::text(std::string_view s) {
    const auto units = textunits::toUtf16(s);
    const std::u16string_view all(units);
    for (std::size_t begin = 0; begin < all.size();) {
        const auto end = textunits::chunkEnd(all, begin, textChunkUnits);
        sink_.text(all.substr(begin, end - begin));
        begin = end;
    }
}

}  // namespace tamborix
