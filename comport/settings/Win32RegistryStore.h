#pragma once

// A key of the Windows registry as the port's registry store. Texts are kept as REG_SZ (UTF-8 in
// the program, UTF-16 in the registry), integers as REG_DWORD.

#include "comport/settings/SettingsStores.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace comport {

class TWin32RegistryStore : public TRegistryStore {
public:
    enum TAccess : std::uint8_t {
        accessRead,     // the key must exist; every put fails
        accessReadWrite // the key (with its parents) is created as needed
    };

    // `root` names the hive: "HKEY_CURRENT_USER" (or "HKCU", or empty) or "HKEY_LOCAL_MACHINE"
    // ("HKLM"). Failures raise ERegistryException naming the key, with the system's text in
    // detail().
    TWin32RegistryStore(const std::string& root, std::string_view keyPath, TAccess access);
    ~TWin32RegistryStore() override;
    TWin32RegistryStore(const TWin32RegistryStore&) = delete;
    TWin32RegistryStore& operator=(const TWin32RegistryStore&) = delete;

    std::string getText(std::string_view name) override;
    void putText(std::string_view name, std::string_view text) override;
    std::int32_t getInteger(std::string_view name) override;
    void putInteger(std::string_view name, std::int32_t value) override;

    // A value as stored: its type code and its data bytes (texts in UTF-16).
    struct TRawValue {
        std::uint32_t type;
        std::string data;
        bool operator==(const TRawValue&) const = default;
    };
    std::optional<TRawValue> getValue(std::string_view name);
    void putValue(std::string_view name, std::uint32_t type, std::string_view data);
    bool deleteValue(std::string_view name);

    // Every put reaches the registry at once; these keep the interface of the other store.
    void beginUpdate() {}
    void endUpdate() {}

    const std::string& keyPath() const { return keyPath_; }

private:
    void* key_ = nullptr; // HKEY
    std::string keyPath_;
};

} // namespace comport
