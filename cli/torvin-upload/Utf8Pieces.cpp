#include "cli/torvin-upload/Utf8Pieces.h"

namespace torvinupload {

std::size_t wholeUtf8Length(std::string_view bytes) {
    // A sequence is at most four bytes: only the last three can belong to one left open.
    const std::size_t n = bytes.size();
    for (std::size_t back = 1; back <= 3 && back <= n; ++back) {
        const auto c = static_cast<unsigned char>(bytes[n - back]);
        if ((c & 0xC0) == 0x80) continue; // a continuation byte: look further back
        const std::size_t length = c >= 0xF0 && c < 0xF8   ? 4
                                   : c >= 0xE0 && c < 0xF0 ? 3
                                   : c >= 0xC0             ? 2
                                                           : 1;
        return length > back ? n - back : n;
    }
    return n;
}

} // namespace torvinupload
