#pragma once

#include "tools/torvin-upload/Outcome.h"
#include "upload/FirmwareImage.h"

#include <cstdint>
#include <string>

namespace torvinupload {

struct UploadRequest {
    std::string port;
    upload::ImageLines image;
    std::int32_t totalRecords = 0;
    bool quiet = false;
    bool trace = false;
};

// Runs one upload over a TComPort opened with the main window's settings: the upload logic, a
// console window, the port's events served on this thread. Prints progress and the outcome on
// standard output, failures on standard error; returns the exit status.
ExitStatus uploadOverPort(const UploadRequest& request);

} // namespace torvinupload
