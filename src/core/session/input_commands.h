#pragma once
// The input a phone sends: pointer motion (spread by the smoother), buttons, scrolling, keys,
// text, the named actions of a presentation and the laser dot that follows the pointer.

#include <functional>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>

#include "core/desktop/laser_overlay.h"
#include "core/input/input_injector.h"
#include "core/input/smoother.h"
#include "ports/desktop_actions.h"
#include "ports/input_actions.h"

namespace tamborix {

class InputCommands {
public:
    // Input goes to `wholeActions` where a backend takes it whole, else through the injector to
    // `sink`; the laser dot is switched through `desktop`.
    InputCommands(MainLoop& loop, InputSink& sink, const DisplaySource& displays, LaserOverlay& laser,
                  DesktopActions& desktop, InputActions* wholeActions);
    InputCommands(const InputCommands&) = delete;
    InputCommands& operator=(const InputCommands&) = delete;

    [[nodiscard]] InputInjector& injector() noexcept { return injector_; }
    // Where the commands' input goes: the injector, or the backend that takes actions whole.
    [[nodiscard]] InputActions& actions() noexcept { return actions_; }
    [[nodiscard]] Smoother* smootherIfCreated() noexcept { return smoother_.get(); }

    // A move that skipped the JSON document: the same limits as move().
    void moveBy(double dx, double dy);
    // Posts the motion the smoother still spreads.
    void landPendingMotion();
    // A connection ended: nothing stays held, nothing keeps moving; the laser goes off when
    // nobody is left to point with it.
    void connectionEnded(bool nobodyLeft);

    void move(const nlohmann::json& command);
    void click(const nlohmann::json& command);
    void down(const nlohmann::json& command);
    void up(const nlohmann::json& command);
    void scroll(const nlohmann::json& command);
    void key(const nlohmann::json& command);
    void text(const nlohmann::json& command);
    void action(const nlohmann::json& command);
    void laser(const nlohmann::json& command);

    // Told a line for the user when the laser cannot be drawn in this session.
    void setOnOverlayMissing(std::function<void(const std::string&)> fn) { overlayMissing_ = std::move(fn); }

private:
    Smoother& smoother();

    MainLoop& loop_;
    InputInjector injector_;
    InputActions& actions_;
    std::unique_ptr<Smoother> smoother_;  // created on first use
    LaserOverlay& laser_;
    DesktopActions& desktop_;
    std::function<void(const std::string&)> overlayMissing_;
};

}  // namespace tamborix
