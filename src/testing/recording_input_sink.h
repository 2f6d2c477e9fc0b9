#pragma once
// An InputSink that keeps everything posted to it, in order, for tests to read.

#include <string>
#include <variant>
#include <vector>

#include "ports/input_sink.h"

namespace tamborix::testing {

class RecordingInputSink final : public InputSink {
public:
    struct Text {
        std::u16string chunk;
        friend bool operator==(const Text&, const Text&) = default;
    };
    struct Warp {
        Point at;
        friend bool operator==(const Warp&, const Warp&) = default;
    };
    using Posted = std::variant<MouseEvent, ScrollEvent, KeyEvent, Text, Warp>;

    [[nodiscard]] bool mayPost() const override { return mayPost_; }
    [[nodiscard]] std::string reason() const override { return reason_; }
    [[nodiscard]] std::string remedy() const override { return remedy_; }
    void mouse(const MouseEvent& e) override { record(e); }
    void scroll(const ScrollEvent& e) override { record(e); }
    void key(const KeyEvent& e) override { record(e); }
    void text(std::u16string_view chunk) override {
        if (!mayPost_) return;
        for (char16_t unit : chunk)
            if (untypable_.find(unit) != std::u16string::npos) untypable(unit, untypableWhy_);
        record(Text{std::u16string(chunk)});
    }
    void warp(Point at) override { record(Warp{at}); }
    [[nodiscard]] std::vector<LayoutEntry> layout() override {
        ++layoutReads_;
        return layout_;
    }

    // Test controls.
    void setMayPost(bool may, std::string reason = {}, std::string remedy = {}) {
        mayPost_ = may;
        reason_ = std::move(reason);
        remedy_ = std::move(remedy);
    }
    void setLayout(std::vector<LayoutEntry> entries) { layout_ = std::move(entries); }
    void setSettingsPages(std::vector<std::string> ids) { settingsPages_ = std::move(ids); }
    [[nodiscard]] std::vector<std::string> settingsPages() const override { return settingsPages_; }
    // Characters (one UTF-16 unit each) that text() reports as untypable, and why.
    void setUntypable(std::u16string chars, std::string why) {
        untypable_ = std::move(chars);
        untypableWhy_ = std::move(why);
    }
    // A US-like layout: a…z and digits unshifted, A…Z and the digits' symbols shifted, on
    // keycodes chosen so that the order of entries is not the order of characters.
    static std::vector<LayoutEntry> usLayout();

    // Everything posted, in order, and views of one kind.
    [[nodiscard]] const std::vector<Posted>& posted() const { return posted_; }
    [[nodiscard]] std::vector<MouseEvent> mice() const { return only<MouseEvent>(); }
    [[nodiscard]] std::vector<ScrollEvent> scrolls() const { return only<ScrollEvent>(); }
    [[nodiscard]] std::vector<KeyEvent> keys() const { return only<KeyEvent>(); }
    [[nodiscard]] std::vector<Text> texts() const { return only<Text>(); }
    [[nodiscard]] std::vector<Warp> warps() const { return only<Warp>(); }
    [[nodiscard]] int layoutReads() const { return layoutReads_; }
    void clear() { posted_.clear(); }
    // Storage for this many events, so that recording allocates nothing until it is used up.
    void reserve(std::size_t n) { posted_.reserve(n); }

private:
    template <typename T>
    void record(T&& e) {
        if (!mayPost_) return;
        posted_.emplace_back(std::forward<T>(e));
    }
    template <typename T>
    std::vector<T> only() const {
        std::vector<T> out;
        for (const auto& p : posted_)
            if (const auto* e = std::get_if<T>(&p)) out.push_back(*e);
        return out;
    }

    bool mayPost_ = true;
    std::string reason_;
    std::string remedy_;
    std::vector<std::string> settingsPages_;
    std::vector<LayoutEntry> layout_;
    std::u16string untypable_;
    std::string untypableWhy_;
    std::vector<Posted> posted_;
    int layoutReads_ = 0;
};

}  // namespace tamborix::testing
