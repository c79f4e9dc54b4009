#pragma once

#include <fstream>
#include <sstream>
#include <string>
#include <string_view>

namespace testsupport {

// A whole file as it stands on disk; empty when it cannot be read.
inline std::string readFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

inline bool contains(std::string_view text, std::string_view part) {
    return text.find(part) != std::string_view::npos;
}

} // namespace testsupport
