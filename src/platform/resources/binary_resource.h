// Binary resources of a module by type and number (a type library is TYPELIB 1): the
// module adds its blobs when it is loaded and anyone in it finds them as FindResource
// and LoadResource would.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

namespace fetchora::resources {

// Adds (or replaces) the resource of type type and number id.
void addBinaryResource(std::string_view type, unsigned id, std::vector<std::uint8_t> bytes);
// The bytes of the resource, empty when there is none. The type compares without regard
// to case, as resource types do.
std::span<const std::uint8_t> findBinaryResource(std::string_view type, unsigned id);

} // namespace fetchora::resources
