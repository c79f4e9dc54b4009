// comport-terminal: a serial terminal on TComPort. Prints what arrives on the line as it comes
// and sends each line typed, ended by a carriage return as a terminal's Enter key sends it. Ends
// at the end of the input (Ctrl-D on Linux; Ctrl-Z then Enter in a Windows console).
//
//   comport-terminal PORT [BAUD]     PORT: COM1 ... or a device path; BAUD: 9600 by default

#include <comport/ComPort.h>

#include <cstdio>
#include <exception>
#include <iostream>
#include <string>

namespace {

// What ends the input where the program runs.
#ifdef _WIN32
constexpr const char* endOfInput = "Ctrl-Z then Enter";
#else
constexpr const char* endOfInput = "Ctrl-D";
#endif

} // namespace

int main(int argc, char** argv) {
    if (argc < 2 || argc > 3) {
        std::fprintf(stderr, "usage: comport-terminal PORT [BAUD]\n");
        return 64;
    }
    const std::string baud = argc == 3 ? argv[2] : "9600";
    if (baud.empty() || baud.find_first_not_of("0123456789") != std::string::npos ||
        baud.size() > 7) {
        std::fprintf(stderr, "comport-terminal: '%s' is not a baud rate\n", baud.c_str());
        return 64;
    }
    comport::TComPort port;
    try {
        port.setPort(argv[1]);
        port.setBaudRate(comport::brCustom);
        port.setCustomBaudRate(std::stoi(baud));
        port.setEvents(comport::TComEvents{comport::evRxChar});
        // By default line events go to the main thread through its queue, which only an event
        // loop serving it delivers (fw::checkSynchronize()). This program has no such loop: its
        // main thread waits for typed lines. smNone runs OnRxChar on the port's event thread.
        port.setSyncMethod(comport::smNone);
        // OnRxChar says how many bytes have arrived; reading that many returns at once. A read
        // for more would return with what is there, as the default time-outs ask (set
        // port.Timeouts() to wait for bytes instead).
        port.OnRxChar = [&port](fw::TObject*, std::int32_t count) {
            std::string bytes(static_cast<std::size_t>(count), '\0');
            const auto got = port.readBytes(reinterpret_cast<std::uint8_t*>(bytes.data()), count);
            std::fwrite(bytes.data(), 1, static_cast<std::size_t>(got), stdout);
            std::fflush(stdout);
        };
        port.openPort();
        std::fprintf(stderr, "comport-terminal: %s open; type lines to send, %s to end\n",
                     port.Port().c_str(), endOfInput);

        for (std::string line; std::getline(std::cin, line);)
            port.writeText(line + "\r");
        port.closePort();
    } catch (const comport::EComPort& e) {
        // The component's message carries the system's code ("Unable to open com port (Error:
        // 2)"); the device layer has the system's words for it.
        std::fprintf(stderr, "comport-terminal: %s", e.what());
        if (e.systemErrorCode() > 0) {
            const auto code = static_cast<std::uint32_t>(e.systemErrorCode());
            std::fprintf(stderr, ": %s", port.device().systemErrorMessage(code).c_str());
        }
        std::fputc('\n', stderr);
        return 1;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "comport-terminal: %s\n", e.what());
        return 1;
    }
    return 0;
}
