// What the transfer-run benchmarks share: whole-file reads and writes that fail loudly,
// this program's own path, and the median and listing of measured values.
#pragma once

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <system_error>
#include <vector>

namespace fetchora::bench {

[[noreturn]] inline void fail(const std::string& message) {
    throw std::runtime_error(message);
}

inline void writeBytes(const std::filesystem::path& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out)
        fail("cannot write " + path.string());
}

inline std::string readText(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        fail("cannot read " + path.string());
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

// The path of the running program; its fellow programs lie beside it.
inline std::filesystem::path selfPath() {
    std::error_code error;
    std::filesystem::path path = std::filesystem::read_symlink("/proc/self/exe", error);
    if (error)
        fail("cannot find this program's path: " + error.message());
    return path;
}

template <typename T> T median(std::vector<T> values) {
    if (values.empty())
        return T{};
    std::sort(values.begin(), values.end());
    const size_t mid = values.size() / 2;
    if (values.size() % 2 == 1)
        return values[mid];
    return (values[mid - 1] + values[mid]) / 2;
}

// The values with three decimals, separated by spaces.
inline std::string list(const std::vector<double>& values) {
    std::string text;
    for (const double v : values) {
        char piece[32];
        std::snprintf(piece, sizeof piece, "%s%.3f", text.empty() ? "" : " ", v);
        text += piece;
    }
    return text;
}

inline const char* verdict(bool met) {
    return met ? "met" : "MISSED";
}

} // namespace fetchora::bench
