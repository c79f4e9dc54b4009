#pragma once

// Bytes as upper-case hex text and back, as the test helpers pass them in their text protocols
// and scripts. Header-only: the Wine tests' Linux peer is built on its own, outside the tree's
// libraries.

#include <cstddef>
#include <string>
#include <string_view>

namespace testsupport {

inline std::string hexText(std::string_view bytes) {
    static constexpr char digits[] = "0123456789ABCDEF";
    std::string text;
    text.reserve(bytes.size() * 2);
    for (unsigned char c : bytes) {
        text += digits[c >> 4];
        text += digits[c & 15];
    }
    return text;
}

// A trailing odd digit is ignored.
inline std::string bytesOfHex(std::string_view text) {
    std::string bytes;
    for (std::size_t i = 0; i + 1 < text.size(); i += 2)
        bytes += static_cast<char>(std::stoi(std::string(text.substr(i, 2)), nullptr, 16));
    return bytes;
}

} // namespace testsupport
