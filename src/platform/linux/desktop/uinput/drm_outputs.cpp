#include "platform/linux/desktop/uinput/drm_outputs.h"

#include <algorithm>
#include <charconv>
#include <fstream>
#include <string>

#include "platform/linux/desktop/uinput/uinput_input_sink.h"

namespace tamborix::uinput {

namespace {

std::string firstLine(const std::filesystem::path& p) {
    std::ifstream in(p);
    std::string line;
    std::getline(in, line);
    return line;
}

// "1920x1080" (some drivers append "i" for interlaced modes).
std::optional<std::pair<int, int>> parseMode(const std::string& mode) {
    const auto x = mode.find('x');
    if (x == std::string::npos) return std::nullopt;
    int w = 0;
    int h = 0;
    const auto a = std::from_chars(mode.data(), mode.data() + x, w);
    const auto b = std::from_chars(mode.data() + x + 1, mode.data() + mode.size(), h);
    if (a.ec != std::errc() || a.ptr != mode.data() + x || b.ec != std::errc() || w <= 0 || h <= 0)
        return std::nullopt;
    return std::pair{w, h};
}

}  // namespace

std::vector<Rect> connectedOutputs(const std::filesystem::path& drmRoot) {
    std::vector<std::string> names;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(drmRoot, ec)) {
        const std::string name = entry.path().filename().string();
        // Connectors are "card0-HDMI-A-1"; "card0" itself and render nodes are not.
        if (name.rfind("card", 0) == 0 && name.find('-') != std::string::npos) names.push_back(name);
    }
    std::sort(names.begin(), names.end());
    std::vector<Rect> out;
    double x = 0;
    for (const auto& name : names) {
        if (firstLine(drmRoot / name / "status") != "connected") continue;
        const auto mode = parseMode(firstLine(drmRoot / name / "modes"));
        if (!mode) continue;
        out.push_back({x, 0, double(mode->first), double(mode->second)});
        x += mode->first;
    }
    return out;
}

Rect outputsUnion(const std::vector<Rect>& outputs) {
    if (outputs.empty()) return {};
    double minX = outputs.front().minX(), minY = outputs.front().minY();
    double maxX = outputs.front().maxX(), maxY = outputs.front().maxY();
    for (const auto& r : outputs) {
        minX = std::min(minX, r.minX());
        minY = std::min(minY, r.minY());
        maxX = std::max(maxX, r.maxX());
        maxY = std::max(maxY, r.maxY());
    }
    return {minX, minY, maxX - minX, maxY - minY};
}

std::vector<DisplayInfo> OutputDisplaySource::displays() const {
    std::vector<DisplayInfo> out;
    std::uint32_t id = 1;
    for (const auto& r : outputs_) out.push_back({id++, r, r});
    return out;
}

std::optional<Point> OutputDisplaySource::pointer() const {
    if (auto p = sink_.lastPosition()) return p;
    if (outputs_.empty()) return std::nullopt;
    return Point{outputs_.front().midX(), outputs_.front().midY()};
}

}  // namespace tamborix::uinput
