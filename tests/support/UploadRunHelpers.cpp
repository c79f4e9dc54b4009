#include "tests/support/UploadRunHelpers.h"

#include <stdexcept>

namespace testsupport {

using upload::scripted::Item;

std::vector<std::uint8_t> recordOnWire(std::string_view line) {
    if (line.empty() || line[0] != ':' || line.size() % 2 == 0)
        throw std::invalid_argument("not a record line");
    std::vector<std::uint8_t> bytes{':'};
    for (std::size_t i = 1; i + 1 < line.size(); i += 2)
        bytes.push_back(
            static_cast<std::uint8_t>(std::stoi(std::string(line.substr(i, 2)), nullptr, 16)));
    return bytes;
}

std::vector<int> recordsReceived(const upload::scripted::ScriptedBoard& board) {
    std::vector<int> records;
    for (const auto& item : board.items())
        if (item.kind == Item::Kind::Record) records.push_back(item.record);
    return records;
}

int commandsReceived(const upload::scripted::ScriptedBoard& board) {
    int n = 0;
    for (const auto& item : board.items())
        n += item.kind == Item::Kind::Command;
    return n;
}

std::vector<std::string> entriesOf(const std::vector<std::string>& entries,
                                   std::string_view prefix) {
    std::vector<std::string> found;
    for (const auto& e : entries)
        if (e.starts_with(prefix)) found.push_back(e.substr(prefix.size()));
    return found;
}

std::vector<int> oneTo(int n) {
    std::vector<int> v;
    for (int i = 1; i <= n; ++i)
        v.push_back(i);
    return v;
}

} // namespace testsupport
