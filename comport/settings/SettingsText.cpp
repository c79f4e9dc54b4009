#include "comport/settings/SettingsText.h"

#include "framework/Convert.h"

#include <array>
#include <cstddef>
#include <cstdint>

namespace comport {

namespace {

// One text per enumeration value, indexed by ordinal, with the value a foreign text falls back to.
template <typename Enum, std::size_t N> struct TextTable {
    std::array<std::string_view, N> texts;
    Enum fallback;

    std::string_view text(Enum value) const {
        auto i = static_cast<std::size_t>(value);
        // A value outside the enumeration can only come from a bad cast; never index past the
        // table, write the fallback's text instead.
        return i < N ? texts[i] : texts[static_cast<std::size_t>(fallback)];
    }

    Enum fromText(std::string_view text) const {
        for (std::size_t i = 0; i < N; ++i) {
            if (fw::sameText(text, texts[i])) return static_cast<Enum>(i);
        }
        return fallback;
    }
};

constexpr TextTable<TBaudRate, 16> baudRates{{"Custom", "110", "300", "600", "1200", "2400", "4800",
                                              "9600", "14400", "19200", "38400", "56000", "57600",
                                              "115200", "128000", "256000"},
                                             br9600};
constexpr TextTable<TStopBits, 3> stopBits{{"1", "1.5", "2"}, sbOneStopBit};
constexpr TextTable<TDataBits, 4> dataBits{{"5", "6", "7", "8"}, dbEight};
constexpr TextTable<TParityBits, 5> parities{{"None", "Odd", "Even", "Mark", "Space"}, prNone};
constexpr TextTable<TFlowControl, 4> flowControls{{"Hardware", "Software", "None", "Custom"},
                                                  fcCustom};
constexpr TextTable<TDTRFlowControl, 3> dtrControls{{"Disable", "Enable", "Handshake"}, dtrDisable};
constexpr TextTable<TRTSFlowControl, 4> rtsControls{{"Disable", "Enable", "Handshake", "Toggle"},
                                                    rtsDisable};
// Ordinal 0 is false, 1 is true; only "Yes" is searched when reading.
constexpr TextTable<bool, 2> yesNo{{"No", "Yes"}, false};

} // namespace

std::string_view baudRateText(TBaudRate value) {
    return baudRates.text(value);
}
TBaudRate baudRateFromText(std::string_view text) {
    return baudRates.fromText(text);
}

std::string_view stopBitsText(TStopBits value) {
    return stopBits.text(value);
}
TStopBits stopBitsFromText(std::string_view text) {
    return stopBits.fromText(text);
}

std::string_view dataBitsText(TDataBits value) {
    return dataBits.text(value);
}
TDataBits dataBitsFromText(std::string_view text) {
    return dataBits.fromText(text);
}

std::string_view parityText(TParityBits value) {
    return parities.text(value);
}
TParityBits parityFromText(std::string_view text) {
    return parities.fromText(text);
}

std::string_view flowControlText(TFlowControl value) {
    return flowControls.text(value);
}
TFlowControl flowControlFromText(std::string_view text) {
    return flowControls.fromText(text);
}

std::string_view dtrControlText(TDTRFlowControl value) {
    return dtrControls.text(value);
}
TDTRFlowControl dtrControlFromText(std::string_view text) {
    return dtrControls.fromText(text);
}

std::string_view rtsControlText(TRTSFlowControl value) {
    return rtsControls.text(value);
}
TRTSFlowControl rtsControlFromText(std::string_view text) {
    return rtsControls.fromText(text);
}

std::string_view yesNoText(bool value) {
    return yesNo.text(value);
}
bool yesNoFromText(std::string_view text) {
    return yesNo.fromText(text);
}

std::string charText(char value) {
    const auto code = static_cast<unsigned char>(value);
    if (code >= 33 && code <= 127) return std::string(1, value);
    return "#" + std::to_string(code);
}

char charFromText(std::string_view text) {
    if (text.empty()) return '\0';
    if (text[0] != '#' || text.size() == 1) return text[0];
    const auto number = fw::tryStrToInt(text.substr(1));
    if (!number) return '\0';
    // Keep the low eight bits: "#300" is code 44, "#-1" code 255.
    return static_cast<char>(static_cast<std::uint32_t>(*number) & 0xFFu);
}

} // namespace comport
