#pragma once

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

// A whole file's bytes, or "" when it cannot be read.
inline std::string ReadBytes(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

inline void WriteBytes(const std::filesystem::path& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

// The 1-based line of `text` that holds the first `anchor`, or -1 (as size_t) when none does.
inline std::size_t LineOf(const std::string& text, const std::string& anchor) {
    const std::size_t at = text.find(anchor);
    if (at == std::string::npos) return static_cast<std::size_t>(-1);
    return 1 + static_cast<std::size_t>(
                   std::count(text.begin(), text.begin() + static_cast<long>(at), '\n'));
}
