#include "cli/torvin-upload/UploadSession.h"

#include "framework/Exception.h"
#include "framework/Translation.h"
#include "upload/Outcome.h"

#include <csignal>

namespace torvinupload {

std::string stopName(int signal) {
#ifdef _WIN32
    // The console's events, which the program receives as these two signals.
    if (signal == SIGINT) return fw::tr("Ctrl-C or Ctrl-Break");
    if (signal == SIGTERM) return fw::tr("closing the console window");
#else
    if (signal == SIGINT) return "Ctrl-C (SIGINT)";
    if (signal == SIGTERM) return "SIGTERM";
#endif
    return fw::tr("a signal");
}

std::string incompleteFirmwareWarning() {
    return fw::tr("The board may hold an incomplete firmware: run the upload again before using "
                  "it.");
}

UploadSession::UploadSession(upload::UploadLogic& logic, ConsoleWindow& window, EventPump& pump,
                             std::FILE* errors)
    : logic_(logic), window_(window), pump_(pump), errors_(errors) {
    describe = [](const std::exception& e) { return std::string(e.what()); };
    window_.setClock([this] { return pump_.now(); });
    logic_.setListener(&window_);
}

UploadSession::~UploadSession() {
    logic_.setListener(nullptr);
}

void UploadSession::rxChar(std::int32_t count) {
    if (failure_) return;
    try {
        logic_.ComPort1RxChar(count);
    } catch (...) {
        // The logic has stopped the timer and ended the run already.
        failure_ = std::current_exception();
    }
}

ExitStatus UploadSession::run() {
    if (const auto status = start()) return *status;
    for (;;) {
        if (const auto status = poll()) return *status;
        pump_.serve(*nextWake());
    }
}

std::optional<ExitStatus> UploadSession::start() {
    try {
        logic_.BitBtn2Click(); // opens the port
        if (onOpened) onOpened();
        logic_.BitBtn2Click(); // starts a run
    } catch (...) {
        return fail(std::current_exception());
    }
    return std::nullopt;
}

std::optional<ExitStatus> UploadSession::poll() {
    while (!failure_ && window_.runGoingOn()) {
        if (const int signal = interruption ? interruption() : 0) return interrupt(signal);
        auto& timer = window_.timer1();
        if (!timer.nextTick()) break; // nothing left to wait for: see outcome()
        if (!timer.takeTick(pump_.now())) return std::nullopt;
        try {
            logic_.Timer1Timer();
        } catch (...) {
            return fail(std::current_exception());
        }
    }
    if (failure_) return fail(failure_);
    return outcome();
}

std::optional<EventPump::Clock::time_point> UploadSession::nextWake() const {
    return window_.timer1().nextTick();
}

ExitStatus UploadSession::outcome() {
    window_.finishProgress();
    const auto& end = window_.runEnd();
    if (!end) {
        // The logic always leaves a run with its retry timer running until the run ends; getting
        // here means it did not, and waiting on would wait for ever.
        outcomeText_ = "the run stopped at record " + std::to_string(logic_.recordIndex()) +
                       " with no outcome";
        std::fprintf(errors_, "torvin-upload: %s\n", outcomeText_.c_str());
        return ExitStatus::failed;
    }
    outcomeText_ = upload::outcomeWords(end->outcome, end->record);
    switch (end->outcome) {
    case upload::RunOutcome::completed:
    case upload::RunOutcome::noAnswer:
    case upload::RunOutcome::oldMonitor:
    case upload::RunOutcome::invalidMonitor:
        break; // the logic's message box said it
    case upload::RunOutcome::recordRejected:
        // The window leaves this stop silent; here it needs a line of its own.
        window_.printLine(outcomeText_);
        break;
    case upload::RunOutcome::unconfirmed:
        std::fprintf(errors_, "torvin-upload: %s\n%s\n",
                     fw::tr("the board's answers could not be matched to the records sent, so "
                            "one may be missing.")
                         .c_str(),
                     incompleteFirmwareWarning().c_str());
        std::fflush(errors_);
        break;
    case upload::RunOutcome::portError:
    case upload::RunOutcome::failed:
    case upload::RunOutcome::interrupted:
    case upload::RunOutcome::terminated:
        break; // the front end's own: told by fail() and interrupt(), never by the logic
    }
    return upload::exitStatusOf(end->outcome);
}

ExitStatus UploadSession::interrupt(int signal) {
    window_.finishProgress(); // ends the bar's line
    if (onInterrupted) onInterrupted();
    const std::int32_t record = logic_.recordIndex();
    // The run's record keeps English words; the user reads them in their language.
    const auto outcome =
        signal == SIGTERM ? upload::RunOutcome::terminated : upload::RunOutcome::interrupted;
    outcomeText_ = upload::outcomeWords(outcome, record) + " " +
                   (record == 0 ? std::string("while the programming-mode command waited")
                                : "at record " + std::to_string(record));
    const std::string where = record == 0 ? fw::tr("while the programming-mode command waited")
                                          : fw::tr("at record {1}", {std::to_string(record)});
    std::fprintf(
        errors_, "torvin-upload: %s\n%s\n",
        fw::tr("stopped by {1} {2}; the port is closed.", {stopName(signal), where}).c_str(),
        incompleteFirmwareWarning().c_str());
    std::fflush(errors_);
    return upload::exitStatusOf(outcome);
}

ExitStatus UploadSession::fail(std::exception_ptr failure) {
    window_.finishProgress();
    upload::RunOutcome outcome = upload::RunOutcome::failed;
    std::string text;
    try {
        std::rethrow_exception(failure);
    } catch (const fw::EConvertError& e) {
        // Only a damaged image line can do this; the images sent are checked beforehand.
        text = "a record of the image cannot be sent: " + describe(e);
        outcomeText_ = "a record of the image cannot be sent";
    } catch (const std::exception& e) {
        outcome = upload::failureOutcome(e);
        text = describe(e);
        outcomeText_ = outcome == upload::RunOutcome::portError
                           ? upload::outcomeWords(outcome, logic_.recordIndex()) + ": " + e.what()
                           : std::string(e.what());
    } catch (...) {
        text = "unknown failure";
        outcomeText_ = text;
    }
    std::fprintf(errors_, "torvin-upload: %s\n", text.c_str());
    std::fflush(errors_);
    return upload::exitStatusOf(outcome);
}

} // namespace torvinupload
