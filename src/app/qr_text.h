#pragma once
// A QR code drawn with text characters for a terminal.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tamborix {

// The modules of a QR code (error-correction level M) of the UTF-8 bytes of `text`; true = dark.
// nullopt when the text does not fit or the encoder fails.
[[nodiscard]] std::optional<std::vector<std::vector<bool>>> qrModules(std::string_view text);

// Lines of text, two modules per character cell (upper and lower half blocks), with a quiet zone
// of four modules. Light modules are drawn as blocks so the code scans on the usual dark terminal.
[[nodiscard]] std::vector<std::string> qrTextLines(const std::vector<std::vector<bool>>& modules);

}  // namespace tamborix
