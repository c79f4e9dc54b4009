#include "app/PortChoices.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

namespace app {

namespace fs = std::filesystem;

namespace {

// Entries of `dir` whose name starts with `prefix`, sorted; a missing folder gives none.
std::vector<std::string> entries(const fs::path& dir, const std::string& prefix) {
    std::vector<std::string> found;
    std::error_code ec;
    for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (name.rfind(prefix, 0) == 0) found.push_back(it->path().string());
    }
    std::sort(found.begin(), found.end());
    return found;
}

} // namespace

std::vector<std::string> serialDevicesPresent(const std::string& devRoot) {
    const fs::path root(devRoot);
    std::vector<std::string> devices = entries(root / "serial" / "by-id", "");
    for (const char* prefix : {"ttyUSB", "ttyACM"}) {
        const auto more = entries(root, prefix);
        devices.insert(devices.end(), more.begin(), more.end());
    }
    return devices;
}

std::vector<std::string> portChoices(const std::vector<std::string>& present,
                                     const std::string& extra) {
    std::vector<std::string> list;
    auto add = [&list](const std::string& name) {
        if (!name.empty() && std::find(list.begin(), list.end(), name) == list.end())
            list.push_back(name);
    };
    for (int n = 1; n <= 15; ++n)
        add("COM" + std::to_string(n));
    for (const auto& d : present)
        add(d);
    add(extra);
    return list;
}

} // namespace app
