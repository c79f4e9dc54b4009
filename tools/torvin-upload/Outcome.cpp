#include "tools/torvin-upload/Outcome.h"

namespace torvinupload {

std::string recordRejectedMessage(std::int32_t record) {
    // Record 0 is the programming-mode command, still outstanding when the refusals came.
    if (record == 0) return "COMANDO DE PROGRAMAÇÃO RECUSADO PELA PLACA !";
    return "REGISTRO " + std::to_string(record) + " RECUSADO PELA PLACA !";
}

} // namespace torvinupload
