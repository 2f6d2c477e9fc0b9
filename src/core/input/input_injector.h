#pragma once
// The one synthetic-input object: pointer motion with drags, numbered clicks, held buttons,
// scrolling, keys with modifiers, media keys and text, posted through an InputSink. Main thread
// only.

#include <cstdint>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "core/input/key_tables.h"
#include "ports/display_source.h"
#include "ports/geometry.h"
#include "ports/input_actions.h"
#include "ports/input_sink.h"
#include "ports/main_loop.h"

namespace tamborix {

class InputInjector final : public InputActions {
public:
    // Stand-in for "never": comparisons against it are safe, subtraction from it is not.
    static constexpr MonoTime distantPast = MonoTime::min();

    // Name tables the command layer validates against. Values are X keysyms.
    using KeyTable = keys::KeyTable;
    [[nodiscard]] static const KeyTable& namedKeys();
    [[nodiscard]] static const KeyTable& mediaKeys();
    [[nodiscard]] static const std::set<std::string, std::less<>>& modifierNames();
    // A named key or a media key (single characters are the command layer's own rule).
    [[nodiscard]] static bool isValidKeyName(std::string_view name);
    [[nodiscard]] static bool isModifierName(std::string_view name);

    // The sink's keyboard layout is read once here, so construction posts nothing.
    InputInjector(MainLoop& loop, InputSink& sink, const DisplaySource& displays);
    ~InputInjector() override;
    InputInjector(const InputInjector&) = delete;
    InputInjector& operator=(const InputInjector&) = delete;

    // Pointer and buttons.
    void move(double dx, double dy) override;
    void click(std::string_view button, int count) override;
    void down(std::string_view button) override;
    void up(std::string_view button) override;
    void releaseAll() override;
    void scroll(double dx, double dy) override;
    // Warps there and injects from there for the next 0.25 s.
    void tapAt(Point p) override;

    // Keyboard and text. `s` and `name` are UTF-8.
    void key(std::string_view name, const std::vector<std::string>& mods) override;
    void text(std::string_view s) override;

    // Where the injector last placed the pointer. The session core clears it after a jump and
    // sets it after a tap on the streamed screen.
    [[nodiscard]] const std::optional<Point>& lastPosted() const { return lastPosted_; }
    [[nodiscard]] MonoTime lastPostedAt() const { return lastPostedAt_; }
    void setLastPosted(std::optional<Point> p) { lastPosted_ = p; }
    void setLastPostedAt(MonoTime t) { lastPostedAt_ = t; }

    // Called after every posted pointer move with the new position.
    void setOnMove(std::function<void(Point)> fn) { onMove_ = std::move(fn); }
    // Called with a line for the user when the sink skipped a character it could not type: once
    // per character until the keyboard layout changes, so a long text does not repeat it.
    void setOnUntypable(std::function<void(const std::string&)> fn) { onUntypable_ = std::move(fn); }

    [[nodiscard]] InputSink& sink() { return sink_; }
    [[nodiscard]] const std::set<std::string, std::less<>>& held() const { return held_; }

    // Keeps `point` on a display without letting it cross to another one: a point on any display
    // stays; otherwise it is limited to the display holding `from` (else the first display).
    [[nodiscard]] Point clamp(Point point, Point from) const;
    // lastPosted while it is fresher than 0.25 s, else the system pointer, else (0, 0).
    [[nodiscard]] Point injectionPoint() const;

    struct CharKey {
        std::uint32_t keycode = 0;
        bool shift = false;
        ModifierFlags levelMods = 0;
    };
    [[nodiscard]] const std::unordered_map<char32_t, CharKey>& charMap() const { return charMap_; }

private:
    void post(MouseEventType type, MouseButton button, std::int64_t clickState);
    void tap(KeyEvent keyEvent, ModifierFlags flags);
    void media(std::uint32_t keysym);
    void buildCharMap();
    std::optional<CharKey> lookup(char32_t c) const;

    MainLoop& loop_;
    InputSink& sink_;
    const DisplaySource& displays_;
    std::set<std::string, std::less<>> held_;
    ClickSeries clicks_;
    std::unordered_map<char32_t, CharKey> charMap_;
    std::uint64_t charMapSerial_ = 0;
    std::optional<Point> lastPosted_;
    MonoTime lastPostedAt_ = distantPast;
    std::function<void(Point)> onMove_;
    std::function<void(const std::string&)> onUntypable_;
    std::set<char32_t> untypableTold_;
    std::uint64_t untypableSerial_ = 0;
    void untypable(char32_t c, const std::string& why);
    // Reused by clamp so that a posted move allocates nothing once the display list is known.
    mutable std::vector<DisplayInfo> displayScratch_;
};

}  // namespace tamborix
