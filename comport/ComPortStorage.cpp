// Settings storage of the port: not available in this build.

#include "comport/CustomComPort.h"

namespace comport {

void TCustomComPort::writeSettingsToRegistry(TRegistryStore&) {
    throw fw::Exception("not available");
}
void TCustomComPort::writeSettingsToIni(TIniStore&) {
    throw fw::Exception("not available");
}
void TCustomComPort::readSettingsFromRegistry(TRegistryStore&) {
    throw fw::Exception("not available");
}
void TCustomComPort::readSettingsFromIni(TIniStore&) {
    throw fw::Exception("not available");
}

} // namespace comport
