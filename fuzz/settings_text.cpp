// The settings text conversions: every text reads as a value of the setting's table (or the
// fallback), and every value, including one that only a bad cast can make, writes as a text that
// reads back as that value.
#include "comport/settings/SettingsText.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

using namespace comport;

namespace {

void check(bool ok, const char* what) {
    if (!ok) {
        std::fprintf(stderr, "settings_text: %s\n", what);
        std::abort();
    }
}

// Letter case ignored for a to z only, as the stores compare.
bool sameAscii(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
        if (lower(a[i]) != lower(b[i])) return false;
    }
    return true;
}

// One table: the text reads as the value whose text it is, or as the fallback; every ordinal
// below `count` round-trips; a value past the table writes a text of the table.
template <typename Enum, typename ToText, typename FromText>
void checkTable(std::string_view text, std::uint8_t raw, std::size_t count, Enum fallback,
                ToText toText, FromText fromText, const char* name) {
    const Enum read = fromText(text);
    check(static_cast<std::size_t>(read) < count, name);
    check(read == fallback || sameAscii(toText(read), text), name);
    for (std::size_t i = 0; i < count; ++i) {
        const auto value = static_cast<Enum>(i);
        check(fromText(toText(value)) == value, name);
        if (sameAscii(toText(value), text)) check(read == value, name);
    }
    const std::string_view written = toText(static_cast<Enum>(raw));
    check(static_cast<std::size_t>(fromText(written)) < count, name);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::uint8_t raw = size > 0 ? data[0] : 0;
    const std::string_view text(reinterpret_cast<const char*>(data), size);

    checkTable(text, raw, 16, br9600, baudRateText, baudRateFromText, "baud rate");
    checkTable(text, raw, 3, sbOneStopBit, stopBitsText, stopBitsFromText, "stop bits");
    checkTable(text, raw, 4, dbEight, dataBitsText, dataBitsFromText, "data bits");
    checkTable(text, raw, 5, prNone, parityText, parityFromText, "parity");
    checkTable(text, raw, 4, fcCustom, flowControlText, flowControlFromText, "flow control");
    checkTable(text, raw, 3, dtrDisable, dtrControlText, dtrControlFromText, "DTR control");
    checkTable(text, raw, 4, rtsDisable, rtsControlText, rtsControlFromText, "RTS control");

    check(yesNoFromText(text) == sameAscii(text, "YES"), "yes/no reading");
    check(yesNoFromText(yesNoText(true)) && !yesNoFromText(yesNoText(false)), "yes/no round trip");

    // Characters: every code round-trips; a text gives some code, and that code round-trips.
    const char c = charFromText(text);
    check(charFromText(charText(c)) == c, "character read from text");
    const char fromRaw = static_cast<char>(raw);
    const std::string written = charText(fromRaw);
    check(charFromText(written) == fromRaw, "character round trip");
    check(written.size() == 1 ? static_cast<unsigned char>(raw) >= 33 : written[0] == '#',
          "character text form");
    // "#n" reads as n's low eight bits.
    if (text.size() > 1 && text[0] == '#' && text.find_first_not_of("0123456789", 1) == text.npos &&
        text.size() < 10) {
        check(static_cast<unsigned char>(c) ==
                  std::strtoul(std::string(text.substr(1)).c_str(), nullptr, 10) % 256,
              "decimal character code");
    }
    return 0;
}
