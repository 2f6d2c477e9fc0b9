#pragma once
// Application icons as small PNG images: found in the user's icon theme (then hicolor, then the
// pixmaps folder), or given as ARGB pixels by a window; drawn at the asked edge length.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "protocol/bytes.h"

namespace tamborix::gio {

// The file of icon `name` best suited to `px` pixels (an absolute name is taken as it is).
[[nodiscard]] std::optional<std::filesystem::path> findIconFile(const std::string& name, int px);

// The image in `file` (PNG, SVG, XPM…) drawn into px × px RGBA, PNG-encoded.
[[nodiscard]] std::optional<Bytes> iconFilePNG(const std::filesystem::path& file, int px);

// Icon `name` found as findIconFile() does and drawn as iconFilePNG() does; nothing for an
// empty name.
[[nodiscard]] std::optional<Bytes> themeIconPNG(const std::string& name, int px);

// A _NET_WM_ICON value (width, height, then ARGB rows; several sizes in a row): the smallest
// image at least px wide, else the largest, drawn into px × px and PNG-encoded.
[[nodiscard]] std::optional<Bytes> argbIconPNG(const std::vector<std::uint32_t>& value, int px);

}  // namespace tamborix::gio
