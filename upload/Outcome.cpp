#include "upload/Outcome.h"

#include "framework/Exception.h"
#include "upload/UploadTexts.h"

namespace upload {

ExitStatus exitStatusOf(RunOutcome outcome) {
    switch (outcome) {
    case RunOutcome::completed:
        return ExitStatus::completed;
    case RunOutcome::noAnswer:
        return ExitStatus::noAnswer;
    case RunOutcome::oldMonitor:
    case RunOutcome::invalidMonitor:
        return ExitStatus::monitorVersion;
    case RunOutcome::recordRejected:
        return ExitStatus::recordRejected;
    case RunOutcome::unconfirmed:
        return ExitStatus::unconfirmed;
    case RunOutcome::portError:
        return ExitStatus::portError;
    case RunOutcome::failed:
        return ExitStatus::failed;
    case RunOutcome::interrupted:
        return ExitStatus::interrupted;
    case RunOutcome::terminated:
        return ExitStatus::terminated;
    }
    return ExitStatus::failed; // not an outcome: a value cast from elsewhere
}

std::string outcomeWords(RunOutcome outcome, std::int32_t record) {
    switch (outcome) {
    case RunOutcome::completed:
        return std::string(messageCompleted);
    case RunOutcome::noAnswer:
        return std::string(messageNoAnswer);
    case RunOutcome::oldMonitor:
        return std::string(messageOldMonitor);
    case RunOutcome::invalidMonitor:
        return std::string(messageInvalidMonitor);
    case RunOutcome::recordRejected:
        return recordRejectedMessage(record);
    case RunOutcome::unconfirmed:
        return std::string(messageUncertain);
    case RunOutcome::portError:
        return "port error";
    case RunOutcome::failed:
        return "failure";
    case RunOutcome::interrupted:
        return "stopped by Ctrl-C";
    case RunOutcome::terminated:
        return "stopped by SIGTERM";
    }
    return "failure";
}

RunOutcome failureOutcome(const std::exception& failure) {
    if (dynamic_cast<const fw::EConvertError*>(&failure)) return RunOutcome::failed;
    if (dynamic_cast<const fw::Exception*>(&failure)) return RunOutcome::portError;
    return RunOutcome::failed;
}

} // namespace upload
