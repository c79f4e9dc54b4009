#include "cli/torvin-upload/Options.h"

#include "cli/common/CommandLine.h"
#include "frontend/RunDevice.h"

#include <algorithm>

namespace torvinupload {

namespace {

const char* const description =
    R"(Writes the firmware image into a Torvin04/05 board through its Monitor, over a serial line, as the
updater's window does: opens the port (9600 baud, 8 data bits, no parity, one stop bit, no flow
control, DTR on, RTS off), sends the programming-mode command, then the image's records one by one,
re-sending on silence (one second, five sends at most) and on "[R]" (four at most). It ends when the
run ends, whatever the outcome, and says how in the window's words.

The board's answers carry no record number. Every answer counts, whichever copy of a record it
answers: a record is taken as accepted only once every copy sent is answered, or the line has been
quiet for the quiet time (two seconds, or three times the slowest answer so far when longer), and
the answers end in "[N]" with no "[L]" among them. Before the command it discards what waits, waits
until the answers an earlier run on the port may still be owed must have come (kept per device in
/run/lock for every user, under the port's name and its device number; on Windows in
%ProgramData%\torvin-updater\owed), and listens until the line has been quiet for two seconds.
Completion is reported only if the board accepted every record, as long as the board, while it
still has answers to give, is never silent longer than the quiet time of the run that sent them,
in this run and in runs one after another.)";

const char* const footer =
    R"(Progress goes to standard output: a bar when it is a terminal, plain lines otherwise. With several
ports, one bar per board on a terminal, otherwise plain lines that start with the port's name, and
a table of the outcomes at the end; failures follow the progress, each board's in one piece.

Exit status:
With several ports, 0 when every board completed, otherwise the status of the first board in the
order given that did not; 130 or 143 when the run was stopped.

  0    TRANSMISSÃO CONCLUIDA !! (the board acknowledged every record)
  1    an unexpected failure (message on standard error)
  2    PLACA NÃO RESPONDE ! (five sends of one item went unanswered)
  3    Monitor Versão Antiga !! or Monitor Versão Não Válida !! (the board's Monitor is too old
       or not valid)
  4    REGISTRO n RECUSADO PELA PLACA ! (the board refused one record four times), or
       COMANDO DE PROGRAMAÇÃO RECUSADO PELA PLACA ! (it refused the programming-mode command
       four times)
  5    port error (the port's message on standard error)
  6    TRANSMISSÃO NÃO CONFIRMADA ! REPITA A TRANSMISSÃO (the board's answers could not be
       matched to the records sent: an answer too soon to be its record's, or a line that never
       fell quiet; a record may be missing, run the upload again)
  64   bad usage
  65   the --image file is not a usable Intel HEX image (or not a regular file, or larger than
       4 MB)
  73   the --log file cannot be opened (nothing was sent)
  74   every board completed, but the --log file could not be written
  130  stopped by Ctrl-C (SIGINT) during the run: the port is closed, and the board may hold an
       incomplete firmware
  143  stopped by SIGTERM during the run, as for 130)";

#ifdef _WIN32
// On Windows a run is stopped from its console: what the user does there has the same statuses.
const char* const windowsStops =
    R"(  130  stopped by Ctrl-C or Ctrl-Break during the run: the port is closed, and the board may
       hold an incomplete firmware
  143  stopped by closing the console window during the run, as for 130)";
#endif

// The options, read into `o` (`image` and `log` hold --image and --log until they are known to be
// given).
void describe(CLI::App& app, Options& o, std::string& image, std::string& log) {
#ifdef _WIN32
    std::string text = footer;
    text.replace(text.find("  130  "), std::string::npos, windowsStops);
    toolcommon::setUpCommandLine(app, description, text, 18);
    const char* const portHelp =
        "the serial port, as Windows names it: COM1 to COM256 (com4 and \\\\.\\COM4 are\n"
        "COM4; Device Manager lists them under Ports (COM & LPT)) (default COM1).\n"
        "Give it once per board to flash several boards at once: each gets a run\n"
        "of its own, and one board's failure never stops the others";
    const char* const listHelp =
        "list the ports to choose from, as the updater's window does (COM1 to\n"
        "COM15, then each serial port Windows knows with its Device Manager name),\n"
        "marking the COM ports this computer does not have, and exit";
#else
    toolcommon::setUpCommandLine(app, description, footer, 18);
    const char* const portHelp =
        "the serial port: COMn is /dev/ttyS(n-1) (COM1 is /dev/ttyS0), or any device\n"
        "path such as /dev/ttyUSB0, ./ttyBoard or the path monitor-sim prints\n"
        "(default COM1). Give it once per board to flash several boards at once:\n"
        "each gets a run of its own, and one board's failure never stops the others";
    const char* const listHelp =
        "list the ports to choose from, as the updater's window does (COM1 to COM15,\n"
        "each with its device, marked when the computer does not have it, then each\n"
        "serial adapter with what the system knows of it), and exit";
#endif
    // Once per board: every --port adds one, in the order given.
    app.add_option("--port", o.ports, portHelp)
        ->type_name("NAME")
        ->expected(1)
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll)
        ->check(toolcommon::nonEmpty());
    app.add_option("--log", log,
                   "append one line of JSON per board and run to FILE (created if missing):\n"
                   "start time (UTC), port, device, adapter serial number, the image's SHA-256\n"
                   "and records, outcome, exit status, re-sends, refusals, duration, version.\n"
                   "A file that cannot be opened stops the program before any port is touched")
        ->type_name("FILE")
        ->check(toolcommon::nonEmpty());
    app.add_option("--image", image,
                   "send this Intel HEX image instead of the embedded one; every line is checked\n"
                   "first (data records 00, upper address records 04, an end-of-file record 01 "
                   "is\naccepted and not sent), and a bad file is refused before the port is "
                   "touched.\nA file without an end-of-file record is sent with a warning: it "
                   "may have been\ncut short")
        ->type_name("FILE")
        ->check(toolcommon::nonEmpty());
    app.add_flag("--quiet", o.quiet, "no progress display (the outcome is still printed)");
    app.add_flag("--trace", o.trace,
                 "every byte sent and received, with time stamps, on standard error");
    app.add_flag("--dump-image", o.dumpImage,
                 "write the embedded image to standard output as it is stored, and exit");
    app.add_flag("--list-ports", o.listPorts, listHelp);
}

} // namespace

std::string usageText() {
    CLI::App app("", "torvin-upload");
    Options o;
    std::string image, log;
    describe(app, o, image, log);
    return app.help();
}

ParsedOptions parseOptions(const std::vector<std::string>& arguments) {
    ParsedOptions result;
    Options& o = result.options;
    CLI::App app("", "torvin-upload");
    std::string image, log;
    describe(app, o, image, log);
    result.error = toolcommon::parseCommandLine(app, arguments, o.help, o.version);
    if (!result.error.empty() || o.help || o.version) return result;
    if (app.count("--image")) o.imageFile = image;
    if (app.count("--log")) o.logFile = log;
    // The same port twice would only fail to open the second time, the board half watched. Names
    // are compared as the system opens them: COM10, com10 and \\.\COM10 on Windows; COM1 and
    // /dev/ttyS0, or a link and its device, on Linux.
    for (auto p = o.ports.begin(); p != o.ports.end(); ++p) {
        const std::string device = upload::frontend::deviceFileOf(*p);
        const auto same = std::find_if(o.ports.begin(), p, [&device](const std::string& q) {
            return upload::frontend::deviceFileOf(q) == device;
        });
        if (same == p) continue;
        result.error = *same == *p ? "port " + *p + " given twice"
                                   : "ports " + *same + " and " + *p + " are the same port";
        return result;
    }
    if (o.ports.empty()) o.ports.push_back("COM1");
    if (o.dumpImage && o.imageFile)
        result.error = "--dump-image writes the embedded image; it cannot be given with --image";
    return result;
}

} // namespace torvinupload
