#include "comport/settings/IniFileStore.h"

#include "framework/Convert.h"
#include "framework/FileIO.h"

namespace comport {

TIniFileStore::TIniFileStore(std::string path) : path_(std::move(path)) {
    if (auto content = fw::readWholeFile(path_)) document_ = IniDocument(*content);
}

std::string TIniFileStore::getText(std::string_view section, std::string_view key,
                                   std::string_view defaultText) {
    if (auto value = document_.value(section, key)) return *value;
    return std::string(defaultText);
}

void TIniFileStore::putText(std::string_view section, std::string_view key, std::string_view text) {
    if (deferring_) {
        document_.setValue(section, key, text);
        unsaved_ = true;
        return;
    }
    IniDocument changed = document_;
    changed.setValue(section, key, text);
    fw::writeFileAtomically(path_, changed.text());
    // Only what reached the disk is kept, so the store never claims a value the file lacks.
    document_ = std::move(changed);
}

void TIniFileStore::endUpdate() {
    deferring_ = false;
    if (!unsaved_) return;
    fw::writeFileAtomically(path_, document_.text());
    unsaved_ = false;
}

std::int32_t TIniFileStore::getInteger(std::string_view section, std::string_view key,
                                       std::int32_t defaultValue) {
    const auto value = document_.value(section, key);
    if (!value) return defaultValue;
    if (auto number = fw::tryStrToInt(*value)) return *number;
    throw EIniFileError("'" + *value + "' is not a valid integer for '" + std::string(key) +
                        "' in section [" + std::string(section) + "] of " + path_ +
                        "; correct the value or remove the key");
}

void TIniFileStore::putInteger(std::string_view section, std::string_view key, std::int32_t value) {
    putText(section, key, std::to_string(value));
}

} // namespace comport
