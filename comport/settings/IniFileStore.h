#pragma once

#include "comport/settings/IniDocument.h"
#include "comport/settings/SettingsStores.h"

#include <string>

namespace comport {

// An ini file on disk as a settings store. Opening reads the file (a missing file is an empty
// one); every put writes the whole file again atomically, so the file on disk always holds every
// put so far and a crash never leaves it torn. Failures raise EIniFileError or fw::EFileError
// with the file's name and the reason.
class TIniFileStore : public TIniStore {
public:
    explicit TIniFileStore(std::string path);

    std::string getText(std::string_view section, std::string_view key,
                        std::string_view defaultText) override;
    void putText(std::string_view section, std::string_view key, std::string_view text) override;
    // A key whose text is not an integer is an error naming the key, not a silent default.
    std::int32_t getInteger(std::string_view section, std::string_view key,
                            std::int32_t defaultValue) override;
    void putInteger(std::string_view section, std::string_view key, std::int32_t value) override;

    // Between these two the puts only change the text in memory and endUpdate writes the file
    // once: many keys cost one write, and the file changes from old to new in one step.
    void beginUpdate() { deferring_ = true; }
    void endUpdate();

    const std::string& path() const { return path_; }

private:
    std::string path_;
    IniDocument document_;
    bool deferring_ = false;
    bool unsaved_ = false;
};

} // namespace comport
