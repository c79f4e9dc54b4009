#include "tools/torvin-upload/ListPorts.h"

#include "comport/SerialPorts.h"
#include "upload/frontend/PortChoices.h"
#include "upload/frontend/RunDevice.h"

#include <exception>

namespace torvinupload {

ExitStatus listPorts(std::FILE* out, std::FILE* errors) {
    ExitStatus status = ExitStatus::completed;
    std::vector<comport::SerialPortInfo> adapters;
    try {
        adapters = comport::serialPortsPresent();
    } catch (const std::exception& e) {
        std::fprintf(errors, "torvin-upload: %s; only COM1 to COM15 are listed\n", e.what());
        status = ExitStatus::failed;
    }
    for (const auto& choice : upload::frontend::portChoices(adapters, {})) {
        // An adapter's line names its device already; a COM name says which device it opens.
        const std::string device = upload::frontend::devicePathOf(choice.name);
        if (choice.label == choice.name && device != choice.name)
            std::fprintf(out, "%s: %s\n", choice.label.c_str(), device.c_str());
        else
            std::fprintf(out, "%s\n", choice.label.c_str());
    }
    if (std::fflush(out) != 0 || std::ferror(out)) {
        std::perror("torvin-upload: writing the port list");
        status = ExitStatus::failed;
    }
    return status;
}

} // namespace torvinupload
