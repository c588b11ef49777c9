// Feeds arbitrary bytes to the hive file parser: it either raises HiveFileError or gives
// a tree whose written form reads back to the very same text.
#include "platform/registry_hive.h"

#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    const std::string root = "HKEY_CURRENT_USER";
    std::string written;
    try {
        written =
            fetchora::registry::hive::write(*fetchora::registry::hive::parse(text, root, "fuzz"));
    } catch (const fetchora::registry::HiveFileError&) {
        return 0;
    }
    // What the writer produces must parse, and parse to the same tree.
    const std::string again =
        fetchora::registry::hive::write(*fetchora::registry::hive::parse(written, root, "fuzz"));
    if (again != written)
        std::abort();
    return 0;
}
