#pragma once

// Keeping a port's settings in an ini file or a registry key named by the caller: opens the store,
// runs the port's write or read operation on it and closes it again. A failure of the store is
// reported through the port's reportError: error 16 "Failed to store settings" while writing,
// 17 "Failed to load settings" while reading, 23 "Registry error" when the registry key cannot be
// opened. When it raises, the EComPort is an ESettingsStoreError whose detail() says what exactly
// failed (file, key, value). A failure of a setter (the device refusing a setting) was reported
// by the port already and passes unchanged.

#include "comport/ComErrors.h"

#include <string>
#include <string_view>

namespace comport {

class TCustomComPort;

inline constexpr int storeFailedError = CE_StoreFailed + 1;
inline constexpr int loadFailedError = CE_LoadFailed + 1;
inline constexpr int registryError = CE_RegError + 1;

class ESettingsStoreError : public EComPort {
public:
    ESettingsStoreError(const EComPort& reported, std::string detail)
        : EComPort(reported), detail_(std::move(detail)) {}
    const std::string& detail() const noexcept { return detail_; }

private:
    std::string detail_;
};

// The ini file's other sections and keys are kept; a missing file reads as an empty one and is
// created by saving.
void saveSettingsToIniFile(TCustomComPort& port, const std::string& path);
void loadSettingsFromIniFile(TCustomComPort& port, const std::string& path);

// The key (e.g. "Software\\Torvin\\Updater") in a registry database file (on Windows: in the hive
// that databasePath names, "HKEY_CURRENT_USER"); saving creates the file
// and the key, loading needs both.
void saveSettingsToRegistry(TCustomComPort& port, const std::string& databasePath,
                            std::string_view keyPath);
void loadSettingsFromRegistry(TCustomComPort& port, const std::string& databasePath,
                              std::string_view keyPath);

} // namespace comport
