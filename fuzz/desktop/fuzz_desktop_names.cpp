// Texts a phone sends to the desktop operations: web addresses ("open" "url"), application
// names ("open" "app") and the names the platform reports (cut for "apps"). None may crash,
// and what passes must keep the promised shape.

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "core/desktop/desktop_control.h"
#include "core/desktop/text_limits.h"
#include "core/desktop/web_address.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace tamborix;
    const std::string_view text(reinterpret_cast<const char*>(data), size);

    if (isOpenableWebAddress(text)) {
        const std::string lower = [&] {
            std::string s(text.substr(0, 8));
            for (auto& c : s) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
            return s;
        }();
        if (lower.rfind("http://", 0) != 0 && lower.rfind("https://", 0) != 0) std::abort();
        if (text.find('\0') != std::string_view::npos || text.find(' ') != std::string_view::npos)
            std::abort();
        if (longerThan(text, webAddressLimit)) std::abort();
    }

    if (DesktopControl::isAcceptableAppName(text)) {
        if (text.empty() || text.find('/') != std::string_view::npos ||
            text.find("..") != std::string_view::npos || text.find('~') != std::string_view::npos)
            std::abort();
    }

    const std::string cut = characterPrefix(text, DesktopControl::appNameLimit);
    if (characterCount(cut, 1000) > DesktopControl::appNameLimit) std::abort();
    return 0;
}
