#include "tools/monitor-sim/HexFile.h"

#include "tools/monitor-sim/HexRecord.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <vector>

namespace monitorsim {
namespace {

void appendRecord(std::string& text, std::uint16_t address, RecordType type,
                  std::span<const std::uint8_t> data) {
    std::vector<std::uint8_t> raw{
        static_cast<std::uint8_t>(data.size()), static_cast<std::uint8_t>(address >> 8),
        static_cast<std::uint8_t>(address & 0xFF), static_cast<std::uint8_t>(type)};
    raw.insert(raw.end(), data.begin(), data.end());
    raw.push_back(checksumFor(raw));
    static constexpr char digits[] = "0123456789ABCDEF";
    text += ':';
    for (std::uint8_t b : raw) {
        text += digits[b >> 4];
        text += digits[b & 0x0F];
    }
    text += '\n';
}

} // namespace

std::string toIntelHex(const FlashMemory& memory) {
    std::string text;
    bool upperWritten = false;
    std::uint32_t upper = 0;
    std::uint32_t a = memory.begin();
    while (a < memory.end()) {
        if (!memory.isWritten(a)) {
            ++a;
            continue;
        }
        std::vector<std::uint8_t> run;
        const std::uint32_t start = a;
        do {
            run.push_back(memory.at(a++));
        } while (a < memory.end() && a % 16 != 0 && memory.isWritten(a));
        if (!upperWritten || start >> 16 != upper) {
            upper = start >> 16;
            upperWritten = true;
            const std::uint8_t upperBytes[] = {static_cast<std::uint8_t>(upper >> 8),
                                               static_cast<std::uint8_t>(upper & 0xFF)};
            appendRecord(text, 0, RecordType::extendedLinearAddress, upperBytes);
        }
        appendRecord(text, static_cast<std::uint16_t>(start & 0xFFFF), RecordType::data, run);
    }
    appendRecord(text, 0, RecordType::endOfFile, {});
    return text;
}

void saveIntelHex(const FlashMemory& memory, const std::string& path) {
    const std::string text = toIntelHex(memory);
    const std::string temporary = path + ".part";
    auto fail = [&](const char* what) {
        const int code = errno;
        std::remove(temporary.c_str());
        throw std::runtime_error("cannot " + std::string(what) + " '" + path +
                                 "': " + std::strerror(code));
    };
    std::FILE* file = std::fopen(temporary.c_str(), "w");
    if (!file) fail("create");
    const bool wrote = std::fwrite(text.data(), 1, text.size(), file) == text.size();
    if (std::fclose(file) != 0 || !wrote) fail("write");
    if (std::rename(temporary.c_str(), path.c_str()) != 0) fail("replace");
}

} // namespace monitorsim
