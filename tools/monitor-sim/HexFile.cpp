#include "tools/monitor-sim/HexFile.h"

#include "upload/IntelHexRecord.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <vector>

namespace monitorsim {

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
            text += upload::intelhex::upperAddressRecord(static_cast<std::uint16_t>(upper)) + '\n';
        }
        text +=
            upload::intelhex::dataRecord(static_cast<std::uint16_t>(start & 0xFFFF), run) + '\n';
    }
    text += upload::intelhex::endOfFileRecord() + '\n';
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
