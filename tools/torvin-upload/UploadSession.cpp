#include "tools/torvin-upload/UploadSession.h"

#include "framework/Exception.h"
#include "upload/UploadTexts.h"

#include <csignal>

namespace torvinupload {

UploadSession::UploadSession(upload::UploadLogic& logic, ConsoleWindow& window, EventPump& pump,
                             std::FILE* errors)
    : logic_(logic), window_(window), pump_(pump), errors_(errors) {
    describe = [](const std::exception& e) { return std::string(e.what()); };
    window_.setClock([this] { return pump_.now(); });
}

void UploadSession::rxChar(std::int32_t count) {
    if (failure_) return;
    try {
        logic_.ComPort1RxChar(count);
    } catch (...) {
        // The logic has stopped the timer and ended the run already.
        failure_ = std::current_exception();
    }
    window_.noteRecord(logic_.recordIndex());
}

ExitStatus UploadSession::run() {
    try {
        logic_.BitBtn2Click(); // opens the port
        if (onOpened) onOpened();
        logic_.BitBtn2Click(); // starts a run
    } catch (...) {
        return fail(std::current_exception());
    }
    window_.noteRecord(logic_.recordIndex());

    while (!failure_ && window_.runGoingOn()) {
        if (const int signal = interruption ? interruption() : 0) return interrupt(signal);
        auto& timer = window_.timer1();
        const auto next = timer.nextTick();
        if (!next) break; // nothing left to wait for: see outcome()
        if (timer.takeTick(pump_.now())) {
            try {
                logic_.Timer1Timer();
            } catch (...) {
                return fail(std::current_exception());
            }
            window_.noteRecord(logic_.recordIndex());
            continue;
        }
        pump_.serve(*next);
    }
    if (failure_) return fail(failure_);
    return outcome();
}

ExitStatus UploadSession::outcome() {
    window_.finishProgress();
    const auto& message = window_.message();
    if (message) {
        if (*message == upload::messageCompleted) return ExitStatus::completed;
        if (*message == upload::messageNoAnswer) return ExitStatus::noAnswer;
        if (*message == upload::messageOldMonitor || *message == upload::messageInvalidMonitor)
            return ExitStatus::monitorVersion;
    }
    if (window_.runEnded() && logic_.errorCount() == 4) {
        window_.printLine(recordRejectedMessage(logic_.recordIndex()));
        return ExitStatus::recordRejected;
    }
    // The logic always leaves a run with its retry timer running until the run ends; getting
    // here means it did not, and waiting on would wait for ever.
    std::fprintf(errors_, "torvin-upload: the run stopped at record %d with no outcome\n",
                 logic_.recordIndex());
    return ExitStatus::failed;
}

ExitStatus UploadSession::interrupt(int signal) {
    window_.finishProgress(); // ends the bar's line
    if (onInterrupted) onInterrupted();
    const std::int32_t record = logic_.recordIndex();
    const std::string where = record == 0 ? std::string("while the programming-mode command waited")
                                          : "at record " + std::to_string(record);
    std::fprintf(errors_,
                 "torvin-upload: stopped by %s %s; the port is closed.\n"
                 "The board may hold an incomplete firmware: run the upload again before using "
                 "it.\n",
                 signal == SIGINT    ? "Ctrl-C (SIGINT)"
                 : signal == SIGTERM ? "SIGTERM"
                                     : "a signal",
                 where.c_str());
    std::fflush(errors_);
    return signal == SIGTERM ? ExitStatus::terminated : ExitStatus::interrupted;
}

ExitStatus UploadSession::fail(std::exception_ptr failure) {
    window_.finishProgress();
    ExitStatus status = ExitStatus::failed;
    std::string text;
    try {
        std::rethrow_exception(failure);
    } catch (const fw::EConvertError& e) {
        // Only a damaged image line can do this; the images sent are checked beforehand.
        text = "a record of the image cannot be sent: " + describe(e);
    } catch (const fw::Exception& e) {
        // Everything else the logic's handlers raise comes from the port.
        status = ExitStatus::portError;
        text = describe(e);
    } catch (const std::exception& e) {
        text = describe(e);
    } catch (...) {
        text = "unknown failure";
    }
    std::fprintf(errors_, "torvin-upload: %s\n", text.c_str());
    std::fflush(errors_);
    return status;
}

} // namespace torvinupload
