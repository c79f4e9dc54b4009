// comport-terminal: a serial terminal on TComPort. Prints what arrives on the line as it comes
// and sends each line typed, ended by a carriage return as a terminal's Enter key sends it. Ends
// at the end of the input (Ctrl-D).
//
//   comport-terminal PORT [BAUD]     PORT: COM1 ... or a device path; BAUD: 9600 by default

#include <comport/ComPort.h>

#include <cstdio>
#include <exception>
#include <iostream>
#include <string>

int main(int argc, char** argv) {
    if (argc < 2 || argc > 3) {
        std::fprintf(stderr, "usage: comport-terminal PORT [BAUD]\n");
        return 64;
    }
    try {
        comport::TComPort port;
        port.setPort(argv[1]);
        const std::string baud = argc == 3 ? argv[2] : "9600";
        if (baud.empty() || baud.find_first_not_of("0123456789") != std::string::npos ||
            baud.size() > 7) {
            std::fprintf(stderr, "comport-terminal: '%s' is not a baud rate\n", baud.c_str());
            return 64;
        }
        port.setBaudRate(comport::brCustom);
        port.setCustomBaudRate(std::stoi(baud));
        port.setEvents(comport::TComEvents{comport::evRxChar});
        // No event loop here: received characters are handled on the port's own event thread.
        port.setSyncMethod(comport::smNone);
        port.OnRxChar = [&port](fw::TObject*, std::int32_t count) {
            std::string bytes(static_cast<std::size_t>(count), '\0');
            const auto got = port.readBytes(reinterpret_cast<std::uint8_t*>(bytes.data()), count);
            std::fwrite(bytes.data(), 1, static_cast<std::size_t>(got), stdout);
            std::fflush(stdout);
        };
        port.openPort();
        std::fprintf(stderr, "comport-terminal: %s open; type lines to send, Ctrl-D to end\n",
                     port.Port().c_str());

        for (std::string line; std::getline(std::cin, line);)
            port.writeText(line + "\r");
        port.closePort();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "comport-terminal: %s\n", e.what());
        return 1;
    }
    return 0;
}
