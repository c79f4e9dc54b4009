#pragma once

// Texts across the Windows API: the program's texts are UTF-8, the API's wide (UTF-16).

#include <cstdint>
#include <string>
#include <string_view>

namespace fw::win32 {

std::wstring widen(std::string_view utf8);
std::string narrow(std::wstring_view wide);

// The system's message for a Windows error code, in UTF-8, without the trailing line break;
// "Error <code>" when the system has none.
std::string errorMessage(std::uint32_t code);

} // namespace fw::win32
