#include "frontend/PortChoices.h"

#include <algorithm>

namespace upload::frontend {

namespace {

// An adapter's label begins with its device path; the name it is opened by may be another.
bool designates(const PortChoice& choice, const std::string& name) {
    return choice.name == name || choice.label == name || choice.label.starts_with(name + ":");
}

} // namespace

std::vector<PortChoice> portChoices(const std::vector<comport::SerialPortInfo>& adapters,
                                    const std::string& extra) {
    std::vector<PortChoice> list;
    auto add = [&list](PortChoice choice) {
        if (choice.name.empty() || findChoice(list, choice.name) >= 0) return;
        list.push_back(std::move(choice));
    };
    for (int n = 1; n <= 15; ++n)
        add({"COM" + std::to_string(n), "COM" + std::to_string(n)});
    for (const auto& a : adapters) {
        const std::string name = a.stableName.empty() ? a.devicePath : a.stableName;
        // A port the system lists under a COMn name (Windows) keeps its place, with what the
        // system knows of it.
        if (const int at = findChoice(list, name); at >= 0 && list[at].name == name)
            list[at].label = comport::describe(a);
        else
            add({name, comport::describe(a)});
    }
    add({extra, extra});
    return list;
}

int findChoice(const std::vector<PortChoice>& choices, const std::string& name) {
    if (name.empty()) return -1;
    const auto it = std::find_if(choices.begin(), choices.end(),
                                 [&name](const PortChoice& c) { return designates(c, name); });
    return it == choices.end() ? -1 : static_cast<int>(it - choices.begin());
}

} // namespace upload::frontend
