#pragma once

// Output reaches a console in pieces that may cut a character's bytes apart; each piece is
// converted for the console up to its last whole character, the rest waits for the next.

#include <cstddef>
#include <string_view>

namespace torvinupload {

// The length of `bytes` up to the end of its last whole UTF-8 sequence: all of it, unless it ends
// inside a sequence that more bytes could still complete. Bytes that no sequence can hold are
// whole (shown as a replacement character) and never held back.
std::size_t wholeUtf8Length(std::string_view bytes);

} // namespace torvinupload
