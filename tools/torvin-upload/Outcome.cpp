#include "tools/torvin-upload/Outcome.h"

#include "upload/UploadTexts.h"

namespace torvinupload {

std::string recordRejectedMessage(std::int32_t record) {
    return upload::recordRejectedMessage(record);
}

} // namespace torvinupload
