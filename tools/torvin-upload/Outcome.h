#pragma once

namespace torvinupload {

// How the program ends; the values are its exit statuses, one per outcome, so that a production
// script can tell them apart.
enum class ExitStatus : int {
    completed = 0,      // "TRANSMISSÃO CONCLUIDA !!"
    failed = 1,         // a failure that is none of the below (reported on standard error)
    noAnswer = 2,       // "PLACA NÃO RESPONDE !"
    monitorVersion = 3, // "Monitor Versão Antiga !!" or "Monitor Versão Não Válida !!"
    recordRejected = 4, // the board refused one record, or the command, four times
    portError = 5,      // the port could not be opened, read or written
    unconfirmed = 6,    // "TRANSMISSÃO NÃO CONFIRMADA ! REPITA A TRANSMISSÃO": the answers could
                        // not be matched to the records, one may be missing
    usage = 64,         // bad command line
    badImage = 65,      // the --image file is not a usable image
    logUnusable = 73,   // the --log file cannot be opened: nothing was sent
    logLost = 74,       // every board completed, but a run's record could not be written
    interrupted = 130,  // Ctrl-C (SIGINT) during the run, as a shell reports a death by it
    terminated = 143,   // SIGTERM during the run
};

} // namespace torvinupload
