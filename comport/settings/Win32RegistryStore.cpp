#include "comport/settings/Win32RegistryStore.h"

#include "framework/Win32Text.h"

#include <windows.h>

#include <cstring>

namespace comport {

namespace {

HKEY rootOf(const std::string& root) {
    if (root.empty() || root == "HKCU" || root == "HKEY_CURRENT_USER") return HKEY_CURRENT_USER;
    if (root == "HKLM" || root == "HKEY_LOCAL_MACHINE") return HKEY_LOCAL_MACHINE;
    throw ERegistryException("Unknown registry root '" + root + "'",
                             "HKEY_CURRENT_USER or HKEY_LOCAL_MACHINE");
}

std::string systemText(LSTATUS code) {
    return fw::win32::errorMessage(static_cast<std::uint32_t>(code));
}

} // namespace

TWin32RegistryStore::TWin32RegistryStore(const std::string& root, std::string_view keyPath,
                                         TAccess access)
    : keyPath_(keyPath) {
    const HKEY hive = rootOf(root);
    const std::wstring path = fw::win32::widen(keyPath);
    HKEY key = nullptr;
    const LSTATUS status =
        access == accessRead
            ? RegOpenKeyExW(hive, path.c_str(), 0, KEY_READ, &key)
            : RegCreateKeyExW(hive, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                              KEY_READ | KEY_WRITE, nullptr, &key, nullptr);
    if (status != ERROR_SUCCESS)
        throw ERegistryException("Cannot open registry key '" + keyPath_ + "'", systemText(status));
    key_ = key;
}

TWin32RegistryStore::~TWin32RegistryStore() {
    if (key_) RegCloseKey(static_cast<HKEY>(key_));
}

std::optional<TWin32RegistryStore::TRawValue> TWin32RegistryStore::getValue(std::string_view name) {
    const std::wstring wname = fw::win32::widen(name);
    for (;;) {
        DWORD type = 0, size = 0;
        LSTATUS status = RegQueryValueExW(static_cast<HKEY>(key_), wname.c_str(), nullptr, &type,
                                          nullptr, &size);
        if (status == ERROR_FILE_NOT_FOUND) return std::nullopt;
        if (status != ERROR_SUCCESS)
            throw ERegistryException::failedToGet(name, systemText(status));
        std::string data(size, '\0');
        status = RegQueryValueExW(static_cast<HKEY>(key_), wname.c_str(), nullptr, &type,
                                  reinterpret_cast<BYTE*>(data.data()), &size);
        if (status == ERROR_MORE_DATA) continue; // changed meanwhile: ask again
        if (status == ERROR_FILE_NOT_FOUND) return std::nullopt;
        if (status != ERROR_SUCCESS)
            throw ERegistryException::failedToGet(name, systemText(status));
        data.resize(size);
        return TRawValue{type, std::move(data)};
    }
}

void TWin32RegistryStore::putValue(std::string_view name, std::uint32_t type,
                                   std::string_view data) {
    const LSTATUS status =
        RegSetValueExW(static_cast<HKEY>(key_), fw::win32::widen(name).c_str(), 0, type,
                       reinterpret_cast<const BYTE*>(data.data()), static_cast<DWORD>(data.size()));
    if (status != ERROR_SUCCESS) throw ERegistryException::failedToSet(name, systemText(status));
}

bool TWin32RegistryStore::deleteValue(std::string_view name) {
    return RegDeleteValueW(static_cast<HKEY>(key_), fw::win32::widen(name).c_str()) ==
           ERROR_SUCCESS;
}

std::string TWin32RegistryStore::getText(std::string_view name) {
    const auto value = getValue(name);
    if (!value || value->data.empty()) return {};
    if (value->type != REG_SZ && value->type != REG_EXPAND_SZ)
        throw ERegistryException::invalidDataType(name);
    std::wstring text(value->data.size() / sizeof(wchar_t), L'\0');
    std::memcpy(text.data(), value->data.data(), text.size() * sizeof(wchar_t));
    // Up to the first zero character.
    text.resize(std::wcslen(text.c_str()));
    return fw::win32::narrow(text);
}

void TWin32RegistryStore::putText(std::string_view name, std::string_view text) {
    const std::wstring wide = fw::win32::widen(text);
    putValue(name, REG_SZ,
             std::string_view(reinterpret_cast<const char*>(wide.c_str()),
                              (wide.size() + 1) * sizeof(wchar_t)));
}

std::int32_t TWin32RegistryStore::getInteger(std::string_view name) {
    const auto value = getValue(name);
    if (!value) throw ERegistryException::failedToGet(name);
    if (value->type != REG_DWORD) throw ERegistryException::invalidDataType(name);
    if (value->data.size() != sizeof(std::int32_t)) throw ERegistryException::failedToGet(name);
    std::int32_t n = 0;
    std::memcpy(&n, value->data.data(), sizeof n);
    return n;
}

void TWin32RegistryStore::putInteger(std::string_view name, std::int32_t value) {
    putValue(name, REG_DWORD,
             std::string_view(reinterpret_cast<const char*>(&value), sizeof value));
}

} // namespace comport
