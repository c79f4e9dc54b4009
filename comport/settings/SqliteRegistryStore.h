#pragma once

// A registry key kept in an SQLite database file, for systems without a registry. The database
// holds a tree of keys ("Software\Torvin\Updater", names compared without regard to the case of
// a to z) and, per key, named values with a type code and raw data, as a registry does, so a
// value can have a type or a size its reader does not expect. Every put is one transaction (or
// joins the one that beginUpdate opened; closing the store without endUpdate drops it): a
// crash leaves the value either old or new.

#include "comport/settings/SettingsStores.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

struct sqlite3;

namespace comport {

class TSqliteRegistryStore : public TRegistryStore {
public:
    enum TAccess : std::uint8_t {
        accessRead,     // the key must exist; every put fails
        accessReadWrite // the database file and the key (with its parents) are created as needed
    };

    // Opens the key; failures (no such file or key, not a database) raise ERegistryException
    // naming the key and the file, with the database's own text in detail().
    TSqliteRegistryStore(const std::string& databasePath, std::string_view keyPath, TAccess access);
    ~TSqliteRegistryStore() override;
    TSqliteRegistryStore(const TSqliteRegistryStore&) = delete;
    TSqliteRegistryStore& operator=(const TSqliteRegistryStore&) = delete;

    std::string getText(std::string_view name) override;
    void putText(std::string_view name, std::string_view text) override;
    std::int32_t getInteger(std::string_view name) override;
    void putInteger(std::string_view name, std::int32_t value) override;

    // A value as stored: its type code and its data bytes.
    struct TRawValue {
        std::uint32_t type;
        std::string data;
        bool operator==(const TRawValue&) const = default;
    };
    std::optional<TRawValue> getValue(std::string_view name);
    // Writes a value of any type; a refused write fails with "Failed to set data for '<name>'".
    void putValue(std::string_view name, std::uint32_t type, std::string_view data);
    // Removes a value; false when there was none.
    bool deleteValue(std::string_view name);

    // Between these two every put joins one transaction that endUpdate commits: many values
    // cost one write to disk, and they change together. Failures raise ERegistryException.
    void beginUpdate();
    void endUpdate();

    // The key path as stored: backslash-separated, without empty parts.
    const std::string& keyPath() const { return keyPath_; }

private:
    sqlite3* db_ = nullptr;
    std::string keyPath_;
    std::int64_t keyId_ = 0;
};

} // namespace comport
