#pragma once
// The monitors a uinput pointer can reach, as the kernel lists them: without X11 or a portal
// nothing tells a client how the compositor arranged its outputs, so the connected connectors
// are taken at their preferred mode, side by side in connector order. An absolute uinput pointer
// spans them all, which is how compositors map an absolute device onto the output layout.

#include <filesystem>
#include <optional>
#include <vector>

#include "ports/display_source.h"
#include "ports/geometry.h"

namespace tamborix::uinput {

// Connected connectors under `drmRoot` (card*-*/status and the first line of card*-*/modes).
[[nodiscard]] std::vector<Rect> connectedOutputs(const std::filesystem::path& drmRoot = "/sys/class/drm");

// The smallest rectangle holding every output; empty when there are none.
[[nodiscard]] Rect outputsUnion(const std::vector<Rect>& outputs);

class UinputInputSink;

// The outputs as displays; the pointer is where the sink last put it (a uinput device reads
// nothing back), at first the centre of the first output.
class OutputDisplaySource final : public DisplaySource {
public:
    OutputDisplaySource(std::vector<Rect> outputs, const UinputInputSink& sink)
        : outputs_(std::move(outputs)), sink_(sink) {}
    [[nodiscard]] std::vector<DisplayInfo> displays() const override;
    [[nodiscard]] std::optional<Point> pointer() const override;

private:
    std::vector<Rect> outputs_;
    const UinputInputSink& sink_;
};

}  // namespace tamborix::uinput
