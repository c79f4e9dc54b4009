#include "cli/torvin-upload/ListPorts.h"

#include "comport/SerialPorts.h"
#include "framework/Translation.h"
#include "frontend/PortChoices.h"
#include "frontend/RunDevice.h"

#include <exception>

namespace torvinupload {

ExitStatus listPorts(std::FILE* out, std::FILE* errors) {
    ExitStatus status = ExitStatus::completed;
    std::vector<comport::SerialPortInfo> adapters;
    try {
        adapters = comport::serialPortsPresent();
    } catch (const std::exception& e) {
        std::fprintf(errors, "torvin-upload: %s\n",
                     fw::tr("{1}; only COM1 to COM15 are listed", {e.what()}).c_str());
        status = ExitStatus::failed;
    }
    for (const auto& choice : upload::frontend::portChoices(adapters, {})) {
        // An adapter's line names its device already; a COM name says which device it opens,
        // and whether this computer has it.
        const std::string device = upload::frontend::devicePathOf(choice.name);
        std::string line = choice.label;
        if (choice.label == choice.name) {
            if (device != choice.name) line += ": " + device;
            if (!upload::frontend::portPresent(choice.name)) line += " " + fw::tr("(not present)");
        }
        std::fprintf(out, "%s\n", line.c_str());
    }
    if (std::fflush(out) != 0 || std::ferror(out)) {
        std::perror("torvin-upload: writing the port list");
        status = ExitStatus::failed;
    }
    return status;
}

} // namespace torvinupload
