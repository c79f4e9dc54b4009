#include "cli/torvin-upload/ImageFile.h"

#include "upload/IntelHexRecord.h"

#include <cstdio>
#include <cstring>

namespace torvinupload {
namespace {

using upload::intelhex::recordTypeData;
using upload::intelhex::recordTypeEndOfFile;
using upload::intelhex::recordTypeUpperAddress;
constexpr std::size_t headerBytes = 4; // byte count, address (2), type

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

std::string hex2(unsigned value) {
    char text[8];
    std::snprintf(text, sizeof text, "%02X", value & 0xFFu);
    return text;
}

std::string printable(char c) {
    const auto u = static_cast<unsigned char>(c);
    if (u >= 0x20 && u < 0x7F) return std::string("'") + c + "'";
    return "byte 0x" + hex2(u);
}

std::uint8_t recordType(std::string_view line) {
    return static_cast<std::uint8_t>(hexValue(line[7]) * 16 + hexValue(line[8]));
}

} // namespace

std::string ImageFile::checkLine(std::string_view line) {
    if (line.empty()) return "empty line";
    if (line[0] != ':') return "does not start with ':' (" + printable(line[0]) + " found)";
    for (std::size_t i = 1; i < line.size(); ++i) {
        if (hexValue(line[i]) < 0)
            return printable(line[i]) + " at column " + std::to_string(i + 1) +
                   " is not a hexadecimal digit";
    }
    const std::size_t digits = line.size() - 1;
    if (digits % 2 != 0) return "odd number of hexadecimal digits (" + std::to_string(digits) + ")";
    const std::size_t bytes = digits / 2;
    if (bytes < headerBytes + 1)
        return "too short for a record (" + std::to_string(bytes) + " bytes, at least 5)";

    std::vector<std::uint8_t> value(bytes);
    for (std::size_t b = 0; b < bytes; ++b)
        value[b] =
            static_cast<std::uint8_t>(hexValue(line[1 + 2 * b]) * 16 + hexValue(line[2 + 2 * b]));
    const std::size_t dataBytes = bytes - headerBytes - 1;
    if (value[0] != dataBytes)
        return "byte count " + hex2(value[0]) + " (" + std::to_string(value[0]) +
               ") does not match the line, which holds " + std::to_string(dataBytes) +
               " data bytes";
    if (const std::uint8_t expected =
            upload::intelhex::recordChecksum(std::span(value).first(bytes - 1));
        expected != value[bytes - 1]) {
        return "wrong checksum " + hex2(value[bytes - 1]) + ", the record's bytes give " +
               hex2(expected);
    }
    switch (value[3]) {
    case recordTypeData:
        return {};
    case recordTypeUpperAddress:
        if (dataBytes != 2)
            return "an upper address record (type 04) holds 2 data bytes, not " +
                   std::to_string(dataBytes);
        return {};
    case recordTypeEndOfFile:
        if (dataBytes != 0) return "an end-of-file record (type 01) holds no data bytes";
        return {};
    default:
        return "record type " + hex2(value[3]) +
               " is not sent to the board (only 00 data, 04 upper address and 01 end of file)";
    }
}

ImageFile ImageFile::parse(std::string_view text, const std::string& name, std::string& error) {
    ImageFile image;
    error.clear();
    auto fail = [&](std::size_t lineNumber, const std::string& what) {
        error = name + ":" + std::to_string(lineNumber) + ": " + what;
        return ImageFile();
    };

    std::vector<std::string_view> lines;
    for (std::size_t at = 0; at < text.size();) {
        std::size_t end = text.find('\n', at);
        if (end == std::string_view::npos) end = text.size();
        std::string_view line = text.substr(at, end - at);
        if (line.ends_with('\r')) line.remove_suffix(1);
        lines.push_back(line);
        at = end + 1;
    }
    // Blank lines at the end are only the file's ending.
    while (!lines.empty() && lines.back().empty())
        lines.pop_back();

    bool ended = false;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const std::size_t lineNumber = i + 1;
        if (ended) return fail(lineNumber, "a line after the end-of-file record");
        if (const std::string wrong = checkLine(lines[i]); !wrong.empty())
            return fail(lineNumber, wrong);
        if (recordType(lines[i]) == recordTypeEndOfFile) {
            ended = true;
            continue;
        }
        image.records_.emplace_back(lines[i]);
    }
    if (image.records_.empty()) return fail(1, "no records to send");
    image.endOfFile_ = ended;
    for (const auto& record : image.records_)
        image.views_.push_back(record);
    return image;
}

ImageFile ImageFile::load(const std::string& path, std::string& error) {
    error.clear();
    const std::optional<std::string> text = readImageText(path, error);
    if (!text) return ImageFile();
    return parse(*text, path, error);
}

} // namespace torvinupload
