#include "tools/torvin-upload/Options.h"

#include <set>

namespace torvinupload {

std::string usageText() {
    return R"usage(Usage: torvin-upload [OPTION]...
Writes the firmware image into a Torvin04/05 board through its Monitor, over a serial line, as the
updater's window does: opens the port (9600 baud, 8 data bits, no parity, one stop bit, no flow
control, DTR on, RTS off), sends the programming-mode command, then the image's records one by one,
re-sending on silence (one second, five sends at most) and on "[R]" (four at most). It ends when the
run ends, whatever the outcome, and says how in the window's words.

Options:
  --port NAME     the serial port: COMn is /dev/ttyS(n-1) (COM1 is /dev/ttyS0), or any device
                  path such as /dev/ttyUSB0, ./ttyBoard or the path monitor-sim prints
                  (default COM1)
  --image FILE    send this Intel HEX image instead of the embedded one; every line is checked
                  first (data records 00, upper address records 04, an end-of-file record 01 is
                  accepted and not sent), and a bad file is refused before the port is touched
  --quiet         no progress display (the outcome is still printed)
  --trace         every byte sent and received, with time stamps, on standard error
  --dump-image    write the embedded image to standard output as it is stored, and exit
  --help          show this text and exit

Progress goes to standard output: a bar when it is a terminal, plain lines otherwise.

Exit status:
  0   TRANSMISSÃO CONCLUIDA !!       the board acknowledged every record
  1   an unexpected failure (message on standard error)
  2   PLACA NÃO RESPONDE !           five sends of one item went unanswered
  3   Monitor Versão Antiga !! / Monitor Versão Não Válida !!
                                     the board's Monitor is too old or not valid
  4   REGISTRO n RECUSADO PELA PLACA !
                                     the board refused one record four times
      COMANDO DE PROGRAMAÇÃO RECUSADO PELA PLACA !
                                     the board refused the programming-mode command four
                                     times
  5   port error (the port's message on standard error)
  64  bad usage
  65  the --image file is not a usable Intel HEX image (or not a regular file, or larger
      than 4 MB)
  130 / 143  stopped by Ctrl-C / SIGTERM during the run: the port is closed, and the board may
      hold an incomplete firmware
)usage";
}

ParsedOptions parseOptions(const std::vector<std::string>& arguments) {
    ParsedOptions result;
    Options& o = result.options;
    std::set<std::string> seen;

    for (std::size_t i = 0; i < arguments.size(); ++i) {
        std::string name = arguments[i];
        std::optional<std::string> inlineValue;
        if (const auto eq = name.find('='); name.starts_with("--") && eq != std::string::npos) {
            inlineValue = name.substr(eq + 1);
            name.resize(eq);
        }
        if (!name.starts_with("--")) {
            result.error = "unexpected argument '" + arguments[i] + "'";
            return result;
        }
        if (!seen.insert(name).second) {
            result.error = "option " + name + " given twice";
            return result;
        }
        const bool takesValue = name == "--port" || name == "--image";
        if (!takesValue && inlineValue) {
            result.error = "option " + name + " takes no value";
            return result;
        }
        std::string value;
        if (takesValue) {
            if (inlineValue) {
                value = *inlineValue;
            } else if (i + 1 < arguments.size()) {
                value = arguments[++i];
            } else {
                result.error = "option " + name + " needs a value";
                return result;
            }
            // An empty name would fall back to COM1 and an empty path names nothing: in a
            // script both mean an unset variable, not a choice.
            if (value.empty()) {
                result.error = "option " + name + " needs a non-empty value";
                return result;
            }
        }

        if (name == "--port") {
            o.port = value;
        } else if (name == "--image") {
            o.imageFile = value;
        } else if (name == "--quiet") {
            o.quiet = true;
        } else if (name == "--trace") {
            o.trace = true;
        } else if (name == "--dump-image") {
            o.dumpImage = true;
        } else if (name == "--help") {
            o.help = true;
        } else {
            result.error = "unknown option " + name;
            return result;
        }
    }
    if (o.dumpImage && o.imageFile) {
        result.error = "--dump-image writes the embedded image; it cannot be given with --image";
        return result;
    }
    return result;
}

} // namespace torvinupload
