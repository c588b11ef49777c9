// The fields of one line of the queue and credential files: an empty line has no fields,
// otherwise every TAB separates two fields (so a final TAB leaves an empty last field).
#pragma once

#include <string>
#include <vector>

namespace fetchora {

inline std::vector<std::string> splitTabFields(const std::string& line) {
    std::vector<std::string> fields;
    if (line.empty())
        return fields;
    size_t start = 0;
    for (;;) {
        const size_t tab = line.find('\t', start);
        if (tab == std::string::npos) {
            fields.push_back(line.substr(start));
            return fields;
        }
        fields.push_back(line.substr(start, tab - start));
        start = tab + 1;
    }
}

} // namespace fetchora
