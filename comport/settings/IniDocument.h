#pragma once

// The text of an ini file held line by line, so that changing one key leaves every other byte of
// the file (comments, blank lines, other sections, line endings) as it was.
//
// The format is the common one: "[Section]" headers, "Key=Value" lines, lines starting with ";"
// or "#" are comments; lines end in CR LF, LF or CR. Section and key names compare without regard
// to letter case (a to z), and the first of duplicated sections or keys is the one that counts.
// Blanks around names and values are not part of them; a value that must keep such blanks, or that
// itself begins and ends with a double quote, is written inside one pair of double quotes, which
// reading removes.

#include "framework/Exception.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace comport {

// A section, key or value that an ini file cannot hold, or an ini file that cannot be used.
class EIniFileError : public fw::Exception {
public:
    using fw::Exception::Exception;
};

class IniDocument {
public:
    IniDocument() = default;
    explicit IniDocument(std::string_view content);

    // The key's value, or nothing when the section or the key is absent.
    std::optional<std::string> value(std::string_view section, std::string_view key) const;

    // Sets the key's value: replaces the first such key of the section in place, or adds it after
    // the section's last key, or adds the section at the end of the file. Raises EIniFileError for
    // names or values the format cannot hold (line breaks, zero bytes, "=" in a key, "]" in a
    // section, blanks at the ends of a name, empty names).
    void setValue(std::string_view section, std::string_view key, std::string_view value);

    std::string text() const;

private:
    struct Line {
        std::string text; // without its line ending
        std::string eol;  // "\n", "\r\n", "\r" or empty for a last line without one
    };
    enum class Kind { blank, comment, section, key, other };
    struct Parsed {
        Kind kind;
        std::string_view name;
        std::string_view rawValue;
    };

    static Parsed parse(std::string_view line);
    // Index of the first header of the section, or npos.
    std::size_t findSection(std::string_view section) const;

    std::string bom_;
    std::vector<Line> lines_;
    std::string newLine_ = "\n"; // for added lines: the file's own first line ending
};

} // namespace comport
