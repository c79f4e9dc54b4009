#pragma once

#include "upload/FirmwareImage.h"
#include "upload/Outcome.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace runlog {
class RunLog;
}

namespace torvinupload {

using upload::ExitStatus;

struct BatchRequest {
    std::vector<std::string> ports; // in the order given; at least one
    upload::ImageLines image;
    std::int32_t totalRecords = 0;
    bool quiet = false;
    bool trace = false;
    // Where each board's run is recorded, if anywhere, and what the record says of the image.
    runlog::RunLog* log = nullptr;
    std::string imageName;    // as given
    std::string imagePath;    // absolute; empty for the embedded image
    std::string imageWarning; // what the image's check found doubtful, if anything
    std::string imageSha256;
    // The serial number of the USB adapter behind a device file; empty when unknown.
    std::function<std::string(const std::string& device)> adapterSerial;
};

// Flashes every port at once, each board with a port and an upload run of its own, all served by
// this thread: a board that fails never holds up the others. One port shows as a lone upload does
// (a progress bar, then the outcome's message); several show one progress line per board on a
// terminal (prefixed plain lines otherwise) and end with a table of the outcomes. Ctrl-C and
// SIGTERM stop every run and name the boards left with an incomplete firmware.
//
// Returns 0 when every board completed; otherwise the status of the first board, in the order
// given, that did not. A stop by a signal returns its status (130, 143) whatever the boards did,
// and a run log that could not be written turns a batch of successes into 74.
ExitStatus uploadBoards(const BatchRequest& request);

} // namespace torvinupload
