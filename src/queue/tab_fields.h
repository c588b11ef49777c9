// The fields of one line of the queue and credential files: an empty line has no fields,
// otherwise every TAB separates two fields (so a final TAB leaves an empty last field).
#pragma once

#include "util/strings.h"

#include <string>
#include <vector>

namespace fetchora {

inline std::vector<std::string> splitTabFields(const std::string& line) {
    if (line.empty())
        return {};
    return splitAt(line, '\t');
}

} // namespace fetchora
