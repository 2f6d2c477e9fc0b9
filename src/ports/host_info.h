#pragma once

#include <string>

namespace tamborix {

class HostInfo {
public:
    virtual ~HostInfo() = default;
    // The computer's name for people (pretty host name, else the plain host name); empty when
    // the system gives none.
    [[nodiscard]] virtual std::string hostName() const = 0;
};

}  // namespace tamborix
