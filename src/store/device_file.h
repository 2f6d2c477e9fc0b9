#pragma once
// The "devices.json" format: a JSON array of device objects, dates as seconds since
// 2001-01-01 00:00:00 UTC.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "ports/main_loop.h"
#include "store/paired_device.h"

namespace tamborix::deviceFile {

inline constexpr std::string_view fileName = "devices.json";
// Seconds from 1970-01-01 to 2001-01-01, both UTC.
inline constexpr double referenceEpoch = 978'307'200.0;

[[nodiscard]] double toStoredSeconds(WallTime t);
[[nodiscard]] WallTime fromStoredSeconds(double s);
[[nodiscard]] WallTime fromUnixSeconds(double s);

[[nodiscard]] std::string encode(const std::vector<PairedDevice>& devices, bool pretty);

// nullopt when the text is not such an array (a missing key, a wrong type, an unknown scope or
// bad base64 anywhere spoils the whole file). Records whose key is not 32 bytes or whose id is
// not derived from the key are dropped.
[[nodiscard]] std::optional<std::vector<PairedDevice>> decode(std::string_view text);

// Keeps only records whose key is 32 bytes and whose id is the key's device id.
[[nodiscard]] bool intact(const PairedDevice& device);

}  // namespace tamborix::deviceFile
