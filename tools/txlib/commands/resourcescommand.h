// txlib resources: a Windows program's resources, shown or set.
#pragma once

#include "commands/commands.h"

#include <string>
#include <utility>
#include <vector>

namespace txlib {

struct ResourceRequest {
    std::string icon;                                         // --icon FILE.ico
    std::string version;                                      // --version X.Y.Z.W
    std::vector<std::pair<std::string, std::string>> strings; // --set KEY=VALUE
    std::string manifest;                                     // --manifest FILE
    bool Empty() const {
        return icon.empty() && version.empty() && strings.empty() && manifest.empty();
    }
};

int CommandResources(const Options& options, const std::string& exe,
                     const ResourceRequest& request);

} // namespace txlib
