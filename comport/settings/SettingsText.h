#pragma once

// The text form of the port's settings, as written to and read from the settings stores. Every
// conversion is total: a text that matches no entry gives the setting's fallback value, and a
// character text that is not a valid number gives code 0.

#include "comport/ComTypes.h"

#include <string>
#include <string_view>

namespace comport {

std::string_view baudRateText(TBaudRate value);
TBaudRate baudRateFromText(std::string_view text); // fallback br9600

std::string_view stopBitsText(TStopBits value);
TStopBits stopBitsFromText(std::string_view text); // fallback sbOneStopBit

std::string_view dataBitsText(TDataBits value);
TDataBits dataBitsFromText(std::string_view text); // fallback dbEight

std::string_view parityText(TParityBits value);
TParityBits parityFromText(std::string_view text); // fallback prNone

std::string_view flowControlText(TFlowControl value);
TFlowControl flowControlFromText(std::string_view text); // fallback fcCustom

std::string_view dtrControlText(TDTRFlowControl value);
TDTRFlowControl dtrControlFromText(std::string_view text); // fallback dtrDisable

std::string_view rtsControlText(TRTSFlowControl value);
TRTSFlowControl rtsControlFromText(std::string_view text); // fallback rtsDisable

// "Yes" / "No"; reading is true only for "YES" in any letter case.
std::string_view yesNoText(bool value);
bool yesNoFromText(std::string_view text);

// Codes 33 to 127 are written as the character itself, every other code as "#" and the decimal
// code ("#0", "#17", "#200"). Reading also accepts "#" followed by any integer form that
// fw::tryStrToInt reads ("#$41", "# 65"), keeping its low eight bits.
std::string charText(char value);
char charFromText(std::string_view text);

} // namespace comport
