#pragma once
// The computer's name for people: systemd-hostnamed's pretty host name, else the plain host name.

#include <string>

#include "ports/host_info.h"

namespace tamborix {

class SystemHostInfo final : public HostInfo {
public:
    // Asks once, at construction; hostnamed gets a short deadline so a missing bus never stalls.
    SystemHostInfo();
    [[nodiscard]] std::string hostName() const override { return name_; }
    [[nodiscard]] const std::string& source() const noexcept { return source_; }

private:
    std::string name_;
    std::string source_;  // "hostnamed", "gethostname" or "none"
};

// The value of PRETTY_HOSTNAME in the text of /etc/machine-info (shell-style quoting).
[[nodiscard]] std::string prettyHostnameFromMachineInfo(const std::string& text);

}  // namespace tamborix
