#pragma once

// The two kinds of store the port can keep its settings in. The caller opens a store, hands it to
// one of the port's read or write operations and closes it again; the port never owns a store.

#include "framework/Exception.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace comport {

// Named sections of key/value texts, such as an ini file.
class TIniStore {
public:
    virtual ~TIniStore() = default;

    // The key's text, or defaultText when the section has no such key.
    virtual std::string getText(std::string_view section, std::string_view key,
                                std::string_view defaultText) = 0;
    // Sets the key's text, creating the section and the key as needed.
    virtual void putText(std::string_view section, std::string_view key, std::string_view text) = 0;
    // The key's value as a signed 32-bit integer, or defaultValue when the key is absent.
    virtual std::int32_t getInteger(std::string_view section, std::string_view key,
                                    std::int32_t defaultValue) = 0;
    virtual void putInteger(std::string_view section, std::string_view key, std::int32_t value) = 0;
};

// A failure of a registry store. message() is one of the fixed texts below, naming the value;
// detail() says, where known, what the underlying store reported.
class ERegistryException : public fw::Exception {
public:
    explicit ERegistryException(std::string message, std::string detail = {})
        : fw::Exception(std::move(message)), detail_(std::move(detail)) {}
    const std::string& detail() const noexcept { return detail_; }

    static ERegistryException invalidDataType(std::string_view name, std::string detail = {}) {
        return ERegistryException("Invalid data type for '" + std::string(name) + "'",
                                  std::move(detail));
    }
    static ERegistryException failedToSet(std::string_view name, std::string detail = {}) {
        return ERegistryException("Failed to set data for '" + std::string(name) + "'",
                                  std::move(detail));
    }
    static ERegistryException failedToGet(std::string_view name, std::string detail = {}) {
        return ERegistryException("Failed to get data for '" + std::string(name) + "'",
                                  std::move(detail));
    }

private:
    std::string detail_;
};

// Registry value types the stores know.
enum TRegistryDataType : std::uint32_t {
    regNone = 0,
    regSz = 1,       // text followed by one zero byte
    regExpandSz = 2, // read as text like regSz
    regBinary = 3,
    regDword = 4, // four bytes, little-endian
};

// The values of one registry key that the caller has opened; names are value names of that key.
class TRegistryStore {
public:
    virtual ~TRegistryStore() = default;

    // The text of a string value up to its first zero byte; empty text for a missing value or one
    // without data (of any type). Another type fails with "Invalid data type for '<name>'".
    virtual std::string getText(std::string_view name) = 0;
    // Writes a string value; a refused write fails with "Failed to set data for '<name>'".
    virtual void putText(std::string_view name, std::string_view text) = 0;
    // A four-byte integer value. A missing value, or data that is not four bytes, fails with
    // "Failed to get data for '<name>'"; another type with "Invalid data type for '<name>'".
    virtual std::int32_t getInteger(std::string_view name) = 0;
    // Writes a four-byte integer value; a refused write fails with "Failed to set data ...".
    virtual void putInteger(std::string_view name, std::int32_t value) = 0;
};

} // namespace comport
