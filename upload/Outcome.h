#pragma once

#include <cstdint>
#include <exception>
#include <string>

namespace upload {

// How an upload run ended. The upload logic ends a run with one of the first six; a front end
// ends it with one of the others, when a failure leaves a handler or the user stops the program.
// Every front end maps these with switches that name each value, so an outcome added here is a
// compile error wherever it is not yet handled.
enum class RunOutcome {
    completed,      // the last record acknowledged
    noAnswer,       // five sends of one item unanswered
    oldMonitor,     // "[I]"
    invalidMonitor, // "[J]" or "[K]"
    recordRejected, // one record, or the programming-mode command, refused four times
    unconfirmed,    // the answers could not be matched to the records sent: one may be missing
    portError,      // the port could not be opened, read or written
    failed,         // any other failure out of a handler
    interrupted,    // Ctrl-C (SIGINT), or Ctrl-Break on Windows
    terminated,     // SIGTERM, or the console window closed on Windows
};

// Every outcome, in the order above: for what must hold for each of them (a table's widths).
inline constexpr RunOutcome everyRunOutcome[] = {
    RunOutcome::completed,      RunOutcome::noAnswer,       RunOutcome::oldMonitor,
    RunOutcome::invalidMonitor, RunOutcome::recordRejected, RunOutcome::unconfirmed,
    RunOutcome::portError,      RunOutcome::failed,         RunOutcome::interrupted,
    RunOutcome::terminated,
};

// torvin-upload's exit statuses, as README.md documents them, one per outcome so that a
// production script can tell them apart; the run log records the same for the window's runs.
enum class ExitStatus : int {
    completed = 0,
    failed = 1, // a failure that is none of the below (reported on standard error)
    noAnswer = 2,
    monitorVersion = 3, // too old or not valid
    recordRejected = 4,
    portError = 5,
    unconfirmed = 6,
    usage = 64,        // bad command line
    badImage = 65,     // the --image file is not a usable image
    logUnusable = 73,  // the --log file cannot be opened: nothing was sent
    logLost = 74,      // every board completed, but a run's record could not be written
    interrupted = 130, // as a shell reports a death by SIGINT
    terminated = 143,  // and by SIGTERM
};

// The one map from a run's outcome to the exit status.
ExitStatus exitStatusOf(RunOutcome outcome);

// The run's end in the program's words: the message box it ends with; for the refusals, which
// the window leaves silent, a line in the same style naming `record` (0: the programming-mode
// command); for a front end's outcomes, English words that the failure's own may follow.
std::string outcomeWords(RunOutcome outcome, std::int32_t record);

// The outcome of a failure that left one of the upload logic's handlers: a damaged image line
// cannot be converted; every other failure of the framework's kind comes from the port.
RunOutcome failureOutcome(const std::exception& failure);

} // namespace upload
