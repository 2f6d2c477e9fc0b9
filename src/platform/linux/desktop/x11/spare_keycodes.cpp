#include "platform/linux/desktop/x11/spare_keycodes.h"

#include <algorithm>
#include <fstream>
#include <limits>
#include <string>
#include <system_error>
#include <thread>

namespace tamborix::x11 {

SpareKeycodes::SpareKeycodes(XConnection& conn, XkbKeymap& keymap, MainLoop& loop, Options options)
    : conn_(conn), keymap_(keymap), loop_(loop), options_(std::move(options)) {
    // What a crashed run lent stays hidden from the layout and is given back `hold` after this
    // start, since a program may still be reading that run's last keys.
    if (!options_.note.empty()) {
        std::ifstream in(options_.note);
        for (std::string line; std::getline(in, line);) {
            const auto a = line.find(' ');
            const auto b = a == std::string::npos ? a : line.find(' ', a + 1);
            if (b == std::string::npos) continue;
            try {
                const auto kc = std::stoul(line.substr(0, a));
                const auto sym = std::stoul(line.substr(a + 1, b - a - 1));
                auto original = KeySymMap::parse(line.substr(b + 1));
                if (kc < 8 || kc > 255 || sym == 0 || !original) continue;
                inherited_.push_back({static_cast<xcb_keycode_t>(kc), static_cast<std::uint32_t>(sym),
                                      std::move(*original), loop_.now(), false});
            } catch (const std::exception&) {
                continue;
            }
        }
    }
    refresh();
}

SpareKeycodes::~SpareKeycodes() {
    MonoTime last = MonoTime::min();
    std::vector<Slot*> lent;
    for (auto* list : {&slots_, &inherited_}) {
        for (auto& s : *list) {
            if (s.sym == 0) continue;
            lent.push_back(&s);
            last = std::max(last, s.lastUsed);
        }
    }
    if (lent.empty()) return;
    // Ending is the one time waiting beats going on: the last characters typed must still read
    // as themselves in a program that is behind.
    const auto wait = last + options_.hold - loop_.now();
    if (wait > Duration::zero()) std::this_thread::sleep_for(std::min(wait, options_.hold));
    if (giveBack(lent)) writeNote();
}

void SpareKeycodes::refresh() {
    const auto serial = keymap_.serial();
    if (serial == seenSerial_) return;
    seenSerial_ = serial;
    const auto empty = keymap_.emptyKeycodes();
    auto isEmpty = [&](xcb_keycode_t kc) { return std::find(empty.begin(), empty.end(), kc) != empty.end(); };
    // A key that no longer holds what was lent (a new layout, another program) is not ours any
    // more; a spare key that gained a symbol is not spare. What is lent is asked of the server
    // itself: the keymap here may not have heard of the latest binding yet.
    xcb_keycode_t lo = 255, hi = 0;
    for (const auto& s : slots_) {
        if (s.sym == 0) continue;
        lo = std::min(lo, s.keycode);
        hi = std::max(hi, s.keycode);
    }
    const auto lent = lo <= hi ? readKeySyms(conn_, lo, hi) : std::nullopt;
    std::erase_if(slots_, [&](const Slot& s) {
        if (s.sym == 0) return !isEmpty(s.keycode);
        return lent && lent->keys.at(static_cast<std::size_t>(s.keycode - lo)) != KeySymMap::lent(s.sym);
    });
    for (auto kc : empty) {
        if (slots_.size() >= options_.maxSlots) break;
        if (isBorrowed(kc)) continue;
        slots_.push_back({kc, 0, {}, MonoTime::min(), false});
    }
}

bool SpareKeycodes::isBorrowed(xcb_keycode_t keycode) const {
    for (const auto* list : {&slots_, &inherited_})
        for (const auto& s : *list)
            if (s.keycode == keycode) return true;
    return false;
}

std::optional<xcb_keycode_t> SpareKeycodes::keycodeOf(std::uint32_t sym) {
    refresh();
    for (const auto& s : slots_)
        if (s.sym == sym) return s.keycode;
    return std::nullopt;
}

void SpareKeycodes::bind(const std::vector<std::uint32_t>& wanted, MonoTime& readyAt) {
    refresh();
    const auto now = loop_.now();
    constexpr auto never = std::numeric_limits<std::size_t>::max();
    auto nextUse = [&](std::uint32_t sym) {
        const auto it = std::find(wanted.begin(), wanted.end(), sym);
        return it == wanted.end() ? never : static_cast<std::size_t>(it - wanted.begin());
    };
    auto free = [&](const Slot& s) { return !s.held && (s.sym == 0 || s.lastUsed + options_.hold <= now); };

    std::vector<std::pair<Slot*, std::uint32_t>> plan;
    auto planned = [&](const Slot& s) {
        return std::any_of(plan.begin(), plan.end(), [&](const auto& p) { return p.first == &s; });
    };
    bool all = true;
    for (std::size_t i = 0; i < wanted.size(); ++i) {
        const auto sym = wanted[i];
        if (sym == 0 || nextUse(sym) != i) continue;  // a repeat
        if (std::any_of(slots_.begin(), slots_.end(), [&](const Slot& s) { return s.sym == sym; })) continue;
        // An unused keycode first, else the free one whose symbol is needed last (or never).
        Slot* best = nullptr;
        std::size_t bestUse = 0;
        for (auto& s : slots_) {
            if (!free(s) || planned(s)) continue;
            const auto use = s.sym == 0 ? never : nextUse(s.sym);
            if (use != never && use <= i) continue;
            if (!best || (best->sym != 0 && s.sym == 0) ||
                ((best->sym == 0) == (s.sym == 0) && (use > bestUse || (use == bestUse && s.lastUsed < best->lastUsed)))) {
                best = &s;
                bestUse = use;
            }
        }
        if (!best) {
            all = false;
            break;
        }
        plan.emplace_back(best, sym);
    }
    if (!all) {
        readyAt = now + options_.hold;
        for (const auto& s : slots_)
            if (!s.held && s.sym != 0 && !planned(s) && s.lastUsed + options_.hold > now)
                readyAt = std::min(readyAt, s.lastUsed + options_.hold);
    }
    if (plan.empty()) return;

    xcb_keycode_t lo = 255, hi = 0;
    for (const auto& [slot, sym] : plan) {
        lo = std::min(lo, slot->keycode);
        hi = std::max(hi, slot->keycode);
    }
    // Whatever goes wrong below, the caller tries again a hold later rather than at once.
    auto retryLater = [&] { readyAt = now + options_.hold; };
    ServerGrab grab(conn_);
    auto run = readKeySyms(conn_, lo, hi);
    if (!run) return retryLater();
    const auto before = slots_;
    for (const auto& [slot, sym] : plan) {
        auto& entry = run->at(slot->keycode);
        if (slot->sym == 0) {
            if (!entry.empty()) {  // somebody bound it since the layout was read
                retryLater();
                continue;
            }
            slot->original = entry;
        } else if (entry != KeySymMap::lent(slot->sym)) {
            retryLater();
            continue;
        }
        entry = KeySymMap::lent(sym);
        slot->sym = sym;
        slot->lastUsed = now;
    }
    // Noted before the server sees it: a crash from here on is mended at the next start.
    writeNote();
    if (writeKeySyms(conn_, *run)) {
        ++changes_;
    } else {
        slots_ = before;
        writeNote();
        retryLater();
    }
}

void SpareKeycodes::delivered(xcb_keycode_t keycode, MonoTime at) {
    for (auto& s : slots_)
        if (s.keycode == keycode) s.lastUsed = std::max(s.lastUsed, at);
}

void SpareKeycodes::setHeld(xcb_keycode_t keycode, bool held) {
    for (auto& s : slots_)
        if (s.keycode == keycode) s.held = held;
}

std::optional<MonoTime> SpareKeycodes::releaseIdle() {
    refresh();
    std::vector<Slot*> lent;
    MonoTime idleAt = MonoTime::min();
    for (auto* list : {&slots_, &inherited_}) {
        for (auto& s : *list) {
            if (s.sym == 0) continue;
            lent.push_back(&s);
            idleAt = std::max(idleAt, s.held ? loop_.now() + options_.hold : s.lastUsed + options_.hold);
        }
    }
    if (lent.empty()) return std::nullopt;
    if (idleAt > loop_.now()) return idleAt;
    if (!giveBack(lent)) return loop_.now() + options_.hold;
    writeNote();
    return std::nullopt;
}

bool SpareKeycodes::giveBack(const std::vector<Slot*>& lent) {
    if (lent.empty()) return true;
    xcb_keycode_t lo = 255, hi = 0;
    for (const auto* s : lent) {
        lo = std::min(lo, s->keycode);
        hi = std::max(hi, s->keycode);
    }
    std::optional<KeySymRun> run;
    bool changed = false;
    {
        ServerGrab grab(conn_);
        run = readKeySyms(conn_, lo, hi);
        if (!run) return false;
        for (const auto* s : lent) {
            auto& entry = run->at(s->keycode);
            // Only a key still holding what was lent is ours to give back.
            if (entry != KeySymMap::lent(s->sym)) continue;
            entry = s->original;
            changed = true;
        }
        if (changed && !writeKeySyms(conn_, *run)) return false;
    }
    if (changed) ++changes_;
    for (auto* s : lent) {
        s->sym = 0;
        s->original = {};
    }
    std::erase_if(inherited_, [](const Slot& s) { return s.sym == 0; });
    return true;
}

void SpareKeycodes::writeNote() const {
    if (options_.note.empty()) return;
    std::error_code ec;
    std::string text;
    for (const auto* list : {&slots_, &inherited_})
        for (const auto& s : *list)
            if (s.sym != 0)
                text += std::to_string(s.keycode) + ' ' + std::to_string(s.sym) + ' ' + s.original.text() + '\n';
    if (text.empty()) {
        std::filesystem::remove(options_.note, ec);
        return;
    }
    std::filesystem::create_directories(options_.note.parent_path(), ec);
    const auto tmp = options_.note.string() + ".tmp";
    {
        std::ofstream out(tmp, std::ios::trunc);
        out << text;
        out.flush();
        if (!out) return;
    }
    std::filesystem::rename(tmp, options_.note, ec);
}

}  // namespace tamborix::x11
