#include "frontend/PortFailure.h"

#include "comport/ComPort.h"
#include "comport/PortAccess.h"
#include "framework/Translation.h"
#include "frontend/RunDevice.h"

namespace upload::frontend {

namespace {

// Where a technician finds the name of the port the board is cabled to.
std::string whereToFindPorts(FailureReader reader) {
    if (reader == FailureReader::window)
        return fw::tr("Check that the board's cable is on this port, or choose another port in "
                      "the list.");
#ifdef _WIN32
    return fw::tr("Check the port's name: torvin-upload --list-ports lists the ports of this "
                  "computer (Device Manager shows them under Ports (COM & LPT)).");
#else
    return fw::tr("Check the port's name: torvin-upload --list-ports lists the ports of this "
                  "computer (ls -l /dev/serial/by-id shows the USB adapters plugged in).");
#endif
}

std::string adviceFor(const comport::EComPort& error, const std::string& portName,
                      FailureReader reader) {
    using namespace comport;
    switch (error.errorCode()) {
    case CE_OpenFailed + 1:
        if (auto advice = accessAdvice(portName, error.systemErrorCode()); !advice.empty())
            return advice;
        if (portMissing(error.systemErrorCode()))
            return fw::tr("This computer has no port of that name.") + "\n" +
                   whereToFindPorts(reader);
        return fw::tr("Check that this is the port the board is cabled to and that no other "
                      "program is using it.");
    case CE_WriteFailed + 1:
    case CE_ReadFailed + 1:
    case CE_ClearComFailed + 1: // the uploader asks what waits before it writes
        return fw::tr("The line to the board broke off: check the cable and the board's power, "
                      "then run the upload again.");
    default:
        return fw::tr("Check the port and the cable, then run the upload again.");
    }
}

} // namespace

PortFailure describePortFailure(const comport::EComPort& error, const comport::TCustomComPort& port,
                                const std::string& portName, std::int32_t recordsSent,
                                FailureReader reader) {
    PortFailure f;
    if (error.systemErrorCode() > 0)
        f.systemWords =
            port.device().systemErrorMessage(static_cast<std::uint32_t>(error.systemErrorCode()));
    if (const std::string device = devicePathOf(portName); device != portName) f.device = device;
    f.whatToDo = adviceFor(error, portName, reader);
    if (recordsSent > 0)
        f.whatToDo += "\n" + fw::tr("The board may hold an incomplete firmware: run the upload "
                                    "again before using it.");
    return f;
}

std::string windowFailureText(const comport::EComPort& error, const std::string& portName,
                              const PortFailure& failure) {
    const std::string port =
        failure.device.empty() ? portName : portName + " (" + failure.device + ")";
    std::string text = error.what();
    text += "\n\n";
    text += failure.systemWords.empty() ? fw::tr("Port {1}.", {port})
                                        : fw::tr("Port {1}: {2}.", {port, failure.systemWords});
    text += "\n" + failure.whatToDo;
    return text;
}

} // namespace upload::frontend
