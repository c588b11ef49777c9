// The module's binary resources, kept by upper-case type and number.
#include "platform/resources/binary_resource.h"

#include <map>
#include <string>
#include <utility>

namespace fetchora::resources {

namespace {

std::map<std::pair<std::string, unsigned>, std::vector<std::uint8_t>>& table() {
    static std::map<std::pair<std::string, unsigned>, std::vector<std::uint8_t>> resources;
    return resources;
}

std::string upper(std::string_view text) {
    std::string result(text);
    for (char& c : result) {
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    }
    return result;
}

} // namespace

void addBinaryResource(std::string_view type, unsigned id, std::vector<std::uint8_t> bytes) {
    table()[{upper(type), id}] = std::move(bytes);
}

std::span<const std::uint8_t> findBinaryResource(std::string_view type, unsigned id) {
    const auto found = table().find({upper(type), id});
    if (found == table().end())
        return {};
    return found->second;
}

} // namespace fetchora::resources
