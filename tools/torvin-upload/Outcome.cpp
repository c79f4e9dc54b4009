#include "tools/torvin-upload/Outcome.h"

namespace torvinupload {

std::string recordRejectedMessage(std::int32_t record) {
    return "REGISTRO " + std::to_string(record) + " RECUSADO PELA PLACA !";
}

} // namespace torvinupload
